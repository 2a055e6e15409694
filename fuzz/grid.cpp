// Height grids read from a file system. The first byte picks the form (bit 0: ".raw", else the
// ".flt" set); for the set, the next byte is the header's length and the two after it the
// height file's (little-endian), and the ".dat" file takes the rest. A grid that loads saves as
// ".flt" and loads back with the same heights and third layer, bit for bit.
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "resources/GridDataResource.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool SameLayer(const quarn::GridDataResource& a, const quarn::GridDataResource& b,
               quarn::GridDataResource::Layer layer) {
    const float* first = a.GetLayer(layer);
    const float* second = b.GetLayer(layer);
    return first && second && a.GetDataSize() == b.GetDataSize() &&
           std::memcmp(first, second, sizeof(float) * a.GetDataSize()) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    const bool raw = (data[0] & 1) != 0;
    if (raw) {
        files.Add("grid.raw", bytes.substr(1));
    } else {
        const size_t header = std::min<size_t>(data[1], size - 4);
        const size_t heights = std::min<size_t>(data[2] | data[3] << 8, size - 4 - header);
        files.Add("grid.hdr", bytes.substr(4, header));
        files.Add("grid.flt", bytes.substr(4 + header, heights));
        files.Add("grid.dat", bytes.substr(4 + header + heights));
    }
    quarn::GridDataResource grid(raw ? "grid.raw" : "grid.flt");
    grid.FillSecondLayer(1.0f);
    grid.SaveToFile("out.raw");
    grid.SaveToFile("out.flt");
    if (grid.GetLayer(quarn::GridDataResource::Heights)) {
        for (const char* name : {"out.flt", "out.hdr", "out.dat"}) {
            if (!files.Written(name)) {
                std::abort();
            }
            files.Add(name, *files.Written(name));
        }
        quarn::GridDataResource again("out.flt");
        if (!SameLayer(grid, again, quarn::GridDataResource::Heights) ||
            !SameLayer(grid, again, quarn::GridDataResource::ThirdLayer)) {
            std::abort();
        }
    }
    quarn::SetFileSystem(previous);
    return 0;
}
