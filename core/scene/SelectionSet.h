#pragma once

#include <cstdint>

namespace quarn {

class Node;

// The editor's set of selected nodes. The player installs none, so every command working on
// the selection does nothing there.
class SelectionSet {
public:
    virtual ~SelectionSet() = default;
    virtual int GetCount() const = 0;
    // Null for an index out of range or a node deleted meanwhile.
    virtual Node* GetAt(int index) const = 0;
    // A node already selected is not added again.
    virtual void Add(Node* node) = 0;
    virtual void Clear() = 0;
};

// The installed set (not owned), or null.
SelectionSet* GetSelectionSet();
void SetSelectionSet(SelectionSet* selection);

} // namespace quarn
