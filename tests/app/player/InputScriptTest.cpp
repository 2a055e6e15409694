#include "app/player/InputScript.h"

#include "TestPaths.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "core/string/Text.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <imgui.h>
#include <imgui_stdlib.h>

namespace quarn {
namespace {

TEST(InputScript, AMalformedLineIsRefusedWithItsNumber) {
    const std::pair<std::string_view, const char*> cases[] = {
        {"0 jump", "line 1: unknown verb \"jump\""},
        {"first key A", "line 1: the line does not start with a frame number"},
        {"-1 close", "line 1: the line does not start with a frame number"},
        {"0 close\n\n# a note\n0 key Nothing", "line 4: no key is named \"Nothing\""},
        {"0 key Return", "line 1: no key is named \"Return\""},
        {"0 doubleclick 1", "line 1: a position needs two whole numbers from -32767 to 32767"},
        {"0 doubleclick 1 2 twice", "line 1: the button is left, right or middle"},
        {"0 key Shift", "line 1: no key is named \"Shift\""},
        {"0 click 1", "line 1: a position needs two whole numbers from -32767 to 32767"},
        {"0 move 1 2.5", "line 1: a position needs two whole numbers from -32767 to 32767"},
        {"0 move 40000 2", "line 1: a position needs two whole numbers from -32767 to 32767"},
        {"0 click 1 2 up", "line 1: the button is left, right or middle"},
        {"0 move 1 2 left", "line 1: too many words"},
        {"0 command 70000", "line 1: a command id is a number from 0 to 65535"},
        {"0 wheel", "line 1: the wheel turns by a whole number of notches from -273 to 273"},
        {"0 wheel 274", "line 1: the wheel turns by a whole number of notches from -273 to 273"},
        {"0 answer 8", "line 1: an answer is a button index from 0 to 7"},
        {"0 answer -1", "line 1: an answer is a button index from 0 to 7"},
        {std::string_view("0 text a\0b", 10), "line 1: the line holds a zero byte"},
        {"0 close now", "line 1: too many words"},
        {"0 press\r\n1 text", "line 2: \"text\" needs its text"},
    };
    for (const auto& [text, expected] : cases) {
        InputScript script;
        std::string error;
        EXPECT_FALSE(script.Parse(text, error)) << text;
        EXPECT_EQ(error, expected) << text;
    }
    InputScript script;
    std::string error;
    EXPECT_TRUE(script.Parse("2 key Left Ctrl\r\n0 answer-path\n1 click 3 -4 middle\n", error))
        << error;
    // Key names in any case: no two of them differ only in case.
    EXPECT_TRUE(script.Parse("0 key enter\n0 keydown LEFT CTRL\n1 keyup page up\n", error))
        << error;
    for (int32_t a = 0; a < KeyCount; ++a) {
        for (int32_t b = a + 1; b < KeyCount; ++b) {
            EXPECT_NE(CompareNoCase(GetKeyName(a), GetKeyName(b)), 0) << a << " " << b;
        }
    }
    // The fuzzing seed holds every verb.
    test::ScopedEnvironment input("QUARN_INPUT", QUARN_TEST_DATA "/input/verbs.txt");
    EXPECT_TRUE(LoadInputScriptWhenAsked(error)) << error;
    input.Set("/nonexistent/input.txt");
    EXPECT_FALSE(LoadInputScriptWhenAsked(error));
    EXPECT_EQ(error, "input script /nonexistent/input.txt cannot be opened");
}

// Plays a script through the editor: each verb's effect is read in the frame it lands in.
class InputScriptRun : public test::PlayerTest {
protected:
    struct Seen {
        bool keyA = false, shift = false;
        Int2 position;
        int32_t wheel = 0;
        bool left = false, right = false;
        bool doubled = false;
    };

    void Run(const std::string& text) {
        folder.WriteFile("input.txt", text);
        test::ScopedEnvironment input("QUARN_INPUT", folder.Join("input.txt"));
        std::string error;
        ASSERT_TRUE(LoadInputScriptWhenAsked(error)) << error;
        folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"200,150\"\n");
        ASSERT_TRUE(StartEditor());
        // Commands are recorded on their way to the editor's own hook.
        Sdl().SetMessageHook([this](uint32_t message, uintptr_t detail, intptr_t packed) {
            if (message == MessageCommand) {
                commands.push_back(static_cast<uint32_t>(detail));
            }
            return EditorUiMessageHook(message, detail, packed);
        });
        SetEditorWidgets([this] { Widgets(); });
    }

