// Id paths and global ids as scene files write them: whatever parses formats to a text that
// parses to the same path.
#include "core/object/IdPath.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const char* end = nullptr;
    quarn::Guid::FromHex(text.c_str(), &end);
    if (end < text.c_str() || end > text.c_str() + text.size()) {
        std::abort();
    }

    quarn::IdPath path;
    if (!path.Parse(text.c_str())) {
        if (path.count != 0) {
            std::abort();
        }
        return 0;
    }
    path.ToId();
    const std::string formatted = path.Format();
    quarn::IdPath again;
    if (!again.Parse(formatted.c_str()) || again.count != path.count || again.port != path.port ||
        !(again.guid == path.guid) || std::memcmp(again.ids, path.ids, sizeof path.ids) != 0) {
        std::abort();
    }
    return 0;
}
