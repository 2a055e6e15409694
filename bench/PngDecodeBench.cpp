// The engine's PNG decoder and inflate against the reference libraries on one image set. Run
// it from a release build; it ends with the engine-to-reference time ratios.
#include "codecs/Inflate.h"
#include "codecs/PngDecoder.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstring>
#include <map>
#include <png.h>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

struct Sample {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<uint8_t> zlibStream; // the joined IDAT data
    size_t rawSize = 0;              // the filtered rows it inflates to
    uint32_t width = 0;
    uint32_t height = 0;
};

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Game-like content: smooth art with hard edges, and noisy photo-like texture.
Sample MakeSample(const char* name, uint32_t width, uint32_t height, bool alpha, bool noisy) {
    const uint32_t channels = alpha ? 4 : 3;
    std::vector<uint8_t> pixels(size_t(width) * height * channels);
    uint32_t seed = 7;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t noise = noisy ? (seed >> 26) : 0;
            uint8_t* p = &pixels[(size_t(y) * width + x) * channels];
            p[0] = uint8_t((x / 2 + noise) & 255);
            p[1] = uint8_t(((x ^ y) & 32 ? 200 : 40) + noise);
            p[2] = uint8_t((y + noise) & 255);
            if (alpha) {
                p[3] = uint8_t(((x - width / 2) * (x - width / 2) +
                                (y - height / 2) * (y - height / 2)) < width * width / 5
                                   ? 255
                                   : 0);
            }
        }
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = width;
    image.height = height;
    image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    Sample sample{name,  std::vector<uint8_t>(size),
                  {},    size_t(height) * (width * channels + 1),
                  width, height};
    png_image_write_to_memory(&image, sample.file.data(), &size, 0, pixels.data(), 0, nullptr);
    sample.file.resize(size);
    for (size_t p = 8; p + 12 <= sample.file.size();) {
        const uint32_t length = BigEndian32(&sample.file[p]);
        if (std::memcmp(&sample.file[p + 4], "IDAT", 4) == 0) {
            sample.zlibStream.insert(sample.zlibStream.end(), &sample.file[p + 8],
                                     &sample.file[p + 8] + length);
        }
        p += size_t(length) + 12;
    }
    return sample;
}

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        MakeSample("art_rgba_1024", 1024, 1024, true, false),
        MakeSample("photo_rgb_1024", 1024, 1024, false, true),
        MakeSample("sprite_rgba_256", 256, 256, true, true),
    };
    return samples;
}

void EngineDecode(benchmark::State& state) {
    std::vector<uint8_t> pixels;
    for (auto _ : state) {
        for (const Sample& sample : Samples()) {
            quarn::PngDecoder decoder;
            decoder.Decode(pixels, sample.file.data(), sample.file.size());
            if (decoder.GetLastErrorCode() != 0) {
                state.SkipWithError("decode failed");
                return;
            }
            benchmark::DoNotOptimize(pixels.data());
        }
    }
}

void ReferenceDecode(benchmark::State& state) {
    std::vector<uint8_t> pixels;
    for (auto _ : state) {
        for (const Sample& sample : Samples()) {
            png_image image;
            std::memset(&image, 0, sizeof image);
            image.version = PNG_IMAGE_VERSION;
            png_image_begin_read_from_memory(&image, sample.file.data(), sample.file.size());
            image.format = PNG_FORMAT_RGBA;
            pixels.resize(PNG_IMAGE_SIZE(image));
            if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
                state.SkipWithError("reference decode failed");
                return;
            }
            benchmark::DoNotOptimize(pixels.data());
        }
    }
}

void EngineInflate(benchmark::State& state) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const Sample& sample : Samples()) {
            out.resize(sample.rawSize);
            size_t written = 0;
            if (quarn::ZlibDecompress(sample.zlibStream.data(), sample.zlibStream.size(),
                                      out.data(), out.size(), written) != 0) {
                state.SkipWithError("inflate failed");
                return;
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
}

void ReferenceInflate(benchmark::State& state) {
    std::vector<uint8_t> out;
    for (auto _ : state) {
        for (const Sample& sample : Samples()) {
            out.resize(sample.rawSize);
            uLongf size = uLongf(out.size());
            if (uncompress(out.data(), &size, sample.zlibStream.data(),
                           uLong(sample.zlibStream.size())) != Z_OK) {
                state.SkipWithError("reference inflate failed");
                return;
            }
            benchmark::DoNotOptimize(out.data());
        }
    }
}

BENCHMARK(EngineDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(ReferenceDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(EngineInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(ReferenceInflate)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's time per iteration so the ratios can be printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0 && run.run_type == Run::RT_Iteration) {
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    // Encoding the set is slow; it must not land in the first benchmark's time.
    Samples();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* engine, const char* reference) {
        const auto e = reporter.times.find(engine);
        const auto r = reporter.times.find(reference);
        if (e != reporter.times.end() && r != reporter.times.end() && r->second > 0) {
            std::printf("%s / %s = %.2f\n", engine, reference, e->second / r->second);
        }
    };
    ratio("EngineDecode", "ReferenceDecode");
    ratio("EngineInflate", "ReferenceInflate");
    benchmark::Shutdown();
    return 0;
}
