#include "physics/PhysicsClasses.h"

#include "collision/CollisionClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"

namespace quarn {

int32_t RegisterPhysicsClasses(uint32_t flags) {
    if (!(flags & 1)) {
        return 1;
    }
    int32_t count = RegisterCollisionClasses();
    count += RigidBody::RegisterClass() ? 1 : 0;
    count += PhysicsMaster::RegisterClass() ? 1 : 0;
    return count;
}

} // namespace quarn
