#include "core/scene/Node.h"

#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "core/os/EngineWork.h"
#include "core/os/FrameWaits.h"
#include "core/scene/EngineState.h"
#include "core/string/Text.h"

#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

namespace quarn {

ClassInfo* Node::classInfo = nullptr;
Property* Node::flagsProperty_ = nullptr;

namespace {

// Signed in the stored layout; advanced with wrap-around so a long session never overflows it.
int32_t visitCounter = 1;

uint64_t SerialOf(const Node* node) {
    return node ? node->GetSerial() : 0;
}

// Signal receivers get the entity part, whatever class the node is.
void* SignalArgument(Node* node) {
    return static_cast<Entity*>(node);
}

// The nodes a walk or a search passes, charged to the script that asked for it however the walk
// ends: a loop of searches through a large scene is work, not a command each.
class NodesVisited {
public:
    NodesVisited() = default;
    ~NodesVisited() { ChargeNodesVisited(count_); }
    NodesVisited(const NodesVisited&) = delete;
    NodesVisited& operator=(const NodesVisited&) = delete;
    void Count() { ++count_; }

private:
    uint64_t count_ = 0;
};

template <class Match>
Node* FindInSubtree(Node* root, Match match) {
    NodesVisited visited;
    for (Node* node = root; node; node = NextInSubtree(node, root, true)) {
        visited.Count();
        if (match(node)) {
            return node;
        }
    }
    return nullptr;
}

const char* ClassNameOf(const Node* node) {
    ClassInfo* own = node->GetClass();
    return own ? own->GetName() : "";
}

bool TextMatches(const char* candidate, const char* text, uint32_t options) {
    const bool caseSensitive = (options & FindCaseSensitive) != 0;
    if (options & FindContains) {
        if (*text == '\0') {
            return true;
        }
        return caseSensitive ? std::strstr(candidate, text) != nullptr
                             : FindNoCase(candidate, text) != nullptr;
    }
    return caseSensitive ? std::strcmp(candidate, text) == 0 : CompareNoCase(candidate, text) == 0;
}

bool NodeMatches(const Node* node, const char* text, uint32_t options) {
    switch (options & FindTextMask) {
    case FindByClassNameText:
        return TextMatches(ClassNameOf(node), text, options);
    case FindByDescriptionText: {
        PathString description = node->GetDescription();
        return TextMatches(description.Text(), text, options);
    }
    default:
        return TextMatches(node->GetName().c_str(), text, options);
    }
}

} // namespace

Node* NextInSubtree(Node* node, const Node* root, bool descend) {
    if (descend && node->GetFirstChild()) {
        return node->GetFirstChild();
    }
    for (; node && node != root; node = node->GetParent()) {
        if (node->GetNext()) {
            return node->GetNext();
        }
    }
    return nullptr;
}

Node::Node() = default;

Node::~Node() {
    // Delete has normally done both with the object still whole; this covers objects that are
    // destroyed directly.
    DeleteChildren();
    Detach();
    if (parent_) {
        Unlink();
    }
    // The scene root is read every frame: it must not outlive its node.
    const IdSystem* scene = TheIdMap().GetIdSystem(0);
    if (scene && scene->GetRoot() == this) {
        TheIdMap().SetSceneRoot(0, nullptr);
    }
}

void Node::OnDescendantChanged(Node* node, bool attached) {
    // The ancestors in between would only pass it on.
    if (hearingAncestor_) {
        hearingAncestor_->OnDescendantChanged(node, attached);
    }
}

void Node::ParentFlagsChanged(Node* parent, bool attached) {
    if (parent && parent == parent_) {
        const uint64_t self = GetSerial();
        const bool enabledAll = parent->IsFullyEnabled();
        if (HasFlag(NodeEnabledAll) != enabledAll) {
            SetFlag(NodeEnabledAll, enabledAll);
            if (!IsAlive(self)) {
                return;
            }
        }
        // A flags listener may have moved the node; the parent is only read while it is ours.
        if (parent == parent_) {
            const bool lockedAll = (parent->flags_ & NodeLockedMask) != 0;
            if (HasFlag(NodeLockedAll) != lockedAll) {
                SetFlag(NodeLockedAll, lockedAll);
                if (!IsAlive(self)) {
                    return;
                }
            }
        }
    }
    ForEachChild([parent, attached](Node* child) { child->ParentFlagsChanged(parent, attached); });
}

void Node::Update(float, int) {}

template <class Visit>
bool Node::ForEachChild(Visit visit) {
    const uint64_t self = GetSerial();
    Node* child = firstChild_;
    while (child) {
        const uint64_t childSerial = child->GetSerial();
        const uint64_t nextSerial = SerialOf(child->next_);
        visit(child);
        if (!IsAlive(self)) {
            return false;
        }
        // Continue from the child when it is still ours, else from the sibling that followed
        // it; when both are gone or moved, the rest of the list cannot be trusted.
        Node* current = FindLiveNode(childSerial);
        if (current && current->parent_ == this) {
            child = current->next_;
        } else {
            Node* next = FindLiveNode(nextSerial);
            child = next && next->parent_ == this ? next : nullptr;
        }
    }
    return true;
}

void Node::Delete() {
    const uint64_t self = GetSerial();
    if (!deleting_) {
        deleting_ = true;
        if (EngineState != EngineShuttingDown) {
            // Sent before anything is torn down, so every receiver sees the whole subtree.
            SendSignal("nodedeletion", SignalArgument(this), true);
            if (!IsAlive(self)) {
                return; // a receiver deleted the node and finished the teardown
            }
        }
    }
    // Out of the instance list first, as a plain entity deletion would do, so the class
    // signals that the children's deletion sends pass this node by.
    if (ClassInfo* list = GetInstanceClass()) {
        list->RemoveInstance(this);
        SetInstanceClass(nullptr);
    }
    // Children go while this node is whole; their handlers may look at their parent.
    if (!DeleteChildrenSafely()) {
        return;
    }
    Detach();
    if (!IsAlive(self)) {
        return;
    }
    if (parent_) {
        Unlink(); // a detach notification linked it again; it must not stay in a child list
    }
    Entity::Delete();
}

int Node::GetPropertyState(const Property& property) const {
    // The bits of the flags word the editor's property pane lets the user change.
    return classInfo && &property == flagsProperty_ ? static_cast<int>(NodeEnabled | NodeLocked)
                                                    : PropertyEditAny;
}

void Node::UpgradeVersion(int fileVersion) {
    if (fileVersion != 3) {
        return;
    }
    // Old layout: enabled bit 0, expanded bit 3, locked bit 4.
    const uint32_t old = flags_;
    uint32_t value = old & NodeEnabled;
    if (old & 8) {
        value |= NodeExpanded;
    }
    if (old & 16) {
        value |= NodeLocked;
    }
    SetFlags(value, NodePersistentFlags);
}

// Tree operations -----------------------------------------------------------------------------

bool Node::IsInSubtreeOf(const Node* ancestor) const {
    for (const Node* node = this; node; node = node->parent_) {
        if (node == ancestor) {
            return true;
        }
    }
    return false;
}

bool Node::CanAttachUnder(const Node* parent, const char* operation) const {
    // A node without children is nobody's ancestor, so only the parent itself can be a cycle.
    if (parent != this && (!firstChild_ || !parent->IsInSubtreeOf(this))) {
        return true;
    }
    // Linked under itself, every walk of the tree would loop for ever.
    std::vector<const Node*> above;
    for (const Node* node = parent; node != this; node = node->parent_) {
        above.push_back(node);
    }
    std::string cycle = GetDisplayName();
    for (auto node = above.rbegin(); node != above.rend(); ++node) {
        cycle += " > " + (*node)->GetDisplayName();
    }
    cycle += " > " + GetDisplayName();
    return ValidityCheck(
        false, "%s: %s cannot be attached below itself or its own descendant %s: %s", operation,
        GetDisplayName().c_str(), parent->GetDisplayName().c_str(), cycle.c_str());
}

void Node::RefreshHearingAncestors() {
    Node* node = this;
    while (node) {
        Node* parent = node->parent_;
        node->hearingAncestor_ = !parent                            ? nullptr
                                 : parent->HearsDescendantChanges() ? parent
                                                                    : parent->hearingAncestor_;
        // Below a node that hears, the nearest one stays what it was.
        if (node->firstChild_ && !node->HearsDescendantChanges()) {
            node = node->firstChild_;
            continue;
        }
        while (node != this && !node->next_) {
            node = node->parent_;
        }
        node = node == this ? nullptr : node->next_;
    }
}

void Node::Link(Node* parent, Node* after) {
    parent_ = parent;
    previous_ = after;
    next_ = after ? after->next_ : parent->firstChild_;
    if (previous_) {
        previous_->next_ = this;
    } else {
        parent->firstChild_ = this;
    }
    if (next_) {
        next_->previous_ = this;
    } else {
        parent->lastChild_ = this;
    }
}

void Node::Unlink() {
    if (!parent_) {
        return;
    }
    if (previous_) {
        previous_->next_ = next_;
    } else {
        parent_->firstChild_ = next_;
    }
    if (next_) {
        next_->previous_ = previous_;
    } else {
        parent_->lastChild_ = previous_;
    }
    parent_ = nullptr;
    previous_ = nullptr;
    next_ = nullptr;
}

void Node::Attach(Node* parent, Node* sibling, AttachPlace place) {
    const uint64_t self = GetSerial();
    const uint64_t parentSerial = parent->GetSerial();
    const uint64_t siblingSerial = SerialOf(sibling);
    // Linking an attached node again would corrupt both child lists.
    if (parent_) {
        Detach();
    }
    if (IsAlive(self) && IsAlive(parentSerial)) {
        SetIdSystem(parent->GetIdSystem());
    }
    // Any of these calls may have run code that deleted or moved the nodes involved.
    if (!IsAlive(self) || !IsAlive(parentSerial) || parent_) {
        return;
    }
    if (place == AttachPlace::First) {
        Link(parent, nullptr);
    } else if (place == AttachPlace::Last) {
        Link(parent, parent->lastChild_);
    } else {
        const bool siblingThere = sibling && IsAlive(siblingSerial) && sibling->parent_ == parent;
        Link(parent, siblingThere ? sibling : nullptr);
    }
    RefreshHearingAncestors();
    if (place != AttachPlace::After) {
        uint32_t inherited = flags_ & ~(NodeEnabledAll | NodeLockedAll);
        if (parent->IsFullyEnabled()) {
            inherited |= NodeEnabledAll;
        }
        if (parent->flags_ & NodeLockedMask) {
            inherited |= NodeLockedAll;
        }
        SetFlags(inherited, 0xFFFFFFFFu);
        if (!IsAlive(self) || parent_ != parent) {
            return;
        }
    }
    ParentFlagsChanged(parent, true);
    if (!IsAlive(self) || !IsAlive(parentSerial)) {
        return;
    }
    parent->OnDescendantChanged(this, true);
    if (!IsAlive(self)) {
        return;
    }
    SendSignal("nodereparent", SignalArgument(this), true);
}

void Node::AttachTo(Node* parent) {
    if (parent && CanAttachUnder(parent, "AttachTo")) {
        Attach(parent, nullptr, AttachPlace::First);
    }
}

void Node::AttachAfter(Node* parent, Node* sibling) {
    if (!ValidityCheck(parent != nullptr, "AttachAfter: %s needs a parent",
                       GetDisplayName().c_str()) ||
        !CanAttachUnder(parent, "AttachAfter")) {
        return;
    }
    if (!ValidityCheck(!sibling || (sibling != this && sibling->parent_ == parent),
                       "AttachAfter: %s is not a child of %s",
                       sibling ? sibling->GetDisplayName().c_str() : "",
                       parent->GetDisplayName().c_str())) {
        return;
    }
    Attach(parent, sibling, AttachPlace::After);
}

void Node::AttachAsLast(Node* parent) {
    if (parent && CanAttachUnder(parent, "AttachAsLast")) {
        Attach(parent, nullptr, AttachPlace::Last);
    }
}

void Node::Detach() {
    Node* parent = parent_;
    if (!parent) {
        return;
    }
    const bool shuttingDown = EngineState == EngineShuttingDown;
    const uint64_t self = GetSerial();
    if (!shuttingDown) {
        // Told while the node is still linked, so both sides can look at the other.
        parent->OnDescendantChanged(this, false);
        if (!IsAlive(self)) {
            return;
        }
        if (parent_ == parent) {
            ParentFlagsChanged(parent, false);
            if (!IsAlive(self)) {
                return;
            }
        }
    }
    Unlink();
    RefreshHearingAncestors();
    if (!shuttingDown) {
        SetFlag(NodeEnabledAll, true);
        if (!IsAlive(self)) {
            return;
        }
        SetFlag(NodeLockedAll, false);
    }
}

void Node::SetParent(Node* parent) {
    if (parent == parent_) {
        return;
    }
    // Refused before detaching, so a refused move leaves the node where it was.
    if (parent && !CanAttachUnder(parent, "SetParent")) {
        return;
    }
    const uint64_t self = GetSerial();
    const uint64_t parentSerial = SerialOf(parent);
    Detach();
    if (parent && IsAlive(self) && IsAlive(parentSerial)) {
        AttachTo(parent);
    }
}

void Node::MoveAfter(Node* sibling) {
    if (sibling == previous_) {
        return;
    }
    // Following itself would make the node its own neighbour; following a node outside any
    // tree would leave it detached, an orphan that nothing owns.
    if (sibling == this || (sibling && !sibling->parent_)) {
        return;
    }
    Node* target = sibling ? sibling->parent_ : parent_;
    if (target != parent_) {
        if (target->IsInSubtreeOf(this)) {
            return;
        }
        const uint64_t self = GetSerial();
        const uint64_t targetSerial = target->GetSerial();
        const uint64_t siblingSerial = sibling->GetSerial();
        Detach();
        if (!IsAlive(self) || !IsAlive(targetSerial) || !IsAlive(siblingSerial) ||
            sibling->parent_ != target || parent_) {
            return;
        }
        AttachAfter(target, sibling);
        return;
    }
    if (!parent_) {
        return; // a detached node has no siblings to move among
    }
    Node* parent = parent_;
    Unlink();
    Link(parent, sibling);
    SendSignal("nodereorder", SignalArgument(this), true);
}

void Node::SetIdSystem(uint32_t idSystem) {
    const uint32_t id = GetId();
    const uint32_t current = (id & IdSystemMask) >> IdSystemShift;
    if (current == idSystem) {
        if (id == 0) {
            const uint32_t localId = TheIdMap().GetFreeLocalId(idSystem);
            if (localId != 0) {
                ChangeId((idSystem << IdSystemShift) | localId);
            }
        }
        return;
    }
    // A node with an id system of its own (a branch) keeps its contents where they are.
    const bool childrenFollow = GetIdSystem() == current;
    const uint64_t self = GetSerial();
    // A full system has been reported by the id map; the node then keeps the id it has.
    const uint32_t localId = TheIdMap().GetFreeLocalId(idSystem);
    if (localId != 0) {
        ChangeId((idSystem << IdSystemShift) | localId);
        if (!IsAlive(self)) {
            return;
        }
    }
    if (childrenFollow) {
        ForEachChild([idSystem](Node* child) { child->SetIdSystem(idSystem); });
    }
}

// Flags ---------------------------------------------------------------------------------------

void Node::SetFlags(uint32_t value, uint32_t mask) {
    const uint32_t old = flags_;
    // Compared whole: a value that differs only outside the mask changes nothing, yet its
    // listeners are still told (sound and physics nodes rely on that call).
    if (value == old) {
        return;
    }
    const uint32_t updated = (old & ~mask) | (value & mask);
    flags_ = updated;
    if ((old & NodeEnabledMask) != (value & NodeEnabledMask)) {
        const bool enabledAll = (updated & NodeEnabledMask) == NodeEnabledMask;
        if (!ForEachChild(
                [enabledAll](Node* child) { child->SetFlag(NodeEnabledAll, enabledAll); })) {
            return;
        }
    }
    if ((old & NodeLockedMask) != (value & NodeLockedMask)) {
        const bool lockedAll = (updated & NodeLockedMask) != 0;
        if (!ForEachChild([lockedAll](Node* child) { child->SetFlag(NodeLockedAll, lockedAll); })) {
            return;
        }
    }
    if (classInfo && flagsProperty_) {
        flagsProperty_->NotifyListeners(*this, &old, &value);
    }
}

void Node::SetFlag(uint32_t bits, bool on) {
    SetFlags(on ? flags_ | bits : flags_ & ~bits, 0xFFFFFFFFu);
}

// Walks and finds ------------------------------------------------------------------------------

int Node::GetChildCount() const {
    int count = 0;
    for (const Node* child = firstChild_; child; child = child->next_) {
        ++count;
    }
    ChargeNodesVisited(uint64_t(count));
    return count;
}

Node* Node::GetChild(int index) const {
    NodesVisited visited;
    Node* child = index >= 0 ? firstChild_ : nullptr;
    for (; child && index > 0; --index) {
        visited.Count();
        child = child->next_;
    }
    return child;
}

Node* Node::GetNextInTree(bool descend) const {
    if (descend && firstChild_) {
        return firstChild_;
    }
    // A deep chain of last children is climbed a parent at a time.
    NodesVisited visited;
    for (const Node* node = this; node; node = node->parent_, visited.Count()) {
        if (node->next_) {
            return node->next_;
        }
    }
    return nullptr;
}

Node* Node::FindByName(const char* text) {
    if (!text) {
        return nullptr;
    }
    return FindInSubtree(this, [text](const Node* node) { return node->GetName() == text; });
}

Node* Node::FindByClassName(const char* text) {
    if (!text) {
        return nullptr;
    }
    return FindInSubtree(
        this, [text](const Node* node) { return std::strcmp(ClassNameOf(node), text) == 0; });
}

Node* Node::FindByDescription(const char* text) {
    if (!text) {
        return nullptr;
    }
    return FindInSubtree(this, [text](const Node* node) {
        return std::strcmp(node->GetDescription().Text(), text) == 0;
    });
}

Node* Node::FindChildByName(const char* text) const {
    if (!text) {
        return nullptr;
    }
    NodesVisited visited;
    for (Node* child = firstChild_; child; child = child->next_) {
        visited.Count();
        if (CompareNoCase(child->GetName().c_str(), text) == 0) {
            return child;
        }
    }
    return nullptr;
}

Node* Node::FindChildByDescription(const char* text) const {
    if (!text) {
        return nullptr;
    }
    NodesVisited visited;
    for (Node* child = firstChild_; child; child = child->next_) {
        visited.Count();
        if (CompareNoCase(child->GetDescription().Text(), text) == 0) {
            return child;
        }
    }
    return nullptr;
}

Node* Node::FindNode(const char* text, uint32_t options) {
    if (!text) {
        text = "";
    }
    if ((options & FindSelfFirst) && NodeMatches(this, text, options)) {
        return this;
    }
    NodesVisited visited;
    if (options & FindUpward) {
        for (Node* node = parent_; node; node = node->parent_) {
            visited.Count();
            if (NodeMatches(node, text, options)) {
                return node;
            }
            if (!(options & FindAllLevels)) {
                break;
            }
        }
        return nullptr;
    }
    if (options & FindAllLevels) {
        for (Node* node = firstChild_; node; node = NextInSubtree(node, this, true)) {
            visited.Count();
            if (NodeMatches(node, text, options)) {
                return node;
            }
        }
        return nullptr;
    }
    for (Node* child = firstChild_; child; child = child->next_) {
        visited.Count();
        if (NodeMatches(child, text, options)) {
            return child;
        }
    }
    return nullptr;
}

void Node::DeleteChildren() {
    DeleteChildrenSafely();
}

bool Node::DeleteChildrenSafely() {
    const uint64_t self = GetSerial();
    while (firstChild_) {
        firstChild_->Delete();
        if (!IsAlive(self)) {
            return false;
        }
    }
    return true;
}

// Visit stamps --------------------------------------------------------------------------------

void Node::Stamp() {
    // Stamps mark the nodes a walk of a graph has reached (a module's anchors): each is visited.
    ChargeNodesVisited(1);
    visitStamp_ = visitCounter;
}

void Node::Unstamp() {
    visitStamp_ = static_cast<int32_t>(static_cast<uint32_t>(visitCounter) - 1u);
}

bool Node::IsStamped() const {
    return visitStamp_ == visitCounter;
}

void Node::NewVisit() {
    visitCounter = static_cast<int32_t>(static_cast<uint32_t>(visitCounter) + 1u);
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Node::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    // The record first, then the base: class numbers follow the order records are made in, so
    // "Node", registered first at start-up, is class 0 and its base "Entity" class 1.
    classInfo = new ClassInfo(
        "Node", []() -> Entity* { return new Node(); }, &classInfo);
    classInfo->SetParent(Entity::RegisterClass());
    classInfo->SetCategory("SceneTree");

    const int32_t nodeType = ClassTypeBase + classInfo->GetClassNumber();
    Property* parent =
        classInfo->AddProperty("parent", std::make_unique<PropertyEntity>(nodeType),
                               MakeGetter<&Node::GetParent>(), MakeSetter<&Node::SetParent>());
    parent->SetPropertyFlags(PropertyTreeLink);
    Property* previous =
        classInfo->AddProperty("prev", std::make_unique<PropertyEntity>(nodeType),
                               MakeGetter<&Node::GetPrevious>(), MakeSetter<&Node::MoveAfter>());
    previous->SetPropertyFlags(PropertyTreeLink);
    const uint32_t noNode = 0;
    previous->SetDefault(&noNode);
    flagsProperty_ =
        classInfo
            ->AddProperty<PropertyBitfield, &Node::GetPersistentFlags, &Node::SetPersistentFlags>(
                "flags:enabled,enabled_all,locked,locked_all,expanded");

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(bool)", BindMethod<&Node::SetEnabled>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&Node::IsFullyEnabled>(),
                         MethodScriptCallable);
    classInfo->AddMethod(NextShortName(), "(string, int):Node", BindMethod<&Node::FindNode>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):Node", BindMethod<&Node::FindByName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):Node", BindMethod<&Node::FindByClassName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):Node", BindMethod<&Node::FindByDescription>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):Node", BindMethod<&Node::FindChildByName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):Node",
                         BindMethod<&Node::FindChildByDescription>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():Node", BindMethod<&Node::GetFirstChild>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():Node", BindMethod<&Node::GetLastChild>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():Node", BindMethod<&Node::GetPrevious>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():Node", BindMethod<&Node::GetNext>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(bool):Node", BindMethod<&Node::GetNextInTree>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Node::Stamp>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Node::Unstamp>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&Node::IsStamped>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Node::NewVisit>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Node::DeleteChildren>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Node::GetChildCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):Node", BindMethod<&Node::GetChild>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):Node", BindMethod<&Node::HasFlagWord>(),
                         MethodScript);

    // Flag bits, FindNode options and update modes as scripts name them.
    for (int32_t value :
         {1, 32, 64, 16, 4, 8, 2, 0, 1, 2, 256, 512, 1024, 2048, 4096, 8192, 0, 1, 2, 3}) {
        RegisterNamedConstant(NextShortName(), value);
    }
    return classInfo;
}

