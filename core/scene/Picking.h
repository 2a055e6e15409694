#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

class Node;
class PickQuery;

// Query flag bits. The walk reads the high ones; the low ones are for the objects' ray tests.
enum PickFlags : uint32_t {
    PickCollisionVolumes = 0x1, // collision volumes answer the ray
    PickSolids = 0x2,           // drawables placed in 3D answer the ray
    PickScreenObjects = 0x8,    // drawables placed on the screen answer the screen point
    PickGizmos = 0x10,          // editor gizmos answer the screen point
    PickAnyObject = 0x1F,       // every kind of object the low five bits select
    PickNormal = 0x40,          // ray tests report the hit normal
    PickVisibleOnly = 0x100,    // skip objects that are not visible
    PickFaceMasks = 0x200,      // shapes let rays through their hidden faces
    PickRecordHits = 0x800,     // list every hit, up to PickQuery::MaxHits
    PickClickableOnly = 0x1000, // skip objects without RenderClickable
    PickDefaultFlags = PickCollisionVolumes | PickNormal,
    // A screen pick: what lies under the mouse pointer, as the user sees it.
    PickScreenFlags = PickAnyObject | PickNormal | PickVisibleOnly | PickFaceMasks |
                      PickRecordHits | PickClickableOnly,
};

// Render-flag bits and the render type that picking reads of a drawable.
// Drawn just in front of what it lies on: wins a tie in picking.
inline constexpr uint32_t RenderZBias = 0x400;
inline constexpr uint32_t RenderClickable = 0x10000;
inline constexpr int32_t RenderTypeBackdrop = 1;

// What picking asks of a drawable. Render objects implement it and carry NodeKindRenderObject
// in their node flags; picking asks only nodes that carry the bit.
class Pickable {
public:
    virtual ~Pickable() = default;

    virtual bool IsVisible() = 0;
    // Tests the ray (world space, direction of unit length) against the object. On a hit it
    // fills the query's current hit (distance along the ray, part number, point or normal
    // data) and answers true.
    virtual bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) = 0;
    virtual uint32_t GetRenderFlags() const = 0;
    virtual int32_t GetRenderType() const = 0;
};

struct PickHit {
    Node* node = nullptr;
    Pickable* object = nullptr;
    int32_t part = -1; // -1: the hit names no part
    float distance = 0.0f;
    Float3 data; // the hit's normal or point, as the object's test gives it
};

// Finds the drawable under a ray: the nearest hit over a subtree, and with PickRecordHits up
// to MaxHits hits in the order found (sorted by distance after a screen pick).
class PickQuery {
public:
    static constexpr int MaxHits = 32;
    static constexpr float DefaultMaxDistance = 1e24f;

    void Init(float maxDistance, uint32_t flags, uint32_t mask0, uint32_t mask1);
    void Reset(float maxDistance);

    // Walks the subtree of `node`; true when a best hit exists afterwards.
    bool PickNode(Node* node, const Float3& origin, const Float3& direction);
    // The current hit becomes the best when it is no farther than the maximum distance, which
    // then shrinks to it.
    void KeepNearestHit();
    // Picks the scene through the current camera at a screen point (pixels); false without a
    // camera, without a scene or without a hit. On success the hit list is sorted and, when a
    // listed hit names a part, the world hit point is set.
    bool PickFromScreen(float x, float y);

    uint32_t flags = PickDefaultFlags;
    uint32_t mask0 = 0;
    uint32_t mask1 = 0;
    Float2 screenPoint;
    PickHit current; // filled by the object's ray test
    PickHit best;    // best.node is null while nothing was hit
    float maxDistance = DefaultMaxDistance;
    Float3 worldHitPoint;
    bool hasWorldHitPoint = false;
    PickHit hits[MaxHits];
    int hitCount = 0;

private:
    void TestObject(Node* node, Pickable* object, const Float3& origin, const Float3& direction);
};

} // namespace quarn
