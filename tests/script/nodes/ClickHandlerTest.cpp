#include "script/nodes/ClickHandler.h"

#include "core/object/IdMap.h"
#include "core/scene/CameraView.h"
#include "core/scene/Picking.h"
#include "render/RenderObject.h"
#include "script/machine/ScriptApp.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/FakeCamera.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// The mouse of one frame as the device reports it, owners included: an owned button answers
// only its owner, a free one only "".
class FakeMouse : public ScriptApp {
public:
    Float2 GetMousePosition() override { return position; }
    Int2 GetViewSize() override { return {640, 480}; }
    void SetMouseTag(int32_t button, const char* tag) override { owners[button] = tag; }
    std::string GetMouseTag(int32_t button) override { return owners[button]; }
    bool MouseWentDownFor(int32_t button, const char* owner) override {
        return owners[button] == owner && pressed[button];
    }
    bool MouseWentDownSinglyFor(int32_t button, const char* owner) override {
        return owners[button] == owner && single[button];
    }
    bool MouseWentUpFor(int32_t button, const char* owner) override {
        return owners[button] == owner && released[button];
    }
    bool MouseIsDownFor(int32_t button, const char* owner) override {
        return owners[button] == owner && down[button];
    }

    void Press(int32_t button) { down[button] = pressed[button] = single[button] = true; }
    // A double click's second press: a press of button 0 and of the double-click button.
    void DoublePress() { down[0] = pressed[0] = down[3] = pressed[3] = true; }
    void Release(int32_t button) {
        down[button] = false;
        released[button] = true;
    }
    // What the device forgets at the end of a frame: the owners of released buttons that were
    // not pressed again, and one-frame states.
    void EndFrame() {
        for (int b = 0; b < 4; ++b) {
            if (released[b] && !down[b]) {
                owners[b].clear();
            }
            pressed[b] = single[b] = released[b] = false;
        }
    }

    Float2 position;
    bool down[4] = {};
    bool pressed[4] = {};
    bool single[4] = {};
    bool released[4] = {};
    std::string owners[4];
};

// A drawable hit wherever the mouse lies inside its screen rectangle, at a set distance.
class ClickBox : public test::TestClass<ClickBox, RenderObject> {
public:
    static constexpr const char* Name = "ClickTestBox";

    int32_t Render() override { return 0; }
    bool IntersectRay(const Float3&, const Float3&, PickQuery& query) override {
        const Float2 p = query.screenPoint;
        if (p.x < left || p.x >= right || p.y < 0.0f || p.y >= 100.0f) {
            return false;
        }
        query.current.distance = distance;
        return true;
    }

    float left = 0.0f;
    float right = 100.0f;
    float distance = 10.0f;
};

struct Click {
    uint32_t target;
    uint32_t object;
    uint32_t bits;
};

// Records each "click" call and may run an action on it.
class ClickTarget : public test::TestClass<ClickTarget, Node> {
public:
    static constexpr const char* Name = "ClickTestTarget";
    static void Declare(ClassInfo& info) {
        info.AddMethod("click", "()", BindSignalHandler<&ClickTarget::OnClick>(), 0);
    }
    void OnClick(void* argument) {
        const auto* record = static_cast<const uint32_t*>(argument);
        calls.push_back({record[0], record[1], record[2]});
        if (std::function<void()> run = action) {
            run();
        }
    }
    std::vector<uint32_t> Bits() const {
        std::vector<uint32_t> bits;
        for (const Click& click : calls) {
            bits.push_back(click.bits);
        }
        return bits;
    }

    std::vector<Click> calls;
    std::function<void()> action;
};

constexpr float Step = 0.1f;
const Float2 OnBox{50.0f, 50.0f};
const Float2 OffBox{300.0f, 50.0f};

class ClickHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetScriptApp(&mouse_);
        TheIdMap().Clear();
        root_ = Make<Node>("root");
        TheIdMap().SetSceneRoot(0, root_);
        handler_ = Make<ClickHandler>("handler", root_);
        camera_.SetPose({}, Quaternion());
        CurrentCamera = &camera_;
    }
    void TearDown() override {
        CurrentCamera = nullptr;
        SetScriptApp(nullptr);
        root_->Delete();
        TheIdMap().Clear();
    }

    template <class T>
    T* Make(const char* name, Node* parent = nullptr) {
        T* node = tree_.Make<T>(name, parent);
        node->ChangeId(TheIdMap().GetFreeLocalId(0));
        return node;
    }
    ClickBox* Box(float left, float right, float distance = 10.0f) {
        auto* box = Make<ClickBox>("box", root_);
        box->left = left;
        box->right = right;
        box->distance = distance;
        return box;
    }
    void Add(Entity* object, Entity* target, int32_t mask) {
        handler_->AddClickable({object ? object->GetId() : 0u}, {target->GetId()}, mask);
    }
    void Frame(Float2 position, int mode = UpdateRunning) {
        mouse_.position = position;
        handler_->Update(Step, mode);
        mouse_.EndFrame();
    }

    FakeMouse mouse_;
    test::FakeCamera camera_;
    test::TestTree tree_;
    Node* root_ = nullptr;
    ClickHandler* handler_ = nullptr;
};

