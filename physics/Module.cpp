#include "physics/Module.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/ValueType.h"
#include "core/os/EngineWork.h"
#include "core/scene/NodeSignals.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "physics/Anchor.h"
#include "physics/Joint.h"
#include "physics/RigidBody.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quarn {

ClassInfo* Module::classInfo = nullptr;

namespace {

// A module reference that reads as the bare id in decimal.
class PropertyModuleId : public PropertyEntity {
public:
    using PropertyEntity::PropertyEntity;
    std::string GetAsText(const Entity& object) const override {
        uint32_t id = 0;
        GetValue(object, &id);
        return std::to_string(static_cast<int32_t>(id));
    }
};

template <class T>
T* CastEntity(Entity* entity, ClassInfo* classInfo) {
    return entity && classInfo ? static_cast<T*>(entity->CastTo(classInfo)) : nullptr;
}

// The module that `anchor`'s partner belongs to, or null when it is not attached.
Module* AttachedModule(Anchor* anchor) {
    Anchor* partner = anchor->GetPartner();
    return partner ? partner->GetModule() : nullptr;
}

// The anchor of `start`'s own subtree through which `target` is reached, walked depth first
// with an explicit stack (a chain of modules may be longer than the thread's stack is deep).
Anchor* ConnectingAnchorSearch(Node* start, Module* target) {
    struct Pending {
        Node* node;
        Anchor* through; // the anchor of `start`'s subtree that led here; null inside it
    };
    std::vector<Pending> pending;
    if (start) {
        pending.push_back({start, nullptr});
    }
    while (!pending.empty()) {
        const Pending current = pending.back();
        pending.pop_back();
        current.node->Stamp();
        Anchor* anchor = ToAnchor(current.node);
        if (!anchor) {
            const size_t first = pending.size();
            for (Node* child = current.node->GetFirstChild(); child; child = child->GetNext()) {
                pending.push_back({child, current.through});
            }
            std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
            continue;
        }
        Anchor* through = current.through ? current.through : anchor;
        Module* reached = AttachedModule(anchor);
        if (reached == target && reached) {
            return through;
        }
        if (reached && !reached->IsStamped()) {
            pending.push_back({reached, through});
        }
    }
    return nullptr;
}

// The kinds of module a build code names, by module name.
constexpr struct {
    const char* name;
    char letter;
} ModuleKinds[] = {
    {"Battery", 'i'},    {"MiniJet", 'j'},     {"TurnTable", 't'},  {"Upsadizer", 'u'},
    {"Cannon", 'c'},     {"ELGun", 'c'},       {"TopNut", 'b'},     {"Boxtop", 'b'},
    {"6Way", 'b'},       {"Flexer", 'f'},      {"TwinWheel", 'd'},  {"MonoWheel", 'm'},
    {"Bender", 'e'},     {"SideWheel", 'w'},   {"RightWheel", 'w'}, {"LeftWheel", 'l'},
    {"Spring", 's'},     {"GrappleBeam", 'r'}, {"Balloon", 'o'},    {"FlatNut", 'x'},
    {"FlatBox", 'x'},    {"4Way", 'x'},        {"DoubleJet", 'h'},  {"IceTable", 'a'},
    {"Gyro", 'g'},       {"Propeller", 'p'},   {"Magnet", 'n'},
};

// A key code's value when the scripts have given none.
constexpr int32_t NoKeyCode = 0x2F;
// Values a build code's character can hold: '0' + value must stay a byte.
constexpr int32_t LargestCodeValue = 255 - '0';

char ModuleKindLetter(const Node& module) {
    for (const auto& kind : ModuleKinds) {
        if (CompareNoCase(module.GetName().c_str(), kind.name) == 0) {
            return kind.letter;
        }
    }
    return '?';
}

// The anchor named "PrimaryAnchor" by which a module hangs from its parent in a construction.
Anchor* PrimaryAnchorOf(const Module& module) {
    return ToAnchor(module.FindChildByName("PrimaryAnchor"));
}

// Its turn about Z against its primary anchor, in eighths of a turn; 0 for any other turn.
int32_t OrientationNumber(const Module& module) {
    Anchor* primary = PrimaryAnchorOf(module);
    auto* first = primary ? dynamic_cast<Pivot*>(primary->GetFirstChild()) : nullptr;
    if (!first) {
        return 0;
    }
    Float3 axis;
    const float angle = first->GetOrientation().ToAxisAngle(axis);
    if (!(std::fabs(axis.z) > 0.9f)) {
        return 0;
    }
    const float turned = axis.z < 0.0f ? -angle : angle;
    return static_cast<int32_t>((turned + 6.2832f + 0.3927f) / 0.7854f) & 7;
}

// A record's number as its character; one that no character holds is logged and written as
// the code of an absent key.
char CodeCharacter(int32_t value, const Module* module, const char* what) {
    if (value < 0 || value > LargestCodeValue) {
        LogMessage("Build code of '%s': its %s %d does not fit the code",
                   module ? module->GetName().c_str() : "", what, value);
        value = NoKeyCode;
    }
    return static_cast<char>('0' + value);
}

// The int value of the named property of `source`, or NoKeyCode without one.
int32_t ReadKeyCode(Entity* source, const char* name) {
    Property* property = source ? source->GetClass()->FindProperty(name) : nullptr;
    if (!property || property->GetValueType() != TypeInt) {
        return NoKeyCode;
    }
    uint32_t value = 0;
    property->ReadValue(*source, &value);
    return static_cast<int32_t>(value);
}

} // namespace

