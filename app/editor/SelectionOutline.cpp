#include "app/editor/SelectionOutline.h"

#include "core/scene/EngineState.h"
#include "core/scene/Pivot.h"
#include "core/scene/RenderObjectBounds.h"
#include "core/scene/SelectionSet.h"
#include "render/Camera.h"

#include <cmath>
#include <imgui.h>

namespace quarn {

namespace {

// Unlike any drawable's own gizmo, which takes the drawable's colour.
constexpr ImU32 OutlineColour = IM_COL32(255, 170, 0, 255);
// Thick enough to see on any picture, and laid just outside the bounds, so it hides nothing of
// the node itself.
constexpr float OutlineWidth = 2.0f;

} // namespace

bool GetScreenBounds(Node& node, Float2& min, Float2& max) {
    auto* bounds = dynamic_cast<RenderObjectBounds*>(&node);
    auto* pivot = dynamic_cast<Pivot*>(&node);
    if (!bounds || !pivot) {
        return false;
    }
    const Aabb box = bounds->GetWorldBoundingBox();
    if (pivot->GetMatrixMode() == MatrixScreen) {
        // Placed in pixels: the box is in the view's pixels already.
        min = Float2(box.min.x, box.min.y);
        max = Float2(box.max.x, box.max.y);
    } else {
        Camera* camera = GetCurrentCamera();
        if (!camera) {
            return false;
        }
        Matrix4 toCamera;
        camera->GetInverseWorldMatrix(toCamera);
        for (int corner = 0; corner < 8; ++corner) {
            const Float3 world((corner & 1) ? box.max.x : box.min.x,
                               (corner & 2) ? box.max.y : box.min.y,
                               (corner & 4) ? box.max.z : box.min.z);
            const Float3 seen = toCamera.TransformCoord(world);
            // A box that reaches behind the eye has no rectangle on the screen.
            if (!(seen.z > 0.0f)) {
                return false;
            }
            const Float2 screen = camera->ProjectToScreen(seen);
            min = corner == 0 ? screen
                              : Float2(std::fmin(min.x, screen.x), std::fmin(min.y, screen.y));
            max = corner == 0 ? screen
                              : Float2(std::fmax(max.x, screen.x), std::fmax(max.y, screen.y));
        }
    }
    // A box without extent (a drawable that draws nothing yet) or a broken one outlines nothing.
    return std::isfinite(min.x) && std::isfinite(min.y) && std::isfinite(max.x) &&
           std::isfinite(max.y) && max.x > min.x && max.y > min.y;
}

void DrawSelectionOutlines(Int2 place, Int2 size) {
    SelectionSet* selection = GetSelectionSet();
    // The running game's frames are the game's alone.
    if (!selection || GameRunning) {
        return;
    }
    ImDrawList& list = *ImGui::GetBackgroundDrawList();
    const ImVec2 origin(static_cast<float>(place.x), static_cast<float>(place.y));
    list.PushClipRect(
        origin,
        ImVec2(origin.x + static_cast<float>(size.x), origin.y + static_cast<float>(size.y)), true);
    for (int index = 0; index < selection->GetCount(); ++index) {
        Node* node = selection->GetAt(index);
        Float2 min;
        Float2 max;
        if (!node || !GetScreenBounds(*node, min, max)) {
            continue;
        }
        // Whole pixels, so each side is a crisp band of the outline's colour.
        const float left = origin.x + std::floor(min.x) - OutlineWidth;
        const float top = origin.y + std::floor(min.y) - OutlineWidth;
        const float right = origin.x + std::ceil(max.x) + OutlineWidth;
        const float bottom = origin.y + std::ceil(max.y) + OutlineWidth;
        list.AddRectFilled({left, top}, {right, top + OutlineWidth}, OutlineColour);
        list.AddRectFilled({left, bottom - OutlineWidth}, {right, bottom}, OutlineColour);
        list.AddRectFilled({left, top}, {left + OutlineWidth, bottom}, OutlineColour);
        list.AddRectFilled({right - OutlineWidth, top}, {right, bottom}, OutlineColour);
    }
    list.PopClipRect();
}

} // namespace quarn
