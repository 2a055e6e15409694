#include "codecs/Inflate.h"

#include "codecs/DeflateTables.h"
#include "codecs/ImageChecksums.h"
#include "core/io/ByteOrder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <span>

namespace quarn {
namespace {

constexpr int MaxCodeLength = 15;
// Codes up to this length resolve with one table look-up; longer ones walk the canonical code.
constexpr int FastBits = 10;
constexpr uint32_t FastMask = (1u << FastBits) - 1;

// A canonical Huffman code (the deflate flavour) with a direct look-up table for short codes.
struct HuffmanTable {
    // symbol << 4 | length; 0 where no code of FastBits bits or fewer starts with the index.
    std::array<uint16_t, 1u << FastBits> fast;
    std::array<uint16_t, MaxCodeLength + 1> count;
    // Symbols in canonical order: by length, then by value.
    std::array<uint16_t, 288> symbols;
};

uint32_t BuildTable(HuffmanTable& table, const uint8_t* lengths, int symbolCount) {
    table.count.fill(0);
    table.fast.fill(0);
    for (int s = 0; s < symbolCount; ++s) {
        ++table.count[lengths[s]];
    }
    table.count[0] = 0;
    // Over-subscribed lengths would give two symbols one code. Incomplete codes are legal
    // (a lone distance code, or none); their missing paths decode as errors.
    int left = 1;
    for (int len = 1; len <= MaxCodeLength; ++len) {
        left = left * 2 - table.count[len];
        if (left < 0) {
            return InflateBadCodeLengths;
        }
    }
    std::array<uint16_t, MaxCodeLength + 2> offset{};
    for (int len = 1; len <= MaxCodeLength; ++len) {
        offset[len + 1] = uint16_t(offset[len] + table.count[len]);
    }
    std::array<uint32_t, MaxCodeLength + 1> nextCode{};
    uint32_t code = 0;
    for (int len = 1; len <= MaxCodeLength; ++len) {
        nextCode[len] = code;
        code = (code + table.count[len]) << 1;
    }
    for (int s = 0; s < symbolCount; ++s) {
        const int len = lengths[s];
        if (len == 0) {
            continue;
        }
        table.symbols[offset[len]++] = uint16_t(s);
        if (len > FastBits) {
            continue;
        }
        // The stream sends codes most significant bit first into a least-significant-first
        // bit buffer, so the table is indexed by the reversed code.
        const uint32_t c = nextCode[len]++;
        uint32_t reversed = 0;
        for (int i = 0; i < len; ++i) {
            reversed |= ((c >> i) & 1u) << (len - 1 - i);
        }
        for (uint32_t i = reversed; i <= FastMask; i += 1u << len) {
            table.fast[i] = uint16_t(s << 4 | len);
        }
    }
    return InflateOk;
}

// Reads bits least significant first. Past the end of the input it supplies zero bits and
// counts them as consumed, so every caller checks `Overrun` instead of the byte pointer.
// Reads a stream that may lie in several pieces, least significant bit first.
class BitReader {
public:
    explicit BitReader(std::span<const InflateInput> pieces) : pieces_(pieces) {
        for (const InflateInput& piece : pieces) {
            totalBits_ += uint64_t(piece.size) * 8;
        }
    }

    // Afterwards at least 56 bits are buffered (zeros past the end of the input).
    void Refill() {
        if (end_ - p_ >= 8) {
            uint64_t word;
            std::memcpy(&word, p_, 8);
            if constexpr (std::endian::native == std::endian::big) {
                word = __builtin_bswap64(word);
            }
            buffer_ |= word << count_;
            p_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56) {
            const uint64_t byte = NextPiece() ? *p_++ : 0;
            buffer_ |= byte << count_;
            count_ += 8;
        }
    }
    uint32_t Peek() const { return uint32_t(buffer_); }
    // n <= 32 and n <= the buffered count.
    uint32_t Take(unsigned n) {
        const uint32_t value = uint32_t(buffer_) & ((uint64_t(1) << n) - 1);
        Drop(n);
        return value;
    }
    void Drop(unsigned n) {
        buffer_ >>= n;
        count_ -= n;
        consumed_ += n;
    }
    bool Overrun() const { return consumed_ > totalBits_; }
    bool AtEnd() const { return consumed_ >= totalBits_; }
    uint64_t Remaining() const { return consumed_ >= totalBits_ ? 0 : totalBits_ - consumed_; }
    size_t AlignedBytePosition() const { return size_t((consumed_ + 7) / 8); }

