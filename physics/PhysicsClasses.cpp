#include "physics/PhysicsClasses.h"

#include "collision/CollisionClasses.h"
#include "physics/Anchor.h"
#include "physics/Module.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "physics/RigidStruct.h"

namespace quarn {

void RegisterPhysicsClasses() {
    RegisterCollisionClasses();
    RigidBody::RegisterClass();
    RigidStruct::RegisterClass();
    Anchor::RegisterClass();
    Module::RegisterClass();
    PhysicsMaster::RegisterClass();
}

} // namespace quarn
