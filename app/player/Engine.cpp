#include "app/player/Engine.h"

#include "app/ClassRegistration.h"
#include "app/dialogs/VersionControlPrompts.h"
#include "app/editor/EditorMenus.h"
#include "app/editor/EditorMessageHook.h"
#include "app/editor/EditorSettings.h"
#include "app/editor/EditorUi.h"
#include "app/editor/UndoRecording.h"
#include "app/input/JoystickDevice.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/Platform.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/ShellScriptApp.h"
#include "app/platform/StopSignal.h"
#include "app/player/InputScript.h"
#include "app/player/LoadScreen.h"
#include "app/player/SceneCommands.h"
#include "app/player/Screenshot.h"
#include "audio/OpenAlAudioSystem.h"
#include "core/debug/Log.h"
#include "core/filesystem/DataFolders.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/filesystem/GameSettings.h"
#include "core/filesystem/SceneGame.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/os/BusyCursor.h"
#include "core/os/EditorToolbar.h"
#include "core/os/MenuRefresh.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "core/scene/Picking.h"
#include "core/scene/Pivot.h"
#include "core/scene/SignalReceiver.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "device/GpuRenderDevice.h"
#include "editor/NodeMenuEntries.h"
#include "editor/UiLayer.h"
#include "editor/UndoHistory.h"
#include "gpu/software/SoftwareDevice.h"
#include "render/ParticleEmitter.h"
#include "resources/DynamicMesh.h"
#include "resources/FontNew.h"
#include "resources/ResourceRegistry.h"
#include "script/machine/ScriptLibrary.h"

#include <SDL.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarn {

