#pragma once

#include "TestPaths.h"
#include "tests/support/TempFolder.h"

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

// A game whose start scene plays a 0.2 s sound (4410 frames of a mono 22050 Hz square wave: a
// whole number of frames at steps of 1/60, 1/1000 and 1/20 s) and runs the test data's
// "sounding" script on it, which prints "played for N frames", N the frames that found the sound
// playing from the one that played it on, and then ends the player.
inline void WriteSoundingGame(const TempFolder& folder) {
    for (const char* extension : {".bin", ".sym"}) {
        std::ifstream program(std::string(QUARN_TEST_DATA "/scripts/sounding") + extension,
                              std::ios::binary);
        folder.WriteFile(std::string("sounding") + extension,
                         std::string(std::istreambuf_iterator<char>(program), {}));
    }
    std::string samples;
    for (uint32_t frame = 0; frame < 4410; ++frame) {
        samples += LittleEndian(frame / 20 % 2 ? 8000 : uint16_t(-8000), 2);
    }
    folder.WriteFile("beep.wav",
                     WavFile(WavFormat(1, 1, 22050, 2, 16) + WavChunk("data", samples)));
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"SoundEmitter\"\n\tparent = 1\n\tsoundflags = 0\n"
                     "\tsoundfile = \"beep.wav\"\n}\n"
                     "obj3 {\n\tclass = \"Script\"\n\tparent = 1\n\tprev = 2\n"
                     "\tscriptfile = \"sounding.script\"\n\tsound = 2\n}\n");
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
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
