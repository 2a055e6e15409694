#pragma once

#include "core/math/Geometry.h"

namespace quarn {

// What container boxes ask of a render object: its box in world space. Render objects implement
// it beside Pickable and carry NodeKindRenderObject in their node flags; only nodes with that bit
// are asked.
class RenderObjectBounds {
public:
    virtual ~RenderObjectBounds() = default;

    virtual Aabb GetWorldBoundingBox() = 0;
};

} // namespace quarn
