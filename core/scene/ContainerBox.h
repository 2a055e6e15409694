#pragma once

#include "core/math/Geometry.h"
#include "core/scene/Pivot.h"

#include <cstdint>

namespace quarn {

// Bits of the extent flags word; bits 0-6 are the "extentflags" property.
enum ExtentFlags : uint32_t {
    ExtentsVisualCull = 0x1,  // the renderer may skip the subtree when the box is out of view
    ExtentsLogicalCull = 0x2, // kept and saved; nothing tests it
    ExtentsAutoExpand = 0x4,  // refresh a stale box on read; grow as descendants arrive or move
    ExtentsAutoShrink = 0x8, // refresh a stale box on read; a face node leaving or moving stales it
    ExtentsIncludeSelf = 0x10, // the container's own position is part of the box
    ExtentsForceCull = 0x20,   // with ExtentsVisualCull, the renderer always skips the subtree
    ExtentsRelative = 0x40,    // the corners are stored relative to the container's position
    ExtentsMinSet = 0x10000,
    ExtentsMaxSet = 0x20000,
    // Neither bit set: the box is stale.
    ExtentsValid = ExtentsMinSet | ExtentsMaxSet,
};

// A pivot that keeps an axis-aligned box (its extents) around its descendants, so the renderer
// can cull the whole subtree and scripts can test points against it. Growth is incremental:
// attached descendants and moved pivots push the faces out, and each face remembers the node
// that pushed it last (its periphery node); a full refresh walks the subtree, taking a child
// container's own box instead of its descendants'.
class ContainerBox : public Pivot {
public:
    // The faces in the order of the periphery entries and of the face mask bits: min x, y, z,
    // then max x, y, z.
    static constexpr int FaceCount = 6;

    ContainerBox();

    // Rebuilds the box from the subtree, whatever the flags.
    void UpdateExtents();
    // The box in world space, refreshed first when stale and autoexpand or autoshrink asks.
    Aabb GetExtents();
    // Against the stored corners as they are: no refresh, no relative offset. Faces count.
    bool IsPointInside(Float3 point) const;
    // Sends "selectnode" with the node of the first face and "selectnodealso" with those of the
    // other five; a node that defines several faces is named once, a deleted one not at all.
    void SelectPeripheryNodes();

    // The low 16 bits, as the property reads and writes them: the valid bits are the box's own
    // state, and a saved scene carrying them would not read back as written.
    uint32_t GetExtentFlags() const { return extentFlags_ & 0xFFFF; }
    // Stores value & 0xFFFF, which leaves the box stale.
    void SetExtentFlags(uint32_t value);
    // The stored corners, refreshed as GetExtents does; relative when ExtentsRelative is set.
    Float3 GetExtentsMin();
    Float3 GetExtentsMax();
    void SetExtentsMin(Float3 corner);
    void SetExtentsMax(Float3 corner);
    bool IsStale() const { return (extentFlags_ & ExtentsValid) == 0; }
    // The serial of the node that last pushed a face out (0 for none).
    uint64_t GetPeripheryNode(int face) const { return periphery_[face]; }

    // Grows the box by a node's own box; true when a face moved. Only pivots on the same side
    // of the screen-like split as the container count.
    bool AddChildExtents(Node* node);

    int GetIconIndex() const override { return HasFlag(NodeExpanded) ? 20 : 19; }
    void InvalidateTransform() override;
    void OnDescendantChanged(Node* node, bool attached) override;
    bool HearsDescendantChanges() const override { return true; }
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Grows the box by the node and its subtree, a child container by its own box only.
    void AddNodeExtents(Node* node);
    // Grows the stored box by a world-space box; answers the mask of the faces that moved.
    uint32_t GrowBy(const Aabb& worldBox);
    bool IsPeripheryNode(uint64_t serial) const;
    void MakeStale() { extentFlags_ &= ~static_cast<uint32_t>(ExtentsValid); }
    void RefreshIfAsked();
    bool IsScreenLike() const;

    // A pivot's "pos" or "orient" changed: every container above it grows or goes stale.
    static void OnPivotMoved(Entity* target, Entity& object, const uint32_t* oldValue,
                             const uint32_t* newValue);

    Float3 extentsMin_;
    Float3 extentsMax_;
    uint32_t extentFlags_ = ExtentsVisualCull;
    // Serials, never addresses: a node made where a deleted one lived is never taken for it.
    uint64_t periphery_[FaceCount] = {};
};

// A container box under a name and icons of its own.
class Layer : public ContainerBox {
public:
    int GetIconIndex() const override { return HasFlag(NodeExpanded) ? 16 : 17; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

// The node as a container box, or null when it is none.
inline ContainerBox* AsContainerBox(Node* node) {
    return node && node->HasFlag(NodeKindContainerBox) ? dynamic_cast<ContainerBox*>(node)
                                                       : nullptr;
}

} // namespace quarn
