#pragma once

#include "core/math/Vector.h"

#include <cstdint>

namespace quarn {

// What drawables queue on the active annotation node (the first one created) for the editor's
// debug views: lines in the world, kept for `duration` seconds (0: this frame only). Until an
// annotation node exists none is active and the lines are dropped.
class AnnotationSink {
public:
    virtual ~AnnotationSink() = default;
    virtual void AddLine(const Float3& from, const Float3& to, uint32_t color, float duration) = 0;
};

// Null while there is none.
AnnotationSink* GetActiveAnnotations();
void SetActiveAnnotations(AnnotationSink* sink);

} // namespace quarn
