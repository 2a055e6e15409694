#include "core/scene/ContainerBox.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "core/os/EngineWork.h"
#include "core/scene/RenderObjectBounds.h"

#include <limits>

namespace quarn {

ClassInfo* ContainerBox::classInfo = nullptr;
ClassInfo* Layer::classInfo = nullptr;

namespace {

constexpr float Largest = std::numeric_limits<float>::max();
// The box of a pivot placed on the screen or at the identity: it covers everything.
constexpr float Everywhere = 1e24f;

bool IsScreenLikeMode(int32_t mode) {
    return mode == MatrixScreen || mode == MatrixViewSpace;
}

Entity* SignalArgument(uint64_t serial) {
    return static_cast<Entity*>(FindLiveNode(serial));
}

// Reading a corner refreshes the box, as scripts and the scene writer expect of it.
template <Float3 (ContainerBox::*Corner)()>
void GetCorner(const Entity& object, uint32_t* out) {
    if (auto* box = dynamic_cast<const ContainerBox*>(&object)) {
        ValueTraits<Float3>::Write((const_cast<ContainerBox*>(box)->*Corner)(), out);
    }
}

} // namespace

ContainerBox::ContainerBox() {
    SetFlag(NodeKindContainerBox, true);
}

bool ContainerBox::IsScreenLike() const {
    return IsScreenLikeMode(GetMatrixMode());
}

bool ContainerBox::IsPeripheryNode(uint64_t serial) const {
    for (uint64_t entry : periphery_) {
        if (entry != 0 && entry == serial) {
            return true;
        }
    }
    return false;
}

void ContainerBox::RefreshIfAsked() {
    if (IsStale() && (extentFlags_ & (ExtentsAutoExpand | ExtentsAutoShrink))) {
        UpdateExtents();
    }
}

void ContainerBox::UpdateExtents() {
    const bool relative = (extentFlags_ & ExtentsRelative) != 0;
    const Float3 position = GetWorldPosition();
    const Float3 self = relative ? Float3() : position;
    if (extentFlags_ & ExtentsIncludeSelf) {
        extentsMin_ = self;
        extentsMax_ = self;
    } else {
        extentsMin_ = {Largest, Largest, Largest};
        extentsMax_ = {-Largest, -Largest, -Largest};
    }
    for (uint64_t& entry : periphery_) {
        entry = GetSerial();
    }
    for (Node* child = GetFirstChild(); child; child = child->GetNext()) {
        AddNodeExtents(child);
    }
    if (extentsMin_.x == Largest) {
        extentsMin_ = self;
        extentsMax_ = self;
    }
    extentFlags_ |= ExtentsValid;
}

Aabb ContainerBox::GetExtents() {
    RefreshIfAsked();
    Aabb box{extentsMin_, extentsMax_};
    // The stored corners follow the container wherever it has moved since they were computed.
    if (extentFlags_ & ExtentsRelative) {
        const Float3 origin = GetWorldPosition();
        box.min = box.min + origin;
        box.max = box.max + origin;
    }
    return box;
}

bool ContainerBox::IsPointInside(Float3 point) const {
    return Aabb{extentsMin_, extentsMax_}.Contains(point);
}

uint32_t ContainerBox::GrowBy(const Aabb& worldBox) {
    Aabb box = worldBox;
    if (extentFlags_ & ExtentsRelative) {
        const Float3 origin = GetWorldPosition();
        box.min = box.min - origin;
        box.max = box.max - origin;
    }
    uint32_t mask = 0;
    // Written as plain comparisons so that equal values, and NaN, move nothing.
    auto lower = [&mask](float& stored, float value, uint32_t face) {
        if (value < stored) {
            stored = value;
            mask |= face;
        }
    };
    auto raise = [&mask](float& stored, float value, uint32_t face) {
        if (value > stored) {
            stored = value;
            mask |= face;
        }
    };
    lower(extentsMin_.x, box.min.x, 1);
    lower(extentsMin_.y, box.min.y, 2);
    lower(extentsMin_.z, box.min.z, 4);
    raise(extentsMax_.x, box.max.x, 8);
    raise(extentsMax_.y, box.max.y, 16);
    raise(extentsMax_.z, box.max.z, 32);
    return mask;
}

bool ContainerBox::AddChildExtents(Node* node) {
    Pivot* pivot = AsPivot(node);
    if (!pivot || IsScreenLikeMode(pivot->GetMatrixMode()) != IsScreenLike()) {
        return false;
    }
    Aabb box;
    const int32_t mode = pivot->GetMatrixMode();
    if (IsScreenLikeMode(mode) || mode == MatrixQuarn) {
        box = {{-Everywhere, -Everywhere, -Everywhere}, {Everywhere, Everywhere, Everywhere}};
    } else if (auto* bounds = node->HasFlag(NodeKindRenderObject)
                                  ? dynamic_cast<RenderObjectBounds*>(node)
                                  : nullptr) {
        box = bounds->GetWorldBoundingBox();
    } else {
        const Float3 position = pivot->GetWorldPosition();
        box = {position, position};
    }
    const uint32_t mask = GrowBy(box);
    for (int face = 0; face < FaceCount; ++face) {
        if (mask & (1u << face)) {
            periphery_[face] = node->GetSerial();
        }
    }
    return mask != 0;
}

void ContainerBox::AddNodeExtents(Node* node) {
    // Iterative: a deep subtree must not exhaust the stack.
    uint64_t visited = 0;
    for (Node* walk = node; walk; ++visited) {
        if (ContainerBox* child = AsContainerBox(walk)) {
            const uint32_t mask = GrowBy(child->GetExtents());
            for (int face = 0; face < FaceCount; ++face) {
                if (mask & (1u << face)) {
                    periphery_[face] = child->periphery_[face];
                }
            }
            walk = NextInSubtree(walk, node, false);
        } else {
            AddChildExtents(walk);
            walk = NextInSubtree(walk, node, true);
        }
    }
    ChargeNodesVisited(visited);
}

void ContainerBox::SelectPeripheryNodes() {
    uint64_t kept[FaceCount] = {};
    for (int face = 0; face < FaceCount; ++face) {
        const uint64_t serial = periphery_[face];
        if (!AsPivot(FindLiveNode(serial))) {
            continue;
        }
        bool named = false;
        for (int earlier = 0; earlier < face; ++earlier) {
            named = named || kept[earlier] == serial;
        }
        if (!named) {
            kept[face] = serial;
        }
    }
    // Resolved at each send: a receiver may delete any of them.
    SendSignal("selectnode", SignalArgument(kept[0]), true);
    for (int face = 1; face < FaceCount; ++face) {
        SendSignal("selectnodealso", SignalArgument(kept[face]), true);
    }
}

void ContainerBox::SetExtentFlags(uint32_t value) {
    extentFlags_ = value & 0xFFFF;
}

Float3 ContainerBox::GetExtentsMin() {
    RefreshIfAsked();
    return extentsMin_;
}

Float3 ContainerBox::GetExtentsMax() {
    RefreshIfAsked();
    return extentsMax_;
}

void ContainerBox::SetExtentsMin(Float3 corner) {
    extentsMin_ = corner;
    extentFlags_ |= ExtentsMinSet;
}

void ContainerBox::SetExtentsMax(Float3 corner) {
    extentsMax_ = corner;
    extentFlags_ |= ExtentsMaxSet;
}

void ContainerBox::InvalidateTransform() {
    // Relative corners move with the container; world corners are stale once it moves.
    if (!(extentFlags_ & ExtentsRelative)) {
        MakeStale();
    }
    Pivot::InvalidateTransform();
}

void ContainerBox::OnDescendantChanged(Node* node, bool attached) {
    const uint64_t self = GetSerial();
    if (!attached) {
        if ((extentFlags_ & ExtentsAutoShrink) && IsPeripheryNode(node->GetSerial())) {
            MakeStale();
        }
    } else if (extentFlags_ & ExtentsAutoExpand) {
        AddNodeExtents(node);
    }
    if (IsAlive(self)) {
        Pivot::OnDescendantChanged(node, attached);
    }
}

void ContainerBox::OnPivotMoved(Entity*, Entity& object, const uint32_t*, const uint32_t*) {
    // Only a pivot tells of these properties, and the listener's filter admits pivots alone: no
    // cast needs asking on every move of every body.
    Pivot* pivot = &static_cast<Pivot&>(object);
    // Every container hears its descendants, so the hearing ancestors hold them all: a chain of
    // plain pivots is passed over at once, and a load that places each link of a deep chain
    // costs no walk to the root.
    for (Node* node = pivot->GetHearingAncestor(); node; node = node->GetHearingAncestor()) {
        ContainerBox* box = AsContainerBox(node);
        if (!box) {
            continue;
        }
        if ((box->extentFlags_ & ExtentsAutoShrink) && box->IsPeripheryNode(pivot->GetSerial())) {
            box->MakeStale();
        }
        if ((box->extentFlags_ & ExtentsAutoExpand) && !box->AddChildExtents(pivot)) {
            break;
        }
    }
}

void ContainerBox::UpgradeVersion(int fileVersion) {
    Pivot::UpgradeVersion(fileVersion);
    if (fileVersion == 25) {
        extentFlags_ = ExtentsVisualCull;
    } else if (fileVersion == 33) {
        // The old word: bit 4 meant "no shrinking", bit 8 "include self", bit 16 "no expanding".
        const uint32_t old = extentFlags_;
        uint32_t flags = old & (ExtentsVisualCull | ExtentsLogicalCull | ExtentsForceCull);
        if (!(old & 16)) {
            flags |= ExtentsAutoExpand;
        }
        if (!(old & 4)) {
            flags |= ExtentsAutoShrink;
        }
        if (old & 8) {
            flags |= ExtentsIncludeSelf;
        }
        extentFlags_ = flags;
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* ContainerBox::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "ContainerBox", []() -> Entity* { return new ContainerBox(); }, &classInfo);
    ClassInfo* pivot = Pivot::RegisterClass();
    classInfo->SetParent(pivot);
    classInfo->SetCategory("SceneTree");

    classInfo->AddProperty<PropertyBitfield, &ContainerBox::GetExtentFlags,
                           &ContainerBox::SetExtentFlags>(
        "extentflags:visual_cull,logical_cull,autoexpand,autoshrink,include_self,force_cull,"
        "relative");
    classInfo->AddProperty("extentsmin", std::make_unique<PropertyFloat3>(),
                           &GetCorner<&ContainerBox::GetExtentsMin>,
                           MakeSetter<&ContainerBox::SetExtentsMin>());
    classInfo->AddProperty("extentsmax", std::make_unique<PropertyFloat3>(),
                           &GetCorner<&ContainerBox::GetExtentsMax>,
                           MakeSetter<&ContainerBox::SetExtentsMax>());

    // Fixed names, outside the generated sequence.
    classInfo->AddMethod("SelectPeripheryNodes", "()",
                         BindMethod<&ContainerBox::SelectPeripheryNodes>(), MethodEditorOnly);
    classInfo->AddMethod("RefreshExtents", "", BindMethod<&ContainerBox::UpdateExtents>(),
                         MethodEditorOnly);
    classInfo->AddMethod("IsPointInside", "(float3):bool",
                         BindMethod<&ContainerBox::IsPointInside>(), MethodScript);
    RegisterNamedConstant("EXTENTS_VISUALCULL", ExtentsVisualCull);
    RegisterNamedConstant("EXTENTS_LOGICALCULL", ExtentsLogicalCull);
    RegisterNamedConstant("EXTENTS_AUTOEXPAND", ExtentsAutoExpand);
    RegisterNamedConstant("EXTENTS_AUTOSHRINK", ExtentsAutoShrink);
    RegisterNamedConstant("EXTENTS_INCLUDESELF", ExtentsIncludeSelf);
    RegisterNamedConstant("EXTENTS_FORCECULL", ExtentsForceCull);
    RegisterNamedConstant("EXTENTS_RELATIVE", ExtentsRelative);

    for (const char* name : {"pos", "orient"}) {
        pivot->FindProperty(name)->AddListener(Property::ListenerFree, nullptr, pivot,
                                               &ContainerBox::OnPivotMoved, 0);
    }
    return classInfo;
}

ClassInfo* Layer::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Layer", []() -> Entity* { return new Layer(); }, &classInfo);
    classInfo->SetParent(ContainerBox::RegisterClass());
    classInfo->SetCategory("SceneTree");
    return classInfo;
}

} // namespace quarn
