#pragma once

#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class ClassInfo;
class Entity;

// Kind numbers of the descriptor classes (the editor and custom declarations name them).
enum PropertyKind : int32_t {
    KindInt = 0,
    KindBool = 1,
    KindRef = 2,
    KindEnum = 3,
    KindBitfield = 4,
    KindColor = 5,
    KindFloat = 6,
    KindVector2I = 7,
    KindVector2F = 8,
    KindVector3I = 9, // no descriptor class
    KindVector3F = 10,
    KindQuaternion = 11,
    KindString = 12,
    KindResource = 13,
    KindVref = 14, // no descriptor class
    KindString64 = 15,
};

// Bits of Property::GetStateFlags.
enum PropertyStateFlags : uint32_t {
    PropertyStale = 1,        // set while a custom class's declarations are reread
    PropertyTransient = 2,    // not written to or read from scene files (unless asked)
    PropertyInitialState = 4, // every descriptor starts with it; nothing here reads it
    PropertyHasDefault = 8,
};

// Bits of Property::GetPropertyFlags.
enum PropertyFlags : uint32_t {
    PropertyTreeLink = 4, // "parent" and "prev": the node's place in its tree
};

// Told when a property changes: (the object whose property changed, old words, new words).
// `target` is the object the listener was registered for: the changed object itself, a given
// object, or null for a free function.
using PropertyListenerFunction = void (*)(Entity* target, Entity& object, const uint32_t* oldValue,
                                          const uint32_t* newValue);

// A property value as words, large enough for every type.
struct PropertyValue {
    uint32_t words[MaxValueWords] = {};
};

// Describes one typed, named property of a registered class: name, value type, range or
// enumeration text, accessors, default, text forms and change listeners. Scene files, the
// editor, scripts and behaviour nodes reach every property only through its descriptor.
// Values are passed as words (ValueBinding.h): strings as arena words, entities as ids.
class Property {
public:
    virtual ~Property();

    virtual void SetDefault(const uint32_t* value);
    // False unless a default was set and the object's value equals it (bit patterns for
    // vectors, so -0.0 differs from 0.0).
    bool IsDefault(const Entity& object) const;
    // The same test of a value held as words.
    virtual bool IsDefaultValue(const uint32_t* value) const;
    // Non-zero when the two values differ; for texts their ordering.
    virtual int ValuesDiffer(const uint32_t* a, const uint32_t* b) const = 0;
    // Bytes of the value: its type's words times 4.
    int GetSize() const;
    virtual int CopyValue(const uint32_t* source, uint32_t* destination) const;
    // Bytes needed to keep the value's text outside the value (string kinds), else 0.
    virtual int GetStorageSize(const uint32_t* value) const;
    // Copies that text into `buffer` (GetStorageSize bytes); returns the count, else 0.
    virtual int StoreText(const uint32_t* value, char* buffer) const;

    // The value's text and back.
    virtual std::string Print(const uint32_t* value) const = 0;
    virtual void Parse(const char* text, uint32_t* value) const = 0;
    // Parses and writes into the object; returns the value's byte size.
    virtual int SetFromText(Entity& object, const char* text) const;
    // Reads from the object and prints.
    virtual std::string GetAsText(const Entity& object) const;
    // What SetFromText would pass over in `text`, or "" when the text is wholly a value of
    // this property. Reading is lenient (it takes what forms a number; a vector short of
    // components changes nothing), so scene loading names the mistake this describes: "is not
    // a whole number", "has 2 numbers where 3 are needed".
    virtual std::string FindTextMistake(const char* text) const;
    virtual int32_t GetKind() const = 0;

    // Through the accessor when there is one, else the object's Get/SetPropertyValue.
    void ReadValue(const Entity& object, uint32_t* out) const;
    void WriteValue(Entity& object, const uint32_t* value) const;
    // For a value a script writes: a property that names a file (KindResource) takes only a
    // path inside the game (ScriptMayReach, the log line naming the object's class and the
    // property); an empty name and any other property pass. A scene's own paths are not asked.
    bool ScriptMayWrite(const Entity& object, const uint32_t* value) const;

    // Stores the texts and accessors, then reads the range text.
    void Setup(const char* name, const char* range, PropertyGetter getter, PropertySetter setter);
    virtual void ParseRange() {}

    // Position in the owner's full property list (inherited first); -1 without owner.
    int GetIndex() const;
    bool IsEntityReference() const;
    bool IsString() const { return valueType_ == TypeString; }

    // Listener kinds: told as a member of the changed object, of a given object, or as a
    // free function.
    enum ListenerKind : int32_t { ListenerOfObject = 0, ListenerOfGiven = 1, ListenerFree = 4 };
    // `filter`: only objects of that class (or derived) are told; `mask`: only changes of
    // those bits of the first word (0: any change).
    void AddListener(ListenerKind kind, Entity* given, ClassInfo* filter,
                     PropertyListenerFunction function, uint32_t mask);
    // Forgets every listener registered for `given` (kind 1); called when it goes away.
    void RemoveListenersOf(const Entity* given);
    // Tells the listeners in order; returns how many were visited.
    int NotifyListeners(Entity& object, const uint32_t* oldValue, const uint32_t* newValue) const;

    const char* GetName() const { return name_.c_str(); }
    const char* GetRange() const { return range_.c_str(); }
    int32_t GetValueType() const { return valueType_; }
    ClassInfo* GetOwner() const { return owner_; }
    void SetOwner(ClassInfo* owner) { owner_ = owner; }
    uint32_t GetPropertyFlags() const { return propertyFlags_; }
    void SetPropertyFlags(uint32_t flags) { propertyFlags_ = flags; }
    uint32_t GetStateFlags() const { return stateFlags_; }
    void SetStateFlags(uint32_t flags) { stateFlags_ = flags; }
    bool HasGetter() const { return getter_ != nullptr; }
    bool HasSetter() const { return setter_ != nullptr; }

protected:
    explicit Property(int32_t valueType) : valueType_(valueType) {}

    void GetValue(const Entity& object, uint32_t* out) const;
    void SetValue(Entity& object, const uint32_t* value) const;

private:
    struct Listener {
        ListenerKind kind;
        ClassInfo* filter;
        uint32_t mask;
        Entity* given;
        PropertyListenerFunction function;
    };

    // Erases the records RemoveListenersOf marked, unless a notification is walking the list.
    void DropRemovedListeners();

    ClassInfo* owner_ = nullptr;
    std::string name_;
    std::string range_;
    int32_t valueType_;
    uint32_t propertyFlags_ = 0;
    PropertyGetter getter_ = nullptr;
    PropertySetter setter_ = nullptr;
    uint32_t stateFlags_ = PropertyInitialState;
    std::vector<Listener> listeners_;
    // Notifications in progress on this descriptor (listeners may change the list meanwhile).
    mutable int notifyDepth_ = 0;
};

// A new descriptor of the class that fits a value type (int, float, bool, int2, float2, float3,
// quaternion, entity, string, string64; class types give an entity descriptor restricted to
// that class), or of a kind number; null for anything else. Neither has accessors.
std::unique_ptr<Property> CreateProperty(int32_t valueType);
std::unique_ptr<Property> CreatePropertyByKind(int32_t kind);
// The kind whose name ("INT", "FLOAT", ...) equals the text ignoring case; else 0x10000 + the
// number of a registered class of that name; else "INT2" 7, "FLOAT2" 8, "INT3" 9, "FLOAT3" 10;
// else -1.
int32_t GetPropertyKindByName(const char* name);
const char* GetPropertyKindName(int32_t kind);

} // namespace quarn
