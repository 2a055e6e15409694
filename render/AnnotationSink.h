#pragma once

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// What drawables queue on the active annotation node (the first one created) for the editor's
// debug views. Items last `duration` seconds (0: drawn once); spheres and boxes are drawn once,
// at the node's next 3D render. Until an annotation node exists none is active and callers
// draw nothing.
class AnnotationSink {
public:
    virtual ~AnnotationSink() = default;
    virtual void AddLine(const Float3& from, const Float3& to, uint32_t color, float duration) = 0;
    // Screen pixels.
    virtual void AddLine2D(float x1, float y1, float x2, float y2, uint32_t color,
                           float duration) = 0;
    virtual void AddText(float x, float y, const char* text, uint32_t color, float duration) = 0;
    virtual void AddSphere(const Float3& centre, float radius, uint32_t color) = 0;
    // As DynamicMesh::AddBoxOutline places it.
    virtual void AddBox(const Float3& position, const Float3& size, const Quaternion& orientation,
                        uint32_t color) = 0;
};

// Null while there is none.
AnnotationSink* GetActiveAnnotations();
void SetActiveAnnotations(AnnotationSink* sink);

} // namespace quarn