    // Skips to the next byte boundary and copies up to n whole bytes to out (nothing when out
    // is null); answers how many the input had.
    size_t ReadBytes(uint8_t* out, size_t n) {
        Refill();
        Drop(unsigned(-consumed_ & 7));
        size_t copied = 0;
        while (copied < n && count_ >= 8 && consumed_ + 8 <= totalBits_) {
            if (out != nullptr) {
                out[copied] = uint8_t(buffer_);
            }
            ++copied;
            Drop(8);
        }
        if (copied == n || count_ >= 8) {
            return copied;
        }
        // The buffer is empty: the rest comes straight from the pieces.
        buffer_ = 0;
        count_ = 0;
        while (copied < n && NextPiece()) {
            const size_t take = std::min(n - copied, size_t(end_ - p_));
            if (out != nullptr) {
                std::memcpy(out + copied, p_, take);
            }
            p_ += take;
            copied += take;
            consumed_ += uint64_t(take) * 8;
        }
        return copied;
    }

private:
    // Whether a byte is left, moving to the next piece when this one is used up.
    bool NextPiece() {
        while (p_ == end_ && next_ < pieces_.size()) {
            p_ = pieces_[next_].data;
            end_ = p_ + pieces_[next_].size;
            ++next_;
        }
        return p_ != end_;
    }

    std::span<const InflateInput> pieces_;
    size_t next_ = 0;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t buffer_ = 0;
    unsigned count_ = 0;
    uint64_t consumed_ = 0;
    uint64_t totalBits_ = 0;
};

// Decodes one symbol; the caller has refilled. Returns the symbol or -1 with `error` set.
inline int DecodeSymbol(BitReader& bits, const HuffmanTable& table, uint32_t& error) {
    const uint32_t peek = bits.Peek();
    const uint32_t entry = table.fast[peek & FastMask];
    if (entry != 0) {
        bits.Drop(entry & 15);
        if (bits.Overrun()) {
            error = InflateSymbolTruncated;
            return -1;
        }
        return int(entry >> 4);
    }
    // Walk the canonical code one length at a time.
    int code = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len <= MaxCodeLength; ++len) {
        code |= int((peek >> (len - 1)) & 1);
        const int count = table.count[len];
        if (code - first < count) {
            bits.Drop(unsigned(len));
            if (bits.Overrun()) {
                error = InflateSymbolTruncated;
                return -1;
            }
            return table.symbols[size_t(index + code - first)];
        }
        index += count;
        first = (first + count) << 1;
        code <<= 1;
    }
    error = bits.Remaining() < MaxCodeLength ? InflateSymbolTruncated : InflateBadSymbol;
    return -1;
}

struct FixedTables {
    HuffmanTable literals;
    HuffmanTable distances;
};

const FixedTables& GetFixedTables() {
    static const FixedTables tables = [] {
        FixedTables t;
        std::array<uint8_t, 288> lengths{};
        for (size_t i = 0; i < 288; ++i) {
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        }
        BuildTable(t.literals, lengths.data(), 288);
        std::array<uint8_t, 32> distances;
        distances.fill(5);
        BuildTable(t.distances, distances.data(), 32);
        return t;
    }();
    return tables;
}

// Reads a dynamic block's header and builds its two tables.
uint32_t ReadDynamicTables(BitReader& bits, HuffmanTable& literals, HuffmanTable& distances) {
    bits.Refill();
    if (bits.Remaining() < 14) {
        return InflateDynamicHeaderTruncated;
    }
    const int literalCount = int(bits.Take(5)) + 257;
    const int distanceCount = int(bits.Take(5)) + 1;
    const int codeLengthCount = int(bits.Take(4)) + 4;
    if (bits.Remaining() < uint64_t(codeLengthCount) * 3) {
        return InflateDynamicHeaderTruncated;
    }
    std::array<uint8_t, 19> codeLengths{};
    for (int i = 0; i < codeLengthCount; ++i) {
        bits.Refill();
        codeLengths[CodeLengthOrder[size_t(i)]] = uint8_t(bits.Take(3));
    }
    HuffmanTable codeLengthTable;
    if (uint32_t error = BuildTable(codeLengthTable, codeLengths.data(), 19)) {
        return error;
    }

    // Distance lengths past the declared count stay 0.
    std::array<uint8_t, 288 + 32> lengths{};
    const int total = literalCount + distanceCount;
    int i = 0;
    while (i < total) {
        bits.Refill();
        if (bits.AtEnd()) {
            return InflateDynamicHeaderTruncated;
        }
        uint32_t error = 0;
        const int symbol = DecodeSymbol(bits, codeLengthTable, error);
        if (symbol < 0) {
            return error == InflateSymbolTruncated ? InflateDynamicHeaderTruncated : error;
        }
        if (symbol < 16) {
            lengths[size_t(i++)] = uint8_t(symbol);
            continue;
        }
        if (symbol > 18) {
            return InflateBadCodeLengthSymbol;
        }
        static constexpr std::array<uint8_t, 3> RepeatBits = {2, 3, 7};
        static constexpr std::array<uint8_t, 3> RepeatBase = {3, 3, 11};
        static constexpr std::array<uint32_t, 3> PastEnd = {
            InflateRepeat16PastEnd, InflateRepeat17PastEnd, InflateRepeat18PastEnd};
        const size_t kind = size_t(symbol - 16);
        const int repeat = int(RepeatBase[kind] + bits.Take(RepeatBits[kind]));
        if (bits.Overrun()) {
            return InflateRepeatBitsTruncated;
        }
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) {
                return InflateRepeatWithoutPrevious;
            }
            value = lengths[size_t(i - 1)];
        }
        if (i + repeat > total) {
            return PastEnd[kind];
        }
        std::memset(&lengths[size_t(i)], value, size_t(repeat));
        i += repeat;
    }
    if (lengths[256] == 0) {
        return InflateNoEndCode;
    }
    // The literal and distance lengths are split at the declared literal count.
    std::array<uint8_t, 32> distanceLengths{};
    std::memcpy(distanceLengths.data(), &lengths[size_t(literalCount)], size_t(distanceCount));
    std::memset(&lengths[size_t(literalCount)], 0, size_t(distanceCount));
    if (uint32_t error = BuildTable(literals, lengths.data(), 288)) {
        return error;
    }
    return BuildTable(distances, distanceLengths.data(), 32);
}