TEST_F(ClickHandlerTest, PressHoldAndReleaseReportTheirBits) {
    enum Action { Hover, Press, Hold, Release, Tap };
    struct Step {
        Action action;
        Float2 where;
        uint32_t reported; // 0: no call
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Float2 movedALittle{60.0f, 50.0f}; // 10 pixels from the press
    const Case cases[] = {
        {"quick click", {{Hover, OnBox, 0x20}, {Press, OnBox, 0x41}, {Release, OnBox, 0x4C}}},
        {"press on arrival", {{Press, OnBox, 0x21}, {Release, OnBox, 0x4C}}},
        {"held past the time limit",
         {{Press, OnBox, 0x21},
          {Hold, OnBox, 0x42},
          {Hold, OnBox, 0x142},
          {Hold, OnBox, 0x142},
          {Release, OnBox, 0x244}}},
        {"moved past the pixel limit",
         {{Press, OnBox, 0x21}, {Hold, movedALittle, 0x142}, {Release, movedALittle, 0x244}}},
        {"dropped off the entry",
         {{Press, OnBox, 0x21},
          {Hold, OffBox, 0x142},
          {Release, OffBox, 0x284},
          {Hover, OffBox, 0}}},
        {"left once",
         {{Hover, OnBox, 0x20}, {Hover, OnBox, 0x40}, {Hover, OffBox, 0x80}, {Hover, OffBox, 0}}},
        {"tapped within one frame", {{Tap, OnBox, 0x2D}, {Hover, OnBox, 0x40}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClickBox* box = Box(0.0f, 100.0f);
        auto* target = Make<ClickTarget>("target", root_);
        Add(box, target, 0x7FF);
        std::vector<uint32_t> expected;
        for (const Step& step : c.steps) {
            if (step.action == Press || step.action == Tap) {
                mouse_.Press(0);
            }
            if (step.action == Release || step.action == Tap) {
                mouse_.Release(0);
            }
            Frame(step.where);
            if (step.reported) {
                expected.push_back(step.reported);
            }
        }
        EXPECT_EQ(target->Bits(), expected);
        ASSERT_FALSE(target->calls.empty());
        EXPECT_EQ(target->calls[0].target, target->GetId());
        EXPECT_EQ(target->calls[0].object, box->GetId());
        handler_->RemoveAll();
        box->Delete();
        target->Delete();
    }
}

TEST_F(ClickHandlerTest, ButtonsAreOwnedWhileHeldAndOthersPressesAreNotAnswered) {
    auto* target = Make<ClickTarget>("target", root_);
    Add(Box(0.0f, 100.0f), target, 0x7FF);
    mouse_.Press(0);
    Frame(OnBox);
    EXPECT_TRUE(handler_->IsButtonCaptured(0));
    EXPECT_EQ(mouse_.owners[0], ClickHandler::OwnerName);
    Frame(OnBox);
    mouse_.Release(0);
    mouse_.position = OnBox;
    handler_->Update(Step, UpdateRunning);
    EXPECT_EQ(mouse_.owners[0], "") << "the handler gives the button back on its release";
    mouse_.EndFrame();

    // A press that another owner holds is not the handler's.
    target->calls.clear();
    mouse_.owners[0] = "dialog";
    mouse_.Press(0);
    Frame(OnBox);
    EXPECT_EQ(target->Bits(), std::vector<uint32_t>{0x40});
}

// The device reports a double click's second press as a press of button 0 and of button 3;
// the handler takes it as a press only with double_as_single, as before the device did. A
// single press in the same frame (the whole double click in one slow frame) is one all the same.
TEST_F(ClickHandlerTest, TheSecondPressOfADoubleClickPressesOnlyWithDoubleAsSingle) {
    auto* target = Make<ClickTarget>("target", root_);
    Add(Box(0.0f, 100.0f), target, 0x7FF);
    for (uint32_t flags : {ClickEnableDrag, ClickEnableDrag | ClickDoubleAsSingle}) {
        handler_->SetClickFlags(flags);
        target->calls.clear();
        mouse_.Press(0);
        mouse_.Release(0);
        Frame(OnBox);
        mouse_.DoublePress();
        Frame(OnBox);
        mouse_.Release(0);
        mouse_.Release(3);
        Frame(OnBox);
        // The second click pressed and released within its frame.
        mouse_.DoublePress();
        mouse_.Release(0);
        mouse_.Release(3);
        Frame(OnBox);
        // Both clicks within one frame.
        mouse_.Press(0);
        mouse_.DoublePress();
        mouse_.Release(0);
        mouse_.Release(3);
        Frame(OnBox);
        const bool taken = (flags & ClickDoubleAsSingle) != 0;
        const uint32_t second = taken ? 0x41 : 0x40;
        const uint32_t release = taken ? 0x4C : 0x40;
        const uint32_t quick = taken ? 0x4D : 0x40;
        EXPECT_EQ(target->Bits(), (std::vector<uint32_t>{0x2D, second, release, quick, 0x4D}))
            << flags;
        Frame(OffBox);
    }
}

// A quick double click in slow frames: the first click's release and the second press may share
// a frame, the button ending it down. Each case is a left double click's events (D down, U up,
// B the double click's press) with '|' ending a frame, and the calls with and without
// double_as_single: the first click is always whole, and no release is lost or made up.
TEST_F(ClickHandlerTest, AReleaseAndAPressInOneFrameAreBothReported) {
    const struct {
        const char* events;
        std::vector<uint32_t> single, taken;
    } cases[] = {
        {"D|UB|U", {0x21, 0x4C, 0x40}, {0x21, 0x4D, 0x4C}},
        {"D|UBU", {0x21, 0x4C}, {0x21, 0x4D}},
        {"DU|B|U", {0x2D, 0x40, 0x40}, {0x2D, 0x41, 0x4C}},
        {"DUB|U", {0x21, 0x4C}, {0x21, 0x4C}},
        {"D|UB||U", {0x21, 0x4C, 0x40, 0x40}, {0x21, 0x4D, 0x42, 0x4C}},
    };
    auto* target = Make<ClickTarget>("target", root_);
    Add(Box(0.0f, 100.0f), target, 0x7FF);
    for (const auto& each : cases) {
        for (const bool doubleAsSingle : {false, true}) {
            handler_->SetClickFlags(doubleAsSingle ? ClickDoubleAsSingle : 0);
            target->calls.clear();
            for (const char* at = each.events;; ++at) {
                if (*at == '|' || *at == '\0') {
                    Frame(OnBox);
                    if (*at == '\0') {
                        break;
                    }
                } else if (*at == 'D') {
                    mouse_.Press(0);
                } else if (*at == 'B') {
                    mouse_.DoublePress();
                } else {
                    mouse_.Release(0);
                    mouse_.Release(3);
                }
            }
            EXPECT_EQ(target->Bits(), doubleAsSingle ? each.taken : each.single)
                << each.events << " " << doubleAsSingle;
            Frame(OffBox);
        }
    }
}

TEST_F(ClickHandlerTest, AnEntryReactsOnlyToItsButtonsAndReportsOnlyItsBits) {
    auto* buttonsOnly = Make<ClickTarget>("buttons", root_);
    Add(Box(0.0f, 100.0f), buttonsOnly, 0x800);
    auto* rightButton = Make<ClickTarget>("right", root_);
    Add(Box(200.0f, 400.0f), rightButton, 0x1000 | 0x1 | 0x4);
    for (Float2 where : {OnBox, OffBox}) {
        mouse_.Press(0);
        Frame(where);
        mouse_.Release(0);
        Frame(where);
        mouse_.Press(2);
        Frame(where);
        mouse_.Release(2);
        Frame(where);
    }
    EXPECT_TRUE(buttonsOnly->calls.empty());
    // Button 0 means nothing to it; button 2's press and release do.
    EXPECT_EQ(rightButton->Bits(), (std::vector<uint32_t>{0x1, 0x4}));
}

TEST_F(ClickHandlerTest, AnEntryWithoutAnObjectCatchesClicksNoOtherEntryTakes) {
    auto* anywhere = Make<ClickTarget>("anywhere", root_);
    auto* boxed = Make<ClickTarget>("boxed", root_);
    Add(nullptr, anywhere, 0x7FF);
    Add(Box(0.0f, 100.0f), boxed, 0x7FF);
    for (Float2 where : {OnBox, OffBox}) {
        mouse_.Press(0);
        Frame(where);
        mouse_.Release(0);
        Frame(where);
    }
    ASSERT_EQ(boxed->calls.size(), 3u); // press, release, then leave
    EXPECT_EQ(boxed->calls[0].bits, 0x21u);
    ASSERT_FALSE(anywhere->calls.empty());
    EXPECT_EQ(anywhere->calls[0].bits, 0x21u);
    EXPECT_EQ(anywhere->calls[0].object, 0u);
}

TEST_F(ClickHandlerTest, NearerEntryWinsAndHiddenOrDisabledObjectsAreLeftOut) {
    auto* far = Make<ClickTarget>("far", root_);
    auto* near = Make<ClickTarget>("near", root_);
    Add(Box(0.0f, 100.0f, 20.0f), far, 0x7FF);
    ClickBox* nearBox = Box(0.0f, 100.0f, 5.0f);
    Add(nearBox, near, 0x7FF);
    Frame(OnBox);
    EXPECT_EQ(near->Bits(), std::vector<uint32_t>{0x20});
    nearBox->SetFlag(NodeEnabled, false);
    Frame(OnBox);
    EXPECT_EQ(far->Bits(), std::vector<uint32_t>{0x20});
    EXPECT_EQ(near->Bits(), (std::vector<uint32_t>{0x20, 0x80}));
}

TEST_F(ClickHandlerTest, TheListKeepsItsCurrentEntryThroughRemovals) {
    test::CapturingLogSink log;
    auto* target = Make<ClickTarget>("target", root_);
    handler_->AddClickable({target->GetId()}, {target->GetId()}, 0);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].channel, "Input");
    EXPECT_EQ(log.Lines()[0].text, "Did not add clickable object, wrong type");
    EXPECT_EQ(handler_->GetEntryCount(), 0);

    ClickBox* left = Box(0.0f, 100.0f);
    ClickBox* right = Box(200.0f, 400.0f);
    Add(left, target, 0x7FF);
    Add(right, target, 0x7FF);
    Add(left, target, 0x7FF); // replaces its entry, now the last
    ASSERT_EQ(handler_->GetEntryCount(), 2);
    Frame(OnBox);
    EXPECT_EQ(handler_->GetCurrentEntry(), 1);
    handler_->RemoveClickable({right->GetId()});
    EXPECT_EQ(handler_->GetCurrentEntry(), 0);
    Frame(OnBox);
    EXPECT_EQ(target->Bits(), (std::vector<uint32_t>{0x20, 0x40}));

    // Deleted nodes leave the list through "nodedeletion".
    Add(right, target, 0x7FF);
    right->Delete();
    EXPECT_EQ(handler_->GetEntryCount(), 1);
    target->Delete();
    EXPECT_EQ(handler_->GetEntryCount(), 0);
    EXPECT_EQ(handler_->GetCurrentEntry(), -1);
}

TEST_F(ClickHandlerTest, AClickCallMayDeleteTheHandlerOrChangeItsList) {
    auto* first = Make<ClickTarget>("first", root_);
    auto* second = Make<ClickTarget>("second", root_);
    ClickBox* firstBox = Box(0.0f, 100.0f);
    Add(firstBox, first, 0x7FF);
    Add(Box(200.0f, 400.0f), second, 0x7FF);

    // Leaving the first entry removes it during its call; the second is entered all the same.
    Frame(OnBox);
    first->action = [this, firstBox] { handler_->RemoveClickable({firstBox->GetId()}); };
    Frame(OffBox);
    EXPECT_EQ(first->Bits(), (std::vector<uint32_t>{0x20, 0x80}));
    EXPECT_EQ(second->Bits(), std::vector<uint32_t>{0x20});
    EXPECT_EQ(handler_->GetCurrentEntry(), 0);
    Frame(OffBox);
    EXPECT_EQ(second->Bits(), (std::vector<uint32_t>{0x20, 0x40}));

    // A release whose call deletes the handler still gives the button back.
    mouse_.Press(0);
    Frame(OffBox);
    second->action = [this] { handler_->Delete(); };
    mouse_.Release(0);
    mouse_.position = OffBox;
    const uint64_t serial = handler_->GetSerial();
    handler_->Update(Step, UpdateRunning);
    EXPECT_EQ(Entity::FindBySerial(serial), nullptr);
    EXPECT_EQ(mouse_.owners[0], "");
}

TEST_F(ClickHandlerTest, LeavingCallThatDeletesTheHandlerEndsTheUpdate) {
    auto* first = Make<ClickTarget>("first", root_);
    auto* second = Make<ClickTarget>("second", root_);
    Add(Box(0.0f, 100.0f), first, 0x7FF);
    Add(Box(200.0f, 400.0f), second, 0x7FF);
    Frame(OnBox);
    first->action = [this] { handler_->Delete(); };
    Frame(OffBox);
    EXPECT_EQ(first->Bits(), (std::vector<uint32_t>{0x20, 0x80}));
    EXPECT_TRUE(second->calls.empty());
}

TEST_F(ClickHandlerTest, StoppedGameOnlyPicksUnderTheMouseAndPickReportsOnDemand) {
    auto* target = Make<ClickTarget>("target", root_);
    ClickBox* box = Box(0.0f, 100.0f);
    box->SetRenderFlags(box->GetRenderFlags() | RenderClickable);
    Add(box, target, 0x7FF);
    Frame(OnBox, UpdateStopped);
    EXPECT_TRUE(target->calls.empty());
    EXPECT_EQ(handler_->GetObjectUnderMouse().value, box->GetId());
    Frame(OffBox, UpdateStopped);
    EXPECT_EQ(handler_->GetObjectUnderMouse().value, 0u);

    mouse_.position = OnBox;
    handler_->PickNow();
    EXPECT_EQ(target->Bits(), std::vector<uint32_t>{0x400});
    CurrentCamera = nullptr;
    Frame(OnBox);
    EXPECT_EQ(target->Bits(), std::vector<uint32_t>{0x400});
}

// A script's "click" function takes the words after the target's: the render object and the
// reported bits (every call read zeros when the record stayed with the engine's own handlers).
class ClickHandlerScriptTest : public test::ScriptRunTest {
protected:
    void SetUp() override {
        test::ScriptRunTest::SetUp();
        SetScriptApp(&mouse_);
        CurrentCamera = &camera_;
    }
    void TearDown() override {
        CurrentCamera = nullptr;
        SetScriptApp(nullptr);
        test::ScriptRunTest::TearDown();
    }
    FakeMouse mouse_;
    test::FakeCamera camera_;
};

TEST_F(ClickHandlerScriptTest, AScriptsClickFunctionReadsTheObjectAndTheBits) {
    ClickBox::RegisterClass(); // the program's signature names its base
    Script* script = MakeScript("var \"object\" int kind=2\nvar \"bits\" int kind=2\n"
                                "function \"click\" (RenderObject, int) at=@click export\n"
                                "click:\npush 0\npush -2\nloadlocal 1\nstore 1\n"
                                "push 1\npush -1\nloadlocal 1\nstore 1\nreturn 2 0\n",
                                "clicker");
    auto* handler = Make<ClickHandler>();
    auto* box = Make<ClickBox>();
    handler->AddClickable({box->GetId()}, {script->GetId()}, 0x7FF);
    const std::pair<void (*)(FakeMouse&), uint32_t> frames[] = {
        {[](FakeMouse&) {}, ClickEnter},
        {[](FakeMouse& mouse) { mouse.Press(0); }, ClickOver | ClickPress},
        {[](FakeMouse& mouse) { mouse.Release(0); }, ClickOver | ClickRelease | ClickClick},
    };
    for (const auto& [act, bits] : frames) {
        act(mouse_);
        mouse_.position = OnBox;
        handler->Update(Step, UpdateRunning);
        mouse_.EndFrame();
        EXPECT_EQ(script->ReadVariable<int32_t>("object"), static_cast<int32_t>(box->GetId()));
        EXPECT_EQ(script->ReadVariable<int32_t>("bits"), static_cast<int32_t>(bits));
    }
}

} // namespace
} // namespace quarn
