#pragma once

#include <cstddef>
#include <cstdint>

namespace quarn {

// The CRC-32 of PNG chunks (reflected polynomial 0xEDB88320). A chunk's CRC starts from
// 0xFFFFFFFF and is inverted at the end; Crc32 neither presets nor inverts, so a long run can
// be fed in pieces.
uint32_t Crc32(uint32_t running, const uint8_t* data, size_t length);
// CRC of one chunk's type and data, preset and inverted as a chunk stores it.
uint32_t ChunkCrc(const uint8_t* data, size_t length);

// The zlib stream checksum (sums modulo 65521); a fresh checksum starts from 1.
uint32_t ZlibChecksum(uint32_t start, const uint8_t* data, size_t length);

} // namespace quarn