// Copies `length` bytes between ranges that do not overlap. Most matches are short: two
// fixed-size copies that overlap each other cover any length from 4 to 16 exactly, where a call
// to memcpy would cost more than the copy.
inline void CopyApart(uint8_t* to, const uint8_t* from, size_t length) {
    if (length > 16) {
        std::memcpy(to, from, length);
    } else if (length >= 8) {
        std::memcpy(to, from, 8);
        std::memcpy(to + length - 8, from + length - 8, 8);
    } else if (length >= 4) {
        std::memcpy(to, from, 4);
        std::memcpy(to + length - 4, from + length - 4, 4);
    } else {
        for (size_t i = 0; i < length; ++i) {
            to[i] = from[i];
        }
    }
}

uint32_t DecodeHuffmanBlock(BitReader& bits, const HuffmanTable& literals,
                            const HuffmanTable& distances, uint8_t* outBegin, uint8_t*& out,
                            uint8_t* outEnd) {
    for (;;) {
        bits.Refill();
        if (bits.AtEnd()) {
            return InflateBlockTruncated;
        }
        uint32_t error = 0;
        int symbol = DecodeSymbol(bits, literals, error);
        if (symbol < 0) {
            return error;
        }
        if (symbol < 256) {
            if (out == outEnd) {
                return InflateLiteralPastOutput;
            }
            *out++ = uint8_t(symbol);
            continue;
        }
        if (symbol == 256) {
            return InflateOk;
        }
        const size_t lengthIndex = size_t(symbol - 257);
        if (lengthIndex >= LengthBase.size()) {
            // 286 and 287 take part in the fixed code but stand for no length.
            return InflateBadSymbol;
        }
        const size_t length = LengthBase[lengthIndex] + bits.Take(LengthExtra[lengthIndex]);
        if (bits.Overrun()) {
            return InflateBlockTruncated;
        }
        symbol = DecodeSymbol(bits, distances, error);
        if (symbol < 0) {
            return error;
        }
        if (symbol > 29) {
            return InflateBadDistanceCode;
        }
        const size_t distance =
            DistanceBase[size_t(symbol)] + bits.Take(DistanceExtra[size_t(symbol)]);
        if (bits.Overrun()) {
            return InflateBlockTruncated;
        }
        if (distance > size_t(out - outBegin)) {
            return InflateBackReferenceBeforeStart;
        }
        if (length > size_t(outEnd - out)) {
            return InflateCopyPastOutput;
        }
        const uint8_t* from = out - distance;
        if (distance >= length) {
            CopyApart(out, from, length);
            out += length;
        } else if (distance == 1) {
            std::memset(out, *from, length);
            out += length;
        } else {
            // Overlapping copies repeat the last `distance` bytes. The pattern from `from` on
            // is periodic, so each copy may take as much as is already written, doubling it.
            for (size_t done = 0; done < length;) {
                const size_t amount = std::min(done + distance, length - done);
                std::memcpy(out + done, from, amount);
                done += amount;
            }
            out += length;
        }
    }
}

