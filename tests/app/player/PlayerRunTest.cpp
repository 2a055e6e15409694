#include "tests/app/player/PlayerRun.h"

#include "TestPaths.h"
#include "tests/app/player/PlayerTestSupport.h"
#include "tests/support/SoundFixtures.h"
#include "tests/support/StoredBytes.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace quarn {
namespace {

using test::Headless;
using test::PlayerExit;
using test::RunPlayerIn;

TEST(PlayerRun, ADisabledRootEndsThePlayerWithStatusZeroWhereverItsRootIs) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", test::SceneText(false));
    folder.WriteFile("games/one/levels/level.scene", test::SceneText(false));
    folder.WriteFile("games/one/game_cfg.txt", "resource_path = \".\"\n");
    const std::pair<const char*, const char*> cases[] = {
        {"level.scene",
         "Script search-path set to '~/'\nQuarn v1.0\nScene '~/level.scene' loaded\n"},
        {"games/one/levels/level.scene",
         "Script search-path set to '~/'\nQuarn v1.0\nGame settings read from "
         "'games/one/game_cfg.txt'\n"
         "Base folder is now '~/games/one/'\nScene '~/games/one/levels/level.scene' loaded\n"},
        // A packaged game wins over the folder's own settings.
        {nullptr, "Script search-path set to '~/data.zoo/'\nQuarn v1.0\nScene "
                  "'~/data.zoo/level.scene' loaded\n"},
    };
    for (const auto& [start, log] : cases) {
        if (start) {
            folder.WriteFile("config.txt", "autorun = \"" + std::string(start) + "\"\n");
        } else {
            folder.WriteFile("data.zoo", test::Scrambled(test::MakeZip(
                                             {{"config.txt", "autorun = \"level.scene\"\n"},
                                              {"level.scene", test::SceneText(false)}})));
        }
        PlayerExit run = RunPlayerIn(folder);
        EXPECT_EQ(run.status, 0) << log;
        EXPECT_EQ(run.log, log);
    }
}

TEST(PlayerRun, AScriptPrintsALineAndEndsThePlayerBySwitchingTheRootOff) {
    test::TempFolder folder;
    for (const char* file : {"hello.bin", "hello.sym"}) {
        std::ifstream program(std::string(QUARN_TEST_DATA "/scripts/") + file, std::ios::binary);
        folder.WriteFile(file, std::string(std::istreambuf_iterator<char>(program), {}));
    }
    folder.WriteFile("level.scene", "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n"
                                    "\tname = \"root\"\n\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                                    "\tname = \"hello\"\n\tparent = 1\n\tflags = 1\n"
                                    "\tscriptfile = \"hello.script\"\n}\n");
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    PlayerExit run = RunPlayerIn(folder);
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_EQ(run.out, "hello from a script\n") << run.log;
    EXPECT_NE(run.log.find("hello from a script"), std::string::npos) << run.log;
}

TEST(PlayerRun, HelpPrintsTheUsageAndStartsNothing) {
    for (const char* asked : {"--help", "-h", "level.scene --help"}) {
        test::TempFolder folder;
        const test::PlayerExit run = test::RunPlayerIn(folder, "", test::Headless, asked);
        EXPECT_EQ(run.status, 0) << asked;
        EXPECT_EQ(run.out.rfind("usage: quarn [SCENE.scene]\n       quarn --editor [SCENE]\n", 0),
                  0u)
            << asked;
        EXPECT_EQ(run.log, "") << asked;
    }
}

TEST(PlayerRun, TerminationClosesTheWindowWithOrWithoutAScene) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", test::SceneText());
    for (const char* start : {"missing.scene", "level.scene"}) {
        folder.WriteFile("config.txt", std::string("autorun = \"") + start + "\"\n");
        // Frames run once the start scene was tried.
        PlayerExit run = RunPlayerIn(folder, folder.Join(start));
        EXPECT_EQ(run.status, 0) << run.log;
    }
}

TEST(PlayerRun, AnInputScriptDrivesTheRunAndAMalformedLineEndsStartUp) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", test::SceneText());
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("input.txt", "0 key Esc\n3 close\n");
    const std::string environment =
        std::string(Headless) + " QUARN_INPUT='" + folder.Join("input.txt") + "'";
    PlayerExit run = RunPlayerIn(folder, "", environment);
    EXPECT_EQ(run.status, 0) << run.log;
    folder.WriteFile("input.txt", "0 key Esc\n\n2 jump 3\n");
    run = RunPlayerIn(folder, "", environment);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log, "quarn: input script ~/input.txt, line 3: unknown verb \"jump\"\n");
}

