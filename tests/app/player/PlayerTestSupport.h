#pragma once

#include "app/dialogs/DialogBackend.h"
#include "app/editor/EditorUi.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/WindowMessage.h"
#include "app/player/Engine.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "editor/UiLayer.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/ScopedEnvironment.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestClass.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarn::test {

// What the probes below saw, in order: signal names and resource calls.
inline std::vector<std::string>& Seen() {
    static std::vector<std::string> seen;
    return seen;
}

// Hears the signals of the player's road as a class: every instance receives them.
class SignalProbe : public TestClass<SignalProbe, Node> {
public:
    static constexpr const char* Name = "PlayerSignalProbe";
    static constexpr const char* Signals[] = {
        "quarn_start", "start", "loaded", "quarn_save", "releasevideomemory", "restorevideomemory"};
    static inline bool vetoSave = false;

    static void Declare(ClassInfo& classInfo) {
        [&]<size_t... I>(std::index_sequence<I...>) {
            (classInfo.AddMethod(Signals[I], "()", BindSignalHandler<&SignalProbe::On<I>>(), 0),
             ...);
        }
        (std::make_index_sequence<std::size(Signals)>());
    }
    // One listening instance, outside any scene, for the whole program: a second registration
    // or instance would hear every signal twice.
    static void Listen() {
        static bool listening = false;
        if (!listening) {
            for (const char* name : Signals) {
                RegisterClassSignal(name, RegisterClass());
            }
            classInfo->CreateInstance();
            listening = true;
        }
    }

    template <size_t I>
    void On(void*) {
        Seen().push_back(Signals[I]);
        if (Signals[I] == std::string("quarn_save") && vetoSave) {
            StopSignal();
        }
    }
};

// A clock that moves only when told: frame times are exact and the same in every run.
class FixedClock : public MonotonicClock {
public:
    int64_t Counter() override { return now; }
    int64_t Frequency() override { return 1'000'000; }
    void Advance(double seconds) { now += static_cast<int64_t>(seconds * 1e6 + 0.5); }

    int64_t now = 0;
};

// What ExitProgram throws once a test catches it.
struct ProgramExit {};

// A scene of one root node, enabled or not, with a child pivot.
inline std::string SceneText(bool rootEnabled = true) {
    return std::string(
               "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n"
               "\tflags = ") +
           (rootEnabled ? "1" : "0") +
           "\n}\nobj2 {\n\tclass = \"Pivot\"\n\tname = \"child\"\n\tparent = 1\n}\n";
}

// Runs the engine in-process in a fresh folder that becomes the working folder, with the user's
// folder below it, no display or sound card, dialogs answered from a script and a clock that
// moves only with the frames a test steps. The engine, once started, lives until its process
// ends (a second scene ends the process), so every test that starts it runs in a process of its
// own: FRESH_PROCESS_TEST_F in place of TEST_F, or its body in ExpectInFreshProcess.
class PlayerTest : public ::testing::Test {
protected:
    PlayerTest() { EXPECT_EQ(chdir(folder.Path().c_str()), 0); }
    // The folder goes with the test: the tests after it work where the program started.
    ~PlayerTest() override { EXPECT_EQ(chdir(startFolder.c_str()), 0); }

    // The SDL platform, its dialogs kept in `dialogs`.
    EngineSetup WithScriptedDialogs(EngineSetup setup) {
        setup.makePlatform = [this] {
            auto scripted = std::make_unique<ScriptedDialogs>();
            dialogs = scripted.get();
            auto fixed = std::make_unique<FixedClock>();
            clock = fixed.get();
            return new SdlPlatform("", std::move(fixed), std::move(scripted));
        };
        return setup;
    }
    bool Start(EngineSetup setup = {}) { return InitEngine(WithScriptedDialogs(std::move(setup))); }
    bool StartEditor(EngineSetup setup = {}) {
        setup.editor = true;
        return Start(std::move(setup));
    }
    static SdlPlatform& Sdl() { return *static_cast<SdlPlatform*>(GetPlatform()); }

    // From now on ExitProgram throws ProgramExit instead of ending the test's process.
    static void CatchExit() {
        SetExitHandler([] { throw ProgramExit{}; });
    }

    // One frame as the main loop runs it, the clock moved on by the seconds first. False when
    // the loop would end there.
    bool Step(double seconds = 1.0 / 60.0) {
        clock->Advance(seconds);
        return Sdl().PumpMessages() && Sdl().RunFrame();
    }
    bool StepFrames(int32_t count, double seconds = 1.0 / 60.0) {
        for (int32_t frame = 0; frame < count; ++frame) {
            if (!Step(seconds)) {
                return false;
            }
        }
        return true;
    }

    // Input through SDL's queue, as a user's arrives; positions in the window's pixels (the
    // editor's menu bar included). A click presses, steps a frame and releases.
    static void MoveTo(Int2 window) { Sdl().InjectMouseMove(window); }
    bool Click(Int2 window,
               SdlPlatform::InjectedButton button = SdlPlatform::InjectedButton::Left) {
        MoveTo(window);
        Sdl().InjectButton(button, true);
        const bool running = Step();
        Sdl().InjectButton(button, false);
        return running;
    }
    // The window pixel of a view pixel.
    static Int2 InWindow(Int2 view) {
        const Int2 place = GetEditorViewPlace(*GetPlatform());
        return {place.x + view.x, place.y + view.y};
    }
    // A named UI item of the last frame clicked at its centre; false (and a failure) when the
    // last frame had no such item.
    bool ClickItem(const std::string& name) {
        const auto item = GetEditorUi() ? GetEditorUi()->FindItem(name) : std::nullopt;
        EXPECT_TRUE(item) << "no UI item " << name;
        return item && Click({static_cast<int32_t>(item->CentreX()),
                              static_cast<int32_t>(item->CentreY())});
    }
    // The command a menu item or toolbar button sends.
    static void Command(uint32_t id) { Sdl().SendWindowMessage(MessageCommand, id, 0); }

    // The last composed window image's pixel as 0xAARRGGBB.
    static uint32_t ImagePixel(int32_t x, int32_t y) {
        return static_cast<SoftwareSurface*>(GetEditorWindowImage())->ReadArgb(x, y);
    }

    // Every line logged so far, each ended by a line feed, the test's folder written as "~".
    std::string LogText() const {
        std::string text;
        for (const auto& line : log.Lines()) {
            text.append(line.text).push_back('\n');
        }
        return Tilde(text, folder);
    }

    // The back buffer's pixel as 0xAARRGGBB.
    uint32_t Pixel(uint32_t x, uint32_t y) {
        auto* device = static_cast<GpuRenderDevice*>(TheRenderDevice());
        return static_cast<SoftwareSurface*>(device->Gpu()->GetBackBuffer())->ReadArgb(x, y);
    }

    std::string startFolder = std::filesystem::current_path().string();
    TempFolder folder;
    ScopedEnvironment videoDriver{"SDL_VIDEODRIVER", "offscreen"};
    ScopedEnvironment soundDriver{"ALSOFT_DRIVERS", "null"};
    ScopedEnvironment dataHome{"XDG_DATA_HOME", folder.Join("data")};
    CapturingLogSink log;
    ScriptedDialogs* dialogs = nullptr;
    FixedClock* clock = nullptr;
};

} // namespace quarn::test
