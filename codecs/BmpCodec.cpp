#include "codecs/BmpCodec.h"

#include "core/io/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t FileHeaderSize = 14;
constexpr uint32_t InfoHeaderSize = 40;
constexpr uint32_t HeadersSize = FileHeaderSize + InfoHeaderSize;
constexpr ImagePixel Opaque = 0xFF000000u;

enum Compression : uint32_t { Rgb = 0, Rle8 = 1, Rle4 = 2, BitFields = 3 };

// The two headers, read field by field (the file header's u32 at offset 2 rules out a struct).
struct BmpHeader {
    uint32_t dataOffset = 0; // bfOffBits
    uint32_t infoSize = 0;
    int32_t width = 0;
    int32_t height = 0; // negative: rows stored top to bottom
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    uint32_t paletteOffset = 0;
    uint32_t rows = 0;
    bool topDown = false;
};

bool ReadHeader(BmpHeader& header, const uint8_t* data, uint32_t size) {
    if (data == nullptr || size < HeadersSize || data[0] != 'B' || data[1] != 'M') {
        return false;
    }
    header.dataOffset = ReadLittleEndian32(data + 10);
    header.infoSize = ReadLittleEndian32(data + 14);
    header.width = static_cast<int32_t>(ReadLittleEndian32(data + 18));
    header.height = static_cast<int32_t>(ReadLittleEndian32(data + 22));
    header.bitCount = ReadLittleEndian16(data + 28);
    header.compression = ReadLittleEndian32(data + 30);
    header.colorsUsed = ReadLittleEndian32(data + 46);
    header.paletteOffset = FileHeaderSize + std::max(header.infoSize, InfoHeaderSize);
    if (header.bitCount < 9) {
        // More entries than the indices can reach would only be read past.
        uint32_t reachable = 1u << header.bitCount;
        if (header.colorsUsed == 0 || header.colorsUsed > reachable) {
            header.colorsUsed = reachable;
        }
    }
    header.topDown = header.height < 0;
    int64_t rows = header.height;
    header.rows = static_cast<uint32_t>(std::abs(rows) & 0xFFFFFFFF);
    return header.width > 0 && header.rows > 0 &&
           static_cast<uint32_t>(header.width) <= MaxBmpDimension && header.rows <= MaxBmpDimension;
}

// Sequential reads that stop at the end of the data.
struct Reader {
    const uint8_t* data;
    uint32_t size;
    uint32_t position;

    bool Has(uint64_t count) const { return position + count <= size; }
    int Byte() { return position < size ? data[position++] : -1; }
};

// Pixels outside the image are dropped here, whatever the sink would do with them.
struct Target {
    uint32_t width;
    uint32_t rows;
    void* context;
    ImagePixelSink sink;

    void Put(int64_t x, int64_t y, ImagePixel pixel) const {
        if (x >= 0 && y >= 0 && x < width && y < rows) {
            sink(static_cast<int32_t>(x), static_cast<int32_t>(y), pixel, context);
        }
    }
};

ImagePixel PaletteEntry(const std::vector<ImagePixel>& palette, uint32_t index) {
    // An index past the palette reads opaque black rather than whatever follows it.
    return index < palette.size() ? palette[index] : Opaque;
}

// One colour channel given by a mask, scaled to 8 bits.
struct Channel {
    uint32_t mask = 0;
    uint32_t shift = 0;
    uint32_t maximum = 0;

    explicit Channel(uint32_t channelMask) : mask(channelMask) {
        if (mask == 0) {
            return;
        }
        while (((mask >> shift) & 1u) == 0) {
            ++shift;
        }
        maximum = mask >> shift;
    }
    uint32_t Get(uint32_t value) const {
        if (maximum == 0) {
            return 0;
        }
        uint64_t raw = (value & mask) >> shift;
        return static_cast<uint32_t>(raw * 255 / maximum);
    }
};

