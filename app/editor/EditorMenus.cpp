#include "app/editor/EditorMenus.h"

#include "app/editor/EditorCommands.h"
#include "app/editor/EditorSettings.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/WindowMessage.h"
#include "app/player/Engine.h"
#include "app/player/SceneCommands.h"
#include "codecs/PngDecoder.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "editor/EditorMenu.h"
#include "editor/MenuWidgets.h"
#include "editor/Toolbar.h"
#include "editor/UiLayer.h"
#include "editor/UndoHistory.h"
#include "gpu/GpuLayer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace quarn {

namespace {

// Live for the run once made, as the window's menu was.
std::unique_ptr<Menu> menuBar;
int32_t fastForwardIndex = -1;
// Clicked in the UI frame, sent after it: a command may open a scene or end the program, which
// must not happen while the frame's image is being drawn.
std::vector<uint32_t> chosenCommands;
std::unique_ptr<GpuTexture> toolbarStrip;
Int2 toolbarStripSize;

// The toolbar picture strip's bitmap resource number.
constexpr int32_t ToolbarBitmap = 126;

Toolbar* CurrentToolbar() {
    Platform* platform = GetPlatform();
    return platform ? static_cast<Toolbar*>(platform->GetToolbarWindow()) : nullptr;
}

// Undo and Redo stay greyed without an undo history, which only the editor installs.
void ApplyUndoMenu(Menu& menu) {
    menu.Enable(40010, false);
    menu.Enable(40011, false);
    if (!GetUndoHistory()) {
        return;
    }
    const UndoMenuState undo = GetUndoMenuState();
    menu.SetText(40010, undo.undoText);
    menu.SetText(40011, undo.redoText);
    menu.Enable(40010, undo.undoEnabled);
    menu.Enable(40011, undo.redoEnabled);
}

void RefreshMenuStates(Menu& menu) {
    const bool running = GameRunning;
    const bool stoppedWithScene = !running && GetSceneRoot();
    for (uint32_t id : {40013u, 40024u, 40007u, 40012u}) {
        menu.Enable(id, stoppedWithScene);
    }
    menu.Enable(40014, running);
    menu.Enable(40021, running);
    menu.Check(40021, GamePaused);
    for (uint32_t id : {40002u, 40104u, 40080u, 40044u, 40043u}) {
        menu.Enable(id, !running);
    }
    ApplyUndoMenu(menu);
}

void RefreshRecentFiles(Menu& menu) {
    if (menu.Menus().empty()) {
        return;
    }
    SettingsFile& user = GetUserSettings();
    int size = user.HasKey("recent_files") ? user.GetInt("recent_files") : MaxRecentFiles;
    if (size > MaxRecentFiles) {
        size = MaxRecentFiles;
        user.SetInt("recent_files", MaxRecentFiles);
    }
    std::vector<MenuItem>& file = menu.Menus()[0].items;
    // The previous entries (or the placeholders) go; the list is made again.
    file.erase(file.begin() + static_cast<ptrdiff_t>(std::min(file.size(), RecentFilesPosition)),
               file.end());
    for (int n = 1; n <= size; ++n) {
        const std::string key = GetKeyWithDigit("recent_file", static_cast<char>('0' + n));
        if (!user.HasKey(key.c_str())) {
            break;
        }
        file.push_back(MenuCommand(RecentFileCommandBase + static_cast<uint32_t>(n),
                                   user.GetString(key.c_str())));
    }
}

void Choose(uint32_t id) {
    chosenCommands.push_back(id);
}

} // namespace

void CreateEditorMenus() {
    Platform& platform = *GetPlatform();
    if (!(platform.GetCapabilities() & PlatformHasEditor) ||
        GetMainSettings().GetBool("fullscreen") || IsStandalone()) {
        return;
    }
    menuBar = std::make_unique<Menu>(MakeMainMenu());
    const ToolbarHandler handler = ToolbarCommandHandler;
    RegisterToolbarButton(0, 40026, false, "Save", "File", handler);
    RegisterToolbarButton(4, 40030, true, "Play", "Game", handler);
    RegisterToolbarButton(5, 40031, false, "Stop", "Game", handler);
    RegisterToolbarButton(6, 40032, true, "Pause", "Game", handler);
    fastForwardIndex = RegisterToolbarButton(18, 40068, false, "Fast forward", "Game", handler);
    RegisterToolbarButton(13, 40124, true, "Editor view", "View", handler);
    RegisterToolbarButton(40, 40112, true, "Fullscreen view", "View", handler);
    SetToolbarRebuildHook(BuildToolbarFromRegistry);
    BuildToolbarFromRegistry();
    RefreshMainMenu();
}

Menu* GetEditorMenuBar() {
    return menuBar.get();
}

void RefreshMainMenu() {
    if (menuBar) {
        RefreshMenuStates(*menuBar);
        RefreshRecentFiles(*menuBar);
    }
    UpdateWindowTitle();
    RefreshToolbarStates();
}

void UpdateUndoRedoMenu() {
    if (menuBar) {
        ApplyUndoMenu(*menuBar);
    }
    UpdateWindowTitle();
    RefreshToolbarStates();
}

void SetGamePaused(bool paused) {
    GamePaused = paused;
    if (menuBar) {
        RefreshMainMenu();
    }
}

