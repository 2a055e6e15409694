#include "gpu/software/PixelBlock.h"

#include "gpu/software/PixelBlockLoop.h"
#include "gpu/software/Sse2Lanes.h"
#include "gpu/software/WideLanes.h"

namespace quarn {

uint64_t ShadePixelBlockFour(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                             uint32_t width, float* file) {
    return PixelBlock<Sse2Lanes>(setup, rows, x0, width, file).Run();
}

uint64_t ShadePixelBlock(const PixelBlockSetup& setup, const QuadRows& rows, int32_t x0,
                         uint32_t width, float* file) {
    return WideLanes() ? ShadePixelBlockEight(setup, rows, x0, width, file)
                       : ShadePixelBlockFour(setup, rows, x0, width, file);
}

} // namespace quarn
