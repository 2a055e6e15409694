#include "app/player/SceneCommands.h"

#include "app/editor/EditorMenus.h"
#include "app/editor/EditorSettings.h"
#include "app/platform/Platform.h"
#include "app/player/Engine.h"
#include "core/debug/Log.h"
#include "core/debug/Profiler.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/IdMap.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "editor/UndoHistory.h"
#include "resources/Resource.h"
#include "resources/ResourceRegistry.h"
#include "resources/TextureAtlas.h"

#include <vector>

namespace quarn {

namespace {

// File-dialog filters: name and patterns, each ended by a zero byte, the list by an empty text.
constexpr char OpenFilter[] = "Quarn Scene\0*.txt;*.scene;*.scn\0";
constexpr char SaveFilter[] = "Quarn Scene\0*.txt;*.scene\0";
constexpr const char* GameSettingsName = "game_cfg.txt";
constexpr const char* StandaloneCopy = "standalone.scene";
constexpr int AutosaveSlots = 3;

struct SceneState {
    std::string currentPath;
    bool standalonePlay = false;
    int autosaveSlot = 0;
    SceneProgressCallback progress = nullptr;
    // Resources kept alive while one scene gives way to another.
    std::vector<Resource*> held;
};

SceneState& State() {
    static SceneState state;
    return state;
}

// The scene root is the root of id system 0, where picking and drawing find it.
void SetSceneRoot(Node* root) {
    TheIdMap().SetSceneRoot(0, root);
}

void ClearUnsavedChanges() {
    if (UndoHistory* history = GetUndoHistory()) {
        history->SetUnsavedChanges(false);
    }
}

// False when the user cancels or the save they asked for fails; the scene may go otherwise.
bool OfferToSaveChanges() {
    UndoHistory* history = GetUndoHistory();
    if (!history || !history->HasUnsavedChanges() || GameRunning) {
        return true;
    }
    switch (GetPlatform()->ShowChoiceDialog("Save?", "Scene has changed! Do you want to save?",
                                            "Yes#No#Cancel")) {
    case 0:
        return SaveScene(State().currentPath.c_str(), SaveCurrent);
    case 2:
        return false;
    default:
        return true;
    }
}

void EndProcessWhenSceneLoaded() {
    if (GetSceneRoot()) {
        ExitProgram();
    }
}

// What one scene leaves behind when it goes: its unsaved changes, its ids, and the profiler's
// period it was measured in.
void ForgetScene() {
    ClearUnsavedChanges();
    TheIdMap().Clear();
    Profiler().ClosePeriod();
}

// A folder as the file dialogs remember it: relative to the base folder where possible.
void RememberSceneFolder(const std::string& path) {
    FileSystem& files = *GetFileSystem();
    SetFolderSetting("scene", files.GetFolderPart(files.GetRelativePath(path.c_str())).Text());
}

void HoldAllResources() {
    ForEachResource([](Resource& resource) {
        resource.AddReference();
        resource.ChangeId(0);
        State().held.push_back(&resource);
    });
}

void ReleaseHeldResources() {
    std::vector<Resource*> held = std::move(State().held);
    State().held.clear();
    for (Resource* resource : held) {
        resource->Release();
    }
}

void SendStartSignals() {
    SendSignal("quarn_start", nullptr, true);
    SendSignal("start", nullptr, true);
}

// A game's "resource_path": "." (or none in the main settings) is the game settings' own
// folder, ".." keeps the base folder, anything else is taken from the base folder.
void MoveBaseFolder(const std::string& gameFolder, const char* resourcePath) {
    FileSystem& files = *GetFileSystem();
    std::string path = GetMainSettings().HasKey("resource_path") ? resourcePath : ".";
    if (path == "..") {
        return;
    }
    PathString base;
    if (!files.GetNativePath(base, path == "." ? gameFolder.c_str() : path.c_str())) {
        LogMessage("Resource path '%s' is too long; the base folder stays", path.c_str());
        return;
    }
    std::string before = files.GetBaseFolder();
    files.SetBaseFolder(base.Text());
    if (before != files.GetBaseFolder()) {
        LogMessage("Base folder is now '%s'", files.GetBaseFolder());
    }
}

// The nearest "game_cfg.txt" in the scene's folder or above it (never the base folder itself)
// overrides the main settings, and may move the base folder.
void ReadGameSettings(const char* absoluteScene) {
    FileSystem& files = *GetFileSystem();
    SettingsFile& config = GetMainSettings();
    std::string found;
    for (PathString folder = files.GetFolderPart(files.GetRelativePath(absoluteScene));
         folder.Length() > 0; folder = files.GetFolderPart(folder.Text())) {
        std::string candidate = std::string(folder.Text()) + GameSettingsName;
        // A path that does not fit would be cut into another file's name: not there.
        if (candidate.size() < PathString::Size() && files.Exists(candidate.c_str())) {
            found = folder.Text();
            break;
        }
    }
    std::string path = found + GameSettingsName;
    if (found.empty() || CompareNoCase(files.GetRelativePath(path.c_str()),
                                       files.GetRelativePath(config.GetPath())) == 0) {
        return;
    }
    SettingsFile game(path.c_str());
    LogMessage("Game settings read from '%s'", path.c_str());
    for (int index = 0; index < game.GetCount(); ++index) {
        const char* key = game.GetKeyAt(index);
        // The player stays the player until there is an editor to switch to.
        if (CompareNoCase(key, "standalone") != 0) {
            config.SetString(key, game.GetString(key));
        }
    }
    config.SetString("base_dir", found.c_str());
    CopyLanguageCode();

    // Named before the base folder moves: the list lies beside the settings file.
    PathString atlases;
    bool hasAtlases = files.GetNativePath(atlases, (found + "atlases.txt").c_str()) &&
                      files.Exists(atlases.Text());
    MoveBaseFolder(found, game.GetString("resource_path"));
    if (hasAtlases) {
        LoadTextureAtlasList(atlases.Text());
    }
}

void SaveAndCopy(const char* path) {
    if (!SaveScene(path, SaveCurrent)) {
        return;
    }
    std::string saved = State().currentPath;
    AddRecentFile(saved.c_str());
    RefreshMainMenu();
    SaveScene(saved.c_str(), SaveCompactCopy);
}

} // namespace

const std::string& GetCurrentScenePath() {
    return State().currentPath;
}

bool IsStandalonePlay() {
    return State().standalonePlay;
}

bool OpenScene(const char* path, uint32_t flags) {
    FileSystem& files = *GetFileSystem();
    std::string chosen = path ? path : "";
    if (chosen.empty()) {
        chosen = GetPlatform()->FileDialog(OpenFilter, true, GetFolderSetting("scene").c_str());
        if (chosen.empty()) {
            return false;
        }
        RememberSceneFolder(chosen);
    }
    if (!OfferToSaveChanges()) {
        return false;
    }
    EndProcessWhenSceneLoaded();
    ForgetScene();

    PathString absolute;
    Node* root = nullptr;
    if (!files.GetNativePath(absolute, chosen.c_str())) {
        LogMessage("Scene path is too long: '%s'", chosen.c_str());
    } else {
        ReadGameSettings(absolute.Text());
        uint32_t readerFlags = SceneKeepUnmappedIds;
        if (flags & OpenRawIds) {
            readerFlags |= SceneRawIds;
        }
        if (flags & OpenNativeClasses) {
            readerFlags |= SceneNativeClasses;
        }
        if (CompareNoCase(GetPathExtension(absolute.Text()).c_str(), "scn") == 0) {
            readerFlags |= SceneCompact;
        }
        std::string previous = State().currentPath;
        if (flags & OpenSetsCurrentPath) {
            State().currentPath = absolute.Text();
        }
        root = LoadSceneFile(absolute.Text(), 0, readerFlags, nullptr, nullptr, State().progress);
        if (!root) {
            State().currentPath = previous;
            LogMessage("Scene '%s' could not be loaded", absolute.Text());
        }
    }
    SetSceneRoot(root);
    if (root) {
        SendSignal("loaded", nullptr, true);
        ReportMissingReferences();
        if (flags & OpenSetsCurrentPath) {
            AddRecentFile(absolute.Text());
        }
        if (flags & OpenLogsLoaded) {
            LogMessage("Scene '%s' loaded", absolute.Text());
        }
    }
    if (UndoHistory* history = GetUndoHistory()) {
        history->Restart();
    }
    RefreshMainMenu();
    GetPlatform()->FlashWindow();
    return true;
}

bool CloseScene(bool skipPrompt) {
    if (!skipPrompt && !OfferToSaveChanges()) {
        return false;
    }
    EndProcessWhenSceneLoaded();
    ForgetScene();
    return true;
}

bool SaveScene(const char* path, uint32_t flags) {
    std::string target = path ? path : "";
    if (target.empty()) {
        target = GetPlatform()->FileDialog(SaveFilter, false, GetFolderSetting("scene").c_str());
        if (target.empty()) {
            return false;
        }
        target = WithDefaultExtension(std::move(target), ".scene");
        RememberSceneFolder(target);
    }
    uint32_t writerFlags = SceneWriteRoot | SceneSystemZeroPaths | SceneKeepUnmappedIds;
    if (flags & SaveRawIds) {
        writerFlags |= SceneRawIds;
    }
    if (flags & SaveNativeClasses) {
        writerFlags |= SceneNativeClasses;
    }
    if (flags & SaveCompact) {
        writerFlags |= SceneCompact;
        if (CompareNoCase(GetPathExtension(target.c_str()).c_str(), "scn") != 0) {
            target = ReplaceExtension(target.c_str(), "scn");
        }
    }
    if (flags & SaveQuietly) {
        writerFlags |= SceneIncludeBranches;
    } else if (!SendSignal("quarn_save", nullptr, true)) {
        return false;
    }
    Node* root = GetSceneRoot();
    if (!root) {
        return false;
    }
    ClearFileFailure();
    if (!SaveSceneFile(target.c_str(), *root, 0, writerFlags)) {
        // The saves the user asked for (those that announce their success) announce their
        // failure too, where the user looks: a log line alone goes unseen.
        if (flags & SaveLogsSaved) {
            const std::string text = "Scene '" + target + "' was not saved" + FileFailureSuffix();
            GetPlatform()->ShowChoiceDialog("Save failed", text.c_str(), "OK");
        }
        return false;
    }
    if (flags & SaveSetsCurrentPath) {
        State().currentPath = target;
    }
    if (flags & SaveClearsUnsaved) {
        ClearUnsavedChanges();
    }
    UpdateWindowTitle();
    if (flags & SaveLogsSaved) {
        LogMessage("Scene saved as '%s'", target.c_str());
    }
    return true;
}

void AutosaveScene() {
    Platform& platform = *GetPlatform();
    platform.SetBusyCursor(0.0f);
    const EngineFilesScope engineFiles;
    const std::string path =
        EngineFile(StringFormat("autosave%d.scene", State().autosaveSlot).c_str());
    if (SaveScene(path.c_str(), SaveAutosave)) {
        LogMessage("Scene auto-saved as '%s'", path.c_str());
    } else {
        LogMessage("Scene auto-save as '%s' failed", path.c_str());
    }
    State().autosaveSlot = (State().autosaveSlot + 1) % AutosaveSlots;
    platform.SetBusyCursor(1.0f);
}

void RecoverFromAutosave() {
    const EngineFilesScope engineFiles;
    uint64_t newestTime = 0;
    std::string newest;
    for (int slot = 0; slot < AutosaveSlots; ++slot) {
        const std::string path = EngineFile(StringFormat("autosave%d.scene", slot).c_str());
        uint64_t time = GetFileSystem()->GetFileTime(path.c_str());
        if (time > newestTime) {
            newestTime = time;
            newest = path;
        }
    }
    if (!newest.empty()) {
        OpenScene(newest.c_str(), OpenRecovered);
    }
}

void SaveCurrentScene() {
    SaveAndCopy(State().currentPath.c_str());
}

void SaveSceneAs() {
    SaveAndCopy("");
}

void OpenSceneDialog() {
    OpenScene("", OpenStartScene);
}

void NewScene() {
    GameRunning = false;
    State().standalonePlay = false;
    OpenScene("empty.scene", OpenNewScene);
    State().currentPath.clear();
    RefreshMainMenu();
}

void PlayScene(bool standalone) {
    if (GameRunning || !GetSceneRoot()) {
        RefreshMainMenu();
        return;
    }
    // The one window has the keyboard focus already: there is no other to take it from.
    AutosaveScene();
    const std::string standaloneCopy = EngineFile(StandaloneCopy);
    {
        const EngineFilesScope engineFiles;
        SaveScene(EngineFile("play.scene").c_str(), SavePlayCopy);
        if (standalone) {
            SaveScene(standaloneCopy.c_str(), SaveStandaloneCopy);
        }
    }
    ReloadResources();
    if (SendSignal("play", nullptr, true)) {
        if (standalone) {
            HoldAllResources();
            // Ends the process while the scene is still there, unless the user keeps it.
            if (!CloseScene(false)) {
                ReleaseHeldResources();
                return;
            }
            FileReader reader;
            SceneLoader loader(standaloneCopy.c_str(), 0, SceneKeepUnmappedIds, nullptr, nullptr);
            bool opened = false;
            {
                const EngineFilesScope engineFiles;
                opened = reader.Open(standaloneCopy.c_str(), false, false);
            }
            SetSceneRoot(opened ? loader.Load(reader) : nullptr);
            SendSignal("loaded", nullptr, true);
            ReleaseHeldResources();
            RecordLoadedSceneFile(loader);
        }
        LogMessage("Play...");
        GameRunning = true;
        GamePaused = false;
        State().standalonePlay = standalone;
        SendStartSignals();
    }
    RefreshMainMenu();
}

void PlayWithDialog(uint32_t openFlags) {
    if (GameRunning) {
        return;
    }
    if (Node* root = GetSceneRoot()) {
        const EngineFilesScope engineFiles;
        SaveSceneFile(EngineFile(StandaloneCopy).c_str(), *root, 0,
                      SceneWriteRoot | SceneNativeClasses | SceneSystemZeroPaths |
                          SceneKeepUnmappedIds);
    }
    if (OpenScene("", openFlags)) {
        GameRunning = true;
        GamePaused = false;
        State().standalonePlay = true;
        RefreshMainMenu();
        SendStartSignals();
    }
}

void StopScene() {
    if (!GameRunning) {
        return;
    }
    SendSignal("quarn_stop", nullptr, true);
    LogMessage("Stop...");
    HoldAllResources();
    EndProcessWhenSceneLoaded();
    ForgetScene();
    GameRunning = false;
    GamePaused = false;
    State().standalonePlay = false;
    ReleaseHeldResources();
}

bool ReloadResources() {
    return ReloadAllChangedResources();
}

std::string WithDefaultExtension(std::string path, const char* extension) {
    const size_t slash = path.rfind('/');
    if (path.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos) {
        path += extension;
    }
    return path;
}

void SetLoadProgressCallback(SceneProgressCallback callback) {
    State().progress = callback;
}

void UpdateWindowTitle() {
    std::string title = MainWindowTitle;
    if (!State().currentPath.empty()) {
        title += " (" + State().currentPath + ")";
    }
    if (UndoHistory* history = GetUndoHistory(); history && history->HasUnsavedChanges()) {
        title += "*";
    }
    GetPlatform()->SetWindowTitle(title.c_str());
}

UndoMenuState GetUndoMenuState() {
    UndoMenuState menu;
    if (UndoHistory* history = GetUndoHistory()) {
        menu.undoText += history->GetUndoLabel();
        menu.redoText += history->GetRedoLabel();
        menu.undoEnabled = history->GetPosition() >= 1;
        menu.redoEnabled = history->GetPosition() < history->GetStepCount();
    }
    return menu;
}

} // namespace quarn