namespace {

std::string startUpError;
// Lives for the run, and closes its device as the process ends (OpenAL complains of a device
// left open).
std::unique_ptr<AudioSystem> audioSystem;
bool soundOff = false;
// The loopback the frames drive where no sound is heard; null where a device plays it.
OpenAlAudioSystem* unheardAudio = nullptr;
float fixedStep = 0.0f; // EngineSetup::fixedStep
float autosaveTimer = 0.0f;
// Set when video memory was released for a lost device and not yet restored: a frame that
// resets the device but cannot begin its scene restores in a later one.
bool restorePending = false;
ShellScriptApp scriptApp;
std::function<void()> exitHandler;

void LogToStandardError(const char* channel, const char* text) {
    if (channel && *channel) {
        std::fprintf(stderr, "%s: %s\n", channel, text);
    } else {
        std::fprintf(stderr, "%s\n", text);
    }
}

constexpr int32_t ScreenshotKey = KeyF1 + 10; // F11

constexpr const char* SoundOffText = "sound is off: no sound output could be opened";

// Without a usable output the game runs on silently, and where nothing is heard (no output, or
// OpenAL's null one) the voices play on a loopback the frames mix by their steps: a sound then
// lasts its length in game time, as a run that repeats needs. Bit 2 of the flags is the
// engine's own; the audio system ignores it.
void OpenSoundOutput() {
    constexpr uint32_t Flags = AudioInit3D | 0x4;
    auto output = std::make_unique<OpenAlAudioSystem>();
    soundOff = !output->Init(Flags, 16, 22050, 2);
    if (soundOff || !output->IsHeard()) {
        // One system at a time: the newest is the current one.
        output.reset();
        output = std::make_unique<OpenAlAudioSystem>(AudioOutput::Loopback);
        if (output->Init(Flags, 16, 22050, 2)) {
            unheardAudio = output.get();
        } else {
            soundOff = true;
        }
    }
    audioSystem = std::move(output);
    if (soundOff) {
        LogMessage("%s", SoundOffText);
    }
}

bool HasEnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

bool StartUpFailed(const char* text) {
    GetPlatform()->ShowChoiceDialog("Graphics error", text, "OK");
    startUpError = StringFormat("Graphics error: %s", text);
    return false;
}

// A packaged game ("data.zoo") wins over a folder with a "config.txt", which wins over the
// defaults built into the program. The editor edits the folder it starts in: without a
// "config.txt" it is a game that names no start scene, whose scenes File/Load opens.
void ChooseResourceRoot(FileSystem& files, bool editor) {
    if (files.Exists("data.zoo")) {
        files.SetBaseFolder((std::string(files.GetBaseFolder()) + "data.zoo/").c_str());
    } else if (!editor && !files.Exists("config.txt") && files.Exists("res://config.txt")) {
        files.SetBaseFolder("res://");
    }
}

void PlaceWindow(Platform& platform, const SettingsFile& config) {
    Int2 position(0, 0);
    Int2 size(1024, 768);
    if (!IsStandalone()) {
        // The editor places itself where the user left it; the player where its game says.
        const SettingsFile& user = GetUserSettings();
        if (user.HasKey("editor_windowpos")) {
            position = user.GetInt2("editor_windowpos");
        }
        if (user.HasKey("editor_windowsize")) {
            size = user.GetInt2("editor_windowsize");
        }
    } else if (config.GetBool("fullscreen")) {
        size = platform.GetWorkAreaSize();
    } else {
        if (config.HasKey("editor_windowpos")) {
            position = config.GetInt2("editor_windowpos");
        }
        if (config.HasKey("editor_windowsize")) {
            size = config.GetInt2("editor_windowsize");
        }
    }
    platform.SetWindowPosition(position.x, position.y);
    platform.SetClientSize(size.x, size.y);
}

void ShowMainWindow(Platform& platform) {
    if (auto* window = static_cast<SDL_Window*>(platform.GetWindowHandle())) {
        SDL_ShowWindow(window);
    }
}

void EnterFullMonitorWhenAsked(Platform& platform, const SettingsFile& config) {
    if (config.GetBool("fullscreen")) {
        platform.SetWindowMode(WindowFullMonitor, WindowFullMonitor);
        platform.LayoutMainFrame(0);
    }
}

void ResizeView(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (RenderDevice* device = TheRenderDevice()) {
        device->FitBackBuffer(width, height);
        device->SetPresentRectangle(x, y, width, height);
        device->SetViewport(0, 0, width, height);
    }
}

bool CreateRenderDevice(Platform& platform, const EngineSetup& setup) {
    uint32_t flags = DeviceDepthStencil | DeviceDepthSearchAll;
    if (GetMainSettings().GetBool("screenshot") || !IsStandalone()) {
        flags |= DeviceLockableBackBuffer;
    }
    // The back buffer is as large as the screen, so the window can grow without a reset; a
    // window larger than the screen on one side (or with no screen, without a display) gets
    // its own size there, or it would be drawn only in part.
    Int2 screen = platform.GetScreenSize();
    Int2 view = platform.GetViewSize();
    Int2 size(std::max(screen.x, view.x), std::max(screen.y, view.y));
    GpuDisplayMode mode;
    if (size.x > 0 && size.y > 0) {
        mode.width = static_cast<uint32_t>(size.x);
        mode.height = static_cast<uint32_t>(size.y);
    }
    GpuDeviceFactory gpu = setup.makeGpu
                               ? setup.makeGpu
                               : [](const GpuPresentParameters& parameters, const GpuCaps& caps,
                                    const GpuDisplayMode& display) -> std::unique_ptr<GpuDevice> {
        return SoftwareDevice::Create(parameters, caps, display);
    };
    auto* device = new GpuRenderDevice(std::move(gpu), GpuCaps{}, mode);
    platform.LayoutMainFrame(0);
    if (!device->Create(flags, static_cast<SDL_Window*>(platform.GetWindowHandle()), size.x,
                        size.y)) {
        return StartUpFailed(device->GetErrorText().c_str());
    }
    view = platform.GetViewSize();
    const Int2 origin = platform.GetViewOrigin();
    ResizeView(origin.x, origin.y, view.x, view.y);
    platform.LayoutMainFrame(0);
    return true;
}

// The editor ready for its first command.
void ShowReady() {
    BuildEditorToolbar();
    RefreshMainMenu();
    ShowLoadScreen(1.0f, "Ready");
}

void StartGame(const EngineSetup& setup) {
    if (setup.editor && !setup.editScene.empty()) {
        // Stopped, whatever the game starts with: a game that runs at start can be edited so.
        OpenScene(setup.editScene.c_str(), OpenStartScene | OpenUsersFile);
        ShowReady();
        return;
    }
    SettingsFile& config = GetMainSettings();
    std::string start;
    if (config.HasKey("autorun")) {
        start = config.GetString("autorun");
    } else {
        // The editor's last scene starts only the game it belongs to: run as this folder's
        // game, another game's scripts would read and write this one's files.
        start = GetUserSettings().GetString("recent_file1");
        if (const std::string why = start.empty() ? "" : WhyNotThisGamesScene(start.c_str());
            !why.empty()) {
            LogMessage("Recent file '%s' is not started: %s", start.c_str(), why.c_str());
            start.clear();
        }
        config.SetString("autorun", start.c_str());
    }
    if (start.empty()) {
        return; // no scene: every frame clears to black
    }
    uint32_t flags = OpenStartScene | (IsStandalone() ? OpenNativeClasses : 0u) |
                     (setup.startSceneChosen ? OpenUsersFile : 0u);
    OpenScene(GetFileSystem()->GetRelativePath(start.c_str()), flags);
    // A start scene that could not be read still starts the game: its frames stay black.
    GameRunning = true;
    GamePaused = false;
    SendSignal("quarn_start", nullptr, true);
    SendSignal("start", nullptr, true);
    ShowReady();
}

// Recovers a lost device: false when the frame must be skipped.
bool RecoverLostDevice(Platform& platform, RenderDevice& device) {
    if (device.GetDeviceState() == DeviceState::Lost) {
        SendSignal("releasevideomemory", nullptr, true);
        ReleaseAllVideoMemory();
        restorePending = true;
        if (!device.ResetDevice()) {
            return false;
        }
    }
    if (restorePending) {
        if (!device.BeginScene()) {
            return false;
        }
        RestoreAllVideoMemory();
        SendSignal("restorevideomemory", nullptr, true);
        Int2 view = platform.GetViewSize();
        device.SetViewport(0, 0, view.x, view.y);
        device.EndScene();
        restorePending = false;
        LogMessage("Direct3D device lost - resources restored");
    }
    return true;
}

} // namespace

