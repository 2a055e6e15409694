#include "script/nodes/InputNodes.h"

#include "core/object/IdMap.h"
#include "core/scenefile/SceneVersionUpgrade.h"
#include "script/machine/ScriptApp.h"
#include "tests/support/EventLog.h"
#include "tests/support/TestTree.h"

#include <gtest/gtest.h>
#include <set>

namespace quarn {
namespace {

// The keys and the first joystick of one frame, as the devices would report them.
class FakeDevices : public ScriptApp {
public:
    bool KeyWentDown(int32_t code) override { return down.count(code) != 0; }
    bool KeyWentUp(int32_t code) override { return up.count(code) != 0; }
    bool KeyIsDown(int32_t code) override { return held.count(code) != 0; }
    int32_t GetLastPressedKey() override { return down.empty() ? 75 : *down.begin(); }
    int32_t GetHeldKey() override { return held.empty() ? 75 : *held.begin(); }

    bool TakeJoystick(bool rescan) override {
        rescans += rescan ? 1 : 0;
        return joystickPlugged;
    }
    bool JoystickAvailable() override { return joystickPlugged; }
    float GetJoystickValue(int32_t button, bool deadZone) override {
        return button >= 0 && button < 4 ? stick[button] * (deadZone ? 0.5f : 1.0f) : 0.0f;
    }

    std::set<int32_t> down, up, held;
    bool joystickPlugged = false;
    int rescans = 0;
    float stick[4] = {}; // left, right, up, down
};

class InputNodesTest : public ::testing::Test {
protected:
    InputNodesTest() { SetScriptApp(&keys_); }
    ~InputNodesTest() override { SetScriptApp(nullptr); }

    template <class T>
    T* Make(const char* name, Node* parent) {
        T* node = tree_.Make<T>(name, parent);
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }
    // An InputCode under a root with probes on both outputs.
    InputCode* MakeInputCode(int32_t code) {
        root_ = Make<Node>("root", nullptr);
        on_ = Make<test::EventProbe>("on", root_);
        off_ = Make<test::EventProbe>("off", root_);
        auto* input = Make<InputCode>("input", root_);
        input->SetKeyCode(code);
        input->SetPortValue(0, test::RefTo(on_));
        input->SetPortValue(1, test::RefTo(off_));
        test::Deliveries().clear();
        return input;
    }

    FakeDevices keys_;
    test::TestTree tree_;
    Node* root_ = nullptr;
    test::EventProbe* on_ = nullptr;
    test::EventProbe* off_ = nullptr;
};

TEST_F(InputNodesTest, InputCodeFiresOnAndOffOncePerPress) {
    InputCode* input = MakeInputCode(22);
    keys_.down = {22};
    input->Update(0.1f, 1);
    keys_.down = {};
    keys_.held = {22};
    input->Update(0.1f, 1);
    keys_.held = {};
    keys_.up = {22};
    input->Update(0.1f, 1);
    keys_.up = {};
    input->Update(0.1f, 1);
    const auto& seen = test::Deliveries();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].receiver, on_->GetId());
    EXPECT_EQ(seen[0].sender, input->GetId());
    EXPECT_EQ(seen[0].value, 1.0f);
    EXPECT_EQ(seen[1].receiver, off_->GetId());
    EXPECT_EQ(seen[1].value, 0.0f);
}

TEST_F(InputNodesTest, InputCodeWithNoKeyNeverFires) {
    InputCode* input = MakeInputCode(75);
    keys_.down = keys_.up = {75};
    input->Update(0.1f, 1);
    EXPECT_TRUE(test::Deliveries().empty());
}

TEST_F(InputNodesTest, AnOnEventThatDeletesTheInputCodeEndsItsUpdate) {
    InputCode* input = MakeInputCode(22);
    on_->action = [input] { input->Delete(); };
    keys_.down = keys_.up = {22}; // tapped within one frame
    input->Update(0.1f, 1);
    ASSERT_EQ(test::Deliveries().size(), 1u);
    EXPECT_EQ(test::Deliveries()[0].receiver, on_->GetId());
}

TEST_F(InputNodesTest, OldScenesStoreScanCodesThatLoadAsKeyCodes) {
    struct Case {
        int32_t fileVersion;
        int32_t stored;
        int32_t loaded;
    };
    const Case cases[] = {
        {29, 30, 22},  // "A"
        {10, 30, 22},  // translated once however old the file
        {29, 56, 75},  // Alt: not in the table
        {29, 184, 75}, // right Alt
        {29, 220, 60}, {29, 500, 75}, {29, -1, 75}, {30, 30, 30}, // already a key code
    };
    for (const Case& c : cases) {
        InputCode* input = MakeInputCode(c.stored);
        UpgradeNodeVersion(c.fileVersion, *input);
        EXPECT_EQ(input->GetKeyCode(), c.loaded) << c.fileVersion << " " << c.stored;
    }
}

TEST_F(InputNodesTest, KeyboardInterfaceAnswersNothingWhileDisabled) {
    root_ = Make<Node>("root", nullptr);
    auto* keyboard = Make<KeyboardInterface>("keyboard", root_);
    keys_.down = keys_.held = {22};
    EXPECT_TRUE(keyboard->WentDown(22));
    EXPECT_TRUE(keyboard->IsDown(22));
    EXPECT_EQ(keyboard->GetLastPressedKey(), 22);
    root_->SetFlags(0, NodeEnabled); // the keyboard inherits it
    EXPECT_FALSE(keyboard->WentDown(22));
    EXPECT_FALSE(keyboard->IsDown(22));
    EXPECT_EQ(keyboard->GetLastPressedKey(), 75);
    EXPECT_EQ(keyboard->GetHeldKey(), 75);
}

void ExpectStick(Float2 stick, float x, float y) {
    EXPECT_FLOAT_EQ(stick.x, x);
    EXPECT_FLOAT_EQ(stick.y, y);
}

TEST_F(InputNodesTest, JoystickPluggedInLaterIsFoundByTheConnectionTest) {
    root_ = Make<Node>("root", nullptr);
    auto* joystick = Make<Joystick>("joystick", root_);
    keys_.joystickPlugged = true;
    keys_.stick[1] = 0.75f;
    keys_.stick[2] = 0.5f;
    // Taken at construction: no device, so nothing reads it until the test finds one.
    ExpectStick(joystick->GetLeftStick(0), 0, 0);
    EXPECT_EQ(joystick->GetCurrentButton(), 29);
    EXPECT_STREQ(joystick->GetButtonName(0), "unknown");
    EXPECT_TRUE(joystick->IsConnected());
    EXPECT_EQ(keys_.rescans, 1);
    ExpectStick(joystick->GetLeftStick(0), 0.75f, 0.5f);
    ExpectStick(joystick->GetLeftStickPastDeadZone(0, false), 0.375f, 0.25f);
    EXPECT_TRUE(joystick->IsConnected());
    EXPECT_EQ(keys_.rescans, 1); // a connected device is not looked for again
}

} // namespace
} // namespace quarn
