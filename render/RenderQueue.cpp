#include "render/RenderQueue.h"

#include "core/debug/Log.h"
#include "core/object/Entity.h"
#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "render/Camera.h"
#include "render/RenderObject.h"

#include <algorithm>
#include <array>

namespace quarn {

namespace {

constexpr PassRule PassTable[LastPass + 1] = {
    {false, false, false}, // 0: never drawn
    {false, false, true},  // BACKDROP
    {false, false, true},  // BACKDROP2
    {false, false, false}, // SOLID
    {false, false, false}, // DECAL
    {false, false, false}, // DECAL2
    {true, false, true},   // NONSOLID
    {true, false, true},   // NONSOLID2
    {false, false, false}, // SHADOWVOLUME
    {false, false, false}, // STENCIL
    {false, true, true},   // JB2D
    {false, true, true},   // POSTPROCESS
    {false, true, true},   // 2D
    {false, false, false}, // 3DON2D_SOLID
    {false, false, false}, // 3DON2D_DECAL
    {false, false, false}, // 3DON2D_DECAL2
    {true, false, true},   // 3DON2D_NONSOLID
    {false, true, true},   // OSD
};

struct PassHooks {
    PrePassHook pre = nullptr;
    PostPassHook post = nullptr;
};

std::array<PassHooks, LastPass + 1>& Hooks() {
    static std::array<PassHooks, LastPass + 1> hooks;
    return hooks;
}

bool IsPassNumber(int32_t pass) {
    return pass >= 0 && pass <= LastPass;
}

// The depth in 1/10000 units with the bias in the high word and the entity id in the low one;
// the serial orders what the key leaves equal (two objects outside every id system).
struct SortEntry {
    int64_t key;
    uint64_t serial;

