#pragma once

#include "core/filesystem/FileStamp.h"
#include "core/object/ValueType.h"
#include "core/scene/ContainerBox.h"
#include "resources/BranchFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace quarn {

struct NodeMenuItem;

// Bits of the "branchflags" property.
enum BranchFlags : uint32_t {
    BranchLoaded = 1,
    BranchClosed = 2, // read-only, kept in step with the file; the node is locked
    BranchGlobal = 4, // one instance across scenes: its id system carries the file's GUID
    BranchProtected = 8,
    BranchNoIdSystem = 16, // the content lives in the id system around the instance
};

// A branch file as a save writes it: both forms of one instance's content at one moment, with
// what the user is asked or told before they are written.
struct BranchFileSave {
    std::string path; // the text file as the resource names it; the compact copy lies beside it
    BranchFile::Forms forms;
    // The files as the instance read or wrote them; not stamped outside the editor.
    bool stamped = false;
    FileStamp textStamp;
    FileStamp compactStamp;
    std::string shortfall; // what the content's load could not keep; "" when it kept it whole
    std::string source;    // the instance it was made from, as the editor names a node
    // Another instance holds other edits of the file: why nothing of it may be written.
    std::string conflict;
};

// A node whose children come from a branch file: a sub-scene that scenes include, one scene
// possibly several times. Each instance loads the file's nodes under itself into an id system
// of its own, so inner nodes keep their file's local ids and references into an instance are
// written as paths through it ("7.5"). The file's custom class declares relays (input ports that
// forward events to inner nodes) and exposed properties (values of the instance that override a
// property of an inner node; those of signal type are output ports too). Instances are loaded
// or unloaded, closed (locked, reloaded when the file changes) or opened for editing and saved
// back, with the version-control prompts of the editor.
class Branch : public ContainerBox {
public:
    // Load directions: the instance's values go into the inner nodes, or are read from them.
    enum Direction : int { Push = 1, Pull = 2 };
    // Relays are input ports, whose number a reference carries in four bits.
    static constexpr int MaxRelays = 16;

    Branch();
    ~Branch() override;

    uint32_t GetIdSystem() const override;
    void OnReferenceChanged(Entity* target, uint32_t newId) override;
    void GetPropertyValue(const Property& property, uint32_t* out) const override;
    void SetPropertyValue(const Property& property, const uint32_t* value) override;
    int GetPropertyState(const Property& property) const override;
    bool AcceptsUndoLabel(const char* label) const override;
    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override;
    int GetOutputCount() const override;
    const char* GetInputName(int port) const override;
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    uint32_t GetInputRedirect(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }
    ClassInfo* GetCustomClass() const override;
    void OnDescendantChanged(Node* node, bool attached) override;
    void OnValuesLoaded() override;
    int GetIconIndex() const override;

    // "idsystem": a number in use elsewhere gives a fresh one. Refused (reported) while the
    // instance has children, whose ids are in the current one.
    int32_t GetIdSystemNumber() const { return static_cast<int32_t>(idSystem_); }
    void SetIdSystemNumber(int32_t number);
    // "branchflags" (BranchFlags, low 16 bits).
    uint32_t GetBranchFlags() const { return flags_; }
    void SetBranchFlags(uint32_t flags);
    // "branch": the branch file's path; "" for none.
    const char* GetBranchPath() const;
    void SetBranchFile(const char* path);
    BranchFile* GetBranchFile() const { return file_; }
    bool IsClosed() const { return (flags_ & BranchClosed) != 0; }

    // Loads the file's nodes under the instance and pushes or pulls the values. False, with the
    // loaded bit set, when the instance already has children; false, left unloaded, when an
    // enclosing instance is loading the same file (a file that holds itself).
    bool LoadContent(int direction);
    // Whether the content may be loaded now: the instance has an id system to hold it, and the
    // scene load it is part of has not run out of them. When not, says so (or counts it).
    bool MayLoadContent();
    // Deletes the children and resets the id system, so a load gives the same ids again.
    // Returns the number of children deleted.
    int UnloadContent();
    // Unloads and loads again, re-setting the references that nodes outside held into it.
    void Reload();
    // For a loaded, closed instance whose file changed on disk since it was loaded.
    bool ReloadIfChanged();

