#include "core/scene/Picking.h"

#include "core/os/EngineWork.h"
#include "core/scene/CameraView.h"
#include "core/scene/Node.h"

namespace quarn {

namespace {

Pickable* AsPickable(Node* node) {
    return node->HasFlag(NodeKindRenderObject) ? dynamic_cast<Pickable*>(node) : nullptr;
}

} // namespace

void PickQuery::Init(float maxDistance, uint32_t newFlags, uint32_t newMask0, uint32_t newMask1) {
    Reset(maxDistance);
    flags = newFlags;
    mask0 = newMask0;
    mask1 = newMask1;
}

void PickQuery::Reset(float newMaxDistance) {
    best = PickHit();
    hitCount = 0;
    maxDistance = newMaxDistance;
}

void PickQuery::KeepNearestHit() {
    if (current.distance <= maxDistance) {
        best = current;
        maxDistance = current.distance;
    }
}

bool PickQuery::PickNode(Node* node, const Float3& origin, const Float3& direction) {
    // Iterative: a deep scene must not exhaust the stack. The ray tests only read the tree.
    uint64_t visited = 0;
    for (Node* walk = node; walk; ++visited) {
        if (!walk->IsFullyEnabled()) {
            walk = NextInSubtree(walk, node, false);
            continue;
        }
        if (Pickable* object = AsPickable(walk)) {
            TestObject(walk, object, origin, direction);
        }
        walk = NextInSubtree(walk, node, true);
    }
    ChargeNodesVisited(visited);
    return best.node != nullptr;
}

void PickQuery::TestObject(Node* node, Pickable* object, const Float3& origin,
                           const Float3& direction) {
    if ((flags & PickVisibleOnly) && !object->IsVisible()) {
        return;
    }
    const uint32_t renderFlags = object->GetRenderFlags();
    if ((flags & PickClickableOnly) && !(renderFlags & RenderClickable)) {
        return;
    }
    // Nothing of an earlier object's hit may pass for this one's.
    current = PickHit();
    current.node = node;
    current.object = object;
    if (!object->IntersectRay(origin, direction, *this)) {
        return;
    }
    float distance = current.distance;
    if (distance == 0.0f) {
        return;
    }
    if ((renderFlags & RenderZBias) && distance > 0.0001f) {
        distance -= 0.0001f;
    }
    if (object->GetRenderType() == RenderTypeBackdrop) {
        // Beyond the far plane, so a backdrop never hides what stands in front of it.
        const float farDistance = CurrentCamera ? CurrentCamera->GetFarDistance() : 0.0f;
        distance = farDistance + distance * 0.01f;
    }
    current.distance = distance;
    if ((flags & PickRecordHits) && hitCount < MaxHits) {
        hits[hitCount++] = current;
    }
    KeepNearestHit();
}

bool PickQuery::PickFromScreen(float x, float y) {
    CameraView* camera = CurrentCamera;
    if (!camera) {
        return false;
    }
    Float3 eye;
    Float3 farPoint;
    camera->GetScreenRay(x, y, eye, farPoint);
    const Float3 direction = (farPoint - eye).NormalizedOrSelf();

    Reset(3.4028235e38f);
    flags = PickScreenFlags;
    screenPoint = Float2(x, y);
    hasWorldHitPoint = false;
    worldHitPoint = Float3();

    Node* root = GetSceneRoot();
    if (!root || !PickNode(root, eye, direction)) {
        return false;
    }
    // Stable: hits at equal distances keep the order they were found in.
    for (int i = 1; i < hitCount; ++i) {
        const PickHit hit = hits[i];
        int j = i;
        for (; j > 0 && hits[j - 1].distance > hit.distance; --j) {
            hits[j] = hits[j - 1];
        }
        hits[j] = hit;
    }
    // The nearest listed hit that names a part places the hit point, even when the best hit
    // is another: flat drawables report made-up distances. Without one there is no hit point.
    for (int i = 0; i < hitCount; ++i) {
        if (hits[i].part != -1) {
            worldHitPoint = eye + direction * hits[i].distance;
            hasWorldHitPoint = true;
            best.data = hits[i].data;
            best.part = hits[i].part;
            break;
        }
    }
    return true;
}

} // namespace quarn
