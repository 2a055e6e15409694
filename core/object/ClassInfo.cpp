#include "core/object/ClassInfo.h"

#include "core/debug/Validity.h"
#include "core/object/Entity.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>

namespace quarn {
namespace {

// Registration order; records leave it only at their reset.
std::vector<ClassInfo*>& ClassList() {
    static std::vector<ClassInfo*> classes;
    return classes;
}

// One byte of the hierarchy id per level of derivation.
constexpr int SiblingNumberBits = 8;
constexpr int MaxSiblingNumber = 255;
// Bit counts saturate here, so every shift and mask below stays within 64 bits.
constexpr int MaxHierarchyBits = 63;

uint64_t HierarchyMask(int bits) {
    return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

} // namespace

ClassInfo::ClassInfo(const char* name, EntityFactory factory, ClassInfo** holder)
    : holder_(holder), factory_(factory) {
    ++detail::methodTableGeneration;
    name_ = name ? name : "";
    shortName_ = name_.substr(0, name_.find('_'));
    // Records named "custom" extend a class for one branch file and come and go with it; class
    // numbers are type ids of compiled scripts, so those records never take one.
    if (CompareNoCase(name_.c_str(), "custom") != 0) {
        // After the last: a record made after another left never shares a live one's number,
        // which would make its type id name either class.
        classNumber_ = ClassList().empty() ? 0 : ClassList().back()->classNumber_ + 1;
        ClassList().push_back(this);
    }
}

ClassInfo::~ClassInfo() {
    Reset();
    // Objects that outlive their class (teardown) must not reach the freed record on Delete.
    for (Entity* instance : instances_) {
        if (instance && instance->GetInstanceClass() == this) {
            instance->SetInstanceClass(nullptr);
        }
    }
    if (customBase_ && customBase_->customExtension_ == this) {
        customBase_->customExtension_ = nullptr;
    }
    if (customExtension_ && customExtension_->customBase_ == this) {
        customExtension_->customBase_ = nullptr;
    }
}

void ClassInfo::SetCategory(const char* category) {
    category_ = category ? category : "";
}

void ClassInfo::SetParent(ClassInfo* parent) {
    if (parent == parent_) {
        return;
    }
    ++detail::methodTableGeneration;
    if (parent_) {
        auto& siblings = parent_->derived_;
        siblings.erase(std::find(siblings.begin(), siblings.end(), this));
    }
    parent_ = parent;
    siblingNumber_ = 0;
    if (!parent) {
        UpdateHierarchyId();
        return;
    }
    // The lowest number no live sibling holds: numbers of classes that left are handed out
    // again (custom records come and go under Branch all the time), and no two live siblings
    // ever share one, which would make each derive from the other.
    bool taken[MaxSiblingNumber + 1] = {};
    for (const ClassInfo* sibling : parent->derived_) {
        taken[sibling->siblingNumber_] = true;
    }
    for (int number = 1; number <= MaxSiblingNumber; ++number) {
        if (!taken[number]) {
            siblingNumber_ = number;
            break;
        }
    }
    if (siblingNumber_ == 0) {
        ValidityReport("Class %s: more than %d classes derive from %s; it is not told apart from "
                       "its base",
                       name_.c_str(), MaxSiblingNumber, parent->name_.c_str());
    }
    parent->derived_.push_back(this);
    UpdateHierarchyId();
    if (category_.empty()) {
        category_ = parent->category_;
    }
}

void ClassInfo::UpdateHierarchyId() {
    if (!parent_) {
        hierarchyId_ = 0;
        hierarchyBits_ = 0;
    } else if (siblingNumber_ == 0) {
        // No number of its own: the class answers as its base does.
        hierarchyId_ = parent_->hierarchyId_;
        hierarchyBits_ = parent_->hierarchyBits_;
    } else {
        int shift = parent_->hierarchyBits_;
        hierarchyId_ = ((static_cast<uint64_t>(siblingNumber_) << shift) | parent_->hierarchyId_) &
                       HierarchyMask(MaxHierarchyBits);
        hierarchyBits_ = std::min(shift + SiblingNumberBits, MaxHierarchyBits);
    }
    // Derived classes keep their numbers but build their ids on this one.
    for (ClassInfo* derived : derived_) {
        derived->UpdateHierarchyId();
    }
}

bool ClassInfo::IsDerivedFrom(const ClassInfo* other) const {
    if (!other) {
        return false;
    }
    return (hierarchyId_ & HierarchyMask(other->hierarchyBits_)) == other->hierarchyId_;
}

// Properties ----------------------------------------------------------------------------------

int ClassInfo::GetPropertyCount() const {
    int count = static_cast<int>(properties_.size());
    return parent_ ? parent_->GetPropertyCount() + count : count;
}

Property* ClassInfo::GetProperty(int index) const {
    if (index < 0) {
        return nullptr;
    }
    int inherited = parent_ ? parent_->GetPropertyCount() : 0;
    if (index < inherited) {
        return parent_->GetProperty(index);
    }
    size_t own = static_cast<size_t>(index - inherited);
    return own < properties_.size() ? properties_[own].get() : nullptr;
}

Property* ClassInfo::FindProperty(const char* name) const {
    for (const ClassInfo* owner = this; owner; owner = owner->parent_) {
        for (const auto& property : owner->properties_) {
            if (CompareNoCase(property->GetName(), name) == 0) {
                return property.get();
            }
        }
    }
    return nullptr;
}

Property* ClassInfo::AddProperty(const char* declaration, std::unique_ptr<Property> descriptor,
                                 PropertyGetter getter, PropertySetter setter) {
    if (!descriptor) {
        return nullptr;
    }
    char text[256];
    StrCopyBounded(text, declaration ? declaration : "", sizeof text);
    const char* range = "";
    if (char* colon = std::strchr(text, ':')) {
        *colon = '\0';
        range = colon + 1;
    }
    descriptor->Setup(text, range, getter, setter);
    return AddPropertyObject(std::move(descriptor));
}

Property* ClassInfo::AddPropertyObject(std::unique_ptr<Property> descriptor) {
    if (!descriptor) {
        return nullptr;
    }
    descriptor->SetOwner(this);
    dataSize_ += GetTypeWordCount(descriptor->GetValueType());
    propertiesChanged_ = false;
    properties_.push_back(std::move(descriptor));
    return properties_.back().get();
}

bool ClassInfo::RemoveProperty(const char* name) {
    for (auto it = properties_.begin(); it != properties_.end(); ++it) {
        if (CompareNoCase((*it)->GetName(), name) == 0) {
            dataSize_ -= GetTypeWordCount((*it)->GetValueType());
            propertiesChanged_ = false;
            properties_.erase(it);
            return true;
        }
    }
    return false;
}

void ClassInfo::ClearProperties() {
    properties_.clear();
    dataSize_ = 0;
}

Property* ClassInfo::FindFirstResourceProperty() const {
    for (const auto& property : properties_) {
        if (property->GetKind() == KindResource) {
            return property.get();
        }
    }
    return nullptr;
}

// Methods -------------------------------------------------------------------------------------

int ClassInfo::GetMethodCount() const {
    int count = static_cast<int>(methods_.size());
    return parent_ ? parent_->GetMethodCount() + count : count;
}

MethodInfo* ClassInfo::GetMethod(int index) const {
    if (index < 0) {
        return nullptr;
    }
    int inherited = parent_ ? parent_->GetMethodCount() : 0;
    if (index < inherited) {
        return parent_->GetMethod(index);
    }
    size_t own = static_cast<size_t>(index - inherited);
    return own < methods_.size() ? methods_[own].get() : nullptr;
}

MethodInfo* ClassInfo::FindMethod(const char* name, bool includeBases) const {
    for (const ClassInfo* owner = this; owner; owner = owner->parent_) {
        for (const auto& method : owner->methods_) {
            if (CompareNoCase(method->GetName(), name) == 0) {
                return method.get();
            }
        }
        if (!includeBases) {
            break;
        }
    }
    return nullptr;
}

MethodInfo* ClassInfo::AddMethod(const char* name, const char* signature,
                                 const MethodBinding& binding, uint32_t callFlags) {
    auto method = std::make_unique<MethodInfo>(name, signature);
    // The owner first, so that a binding that does not fit is reported with its class.
    method->SetOwner(this);
    method->Bind(binding);
    method->SetCallFlags(callFlags);
    return AddMethodObject(std::move(method));
}

MethodInfo* ClassInfo::AddMethodObject(std::unique_ptr<MethodInfo> method) {
    if (!method) {
        return nullptr;
    }
    method->SetOwner(this);
    methods_.push_back(std::move(method));
    ++detail::methodTableGeneration;
    return methods_.back().get();
}

void ClassInfo::ClearMethods() {
    methods_.clear();
    ++detail::methodTableGeneration;
}

// Instances -----------------------------------------------------------------------------------

ClassInfo* ClassInfo::InstanceListOwner() {
    ClassInfo* owner = this;
    while ((owner->flags_ & ClassSharesInstanceList) && owner->parent_) {
        owner = owner->parent_;
    }
    return owner;
}

Entity* ClassInfo::CreateInstance() {
    if (!factory_) {
        return nullptr;
    }
    Entity* object = factory_();
    if (!object) {
        return nullptr;
    }
    ClassInfo* own = object->GetClass();
    ClassInfo* owner = (own ? own : this)->InstanceListOwner();
    object->SetInstanceClass(owner);
    object->SetInstanceIndex(owner->instances_.size());
    owner->instances_.push_back(object);
    return object;
}

bool ClassInfo::RemoveInstance(Entity* object) {
    if (!object) {
        return false;
    }
    ClassInfo* owner = InstanceListOwner();
    auto& instances = owner->instances_;
    size_t index = object->GetInstanceIndex();
    if (object->GetInstanceClass() != owner || index >= instances.size() ||
        instances[index] != object) {
        // Asked of a list the object does not stand in by its own record.
        auto it = std::find(instances.begin(), instances.end(), object);
        if (it == instances.end()) {
            return false;
        }
        index = static_cast<size_t>(it - instances.begin());
    }
    instances[index] = nullptr;
    ++owner->removed_;
    if (object->GetInstanceClass() == owner) {
        object->SetInstanceClass(nullptr);
    }
    // Closing the gaps once half the list is gaps keeps removals constant time on average.
    if (owner->removed_ * 2 > instances.size()) {
        owner->CloseInstanceGaps();
    }
    return true;
}

void ClassInfo::CloseInstanceGaps() const {
    if (removed_ == 0) {
        return;
    }
    size_t kept = 0;
    for (Entity* instance : instances_) {
        if (instance) {
            instance->SetInstanceIndex(kept);
            instances_[kept++] = instance;
        }
    }
    instances_.resize(kept);
    removed_ = 0;
}

int ClassInfo::GetInstanceCountRecursive() const {
    int count = GetInstanceCount();
    for (const ClassInfo* derived : derived_) {
        count += derived->GetInstanceCountRecursive();
    }
    return count;
}

Entity* ClassInfo::GetInstance(int index) const {
    if (index < 0) {
        return nullptr;
    }
    CloseInstanceGaps();
    if (static_cast<size_t>(index) < instances_.size()) {
        return instances_[static_cast<size_t>(index)];
    }
    index -= GetInstanceCount();
    for (const ClassInfo* derived : derived_) {
        int count = derived->GetInstanceCountRecursive();
        if (index < count) {
            return derived->GetInstance(index);
        }
        index -= count;
    }
    return nullptr;
}

// Teardown ------------------------------------------------------------------------------------

void ClassInfo::Reset() {
    ++detail::methodTableGeneration;
    // Taken before the call, so that a second reset (the destructor's) does not repeat it.
    if (void (*cleanUp)() = cleanUp_) {
        cleanUp_ = nullptr;
        cleanUp();
    }
    SetParent(nullptr);
    name_.clear();
    while (!derived_.empty()) {
        ClassInfo* derived = derived_.front();
        // Either way it leaves the list through its own detachment.
        if (derived->flags_ & ClassHeapOwned) {
            delete derived;
        } else {
            derived->Reset();
        }
    }
    ClearProperties();
    ClearMethods();
    // The records behind move up; class numbers stay, as compiled scripts hold them.
    auto& classes = ClassList();
    auto it = std::find(classes.begin(), classes.end(), this);
    if (it != classes.end()) {
        classes.erase(it);
    }
    if (holder_ && *holder_ == this) {
        *holder_ = nullptr;
    }
}

// The class list ------------------------------------------------------------------------------

ClassInfo* FindClass(const char* name) {
    if (!name) {
        return nullptr;
    }
    for (ClassInfo* classInfo : ClassList()) {
        if (std::strcmp(classInfo->GetName(), name) == 0) {
            return classInfo;
        }
    }
    return nullptr;
}

int GetClassCount() {
    return static_cast<int>(ClassList().size());
}

ClassInfo* GetClassByIndex(int index) {
    if (index < 0 || index >= GetClassCount()) {
        return nullptr;
    }
    return ClassList()[static_cast<size_t>(index)];
}

Entity* CreateInstanceByClassName(const char* name) {
    ClassInfo* classInfo = FindClass(name);
    return classInfo ? classInfo->CreateInstance() : nullptr;
}

} // namespace quarn
