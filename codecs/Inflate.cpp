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

// A decode-table entry: what a code stands for and how many bits it takes, so that the decode
// loop needs no second look-up to turn a symbol into a length or a distance.
//   bits 0-4   the bits to drop: the code's and its extra bits'
//   bits 5-8   the code's length (the whole code's, also in a second-level table)
//   bits 9-12  the count of extra bits after the code (a length or distance); a second-level
//              table's index bits; for literals, 1 when the entry holds two of them
//   bits 13-28 the literal byte (two: the first in the low byte), the base of a length or
//              distance, the symbol of a code-length code, or where a second-level table starts
// An entry of 0 is a bit path that is no code; one with none of the flags is the end of the
// block (value 1) or a code that stands for nothing (value 0: 286, 287; distances 30, 31).
enum EntryFlag : uint32_t {
    EntryLiteral = 1u << 31, // a literal byte, or any plain symbol
    EntryMatch = 1u << 30,   // a length or a distance, with its base and extra bits
    EntrySubtable = 1u << 29,
};
constexpr uint32_t EntryKinds = EntryLiteral | EntryMatch | EntrySubtable;
constexpr uint32_t EndValue = 1;

constexpr uint32_t EntryDrop(uint32_t entry) {
    return entry & 31;
}
constexpr uint32_t EntryCodeLength(uint32_t entry) {
    return (entry >> 5) & 15;
}
constexpr uint32_t EntryExtra(uint32_t entry) {
    return (entry >> 9) & 15;
}
constexpr uint32_t EntryValue(uint32_t entry) {
    return (entry >> 13) & 0xFFFF;
}
constexpr uint32_t MakeEntry(uint32_t flags, uint32_t value, uint32_t extra = 0) {
    return flags | value << 13 | extra << 9;
}
constexpr bool IsEnd(uint32_t entry) {
    return entry != 0 && (entry & EntryKinds) == 0 && EntryValue(entry) == EndValue;
}

// A canonical Huffman code (the deflate flavour) as a table indexed by the next `MainBits` bits
// of the stream, with second-level tables behind the prefixes of longer codes: any symbol takes
// at most two look-ups.
template <int MainBitsValue, int MaxSymbols, int MaxLength>
struct HuffmanTable {
    static constexpr int MainBits = MainBitsValue;
    static constexpr uint32_t MainMask = (1u << MainBits) - 1;
    // Each second-level table serves at least one code of its own and holds at most
    // 2^(MaxLength - MainBits) entries.
    static constexpr size_t Size =
        (size_t(1) << MainBits) +
        (MaxLength > MainBits ? size_t(MaxSymbols) << (MaxLength - MainBits) : 0);
    std::array<uint32_t, Size> entries;

    // The entry of the code the low bits of `bits` start with.
    uint32_t Find(uint64_t bits) const {
        const uint32_t entry = entries[bits & MainMask];
        if ((entry & EntrySubtable) == 0) {
            return entry;
        }
        const uint32_t index = uint32_t(bits >> MainBits) & ((1u << EntryExtra(entry)) - 1);
        return entries[EntryValue(entry) + index];
    }
};

using LiteralTable = HuffmanTable<11, 288, MaxCodeLength>;
using DistanceTable = HuffmanTable<8, 32, MaxCodeLength>;
using CodeLengthTable = HuffmanTable<7, 19, 7>;

constexpr std::array<uint8_t, 256> ReversedBytes = [] {
    std::array<uint8_t, 256> reversed{};
    for (uint32_t b = 0; b < 256; ++b) {
        for (uint32_t i = 0; i < 8; ++i) {
            reversed[b] |= uint8_t(((b >> i) & 1u) << (7 - i));
        }
    }
    return reversed;
}();

// The stream sends codes most significant bit first into a least-significant-first bit buffer,
// so the tables are indexed by the reversed codes.
uint32_t ReverseCode(uint32_t code, uint32_t length) {
    const uint32_t reversed = uint32_t(ReversedBytes[code & 0xFF]) << 8 | ReversedBytes[code >> 8];
    return reversed >> (16 - length);
}

// A canonical Huffman code (the deflate flavour) from its code lengths.
struct CanonicalCode {
    const uint8_t* lengths;
    // The used symbols by code length, then by value: their codes in increasing order.
    std::array<uint16_t, 288> symbols;
    int used = 0;
    std::array<uint16_t, 288> reversed; // each symbol's code, reversed
    bool complete = false;              // no bit path left without a code
};

