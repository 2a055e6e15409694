// Glyph cache tables: a font whose file is missing reads its cache, a small glyph image with the
// input as its table (its rectangles are fractions of the image, so the image's size does not
// matter, and decoding a large one took most of each run). A table the font takes must give
// rectangles inside the texture; one it refuses leaves the font rasterised instead.
#include "codecs/PngEncoder.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "device/DeviceTexture.h"
#include "device/GpuRenderDevice.h"
#include "device/VertexBuffer.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/FontNew.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool Inside(const quarn::GlyphRect& rect) {
    return rect.left >= 0 && rect.top >= 0 && rect.right <= 1 && rect.bottom <= 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static quarn::GpuRenderDevice* device = [] {
        auto* made = new quarn::GpuRenderDevice(&quarn::SoftwareDevice::Create);
        made->Create(0, nullptr, 16, 16);
        return made;
    }();
    static const std::string image = [] {
        std::vector<uint8_t> pixels(16 * 16 * 4, 0xFF);
        std::vector<uint8_t> file;
        quarn::PngEncoder().Encode(file, pixels.data(), 16, 16);
        return std::string(file.begin(), file.end());
    }();

    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    // A refused table has the font rasterised; three characters keep that from taking most of
    // each run.
    files.Add("char_set.txt", "Ag?");
    files.Add("font_8.png", image);
    files.Add("font_8.dat", std::string_view(reinterpret_cast<const char*>(data), size));
    auto* font = new quarn::FontNew("font.ttf", "_8");
    if (font->IsFromCache()) {
        for (uint32_t code = 0; code < 256; ++code) {
            if (!Inside(font->GetGlyphRect(code))) {
                std::abort();
            }
        }
        std::unique_ptr<quarn::VertexBuffer> quads = device->CreateVertexData();
        quarn::CreateQuadBuffers(*quads, nullptr, 64, true, false);
        font->LayoutText("Glyphs from a cache\nof any shape", 0, 0, 0, 40, 0xFFFFFFFF, 3, 1,
                         quarn::LayoutDownward, 2, *quads);
    }
    font->Release();
    quarn::SetFileSystem(previous);
    return 0;
}
