#include "codecs/PngDecoder.h"

#include "codecs/ImageChecksums.h"
#include "core/io/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <tmmintrin.h>
#endif

namespace quarn {
namespace {

bool ChunkTypeIs(const uint8_t* type, const char* name) {
    return std::memcmp(type, name, 4) == 0;
}

// The seven interlace passes: first column, first row, column step, row step.
constexpr uint32_t PassX[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr uint32_t PassY[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr uint32_t PassDx[7] = {8, 8, 4, 4, 2, 2, 1};
constexpr uint32_t PassDy[7] = {8, 8, 8, 4, 4, 2, 2};

uint32_t PassExtent(uint32_t size, uint32_t start, uint32_t step) {
    return size > start ? (size - start + step - 1) / step : 0;
}

size_t RowBytes(uint32_t width, uint32_t bitsPerPixel) {
    return size_t((uint64_t(width) * bitsPerPixel + 7) / 8);
}

uint8_t Paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = p > a ? p - a : a - p;
    const int pb = p > b ? p - b : b - p;
    const int pc = p > c ? p - c : c - p;
    if (pa <= pb && pa <= pc) {
        return uint8_t(a);
    }
    return uint8_t(pb <= pc ? b : c);
}

#if defined(__SSE2__)
// The average and Paeth filters of pixels of 3 to 8 bytes, a pixel's bytes side by side in
// lanes: each byte depends on the byte one pixel to its left, so working byte by byte chains
// every byte of the row, and pixel by pixel only every pixel. Paeth works one pixel at a time
// in 16-bit lanes.
// Pixels of 3 and 6 bytes are put together byte by byte: a copy of an odd size through memory
// stalls the load that reads it back.
template <size_t Distance>
__m128i LoadPixel(const uint8_t* p) {
    uint64_t bytes = 0;
    if constexpr (Distance == 4 || Distance == 8) {
        std::memcpy(&bytes, p, Distance);
    } else {
        for (size_t k = 0; k < Distance; ++k) {
            bytes |= uint64_t(p[k]) << (8 * k);
        }
    }
    return _mm_unpacklo_epi8(_mm_cvtsi64_si128(int64_t(bytes)), _mm_setzero_si128());
}

// `lanes` holds bytes (0 to 255).
template <size_t Distance>
void StorePixel(uint8_t* p, __m128i lanes) {
    const uint64_t bytes = uint64_t(_mm_cvtsi128_si64(_mm_packus_epi16(lanes, lanes)));
    if constexpr (Distance == 4 || Distance == 8) {
        std::memcpy(p, &bytes, Distance);
    } else {
        for (size_t k = 0; k < Distance; ++k) {
            p[k] = uint8_t(bytes >> (8 * k));
        }
    }
}

__m128i Absolute(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// The average filter a block of pixels at a time, in byte lanes. The result r = x + (a + b) / 2
// (a left, b above, rounded down) is carried as its complement: with ~a and ~b, the rounding-up
// byte average gives ~((a + b) / 2), so ~r = avg(~a, ~b) - x, two operations from one pixel to
// the next, plus the shift that moves a pixel's lanes onto the next one's. `left` carries the
// complement of the pixel left of the block in and of the block's last pixel out.
template <size_t Distance, size_t... K>
__m128i UnfilterAverageBlock(__m128i& left, __m128i x, __m128i notAbove,
                             std::index_sequence<K...>) {
    const __m128i firstPixel = _mm_srli_si128(_mm_set1_epi8(-1), 16 - Distance);
    __m128i result = _mm_setzero_si128();
    __m128i a = left;
    ((a = _mm_sub_epi8(_mm_avg_epu8(a, notAbove), x),
      result = _mm_or_si128(result, _mm_and_si128(a, _mm_slli_si128(firstPixel, K * Distance))),
      left = _mm_srli_si128(a, K * Distance), a = _mm_slli_si128(a, Distance)),
     ...);
    return _mm_xor_si128(result, _mm_set1_epi8(-1));
}

template <size_t Distance>
void UnfilterAveragePixels(uint8_t* row, const uint8_t* previous, size_t length) {
    // Whole pixels of a 16-byte load; blocks of 12 bytes are stored as 8 and 4, so that no
    // store overlaps the next block's load.
    constexpr size_t Pixels = 16 / Distance == 5 ? 4 : 16 / Distance;
    constexpr size_t Step = Pixels * Distance;
    const __m128i ones = _mm_set1_epi8(-1);
    __m128i left = ones; // the complement of the zeros left of the row
    size_t i = 0;
    for (; i + 16 <= length; i += Step) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i notAbove =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i)), ones);
        const __m128i result =
            UnfilterAverageBlock<Distance>(left, x, notAbove, std::make_index_sequence<Pixels>());
        if constexpr (Step == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), result);
        } else {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(row + i), result);
            const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(result, 8)));
            std::memcpy(row + i + 8, &last, 4);
        }
    }
    for (; i < length; ++i) {
        row[i] = uint8_t(row[i] + (((i >= Distance ? row[i - Distance] : 0) + previous[i]) >> 1));
    }
}

