#pragma once

#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"

#include <cstdint>
#include <map>
#include <string>
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

    // Nodes of class T named and nested as `shape` says, "root(a(a1) b)" being a root with the
    // children a and b, a with a1; attached below `parent` when one is given. By name.
    template <class T>
    std::map<std::string, T*> Build(const std::string& shape, Node* parent = nullptr) {
        std::map<std::string, T*> nodes;
        std::vector<Node*> parents{parent};
        std::string name;
        for (char c : shape + " ") {
            if (c != ' ' && c != '(' && c != ')') {
                name += c;
                continue;
            }
            if (!name.empty()) {
                nodes[name] = Make<T>(name.c_str(), parents.back());
            }
            if (c == '(') {
                parents.push_back(nodes[name]);
            } else if (c == ')') {
                parents.pop_back();
            }
            name.clear();
        }
        return nodes;
    }

    // The same, unattached and with a free id of the opened scene (id system 0).
    template <class T>
    T* MakeWithId(const char* name = "") {
        T* node = Make<T>(name);
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }

private:
    std::vector<uint64_t> made_;
};

} // namespace quarn::test
