#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// One pixel as codecs hand it over: alpha in bits 24-31, red 16-23, green 8-15, blue 0-7.
// An opaque pixel has alpha 255.
using ImagePixel = uint32_t;

// What a codec reports from a file's header. A width, height or bits value of 0 means the
// header was not readable.
struct ImageInfo {
    uint32_t width = 0;
    uint32_t height = 0;
    // 24 for an image without alpha, 32 with alpha.
    uint32_t bitsPerPixel = 0;
    // 1 for a bitmap of 8 or fewer bits per pixel.
    uint8_t paletted = 0;
};

// Receives decoded pixels one at a time; pixels outside the target are the sink's to ignore.
using ImagePixelSink = void (*)(int32_t x, int32_t y, ImagePixel pixel, void* context);
// Supplies the pixels to encode.
using ImagePixelSource = ImagePixel (*)(uint32_t x, uint32_t y, void* context);

// Where a codec writes an encoded image.
class ImageOutputStream {
public:
    virtual ~ImageOutputStream() = default;
    virtual bool IsOpen() const = 0;
    // Returns the count written.
    virtual uint32_t Write(const void* data, uint32_t count) = 0;
};

// Reads a whole file held in memory: the header first, then the pixels streamed into a sink.
// The program-wide codecs keep per-image state between GetTextureFormat and Load, so one codec
// serves one image at a time.
class ImageCodec {
public:
    virtual ~ImageCodec() = default;

    // Without the dot; compared without case.
    virtual const char* GetExtension() const = 0;
    virtual void GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) = 0;
    // Streams every pixel into the sink; false when the pixels could not be decoded.
    virtual bool Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) = 0;
    // Returns the number of bytes written.
    virtual uint32_t Save(ImageOutputStream& stream, uint32_t width, uint32_t height,
                          uint32_t bitsPerPixel, bool alpha, void* context,
                          ImagePixelSource source) {
        (void)stream, (void)width, (void)height, (void)bitsPerPixel, (void)alpha, (void)context,
            (void)source;
        return 0;
    }
    virtual bool CanSave() const { return false; }
    // Frees what the codec keeps between GetTextureFormat and Load.
    virtual void ReleaseData() = 0;
    virtual const char* GetLastError() const { return ""; }
};

// Each defined beside its codec.
std::unique_ptr<ImageCodec> CreateBmpCodec();
std::unique_ptr<ImageCodec> CreatePngCodec();
std::unique_ptr<ImageCodec> CreateJpegCodec();

// The program-wide codec list: BMP, PNG, JPEG in that order. Its own function rather than part
// of a class registration so that loaders and tools can fill it before any texture class
// exists; calling it again while filled does nothing.
void InitImageCodecs();
// The codecs' extensions in list order, the list filled first.
std::vector<std::string> GetImageCodecExtensions();
// Destroys every codec; the list may be filled again afterwards.
void ReleaseImageCodecs();
// The first codec, in list order, whose extension equals `extension` without case (and that can
// save, when asked); null when none does or the list is empty.
ImageCodec* FindImageCodec(const char* extension, bool forSaving = false);

// Large images are decoded at a fraction of their size so that no texture exceeds this. The
// render device sets it from its own limit; 2048 until it does.
constexpr uint32_t DefaultMaxTextureSize = 2048;
uint32_t GetImageMaxTextureSize();
void SetImageMaxTextureSize(uint32_t size);

} // namespace quarn
