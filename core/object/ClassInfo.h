#pragma once

#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/PropertyText.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class Entity;

using EntityFactory = Entity* (*)();

// Bits of ClassInfo::GetFlags.
enum ClassFlags : uint32_t {
    ClassNative = 1,
    ClassSharesInstanceList = 2, // objects stand in the nearest ancestor's list without this bit
    ClassHeapOwned = 8,          // destroyed by its parent's reset
    ClassClosed = 32,            // a branch: its children come from its own file
    ClassUpdateWhileRunning = 64,
    ClassUpdateWhileStopped = 128,
    ClassDefaultFlags = ClassNative | ClassHeapOwned | ClassUpdateWhileRunning,
};

// The record of one registered class: names, category, base, factory, flags, properties,
// script methods and live instances. Every class a scene file, the editor or a script can name
// has one; they stand in one global list in registration order.
class ClassInfo {
public:
    // Appends the record to the class list, unless it is named "custom" (any case): those
    // records extend a class for one branch file and stay out of the list (number -1).
    // `holder` is the variable that keeps the record; the reset sets it to null.
    ClassInfo(const char* name, EntityFactory factory, ClassInfo** holder);
    ~ClassInfo();
    ClassInfo(const ClassInfo&) = delete;
    ClassInfo& operator=(const ClassInfo&) = delete;

    void SetParent(ClassInfo* parent);
    ClassInfo* GetParent() const { return parent_; }
    // Constant time: a masked compare of hierarchy ids. A class derives from itself.
    bool IsDerivedFrom(const ClassInfo* other) const;

    // Properties and methods over the whole chain, inherited first.
    int GetPropertyCount() const;
    Property* GetProperty(int index) const;
    // Own properties, then each ancestor's; names compare ignoring ASCII case.
    Property* FindProperty(const char* name) const;
    // `declaration` is "name:range"; the descriptor is set up with the accessors and owned.
    Property* AddProperty(const char* declaration, std::unique_ptr<Property> descriptor,
                          PropertyGetter getter = nullptr, PropertySetter setter = nullptr);
    // AddProperty<PropertyColor, &Sprite::GetColor, &Sprite::SetColor>("color:colorpick").
    template <class Descriptor, auto Getter, auto Setter>
    Property* AddProperty(const char* declaration) {
        return AddProperty(declaration, std::make_unique<Descriptor>(), MakeGetter<Getter>(),
                           MakeSetter<Setter>());
    }
    // A resource property that takes the files `loads` lists, the named resource's own list
    // (PropertyResource).
    template <auto Getter, auto Setter>
    Property* AddResourceProperty(const char* declaration, LoadableExtensions loads) {
        return AddProperty(declaration, std::make_unique<PropertyResource>(loads),
                           MakeGetter<Getter>(), MakeSetter<Setter>());
    }
    Property* AddPropertyObject(std::unique_ptr<Property> descriptor);
    bool RemoveProperty(const char* name);
    void ClearProperties();
    // The first own property of kind RESOURCE, or null.
    Property* FindFirstResourceProperty() const;
    const std::vector<std::unique_ptr<Property>>& GetOwnProperties() const { return properties_; }

    int GetMethodCount() const;
    MethodInfo* GetMethod(int index) const;
    MethodInfo* FindMethod(const char* name, bool includeBases) const;
    MethodInfo* AddMethod(const char* name, const char* signature, const MethodBinding& binding,
                          uint32_t callFlags);
    MethodInfo* AddMethodObject(std::unique_ptr<MethodInfo> method);
    void ClearMethods();
    const std::vector<std::unique_ptr<MethodInfo>>& GetOwnMethods() const { return methods_; }

    // A new object of the class standing in its instance list; null for abstract classes.
    Entity* CreateInstance();
    // Takes the object out of the instance list it stands in; false when it was not there.
    // Constant time for an object the list holds (it knows its place in the list).
    bool RemoveInstance(Entity* object);
    int GetInstanceCount() const { return static_cast<int>(instances_.size() - removed_); }
    int GetInstanceCountRecursive() const;
    // This class's instances first, then each derived class's, depth first.
    Entity* GetInstance(int index) const;

    // Teardown: clean-up callback, detach, derived classes reset or destroyed, properties and
    // methods freed, out of the class list, holder cleared.
    void Reset();

    const char* GetName() const { return name_.c_str(); }
    // The name up to its first '_' ("Sprite_old" is written as "Sprite").
    const char* GetShortName() const { return shortName_.c_str(); }
    const char* GetCategory() const { return category_.c_str(); }
    void SetCategory(const char* category);
    uint32_t GetFlags() const { return flags_; }
    void SetFlags(uint32_t flags) { flags_ = flags; }
    int32_t GetClassNumber() const { return classNumber_; }
    int32_t GetDataSize() const { return dataSize_; }
    bool IsAbstract() const { return factory_ == nullptr; }
    const std::vector<ClassInfo*>& GetDerivedClasses() const { return derived_; }
    ClassInfo* GetCustomBase() const { return customBase_; }
    void SetCustomBase(ClassInfo* base) { customBase_ = base; }
    ClassInfo* GetCustomExtension() const { return customExtension_; }
    void SetCustomExtension(ClassInfo* extension) { customExtension_ = extension; }
    void SetCleanUp(void (*cleanUp)()) { cleanUp_ = cleanUp; }
    bool GetPropertiesChanged() const { return propertiesChanged_; }
    void SetPropertiesChanged(bool changed) { propertiesChanged_ = changed; }

private:
    ClassInfo* InstanceListOwner();
    // Closes the gaps that removals left, keeping the order.
    void CloseInstanceGaps() const;
    // Rebuilds the hierarchy id from the parent's and the sibling number, down the subtree.
    void UpdateHierarchyId();

    std::vector<std::unique_ptr<Property>> properties_;
    std::vector<std::unique_ptr<MethodInfo>> methods_;
    int32_t dataSize_ = 0;
    bool propertiesChanged_ = true;
    ClassInfo* parent_ = nullptr;
    ClassInfo* customBase_ = nullptr;
    ClassInfo* customExtension_ = nullptr;
    std::vector<ClassInfo*> derived_;
    // In creation order; a removed object leaves a null until the gaps are closed, so removal
    // never shifts the list.
    mutable std::vector<Entity*> instances_;
    mutable size_t removed_ = 0;
    uint32_t flags_ = ClassDefaultFlags;
    std::string name_;
    std::string shortName_;
    std::string category_;
    ClassInfo** holder_;
    EntityFactory factory_;
    void (*cleanUp_)() = nullptr;
    int32_t classNumber_ = -1;
    uint64_t hierarchyId_ = 0;
    int hierarchyBits_ = 0;
    // This class's number among its parent's derived classes (1..255), part of its id.
    int siblingNumber_ = 0;
};

// The global class list.
ClassInfo* FindClass(const char* name); // exact, case-sensitive
int GetClassCount();
ClassInfo* GetClassByIndex(int index);
Entity* CreateInstanceByClassName(const char* name);

} // namespace quarn
