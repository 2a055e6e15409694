#pragma once

#include "core/object/Entity.h"
#include "core/object/ValueBinding.h"
#include "core/scene/HeldSceneLines.h"

#include <cstdint>

namespace quarn {

class Pivot;

// Bits of the node flags word.
enum NodeFlags : uint32_t {
    NodeEnabled = 1,
    NodeEnabledAll = 2, // every ancestor is enabled and enabled_all (inherited)
    NodeLocked = 4,
    NodeLockedAll = 8, // some ancestor is locked (inherited)
    NodeExpanded = 16, // editor tree state
    NodeSelected = 64, // in the editor's selection set
    // Both bits set: the node is fully enabled (reached by unforced signals, pickable).
    NodeEnabledMask = NodeEnabled | NodeEnabledAll,
    // Either bit set: the node or an ancestor is locked.
    NodeLockedMask = NodeLocked | NodeLockedAll,
    // Persistent bits: what the "flags" property reads and writes.
    NodePersistentFlags = 0xFFB5,
    NodeMarkedForDeletion = 0x10000, // for DeleteFlaggedNodes
    // Kind bits set once by constructors of derived classes.
    NodeKindPivot = 0x20000,
    NodeKindRenderObject = 0x40000,
    NodeKindContainerBox = 0x80000,
};

// Options of Node::FindNode.
enum FindNodeOptions : uint32_t {
    FindByNameText = 0,
    FindByClassNameText = 1,
    FindByDescriptionText = 2,
    FindTextMask = 3,
    FindContains = 256,
    FindCaseSensitive = 512,
    FindAllLevels = 1024,
    FindUpward = 2048,
    FindSelfFirst = 8192,
};

// Update modes: while the game runs, and while it is stopped or paused.
enum NodeUpdateMode : int { UpdateRunning = 1, UpdateStopped = 2 };

// The scene-tree element: a parent, ordered children and a flags word whose enabled and locked
// states are inherited down the tree. A node owns its children and deletes them with itself.
// Moves send "nodereparent" and "nodereorder"; deletion sends "nodedeletion".
class Node : public Entity {
public:
    Node();
    ~Node() override;

    // A node below this one was attached (true) or detached; climbs to the root by default,
    // passing over the ancestors that do not hear it (HearsDescendantChanges).
    virtual void OnDescendantChanged(Node* node, bool attached);
    // Whether OnDescendantChanged must reach this node: a class that overrides it answers true.
    // The others are passed over, so a deep chain of them (pivots, sprites) costs nothing per
    // attach or move.
    virtual bool HearsDescendantChanges() const { return false; }
    // The nearest ancestor whose HearsDescendantChanges is true, null when none is: following
    // these passes every ancestor of a class that hears, and only those.
    Node* GetHearingAncestor() const { return hearingAncestor_; }
    // An ancestor (`parent`, the one attached or detached) changed; carried to every child.
    virtual void ParentFlagsChanged(Node* parent, bool attached);
    virtual int GetIconIndex() const { return 0; }
    // The per-frame work; mode is UpdateRunning or UpdateStopped.
    virtual void Update(float frameTime, int mode);
    virtual Entity* GetResource() const { return nullptr; }
    // A scene load applied the values the node's block holds, which may be fewer than a save
    // writes; the node is not placed in the tree yet.
    virtual void OnValuesLoaded() {}
    // The lines of its block a load could not apply, for a class that keeps them for the save;
    // null for every other class, whose unknown lines are dropped with a warning.
    virtual HeldSceneLines* GetHeldLines() { return nullptr; }
    // The node as a pivot, or null: what a cast would answer, without its cost on the paths that
    // ask for every transform read.
    virtual Pivot* ToPivot() { return nullptr; }

    void Delete() override;
    int GetPropertyState(const Property& property) const override;
    void UpgradeVersion(int fileVersion) override;
    ClassInfo* GetClass() const override { return classInfo; }

    // Tree operations. Attaching a node under itself or one of its descendants is refused and
    // reported: it would hang every walk of the tree.
    void AttachTo(Node* parent);
    void AttachAfter(Node* parent, Node* sibling);
    void AttachAsLast(Node* parent);
    void Detach();
    void SetParent(Node* parent);
    void MoveAfter(Node* sibling);
    void SetIdSystem(uint32_t idSystem);

    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t value, uint32_t mask);
    void SetFlag(uint32_t bits, bool on);
    bool HasFlag(uint32_t bits) const { return (flags_ & bits) != 0; }
    bool IsFullyEnabled() const { return (flags_ & NodeEnabledMask) == NodeEnabledMask; }
    bool IsEnabledForSignals() const override { return IsFullyEnabled(); }

    Node* GetParent() const { return parent_; }
    Node* GetPrevious() const { return previous_; }
    Node* GetNext() const { return next_; }
    Node* GetFirstChild() const { return firstChild_; }
    Node* GetLastChild() const { return lastChild_; }
    int GetChildCount() const;
    Node* GetChild(int index) const;
    Node* GetNextInTree(bool descend) const;
    // True when `ancestor` is this node or one of its ancestors.
    bool IsInSubtreeOf(const Node* ancestor) const;

