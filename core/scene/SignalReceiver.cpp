#include "core/scene/SignalReceiver.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/scene/WitnessProperty.h"
#include "core/string/Text.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace quarn {

ClassInfo* SignalReceiver::classInfo = nullptr;

namespace {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return CompareNoCase(a.c_str(), b.c_str()) < 0;
    }
};

// Receivers by name, each list in the order the nodes were entered. Never destroyed, so
// receivers that outlive static destruction can still leave it.
using ReceiverRegistry = std::map<std::string, std::vector<SignalReceiver*>, NoCaseLess>;

ReceiverRegistry& Registry() {
    static auto* registry = new ReceiverRegistry();
    return *registry;
}

void Unlist(SignalReceiver* receiver, const char* name) {
    auto found = Registry().find(name);
    if (found == Registry().end()) {
        return; // the class clean-up emptied the registry
    }
    std::vector<SignalReceiver*>& list = found->second;
    list.erase(std::remove(list.begin(), list.end(), receiver), list.end());
    if (list.empty()) {
        Registry().erase(found);
    }
}

// Being in the list also tells that the receiver is not being destroyed: its destructor leaves
// the list before anything else, while the entity's serial still answers until ~Entity.
bool IsListed(const SignalReceiver* receiver, const char* name) {
    auto found = Registry().find(name);
    return found != Registry().end() &&
           std::find(found->second.begin(), found->second.end(), receiver) != found->second.end();
}

void ClearRegistry() {
    Registry().clear();
}

} // namespace

// Built in place: copying or assigning a reference never carries its listener over.
SignalReceiver::SignalReceiver()
    : witnesses_{EntityRef(this), EntityRef(this), EntityRef(this),
                 EntityRef(this), EntityRef(this), EntityRef(this)} {}

SignalReceiver::~SignalReceiver() {
    if (signalName_.Length() > 0) {
        Unlist(this, signalName_.Text());
    }
}

void SignalReceiver::SetSignalName(const char* name) {
    // Cut and copied first: `name` may be this receiver's own text.
    String32 cut(name ? name : "");
    if (signalName_.Length() > 0) {
        Unlist(this, signalName_.Text());
    }
    signalName_ = cut;
    if (cut.Length() > 0) {
        Registry()[cut.Text()].push_back(this);
    }
}

PathString SignalReceiver::GetDescription() const {
    return PathString(signalName_.Text());
}

void SignalReceiver::SetPortValue(int port, const EntityRef& reference) {
    if (port >= 0 && port < WitnessCount) {
        witnesses_[port] = reference;
    }
}

EntityRef SignalReceiver::GetPortValue(int port) const {
    return port >= 0 && port < WitnessCount ? witnesses_[port] : EntityRef();
}

int SignalReceiver::Trigger(const char* name, const EventRecord& event) {
    String32 key(name ? name : "");
    auto found = Registry().find(key.Text());
    if (found == Registry().end()) {
        return 0;
    }
    // Any event may destroy a receiver, a witness or the argument, or rename a receiver: keep
    // serials and look everything up again before each send.
    std::vector<uint64_t> serials;
    for (const SignalReceiver* receiver : found->second) {
        serials.push_back(receiver->GetSerial());
    }
    for (uint64_t serial : serials) {
        for (int i = 0; i < WitnessCount; ++i) {
            auto* receiver = static_cast<SignalReceiver*>(FindBySerial(serial));
            if (!receiver || !IsListed(receiver, key.Text())) {
                break;
            }
            // A copy holds only the id, which SendEvent resolves afresh.
            EntityRef witness = receiver->witnesses_[i];
            if (witness.GetId() != 0) {
                SendEvent(event.sender, witness, event.argument.GetTarget(), event.value);
            }
        }
    }
    return static_cast<int>(serials.size());
}

ClassInfo* SignalReceiver::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    // The record first, then the base, as every registration does (class numbers follow).
    classInfo = new ClassInfo(
        "SignalReceiver", []() -> Entity* { return new SignalReceiver; }, &classInfo);
    ClassInfo* base = Node::RegisterClass();
    classInfo->SetParent(base);
    classInfo->SetCategory("Behaviour");
    classInfo->SetCleanUp(&ClearRegistry);

    classInfo->AddProperty<PropertyString, &SignalReceiver::GetSignalName,
                           &SignalReceiver::SetSignalName>("signalname");
    AddWitnessProperties(classInfo, WitnessCount);
    return classInfo;
}

} // namespace quarn
