#pragma once

#include "core/EntityRef.h"
#include "core/FixedString.h"

#include <cstdint>
#include <string>

namespace quarn {

class ClassInfo;
class MethodInfo;
class Property;

// The root class of everything a scene file or a script can name: nodes, resources and the
// objects of every subsystem. It carries the id (Referable), a name, and the class record in
// whose instance list it stands; the rest of the engine reads its properties, calls its methods
// and sends it events through the virtual operations here.
class Entity : public Referable {
public:
    Entity() = default;
    ~Entity() override;

    // The only way to destroy a registered object: it leaves its class's instance list first.
    virtual void Delete();
    void Destroy() { Delete(); }

    // Detail text shown in the display name; empty by default.
    virtual PathString GetDescription() const { return PathString(); }

    // Values of properties whose descriptor has no accessor (custom properties). `out` and
    // `value` hold the property's words.
    virtual void GetPropertyValue(const Property& property, uint32_t* out) const;
    virtual void SetPropertyValue(const Property& property, const uint32_t* value);
    virtual int GetPropertyState(const Property& property) const;

    // Adapts stored values after loading from an older file.
    virtual void UpgradeVersion(int fileVersion);
    // Runs a registered method that has no bound function.
    virtual void CallMethod(const MethodInfo& method, uint32_t* block);

    // Status or debug text for the editor.
    virtual std::string GetStatusText(int selector) const;

    // The object's class record; every registered class answers its own.
    virtual ClassInfo* GetClass() const;
    // A script-declared extension of the class, or null.
    virtual ClassInfo* GetCustomClass() const { return nullptr; }

    int GetPropertyCount() const;
    Property* GetProperty(int index) const;
    Property* FindProperty(const char* name) const;
    Property* FindCustomProperty(const char* name) const;
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

    // Registers the "Entity" class (abstract) and clears the id map; returns its record.
    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    ClassInfo* instanceClass_ = nullptr;
    std::string name_;
};

} // namespace quarn
