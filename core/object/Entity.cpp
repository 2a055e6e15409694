#include "core/object/Entity.h"

#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/string/TextArena.h"

#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>

namespace quarn {

ClassInfo* Entity::classInfo = nullptr;

namespace {

// Live entities by serial. Never destroyed, so entities that outlive static destruction can
// still leave it.
std::unordered_map<uint64_t, Entity*>& LiveEntities() {
    static auto* live = new std::unordered_map<uint64_t, Entity*>();
    return *live;
}

uint64_t nextSerial = 1;

} // namespace

Entity::Entity() : serial_(nextSerial++) {
    LiveEntities().emplace(serial_, this);
}

Entity* Entity::FindBySerial(uint64_t serial) {
    auto found = LiveEntities().find(serial);
    return found == LiveEntities().end() ? nullptr : found->second;
}

void ValueTraits<Entity*>::Write(Entity* value, uint32_t* words) {
    words[0] = value ? value->GetId() : 0u;
}

Entity::~Entity() {
    LiveEntities().erase(serial_);
    ++destroyedCount_;
    // References are told while the object is still an Entity, so a listener that looks at it
    // sees the whole object; the id goes with them.
    ChangeId(0);
    RemoveSignalListenersOf(this);
    // Only Delete should get here with a list entry; an object destroyed otherwise still must
    // not leave one behind for the class's instance walks to find.
    if (instanceClass_) {
        instanceClass_->RemoveInstance(this);
    }
}

void Entity::Delete() {
    // The list the object was put in, not GetClass()'s: a script node answers GetClass with its
    // program's class, and that list never held it.
    if (instanceClass_) {
        instanceClass_->RemoveInstance(this);
    }
    delete this;
}

void Entity::GetPropertyValue(const Property&, uint32_t*) const {}

void Entity::SetPropertyValue(const Property&, const uint32_t*) {}

int Entity::GetPropertyState(const Property&) const {
    return PropertyEditAny;
}

void Entity::UpgradeVersion(int) {}

void Entity::CallMethod(const MethodInfo&, uint32_t*) {}

std::string Entity::GetStatusText(int) const {
    return std::string();
}

ClassInfo* Entity::GetClass() const {
    return classInfo;
}

int Entity::GetPropertyCount() const {
    ClassInfo* own = GetClass();
    return own ? own->GetPropertyCount() : 0;
}

Property* Entity::GetProperty(int index) const {
    ClassInfo* own = GetClass();
    return own ? own->GetProperty(index) : nullptr;
}

Property* Entity::FindProperty(const char* name) const {
    ClassInfo* own = GetClass();
    return own ? own->FindProperty(name) : nullptr;
}

Property* Entity::FindCustomProperty(const char* name) const {
    ClassInfo* custom = GetCustomClass();
    return custom ? custom->FindProperty(name) : nullptr;
}

Property* Entity::FindAnyProperty(const char* name) const {
    Property* property = FindProperty(name);
    return property ? property : FindCustomProperty(name);
}

MethodInfo* Entity::FindMethod(const char* name) const {
    ClassInfo* own = GetClass();
    return own ? own->FindMethod(name, true) : nullptr;
}

Entity* Entity::CastTo(const ClassInfo* target) {
    ClassInfo* own = GetClass();
    return own && target && own->IsDerivedFrom(target) ? this : nullptr;
}

Entity* Entity::CastToClassName(const char* className) {
    ClassInfo* target = FindClass(className);
    return target ? CastTo(target) : nullptr;
}

void Entity::SetName(const char* name) {
    if (!name) {
        name = "";
    }
    // A name is one line of a scene file.
    if (name_ == name || std::strchr(name, '\n')) {
        return;
    }
    name_ = name;
}

std::string Entity::GetDisplayName() const {
    if (!name_.empty()) {
        return "\"" + name_ + "\"";
    }
    ClassInfo* own = GetClass();
    PathString description = GetDescription();
    if (description.Length() > 0) {
        return std::string("<") + (own ? own->GetShortName() : "") + ">(" + description.Text() +
               ")";
    }
    return std::string("<") + (own ? own->GetName() : "") + ">";
}

const char* Entity::GetDescriptionText() const {
    return PutTempString(GetDescription().Text());
}

ClassInfo* Entity::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("Entity", nullptr, &classInfo);
    classInfo->AddProperty(
        "name", std::make_unique<PropertyString>(),
        [](const Entity& object, uint32_t* out) {
            ValueTraits<const char*>::Write(object.GetName().c_str(), out);
        },
        MakeSetter<&Entity::SetName>());

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(string):Entity", BindMethod<&Entity::CastToClassName>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Entity::Destroy>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():string", BindMethod<&Entity::GetDescriptionText>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&Entity::GetId>(), MethodScript);

    TheIdMap().Clear();
    return classInfo;
}

} // namespace quarn