void BuildToolbarFromRegistry() {
    // A player has no menu bar, and its view's place was fixed without a toolbar.
    if (!menuBar) {
        return;
    }
    static constexpr const char* Groups[] = {"File",   "Edit",  "Game", "View",
                                             "Camera", "Layer", "Tools"};
    const std::vector<EditorToolbarButton>& registered = GetToolbarButtons();
    std::vector<ToolbarButton> buttons;
    for (const char* group : Groups) {
        for (size_t index = 0; index < registered.size(); ++index) {
            const EditorToolbarButton& button = registered[index];
            if (button.group == group) {
                buttons.push_back(
                    {button.bitmapIndex, ToolbarCommandBase + static_cast<int32_t>(index),
                     ToolbarStateEnabled, button.toggle ? ToolbarStyleCheck : ToolbarStyleButton});
            }
        }
        buttons.push_back({0, 0, ToolbarStateEnabled, ToolbarStyleSeparator});
    }
    GetPlatform()->CreateToolbar(ToolbarBitmap, buttons.data(),
                                 static_cast<int32_t>(buttons.size()));
    RefreshToolbarStates();
}

void RefreshToolbarStates() {
    Toolbar* toolbar = CurrentToolbar();
    if (!toolbar) {
        return;
    }
    const std::vector<EditorToolbarButton>& registered = GetToolbarButtons();
    for (size_t index = 0; index < registered.size(); ++index) {
        const EditorToolbarButton& button = registered[index];
        if (button.handler) {
            const int32_t id = ToolbarCommandBase + static_cast<int32_t>(index);
            toolbar->EnableButton(id, button.handler(button.value, ToolbarIsEnabled) != 0);
            toolbar->CheckButton(id, button.handler(button.value, ToolbarIsChecked) != 0);
        }
    }
}

bool IsToolbarButtonPressed(int32_t index) {
    Toolbar* toolbar = CurrentToolbar();
    return toolbar && index >= 0 && toolbar->IsButtonPressed(ToolbarCommandBase + index);
}

std::string GetToolbarTooltip(int32_t id) {
    const std::vector<EditorToolbarButton>& registered = GetToolbarButtons();
    const int64_t index = static_cast<int64_t>(id) - ToolbarCommandBase;
    if (index < 0 || index >= static_cast<int64_t>(registered.size())) {
        return {};
    }
    return registered[static_cast<size_t>(index)].label;
}

int32_t GetFastForwardButton() {
    return fastForwardIndex;
}

bool LoadToolbarStrip(GpuDevice& gpu) {
    static constexpr const char* Path = "res://toolbar.png";
    std::unique_ptr<File> file = GetFileSystem()->Open(Path, 0);
    std::vector<uint8_t> bytes(file ? file->GetSize() : 0);
    std::vector<uint8_t> pixels;
    PngDecoder decoder;
    if (!bytes.empty() &&
        file->Read(bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size()) {
        decoder.Decode(pixels, bytes.data(), bytes.size());
    }
    const uint32_t width = decoder.GetInfo().width;
    const uint32_t height = decoder.GetInfo().height;
    if (pixels.empty()) {
        LogMessage("Toolbar pictures '%s' could not be read", Path);
        return false;
    }
    std::unique_ptr<GpuTexture> texture =
        gpu.CreateTexture(width, height, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    GpuLockedRect locked;
    if (!texture ||
        texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0) != GpuResult::Ok) {
        return false;
    }
    for (uint32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.bits) +
                                                static_cast<ptrdiff_t>(y) * locked.pitch);
        const uint8_t* rgba = pixels.data() + static_cast<size_t>(y) * width * 4;
        for (uint32_t x = 0; x < width; ++x, rgba += 4) {
            row[x] = static_cast<uint32_t>(rgba[3]) << 24 | static_cast<uint32_t>(rgba[0]) << 16 |
                     static_cast<uint32_t>(rgba[1]) << 8 | rgba[2];
        }
    }
    texture->UnlockRect(0, GpuCubeFace::PositiveX);
    toolbarStrip = std::move(texture);
    toolbarStripSize = {static_cast<int32_t>(width), static_cast<int32_t>(height)};
    return true;
}

void DrawEditorMenus(UiLayer& ui, float windowWidth) {
    if (menuBar) {
        DrawMenuBar(ui, *menuBar, Choose);
    }
    Platform& platform = *GetPlatform();
    Toolbar* toolbar = CurrentToolbar();
    if (toolbar && platform.GetToolbarHeight() > 0) {
        const float top = menuBar ? static_cast<float>(UiMenuBarHeight) : 0.0f;
        toolbar->Draw(
            ui, top, windowWidth, toolbarStrip.get(), toolbarStripSize.x, toolbarStripSize.y,
            [](int32_t id) { Choose(static_cast<uint32_t>(id)); }, GetToolbarTooltip);
    }
}

void SendChosenCommands() {
    std::vector<uint32_t> commands;
    commands.swap(chosenCommands);
    auto* sdl = dynamic_cast<SdlPlatform*>(GetPlatform());
    for (uint32_t id : commands) {
        if (sdl) {
            sdl->SendWindowMessage(MessageCommand, id, 0);
        }
    }
}

} // namespace quarn
