#pragma once

namespace quarn {

// The collision classes, then the physics classes, in the order compiled scripts rely on.
void RegisterPhysicsClasses();

} // namespace quarn
