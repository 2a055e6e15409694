// The textured span loop on AVX2's eight lanes. This source alone is compiled for AVX2; it runs
// only where the processor has it (WideLanes).

#include "gpu/software/Avx2Lanes.h"
#include "gpu/software/TexturedSpanLoop.h"

namespace quarn {

void ShadeTexturedSpanWide(const TexturedSpanSetup& setup, const TexturedSpan& span) {
    ShadeSpanWith<Avx2Lanes>(setup, span);
}

} // namespace quarn
