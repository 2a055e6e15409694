#pragma once

#include "core/object/EntityRef.h"
#include "core/string/FixedString.h"

#include <cstdint>
#include <string>
#include <typeinfo>

namespace quarn {

class ClassInfo;
class MethodInfo;
class Property;

// An event on its way to an input port: who sent it, the target with the port in bits 28-31,
// an optional argument entity, and a value. It lives only while Entity::SendEvent runs; a
// receiver copies what it keeps. Its references have no listener.
struct EventRecord {
    EntityRef sender;
    EntityRef target;
    EntityRef argument;
    float value = 0.0f;
};

// Answers of Entity::GetPropertyState: the parts of a property that the editor's pane lets the
// user change, as a mask of a bitfield's bits or of a vector's components (x 1, y 2, z 4).
enum PropertyEditMask : int {
    PropertyEditAny = -1, // the object adds no restriction
    PropertyEditZOnly = 4,
};

// Entities have input and output ports 0..7.
inline constexpr int MaxPorts = 8;

// The root class of everything a scene file or a script can name: nodes, resources and the
// objects of every subsystem. It carries the id (Referable), a name, and the class record in
// whose instance list it stands; the rest of the engine reads its properties, calls its methods
// and sends it events through the virtual operations here.
class Entity : public Referable {
public:
    Entity();
    ~Entity() override;

    // A number no other entity of this run has had or will have. Code that calls out while
    // walking entities (signals, events, the scene update) keeps serials instead of pointers
    // and asks FindBySerial afterwards, since a receiver may have destroyed anything.
    uint64_t GetSerial() const { return serial_; }
    // The live entity with that serial, or null once it is destroyed.
    static Entity* FindBySerial(uint64_t serial);
    // Counts destructions: a holder of serials that finds it unchanged since its last look-up
    // knows they all still live without looking again.
    static uint64_t GetDestroyedCount() { return destroyedCount_; }

    // The only way to destroy a registered object: it leaves its class's instance list first.
    virtual void Delete();
    void Destroy() { Delete(); }

    // Called on an object a script made by its class name, before it gets its id; empty here,
    // for classes that set themselves up only when made that way.
    virtual void OnCreate() {}

    // Detail text shown in the display name; empty by default.
    virtual PathString GetDescription() const { return PathString(); }

    // Values of properties whose descriptor has no accessor (custom properties). `out` and
    // `value` hold the property's words.
    virtual void GetPropertyValue(const Property& property, uint32_t* out) const;
    virtual void SetPropertyValue(const Property& property, const uint32_t* value);
    virtual int GetPropertyState(const Property& property) const;
    // Asked by the editor's undo list before it records a step under this label ("Center",
    // "Save") for the entity.
    virtual bool AcceptsUndoLabel(const char* /*label*/) const { return true; }

    // Adapts stored values after loading from an older file.
    virtual void UpgradeVersion(int fileVersion);
    // Runs a registered method that has no bound function.
    virtual void CallMethod(const MethodInfo& method, uint32_t* block);

    // Status or debug text for the editor.
    virtual std::string GetStatusText(int selector) const;

    // Whether unforced signals reach it; entities without an enabled state always receive.
    virtual bool IsEnabledForSignals() const { return true; }

    // Ports. Events arriving at an input go to ReceiveEvent, unless the input redirects them
    // (an id with the target's port in bits 28-31). Outputs hold a reference to what they are
    // wired to.
    virtual void ReceiveEvent(const EventRecord& event);
    virtual int GetInputCount() const { return 0; }
    virtual int GetOutputCount() const { return 0; }
    // "input0".."input7", "output0".."output7"; "" past port 7.
    virtual const char* GetInputName(int port) const;
    virtual const char* GetOutputName(int port) const;
    virtual void SetPortValue(int port, const EntityRef& reference);
    virtual EntityRef GetPortValue(int port) const;
    virtual uint32_t GetInputRedirect(int port) const;

    // Sends an event to the target's input port: follows input redirects, sends the signal
    // "sendevent" (forced) with the record, then calls the final target's ReceiveEvent. The
    // events one outermost send sets off, itself included, are counted: past
    // MaxCascadeEvents the rest of them are dropped, and the log says so once a frame. So are
    // the events of one frame past MaxFrameEvents, all cascades together.
    static void SendEvent(const EntityRef& sender, const EntityRef& target, Entity* argument,
                          float value);
    static constexpr int64_t MaxCascadeEvents = 65536;
    static constexpr int64_t MaxFrameEvents = 262144;
    // A new frame of the scene update: the frame's count starts afresh, and the next cut is
    // logged again. What runs the scene without the update (a tool's steps) begins its own.
    static void BeginEventFrame();

    // The object's class record; every registered class answers its own.
    virtual ClassInfo* GetClass() const;
    // A script-declared extension of the class, or null.
    virtual ClassInfo* GetCustomClass() const { return nullptr; }

    int GetPropertyCount() const;
    Property* GetProperty(int index) const;
    Property* FindProperty(const char* name) const;
    Property* FindCustomProperty(const char* name) const;
    // Its class's property of that name, else its custom class's.
    Property* FindAnyProperty(const char* name) const;
    MethodInfo* FindMethod(const char* name) const;

    // This object when its class is `classInfo` or derives from it; else null.
    Entity* CastTo(const ClassInfo* classInfo);
    // The same for the class of that name (exact); null when no class has it.
    Entity* CastToClassName(const char* className);

    const std::string& GetName() const { return name_; }
    // Ignored when unchanged or when the text holds a line feed.
    void SetName(const char* name);
    // "name" in quotes; else "<Short>(description)"; else "<Class>".
    std::string GetDisplayName() const;
    // The description copied into the temporary-string ring (a text for scripts).
    const char* GetDescriptionText() const;

    // The class in whose instance list the object stands (set by ClassInfo::CreateInstance).
    ClassInfo* GetInstanceClass() const { return instanceClass_; }
    void SetInstanceClass(ClassInfo* classInfo) { instanceClass_ = classInfo; }
    // The object's place in that list, kept by the list.
    size_t GetInstanceIndex() const { return instanceIndex_; }
    void SetInstanceIndex(size_t index) { instanceIndex_ = index; }

    // Registers the "Entity" class (abstract) and clears the id map; returns its record.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    static inline uint64_t destroyedCount_ = 0;

    uint64_t serial_;
    ClassInfo* instanceClass_ = nullptr;
    size_t instanceIndex_ = 0;
    std::string name_;
};

// The object as a T. Where hot paths nearly always meet exactly a T, comparing the types spares
// the cast's search of the class tree; derived classes still take the cast.
template <class T, class From>
T* ExactOrDerivedCast(From& object) {
    return typeid(object) == typeid(T) ? static_cast<T*>(&object) : dynamic_cast<T*>(&object);
}

} // namespace quarn
