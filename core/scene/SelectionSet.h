#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

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

// A selection in entity-id order, without signals: what tools and tests need.
class PlainSelectionSet : public SelectionSet {
public:
    int GetCount() const override;
    Node* GetAt(int index) const override;
    void Add(Node* node) override;
    void Clear() override;

private:
    struct Entry {
        uint32_t id;
        uint64_t serial;
    };
    void Order() const;

    // Sorted on the first read after additions, so that building a large selection stays
    // n log n.
    mutable std::vector<Entry> entries_;
    mutable bool ordered_ = true;
    std::unordered_set<uint64_t> serials_;
};

} // namespace quarn
