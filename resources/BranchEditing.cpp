// Editing a branch instance: opening and closing it with the version-control prompts, saving it
// to its file or under a new name, and the tree pane's entries for nodes inside it.
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdPath.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/NodeMenu.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/VersionControl.h"
#include "core/string/Text.h"
#include "resources/Branch.h"
#include "resources/BranchFile.h"
#include "resources/ResourceRegistry.h"

#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quarn {

namespace {

// The choices of the close prompt; a state without prompt counts as Cancel.
enum class CloseChoice { Save, Revert, Cancel };

// Whether a save could put the file in place: a missing file can be made, a read-only one
// cannot.
bool CanWrite(const char* path) {
    FileSystem* files = GetFileSystem();
    if (!files) {
        return false;
    }
    const uint32_t attributes = files->GetAttributes(path);
    return (attributes & FileMissing) || !(attributes & (FileReadOnly | FileDirectory));
}

CloseChoice AskClose(int state) {
    const char* text = nullptr;
    switch (state) {
    case VersionControl::NotControlled:
        text = "The branch may have changed. Do you want to save?";
        break;
    case VersionControl::NotCheckedOut:
        text = "The branch may have changed but is not checked out. Do you want to check out, then "
               "save and commit?";
        break;
    case VersionControl::CheckedOut:
    case VersionControl::CheckedOutToo:
        text = "The branch may have changed. Do you want to save and commit?";
        break;
    case VersionControl::CheckedOutByOther: {
        const int answer = ShowChoiceBox("Close alert",
                                         "The branch may have changed but is checked out from SVN "
                                         "by someone else. Revert now?",
                                         "OK#Cancel");
        return answer == 0 ? CloseChoice::Revert : CloseChoice::Cancel;
    }
    default:
        return CloseChoice::Cancel;
    }
    const int answer = ShowChoiceBox("Close alert", text, "Yes#No (revert)#Cancel");
    return answer == 0   ? CloseChoice::Save
           : answer == 1 ? CloseChoice::Revert
                         : CloseChoice::Cancel;
}

// The instance whose content holds the node: its nearest Branch ancestor.
Branch* EnclosingBranch(Node& node) {
    for (Node* each = node.GetParent(); each; each = each->GetParent()) {
        if (auto* branch = dynamic_cast<Branch*>(each)) {
            return branch;
        }
    }
    return nullptr;
}

bool IsExposed(const Branch& branch, const Node& node, const Property& property) {
    const BranchFile* file = branch.GetBranchFile();
    return file && file->FindOwnProperty(BranchFile::ExposedName(node, property).c_str());
}

} // namespace

// Version control -----------------------------------------------------------------------------

int Branch::QueryVersionControl() const {
    VersionControl* service = GetVersionControl();
    // A running game edits nothing, so it is never asked about.
    if (!service || !file_ || GameRunning) {
        return VersionControl::NotControlled;
    }
    return service->GetFileState(file_->GetFullPath());
}

void Branch::RefreshVersionControl() {
    if (!GetVersionControl() || !file_) {
        return;
    }
    versionControlState_ = QueryVersionControl();
    if (!IsClosed() && (versionControlState_ == VersionControl::NotCheckedOut ||
                        versionControlState_ == VersionControl::CheckedOutByOther)) {
        SetClosed(true);
        file_->ClearOwner(this);
        LogMessage("Branch '%s' (id %s) was closed to comply with version control",
                   file_->GetFullPath(), IdPath::FromId(GetId(), 0).Format().c_str());
    }
    const uint64_t self = GetSerial();
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    if (IsAlive(self)) {
        PushValues();
    }
}

// Open and close ------------------------------------------------------------------------------

bool Branch::Open() {
    const char* path = file_ ? file_->GetFullPath() : "";
    if (!VersionControlOpenForEdit(path, 1)) {
        SetClosed(true);
        return false;
    }
    // Another instance may edit the file already; this one opens all the same.
    if (file_) {
        file_->SetOwner(this);
    }
    SetClosed(false);
    if (HasFlag(NodeLockedAll)) {
        SetChildrenLockedAll(false);
    }
    if (versionControlState_ == VersionControl::NotCheckedOut) {
        versionControlState_ = VersionControl::CheckedOut;
    }
    ShareVersionControlState();
    SendUndoLabel("Open");
    return true;
}

