#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

// How the compressor codes its data. The image encoder uses the defaults; the others exist for
// tests and for callers that trade size for speed.
struct DeflateSettings {
    uint32_t blockType = 2;     // 0 stored, 1 fixed codes, 2 dynamic codes
    bool useLz77 = true;        // false: every byte is a literal
    uint32_t windowSize = 2048; // bytes a back-reference may reach, at most 32768
};

// Error words shared with the image encoder.
enum DeflateError : uint32_t {
    DeflateWindowTooLarge = 60, // window above 32768
    DeflateBadBlockType = 61,   // block type above 2
};

// 0, or the DeflateError the settings would give.
uint32_t CheckDeflateSettings(const DeflateSettings& settings);

// Compresses data that arrives in pieces, appending to `out` as it goes: its state is bounded by
// the window, not by the data (the last 32 KB of input, a head per hash value and a link per
// window position, and the tokens of one block), so a caller can stream any amount through it.
class Deflater {
public:
    explicit Deflater(std::vector<uint8_t>& out);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // Starts a raw deflate stream, or a zlib stream (header now, checksum at Finish). Returns 0
    // or a DeflateError; on an error nothing is appended and the other calls do nothing.
    uint32_t Begin(const DeflateSettings& settings, bool zlib);
    void Write(const uint8_t* data, size_t size);
    // Ends the stream: the last block, then the checksum of a zlib stream.
    void Finish();
    // Bytes of state held besides the output; the same for any amount of data.
    size_t GetStateBytes() const;

private:
    struct State;
    std::vector<uint8_t>& out_;
    std::unique_ptr<State> state_;
};

// Appends a zlib stream (header, deflate data, checksum) of `data` to `out`. Returns 0 or a
// DeflateError; on an error nothing is appended.
uint32_t ZlibCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                      const DeflateSettings& settings);

// Appends the raw deflate data of `data` to `out`, with the same errors.
uint32_t DeflateCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                         const DeflateSettings& settings);

// Code lengths for the given symbol frequencies, each at most `maxBits` long, minimising the
// coded size. Unused symbols get 0; a lone used symbol gets 1 so that it still has a code.
std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies, uint32_t maxBits);

} // namespace quarn