// Neither a display nor a sound card is there; only the user's choice of SDL's offscreen driver
// runs a game nobody sees. ALSA without a configuration fails on any machine.
TEST(PlayerRun, WithoutADisplayItExitsWithOneAndWithoutSoundItSaysSoOnce) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", test::SceneText(false));
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("asound.conf", "");
    PlayerExit run =
        RunPlayerIn(folder, "", "-u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER QUARN_LOG=1");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.log, "quarn: there is no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                       "SDL_VIDEODRIVER=offscreen runs without one\n");
    run = RunPlayerIn(folder, "",
                      "SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=alsa ALSA_CONFIG_PATH='" +
                          folder.Join("asound.conf") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.log, "quarn: sound is off: no sound output could be opened\n");

    // A sound in the scene: after that line, no buffer it cannot have is reported.
    folder.WriteFile("hum.wav", test::ReadSoundFixture("pcm8_mono.wav"));
    folder.WriteFile("level.scene", test::SceneText(false) +
                                        "obj3 {\n\tclass = \"SoundEmitter\"\n\tparent = 1\n"
                                        "\tprev = 2\n\tsoundflags = 33\n"
                                        "\tsoundfile = \"hum.wav\"\n}\n");
    run =
        RunPlayerIn(folder, "",
                    "SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=alsa QUARN_LOG=1 ALSA_CONFIG_PATH='" +
                        folder.Join("asound.conf") + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.log.find("sound is off: no sound output could be opened\n"), std::string::npos)
        << run.log;
    EXPECT_EQ(run.log.find("Failed to create audio buffer"), std::string::npos) << run.log;
}

// The offscreen player's frames take what they take; with QUARN_STEP each steps the game by the
// same time, so an input script plays the same game every run.
TEST(PlayerRun, AFixedStepStepsEveryFrameByItsTimeAndIsReadWholeOrRefused) {
    test::TempFolder folder;
    for (const char* file : {"steps.bin", "steps.sym"}) {
        std::ifstream program(std::string(QUARN_TEST_DATA "/scripts/") + file, std::ios::binary);
        folder.WriteFile(file, std::string(std::istreambuf_iterator<char>(program), {}));
    }
    folder.WriteFile("level.scene", "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n"
                                    "\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                                    "\tparent = 1\n\tflags = 1\n"
                                    "\tscriptfile = \"steps.script\"\n}\n");
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("input.txt", "20 close\n");
    const std::string environment =
        std::string(Headless) + " QUARN_STEP=0.02 QUARN_INPUT='" + folder.Join("input.txt") + "'";
    std::string printed[2];
    for (std::string& out : printed) {
        PlayerExit run = RunPlayerIn(folder, "", environment);
        EXPECT_EQ(run.status, 0) << run.log;
        out = run.out;
    }
    EXPECT_EQ(printed[0], printed[1]);
    std::string expected;
    for (size_t lines = printed[0].size() / 9; lines > 0; --lines) {
        expected += "0.020000\n";
    }
    EXPECT_GE(expected.size(), 9u * 10);
    EXPECT_EQ(printed[0], expected);

    for (const char* step : {"0", "-1", "fast", "0.02s"}) {
        PlayerExit run = RunPlayerIn(folder, "", std::string(Headless) + " QUARN_STEP=" + step);
        EXPECT_EQ(run.status, 1) << step;
        EXPECT_EQ(run.log, std::string("quarn: QUARN_STEP must be a number of seconds above 0, "
                                       "not \"") +
                               step + "\"\n");
    }
}

// Where no sound is heard, without an output or with OpenAL's null one, a sound plays for its
// length in game time, as the frames step it.
TEST(PlayerRun, ASoundPlaysForItsLengthInGameTimeWhereNoOutputIsHeard) {
    test::TempFolder folder;
    test::WriteSoundingGame(folder);
    const std::pair<std::string, const char*> runs[] = {
        {"SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=none QUARN_STEP=0.05", "played for 4 frames\n"},
        {std::string(Headless) + " QUARN_STEP=0.0166667", "played for 12 frames\n"}};
    for (const auto& [environment, printed] : runs) {
        PlayerExit run = RunPlayerIn(folder, "", environment);
        EXPECT_EQ(run.status, 0) << run.log;
        EXPECT_EQ(run.out, printed) << environment;
    }
}

// The player ends half a second after a stop signal at the latest, but a busy machine may take
// seconds more to let it (an ending save first waits for a disk that others fill): on a machine
// loaded twice over a save took 9.7 s to end. The bound only tells a player that ends from one
// that does not, which the run stops after two minutes.
constexpr double SecondsToEnd = 30.0;