bool Branch::Close() {
    if (IsClosed()) {
        return false;
    }
    if (HasOpenSubBranch()) {
        ShowMessageBox("The branch can't be closed because there are still open subbranches.",
                       "Close alert", MessageBoxOk);
        return false;
    }
    if (!file_) {
        // Nothing holds the content yet: it is saved under a name first, or stays open.
        if (!SaveAs() || !file_) {
            return false;
        }
        FinishClose();
        return true;
    }
    int state = QueryVersionControl();
    const CloseChoice choice = AskClose(state);
    if (choice == CloseChoice::Cancel) {
        return false;
    }
    VersionControl* service = GetVersionControl();
    const std::string path = file_->GetFullPath();
    const uint64_t self = GetSerial();
    if (choice == CloseChoice::Save) {
        if (service && state == VersionControl::NotCheckedOut) {
            service->CheckOut(path.c_str());
        }
        if (!VersionControlCheckSave(path.c_str(), VersionControlSaveMode) ||
            !CanWrite(path.c_str())) {
            return false;
        }
        // Closed after a failed save, the instance would drop what was not saved.
        if (!SaveBranch()) {
            LogMessage("Branch '%s' could not be saved and stays open", path.c_str());
            return false;
        }
        if (service && state != VersionControl::NotControlled) {
            service->Commit(path.c_str());
            state = VersionControl::NotCheckedOut;
        }
    } else {
        if (service &&
            (state == VersionControl::CheckedOut || state == VersionControl::CheckedOutToo)) {
            service->Revert(path.c_str());
            state = VersionControl::NotCheckedOut;
        }
        SetClosed(true);
        Reload();
    }
    if (!IsAlive(self)) {
        return true;
    }
    versionControlState_ = state;
    FinishClose();
    return true;
}

void Branch::FinishClose() {
    ShareVersionControlState();
    SetClosed(true);
    SetChildrenLockedAll(true);
    if (file_) {
        file_->ClearOwner(this);
    }
    SendUndoLabel("Close");
}

void Branch::SetChildrenLockedAll(bool locked) {
    std::vector<uint64_t> children;
    for (Node* child = GetFirstChild(); child; child = child->GetNext()) {
        children.push_back(child->GetSerial());
    }
    for (uint64_t serial : children) {
        if (Node* child = FindLiveNode(serial); child && child->GetParent() == this) {
            child->SetFlag(NodeLockedAll, locked);
        }
    }
}

// Saving --------------------------------------------------------------------------------------

void Branch::RememberFileContent() {
    if (!EditorRunning || !file_ || !GetFirstChild()) {
        fileContent_ = FileContent::Unknown;
        return;
    }
    fileFingerprint_ = file_->GetContentFingerprint(*this, GetIdSystem());
    fileContent_ = FileContent::Known;
}

bool Branch::ContentEdited() {
    return fileContent_ != FileContent::Known || !file_ ||
           file_->GetContentFingerprint(*this, GetIdSystem()) != fileFingerprint_;
}

void Branch::StampFiles() {
    stamped_ = EditorRunning && file_;
    if (stamped_) {
        textStamp_ = FileStamp::Of(file_->GetFullPath());
        compactStamp_ = FileStamp::Of(file_->GetCompactPath());
    }
}

bool Branch::HoldsOpenContent() const {
    return file_ && !IsClosed() && GetFirstChild();
}

void Branch::OnSave(void*) {
    if (!GetFirstChild() || IsClosed() || !ContentEdited()) {
        return;
    }
    if (!file_) {
        SaveAs();
    } else if (SaveFile() == SaveOutcome::Halted) {
        StopSignal();
    }
}

