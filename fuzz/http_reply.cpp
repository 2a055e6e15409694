// Replies to the Network node's GET: whatever a server sends, in whatever pieces, the reader
// ends, and the body is never longer than the reply nor than the body limit.
#include "script/nodes/HttpReplyReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte sets the piece size, so replies arrive cut at every place.
    const size_t piece = data[0] % 16 + 1;
    const char* reply = reinterpret_cast<const char*>(data + 1);
    const size_t length = size - 1;
    size_t given = 0;
    quarn::HttpReplyReader reader([&](char* buffer, size_t room) -> long {
        const size_t count = std::min({room, piece, length - given});
        std::memcpy(buffer, reply + given, count);
        given += count;
        return static_cast<long>(count);
    });
    if (reader.ReadStatus()) {
        const std::string body = reader.ReadBody();
        if (body.size() > length || body.size() > quarn::HttpReplyReader::MaxBodyLength) {
            std::abort();
        }
    }
    return 0;
}
