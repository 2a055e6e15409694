#pragma once

#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <vector>

namespace quarn::test {

// Makes the nodes of one test and deletes what is left of them at its end: the roots, whose
// children go with them; nodes a test deleted itself are skipped.
class TestTree {
public:
    TestTree() = default;
    TestTree(const TestTree&) = delete;
    TestTree& operator=(const TestTree&) = delete;
    ~TestTree() {
        for (uint64_t serial : made_) {
            auto* node = static_cast<Node*>(Entity::FindBySerial(serial));
            if (node && !node->GetParent()) {
                node->Delete();
            }
        }
    }

    // A new node of a registered class T, named, and attached as the parent's last child when a
    // parent is given.
    template <class T>
    T* Make(const char* name, Node* parent = nullptr) {
        auto* node = static_cast<T*>(T::RegisterClass()->CreateInstance());
        made_.push_back(node->GetSerial());
        node->SetName(name);
        if (parent) {
            node->AttachAsLast(parent);
        }
        return node;
    }

private:
    std::vector<uint64_t> made_;
};

} // namespace quarn::test
