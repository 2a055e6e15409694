// Raw deflate and zlib streams, checked against zlib: whatever zlib decodes completely into the
// same room, the engine's decompressor must decode to the same bytes.
//
// Input: one mode byte (bit 0: zlib stream; bit 1: ignore the checksum), two bytes of output
// room in units of 64 bytes (little-endian), then the stream.
#include "codecs/Inflate.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

namespace {

// True when zlib reaches the end of the stream within `capacity` bytes of output.
bool ZlibReference(const uint8_t* input, size_t size, bool wrapped, std::vector<uint8_t>& out) {
    z_stream stream{};
    if (inflateInit2(&stream, wrapped ? 15 : -15) != Z_OK) {
        return false;
    }
    stream.next_in = const_cast<Bytef*>(input);
    stream.avail_in = static_cast<uInt>(size);
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = inflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) {
        return 0;
    }
    const bool wrapped = (data[0] & 1) != 0;
    const bool ignoreChecksum = (data[0] & 2) != 0;
    const size_t capacity = (size_t(data[1]) | size_t(data[2]) << 8) * 64;
    const uint8_t* stream = data + 3;
    const size_t streamSize = size - 3;

    // The exact room, so a write one past it is caught.
    std::vector<uint8_t> out(capacity);
    size_t written = 0;
    const uint32_t error = wrapped
                               ? quarn::ZlibDecompress(stream, streamSize, out.data(), capacity,
                                                       written, ignoreChecksum)
                               : quarn::Inflate(stream, streamSize, out.data(), capacity, written);
    if (written > capacity) {
        std::abort();
    }

    if (wrapped && ignoreChecksum) {
        return 0; // zlib always checks
    }
    std::vector<uint8_t> reference(capacity);
    if (ZlibReference(stream, streamSize, wrapped, reference)) {
        if (error != quarn::InflateOk || written != reference.size() ||
            (written != 0 && std::memcmp(out.data(), reference.data(), written) != 0)) {
            std::abort();
        }
    }
    return 0;
}