bool IsStandalone() {
    return GetMainSettings().GetBool("standalone");
}

std::string EngineFile(const char* name) {
    Platform* platform = GetPlatform();
    const std::string folder = platform ? EngineDataFolder(platform->GetAppDataFolder()) : "";
    return folder.empty() ? std::string() : folder + name;
}

void CopyLanguageCode() {
    const SettingsFile& main = GetMainSettings();
    GameSettings& game = GetGameSettings();
    if (main.HasKey("lang_code") && !game.Has("lang_code")) {
        // In memory until the game's next setting is saved; a value read from "config.txt"
        // always fits.
        game.Set("lang_code", main.GetString("lang_code"), false);
    }
}

const std::string& StartUpError() {
    return startUpError;
}

bool InitEngine(const EngineSetup& setup) {
    Platform* platform =
        setup.makePlatform ? setup.makePlatform() : new SdlPlatform(setup.commandLine.c_str());
    SetPlatform(platform);
    fixedStep = setup.fixedStep;
    if (fixedStep > 0.0f) {
        ParticleSeed = &SequenceParticleSeed;
    }
    // The platform shows no text beside the wait cursor.
    SetBusyCursorHook([](float progress, const char*) {
        if (Platform* current = GetPlatform()) {
            current->SetBusyCursor(progress);
        }
    });

    auto* files = new DiskFileSystem();
    SetFileSystem(files);
    // Held once start-up has read the engine's own files.
    HoldGameReachAlways(false);
    if (setup.resourceRoot.empty()) {
        files->SetBaseFolder(platform->GetStartFolder());
        ChooseResourceRoot(*files, setup.editor);
    } else {
        files->SetBaseFolder(setup.resourceRoot.c_str());
    }

    // The game is the root start-up found: its settings, its reach and its own folder.
    SettingsFile& config = GetMainSettings();
    const std::string dataHome = platform->GetAppDataFolder();
    EnterGame(*files, FolderGame(*files, files->GetBaseFolder()), config, dataHome);
    for (const auto& [key, value] : setup.settings) {
        config.SetString(key.c_str(), value.c_str());
    }
    config.SetString("standalone", setup.editor ? "false" : "true");
    EditorRunning = setup.editor;
    // Before the menu texts below ask it for its labels.
    if (setup.editor) {
        InstallUndoHistory();
    } else {
        RemoveUndoHistory();
    }
    if (!dataHome.empty()) {
        files->MakeDirectories(EngineDataFolder(dataHome).c_str());
        files->MakeDirectories("user://");
        LoadUserSettings(EngineFile("init.txt").c_str());
        // Read for the editor's places and lists; never written back by a tool's run.
        if (setup.leaveEngineSettings) {
            GetUserSettings().SetPath("");
        }
    }
    // The editor's too, and a tool's: what a game names stays inside it wherever it runs.
    HoldGameReachAlways(true);

    platform->StartTimer(StartFlagsFromSettings(config));
    // The editor would add its menu bar and toolbar to the window; the player has neither.
    if (!platform->CreateMainWindow(
            MainWindowTitle, 0, 0, 100, 100,
            WindowStyleResizable | WindowStyleClientArea | WindowStyleAcceptFiles, 270)) {
        return StartUpFailed(platform->GetLastErrorText());
    }
    // The editor's menu bar lies outside the client area, as a window's menu bar does.
    if (auto* sdl = dynamic_cast<SdlPlatform*>(platform); sdl && setup.editor) {
        sdl->SetMenuBarHeight(UiMenuBarHeight);
    }
    // Without a UI layer (the player's, until a script opens a text window) the UI's hook
    // passes every message on.
    platform->SetMessageHook(EditorUiMessageHook);
    SetMenuRefreshHook(RefreshMainMenu);
    InstallVersionControlPrompts();
    platform->SetDropHook(OnFileDropped);
    Mouse* mouse = platform->CreateMouse();
    platform->SetMouseHook([mouse](uint32_t message, uintptr_t wParam, intptr_t lParam) {
        mouse->HandleMessage(message, wParam, lParam);
    });
    platform->CreateKeyboard();
    SetScriptApp(&scriptApp);
    CreateEditorMenus();

    PlaceWindow(*platform, config);
    platform->CreateMainFrame();
    platform->SetResizeHook(ResizeView);
    ShowMainWindow(*platform);
    if (!CreateRenderDevice(*platform, setup)) {
        return false;
    }
    if (setup.editor) {
        CreateEditorUi();
        CreateScriptDebuggerPanel();
    }
    if (auto* sdl = dynamic_cast<SdlPlatform*>(platform)) {
        sdl->SetTextHook(EditorUiText);
    }
    InstallUiDialogs();
    EnterFullMonitorWhenAsked(*platform, config);

    CreateDebugMeshes();
    // The default font registers "Texture" before every other class, in every run.
    CreateDefaultFont();
    SetLoadProgressCallback(ShowLoadProgress);
    ShowLoadScreen(0.0f, "Initializing sound");
    OpenSoundOutput();
    ShowLoadScreen(0.0f, "Initiliazing scene classes");
    LoadCustomColours();
    if (GetUndoHistory()) {
        UpdateUndoRedoMenu();
    }
    // Before the classes, whose own entries follow the editor's.
    RegisterEditorNodeMenuEntries();
    SetScreenshotFolder(".");
    RegisterAllClasses();
    LogMessage("Quarn v%s", EngineVersion);
    ShowLoadScreen(0.0f, "Engine initialized");
    CopyLanguageCode();

    if (setup.editor) {
        InstallEditorSelectionSet();
        FollowUndoLabels();
    }
    StartGame(setup);
    EnterFullMonitorWhenAsked(*platform, config);
    ShowMainWindow(*platform);
    platform->SetFrameCallback(FrameUpdate);
    return true;
}

