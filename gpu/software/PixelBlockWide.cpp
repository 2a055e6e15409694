// The pixel block on AVX2's eight lanes. This source is compiled for AVX2; it runs only where
// the processor has it (WideLanes).

#include "gpu/software/Avx2Lanes.h"
#include "gpu/software/PixelBlockLoop.h"

namespace quarn {

uint64_t ShadePixelBlockEight(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                              uint32_t width, float* file) {
    return PixelBlock<Avx2Lanes>(setup, rows, x0, width, file).Run();
}

} // namespace quarn
