#include "app/editor/EditorMenus.h"
#include "app/editor/EditorUi.h"
#include "app/player/SceneCommands.h"
#include "codecs/ImageCodec.h"
#include "core/scene/EngineState.h"
#include "editor/EditorMenu.h"
#include "editor/MainFrame.h"
#include "editor/NodeContextMenu.h"
#include "editor/ScriptDebuggerPanel.h"
#include "editor/Toolbar.h"
#include "tests/app/player/PlayerRun.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/tools/ToolRun.h"

#include <SDL.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::Seen;
using test::SignalProbe;

// A scene seen through a camera: a render target clearing to SceneClear and two 40-pixel screen
// sprites, the first at (100, 100) of the view.
constexpr uint32_t SceneClear = 0x203040;
constexpr const char* ViewedScene =
    "version = 44\nnum_nodes = 5\nobj1 {\n\tclass = \"Node\"\n}\n"
    "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
    "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tcurrentcamera = 2\n"
    "\trt_flags = 180\n\tbackgroundcolor = FF203040\n}\n"
    "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
    "\tpos = 100.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n"
    "obj5 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
    "\tpos = 200.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n";

// The node menu's road to a new sprite showing pic.bmp, item by item.
const std::initializer_list<const char*> AddSpriteChild = {
    "ctx:Add new child", "ctx:Add new child|Gfx", "ctx:Add new child|Gfx|Sprite",
    "ctx:Add new child|Gfx|Sprite|<pic.bmp>"};

// The window the game folder's user settings give, and its view inside the frame's edge.
// The debugger panel leaves a view that still shows the sprites.
constexpr Int2 WindowSize(240, 340);
constexpr Int2 ViewSize(WindowSize.x - 4, WindowSize.y - 4);

// A game folder without a start scene, holding the scene and a picture for a sprite.
void MakeGame(const test::TempFolder& folder) {
    folder.WriteFile("config.txt", "");
    folder.WriteFile("level.scene", ViewedScene);
    std::ifstream picture(QUARN_TEST_DATA "/images/bits24.bmp", std::ios::binary);
    folder.WriteFile("pic.bmp", std::string(std::istreambuf_iterator<char>(picture), {}));
    folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"" +
                                                std::to_string(WindowSize.x) + "," +
                                                std::to_string(WindowSize.y) + "\"\n");
}

// A picture's pixels as 0xRRGGBB, top row first, decoded by the engine's codec for its
// extension; empty when it cannot be read.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> pixels;
    bool operator==(const Picture&) const = default;
};

Picture Decode(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
    InitImageCodecs();
    const std::string extension = std::filesystem::path(path).extension().string().substr(1);
    ImageCodec* codec = FindImageCodec(extension.c_str());
    Picture picture;
    if (!codec || bytes.empty()) {
        return picture;
    }
    const auto size = static_cast<uint32_t>(bytes.size());
    ImageInfo info;
    codec->GetTextureFormat(info, bytes.data(), size);
    picture.width = info.width;
    picture.height = info.height;
    picture.pixels.assign(size_t(info.width) * info.height, 0);
    const bool decoded = codec->Load(
        bytes.data(), size, &picture, [](int32_t x, int32_t y, ImagePixel pixel, void* context) {
            auto& into = *static_cast<Picture*>(context);
            if (x >= 0 && y >= 0 && uint32_t(x) < into.width && uint32_t(y) < into.height) {
                into.pixels[size_t(y) * into.width + uint32_t(x)] = pixel & 0xFFFFFF;
            }
        });
    codec->ReleaseData();
    return decoded ? picture : Picture{};
}

// The F11 picture is the scene as `quarn-tool render` draws it at the view's size.
void ExpectScreenshotRendersTheScene(const test::TempFolder& folder, const std::string& shot,
                                     const std::string& scene, Int2 view) {
    const test::ToolRun run =
        test::RunTool(folder, {"render", scene, "--frames", "2", "--out", "rendered.png", "--size",
                               std::to_string(view.x) + "x" + std::to_string(view.y)});
    ASSERT_EQ(run.status, 0) << run.err;
    const Picture taken = Decode(folder.Join(shot));
    const Picture rendered = Decode(folder.Join("rendered.png"));
    ASSERT_EQ(taken.width, uint32_t(view.x));
    ASSERT_EQ(taken.height, uint32_t(view.y));
    EXPECT_TRUE(taken == rendered) << shot << " differs from quarn-tool render of " << scene;
}