namespace {

// The question before writing over a content that did not load whole; No keeps the file.
bool AskSaveOverShort(const std::string& path, const std::string& shortfall) {
    const std::string text = "Branch '" + path + "' did not load whole: " + shortfall +
                             ".\n\nA save writes the branch as the editor holds it. Save over '" +
                             path + "' all the same?";
    const uint32_t question = MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2;
    if (ShowMessageBox(text.c_str(), "Save over a short branch", question) == DialogYes) {
        return true;
    }
    LogMessage("Branch '%s' is not saved: the file keeps what the editor could not load",
               path.c_str());
    return false;
}

// Whether two instances' saves of one file write the same content: they differ at most in the
// id system their header names, which no load of the file takes.
bool SameContent(const std::string& one, const std::string& other) {
    constexpr std::string_view header = "\nidsystem = ";
    const size_t at = one.find(header);
    const size_t otherAt = other.find(header);
    const size_t end = at == std::string::npos ? at : one.find('\n', at + 1);
    const size_t otherEnd = otherAt == std::string::npos ? otherAt : other.find('\n', otherAt + 1);
    if (end == std::string::npos || otherEnd == std::string::npos) {
        return one == other;
    }
    return one.compare(0, at, other, 0, otherAt) == 0 &&
           one.compare(end, std::string::npos, other, otherEnd, std::string::npos) == 0;
}

// Two instances' edits of one file cannot both be written: the first save made of the file
// notes another that differs.
void NoteConflict(BranchFileSave& first, const BranchFileSave& other) {
    if (!first.conflict.empty() || SameContent(first.forms.text, other.forms.text)) {
        return;
    }
    first.conflict = "Branch '" + first.path + "' is edited differently in " + first.source +
                     " and in " + other.source +
                     ": a save would keep the one and lose the other.\n\nThe scene is not saved. "
                     "Undo the edits in one of them, or close it without saving, and save again.";
}

// Told before anything is written (in the editor, where the user looks); false when a save
// holds a conflict.
bool TellConflicts(const std::vector<BranchFileSave>& saves) {
    for (const BranchFileSave& save : saves) {
        if (!save.conflict.empty()) {
            LogMessage("Branch '%s' is not saved: its instances are edited apart",
                       save.path.c_str());
            if (EditorRunning) {
                ShowMessageBox(save.conflict.c_str(), "Branch edited in two places",
                               MessageBoxOk | MessageBoxIconWarning);
            }
            return false;
        }
    }
    return true;
}

// A save the user asked for that failed is shown where the user looks; the log has its line.
void TellSaveFailed(const std::string& path) {
    if (EditorRunning) {
        const std::string text = "Branch '" + path + "' was not saved" + FileFailureSuffix() + ".";
        ShowMessageBox(text.c_str(), "Save failed", MessageBoxOk | MessageBoxIconError);
    }
}

// One question for every file another program changed since its instance read or wrote it.
bool MaySaveOverChangedBranches(const std::vector<BranchFileSave>& saves) {
    std::vector<std::string> changed;
    for (const BranchFileSave& save : saves) {
        const std::string compact =
            ReplaceExtension(save.path.c_str(), BranchFile::CompactExtension);
        if (save.stamped && save.textStamp.ChangedOnDisk(save.path)) {
            changed.push_back(save.path);
        }
        if (save.stamped && !IsCompactSceneName(save.path.c_str()) &&
            save.compactStamp.ChangedOnDisk(compact)) {
            changed.push_back(compact);
        }
    }
    return MaySaveOverChangedFiles(changed, "branch");
}

} // namespace

bool Branch::MaySaveOverShortContent() {
    if (shortfall_.empty() || !file_) {
        return true;
    }
    // What the user refused to write is not asked of again until it changes.
    const uint64_t content = file_->GetContentFingerprint(*this, GetIdSystem());
    if (refused_ && content == refusedFingerprint_) {
        return false;
    }
    refused_ = !AskSaveOverShort(file_->GetFullPath(), shortfall_);
    if (refused_) {
        refusedFingerprint_ = content;
    }
    return !refused_;
}

Branch::Uses Branch::OtherUses() {
    Uses uses;
    for (uint64_t serial : LiveInstances()) {
        auto* other = dynamic_cast<Branch*>(FindLiveNode(serial));
        if (other && other != this && other->file_ == file_ && other->HoldsOpenContent()) {
            (other->ContentEdited() ? uses.edited : uses.unedited).push_back(serial);
        }
    }
    return uses;
}

BranchFileSave Branch::MakeFileSave() {
    BranchFileSave save;
    save.path = file_->GetFullPath();
    save.forms = file_->MakeForms(*this, GetIdSystem());
    save.stamped = stamped_;
    save.textStamp = textStamp_;
    save.compactStamp = compactStamp_;
    save.shortfall = shortfall_;
    save.source = DescribeEntity(*this);
    return save;
}

