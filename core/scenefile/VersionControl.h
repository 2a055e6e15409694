#pragma once

namespace quarn {

// What the editor's shell is asked before scene and branch files are written or opened for
// editing. Without a shell (the player, tools, tests) every file may be written and edited.

// Mode of VersionControlCheckSave for a scene or branch file about to be written.
inline constexpr int VersionControlSaveMode = 2;

// True when the file may be written; false when the user or the service refuses, and the save
// is then abandoned without writing.
using VersionControlCheckSaveHook = bool (*)(const char* path, int mode);
// True when the file may be edited; `ask` lets the shell ask the user.
using VersionControlOpenForEditHook = bool (*)(const char* path, int ask);

// Installs the shell's answers; null restores the default (true) for that question.
void SetVersionControlHooks(VersionControlCheckSaveHook checkSave,
                            VersionControlOpenForEditHook openForEdit);
bool VersionControlCheckSave(const char* path, int mode);
bool VersionControlOpenForEdit(const char* path, int ask);

// The version-control service a shell may set up; absent by default.
class VersionControl {
public:
    // File states; 3 and 4 are both checked out by this user.
    enum FileState : int {
        NotControlled = 0,
        NotCheckedOut = 1,
        CheckedOutByOther = 2,
        CheckedOut = 3,
        CheckedOutToo = 4,
    };

    virtual ~VersionControl() = default;
    virtual int GetFileState(const char* path) = 0;
    // Each false when the service failed.
    virtual bool CheckOut(const char* path) = 0;
    virtual bool Revert(const char* path) = 0;
    virtual bool Commit(const char* path) = 0;
};

// Not owned; it must outlive its installation. Null removes it.
void SetVersionControl(VersionControl* service);
VersionControl* GetVersionControl();

} // namespace quarn
