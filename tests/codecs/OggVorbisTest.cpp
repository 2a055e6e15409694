#include "codecs/OggVorbis.h"

#include "tests/support/SoundFixtures.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

OggSound Decode(const std::string& bytes, int& result, uint32_t maxSampleBytes = 1u << 24) {
    OggSound sound;
    result = DecodeOggVorbis(reinterpret_cast<const uint8_t*>(bytes.data()),
                             static_cast<uint32_t>(bytes.size()), maxSampleBytes, sound);
    return sound;
}

// The fixture is half a second of a 441 Hz sine at half of full scale (16384); a lossy encoding
// keeps its pitch exactly and its level within a few percent.
TEST(OggVorbis, SineFixtureDecodesToItsFrequencyAndAmplitude) {
    int result = -2;
    const OggSound sound = Decode(test::ReadSoundFixture("sine441.ogg"), result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(sound.channels, 1u);
    EXPECT_EQ(sound.sampleRate, 22050u);
    EXPECT_EQ(sound.frameCount, 11025u);
    ASSERT_EQ(sound.samples.size(), 11025u);
    EXPECT_NEAR(test::CountRisingCrossings(sound.samples.data(), 11025, 1, 0), 220, 1);
    double sum = 0.0;
    for (int16_t sample : sound.samples) {
        sum += double(sample) * sample;
    }
    EXPECT_NEAR(std::sqrt(sum / 11025.0), 16384.0 / std::sqrt(2.0), 16384.0 * 0.03);
}

// The stream up to its first page of sound: pages of the headers have granule position 0.
std::string HeadersOnly(const std::string& stream) {
    for (size_t page = stream.find("OggS"); page != std::string::npos;
         page = stream.find("OggS", page + 4)) {
        if (stream.compare(page + 6, 8, std::string(8, '\0')) != 0) {
            return stream.substr(0, page);
        }
    }
    return stream;
}

// The stream with the length of its comment header's vendor text set to 2^32 - 1.
std::string WithEndlessVendor(std::string stream) {
    const size_t page = stream.find("OggS", 4);
    const size_t at = page + 27 + uint8_t(stream[page + 26]) + 7; // past the type and "vorbis"
    return stream.replace(at, 4, "\xFF\xFF\xFF\xFF");
}

TEST(OggVorbis, BrokenStreamsGiveAnErrorAndNoSamples) {
    const std::string good = test::ReadSoundFixture("sine441.ogg");
    const struct {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"not ogg", std::string(4000, 'x')},
        {"cut in its headers", good.substr(0, 100)},
        {"a vendor text past its header", WithEndlessVendor(good)},
    };
    for (const auto& c : cases) {
        int result = 0;
        const OggSound sound = Decode(c.bytes, result);
        EXPECT_NE(result, 0) << c.name;
        EXPECT_TRUE(sound.samples.empty()) << c.name;
        EXPECT_EQ(sound.frameCount, 0u) << c.name;
    }
    // The decoder opens a stream of headers alone; that it gives nothing is an error too.
    int result = 0;
    EXPECT_TRUE(Decode(HeadersOnly(good), result).samples.empty());
    EXPECT_EQ(result, OggNoSamples);
}

// An Ogg page of the stream `serial` holding 255 audio packets of one zero byte each: mode 0 with
// its floor unused, so each decodes to a block of silence.
std::string SilentPage(const std::string& serial, uint32_t sequence) {
    std::string page = "OggS";
    page += std::string(1, '\0') + std::string(1, '\0') + std::string(8, '\xFF') + serial;
    page += test::LittleEndian(sequence, 4) + std::string(4, '\0') + std::string(1, '\xFF');
    page += std::string(255, '\1') + std::string(255, '\0');
    uint32_t crc = 0;
    for (unsigned char byte : page) {
        crc ^= uint32_t(byte) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = crc & 0x80000000u ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
    }
    return page.replace(22, 4, test::LittleEndian(crc, 4));
}

TEST(OggVorbis, DecodingStopsWhenTheSamplesPassTheirLimit) {
    const std::string good = test::ReadSoundFixture("sine441.ogg");
    std::string silent = HeadersOnly(good);
    const std::string serial = good.substr(14, 4);
    for (uint32_t page = 0; page < 16; ++page) {
        silent += SilentPage(serial, 3 + page);
    }
    // The sine's 11,025 mono samples take 22,050 bytes.
    const struct {
        const std::string* stream;
        uint32_t limit;
        int result;
    } cases[] = {
        {&good, 22050, 0},
        {&good, 22049, OggTooLong},
        {&silent, 1u << 16, OggTooLong},
    };
    for (const auto& c : cases) {
        int result = 1;
        const OggSound sound = Decode(*c.stream, result, c.limit);
        EXPECT_EQ(result, c.result) << c.limit;
        EXPECT_EQ(sound.samples.size(), result == 0 ? 11025u : 0u) << c.limit;
    }
    // Unbounded, 9 KB of silent packets decode to half a megabyte and more.
    int result = 1;
    EXPECT_GT(Decode(silent, result).samples.size(), 250000u);
}

} // namespace
} // namespace quarn
