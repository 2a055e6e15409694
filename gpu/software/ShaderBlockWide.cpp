// The block runner on AVX2's eight lanes. This source is compiled for AVX2; it runs only where
// the processor has it (WideLanes).

#include "gpu/software/Avx2Lanes.h"
#include "gpu/software/ShaderBlockLoop.h"

namespace quarn {

void RunShaderBlockEight(ShaderBlockRun& run) {
    BlockRunner<Avx2Lanes>(run).Run();
}

} // namespace quarn
