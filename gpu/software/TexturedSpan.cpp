#include "gpu/software/TexturedSpan.h"

#include "gpu/software/Sse2Lanes.h"
#include "gpu/software/TexturedSpanLoop.h"

namespace quarn {

void ShadeTexturedSpan(const TexturedSpanSetup& setup, const TexturedSpan& span) {
    if (setup.wide) {
        ShadeTexturedSpanWide(setup, span);
    } else {
        ShadeSpanWith<Sse2Lanes>(setup, span);
    }
}

} // namespace quarn
