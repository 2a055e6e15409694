#pragma once

namespace quarn {

// Smooth one-dimensional value noise in [-1, 1]: a hashed value at each integer, blended
// linearly between them. The hash wraps in 32 bits, so results are the same on every build.
float Noise1D(float x);
// Octaves of Noise1D at doubling frequency, each weighted by persistence^octave; 0 for fewer
// than one octave.
float FractalNoise1D(float x, int octaves, float persistence);

} // namespace quarn
