#pragma once

// JPEG fixtures made in memory by libjpeg itself (the including suite links libjpeg).

#include <cstdint>
#include <cstdio> // before jpeglib.h, which uses FILE
#include <cstdlib>
#include <functional>
#include <jpeglib.h>
#include <vector>

namespace quarn::test {

// Fixtures are written by libjpeg itself, in memory: quality 100 and no chroma subsampling, so
// flat 8 x 8 blocks come back within a few steps of their colour.
inline std::vector<uint8_t>
EncodeJpeg(uint32_t width, uint32_t height, int components, J_COLOR_SPACE space,
           const std::function<void(uint32_t, uint32_t, uint8_t*)>& pixel) {
    jpeg_compress_struct encoder{};
    jpeg_error_mgr errors{};
    encoder.err = jpeg_std_error(&errors);
    jpeg_create_compress(&encoder);
    unsigned char* buffer = nullptr;
    unsigned long size = 0; // NOLINT: libjpeg's own type
    jpeg_mem_dest(&encoder, &buffer, &size);
    encoder.image_width = width;
    encoder.image_height = height;
    encoder.input_components = components;
    encoder.in_color_space = space;
    jpeg_set_defaults(&encoder);
    jpeg_set_quality(&encoder, 100, TRUE);
    for (int i = 0; i < encoder.num_components; ++i) {
        encoder.comp_info[i].h_samp_factor = 1;
        encoder.comp_info[i].v_samp_factor = 1;
    }
    jpeg_start_compress(&encoder, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * static_cast<size_t>(components));
    while (encoder.next_scanline < height) {
        for (uint32_t x = 0; x < width; ++x) {
            pixel(x, encoder.next_scanline, row.data() + x * static_cast<uint32_t>(components));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&encoder, rows, 1);
    }
    jpeg_finish_compress(&encoder);
    jpeg_destroy_compress(&encoder);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

} // namespace quarn::test
