// PNG encoding against libpng's encoder at its default level 6 (the engine's encoder has one
// setting), on the same opaque RGBA pixels written as RGB by both, medians of 5 rounds; the
// output sizes are printed beside the times, with the peak of memory the engine's encoder
// allocates besides its input and output: a bounded encoder holds a few rows.
#include "bench/BenchTiming.h"
#include "codecs/PngEncoder.h"
#include "core/os/HeldMemory.h"

#include <csetjmp>
#include <cstdio>
#include <png.h>
#include <string>
#include <vector>

namespace {

// Smooth art with hard edges and some noise, opaque: what a game saves as a screenshot.
std::vector<uint8_t> MakeImage(uint32_t side) {
    std::vector<uint8_t> rgba(size_t(side) * side * 4);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < side; ++y) {
        for (uint32_t x = 0; x < side; ++x) {
            seed = seed * 1103515245u + 12345u;
            uint8_t* p = &rgba[(size_t(y) * side + x) * 4];
            p[0] = uint8_t(x / 2 + (seed >> 29));
            p[1] = uint8_t((x ^ y) & 32 ? 200 : 40);
            p[2] = uint8_t(y);
            p[3] = 255;
        }
    }
    return rgba;
}

void AppendBytes(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// libpng drops the filler byte of each pixel as it writes, so both encoders read the same rows.
bool LibpngEncode(std::vector<uint8_t>& out, uint32_t side, std::vector<png_bytep>& rows) {
    out.clear();
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, &out, AppendBytes, nullptr);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, side, side, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

struct Sizes {
    std::string name;
    size_t engine = 0;
    size_t peer = 0;
    size_t peak = 0;
};

} // namespace

int main() {
    using namespace quarn;
    bench::RatioTable table("PNG encode, RGB screenshot", "libpng ms");
    std::vector<Sizes> sizes;
    bool encoded = true;
    for (uint32_t side : {256u, 1024u, 2048u, 4096u}) {
        const std::vector<uint8_t> rgba = MakeImage(side);
        std::vector<png_bytep> rows(side);
        for (uint32_t y = 0; y < side; ++y) {
            rows[y] = const_cast<uint8_t*>(&rgba[size_t(y) * side * 4]);
        }
        std::vector<uint8_t> file;
        std::vector<uint8_t> reference;
        const size_t before = ResetHeldMemoryPeak();
        encoded = PngEncoder().Encode(file, rgba.data(), side, side) == 0 && encoded;
        Sizes row{std::to_string(side) + "^2", file.size(), 0, GetHeldMemoryPeak() - before};
        const bench::Timing engine = bench::TimeRounds(
            [&] {
                PngEncoder encoder;
                encoder.Encode(file, rgba.data(), side, side);
            },
            0.1);
        const bench::Timing peer = bench::TimeRounds(
            [&] { encoded = LibpngEncode(reference, side, rows) && encoded; }, 0.1);
        row.peer = reference.size();
        table.Row(row.name, engine, peer);
        sizes.push_back(row);
    }
    table.PrintSummary();
    std::printf("\n%-12s %14s %14s %22s\n", "image", "engine bytes", "libpng bytes",
                "engine peak - output");
    for (const Sizes& row : sizes) {
        std::printf("%-12s %14zu %14zu %22lld\n", row.name.c_str(), row.engine, row.peer,
                    static_cast<long long>(row.peak) - static_cast<long long>(row.engine));
    }
    if (!encoded) {
        std::printf("AN ENCODER FAILED\n");
        return 1;
    }
    return 0;
}
