#include "codecs/ImageChecksums.h"

#include "core/io/ByteOrder.h"

#include <array>
#include <emmintrin.h>

namespace quarn {
namespace {

// Eight tables let the CRC consume a 32-bit word per step (slicing by eight bytes).
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

CrcTables BuildCrcTables() {
    CrcTables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        tables[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n) {
        for (size_t t = 1; t < 8; ++t) {
            tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFF];
        }
    }
    return tables;
}

const CrcTables& GetCrcTables() {
    static const CrcTables tables = BuildCrcTables();
    return tables;
}

} // namespace

uint32_t Crc32(uint32_t running, const uint8_t* data, size_t length) {
    const CrcTables& t = GetCrcTables();
    uint32_t c = running;
    while (length >= 8) {
        const uint32_t low = c ^ ReadLittleEndian32(data);
        c = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
            t[4][low >> 24] ^ t[3][data[4]] ^ t[2][data[5]] ^ t[1][data[6]] ^ t[0][data[7]];
        data += 8;
        length -= 8;
    }
    while (length-- > 0) {
        c = t[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
    }
    return c;
}

uint32_t ChunkCrc(const uint8_t* data, size_t length) {
    return Crc32(0xFFFFFFFFu, data, length) ^ 0xFFFFFFFFu;
}

uint32_t ZlibChecksum(uint32_t start, const uint8_t* data, size_t length) {
    constexpr uint32_t Base = 65521;
    // The most bytes after which both sums still fit 32 bits before the reduction.
    constexpr size_t Run = 5552;
    uint64_t a = start & 0xFFFF;
    uint64_t b = start >> 16;
    const __m128i zero = _mm_setzero_si128();
    // Weights 16..1 of a block's bytes in the second sum.
    const __m128i weightsLow = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weightsHigh = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (length > 0) {
        size_t amount = length < Run ? length : Run;
        length -= amount;
        // Sixteen bytes at a time: a grows by their sum; b by 16 a, taken before the block,
        // plus the bytes weighted by their distance from the block's end.
        const size_t blocks = amount / 16;
        __m128i sums = zero;    // running byte sums (two 64-bit lanes)
        __m128i earlier = zero; // the byte sums before each block, added up
        __m128i weighted = zero;
        for (size_t i = 0; i < blocks; ++i) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data));
            earlier = _mm_add_epi64(earlier, sums);
            sums = _mm_add_epi64(sums, _mm_sad_epu8(bytes, zero));
            weighted =
                _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weightsLow));
            weighted = _mm_add_epi32(weighted,
                                     _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weightsHigh));
            data += 16;
        }
        alignas(16) uint64_t sumLanes[2], earlierLanes[2];
        alignas(16) uint32_t weightedLanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(sumLanes), sums);
        _mm_store_si128(reinterpret_cast<__m128i*>(earlierLanes), earlier);
        _mm_store_si128(reinterpret_cast<__m128i*>(weightedLanes), weighted);
        b += 16 * (blocks * a + earlierLanes[0] + earlierLanes[1]) + weightedLanes[0] +
             weightedLanes[1] + weightedLanes[2] + weightedLanes[3];
        a += sumLanes[0] + sumLanes[1];
        for (amount -= blocks * 16; amount > 0; --amount) {
            a += *data++;
            b += a;
        }
        a %= Base;
        b %= Base;
    }
    return uint32_t(b << 16 | a);
}

} // namespace quarn
