// Scene and branch files in the packed form, through the loader.
#include "fuzz/SceneFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::fuzz::LoadScene(data, size, quarn::SceneCompact);
    return 0;
}