// The same choice as Paeth() below, lane by lane: with p = a + b - c, |p - a| = |b - c|,
// |p - b| = |a - c| and |p - c| = |a + b - 2c|.
template <size_t Distance>
void UnfilterPaethPixels(uint8_t* row, const uint8_t* previous, size_t length) {
    __m128i a = _mm_setzero_si128();
    __m128i c = _mm_setzero_si128();
    for (size_t i = 0; i < length; i += Distance) {
        const __m128i b = LoadPixel<Distance>(previous + i);
        const __m128i pa = Absolute(_mm_sub_epi16(b, c));
        const __m128i pb = Absolute(_mm_sub_epi16(a, c));
        const __m128i pc = Absolute(_mm_sub_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, c)));
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i useC = _mm_and_si128(notA, _mm_cmpgt_epi16(pb, pc));
        const __m128i predictor = _mm_or_si128(
            _mm_or_si128(_mm_andnot_si128(notA, a), _mm_andnot_si128(useC, _mm_and_si128(notA, b))),
            _mm_and_si128(useC, c));
        a = _mm_and_si128(_mm_add_epi16(LoadPixel<Distance>(row + i), predictor),
                          _mm_set1_epi16(0xFF));
        StorePixel<Distance>(row + i, a);
        c = b;
    }
}

// Average (type 3) or Paeth (type 4) pixel by pixel, for RGB and RGBA of 8 and 16 bits and
// grey-alpha of 16; false for other pixel sizes, which go byte by byte.
bool UnfilterPixels(uint8_t* row, const uint8_t* previous, size_t length, size_t distance,
                    uint8_t type) {
    if (length % distance != 0) {
        return false;
    }
    switch (distance) {
    case 3:
        type == 3 ? UnfilterAveragePixels<3>(row, previous, length)
                  : UnfilterPaethPixels<3>(row, previous, length);
        return true;
    case 4:
        type == 3 ? UnfilterAveragePixels<4>(row, previous, length)
                  : UnfilterPaethPixels<4>(row, previous, length);
        return true;
    case 6:
        type == 3 ? UnfilterAveragePixels<6>(row, previous, length)
                  : UnfilterPaethPixels<6>(row, previous, length);
        return true;
    case 8:
        type == 3 ? UnfilterAveragePixels<8>(row, previous, length)
                  : UnfilterPaethPixels<8>(row, previous, length);
        return true;
    default:
        return false;
    }
}
#endif

