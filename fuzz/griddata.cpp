// Grid data files: what loads saves again, and loading that gives back the same bytes.
#include "script/nodes/GridData.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Saved(const quarn::GridData& grid) {
    std::vector<uint8_t> bytes;
    std::string reason;
    // A grid the file held always fits the file.
    if (!grid.WriteBytes(bytes, reason)) {
        std::abort();
    }
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quarn::ClassInfo* classInfo = quarn::GridData::RegisterClass();
    (void)classInfo;
    quarn::GridData grid;
    std::string reason;
    if (!grid.ReadBytes(std::span<const uint8_t>(data, size), reason)) {
        return 0;
    }
    for (int32_t object = -1; object <= grid.GetCapacity() + 1 && object < 64; ++object) {
        grid.GetObjectPosition(object);
        grid.GetIntField(object, object % 9);
    }
    const std::vector<uint8_t> first = Saved(grid);
    quarn::GridData again;
    if (!again.ReadBytes(first, reason) || Saved(again) != first) {
        std::abort();
    }
    return 0;
}