uint32_t MakeCanonicalCode(CanonicalCode& code, const uint8_t* lengths, int symbolCount) {
    code.lengths = lengths;
    // Four tallies: runs of equal lengths would otherwise wait on one counter in memory.
    std::array<std::array<uint16_t, MaxCodeLength + 1>, 4> tallies{};
    int i = 0;
    for (; i + 4 <= symbolCount; i += 4) {
        for (int k = 0; k < 4; ++k) {
            ++tallies[size_t(k)][lengths[i + k]];
        }
    }
    for (; i < symbolCount; ++i) {
        ++tallies[0][lengths[i]];
    }
    std::array<uint16_t, MaxCodeLength + 1> count{};
    for (int len = 1; len <= MaxCodeLength; ++len) {
        count[size_t(len)] = uint16_t(tallies[0][size_t(len)] + tallies[1][size_t(len)] +
                                      tallies[2][size_t(len)] + tallies[3][size_t(len)]);
    }
    // Over-subscribed lengths would give two symbols one code. Incomplete codes are legal
    // (a lone distance code, or none); their missing paths decode as errors.
    int left = 1;
    for (int len = 1; len <= MaxCodeLength; ++len) {
        left = left * 2 - count[len];
        if (left < 0) {
            return InflateBadCodeLengths;
        }
    }
    code.complete = left == 0;
    std::array<uint16_t, MaxCodeLength + 2> offset{};
    std::array<uint32_t, MaxCodeLength + 1> nextCode{};
    uint32_t next = 0;
    for (int len = 1; len <= MaxCodeLength; ++len) {
        offset[len + 1] = uint16_t(offset[len] + count[len]);
        nextCode[len] = next;
        next = (next + count[len]) << 1;
    }
    code.used = offset[MaxCodeLength + 1];
    for (int s = 0; s < symbolCount; ++s) {
        const int len = lengths[s];
        if (len != 0) {
            code.symbols[offset[len]++] = uint16_t(s);
            code.reversed[size_t(s)] = uint16_t(ReverseCode(nextCode[len]++, uint32_t(len)));
        }
    }
    return InflateOk;
}

// Fills the table from the code; `meaning(symbol)` gives each symbol's entry without its
// lengths.
template <typename Table, typename Meaning>
void FillTable(Table& table, const CanonicalCode& code, Meaning meaning) {
    constexpr uint32_t MainBits = Table::MainBits;
    constexpr uint32_t MainSize = 1u << MainBits;
    auto entryOf = [&](uint32_t symbol, uint32_t len) {
        const uint32_t meant = meaning(symbol);
        return meant | len << 5 | (meant & EntryMatch ? len + EntryExtra(meant) : len);
    };
    // Length by length: the table of the first `len` bits is the one of len - 1 bits twice
    // over, plus one entry for each code of that length. Paths of no code stay 0.
    table.entries[0] = 0;
    int shortCodes = 0;
    for (uint32_t len = 1, size = 1; len <= MainBits; ++len, size *= 2) {
        std::memcpy(&table.entries[size], &table.entries[0], size * sizeof(uint32_t));
        for (; shortCodes < code.used; ++shortCodes) {
            const uint32_t symbol = code.symbols[size_t(shortCodes)];
            if (code.lengths[symbol] != len) {
                break;
            }
            table.entries[code.reversed[symbol]] = entryOf(symbol, len);
        }
    }
    // Longer codes sharing a main-table prefix are neighbours in canonical order, the longest
    // last: walking back, the first of each prefix sizes its second-level table.
    size_t nextSubtable = MainSize;
    uint32_t prefix = MainSize;
    uint32_t* subtable = nullptr;
    for (int k = code.used; k-- > shortCodes;) {
        const uint32_t symbol = code.symbols[size_t(k)];
        const uint32_t len = code.lengths[symbol];
        const uint32_t reversed = code.reversed[symbol];
        if ((reversed & (MainSize - 1)) != prefix) {
            prefix = reversed & (MainSize - 1);
            const uint32_t bits = len - MainBits;
            subtable = &table.entries[nextSubtable];
            // Only an incomplete code leaves paths without a code, which must read as 0.
            if (!code.complete) {
                std::fill_n(subtable, size_t(1) << bits, 0u);
            }
            table.entries[prefix] = MakeEntry(EntrySubtable, uint32_t(nextSubtable), bits);
            nextSubtable += size_t(1) << bits;
        }
        const uint32_t bits = EntryExtra(table.entries[prefix]);
        const uint32_t entry = entryOf(symbol, len);
        for (uint32_t i = reversed >> MainBits; i < (1u << bits); i += 1u << (len - MainBits)) {
            subtable[i] = entry;
        }
    }
}