bool FrameUpdate() {
    if (!PlayInputScriptFrame()) {
        return false;
    }
    Platform& platform = *GetPlatform();
    if (Mouse* mouse = Mouse::Get()) {
        mouse->Poll();
    }
    Keyboard* keyboard = Keyboard::Get();
    if (keyboard && platform.TestWindowState(WindowActive)) {
        keyboard->Poll();
    }
    for (int32_t index = 0; index < platform.GetJoystickCount(); ++index) {
        // No end of frame for pads: each poll rebuilds their states.
        JoystickDevice* joystick = platform.CreateJoystick(index);
        if (joystick && joystick->IsAvailable()) {
            joystick->Poll();
        }
    }
    FrameTime = GameStep = fixedStep > 0.0f ? fixedStep : platform.GetFrameTime();
    if (!IsStandalone() && IsToolbarButtonPressed(GetFastForwardButton())) {
        GameStep *= FastForwardFactor;
    }
    if (!IsStandalone() && !GameRunning && !GamePaused && GetSceneRoot()) {
        autosaveTimer += FrameTime;
        if (autosaveTimer > AutosaveInterval) {
            AutosaveScene();
            autosaveTimer = 0.0f;
        }
    }
    Node* root = GetSceneRoot();
    if (root && !root->HasFlag(NodeEnabled)) {
        if (GetMainSettings().HasKey("autorun") || IsStandalone()) {
            return false;
        }
        StopScene();
    }

    RenderDevice& device = *TheRenderDevice();
    if (!RecoverLostDevice(platform, device) || !device.BeginScene()) {
        return true; // nothing drawn or presented; the input frame goes on into the next
    }
    if (unheardAudio) {
        unheardAudio->MixUnheard(GameStep);
    }
    if (Node* scene = GetSceneRoot()) {
        UpdateNodeTree(scene);
    } else {
        device.Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, 0);
    }
    device.EndScene();
    // Before the UI is drawn over the view's image, so the picture is the scene alone.
    if (!IsStandalone() && keyboard && keyboard->WentDown(ScreenshotKey)) {
        // The user's key, not the game's doing: it writes in a game for reading too, and the
        // picture's place stays inside the game (NextScreenshotPath).
        const UserChoiceScope picked;
        TakeScreenshot("bmp");
    }
    ComposeEditorFrame(platform);
    device.Present();
    if (Mouse* mouse = Mouse::Get()) {
        mouse->EndFrame();
    }
    if (keyboard) {
        keyboard->EndFrame();
    }
    return true;
}

