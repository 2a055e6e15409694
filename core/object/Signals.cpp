#include "core/object/Signals.h"

#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/MethodInfo.h"
#include "core/os/EngineWork.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quarn {
namespace {

struct ListenerEntry {
    // Handed out in increasing order, so the entries of one name stay sorted by it and a walk
    // can find out whether an entry it saw is still there.
    uint64_t id;
    Entity* entity;
    uint64_t serial;
    const MethodInfo* method;
};

struct ListenerEntryBefore {
    bool operator()(const ListenerEntry& entry, uint64_t id) const { return entry.id < id; }
};

using ListenerTable = std::map<std::string, std::vector<ListenerEntry>, std::less<>>;
using ClassTable = std::map<std::string, std::vector<const MethodInfo*>, std::less<>>;

// The tables are never freed: entities destroyed during static destruction still leave them.
ListenerTable& Listeners() {
    static auto* table = new ListenerTable();
    return *table;
}

ClassTable& ClassSignals() {
    static auto* table = new ClassTable();
    return *table;
}

// Entries per entity, so that destroying an entity that never listened (nearly all of them)
// costs one lookup.
std::unordered_map<const Entity*, int>& ListenerCounts() {
    static auto* counts = new std::unordered_map<const Entity*, int>();
    return *counts;
}

uint64_t nextEntryId = 1;
bool stopFlag = false;
SignalObserver signalObserver = nullptr;

void ForgetEntry(const Entity* entity) {
    auto& counts = ListenerCounts();
    auto found = counts.find(entity);
    if (found != counts.end() && --found->second <= 0) {
        counts.erase(found);
    }
}

// Removes the entries of one name that `remove` selects; drops the name when none is left.
template <class Predicate>
void RemoveEntries(ListenerTable::iterator names, Predicate remove) {
    auto& entries = names->second;
    auto kept = std::stable_partition(entries.begin(), entries.end(),
                                      [&](const ListenerEntry& entry) { return !remove(entry); });
    for (auto it = kept; it != entries.end(); ++it) {
        ForgetEntry(it->entity);
    }
    entries.erase(kept, entries.end());
    if (entries.empty()) {
        Listeners().erase(names);
    }
}

const ListenerEntry* FindEntry(std::string_view name, uint64_t id) {
    auto names = Listeners().find(name);
    if (names == Listeners().end()) {
        return nullptr;
    }
    auto& entries = names->second;
    auto found = std::lower_bound(entries.begin(), entries.end(), id, ListenerEntryBefore());
    return found != entries.end() && found->id == id ? &*found : nullptr;
}

struct InstanceVisit {
    Entity* instance;
    uint64_t serial;
    ClassInfo* list; // the class in whose instance list it stood
};

// The class's own instances, then each derived class's, depth first.
void CollectInstances(ClassInfo* classInfo, std::vector<InstanceVisit>& visits) {
    int count = classInfo->GetInstanceCount();
    for (int i = 0; i < count; ++i) {
        Entity* instance = classInfo->GetInstance(i);
        visits.push_back({instance, instance->GetSerial(), classInfo});
    }
    for (ClassInfo* derived : classInfo->GetDerivedClasses()) {
        CollectInstances(derived, visits);
    }
}

} // namespace

SignalArgs& SignalArgs::Add(void* value) {
    if (count_ < Capacity) {
        values_[count_++] = value;
        return *this;
    }
    // A list that overflows does so on every send; one report is enough.
    static bool reported = false;
    if (!reported) {
        reported = ValidityReport("A signal argument list holds at most %d values; the rest are "
                                  "dropped",
                                  Capacity);
    }
    return *this;
}

void* SignalArgs::Get(int index) const {
    return index >= 0 && index < count_ ? values_[index] : nullptr;
}

// Sending -------------------------------------------------------------------------------------

bool SendSignal(const char* name, void* argument, bool force) {
    if (signalObserver && name) {
        signalObserver(name, argument, force);
    }
    if (!SendSignalToNodes(name, argument, force)) {
        return false;
    }
    return SendSignalToClasses(name, argument, force);
}

void SetSignalObserver(SignalObserver observer) {
    signalObserver = observer;
}

SignalObserver GetSignalObserver() {
    return signalObserver;
}

bool SendSignalToNodes(const char* name, void* argument, bool force) {
    if (!name) {
        return true;
    }
    std::string_view key(name);
    auto names = Listeners().find(key);
    if (names == Listeners().end()) {
        return true;
    }
    bool saved = stopFlag;
    stopFlag = false;
    // Receivers may add and remove entries and destroy entities: the walk goes by the entries
    // present now, and each is looked up again before its call.
    std::vector<uint64_t> ids;
    ids.reserve(names->second.size());
    for (const ListenerEntry& entry : names->second) {
        ids.push_back(entry.id);
    }
    // Each listener is looked up and called, as a node of a walk is: a signal thousands hear
    // (a node's deletion, which every script hears) is work in proportion.
    ChargeNodesVisited(ids.size());
    for (uint64_t id : ids) {
        const ListenerEntry* entry = FindEntry(key, id);
        // An entity being destroyed leaves the serial table before its entries go.
        if (entry && entry->method && Entity::FindBySerial(entry->serial) == entry->entity &&
            (force || entry->entity->IsEnabledForSignals())) {
            entry->method->CallSignal(entry->entity, argument);
        }
        if (stopFlag) {
            // The saved value is dropped on purpose: a stopped nested send leaves the flag clear.
            stopFlag = false;
            return false;
        }
    }
    stopFlag = saved;
    return true;
}

