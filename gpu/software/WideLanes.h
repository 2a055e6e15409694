#pragma once

// Whether the loops written over a lane type (the textured span loop, the shader block runner)
// run eight lanes at a time: on processors with AVX2, unless a test has turned it off to check
// the four-lane loops, which give the same bits.

namespace quarn {

bool WideLanes();
void AllowWideLanes(bool allow);

} // namespace quarn
