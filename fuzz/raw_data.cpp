// Raw data resources read from a file system. The first byte picks the extension (bits 0-1:
// txt, xml, raw, flt) and the scrambling option (bit 2); the rest is the file.
#include "app/ClassRegistration.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/RawData.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    static const char* const PathChoices[] = {"data.txt", "data.xml", "data.raw", "data.flt"};
    const char* path = PathChoices[data[0] & 3];
    const bool scrambled = (data[0] & 4) != 0;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);

    quarn::RegisterAllClasses();
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add(path, content);
    quarn::RawData* raw = quarn::GetRawData(path, scrambled ? "scramble" : nullptr);
    if (raw) {
        const bool text = (data[0] & 3) < 2;
        // Unscrambled text and raw files come back byte for byte; text gets its zero byte.
        if ((data[0] & 3) != 3 && !scrambled) {
            const uint8_t* bytes = raw->GetData();
            if (raw->GetDataSize() != content.size() ||
                (!content.empty() && std::memcmp(bytes, content.data(), content.size()) != 0) ||
                (text && (!bytes || bytes[content.size()] != 0))) {
                std::abort();
            }
        }
        raw->Release();
    }
    quarn::SetFileSystem(previous);
    return 0;
}
