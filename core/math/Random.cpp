#include "core/math/Random.h"

namespace quarn {

namespace {

uint32_t state = 1;

} // namespace

void SeedRandom(uint32_t seed) {
    state = seed;
}

int32_t RandomNumber() {
    // Unsigned arithmetic wraps modulo 2^32, as the sequence requires.
    state = state * 214013u + 2531011u;
    return static_cast<int32_t>((state >> 16) & 0x7FFFu);
}

// The expressions keep the mixed float and double steps of the original C arithmetic so that the
// rounded results match bit for bit.
float RandomUnit() {
    return static_cast<float>(RandomNumber() / 32767.0);
}

float RandomScaled(float max) {
    return static_cast<float>(RandomNumber() * max / 32767.0);
}

float RandomRange(float min, float max) {
    return static_cast<float>(min + (max - min) * RandomNumber() / 32767.0);
}

} // namespace quarn
