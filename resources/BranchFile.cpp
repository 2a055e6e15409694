#include "resources/BranchFile.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/EntityRef.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"
#include "core/string/Text.h"
#include "resources/Branch.h"
#include "resources/ResourceRegistry.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

ClassInfo* BranchFile::classInfo = nullptr;

BranchFile::BranchFile(const char* path, const char* options) : Resource(path, options) {
    if (path && *path) {
        LoadFromFile(path);
    }
}

BranchFile::~BranchFile() {
    DestroyCustomClass();
}

Entity* BranchFile::Create() {
    return new BranchFile("", "");
}

bool BranchFile::Load() {
    return LoadFromFile(GetFullPath());
}

bool BranchFile::LoadFromFile(const char* path) {
    SetState(0);
    binary_ = false;
    UpdateFileTime();
    guid_ = Guid();
    FileReader file;
    // Read in the form the name says, as every scene load reads a file.
    bool compact = IsCompactSceneName(path);
    readPath_ = path;
    if (!file.Open(path, compact, false)) {
        compact = true;
        // Earlier versions wrote the copy as "scn", the name a scene's compact twin takes.
        readPath_ = ReplaceExtension(path, CompactExtension);
        if (!file.Open(readPath_.c_str(), true, false)) {
            readPath_ = ReplaceExtension(path, SceneCompactExtension);
            if (!file.Open(readPath_.c_str(), true, false)) {
                readPath_.clear();
                return false;
            }
        }
    }
    SetState(1);
    binary_ = compact;
    ReadHeader(file, path, compact);
    file.Close();
    return true;
}

void BranchFile::ReadHeader(File& file, const char* path, bool compact) {
    std::unique_ptr<SceneReader> reader;
    if (compact) {
        reader = std::make_unique<SceneCompactReader>();
    } else {
        reader = std::make_unique<SceneTextReader>();
    }
    // Declarations the header no longer holds must go even when it has no declaration block at
    // all, which leaves the reader nothing to clear: every property starts stale here.
    if (customClass_) {
        for (const auto& property : customClass_->GetOwnProperties()) {
            property->SetStateFlags(property->GetStateFlags() | PropertyStale);
        }
    }
    SceneHeader header;
    header.customClassSlot = &customClass_;
    const bool read = reader->Begin(file, path, nullptr) && reader->ReadHeader(header);
    if (customClass_) {
        std::vector<std::string> stale;
        for (const auto& property : customClass_->GetOwnProperties()) {
            if (property->GetStateFlags() & PropertyStale) {
                stale.push_back(property->GetName());
                property->SetStateFlags(property->GetStateFlags() & ~PropertyStale);
            }
        }
        // A header that could not be read keeps what it had.
        if (read) {
            for (const std::string& name : stale) {
                customClass_->RemoveProperty(name.c_str());
            }
        }
    }
    if (read) {
        guid_ = header.globalId;
    }
    if (customClass_ && customClass_->GetOwnProperties().empty()) {
        DestroyCustomClass();
    } else if (customClass_) {
        customClass_->SetParent(Branch::RegisterClass());
        for (const auto& property : customClass_->GetOwnProperties()) {
            MarkRelay(*property);
        }
    }
    ++classGeneration_;
}

void BranchFile::MarkRelay(Property& property) {
    // A relay's value is its declaration's target in each instance's id system, made again at
    // every load; saved, it would name another id system, which compact files cannot hold.
    if (std::strncmp(property.GetName(), "relay_", 6) == 0) {
        property.SetStateFlags(property.GetStateFlags() | PropertyTransient);
    }
}

void BranchFile::SetFileName(const char* path, const char* options, bool) {
    guid_ = Guid::Create();
    Resource::SetFileName(path, options, false);
}

bool BranchFile::Save(Node& root, uint32_t idSystem) {
    return Save(MakeForms(root, idSystem));
}

bool BranchFile::Save(const Forms& forms) {
    const bool saved = WriteForms(GetFullPath(), forms);
    if (saved) {
        guid_ = forms.guid;
    }
    UpdateFileTime();
    return saved;
}

BranchFile::Forms BranchFile::MakeForms(Node& root, uint32_t idSystem) {
    Forms forms;
    if (!guid_.IsZero()) {
        forms.guid = guid_;
    } else {
        if (unwrittenGuid_.IsZero()) {
            unwrittenGuid_ = Guid::Create();
        }
        forms.guid = unwrittenGuid_;
    }
    const std::string compactPath = GetCompactPath();
    WriteSceneBytes(forms.text, forms.textError, GetFullPath(), root, forms.guid, idSystem,
                    customClass_, SceneKeepUnmappedIds);
    WriteSceneBytes(forms.compact, forms.compactError, compactPath.c_str(), root, forms.guid,
                    idSystem, customClass_, SceneKeepUnmappedIds | SceneCompact);
    return forms;
}

namespace {

// One form of a save, whole or not at all; a form that could not be made is told as the
// scene saver tells it.
bool WriteForm(const std::string& path, const std::string& bytes, const std::string& error) {
    if (!error.empty()) {
        LogMessage("Scene %s is not saved: %s", path.c_str(), error.c_str());
        NoteFileFailure(error.c_str());
        return false;
    }
    return SaveSceneBytes(path.c_str(), bytes, 0);
}

} // namespace

