#pragma once

#include "core/scene/Node.h"

namespace quarn {

// A plain node that only groups its children in the scene tree.
class Folder : public Node {
public:
    int GetIconIndex() const override { return HasFlag(NodeExpanded) ? 2 : 3; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

} // namespace quarn
