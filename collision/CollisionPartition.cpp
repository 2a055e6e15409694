#include "collision/CollisionPartition.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "core/scene/Picking.h"
#include "resources/DynamicMesh.h"

namespace quarn {

ClassInfo* CollisionPartition::classInfo = nullptr;

namespace {

// Shared by every partition: the last line query's result.
PickQuery& LineQuery() {
    static PickQuery query;
    return query;
}
Float3 lastLinePoint;

} // namespace

CollisionPartition::CollisionPartition() {
    SendSignal("setpartitioner", static_cast<Entity*>(this), true);
}

CollisionPartition::~CollisionPartition() {
    SendSignal("setpartitioner", nullptr, true);
}

bool CollisionPartition::LineCollision(Entity* entity, Float3 origin, Float3 delta) {
    PickQuery& query = LineQuery();
    query.Init(PickQuery::DefaultMaxDistance, PickCollisionVolumes, 0, 0);
    auto* node = dynamic_cast<Node*>(entity);
    const bool hit = node && query.PickNode(node, origin, delta);
    lastLinePoint = origin + delta * query.best.distance;
    return hit;
}

Entity* CollisionPartition::GetCollisionNode() {
    return LineQuery().best.node;
}
float CollisionPartition::GetCollisionDist() {
    return LineQuery().best.distance;
}
Float3 CollisionPartition::GetCollisionPoint() {
    return lastLinePoint;
}
Float3 CollisionPartition::GetCollisionNormal() {
    return LineQuery().best.data;
}

int32_t CollisionPartition::Render() {
    if (TestRenderFlags(RenderGizmo)) {
        DrawScreenText(8.0f, 24.0f, "0 pairs", 0xFFFFFFFF);
    }
    return 0;
}

ClassInfo* CollisionPartition::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "CollisionPartition", []() -> Entity* { return new CollisionPartition(); }, &classInfo);
    // Listed as a plain node: its drawing is only a gizmo.
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Collision");
    using P = CollisionPartition;
    classInfo->AddProperty<PropertyInt, &P::GetMaxNodes, &P::SetMaxNodes>("maxnodes");
    classInfo->AddProperty<PropertyInt, &P::GetMaxPairs, &P::SetMaxPairs>("maxpairs");
    classInfo->AddMethod("LineCollision", "(entity,float3,float3):bool",
                         BindMethod<&P::LineCollision>(), MethodScript);
    classInfo->AddMethod("GetCollisionNode", ":entity", BindMethod<&P::GetCollisionNode>(),
                         MethodScript);
    classInfo->AddMethod("GetCollisionDist", ":float", BindMethod<&P::GetCollisionDist>(),
                         MethodScript);
    classInfo->AddMethod("GetCollisionPoint", ":float3", BindMethod<&P::GetCollisionPoint>(),
                         MethodScript);
    classInfo->AddMethod("GetCollisionNormal", ":float3", BindMethod<&P::GetCollisionNormal>(),
                         MethodScript);
    return classInfo;
}

} // namespace quarn
