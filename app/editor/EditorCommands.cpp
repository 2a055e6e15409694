#include "app/editor/EditorCommands.h"

#include "app/editor/EditorMenus.h"
#include "app/editor/EditorMessageHook.h"
#include "app/editor/EditorSettings.h"
#include "app/platform/Platform.h"
#include "app/platform/SdlPlatform.h"
#include "app/player/Engine.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SceneGame.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/Signals.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/VersionControl.h"
#include "editor/EditorMenu.h"
#include "editor/Toolbar.h"
#include "editor/UndoHistory.h"
#include "render/lightmap/AtlasAssembly.h"
#include "render/lightmap/LightMapCommands.h"

#include <string>
#include <vector>

namespace quarn {

namespace {

std::vector<CommandHandler>& Handlers() {
    static std::vector<CommandHandler> handlers;
    return handlers;
}

// Command ids of the menu bar.
enum MenuCommand : uint32_t {
    CommandLoad = 40002,
    CommandExit = 40004,
    CommandNew = 40006,
    CommandSave = 40007,
    CommandUndo = 40010,
    CommandRedo = 40011,
    CommandSaveAs = 40012,
    CommandPlay = 40013,
    CommandStop = 40014,
    CommandPause = 40021,
    CommandReloadResources = 40023,
    CommandPlayStandalone = 40024,
    CommandPlayWithDialog = 40044,
    CommandChangeResourcePath = 40066,
    CommandAssembleLightmaps = 40067,
    CommandAbout = 40082,
    CommandRefreshBindings = 40085,
    CommandRecoverFromAutosave = 40104,
    CommandToggleBindings = 40117,
    CommandPlayStandaloneWithDialog = 40125,
    CommandWindow1280 = 40127,
    CommandFullscreen = 40128,
    CommandWindow1024 = 40129,
    CommandWindow640 = 40130,
    CommandCreateLightMaps = 40132,
    CommandUpdateLightMaps = 40134,
    CommandInitLightMaps = 40137,
    CommandSaveLightMaps = 40139,
    // Reached through the toolbar only.
    ToolbarSave = 40026,
    ToolbarPlay = 40030,
    ToolbarStop = 40031,
    ToolbarPause = 40032,
    ToolbarFastForward = 40068,
    ToolbarFullscreenView = 40112,
    ToolbarEditorView = 40124,
};

// Asks the version-control binding's users to look at their files again.
void RefreshVersionControlBindings() {
    if (GetVersionControl()) {
        SendSignal("refresh_vc_bindings", nullptr, true);
    }
}

void Exit() {
    // A cancelled "Save?" keeps the editor; with a scene loaded the process ends in the close.
    if (!CloseScene(IsStandalone())) {
        return;
    }
    if (auto* sdl = dynamic_cast<SdlPlatform*>(GetPlatform())) {
        sdl->PostQuitMessage();
    }
}

void OpenRecentFile(uint32_t id) {
    const std::string key =
        GetKeyWithDigit("recent_file", static_cast<char>('0' + (id - RecentFileCommandBase)));
    OpenRecentScene(GetUserSettings().GetString(key.c_str()));
}

void RunTableCommand(uint32_t id) {
    Platform& platform = *GetPlatform();
    if (id > RecentFileCommandBase && id <= RecentFileCommandBase + MaxRecentFiles) {
        OpenRecentFile(id);
        return;
    }
    switch (id) {
    case CommandNew:
        NewScene();
        break;
    case CommandLoad:
        OpenSceneDialog();
        break;
    case CommandPlayWithDialog:
        PlayWithDialog(OpenStartScene);
        break;
    case CommandPlayStandaloneWithDialog:
        PlayWithDialog(OpenStartScene | OpenNativeClasses);
        break;
    case CommandSave:
        SaveCurrentScene();
        break;
    case CommandSaveAs:
        SaveSceneAs();
        break;
    case CommandRecoverFromAutosave:
        RecoverFromAutosave();
        break;
    case CommandExit:
        Exit();
        break;
    case CommandFullscreen:
        ToggleFullscreenView();
        break;
    case CommandWindow1280:
        platform.SetClientSize(1280, 720);
        break;
    case CommandWindow1024:
        platform.SetClientSize(1024, 600);
        break;
    case CommandWindow640:
        platform.SetClientSize(640, 380);
        break;
    case CommandPlay:
        PlayScene(false);
        break;
    case CommandPlayStandalone:
        PlayScene(true);
        break;
    case CommandStop:
        StopScene();
        break;
    case CommandPause:
        SetGamePaused(!GamePaused);
        break;
    case CommandReloadResources:
        ReloadResources();
        break;
    case CommandChangeResourcePath:
        ChangeResourcePath();
        break;
    case CommandRefreshBindings:
    case CommandToggleBindings:
        RefreshVersionControlBindings();
        break;
    case CommandCreateLightMaps:
        CreateLightMaps();
        break;
    case CommandInitLightMaps:
        InitLightMaps();
        break;
    case CommandUpdateLightMaps:
        UpdateLightMaps();
        break;
    case CommandSaveLightMaps:
        SaveLightMaps();
        break;
    case CommandAssembleLightmaps:
        AssembleLightmapsCommand();
        break;
    case CommandAbout:
        platform.ShowAboutDialog();
        break;
    case CommandUndo:
        if (UndoHistory* history = GetUndoHistory()) {
            history->Undo();
        }
        break;
    case CommandRedo:
        if (UndoHistory* history = GetUndoHistory()) {
            history->Redo();
        }
        break;
    default:
        // The rest have no behaviour.
        break;
    }
}

} // namespace

void RegisterCommandHandler(uint32_t, int32_t, const char*, const char*, CommandHandler handler) {
    if (handler) {
        Handlers().push_back(handler);
    }
}

bool DispatchToolbarCommand(uint32_t id) {
    // Only the toolbar sends ids from its base on and the menu's start far above the button
    // count, so a smaller id never names a button in practice.
    const uint32_t index = id >= ToolbarCommandBase ? id - ToolbarCommandBase : id;
    const std::vector<EditorToolbarButton>& buttons = GetToolbarButtons();
    if (index >= buttons.size() || !buttons[index].handler) {
        return false;
    }
    const EditorToolbarButton& button = buttons[index];
    return button.handler(button.value, ToolbarExecute) != 0;
}

bool IsMenuOrToolbarCommand(uint32_t id) {
    static const Menu table = MakeMainMenu();
    const std::vector<EditorToolbarButton>& buttons = GetToolbarButtons();
    if (table.Find(id)) {
        return true;
    }
    const uint32_t index = id - ToolbarCommandBase;
    return id >= ToolbarCommandBase && index < buttons.size() && buttons[index].handler;
}

void DispatchCommand(uint32_t id) {
    if (DispatchToolbarCommand(id)) {
        return;
    }
    // A handler may register another; the list is walked by index.
    for (size_t index = 0; index < Handlers().size(); ++index) {
        if (Handlers()[index](id, 0)) {
            return;
        }
    }
    RunTableCommand(id);
}

int32_t ToolbarCommandHandler(int32_t command, int32_t query) {
    Platform& platform = *GetPlatform();
    const bool running = GameRunning;
    switch (command) {
    case ToolbarSave:
        if (query == ToolbarExecute) {
            SaveCurrentScene();
            return 1;
        }
        return query == ToolbarIsEnabled && GetSceneRoot() && !running ? 1 : 0;
    case ToolbarPlay:
        if (query == ToolbarExecute) {
            PlayScene(false); // does nothing while the game runs
            return 1;
        }
        return query == ToolbarIsEnabled || (query == ToolbarIsChecked && running);
    case ToolbarStop:
        if (query == ToolbarExecute) {
            StopScene();
            return 1;
        }
        return query == ToolbarIsEnabled && running;
    case ToolbarPause:
        if (query == ToolbarExecute) {
            SetGamePaused(!GamePaused);
            return 1;
        }
        return (query == ToolbarIsEnabled && running) || (query == ToolbarIsChecked && GamePaused);
    case ToolbarFastForward:
        // Held, not clicked: the frame reads the button's state.
        return query == ToolbarIsEnabled && running;
    case ToolbarFullscreenView:
        if (query == ToolbarExecute) {
            ToggleFullscreenView();
            return 1;
        }
        return query == ToolbarIsEnabled ||
               (query == ToolbarIsChecked && platform.TestWindowState(WindowFullMonitor) != 0);
    case ToolbarEditorView:
        if (query == ToolbarExecute) {
            ToggleEditorView();
            return 1;
        }
        return query == ToolbarIsEnabled ||
               (query == ToolbarIsChecked && platform.QueryActivePanel());
    default:
        return 0;
    }
}

void ToggleEditorView() {
    Platform& platform = *GetPlatform();
    if (platform.GetCapabilities() & PlatformHasEditor) {
        platform.SetEditorView(!platform.QueryActivePanel());
    }
}

void ChangeResourcePath() {
    SettingsFile& user = GetUserSettings();
    std::string folder = GetPlatform()->BrowseForFolder("Choose new resource path...",
                                                        user.GetString("resource_path"));
    if (folder.empty()) {
        return;
    }
    // Folders end in '/' here, where the engine's paths have always used '/'.
    folder += '/';
    // The user's choice, unlike a game's own settings, moves the game's reach along; a folder
    // without a "config.txt" is a game for reading, as a scene's is.
    FileSystem& files = *GetFileSystem();
    files.SetBaseFolder(folder.c_str());
    files.SetGameRoot(folder.c_str());
    files.SetGameReadOnly(!FolderGame(files, folder).configured);
    user.SetString("resource_path", folder.c_str());
}

void AssembleLightmapsCommand() {
    static constexpr char Filter[] = "Quarn lightmaps\0*.bmp;*.jpg\0";
    const std::string initial = GetFolderSetting("lightmaps");
    std::string path = GetPlatform()->FileDialog(Filter, false, initial.c_str());
    if (path.empty()) {
        return;
    }
    path = WithDefaultExtension(std::move(path), ".bmp");
    FileSystem& files = *GetFileSystem();
    SetFolderSetting("lightmaps", files.GetFolderPart(files.GetRelativePath(path.c_str())).Text());
    AssembleLightMapAtlas(path.c_str(), "lightmap");
}

} // namespace quarn