// The reader and the output cursor are worked on as copies: the bytes written may alias
// anything behind a reference, which would have them reloaded from memory after every byte.
uint32_t InflateHuffmanBlock(BitReader& bits, const HuffmanTable& literals,
                             const HuffmanTable& distances, uint8_t* outBegin, uint8_t*& out,
                             uint8_t* outEnd) {
    BitReader reader = bits;
    uint8_t* cursor = out;
    const uint32_t result =
        DecodeHuffmanBlock(reader, literals, distances, outBegin, cursor, outEnd);
    bits = reader;
    out = cursor;
    return result;
}

uint32_t InflateStoredBlock(BitReader& bits, uint8_t*& out, uint8_t* outEnd) {
    uint8_t header[4];
    if (bits.ReadBytes(header, 4) < 4) {
        return InflateHeaderTruncated;
    }
    const uint32_t length = ReadLittleEndian16(header);
    const uint32_t inverse = ReadLittleEndian16(header + 2);
    if (length + inverse != 65535) {
        return InflateStoredLengthMismatch;
    }
    const size_t room = size_t(outEnd - out);
    // Copy what fits so `written` reflects it, then report the first limit reached. A caller
    // without room may pass a null buffer, which must not be written to even for 0 bytes.
    const size_t copied = bits.ReadBytes(room != 0 ? out : nullptr, std::min<size_t>(length, room));
    out += copied;
    if (copied < length) {
        return copied == room ? InflateStoredPastOutput : InflateStoredPastInput;
    }
    return InflateOk;
}

uint32_t InflateStream(BitReader& bits, uint8_t* out, size_t capacity, size_t& written) {
    uint8_t* const outBegin = out;
    uint8_t* const outEnd = out + capacity;
    uint8_t* cursor = out;
    uint32_t error = InflateOk;
    bool final = false;
    HuffmanTable literals;
    HuffmanTable distances;
    while (!final && error == InflateOk) {
        bits.Refill();
        if (bits.Remaining() < 3) {
            error = InflateHeaderTruncated;
            break;
        }
        final = bits.Take(1) != 0;
        const uint32_t type = bits.Take(2);
        if (type == 0) {
            error = InflateStoredBlock(bits, cursor, outEnd);
        } else if (type == 1) {
            const FixedTables& fixed = GetFixedTables();
            error = InflateHuffmanBlock(bits, fixed.literals, fixed.distances, outBegin, cursor,
                                        outEnd);
        } else if (type == 2) {
            error = ReadDynamicTables(bits, literals, distances);
            if (error == InflateOk) {
                error = InflateHuffmanBlock(bits, literals, distances, outBegin, cursor, outEnd);
            }
        } else {
            error = InflateBlockType3;
        }
    }
    written = size_t(cursor - outBegin);
    return error;
}

} // namespace

uint32_t Inflate(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                 size_t& written) {
    const InflateInput piece{input, inputSize};
    BitReader bits({&piece, 1});
    return InflateStream(bits, out, capacity, written);
}

uint32_t ZlibDecompress(std::span<const InflateInput> pieces, uint8_t* out, size_t capacity,
                        size_t& written, bool ignoreChecksum) {
    written = 0;
    BitReader bits(pieces);
    uint8_t header[2];
    if (bits.ReadBytes(header, 2) < 2) {
        return InflateZlibTooShort;
    }
    const uint32_t cmf = header[0];
    const uint32_t flg = header[1];
    if ((cmf * 256 + flg) % 31 != 0) {
        return InflateZlibHeaderCheck;
    }
    if ((cmf & 15) != 8 || (cmf >> 4) > 7) {
        return InflateZlibMethod;
    }
    if ((flg >> 5) & 1) {
        return InflateZlibDictionary;
    }
    if (uint32_t error = InflateStream(bits, out, capacity, written)) {
        return error;
    }
    if (ignoreChecksum) {
        return InflateOk;
    }
    // The checksum follows the final block; bytes after it are not part of the stream.
    uint8_t trailer[4];
    if (bits.ReadBytes(trailer, 4) < 4) {
        return InflateZlibChecksum;
    }
    return ZlibChecksum(1, out, written) == ReadBigEndian32(trailer) ? InflateOk
                                                                     : InflateZlibChecksum;
}

uint32_t ZlibDecompress(const uint8_t* input, size_t inputSize, uint8_t* out, size_t capacity,
                        size_t& written, bool ignoreChecksum) {
    const InflateInput piece{input, inputSize};
    return ZlibDecompress({&piece, 1}, out, capacity, written, ignoreChecksum);
}

} // namespace quarn