void ExitProgram() {
    RemoveScriptLibrary();
    SetScriptApp(nullptr);
    FinishInputScript();
    if (exitHandler) {
        exitHandler();
    }
    std::exit(0);
}

void SetExitHandler(std::function<void()> handler) {
    exitHandler = std::move(handler);
}

bool OnFileDropped(const char* path, int32_t screenX, int32_t screenY) {
    if (!path || !*path) {
        return false;
    }
    // The texture's name is a fixed path text: a longer one would name another file.
    if (std::strlen(path) >= PathString::Size()) {
        LogMessage("Dropped file '%s' has a path too long to use", path);
        return false;
    }
    // Exactly these, with case: "X.PNG" is left alone.
    std::string extension = GetPathExtension(path);
    if (extension != "bmp" && extension != "dds" && extension != "png") {
        return false;
    }
    // Without a scene there is nothing to attach the node to.
    Node* root = GetSceneRoot();
    ClassInfo* spriteClass = FindClass("Sprite");
    if (!root || !spriteClass) {
        return false;
    }
    auto* node = dynamic_cast<Node*>(spriteClass->CreateInstance());
    if (!node) {
        return false;
    }
    if (Property* texture = node->FindProperty("texture")) {
        // The editor's user picked the picture; the player's game holds it as any file it names.
        const UserChoiceScope picked(!IsStandalone());
        texture->SetFromText(*node, path);
    }
    Platform& platform = *GetPlatform();
    Int2 window = platform.GetWindowPosition();
    Int2 view = platform.GetViewOrigin();
    PickQuery pick;
    bool hit = pick.PickFromScreen(static_cast<float>(screenX - window.x - view.x),
                                   static_cast<float>(screenY - window.y - view.y));
    node->AttachTo(hit && pick.best.node ? pick.best.node : root);
    if (auto* pivot = dynamic_cast<Pivot*>(node)) {
        pivot->SetWorldPosition(hit && pick.hasWorldHitPoint ? pick.worldHitPoint : Float3());
        pivot->SetWorldOrientation(hit ? Quaternion::RotationFromZ(pick.best.data) : Quaternion());
    }
    // No editing operation announces a drop, yet it makes a node a close must not lose.
    SendUndoLabel(node, "Sprite creation");
    SendSignal("selectnode", node, true);
    EventRecord event;
    event.argument.SetId(node->GetId());
    SignalReceiver::Trigger("node_dropped_in", event);
    return true;
}

