#pragma once

#include <cstdint>
#include <span>

namespace quarn {

class ClassInfo;
class Entity;
class MethodInfo;

// Named signals: a name, one pointer-sized argument whose meaning the name gives (an entity,
// a SignalArgs list, an event record), and a force flag. Delivery goes first to the entities
// that listen under the name, then to every instance of the classes registered for it; only
// entities enabled for signals (nodes: fully enabled ones) receive unless forced, and any
// receiver may stop the delivery. Receivers may add or remove listeners and create or destroy
// entities while a signal is delivered: no destroyed entity is called, and a receiver
// registered throughout is called once per entry.

// A list of at most 16 pointer-sized values; Add beyond that is reported and dropped.
class SignalArgs {
public:
    static constexpr int Capacity = 16;

    SignalArgs& Clear() {
        count_ = 0;
        return *this;
    }
    SignalArgs& Add(void* value);
    int GetCount() const { return count_; }
    void* Get(int index) const;

private:
    void* values_[Capacity] = {};
    int count_ = 0;
};

// False when a receiver stopped the signal.
bool SendSignal(const char* name, void* argument, bool force);
// Sees every signal SendSignal delivers, just before its receivers do: while the argument is
// certainly alive, as a receiver may delete it. How a service that is no entity (the editor's
// selection) follows the signals. One at a time; null (the default) watches nothing.
using SignalObserver = void (*)(const char* name, void* argument, bool force);
void SetSignalObserver(SignalObserver observer);
SignalObserver GetSignalObserver();
bool SendSignalToNodes(const char* name, void* argument, bool force);
bool SendSignalToClasses(const char* name, void* argument, bool force);
// "addundolabel", forced, with the entity and the label: the name of the editing step just done.
void SendUndoLabel(Entity* entity, const char* label);
// Called by a receiver to end the delivery under way.
void StopSignal();
void CallSignalOnClassInstances(ClassInfo* classInfo, const MethodInfo* method, void* argument,
                                bool force);
// Calls the entity's method of that name (its class and bases); false when it has none.
bool CallEntityMethod(Entity* entity, const char* name, void* argument);
// The same with a record of words (MethodInfo::CallWithRecord): a script's function of that
// name reads the words after the first as its arguments.
bool CallEntityMethodWithRecord(Entity* entity, const char* name, std::span<uint32_t> record);

// The two tables. Names compare exactly; entries of one name keep the order of addition.
// The method of a listener entry is the entity's method of the signal's name (found ignoring
// case), or none, in which case delivery skips the entry.
void AddSignalListener(const char* name, Entity* entity);
void RemoveSignalListener(const char* name, Entity* entity);
void RemoveSignalListeners(const char* name);
// Called by the Entity destruction: no entry outlives its entity.
void RemoveSignalListenersOf(const Entity* entity);
// Every instance of the class owning the method found for the name (the class or a base)
// and of its derived classes receives the signal; nothing when no method has that name.
void RegisterClassSignal(const char* name, ClassInfo* classInfo);
// The same for a handler registered under another name (a generated one): every instance of
// the method's class and of its derived classes receives the signal through it.
void RegisterClassSignal(const char* name, const MethodInfo* method);
int GetSignalListenerCount(const char* name);

} // namespace quarn