// The engine reads each scene back whole: written as text again, each holds `sprites`
// sprites; a scene and its ".scn" twin read back to the same text.
void ExpectScenesLoadBack(const test::TempFolder& folder, std::initializer_list<const char*> files,
                          int sprites) {
    std::vector<std::string> texts;
    for (const char* file : files) {
        const test::ToolRun run = test::RunTool(folder, {"scene", file, "back.scene"});
        ASSERT_EQ(run.status, 0) << file << ": " << run.err;
        texts.push_back(folder.ReadFile("back.scene"));
        int count = 0;
        for (size_t at = texts.back().find("\"Sprite\""); at != std::string::npos;
             at = texts.back().find("\"Sprite\"", at + 1)) {
            ++count;
        }
        EXPECT_EQ(count, sprites) << file;
    }
    if (texts.size() == 2 && std::string(*(files.begin() + 1)).ends_with(".scn")) {
        EXPECT_EQ(texts[0], texts[1]);
    }
}

class EditorEndToEnd : public test::PlayerTest {
protected:
    void StartOnGame() {
        MakeGame(folder);
        ASSERT_TRUE(StartEditor());
        EXPECT_EQ(GetSceneRoot(), nullptr);
        ASSERT_TRUE(Step());
    }
    static std::string Title() {
        return SDL_GetWindowTitle(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()));
    }
    static const MenuItem& Item(uint32_t id) { return *GetEditorMenuBar()->Find(id); }
    static Toolbar& Buttons() { return *static_cast<Toolbar*>(GetPlatform()->GetToolbarWindow()); }
    static int Sprites() {
        int count = 0;
        for (Node* node = GetSceneRoot(); node; node = node->GetNextInTree(true)) {
            count += std::string(node->GetClass()->GetName()) == "Sprite";
        }
        return count;
    }
    // Each item clicked in turn, as a user opens menu after menu; a menu closed by a click is
    // still there in the frame after it.
    bool ClickThrough(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (!ClickItem(name) || !StepFrames(2)) {
                return false;
            }
        }
        return true;
    }
    // File/Load..., its dialog answered with the scene's path.
    void Open(const std::string& path) {
        dialogs->AnswerPath(path);
        ASSERT_TRUE(ClickThrough({"menu:File", "cmd:40002"}));
        ASSERT_NE(GetSceneRoot(), nullptr);
    }
    // A right click on the first sprite, then the node menu's road to a new child sprite.
    void AddSpriteThroughTheNodeMenu() {
        ASSERT_TRUE(Click(InWindow({110, 100}), SdlPlatform::InjectedButton::Right));
        ASSERT_TRUE(Step());
        ASSERT_TRUE(ClickThrough(AddSpriteChild));
    }
};

