#include "physics/PhysicsClasses.h"

#include "collision/CollisionClasses.h"
#include "physics/Anchor.h"
#include "physics/Module.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/RigidStruct.h"

namespace quarn {

int32_t RegisterPhysicsClasses(uint32_t flags) {
    if (!(flags & 1)) {
        return 1;
    }
    int32_t count = RegisterCollisionClasses();
    count += RigidBody::RegisterClass() ? 1 : 0;
    count += RigidStruct::RegisterClass() ? 1 : 0;
    count += Anchor::RegisterClass() ? 1 : 0;
    count += Module::RegisterClass() ? 1 : 0;
    count += PhysicsMaster::RegisterClass() ? 1 : 0;
    return count;
}

} // namespace quarn
