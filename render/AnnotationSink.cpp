#include "render/AnnotationSink.h"

namespace quarn {

namespace {
AnnotationSink* active = nullptr;
} // namespace

AnnotationSink* GetActiveAnnotations() {
    return active;
}

void SetActiveAnnotations(AnnotationSink* sink) {
    active = sink;
}

} // namespace quarn
