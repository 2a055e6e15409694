#include "app/input/Mouse.h"
#include "core/object/MethodInfo.h"
#include "script/machine/ScriptLibrary.h"
#include "script/nodes/ClickHandler.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/app/support/SdlEvents.h"

#include <SDL.h>
#include <set>

namespace quarn {
namespace {

// What a game saw of the mouse in one frame: engine functions 54 (went down) and 57 (went up),
// and the bits a click handler's catch-all entry reported.
struct FrameSeen {
    bool down0 = false;
    bool down3 = false;
    bool up3 = false;
    uint32_t clickBits = 0;
};

bool LibraryFunction(int number, int32_t button) {
    uint32_t block[2] = {0, static_cast<uint32_t>(button)};
    GetRegisteredFunction(GetScriptLibraryFirstIndex() + number)->Call(nullptr, block);
    return block[0] != 0;
}

// Updated after the click handler before it in the scene: takes its reports, then writes down
// the frame.
class WindowMouseProbe : public test::TestClass<WindowMouseProbe, Node> {
public:
    static constexpr const char* Name = "WindowMouseProbe";
    static void Declare(ClassInfo& info) {
        info.AddMethod("click", "()", BindSignalHandler<&WindowMouseProbe::OnClick>(), 0);
    }
    void OnClick(void* record) { clickBits |= static_cast<const uint32_t*>(record)[2]; }
    void Update(float, int mode) override {
        if (mode != UpdateRunning) {
            return;
        }
        frames.push_back(
            {LibraryFunction(54, 0), LibraryFunction(54, 3), LibraryFunction(57, 3), clickBits});
        clickBits = 0;
    }

    static inline std::vector<FrameSeen> frames;
    uint32_t clickBits = 0;
};

using MouseWindow = test::PlayerTest;

// A double click as SDL gives it (press, release, the second press counted 2, release, each
// press held 40 ms, 250 ms apart) at 60, 30, 5 and 2 frames a second: at 5 each press and its
// release share a frame, at 2 all four do. A game sees the double click's button go down and up
// once; a click handler takes each press with double_as_single and the first alone without it,
// a slow frame's single press included.
FRESH_PROCESS_TEST_F(MouseWindow, ADoubleClickIsOneAtEveryFrameRate) {
    WindowMouseProbe::RegisterClass();
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 5\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
                     "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n"
                     "\tcurrentcamera = 2\n}\n"
                     "obj4 {\n\tclass = \"ClickHandler\"\n\tparent = 1\n\tprev = 3\n}\n"
                     "obj5 {\n\tclass = \"WindowMouseProbe\"\n\tparent = 1\n\tprev = 4\n}\n");
    ASSERT_TRUE(Start());
    auto* handler = dynamic_cast<ClickHandler*>(GetSceneRoot()->FindByClassName("ClickHandler"));
    Node* probe = GetSceneRoot()->FindByClassName("WindowMouseProbe");
    ASSERT_TRUE(handler && probe);
    handler->AddClickable({0}, {probe->GetId()}, 0x7FF);
    ASSERT_TRUE(Step());

    struct Event {
        int milliseconds;
        bool down;
        uint8_t clicks;
    };
    const Event events[] = {{0, true, 1}, {40, false, 1}, {250, true, 2}, {290, false, 2}};
    for (const bool doubleAsSingle : {false, true}) {
        handler->SetClickFlags(ClickEnableDrag | (doubleAsSingle ? ClickDoubleAsSingle : 0));
        for (const int rate : {60, 30, 5, 2}) {
            const std::string label = std::to_string(rate) + " a second, double_as_single " +
                                      std::to_string(doubleAsSingle);
            WindowMouseProbe::frames.clear();
            // The frame each event is handled in: the first that starts after it.
            std::vector<int> frameOf;
            int frame = 0;
            for (const Event& event : events) {
                while (event.milliseconds >= (frame + 1) * 1000 / rate) {
                    ASSERT_TRUE(Step(1.0 / rate));
                    ++frame;
                }
                test::PushButtonEvent(SDL_BUTTON_LEFT, event.down, event.clicks, {50, 50});
                frameOf.push_back(frame);
            }
            ASSERT_TRUE(StepFrames(2, 1.0 / rate));
            const std::vector<FrameSeen>& seen = WindowMouseProbe::frames;
            ASSERT_GE(seen.size(), static_cast<size_t>(frameOf.back() + 1)) << label;
            std::set<int> down0, down3, up3, presses, clicked;
            for (int at = 0; at < static_cast<int>(seen.size()); ++at) {
                for (auto [yes, frames] : {std::pair{seen[at].down0, &down0},
                                           {seen[at].down3, &down3},
                                           {seen[at].up3, &up3},
                                           {(seen[at].clickBits & ClickPress) != 0, &presses},
                                           {(seen[at].clickBits & ClickClick) != 0, &clicked}}) {
                    if (yes) {
                        frames->insert(at);
                    }
                }
            }
            const std::set<int> pressFrames = {frameOf[0], frameOf[2]};
            const std::set<int> releaseFrames = {frameOf[1], frameOf[3]};
            const std::set<int> first = {frameOf[0]};
            const std::set<int> firstRelease = {frameOf[1]};
            EXPECT_EQ(down0, pressFrames) << label;
            EXPECT_EQ(down3, std::set<int>{frameOf[2]}) << label;
            EXPECT_EQ(up3, std::set<int>{frameOf[3]}) << label;
            EXPECT_EQ(presses, doubleAsSingle ? pressFrames : first) << label;
            EXPECT_EQ(clicked, doubleAsSingle ? releaseFrames : firstRelease) << label;
        }
    }
}

} // namespace
} // namespace quarn
