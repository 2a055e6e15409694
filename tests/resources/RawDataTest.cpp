#include "resources/RawData.h"

#include "core/filesystem/MemoryFileSystem.h"
#include "tests/resources/ResourceTestSupport.h"

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ResourceDiskTest;

std::string Bytes(const RawData& data) {
    return std::string(reinterpret_cast<const char*>(data.GetData()), data.GetDataSize());
}

// A disk whose files claim far more bytes than they hold, as a damaged archive entry might.
class LyingDisk : public DiskFileSystem {
public:
    std::unique_ptr<File> Open(const char* path, uint32_t flags) override {
        std::unique_ptr<File> file = DiskFileSystem::Open(path, flags);
        return file ? std::make_unique<Liar>(std::move(file)) : nullptr;
    }

private:
    class Liar : public File {
    public:
        explicit Liar(std::unique_ptr<File> inner) : inner_(std::move(inner)) {}
        int ReadByte() override { return inner_->ReadByte(); }
        void UnreadByte() override { inner_->UnreadByte(); }
        uint32_t Read(void* buffer, uint32_t count) override { return inner_->Read(buffer, count); }
        uint32_t GetSize() override { return 0xFFFFFF00u; }
        bool Seek(uint32_t position) override { return inner_->Seek(position); }
        uint32_t Tell() override { return inner_->Tell(); }
        bool IsEof() override { return inner_->IsEof(); }

    private:
        std::unique_ptr<File> inner_;
    };
};

using RawDataFormats = ResourceDiskTest;

TEST_F(RawDataFormats, TextGetsAZeroByteAfterItsBytesRawBytesAreKeptAndOtherFilesReadNothing) {
    temp_.WriteFile("e.xml", "");
    RawData* empty = GetRawData("e.xml", nullptr);
    EXPECT_EQ(empty->GetDataSize(), 0u);
    ASSERT_NE(empty->GetData(), nullptr);
    EXPECT_EQ(empty->GetData()[0], 0);
    empty->Release();
    const std::string bytes("\x00\x01\xFF\x00z", 5);
    temp_.WriteFile("b.raw", bytes);
    temp_.WriteFile("i.png", "not read");
    RawData* raw = GetRawData("b.raw", nullptr);
    EXPECT_EQ(Bytes(*raw), bytes);
    RawData* other = GetRawData("i.png", nullptr);
    EXPECT_EQ(other->GetDataSize(), 0u);
    EXPECT_EQ(other->GetData(), nullptr);
    raw->Release();
    other->Release();
}

// A full-size grid as a sparse file: only the samples that are checked hold values.
TEST_F(RawDataFormats, FloatGridIsSampledDownToThirtyTwoSquare) {
    const std::string path = temp_.WriteFile("h.flt", "");
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        auto put = [&](uint64_t index, float value) {
            file.seekp(static_cast<std::streamoff>(index * 4));
            file.write(reinterpret_cast<const char*>(&value), 4);
        };
        put(0, 1.5f);
        put(225ull * 7201 + 450, 2.5f);   // row trunc(225.03125), column 2 x 225
        put(6975ull * 7201 + 6975, 3.5f); // the last sample
        put(7201ull * 7201 - 1, 0.0f);    // makes the file full size
    }
    RawData* grid = GetRawData("h.flt", nullptr);
    ASSERT_EQ(grid->GetDataSize(), RawData::SampledGridSize);
    uint32_t header[2];
    float samples[32 * 32];
    std::memcpy(header, grid->GetData(), sizeof header);
    std::memcpy(samples, grid->GetData() + 8, sizeof samples);
    EXPECT_EQ((std::vector<uint32_t>{header[0], header[1]}), (std::vector<uint32_t>{32, 32}));
    EXPECT_EQ(
        (std::vector<float>{samples[0], samples[1 * 32 + 2], samples[31 * 32 + 31], samples[5]}),
        (std::vector<float>{1.5f, 2.5f, 3.5f, 0.0f}));
    grid->Release();
    // A grid too short is refused with a reason.
    temp_.WriteFile("short.flt", std::string(4104, '\x01'));
    grid = GetRawData("short.flt", nullptr);
    EXPECT_EQ(grid->GetDataSize(), 0u);
    EXPECT_EQ(grid->GetState(), ResourceFailed);
    EXPECT_TRUE(log_.Contains("too few for a 7201 x 7201 float grid"));
    grid->Release();
}

TEST_F(RawDataFormats, ScrambledDataRoundTripsThroughTheDiskAndWriteFlagsFollowTheOption) {
    RawData* data = GetRawData("s.raw", "scramble");
    data->Allocate(4);
    std::memcpy(data->GetData(), "AB\0C", 4);
    data->SaveToFile("s.raw");
    data->Load();
    EXPECT_EQ(Bytes(*data), std::string("AB\0C", 4));
    data->Release();
    MemoryFileSystem files;
    SetFileSystem(&files);
    RawData scrambled("", "scramble");
    scrambled.Allocate(2);
    scrambled.SaveToFile("out.txt");
    EXPECT_EQ(files.LastWriteFlags(), uint32_t{WriteScrambled});
    RawData plain(3);
    plain.SaveToFile("out.raw");
    EXPECT_EQ(files.LastWriteFlags(), 1u);
    SetFileSystem(&files_);
}

// Sizes a file claims decide no allocation: what arrives does.
class RawDataLyingFiles : public ResourceDiskTest {
protected:
    void SetUp() override {
        ResourceDiskTest::SetUp();
        liar_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&liar_);
    }
    LyingDisk liar_;
};

TEST_F(RawDataLyingFiles, TextIsSizedByTheBytesThatArriveAndAGridThatEndsEarlyIsRefused) {
    temp_.WriteFile("l.txt", "short");
    RawData* text = GetRawData("l.txt", nullptr);
    EXPECT_EQ(text->GetDataSize(), 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(text->GetData()), "short");
    text->Release();
    temp_.WriteFile("l.flt", std::string(64, '\0'));
    RawData* grid = GetRawData("l.flt", nullptr);
    EXPECT_EQ(grid->GetDataSize(), 0u);
    EXPECT_EQ(grid->GetState(), ResourceFailed);
    EXPECT_TRUE(log_.Contains("ends before its float grid"));
    grid->Release();
}

} // namespace
} // namespace quarn
