// Replies to the Network node's GET: whatever a server sends, in whatever pieces, the reader
// ends; a body it accepts is never longer than the reply nor than the body limit, and a reply
// it refuses leaves no body and says why.
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
    std::string body;
    if (reader.ReadStatus() && reader.ReadBody(body)) {
        if (body.size() > length || body.size() > quarn::HttpReplyReader::MaxBodyLength ||
            !reader.Failure().empty()) {
            std::abort();
        }
    } else if (!body.empty() || reader.Failure().empty()) {
        std::abort();
    }
    return 0;
}