    // Editing: open a closed instance, close an open one (asking whether to save), save it to
    // its file or under a name the user chooses. Each answers whether it did it. A save writes
    // the file once, however many instances use it: refused (told) when another instance holds
    // other edits, asked first when another program changed the file since this instance read
    // it; the other unedited instances then load what it holds now. A failed write is shown in
    // the editor.
    bool Open();
    bool Close();
    bool SaveBranch();
    bool SaveAs();
    // Every file that open instances hold edits of, once each, as a save would write them now:
    // Play keeps them for the "Save?" of its Stop, which writes them with WriteFileSaves (told
    // and asked as SaveBranch is). False when a file was kept or could not be written.
    static std::vector<BranchFileSave> MakeEditedFileSaves();
    static bool WriteFileSaves(const std::vector<BranchFileSave>& saves);
    // Asks a name (SaveAs) for every open instance whose content has no file yet, as a save
    // does: a scene saved as Play found it names the file that holds that content.
    static void NameUnsavedContent();
    // The file's version-control state: 0 none, 1 not checked out, 2 checked out by someone
    // else, 3 and 4 checked out here.
    int GetVersionControlState() const { return versionControlState_; }
    void RefreshVersionControl();

    // Relays to an inner entity's input port, declared in the file as "relay_<n>".
    void AddRelay(Entity* entity, int port);
    void RemoveRelay(Entity* entity, int port);
    bool HasRelay(const Entity* entity, int port) const;

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // One property of the file's custom class as this instance holds it, with what it does
    // inside the instance.
    struct CustomValue {
        std::string name;
        int32_t type = TypeVoid;
        size_t offset = 0; // in words, into values_
        int words = 0;
        // Given by a scene, a script or the editor; a value never given is read from the inner
        // node instead of being pushed into it.
        bool held = false;
        std::string text; // string values: the text their word names
        // Reference values follow their target when its id changes.
        std::unique_ptr<EntityRef> reference;
        // The link, rebuilt with the class. The inner property is found by name at each use, so
        // no link outlives the property it names.
        const Property* property = nullptr;
        std::string innerName;    // exposed: the inner entity's property
        uint32_t innerId = 0;     // exposed: the inner entity
        int relay = -1;           // relays: the relay number
        uint32_t relayTarget = 0; // relays: the "default=" target, port bits included
    };

    // Values, relays and outputs must describe the file's class as it is now; an instance that
    // missed the change signal (a disabled one) catches up here before any access. Const
    // accessors reach it too: the layout is a cache of the file's class.
    void EnsureCurrent() const;
    // Lays the values out for the custom class, carrying values over by name and type.
    void RebuildValues();
    // Relays, overrides and outputs from the custom class; values never given are then read.
    void RebuildLinks();
    void PushValues();
    void PullValues();
    // Reads an exposed value from its inner property, when that exists.
    void PullValue(CustomValue& slot);
    // The inner entity and property an exposed value overrides; false when either is missing.
    bool FindInner(const CustomValue& slot, Entity*& entity, const Property*& property) const;
    CustomValue* FindValue(const Property& property);
    // Re-declares relays whose target moved since the file declared them.
    void RefreshRelayDeclarations();
    // Stores a value (words, or the text of a string word) in its slot.
    void StoreValue(CustomValue& slot, const uint32_t* words);
    void WriteValueWords(const CustomValue& slot, uint32_t* out) const;
    // A local id of the file in the id system the content lives in.
    uint32_t InnerId(uint32_t localId) const;

    // Makes sure the instance owns an id system; 0 when none is left.
    uint32_t EnsureIdSystem();
    void FreeIdSystem();
    void UpdateSceneGuid();
    void ReleaseFile();
    void SetClosed(bool closed);
    // The steps of a close that went ahead: the state shared, locked, no longer the editor.
    void FinishClose();
    // Sets or clears locked_all on every child.
    void SetChildrenLockedAll(bool locked);
    bool HasOpenSubBranch() const;
    int QueryVersionControl() const;
    // Serials of every live instance, so that a walk that runs code can skip what that code
    // destroyed.
    static std::vector<uint64_t> LiveInstances();
    // Gives the state to every other instance of the file, which each announce.
    void ShareVersionControlState();
    void SendUndoLabel(const char* label);

