#pragma once

#include <cstddef>

namespace quarn {

class Node;

// A copy of the node (alone, or with its subtree) through the scene text form, with new ids.
// References inside the copy reach the copies; references to nodes outside it keep their
// targets only with `keepOutsideReferences`. The copy has no parent; null on failure.
// `textBytes`, when given, receives the size of the text form the copy was read from, a measure
// of what the copy holds.
Node* CloneNode(Node& node, bool keepOutsideReferences, bool alone, bool dissolveBranches,
                size_t* textBytes = nullptr);

} // namespace quarn
