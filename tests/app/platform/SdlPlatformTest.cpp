#include "app/platform/SdlPlatform.h"

#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/WindowMessage.h"
#include "core/scene/EngineState.h"
#include "tests/app/support/SdlEvents.h"
#include "tests/support/ScopedEnvironment.h"

#include <SDL.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// Counts in milliseconds; each frame end reads the next step.
class SteppedClock : public MonotonicClock {
public:
    int64_t Counter() override { return now; }
    int64_t Frequency() override { return 1000; }
    int64_t now = 0;
};

// Instead of blocking, the idle wait lets a test push what the user would do.
class TestPlatform : public SdlPlatform {
public:
    TestPlatform(std::unique_ptr<MonotonicClock> clock, std::unique_ptr<DialogBackend> dialogs)
        : SdlPlatform("", std::move(clock), std::move(dialogs)) {}
    std::function<void()> onWait;
    int waits = 0;

protected:
    void WaitForMessage() override {
        ++waits;
        if (onWait) {
            onWait();
        }
    }
};

class SdlPlatformTest : public ::testing::Test {
protected:
    SdlPlatformTest() {
        // No display is needed or wanted.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        auto clockOwned = std::make_unique<SteppedClock>();
        clock = clockOwned.get();
        auto dialogsOwned = std::make_unique<ScriptedDialogs>();
        dialogs = dialogsOwned.get();
        platform = std::make_unique<TestPlatform>(std::move(clockOwned), std::move(dialogsOwned));
        platform->StartTimer(0);
        window = static_cast<SDL_Window*>(platform->CreateMainWindow(
            "Pelgrath", 0, 0, 1024, 768, WindowStyleResizable | WindowStyleAcceptFiles, 0));
        SDL_PumpEvents();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    void PushWindowEvent(uint8_t kind) {
        SDL_Event event = {};
        event.type = SDL_WINDOWEVENT;
        event.window.event = kind;
        event.window.windowID = SDL_GetWindowID(window);
        SDL_PushEvent(&event);
    }
    // Runs the main loop for the given number of frames; returns the loop's result.
    bool RunFrames(int frames, int64_t millisecondsPerFrame) {
        int left = frames;
        platform->SetFrameCallback([&] {
            clock->now += millisecondsPerFrame;
            return --left > 0;
        });
        return platform->RunMainLoop();
    }

    SteppedClock* clock = nullptr;
    ScriptedDialogs* dialogs = nullptr;
    std::unique_ptr<TestPlatform> platform;
    SDL_Window* window = nullptr;
};

TEST_F(SdlPlatformTest, CreatesItsWindowWithoutADisplayAndAnswersForTheSystem) {
    ASSERT_NE(window, nullptr) << platform->GetLastErrorText();
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Pelgrath");
    // Only the running window holds the program lock; printing is reported as cancelled.
    EXPECT_TRUE(platform->IsWindowClassRunning());
    EXPECT_EQ(platform->BeginPrint(), nullptr);
    // Folders follow the XDG variables and end in a slash.
    test::ScopedEnvironment dataHome("XDG_DATA_HOME", "/tmp/quarn-data");
    EXPECT_STREQ(platform->GetAppDataFolder(), "/tmp/quarn-data/");
}

TEST_F(SdlPlatformTest, MainLoopMeasuresFramesAndPublishesTheSmoothedTime) {
    EXPECT_TRUE(RunFrames(2, 300));
    EXPECT_EQ(platform->GetFrameCount(), 2u);
    EXPECT_FLOAT_EQ(platform->GetRawFrameTime(), 0.3f);
    EXPECT_NEAR(platform->GetFrameTime(), (3 * 0.01f + 2 * 0.1f) / 5, 1e-6f);
    EXPECT_FLOAT_EQ(FrameTime, platform->GetFrameTime());
}

TEST_F(SdlPlatformTest, InactiveWindowRunsNoFrameUntilActiveAgain) {
    PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    bool ranInactive = false;
    platform->onWait = [&] { PushWindowEvent(SDL_WINDOWEVENT_FOCUS_GAINED); };
    platform->SetFrameCallback([&] {
        ranInactive |= platform->TestWindowState(WindowActive) == 0;
        return false;
    });
    EXPECT_TRUE(platform->RunMainLoop());
    EXPECT_EQ(platform->waits, 1);
    EXPECT_FALSE(ranInactive);
}

TEST_F(SdlPlatformTest, SettingsLetFramesRunInTheBackgroundAndMinimised) {
    // Minimised waits unless allowed, even when active.
    EXPECT_FALSE(ShouldRunFrame(WindowActive | WindowMinimized, StartContinueInBackground));
    EXPECT_TRUE(ShouldRunFrame(WindowActive | WindowMinimized, StartContinueMinimized));
    EXPECT_FALSE(ShouldRunFrame(0, StartContinueMinimized));
    platform->StartTimer(StartContinueInBackground | StartContinueMinimized);
    PushWindowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    PushWindowEvent(SDL_WINDOWEVENT_MINIMIZED);
    EXPECT_TRUE(RunFrames(1, 10));
    EXPECT_EQ(platform->waits, 0);
    EXPECT_EQ(platform->TestWindowState(WindowActive | WindowMinimized),
              static_cast<uint32_t>(WindowMinimized));
}

TEST_F(SdlPlatformTest, ClosingEndsTheLoopUnlessTheMessageHookKeepsTheWindow) {
    bool keep = true;
    std::vector<uint32_t> seen;
    platform->SetMessageHook([&](uint32_t message, uintptr_t, intptr_t) -> intptr_t {
        seen.push_back(message);
        return message == MessageClose && keep;
    });
    SDL_Event quit = {};
    quit.type = SDL_QUIT;
    // The window's close, and SDL's quit right behind it: one question.
    PushWindowEvent(SDL_WINDOWEVENT_CLOSE);
    SDL_PushEvent(&quit);
    EXPECT_TRUE(platform->PumpMessages());
    EXPECT_EQ(seen, std::vector<uint32_t>{MessageClose});
    // A quit of its own (a signal) asks the same way.
    SDL_PushEvent(&quit);
    EXPECT_TRUE(platform->PumpMessages());
    EXPECT_EQ(seen, (std::vector<uint32_t>{MessageClose, MessageClose}));
    keep = false;
    SDL_PushEvent(&quit);
    EXPECT_FALSE(RunFrames(1, 10));
    EXPECT_EQ(seen.back(), MessageDestroy);
}

TEST_F(SdlPlatformTest, TheResizeHookGetsTheClientSize) {
    Int2 size;
    platform->SetResizeHook([&](int32_t, int32_t, int32_t width, int32_t height) {
        size = {width, height};
    });
    SDL_SetWindowSize(window, 640, 480);
    PushWindowEvent(SDL_WINDOWEVENT_SIZE_CHANGED);
    platform->PumpMessages();
    EXPECT_EQ(size.x, 640);
    EXPECT_EQ(size.y, 480);
}

// Without a window manager nothing honours the maximise: the window still fills the work area
// instead of keeping the size it was made with. One side too large is cut to the work area, as
// a window system keeps a window on the screen; the other is taken as asked.
TEST_F(SdlPlatformTest, AClientSizeBeyondTheWorkAreaFillsItWhenTheMaximiseIsNotHonoured) {
    const Int2 area = platform->GetWorkAreaSize();
    ASSERT_GT(area.x, 0);
    SDL_SetWindowSize(window, 100, 100);
    platform->SetClientSize(area.x + 256, area.y + 32);
    EXPECT_EQ(platform->GetViewSize(), area);
    platform->SetClientSize(area.x + 256, area.y - 8);
    EXPECT_EQ(platform->GetViewSize(), Int2(area.x, area.y - 8));
    platform->SetClientSize(area.x - 8, area.y + 32);
    EXPECT_EQ(platform->GetViewSize(), Int2(area.x - 8, area.y));
}

// A key or button that goes down and up between two frames, as a quick tap at a low frame rate
// does, counts as pressed in the next frame and released in the one after; a key let go and
// pressed again between frames is pressed again, and the system's repeats of a held key are no
// presses.
TEST_F(SdlPlatformTest, AKeyOrButtonTappedBetweenFramesIsPressedInTheNext) {
    Keyboard& keyboard = *platform->CreateKeyboard();
    Mouse& mouse = *platform->CreateMouse();
    platform->SetMouseHook([&mouse](uint32_t message, uintptr_t detail, intptr_t packed) {
        mouse.HandleMessage(message, detail, packed);
    });
    auto seen = [&](int32_t key) {
        keyboard.Poll();
        return std::string(keyboard.IsKeyDown(key) ? "d" : "") +
               (keyboard.WentDown(key) ? "+" : "") + (keyboard.WentUp(key) ? "-" : "");
    };
    platform->InjectKey(KeyA, true);
    platform->InjectKey(KeyA, false);
    EXPECT_EQ(seen(KeyA), "d+");
    EXPECT_EQ(seen(KeyA), "-");
    EXPECT_EQ(seen(KeyA), "");

    platform->InjectKey(KeySpace, true);
    EXPECT_EQ(seen(KeySpace), "d+");
    SDL_Event repeat = {};
    repeat.type = SDL_KEYDOWN;
    repeat.key.state = SDL_PRESSED;
    repeat.key.repeat = 1;
    repeat.key.keysym.scancode = SDL_SCANCODE_SPACE;
    SDL_PushEvent(&repeat);
    platform->PumpMessages();
    EXPECT_EQ(seen(KeySpace), "d");
    platform->InjectKey(KeySpace, false);
    platform->InjectKey(KeySpace, true);
    EXPECT_EQ(seen(KeySpace), "d+");

    platform->InjectButton(SdlPlatform::InjectedButton::Left, true);
    platform->InjectButton(SdlPlatform::InjectedButton::Left, false);
    mouse.Poll();
    EXPECT_TRUE(mouse.WentDown(MouseLeft, ""));
    EXPECT_TRUE(mouse.WentUp(MouseLeft, ""));
    EXPECT_FALSE(mouse.IsDown(MouseLeft, ""));
    mouse.EndFrame();
    mouse.Poll();
    EXPECT_FALSE(mouse.WentDown(MouseLeft, "") || mouse.WentUp(MouseLeft, ""));
}

// Two clicks 0.2 s apart arrive as SDL gives them, the second counted as a double click's: each
// press is one in its frame, as a game's ButtonWentDown asks, for every button.
TEST_F(SdlPlatformTest, EveryClickOfADoubleClickIsAPressInItsFrame) {
    Mouse& mouse = *platform->CreateMouse();
    platform->SetMouseHook([&mouse](uint32_t message, uintptr_t detail, intptr_t packed) {
        mouse.HandleMessage(message, detail, packed);
    });
    auto push = [&](uint8_t button, bool down, uint8_t clicks) {
        test::PushButtonEvent(button, down, clicks, {100, 100});
        platform->PumpMessages();
    };
    // A press is a click only where the pointer stays.
    platform->InjectMouseMove({100, 100});
    mouse.Poll();
    const std::pair<uint8_t, int32_t> buttons[] = {{SDL_BUTTON_LEFT, MouseLeft},
                                                   {SDL_BUTTON_MIDDLE, MouseMiddle},
                                                   {SDL_BUTTON_RIGHT, MouseRight}};
    for (const auto& [sdlButton, button] : buttons) {
        for (uint8_t clicks : {1, 2}) {
            push(sdlButton, true, clicks);
            mouse.Poll();
            EXPECT_TRUE(mouse.WentDown(button, "")) << button << " click " << int(clicks);
            EXPECT_EQ(mouse.WentDown(MouseDoubleClick, ""), button == MouseLeft && clicks == 2);
            mouse.EndFrame();
            clock->now += 100;
            push(sdlButton, false, clicks);
            mouse.Poll();
            EXPECT_TRUE(mouse.WentUp(button, "") && mouse.WasClicked(button)) << button;
            mouse.EndFrame();
            clock->now += 100;
        }
    }
}

} // namespace
} // namespace quarn