Module* ToModule(Entity* entity) {
    return CastEntity<Module>(entity, Module::classInfo);
}

Anchor* ToAnchor(Entity* entity) {
    return CastEntity<Anchor>(entity, Anchor::classInfo);
}

RigidBody* ToRigidBody(Entity* entity) {
    return CastEntity<RigidBody>(entity, RigidBody::classInfo);
}

Module::Module() : body_(this), masterModule_(this) {}

Module::~Module() {
    for (Anchor* anchor : anchors_) {
        anchor->ForgetModule(this);
    }
    anchors_.clear();
}

void Module::ParentFlagsChanged(Node* parent, bool attached) {
    for (Node* node = parent; node; node = node->GetParent()) {
        if (RigidBody* body = ToRigidBody(node)) {
            body_.SetId(attached ? body->GetId() : 0);
        }
    }
    Pivot::ParentFlagsChanged(parent, attached);
}

Anchor* Module::GetAnchor(int32_t index) const {
    return index >= 0 && index < GetAnchorCount() ? anchors_[index] : nullptr;
}

int32_t Module::FindAnchorIndex(const Anchor* anchor) const {
    auto found = std::find(anchors_.begin(), anchors_.end(), anchor);
    return found == anchors_.end() ? -1 : static_cast<int32_t>(found - anchors_.begin());
}

void Module::AddAnchor(Anchor* anchor) {
    if (FindAnchorIndex(anchor) < 0) {
        anchors_.push_back(anchor);
    }
}

void Module::RemoveAnchor(Anchor* anchor) {
    std::erase(anchors_, anchor);
}

RigidBody* Module::GetBody() const {
    return ToRigidBody(body_.GetTarget());
}

void Module::StampConnected(Anchor* excluded) {
    // Only rigid links hold a structure together; a stack keeps long chains off the call stack.
    std::vector<Module*> pending{this};
    Stamp();
    while (!pending.empty()) {
        Module* module = pending.back();
        pending.pop_back();
        for (Anchor* anchor : module->anchors_) {
            Joint* joint = anchor->GetJoint();
            Module* reached = AttachedModule(anchor);
            if (anchor == excluded || !reached || reached->IsStamped() || !joint ||
                joint->GetType() != JointRigidMerge) {
                continue;
            }
            reached->Stamp();
            pending.push_back(reached);
        }
    }
}

void Module::SnapToAnchor(Module* module, Anchor* own, Anchor* target) {
    if (!module || !own || !target || module->GetBodyId() == 0) {
        return;
    }
    Module* targetModule = target->GetModule();
    const bool shared = targetModule && targetModule->GetBodyId() == module->GetBodyId();
    const Quaternion qP = own->GetWorldOrientation();
    const Quaternion qQ = target->GetWorldOrientation();
    const Quaternion c(-qP.x, -qP.y, -qP.z, qP.w);
    // A module sharing target's body moves alone inside it; any other takes its body along.
    Pivot* moved = shared ? static_cast<Pivot*>(module) : module->GetBody();
    if (!moved) {
        return;
    }
    moved->SetWorldOrientation(moved->GetWorldOrientation() * c * qQ);
    const Float3 d = target->GetWorldPosition() - own->GetWorldPosition();
    moved->SetWorldPosition(moved->GetWorldPosition() + d);
}