// Undoes one row's filter in place; `previous` is the row above, already unfiltered, or null
// for the first row (which then counts as zeros).
bool UnfilterRow(uint8_t* row, const uint8_t* previous, size_t length, size_t distance,
                 uint8_t type) {
    switch (type) {
    case 0:
        return true;
    case 1:
        for (size_t i = distance; i < length; ++i) {
            row[i] = uint8_t(row[i] + row[i - distance]);
        }
        return true;
    case 2:
        if (previous != nullptr) {
            for (size_t i = 0; i < length; ++i) {
                row[i] = uint8_t(row[i] + previous[i]);
            }
        }
        return true;
    case 3:
#if defined(__SSE2__)
        if (previous != nullptr && UnfilterPixels(row, previous, length, distance, type)) {
            return true;
        }
#endif
        if (previous != nullptr) {
            for (size_t i = 0; i < distance && i < length; ++i) {
                row[i] = uint8_t(row[i] + (previous[i] >> 1));
            }
            for (size_t i = distance; i < length; ++i) {
                row[i] = uint8_t(row[i] + ((row[i - distance] + previous[i]) >> 1));
            }
        } else {
            for (size_t i = distance; i < length; ++i) {
                row[i] = uint8_t(row[i] + (row[i - distance] >> 1));
            }
        }
        return true;
    case 4:
#if defined(__SSE2__)
        if (previous != nullptr && UnfilterPixels(row, previous, length, distance, type)) {
            return true;
        }
#endif
        if (previous != nullptr) {
            for (size_t i = 0; i < distance && i < length; ++i) {
                row[i] = uint8_t(row[i] + previous[i]);
            }
            for (size_t i = distance; i < length; ++i) {
                row[i] =
                    uint8_t(row[i] + Paeth(row[i - distance], previous[i], previous[i - distance]));
            }
        } else {
            for (size_t i = distance; i < length; ++i) {
                row[i] = uint8_t(row[i] + row[i - distance]);
            }
        }
        return true;
    default:
        return false;
    }
}

// Unfilters `height` rows of (1 filter byte + rowBytes) in place.
bool UnfilterRows(uint8_t* data, uint32_t height, size_t rowBytes, size_t distance) {
    const uint8_t* previous = nullptr;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = data + size_t(y) * (rowBytes + 1);
        if (!UnfilterRow(row + 1, previous, rowBytes, distance, row[0])) {
            return false;
        }
        previous = row + 1;
    }
    return true;
}

uint32_t ReadBits(const uint8_t* row, size_t bitPosition, uint32_t bits) {
    const uint32_t shift = 8 - bits - uint32_t(bitPosition & 7);
    return (row[bitPosition >> 3] >> shift) & ((1u << bits) - 1);
}

void WriteBits(uint8_t* row, size_t bitPosition, uint32_t bits, uint32_t value) {
    const uint32_t shift = 8 - bits - uint32_t(bitPosition & 7);
    const uint32_t mask = ((1u << bits) - 1) << shift;
    row[bitPosition >> 3] = uint8_t((row[bitPosition >> 3] & ~mask) | (value << shift));
}

// Rows of unfiltered samples, possibly with gaps between rows. The filtered rows of a plain
// image are unfiltered in place as they are first asked for, in order, so that each row is
// converted while it is still in the cache.
class RowView {
public:
    RowView() = default;
    RowView(const uint8_t* base, size_t stride) : base_(base), stride_(stride) {}
    // Rows behind their filter bytes, whose filter types have been checked.
    static RowView Filtered(uint8_t* data, uint32_t height, size_t rowBytes, size_t distance) {
        RowView view(data + 1, rowBytes + 1);
        view.pending_ = height;
        view.distance_ = distance;
        return view;
    }

    const uint8_t* Row(uint32_t y) const {
        for (; unfiltered_ <= y && unfiltered_ < pending_; ++unfiltered_) {
            uint8_t* row = const_cast<uint8_t*>(base_) + size_t(unfiltered_) * stride_;
            UnfilterRow(row, unfiltered_ > 0 ? row - stride_ : nullptr, stride_ - 1, distance_,
                        row[-1]);
        }
        return base_ + size_t(y) * stride_;
    }

private:
    const uint8_t* base_ = nullptr;
    size_t stride_ = 0;
    size_t distance_ = 0;
    uint32_t pending_ = 0;
    mutable uint32_t unfiltered_ = 0;
};

#if defined(__SSE2__)
// RGB to RGBA four pixels to a shuffle, from the left, where the processor has byte shuffles:
// answers how many pixels it converted. Each block is loaded whole before it is stored, and
// stores stay behind the next block's load when the rows share memory (see ConvertToRgba).
__attribute__((target("ssse3"))) uint32_t ExpandRgbShuffled(uint8_t* out, const uint8_t* in,
                                                            uint32_t width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    uint32_t x = 0;
    // Loads of 16 bytes for 12 stay inside the row.
    for (; x + 6 <= width; x += 4) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(x) * 3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + size_t(x) * 4),
                         _mm_or_si128(_mm_shuffle_epi8(rgb, spread), opaque));
    }
    return x;
}
#endif

