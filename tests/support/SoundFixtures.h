#pragma once

#include "TestPaths.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace quarn::test {

// The bytes of tests/data/sounds/<name> (made by tests/data/make_sounds.py).
inline std::string ReadSoundFixture(const std::string& name) {
    std::string path = QUARN_TEST_DATA "/sounds/";
    path += name;
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Pieces of WAV files that no outside tool writes.
inline std::string LittleEndian(uint32_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) {
        text.push_back(static_cast<char>(value >> (8 * i)));
    }
    return text;
}

inline std::string WavChunk(const char* id, const std::string& content) {
    return std::string(id, 4) + LittleEndian(uint32_t(content.size()), 4) + content;
}

inline std::string WavFormat(uint32_t tag, uint32_t channels, uint32_t rate, uint32_t align,
                             uint32_t bits) {
    return WavChunk("fmt ", LittleEndian(tag, 2) + LittleEndian(channels, 2) +
                                LittleEndian(rate, 4) + LittleEndian(rate * align, 4) +
                                LittleEndian(align, 2) + LittleEndian(bits, 2));
}

inline std::string WavFile(const std::string& chunks) {
    return "RIFF" + LittleEndian(uint32_t(chunks.size() + 4), 4) + "WAVE" + chunks;
}

// How often one channel of interleaved samples crosses zero upwards: a clean tone's frequency
// times its duration.
template <class Sample>
int CountRisingCrossings(const Sample* samples, size_t frames, size_t channels, size_t channel) {
    int crossings = 0;
    for (size_t i = 1; i < frames; ++i) {
        crossings +=
            samples[(i - 1) * channels + channel] < 0 && samples[i * channels + channel] >= 0;
    }
    return crossings;
}

} // namespace quarn::test