bool LogToStandardErrorWhenAsked() {
    if (!std::getenv("QUARN_LOG")) {
        return false;
    }
    SetLogSink(LogToStandardError);
    return true;
}

int RunPlayer(const EngineSetup& setup) {
    WatchStopSignals();
    const bool logging = LogToStandardErrorWhenAsked();
    // SDL would fall back to its offscreen driver by itself: an invisible game, running for
    // ever. A user who wants that names the driver.
    if (!HasEnvironmentText("SDL_VIDEODRIVER") && !HasEnvironmentText("DISPLAY") &&
        !HasEnvironmentText("WAYLAND_DISPLAY")) {
        std::fprintf(stderr, "quarn: there is no display (neither DISPLAY nor WAYLAND_DISPLAY "
                             "is set); SDL_VIDEODRIVER=offscreen runs without one\n");
        return 1;
    }
    std::string inputError;
    if (!LoadInputScriptWhenAsked(inputError)) {
        std::fprintf(stderr, "quarn: %s\n", inputError.c_str());
        return 1;
    }
    EngineSetup scripted = setup;
    if (const char* step = std::getenv("QUARN_STEP"); step && *step) {
        float seconds = 0.0f;
        if (FindFloatMistake(step, seconds) || !(seconds > 0.0f)) {
            std::fprintf(stderr,
                         "quarn: QUARN_STEP must be a number of seconds above 0, not "
                         "\"%s\"\n",
                         step);
            return 1;
        }
        scripted.fixedStep = seconds;
    }
    if (InputScriptRuns() && !scripted.makePlatform) {
        // A script answers the questions, so no dialog may wait for a person.
        scripted.makePlatform = [commandLine = setup.commandLine] {
            auto dialogs = std::make_unique<ScriptedDialogs>();
            dialogs->AnswerButtons(std::getenv("QUARN_DIALOG_ANSWERS"));
            return new SdlPlatform(commandLine.c_str(), nullptr, std::move(dialogs));
        };
    }
    if (!InitEngine(scripted)) {
        std::fprintf(stderr, "quarn: %s\n", startUpError.c_str());
        return 1;
    }
    // The log said it already when it goes to stderr.
    if (soundOff && !logging) {
        std::fprintf(stderr, "quarn: %s\n", SoundOffText);
    }
    GetPlatform()->RunMainLoop();
    ExitProgram();
}

} // namespace quarn
