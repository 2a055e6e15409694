#include "app/player/SceneCommands.h"
#include "core/scene/EngineState.h"
#include "editor/UndoHistory.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <SDL.h>
#include <algorithm>
#include <string>

namespace quarn {
namespace {

using test::Seen;
using test::SignalProbe;

// A scene seen through a camera: a render target and two sprites.
constexpr const char* ViewedScene =
    "version = 44\nnum_nodes = 5\nobj1 {\n\tclass = \"Node\"\n}\n"
    "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
    "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tcurrentcamera = 2\n}\n"
    "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
    "\tpos = 100.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n"
    "obj5 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tmatrixmode = 3\n"
    "\tpos = 200.0,100.0,0.0\n\tsize = 40.0,40.0\n}\n";

class EditorEndToEnd : public test::PlayerTest {
protected:
    static std::string Title() {
        return SDL_GetWindowTitle(static_cast<SDL_Window*>(GetPlatform()->GetWindowHandle()));
    }
    static int Sprites() {
        int count = 0;
        for (Node* node = GetSceneRoot(); node; node = node->GetNextInTree(true)) {
            count += std::string(node->GetClass()->GetName()) == "Sprite";
        }
        return count;
    }
    // A scene file the engine reads back whole, its sprites counted.
    int SpritesIn(const std::string& relative) {
        const std::string text = folder.ReadFile(relative);
        EXPECT_EQ(text.rfind("version = 44", 0), 0u) << relative;
        int count = 0;
        for (size_t at = text.find("\"Sprite\""); at != std::string::npos;
             at = text.find("\"Sprite\"", at + 1)) {
            ++count;
        }
        return count;
    }
};

// Opened from a game folder without a start scene, changed, undone, saved, played and stopped.
TEST_F(EditorEndToEnd, OpenChangeUndoSavePlayStop) {
    folder.WriteFile("config.txt", "");
    folder.WriteFile("level.scene", ViewedScene);
    ASSERT_TRUE(StartEditor());
    EXPECT_EQ(GetSceneRoot(), nullptr);
    SignalProbe::Listen();

    const std::string path = folder.Join("level.scene");
    dialogs->AnswerPath(path);
    OpenSceneDialog();
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_FALSE(GameRunning);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")");
    EXPECT_FALSE(GetUndoMenuState().undoEnabled || GetUndoMenuState().redoEnabled);
    EXPECT_TRUE(log.Contains("Scene '" + path + "' loaded"));

    ASSERT_TRUE(OnFileDropped("pic.png", 0, 0));
    EXPECT_EQ(Sprites(), 3);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")*");
    EXPECT_EQ(GetUndoMenuState().undoText, "Undo Sprite creation");
    GetUndoHistory()->Undo();
    EXPECT_EQ(Sprites(), 2);
    GetUndoHistory()->Redo();
    EXPECT_EQ(Sprites(), 3);

    ASSERT_TRUE(SaveScene(path.c_str(), SaveCurrent));
    EXPECT_EQ(SpritesIn("level.scene"), 3);
    EXPECT_EQ(Title(), "Pelgrath (" + path + ")");
    EXPECT_TRUE(log.Contains("Scene saved as '" + path + "'"));

    PlayScene(false);
    EXPECT_TRUE(GameRunning);
    EXPECT_EQ(SpritesIn("data/Quarn/autosave0.scene"), 3);
    EXPECT_EQ(SpritesIn("data/Quarn/play.scene"), 3);
    EXPECT_TRUE(log.Contains("Scene auto-saved as"));
    EXPECT_TRUE(log.Contains("Play..."));
    EXPECT_NE(std::find(Seen().begin(), Seen().end(), "quarn_start"), Seen().end());

    CatchExit();
    EXPECT_THROW(StopScene(), test::ProgramExit);
    EXPECT_TRUE(log.Contains("Stop..."));
}

} // namespace
} // namespace quarn
