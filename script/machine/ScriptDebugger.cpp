#include "script/machine/ScriptDebugger.h"

#include "core/filesystem/FileReader.h"
#include "core/string/Text.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"

#include <algorithm>
#include <vector>

namespace quarn {

namespace {

uint32_t lineBudget = ScriptDebugger::InitialLineBudget;

} // namespace

ScriptDebugger::ScriptDebugger() {
    AddScriptDebugPanel(this);
}

ScriptDebugger::~ScriptDebugger() {
    RemoveScriptDebugPanel(this);
}

uint32_t ScriptDebugger::GetLineBudget() {
    return lineBudget;
}

void ScriptDebugger::ResetLineBudget() {
    lineBudget = InitialLineBudget;
}

Script* ScriptDebugger::GetShownScript() const {
    return dynamic_cast<Script*>(shown_.GetTarget());
}

void ScriptDebugger::ShowScript(Script& script) {
    if (GetShownScript() == &script) {
        return;
    }
    // A program that names the file it was assembled from shows that file, found beside its
    // script file: its lines are the ones the program's lines count.
    const ScriptResource* program = script.GetProgram();
    const char* scriptFile = script.GetScriptFile();
    if (!program || !program->HasSourceLines() || !scriptFile ||
        !LoadSource(
            (GetPathFolder(scriptFile) + FindFileName(program->GetSourceFile().c_str())).c_str())) {
        LoadSource(scriptFile);
    }
    program_ = program;
    shown_.SetId(script.GetId());
    UpdateButtons();
    scrollLine_ = script.GetContext() ? script.GetCurrentLine() : -1;
}

bool ScriptDebugger::LoadSource(const char* path) {
    source_.clear();
    lineCount_ = 0;
    FileReader reader;
    if (!path || !*path || !reader.Open(path, false, false)) {
        return false;
    }
    const std::vector<uint8_t> bytes = reader.ReadRemaining();
    // The text grows with the file, whatever the budget: a last line without a line feed
    // still gains its CR LF.
    for (;;) {
        source_.clear();
        source_.reserve(bytes.size() + lineBudget);
        lineCount_ = 0;
        size_t start = 0;
        while (start < bytes.size() && lineCount_ < lineBudget) {
            const auto newline = std::find(bytes.begin() + long(start), bytes.end(), '\n');
            size_t end = size_t(newline - bytes.begin());
            const size_t next = end < bytes.size() ? end + 1 : end;
            if (end > start && bytes[end - 1] == '\r') {
                --end;
            }
            source_.append(reinterpret_cast<const char*>(bytes.data()) + start, end - start);
            source_ += "\r\n";
            ++lineCount_;
            start = next;
        }
        if (start >= bytes.size()) {
            return true;
        }
        lineBudget *= 2;
    }
}

void ScriptDebugger::SetSourceFocused(bool focused) {
    sourceFocused_ = focused;
    UpdateButtons();
}

void ScriptDebugger::UpdateButtons() {
    const Script* script = GetShownScript();
    const bool hasContext = script && script->GetContext();
    stepEnabled_ = hasContext && script->GetRunState() == ScriptDebug;
    resumeEnabled_ = stepEnabled_;
    toggleEnabled_ = sourceFocused_;
    callStackEnabled_ = hasContext;
}

} // namespace quarn
