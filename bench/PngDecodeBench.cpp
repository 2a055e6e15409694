// The engine's PNG decoder against libpng on a mixed set of images, both decoding to 8-bit RGBA
// rows, the engine through the image codec as textures load (a new decoder for every file); each
// side decodes into new memory every round, as a texture load does, so both pay for its first
// touch. Then the engine's inflate against zlib's on the same images' data, every stream checked
// against zlib's output first. Engine and peer take turns round by round. Run it from a release
// build; each table gives every file's ratio, their geometric mean and the worst file.
#include "bench/BenchTiming.h"
#include "codecs/Inflate.h"
#include "codecs/PngCodec.h"
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

enum class Content {
    Art,   // flat art with hard edges and a round alpha mask: long matches
    Noisy, // the same art under strong noise
    Photo, // smooth gradients under mild noise, as a photograph
};

struct Shape {
    const char* name;
    uint32_t width;
    uint32_t height;
    int colourType;
    int bitDepth;
    int level;
    bool interlaced;
    Content content;
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

// Channel values before the noise: hard-edged art, or gradients that turn slowly across the
// image.
void BaseValues(const Shape& s, uint32_t x, uint32_t y, uint32_t inside, uint32_t values[4]) {
    if (s.content == Content::Photo) {
        const uint32_t u = x * 256 / s.width;
        const uint32_t v = y * 256 / s.height;
        values[0] = (u * 3 + v) / 4;
        values[1] = (u * v) / 256 + 40;
        values[2] = 255 - (u + v * 3) / 4;
    } else {
        values[0] = x / 2;
        values[1] = (x ^ y) & 32 ? 200 : 40;
        values[2] = y;
    }
    values[3] = inside * 255;
}

// Game-like content from a fixed generator: the same file on every run.
Sample MakeSample(const Shape& s) {
    const uint32_t channels = Channels(s.colourType);
    const uint32_t sampleBytes = s.bitDepth == 16 ? 2 : 1;
    const size_t rowBytes = size_t(s.width) * channels * sampleBytes;
    std::vector<uint8_t> pixels(rowBytes * s.height);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < s.height; ++y) {
        for (uint32_t x = 0; x < s.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t noise = s.content == Content::Noisy   ? (seed >> 26)
                                   : s.content == Content::Photo ? (seed >> 29)
                                                                 : 0;
            const int64_t dx = int64_t(x) - s.width / 2;
            const int64_t dy = int64_t(y) - s.height / 2;
            const uint32_t inside = dx * dx + dy * dy < int64_t(s.width) * s.width / 5 ? 1 : 0;
            uint32_t values[4];
            BaseValues(s, x, y, inside, values);
            for (uint32_t c = 0; c < 3; ++c) {
                values[c] = (values[c] + noise) & 255;
            }
            uint8_t* p = &pixels[size_t(y) * rowBytes + size_t(x) * channels * sampleBytes];
            for (uint32_t c = 0; c < channels; ++c) {
                // The alpha of grey-alpha is the last channel too.
                const uint32_t v = c + 1 == channels && channels % 2 == 0 ? values[3] : values[c];
                if (sampleBytes == 2) {
                    p[2 * c] = uint8_t(v);
                    p[2 * c + 1] =
                        uint8_t(s.content == Content::Art ? v * 37 + x : seed >> (8 + 3 * c));
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

// Each kind of content at levels 1, 6 and 9 and in 16 bits; the large photo-like images are
// the ones a game's textures mostly are.
std::vector<Sample> Samples() {
    constexpr int Rgb = PNG_COLOR_TYPE_RGB;
    constexpr int Rgba = PNG_COLOR_TYPE_RGB_ALPHA;
    constexpr Content Art = Content::Art;
    constexpr Content Noisy = Content::Noisy;
    constexpr Content Photo = Content::Photo;
    const Shape shapes[] = {
        {"rgba8 1024^2 level 0 noisy", 1024, 1024, Rgba, 8, 0, false, Noisy},
        {"rgb8 1024^2 level 1 noisy", 1024, 1024, Rgb, 8, 1, false, Noisy},
        {"rgba8 256^2 level 9 noisy sprite", 256, 256, Rgba, 8, 9, false, Noisy},
        {"rgba16 512^2 level 6 noisy", 512, 512, Rgba, 16, 6, false, Noisy},
        {"grey8 1024^2 level 6 noisy", 1024, 1024, PNG_COLOR_TYPE_GRAY, 8, 6, false, Noisy},
        {"rgba8 1024^2 Adam7 level 6 noisy", 1024, 1024, Rgba, 8, 6, true, Noisy},
        {"rgba8 1024^2 level 1 art", 1024, 1024, Rgba, 8, 1, false, Art},
        {"rgba8 1024^2 level 6 art", 1024, 1024, Rgba, 8, 6, false, Art},
        {"rgba8 1024^2 level 9 art", 1024, 1024, Rgba, 8, 9, false, Art},
        {"rgb16 512^2 level 1 art", 512, 512, Rgb, 16, 1, false, Art},
        {"palette 1024^2 level 9 art", 1024, 1024, PNG_COLOR_TYPE_PALETTE, 8, 9, false, Art},
        {"grey-alpha8 512^2 level 6 art", 512, 512, PNG_COLOR_TYPE_GRAY_ALPHA, 8, 6, false, Art},
        {"rgb8 4096^2 level 6 art", 4096, 4096, Rgb, 8, 6, false, Art},
        {"rgb8 2048^2 level 1 photo", 2048, 2048, Rgb, 8, 1, false, Photo},
        {"rgb8 2048^2 level 6 photo", 2048, 2048, Rgb, 8, 6, false, Photo},
        {"rgb8 2048^2 level 9 photo", 2048, 2048, Rgb, 8, 9, false, Photo},
        {"rgb8 4096^2 level 6 photo", 4096, 4096, Rgb, 8, 6, false, Photo},
        {"rgb16 1024^2 level 6 photo", 1024, 1024, Rgb, 16, 6, false, Photo},
        {"rgba8 1024^2 Adam7 level 6 photo", 1024, 1024, Rgba, 8, 6, true, Photo},
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
    bool identical = true;

    bench::RatioTable decode("PNG decode to RGBA8, new decoder", "libpng ms");
    for (const Sample& sample : samples) {
        // The pixels are checked once through a decoder of their own; the timed path is the
        // codec's, which textures load through.
        std::vector<uint8_t> pixels;
        test::ReferenceImage expected;
        PngDecoder decoder;
        decoder.Decode(pixels, sample.file.data(), sample.file.size());
        if (decoder.GetLastErrorCode() != 0 || !test::ReferenceDecode(sample.file, expected) ||
            pixels != expected.rgba) {
            std::printf("%s: the engine's pixels differ from libpng's (error %u)\n",
                        sample.name.c_str(), decoder.GetLastErrorCode());
            identical = false;
        }
        pixels = {};
        const auto size = static_cast<uint32_t>(sample.file.size());
        const bench::SideBySide timing = bench::TimeSideBySide(
            [&] {
                PngCodec codec;
                ImageInfo info;
                codec.GetTextureFormat(info, sample.file.data(), size);
            },
            [&] {
                test::ReferenceImage image;
                test::ReferenceDecode(sample.file, image);
            },
            0.1);
        decode.Row(sample.name, timing.engine, timing.peer);
    }
    decode.PrintSummary();

    bench::RatioTable inflate("Inflate of the same image data", "zlib ms");
    std::vector<uint8_t> expected;
    std::vector<uint8_t> out;
    for (const Sample& sample : samples) {
        expected.resize(sample.rawSize * 2);
        uLongf expectedSize = uLongf(expected.size());
        const int zlibResult = uncompress(expected.data(), &expectedSize, sample.zlibStream.data(),
                                          uLong(sample.zlibStream.size()));
        out.assign(expected.size(), 0);
        size_t written = 0;
        const uint32_t error = ZlibDecompress(sample.zlibStream.data(), sample.zlibStream.size(),
                                              out.data(), out.size(), written);
        if (zlibResult != Z_OK || error != 0 || written != expectedSize ||
            std::memcmp(out.data(), expected.data(), written) != 0) {
            std::printf("%s: the engine inflates other bytes than zlib (error %u)\n",
                        sample.name.c_str(), error);
            identical = false;
            continue;
        }
        const bench::SideBySide timing = bench::TimeSideBySide(
            [&] {
                ZlibDecompress(sample.zlibStream.data(), sample.zlibStream.size(), out.data(),
                               out.size(), written);
            },
            [&] {
                uLongf size = uLongf(expected.size());
                uncompress(expected.data(), &size, sample.zlibStream.data(),
                           uLong(sample.zlibStream.size()));
            },
            0.1);
        inflate.Row(sample.name, timing.engine, timing.peer);
    }
    inflate.PrintSummary();
    if (!identical) {
        std::printf("RESULTS DIFFER\n");
    }
    return identical ? 0 : 1;
}
