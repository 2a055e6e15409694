#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <png.h>
#include <vector>

namespace quarn::test {

// A PNG file as libpng decodes it: 8-bit RGBA rows top to bottom.
struct ReferenceImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgba;
    std::vector<png_bytep> rows;
    const std::vector<uint8_t>* file = nullptr; // read in place, so it must outlive the decode
    size_t position = 0;
};

inline void ReadReferenceBytes(png_structp png, png_bytep out, png_size_t count) {
    auto* image = static_cast<ReferenceImage*>(png_get_io_ptr(png));
    if (image->position + count > image->file->size()) {
        png_error(png, "read past the end");
    }
    std::memcpy(out, image->file->data() + image->position, count);
    image->position += count;
}

// Everything that outlives a long jump lives in `image`; this frame holds nothing that needs
// destroying.
inline bool ReferenceDecode(const std::vector<uint8_t>& file, ReferenceImage& image) {
    image.file = &file;
    image.position = 0;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_set_read_fn(png, &image, ReadReferenceBytes);
    png_read_info(png, info);
    image.width = png_get_image_width(png, info);
    image.height = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.rgba.resize(size_t(image.width) * image.height * 4);
    image.rows.resize(image.height);
    for (uint32_t y = 0; y < image.height; ++y) {
        image.rows[y] = image.rgba.data() + size_t(y) * image.width * 4;
    }
    png_read_image(png, image.rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

} // namespace quarn::test
