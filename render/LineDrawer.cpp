#include "render/LineDrawer.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/os/EngineWork.h"
#include "resources/DynamicMesh.h"

#include <cstring>

namespace quarn {

ClassInfo* LineDrawer::classInfo = nullptr;

namespace {

// Corners of a box (min, max) as bits: 1 takes max x, 2 max y, 4 max z.
constexpr int Corners[8] = {0, 1, 5, 4, 2, 3, 7, 6};
constexpr int Edges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                              {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};

} // namespace

LineDrawer::LineDrawer() {
    SetMatrixMode(MatrixQuarn);
}

void LineDrawer::CollectMockupBoxLines() {
    segments_.clear();
    Node* parent = GetParent();
    if (!parent) {
        return;
    }
    // Iterative, so a deep level cannot exhaust the stack.
    const Node* end = parent->GetNextInTree(false);
    uint64_t visited = 0;
    for (Node* node = parent->GetNextInTree(true); node && node != end;
         node = node->GetNextInTree(true), ++visited) {
        if (!node->IsFullyEnabled()) {
            continue;
        }
        RenderObject* box = AsRenderObject(node);
        // By name: a class derived from the mockup box is not outlined.
        if (!box || std::strcmp(box->GetClass()->GetName(), "MockupBox") != 0) {
            continue;
        }
        const Aabb local = box->GetLocalBoundingBox();
        const Matrix4& world = box->GetWorldMatrix();
        Float3 corners[8];
        for (int i = 0; i < 8; ++i) {
            const int bits = Corners[i];
            const Float3 corner((bits & 1) ? local.max.x : local.min.x,
                                (bits & 2) ? local.max.y : local.min.y,
                                (bits & 4) ? local.max.z : local.min.z);
            corners[i] = world.TransformCoord(corner);
        }
        for (const auto& edge : Edges) {
            segments_.push_back({corners[edge[0]], corners[edge[1]]});
        }
    }
    ChargeNodesVisited(visited);
}

int32_t LineDrawer::Render() {
    const uint32_t color = GetColorWithOpacity();
    for (const Segment& segment : segments_) {
        DrawDebugLine(segment.start, segment.end, color);
    }
    return 0;
}

ClassInfo* LineDrawer::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "LineDrawer", []() -> Entity* { return new LineDrawer(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    using L = LineDrawer;
    classInfo->AddProperty<PropertyInt, &L::GetLineWidth, &L::SetLineWidth>("linewidth");
    classInfo->AddMethod(NextShortName(), "", BindMethod<&L::CollectMockupBoxLines>(),
                         MethodEditorOnly);
    return classInfo;
}

} // namespace quarn
