#include "app/input/Keyboard.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/ShellScriptApp.h"
#include "script/nodes/InputNodes.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/EventLog.h"
#include "tests/support/TestTree.h"

#include <SDL.h>
#include <gtest/gtest.h>

namespace quarn {
namespace {

class InputNodeDevicesTest : public test::PlayerTest {
protected:
    // What a frame of the player reads of the keyboard after the user touched a key.
    static void PressKey(SDL_Scancode scancode, bool down) {
        PushKeyEvent(scancode, down);
        static_cast<SdlPlatform*>(GetPlatform())->PumpMessages();
        Keyboard::Get()->Poll();
    }
};

FRESH_PROCESS_TEST_F(InputNodeDevicesTest, SdlKeyEventsReachAnInputCode) {
    ASSERT_TRUE(Start());
    ASSERT_NE(Keyboard::Get(), nullptr);
    test::TestTree tree;
    Node* root = tree.Make<Node>("root", nullptr);
    auto* probe = tree.Make<test::EventProbe>("probe", root);
    auto* input = tree.Make<InputCode>("input", root);
    input->SetKeyCode(22); // "A"
    input->SetPortValue(0, test::RefTo(probe));
    input->SetPortValue(1, test::RefTo(probe));
    EXPECT_STREQ(input->GetKeyName(), GetKeyName(22));
    test::Deliveries().clear();
    PressKey(SDL_SCANCODE_A, true);
    input->Update(0.02f, 1);
    PressKey(SDL_SCANCODE_A, false);
    input->Update(0.02f, 1);
    ASSERT_EQ(test::Deliveries().size(), 2u);
    EXPECT_EQ(test::Deliveries()[0].value, 1.0f);
    EXPECT_EQ(test::Deliveries()[1].value, 0.0f);
}

} // namespace
} // namespace quarn