bool SendSignalToClasses(const char* name, void* argument, bool force) {
    if (!name) {
        return true;
    }
    auto names = ClassSignals().find(std::string_view(name));
    if (names == ClassSignals().end()) {
        return true;
    }
    bool saved = stopFlag;
    stopFlag = false;
    // A receiver may register further entries, which would move the list.
    std::vector<const MethodInfo*> methods = names->second;
    for (const MethodInfo* method : methods) {
        CallSignalOnClassInstances(method->GetOwner(), method, argument, force);
        if (stopFlag) {
            stopFlag = false;
            return false;
        }
    }
    stopFlag = saved;
    return true;
}

void SendUndoLabel(Entity* entity, const char* label) {
    SignalArgs args;
    args.Add(entity).Add(const_cast<char*>(label));
    SendSignal("addundolabel", &args, true);
}

void StopSignal() {
    stopFlag = true;
}

void CallSignalOnClassInstances(ClassInfo* classInfo, const MethodInfo* method, void* argument,
                                bool force) {
    if (!classInfo || !method) {
        return;
    }
    // Instances are remembered by serial: a receiver may destroy any of them, or create new
    // ones, which this delivery then leaves out.
    std::vector<InstanceVisit> visits;
    CollectInstances(classInfo, visits);
    ChargeNodesVisited(visits.size());
    for (const InstanceVisit& visit : visits) {
        // Still alive, and not moved to another list (a class change) since the walk began.
        if (Entity::FindBySerial(visit.serial) == visit.instance &&
            visit.instance->GetInstanceClass() == visit.list &&
            (force || visit.instance->IsEnabledForSignals())) {
            method->CallSignal(visit.instance, argument);
        }
        if (stopFlag) {
            return;
        }
    }
}

bool CallEntityMethod(Entity* entity, const char* name, void* argument) {
    MethodInfo* method = entity && name ? entity->FindMethod(name) : nullptr;
    if (!method) {
        return false;
    }
    method->CallSignal(entity, argument);
    return true;
}

bool CallEntityMethodWithRecord(Entity* entity, const char* name, std::span<uint32_t> record) {
    MethodInfo* method = entity && name ? entity->FindMethod(name) : nullptr;
    if (!method) {
        return false;
    }
    method->CallWithRecord(entity, record);
    return true;
}

// The tables ----------------------------------------------------------------------------------

void AddSignalListener(const char* name, Entity* entity) {
    if (!name || !entity) {
        return;
    }
    auto names = Listeners().find(std::string_view(name));
    if (names == Listeners().end()) {
        names = Listeners().emplace(name, std::vector<ListenerEntry>()).first;
    }
    names->second.push_back({nextEntryId++, entity, entity->GetSerial(), entity->FindMethod(name)});
    ++ListenerCounts()[entity];
}

void RemoveSignalListener(const char* name, Entity* entity) {
    if (!name) {
        return;
    }
    auto names = Listeners().find(std::string_view(name));
    if (names != Listeners().end()) {
        RemoveEntries(names,
                      [entity](const ListenerEntry& entry) { return entry.entity == entity; });
    }
}

void RemoveSignalListeners(const char* name) {
    if (!name) {
        return;
    }
    auto names = Listeners().find(std::string_view(name));
    if (names != Listeners().end()) {
        RemoveEntries(names, [](const ListenerEntry&) { return true; });
    }
}

void RemoveSignalListenersOf(const Entity* entity) {
    if (!entity || ListenerCounts().find(entity) == ListenerCounts().end()) {
        return;
    }
    for (auto names = Listeners().begin(); names != Listeners().end();) {
        auto current = names++;
        RemoveEntries(current,
                      [entity](const ListenerEntry& entry) { return entry.entity == entity; });
    }
}

void RegisterClassSignal(const char* name, ClassInfo* classInfo) {
    MethodInfo* method = name && classInfo ? classInfo->FindMethod(name, true) : nullptr;
    RegisterClassSignal(name, method);
}

void RegisterClassSignal(const char* name, const MethodInfo* method) {
    if (name && method) {
        ClassSignals()[name].push_back(method);
    }
}

int GetSignalListenerCount(const char* name) {
    if (!name) {
        return 0;
    }
    auto names = Listeners().find(std::string_view(name));
    return names == Listeners().end() ? 0 : static_cast<int>(names->second.size());
}

} // namespace quarn
