#include "editor/ScriptDebuggerPanel.h"

#include "core/object/ValueType.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "editor/MainFrame.h"
#include "editor/UiLayer.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptResource.h"

#include <algorithm>
#include <imgui.h>
#include <utility>

namespace quarn {

namespace {

constexpr float LabelWidth = 80.0f;
constexpr float ListWidth = 220.0f;
constexpr float ColumnWidth = 48.0f;
constexpr ImU32 BreakpointColor = IM_COL32(200, 40, 40, 255);
constexpr ImU32 CurrentLineColor = IM_COL32(200, 170, 40, 90);

// The scene's Script nodes by display name; depth first without recursion, as trees may be
// deep.
std::vector<std::pair<std::string, uint64_t>> SceneScripts() {
    std::vector<std::pair<std::string, uint64_t>> scripts;
    std::vector<Node*> pending;
    if (Node* root = GetSceneRoot()) {
        pending.push_back(root);
    }
    while (!pending.empty()) {
        Node* node = pending.back();
        pending.pop_back();
        if (auto* script = dynamic_cast<Script*>(node)) {
            scripts.emplace_back(UiText(script->GetDisplayName()), script->GetSerial());
        }
        for (Node* child = node->GetFirstChild(); child; child = child->GetNext()) {
            pending.push_back(child);
        }
    }
    std::stable_sort(scripts.begin(), scripts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return scripts;
}

// A source line for display: tabs as spaces, the bytes as the engine's texts are shown.
std::string DisplayLine(std::string_view line) {
    std::string text;
    text.reserve(line.size());
    for (char c : line) {
        if (c == '\t') {
            text.append(4 - text.size() % 4, ' ');
        } else {
            text.push_back(c);
        }
    }
    return UiText(text);
}

bool IsIdle(const ScriptContext* context) {
    return !context || context->IsIdle() || context->Frames().empty();
}

// Whether the script's last run is over: returned from its outermost frame, or past the end
// command (a break before one leaves the position on it).
bool HasRunEnded(const Script& script) {
    const ScriptContext* context = script.GetContext();
    if (IsIdle(context)) {
        return true;
    }
    const ScriptResource* program = script.GetProgram();
    const uint32_t last = context->GetCommandOffset();
    return context->GetCurrentInstance() == &script && program && program->GetCode() &&
           last < program->GetCodeSize() && context->GetPosition() != last &&
           program->GetCode()[last] == ScriptResource::EndCommand;
}

} // namespace

ScriptDebuggerPanel::ScriptDebuggerPanel(MainFrame& frame) {
    EditorPanel* dock = frame.Root().CreateChildPanel(PanelBottom, DockExtent);
    if (!dock) {
        return;
    }
    window_ = frame.NewWindow();
    dock->SetWindow(window_);
    dock->Show(false);
    frame.Layout(0);
}

ScriptDebuggerPanel::~ScriptDebuggerPanel() {
    if (EditorPanel* dock = GetDock()) {
        dock->Destroy();
    }
}

EditorPanel* ScriptDebuggerPanel::GetDock() const {
    MainFrame* frame = MainFrame::Get();
    return frame && window_ ? frame->Root().FindByWindow(window_) : nullptr;
}

bool ScriptDebuggerPanel::IsShown() const {
    EditorPanel* dock = GetDock();
    return dock && dock->IsVisible();
}

void ScriptDebuggerPanel::ShowScript(Script& script) {
    const bool another = GetShownScript() != &script;
    ScriptDebugger::ShowScript(script);
    RebuildLines();
    if (another) {
        caretLine_ = 0;
        scrolledTo_ = -1;
        requestedLine_ = GetScrollLine();
    }
    // The editor's view with its panels, as "Editor view" shows it.
    EditorPanel* dock = GetDock();
    if (dock && !dock->IsVisible()) {
        MainFrame::Get()->SetEditorView(true);
    }
}

void ScriptDebuggerPanel::RebuildLines() {
    lines_.clear();
    const std::string& source = GetSource();
    indexedData_ = source.data();
    indexedSize_ = source.size();
    size_t start = 0;
    while (start < source.size()) {
        size_t end = source.find("\r\n", start);
        if (end == std::string::npos) {
            end = source.size();
        }
        lines_.emplace_back(source.data() + start, end - start);
        start = end + 2;
    }
}

int64_t ScriptDebuggerPanel::LineOffset(int line) const {
    Script* script = GetShownScript();
    const ScriptResource* program = script ? script->GetProgram() : nullptr;
    return program ? program->GetSourceLineStart(line) : -1;
}

bool ScriptDebuggerPanel::HasBreakpoint(int line) const {
    const int64_t offset = LineOffset(line);
    if (offset < 0) {
        return false;
    }
    const uint32_t at = static_cast<uint32_t>(offset);
    return GetShownScript()->GetProgram()->FindBreakpoint(at) != nullptr;
}

bool ScriptDebuggerPanel::ToggleBreakpoint(int line) {
    const int64_t offset = LineOffset(line);
    if (offset < 0) {
        return false;
    }
    ScriptResource& program = *GetShownScript()->GetProgram();
    std::vector<ScriptBreakpoint>& breakpoints = program.Breakpoints();
    uint32_t& word = program.EditCode()[offset];
    if (ScriptBreakpoint* found = program.FindBreakpoint(static_cast<uint32_t>(offset))) {
        if (word == ScriptResource::BreakpointCommand) {
            word = found->savedWord;
        }
        breakpoints.erase(breakpoints.begin() + (found - breakpoints.data()));
        return true;
    }
    // Action 2: the machine puts the command back and stops before it.
    breakpoints.push_back({static_cast<uint32_t>(offset), word, 2});
    ArmBreakpoints();
    return true;
}

void ScriptDebuggerPanel::ArmBreakpoints() {
    Script* script = GetShownScript();
    ScriptResource* program = script ? script->GetProgram() : nullptr;
    if (!program || !program->GetCode()) {
        return;
    }
    const ScriptContext* context = script->GetContext();
    const bool stopped =
        context && script->GetRunState() == ScriptDebug && context->GetCurrentInstance() == script;
    program->ArmBreakpoints(stopped ? context->GetPosition() : NoScriptPosition);
}

void ScriptDebuggerPanel::StepLine() {
    UpdateButtons();
    Script* script = GetShownScript();
    if (!script || !IsStepEnabled()) {
        return;
    }
    ScriptContext* context = script->GetContext();
    const uint64_t serial = script->GetSerial();
    if (!IsIdle(context)) {
        CurrentScriptContextScope current(context);
        script->Run(*context);
    }
    if (!IsAlive(serial)) {
        UpdateButtons();
        return;
    }
    // A run that ended has nothing left to step through: a further step would run past its
    // end into whatever follows.
    if (script->GetRunState() == ScriptDebug && HasRunEnded(*script)) {
        script->SetRunState(ScriptReady);
    }
    ArmBreakpoints();
    UpdateButtons();
}

void ScriptDebuggerPanel::Resume() {
    UpdateButtons();
    Script* script = GetShownScript();
    if (!script || !IsResumeEnabled()) {
        return;
    }
    // The line stopped at runs first, so its breakpoint is armed again behind it.
    const uint64_t serial = script->GetSerial();
    StepLine();
    if (IsAlive(serial) && script->GetRunState() == ScriptDebug) {
        const ScriptContext* context = script->GetContext();
        const uint32_t at = context ? context->GetPosition() : NoScriptPosition;
        // A breakpoint reached in that line holds the script where it is.
        if (script->GetProgram()->FindBreakpoint(at)) {
            UpdateButtons();
            return;
        }
        script->SetRunState(ScriptRunning);
    }
    GamePaused = false;
    UpdateButtons();
}

std::vector<ScriptDebuggerPanel::StackEntry> ScriptDebuggerPanel::CallStack() const {
    std::vector<StackEntry> entries;
    Script* owner = GetShownScript();
    const ScriptContext* context = owner ? owner->GetContext() : nullptr;
    if (!context || context->IsIdle()) {
        return entries;
    }
    // Only instances known to live are read: the owner, and callers whose serials check out.
    const Script* instance = context->GetCurrentInstance() == owner ? owner : nullptr;
    uint32_t position = context->GetPosition();
    const auto& frames = context->Frames();
    for (size_t i = frames.size(); i-- > 0;) {
        const ScriptCallFrame& frame = frames[i];
        const ScriptResource* program = instance ? instance->GetProgram() : nullptr;
        StackEntry entry;
        if (program && program != owner->GetProgram()) {
            entry.label = program->GetScriptName() + ".";
        }
        const int function =
            program ? program->FindIdentifierByTypeAndOffset(TypeFunction, frame.entry) : -1;
        entry.label +=
            function >= 0 ? program->GetSymbols().globals[static_cast<size_t>(function)].name + "()"
                          : std::string("unknown function");
        if (program && program->HasLineTable()) {
            entry.line = program->GetSourceLine(position);
            // "line N", or "FILE:LINE" for a program with source lines.
            entry.label.append(" ").append(program->DescribeOffset(position));
        }
        // Lines of another program are not in the source shown.
        if (program != owner->GetProgram()) {
            entry.line = -1;
        }
        entries.push_back(std::move(entry));
        position = frame.returnPosition - 1;
        instance = frame.caller && IsAlive(frame.callerSerial) ? frame.caller : nullptr;
    }
    return entries;
}

void ScriptDebuggerPanel::Draw(UiLayer& layer, int32_t top) {
    EditorPanel* dock = GetDock();
    if (!dock || !dock->IsVisible()) {
        return;
    }
    if (GetSource().data() != indexedData_ || GetSource().size() != indexedSize_) {
        RebuildLines();
    }
    UpdateButtons();
    const Int2 origin = dock->GetOrigin();
    const Int2 size = dock->GetSize();
    if (size.x <= 0 || size.y <= 0) {
        return;
    }
    ImGui::SetNextWindowPos(ImVec2(float(origin.x), float(origin.y + top)));
    ImGui::SetNextWindowSize(ImVec2(float(size.x), float(size.y)));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    const bool open =
        ImGui::Begin("##debug", nullptr,
                     ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                         ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::PopStyleVar();
    if (open) {
        layer.NameCurrentWindow("debug");
        ImGui::BeginGroup();
        DrawScriptList(layer);
        DrawCallStack(layer);
        ImGui::EndGroup();
        ImGui::SameLine();
        DrawButtons(layer);
        DrawSource(layer, ColumnWidth);
    }
    ImGui::End();
}

void ScriptDebuggerPanel::DrawScriptList(UiLayer& layer) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("Script:");
    ImGui::SameLine(LabelWidth);
    ImGui::SetNextItemWidth(ListWidth);
    Script* shown = GetShownScript();
    const std::string preview = shown ? UiText(shown->GetDisplayName()) : std::string();
    // Named only while closed: an open list's popup becomes the last item.
    if (!ImGui::BeginCombo("##1056", preview.c_str())) {
        layer.NameLastItem("debug:1056");
        return;
    }
    uint64_t chosen = 0;
    const auto scripts = SceneScripts();
    for (size_t i = 0; i < scripts.size(); ++i) {
        ImGui::PushID(static_cast<int>(i));
        if (ImGui::Selectable(scripts[i].first.c_str(),
                              shown && shown->GetSerial() == scripts[i].second)) {
            chosen = scripts[i].second;
        }
        layer.NameLastItem("debug:1056:" + std::to_string(i));
        ImGui::PopID();
    }
    ImGui::EndCombo();
    if (auto* script = dynamic_cast<Script*>(Entity::FindBySerial(chosen))) {
        ShowScript(*script);
    }
}

void ScriptDebuggerPanel::DrawCallStack(UiLayer& layer) {
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("Callstack:");
    ImGui::SameLine(LabelWidth);
    ImGui::SetNextItemWidth(ListWidth);
    ImGui::BeginDisabled(!IsCallStackEnabled());
    const std::vector<StackEntry> entries =
        IsCallStackEnabled() ? CallStack() : std::vector<StackEntry>();
    const char* preview = entries.empty() ? "" : entries.front().label.c_str();
    if (ImGui::BeginCombo("##1019", preview)) {
        for (size_t i = 0; i < entries.size(); ++i) {
            ImGui::PushID(static_cast<int>(i));
            if (ImGui::Selectable(entries[i].label.c_str(), false) && entries[i].line > 0) {
                requestedLine_ = entries[i].line;
            }
            layer.NameLastItem("debug:1019:" + std::to_string(i));
            ImGui::PopID();
        }
        ImGui::EndCombo();
    } else {
        layer.NameLastItem("debug:1019");
    }
    ImGui::EndDisabled();
}

void ScriptDebuggerPanel::DrawButtons(UiLayer& layer) {
    ImGui::BeginGroup();
    ImGui::TextUnformatted("Breakpoints");
    // Toggle acts on the press: the click itself takes the keyboard from the source view,
    // which would disable the button before its release.
    const bool toggleEnabled = IsToggleEnabled();
    ImGui::BeginDisabled(!toggleEnabled);
    ImGui::Button("Toggle");
    const bool toggled = toggleEnabled && ImGui::IsItemActivated();
    layer.NameLastItem("debug:1051");
    ImGui::EndDisabled();
    ImGui::BeginDisabled(!IsStepEnabled());
    const bool step = ImGui::Button("Step");
    layer.NameLastItem("debug:1053");
    ImGui::SameLine();
    const bool resume = ImGui::Button("Resume");
    layer.NameLastItem("debug:1055");
    ImGui::EndDisabled();
    ImGui::EndGroup();
    if (toggled && caretLine_ > 0) {
        ToggleBreakpoint(caretLine_);
    }
    if (step) {
        StepLine();
    } else if (resume) {
        Resume();
    }
}

void ScriptDebuggerPanel::DrawSource(UiLayer& layer, float columnWidth) {
    const ImVec2 start = ImGui::GetCursorScreenPos();
    const ImVec2 room = ImGui::GetContentRegionAvail();
    const float spacing = ImGui::GetStyle().ItemSpacing.x;
    const float height = std::max(room.y, 1.0f);
    Script* script = GetShownScript();
    const int current = script ? script->GetCurrentLine() : -1;

    // The source view first: the column takes the rows it placed.
    struct Row {
        int line;
        float y;
    };
    std::vector<Row> rows;
    ImGui::SetCursorScreenPos(ImVec2(start.x + columnWidth + spacing, start.y));
    ImGui::BeginChild("##1078", ImVec2(std::max(room.x - columnWidth - spacing, 1.0f), height),
                      true, ImGuiWindowFlags_HorizontalScrollbar);
    const float step = ImGui::GetTextLineHeightWithSpacing();
    int target = requestedLine_;
    if (target <= 0 && current > 0 && current != scrolledTo_) {
        target = current;
    }
    if (target > 0) {
        // The line in the middle of the view, as far as the text allows.
        ImGui::SetScrollY(std::max(0.0f, float(target - 1) * step - ImGui::GetWindowHeight() / 2));
        scrolledTo_ = target;
        requestedLine_ = -1;
    }
    ImGuiListClipper clipper;
    clipper.Begin(static_cast<int>(lines_.size()), step);
    while (clipper.Step()) {
        for (int i = clipper.DisplayStart; i < clipper.DisplayEnd; ++i) {
            const int line = i + 1;
            const ImVec2 at = ImGui::GetCursorScreenPos();
            rows.push_back({line, at.y});
            if (line == current) {
                ImGui::GetWindowDrawList()->AddRectFilled(
                    at, ImVec2(at.x + ImGui::GetWindowWidth(), at.y + step), CurrentLineColor);
            }
            ImGui::PushID(i);
            if (ImGui::Selectable("##line", line == caretLine_)) {
                caretLine_ = line;
            }
            layer.NameLastItem("debug:1078:" + std::to_string(line));
            ImGui::PopID();
            ImGui::SetCursorScreenPos(at);
            ImGui::TextUnformatted(DisplayLine(lines_[static_cast<size_t>(i)]).c_str());
        }
    }
    SetSourceFocused(ImGui::IsWindowFocused());
    ImGui::EndChild();
    layer.NameLastItem("debug:1078");

    // The narrow column: line numbers, a mark for each breakpoint, an arrow at the current line.
    ImGui::SetCursorScreenPos(start);
    ImGui::Dummy(ImVec2(columnWidth, height));
    layer.NameLastItem("debug:1080");
    ImDrawList& draw = *ImGui::GetWindowDrawList();
    const ImVec2 min = start;
    const ImVec2 max(start.x + columnWidth, start.y + height);
    draw.AddRect(min, max, ImGui::GetColorU32(ImGuiCol_Border));
    draw.PushClipRect(min, max, true);
    const ImU32 textColor = ImGui::GetColorU32(ImGuiCol_Text);
    const float radius = ImGui::GetTextLineHeight() * 0.3f;
    for (const Row& row : rows) {
        const std::string number = std::to_string(row.line);
        const float width = ImGui::CalcTextSize(number.c_str()).x;
        draw.AddText(ImVec2(max.x - 4.0f - width, row.y), textColor, number.c_str());
        const float middle = row.y + ImGui::GetTextLineHeight() * 0.5f;
        if (HasBreakpoint(row.line)) {
            draw.AddCircleFilled(ImVec2(min.x + 4.0f + radius, middle), radius, BreakpointColor);
        }
        if (row.line == current) {
            draw.AddTriangleFilled(ImVec2(min.x + 2.0f, middle - radius),
                                   ImVec2(min.x + 2.0f, middle + radius),
                                   ImVec2(min.x + 2.0f + radius * 2.0f, middle), textColor);
        }
    }
    draw.PopClipRect();
}

} // namespace quarn