// A start scene whose Script node runs the program `name` of the test data, copied beside it.
void WriteScriptGame(test::TempFolder& folder, const std::string& name) {
    for (const char* extension : {".bin", ".sym"}) {
        std::ifstream program(std::string(QUARN_TEST_DATA "/scripts/") + name + extension,
                              std::ios::binary);
        folder.WriteFile(name + extension,
                         std::string(std::istreambuf_iterator<char>(program), {}));
    }
    folder.WriteFile("level.scene", "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n"
                                    "\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                                    "\tparent = 1\n\tflags = 1\n\tscriptfile = \"" +
                                        name + ".script\"\n}\n");
    folder.WriteFile("config.txt", "name = \"stops\"\nautorun = \"level.scene\"\n");
}

// SIGTERM, SIGINT, SIGHUP and SIGQUIT end the player the same way whatever its frame is stuck
// in: a script that asks for endless noise, or one that saves or copies again and again, whose
// file is then the one before or a whole new one, never a part, and no temporary of it is left.
TEST(PlayerRun, AStopSignalEndsAFrameThatNeverEndsAndLeavesEveryFileWhole) {
    const struct {
        const char* program;
        const char* said;
        const char* signal;
    } cases[] = {{"spin", "spinning", "TERM"},  {"spin", "spinning", "INT"},
                 {"spin", "spinning", "QUIT"},  {"saves", "saving", "TERM"},
                 {"saves", "saving", "HUP"},    {"copies", "copying", "HUP"},
                 {"copies", "copying", "TERM"}};
    const std::string before = "version = 44\nnum_nodes = 0\n";
    const std::string saved = "version = 44\nidsystem = 0\nnum_nodes = 2\nobj1 {\n\tclass = "
                              "\"Node\"\n\tname = \"\"\n\tparent = 0\n\tflags = 1\n}\nobj2 {\n"
                              "\tclass = \"Script\"\n\tname = \"\"\n\tparent = 1\n\tflags = 1\n"
                              "\tscriptfile = \"saves.script\"\n}\n";
    const std::string data(4 << 20, 'd');
    for (const auto& [program, said, signal] : cases) {
        test::TempFolder folder;
        WriteScriptGame(folder, program);
        folder.WriteFile("data.bin", data);
        folder.WriteFile("data/Quarn/games/stops/save.scene", before);
        PlayerExit run = RunPlayerIn(folder, said, Headless, "", signal);
        const std::string what = std::string(program) + " " + signal;
        EXPECT_EQ(run.status, 0) << what << "\n" << run.log;
        EXPECT_GE(run.secondsAfterSignal, 0.0) << what;
        EXPECT_LT(run.secondsAfterSignal, SecondsToEnd) << what;
        EXPECT_EQ(run.out, std::string(said) + "\n") << what;
        const std::string file = folder.ReadFile("data/Quarn/games/stops/save.scene");
        EXPECT_TRUE(file == before || file == saved) << what << "\n" << file;
        const std::string copy = folder.ReadFile("data/Quarn/games/stops/copy.bin");
        EXPECT_TRUE(copy.empty() || copy == data) << what << ": " << copy.size() << " bytes";
        for (const auto& entry :
             std::filesystem::directory_iterator(folder.Join("data/Quarn/games/stops"))) {
            EXPECT_FALSE(entry.path().filename().string().ends_with(".tmp"))
                << what << ": " << entry.path();
        }
    }
}

// A scene still loading when the signal comes is never run.
TEST(PlayerRun, AStopSignalEndsALoadInProgress) {
    test::TempFolder folder;
    std::string scene = "version = 44\nnum_nodes = 100000\n";
    for (int n = 1; n <= 100000; ++n) {
        scene += "obj" + std::to_string(n) + " {\n\tclass = \"Node\"\n\tparent = " +
                 std::to_string(n > 1 ? 1 : 0) + "\n}\n";
    }
    folder.WriteFile("level.scene", scene);
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    // The version line comes right before the start scene is opened.
    PlayerExit run = RunPlayerIn(folder, "Quarn v1.0");
    EXPECT_EQ(run.status, 0) << run.log;
    EXPECT_GE(run.secondsAfterSignal, 0.0);
    EXPECT_LT(run.secondsAfterSignal, SecondsToEnd);
    EXPECT_EQ(run.log.find("loaded"), std::string::npos) << run.log;
}

} // namespace
} // namespace quarn
