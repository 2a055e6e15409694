#pragma once

namespace quarn {

// The placeholder-geometry classes, after the collision shapes they derive from; answers how
// many it registered.
int RegisterMockupClasses();

} // namespace quarn
