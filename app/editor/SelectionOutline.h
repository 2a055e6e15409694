#pragma once

// The editor marks its selection in the stopped view: a line around each selected drawable's
// bounds as the current camera sees them, drawn over the view's picture and under the menus and
// panels. It is the editor's, not the scene's: a screenshot, which takes the scene alone, never
// shows it, and neither does a frame of the running game.

#include "core/math/Vector.h"

namespace quarn {

class Node;

// What a node's bounds cover on the screen, in view pixels; false for a node that is not drawn
// or whose bounds reach behind the camera.
bool GetScreenBounds(Node& node, Float2& min, Float2& max);

// Draws the selected nodes' outlines into the UI frame underway, clipped to the view, which lies
// at `place` in the window image with the size `size`.
void DrawSelectionOutlines(Int2 place, Int2 size);

} // namespace quarn
