#include "physics/PhysicsClasses.h"

#include "collision/CollisionClasses.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"

namespace quarn {

void RegisterPhysicsClasses() {
    RegisterCollisionClasses();
    RigidBody::RegisterClass();
    PhysicsMaster::RegisterClass();
}

} // namespace quarn