void Module::SnapToModule(Node* node) {
    // An explicit stack in the order the recursive walk would take.
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        current->Stamp();
        if (Anchor* anchor = ToAnchor(current)) {
            Module* reached = AttachedModule(anchor);
            if (!reached || reached->IsStamped()) {
                continue;
            }
            SnapToAnchor(reached, anchor->GetPartner(), anchor);
            pending.push_back(reached);
            continue;
        }
        const size_t first = pending.size();
        for (Node* child = current->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
    }
}

Anchor* Module::FindConnectingAnchor(Module* from, Module* to) {
    Node::NewVisit();
    return ConnectingAnchorSearch(from, to);
}

int32_t Module::CountAttachedAnchors(Node* node) {
    int32_t count = 0;
    uint64_t visited = 0;
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        ++visited;
        if (Anchor* anchor = ToAnchor(current)) {
            count += anchor->GetJoint() ? 1 : 0;
            continue;
        }
        for (Node* child = current->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
    }
    ChargeNodesVisited(visited);
    return count;
}

std::string Module::BuildCode(Module* start, Node* keySource) {
    if (!start) {
        return "";
    }
    // The walk: modules in the order met, a module's primary anchor first among its children,
    // across every attached anchor (an anchor's own children are not visited).
    std::vector<Module*> walked;
    Node::NewVisit();
    std::vector<Node*> pending{start};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        if (current->IsStamped()) {
            continue;
        }
        current->Stamp();
        if (Anchor* anchor = ToAnchor(current)) {
            Module* reached = AttachedModule(anchor);
            if (reached && !reached->IsStamped()) {
                pending.push_back(reached);
            }
            continue;
        }
        Module* module = ToModule(current);
        if (module) {
            walked.push_back(module);
        }
        const size_t first = pending.size();
        for (Node* child = current->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
        std::reverse(pending.begin() + static_cast<std::ptrdiff_t>(first), pending.end());
        if (Anchor* primary = module ? PrimaryAnchorOf(*module) : nullptr) {
            // Taken next: the end of the stack.
            auto at = std::find(pending.begin() + static_cast<std::ptrdiff_t>(first),
                                pending.end(), primary);
            std::rotate(at, at + 1, pending.end());
        }
    }

    // A module with a "nodetach" child is passed through without a record of its own: what
    // hangs from it hangs where it does.
    std::unordered_map<Module*, int32_t> recordOf;
    std::unordered_set<Module*> passedThrough;
    std::vector<Module*> recorded;
    int32_t cut = 0;
    for (Module* module : walked) {
        if (module->FindChildByName("nodetach")) {
            passedThrough.insert(module);
        } else if (static_cast<int32_t>(recorded.size()) < BuildCodeRecords) {
            recordOf[module] = static_cast<int32_t>(recorded.size());
            recorded.push_back(module);
        } else {
            ++cut;
        }
    }
    if (cut > 0) {
        LogMessage("Build code of '%s': %d modules beyond its %d records are left out",
                   start->GetName().c_str(), cut, BuildCodeRecords);
    }

    struct Record {
        uint64_t serial;
        char kind;
        int32_t parent = 0; // a module that hangs from nothing recorded: 0, at anchor 0
        int32_t anchor = 0;
        int32_t orientation;
    };
    std::vector<Record> records;
    for (Module* module : recorded) {
        Record record{module->GetSerial(), ModuleKindLetter(*module), 0, 0,
                      OrientationNumber(*module)};
        // Through passed-through modules to the record it hangs from; each step leaves a
        // module behind, so the chain ends within the walk's length.
        Module* hanging = module;
        for (size_t step = 0; step <= walked.size(); ++step) {
            Anchor* primary = PrimaryAnchorOf(*hanging);
            Anchor* partner = primary ? primary->GetPartner() : nullptr;
            Module* parent = partner ? partner->GetModule() : nullptr;
            if (!parent) {
                break;
            }
            if (auto found = recordOf.find(parent); found != recordOf.end()) {
                record.parent = found->second;
                record.anchor = parent->FindAnchorIndex(partner);
                break;
            }
            if (!passedThrough.count(parent)) {
                break;
            }
            hanging = parent;
        }
        records.push_back(record);
    }

    // The key codes last: "set_as_current" runs the game's scripts, which may change or
    // delete any node, so every module and the source are found again by serial.
    const uint64_t sourceSerial = keySource ? keySource->GetSerial() : 0;
    std::string code;
    for (const Record& record : records) {
        auto* module = static_cast<Module*>(Entity::FindBySerial(record.serial));
        int32_t keys[2] = {NoKeyCode, NoKeyCode};
        if (Node* input = module ? module->FindChildByName("InputCode") : nullptr) {
            CallMethodInSubtree(input, "set_as_current", nullptr, false);
            Entity* source = sourceSerial ? Entity::FindBySerial(sourceSerial) : nullptr;
            keys[0] = ReadKeyCode(source, "current_module_key_code0");
            keys[1] = ReadKeyCode(source, "current_module_key_code1");
        }
        code += record.kind;
        code += static_cast<char>('0' + record.parent / 10);
        code += static_cast<char>('0' + record.parent % 10);
        code += CodeCharacter(record.anchor, module, "anchor index");
        code += static_cast<char>('0' + record.orientation);
        code += CodeCharacter(keys[0], module, "first key code");
        code += CodeCharacter(keys[1], module, "second key code");
    }
    return code;
}

