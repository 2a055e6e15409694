#include "codecs/JpegCodec.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

namespace quarn {
namespace {

// libjpeg's allocations for one image; a progressive file of huge declared size fails with a
// libjpeg error instead of exhausting memory.
constexpr int32_t MaxDecoderMemory = 256 * 1024 * 1024;
// The largest side read, as for the other image formats: libjpeg decodes every declared row,
// also after the data has run out, so a few hundred bytes declaring 65000 x 65000 pixels would
// hold loading for seconds.
constexpr JDIMENSION MaxJpegSide = 16384;

// Everything the decode touches, in plain memory: libjpeg reports fatal errors by a long jump
// back into DecodeJpeg, which must therefore hold no object with a destructor.
struct JpegJob {
    jpeg_error_mgr errors;
    jmp_buf exit;
    const uint8_t* data;
    uint32_t size;
    uint32_t maxTextureSize;
    // Set by the header pass.
    uint32_t width;
    uint32_t height;
    uint32_t scale;
    // The pixel pass: only runs when the header gives the expected size.
    bool decodePixels;
    bool sizeMatched;
    uint32_t expectedWidth;
    uint32_t expectedHeight;
    uint32_t expectedScale;
    void* context;
    ImagePixelSink sink;
};

[[noreturn]] void ErrorExit(j_common_ptr decoder) {
    JpegJob* job = reinterpret_cast<JpegJob*>(decoder->err);
    std::longjmp(job->exit, 1);
}

// Corrupt-data warnings are not worth a line on stderr: the image still decodes.
void OutputMessage(j_common_ptr) {}

void ScaleToFit(uint32_t& width, uint32_t& height, uint32_t& scale, uint32_t maxTextureSize) {
    scale = 1;
    if (maxTextureSize == 0) {
        return;
    }
    while (maxTextureSize < width || maxTextureSize < height) {
        scale *= 2;
        width = width > 1 ? width / 2 : width;
        height = height > 1 ? height / 2 : height;
    }
}

ImagePixel ToPixel(const JSAMPLE* sample, int components, bool invertedCmyk) {
    uint32_t red = sample[0];
    uint32_t green = components >= 3 ? sample[1] : red;
    uint32_t blue = components >= 3 ? sample[2] : red;
    if (components == 4) {
        // Adobe writes CMYK inverted (0 = full ink); others store ink amounts.
        uint32_t k = invertedCmyk ? sample[3] : 255u - sample[3];
        if (!invertedCmyk) {
            red = 255u - red;
            green = 255u - green;
            blue = 255u - blue;
        }
        red = red * k / 255;
        green = green * k / 255;
        blue = blue * k / 255;
    }
    return 0xFF000000u | red << 16 | green << 8 | blue;
}

// Returns false after a libjpeg error. C-style on purpose: see JpegJob.
bool DecodeJpeg(JpegJob* job) {
    jpeg_decompress_struct decoder{};
    decoder.err = jpeg_std_error(&job->errors);
    job->errors.error_exit = ErrorExit;
    job->errors.output_message = OutputMessage;
    if (setjmp(job->exit) != 0) {
        jpeg_destroy_decompress(&decoder);
        return false;
    }
    jpeg_create_decompress(&decoder);
    decoder.mem->max_memory_to_use = MaxDecoderMemory;
    jpeg_mem_src(&decoder, job->data, job->size);
    jpeg_read_header(&decoder, TRUE);
    if (decoder.image_width > MaxJpegSide || decoder.image_height > MaxJpegSide) {
        jpeg_destroy_decompress(&decoder);
        return false;
    }
    // Greyscale and colour arrive as RGB; CMYK has no conversion in libjpeg and is converted
    // per pixel. One byte per sample whatever the file's precision.
    J_COLOR_SPACE space = decoder.jpeg_color_space;
    decoder.out_color_space = space == JCS_CMYK || space == JCS_YCCK ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&decoder);
    job->width = decoder.output_width;
    job->height = decoder.output_height;
    ScaleToFit(job->width, job->height, job->scale, job->maxTextureSize);
    job->sizeMatched = job->width == job->expectedWidth && job->height == job->expectedHeight &&
                       job->scale == job->expectedScale;
    if (!job->decodePixels || !job->sizeMatched) {
        jpeg_abort_decompress(&decoder);
        jpeg_destroy_decompress(&decoder);
        return true;
    }
    const int components = decoder.output_components;
    const bool invertedCmyk = decoder.saw_Adobe_marker != 0;
    const uint32_t scale = job->scale;
    // Freed with the decoder, also after a long jump.
    JSAMPARRAY row =
        (*decoder.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&decoder), JPOOL_IMAGE,
                                     decoder.output_width * static_cast<JDIMENSION>(components), 1);
    while (decoder.output_scanline < decoder.output_height) {
        // Of each `scale` rows only the last is kept.
        uint32_t read = 0;
        for (uint32_t i = 0; i < scale && decoder.output_scanline < decoder.output_height; ++i) {
            read += jpeg_read_scanlines(&decoder, row, 1);
        }
        if (read == 0) {
            break;
        }
        // A last, partial group of rows or columns lies outside the halved size.
        const uint32_t y = (decoder.output_scanline - 1) / scale;
        if (y >= job->height) {
            continue;
        }
        for (uint32_t x = 0; x < decoder.output_width && x / scale < job->width; x += scale) {
            job->sink(
                static_cast<int32_t>(x / scale), static_cast<int32_t>(y),
                ToPixel(row[0] + x * static_cast<uint32_t>(components), components, invertedCmyk),
                job->context);
        }
    }
    jpeg_finish_decompress(&decoder);
    jpeg_destroy_decompress(&decoder);
    return true;
}

JpegJob MakeJob(const uint8_t* data, uint32_t size) {
    JpegJob job{};
    job.data = data;
    job.size = size;
    job.maxTextureSize = GetImageMaxTextureSize();
    job.scale = 1;
    return job;
}

} // namespace

void JpegCodec::GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) {
    info = ImageInfo{};
    width_ = height_ = 0;
    scale_ = 1;
    if (data == nullptr || size == 0) {
        return;
    }
    JpegJob job = MakeJob(data, size);
    if (!DecodeJpeg(&job)) {
        return;
    }
    width_ = job.width;
    height_ = job.height;
    scale_ = job.scale;
    info.width = width_;
    info.height = height_;
    info.bitsPerPixel = width_ != 0 && height_ != 0 ? 32 : 0;
}

bool JpegCodec::Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) {
    error_ = "";
    if (data == nullptr || size == 0 || sink == nullptr) {
        return false;
    }
    JpegJob job = MakeJob(data, size);
    job.decodePixels = true;
    job.expectedWidth = width_;
    job.expectedHeight = height_;
    job.expectedScale = scale_;
    job.context = context;
    job.sink = sink;
    if (!DecodeJpeg(&job)) {
        return false;
    }
    if (!job.sizeMatched) {
        error_ = "JPG format did not match header info. Did you call GetTextureFormat() and "
                 "Load() on the same file? NOTE: it is not thread-safe!";
        return false;
    }
    return true;
}

std::unique_ptr<ImageCodec> CreateJpegCodec() {
    return std::make_unique<JpegCodec>();
}

} // namespace quarn
