#include "codecs/WavReader.h"

#include "core/io/File.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

bool ReadId(File& file, char (&id)[4]) {
    return file.Read(id, 4) == 4;
}

uint32_t BytesLeft(File& file) {
    const uint32_t size = file.GetSize();
    const uint32_t at = file.Tell();
    return size > at ? size - at : 0;
}

// Reads `size` bytes that the file claims to hold; the buffer grows only with what arrives.
bool ReadData(File& file, uint32_t size, std::vector<uint8_t>& out) {
    out.clear();
    uint8_t chunk[65536];
    while (out.size() < size) {
        const auto want = static_cast<uint32_t>(std::min<size_t>(size - out.size(), sizeof chunk));
        const uint32_t got = file.Read(chunk, want);
        out.insert(out.end(), chunk, chunk + got);
        if (got < want) {
            return false;
        }
    }
    return true;
}

} // namespace

int ParseWav(File& file, WavData& out) {
    out = WavData();
    char id[4];
    if (!ReadId(file, id) || std::memcmp(id, "RIFF", 4) != 0) {
        return WavNotRiff;
    }
    file.ReadUInt32(); // the RIFF size says nothing the chunks do not
    if (!ReadId(file, id) || std::memcmp(id, "WAVE", 4) != 0) {
        return WavNotRiff;
    }
    bool anyChunk = false;
    bool haveFormat = false;
    bool haveData = false;
    uint32_t blockAlign = 0;
    uint32_t bits = 0;
    while (ReadId(file, id) && BytesLeft(file) >= 4) {
        anyChunk = true;
        const uint32_t size = file.ReadUInt32();
        const uint32_t start = file.Tell();
        if (std::memcmp(id, "fmt ", 4) == 0) {
            if (size < 16) {
                return WavBadFormat;
            }
            if (file.ReadUInt16() != 1) {
                return WavNotPcm;
            }
            out.channels = file.ReadUInt16();
            out.sampleRate = file.ReadUInt32();
            file.ReadUInt32(); // bytes per second follow from the rest
            blockAlign = file.ReadUInt16();
            bits = file.ReadUInt16();
            if (bits % 8 != 0) {
                return WavBadFormat;
            }
            out.bytesPerSample = bits / 8;
            haveFormat = true;
        } else if (std::memcmp(id, "data", 4) == 0) {
            if (size < 1 || size > BytesLeft(file) || !ReadData(file, size, out.samples)) {
                return WavBadData;
            }
            haveData = true;
        }
        // Chunks are padded to an even size.
        const uint64_t next = uint64_t(start) + size + (size & 1);
        if (next > file.GetSize() || !file.Seek(static_cast<uint32_t>(next))) {
            break;
        }
    }
    if (!anyChunk || !haveData) {
        return WavBadData;
    }
    if (!haveFormat || out.channels == 0 || bits == 0 ||
        blockAlign != out.channels * out.bytesPerSample) {
        return WavBadFormat;
    }
    out.frameCount = static_cast<uint32_t>(out.samples.size() / blockAlign);
    return out.frameCount == 0 ? WavBadData : WavOk;
}

} // namespace quarn
