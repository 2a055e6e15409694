#include "codecs/Deflate.h"

#include "codecs/DeflateTables.h"
#include "codecs/ImageChecksums.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

namespace quarn {
namespace {

constexpr uint32_t MaxMatch = 258;
constexpr uint32_t MinMatch = 3;
constexpr uint32_t HashBits = 16;
constexpr uint32_t HashBytes = 6;
constexpr uint32_t LiteralSymbols = 286;
constexpr uint32_t DistanceSymbols = 30;
constexpr uint32_t EndCode = 256;
constexpr size_t MaxWindow = 32768;
constexpr size_t WindowMask = MaxWindow - 1;
// A position is matched only once this much input follows it (unless the stream ends), so
// neither the match nor the hashes of the positions it covers see a partial buffer.
constexpr size_t Lookahead = MaxMatch + HashBytes;
// Twice the window: sliding keeps the last window's bytes and frees the rest.
constexpr size_t BufferSize = 2 * MaxWindow;
// Tokens of one block: the codes are fitted to each block, and its tokens are all the state a
// block needs.
constexpr size_t BlockTokens = 32768;
constexpr size_t MaxStoredBlock = 65535;
constexpr int64_t NoPosition = -1;

// LSB-first bit packing as deflate stores it.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void Put(uint32_t value, uint32_t count) {
        buffer_ |= static_cast<uint64_t>(value) << used_;
        used_ += count;
        while (used_ >= 8) {
            out_.push_back(static_cast<uint8_t>(buffer_));
            buffer_ >>= 8;
            used_ -= 8;
        }
    }
    // Huffman codes go most significant bit first.
    void PutCode(uint32_t code, uint32_t length) {
        uint32_t reversed = 0;
        for (uint32_t i = 0; i < length; ++i) {
            reversed = (reversed << 1) | ((code >> i) & 1u);
        }
        Put(reversed, length);
    }
    void AlignToByte() {
        if (used_ > 0) {
            Put(0, 8 - used_);
        }
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t buffer_ = 0;
    uint32_t used_ = 0;
};

// A literal (distance 0) or a back-reference.
struct Token {
    uint16_t lengthOrLiteral;
    uint16_t distance;
};

uint32_t LengthSymbol(uint32_t length) {
    uint32_t index = 0;
    while (index + 1 < LengthBase.size() && LengthBase[index + 1] <= length) {
        ++index;
    }
    return index;
}

uint32_t DistanceSymbol(uint32_t distance) {
    uint32_t index = 0;
    while (index + 1 < DistanceBase.size() && DistanceBase[index + 1] <= distance) {
        ++index;
    }
    return index;
}

// Canonical codes from code lengths.
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lengths) {
    std::array<uint32_t, 16> counts{};
    for (uint8_t length : lengths) {
        ++counts[length];
    }
    counts[0] = 0;
    std::array<uint32_t, 16> next{};
    uint32_t code = 0;
    for (uint32_t bits = 1; bits < 16; ++bits) {
        code = (code + counts[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint32_t> codes(lengths.size(), 0);
    for (size_t i = 0; i < lengths.size(); ++i) {
        if (lengths[i] != 0) {
            codes[i] = next[lengths[i]]++;
        }
    }
    return codes;
}

void WriteTokens(BitWriter& bits, const std::vector<Token>& tokens,
                 const std::vector<uint8_t>& literalLengths,
                 const std::vector<uint32_t>& literalCodes,
                 const std::vector<uint8_t>& distanceLengths,
                 const std::vector<uint32_t>& distanceCodes) {
    for (const Token& token : tokens) {
        if (token.distance == 0) {
            bits.PutCode(literalCodes[token.lengthOrLiteral],
                         literalLengths[token.lengthOrLiteral]);
            continue;
        }
        uint32_t lengthSymbol = LengthSymbol(token.lengthOrLiteral);
        bits.PutCode(literalCodes[257 + lengthSymbol], literalLengths[257 + lengthSymbol]);
        bits.Put(token.lengthOrLiteral - LengthBase[lengthSymbol], LengthExtra[lengthSymbol]);
        uint32_t distanceSymbol = DistanceSymbol(token.distance);
        bits.PutCode(distanceCodes[distanceSymbol], distanceLengths[distanceSymbol]);
        bits.Put(token.distance - DistanceBase[distanceSymbol], DistanceExtra[distanceSymbol]);
    }
    bits.PutCode(literalCodes[EndCode], literalLengths[EndCode]);
}

void WriteStored(BitWriter& bits, std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                 bool final) {
    bits.Put(final ? 1 : 0, 1);
    bits.Put(0, 2);
    bits.AlignToByte();
    out.push_back(static_cast<uint8_t>(size));
    out.push_back(static_cast<uint8_t>(size >> 8));
    out.push_back(static_cast<uint8_t>(~size));
    out.push_back(static_cast<uint8_t>(~size >> 8));
    out.insert(out.end(), data, data + size);
}

void WriteFixed(BitWriter& bits, const std::vector<Token>& tokens, bool final) {
    std::vector<uint8_t> literalLengths(288);
    for (uint32_t i = 0; i < 288; ++i) {
        literalLengths[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    }
    std::vector<uint8_t> distanceLengths(32, 5);
    bits.Put(final ? 1 : 0, 1);
    bits.Put(1, 2);
    WriteTokens(bits, tokens, literalLengths, CanonicalCodes(literalLengths), distanceLengths,
                CanonicalCodes(distanceLengths));
}

struct LengthCode {
    uint8_t symbol;
    uint8_t extra;
};

// Run-length codes for the combined literal and distance length list.
std::vector<LengthCode> RunLengthCodes(const std::vector<uint8_t>& lengths) {
    std::vector<LengthCode> codes;
    size_t i = 0;
    while (i < lengths.size()) {
        uint8_t value = lengths[i];
        size_t repeats = 0;
        while (i + 1 + repeats < lengths.size() && lengths[i + 1 + repeats] == value) {
            ++repeats;
        }
        if (value == 0 && repeats >= 2) {
            size_t run = repeats + 1;
            if (run > 10) {
                size_t taken = std::min<size_t>(run, 138);
                codes.push_back({18, static_cast<uint8_t>(taken - 11)});
                i += taken;
            } else {
                codes.push_back({17, static_cast<uint8_t>(run - 3)});
                i += run;
            }
            continue;
        }
        codes.push_back({value, 0});
        if (repeats < 3) {
            ++i;
            continue;
        }
        for (size_t group = 0; group < repeats / 6; ++group) {
            codes.push_back({16, 3});
        }
        size_t rest = repeats % 6;
        if (rest >= 3) {
            codes.push_back({16, static_cast<uint8_t>(rest - 3)});
            i += 1 + repeats;
        } else {
            i += 1 + repeats - rest;
        }
    }
    return codes;
}

void WriteDynamic(BitWriter& bits, const std::vector<Token>& tokens, bool final) {
    std::vector<uint32_t> literalFrequencies(LiteralSymbols, 0);
    std::vector<uint32_t> distanceFrequencies(DistanceSymbols, 0);
    for (const Token& token : tokens) {
        if (token.distance == 0) {
            ++literalFrequencies[token.lengthOrLiteral];
        } else {
            ++literalFrequencies[257 + LengthSymbol(token.lengthOrLiteral)];
            ++distanceFrequencies[DistanceSymbol(token.distance)];
        }
    }
    literalFrequencies[EndCode] = 1;
    std::vector<uint8_t> literalLengths = LimitedCodeLengths(literalFrequencies, 15);
    std::vector<uint8_t> distanceLengths = LimitedCodeLengths(distanceFrequencies, 15);
    // A block of literals only still needs one distance code: some decoders refuse a distance
    // code with no lengths at all.
    if (std::all_of(distanceLengths.begin(), distanceLengths.end(),
                    [](uint8_t length) { return length == 0; })) {
        distanceLengths[0] = 1;
    }

    std::vector<uint8_t> allLengths = literalLengths;
    allLengths.insert(allLengths.end(), distanceLengths.begin(), distanceLengths.end());
    std::vector<LengthCode> runs = RunLengthCodes(allLengths);
    std::vector<uint32_t> runFrequencies(19, 0);
    for (const LengthCode& run : runs) {
        ++runFrequencies[run.symbol];
    }
    std::vector<uint8_t> runLengths = LimitedCodeLengths(runFrequencies, 7);
    std::vector<uint32_t> runCodes = CanonicalCodes(runLengths);
    uint32_t storedCount = 19;
    while (storedCount > 4 && runLengths[CodeLengthOrder[storedCount - 1]] == 0) {
        --storedCount;
    }

    bits.Put(final ? 1 : 0, 1);
    bits.Put(2, 2);
    bits.Put(LiteralSymbols - 257, 5);
    bits.Put(DistanceSymbols - 1, 5);
    bits.Put(storedCount - 4, 4);
    for (uint32_t i = 0; i < storedCount; ++i) {
        bits.Put(runLengths[CodeLengthOrder[i]], 3);
    }
    for (const LengthCode& run : runs) {
        bits.PutCode(runCodes[run.symbol], runLengths[run.symbol]);
        if (run.symbol == 16) {
            bits.Put(run.extra, 2);
        } else if (run.symbol == 17) {
            bits.Put(run.extra, 3);
        } else if (run.symbol == 18) {
            bits.Put(run.extra, 7);
        }
    }
    WriteTokens(bits, tokens, literalLengths, CanonicalCodes(literalLengths), distanceLengths,
                CanonicalCodes(distanceLengths));
}

} // namespace

std::vector<uint8_t> LimitedCodeLengths(const std::vector<uint32_t>& frequencies,
                                        uint32_t maxBits) {
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    std::vector<uint32_t> used;
    for (uint32_t i = 0; i < frequencies.size(); ++i) {
        if (frequencies[i] > 0) {
            used.push_back(i);
        }
    }
    if (used.size() == 1) {
        lengths[used[0]] = 1;
    }
    if (used.size() <= 1) {
        return lengths;
    }
    assert((size_t{1} << maxBits) >= used.size());
    std::stable_sort(used.begin(), used.end(),
                     [&](uint32_t a, uint32_t b) { return frequencies[a] < frequencies[b]; });

    // Package-merge: each level merges the leaves with the pairs of the level below; the code
    // length of a symbol is how often its leaf is chosen among the cheapest 2n - 2 items of the
    // top level.
    struct Item {
        uint64_t weight;
        int32_t leaf;  // index into `used`, or -1 for a package
        uint32_t left; // a package's two items in the level below
    };
    std::vector<std::vector<Item>> levels(maxBits);
    for (uint32_t level = 0; level < maxBits; ++level) {
        std::vector<Item> packages;
        if (level > 0) {
            const std::vector<Item>& below = levels[level - 1];
            for (uint32_t i = 0; i + 1 < below.size(); i += 2) {
                packages.push_back({below[i].weight + below[i + 1].weight, -1, i});
            }
        }
        std::vector<Item>& items = levels[level];
        size_t leaf = 0;
        size_t package = 0;
        while (leaf < used.size() || package < packages.size()) {
            // Leaves first among equal weights keeps the codes as short as the merge allows.
            if (package == packages.size() ||
                (leaf < used.size() && frequencies[used[leaf]] <= packages[package].weight)) {
                items.push_back({frequencies[used[leaf]], static_cast<int32_t>(leaf), 0});
                ++leaf;
            } else {
                items.push_back(packages[package++]);
            }
        }
    }
    // Count the leaves below the chosen items, level by level.
    std::vector<uint32_t> chosen(levels.back().size(), 0);
    size_t take = 2 * used.size() - 2;
    for (size_t i = 0; i < take; ++i) {
        chosen[i] = 1;
    }
    for (int32_t level = static_cast<int32_t>(maxBits) - 1; level >= 0; --level) {
        const std::vector<Item>& items = levels[level];
        std::vector<uint32_t> below(level > 0 ? levels[level - 1].size() : 0, 0);
        for (size_t i = 0; i < items.size(); ++i) {
            if (chosen[i] == 0) {
                continue;
            }
            if (items[i].leaf >= 0) {
                ++lengths[used[static_cast<size_t>(items[i].leaf)]];
            } else {
                below[items[i].left] = 1;
                below[items[i].left + 1] = 1;
            }
        }
        chosen = std::move(below);
    }
    return lengths;
}

uint32_t CheckDeflateSettings(const DeflateSettings& settings) {
    if (settings.windowSize > MaxWindow) {
        return DeflateWindowTooLarge;
    }
    if (settings.blockType > 2) {
        return DeflateBadBlockType;
    }
    return 0;
}

struct Deflater::State {
    State(std::vector<uint8_t>& out, const DeflateSettings& settings, bool zlib)
        : out(out), bits(out), settings(settings), zlib(zlib), buffer(BufferSize),
          heads(size_t{1} << HashBits, NoPosition), links(MaxWindow, NoPosition) {
        tokens.reserve(BlockTokens);
    }

    std::vector<uint8_t>& out;
    BitWriter bits;
    DeflateSettings settings;
    bool zlib;
    uint32_t checksum = 1;
    // Input from stream position `base` to `end`; positions below `next` are coded.
    std::vector<uint8_t> buffer;
    uint64_t base = 0;
    uint64_t end = 0;
    uint64_t next = 0;
    // Hash chains by stream position: the newest position of each hash, and for each position
    // of the window the one before it with the same hash.
    std::vector<int64_t> heads;
    std::vector<int64_t> links;
    std::vector<Token> tokens;

    const uint8_t* At(uint64_t position) const { return buffer.data() + (position - base); }

    uint32_t HashAt(uint64_t position) const {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(HashBytes, end - position));
        const uint8_t* bytes = At(position);
        uint32_t hash = 0;
        for (size_t k = 0; k < count; ++k) {
            hash ^= static_cast<uint32_t>(bytes[k]) << (2 * k);
        }
        return hash & ((1u << HashBits) - 1);
    }

    void Insert(uint64_t position) {
        const uint32_t hash = HashAt(position);
        links[position & WindowMask] = heads[hash];
        heads[hash] = static_cast<int64_t>(position);
    }

    void Add(Token token) {
        tokens.push_back(token);
        if (tokens.size() == BlockTokens) {
            WriteBlock(false);
        }
    }

    void WriteBlock(bool final) {
        if (settings.blockType == 1) {
            WriteFixed(bits, tokens, final);
        } else {
            WriteDynamic(bits, tokens, final);
        }
        tokens.clear();
    }

    // Greedy matching over the hash chains, which are walked only while the candidates stay
    // inside the window. Codes every position that has its lookahead, or all when finishing.
    void Match(bool finishing) {
        const size_t window = settings.windowSize;
        while (next < end && (finishing || end - next >= Lookahead)) {
            const uint64_t p = next;
            if (!settings.useLz77) {
                Add({*At(p), 0});
                ++next;
                continue;
            }
            const int64_t oldest = static_cast<int64_t>(p - std::min<uint64_t>(p, window));
            const size_t limit = static_cast<size_t>(std::min<uint64_t>(MaxMatch, end - p));
            const uint8_t* current = At(p);
            uint32_t bestLength = 0;
            uint64_t bestDistance = 0;
            for (int64_t candidate = heads[HashAt(p)];
                 candidate != NoPosition && candidate >= oldest;
                 candidate = links[static_cast<uint64_t>(candidate) & WindowMask]) {
                const uint8_t* from = At(static_cast<uint64_t>(candidate));
                uint32_t length = 0;
                while (length < limit && from[length] == current[length]) {
                    ++length;
                }
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = p - static_cast<uint64_t>(candidate);
                    if (length == MaxMatch) {
                        break;
                    }
                }
            }
            Insert(p);
            if (bestLength >= MinMatch) {
                for (uint32_t i = 1; i < bestLength; ++i) {
                    Insert(p + i);
                }
                next = p + bestLength;
                Add({static_cast<uint16_t>(bestLength), static_cast<uint16_t>(bestDistance)});
            } else {
                next = p + 1;
                Add({current[0], 0});
            }
        }
    }

    // Keeps what is not coded yet and, for matching, the window before it.
    void Slide() {
        const uint64_t keep = settings.blockType == 0
                                  ? next
                                  : std::max(base, next - std::min<uint64_t>(next, MaxWindow));
        std::memmove(buffer.data(), At(keep), static_cast<size_t>(end - keep));
        base = keep;
    }

    void WriteStoredBlocks(bool finishing) {
        while (end - next > MaxStoredBlock || (finishing && next <= end)) {
            const size_t size = static_cast<size_t>(std::min<uint64_t>(MaxStoredBlock, end - next));
            const bool final = finishing && next + size == end;
            WriteStored(bits, out, At(next), size, final);
            next += size;
            if (final) {
                return;
            }
        }
    }
};

Deflater::Deflater(std::vector<uint8_t>& out) : out_(out) {}

Deflater::~Deflater() = default;

uint32_t Deflater::Begin(const DeflateSettings& settings, bool zlib) {
    state_.reset();
    if (uint32_t error = CheckDeflateSettings(settings)) {
        return error;
    }
    state_ = std::make_unique<State>(out_, settings, zlib);
    if (zlib) {
        out_.push_back(0x78);
        out_.push_back(0x01);
    }
    return 0;
}

void Deflater::Write(const uint8_t* data, size_t size) {
    if (!state_) {
        return;
    }
    State& state = *state_;
    if (state.zlib) {
        state.checksum = ZlibChecksum(state.checksum, data, size);
    }
    while (size > 0) {
        if (state.end - state.base == BufferSize) {
            state.Slide();
        }
        const size_t room = BufferSize - static_cast<size_t>(state.end - state.base);
        const size_t taken = std::min(room, size);
        std::memcpy(state.buffer.data() + (state.end - state.base), data, taken);
        state.end += taken;
        data += taken;
        size -= taken;
        if (state.settings.blockType == 0) {
            state.WriteStoredBlocks(false);
        } else {
            state.Match(false);
        }
    }
}

void Deflater::Finish() {
    if (!state_) {
        return;
    }
    State& state = *state_;
    if (state.settings.blockType == 0) {
        state.WriteStoredBlocks(true);
    } else {
        state.Match(true);
        state.WriteBlock(true);
    }
    state.bits.AlignToByte();
    if (state.zlib) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            out_.push_back(static_cast<uint8_t>(state.checksum >> shift));
        }
    }
    state_.reset();
}

size_t Deflater::GetStateBytes() const {
    if (!state_) {
        return 0;
    }
    return sizeof(State) + state_->buffer.capacity() +
           (state_->heads.capacity() + state_->links.capacity()) * sizeof(int64_t) +
           state_->tokens.capacity() * sizeof(Token);
}

namespace {

uint32_t CompressWhole(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                       const DeflateSettings& settings, bool zlib) {
    Deflater deflater(out);
    if (uint32_t error = deflater.Begin(settings, zlib)) {
        return error;
    }
    deflater.Write(data, size);
    deflater.Finish();
    return 0;
}

} // namespace

uint32_t DeflateCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                         const DeflateSettings& settings) {
    return CompressWhole(out, data, size, settings, false);
}

uint32_t ZlibCompress(std::vector<uint8_t>& out, const uint8_t* data, size_t size,
                      const DeflateSettings& settings) {
    return CompressWhole(out, data, size, settings, true);
}

} // namespace quarn