// Without the shuffles the caller converts every pixel.
uint32_t ExpandRgb(uint8_t* out, const uint8_t* in, uint32_t width) {
#if defined(__SSE2__)
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    return shuffles ? ExpandRgbShuffled(out, in, width) : 0;
#else
    (void)out, (void)in, (void)width;
    return 0;
#endif
}

// The output may share the filtered rows' memory, ending no later than they do (see
// ReadImageRows): row y is written only after row y + 1 is unfiltered, as it may overwrite
// row y's samples that row y + 1 unfilters from, and each pixel's samples are all read before
// any of its bytes is written, as its own output may cover them.
uint32_t ConvertToRgba(uint8_t* out, const RowView& view, const PngDecoder::Info& info) {
    const uint32_t w = info.width;
    const uint32_t h = info.height;
    const uint32_t depth = info.bitDepth;
    for (uint32_t y = 0; y < h; ++y) {
        if (y + 1 < h) {
            view.Row(y + 1);
        }
        const uint8_t* in = view.Row(y);
        uint8_t* o = out + size_t(y) * w * 4;
        switch (info.colourType) {
        case 0:
            if (depth == 8) {
                for (uint32_t x = 0; x < w; ++x, o += 4) {
                    const uint8_t v = in[x];
                    o[0] = o[1] = o[2] = v;
                    o[3] = info.keyDefined && v == info.keyRed ? 0 : 255;
                }
            } else if (depth == 16) {
                for (uint32_t x = 0; x < w; ++x, o += 4) {
                    const uint16_t v = ReadBigEndian16(in + size_t(x) * 2);
                    o[0] = o[1] = o[2] = uint8_t(v >> 8);
                    o[3] = info.keyDefined && v == info.keyRed ? 0 : 255;
                }
            } else {
                const uint32_t maximum = (1u << depth) - 1;
                for (uint32_t x = 0; x < w; ++x, o += 4) {
                    const uint32_t v = ReadBits(in, size_t(x) * depth, depth);
                    o[0] = o[1] = o[2] = uint8_t(v * 255 / maximum);
                    o[3] = info.keyDefined && v == info.keyRed ? 0 : 255;
                }
            }
            break;
        case 2:
            if (depth == 8) {
                uint32_t x = 0;
                if (!info.keyDefined) {
                    x = ExpandRgb(o, in, w);
                    o += size_t(x) * 4;
                    in += size_t(x) * 3;
                }
                for (; x < w; ++x, o += 4, in += 3) {
                    const uint8_t r = in[0], g = in[1], b = in[2];
                    o[0] = r;
                    o[1] = g;
                    o[2] = b;
                    o[3] = info.keyDefined && r == info.keyRed && g == info.keyGreen &&
                                   b == info.keyBlue
                               ? 0
                               : 255;
                }
            } else {
                for (uint32_t x = 0; x < w; ++x, o += 4, in += 6) {
                    o[0] = in[0];
                    o[1] = in[2];
                    o[2] = in[4];
                    o[3] = info.keyDefined && ReadBigEndian16(in) == info.keyRed &&
                                   ReadBigEndian16(in + 2) == info.keyGreen &&
                                   ReadBigEndian16(in + 4) == info.keyBlue
                               ? 0
                               : 255;
                }
            }
            break;
        case 3:
            for (uint32_t x = 0; x < w; ++x, o += 4) {
                const uint32_t index = depth == 8 ? in[x] : ReadBits(in, size_t(x) * depth, depth);
                if (index >= info.paletteSize) {
                    return depth == 8 ? PngDecoder::ErrorPaletteIndex
                                      : PngDecoder::ErrorLowBitPaletteIndex;
                }
                std::memcpy(o, &info.palette[size_t(index) * 4], 4);
            }
            break;
        case 4:
            if (depth == 8) {
                for (uint32_t x = 0; x < w; ++x, o += 4, in += 2) {
                    const uint8_t grey = in[0], alpha = in[1];
                    o[0] = o[1] = o[2] = grey;
                    o[3] = alpha;
                }
            } else {
                for (uint32_t x = 0; x < w; ++x, o += 4, in += 4) {
                    const uint8_t grey = in[0], alpha = in[2];
                    o[0] = o[1] = o[2] = grey;
                    o[3] = alpha;
                }
            }
            break;
        case 6:
            if (depth == 8) {
                std::memmove(o, in, size_t(w) * 4);
            } else {
                for (uint32_t x = 0; x < w; ++x, o += 4, in += 8) {
                    o[0] = in[0];
                    o[1] = in[2];
                    o[2] = in[4];
                    o[3] = in[6];
                }
            }
            break;
        default:
            break;
        }
    }
    return PngDecoder::ErrorNone;
}

} // namespace

