#pragma once

namespace quarn {

// The editor shell's answers to the core's version-control questions: message boxes around the
// installed version-control binding, and the write alert before a read-only file is overwritten.

// Bits of the flags both checks take.
enum VersionControlPromptFlags : int {
    PromptMayGoOnAnyway = 1,    // offer to go on where the binding refuses
    PromptSkipVersionControl = 2,
    PromptNeverAsk = 4,         // act on the quiet default instead of asking
};

// Before `path` is overwritten; false: do not write it. A missing file is always fine.
bool CheckSaveWithPrompts(const char* path, int flags);
// Before `path` is changed; false: leave it alone.
bool OpenForEditWithPrompts(const char* path, int flags);

// Points the core's version-control hooks at the two checks above.
void InstallVersionControlPrompts();

} // namespace quarn