bool DecodeRle(Reader& in, const BmpHeader& header, const std::vector<ImagePixel>& palette,
               const Target& target) {
    const bool four = header.compression == Rle4;
    int64_t x = 0;
    int64_t y = static_cast<int64_t>(header.rows) - 1;
    auto emit = [&](uint32_t index) { target.Put(x++, y, PaletteEntry(palette, index)); };
    while (in.Has(2) && y >= 0) {
        uint32_t count = static_cast<uint32_t>(in.Byte());
        uint32_t value = static_cast<uint32_t>(in.Byte());
        if (count > 0) {
            for (uint32_t i = 0; i < count; ++i) {
                emit(four ? ((i & 1u) == 0 ? value >> 4 : value & 15u) : value);
            }
            continue;
        }
        if (value == 0) {
            --y;
            x = 0;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (!in.Has(2)) {
                break;
            }
            int64_t dx = in.Byte();
            int64_t dy = in.Byte();
            // The skipped pixels take palette entry 0: to the end of this row, the rows
            // between, then up to the new position.
            int64_t endX = x + dx;
            int64_t endY = y - dy;
            while (y > endY && y >= 0) {
                while (x < target.width) {
                    emit(0);
                }
                --y;
                x = 0;
            }
            while (x < endX && x < target.width) {
                emit(0);
            }
            x = endX;
        } else {
            uint32_t bytes = four ? (value + 1) / 2 : value;
            for (uint32_t i = 0; i < value; ++i) {
                int byte = four ? (i % 2 == 0 ? in.Byte() : in.data[in.position - 1]) : in.Byte();
                if (byte < 0) {
                    return true;
                }
                emit(four ? ((i & 1u) == 0 ? static_cast<uint32_t>(byte) >> 4
                                           : static_cast<uint32_t>(byte) & 15u)
                          : static_cast<uint32_t>(byte));
            }
            if (bytes % 2 == 1) {
                in.Byte();
            }
        }
    }
    return true;
}

