#include "audio/SoundCaptureBuffer.h"

#include "audio/OpenAlAudioSystem.h"
#include "tests/support/LoopbackAudio.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(CapturedFrames, PackLittleEndianIntoOneWordEach) {
    const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF9};
    const struct {
        uint32_t width;
        std::vector<uint32_t> words;
    } cases[] = {
        {1, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xF9}},
        {2, {0x0201, 0x0403, 0x0605, 0x0807}}, // the odd byte is no frame
        {3, {0x030201, 0x060504, 0xF90807}},
        {4, {0x04030201, 0x08070605}},
        {0, {}},
        {5, {}},
    };
    for (const auto& c : cases) {
        std::vector<uint32_t> words{0xDEAD};
        PackCapturedFrames(bytes, sizeof bytes, c.width, words);
        words.erase(words.begin());
        EXPECT_EQ(words, c.words) << c.width << " bytes a frame";
    }
}

// Neither the loopback device nor a machine without sound can record; what a script reaches must
// still answer safely.
TEST(CaptureBuffer, RefusesOddFormatsAndAnswersNothingWithoutAnInput) {
    test::UseNoAudioBackEnd();
    OpenAlAudioSystem audio;
    SoundCaptureBuffer* capture = audio.CreateCaptureBuffer();
    const uint32_t formats[][3] = {{12, 1, 1000}, {24, 2, 1000}, {16, 0, 1000},
                                   {8, 3, 1000},  {16, 1, 0},    {16, 1, 1000}};
    for (const auto& format : formats) {
        EXPECT_FALSE(capture->Create(0, format[2], format[0], 22050, format[1]));
    }
    capture->Start(false);
    EXPECT_EQ(capture->Update(), 0u);
    EXPECT_EQ(capture->GetSampleCount(), 0u);
    EXPECT_EQ(capture->GetCapturedSample(0), 0u);
    EXPECT_EQ(capture->GetCapturedSample(0xFFFFFFFF), 0u);
    EXPECT_EQ(capture->GetPosition(), 0u);
    capture->Stop();
    EXPECT_TRUE(capture->Destroy());
}

} // namespace
} // namespace quarn