// Scene update --------------------------------------------------------------------------------

namespace {

void UpdateOne(Node* node) {
    ClassInfo* own = node->GetClass();
    const uint32_t classFlags = own ? own->GetFlags() : 0;
    if (GameRunning && !GamePaused) {
        if (classFlags & ClassUpdateWhileRunning) {
            node->Update(GameStep, UpdateRunning);
        }
    } else if (classFlags & ClassUpdateWhileStopped) {
        node->Update(GameStep, UpdateStopped);
    }
}

// A parent whose children are being walked, by serial: any update may destroy anything.
struct WalkFrame {
    uint64_t parent;
    uint64_t child;    // the child whose subtree is being walked
    uint64_t fallback; // the sibling that followed it when its walk began
};

// The next child to visit after the current child's subtree, read as the links stand now;
// null when the parent's list is done or can no longer be followed.
Node* NextChild(WalkFrame& frame) {
    Node* parent = FindLiveNode(frame.parent);
    if (!parent) {
        return nullptr;
    }
    Node* next = nullptr;
    Node* child = FindLiveNode(frame.child);
    if (child && child->GetParent() == parent) {
        next = child->GetNext();
    } else {
        Node* fallback = FindLiveNode(frame.fallback);
        if (fallback && fallback->GetParent() == parent) {
            next = fallback;
        }
    }
    if (next) {
        frame.child = next->GetSerial();
        frame.fallback = SerialOf(next->GetNext());
    }
    return next;
}

} // namespace