    void Widgets() {
        const Keyboard& keyboard = *Keyboard::Get();
        const Mouse& mouse = *Mouse::Get();
        seen.push_back({keyboard.IsKeyDown(KeyA), keyboard.IsKeyDown(KeyLeftShift),
                        mouse.GetPosition(), mouse.GetWheel(), mouse.IsDown(0, ""),
                        mouse.IsDown(2, ""), mouse.WentDown(MouseDoubleClick, "")});
        if (askInFrame == seen.size() - 1) {
            choice = dialogs->ShowChoiceBox("Title", "Text", "A#B#C");
            path = dialogs->FileDialog("Scenes\0*.scene\0", true, "");
        }
        if (!toolsShown) {
            return;
        }
        ImGui::SetNextWindowPos(ImVec2(100, 0));
        ImGui::SetNextWindowSize(ImVec2(100, 60));
        ImGui::Begin("tools", nullptr, ImGuiWindowFlags_NoDecoration);
        if (ImGui::Button("Go")) {
            ++clicks;
        }
        GetEditorUi()->NameLastItem("tool:0");
        if (focusField) {
            ImGui::SetKeyboardFocusHere();
            focusField = false;
        }
        ImGui::InputText("##field", &field);
        ImGui::End();
    }

    std::vector<Seen> seen;
    // A question and a file dialog asked in that frame's step, and their answers.
    size_t askInFrame = SIZE_MAX;
    int choice = -1;
    std::string path = "-";
    std::vector<uint32_t> commands;
    int32_t clicks = 0;
    bool focusField = true;
    // Over the menu bar's View and Game.
    bool toolsShown = true;
    std::string field;
};

FRESH_PROCESS_TEST_F(InputScriptRun, EachVerbReachesTheRunInItsFrame) {
    Run("0 key A\n"
        "0 keydown Left Shift\n"
        "0 move 30 40\n"
        "1 wheel -2\n"
        "2 click 50 60 right\n"
        "3 keyup Left Shift\n"
        "3 press\n"
        "4 release\n"
        "5 text h\xC3\xA9 w\xC3\xB6rld\n"
        "6 click-item tool:0\n"
        "6 command 40002\n"
        "7 answer 1\n"
        "7 answer-path levels/x.scene\n"
        "9 close\n");
    askInFrame = 7;
    for (int32_t frame = 0; frame < 9; ++frame) {
        ASSERT_TRUE(Step()) << frame;
    }
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_TRUE(seen[0].keyA && seen[0].shift);
    EXPECT_EQ(seen[0].position, Int2(30, 40)) << "view pixels, below the menu bar";
    EXPECT_TRUE(!seen[1].keyA && seen[1].shift);
    EXPECT_EQ(seen[1].wheel, -2 * WheelDelta);
    EXPECT_EQ(seen[0].wheel, 0);
    EXPECT_TRUE(seen[2].right && !seen[2].left);
    EXPECT_EQ(seen[2].position, Int2(50, 60));
    EXPECT_TRUE(!seen[3].right && seen[3].left && !seen[3].shift);
    EXPECT_FALSE(seen[4].left);
    EXPECT_EQ(field, "h\xC3\xA9 w\xC3\xB6rld");
    // The item's click goes to the UI, never to the game's mouse.
    EXPECT_FALSE(seen[6].left);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(commands, std::vector<uint32_t>{40002});
    EXPECT_EQ(choice, 1);
    EXPECT_EQ(path, "levels/x.scene");
    EXPECT_EQ(GetInputScriptWarningCount(), 0u) << LogText();
    // The editor started outside a game opens no scene of its own: the close ends the loop.
    EXPECT_FALSE(Step());
}

// A double click by its verb, and by two presses of a button within the double-click time and
// radius, as a real mouse's; one a button's press too far away or too late, or of another
// button, is none.
FRESH_PROCESS_TEST_F(InputScriptRun, TwoQuickPressesInOnePlaceAreADoubleClick) {
    toolsShown = false;
    Run("1 doubleclick 50 60\n"
        "14 click 50 60\n"
        "16 click 90 60\n"
        "30 move 50 60\n"
        "30 press\n"
        "31 release\n"
        "32 press\n"
        "33 release\n"
        "46 click 50 60\n"
        "58 click 50 60\n"
        "60 click 52 61\n"
        "62 doubleclick 50 60 right\n");
    // 0.05 s a frame: two frames are 0.1 s, twelve 0.6 s.
    ASSERT_TRUE(StepFrames(64, 0.05));
    std::vector<size_t> doubled;
    for (size_t frame = 0; frame < seen.size(); ++frame) {
        if (seen[frame].doubled) {
            doubled.push_back(frame);
        }
    }
    EXPECT_EQ(doubled, (std::vector<size_t>{1, 32, 60}));
    EXPECT_TRUE(seen[62].right);
    EXPECT_EQ(GetInputScriptWarningCount(), 0u) << LogText();
}

FRESH_PROCESS_TEST_F(InputScriptRun, AMissingItemIsLoggedAndTheRunGoesOn) {
    focusField = false; // a field being typed in takes the first click itself
    Run("0 click-item cmd:40999\n1 click-item tool:0\n");
    ASSERT_TRUE(StepFrames(4));
    EXPECT_TRUE(log.Contains("Input script line 1: no UI item \"cmd:40999\" in the last frame"));
    EXPECT_EQ(clicks, 1);
}

// An answer is for the dialogs its own frame's step opens, a click's step ending with the frame
// that releases it; one that waits longer is a warning, and so is one left at the run's end.
FRESH_PROCESS_TEST_F(InputScriptRun, AnAnswerNoDialogTookByTheEndOfItsStepIsAWarning) {
    Run("1 answer-path\n"
        "1 command 40002\n"
        "3 answer 0\n"
        "3 click-item cmd:40082\n"
        "12 command 40082\n"
        "12 answer 0\n"
        "14 answer-path never.scene\n"
        "16 answer 1\n");
    ASSERT_TRUE(StepFrames(17));
    FinishInputScript();
    FinishInputScript();
    // File/Load... took the empty path and cancelled; Help/About, clicked through its menu and
    // then commanded, was asked twice.
    EXPECT_EQ(commands, (std::vector<uint32_t>{40002, 40082, 40082}));
    ASSERT_EQ(dialogs->Requests().size(), 3u);
    EXPECT_EQ(dialogs->Requests()[1].kind, ScriptedDialogs::AboutKind);
    EXPECT_EQ(GetInputScriptWarningCount(), 3u) << LogText();
    for (const char* line :
         {"Input script line 6: answer 0 was taken by no dialog by the end of frame 12; an answer "
          "goes before the step that opens its dialog",
          "Input script line 7: answer-path never.scene was taken by no dialog by the end of "
          "frame 14; an answer goes before the step that opens its dialog",
          "Input script line 8: answer 1 was taken by no dialog before the run ended"}) {
        EXPECT_TRUE(log.Contains(line)) << line << "\n" << LogText();
    }
}

// An answer no dialog took in its step is dropped with its warning: a later dialog, however
// much later, is answered as if it had never been given (an earlier Save As took the stale path
// and wrote the open scene over another).
FRESH_PROCESS_TEST_F(InputScriptRun, AStaleAnswerIsDroppedSoNoLaterDialogTakesIt) {
    Run("1 answer 1\n"
        "1 answer-path other.scene\n"
        "4 command 40002\n");
    ASSERT_TRUE(StepFrames(6));
    EXPECT_EQ(commands, std::vector<uint32_t>{40002});
    ASSERT_EQ(dialogs->Requests().size(), 1u);
    EXPECT_EQ(dialogs->Requests()[0].kind, ScriptedDialogs::FileKind);
    EXPECT_FALSE(log.Contains("answered \"other.scene\"")) << LogText();
    EXPECT_EQ(dialogs->ShowChoiceBox("Title", "Text", "A#B"), 0);
    EXPECT_EQ(GetInputScriptWarningCount(), 2u) << LogText();
}

// A command is one a menu item or toolbar button sends; any other id does nothing and fails the
// run with its line, as a click-item naming no item does.
FRESH_PROCESS_TEST_F(InputScriptRun, ACommandNoItemSendsIsAWarningAndIsNotSent) {
    toolsShown = false;
    Run("1 command 40000\n"
        "2 command 0\n"
        "3 command 40130\n");
    ASSERT_TRUE(StepFrames(5));
    EXPECT_EQ(commands, std::vector<uint32_t>{40130});
    EXPECT_EQ(GetPlatform()->GetWindowSize(), Int2(640, 380));
    EXPECT_EQ(GetInputScriptWarningCount(), 2u) << LogText();
    for (const char* line :
         {"Input script line 1: no menu item or toolbar button sends command 40000",
          "Input script line 2: no menu item or toolbar button sends command 0"}) {
        EXPECT_TRUE(log.Contains(line)) << line << "\n" << LogText();
    }
}

// A menu item inside a submenu is clicked by its command: the menus on its way open first, as
// the user's clicks would open them. A command closes what is open, as a chosen item does.
FRESH_PROCESS_TEST_F(InputScriptRun, AClickItemOpensTheMenusOnItsWayAndACommandClosesThem) {
    toolsShown = false;
    Run("1 click-item cmd:40130\n"
        "10 click-item menu:View\n"
        "14 command 40129\n");
    ASSERT_TRUE(StepFrames(8));
    EXPECT_EQ(commands, std::vector<uint32_t>{40130});
    EXPECT_EQ(GetPlatform()->GetWindowSize(), Int2(640, 380));
    EXPECT_FALSE(GetEditorUi()->FindItem("menu:Set window size"))
        << "the chosen item's menus close";
    ASSERT_TRUE(StepFrames(6));
    EXPECT_TRUE(GetEditorUi()->FindItem("menu:Set window size"));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_EQ(commands, (std::vector<uint32_t>{40130, 40129}));
    EXPECT_EQ(GetPlatform()->GetWindowSize(), Int2(1024, 600));
    EXPECT_FALSE(GetEditorUi()->FindItem("menu:Set window size"));
    EXPECT_FALSE(GetEditorUi()->FindItem("cmd:40129"));
    EXPECT_EQ(GetInputScriptWarningCount(), 0u) << LogText();
}

} // namespace
} // namespace quarn