// A user's first session: opened from a game folder without a start scene, changed through the
// node menu, undone and redone, pictured, saved, played and stopped.
FRESH_PROCESS_TEST_F(EditorEndToEnd, ASessionThroughTheMenusTheNodeMenuAndTheToolbar) {
    ASSERT_NO_FATAL_FAILURE(StartOnGame());
    SignalProbe::Listen();
    const std::string path = folder.Join("level.scene");
    ASSERT_NO_FATAL_FAILURE(Open(path));
    EXPECT_FALSE(GameRunning);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")");
    EXPECT_FALSE(Item(40010).enabled);
    EXPECT_FALSE(Item(40011).enabled);
    EXPECT_TRUE(log.Contains("Scene '" + path + "' loaded"));

    ASSERT_NO_FATAL_FAILURE(AddSpriteThroughTheNodeMenu());
    EXPECT_EQ(Sprites(), 3);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")*");
    EXPECT_EQ(Item(40010).text, "Undo Sprite creation");
    EXPECT_TRUE(Item(40010).enabled);
    ASSERT_TRUE(ClickThrough({"menu:Edit", "cmd:40010"}));
    EXPECT_EQ(Sprites(), 2);
    EXPECT_EQ(Item(40011).text, "Redo Sprite creation");
    ASSERT_TRUE(ClickThrough({"menu:Edit", "cmd:40011"}));
    EXPECT_EQ(Sprites(), 3);

    // "Editor view" shows the script debugger's panel below the view, which gives up the panel's
    // extent and the frame's bar above it, and hides it again with the view's edge.
    const int32_t lost = ScriptDebuggerPanel::DockExtent + MainFrame::Get()->Gap();
    ASSERT_TRUE(ClickThrough({"tool:5"}));
    ASSERT_NE(GetScriptDebuggerPanel(), nullptr);
    EXPECT_TRUE(GetScriptDebuggerPanel()->IsShown());
    EXPECT_EQ(GetPlatform()->GetViewSize(), Int2(ViewSize.x, ViewSize.y - lost));
    const auto panel = GetEditorUi()->FindItem("debug");
    ASSERT_TRUE(panel);
    const Int2 place = GetEditorViewPlace(*GetPlatform());
    const int32_t viewBottom = place.y + ViewSize.y - lost;
    EXPECT_GE(int32_t(panel->top), viewBottom);
    EXPECT_EQ(ImagePixel(place.x + 5, viewBottom - 1) & 0xFFFFFF, SceneClear);
    EXPECT_NE(ImagePixel(place.x + 5, viewBottom) & 0xFFFFFF, SceneClear);
    ASSERT_TRUE(ClickThrough({"tool:5"}));
    EXPECT_FALSE(GetScriptDebuggerPanel()->IsShown());
    EXPECT_FALSE(GetEditorUi()->FindItem("debug"));
    EXPECT_EQ(GetPlatform()->GetViewSize(), WindowSize);
    EXPECT_EQ(ImagePixel(place.x + 5, viewBottom + 10) & 0xFFFFFF, SceneClear);

    // The selection's outline is the editor's, not the scene's: a right click on the empty view
    // selects the root, which draws nothing, and a click beside the menu closes it.
    ASSERT_TRUE(Click(InWindow({10, 200}), SdlPlatform::InjectedButton::Right));
    ASSERT_TRUE(Step());
    ASSERT_TRUE(Click(InWindow({200, 20})));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_FALSE(GetEditorNodeMenu().IsOpen());
    constexpr int32_t F11 = 20;
    Sdl().InjectKey(F11, true);
    ASSERT_TRUE(Step());
    Sdl().InjectKey(F11, false);
    ASSERT_TRUE(Step());
    EXPECT_TRUE(log.Contains("Screenshot saved as"));

    ASSERT_TRUE(ClickThrough({"menu:File", "cmd:40007"}));
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")");
    EXPECT_TRUE(log.Contains("Scene saved as '" + path + "'"));
    ExpectScenesLoadBack(folder, {"level.scene", "level.scn"}, 3);
    ExpectScreenshotRendersTheScene(folder, "Screenshots/screenshot0001.bmp", "level.scene",
                                    WindowSize);

    ASSERT_TRUE(ClickThrough({"tool:1"}));
    EXPECT_TRUE(GameRunning);
    EXPECT_TRUE(Buttons().IsButtonChecked(ToolbarCommandBase + 1));
    ExpectScenesLoadBack(folder, {"data/Quarn/autosave0.scene", "data/Quarn/play.scene"}, 3);
    EXPECT_TRUE(log.Contains("Scene auto-saved as"));
    EXPECT_TRUE(log.Contains("Play..."));
    EXPECT_NE(std::find(Seen().begin(), Seen().end(), "quarn_start"), Seen().end());

    CatchExit();
    EXPECT_THROW(ClickThrough({"tool:2"}), test::ProgramExit);
    EXPECT_TRUE(log.Contains("Stop..."));
}

// An undo after a save is a change too: the close asks, and No keeps the file as saved.
FRESH_PROCESS_TEST_F(EditorEndToEnd, ClosingAfterAnUndoOfASavedStepAsksAndNoKeepsTheSavedFile) {
    ASSERT_NO_FATAL_FAILURE(StartOnGame());
    const std::string path = folder.Join("level.scene");
    ASSERT_NO_FATAL_FAILURE(Open(path));
    ASSERT_NO_FATAL_FAILURE(AddSpriteThroughTheNodeMenu());
    ASSERT_TRUE(ClickThrough({"menu:File", "cmd:40007"}));
    const std::string saved = folder.ReadFile("level.scene");
    ASSERT_TRUE(ClickThrough({"menu:Edit", "cmd:40010"}));
    EXPECT_EQ(Sprites(), 2);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")*");
    dialogs->AnswerButton(1);
    CatchExit();
    EXPECT_THROW(Sdl().InjectClose(), test::ProgramExit);
    ASSERT_FALSE(dialogs->Requests().empty());
    EXPECT_EQ(dialogs->Requests().back().title, "Save?");
    EXPECT_EQ(folder.ReadFile("level.scene"), saved);
}

