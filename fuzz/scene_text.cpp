// Scene and branch files in the readable form, through the loader.
#include "fuzz/SceneFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::fuzz::LoadScene(data, size, 0);
    return 0;
}
