#pragma once

#include <cstdint>

namespace quarn {

// With bit 0 of the flags: the collision classes, then the physics classes, in the order
// compiled scripts rely on; answers how many. Without it registers nothing and answers 1.
int32_t RegisterPhysicsClasses(uint32_t flags = 1);

} // namespace quarn
