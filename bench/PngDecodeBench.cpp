// The engine's PNG decoder against libpng on a mixed set of images, both decoding to 8-bit RGBA
// rows; then the engine's inflate against zlib's on the same images' data. Run it from a
// release build; every row ends with the engine-to-reference time ratio.
#include "bench/BenchTiming.h"
#include "codecs/Inflate.h"
#include "codecs/PngDecoder.h"
#include "tests/codecs/LibpngReference.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <png.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

struct Sample {
    std::string name;
    std::vector<uint8_t> file;
    std::vector<uint8_t> zlibStream; // the joined image data
    size_t rawSize = 0;              // the filtered rows it inflates to (not interlaced)
};

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

struct Shape {
    const char* name;
    uint32_t width;
    uint32_t height;
    int colourType;
    int bitDepth;
    int level;
    bool interlaced;
    bool noisy; // photo-like noise instead of flat art with hard edges
};

uint32_t Channels(int colourType) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

void AppendBytes(png_structp png, png_bytep data, png_size_t size) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + size);
}

// Game-like content: smooth art with hard edges and a round alpha mask, or noisy photo texture.
Sample MakeSample(const Shape& s) {
    const uint32_t channels = Channels(s.colourType);
    const uint32_t sampleBytes = s.bitDepth == 16 ? 2 : 1;
    const size_t rowBytes = size_t(s.width) * channels * sampleBytes;
    std::vector<uint8_t> pixels(rowBytes * s.height);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t x = 0; x < s.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t noise = s.noisy ? (seed >> 26) : 0;
            const int64_t dx = int64_t(x) - s.width / 2;
            const int64_t dy = int64_t(y) - s.height / 2;
            const uint32_t inside = dx * dx + dy * dy < int64_t(s.width) * s.width / 5 ? 1 : 0;
            const uint32_t values[4] = {(x / 2 + noise) & 255, ((x ^ y) & 32 ? 200 : 40) + noise,
                                        (y + noise) & 255, inside * 255};
            uint8_t* p = &pixels[size_t(y) * rowBytes + size_t(x) * channels * sampleBytes];
            for (uint32_t c = 0; c < channels; ++c) {
                // The alpha of grey-alpha is the last channel too.
                const uint32_t v = c + 1 == channels && channels % 2 == 0 ? values[3] : values[c];
                if (sampleBytes == 2) {
                    p[2 * c] = uint8_t(v);
                    p[2 * c + 1] = uint8_t(v * 37 + x);
                } else {
                    p[c] = s.colourType == PNG_COLOR_TYPE_PALETTE ? uint8_t((v + inside * 16) & 255)
                                                                  : uint8_t(v);
                }
            }
        }
    }
    Sample sample;
    sample.name = s.name;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        std::fprintf(stderr, "encoding %s failed\n", s.name);
        std::exit(1);
    }
    png_set_write_fn(png, &sample.file, AppendBytes, nullptr);
    png_set_compression_level(png, s.level);
    png_set_IHDR(png, info, s.width, s.height, s.bitDepth, s.colourType,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(256);
    std::vector<png_byte> alphas(256);
    if (s.colourType == PNG_COLOR_TYPE_PALETTE) {
        for (uint32_t i = 0; i < 256; ++i) {
            palette[i] = {png_byte(i), png_byte(255 - i), png_byte(i * 7)};
            alphas[i] = png_byte(i < 16 ? 0 : 255);
        }
        png_set_PLTE(png, info, palette.data(), 256);
        png_set_tRNS(png, info, alphas.data(), 256, nullptr);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows(s.height);
    for (uint32_t y = 0; y < s.height; ++y) {
        rows[y] = &pixels[size_t(y) * rowBytes];
    }
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);

    for (size_t p = 8; p + 12 <= sample.file.size();) {
        const uint32_t length = BigEndian32(&sample.file[p]);
        if (std::memcmp(&sample.file[p + 4], "IDAT", 4) == 0) {
            sample.zlibStream.insert(sample.zlibStream.end(), &sample.file[p + 8],
                                     &sample.file[p + 8] + length);
        }
        p += size_t(length) + 12;
    }
    sample.rawSize = s.height * (rowBytes + 1);
    return sample;
}

