#include "app/editor/EditorUi.h"

#include "app/editor/EditorMenus.h"
#include "app/editor/EditorMessageHook.h"
#include "app/editor/SelectionOutline.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/WindowMessage.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/Picking.h"
#include "device/GpuRenderDevice.h"
#include "editor/EditorSelectionSet.h"
#include "editor/MainFrame.h"
#include "editor/NodeContextMenu.h"
#include "editor/ScriptDebuggerPanel.h"
#include "editor/TextWindows.h"
#include "editor/UiLayer.h"
#include "editor/WindowImage.h"
#include "script/machine/ScriptDebugHooks.h"

#include <SDL.h>
#include <imgui.h>
#include <memory>

namespace quarn {

namespace {

// Live for the run, as the device is.
std::unique_ptr<UiLayer> ui;
std::unique_ptr<WindowImage> windowImage;
std::function<void()> editorWidgets;
TextWindows textWindows;
// Lives until the process ends, as the script machine may still reach it while the scene is
// torn down.
ScriptDebuggerPanel* debuggerPanel = nullptr;
// The UI spans SDL's whole window; the engine's pixels start below the menu bar.
int32_t menuBarHeight = 0;

// The frame lays its bars and edge out in client pixels; the UI's pixels are the window's, the
// menu bar's rows included, so what it paints moves down by them.
void PaintMainFrame(MainFrame& frame) {
    ImDrawList& under = *ImGui::GetBackgroundDrawList();
    ImDrawList& over = *ImGui::GetForegroundDrawList();
    const int underFirst = under.VtxBuffer.Size;
    const int overFirst = over.VtxBuffer.Size;
    frame.Paint(under, over);
    const auto dy = static_cast<float>(menuBarHeight);
    for (int i = underFirst; i < under.VtxBuffer.Size; ++i) {
        under.VtxBuffer[i].pos.y += dy;
    }
    for (int i = overFirst; i < over.VtxBuffer.Size; ++i) {
        over.VtxBuffer[i].pos.y += dy;
    }
}

NodeContextMenu nodeMenu;

class ShellSelectionSettings : public SelectionSettingsHost {
public:
    SettingsFile* GetUserSettings() override { return &quarn::GetUserSettings(); }
    std::string GetScenePath() override { return GetCurrentScenePath(); }
};

// A right click in the view while the game is stopped: the node under the pointer (the scene
// root when none is hit) is selected and its menu opens. The mouse gets the click all the same.
void OpenNodeMenuAt(Platform& platform, intptr_t packed) {
    Node* root = GetSceneRoot();
    if (GameRunning || !root) {
        return;
    }
    const Int2 view = platform.GetViewOrigin();
    PickQuery pick;
    Node* node = root;
    if (pick.PickFromScreen(static_cast<float>(LowWord(packed) - view.x),
                            static_cast<float>(HighWord(packed) - view.y)) &&
        pick.best.node) {
        node = pick.best.node;
    }
    const uint64_t serial = node->GetSerial();
    SendSignal("selectnode", static_cast<Entity*>(node), true);
    if (Node* live = FindLiveNode(serial)) {
        nodeMenu.Open(*live);
    }
}

int32_t UiKeyOf(uintptr_t key) {
    switch (key) {
    case SDLK_TAB:
        return ImGuiKey_Tab;
    case SDLK_LEFT:
        return ImGuiKey_LeftArrow;
    case SDLK_RIGHT:
        return ImGuiKey_RightArrow;
    case SDLK_UP:
        return ImGuiKey_UpArrow;
    case SDLK_DOWN:
        return ImGuiKey_DownArrow;
    case SDLK_PAGEUP:
        return ImGuiKey_PageUp;
    case SDLK_PAGEDOWN:
        return ImGuiKey_PageDown;
    case SDLK_HOME:
        return ImGuiKey_Home;
    case SDLK_END:
        return ImGuiKey_End;
    case SDLK_INSERT:
        return ImGuiKey_Insert;
    case SDLK_DELETE:
        return ImGuiKey_Delete;
    case SDLK_BACKSPACE:
        return ImGuiKey_Backspace;
    case SDLK_SPACE:
        return ImGuiKey_Space;
    case SDLK_RETURN:
        return ImGuiKey_Enter;
    case SDLK_ESCAPE:
        return ImGuiKey_Escape;
    case SDLK_KP_ENTER:
        return ImGuiKey_KeyPadEnter;
    case SDLK_a:
        return ImGuiKey_A;
    case SDLK_c:
        return ImGuiKey_C;
    case SDLK_v:
        return ImGuiKey_V;
    case SDLK_x:
        return ImGuiKey_X;
    case SDLK_y:
        return ImGuiKey_Y;
    case SDLK_z:
        return ImGuiKey_Z;
    default:
        return -1;
    }
}

// The modifiers of the event being handled go to the UI ahead of it.
void EventModifiersToUi(UiLayer& layer) {
    const uint16_t mods = GetPlatformEventModifiers();
    layer.Modifiers((mods & KMOD_CTRL) != 0, (mods & KMOD_SHIFT) != 0, (mods & KMOD_ALT) != 0);
}

bool UiMouseMessage(UiLayer& layer, uint32_t message, uintptr_t detail, intptr_t packed) {
    const auto x = static_cast<float>(LowWord(packed));
    const auto y = static_cast<float>(HighWord(packed) + menuBarHeight);
    const bool overUi = layer.WantsMouseAt(x, y);
    layer.MouseMove(x, y);
    switch (message) {
    case MessageMouseMove:
        return false; // the mouse tracks the pointer everywhere
    case MessageMouseWheel:
        if (overUi) {
            layer.MouseWheel(static_cast<float>(HighWord(static_cast<intptr_t>(detail))) /
                             WheelDelta);
        }
        return overUi;
    default:
        break;
    }
    static constexpr struct {
        uint32_t down;
        UiMouseButton button;
    } Buttons[] = {{MessageLeftButtonDown, UiMouseButton::Left},
                   {MessageRightButtonDown, UiMouseButton::Right},
                   {MessageMiddleButtonDown, UiMouseButton::Middle}};
    for (const auto& entry : Buttons) {
        // Down, up and double click follow each other.
        if (message >= entry.down && message <= entry.down + 2) {
            const bool down = message != entry.down + 1;
            // A release always reaches the UI, so no button stays held there.
            if (overUi || !down) {
                EventModifiersToUi(layer);
                layer.MouseButton(entry.button, down, message == entry.down + 2);
            }
            return overUi;
        }
    }
    return false;
}

// Scripts' text windows open on the UI layer, made for them in the player; every other dialog
// takes the platform's road.
class UiDialogs : public DialogHook {
public:
    explicit UiDialogs(DialogHook& platform) : platform_(platform) {}

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override {
        return platform_.ShowMessageBox(text, title, type);
    }
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override {
        return platform_.ShowChoiceBox(title, text, buttons);
    }
    std::string FileDialog(const char* filter, bool open, const char* initialFolder) override {
        return platform_.FileDialog(filter, open, initialFolder);
    }
    bool EnterString(int32_t x, int32_t y, const char* caption, const char* initial,
                     std::string& entered) override {
        return platform_.EnterString(x, y, caption, initial, entered);
    }
    uint32_t OpenTextWindow(int32_t x, int32_t y, const char* caption, const char* text) override {
        if (!ui && !CreateEditorUi()) {
            return platform_.OpenTextWindow(x, y, caption, text);
        }
        const Int2 view = GetEditorViewPlace(*GetPlatform());
        return textWindows.Open({view.x + x, view.y + y}, caption, text);
    }
    void FocusTextWindow(uint32_t window) override { textWindows.Focus(window); }
    std::string GetTextWindowText(uint32_t window) override { return textWindows.Text(window); }
    void DestroyTextWindow(uint32_t window) override { textWindows.Close(window); }

private:
    DialogHook& platform_;
};

std::unique_ptr<UiDialogs> uiDialogs;

} // namespace

void InstallUiDialogs() {
    uiDialogs = std::make_unique<UiDialogs>(*GetDialogHook());
    SetDialogHook(uiDialogs.get());
}

bool CreateEditorUi() {
    auto* device = dynamic_cast<GpuRenderDevice*>(TheRenderDevice());
    if (!device || !device->Gpu()) {
        return false;
    }
    ui = std::make_unique<UiLayer>(*device->Gpu());
    if (auto* sdl = dynamic_cast<SdlPlatform*>(GetPlatform())) {
        menuBarHeight = sdl->GetMenuBarHeight();
    }
    windowImage = std::make_unique<WindowImage>(*device);
    LoadToolbarStrip(*device->Gpu());
    return true;
}

void CreateScriptDebuggerPanel() {
    if (!debuggerPanel && MainFrame::Get()) {
        debuggerPanel = new ScriptDebuggerPanel(*MainFrame::Get());
        // The standalone play shows the game alone, as the player would: no panel to resume a
        // script it stopped.
        SetScriptDebuggerShownHook([] { return !IsStandalonePlay(); });
    }
}

ScriptDebuggerPanel* GetScriptDebuggerPanel() {
    return debuggerPanel;
}

UiLayer* GetEditorUi() {
    return ui.get();
}

intptr_t EditorUiMessageHook(uint32_t message, uintptr_t detail, intptr_t packed) {
    if (!ui) {
        return EditorMessageHook(message, detail, packed);
    }
    if (message >= MessageMouseMove && message <= MessageMouseWheel) {
        const bool overUi = UiMouseMessage(*ui, message, detail, packed);
        if (message == MessageRightButtonDown && !overUi) {
            OpenNodeMenuAt(*GetPlatform(), packed);
        }
        return overUi ? 1 : 0;
    }
    if (message == MessageKeyDown || message == MessageKeyUp) {
        EventModifiersToUi(*ui);
        ui->Key(UiKeyOf(detail), message == MessageKeyDown);
        // A focused text field takes the editor's keys, as a focused edit control did.
        if (ui->WantsKeyboard()) {
            return 0;
        }
    }
    return EditorMessageHook(message, detail, packed);
}

void InstallEditorSelectionSet() {
    // Lives until the process ends: nodes torn down at exit still send signals it hears.
    static auto* selection = new EditorSelectionSet(new ShellSelectionSettings());
    InstallEditorSelection(selection);
}

NodeContextMenu& GetEditorNodeMenu() {
    return nodeMenu;
}

void EditorUiText(const char* utf8) {
    if (ui && utf8) {
        ui->Text(utf8);
    }
}

void ComposeEditorFrame(Platform& platform) {
    if (!ui || !windowImage) {
        return;
    }
    // The player shows its UI only while a script's window is up; otherwise the back buffer.
    if (!EditorRunning && !textWindows.AnyVisible()) {
        if (auto* device = dynamic_cast<GpuRenderDevice*>(TheRenderDevice())) {
            device->SetPresentImage(nullptr);
        }
        return;
    }
    Int2 window;
    if (auto* handle = static_cast<SDL_Window*>(platform.GetWindowHandle())) {
        SDL_GetWindowSize(handle, &window.x, &window.y);
    }
    const Int2 viewPlace = GetEditorViewPlace(platform);
    const Int2 viewSize = platform.GetViewSize();
    const auto widgets = [&window, viewPlace, viewSize] {
        // The frame's edge and bars lie under the menus and the panels' windows.
        if (MainFrame* frame = MainFrame::Get()) {
            PaintMainFrame(*frame);
        }
        DrawSelectionOutlines(viewPlace, viewSize);
        DrawEditorMenus(*ui, static_cast<float>(window.x));
        if (editorWidgets) {
            editorWidgets();
        }
        if (debuggerPanel) {
            debuggerPanel->Draw(*ui, menuBarHeight);
        }
        nodeMenu.Draw(*ui);
        textWindows.Draw(*ui);
    };
    windowImage->Compose(viewPlace, viewSize, window, *ui, FrameTime, widgets);
    SendChosenCommands();
}

void SetEditorWidgets(std::function<void()> widgets) {
    editorWidgets = std::move(widgets);
}

Int2 GetEditorViewPlace(Platform& platform) {
    const Int2 origin = platform.GetViewOrigin();
    return {origin.x, origin.y + menuBarHeight};
}

GpuSurface* GetEditorWindowImage() {
    return windowImage ? windowImage->Surface() : nullptr;
}

} // namespace quarn
