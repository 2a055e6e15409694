#include "resources/RawData.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/OutputStream.h"
#include "core/object/ClassInfo.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <algorithm>

namespace quarn {

ClassInfo* RawData::classInfo = nullptr;

namespace {

// Moves forward to `position`. Seeking a scrambled file restarts its pass from the beginning,
// so there the bytes are read and dropped instead.
bool SkipTo(File& file, uint32_t position, bool scrambled) {
    if (!scrambled) {
        return file.Seek(position);
    }
    uint8_t chunk[65536];
    while (file.Tell() < position) {
        const uint32_t want = std::min<uint32_t>(position - file.Tell(), sizeof chunk);
        if (file.Read(chunk, want) != want) {
            return false;
        }
    }
    return file.Tell() == position;
}

void PutWord(uint8_t* out, uint32_t word) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

} // namespace

RawData::RawData(const char* path, const char* options) : Resource(path, options) {
    scrambled_ = options && std::strstr(options, "scramble") != nullptr;
    if (path && *path) {
        Load();
    }
}

RawData::RawData(uint32_t size) : Resource("", nullptr) {
    Allocate(size);
}

Entity* RawData::Create() {
    return new RawData("", nullptr);
}

void RawData::Allocate(uint32_t size) {
    buffer_.assign(size, 0);
    size_ = size;
}

void RawData::Unload() {
    buffer_.assign(1, 0);
    size_ = 1;
}

bool RawData::Load() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    size_ = 0;
    SetState(ResourceLoaded);
    FileSystem* files = GetFileSystem();
    if (!files || !files->Exists(GetFullPath())) {
        Unload();
        ReportMissingResource(GetFullPath());
        SetState(ResourcePlaceholder);
        NotifyUsers("changed");
        return false;
    }
    const uint32_t flags = scrambled_ ? OpenScrambled : 0u;
    const char* extension = GetExtension();
    bool loaded = false;
    if (CompareNoCase(extension, "txt") == 0 || CompareNoCase(extension, "xml") == 0) {
        if (std::unique_ptr<File> file = files->Open(GetFullPath(), flags)) {
            buffer_ = file->ReadRemaining();
            size_ = static_cast<uint32_t>(buffer_.size());
            buffer_.push_back(0);
            loaded = true;
        }
    } else if (CompareNoCase(extension, "raw") == 0) {
        if (std::unique_ptr<File> file = files->Open(GetFullPath(), flags | OpenText)) {
            buffer_ = file->ReadRemaining();
            size_ = static_cast<uint32_t>(buffer_.size());
            loaded = true;
        }
    } else if (CompareNoCase(extension, "flt") == 0) {
        if (std::unique_ptr<File> file = files->Open(GetFullPath(), flags | OpenText)) {
            loaded = LoadSampledGrid(*file);
        }
    }
    if (loaded) {
        UpdateFileTime();
    }
    NotifyUsers("changed");
    return loaded;
}

bool RawData::LoadSampledGrid(File& file) {
    // The last sample lies at row trunc(31 x 225.03125) = 6975, column 31 x 225 = 6975; a file
    // that ends before it is not a grid and leaves the buffer empty.
    constexpr uint64_t Needed = 4ull * (6975ull * GridSide + 6976ull);
    if (file.GetSize() < Needed) {
        LogMessage("Raw data '%s' holds %u bytes, too few for a 7201 x 7201 float grid",
                   GetFullPath(), file.GetSize());
        SetState(ResourceFailed);
        return false;
    }
    std::vector<uint8_t> grid(SampledGridSize, 0);
    PutWord(grid.data(), SampleSide);
    PutWord(grid.data() + 4, SampleSide);
    uint8_t* out = grid.data() + 8;
    for (uint32_t i = 0; i < SampleSide; ++i) {
        const auto row = static_cast<uint32_t>(static_cast<float>(i) * 225.03125f);
        for (uint32_t j = 0; j < SampleSide; ++j) {
            const auto column = static_cast<uint32_t>(static_cast<float>(j) * 225.0f);
            const uint32_t offset = 4 * (row * GridSide + column);
            if (!SkipTo(file, offset, scrambled_) || file.Read(out, 4) != 4) {
                // The file delivered less than its size said.
                LogMessage("Raw data '%s' ends before its float grid does", GetFullPath());
                SetState(ResourceFailed);
                return false;
            }
            out += 4;
        }
    }
    buffer_ = std::move(grid);
    size_ = SampledGridSize;
    return true;
}

void RawData::SaveToFile(const char* path) {
    FileSystem* files = GetFileSystem();
    if (!files || !path) {
        return;
    }
    uint32_t flags = scrambled_ ? WriteScrambled : 0u;
    if (CompareNoCase(GetPathExtension(path).c_str(), "txt") != 0) {
        flags |= 1;
    }
    std::unique_ptr<OutputStream> stream = files->OpenForWrite(path, flags);
    if (!stream) {
        return;
    }
    const uint32_t size = std::min<uint32_t>(size_, static_cast<uint32_t>(buffer_.size()));
    if (stream->Write(buffer_.data(), size) != size || !stream->Close()) {
        LogMessage("Could not save raw data to '%s'", path);
    }
}

ClassInfo* RawData::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("RawData", &RawData::Create, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());
    return classInfo;
}

RawData* GetRawData(const char* path, const char* options) {
    return AcquireResource<RawData>(path, options);
}

} // namespace quarn
