#include "collision/CollisionClasses.h"

#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
#include "collision/CollisionCylinder.h"
#include "collision/CollisionMesh.h"
#include "collision/CollisionPartition.h"
#include "collision/CollisionPlane.h"
#include "collision/CollisionPoint.h"
#include "collision/CollisionRay.h"
#include "collision/CollisionSpaceHash.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "collision/CollisionSphere.h"
#include "collision/CollisionSurface.h"
#include "collision/CollisionTerrain.h"

namespace quarn {

int32_t RegisterCollisionClasses() {
    int32_t count = 0;
    auto add = [&count](ClassInfo* registered) { count += registered ? 1 : 0; };
    add(CollisionVolume::RegisterClass());
    add(CollisionSphere::RegisterClass());
    add(CollisionBox::RegisterClass());
    add(CollisionRay::RegisterClass());
    add(CollisionPoint::RegisterClass());
    add(CollisionCylinder::RegisterClass());
    add(CollisionCapsule::RegisterClass());
    add(CollisionPlane::RegisterClass());
    add(CollisionMesh::RegisterClass());
    add(CollisionSurface::RegisterClass());
    add(CollisionTerrain::RegisterClass());
    add(CollisionSpace::RegisterClass());
    add(CollisionSpaceHash::RegisterClass());
    add(CollisionSpaceSweepnPrune::RegisterClass());
    add(CollisionPartition::RegisterClass());
    return count;
}

} // namespace quarn
