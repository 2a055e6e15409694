#pragma once

#include <cstdint>

namespace quarn {

// The engine's one random generator, shared by particles, grass, physics and scripts. It keeps
// the 15-bit linear congruential sequence (x := x * 214013 + 2531011, value (x >> 16) & 0x7FFF)
// on every platform, because games depend on its range and on the sequence a seed gives; the
// host C library's rand has neither. The state is program-wide: reseeding restarts the sequence
// for every user, as games expect. Not thread-safe: it belongs to the game thread.

inline constexpr int32_t RandomMax = 32767;

// Sets the state to the seed. Before any seeding the state is 1.
void SeedRandom(uint32_t seed);
// The next value, 0 to RandomMax.
int32_t RandomNumber();

// The floating results divide by 32767.0, so both ends of each range are reachable.
// 0 to 1 inclusive.
float RandomUnit();
// 0 to max inclusive.
float RandomScaled(float max);
// min to max inclusive.
float RandomRange(float min, float max);

} // namespace quarn