namespace quarn {

void Entity::ReceiveEvent(const EventRecord&) {}

const char* Entity::GetInputName(int port) const {
    static const char* const names[MaxPorts] = {"input0", "input1", "input2", "input3",
                                                "input4", "input5", "input6", "input7"};
    return port >= 0 && port < MaxPorts ? names[port] : "";
}

const char* Entity::GetOutputName(int port) const {
    static const char* const names[MaxPorts] = {"output0", "output1", "output2", "output3",
                                                "output4", "output5", "output6", "output7"};
    return port >= 0 && port < MaxPorts ? names[port] : "";
}

void Entity::SetPortValue(int, const EntityRef&) {}

EntityRef Entity::GetPortValue(int) const {
    return EntityRef();
}

uint32_t Entity::GetInputRedirect(int) const {
    return 0;
}

namespace {

// A redirect may lead to another redirecting input; a longer chain is a loop in the wiring.
constexpr int MaxRedirectHops = 16;
// Events that cause events (a receiver sending on, nodes wired in a ring) nest; past this depth
// the cascade is a loop that would otherwise exhaust the stack.
constexpr int MaxEventDepth = 64;

int eventDepth = 0;
// Events dispatched since the outermost send began. A cascade shallow enough for the depth bound
// can still fan out: 14 nodes that each pass an event on to the next eight times make 8^12.
int64_t cascadeEvents = 0;
// Set once a cascade overran the depth or the count: every send left in it is dropped until it
// unwinds, or a loop that fans out would still run for 2^depth events on its way back.
bool cascadeAbandoned = false;
// Frames as the scene update counts them, and the last one whose cut cascade the log told.
uint64_t eventFrame = 0;
uint64_t cutReportedFrame = UINT64_MAX;
// Events dispatched since the frame began: a thousand outermost events, each within the count
// of its cascade, can still make a frame that never ends. The last frame whose cut the log told.
int64_t frameEvents = 0;
uint64_t frameCutReportedFrame = UINT64_MAX;

enum EventFault : uint64_t { RedirectLoop = 0, NestingLoop = 1 };

// Once per entity, fault and run: a loop fired every frame would otherwise report every frame.
bool FirstReportFor(const Entity* entity, EventFault fault) {
    static auto* reported = new std::unordered_set<uint64_t>();
    return reported->insert(entity->GetSerial() * 2 + fault).second;
}

} // namespace

void Entity::BeginEventFrame() {
    ++eventFrame;
    frameEvents = 0;
}

void Entity::SendEvent(const EntityRef& sender, const EntityRef& target, Entity* argument,
                       float value) {
    uint32_t targetId = target.GetId();
    Entity* entity = targetId != 0 ? target.GetTarget() : nullptr;
    if (!entity || cascadeAbandoned) {
        return;
    }
    Entity* first = entity;
    for (int hops = 0;; ++hops) {
        uint32_t redirect = entity->GetInputRedirect(static_cast<int>(targetId >> PortShift));
        if (redirect == 0) {
            break;
        }
        if (hops == MaxRedirectHops) {
            if (FirstReportFor(first, RedirectLoop)) {
                ValidityReport("Input redirects from entity %u go on for more than %d hops; "
                               "the event is dropped",
                               first->GetId(), MaxRedirectHops);
            }
            return;
        }
        entity = LookupEntity(redirect);
        if (!entity) {
            return;
        }
        targetId = redirect;
    }
    if (eventDepth >= MaxEventDepth) {
        cascadeAbandoned = true;
        if (FirstReportFor(entity, NestingLoop)) {
            ValidityReport("Events sent on by their receivers nest deeper than %d at entity %u; "
                           "the rest of the cascade is dropped",
                           MaxEventDepth, entity->GetId());
        }
        return;
    }

    if (eventDepth == 0) {
        cascadeEvents = 0;
    }
    if (++cascadeEvents > MaxCascadeEvents) {
        cascadeAbandoned = true;
        // Once a frame: a cut cascade fired every frame would otherwise flood the log.
        if (cutReportedFrame != eventFrame) {
            cutReportedFrame = eventFrame;
            LogMessage("Events set off by one event passed %lld at entity %u; the rest of the "
                       "cascade is dropped",
                       static_cast<long long>(MaxCascadeEvents), entity->GetId());
        }
        return;
    }
    if (++frameEvents > MaxFrameEvents) {
        // Inside a cascade the rest of it goes too; an outermost event is simply dropped.
        cascadeAbandoned = eventDepth > 0;
        if (frameCutReportedFrame != eventFrame) {
            frameCutReportedFrame = eventFrame;
            LogMessage("Events of one frame passed %lld at entity %u; the rest of the frame's "
                       "events are dropped",
                       static_cast<long long>(MaxFrameEvents), entity->GetId());
        }
        return;
    }

    EventRecord record;
    record.sender = sender;
    record.target.SetId(targetId);
    record.argument.SetId(argument ? argument->GetId() : 0u);
    record.value = value;

    uint64_t serial = entity->GetSerial();
    ++eventDepth;
    // Forced, and its result ignored: stopping the signal does not stop the event.
    SendSignal("sendevent", &record, true);
    // A "sendevent" receiver may have destroyed the target.
    if (Entity* still = FindBySerial(serial)) {
        still->ReceiveEvent(record);
    }
    if (--eventDepth == 0) {
        cascadeAbandoned = false;
    }
}

} // namespace quarn