Node* FindLiveNode(uint64_t serial) {
    return serial != 0 ? dynamic_cast<Node*>(Entity::FindBySerial(serial)) : nullptr;
}

bool IsAlive(uint64_t serial) {
    return serial != 0 && Entity::FindBySerial(serial) != nullptr;
}

Node* GetSceneRoot() {
    const IdSystem* scene = TheIdMap().GetIdSystem(0);
    return scene ? dynamic_cast<Node*>(scene->GetRoot()) : nullptr;
}

bool IsNodePlacement(const Property& property) {
    return property.GetOwner() != nullptr && property.GetOwner() == Node::classInfo;
}

namespace {
uint64_t sceneFrame = 0;
} // namespace

void BeginSceneFrame() {
    ++sceneFrame;
    Entity::BeginEventFrame();
    BeginFrameWaits();
}

uint64_t GetSceneFrame() {
    return sceneFrame;
}

void UpdateNodeTree(Node* root) {
    BeginSceneFrame();
    // Each frame updates only what was there when it began: a scene whose update loads it again
    // would otherwise run every new copy in the same frame, one after another, without end.
    const uint64_t firstMade = Entity::GetNextSerial();
    std::vector<WalkFrame> frames;
    Node* node = root;
    while (node) {
        if (node->HasFlag(NodeEnabled)) {
            const uint64_t serial = node->GetSerial();
            if (serial < firstMade) {
                UpdateOne(node);
            }
            // The first child is read after the update, which may have added or removed it.
            node = FindLiveNode(serial);
            if (node && node->GetFirstChild()) {
                Node* first = node->GetFirstChild();
                frames.push_back({serial, first->GetSerial(), SerialOf(first->GetNext())});
                node = first;
                continue;
            }
        }
        node = nullptr;
        while (!node && !frames.empty()) {
            node = NextChild(frames.back());
            if (!node) {
                frames.pop_back();
            }
        }
    }
}

} // namespace quarn
