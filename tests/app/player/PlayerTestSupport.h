#pragma once

#include "app/dialogs/DialogBackend.h"
#include "app/platform/SdlPlatform.h"
#include "app/player/Engine.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestClass.h"

#include <cstdlib>
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
    // One listening instance, outside any scene.
    static void Listen() {
        for (const char* name : Signals) {
            RegisterClassSignal(name, RegisterClass());
        }
        classInfo->CreateInstance();
    }

    template <size_t I>
    void On(void*) {
        Seen().push_back(Signals[I]);
        if (Signals[I] == std::string("quarn_save") && vetoSave) {
            StopSignal();
        }
    }
};

// A scene of one root node, enabled or not, with a child pivot.
inline std::string SceneText(bool rootEnabled = true) {
    return std::string(
               "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n\tname = \"root\"\n"
               "\tflags = ") +
           (rootEnabled ? "1" : "0") +
           "\n}\nobj2 {\n\tclass = \"Pivot\"\n\tname = \"child\"\n\tparent = 1\n}\n";
}

// Runs the engine in-process in a fresh folder that becomes the working folder (each test is
// a process of its own), with the user's folder below it, no display or sound card, and
// dialogs answered from a script.
class PlayerTest : public ::testing::Test {
protected:
    PlayerTest() {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        setenv("ALSOFT_DRIVERS", "null", 1);
        setenv("XDG_DATA_HOME", folder.Join("data").c_str(), 1);
        EXPECT_EQ(chdir(folder.Path().c_str()), 0);
    }

    // The SDL platform, its dialogs kept in `dialogs`.
    EngineSetup WithScriptedDialogs(EngineSetup setup) {
        setup.makePlatform = [this] {
            auto scripted = std::make_unique<ScriptedDialogs>();
            dialogs = scripted.get();
            return new SdlPlatform("", nullptr, std::move(scripted));
        };
        return setup;
    }
    bool Start(EngineSetup setup = {}) { return InitEngine(WithScriptedDialogs(std::move(setup))); }

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

    TempFolder folder;
    CapturingLogSink log;
    ScriptedDialogs* dialogs = nullptr;
};

} // namespace quarn::test
