// Meshes in their own text form, through the mesh resource.
#include "fuzz/MeshFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::fuzz::LoadMesh("fuzz.mesh", data, size);
    return 0;
}