std::vector<Sample> Samples() {
    constexpr int Rgb = PNG_COLOR_TYPE_RGB;
    constexpr int Rgba = PNG_COLOR_TYPE_RGB_ALPHA;
    const Shape shapes[] = {
        {"rgba8 1024^2 level 0", 1024, 1024, Rgba, 8, 0, false, true},
        {"rgb8 1024^2 level 1 photo", 1024, 1024, Rgb, 8, 1, false, true},
        {"rgba8 1024^2 level 6 art", 1024, 1024, Rgba, 8, 6, false, false},
        {"rgba8 256^2 level 9 sprite", 256, 256, Rgba, 8, 9, false, true},
        {"rgba16 512^2 level 6", 512, 512, Rgba, 16, 6, false, true},
        {"rgb16 512^2 level 1", 512, 512, Rgb, 16, 1, false, false},
        {"palette 1024^2 level 9", 1024, 1024, PNG_COLOR_TYPE_PALETTE, 8, 9, false, false},
        {"grey8 1024^2 level 6", 1024, 1024, PNG_COLOR_TYPE_GRAY, 8, 6, false, true},
        {"grey-alpha8 512^2 level 6", 512, 512, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 6, false, false},
        {"rgba8 1024^2 Adam7 level 6", 1024, 1024, Rgba, 8, 6, true, true},
        {"rgb8 4096^2 level 6", 4096, 4096, Rgb, 8, 6, false, false},
    };
    std::vector<Sample> samples;
    for (const Shape& shape : shapes) {
        samples.push_back(MakeSample(shape));
    }
    return samples;
}

} // namespace

int main() {
    using namespace quarn;
    std::printf("Encoding the image set...\n");
    const std::vector<Sample> samples = Samples();
    std::vector<uint8_t> pixels;
    test::ReferenceImage expected;
    PngDecoder decoder;
    bool identical = true;

    bench::PrintTableHeader("PNG decode to RGBA8", "libpng ms");
    double engineTotal = 0.0;
    double referenceTotal = 0.0;
    for (const Sample& sample : samples) {
        const double engine = bench::MedianMilliseconds(
            [&] { decoder.Decode(pixels, sample.file.data(), sample.file.size()); }, 0.1);
        const double reference =
            bench::MedianMilliseconds([&] { test::ReferenceDecode(sample.file, expected); }, 0.1);
        if (decoder.GetLastErrorCode() != 0 || pixels != expected.rgba) {
            std::printf("%s: the engine's pixels differ from libpng's (error %u)\n",
                        sample.name.c_str(), decoder.GetLastErrorCode());
            identical = false;
        }
        bench::PrintTableRow(sample.name.c_str(), engine, reference);
        engineTotal += engine;
        referenceTotal += reference;
    }
    bench::PrintTableRow("all images", engineTotal, referenceTotal);

    bench::PrintTableHeader("Inflate of the same image data", "zlib ms");
    std::vector<uint8_t> out;
    double inflateTotal = 0.0;
    double zlibTotal = 0.0;
    for (const Sample& sample : samples) {
        out.resize(sample.rawSize * 2);
        inflateTotal += bench::MedianMilliseconds([&] {
            size_t written = 0;
            ZlibDecompress(sample.zlibStream.data(), sample.zlibStream.size(), out.data(),
                           out.size(), written);
        });
        zlibTotal += bench::MedianMilliseconds(
            [&] {
                uLongf size = uLongf(out.size());
                uncompress(out.data(), &size, sample.zlibStream.data(),
                           uLong(sample.zlibStream.size()));
            },
            0.1);
    }
    bench::PrintTableRow("all images", inflateTotal, zlibTotal);
    return identical ? 0 : 1;
}
