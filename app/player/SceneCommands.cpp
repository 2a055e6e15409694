#include "app/player/SceneCommands.h"

#include "app/editor/EditorMenus.h"
#include "app/editor/EditorSettings.h"
#include "app/platform/Platform.h"
#include "app/player/Engine.h"
#include "core/debug/Log.h"
#include "core/debug/Profiler.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileStamp.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SceneGame.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/IdMap.h"
#include "core/object/IdPath.h"
#include "core/object/Signals.h"
#include "core/os/Dialogs.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneReferences.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "editor/UndoHistory.h"
#include "resources/Branch.h"
#include "resources/Resource.h"
#include "resources/ResourceRegistry.h"
#include "resources/TextureAtlas.h"

#include <map>
#include <optional>
#include <span>
#include <vector>

namespace quarn {

namespace {

// File-dialog filters: name and patterns, each ended by a zero byte, the list by an empty text.
constexpr char OpenFilter[] = "Quarn Scene\0*.txt;*.scene;*.scn;*.bscn\0";
constexpr char SaveFilter[] = "Quarn Scene\0*.txt;*.scene\0";
constexpr const char* GameSettingsName = "game_cfg.txt";
constexpr const char* StandaloneCopy = "standalone.scene";
constexpr int AutosaveSlots = 3;
// Files a short load's box names at most; the log names them all.
constexpr size_t MaxToldLines = 8;

// A scene's two forms, made in memory from one tree at one moment; an error says why a form
// could not be made. The edited branch files of that moment go with them.
struct SceneForms {
    std::string text;
    std::string compact;
    std::string textError;
    std::string compactError;
    std::vector<BranchFileSave> branches;
};

struct SceneState {
    std::string currentPath;
    // The file the editor's scene came from, and what its load could not keep as the file has
    // it ("" when it kept it whole): a save over that file asks first.
    std::string loadedFile;
    std::string shortfall;
    bool standalonePlay = false;
    int autosaveSlot = 0;
    SceneProgressCallback progress = nullptr;
    // Resources kept alive while one scene gives way to another.
    std::vector<Resource*> held;
    // The scene files the editor read or wrote, by native path, as it left them: a save over
    // one that another program changed since asks first.
    std::map<std::string, FileStamp> stamps;
    // The scene and its edited branches as they were when Play started with unsaved changes:
    // what a save asked for while the game runs, or as it ends, writes (the running game's
    // state is no edit).
    std::optional<SceneForms> played;
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

bool SaveBothForms(const char* path);
bool SavePlayedScene();

// False when the user cancels or the save they asked for fails; the scene may go otherwise.
// While the game runs the changes asked about are those made before Play.
bool OfferToSaveChanges() {
    UndoHistory* history = GetUndoHistory();
    const bool changed =
        GameRunning ? State().played.has_value() : history && history->HasUnsavedChanges();
    if (!changed) {
        return true;
    }
    switch (GetPlatform()->ShowChoiceDialog("Save?", "Scene has changed! Do you want to save?",
                                            "Yes#No#Cancel")) {
    case 0:
        return GameRunning ? SavePlayedScene() : SaveBothForms(State().currentPath.c_str());
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

// A load the editor does not make is told where the user looks, not ended silently.
void RefuseLoad(const std::string& text) {
    LogMessage("%s", text.c_str());
    ShowMessageBox(text.c_str(), "Load", MessageBoxOk | MessageBoxIconWarning);
}

// The editor edits one scene per run: one scene's nodes, ids and resources give way to
// another's only as the process ends.
bool RefuseSecondScene(const std::string& chosen) {
    if (IsStandalone() || !GetSceneRoot()) {
        return false;
    }
    const std::string open =
        State().currentPath.empty() ? std::string("a scene") : "'" + State().currentPath + "'";
    RefuseLoad((chosen.empty() ? std::string("No other scene is opened")
                               : "'" + chosen + "' is not opened") +
               ": the editor edits one scene per run, and " + open +
               " is open. Start the editor again to open another.");
    return true;
}

std::string NodeLabel(const Node& node) {
    std::string label = "obj" + IdPath::FromId(node.GetId(), 0).Format();
    return node.GetName().empty() ? label : label + " (" + node.GetName() + ")";
}

// A scene is one tree. Its other top-level nodes (a parent line that placed nothing, a second
// root) are left out of the game; the editor hangs them under the root instead, so that a save
// writes every object the load kept. The text says which, "" when there are none.
std::string PlaceOtherTopLevelNodes(const std::vector<Node*>& roots, bool hang) {
    std::vector<uint64_t> others;
    for (size_t index = 1; index < roots.size(); ++index) {
        others.push_back(roots[index]->GetSerial());
    }
    Node* root = roots.empty() ? nullptr : roots[0];
    std::string first;
    int count = 0;
    // By serial: a node's attach tells listeners, which may delete another.
    for (uint64_t serial : others) {
        Node* node = FindLiveNode(serial);
        if (!node || node->GetParent()) {
            continue;
        }
        if (count++ == 0) {
            first = NodeLabel(*node);
        }
        if (hang && root) {
            node->AttachAsLast(root);
        }
    }
    if (count == 0) {
        return "";
    }
    return StringFormat(
        "%d top-level node%s beside its root (the first: %s) %s", count, count == 1 ? "" : "s",
        first.c_str(),
        hang ? (count == 1 ? "is placed under the root" : "are placed under the root")
             : (count == 1 ? "is left out of the game" : "are left out of the game"));
}

// The files a save to `path` writes: the text form under the ".scene" name and the compact form
// under a compact name (".scn", or the ".bscn" a branch's copy opened as a scene has), whichever
// of the two the user named; never text under a compact name.
struct SceneFiles {
    std::string named; // the file the user named, the current path after the save
    std::string twin;  // the other form beside it
    bool namedCompact = false;
};

SceneFiles FilesOfSave(const std::string& path) {
    if (IsCompactSceneName(path.c_str())) {
        return {path, ReplaceExtension(path.c_str(), "scene"), true};
    }
    return {path, ReplaceExtension(path.c_str(), SceneCompactExtension), false};
}

// Whether a save to `target` writes over the file the scene came from, or over its twin in the
// other form.
bool WritesOverLoadedFile(const std::string& target) {
    PathString absolute;
    const std::string& loaded = State().loadedFile;
    if (loaded.empty() || !GetFileSystem()->GetNativePath(absolute, target.c_str())) {
        return false;
    }
    return absolute.Text() == loaded || absolute.Text() == FilesOfSave(loaded).twin;
}

// A scene that did not load whole is written over its file only when the user says so: No,
// the default, keeps the file.
bool MaySaveOverShortFile(const std::string& target) {
    if (State().shortfall.empty() || !WritesOverLoadedFile(target)) {
        return true;
    }
    const std::string text = "'" + State().loadedFile +
                             "' did not load whole: " + State().shortfall +
                             ".\n\nA save writes the scene as the editor holds it. Save over '" +
                             target + "' all the same?";
    const uint32_t question = MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2;
    if (ShowMessageBox(text.c_str(), "Save over a short scene", question) != DialogYes) {
        LogMessage("Scene '%s' is not saved: the file keeps what the editor could not load",
                   target.c_str());
        return false;
    }
    return true;
}

std::string NativePathOf(const std::string& path) {
    PathString native;
    return GetFileSystem()->GetNativePath(native, path.c_str()) ? native.Text() : path;
}

// The file as the editor leaves it now, loaded or written.
void RememberStamp(const std::string& path) {
    State().stamps[NativePathOf(path)] = FileStamp::Of(path);
}

// Whether another program wrote the file (or made it) since the editor last read or wrote it.
// A file the editor never met has nothing of another program's to lose.
bool ChangedOnDisk(const std::string& path) {
    const auto known = State().stamps.find(NativePathOf(path));
    return known != State().stamps.end() && known->second.ChangedOnDisk(path);
}

// Both questions a save over the user's files may ask, for every file it writes.
bool MaySaveOver(const std::vector<std::string>& targets) {
    std::vector<std::string> changed;
    for (const std::string& target : targets) {
        if (ChangedOnDisk(target)) {
            changed.push_back(target);
        }
    }
    return MaySaveOverShortFile(targets.front()) && MaySaveOverChangedFiles(changed, "scene");
}

// What a load could not keep, and the scene's other top-level nodes. Each load logs its own
// losses as it reads; the player logs the nodes it leaves out, and the editor sums it all up in
// the log and in one box with the load's validity reports: a save over the scene's file (which
// then asks first) would write less than the file holds, or another tree.
void TellShortLoad(const std::string& path, const std::string& placed) {
    if (IsStandalone()) {
        if (!placed.empty()) {
            LogMessage("Scene %s: %s", path.c_str(), placed.c_str());
        }
        return;
    }
    std::string& scene = State().shortfall;
    std::vector<std::string> lines;
    for (const auto& [file, lost] : TheSceneLoadState().shortLoads) {
        if (file == path) {
            scene = lost;
        } else {
            lines.push_back("'" + file + "': " + lost);
        }
    }
    if (!placed.empty()) {
        scene += (scene.empty() ? "" : "; ") + placed;
    }
    if (!scene.empty()) {
        lines.insert(lines.begin(), scene);
    }
    const std::string reports = ValidityGathering::Take();
    if (lines.empty()) {
        if (!reports.empty()) {
            ShowMessageBox(reports.c_str(), "Validity check", MessageBoxOk | MessageBoxIconError);
        }
        return;
    }
    // A line each in the log; the box holds the first few, however many branches came short.
    std::string text = "'" + path + "' did not load whole.";
    for (size_t index = 0; index < lines.size(); ++index) {
        LogMessage("Scene '%s' did not load whole: %s", path.c_str(), lines[index].c_str());
        if (index < MaxToldLines) {
            text += "\n" + lines[index] + ".";
        }
    }
    if (lines.size() > MaxToldLines) {
        text += StringFormat("\n(%zu more in the log)", lines.size() - MaxToldLines);
    }
    text += "\n\nA save asks before it writes over a file that did not load whole; a branch "
            "file is written only when its content was edited.";
    if (!reports.empty()) {
        text += "\n\nValidity check: " + reports;
    }
    ShowMessageBox(text.c_str(), "Scene loaded short", MessageBoxOk | MessageBoxIconWarning);
}

// What one scene leaves behind when it goes: its unsaved changes, its ids, and the profiler's
// period it was measured in.
void ForgetScene() {
    ClearUnsavedChanges();
    State().played.reset();
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

// Whether the scene is a copy the engine made in its own folder (an autosave, a play copy): a
// scene of the game in force, which made it.
bool IsEngineCopy(const std::string& scene) {
    const std::string engine = EngineFile("");
    return !engine.empty() && scene.starts_with(engine) &&
           scene.find('/', engine.size()) == std::string::npos;
}

// An autosave names the game it was made of in a note beside it ("autosave0.game"): it lies
// in the engine's folder, which is no game's.
std::string GameNoteOf(const std::string& copy) {
    return ReplaceExtension(copy.c_str(), "game");
}

void NoteGameOf(const std::string& copy) {
    const std::string root = GetFileSystem()->GetGameRoot();
    const EngineFilesScope engineFiles;
    WriteWholeFile(GameNoteOf(copy).c_str(),
                   std::span(reinterpret_cast<const uint8_t*>(root.data()), root.size()), 0);
}

// The game the note beside an engine's copy names; "" without one.
std::string NotedGameOf(const std::string& copy) {
    const EngineFilesScope engineFiles;
    std::unique_ptr<File> note = GetFileSystem()->Open(GameNoteOf(copy).c_str(), 0);
    char root[PathString::Size()];
    const uint32_t got = note ? note->Read(root, sizeof root) : 0;
    // Longer than a path: no note of the engine's.
    return got < sizeof root ? std::string(root, got) : "";
}

// A scene runs as its own game (SceneGame). One the user picked is entered wherever it lies;
// one a game names (its start scene, File/New's) only where it lies inside the game in force,
// so that no game's settings open another game's files. A copy the engine made runs as the game
// its note names, else as the game in force.
void EnterSceneGame(const std::string& scene, uint32_t flags) {
    FileSystem& files = *GetFileSystem();
    const std::string noted = IsEngineCopy(scene) ? NotedGameOf(scene) : "";
    if (IsEngineCopy(scene) && noted.empty()) {
        return;
    }
    const SceneGame game = noted.empty() ? FindSceneGame(files, scene) : FolderGame(files, noted);
    if (game.root == files.GetGameRoot() ||
        (!(flags & OpenUsersFile) && !IsNativeInsideGame(files, scene.c_str()))) {
        return;
    }
    EnterGame(files, game, GetMainSettings(), GetPlatform()->GetAppDataFolder());
    {
        // Made as start-up makes it: a folder not there yet would be no place inside the game.
        const EngineFilesScope engineFiles;
        files.MakeDirectories("user://");
    }
    CopyLanguageCode();
    LogMessage("Game folder is now '%s'", game.root.c_str());
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

// The save dialog's answer, with ".scene" where its file name has no extension; "" when
// cancelled.
std::string AskSavePath() {
    std::string target =
        GetPlatform()->FileDialog(SaveFilter, false, GetFolderSetting("scene").c_str());
    if (!target.empty()) {
        target = WithDefaultExtension(std::move(target), ".scene");
        RememberSceneFolder(target);
    }
    return target;
}

SceneForms MakeForms(Node& root, const std::string& path) {
    constexpr uint32_t flags = SceneWriteRoot | SceneSystemZeroPaths | SceneKeepUnmappedIds;
    const Guid guid = GetSceneGuid(0);
    SceneForms forms;
    WriteSceneBytes(forms.text, forms.textError, path.c_str(), root, guid, 0, nullptr, flags);
    WriteSceneBytes(forms.compact, forms.compactError, path.c_str(), root, guid, 0, nullptr,
                    flags | SceneCompact);
    return forms;
}

// One file of a save, whole or not at all; a failure is shown with its reason.
bool WriteSceneFile(const std::string& path, const std::string& bytes, const std::string& error) {
    ClearFileFailure();
    bool written = false;
    if (!error.empty()) {
        LogMessage("Scene %s is not saved: %s", path.c_str(), error.c_str());
        NoteFileFailure(error.c_str());
    } else {
        // The file the user saves to is theirs, wherever it lies.
        const UserChoiceScope picked;
        written = SaveSceneBytes(path.c_str(), bytes, 0);
    }
    if (!written) {
        const std::string text = "Scene '" + path + "' was not saved" + FileFailureSuffix();
        GetPlatform()->ShowChoiceDialog("Save failed", text.c_str(), "OK");
        return false;
    }
    RememberStamp(path);
    LogMessage("Scene saved as '%s'", path.c_str());
    return true;
}

// Writes a save's two files, each beside its target and renamed over it, so a save cut short
// at any moment leaves each file as it was or as saved. The file the user named comes first and
// decides: once it is written it is the current path and the scene counts as saved; its twin
// that cannot be written is told, and keeps what it held.
bool WriteSceneFiles(const SceneFiles& files, const SceneForms& forms) {
    const bool compact = files.namedCompact;
    if (!WriteSceneFile(files.named, compact ? forms.compact : forms.text,
                        compact ? forms.compactError : forms.textError)) {
        return false;
    }
    State().currentPath = files.named;
    if (WritesOverLoadedFile(files.named)) {
        State().shortfall.clear();
    }
    ClearUnsavedChanges();
    UpdateWindowTitle();
    WriteSceneFile(files.twin, compact ? forms.text : forms.compact,
                   compact ? forms.textError : forms.compactError);
    return true;
}

// Save, Save As and the "Save?" prompt's Yes: the scene in both forms. An empty path asks.
bool SaveBothForms(const char* path) {
    const std::string target = path && *path ? path : AskSavePath();
    if (target.empty() || !GetSceneRoot()) {
        return false;
    }
    const SceneFiles files = FilesOfSave(target);
    // Before "quarn_save", which the branches save on.
    if (!MaySaveOver({files.named, files.twin}) || !SendSignal("quarn_save", nullptr, true)) {
        return false;
    }
    Node* root = GetSceneRoot();
    return root && WriteSceneFiles(files, MakeForms(*root, files.named));
}

// The scene as Play found it, written where Save would write it.
bool SavePlayedScene() {
    const std::string target = State().currentPath.empty() ? AskSavePath() : State().currentPath;
    if (target.empty()) {
        return false;
    }
    const SceneFiles files = FilesOfSave(target);
    // The branches first, as a save while stopped writes them.
    if (!MaySaveOver({files.named, files.twin}) ||
        !Branch::WriteFileSaves(State().played->branches) ||
        !WriteSceneFiles(files, *State().played)) {
        return false;
    }
    State().played.reset();
    return true;
}

void SaveAndCopy(const char* path) {
    // What runs is the game's state, not an edit: the menu greys Save, and its key does
    // nothing either. Stop asks for what was changed before Play.
    if (GameRunning) {
        LogMessage("The scene is not saved while the game runs");
        return;
    }
    if (!SaveBothForms(path)) {
        return;
    }
    AddRecentFile(State().currentPath.c_str());
    RefreshMainMenu();
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
    if (RefuseSecondScene(chosen)) {
        return false;
    }
    if (chosen.empty()) {
        chosen = GetPlatform()->FileDialog(OpenFilter, true, GetFolderSetting("scene").c_str());
        if (chosen.empty()) {
            return false;
        }
        RememberSceneFolder(chosen);
        flags |= OpenUsersFile;
    }
    if (!OfferToSaveChanges()) {
        return false;
    }
    EndProcessWhenSceneLoaded();
    ForgetScene();

    // The load's validity reports come in one box, the editor's with what the load lost.
    const ValidityGathering gathering;
    PathString absolute;
    Node* root = nullptr;
    std::vector<Node*> roots;
    if (!files.GetNativePath(absolute, chosen.c_str())) {
        LogMessage("Scene path is too long: '%s'", chosen.c_str());
    } else {
        EnterSceneGame(absolute.Text(), flags);
        ReadGameSettings(absolute.Text());
        uint32_t readerFlags = SceneKeepUnmappedIds;
        if (flags & OpenRawIds) {
            readerFlags |= SceneRawIds;
        }
        if (flags & OpenNativeClasses) {
            readerFlags |= SceneNativeClasses;
        }
        if (IsCompactSceneName(absolute.Text())) {
            readerFlags |= SceneCompact;
        }
        std::string previous = State().currentPath;
        if (flags & OpenSetsCurrentPath) {
            State().currentPath = absolute.Text();
        }
        FileReader reader;
        {
            const UserChoiceScope picked((flags & OpenUsersFile) != 0);
            ClearFileFailure();
            reader.Open(absolute.Text(), (readerFlags & SceneCompact) != 0, false);
        }
        std::string failure;
        root = LoadSceneFile(reader, absolute.Text(), 0, readerFlags, nullptr, &roots,
                             State().progress, &failure);
        if (!root) {
            State().currentPath = previous;
            LogMessage("Scene '%s' could not be loaded", absolute.Text());
            // The editor waits for another: the user must learn why nothing opened.
            if (!IsStandalone()) {
                const std::string text = std::string("Scene '") + absolute.Text() +
                                         "' could not be loaded: " + failure + ".";
                ShowMessageBox(text.c_str(), "Load", MessageBoxOk | MessageBoxIconError);
            }
        }
    }
    SetSceneRoot(root);
    State().loadedFile = root ? absolute.Text() : "";
    State().shortfall.clear();
    if (root && !IsStandalone()) {
        const SceneFiles files = FilesOfSave(absolute.Text());
        RememberStamp(files.named);
        RememberStamp(files.twin);
    }
    if (root) {
        TellShortLoad(absolute.Text(), PlaceOtherTopLevelNodes(roots, !IsStandalone()));
        SendSignal("loaded", nullptr, true);
        ReportMissingReferences();
        // The player runs a game and the tools look at one: only the editor's list is the
        // user's choice of scenes.
        if ((flags & OpenSetsCurrentPath) && !IsStandalone()) {
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

std::string WhyNotThisGamesScene(const char* path) {
    FileSystem& files = *GetFileSystem();
    PathString absolute;
    if (!path || !*path || !files.GetNativePath(absolute, path)) {
        return "it names no file this game can reach";
    }
    const std::string root = files.GetGameRoot();
    const SceneGame game = FindSceneGame(files, absolute.Text());
    if (game.root == root) {
        return "";
    }
    if (!game.root.starts_with(root)) {
        return "it is not in this game's folder '" + root + "'";
    }
    return "it belongs to the game in '" + game.root + "'";
}

void OpenRecentScene(const char* path) {
    const std::string chosen = path ? path : "";
    if (RefuseSecondScene(chosen)) {
        return;
    }
    // The user's list of scenes, each opened as its own game; a missing entry opens with an
    // empty path, which the open dialog asks for.
    OpenScene(path, OpenStartScene | (chosen.empty() ? 0u : OpenUsersFile));
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
    std::string target = path && *path ? path : AskSavePath();
    if (target.empty()) {
        return false;
    }
    uint32_t writerFlags = SceneWriteRoot | SceneSystemZeroPaths | SceneKeepUnmappedIds;
    if (flags & SaveRawIds) {
        writerFlags |= SceneRawIds;
    }
    if (flags & SaveNativeClasses) {
        writerFlags |= SceneNativeClasses;
    }
    if ((flags & SaveCompact) && !IsCompactSceneName(target.c_str())) {
        target = ReplaceExtension(target.c_str(), SceneCompactExtension);
    }
    // A compact name holds the compact form whatever is asked: no loader reads text there.
    if (IsCompactSceneName(target.c_str())) {
        writerFlags |= SceneCompact;
    }
    // Before "quarn_save", which the branches save on. Autosaves go to the engine's own
    // folder, never over the user's file.
    if (!(flags & SaveQuietly) && GetSceneRoot() && !MaySaveOver({target})) {
        return false;
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
    bool saved = false;
    {
        // Only the scene's own file: the branch files "quarn_save" wrote are the game's.
        std::optional<EngineFilesScope> engineFiles;
        std::optional<UserChoiceScope> picked;
        if (flags & SaveEngineCopy) {
            engineFiles.emplace();
        } else {
            picked.emplace();
        }
        saved = SaveSceneFile(target.c_str(), *root, 0, writerFlags);
    }
    if (!saved) {
        // The saves the user asked for (those that announce their success) announce their
        // failure too, where the user looks: a log line alone goes unseen.
        if (flags & SaveLogsSaved) {
            const std::string text = "Scene '" + target + "' was not saved" + FileFailureSuffix();
            GetPlatform()->ShowChoiceDialog("Save failed", text.c_str(), "OK");
        }
        return false;
    }
    if (State().stamps.contains(NativePathOf(target))) {
        RememberStamp(target);
    }
    if (flags & SaveSetsCurrentPath) {
        State().currentPath = target;
    }
    // The file holds what the editor holds now.
    if (WritesOverLoadedFile(target)) {
        State().shortfall.clear();
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
    const std::string path =
        EngineFile(StringFormat("autosave%d.scene", State().autosaveSlot).c_str());
    if (SaveScene(path.c_str(), SaveAutosave)) {
        NoteGameOf(path);
        LogMessage("Scene auto-saved as '%s'", path.c_str());
    } else {
        LogMessage("Scene auto-save as '%s' failed", path.c_str());
    }
    State().autosaveSlot = (State().autosaveSlot + 1) % AutosaveSlots;
    platform.SetBusyCursor(1.0f);
}

void RecoverFromAutosave() {
    uint64_t newestTime = 0;
    std::string newest;
    {
        const EngineFilesScope engineFiles;
        for (int slot = 0; slot < AutosaveSlots; ++slot) {
            const std::string path = EngineFile(StringFormat("autosave%d.scene", slot).c_str());
            uint64_t time = GetFileSystem()->GetFileTime(path.c_str());
            if (time > newestTime) {
                newestTime = time;
                newest = path;
            }
        }
    }
    // The user asked for it; what the scene names is reached as the game's.
    if (!newest.empty()) {
        OpenScene(newest.c_str(), OpenRecovered | OpenUsersFile);
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
    if (RefuseSecondScene("")) {
        return;
    }
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
    State().played.reset();
    Branch::NameUnsavedContent();
    std::vector<BranchFileSave> branches = Branch::MakeEditedFileSaves();
    if (UndoHistory* history = GetUndoHistory();
        !branches.empty() || (history && history->HasUnsavedChanges())) {
        State().played = MakeForms(*GetSceneRoot(), State().currentPath);
        State().played->branches = std::move(branches);
    }
    AutosaveScene();
    const std::string standaloneCopy = EngineFile(StandaloneCopy);
    SaveScene(EngineFile("play.scene").c_str(), SavePlayCopy);
    // The player's run reads the scene from its file: without the copy there is none to run.
    if (standalone && !SaveScene(standaloneCopy.c_str(), SaveStandaloneCopy)) {
        LogMessage("The scene is not played standalone: its copy '%s' could not be written%s",
                   standaloneCopy.c_str(), FileFailureSuffix().c_str());
        State().played.reset();
        RefreshMainMenu();
        return;
    }
    ReloadResources();
    if (SendSignal("play", nullptr, true)) {
        if (standalone) {
            HoldAllResources();
            // The edited tree gives way to the copy, read back as the player reads a scene; the
            // process goes on, and the edit stays what Stop and a close ask about, as after Play.
            if (Node* edited = GetSceneRoot()) {
                edited->Delete();
            }
            TheIdMap().Clear();
            Profiler().ClosePeriod();
            FileReader reader;
            // Read as the player reads its start scene.
            SceneLoader loader(standaloneCopy.c_str(), 0, SceneKeepUnmappedIds | SceneNativeClasses,
                               nullptr, nullptr);
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
    // The scene it would open could only take the place of one that is open.
    if (GameRunning || RefuseSecondScene("")) {
        return;
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
    // The process ends with the scene: what was changed before Play is asked about first, and a
    // cancel keeps the game running.
    if (!GameRunning || !OfferToSaveChanges()) {
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
