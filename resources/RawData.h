#pragma once

#include "resources/Resource.h"

#include <cstdint>
#include <vector>

namespace quarn {

class ClassInfo;
class File;

// A file held as plain bytes: "txt" and "xml" with a terminating zero byte after the text,
// "raw" as it is, and "flt" height grids (7201 x 7201 float32) sampled down to a 32 x 32 table:
// two uint32 words 32, 32, then 1024 floats row by row. The option "scramble" stores the file
// through the file system's scrambling pass.
class RawData : public Resource {
public:
    static constexpr uint32_t GridSide = 7201;
    static constexpr uint32_t SampleSide = 32;
    static constexpr uint32_t SampledGridSize = 8 + SampleSide * SampleSide * 4;

    // Loads when the path is not empty.
    RawData(const char* path, const char* options);
    // An unnamed buffer of n bytes (zeroed).
    explicit RawData(uint32_t size);

    static Entity* Create();

    bool Load() override;
    void Unload() override;
    void SaveToFile(const char* path) override;
    uint32_t GetDataSize() const override { return size_; }
    ClassInfo* GetClass() const override { return classInfo ? classInfo : Resource::GetClass(); }

    // Replaces the buffer by n zeroed bytes.
    void Allocate(uint32_t size);
    // Null when nothing is loaded. Text files have a zero byte at GetDataSize().
    uint8_t* GetData() { return buffer_.empty() ? nullptr : buffer_.data(); }
    const uint8_t* GetData() const { return buffer_.empty() ? nullptr : buffer_.data(); }
    bool IsScrambled() const { return scrambled_; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    bool LoadSampledGrid(File& file);

    std::vector<uint8_t> buffer_;
    uint32_t size_ = 0;
    bool scrambled_ = false;
};

// Acquires raw data by path and options (see AcquireResource).
RawData* GetRawData(const char* path, const char* options);

} // namespace quarn
