#include "TestPaths.h"
#include "app/ClassRegistration.h"
#include "app/editor/EditorMessageHook.h"
#include "app/input/Mouse.h"
#include "app/platform/WindowMessage.h"
#include "app/player/SceneCommands.h"
#include "audio/AudioSystem.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/GameSettings.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "core/scenefile/SceneSaver.h"
#include "resources/Resource.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <fstream>
#include <iterator>

namespace quarn {
namespace {

using test::Seen;
using test::SignalProbe;

class PlayerStart : public test::PlayerTest {};

FRESH_PROCESS_TEST_F(PlayerStart, EmptyFolderRunsTheBuiltInDefaultScene) {
    SignalProbe::Listen();
    ASSERT_TRUE(Start());
    EXPECT_STREQ(GetFileSystem()->GetBaseFolder(), "res://");
    EXPECT_TRUE(GetFileSystem()->DirectoryExists("user://"));
    EXPECT_EQ(Tilde(GetFileSystem()->GetUserFolder(), folder), "~/data/Quarn/games/res/");
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_EQ(Seen(), (std::vector<std::string>{"loaded", "quarn_start", "start"}));
    EXPECT_TRUE(GameRunning);
    EXPECT_EQ(GetAudioSystem()->GetSampleRate(), 22050u);
    auto* window = static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle());
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Pelgrath (res://default.scene)");
    EXPECT_EQ(LogText(), "Script search-path set to 'res://'\nQuarn v1.0\n"
                         "Scene 'res://default.scene' loaded\n");
    // Its green gem sprite lies in the middle, a little below the horizon.
    EXPECT_TRUE(FrameUpdate());
    const uint32_t gem = Pixel(512, 415);
    EXPECT_GT((gem >> 8) & 0xFF, ((gem >> 16) & 0xFF) + 64) << std::hex << gem;
    // A script may delete the root: the frames go on without a scene.
    GetSceneRoot()->Delete();
    EXPECT_EQ(GetSceneRoot(), nullptr);
    EXPECT_TRUE(FrameUpdate());
}

FRESH_PROCESS_TEST_F(PlayerStart, ARenderDeviceThatCannotBeMadeEndsStartUpWithStatusOne) {
    EngineSetup setup;
    setup.makeGpu = [](const GpuPresentParameters&, const GpuCaps&,
                       const GpuDisplayMode&) -> std::unique_ptr<GpuDevice> { return nullptr; };
    folder.WriteFile("config.txt", "");
    EXPECT_EQ(RunPlayer(WithScriptedDialogs(setup)), 1);
    EXPECT_EQ(LogText(), "choice \"Graphics error\": \"Failed to create the render device. Error "
                         "code is 1.\" answered \"OK\"\n");
    EXPECT_EQ(StartUpError(),
              "Graphics error: Failed to create the render device. Error code is 1.");
}

FRESH_PROCESS_TEST_F(PlayerStart,
                     WithoutAStartSceneNothingStartsFramesClearToBlackClassesAreAsGolden) {
    folder.WriteFile("config.txt", "loadscreen_color_bg = \"0xFFFF0000\"\n"
                                   "loadscreen_color_bar_empty = \"0xFF00FF00\"\n");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(GetMainSettings().HasKey("autorun"));
    EXPECT_FALSE(GameRunning);
    // The last load screen: its bar across the middle half of the 1020 x 764 view inside the
    // window's edge, 4 pixels high.
    EXPECT_EQ(
        (std::vector<uint32_t>{Pixel(254, 382), Pixel(255, 382), Pixel(764, 379), Pixel(764, 380),
                               Pixel(764, 383), Pixel(764, 384), Pixel(765, 382)}),
        (std::vector<uint32_t>{0xFFFF0000u, 0xFF00FF00u, 0xFFFF0000u, 0xFF00FF00u, 0xFF00FF00u,
                               0xFFFF0000u, 0xFFFF0000u}));
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(Pixel(10, 10) & 0xFFFFFFu, 0u);
    // The classes as start-up registered them, once.
    std::ifstream file(QUARN_TEST_DATA "/classes.txt", std::ios::binary);
    std::string golden((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    GrowingOutputStream table;
    WriteClassTable(table);
    EXPECT_EQ(table.GetText(), golden);
    EXPECT_EQ(RegisterAllClasses(), 0);
}

// A game's own folder is named after it, the same in the player and the editor; the engine's
// settings stay in the engine's folder above, out of the game's reach, and so does everything
// outside the game's folder, whatever its settings say.
FRESH_PROCESS_TEST_F(PlayerStart, AGameHasAUserFolderOfItsOwnAndNoReachBeyondIt) {
    folder.WriteFile("game/config.txt",
                     "name = \"Space/Trip\"\nresource_path = \"..\"\nlang_code = \"de\"\n");
    folder.WriteFile("data/Quarn/init.txt", "lang_code = \"fr\"\n");
    folder.WriteFile("secret.txt", "secret");
    ASSERT_EQ(chdir(folder.Join("game").c_str()), 0);
    ASSERT_TRUE(Start());
    FileSystem& files = *GetFileSystem();
    EXPECT_EQ(Tilde(files.GetUserFolder(), folder), "~/data/Quarn/games/Space%2FTrip/");
    EXPECT_TRUE(files.DirectoryExists("user://"));
    // The engine's settings are its own; the game's language goes to the game's settings.
    EXPECT_STREQ(GetUserSettings().GetString("lang_code"), "fr");
    EXPECT_STREQ(GetGameSettings().Get("lang_code"), "de");
    EXPECT_TRUE(IsGameReachHeld());
    // Taken from the game's folder, wherever the program started.
    EXPECT_EQ(Tilde(files.GetBaseFolder(), folder), "~/game/../");
    EXPECT_EQ(files.Open("secret.txt", 0), nullptr);
    EXPECT_EQ(files.Open("user://../../init.txt", 0), nullptr);
    EXPECT_TRUE(WriteWholeFile("user://save.txt", std::span<const uint8_t>(), 0));
    EXPECT_NE(files.Open("user://save.txt", 0), nullptr);
}

FRESH_PROCESS_TEST_F(PlayerStart, TheEditorGivesAGameTheSameUserFolderAndItsOwnReach) {
    folder.WriteFile("config.txt", "name = \"Space/Trip\"\n");
    ASSERT_TRUE(StartEditor());
    EXPECT_EQ(Tilde(GetFileSystem()->GetUserFolder(), folder), "~/data/Quarn/games/Space%2FTrip/");
    EXPECT_TRUE(IsGameReachHeld());
}

class PlayerFrame : public test::PlayerTest {
protected:
    bool StartOn(const std::string& scene, EngineSetup setup = {}) {
        folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
        folder.WriteFile("level.scene", scene);
        return Start(std::move(setup));
    }
};

// Notes what the device loss does to it.
class LossProbe : public Resource {
public:
    LossProbe() : Resource("probe.raw", "") {}
    bool Load() override { return true; }
    uint32_t GetDataSize() const override { return 0; }
    void ReleaseVideoMemory() override { Seen().push_back("release"); }
    void RestoreVideoMemory() override { Seen().push_back("restore"); }
};

FRESH_PROCESS_TEST_F(PlayerFrame, ALostDeviceReleasesResetsAndRestoresInOrder) {
    SoftwareDevice* gpu = nullptr;
    EngineSetup setup;
    setup.makeGpu = [&gpu](const GpuPresentParameters& parameters, const GpuCaps& caps,
                           const GpuDisplayMode& mode) -> std::unique_ptr<GpuDevice> {
        auto device = SoftwareDevice::Create(parameters, caps, mode);
        gpu = device.get();
        return device;
    };
    ASSERT_TRUE(StartOn(test::SceneText(), setup));
    SignalProbe::Listen();
    new LossProbe();
    gpu->LoseDevice();
    EXPECT_TRUE(FrameUpdate()); // its present finds the device lost
    EXPECT_EQ(TheRenderDevice()->GetDeviceState(), DeviceState::Lost);
    Seen().clear();
    uint32_t presented = TheRenderDevice()->GetFrameCount();
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(Seen(), (std::vector<std::string>{"releasevideomemory", "release", "restore",
                                                "restorevideomemory"}));
    EXPECT_TRUE(log.Contains("Direct3D device lost - resources restored"));
    EXPECT_EQ(TheRenderDevice()->GetFrameCount(), presented + 1);
}

FRESH_PROCESS_TEST_F(PlayerFrame, ASkippedFrameKeepsTheInputFrameAndEachMouseMessageArrivesOnce) {
    ASSERT_TRUE(StartOn(test::SceneText()));
    // Over the view: the wheel is the mouse's only there.
    SDL_Event motion = {};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.x = 100;
    motion.motion.y = 100;
    SDL_PushEvent(&motion);
    SDL_Event wheel = {};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = 1;
    SDL_PushEvent(&wheel);
    static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
    Mouse& mouse = *Mouse::Get();
    EXPECT_EQ(mouse.GetWheel(), WheelDelta);

    RenderDevice& device = *TheRenderDevice();
    uint32_t presented = device.GetFrameCount();
    ASSERT_TRUE(device.BeginScene()); // the frame's own begin fails
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(device.GetFrameCount(), presented);
    EXPECT_EQ(mouse.GetWheel(), WheelDelta);
    device.EndScene();
    EXPECT_TRUE(FrameUpdate());
    EXPECT_EQ(device.GetFrameCount(), presented + 1);
    EXPECT_EQ(mouse.GetWheel(), 0);
}

// A running game's state is no edit: the editor's Ctrl+S writes it neither, as its greyed Save.
FRESH_PROCESS_TEST_F(PlayerFrame, CtrlSSavesOnlyInTheStoppedEditorNeverOverARunningGame) {
    const std::string handWritten = test::SceneText();
    ASSERT_TRUE(StartOn(handWritten));
    Sdl().InjectKey(KeyLeftCtrl, true);
    EditorMessageHook(MessageKeyDown, SDLK_s, 0);
    GetMainSettings().SetString("standalone", "false");
    EditorMessageHook(MessageKeyDown, SDLK_s, 0);
    EXPECT_EQ(folder.ReadFile("level.scene"), handWritten);
    EXPECT_FALSE(log.Contains("Scene saved as"));
    GameRunning = false;
    EditorMessageHook(MessageKeyDown, SDLK_s, 0);
    EXPECT_TRUE(log.Contains("Scene saved as '" + folder.Join("level.scene") + "'"));
}

FRESH_PROCESS_TEST_F(PlayerFrame, DroppedFilesThatCannotBecomeASpriteMakeNothing) {
    ASSERT_TRUE(StartOn(test::SceneText()));
    int children = GetSceneRoot()->GetChildCount();
    const std::string tooLong = "/" + std::string(300, 'd') + "/x.png";
    for (const char* path : {"", "x.PNG", "x.txt", "png", "pictures.png/x", tooLong.c_str()}) {
        EXPECT_FALSE(OnFileDropped(path, 0, 0)) << path;
    }
    EXPECT_EQ(GetSceneRoot()->GetChildCount(), children);
    EXPECT_TRUE(log.Contains("path too long"));
}

FRESH_PROCESS_TEST_F(PlayerFrame, ADroppedImageBecomesASpriteUnderTheNodeUnderThePointer) {
    // A 40-pixel screen sprite at (100, 100), seen through the scene's camera.
    ASSERT_TRUE(StartOn("version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n}\n"
                        "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
                        "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tcurrentcamera = 2\n}\n"
                        "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
                        "\tpos = 100.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n"));
    ASSERT_TRUE(FrameUpdate());
    Node* target = GetSceneRoot()->FindByClassName("Sprite");
    ASSERT_NE(target, nullptr);
    for (const auto& [x, parent] : {std::pair{110, target}, std::pair{500, GetSceneRoot()}}) {
        ASSERT_TRUE(OnFileDropped("pic.png", x, 100));
        Node* dropped = parent->GetFirstChild();
        ASSERT_NE(dropped, nullptr);
        EXPECT_STREQ(dropped->GetClass()->GetName(), "Sprite");
        EXPECT_EQ(dropped->FindProperty("texture")->GetAsText(*dropped), "pic.png");
    }
}

} // namespace
} // namespace quarn
