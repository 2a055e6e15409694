#pragma once

namespace quarn {

// Registers the collision classes in their start-up order; the order decides which collider
// a pair of shape types gets (the first registration of a pair wins).
void RegisterCollisionClasses();

} // namespace quarn