// Script methods ------------------------------------------------------------------------------

Entity* Module::ScriptFindConnectingAnchor(Entity* from, Entity* to) {
    Module* fromModule = ToModule(from);
    Module* toModule = ToModule(to);
    return fromModule && toModule ? FindConnectingAnchor(fromModule, toModule) : nullptr;
}

void Module::ScriptSnapToModule(Entity* module) {
    if (!ValidityCheck(module != nullptr, "SnapToModule received a null-entity")) {
        return;
    }
    Node::NewVisit();
    if (Module* start = ToModule(module)) {
        SnapToModule(start);
    }
}

int32_t Module::ScriptCountAttachedAnchors(Entity* module) {
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? CountAttachedAnchors(cast) : 0;
}

int32_t Module::ScriptGetAnchorCount(Entity* module) {
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? cast->GetAnchorCount() : 0;
}

Entity* Module::ScriptGetAnchor(Entity* module, int32_t index) {
    // An index outside the list reads as none.
    Module* cast = ToModule(module);
    return ValidityCheck(cast != nullptr, "Module is none") ? cast->GetAnchor(index) : nullptr;
}

const char* Module::ScriptBuildCode(Entity* module, Entity* keySource) {
    return PutTempString(BuildCode(ToModule(module), dynamic_cast<Node*>(keySource)));
}

ClassInfo* Module::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = Pivot::RegisterClass();
    classInfo = new ClassInfo("Module", []() -> Entity* { return new Module(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");
    using M = Module;
    const uint32_t none = 0;
    Anchor::SetModuleResultType(ClassTypeBase + classInfo->GetClassNumber());
    classInfo
        ->AddProperty("master_mod",
                      std::make_unique<PropertyModuleId>(ClassTypeBase + classInfo->GetClassNumber()),
                      MakeGetter<&M::GetMasterModule>(), MakeSetter<&M::SetMasterModule>())
        ->SetDefault(&none);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():RigidBody", BindMethod<&M::ScriptGetBody>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module,Module):Anchor",
                         BindMethod<&M::ScriptFindConnectingAnchor>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module)", BindMethod<&M::ScriptSnapToModule>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module):int",
                         BindMethod<&M::ScriptCountAttachedAnchors>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module):int", BindMethod<&M::ScriptGetAnchorCount>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module,int):Anchor",
                         BindMethod<&M::ScriptGetAnchor>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(Module, Node):string",
                         BindMethod<&M::ScriptBuildCode>(), MethodScript);
    return classInfo;
}

} // namespace quarn
