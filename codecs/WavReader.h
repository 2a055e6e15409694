#pragma once

#include <cstdint>
#include <vector>

namespace quarn {

class File;

// What ParseWav answers.
enum WavResult : int {
    WavOk = 0,
    WavNotRiff = 1,   // no "RIFF" ... "WAVE" header
    WavBadFormat = 2, // the "fmt " chunk is missing, short or inconsistent
    WavNotPcm = 3,    // a format tag other than 1 (integer PCM)
    WavBadData = 4,   // no chunk, no "data" chunk, one longer than the file, or no whole frame
};

// The PCM sound of a WAV file.
struct WavData {
    uint32_t frameCount = 0; // samples per channel
    uint32_t channels = 0;
    uint32_t bytesPerSample = 0;
    uint32_t sampleRate = 0;
    std::vector<uint8_t> samples; // the "data" chunk, interleaved; at least frameCount frames
};

// Reads a RIFF WAVE file of integer PCM from the file's current position. Chunks of other kinds
// are skipped, with the pad byte that follows a chunk of odd size. A format is accepted when its
// block alignment is channels x bytes per sample, neither being 0, and its bits a multiple of 8;
// whether a device can play it is the caller's question.
int ParseWav(File& file, WavData& out);

} // namespace quarn