    // Script methods and signal handlers.
    void ScriptOpen() { Open(); }
    void ScriptClose() { Close(); }
    void ScriptSave() { SaveBranch(); }
    void ScriptSaveAs() { SaveAs(); }
    void ScriptReload() { Reload(); }
    void ScriptLoad();
    void ScriptUnload();
    bool ScriptIsLoaded() const { return (flags_ & BranchLoaded) != 0; }
    void OnRefreshVersionControl(void*) { RefreshVersionControl(); }
    void OnLoaded(void*);
    void OnReloadResources(void*) { ReloadIfChanged(); }
    // The scene's save writes the branch file only when the content was edited: rewritten
    // unedited, a file the load could not keep whole would lose what it could not keep. A save
    // the user halted (a file kept, instances edited apart) stops the scene's save too.
    void OnSave(void*);
    // How a save of the file went: written, left as it was for a reason the scene's save goes on
    // past (a short content the user keeps), or halted: instances edited apart, a changed file
    // the user keeps, a failed write (shown in the editor).
    enum class SaveOutcome { Written, Left, Halted };
    SaveOutcome SaveFile();
    // Whether the instance has content that a save of its file may write or refresh.
    bool HoldsOpenContent() const;
    BranchFileSave MakeFileSave();
    // The other instances of the file holding open content, by serial, told apart by their
    // edits.
    struct Uses {
        std::vector<uint64_t> edited;
        std::vector<uint64_t> unedited;
    };
    Uses OtherUses();
    // Notes the files as they are on disk now (editor only): what the content was read from.
    void StampFiles();
    // After a save wrote what this instance holds.
    void TakeWrittenContent();
    // In the editor: notes what the file holds now (the content as loaded or saved), to tell an
    // edit by.
    void RememberFileContent();
    // Whether a save would write other bytes than the file held as remembered; true when
    // nothing was remembered.
    bool ContentEdited();
    // A content that did not load whole is written over its file only when the user says so.
    bool MaySaveOverShortContent();
    // What a save may write or remove: the file and its compact copy (none before the instance
    // has a file: the save then asks the user where).
    static std::vector<std::string> SavedFiles(const Entity& entity);
    void OnClassTypeChanged(void* argument);

    // The tree pane's entries on a node inside an instance: "Create signal proxy" (relays of
    // the node's input ports) and "Override property" (its exposed properties).
    static bool BuildRelayMenu(Node& node, NodeMenuItem& item);
    static void ChooseRelay(Node& node, int choice, const NodeMenuItem& item);
    static bool BuildOverrideMenu(Node& node, NodeMenuItem& item);
    static void ChooseOverride(Node& node, int choice, const NodeMenuItem& item);

    uint32_t idSystem_ = 0;
    uint32_t flags_ = 0;
    BranchFile* file_ = nullptr;
    uint64_t fileTime_ = 0;
    int versionControlState_ = 0;

    std::vector<uint32_t> values_;
    std::vector<CustomValue> custom_;
    std::unordered_map<const Property*, size_t> slotOf_; // index into custom_
    std::vector<int> relays_;     // relay number -> index into custom_, -1 for an empty slot
    std::vector<size_t> outputs_; // output port -> index into custom_
    const ClassInfo* layoutClass_ = nullptr;
    const BranchFile* layoutFile_ = nullptr;
    uint32_t layoutGeneration_ = 0;
    bool linksMade_ = false;
    bool linksStale_ = false;
    // What the file held when the content loaded or was last saved: the fingerprint of the text
    // a save writes (BranchFile::GetContentFingerprint). Only the editor keeps it; elsewhere it
    // stays unknown and the scene's save writes the file as before.
    enum class FileContent { Unknown, Pending, Known };
    FileContent fileContent_ = FileContent::Unknown;
    uint64_t fileFingerprint_ = 0;
    // What the content's load could not keep as the file has it; "" when it kept it whole.
    std::string shortfall_;
    // The file and its compact copy as the content was read or last written (editor only).
    bool stamped_ = false;
    FileStamp textStamp_;
    FileStamp compactStamp_;
    // The content the user last refused to write over such a file.
    bool refused_ = false;
    uint64_t refusedFingerprint_ = 0;
};

} // namespace quarn
