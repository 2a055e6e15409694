#include "collision/CollisionClasses.h"

#include "collision/CollisionBox.h"
#include "collision/CollisionCapsule.h"
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

void RegisterCollisionClasses() {
    CollisionVolume::RegisterClass();
    CollisionSphere::RegisterClass();
    CollisionBox::RegisterClass();
    CollisionRay::RegisterClass();
    CollisionPoint::RegisterClass();
    CollisionCapsule::RegisterClass();
    CollisionPlane::RegisterClass();
    CollisionMesh::RegisterClass();
    CollisionSurface::RegisterClass();
    CollisionTerrain::RegisterClass();
    CollisionSpace::RegisterClass();
    CollisionSpaceSweepnPrune::RegisterClass();
    CollisionSpaceHash::RegisterClass();
    CollisionPartition::RegisterClass();
}

} // namespace quarn