bool DecodeRows(Reader& in, const BmpHeader& header, const std::vector<ImagePixel>& palette,
                const Target& target, uint32_t redMask, uint32_t greenMask, uint32_t blueMask,
                uint32_t alphaMask) {
    const uint32_t bits = header.bitCount;
    const uint64_t stride = ((static_cast<uint64_t>(header.width) * bits + 31) / 32) * 4;
    if (!in.Has(stride * header.rows)) {
        return false;
    }
    const uint8_t* base = in.data + in.position;
    auto rowAt = [&](uint32_t y) {
        uint32_t stored = header.topDown ? y : header.rows - 1 - y;
        return base + stride * stored;
    };
    const Channel red(redMask);
    const Channel green(greenMask);
    const Channel blue(blueMask);
    const Channel alpha(alphaMask);
    // Most 32-bit files leave the fourth byte 0; taking that as alpha would make them invisible.
    bool useAlpha = false;
    if (alphaMask != 0) {
        for (uint32_t y = 0; y < header.rows && !useAlpha; ++y) {
            const uint8_t* row = rowAt(y);
            for (uint32_t x = 0; x < target.width && !useAlpha; ++x) {
                uint32_t value =
                    bits == 32 ? ReadLittleEndian32(row + x * 4) : ReadLittleEndian16(row + x * 2);
                useAlpha = (value & alphaMask) != 0;
            }
        }
    }
    for (uint32_t y = 0; y < header.rows; ++y) {
        const uint8_t* row = rowAt(y);
        for (uint32_t x = 0; x < target.width; ++x) {
            ImagePixel pixel = Opaque;
            if (bits <= 8) {
                uint32_t bit = x * bits;
                uint32_t index = (row[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                pixel = PaletteEntry(palette, index);
            } else if (bits == 24) {
                const uint8_t* p = row + x * 3;
                pixel = Opaque | static_cast<uint32_t>(p[2]) << 16 |
                        static_cast<uint32_t>(p[1]) << 8 | p[0];
            } else {
                uint32_t value =
                    bits == 32 ? ReadLittleEndian32(row + x * 4) : ReadLittleEndian16(row + x * 2);
                uint32_t a = useAlpha ? alpha.Get(value) : 255;
                pixel = a << 24 | red.Get(value) << 16 | green.Get(value) << 8 | blue.Get(value);
            }
            target.Put(x, y, pixel);
        }
    }
    return true;
}

} // namespace

void BmpCodec::GetTextureFormat(ImageInfo& info, const uint8_t* data, uint32_t size) {
    info = ImageInfo{};
    BmpHeader header;
    if (!ReadHeader(header, data, size)) {
        return;
    }
    info.width = static_cast<uint32_t>(header.width);
    info.height = header.rows;
    info.bitsPerPixel = 24;
    info.paletted = header.bitCount < 9 ? 1 : 0;
}

bool BmpCodec::Load(const uint8_t* data, uint32_t size, void* context, ImagePixelSink sink) {
    error_.clear();
    BmpHeader header;
    if (!ReadHeader(header, data, size) || sink == nullptr) {
        return false;
    }
    Reader in{data, size, header.paletteOffset};
    std::vector<ImagePixel> palette;
    for (uint32_t i = 0; i < header.colorsUsed; ++i) {
        if (!in.Has(4)) {
            error_ = "Bad palette";
            in.position = size;
            break;
        }
        if (palette.size() < 256) {
            palette.push_back(Opaque | (ReadLittleEndian32(data + in.position) & 0xFFFFFF));
        }
        in.position += 4;
    }
    const Target target{static_cast<uint32_t>(header.width), header.rows, context, sink};
    const uint32_t bits = header.bitCount;
    switch (header.compression) {
    case Rgb:
        if (bits == 16) {
            return DecodeRows(in, header, palette, target, 0x7C00, 0x03E0, 0x001F, 0);
        }
        if (bits == 32) {
            return DecodeRows(in, header, palette, target, 0xFF0000, 0xFF00, 0xFF, 0xFF000000u);
        }
        if (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 24) {
            return DecodeRows(in, header, palette, target, 0, 0, 0, 0);
        }
        return false;
    case Rle8:
    case Rle4:
        // Run-length data is stored bottom-up only.
        if (header.topDown || bits != (header.compression == Rle8 ? 8 : 4)) {
            return false;
        }
        return DecodeRle(in, header, palette, target);
    case BitFields: {
        if (bits != 16 && bits != 32) {
            return false;
        }
        // The masks follow the 40-byte info header (inside it for the longer versions); the
        // alpha mask exists only in headers of 56 bytes or more.
        constexpr uint32_t Masks = HeadersSize;
        if (size < Masks + 12) {
            return false;
        }
        uint32_t alphaMask =
            header.infoSize >= 56 && size >= Masks + 16 ? ReadLittleEndian32(data + Masks + 12) : 0;
        uint32_t start = header.dataOffset >= Masks + 12 && header.dataOffset <= size
                             ? header.dataOffset
                             : std::max(in.position, Masks + 12);
        Reader pixels{data, size, start};
        return DecodeRows(pixels, header, palette, target, ReadLittleEndian32(data + Masks),
                          ReadLittleEndian32(data + Masks + 4),
                          ReadLittleEndian32(data + Masks + 8), alphaMask);
    }
    default:
        return false;
    }
}

uint32_t BmpCodec::Save(ImageOutputStream& stream, uint32_t width, uint32_t height,
                        uint32_t bitsPerPixel, bool alpha, void* context, ImagePixelSource source) {
    (void)bitsPerPixel, (void)alpha; // always 24 bits
    const uint32_t padding = width == 0 ? 0 : 3 - ((width * 3 - 1) % 4);
    const uint32_t rowSize = width * 3 + padding;
    const uint32_t imageSize = rowSize * height;
    std::array<uint8_t, HeadersSize> headers{};
    headers[0] = 'B';
    headers[1] = 'M';
    WriteLittleEndian32(&headers[2], imageSize + HeadersSize);
    WriteLittleEndian32(&headers[10], HeadersSize);
    WriteLittleEndian32(&headers[14], InfoHeaderSize);
    WriteLittleEndian32(&headers[18], width);
    WriteLittleEndian32(&headers[22], height);
    WriteLittleEndian16(&headers[26], 1);
    WriteLittleEndian16(&headers[28], 24);
    WriteLittleEndian32(&headers[34], imageSize);
    uint32_t written = stream.Write(headers.data(), HeadersSize);
    std::vector<uint8_t> row(rowSize, 0);
    if (padding > 0) {
        row[width * 3] = static_cast<uint8_t>(padding);
    }
    for (uint32_t y = height; y-- > 0;) {
        for (uint32_t x = 0; x < width; ++x) {
            ImagePixel pixel = source(x, y, context);
            row[x * 3] = static_cast<uint8_t>(pixel);
            row[x * 3 + 1] = static_cast<uint8_t>(pixel >> 8);
            row[x * 3 + 2] = static_cast<uint8_t>(pixel >> 16);
        }
        written += stream.Write(row.data(), rowSize);
    }
    return written;
}

std::unique_ptr<ImageCodec> CreateBmpCodec() {
    return std::make_unique<BmpCodec>();
}

} // namespace quarn