void Branch::TakeWrittenContent() {
    shortfall_.clear();
    fileFingerprint_ = file_->GetContentFingerprint(*this, GetIdSystem());
    fileContent_ = FileContent::Known;
    fileTime_ = file_->GetFileTime();
    StampFiles();
}

Branch::SaveOutcome Branch::SaveFile() {
    const uint64_t self = GetSerial();
    // Edits are told apart before the write, whose GUID (for a file that had none) every
    // content carries from then on.
    const Uses others = OtherUses();
    const BranchFile* file = file_;
    const auto sameFile = [file](uint64_t serial) {
        auto* other = dynamic_cast<Branch*>(FindLiveNode(serial));
        return other && other->file_ == file && other->HoldsOpenContent() ? other : nullptr;
    };
    std::vector<BranchFileSave> saves{MakeFileSave()};
    for (uint64_t serial : others.edited) {
        if (Branch* other = sameFile(serial)) {
            NoteConflict(saves.front(), other->MakeFileSave());
        }
    }
    if (!TellConflicts(saves) || !MaySaveOverChangedBranches(saves)) {
        return SaveOutcome::Halted;
    }
    if (!MaySaveOverShortContent()) {
        return SaveOutcome::Left;
    }
    flags_ |= BranchLoaded;
    ClearFileFailure();
    const bool saved = file_->Save(saves.front().forms);
    fileTime_ = file_->GetFileTime();
    if (!saved) {
        TellSaveFailed(saves.front().path);
    } else {
        TakeWrittenContent();
        for (uint64_t serial : others.edited) {
            if (Branch* other = sameFile(serial)) {
                other->TakeWrittenContent();
            }
        }
        // An unedited use shows what the file holds now, so that an edit there next builds on
        // this one instead of writing it away.
        if (EditorRunning && !GameRunning) {
            for (uint64_t serial : others.unedited) {
                if (Branch* other = sameFile(serial); other && IsAlive(self)) {
                    other->Reload();
                }
            }
        }
    }
    if (!IsAlive(self)) {
        return saved ? SaveOutcome::Left : SaveOutcome::Halted;
    }
    RefreshRelayDeclarations();
    SendSignal("reload_resources", nullptr, true);
    if (!saved) {
        return SaveOutcome::Halted;
    }
    return IsAlive(self) ? SaveOutcome::Written : SaveOutcome::Left;
}

bool Branch::SaveBranch() {
    if (!GetFirstChild() || IsClosed()) {
        return true; // nothing of this instance to write
    }
    if (!file_) {
        return SaveAs();
    }
    return SaveFile() == SaveOutcome::Written;
}

std::vector<BranchFileSave> Branch::MakeEditedFileSaves() {
    std::vector<BranchFileSave> saves;
    std::unordered_map<const BranchFile*, size_t> saveOf;
    for (uint64_t serial : LiveInstances()) {
        auto* branch = dynamic_cast<Branch*>(FindLiveNode(serial));
        if (!branch || !branch->HoldsOpenContent() || !branch->ContentEdited()) {
            continue;
        }
        const auto [found, added] = saveOf.try_emplace(branch->file_, saves.size());
        if (added) {
            saves.push_back(branch->MakeFileSave());
        } else {
            NoteConflict(saves[found->second], branch->MakeFileSave());
        }
    }
    return saves;
}

void Branch::NameUnsavedContent() {
    for (uint64_t serial : LiveInstances()) {
        auto* branch = dynamic_cast<Branch*>(FindLiveNode(serial));
        if (branch && !branch->file_ && !branch->IsClosed() && branch->GetFirstChild()) {
            branch->SaveAs();
        }
    }
}

bool Branch::WriteFileSaves(const std::vector<BranchFileSave>& saves) {
    if (!TellConflicts(saves) || !MaySaveOverChangedBranches(saves)) {
        return false;
    }
    for (const BranchFileSave& save : saves) {
        if (!save.shortfall.empty() && !AskSaveOverShort(save.path, save.shortfall)) {
            continue;
        }
        ClearFileFailure();
        if (!BranchFile::WriteForms(save.path, save.forms)) {
            TellSaveFailed(save.path);
            return false;
        }
    }
    return true;
}