uint32_t PngChannelCount(uint32_t colourType) {
    switch (colourType) {
    case 0:
        return 1;
    case 2:
        return 3;
    case 3:
        return 1;
    case 4:
        return 2;
    case 6:
        return 4;
    default:
        return 0;
    }
}

uint32_t PngDecoder::ReadHeader(const uint8_t* data, size_t size) {
    static constexpr uint8_t Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (size < 29) {
        return ErrorTooShort;
    }
    if (std::memcmp(data, Signature, 8) != 0) {
        return ErrorSignature;
    }
    if (!ChunkTypeIs(data + 12, "IHDR")) {
        return ErrorFirstChunkNotHeader;
    }
    info_.width = ReadBigEndian32(data + 16);
    info_.height = ReadBigEndian32(data + 20);
    info_.bitDepth = data[24];
    info_.colourType = data[25];
    info_.compressionMethod = data[26];
    info_.filterMethod = data[27];
    info_.interlaceMethod = data[28];
    if (!settings.ignoreCrc &&
        (size < 33 || ChunkCrc(data + 12, 17) != ReadBigEndian32(data + 29))) {
        return ErrorChunkCrc;
    }
    if (info_.compressionMethod != 0) {
        return ErrorCompressionMethod;
    }
    if (info_.filterMethod != 0) {
        return ErrorFilterMethod;
    }
    if (info_.interlaceMethod > 1) {
        return ErrorInterlaceMethod;
    }
    const uint32_t depth = info_.bitDepth;
    switch (info_.colourType) {
    case 0:
        if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) {
            return ErrorBitDepth;
        }
        break;
    case 3:
        if (depth != 1 && depth != 2 && depth != 4 && depth != 8) {
            return ErrorBitDepth;
        }
        break;
    case 2:
    case 4:
    case 6:
        if (depth != 8 && depth != 16) {
            return ErrorBitDepth;
        }
        break;
    default:
        return ErrorColourType;
    }
    if (info_.width == 0 || info_.height == 0 || uint64_t(info_.width) * info_.height > MaxPixels) {
        return ErrorImageSize;
    }
    return ErrorNone;
}

