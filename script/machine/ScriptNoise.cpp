#include "script/machine/ScriptNoise.h"

#include <cmath>
#include <cstdint>

namespace quarn {

namespace {

// The lattice value at integer k: the shifts and products wrap as unsigned words.
float LatticeValue(int32_t k) {
    const uint32_t word = static_cast<uint32_t>(k);
    const uint32_t m = (word << 13) ^ word;
    const uint32_t h = ((m * m * 15731u + 789221u) * m - 771171059u) & 0x7FFFFFFFu;
    return 1.0f - static_cast<float>(h) * 9.313225746154785e-10f;
}

} // namespace

float Noise1D(float x) {
    const float floored = std::floor(x);
    // Outside the int range (or NaN) the lattice point saturates rather than overflowing.
    const int32_t n = floored >= 2147483520.0f    ? INT32_MAX - 1
                      : floored <= -2147483648.0f ? INT32_MIN
                      : floored == floored        ? static_cast<int32_t>(floored)
                                                  : 0;
    const float f = x - static_cast<float>(n);
    return LatticeValue(n) * (1.0f - f) + LatticeValue(n + 1) * f;
}

float FractalNoise1D(float x, int octaves, float persistence) {
    float sum = 0.0f;
    float amplitude = 1.0f;
    for (int octave = 0; octave < octaves; ++octave) {
        sum += Noise1D(x) * amplitude;
        x = 2.0f * x;
        amplitude *= persistence;
    }
    return sum;
}

} // namespace quarn