bool BranchFile::WriteForms(const std::string& path, const Forms& forms) {
    // A compact name is its own compact copy: the text form there would be read by no load.
    if (IsCompactSceneName(path.c_str())) {
        return WriteForm(path, forms.compact, forms.compactError);
    }
    if (!WriteForm(path, forms.text, forms.textError)) {
        return false;
    }
    const std::string compactPath = ReplaceExtension(path.c_str(), CompactExtension);
    if (!WriteForm(compactPath, forms.compact, forms.compactError)) {
        // The compact form cannot hold everything the text form can (an object over 64 KB); an
        // older copy left beside the new text would be loaded should the text file go.
        if (FileSystem* files = GetFileSystem(); files && files->Exists(compactPath.c_str())) {
            files->RemoveFile(compactPath.c_str());
        }
        LogMessage("Branch %s is saved without its compact copy %s, which is removed rather than "
                   "left stale",
                   path.c_str(), compactPath.c_str());
    }
    return true;
}

uint64_t BranchFile::GetContentFingerprint(Node& root, uint32_t idSystem) const {
    std::string bytes;
    std::string error;
    if (!WriteSceneBytes(bytes, error, GetFullPath(), root, guid_, idSystem, customClass_,
                         SceneKeepUnmappedIds)) {
        return 0;
    }
    return std::hash<std::string>{}(bytes);
}

const Guid& BranchFile::EnsureGuid() {
    if (guid_.IsZero()) {
        guid_ = Guid::Create();
    }
    return guid_;
}

std::string BranchFile::GetCompactPath() const {
    return ReplaceExtension(GetFullPath(), CompactExtension);
}

bool BranchFile::SetOwner(Node* branch) {
    if (GetOwner()) {
        return false;
    }
    editor_ = branch ? branch->GetSerial() : 0;
    return branch != nullptr;
}

void BranchFile::ClearOwner(Node* branch) {
    if (branch && editor_ == branch->GetSerial()) {
        editor_ = 0;
    }
}

Node* BranchFile::GetOwner() const {
    return FindLiveNode(editor_);
}

Property* BranchFile::AddRelaySignal(const char* name, Entity* entity, int port) {
    ClassInfo& custom = EnsureCustomClass();
    Property* relay = FindOwnProperty(name);
    if (relay && !relay->IsEntityReference()) {
        custom.RemoveProperty(name);
        relay = nullptr;
    }
    if (!relay) {
        std::unique_ptr<Property> made = CreateProperty(TypeEntity);
        made->Setup(name, "", nullptr, nullptr);
        relay = custom.AddPropertyObject(std::move(made));
    }
    const uint32_t localId = entity ? entity->GetId() & LocalIdMask : 0;
    std::string range = StringFormat("signal,default=%u", localId);
    if (port != 0) {
        range += StringFormat("-%d", port);
    }
    const std::string ownName = relay->GetName();
    relay->Setup(ownName.c_str(), range.c_str(), nullptr, nullptr);
    MarkRelay(*relay);
    ClassChanged();
    return relay;
}

Property* BranchFile::ExposeProperty(Entity* entity, const Property* property, bool expose) {
    if (!entity || !property) {
        return nullptr;
    }
    const std::string name = ExposedName(*entity, *property);
    if (!expose) {
        if (customClass_ && customClass_->RemoveProperty(name.c_str()) &&
            customClass_->GetOwnProperties().empty()) {
            DestroyCustomClass();
        }
        ClassChanged();
        return nullptr;
    }
    if (Property* exposed = FindOwnProperty(name.c_str())) {
        return exposed;
    }
    std::unique_ptr<Property> made = CreateProperty(property->GetValueType());
    if (!made) {
        return nullptr;
    }
    made->Setup(name.c_str(), property->GetRange(), nullptr, nullptr);
    Property* exposed = EnsureCustomClass().AddPropertyObject(std::move(made));
    ClassChanged();
    return exposed;
}

std::string BranchFile::ExposedName(const Entity& entity, const Property& property) {
    return StringFormat("%s_id%u", property.GetName(), entity.GetId() & LocalIdMask);
}

void BranchFile::RemoveClassProperty(const char* name) {
    if (customClass_ && FindOwnProperty(name)) {
        customClass_->RemoveProperty(name);
        ClassChanged();
    }
}

ClassInfo& BranchFile::EnsureCustomClass() {
    if (!customClass_) {
        // Out of the class list (named "custom"); the field is its holder.
        customClass_ = new ClassInfo("custom", nullptr, &customClass_);
        customClass_->SetParent(Branch::RegisterClass());
    }
    return *customClass_;
}

void BranchFile::DestroyCustomClass() {
    // Leaves "Branch" and clears the field as the record's holder.
    delete customClass_;
    customClass_ = nullptr;
}

Property* BranchFile::FindOwnProperty(const char* name) const {
    if (!customClass_) {
        return nullptr;
    }
    for (const auto& property : customClass_->GetOwnProperties()) {
        if (CompareNoCase(property->GetName(), name) == 0) {
            return property.get();
        }
    }
    return nullptr;
}

void BranchFile::ClassChanged() {
    ++classGeneration_;
    SendSignal("classtypehaschanged", static_cast<Entity*>(this), false);
}

ClassInfo* BranchFile::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("BranchFile", &BranchFile::Create, &classInfo);
    classInfo->SetParent(Resource::RegisterClass());
    RegisterResourceExtension("branch");
    return classInfo;
}

} // namespace quarn