template <typename Table, typename Meaning>
uint32_t BuildTable(Table& table, const uint8_t* lengths, int symbolCount, Meaning meaning) {
    CanonicalCode code;
    if (uint32_t error = MakeCanonicalCode(code, lengths, symbolCount)) {
        return error;
    }
    FillTable(table, code, meaning);
    return InflateOk;
}

uint32_t LiteralMeaning(uint32_t symbol) {
    if (symbol < 256) {
        return MakeEntry(EntryLiteral, symbol);
    }
    if (symbol == 256) {
        return MakeEntry(0, EndValue);
    }
    const size_t index = symbol - 257;
    if (index >= LengthBase.size()) {
        return 0;
    }
    return MakeEntry(EntryMatch, LengthBase[index], LengthExtra[index]);
}

// The literal and length table, whose main-table paths that start with two literal codes give
// both literals, so that the decode loop writes them with one look-up.
uint32_t BuildLiteralTable(LiteralTable& table, const uint8_t* lengths) {
    constexpr uint32_t MainBits = LiteralTable::MainBits;
    CanonicalCode code;
    if (uint32_t error = MakeCanonicalCode(code, lengths, 288)) {
        return error;
    }
    FillTable(table, code, LiteralMeaning);
    // A path that starts with a literal's code goes on with the code its further bits index in
    // the table of single symbols, which the path holds whole if it is short enough.
    // A code longer than the main bits less the shortest literal's pairs with none, so on
    // codes without short literals, as of noisy data, the search costs nothing.
    uint32_t shortestLiteral = MainBits;
    for (int a = 0; a < code.used; ++a) {
        if (code.symbols[size_t(a)] < 256) {
            shortestLiteral = lengths[code.symbols[size_t(a)]];
            break;
        }
    }
    std::array<uint32_t, LiteralTable::MainMask + 1> singles;
    if (shortestLiteral < MainBits) {
        std::memcpy(singles.data(), table.entries.data(), sizeof singles);
    }
    for (int a = 0; a < code.used; ++a) {
        const uint32_t first = code.symbols[size_t(a)];
        const uint32_t firstLength = lengths[first];
        if (firstLength + shortestLiteral > MainBits) {
            break;
        }
        if (first > 255) {
            continue;
        }
        const uint32_t firstReversed = code.reversed[first];
        const uint32_t single = singles[firstReversed];
        // Without branches: whether a path pairs is as random as the data.
        for (uint32_t rest = 0; rest < (1u << (MainBits - firstLength)); ++rest) {
            const uint32_t second = singles[rest];
            const uint32_t both = firstLength + EntryCodeLength(second);
            const uint32_t pair =
                MakeEntry(EntryLiteral, first | (EntryValue(second) & 0xFF) << 8, 1) |
                firstLength << 5 | both;
            const bool pairs = ((second & EntryLiteral) != 0) & (both <= MainBits);
            table.entries[firstReversed | rest << firstLength] = pairs ? pair : single;
        }
    }
    return InflateOk;
}

uint32_t DistanceMeaning(uint32_t symbol) {
    if (symbol >= DistanceBase.size()) {
        return 0;
    }
    return MakeEntry(EntryMatch, DistanceBase[symbol], DistanceExtra[symbol]);
}

uint32_t PlainMeaning(uint32_t symbol) {
    return MakeEntry(EntryLiteral, symbol);
}

// Eight bytes as one little-endian word.
inline uint64_t LoadWord(const uint8_t* p) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

// Reads a stream that may lie in several pieces, least significant bit first. Past the end of
// the input it supplies zero bits and counts them as consumed, so every caller checks `Overrun`
// instead of the byte pointer.
class BitReader {
public:
    explicit BitReader(std::span<const InflateInput> pieces) : pieces_(pieces) {
        for (const InflateInput& piece : pieces) {
            totalBits_ += uint64_t(piece.size) * 8;
        }
    }

