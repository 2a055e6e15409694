#include "core/io/File.h"

#include <algorithm>

namespace quarn {

std::vector<uint8_t> File::ReadRemaining() {
    constexpr uint32_t HintCap = 16u << 20;
    std::vector<uint8_t> bytes;
    bytes.reserve(std::min(GetSize(), HintCap));
    uint8_t chunk[65536];
    for (;;) {
        const uint32_t got = Read(chunk, sizeof chunk);
        if (got == 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

namespace {

// Delimiters are byte values; comparing the low 8 bits lets a caller pass a plain (signed) char
// and still match a source that delivers bytes zero-extended, and the other way round.
bool IsDelimiter(int byte, int delimiter) {
    return (byte & 0xFF) == (delimiter & 0xFF);
}

// The run up to the delimiter, bounded by the capacity. A trailing CR is dropped only when it
// really ended the run: in a run cut short the last stored byte is not the line's last byte.
uint32_t ReadRun(File& file, char* buffer, uint32_t capacity, int delimiter, bool dropTrailingCr) {
    uint32_t stored = 0;
    uint32_t skipped = 0;
    bool cut = false;
    for (int byte = file.ReadByte(); byte != -1 && !IsDelimiter(byte, delimiter);
         byte = file.ReadByte()) {
        if (!buffer) {
            ++skipped;
        } else if (stored + 1 < capacity) {
            buffer[stored++] = static_cast<char>(byte);
        } else {
            cut = true;
        }
    }
    if (!buffer) {
        return skipped;
    }
    if (dropTrailingCr && !cut && stored > 0 && buffer[stored - 1] == '\r') {
        --stored;
    }
    if (capacity > 0) {
        buffer[stored] = '\0';
    }
    return stored;
}

void ReadStringRun(File& file, std::string& text, int delimiter) {
    text.clear();
    for (int byte = file.ReadByte(); byte != -1 && !IsDelimiter(byte, delimiter);
         byte = file.ReadByte()) {
        text.push_back(static_cast<char>(byte));
    }
}

} // namespace

// With a null buffer the run is skipped and its length returned, so a caller can drop the rest
// of a line without a buffer of its own.
uint32_t File::ReadUntil(char* buffer, uint32_t capacity, int delimiter) {
    return ReadRun(*this, buffer, capacity, delimiter, false);
}

void File::ReadStringUntil(std::string& text, int delimiter) {
    ReadStringRun(*this, text, delimiter);
}

uint32_t File::ReadLine(char* buffer, uint32_t capacity) {
    return ReadRun(*this, buffer, capacity, '\n', true);
}

void File::ReadLineString(std::string& text) {
    ReadStringRun(*this, text, '\n');
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
}

// Masking makes the end read as 0xFF and undoes the sign extension of text sources.
uint8_t File::ReadUInt8() {
    return static_cast<uint8_t>(ReadByte() & 0xFF);
}

uint16_t File::ReadUInt16() {
    uint32_t low = static_cast<uint32_t>(ReadByte() & 0xFF);
    uint32_t high = static_cast<uint32_t>(ReadByte() & 0xFF);
    return static_cast<uint16_t>(low | high << 8);
}

uint32_t File::ReadUInt32() {
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        value |= static_cast<uint32_t>(ReadByte() & 0xFF) << shift;
    }
    return value;
}

} // namespace quarn
