#include "codecs/ImageChecksums.h"

#include "core/io/ByteOrder.h"

#include <array>

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
    uint32_t a = start & 0xFFFF;
    uint32_t b = start >> 16;
    while (length > 0) {
        // 5550 bytes keep both sums inside 32 bits before the reduction.
        size_t amount = length < 5550 ? length : 5550;
        length -= amount;
        while (amount-- > 0) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

} // namespace quarn
