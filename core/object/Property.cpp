#include "core/object/Property.h"

#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/string/Text.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

constexpr const char* KindNames[] = {
    "INT",      "BOOL",     "REF",      "ENUM",       "BITFIELD", "COLOR",    "FLOAT", "VECTOR2I",
    "VECTOR2F", "VECTOR3I", "VECTOR3F", "QUATERNION", "STRING",   "RESOURCE", "VREF",  "STRING64",
};
constexpr int32_t KindCount = static_cast<int32_t>(sizeof KindNames / sizeof KindNames[0]);

// Names that custom class declarations use for the vector kinds besides the kind names.
struct KindAlias {
    const char* name;
    int32_t kind;
};
constexpr KindAlias KindAliases[] = {
    {"INT2", KindVector2I},
    {"FLOAT2", KindVector2F},
    {"INT3", KindVector3I},
    {"FLOAT3", KindVector3F},
};

// A record that RemoveListenersOf dropped while a notification was running: skipped, and
// erased once no notification runs.
constexpr int32_t RemovedListener = -1;

// The reference descriptor a factory makes: typed as a reference to any Entity.
std::unique_ptr<Property> MakeEntityProperty() {
    const int32_t type = Entity::classInfo ? ClassTypeBase + Entity::classInfo->GetClassNumber()
                                           : static_cast<int32_t>(TypeEntity);
    return std::make_unique<PropertyEntity>(type);
}

} // namespace

Property::~Property() = default;

void Property::SetDefault(const uint32_t*) {
    // The base keeps no default value, so it never claims to have one.
    stateFlags_ &= ~PropertyHasDefault;
}

bool Property::IsDefault(const Entity& object) const {
    if ((stateFlags_ & PropertyHasDefault) == 0) {
        return false;
    }
    PropertyValue value;
    ReadValue(object, value.words);
    return IsDefaultValue(value.words);
}

bool Property::IsDefaultValue(const uint32_t*) const {
    return false;
}

int Property::GetSize() const {
    return GetTypeWordCount(valueType_) * 4;
}

int Property::CopyValue(const uint32_t* source, uint32_t* destination) const {
    const int size = GetSize();
    if (source != destination) {
        std::memcpy(destination, source, static_cast<size_t>(size));
    }
    return size;
}

int Property::GetStorageSize(const uint32_t*) const {
    return 0;
}

int Property::StoreText(const uint32_t*, char*) const {
    return 0;
}

int Property::SetFromText(Entity& object, const char* text) const {
    PropertyValue value;
    Parse(text, value.words);
    WriteValue(object, value.words);
    return GetSize();
}

std::string Property::FindTextMistake(const char*) const {
    return "";
}

std::string Property::GetAsText(const Entity& object) const {
    PropertyValue value;
    ReadValue(object, value.words);
    return Print(value.words);
}

void Property::ReadValue(const Entity& object, uint32_t* out) const {
    if (getter_) {
        GetValue(object, out);
    } else {
        object.GetPropertyValue(*this, out);
    }
}

void Property::WriteValue(Entity& object, const uint32_t* value) const {
    if (setter_) {
        SetValue(object, value);
    } else {
        object.SetPropertyValue(*this, value);
    }
}

bool Property::ScriptMayWrite(const Entity& object, const uint32_t* value) const {
    if (GetKind() != KindResource) {
        return true;
    }
    const std::string path = Print(value);
    const std::string function = std::string(object.GetClass()->GetName()) + "." + GetName();
    return path.empty() || ScriptMayReach(function.c_str(), path.c_str());
}

void Property::GetValue(const Entity& object, uint32_t* out) const {
    if (getter_) {
        getter_(object, out);
    }
}

void Property::SetValue(Entity& object, const uint32_t* value) const {
    if (setter_) {
        setter_(object, value);
    }
}

void Property::Setup(const char* name, const char* range, PropertyGetter getter,
                     PropertySetter setter) {
    name_ = name ? name : "";
    range_ = range ? range : "";
    getter_ = getter;
    setter_ = setter;
    ParseRange();
}

int Property::GetIndex() const {
    if (!owner_) {
        return -1;
    }
    for (int i = 0, count = owner_->GetPropertyCount(); i < count; ++i) {
        if (owner_->GetProperty(i) == this) {
            return i;
        }
    }
    return -1;
}

bool Property::IsEntityReference() const {
    return valueType_ == TypeEntity || IsClassType(valueType_);
}

void Property::DropRemovedListeners() {
    if (notifyDepth_ == 0) {
        std::erase_if(listeners_,
                      [](const Listener& listener) { return listener.kind == RemovedListener; });
    }
}

