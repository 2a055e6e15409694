#include "core/scene/SelectionSet.h"

#include "core/scene/Node.h"

#include <algorithm>

namespace quarn {

namespace {
SelectionSet* installed = nullptr;
} // namespace

SelectionSet* GetSelectionSet() {
    return installed;
}

void SetSelectionSet(SelectionSet* selection) {
    installed = selection;
}

void PlainSelectionSet::Order() const {
    if (!ordered_) {
        std::stable_sort(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.id < b.id; });
        ordered_ = true;
    }
}

int PlainSelectionSet::GetCount() const {
    return static_cast<int>(entries_.size());
}

Node* PlainSelectionSet::GetAt(int index) const {
    if (index < 0 || index >= GetCount()) {
        return nullptr;
    }
    Order();
    return static_cast<Node*>(Entity::FindBySerial(entries_[static_cast<size_t>(index)].serial));
}

void PlainSelectionSet::Add(Node* node) {
    if (node && serials_.insert(node->GetSerial()).second) {
        entries_.push_back({node->GetId(), node->GetSerial()});
        ordered_ = false;
    }
}

void PlainSelectionSet::Clear() {
    entries_.clear();
    serials_.clear();
    ordered_ = true;
}

} // namespace quarn
