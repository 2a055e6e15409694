#pragma once

#include "core/object/EntityRef.h"
#include "script/machine/ScriptDebugHooks.h"

#include <cstdint>
#include <string>

namespace quarn {

class ScriptResource;

// The state behind the script debugger panel: the Script node shown, its program, its source
// text with CR LF line ends (what the source view takes), the line to scroll to and which
// controls are enabled. The window built on it asks the rest of the engine through this.
// While it lives it is a panel the runtime-error path can hand a failing script to.
class ScriptDebugger : public ScriptDebugPanel {
public:
    // The process-wide line budget the source loading starts from.
    static constexpr uint32_t InitialLineBudget = 4096;

    ScriptDebugger();
    ~ScriptDebugger() override;
    ScriptDebugger(const ScriptDebugger&) = delete;
    ScriptDebugger& operator=(const ScriptDebugger&) = delete;

    // Nothing when the node is already shown; else its source (the file its program was
    // assembled from when that lies beside the script file), its program and the buttons, and
    // the line to scroll to when it has a context.
    void ShowScript(Script& script) override;
    // Reads a source file into the text; a file that does not open leaves it empty with 0
    // lines. False then.
    bool LoadSource(const char* path);
    // Step and Resume only in the debug stop, Toggle only while the source view has the
    // focus, the call stack only with a context.
    void UpdateButtons();
    void SetSourceFocused(bool focused);

    Script* GetShownScript() const;
    const ScriptResource* GetProgram() const { return program_; }
    const std::string& GetSource() const { return source_; }
    uint32_t GetLineCount() const { return lineCount_; }
    // The line the source view scrolls to; -1 for none.
    int GetScrollLine() const { return scrollLine_; }
    bool IsStepEnabled() const { return stepEnabled_; }
    bool IsResumeEnabled() const { return resumeEnabled_; }
    bool IsToggleEnabled() const { return toggleEnabled_; }
    bool IsCallStackEnabled() const { return callStackEnabled_; }

    // Lines a load reserves room for before it restarts with twice as many; the doubled value
    // stays for later loads.
    static uint32_t GetLineBudget();
    static void ResetLineBudget();

private:
    EntityRef shown_;
    // Compared only: the program shown, which may be gone by now.
    const ScriptResource* program_ = nullptr;
    std::string source_;
    uint32_t lineCount_ = 0;
    int scrollLine_ = -1;
    bool sourceFocused_ = false;
    bool stepEnabled_ = false;
    bool resumeEnabled_ = false;
    bool toggleEnabled_ = false;
    bool callStackEnabled_ = false;
};

} // namespace quarn