bool Branch::SaveAs() {
    if (!GetFirstChild()) {
        return false;
    }
    flags_ |= BranchLoaded;
    static const char Filter[] = "Quarn Branch\0*.branch\0";
    std::string chosen = ShowFileDialog(Filter, false, GetFolderSetting("branch").c_str());
    if (chosen.empty()) {
        return false;
    }
    if (!std::strchr(FindFileName(chosen.c_str()), '.')) {
        chosen += ".branch";
    }
    FileSystem* files = GetFileSystem();
    const std::string relative = files ? files->GetRelativePath(chosen.c_str()) : chosen;
    SetFolderSetting("branch", GetPathFolder(relative.c_str()).c_str());

    // The file is renamed when this instance alone uses it and no other file has the name;
    // otherwise the instance takes the file of that name.
    const PathString key = NormalizeResourcePath(relative.c_str());
    Resource* registered = FindResourceByKey(key.Text());
    if (file_ && file_->GetReferenceCount() == 1 && (!registered || registered == file_)) {
        file_->SetFileName(relative.c_str(), "", false);
    } else {
        BranchFile* file = AcquireResource<BranchFile>(relative.c_str(), "");
        ReleaseFile();
        file_ = file;
    }
    if (!IsClosed()) {
        file_->SetOwner(this);
    }
    UpdateSceneGuid();
    bool saved = false;
    {
        const UserChoiceScope picked;
        saved = file_->Save(*this, GetIdSystem());
    }
    if (saved) {
        shortfall_.clear();
        RememberFileContent();
        StampFiles();
    }
    fileTime_ = file_->GetFileTime();
    versionControlState_ = QueryVersionControl();
    SendSignal("reload_resources", nullptr, true);
    return saved;
}

// Script methods ------------------------------------------------------------------------------

void Branch::ScriptLoad() {
    if (LoadContent(Push)) {
        SendUndoLabel("Load");
    }
}

void Branch::ScriptUnload() {
    const uint64_t self = GetSerial();
    UnloadContent();
    if (IsAlive(self)) {
        SendUndoLabel("Unload");
    }
}

void Branch::SendUndoLabel(const char* label) {
    quarn::SendUndoLabel(this, label);
}

// Tree pane entries ---------------------------------------------------------------------------

bool Branch::BuildRelayMenu(Node& node, NodeMenuItem& item) {
    Branch* branch = EnclosingBranch(node);
    if (!branch || !branch->file_) {
        return false;
    }
    item.label = "Create signal proxy";
    item.enabled = !branch->IsClosed();
    for (int port = 0; port < MaxPorts; ++port) {
        const char* name = node.GetInputName(port);
        if (port >= node.GetInputCount() || !*name) {
            break;
        }
        item.items.push_back({name, branch->HasRelay(&node, port), true, {}, {}});
    }
    return true;
}

void Branch::ChooseRelay(Node& node, int choice, const NodeMenuItem&) {
    Branch* branch = EnclosingBranch(node);
    if (!branch || branch->IsClosed() || choice < 0 || choice >= node.GetInputCount()) {
        return;
    }
    if (branch->HasRelay(&node, choice)) {
        branch->RemoveRelay(&node, choice);
    } else {
        branch->AddRelay(&node, choice);
    }
}

bool Branch::BuildOverrideMenu(Node& node, NodeMenuItem& item) {
    Branch* branch = EnclosingBranch(node);
    if (!branch || !branch->file_) {
        return false;
    }
    item.label = "Override property";
    item.enabled = !branch->IsClosed();
    for (int index = 0; index < node.GetPropertyCount(); ++index) {
        const Property* property = node.GetProperty(index);
        item.items.push_back(
            {property->GetName(), IsExposed(*branch, node, *property), true, {}, {}});
    }
    return true;
}

void Branch::ChooseOverride(Node& node, int choice, const NodeMenuItem&) {
    Branch* branch = EnclosingBranch(node);
    const Property* property = node.GetProperty(choice);
    if (!branch || !branch->file_ || branch->IsClosed() || !property) {
        return;
    }
    branch->file_->ExposeProperty(&node, property, !IsExposed(*branch, node, *property));
}

} // namespace quarn