    Node* FindByName(const char* text);
    Node* FindByClassName(const char* text);
    Node* FindByDescription(const char* text);
    Node* FindChildByName(const char* text) const;
    Node* FindChildByDescription(const char* text) const;
    Node* FindNode(const char* text, uint32_t options);

    void DeleteChildren();

    // Visit stamps: NewVisit clears every node's stamp at once.
    void Stamp();
    void Unstamp();
    bool IsStamped() const;
    static void NewVisit();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Links a detached node right after `after` (first child when null); no notifications.
    void Link(Node* parent, Node* after);
    // Takes the node out of its parent's child list; no notifications.
    void Unlink();
    // False, reported with the nodes of the cycle, when the node would become its own ancestor.
    bool CanAttachUnder(const Node* parent, const char* operation) const;
    // Sets the nearest hearing ancestor of this node and of the descendants that take theirs
    // from above it; called whenever the node gets or loses its parent.
    void RefreshHearingAncestors();
    enum class AttachPlace { First, Last, After };
    // The steps AttachTo, AttachAsLast and AttachAfter share, once the move is known to be
    // sound: id system, link, inherited bits, notifications, "nodereparent".
    void Attach(Node* parent, Node* sibling, AttachPlace place);
    // Calls `visit` on each child, reading the next link after each call, so a visit may
    // delete or move children. False when this node itself was destroyed meanwhile.
    template <class Visit>
    bool ForEachChild(Visit visit);
    // False when a child's deletion took this node with it.
    bool DeleteChildrenSafely();

    // Script and property accessors.
    void SetEnabled(bool on) { SetFlag(NodeEnabled, on); }
    uint32_t GetPersistentFlags() const { return flags_ & NodePersistentFlags; }
    void SetPersistentFlags(uint32_t value) { SetFlags(value, NodePersistentFlags); }
    // Scripts declare this test as returning a Node, so the 0 or 1 travels as an id word.
    EntityId HasFlagWord(uint32_t bits) const { return {HasFlag(bits) ? 1u : 0u}; }

    // The registered "flags" descriptor, whose listeners SetFlags tells.
    static Property* flagsProperty_;

    Node* parent_ = nullptr;
    Node* previous_ = nullptr;
    uint32_t flags_ = NodeEnabled | NodeEnabledAll;
    int32_t visitStamp_ = 0;
    Node* firstChild_ = nullptr;
    Node* lastChild_ = nullptr;
    Node* next_ = nullptr;
    // The nearest ancestor whose HearsDescendantChanges is true; null when none is.
    Node* hearingAncestor_ = nullptr;
    // Set once Delete has sent "nodedeletion": a receiver that deletes the node again only
    // finishes the teardown.
    bool deleting_ = false;
};

// Nodes travel as entity ids, like every entity value; an id that names no node reads as null.
template <>
struct ValueTraits<Node*> {
    static constexpr int32_t Type = TypeEntity;
    static constexpr int Words = 1;
    static Node* Read(const uint32_t* words) { return dynamic_cast<Node*>(LookupEntity(words[0])); }
    static void Write(const Node* value, uint32_t* words) {
        words[0] = value ? value->GetId() : 0u;
    }
};

// Nodes are held across calls by serial, since whatever runs in between (a setter, a script, a
// signal) may delete them: the live node with that serial, or null (also for 0).
Node* FindLiveNode(uint64_t serial);
// The root node of the opened scene (the root of id system 0), or null; null again once that
// node is destroyed.
Node* GetSceneRoot();

// The pre-order successor of `node` inside the subtree of `root` (null at its end); with
// `descend` false the children of `node` are passed over. The walk only reads the tree.
Node* NextInSubtree(Node* node, const Node* root, bool descend);

// Whether the entity with that serial still lives.
bool IsAlive(uint64_t serial);

// A property of the node class itself ("parent", "prev", "flags"): it places the node in its
// tree rather than describing it or pointing at another node.
bool IsNodePlacement(const Property& property);

// A new frame of the scene: the bounds one frame's events and its waits on the outside share
// start afresh. The scene update begins each of its frames so; what runs the scene without it
// (a tool's steps) begins its own.
void BeginSceneFrame();
// The number of frames begun so far, for what is told once a frame.
uint64_t GetSceneFrame();

// The scene update, once per frame on the root: disabled subtrees are skipped; while the game
// runs unpaused nodes whose class has ClassUpdateWhileRunning get Update(GameStep, 1),
// otherwise those with ClassUpdateWhileStopped get mode 2. An update may delete or move any
// node; the walk never touches a deleted one. A node made during the walk (a scene a script
// loads, a copy, a node made by class name) is first updated in the next frame.
void UpdateNodeTree(Node* root);

} // namespace quarn