// The same session as a user's script drives the built program, with nothing in-process.
TEST(EditorRun, TheCommittedInputScriptOpensChangesPicturesSavesPlaysAndStops) {
    test::TempFolder folder;
    MakeGame(folder);
    const test::PlayerExit run = test::RunPlayerIn(
        folder, "",
        std::string(test::Headless) + " QUARN_INPUT='" QUARN_TEST_DATA "/input/editor-session.txt'",
        "--editor");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(run.log.find("Input script line"), std::string::npos) << run.log;
    for (const char* line :
         {"Scene '~/level.scene' loaded\n",
          "Screenshot saved as ./Screenshots/screenshot0001.bmp\n",
          "Screenshot saved as ./Screenshots/screenshot0002.bmp\n",
          "Scene saved as '~/level.scene'\n", "Scene saved as '~/level.scn'\n",
          "Scene auto-saved as '~/data/Quarn/autosave0.scene'\n", "Play...\n", "Stop...\n"}) {
        EXPECT_NE(run.log.find(line), std::string::npos) << line << run.log;
    }
    ExpectScenesLoadBack(folder, {"level.scene", "level.scn"}, 3);
    ExpectScenesLoadBack(folder, {"data/Quarn/autosave0.scene", "data/Quarn/play.scene"}, 3);
    // The first picture shows the view less the debugger's panel, the second the whole window
    // once the panel and the view's edge are gone.
    const Picture smaller = Decode(folder.Join("Screenshots/screenshot0001.bmp"));
    EXPECT_EQ(smaller.width, uint32_t(ViewSize.x));
    EXPECT_LE(smaller.height, uint32_t(ViewSize.y - ScriptDebuggerPanel::DockExtent));
    ExpectScreenshotRendersTheScene(folder, "Screenshots/screenshot0001.bmp", "level.scene",
                                    Int2(int32_t(smaller.width), int32_t(smaller.height)));
    ExpectScreenshotRendersTheScene(folder, "Screenshots/screenshot0002.bmp", "level.scene",
                                    WindowSize);
}

// Loads level.scene through File/Load... and adds a sprite through the node menu, unsaved.
constexpr const char* UnsavedStep = "2 click-item menu:File\n6 answer-path level.scene\n"
                                    "6 click-item cmd:40002\n10 click 110 100 right\n"
                                    "14 click-item ctx:Add new child\n"
                                    "18 click-item ctx:Add new child|Gfx\n"
                                    "22 click-item ctx:Add new child|Gfx|Sprite\n"
                                    "26 click-item ctx:Add new child|Gfx|Sprite|<pic.bmp>\n";

TEST(EditorRun, ClosingTheWindowAfterAnUnsavedStepAsksAndNoEndsWithoutWriting) {
    test::TempFolder folder;
    MakeGame(folder);
    folder.WriteFile("input.txt", std::string(UnsavedStep) + "30 answer 1\n30 close\n");
    const test::PlayerExit run = test::RunPlayerIn(
        folder, "", std::string(test::Headless) + " QUARN_INPUT='" + folder.Join("input.txt") + "'",
        "--editor");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("\"Save?\""), std::string::npos) << run.log;
    EXPECT_EQ(folder.ReadFile("level.scene"), ViewedScene);
    EXPECT_FALSE(std::filesystem::exists(folder.Join("level.scn")));
}

// Game > Play Standalone plays the edited scene from its copy, the editor running on, and Stop
// asks for the edit made before: Yes writes it, the new node and all.
TEST(EditorRun, PlayStandaloneFromTheMenuPlaysAndStopSavesTheEdit) {
    test::TempFolder folder;
    MakeGame(folder);
    folder.WriteFile("input.txt", std::string(UnsavedStep) + "50 command 40024\n60 command 40014\n"
                                                             "60 answer 0\n64 close\n");
    const test::PlayerExit run = test::RunPlayerIn(
        folder, "", std::string(test::Headless) + " QUARN_INPUT='" + folder.Join("input.txt") + "'",
        "--editor");
    EXPECT_EQ(run.status, 0) << run.log;
    for (const char* line : {"Play...\n", "\"Save?\"", "Scene saved as '~/level.scene'\n"}) {
        EXPECT_NE(run.log.find(line), std::string::npos) << line << run.log;
    }
    for (const char* file : {"level.scene", "data/Quarn/standalone.scene"}) {
        EXPECT_NE(folder.ReadFile(file).find("num_nodes = 6\n"), std::string::npos) << file;
    }
}

// A stop signal gives no time for an answer: the editor ends without asking, and what was not
// saved stays unsaved.
TEST(EditorRun, AStopSignalAfterAnUnsavedStepEndsWithoutAskingOrWriting) {
    test::TempFolder folder;
    MakeGame(folder);
    folder.WriteFile("input.txt", std::string(UnsavedStep) + "30 key F11\n");
    const test::PlayerExit run = test::RunPlayerIn(folder, "Screenshot saved as",
                                                   std::string(test::Headless) + " QUARN_INPUT='" +
                                                       folder.Join("input.txt") + "'",
                                                   "--editor");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_GE(run.secondsAfterSignal, 0.0);
    EXPECT_EQ(run.log.find("\"Save?\""), std::string::npos) << run.log;
    EXPECT_EQ(folder.ReadFile("level.scene"), ViewedScene);
    EXPECT_FALSE(std::filesystem::exists(folder.Join("level.scn")));
}

} // namespace
} // namespace quarn
