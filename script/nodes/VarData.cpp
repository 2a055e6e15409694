#include "script/nodes/VarData.h"

#include "core/filesystem/ScriptFileAccess.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "resources/RawData.h"

namespace quarn {

ClassInfo* VarData::classInfo = nullptr;

namespace {

const char* TextOrEmpty(const char* text) {
    return text ? text : "";
}

// The raw data's bytes are read as a settings file; the engine's own are ".txt".
std::vector<std::string> KeyValueExtensions() {
    return {"data", "txt"};
}

} // namespace

VarData::VarData() = default;

VarData::~VarData() {
    if (data_) {
        data_->RemoveUser(GetId());
        data_->Release();
    }
}

const char* VarData::GetDataPath() const {
    return RelativePathOf(data_);
}

void VarData::SetDataPath(const char* path) {
    RawData* acquired = path && *path ? GetRawData(path, obfuscate_ ? "scramble" : "") : nullptr;
    if (acquired == data_) {
        if (acquired) {
            acquired->Release();
        }
        return;
    }
    if (data_) {
        // The old file must not rebuild the store of the new one.
        data_->RemoveUser(GetId());
        data_->Release();
    }
    store_.reset();
    data_ = acquired;
    if (data_) {
        BuildStore();
        data_->AddUser(GetId());
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

void VarData::BuildStore() {
    store_ = std::make_unique<SettingsFile>();
    if (const uint8_t* bytes = data_->GetData()) {
        store_->Parse(reinterpret_cast<const char*>(bytes), data_->GetDataSize());
    }
    store_->SetPath(data_->GetFullPath());
}

void VarData::OnResourceChanged(Resource* resource, const char*) {
    if (resource && resource == data_) {
        BuildStore();
    }
}

Entity* VarData::GetData() {
    if (data_ && data_->GetId() == 0) {
        data_->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    return data_;
}

int32_t VarData::GetKeyCount() const {
    return store_ ? store_->GetCount() : 0;
}

const char* VarData::GetKeyAt(int32_t index) const {
    return store_ ? store_->GetKeyAt(index) : "";
}

bool VarData::HasKey(const char* key) const {
    return store_ && store_->HasKey(TextOrEmpty(key));
}

void VarData::RemoveKey(const char* key) {
    if (store_) {
        store_->Remove(TextOrEmpty(key));
    }
}

void VarData::SetValue(const char* key, const char* value) {
    if (store_) {
        store_->SetString(TextOrEmpty(key), TextOrEmpty(value));
    }
}

const char* VarData::GetValue(const char* key) const {
    return store_ ? store_->GetString(TextOrEmpty(key)) : "";
}

// The file may be any the node was pointed at; only one inside the game is written.
bool VarData::Save() {
    return store_ && ScriptMayReach("VarData.Save", store_->GetPath()) && store_->Save(obfuscate_);
}

void VarData::Reload() {
    store_.reset();
    if (data_) {
        // The load tells the users, this node among them when it has an id.
        data_->LoadCharged();
        if (!store_) {
            BuildStore();
        }
    }
}

PathString VarData::GetDescription() const {
    return PathString(GetDataPath());
}

Entity* VarData::GetResource() const {
    return data_;
}

ClassInfo* VarData::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "VarData", []() -> Entity* { return new VarData(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("Data");

    using V = VarData;
    classInfo->AddProperty<PropertyBool, &V::GetObfuscate, &V::SetObfuscate>("obfuscate");
    classInfo->AddResourceProperty<&V::GetDataPath, &V::SetDataPath>("vardata:data",
                                                                     &KeyValueExtensions);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():RawData", BindMethod<&V::GetData>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&V::GetKeyCount>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):string", BindMethod<&V::GetKeyAt>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):bool", BindMethod<&V::HasKey>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string)", BindMethod<&V::RemoveKey>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(string,string)", BindMethod<&V::SetValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(string):string", BindMethod<&V::GetValue>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&V::Save>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&V::Reload>(), MethodScript);
    return classInfo;
}

} // namespace quarn