uint32_t PngDecoder::ReadInfoChunk(const uint8_t* type, const uint8_t* body, uint32_t length) {
    if (ChunkTypeIs(type, "PLTE")) {
        if (length / 3 > 256) {
            return ErrorPaletteTooLarge;
        }
        info_.paletteSize = length / 3;
        for (uint32_t i = 0; i < info_.paletteSize; ++i) {
            std::memcpy(&info_.palette[size_t(i) * 4], body + size_t(i) * 3, 3);
            info_.palette[size_t(i) * 4 + 3] = 255;
        }
    } else if (ChunkTypeIs(type, "tRNS")) {
        if (info_.colourType == 3) {
            if (length > info_.paletteSize) {
                return ErrorTransparencyPastPalette;
            }
            for (uint32_t i = 0; i < length; ++i) {
                info_.palette[size_t(i) * 4 + 3] = body[i];
            }
        } else if (info_.colourType == 0) {
            if (length != 2) {
                return ErrorGreyTransparencySize;
            }
            info_.keyDefined = true;
            info_.keyRed = info_.keyGreen = info_.keyBlue = ReadBigEndian16(body);
        } else if (info_.colourType == 2) {
            if (length != 6) {
                return ErrorColourTransparencySize;
            }
            info_.keyDefined = true;
            info_.keyRed = ReadBigEndian16(body);
            info_.keyGreen = ReadBigEndian16(body + 2);
            info_.keyBlue = ReadBigEndian16(body + 4);
        } else {
            return ErrorTransparencyWithAlpha;
        }
    } else if (ChunkTypeIs(type, "bKGD")) {
        if (info_.colourType == 3) {
            if (length != 1) {
                return ErrorPaletteBackgroundSize;
            }
            info_.backgroundDefined = true;
            info_.backgroundRed = info_.backgroundGreen = info_.backgroundBlue = body[0];
        } else if (info_.colourType == 0 || info_.colourType == 4) {
            if (length != 2) {
                return ErrorGreyBackgroundSize;
            }
            info_.backgroundDefined = true;
            info_.backgroundRed = info_.backgroundGreen = info_.backgroundBlue =
                ReadBigEndian16(body);
        } else {
            if (length != 6) {
                return ErrorColourBackgroundSize;
            }
            info_.backgroundDefined = true;
            info_.backgroundRed = ReadBigEndian16(body);
            info_.backgroundGreen = ReadBigEndian16(body + 2);
            info_.backgroundBlue = ReadBigEndian16(body + 4);
        }
    } else if (ChunkTypeIs(type, "tEXt") && settings.readText) {
        const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(body, 0, length));
        const uint8_t* bodyEnd = body + length;
        const uint8_t* keywordEnd = zero != nullptr ? zero : bodyEnd;
        const uint8_t* text = zero != nullptr ? zero + 1 : bodyEnd;
        info_.texts.emplace_back(std::string(body, keywordEnd), std::string(text, bodyEnd));
    }
    return ErrorNone;
}

uint32_t PngDecoder::ReadChunks(const uint8_t* data, size_t size) {
    size_t position = 33;
    for (;;) {
        if (position > size || size - position < 9) {
            return ErrorChunkHeaderPastEnd;
        }
        const uint32_t length = ReadBigEndian32(data + position);
        if (length > 2147483647u) {
            return ErrorChunkLength;
        }
        if (size - position < size_t(length) + 12) {
            return ErrorChunkPastEnd;
        }
        const uint8_t* type = data + position + 4;
        const uint8_t* body = type + 4;
        const bool end = ChunkTypeIs(type, "IEND");
        if (ChunkTypeIs(type, "IDAT")) {
            imageData_.push_back({body, length});
        } else if (uint32_t error = ReadInfoChunk(type, body, length)) {
            return error;
        }
        if (!settings.ignoreCrc &&
            ChunkCrc(type, size_t(length) + 4) != ReadBigEndian32(body + length)) {
            return ErrorChunkCrc;
        }
        position += size_t(length) + 12;
        if (end) {
            return ErrorNone;
        }
    }
}