void Property::AddListener(ListenerKind kind, Entity* given, ClassInfo* filter,
                           PropertyListenerFunction function, uint32_t mask) {
    DropRemovedListeners();
    listeners_.push_back({kind, filter, mask, given, function});
}

void Property::RemoveListenersOf(const Entity* given) {
    if (!given) {
        return;
    }
    for (Listener& listener : listeners_) {
        if (listener.given == given) {
            // Marked rather than erased: a notification may be walking the list right now.
            listener.kind = static_cast<ListenerKind>(RemovedListener);
            listener.given = nullptr;
        }
    }
    DropRemovedListeners();
}

int Property::NotifyListeners(Entity& object, const uint32_t* oldValue,
                              const uint32_t* newValue) const {
    ++notifyDepth_;
    int visited = 0;
    // Listeners added by a listener are not told of a change made before they existed; the
    // list is indexed afresh each time because a listener may add to it.
    const size_t count = listeners_.size();
    for (size_t i = 0; i < count; ++i) {
        const Listener listener = listeners_[i];
        if (listener.kind == RemovedListener) {
            continue;
        }
        ++visited;
        if (listener.filter && !object.CastTo(listener.filter)) {
            continue;
        }
        if (listener.mask != 0 && (listener.mask & (oldValue[0] ^ newValue[0])) == 0) {
            continue;
        }
        if (!listener.function) {
            continue;
        }
        switch (listener.kind) {
        case ListenerOfObject:
            listener.function(&object, object, oldValue, newValue);
            break;
        case ListenerOfGiven:
            listener.function(listener.given, object, oldValue, newValue);
            break;
        case ListenerFree:
            listener.function(nullptr, object, oldValue, newValue);
            break;
        default:
            break;
        }
    }
    --notifyDepth_;
    return visited;
}

std::unique_ptr<Property> CreateProperty(int32_t valueType) {
    if (IsClassType(valueType)) {
        return std::make_unique<PropertyEntity>(valueType);
    }
    switch (valueType) {
    case TypeInt:
        return std::make_unique<PropertyInt>();
    case TypeFloat:
        return std::make_unique<PropertyFloat>();
    case TypeBool:
        return std::make_unique<PropertyBool>();
    case TypeInt2:
        return std::make_unique<PropertyInt2>();
    case TypeFloat2:
        return std::make_unique<PropertyFloat2>();
    case TypeFloat3:
        return std::make_unique<PropertyFloat3>();
    case TypeQuaternion:
        return std::make_unique<PropertyQuaternion>();
    case TypeEntity:
        return MakeEntityProperty();
    case TypeString:
        return std::make_unique<PropertyString>();
    case TypeString64:
        return std::make_unique<PropertyString64>();
    default:
        return nullptr;
    }
}

std::unique_ptr<Property> CreatePropertyByKind(int32_t kind) {
    if (IsClassType(kind)) {
        return std::make_unique<PropertyEntity>(kind);
    }
    switch (kind) {
    case KindInt:
        return std::make_unique<PropertyInt>();
    case KindBool:
        return std::make_unique<PropertyBool>();
    case KindRef:
        return MakeEntityProperty();
    case KindEnum:
        return std::make_unique<PropertyEnum>();
    case KindBitfield:
        return std::make_unique<PropertyBitfield>();
    case KindColor:
        return std::make_unique<PropertyColor>();
    case KindFloat:
        return std::make_unique<PropertyFloat>();
    case KindVector2I:
        return std::make_unique<PropertyInt2>();
    case KindVector2F:
        return std::make_unique<PropertyFloat2>();
    case KindVector3F:
        return std::make_unique<PropertyFloat3>();
    case KindQuaternion:
        return std::make_unique<PropertyQuaternion>();
    case KindString:
        return std::make_unique<PropertyString>();
    case KindResource:
        return std::make_unique<PropertyResource>();
    case KindString64:
        return std::make_unique<PropertyString64>();
    default:
        // VECTOR3I and VREF have no descriptor class.
        return nullptr;
    }
}

int32_t GetPropertyKindByName(const char* name) {
    if (!name) {
        return -1;
    }
    for (int32_t kind = 0; kind < KindCount; ++kind) {
        if (CompareNoCase(KindNames[kind], name) == 0) {
            return kind;
        }
    }
    if (const ClassInfo* classInfo = FindClass(name)) {
        return ClassTypeBase + classInfo->GetClassNumber();
    }
    for (const KindAlias& alias : KindAliases) {
        if (CompareNoCase(alias.name, name) == 0) {
            return alias.kind;
        }
    }
    return -1;
}

const char* GetPropertyKindName(int32_t kind) {
    return kind >= 0 && kind < KindCount ? KindNames[kind] : "";
}

} // namespace quarn
