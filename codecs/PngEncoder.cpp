#include "codecs/PngEncoder.h"

#include "codecs/ImageChecksums.h"

#include <array>
#include <cstdlib>

namespace quarn {
namespace {

void PutU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void WriteChunk(std::vector<uint8_t>& out, const char type[5], const uint8_t* data, size_t length) {
    PutU32(out, static_cast<uint32_t>(length));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (length > 0) {
        out.insert(out.end(), data, data + length);
    }
    PutU32(out, ChunkCrc(out.data() + start, length + 4));
}

uint8_t Paeth(uint8_t a, uint8_t b, uint8_t c) {
    int p = a + b - c;
    int pa = std::abs(p - a);
    int pb = std::abs(p - b);
    int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) {
        return a;
    }
    return pb <= pc ? b : c;
}

// Filters `row` (with `above`, zeros for the first row) by `type` into `out`.
void FilterRow(uint8_t* out, const uint8_t* row, const uint8_t* above, size_t length,
               size_t distance, uint32_t type) {
    for (size_t i = 0; i < length; ++i) {
        uint8_t left = i >= distance ? row[i - distance] : 0;
        uint8_t up = above[i];
        uint8_t corner = i >= distance ? above[i - distance] : 0;
        uint8_t predicted = 0;
        switch (type) {
        case 1:
            predicted = left;
            break;
        case 2:
            predicted = up;
            break;
        case 3:
            predicted = static_cast<uint8_t>((left + up) / 2);
            break;
        case 4:
            predicted = Paeth(left, up, corner);
            break;
        default:
            break;
        }
        out[i] = static_cast<uint8_t>(row[i] - predicted);
    }
}

// Each row takes the filter whose output has the smallest byte sum; ties go to the lower type.
// `target` receives the type byte and the filtered row.
void FilterScanline(uint8_t* target, uint8_t* candidate, const uint8_t* row, const uint8_t* above,
                    size_t line, size_t bytesPerPixel) {
    uint64_t bestScore = UINT64_MAX;
    for (uint32_t type = 0; type < 5; ++type) {
        FilterRow(candidate, row, above, line, bytesPerPixel, type);
        uint64_t score = 0;
        for (size_t i = 0; i < line; ++i) {
            score += candidate[i];
        }
        if (score < bestScore) {
            bestScore = score;
            target[0] = static_cast<uint8_t>(type);
            std::copy(candidate, candidate + line, target + 1);
        }
    }
}

// Image data goes out in chunks of about this size, so no chunk length nears its 31-bit limit
// however large the image.
constexpr size_t IdatChunkSize = size_t{1} << 20;

// Patches the length of the chunk that starts at `start` and appends its checksum.
void CloseChunk(std::vector<uint8_t>& out, size_t start) {
    const size_t length = out.size() - start - 8;
    for (int i = 0; i < 4; ++i) {
        out[start + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    }
    PutU32(out, ChunkCrc(out.data() + start + 4, length + 4));
}

void OpenChunk(std::vector<uint8_t>& out, const char type[5]) {
    PutU32(out, 0);
    out.insert(out.end(), type, type + 4);
}

} // namespace

uint32_t PngEncoder::Encode(std::vector<uint8_t>& out, const uint8_t* rgba, uint32_t width,
                            uint32_t height) {
    out.clear();
    workingBytes_ = 0;
    const size_t pixelCount = static_cast<size_t>(width) * height;
    bool opaque = true;
    for (size_t i = 0; i < pixelCount && opaque; ++i) {
        opaque = rgba[i * 4 + 3] == 255;
    }
    const bool rgb = dropOpaqueAlpha && opaque;
    if (uint32_t error = CheckDeflateSettings(deflate)) {
        return error;
    }

    static constexpr std::array<uint8_t, 8> Signature = {137, 80, 78, 71, 13, 10, 26, 10};
    out.insert(out.end(), Signature.begin(), Signature.end());
    std::vector<uint8_t> header;
    PutU32(header, width);
    PutU32(header, height);
    header.push_back(8);               // bit depth
    header.push_back(rgb ? 2 : 6);     // colour type
    header.insert(header.end(), 3, 0); // compression, filter, interlace
    WriteChunk(out, "IHDR", header.data(), header.size());
    for (const auto& [keyword, text] : texts_) {
        if (keyword.size() > 79) {
            return ErrorKeywordTooLong;
        }
        if (keyword.empty()) {
            return ErrorEmptyKeyword;
        }
        std::vector<uint8_t> data(keyword.begin(), keyword.end());
        data.push_back(0);
        data.insert(data.end(), text.begin(), text.end());
        WriteChunk(out, "tEXt", data.data(), data.size());
    }

    // Row by row: two rows of pixels, the filter's trial row and the chosen one are all the
    // encoder holds besides the compressor's bounded state.
    const size_t bytesPerPixel = rgb ? 3 : 4;
    const size_t line = width * bytesPerPixel;
    std::vector<uint8_t> above(line, 0);
    std::vector<uint8_t> row(line);
    std::vector<uint8_t> candidate(line);
    std::vector<uint8_t> filtered(line + 1);
    size_t chunk = out.size();
    OpenChunk(out, "IDAT");
    Deflater deflater(out);
    deflater.Begin(deflate, true);
    workingBytes_ = deflater.GetStateBytes() + 3 * line + line + 1;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* source = rgba + y * width * 4;
        for (size_t x = 0; x < width; ++x) {
            for (size_t channel = 0; channel < bytesPerPixel; ++channel) {
                row[x * bytesPerPixel + channel] = source[x * 4 + channel];
            }
        }
        FilterScanline(filtered.data(), candidate.data(), row.data(), above.data(), line,
                       bytesPerPixel);
        deflater.Write(filtered.data(), filtered.size());
        row.swap(above);
        if (out.size() - chunk >= IdatChunkSize) {
            CloseChunk(out, chunk);
            chunk = out.size();
            OpenChunk(out, "IDAT");
        }
    }
    deflater.Finish();
    CloseChunk(out, chunk);
    WriteChunk(out, "IEND", nullptr, 0);
    return 0;
}

} // namespace quarn