    // Afterwards at least 56 bits are buffered (zeros past the end of the input). A whole word
    // leaves the bits above the count holding the input's next bits, which the next refill
    // puts in again unchanged.
    void Refill() {
        if (end_ - p_ >= 8) {
            buffer_ |= LoadWord(p_) << count_;
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

    // The reading state over the rest of the current piece, for a loop that keeps it in
    // registers and refills by words; `Resume` takes it back.
    struct Cursor {
        uint64_t buffer;
        unsigned count;
        const uint8_t* p;
        const uint8_t* end;
    };
    Cursor Borrow() const { return {buffer_, count_, p_, end_}; }
    void Resume(const Cursor& cursor) {
        consumed_ += uint64_t(cursor.p - p_) * 8 + count_ - cursor.count;
        buffer_ = cursor.buffer;
        count_ = cursor.count;
        p_ = cursor.p;
    }

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

// Decodes one symbol's entry; the caller has refilled. Answers 0 with `error` set for a path
// that is no code or a code cut off by the end of the input.
template <typename Table>
uint32_t DecodeSymbol(BitReader& bits, const Table& table, uint32_t& error) {
    const uint32_t entry = table.Find(bits.Peek());
    if (entry == 0) {
        error = bits.Remaining() < MaxCodeLength ? InflateSymbolTruncated : InflateBadSymbol;
        return 0;
    }
    bits.Drop(EntryCodeLength(entry));
    if (bits.Overrun()) {
        error = InflateSymbolTruncated;
        return 0;
    }
    return entry;
}

struct FixedTables {
    LiteralTable literals;
    DistanceTable distances;
};

const FixedTables& GetFixedTables() {
    static const FixedTables tables = [] {
        FixedTables t;
        std::array<uint8_t, 288> lengths{};
        for (size_t i = 0; i < 288; ++i) {
            lengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
        }
        BuildLiteralTable(t.literals, lengths.data());
        std::array<uint8_t, 32> distances;
        distances.fill(5);
        BuildTable(t.distances, distances.data(), 32, DistanceMeaning);
        return t;
    }();
    return tables;
}

// Reads a dynamic block's header and builds its two tables.
uint32_t ReadDynamicTables(BitReader& bits, LiteralTable& literals, DistanceTable& distances) {
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
    CodeLengthTable codeLengthTable;
    if (uint32_t error = BuildTable(codeLengthTable, codeLengths.data(), 19, PlainMeaning)) {
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
        const uint32_t entry = DecodeSymbol(bits, codeLengthTable, error);
        if (entry == 0) {
            return error == InflateSymbolTruncated ? InflateDynamicHeaderTruncated : error;
        }
        const uint32_t symbol = EntryValue(entry);
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
    if (uint32_t error = BuildLiteralTable(literals, lengths.data())) {
        return error;
    }
    return BuildTable(distances, distanceLengths.data(), 32, DistanceMeaning);
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

// Copies a match exactly, up to the room's last byte.
void CopyMatch(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* from = out - distance;
    if (distance >= length) {
        CopyApart(out, from, length);
    } else if (distance == 1) {
        std::memset(out, *from, length);
    } else {
        // Overlapping copies repeat the last `distance` bytes. The pattern from `from` on is
        // periodic, so each copy may take as much as is already written, doubling it.
        for (size_t done = 0; done < length;) {
            const size_t amount = std::min(done + distance, length - done);
            std::memcpy(out + done, from, amount);
            done += amount;
        }
    }
}

// Room the fast loop keeps free behind the output: the longest match and one word it may copy
// past a match's end (bytes that later symbols overwrite).
constexpr size_t FastRoom = 258 + 8;
// The answer of the fast loop when it stops short of the block's end without a fault.
constexpr uint32_t FastStopped = ~0u;

// Copies a match whole words at a time, running up to 7 bytes past its end.
inline void CopyMatchFast(uint8_t* out, size_t distance, size_t length) {
    const uint8_t* from = out - distance;
    uint8_t* const end = out + length;
    if (distance >= 8) {
        do {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < end);
    } else if (distance == 1) {
        const uint64_t word = *from * 0x0101010101010101ull;
        do {
            std::memcpy(out, &word, 8);
            out += 8;
        } while (out < end);
    } else {
        do {
            *out++ = *from++;
        } while (out < end);
    }
}

// Decodes the block while a whole input word lies ahead in the piece and the output has
// FastRoom left, so it checks neither the input's end nor the room: one refill serves a length
// with its distance (at most 48 bits), or up to three literals. Answers InflateOk at the block's
// end, a fault, or FastStopped.
uint32_t DecodeFast(BitReader::Cursor& cursor, const LiteralTable& literals,
                    const DistanceTable& distances, const uint8_t* outBegin, uint8_t*& out,
                    uint8_t* outEnd) {
    if (cursor.end - cursor.p < 8 || size_t(outEnd - out) < FastRoom) {
        return FastStopped;
    }
    uint64_t buffer = cursor.buffer;
    unsigned count = cursor.count;
    const uint8_t* in = cursor.p;
    const uint8_t* const inLast = cursor.end - 8;
    uint8_t* o = out;
    uint8_t* const outLast = outEnd - FastRoom;
    uint32_t result = FastStopped;
    auto drop = [&](uint32_t n) {
        buffer >>= n;
        count -= n;
    };
    // One or two literals: both bytes are stored, the second is overwritten when single.
    auto literal = [&](uint32_t entry) {
        drop(EntryDrop(entry));
        const uint16_t bytes = uint16_t(EntryValue(entry));
        std::memcpy(o, &bytes, 2);
        o += 1 + EntryExtra(entry);
    };
    while (in <= inLast && o <= outLast) {
        buffer |= LoadWord(in) << count;
        in += (63 - count) >> 3;
        count |= 56;
        uint32_t entry = literals.Find(buffer);
        if (entry & EntryLiteral) {
            // Literals while the bits last for a look-up (15): at least three, and as many as
            // short codes allow, each at most two bytes for a bit.
            do {
                literal(entry);
                if (count < MaxCodeLength) {
                    break;
                }
                entry = literals.Find(buffer);
            } while (entry & EntryLiteral);
            continue;
        }
        if ((entry & EntryMatch) == 0) {
            // At least 56 bits are left, so a path that is no code is no truncated code.
            if (IsEnd(entry)) {
                drop(EntryDrop(entry));
                result = InflateOk;
            } else {
                result = InflateBadSymbol;
            }
            break;
        }
        // The extra bits are taken from the bits of the whole entry, off the chain of shifts.
        const uint32_t lengthBits = uint32_t(buffer) & ((1u << EntryDrop(entry)) - 1);
        drop(EntryDrop(entry));
        const size_t length = EntryValue(entry) + (lengthBits >> EntryCodeLength(entry));
        entry = distances.Find(buffer);
        if ((entry & EntryMatch) == 0) {
            result = entry == 0 ? InflateBadSymbol : InflateBadDistanceCode;
            break;
        }
        const uint32_t distanceBits = uint32_t(buffer) & ((1u << EntryDrop(entry)) - 1);
        drop(EntryDrop(entry));
        const size_t distance = EntryValue(entry) + (distanceBits >> EntryCodeLength(entry));
        if (distance > size_t(o - outBegin)) {
            result = InflateBackReferenceBeforeStart;
            break;
        }
        CopyMatchFast(o, distance, length);
        o += length;
    }
    cursor.buffer = buffer;
    cursor.count = count;
    cursor.p = in;
    out = o;
    return result;
}

// Works on copies of the output cursor: the bytes written may alias anything behind a
// reference, which would have it reloaded from memory after every byte.
uint32_t InflateHuffmanBlock(BitReader& bits, const LiteralTable& literals,
                             const DistanceTable& distances, uint8_t* outBegin, uint8_t*& outRef,
                             uint8_t* outEnd) {
    uint8_t* out = outRef;
    uint32_t result = InflateOk;
    for (;;) {
        BitReader::Cursor cursor = bits.Borrow();
        result = DecodeFast(cursor, literals, distances, outBegin, out, outEnd);
        bits.Resume(cursor);
        if (result != FastStopped) {
            break;
        }
        // One symbol the careful way, near the end of the input, of a piece or of the room.
        bits.Refill();
        if (bits.AtEnd()) {
            result = InflateBlockTruncated;
            break;
        }
        uint32_t entry = DecodeSymbol(bits, literals, result);
        if (entry == 0) {
            break;
        }
        if (entry & EntryLiteral) {
            if (out == outEnd) {
                result = InflateLiteralPastOutput;
                break;
            }
            *out++ = uint8_t(EntryValue(entry));
            continue;
        }
        if ((entry & EntryMatch) == 0) {
            result = IsEnd(entry) ? InflateOk : InflateBadSymbol;
            break;
        }
        const size_t length = EntryValue(entry) + bits.Take(EntryExtra(entry));
        if (bits.Overrun()) {
            result = InflateBlockTruncated;
            break;
        }
        entry = DecodeSymbol(bits, distances, result);
        if (entry == 0) {
            break;
        }
        if ((entry & EntryMatch) == 0) {
            result = InflateBadDistanceCode;
            break;
        }
        const size_t distance = EntryValue(entry) + bits.Take(EntryExtra(entry));
        if (bits.Overrun()) {
            result = InflateBlockTruncated;
            break;
        }
        if (distance > size_t(out - outBegin)) {
            result = InflateBackReferenceBeforeStart;
            break;
        }
        if (length > size_t(outEnd - out)) {
            result = InflateCopyPastOutput;
            break;
        }
        CopyMatch(out, distance, length);
        out += length;
    }
    outRef = out;
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
    LiteralTable literals;
    DistanceTable distances;
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
