#pragma once

#include <cstdint>

namespace quarn {

// Registers the collision classes in their start-up order; the order decides which collider
// a pair of shape types gets (the first registration of a pair wins). Answers how many.
int32_t RegisterCollisionClasses();

} // namespace quarn
