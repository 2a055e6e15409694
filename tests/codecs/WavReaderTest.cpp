#include "codecs/WavReader.h"

#include "core/io/BufferFile.h"
#include "tests/support/SoundFixtures.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

using namespace std::string_literals;

int Parse(const std::string& bytes, WavData& out) {
    BufferFile file(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return ParseWav(file, out);
}

using test::LittleEndian;
using test::WavChunk;
using test::WavFile;

std::string Format(uint32_t tag, uint32_t channels, uint32_t align, uint32_t bits) {
    return test::WavFormat(tag, channels, 8000, align, bits);
}

TEST(WavReader, FixturesWrittenByPythonDecodeToTheirExactSamples) {
    WavData mono;
    ASSERT_EQ(Parse(test::ReadSoundFixture("pcm8_mono.wav"), mono), WavOk);
    EXPECT_EQ(mono.frameCount, 100u);
    EXPECT_EQ(mono.sampleRate, 22050u);
    for (uint32_t i = 0; i < 100; ++i) {
        ASSERT_EQ(mono.samples.at(i), (i * 37 + 5) % 256) << i;
    }
    WavData stereo;
    ASSERT_EQ(Parse(test::ReadSoundFixture("pcm16_stereo.wav"), stereo), WavOk);
    EXPECT_EQ(stereo.frameCount, 50u);
    EXPECT_EQ(stereo.channels * stereo.bytesPerSample, 4u);
    EXPECT_EQ(stereo.sampleRate, 11025u);
    ASSERT_EQ(stereo.samples.size(), 200u);
    for (int i = 0; i < 50; ++i) {
        int16_t frame[2];
        std::memcpy(frame, &stereo.samples[size_t(i) * 4], 4);
        ASSERT_EQ(frame[0], i * 1000 - 25000) << i;
        ASSERT_EQ(frame[1], 30000 - i * 700) << i;
    }
}

TEST(WavReader, AnswersEachKindOfFileWithItsResult) {
    const std::string mono16 = Format(1, 1, 2, 16);
    const std::string data = WavChunk("data", "abcd");
    const struct {
        const char* name;
        std::string bytes;
        int result;
        uint32_t frames;
    } cases[] = {
        {"plain", WavFile(mono16 + data), WavOk, 2},
        {"a list chunk first", WavFile(WavChunk("LIST", "INFOxyzw") + mono16 + data), WavOk, 2},
        {"an odd chunk and its pad byte", WavFile(WavChunk("junk", "abc") + "\0"s + mono16 + data),
         WavOk, 2},
        {"a longer fmt chunk", WavFile(WavChunk("fmt ", mono16.substr(8) + "xx") + data), WavOk, 2},
        {"a partial last frame", WavFile(mono16 + WavChunk("data", "abcde") + "\0"s), WavOk, 2},
        {"24 bits, for the caller to judge",
         WavFile(Format(1, 1, 3, 24) + WavChunk("data", "abcdef")), WavOk, 2},
        {"not riff", "RIFX" + WavFile(mono16 + data).substr(4), WavNotRiff, 0},
        {"12 bits", WavFile(Format(1, 1, 2, 12) + data), WavBadFormat, 0},
        {"0 bits", WavFile(Format(1, 1, 0, 0) + data), WavBadFormat, 0},
        {"0 channels", WavFile(Format(1, 0, 2, 16) + data), WavBadFormat, 0},
        {"block align short of a frame", WavFile(Format(1, 2, 2, 16) + data), WavBadFormat, 0},
        {"block align 0", WavFile(Format(1, 1, 0, 16) + data), WavBadFormat, 0},
        {"a short fmt chunk", WavFile(WavChunk("fmt ", mono16.substr(8, 14)) + data), WavBadFormat,
         0},
        {"data without fmt", WavFile(data), WavBadFormat, 0},
        {"float samples", WavFile(Format(3, 1, 4, 32) + data), WavNotPcm, 0},
        {"extensible format", WavFile(Format(0xFFFE, 1, 2, 16) + data), WavNotPcm, 0},
        {"no chunk", WavFile(""), WavBadData, 0},
        {"no data", WavFile(mono16), WavBadData, 0},
        {"empty data", WavFile(mono16 + WavChunk("data", "")), WavBadData, 0},
        {"data past the end", WavFile(mono16 + "data" + LittleEndian(0x7FFFFFF0, 4) + "abcd"),
         WavBadData, 0},
        {"less than a frame", WavFile(mono16 + WavChunk("data", "a") + "\0"s), WavBadData, 0},
    };
    for (const auto& c : cases) {
        WavData wav;
        EXPECT_EQ(Parse(c.bytes, wav), c.result) << c.name;
        if (c.result == WavOk) {
            EXPECT_EQ(wav.frameCount, c.frames) << c.name;
        }
    }
}

} // namespace
} // namespace quarn
