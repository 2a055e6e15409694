#pragma once

namespace quarn {

class Node;

// Calls the named method on a node and its descendants, skipping subtrees that are not fully
// enabled unless forced.
void CallMethodInSubtree(Node* node, const char* name, void* argument, bool force);

} // namespace quarn
