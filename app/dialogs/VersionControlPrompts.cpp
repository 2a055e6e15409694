#include "app/dialogs/VersionControlPrompts.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/os/Dialogs.h"
#include "core/scenefile/VersionControl.h"
#include "core/string/Text.h"

namespace quarn {

namespace {

constexpr const char* VersionControlCaption = "Version control message";

bool AskYes(const std::string& text, const char* caption) {
    return ShowMessageBox(text.c_str(), caption, MessageBoxYesNo) == DialogYes;
}

void Tell(const std::string& text) {
    ShowMessageBox(text.c_str(), VersionControlCaption, MessageBoxOk);
}

// The binding's part of both checks; `goOn` is the verb of the "anyway?" questions. True when
// the operation may go on.
bool AskVersionControl(const char* path, int flags, const char* goOn) {
    VersionControl* binding = GetVersionControl();
    if (!binding || (flags & PromptSkipVersionControl)) {
        return true;
    }
    const bool mayGoOn = flags & PromptMayGoOnAnyway;
    const bool quiet = flags & PromptNeverAsk;
    FileSystem* files = GetFileSystem();
    // The binding knows files by their place in the game's folder.
    const char* relative = files ? files->GetRelativePath(path) : path;
    switch (binding->GetFileState(relative)) {
    case VersionControl::CheckedOutByOther: {
        if (quiet) {
            return mayGoOn;
        }
        // One sentence, then the question or the refusal.
        const std::string taken = StringFormat(
            "File \"%s\" is under version control and checked out by somebody else. ", path);
        if (mayGoOn) {
            return AskYes(taken + goOn + " anyway?", VersionControlCaption);
        }
        Tell(taken + "Can't open for edit.");
        return false;
    }
    case VersionControl::NotCheckedOut: {
        if (!quiet) {
            const int answer = ShowMessageBox(
                StringFormat("File \"%s\" is under version control. Open for edit?", path)
                    .c_str(),
                VersionControlCaption, MessageBoxYesNoCancel);
            if (answer == DialogCancel) {
                return false;
            }
            if (answer == DialogNo) {
                return mayGoOn;
            }
        }
        if (binding->CheckOut(relative)) {
            LogMessage("File \"%s\" opened for edit.", path);
            return true;
        }
        if (quiet) {
            return mayGoOn;
        }
        if (mayGoOn) {
            return AskYes(StringFormat("Failed to open \"%s\" for edit. %s anyway?", path, goOn),
                          VersionControlCaption);
        }
        Tell(StringFormat(
            "Failed to open \"%s\" for edit. Contact your admin if problem persists.", path));
        return false;
    }
    default:
        return true;
    }
}

} // namespace

bool CheckSaveWithPrompts(const char* path, int flags) {
    FileSystem* files = GetFileSystem();
    if (!path || !files || !files->Exists(path)) {
        return true;
    }
    if (!AskVersionControl(path, flags, "Save")) {
        return false;
    }
    const uint32_t attributes = files->GetAttributes(path);
    if ((attributes & FileReadOnly) && !(attributes & FileMissing)) {
        if (!(flags & PromptNeverAsk) &&
            !AskYes(StringFormat("\"%s\" is write-protected. Overwrite?", path), "Write alert")) {
            return false;
        }
        files->SetReadOnly(path, FileReadOnly, 0);
    }
    return true;
}

bool OpenForEditWithPrompts(const char* path, int flags) {
    return AskVersionControl(path ? path : "", flags, "Continue");
}

void InstallVersionControlPrompts() {
    SetVersionControlHooks(CheckSaveWithPrompts, OpenForEditWithPrompts);
}

} // namespace quarn