    bool operator>(const SortEntry& other) const {
        return key != other.key ? key > other.key : serial > other.serial;
    }
};

// Depths beyond the 32-bit range of the key are held at its ends, NaN at 0; one unit is kept
// free at the bottom for the bias.
int32_t DepthUnits(float depth) {
    const float units = depth * 10000.0f;
    if (!(units == units)) {
        return 0;
    }
    if (units >= 2147483648.0f) {
        return INT32_MAX;
    }
    if (units <= -2147483647.0f) {
        return INT32_MIN + 1;
    }
    return static_cast<int32_t>(units);
}

SortEntry MakeEntry(float depth, RenderObject& object) {
    int32_t units = DepthUnits(depth);
    if (object.TestRenderFlags(RenderSortingBias)) {
        units -= 1;
    }
    const uint64_t high = static_cast<uint64_t>(static_cast<uint32_t>(units)) << 32;
    return {static_cast<int64_t>(high | object.GetId()), object.GetSerial()};
}

RenderObject* Resolve(uint64_t serial) {
    return dynamic_cast<RenderObject*>(Entity::FindBySerial(serial));
}

// Far side, plane objects, camera side; reused by every sorted pass.
std::array<std::vector<SortEntry>, 3>& Groups() {
    static auto* groups = new std::array<std::vector<SortEntry>, 3>();
    return *groups;
}

} // namespace

PassRule GetPassRule(int32_t pass) {
    return IsPassNumber(pass) ? PassTable[pass] : PassRule{false, false, false};
}

void SetPassHooks(int32_t pass, PrePassHook pre, PostPassHook post) {
    if (IsPassNumber(pass)) {
        Hooks()[static_cast<size_t>(pass)] = {pre, post};
    }
}

PrePassHook GetPrePassHook(int32_t pass) {
    return IsPassNumber(pass) ? Hooks()[static_cast<size_t>(pass)].pre : nullptr;
}

PostPassHook GetPostPassHook(int32_t pass) {
    return IsPassNumber(pass) ? Hooks()[static_cast<size_t>(pass)].post : nullptr;
}

void CompareBatches(RenderObject* highlighted, RenderObject* other) {
    DeviceMesh* a = highlighted ? highlighted->GetRenderMesh() : nullptr;
    DeviceMesh* b = other ? other->GetRenderMesh() : nullptr;
    if (!a || !b) {
        return;
    }
    if (a->GetRenderFlags() != b->GetRenderFlags()) {
        LogMessage("Different render flags");
    }
    VertexBuffer* a0 = a->GetVertexStream(0);
    VertexBuffer* b0 = b->GetVertexStream(0);
    if ((a->GetVertexStream(1) != nullptr) == (b->GetVertexStream(1) != nullptr)) {
        const uint32_t aFormat = a0 ? a0->GetFormat() : 0;
        const uint32_t bFormat = b0 ? b0->GetFormat() : 0;
        if (aFormat != bFormat) {
            LogMessage("Different vertex format (%X)", aFormat ^ bFormat);
        }
        // The usage bits: dynamic, starting empty, and the clamp bits of the layers.
        const uint32_t usage = 0xF30000;
        if ((a0 ? a0->TestFlags(usage) : 0) != (b0 ? b0->TestFlags(usage) : 0)) {
            LogMessage("Different vertex usage flags");
        }
    } else {
        LogMessage("Different number of vertex buffers");
    }
    const uint32_t aKind = a->GetIndexData() ? a->GetIndexData()->GetFlags() & IndexKindMask : 0;
    const uint32_t bKind = b->GetIndexData() ? b->GetIndexData()->GetFlags() & IndexKindMask : 0;
    if (aKind != bKind) {
        LogMessage("Different primitive type");
    }
    if (a->GetColor() != b->GetColor()) {
        LogMessage("Different texture factor");
    }
    if (a->GetShader() != b->GetShader()) {
        LogMessage("Different shader");
    }
    if (a->GetLayerCount() != b->GetLayerCount()) {
        LogMessage("Different number of layers");
        return;
    }
    for (uint32_t layer = 0; layer < a->GetLayerCount(); ++layer) {
        if (a->GetLayerTexture(layer) != b->GetLayerTexture(layer)) {
            LogMessage("Different texture on layer %d", static_cast<int>(layer));
        }
        if (a->GetLayerOp(layer) != b->GetLayerOp(layer)) {
            LogMessage("Different blend-mode on layer %d", static_cast<int>(layer));
        }
    }
}

void SortPass(PassList& list, bool simple) {
    Float3 axis(0.0f, 0.0f, 1.0f);
    Float3 eye;
    if (Camera* camera = GetCurrentCamera()) {
        axis = camera->GetWorldAxisZ();
        eye = camera->GetWorldPosition();
    }
    const float eyeDepth = axis.Dot(eye);
    auto& groups = Groups();
    for (auto& group : groups) {
        group.clear();
    }

    bool hasPlane = false;
    Float3 planePoint;
    Float3 planeNormal;
    for (uint64_t serial : list) {
        RenderObject* object = Resolve(serial);
        if (object && object->TestRenderFlags(RenderSortingPlane)) {
            // The last one listed defines the plane.
            hasPlane = true;
            planePoint = object->GetWorldPosition();
            planeNormal = object->GetWorldAxis(1);
            groups[1].push_back(MakeEntry(0.0f, *object));
        }
    }
    groups[0].reserve(list.size());
    if (hasPlane) {
        if ((eye - planePoint).Dot(planeNormal) < 0.0f) {
            planeNormal = planeNormal * -1.0f; // it points to the camera's side now
        }
        groups[2].reserve(list.size());
    }
    for (uint64_t serial : list) {
        RenderObject* object = Resolve(serial);
        if (!object || object->TestRenderFlags(RenderSortingPlane)) {
            continue;
        }
        const Float3 position = object->GetWorldPosition();
        const float depth = simple ? position.z : axis.Dot(position) - eyeDepth;
        const bool cameraSide = hasPlane && (position - planePoint).Dot(planeNormal) > 0.0f;
        groups[cameraSide ? 2 : 0].push_back(MakeEntry(depth, *object));
    }
    std::sort(groups[0].begin(), groups[0].end(), std::greater<SortEntry>());
    std::sort(groups[2].begin(), groups[2].end(), std::greater<SortEntry>());

    list.clear();
    for (const auto& group : groups) {
        for (const SortEntry& entry : group) {
            list.push_back(entry.serial);
        }
    }
}

} // namespace quarn