namespace {

// The image's rows after inflating, unfiltering and de-interlacing: they stay in the filtered
// data of a plain image (behind their filter bytes) or move to `image` for an interlaced one.
struct ImageRows {
    std::vector<uint8_t> image;
    RowView view{};
    bool inPixels = false; // the filtered rows lie in the pixels' own memory
};

// The most a deflate stream can inflate to: 258 bytes for every two bits, a length and a
// distance code of one bit each.
constexpr uint64_t MaxInflateRatio = 1032;

// An image converted to RGBA rows is inflated into the pixels' memory, at its end, when the
// filtered rows take no more room than the pixels and a row's filter byte each: converted in
// order, each row then ends before the next filtered row starts, and the image needs no second
// buffer. Only a stream that can fill it gets that memory, which is filled with zeros: a header
// that claims more than the data holds fails in the separate buffer, which no byte touches.
uint32_t ReadImageRows(const PngDecoder::Info& info, bool ignoreChecksum,
                       std::span<const InflateInput> compressed, std::unique_ptr<uint8_t[]>& buffer,
                       size_t& capacity, std::vector<uint8_t>* rgbaPixels, ImageRows& rows) {
    const uint32_t bpp = PngChannelCount(info.colourType) * info.bitDepth;
    const size_t distance = (bpp + 7) / 8;
    const bool interlaced = info.interlaceMethod == 1;

    // The exact size of the filtered rows, so valid images always fit and nothing more does.
    uint64_t expected = 0;
    if (interlaced) {
        for (int pass = 0; pass < 7; ++pass) {
            const uint32_t pw = PassExtent(info.width, PassX[pass], PassDx[pass]);
            const uint32_t ph = PassExtent(info.height, PassY[pass], PassDy[pass]);
            if (pw != 0 && ph != 0) {
                expected += uint64_t(ph) * (RowBytes(pw, bpp) + 1);
            }
        }
    } else {
        expected = uint64_t(info.height) * (RowBytes(info.width, bpp) + 1);
    }
    const size_t filteredSize = static_cast<size_t>(expected);
    const size_t rgbaSize = size_t(info.width) * info.height * 4;
    uint64_t compressedSize = 0;
    for (const InflateInput& piece : compressed) {
        compressedSize += piece.size;
    }
    uint8_t* filtered = nullptr;
    if (rgbaPixels != nullptr && !interlaced && filteredSize <= rgbaSize + info.height &&
        filteredSize <= compressedSize * MaxInflateRatio) {
        const size_t size = std::max(rgbaSize, filteredSize);
        rgbaPixels->resize(size);
        filtered = rgbaPixels->data() + (size - filteredSize);
        rows.inPixels = true;
    } else {
        // Every byte is written by the decompressor before it is read, so no zero fill.
        if (capacity < filteredSize) {
            buffer.reset();
            buffer = std::make_unique_for_overwrite<uint8_t[]>(filteredSize);
            capacity = filteredSize;
        }
        filtered = buffer.get();
    }
    size_t written = 0;
    if (uint32_t error =
            ZlibDecompress(compressed, filtered, filteredSize, written, ignoreChecksum)) {
        return error;
    }
    if (written < filteredSize) {
        return PngDecoder::ErrorImageDataShort;
    }

    const size_t rowBytes = RowBytes(info.width, bpp);
    if (!interlaced) {
        for (uint32_t y = 0; y < info.height; ++y) {
            if (filtered[size_t(y) * (rowBytes + 1)] > 4) {
                return PngDecoder::ErrorFilterType;
            }
        }
        rows.view = RowView::Filtered(filtered, info.height, rowBytes, distance);
    } else {
        rows.image.assign(rowBytes * info.height, 0);
        size_t offset = 0;
        for (int pass = 0; pass < 7; ++pass) {
            const uint32_t pw = PassExtent(info.width, PassX[pass], PassDx[pass]);
            const uint32_t ph = PassExtent(info.height, PassY[pass], PassDy[pass]);
            if (pw == 0 || ph == 0) {
                continue;
            }
            const size_t passRowBytes = RowBytes(pw, bpp);
            uint8_t* passData = filtered + offset;
            if (!UnfilterRows(passData, ph, passRowBytes, distance)) {
                return PngDecoder::ErrorFilterType;
            }
            for (uint32_t py = 0; py < ph; ++py) {
                const uint8_t* in = passData + size_t(py) * (passRowBytes + 1) + 1;
                uint8_t* out =
                    rows.image.data() + size_t(PassY[pass] + py * PassDy[pass]) * rowBytes;
                for (uint32_t px = 0; px < pw; ++px) {
                    const size_t x = PassX[pass] + size_t(px) * PassDx[pass];
                    if (bpp >= 8) {
                        std::memcpy(out + x * distance, in + size_t(px) * distance, distance);
                    } else {
                        WriteBits(out, x * bpp, bpp, ReadBits(in, size_t(px) * bpp, bpp));
                    }
                }
            }
            offset += size_t(ph) * (passRowBytes + 1);
        }
        rows.view = RowView{rows.image.data(), rowBytes};
    }
    return PngDecoder::ErrorNone;
}

// The rows in the form the settings ask for: the file's own samples, or converted.
uint32_t StorePixels(std::vector<uint8_t>& pixels, const ImageRows& rows,
                     const PngDecoder::Info& info, const PngDecoder::Settings& settings) {
    const RowView& view = rows.view;
    const size_t pixelCount = size_t(info.width) * info.height;
    if (rows.inPixels) {
        const uint32_t error = ConvertToRgba(pixels.data(), view, info);
        pixels.resize(pixelCount * 4);
        return error;
    }
    const uint32_t bpp = PngChannelCount(info.colourType) * info.bitDepth;
    const size_t rowBytes = RowBytes(info.width, bpp);
    const bool sameFormat =
        settings.colourType == info.colourType && settings.bitDepth == info.bitDepth;
    if (!settings.convert || sameFormat) {
        // The file's own samples, rows packed bit by bit without padding between them.
        const uint64_t bits = uint64_t(info.width) * info.height * bpp;
        pixels.assign(size_t((bits + 7) / 8), 0);
        for (uint32_t y = 0; y < info.height; ++y) {
            if (bpp >= 8 || (uint64_t(info.width) * bpp) % 8 == 0) {
                std::memcpy(pixels.data() + size_t(y) * rowBytes, view.Row(y), rowBytes);
            } else {
                const size_t rowStart = size_t(y) * info.width * bpp;
                for (uint32_t x = 0; x < info.width; ++x) {
                    WriteBits(pixels.data(), rowStart + size_t(x) * bpp, bpp,
                              ReadBits(view.Row(y), size_t(x) * bpp, bpp));
                }
            }
        }
        return PngDecoder::ErrorNone;
    }

    const uint8_t outType = settings.colourType;
    const bool colourOut = outType == 2 || outType == 6;
    if (!colourOut && settings.bitDepth != 8) {
        return PngDecoder::ErrorOutputNotConvertible;
    }
    const bool greyOut = (outType == 0 || outType == 4) && settings.bitDepth == 8;
    if (!(colourOut && settings.bitDepth == 8) && !greyOut) {
        return PngDecoder::ErrorConversionUnsupported;
    }
    if (greyOut && info.colourType != 0 && info.colourType != 4) {
        return PngDecoder::ErrorGreyFromColour;
    }
    pixels.resize(pixelCount * 4);
    if (uint32_t error = ConvertToRgba(pixels.data(), view, info)) {
        return error;
    }
    if (outType == 6) {
        return PngDecoder::ErrorNone;
    }
    // Narrower outputs keep some channels of each RGBA pixel, in place.
    const size_t outChannels = PngChannelCount(outType);
    for (size_t i = 0; i < pixelCount; ++i) {
        const uint8_t* rgba = &pixels[i * 4];
        uint8_t* out = &pixels[i * outChannels];
        if (outType == 2) {
            std::memmove(out, rgba, 3);
        } else if (outType == 0) {
            out[0] = rgba[0];
        } else {
            const uint8_t alpha = rgba[3];
            out[0] = rgba[0];
            out[1] = alpha;
        }
    }
    pixels.resize(pixelCount * outChannels);
    return PngDecoder::ErrorNone;
}

} // namespace

uint32_t PngDecoder::DecodeImage(std::vector<uint8_t>& pixels) {
    ImageRows rows;
    const bool fileIsRgba = info_.colourType == 6 && info_.bitDepth == 8;
    const bool rgbaOut =
        settings.colourType == 6 && settings.bitDepth == 8 && (settings.convert || fileIsRgba);
    if (uint32_t error = ReadImageRows(info_, settings.ignoreChecksum, imageData_, filtered_,
                                       filteredCapacity_, rgbaOut ? &pixels : nullptr, rows)) {
        return error;
    }
    return StorePixels(pixels, rows, info_, settings);
}

void PngDecoder::Decode(std::vector<uint8_t>& pixels, const uint8_t* data, size_t size) {
    // The pixels keep their storage: a buffer decoded into again is not filled twice.
    info_ = Info{};
    imageData_.clear();
    if (data == nullptr || size == 0) {
        error_ = ErrorEmpty;
    } else {
        error_ = ReadHeader(data, size);
        if (error_ == ErrorNone) {
            error_ = ReadChunks(data, size);
        }
        if (error_ == ErrorNone) {
            error_ = DecodeImage(pixels);
        }
    }
    if (error_ != ErrorNone) {
        pixels.clear();
    }
}

} // namespace quarn
