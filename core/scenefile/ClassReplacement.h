#pragma once

namespace quarn {

class ClassInfo;
class Node;

// Replaces a node by a new one of another class: shared properties are copied, the new node
// takes the old one's id (so references follow), its place and its children; the old node is
// deleted. With `announce` the editor hears of it ("nodecreation", "loaded"). Null when the
// class makes no node.
Node* ReplaceNodeClass(Node& node, ClassInfo& classInfo, bool announce);

} // namespace quarn
