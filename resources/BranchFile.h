#pragma once

#include "core/object/IdPath.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "resources/Resource.h"

#include <cstdint>
#include <string>

namespace quarn {

class ClassInfo;
class File;
class Node;
class Property;

// The shared resource behind every Branch that names one ".branch" file: the file's GUID, the
// custom class its header declares (relays and exposed properties, entered under "Branch" like
// any derived class) and which instance has the file open for editing. Only the header is read
// here; each instance loads the nodes itself. A save writes the text file and a compact copy
// beside it with the extension "bscn", which a load falls back to when the text file is gone
// (then to the "scn" copy earlier versions wrote). A scene's compact twin is its "scn": a scene
// and a branch of one name never share a file.
class BranchFile : public Resource {
public:
    static constexpr const char* CompactExtension = BranchCompactExtension;

    // Both forms of a save, made in memory from the content at one moment, with the GUID they
    // carry; an error says why a form could not be made.
    struct Forms {
        Guid guid;
        std::string text;
        std::string compact;
        std::string textError;
        std::string compactError;
    };

    // Loads the header of `path` (nothing for an empty path).
    BranchFile(const char* path, const char* options);
    ~BranchFile() override;

    static Entity* Create();

    // Rereads the header from the resource's own path. The name, registration and reference
    // count stay whatever happens: a missing file leaves the resource empty (state 0) under its
    // name, so the next instance of the path still finds this one.
    bool Load() override;
    bool LoadFromFile(const char* path) override;
    uint32_t GetDataSize() const override { return 0; }
    // A branch under a new name is a new branch: a new GUID, even for the same name, and no file
    // is written here (Save writes both forms).
    void SetFileName(const char* path, const char* options, bool save) override;
    ClassInfo* GetClass() const override { return classInfo ? classInfo : Resource::GetClass(); }

    // Writes the subtree below `root` (not `root` itself) in both forms, giving the file a GUID
    // first when it has none; each file is written whole or not at all. True when the text form
    // was written; a compact form that could not be is removed (logged), never left stale. A
    // file under a compact name (IsCompactSceneName) holds the compact form alone, as it is read.
    bool Save(Node& root, uint32_t idSystem);
    // The forms Save writes, and their write. A file without a GUID is written with one made
    // for it, which the file takes only once written: until then its instances' contents are
    // as they were (GetContentFingerprint), whatever saves were made and not written.
    Forms MakeForms(Node& root, uint32_t idSystem);
    bool Save(const Forms& forms);
    // Writes forms made earlier as Save writes them, to the text file `path` and its compact
    // copy beside it; the resource need not exist any more.
    static bool WriteForms(const std::string& path, const Forms& forms);
    // A fingerprint of the text form Save would write of the subtree below `root`, made without
    // writing: equal fingerprints, equal files (0 when the writer cannot hold the tree).
    uint64_t GetContentFingerprint(Node& root, uint32_t idSystem) const;

    const Guid& GetGuid() const { return guid_; }
    // The GUID, made first when the file has none.
    const Guid& EnsureGuid();
    bool IsBinary() const { return binary_; }
    // The path a save writes the compact copy to: the resource's path with CompactExtension.
    std::string GetCompactPath() const;
    // The file the last load read, in either form; "" when none could be read.
    const std::string& GetReadPath() const { return readPath_; }

    // The declared class, or null when the file declares nothing.
    ClassInfo* GetDeclaredClass() const { return customClass_; }
    // Counts every change of the custom class, so an instance that missed the change signal
    // still sees that its values are laid out for another class.
    uint32_t GetClassGeneration() const { return classGeneration_; }

    // The instance that edits the file: SetOwner makes `branch` the editor only when there is
    // none (false otherwise, also for the editor itself); ClearOwner forgets it only when it is
    // that instance.
    bool SetOwner(Node* branch);
    void ClearOwner(Node* branch);
    Node* GetOwner() const;

    // Declares (or re-aims) the relay `name` ("relay_%d") at a port of an inner entity: a signal
    // property whose range text is "signal,default=<local id>" plus "-<port>" for a port.
    Property* AddRelaySignal(const char* name, Entity* entity, int port);
    // Exposes the property of an inner entity as "<property>_id<local id>", or withdraws it;
    // withdrawing the last property removes the custom class. Null when withdrawn or when the
    // value type has no descriptor.
    Property* ExposeProperty(Entity* entity, const Property* property, bool expose);
    // "<property>_id<local id>": the name under which the entity's property is exposed.
    static std::string ExposedName(const Entity& entity, const Property& property);
    void RemoveClassProperty(const char* name);
    // The custom class's property of that name (ignoring case), or null.
    Property* FindOwnProperty(const char* name) const;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // Reads the header of an open file into the GUID and the custom class.
    void ReadHeader(File& file, const char* path, bool compact);
    ClassInfo& EnsureCustomClass();
    void DestroyCustomClass();
    // Relays are not saved with an instance (transient): see BranchFile.cpp.
    static void MarkRelay(Property& property);
    // Every change of the custom class goes out as "classtypehaschanged" with this file.
    void ClassChanged();

    Guid guid_;
    // The GUID the first save of a file without one writes, the same in every form made of it.
    Guid unwrittenGuid_;
    ClassInfo* customClass_ = nullptr;
    uint64_t editor_ = 0; // serial of the editing instance
    bool binary_ = false;
    std::string readPath_;
    uint32_t classGeneration_ = 0;
};

} // namespace quarn
