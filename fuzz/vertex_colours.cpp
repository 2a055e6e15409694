// Vertex-colour files, read into the colour buffer of a 64-vertex model. What was read saves
// and reads back to the same bytes.
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "device/GpuRenderDevice.h"
#include "device/VertexBuffer.h"
#include "gpu/software/SoftwareDevice.h"
#include "render/VertexColours.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr uint32_t Vertices = 64;

// The file written, which is then there to be read.
std::string Save(quarn::MemoryFileSystem& files, const char* path,
                 std::unique_ptr<quarn::VertexBuffer>& buffer) {
    if (!buffer || !quarn::SaveVertexColourFile(path, *buffer, {}) || !files.Written(path)) {
        std::abort();
    }
    const std::string written = *files.Written(path);
    files.Add(path, written);
    return written;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace quarn;
    static GpuRenderDevice device(&SoftwareDevice::Create);
    static const bool created = device.Create(0, nullptr, 16, 16);
    if (!created) {
        std::abort();
    }
    MemoryFileSystem files;
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files);
    files.Add("fuzz.dat", std::string(reinterpret_cast<const char*>(data), size));
    std::unique_ptr<VertexBuffer> buffer;
    LoadVertexColourFile("fuzz.dat", buffer, Vertices);
    const std::string first = Save(files, "first.dat", buffer);
    std::unique_ptr<VertexBuffer> back;
    int32_t count = 0;
    if (!LoadVertexColourFile("first.dat", back, Vertices, &count) || count != Vertices ||
        Save(files, "second.dat", back) != first) {
        std::abort();
    }
    SetFileSystem(previous);
    return 0;
}
