#include "TestPaths.h"
#include "codecs/PngDecoder.h"
#include "codecs/PngEncoder.h"
#include "core/filesystem/FileSystem.h"
#include "script/nodes/GridData.h"
#include "tests/support/OneShotHttpServer.h"
#include "tests/support/SoundFixtures.h"
#include "tests/support/StoredBytes.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

using test::RunTool;
using test::ToolRun;

TEST(QuarnToolCat, WritesTheBytesOfAFileFoundWithoutCaseOnDiskOrInAZooArchive) {
    test::TempFolder folder;
    const std::string bytes("line\r\n\0\xff end", 12);
    const std::string big(5000, 'z');
    folder.WriteFile("Data/Plain.BIN", bytes);
    folder.WriteFile("dir/a.txt", "a");
    folder.WriteFile("some.zoo", test::Scrambled(test::MakeZip({{"Dir/Big.txt", big}})));
    // A pipe would keep a reader waiting for a writer that never comes.
    ASSERT_EQ(mkfifo(folder.Join("pipe").c_str(), 0644), 0);
    const struct {
        const char* path;
        std::string out;    // empty: the path cannot be opened
        const char* reason; // why not, when the system says
    } cases[] = {
        {"data/plain.bin", bytes, ""},           {"Some.ZOO/dir/BIG.txt", big, ""},
        {"some.zoo/missing.txt", "", ""},        {"dir", "", ": Is a directory"},
        {"pipe", "", ": it is no regular file"}, {"missing.txt", "", ": No such file or directory"},
    };
    for (const auto& c : cases) {
        ToolRun run = RunTool(folder, {"cat", c.path});
        EXPECT_EQ(run.status, c.out.empty() ? 1 : 0) << c.path;
        EXPECT_EQ(run.out, c.out) << c.path;
        EXPECT_EQ(run.err, c.out.empty()
                               ? std::string("quarn-tool: cannot open ") + c.path + c.reason + "\n"
                               : "")
            << c.path;
    }
}

TEST(QuarnToolSettings, PrintsTheFileAsSavingItWouldWriteIt) {
    test::TempFolder folder;
    folder.WriteFile("Config.txt", "# start\r\nwidth = 1024\r\nAlpha = \"x y\" # note\n"
                                   "resource_path=data/\nwidth = \"800\"\n");
    ToolRun run = RunTool(folder, {"settings", "config.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Alpha = \"x y\"\nresource_path = \"data/\"\nwidth = \"800\"\n");
    EXPECT_EQ(run.err, "");
    ToolRun missing = RunTool(folder, {"settings", "missing.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "quarn-tool: cannot read missing.txt\n");
    // A sparse file past the size limit: refused with the limit named.
    folder.WriteFile("huge.txt", "");
    std::filesystem::resize_file(folder.Join("huge.txt"), (64u << 20) + 1);
    ToolRun huge = RunTool(folder, {"settings", "huge.txt"});
    EXPECT_EQ(huge.status, 1);
    EXPECT_EQ(huge.err, "quarn-tool: cannot read huge.txt: Settings file huge.txt is not read: it "
                        "holds 67108865 bytes, more than the 67108864 a settings file may hold\n");
}

// The registered classes as compiled scripts see them: names, order, properties and method
// signatures. A failure means a registration changed. When that is meant, regenerate the copy
//   build/<yours>/tools/quarn-tool classes > tests/data/classes.txt
// and review the diff: every changed method name or signature breaks compiled scripts.
TEST(QuarnToolClasses, PrintsTheRegisteredClassesAsTheGoldenCopyHasThem) {
    std::ifstream file(QUARN_TEST_DATA "/classes.txt", std::ios::binary);
    ASSERT_TRUE(file) << QUARN_TEST_DATA "/classes.txt";
    std::string golden((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    test::TempFolder folder;
    ToolRun run = RunTool(folder, {"classes"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, golden);
}

// A scene as a developer writes it by hand: loose spacing, values that are defaults, an unknown
// property.
const char* const HandWrittenScene = "version = 44\nnum_nodes = 3\n"
                                     "obj1 {\n  class = \"Node\"\n  name = \"root\"\n}\n"
                                     "obj2 {\n  class = \"Node\"\n  parent = 1\n  flags = 0\n"
                                     "  colour = 5\n}\n"
                                     "obj3 {\n  class = \"SignalReceiver\"\n  parent = 1\n"
                                     "  prev = 2\n  signalname = \"go\"\n  witness0 = 2\n}\n";

TEST(QuarnToolScene, ASavedSceneSavesToTheSameBytesInEitherForm) {
    test::TempFolder folder;
    folder.WriteFile("a.scene", HandWrittenScene);
    ToolRun first = RunTool(folder, {"scene", "a.scene", "b.scene"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.err, "quarn-tool: warning: a.scene: obj2: unknown property 'colour' of class "
                         "Node\n");
    EXPECT_EQ(RunTool(folder, {"scene", "b.scene", "c.scene"}).status, 0);
    const std::string saved = folder.ReadFile("b.scene");
    EXPECT_EQ(saved.rfind("version = 44\nidsystem = 0\nnum_nodes = 3\nobj1 {\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\tsignalname = \"go\"\n\twitness0 = 2\n"), std::string::npos) << saved;
    EXPECT_EQ(folder.ReadFile("c.scene"), saved);
    EXPECT_EQ(RunTool(folder, {"scene", "b.scene", "d.scn", "--compact"}).status, 0);
    EXPECT_EQ(RunTool(folder, {"scene", "d.scn", "e.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("e.scene"), saved);
    // Without a render device no texture is made, and none is missed.
    ToolRun builtIn = RunTool(folder, {"scene", "res://default.scene", "f.scene"});
    EXPECT_EQ(builtIn.status, 0);
    EXPECT_EQ(builtIn.err, "");
}

// Every loader takes a file's form from its name: OUT holds the form its name says, with or
// without --compact, and --compact into a name no loader reads compact is refused, OUT unmade.
TEST(QuarnToolScene, OutHoldsTheFormItsNameSays) {
    test::TempFolder folder;
    folder.WriteFile("a.scene", HandWrittenScene);
    ASSERT_EQ(RunTool(folder, {"scene", "a.scene", "b.scene"}).status, 0);
    for (const char* out : {"c.scn", "c.bscn", "C2.BSCN"}) {
        for (const bool asked : {false, true}) {
            std::vector<std::string> arguments = {"scene", "b.scene", out};
            if (asked) {
                arguments.push_back("--compact");
            }
            ASSERT_EQ(RunTool(folder, arguments).status, 0) << out;
            const ToolRun back = RunTool(folder, {"scene", out, "x.scene"});
            EXPECT_EQ(back.status, 0) << out << ": " << back.err;
            EXPECT_EQ(folder.ReadFile("x.scene"), folder.ReadFile("b.scene")) << out;
        }
    }
    for (const char* out : {"d.scene", "d.dat"}) {
        const ToolRun refused = RunTool(folder, {"scene", "b.scene", out, "--compact"});
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.err.substr(0, refused.err.find('\n')),
                  std::string("quarn-tool: ") + out +
                      " names no compact scene, and no loader reads one there: name it .scn "
                      "(.bscn for a branch)");
        EXPECT_FALSE(std::filesystem::exists(folder.Join(out)));
    }
}

// A branch's compact copy is read as the compact form, whatever the letters' case, by "scene"
// and by "render" (which opens it as the player does).
TEST(QuarnToolScene, ABranchsCompactCopyReadsAsTheCompactForm) {
    test::TempFolder folder;
    folder.WriteFile("a.scene", HandWrittenScene);
    ASSERT_EQ(RunTool(folder, {"scene", "a.scene", "b.scene"}).status, 0);
    ASSERT_EQ(RunTool(folder, {"scene", "b.scene", "c.scn", "--compact"}).status, 0);
    for (const char* copy : {"b0.bscn", "B1.BSCN"}) {
        folder.WriteFile(copy, folder.ReadFile("c.scn"));
        const ToolRun scene = RunTool(folder, {"scene", copy, "x.scene"});
        EXPECT_EQ(scene.status, 0) << scene.err;
        EXPECT_EQ(folder.ReadFile("x.scene"), folder.ReadFile("b.scene")) << copy;
        const ToolRun render =
            RunTool(folder, {"render", copy, "--frames", "1", "--out", "x.png", "--size", "8x8"});
        EXPECT_EQ(render.status, 0) << render.err;
        EXPECT_EQ(render.err, "") << copy;
    }
}

// A script's public node variables are checked by the classes its symbol file names, as the
// player numbers them; one given a node of another class is warned of and kept, never zeroed.
TEST(QuarnToolScene, AScriptsNodeVariablesAreCheckedAsThePlayerChecksThemAndKeptWhenDoubted) {
    test::TempFolder folder;
    folder.WriteFile("wrecker.asm", "var \"tower\" Node kind=2\nvar \"pivot\" Pivot kind=2\n"
                                    "var \"folder\" Folder kind=2\nvar \"thing\" Entity kind=2\n"
                                    "var \"shelf\" Folder kind=2\n"
                                    "function \"f\" ():int at=@f\nf:\npush 0\nreturn 0 1\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "wrecker.asm", "wrecker"}).status, 0);
    const std::string variables =
        "\ttower = 3\n\tpivot = 4\n\tfolder = 5\n\tthing = 3\n\tshelf = 3\n";
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 5\nobj1 {\n\tclass = \"Node\"\n}\n"
                     "obj2 {\n\tclass = \"Script\"\n\tname = \"wrecker\"\n\tparent = 1\n"
                     "\tscriptfile = \"wrecker.bin\"\n" +
                         variables +
                         "}\nobj3 {\n\tclass = \"Node\"\n\tname = \"Tower\"\n\tparent = 1\n}\n"
                         "obj4 {\n\tclass = \"Pivot\"\n\tparent = 1\n}\n"
                         "obj5 {\n\tclass = \"Folder\"\n\tparent = 1\n}\n");
    const ToolRun text = RunTool(folder, {"scene", "level.scene", "out.scene"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.err,
              "quarn-tool: warning: Script 'wrecker': shelf is a Folder, given Node obj3\n");
    EXPECT_NE(folder.ReadFile("out.scene").find(variables), std::string::npos)
        << folder.ReadFile("out.scene");
    EXPECT_EQ(RunTool(folder, {"scene", "level.scene", "out.scn", "--compact"}).status, 0);
    EXPECT_EQ(RunTool(folder, {"scene", "out.scn", "back.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("back.scene"), folder.ReadFile("out.scene"));
}

// A Script whose program is missing, or was packed while it loaded and is missing now, keeps
// its values through every conversion; values only the program can name fail the text form
// rather than being dropped.
TEST(QuarnToolScene, AScriptWhoseProgramIsMissingKeepsItsValues) {
    test::TempFolder folder;
    const std::string values = "\tstatus = 68\n\tlabel = \"kept\"\n";
    folder.WriteFile("level.scene", "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n}\n"
                                    "obj2 {\n\tclass = \"Script\"\n\tparent = 1\n"
                                    "\tscriptfile = \"gone.bin\"\n" +
                                        values + "}\n");
    EXPECT_EQ(RunTool(folder, {"scene", "level.scene", "out.scene"}).status, 0);
    EXPECT_NE(folder.ReadFile("out.scene").find("\"gone.bin\"\n" + values + "}"),
              std::string::npos)
        << folder.ReadFile("out.scene");
    EXPECT_EQ(RunTool(folder, {"scene", "out.scene", "out.scn", "--compact"}).status, 0);
    EXPECT_EQ(RunTool(folder, {"scene", "out.scn", "back.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("back.scene"), folder.ReadFile("out.scene"));

    folder.WriteFile("gone.asm", "var \"status\" int kind=2\nvar \"label\" string kind=2\nend\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "gone.asm", "gone"}).status, 0);
    ASSERT_EQ(RunTool(folder, {"scene", "out.scene", "packed.scn", "--compact"}).status, 0);
    const std::string packed = folder.ReadFile("packed.scn");
    std::remove(folder.Join("gone.bin").c_str());
    EXPECT_EQ(RunTool(folder, {"scene", "packed.scn", "again.scn", "--compact"}).status, 0);
    EXPECT_EQ(folder.ReadFile("again.scn"), packed);
    EXPECT_NE(RunTool(folder, {"scene", "packed.scn", "text.scene"}).status, 0);
}

TEST(QuarnToolScene, AnOldScenesScanCodeIsSavedAsItsKeyCode) {
    test::TempFolder folder;
    folder.WriteFile("old.scene", "version = 29\nobj1 {\n\tclass = \"Node\"\n}\n"
                                  "obj2 {\n\tclass = \"InputCode\"\n\tparent = 1\n"
                                  "\tkeycode = 30\n}\n");
    ASSERT_EQ(RunTool(folder, {"scene", "old.scene", "new.scene"}).status, 0);
    EXPECT_NE(folder.ReadFile("new.scene").find("\tkeycode = 22\n"), std::string::npos);
}

// An instance of door.branch as the tool writes it.
std::string BranchObject(int id, const std::string& prev, int idSystem, const std::string& pos) {
    return "obj" + std::to_string(id) + " {\n\tclass = \"Branch\"\n\tname = \"\"\n\tparent = 1\n" +
           prev + "\tflags = 5\n\tpivotflags = 0\n\tmatrixmode = 0\n\textentflags = 1\n" +
           "\textentsmin = 0.000000,0.000000,0.000000\n" +
           "\textentsmax = 0.000000,0.000000,0.000000\n\tidsystem = " + std::to_string(idSystem) +
           "\n\tbranchflags = 3\n\tbranch = \"door.branch\"\n\tpos_id7 = " + pos + "\n}\n";
}

// Two instances of one branch file beside the scene, one with a value of its own, and a node
// that refers into the second one.
TEST(QuarnToolScene, ASceneWithTwoInstancesOfABranchSavesToTheSameBytes) {
    test::TempFolder folder;
    folder.WriteFile("door.branch",
                     "version = 44\nidsystem = 0\nnum_nodes = 2\ncustomdeclarations {\n"
                     "float3 pos_id7\n}\nobj7 {\n\tclass = \"Pivot\"\n\tname = \"hinge\"\n"
                     "\tpos = 1.000000,2.000000,3.000000\n}\n"
                     "obj5 {\n\tclass = \"Node\"\n\tname = \"knob\"\n}\n");
    const std::string scene =
        std::string(
            "version = 44\nidsystem = 0\nnum_nodes = 4\n"
            "obj1 {\n\tclass = \"Node\"\n\tname = \"level\"\n\tparent = 0\n\tflags = 1\n}\n") +
        BranchObject(2, "", 1, "4.000000,5.000000,6.000000") +
        BranchObject(3, "\tprev = 2\n", 2, "1.000000,2.000000,3.000000") +
        "obj4 {\n\tclass = \"SignalReceiver\"\n\tname = \"\"\n\tparent = 1\n\tprev = 3\n"
        "\tflags = 1\n\tsignalname = \"open\"\n\twitness0 = 3.5\n\twitness1 = 0\n"
        "\twitness2 = 0\n\twitness3 = 0\n\twitness4 = 0\n\twitness5 = 0\n}\n";
    folder.WriteFile("level.scene", scene);
    EXPECT_EQ(RunTool(folder, {"scene", "level.scene", "out.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("out.scene"), scene);
}

// Runs failing commands: each exits with 1 and names its reason in one line, writing nothing.
void ExpectFailures(const test::TempFolder& folder,
                    const std::vector<std::pair<std::vector<std::string>, std::string>>& cases,
                    const char* unwritten) {
    for (const auto& [arguments, error] : cases) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 1) << error;
        EXPECT_EQ(run.err, "quarn-tool: " + error + "\n");
    }
    EXPECT_NE(access(folder.Join(unwritten).c_str(), F_OK), 0);
}

TEST(QuarnToolScene, AFileThatCannotBeLoadedOrSavedFailsWithOneLine) {
    test::TempFolder folder;
    folder.WriteFile("a.scene", HandWrittenScene);
    folder.WriteFile("empty.scene", "version = 44\n");
    folder.WriteFile("two.scene", "version = 44\nobj1 {\n\tclass = \"Node\"\n}\n"
                                  "obj2 {\n\tclass = \"Node\"\n}\n");
    folder.WriteFile("cycle.scene",
                     "version = 44\nobj1 {\n\tclass = \"Node\"\n}\n"
                     "obj2 {\n\tclass = \"Node\"\n\tname = \"a\"\n\tparent = 3\n}\n"
                     "obj3 {\n\tclass = \"Node\"\n\tname = \"b\"\n\tparent = 2\n}\n");
    // Object 0 gets an id the file cannot name, so its properties never reach it.
    folder.WriteFile("lost.scene", "version = 44\nobj1 {\n\tclass = \"Node\"\n}\n"
                                   "obj0 {\n\tclass = \"Node\"\n\tparent = 1\n}\n");
    const std::string hand = HandWrittenScene;
    folder.WriteFile("cut.scene", hand.substr(0, hand.find("  prev = 2")));
    ExpectFailures(
        folder,
        {{{"scene", "missing.scene", "out.scene"}, "cannot open missing.scene"},
         {{"scene", "empty.scene", "out.scene"}, "cannot load empty.scene: it holds no node"},
         {{"scene", "two.scene", "out.scene"}, "two.scene has 2 top-level nodes; a scene has one"},
         {{"scene", "cycle.scene", "out.scene"},
          "cycle.scene is refused: its parents form a cycle (SetParent: \"b\" cannot be attached "
          "below itself or its own descendant \"a\": \"b\" > \"a\" > \"b\")"},
         {{"scene", "lost.scene", "out.scene"},
          "lost.scene loses 1 of its objects when loaded, so out.scene is not written: Scene "
          "lost.scene: 1 of its objects could not be found again by their ids and are left out "
          "(the first is object 1)"},
         {{"scene", "cut.scene", "out.scene"},
          "cut.scene ends early: the file is cut short, so out.scene is not written"},
         {{"scene", "a.scene", "no/such/folder/out.scene"},
          "cannot save no/such/folder/out.scene: Scene no/such/folder/out.scene cannot be "
          "written: No such file or directory"}},
        "out.scene");
}

TEST(QuarnToolImage, ConvertsImagesToPngAndNamesWhyOneCannotBeDecoded) {
    test::TempFolder folder;
    std::ifstream bitmap(QUARN_TEST_DATA "/images/bits24.bmp", std::ios::binary);
    folder.WriteFile("Pic.BMP", std::string(std::istreambuf_iterator<char>(bitmap), {}));
    folder.WriteFile("broken.png", "not a png at all, but long enough to hold a header");
    folder.WriteFile("notes.txt", "text");
    ToolRun run = RunTool(folder, {"image", "Pic.BMP", "out/a.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string png = folder.ReadFile("out/a.png");
    EXPECT_EQ(png.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    // The PNG decodes to the same pixels, so it encodes to the same bytes again.
    EXPECT_EQ(RunTool(folder, {"image", "out/a.png", "b.png"}).status, 0);
    EXPECT_EQ(folder.ReadFile("b.png"), png);
    ExpectFailures(folder,
                   {{{"image", "missing.png", "c.png"}, "cannot open missing.png"},
                    {{"image", "notes.txt", "c.png"}, "cannot decode notes.txt: Unknown format"},
                    {{"image", "broken.png", "c.png"},
                     "cannot decode broken.png: Invalid texture (PNG error 28)"}},
                   "c.png");
}

TEST(QuarnToolGlyphCache, WritesACacheTheFontReadsAndRefusesABadSize) {
    test::TempFolder folder;
    folder.WriteFile("char_set.txt", "AB\xC3\x86");
    ToolRun run = RunTool(folder, {"glyphcache", "arial", "10", "out/arial_10"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(folder.ReadFile("out/arial_10.png").rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    EXPECT_EQ(folder.ReadFile("out/arial_10.dat").size(), 4112u); // no code from 256 up
    ToolRun bad = RunTool(folder, {"glyphcache", "arial", "8pt", "x"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err.rfind("quarn-tool: SIZE must be a whole number of points above 0", 0), 0u);
}

// The image header's big-endian width and height.
std::string PngSize(const std::string& png) {
    return png.size() < 24 ? "" : png.substr(16, 8);
}

std::string BigEndianSize(uint32_t width, uint32_t height) {
    std::string bytes;
    for (uint32_t word : {width, height}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<char>(word >> shift));
        }
    }
    return bytes;
}

// No screen bounds the picture: sizes beyond the offscreen driver's 1024 x 768 display come out
// as asked, on both sides or one.
TEST(QuarnToolRender, SavesTheLastFrameInExactlyTheSizeAskedOrSaysWhyNot) {
    test::TempFolder folder;
    for (const auto& [size, width, height] :
         {std::tuple{"64x48", 64u, 48u}, {"1280x800", 1280u, 800u}, {"1100x200", 1100u, 200u}}) {
        ToolRun run = RunTool(folder, {"render", "res://default.scene", "--frames", "2", "--out",
                                       "shots/shot.png", "--size", size});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(PngSize(folder.ReadFile("shots/shot.png")), BigEndianSize(width, height)) << size;
    }
    ToolRun missing =
        RunTool(folder, {"render", "missing.scene", "--out", "x.png", "--frames", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("quarn-tool: cannot load missing.scene: Scene '", 0), 0u)
        << missing.err;
}

TEST(QuarnToolRender, ValuesAreReadWholeOrRefusedWithTheReason) {
    test::TempFolder folder;
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--size", "1920x1080x3"},
         "--size must be WxH, two whole numbers from 1 to 16384, not "
         "\"1920x1080x3\""},
        {{"--size", "0x0"}, "--size must be WxH, two whole numbers from 1 to 16384, not \"0x0\""},
        {{"--size", "-5x10"},
         "--size must be WxH, two whole numbers from 1 to 16384, not \"-5x10\""},
        {{"--step", "0.5s"}, "--step must be a number of seconds above 0, not \"0.5s\""},
        {{"--step", "-1"}, "--step must be a number of seconds above 0, not \"-1\""},
        {{"--fast", "1"}, "unknown option \"--fast\""},
    };
    for (const auto& [options, reason] : cases) {
        std::vector<std::string> arguments = {"render", "a.scene", "--frames",
                                              "1",      "--out",   "x.png"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_EQ(run.err.substr(0, run.err.find('\n')), "quarn-tool: " + reason);
    }
}

// A game folder of its own (no "config.txt"): an emitter whose texture lies beside the scene,
// and a sprite whose texture is missing.
const char* const ParticleScene =
    "version = 44\nnum_nodes = 5\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
    "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
    "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n\tcurrentcamera = 2\n}\n"
    "obj4 {\n\tclass = \"ParticleEmitter\"\n\tparent = 1\n\tprev = 3\n\tpos = 0,0,10\n"
    "\ttexture = \"dot.png\"\n\tspawninterval = 0.01\n\tmaxparticles = 100\n"
    "\tstartspeed = 3\n\tdirspread = 1\n\tlifetime = 2\n}\n"
    "obj5 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tprev = 4\n\tpos = 3,0,12\n"
    "\ttexture = \"missing.png\"\n}\n";

// Frames step by a fixed time and particles take fixed seeds: two renders give the same bytes.
TEST(QuarnToolRender, RepeatsItsPictureFindsWhatTheSceneNamesBesideItAndWarnsOfTheRest) {
    test::TempFolder folder;
    folder.WriteFile("game/level.scene", ParticleScene);
    std::ifstream dot(QUARN_TEST_DATA "/../../res/particle.png", std::ios::binary);
    folder.WriteFile("game/dot.png", std::string(std::istreambuf_iterator<char>(dot), {}));
    std::string pictures[2];
    for (std::string& picture : pictures) {
        ToolRun run = RunTool(folder, {"render", "game/level.scene", "--frames", "20", "--out",
                                       "shot.png", "--size", "96x64", "--step", "0.02"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(test::Tilde(run.err, folder),
                  "quarn-tool: warning: ~/game/level.scene: obj5: property 'texture' of class "
                  "Sprite: Missing resource: \"missing.png\"\n");
        picture = folder.ReadFile("shot.png");
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    ToolRun logged =
        RunTool(folder, {"render", "game/level.scene", "--frames", "1", "--out", "shot.png"},
                "QUARN_LOG=1");
    EXPECT_EQ(logged.status, 0);
    EXPECT_EQ(test::Tilde(logged.err, folder),
              "Script search-path set to '~/game/'\nQuarn v1.0\n~/game/level.scene: obj5: property "
              "'texture' of class Sprite: Missing resource: \"missing.png\"\nScene "
              "'~/game/level.scene' loaded\n");
}

// The first scene of the README with three typing mistakes: loaded as before, each named.
const char* const MistypedScene =
    "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n\tname = \"My game\"\n\tflags = "
    "1\n}\n"
    "obj2 {\n\tclass = \"Sprite\"\n\tname = \"Logo\"\n\tparent = 1\n\tposs = 512.0,320.0,0.0\n"
    "\tsize = 128.0,128.0\n}\n"
    "obj3 {\n\tclass = \"TextPlate\"\n\tparent = 1\n\tprev = 2\n\tpos = 512.0,420.0\n"
    "\talignx = left\n}\n";

TEST(QuarnToolRender, NamesTheMistakesOfAHandWrittenSceneAsSceneDoes) {
    test::TempFolder folder;
    folder.WriteFile("first.scene", MistypedScene);
    auto mistakes = [](const std::string& file) {
        const std::string warning = "quarn-tool: warning: " + file + ": ";
        return warning + "obj2 (Logo): unknown property 'poss' of class Sprite\n" + warning +
               "obj3: property 'pos' of class TextPlate: '512.0,420.0' has 2 numbers where 3 "
               "are needed\n" +
               warning +
               "obj3: property 'alignx' of class TextPlate: 'left' is not a whole number\n";
    };
    ToolRun render =
        RunTool(folder, {"render", "first.scene", "--frames", "1", "--out", "first.png"});
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(test::Tilde(render.err, folder), mistakes("~/first.scene"));
    ToolRun scene = RunTool(folder, {"scene", "first.scene", "again.scene"});
    EXPECT_EQ(scene.status, 0);
    EXPECT_EQ(scene.err, mistakes("first.scene"));
}

// A node whose parent line names an object the file lacks is named by every loader: render
// leaves it out and says so, scene refuses the file for it.
TEST(QuarnToolRender, NamesANodeWhoseParentTheFileLacksAsSceneDoes) {
    test::TempFolder folder;
    folder.WriteFile("orphan.scene",
                     "version = 44\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"Pivot\"\n\tname = \"lost\"\n\tparent = 9\n}\n");
    ToolRun render =
        RunTool(folder, {"render", "orphan.scene", "--frames", "1", "--out", "orphan.png"});
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(
        test::Tilde(render.err, folder),
        "quarn-tool: warning: ~/orphan.scene: obj2 (lost): property 'parent' of class "
        "Pivot: '9' names no object of the file\nquarn-tool: warning: Scene ~/orphan.scene: 1 "
        "top-level node beside its root (the first: obj2 (lost)) is left out of the game\n");
    ToolRun scene = RunTool(folder, {"scene", "orphan.scene", "out.scene"});
    EXPECT_EQ(scene.status, 1);
    EXPECT_EQ(scene.err,
              "quarn-tool: orphan.scene has 2 top-level nodes; a scene has one: 1 of its "
              "objects is not where the file puts it: obj2 (lost) names parent 9, which "
              "the file does not hold\n");
}

// A file a property names and that is missing is named with the scene, the object and the
// property, in either form of the scene; for a script, by the compiled files looked for. A
// script that a runtime error terminates leaves the picture saved and the status 3.
TEST(QuarnToolRender, NamesWhereAMissingFileWasAskedForAndExitsWith3AfterAScriptFailed) {
    test::TempFolder folder;
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"Sprite\"\n\ttexture = \"catcher.png\"\n"
                     "\tname = \"Catcher\"\n\tparent = 1\n}\n"
                     "obj3 {\n\tclass = \"Script\"\n\tname = \"Game\"\n\tparent = 1\n"
                     "\tprev = 2\n\tscriptfile = \"game.script\"\n}\n");
    auto missing = [](const std::string& file) {
        const std::string warning = "quarn-tool: warning: " + file + ": ";
        return warning +
               "obj2 (Catcher): property 'texture' of class Sprite: Missing resource: "
               "\"catcher.png\"\n" +
               warning +
               "obj3 (Game): property 'scriptfile' of class Script: Missing resource: "
               "\"game.bin\" and \"game.sym\" (the program of \"game.script\")\n";
    };
    ToolRun compact = RunTool(folder, {"scene", "level.scene", "level.scn", "--compact"});
    EXPECT_EQ(compact.status, 0);
    EXPECT_EQ(compact.err, missing("level.scene"));
    ToolRun text = RunTool(folder, {"scene", "level.scn", "again.scene"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(text.err, missing("level.scn"));
    ToolRun render = RunTool(folder, {"render", "level.scene", "--frames", "2", "--out", "a.png"});
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(test::Tilde(render.err, folder), missing("~/level.scene"));

    folder.WriteFile("game.asm", "header 0 0\nstack 32\nfunction \"update\" (float) at=@update\n"
                                 "update:\n    line\n    word 99\n    return 1 0\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "game.asm", "game"}).status, 0);
    render = RunTool(folder, {"render", "level.scene", "--frames", "2", "--out", "b.png"});
    EXPECT_EQ(render.status, 3);
    EXPECT_NE(render.err.find("Runtime error \"Invalid command"), std::string::npos) << render.err;
    EXPECT_TRUE(std::filesystem::exists(folder.Join("b.png")));
}

// A script's Print is the script's own line on stdout, once; only warnings go to stderr, and
// with QUARN_LOG the log line of each Print beside them.
TEST(QuarnToolRender, PrintsAScriptsPrintOnceOnStdoutAndWarningsOnStderr) {
    test::TempFolder folder;
    // Says its text in its first frame only.
    folder.WriteFile("say.asm", "header 0 0\nstack 32\nvar \"said\" int\n"
                                "var \"text\" string kind=2\n"
                                "function \"update\" (float) at=@update\nupdate:\n    line\n"
                                "    push 0\n    load 1\n    jumpif done\n    push 1\n    load 1\n"
                                "    func 36\n    push 0\n    push 1\n    store 1\n"
                                "done:\n    return 1 0\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "say.asm", "say"}).status, 0);
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"Sprite\"\n\ttexture = \"gone.png\"\n"
                     "\tname = \"Gone\"\n\tparent = 1\n}\n"
                     "obj3 {\n\tclass = \"Script\"\n\tname = \"Hit\"\n\tparent = 1\n"
                     "\tprev = 2\n\tscriptfile = \"say.script\"\n\ttext = \"hit at frame 0\"\n}\n"
                     "obj4 {\n\tclass = \"Script\"\n\tname = \"Score\"\n\tparent = 1\n"
                     "\tprev = 3\n\tscriptfile = \"say.script\"\n\ttext = \"1.5: score\"\n}\n");
    const std::string warning =
        "quarn-tool: warning: ~/level.scene: obj2 (Gone): property 'texture' of class Sprite: "
        "Missing resource: \"gone.png\"\n";
    ToolRun run = RunTool(folder, {"render", "level.scene", "--frames", "3", "--out", "a.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "hit at frame 0\n1.5: score\n");
    EXPECT_EQ(test::Tilde(run.err, folder), warning);

    ToolRun logged = RunTool(folder, {"render", "level.scene", "--frames", "3", "--out", "a.png"},
                             "QUARN_LOG=1");
    EXPECT_EQ(logged.status, 0) << logged.err;
    EXPECT_EQ(logged.out, "hit at frame 0\n1.5: score\n");
    EXPECT_NE(logged.err.find("script: 0.3: hit at frame 0\n"), std::string::npos) << logged.err;
    EXPECT_NE(logged.err.find("script: 0.4: 1.5: score\n"), std::string::npos) << logged.err;
    EXPECT_EQ(logged.err.find("warning"), std::string::npos) << logged.err;
}

// A tool has no script debugger to resume a script a breakpoint stops: the breakpoint is passed
// over with one line naming its place, and the game runs every frame asked for (it paused for
// good after the first).
TEST(QuarnToolRender, ABreakpointIsPassedOverAndTheGameRunsOn) {
    test::TempFolder folder;
    // Reaches its breakpoint in its first frame only.
    folder.WriteFile("breaks.asm", "header 0 0\nstack 32\nvar \"reached\" int\n"
                                   "function \"update\" (float) at=@update\nupdate:\n    line\n"
                                   "    push 0\n    load 1\n    jumpif done\n    push 0\n"
                                   "    push 1\n    store 1\n    line\n    breakpoint\n"
                                   "done:\n    return 1 0\n");
    folder.WriteFile("frames.asm", "header 0 0\nstack 32\nfunction \"update\" (float) "
                                   "at=@update\nupdate:\n    line\n    func 155\n    func 29\n"
                                   "    func 36\n    return 1 0\n");
    for (const char* name : {"breaks", "frames"}) {
        ASSERT_EQ(RunTool(folder, {"script", "asm", std::string(name) + ".asm", name}).status, 0);
    }
    folder.WriteFile("level.scene",
                     "version = 44\nnum_nodes = 3\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
                     "obj2 {\n\tclass = \"Script\"\n\tparent = 1\n\tflags = 1\n"
                     "\tscriptfile = \"breaks.script\"\n}\n"
                     "obj3 {\n\tclass = \"Script\"\n\tparent = 1\n\tprev = 2\n\tflags = 1\n"
                     "\tscriptfile = \"frames.script\"\n}\n");
    ToolRun run = RunTool(folder, {"render", "level.scene", "--frames", "5", "--out", "a.png"},
                          "QUARN_LOG=1");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "0\n1\n2\n3\n4\n");
    const std::string passed = "script: Script \"breaks\" at breaks.asm:14: breakpoint passed "
                               "over: no script debugger here can resume it\n";
    const size_t at = run.err.find(passed);
    EXPECT_NE(at, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find(passed, at + 1), std::string::npos) << run.err;
}

// An old version and a cycle of parents: the player opens no scene, or not the file's.
TEST(QuarnToolRender, SaysWhyASceneIsNotLoadedInTheWordsOfScene) {
    test::TempFolder folder;
    folder.WriteFile("old.scene", "version = 14\nobj1 {\n\tclass = \"Node\"\n}\n");
    folder.WriteFile("cycle.scene",
                     "version = 44\nobj1 {\n\tclass = \"Node\"\n}\n"
                     "obj2 {\n\tclass = \"Node\"\n\tname = \"a\"\n\tparent = 3\n}\n"
                     "obj3 {\n\tclass = \"Node\"\n\tname = \"b\"\n\tparent = 2\n}\n");
    const std::string cycle =
        "quarn-tool: cycle.scene is refused: its parents form a cycle (SetParent: \"b\" cannot be "
        "attached below itself or its own descendant \"a\": \"b\" > \"a\" > \"b\")\n";
    const std::pair<std::string, std::string> cases[] = {
        {"old.scene", "quarn-tool: cannot load old.scene: Scene ~/old.scene has version 14; "
                      "versions below 15 are not read\n"},
        {"cycle.scene", cycle},
    };
    for (const auto& [scene, reason] : cases) {
        ToolRun run = RunTool(folder, {"render", scene, "--frames", "1", "--out", "x.png"});
        EXPECT_EQ(run.status, 1) << scene;
        EXPECT_EQ(test::Tilde(run.err, folder), reason);
    }
    EXPECT_EQ(RunTool(folder, {"scene", "cycle.scene", "x.scene"}).err, cycle);
    EXPECT_FALSE(std::filesystem::exists(folder.Join("x.png")));
}

// The same game rendered in its folder and, packed, in a folder of the archive alone: the scene
// and the picture it names are found in the archive. A scene the archive lacks is read from the
// disk, its picture still from the archive.
TEST(QuarnToolRender, RendersAPackedGameThroughItsArchiveAsThePlayerRunsIt) {
    test::TempFolder game;
    test::TempFolder shipped;
    std::ifstream dot(QUARN_TEST_DATA "/../../res/particle.png", std::ios::binary);
    game.WriteFile("art/dot.png", std::string(std::istreambuf_iterator<char>(dot), {}));
    game.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    const std::string level =
        "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
        "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
        "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n"
        "\tcurrentcamera = 2\n}\n"
        "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tprev = 3\n\tpos = 0,0,10\n"
        "\ttexture = \"art/dot.png\"\n\tsizee = 2\n}\n";
    game.WriteFile("level.scene", level);
    ASSERT_EQ(RunTool(game, {"pack", ".", shipped.Join("data.zoo")}).status, 0);
    const std::vector<std::string> render = {"render", "level.scene", "--frames", "1",
                                             "--out",  "shot.png",    "--size",   "64x48"};
    ToolRun inFolder = RunTool(game, render);
    ToolRun inArchive = RunTool(shipped, render);
    EXPECT_EQ(inArchive.status, 0) << inArchive.err;
    EXPECT_EQ(test::Tilde(inArchive.err, shipped),
              "quarn-tool: warning: ~/data.zoo/level.scene: obj4: unknown property 'sizee' of "
              "class Sprite\n");
    EXPECT_EQ(test::Tilde(inFolder.err, game),
              "quarn-tool: warning: ~/level.scene: obj4: unknown property 'sizee' of class "
              "Sprite\n");
    EXPECT_EQ(shipped.ReadFile("shot.png"), game.ReadFile("shot.png"));

    shipped.WriteFile("loose.scene", level.substr(0, level.find("\tsizee")) + "}\n");
    ToolRun loose = RunTool(shipped, {"render", "loose.scene", "--frames", "1", "--out",
                                      "loose.png", "--size", "64x48"});
    EXPECT_EQ(loose.status, 0);
    EXPECT_EQ(loose.err, "");
    EXPECT_EQ(shipped.ReadFile("loose.png"), game.ReadFile("shot.png"));
}

// RGBA pixels of a PNG file, with its width and height.
struct Picture {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgba;
};
Picture ReadPicture(const std::string& bytes) {
    PngDecoder decoder;
    Picture picture;
    decoder.Decode(picture.rgba, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    EXPECT_EQ(decoder.GetLastErrorCode(), 0u);
    picture.width = decoder.GetInfo().width;
    picture.height = decoder.GetInfo().height;
    return picture;
}

// The input script plays as in the player: a close in the second frame ends the run there, so
// the picture is the first frame's, though the built-in scene's sparks move every frame.
TEST(QuarnToolRender, PlaysTheInputScriptQuarnInputNames) {
    test::TempFolder folder;
    folder.WriteFile("input.txt", "1 close\n");
    std::vector<uint8_t> pictures[3];
    const std::pair<const char*, const char*> runs[] = {
        {"20", "QUARN_INPUT=input.txt"}, {"1", ""}, {"20", ""}};
    for (size_t i = 0; i < std::size(runs); ++i) {
        ToolRun run = RunTool(folder,
                              {"render", "res://default.scene", "--frames", runs[i].first, "--out",
                               "shot.png", "--size", "64x48"},
                              runs[i].second);
        ASSERT_EQ(run.status, 0) << run.err;
        pictures[i] = ReadPicture(folder.ReadFile("shot.png")).rgba;
    }
    EXPECT_EQ(pictures[0], pictures[1]);
    EXPECT_NE(pictures[0], pictures[2]);
    folder.WriteFile("input.txt", "0 hop\n");
    ToolRun refused =
        RunTool(folder, {"render", "res://default.scene", "--frames", "1", "--out", "x.png"},
                "QUARN_INPUT=input.txt");
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "quarn-tool: input script input.txt, line 1: unknown verb \"hop\"\n");
    EXPECT_FALSE(std::filesystem::exists(folder.Join("x.png")));
}

// No sound is heard here, so a sound plays for its length in game time: a script that asks
// whether it plays finds it playing for the same time at any step, and every run the same.
TEST(QuarnToolRender, AScriptFindsASoundPlayingForItsLengthInGameTimeAtEveryStep) {
    test::TempFolder folder;
    test::WriteSoundingGame(folder);
    const std::pair<const char*, const char*> steps[] = {{"0.0166667", "played for 12 frames\n"},
                                                         {"0.001", "played for 200 frames\n"}};
    for (const auto& [step, printed] : steps) {
        ToolRun run = RunTool(folder, {"render", "level.scene", "--frames", "300", "--out",
                                       "shot.png", "--size", "8x8", "--step", step});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, printed) << step;
    }
}

// A game in "game/" whose start scene shows a blurred dot a little right of the view's centre,
// on a frame cleared each time, so a picture does not depend on the frames before it.
void WriteDotGame(const test::TempFolder& folder) {
    std::ifstream dot(QUARN_TEST_DATA "/../../res/particle.png", std::ios::binary);
    folder.WriteFile("game/dot.png", std::string(std::istreambuf_iterator<char>(dot), {}));
    folder.WriteFile("game/config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile(
        "game/level.scene",
        "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
        "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
        "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n\tcurrentcamera = 2\n"
        "\trt_flags = 180\n}\n"
        "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tprev = 3\n\tpos = 1,0,8\n"
        "\ttexture = \"dot.png\"\n}\n");
}

// The editor's picture of `shot` holds the player's picture of the same scene, rendered for
// `frames` frames at the view's size, below the menu bar and toolbar inside the view's
// two-pixel edge.
void ExpectTheViewShowsTheScene(const test::TempFolder& folder, const std::string& shot,
                                uint32_t width, uint32_t height, const std::string& frames) {
    constexpr uint32_t MenuBar = 19 + 24, Edge = 2;
    const uint32_t viewWidth = width - 2 * Edge, viewHeight = height - 2 * Edge;
    ToolRun render =
        RunTool(folder, {"render", "game/level.scene", "--frames", frames, "--out", "player.png",
                         "--size", std::to_string(viewWidth) + "x" + std::to_string(viewHeight)});
    ASSERT_EQ(render.status, 0) << render.err;
    const Picture editor = ReadPicture(folder.ReadFile(shot));
    const Picture player = ReadPicture(folder.ReadFile("player.png"));
    ASSERT_EQ(editor.width, width);
    ASSERT_EQ(editor.height, height + MenuBar);
    ASSERT_EQ(player.width, viewWidth);
    ASSERT_EQ(player.height, viewHeight);
    for (uint32_t y = 0; y < viewHeight; ++y) {
        const auto from = player.rgba.begin() + static_cast<ptrdiff_t>(y * viewWidth * 4);
        const auto to =
            editor.rgba.begin() + static_cast<ptrdiff_t>(((MenuBar + Edge + y) * width + Edge) * 4);
        ASSERT_TRUE(std::equal(from, from + viewWidth * 4, to)) << shot << " row " << y;
    }
    // The sprite is there at all: the view is not one colour.
    EXPECT_NE(std::count(player.rgba.begin(), player.rgba.end(), player.rgba[0]),
              static_cast<ptrdiff_t>(player.rgba.size()));
}

TEST(QuarnToolEditorShot, ShowsTheSceneAsThePlayerRendersItBelowTheMenuBar) {
    test::TempFolder folder;
    WriteDotGame(folder);
    constexpr uint32_t Width = 160;
    ToolRun shot = RunTool(
        folder, {"editor-shot", "game", "out/editor.png", "--size", "160x163", "--frames", "3"});
    ASSERT_EQ(shot.status, 0) << shot.err;
    EXPECT_EQ(shot.err, "");
    ExpectTheViewShowsTheScene(folder, "out/editor.png", Width, 120, "3");

    // A close in the second frame ends the run there: the picture is the first frame's.
    folder.WriteFile("input.txt", "1 close\n");
    ToolRun closed = RunTool(folder, {"editor-shot", "game", "closed.png", "--frames", "50",
                                      "--input", "input.txt", "--size", "160x163"});
    EXPECT_EQ(closed.status, 0) << closed.err;
    ToolRun first =
        RunTool(folder, {"editor-shot", "game", "first.png", "--frames", "1", "--size", "160x163"});
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(ReadPicture(folder.ReadFile("closed.png")).rgba,
              ReadPicture(folder.ReadFile("first.png")).rgba);

    // A step that finds nothing is told and fails the run; the picture still shows the window.
    folder.WriteFile("input.txt", "0 click-item cmd:40999\n");
    ToolRun missed = RunTool(folder, {"editor-shot", "game", "missed.png", "--frames", "2",
                                      "--input", "input.txt", "--size", "160x163"});
    EXPECT_EQ(missed.status, 1);
    EXPECT_EQ(missed.err, "quarn-tool: warning: input script line 1: no UI item \"cmd:40999\" in "
                          "the last frame\nquarn-tool: 1 input script step did nothing\n");
    EXPECT_EQ(ReadPicture(folder.ReadFile("missed.png")).width, Width);

    // An answer after the command that asks comes too late for its dialog.
    folder.WriteFile("input.txt", "0 command 40002\n0 answer-path level.scene\n");
    ToolRun late = RunTool(folder, {"editor-shot", "game", "late.png", "--frames", "2", "--input",
                                    "input.txt", "--size", "160x163"});
    EXPECT_EQ(late.status, 1);
    EXPECT_EQ(late.err, "quarn-tool: warning: input script line 2: answer-path level.scene was "
                        "taken by no dialog by the end of frame 0; an answer goes before the step "
                        "that opens its dialog\nquarn-tool: 1 input script step did nothing\n");

    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"editor-shot", "missing", "x.png"}, "quarn-tool: cannot enter missing\n"},
        {{"editor-shot", "game", "x.png", "--input", "input.txt", "--size", "160x163"}, ""},
        {{"editor-shot", "game", "x.png", "--size", "160x43"},
         "quarn-tool: --size must be WxH, two whole numbers from 1 to 16384 with more than 43 "
         "rows, not \"160x43\"\n"},
    };
    folder.WriteFile("input.txt", "0 hop\n");
    for (const auto& [arguments, error] : failures) {
        ToolRun run = RunTool(folder, arguments);
        const std::string firstLine = run.err.substr(0, run.err.find('\n') + 1);
        if (error.empty()) {
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(test::Tilde(firstLine, folder),
                      "quarn-tool: input script ~/input.txt, line 1: unknown verb \"hop\"\n");
        } else {
            EXPECT_EQ(run.status, error.find("--size") == std::string::npos ? 1 : 2);
            EXPECT_EQ(firstLine, error);
        }
        EXPECT_FALSE(std::filesystem::exists(folder.Join("x.png")));
    }
}

// A folder without a config.txt is a game without a start scene: File/Load opens a scene there
// and the run goes on to its last frame, which shows it.
TEST(QuarnToolEditorShot, LoadsASceneInAFolderWithoutAConfigAndRunsOn) {
    test::TempFolder folder;
    WriteDotGame(folder);
    std::filesystem::remove(folder.Join("game/config.txt"));
    folder.WriteFile("input.txt", "1 answer-path level.scene\n1 command 40002\n");
    ToolRun shot = RunTool(folder,
                           {"editor-shot", "game", "loaded.png", "--size", "160x163", "--frames",
                            "3", "--input", "input.txt"},
                           "QUARN_LOG=1");
    ASSERT_EQ(shot.status, 0) << shot.err;
    EXPECT_NE(test::Tilde(shot.err, folder).find("Scene '~/game/level.scene' loaded"),
              std::string::npos)
        << shot.err;
    ExpectTheViewShowsTheScene(folder, "loaded.png", 160, 120, "3");
}

// "640 x 380" grows the window beyond the back buffer it started with: the view still shows the
// scene, at the new size, as the window does.
TEST(QuarnToolEditorShot, AfterTheSmallWindowSizeTheViewShowsTheSceneAtThatSize) {
    test::TempFolder folder;
    WriteDotGame(folder);
    folder.WriteFile("input.txt", "1 command 40130\n");
    ToolRun shot = RunTool(folder, {"editor-shot", "game", "resized.png", "--size", "160x163",
                                    "--frames", "4", "--input", "input.txt"});
    ASSERT_EQ(shot.status, 0) << shot.err;
    ExpectTheViewShowsTheScene(folder, "resized.png", 640, 380, "4");
}

// A PNG picture of one colour.
std::string SolidPng(uint32_t width, uint32_t height, uint32_t rgb) {
    std::vector<uint8_t> rgba;
    for (uint32_t i = 0; i < width * height; ++i) {
        rgba.insert(rgba.end(), {static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                                 static_cast<uint8_t>(rgb), 0xFF});
    }
    std::vector<uint8_t> file;
    EXPECT_EQ(PngEncoder().Encode(file, rgba.data(), width, height), 0u);
    return {file.begin(), file.end()};
}

// A sprite added through the node menu under a plate placed in pixels shows at the plate's place
// in its picture's size: red over the plate's green, the plate's edge still green.
TEST(QuarnToolEditorShot, ASpriteAddedUnderAPixelPlacedNodeShowsItsPicture) {
    test::TempFolder folder;
    folder.WriteFile("game/config.txt", "");
    folder.WriteFile("game/plate.png", SolidPng(30, 30, 0x00FF00));
    folder.WriteFile("game/logo.png", SolidPng(10, 8, 0xFF0000));
    folder.WriteFile(
        "game/level.scene",
        "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
        "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
        "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n\tcurrentcamera = 2\n"
        "\trt_flags = 180\n}\n"
        "obj4 {\n\tclass = \"Sprite\"\n\tname = \"plate\"\n\tparent = 1\n\tprev = 3\n"
        "\tmatrixmode = 3\n\tpos = 60,50,0\n\tsize = 30,30\n\ttexture = \"plate.png\"\n}\n");
    // Each level clicked in turn, or the item named at once, its levels opening on the way.
    const std::string opened = "2 click-item menu:File\n5 answer-path level.scene\n"
                               "5 click-item cmd:40002\n8 click 60 50 right\n";
    for (const std::string steps : {"11 click-item ctx:Add new child\n"
                                    "14 click-item ctx:Add new child|Gfx\n"
                                    "17 click-item ctx:Add new child|Gfx|Sprite\n"
                                    "20 click-item ctx:Add new child|Gfx|Sprite|<logo.png>\n",
                                    "11 click-item ctx:Add new child|Gfx|Sprite|<logo.png>\n"}) {
        folder.WriteFile("input.txt", opened + steps);
        ToolRun shot = RunTool(folder, {"editor-shot", "game", "added.png", "--size", "160x163",
                                        "--frames", "24", "--input", "input.txt"});
        ASSERT_EQ(shot.status, 0) << shot.err;
        const Picture picture = ReadPicture(folder.ReadFile("added.png"));
        // View pixels lie two pixels right of and 45 below the window's.
        const auto at = [&picture](uint32_t x, uint32_t y) {
            const size_t index = ((y + 45) * picture.width + x + 2) * 4;
            return std::vector<int>{picture.rgba[index], picture.rgba[index + 1],
                                    picture.rgba[index + 2]};
        };
        EXPECT_EQ(at(60, 50), (std::vector<int>{255, 0, 0})) << steps;
        EXPECT_EQ(at(57, 48), (std::vector<int>{255, 0, 0})) << steps;
        EXPECT_EQ(at(60, 38), (std::vector<int>{0, 255, 0})) << steps;
    }
}

// The editor's commands come from its own menu bar, so the README's copy must be that list.
TEST(QuarnToolEditorShot, HelpEditorListsTheMenuCommandsAsTheReadmeDoes) {
    test::TempFolder folder;
    ToolRun help = RunTool(folder, {"help", "editor"});
    ASSERT_EQ(help.status, 0) << help.err;
    const size_t start = help.out.find("\n  cmd:");
    ASSERT_NE(start, std::string::npos) << help.out;
    const std::string list = help.out.substr(start + 1);
    for (const char* line : {"  cmd:40007  File > Save\n", "  cmd:40010  Edit > Undo\n",
                             "  cmd:40086 .. cmd:40094  File > the recent files, newest first\n",
                             "  cmd:40130  View > Set window size > 640 x 380\n",
                             "  cmd:40132  Functions > Light Maps > Create light maps\n"}) {
        EXPECT_NE(list.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(list.find("<none>"), std::string::npos);
    std::ifstream file(QUARN_TEST_DATA "/../../README.md", std::ios::binary);
    const std::string readme(std::istreambuf_iterator<char>(file), {});
    const size_t block = readme.find("`quarn-tool help editor` prints the same list:\n\n```\n");
    ASSERT_NE(block, std::string::npos);
    const size_t first = readme.find("```\n", block) + 4;
    EXPECT_EQ(readme.substr(first, readme.find("```", first) - first), list);
}

TEST(QuarnToolMesh, PrintsTheCountsSavesTheTextFormAndNamesWhyAFileIsRefused) {
    test::TempFolder folder;
    folder.WriteFile("Tetra.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                                  "f 4 3 2\nf 1 2 3\nf 1 3 4\nf 1 4 2\nf 1 2 5\n");
    folder.WriteFile("bad.mesh", "vertexcount=0\nindexcount=3\nvertexformat=point\n");
    folder.WriteFile("model.ply", "ply\n");
    folder.WriteFile("cut.mesh", "vertexcount=20\nindexcount=3\nvertexformat=point\n"
                                 "indexformat=trianglelist\n");
    // Position 5 does not exist: its corner lies at the origin, on position 1.
    const std::string counts = "vertices 5\ntriangles 5\nformat 37\nunique positions 4\n"
                               "edges 8\nclosed no\nfaces 5\n";
    ToolRun run = RunTool(folder, {"mesh", "tetra.obj", "out/tetra.mesh"});
    EXPECT_EQ(run.status, 1); // no folder "out"
    run = RunTool(folder, {"mesh", "tetra.obj", "tetra.mesh"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, counts);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(folder.ReadFile("tetra.mesh").rfind("vertexcount=5\nindexcount=15\n", 0), 0u);
    run = RunTool(folder, {"mesh", "tetra.mesh"});
    EXPECT_EQ(run.out, counts);
    // A triangle over a vertex the file does not have is dropped, with a warning.
    folder.WriteFile("wrong.mesh", "vertexcount=3\nindexcount=3\nvertexformat=point\n"
                                   "indexformat=trianglelist\npoints=0\ntriangles=1\n\t0 1 7\n");
    run = RunTool(folder, {"mesh", "wrong.mesh"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "quarn-tool: warning: Invalid triangle index 0=(0,1,7)\n");
    ExpectFailures(folder,
                   {{{"mesh", "missing.obj"}, "cannot open missing.obj"},
                    {{"mesh", "bad.mesh", "x.mesh"},
                     "cannot load bad.mesh: Error: Invalid mesh file 'bad.mesh'"},
                    {{"mesh", "model.ply", "x.mesh"},
                     "cannot load model.ply: Unknown mesh format: 'model.ply'"},
                    {{"mesh", "cut.mesh", "x.mesh"},
                     "cut.mesh ends early: the file is cut short, and what it lacks reads as "
                     "zeros"}},
                   "x.mesh");
}

TEST(QuarnToolTableAndGrid, PrintTheDataAndSaveThroughTheResource) {
    test::TempFolder folder;
    folder.WriteFile("t.dat", "fields = 2\nfield1_name = \"id\"\nfield1_type = int\n"
                              "field2_name = \"pos\"\nfield2_type = float2\nkeys = 1\nkey1 = 1\n"
                              "key1_max = 2\nkey_symmetry = false\nrecords = 1\nrecord\nid = 1\n"
                              "pos = 1.5,-2\nend\n");
    folder.WriteFile("t.csv", "a;\"b;c\"\n\nd\r\n");
    folder.WriteFile("bad.dat", "fields = 0\nkeys = 3\n");
    std::string raw("\x03\0\0\0\x02\0\0\0", 8); // 3 x 2 cells, heights then third layer
    for (float value = -2.5f; value < 9; ++value) {
        raw.append(reinterpret_cast<const char*>(&value), 4);
    }
    folder.WriteFile("g.raw", raw);
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"table", "t.dat"},
         "mode typed\nfield id int\nfield pos float2\nkeys 1\nrecords 2\n1\t1.5,-2\n1\t1.5,-2\n"},
        {{"table", "t.csv", "out.csv"},
         "mode text\nfield - string\nfield - string\nkeys 0\nrecords 3\na\tb;c\n\nd\n"},
        {{"grid", "g.raw", "g.flt"},
         "columns 3\nrows 2\narea -1 -1 1 1\nmirror 0\n"
         "heights -2.5 2.5\nsecond none\nthird 3.5 8.5\n"}};
    for (const auto& [arguments, out] : runs) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, out);
    }
    EXPECT_EQ(folder.ReadFile("out.csv"), "\"a\";\"b;c\"\n\n\"d\"");
    EXPECT_EQ(folder.ReadFile("g.dat").size(), 24u);
    ExpectFailures(folder,
                   {{{"table", "none.dat"}, "cannot open none.dat"},
                    {{"table", "bad.dat", "x.csv"},
                     "cannot load bad.dat: Database \"bad.dat\" integrity failure: Max 2 keys"},
                    {{"table", "t.dat", "x.csv"},
                     "cannot save x.csv: Database \"t.dat\" is not saved to \"x.csv\": only a "
                     "text table saves, and only to a \".csv\" file"},
                    {{"grid", "none.flt", "x.csv"},
                     "cannot load none.flt as a \"flt\" or \"raw\" grid: Missing resource: "
                     "\"none.flt\""},
                    {{"grid", "g.raw", "x.csv"},
                     "cannot save x.csv: Grid \"g.raw\" is not saved to \"x.csv\": grids save "
                     "only as \"flt\" or \"raw\""}},
                   "x.csv");
}

// A game folder packed as the player's "data.zoo" runs: its scene finds the texture in the
// archive's subfolder. The plain ".zip" holds the same entries unscrambled.
TEST(QuarnToolPack, PacksAGameFolderIntoAnArchiveThePlayerRunsOrWritesNothing) {
    test::TempFolder folder;
    std::ifstream dot(QUARN_TEST_DATA "/../../res/particle.png", std::ios::binary);
    const std::string png(std::istreambuf_iterator<char>(dot), {});
    folder.WriteFile("game/config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("game/art/dot.png", png);
    folder.WriteFile(
        "game/level.scene",
        "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n\tflags = 0\n}\n"
        "obj2 {\n\tclass = \"Sprite\"\n\tparent = 1\n\ttexture = \"art/dot.png\"\n}\n");
    ToolRun run = RunTool(folder, {"pack", "game", "run/data.zoo"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(RunTool(folder, {"cat", "run/data.zoo/Art/DOT.png"}).out, png);
    const std::string zoo = folder.ReadFile("run/data.zoo");
    EXPECT_EQ(RunTool(folder, {"pack", "game", "again.zoo"}).status, 0);
    EXPECT_EQ(folder.ReadFile("again.zoo"), zoo);
    // Packed twice: the second time the archive lies in the folder.
    for (int time = 0; time < 2; ++time) {
        EXPECT_EQ(RunTool(folder, {"pack", "game", "game/game.zip"}).status, 0);
    }
    const std::string zip = folder.ReadFile("game/game.zip");
    EXPECT_EQ(test::Scrambled(zip), zoo); // and the archive did not take itself in
    EXPECT_EQ(zip.rfind("PK\x03\x04", 0), 0u);

    test::TempFolder user;
    const int status =
        std::system(("cd '" + folder.Join("run") +
                     "' && SDL_VIDEODRIVER=offscreen ALSOFT_DRIVERS=null "
                     "QUARN_LOG=1 QUARN_DIALOGS=script XDG_DATA_HOME='" +
                     user.Path() + "' timeout 120 '" QUARN_PLAYER "' 2>'" + user.Join("log") + "'")
                        .c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(test::Tilde(user.ReadFile("log"), folder),
              "Script search-path set to '~/run/data.zoo/'\nQuarn v1.0\n"
              "Scene '~/run/data.zoo/level.scene' loaded\n");

    ExpectFailures(folder,
                   {{{"pack", "missing", "out.zoo"}, "cannot read missing: it is no folder"},
                    {{"pack", "game", "out.tar"}, "out.tar must end in \".zoo\" or \".zip\""}},
                   "out.zoo");
}

// A game folder handed over with links out of it: the archive holds nothing the player could
// not read from the folder, and each thing left out has its line.
TEST(QuarnToolPack, LeavesOutWhatLeadsOutOfTheFolderAndSaysSo) {
    test::TempFolder folder;
    folder.WriteFile("outside/secret.txt", "secret");
    folder.WriteFile("game/level.txt", "level");
    std::filesystem::create_symlink("../outside/secret.txt", folder.Join("game/secret.txt"));
    std::filesystem::create_symlink("/proc/self/environ", folder.Join("game/environ.txt"));
    std::filesystem::create_symlink("level.txt", folder.Join("game/again.txt"));
    ASSERT_EQ(mkfifo(folder.Join("game/pipe").c_str(), 0644), 0);
    ToolRun run = RunTool(folder, {"pack", "game", "out.zip"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "quarn-tool: warning: skipped game/environ.txt: it leads outside game\n"
                       "quarn-tool: warning: skipped game/pipe: it is no regular file\n"
                       "quarn-tool: warning: skipped game/secret.txt: it leads outside game\n");
    EXPECT_EQ(RunTool(folder, {"cat", "out.zip/again.txt"}).out, "level");
    for (const char* left : {"out.zip/secret.txt", "out.zip/environ.txt", "out.zip/pipe"}) {
        EXPECT_EQ(RunTool(folder, {"cat", left}).status, 1) << left;
    }
}

TEST(QuarnToolShader, AssemblesPrintsAgainAndNamesTheLineOrWordOfABadFile) {
    test::TempFolder folder;
    const std::string source = "vs_1_1\nm4x4 oPos, v0, c0\n\nps_2_0\nmov oC0, c6\n";
    folder.WriteFile("s.asm", "; both programs\n" + source);
    ToolRun assembled = RunTool(folder, {"shader", "asm", "s.asm", "out/s.fx_raw"});
    EXPECT_EQ(assembled.status, 0);
    EXPECT_EQ(assembled.out + assembled.err, "");
    ToolRun printed = RunTool(folder, {"shader", "dis", "out/s.fx_raw"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(printed.out, source);
    folder.WriteFile("again.asm", printed.out);
    EXPECT_EQ(RunTool(folder, {"shader", "asm", "again.asm", "again.fx_raw"}).status, 0);
    EXPECT_EQ(folder.ReadFile("again.fx_raw"), folder.ReadFile("out/s.fx_raw"));
    ToolRun embedded = RunTool(folder, {"shader", "dis", "res://missing.psh_raw"});
    EXPECT_EQ(embedded.status, 0);
    EXPECT_EQ(embedded.out.rfind("ps_2_0\n", 0), 0u) << embedded.out;
    EXPECT_EQ(RunTool(folder, {"shader", "syntax"}).out.rfind("A shader source", 0), 0u);

    folder.WriteFile("bad.asm", "ps_2_0\nmov oC0, q0\n");
    folder.WriteFile("bad.psh_raw", std::string("\x00\x02\xff\xff\x28\0\0\0\xff\xff\0\0", 12));
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"shader", "asm", "bad.asm", "x.psh_raw"}, "bad.asm: line 2: unknown register 'q0'"},
        {{"shader", "asm", "s.asm", "x.vsh_raw"},
         "s.asm: a \".vsh_raw\" file holds one vertex program and nothing else"},
        {{"shader", "dis", "bad.psh_raw"}, "bad.psh_raw: unsupported opcode 0x28 at word 1"},
        {{"shader", "dis", "none.psh_raw"}, "cannot open none.psh_raw"},
    };
    for (const auto& [arguments, reason] : failures) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 1) << reason;
        EXPECT_EQ(run.out, "") << reason;
        EXPECT_EQ(run.err, "quarn-tool: " + reason + "\n");
    }
    EXPECT_EQ(folder.ReadFile("x.psh_raw"), "");
}

std::string DataFile(const std::string& relative) {
    std::ifstream file(std::string(QUARN_TEST_DATA) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

TEST(QuarnToolScript, AssemblesTheCommittedProgramAndPrintsTextThatAssemblesBackTheSame) {
    test::TempFolder folder;
    folder.WriteFile("counter.asm", DataFile("scripts/counter.asm"));
    ToolRun assembled = RunTool(folder, {"script", "asm", "counter.asm", "out/Counter"});
    EXPECT_EQ(assembled.status, 0) << assembled.err;
    EXPECT_EQ(assembled.out + assembled.err, "");
    EXPECT_EQ(folder.ReadFile("out/Counter.bin"), DataFile("scripts/counter.bin"));
    EXPECT_EQ(folder.ReadFile("out/Counter.sym"), DataFile("scripts/counter.sym"));

    // Shipped without its source, the files found without case.
    ToolRun printed = RunTool(folder, {"script", "dis", "out/counter.script"});
    EXPECT_EQ(printed.status, 0) << printed.err;
    EXPECT_NE(printed.out.find("function \"reset\" () at=@L38 port"), std::string::npos)
        << printed.out;
    EXPECT_NE(printed.out.find("    jumpifnot L35                   ; 26 line 2 counter.asm:27\n"),
              std::string::npos)
        << printed.out;
    folder.WriteFile("printed.asm", printed.out);
    EXPECT_EQ(RunTool(folder, {"script", "asm", "printed.asm", "again"}).status, 0);
    EXPECT_EQ(folder.ReadFile("again.bin"), DataFile("scripts/counter.bin"));
    EXPECT_EQ(folder.ReadFile("again.sym"), DataFile("scripts/counter.sym"));
}

// The player's default font registers "Texture" before every other class, which moves the
// generated names of the classes registered ahead of it: Node's "aaz" is its FindByName.
TEST(QuarnToolScript, GeneratedMethodNamesAreThoseThePlayerGives) {
    test::TempFolder folder;
    folder.WriteFile("find.asm", "stack 8\nroot\ntext \"door\"\nmethod method:Node.aaz 1\nend\n");
    ToolRun assembled = RunTool(folder, {"script", "asm", "find.asm", "find"});
    ASSERT_EQ(assembled.status, 0) << assembled.err;
    ToolRun printed = RunTool(folder, {"script", "dis", "find.script"});
    EXPECT_NE(printed.out.find("    method 7 1 "), std::string::npos) << printed.out;
    ToolRun classes = RunTool(folder, {"classes"});
    EXPECT_NE(classes.out.find("class Node number=3 category=SceneTree base=Entity flags=73 "
                               "concrete\n    property parent type=Node kind=REF flags=4 state=4 "
                               "range=\"\"\n    property prev type=Node kind=REF flags=4 "
                               "state=12 range=\"\"\n    property flags type=int kind=BITFIELD "
                               "flags=0 state=4 range=\"enabled,enabled_all,locked,locked_all,"
                               "expanded\"\n    method aaw (bool) flags=66\n    method aax "
                               "():bool flags=2\n    method aay (string, int):Node flags=66\n"
                               "    method aaz (string):Node"),
              std::string::npos);
}

TEST(QuarnToolScript, FailuresNameTheLineOrTheReason) {
    test::TempFolder folder;
    folder.WriteFile("bad.asm", "stack 8\nfly 3\n");
    // The engine's own names: IsDown takes the key's code, an int.
    folder.WriteFile("keys.asm", "stack 8\nvar \"keys\" KeyboardInterface\n"
                                 "function \"update\" (float) at=@update\nupdate:\n"
                                 "    push 0\n    load 1\n    push 61.0\n"
                                 "    method method:KeyboardInterface.arp 1\n    drop 1\n"
                                 "    return 1 0\n");
    folder.WriteFile("short.bin", "1234567");
    folder.WriteFile("short.sym", "");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"script", "asm", "bad.asm", "bad"}, "bad.asm:2: unknown command \"fly\""},
        {{"script", "asm", "keys.asm", "keys"},
         "keys.asm:8: method KeyboardInterface.arp (IsDown): argument 1 is int, given float"},
        {{"script", "asm", "none.asm", "none"}, "cannot open none.asm"},
        {{"script", "dis", "none.script"},
         "cannot load none.script: neither it nor its code file exists"},
        {{"script", "dis", "short.script"},
         "short.script has no code: Script 'short.bin' not loaded: the code file is shorter "
         "than its 12-byte header"},
    };
    for (const auto& [arguments, reason] : cases) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 1) << reason;
        EXPECT_EQ(run.out, "") << reason;
        EXPECT_EQ(run.err, "quarn-tool: " + reason + "\n");
    }
    EXPECT_EQ(folder.ReadFile("bad.bin"), "");
    EXPECT_EQ(folder.ReadFile("keys.bin"), "");
}

TEST(QuarnToolScript, RunsAProgramOnAScriptNodeAndPrintsWhatItLeft) {
    test::TempFolder folder;
    folder.WriteFile("game/calls.bin", DataFile("scripts/calls.bin"));
    folder.WriteFile("game/calls.sym", DataFile("scripts/calls.sym"));
    ToolRun added = RunTool(folder, {"script", "run", "game/calls.script", "--frames", "3",
                                     "--call", "add", "20", "22"});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out + added.err,
              "result: 42\nstate: READY\ntotal = 42\nframes = 3\ngreeting = hello\n");

    // A runtime error fails the command as it fails render, the lines printed all the same.
    ToolRun broken = RunTool(folder, {"script", "run", "game/calls.script", "--call", "broken"});
    EXPECT_EQ(broken.status, 3) << broken.err;
    EXPECT_EQ(broken.out,
              "state: ERROR PENDING\ntotal = 5\nframes = 1\ngreeting = hello\n"
              "error: Script \"calls\" at calls.asm:37\nRuntime error \"Invalid command - maybe "
              "you need to recompile all scripts\"\nScript (instance) is terminated.\n\n"
              "Callstack:\nbroken(), calls.asm:37\n");

    // The committed counter counts its frames and speaks on every tenth.
    folder.WriteFile("game/counter.bin", DataFile("scripts/counter.bin"));
    folder.WriteFile("game/counter.sym", DataFile("scripts/counter.sym"));
    ToolRun counted = RunTool(folder, {"script", "run", "game/counter.script", "--frames", "25"});
    EXPECT_EQ(counted.status, 0) << counted.err;
    EXPECT_EQ(counted.out + counted.err, "ten more frames\nten more frames\nstate: READY\n"
                                         "frames = 25\nstep = 1\ndone = 0\n");

    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"script", "run", "none.script"},
         "cannot load none.script: neither it nor its code file exists"},
        {{"script", "run", "game/calls.script", "--call", "add", "1"},
         "add takes 2 arguments, not 1"},
        {{"script", "run", "game/calls.script", "--call", "fly"},
         "the program has no function \"fly\""},
    };
    for (const auto& [arguments, reason] : failures) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 1) << reason;
        EXPECT_EQ(run.out, "") << reason;
        EXPECT_EQ(run.err, "quarn-tool: " + reason + "\n");
    }
    EXPECT_EQ(RunTool(folder, {"script", "run", "game/calls.script", "--frames", "-1"}).status, 2);
}

// What the run logs reaches the user, every line in order; the program's prints only on stdout.
TEST(QuarnToolScript, RunPrintsEveryWarningOfTheRun) {
    test::TempFolder folder;
    folder.WriteFile("game/peek.asm",
                     "header 0 0\nstack 16\n"
                     "function \"peek\" () at=@peek\n"
                     "peek:\n    line\n    text \"../outside.txt\"\n    push 0\n    func 97\n"
                     "    drop 1\n    text \"/etc/passwd\"\n    func 89\n    drop 1\n"
                     "    text \"looked\"\n    func 36\n    return 0 0\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "game/peek.asm", "game/peek"}).status, 0);
    folder.WriteFile("outside.txt", "secret");
    ToolRun run = RunTool(folder, {"script", "run", "game/peek.script", "--call", "peek"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "looked\nstate: READY\n");
    EXPECT_EQ(run.err, std::string("quarn-tool: warning: OpenRead refused \"../outside.txt\": ") +
                           OutsideGameReason + "\nquarn-tool: warning: PathExists refused " +
                           "\"/etc/passwd\": " + OutsideGameReason + "\n");
}

// A first run in a fresh data home: the game's own folder is made as the player makes it, not
// refused as a place outside the game.
TEST(QuarnToolScript, RunMakesTheGamesOwnFolderBeforeTheProgramWritesThere) {
    test::TempFolder folder;
    folder.WriteFile("game/save.asm", "header 0 0\nstack 16\n"
                                      "function \"save\" ():bool at=@save\n"
                                      "save:\n    line\n    text \"user://saved.txt\"\n"
                                      "    func 91\n    text \"user://saved.txt\"\n"
                                      "    func 89\n    return 0 1\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "game/save.asm", "game/save"}).status, 0);
    ToolRun run = RunTool(folder, {"script", "run", "game/save.script", "--call", "save"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out + run.err, "result: 1\nstate: READY\n");
}

// A program runs as the game it lies in, whatever folder the tool starts in: the user:// of that
// game, not of the start folder's, and, in a folder without a config.txt, writes only there.
TEST(QuarnToolScript, RunRunsTheProgramAsTheGameItLiesIn) {
    test::TempFolder folder;
    folder.WriteFile("loose/taker.asm",
                     "header 0 0\nstack 16\nfunction \"take\" () at=@take\n"
                     "take:\n    line\n    text \"user://save.txt\"\n    func 90\n"
                     "    line\n    text \"payload.txt\"\n    text \"victim.txt\"\n    func 92\n"
                     "    line\n    text \"payload.txt\"\n    text \"user://mine.txt\"\n"
                     "    func 92\n    return 0 0\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "loose/taker.asm", "loose/taker"}).status, 0);
    folder.WriteFile("loose/payload.txt", "pwned");
    folder.WriteFile("loose/victim.txt", "kept");
    folder.WriteFile("other/config.txt", "name = \"other\"\n");
    folder.WriteFile("data/Quarn/games/other/save.txt", "other's");
    const ToolRun run = test::RunToolIn(
        folder.Join("other"), {"script", "run", "../loose/taker.script", "--call", "take"}, "",
        folder.Join("data"));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(folder.ReadFile("data/Quarn/games/other/save.txt"), "other's");
    EXPECT_EQ(folder.ReadFile("loose/victim.txt"), "kept");
    EXPECT_EQ(folder.ReadFile("data/Quarn/games/loose/mine.txt"), "pwned");
}

// Texts of the program's own string64 type, a type no property has, and the reports of invalid
// parameters, after which the script goes on: the tool has no script debugger, and its dialog's
// first button is Ignore.
TEST(QuarnToolScript, PrintsTextsAsTextsAndTheReportOfAnInvalidParameter) {
    test::TempFolder folder;
    folder.WriteFile("texts.asm",
                     "header 0 0\nstack 64\n"
                     "function \"name\" ():string64 at=@name\n"
                     "function \"echo\" (string64):string64 at=@echo\n"
                     "function \"cell\" (int3):int3 at=@cell\n"
                     "function \"divide\" (int, int):int at=@divide\n"
                     "function \"grow\" () at=@grow\n"
                     "name:\n    line\n    text \"sixty-four\"\n"
                     "    op string \"ToString64():string64\"\n    return 0 16\n"
                     "echo:\n    line\n    push -16\n    loadlocal 16\n    return 16 16\n"
                     "cell:\n    line\n    push -3\n    loadlocal 3\n    return 3 3\n"
                     "divide:\n    line\n    push -2\n    loadlocal 1\n    push -1\n"
                     "    loadlocal 1\n    op int \"/(int):int\"\n    return 2 1\n"
                     "grow:\n    line\n    push 2000000000\n    func 125\n    drop 1\n"
                     "    return 0 0\n");
    ASSERT_EQ(RunTool(folder, {"script", "asm", "texts.asm", "texts"}).status, 0);
    const std::string tooLong(64, 'x');
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"name"}, "result: sixty-four\nstate: READY\n"},
        {{"echo", "hello world"}, "result: hello world\nstate: READY\n"},
        {{"cell", "1,-2,3"}, "result: 1,-2,3\nstate: READY\n"},
        {{"divide", "7", "0"},
         "result: 0\nstate: READY\ninvalid: Script \"texts\" Line 29: Division by zero\n"},
        {{"grow"},
         "state: READY\ninvalid: Script \"texts\" Line 34: A data array of 2000000000 "
         "words is larger than the 16777216 allowed\n"},
        {{"echo", tooLong},
         "quarn-tool: \"" + tooLong + "\" is longer than the 63 characters of a string64\n"},
        {{"cell", "1,2"}, "quarn-tool: \"1,2\" is no int3\n"},
    };
    for (const auto& [call, printed] : cases) {
        std::vector<std::string> arguments = {"script", "run", "texts.script", "--call"};
        arguments.insert(arguments.end(), call.begin(), call.end());
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.out + run.err, printed) << call[0];
        EXPECT_EQ(run.status, printed.starts_with("quarn-tool:") ? 1 : 0) << call[0];
    }
}

// The fixture is a contact with friction written by hand: the normal row pushes 2 apart, so the
// friction row, driven toward 5 with coefficient 0.5, stops at its bound 1; the third row,
// unbounded, couples to the normal row.
TEST(QuarnToolLcp, SolvesAHandWrittenProblemAndRefusesAFileThatIsNotOne) {
    test::TempFolder folder;
    ToolRun run = RunTool(folder, {"lcp", QUARN_TEST_DATA "/lcp/contact.txt"});
    EXPECT_EQ(run.status, 0) << run.err;
    // x0 + x2 / 2 = 2 and x0 / 2 + 2 x2 = 1 give x0 = 2, x2 = 0.
    EXPECT_EQ(run.out, "2 0\n1 -4\n0 0\nfailures 0\n");

    std::ifstream fixture(QUARN_TEST_DATA "/lcp/contact.txt", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(fixture), {});
    folder.WriteFile("cut.txt", text.substr(0, text.find("inf 0.5")));
    folder.WriteFile("nan.txt", "1 0 nan 1 0 inf none");
    folder.WriteFile("bounds.txt", "1 0 1 1 0.5 inf none");
    folder.WriteFile("findex.txt", "1 0 1 1 0 inf 1");
    ExpectFailures(folder,
                   {{{"lcp", "cut.txt"}, "cut.txt: ends before hi is complete"},
                    {{"lcp", "nan.txt"}, "nan.txt: \"nan\" in A is not a finite number"},
                    {{"lcp", "bounds.txt"},
                     "bounds.txt: row 0's bounds do not hold 0 (lo must not be above 0, hi not "
                     "below it)"},
                    {{"lcp", "findex.txt"},
                     "findex.txt: row 0's findex 1 names no row (-1 for none, else 0 to 0)"},
                    {{"lcp", "none.txt"}, "cannot open none.txt"}},
                   "none.txt");
}

// A bad call says what was wrong, shows the command's one usage line and where to read more.
TEST(QuarnToolUsage, HelpListsEveryCommandAndABadCallPrintsTheReasonAndTheUsageLineAndExitsWith2) {
    test::TempFolder folder;
    ToolRun help = RunTool(folder, {"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("usage: quarn-tool COMMAND", 0), 0u) << help.out;
    for (const char* line :
         {"\n  help ", "\n  cat VPATH ", "\n  settings FILE ", "\n  classes ",
          "\n  scene IN OUT [--compact] ", "\n  image IN OUT.png ", "\n  glyphcache FACE SIZE OUT ",
          "\n  render SCENE --frames N --out SHOT.png [--size WxH] [--step SECONDS] ",
          "\n  mesh IN [OUT.mesh] ", "\n  table IN [OUT.csv] ", "\n  grid IN [OUT] ",
          "\n  pack FOLDER OUT.zoo ", "\n  lcp FILE ", "\n  shader asm IN OUT | dis FILE | syntax ",
          "\n  script asm IN OUT | dis PATH | run PROGRAM "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
    for (const char* flag : {"--help", "-h"}) {
        ToolRun asked = RunTool(folder, {flag});
        EXPECT_EQ(asked.status, 0) << flag;
        EXPECT_EQ(asked.out, help.out) << flag;
    }
    // The run cycle, and where to read on.
    ToolRun script = RunTool(folder, {"help", "script"});
    EXPECT_EQ(script.status, 0);
    EXPECT_EQ(script.out.rfind("How scripts run\n\nA `Script` node runs one program.", 0), 0u)
        << script.out;
    EXPECT_NE(script.out.find("\"quarn-tool script reference\" prints it"), std::string::npos);
    const std::string render =
        "usage: quarn-tool render SCENE --frames N --out SHOT.png [--size WxH] [--step SECONDS]\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "quarn-tool: no command given\nusage: quarn-tool COMMAND [ARGUMENT...]\n"},
        {{"frob"},
         "quarn-tool: unknown command \"frob\"\nusage: quarn-tool COMMAND [ARGUMENT...]\n"},
        {{"settings", "a", "b"}, "usage: quarn-tool settings FILE\n"},
        {{"scene", "a", "b", "--fast"}, "usage: quarn-tool scene IN OUT [--compact]\n"},
        {{"render", "a", "--frames", "0", "--out", "b.png"},
         "quarn-tool: --frames must be a whole number above 0, not \"0\"\n" + render},
        {{"render", "a", "--out", "b.png", "--size", "8x8"},
         "quarn-tool: --frames and --out are needed\n" + render},
        {{"mesh"}, "usage: quarn-tool mesh IN [OUT.mesh]\n"},
        {{"shader", "asm", "a"}, "usage: quarn-tool shader asm IN OUT | dis FILE | syntax\n"},
        {{"script", "go", "a"},
         "usage: quarn-tool script asm IN OUT | dis PATH | run PROGRAM [--frames N] [--call NAME "
         "[ARG...]] | reference\n"},
        {{"help", "games"},
         "quarn-tool: no help on \"games\"\nusage: quarn-tool help [script|editor]\n"},
    };
    for (const auto& [arguments, err] : cases) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 2) << err;
        EXPECT_EQ(run.out, "") << err;
        EXPECT_EQ(run.err, err + "\"quarn-tool help\" describes every command.\n");
    }
}

TEST(QuarnToolGridData, PrintsAGridFileAsTheNodeLoadsItAndSaysWhyOneIsRefused) {
    test::TempFolder folder;
    GridData grid;
    grid.SetSize(Int3(4, 4, 2));
    grid.SetOffset(Int3(-2, 0, 1));
    grid.SetFieldCount(2);
    grid.SetCapacity(3);
    grid.SetIntField(grid.AddAt(Int3(1, 3, 2)), 0, 255);
    grid.SetFloatField(grid.AddAt(Int3(-2, 0, 1)), 1, 1.0f);
    grid.SetSaveFlag(0, false);
    grid.SetIntField(0, 31, -1);
    std::vector<uint8_t> bytes;
    std::string reason;
    ASSERT_TRUE(grid.WriteBytes(bytes, reason)) << reason;
    folder.WriteFile("level.grid", std::string(bytes.begin(), bytes.end()));

    ToolRun run = RunTool(folder, {"griddata", "level.grid"});
    EXPECT_EQ(run.status, 0) << run.err;
    std::string global = "global";
    for (int field = 0; field < 31; ++field) {
        global += " 00000000";
    }
    EXPECT_EQ(run.out, "size 4 4 2\noffset -2 0 1\nfields 2\ncapacity 3\nsavemask 0xFE\n"
                       "objects 2\nobject 1 at 1 3 2: 00000000\nobject 2 at -2 0 1: 3F800000\n" +
                           global + " FFFFFFFF\n");

    bytes.resize(30);
    folder.WriteFile("cut.grid", std::string(bytes.begin(), bytes.end()));
    ToolRun cut = RunTool(folder, {"griddata", "cut.grid"});
    EXPECT_EQ(cut.status, 1);
    EXPECT_EQ(cut.out, "");
    EXPECT_EQ(cut.err, "quarn-tool: object 2 is cut short\n");
    ToolRun missing = RunTool(folder, {"griddata", "missing.grid"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "quarn-tool: cannot open \"missing.grid\"\n");
}

TEST(QuarnToolContacts, PrintsTheContactsOfTwoNamedVolumesOrSaysWhyNot) {
    test::TempFolder folder;
    folder.WriteFile("ball.scene",
                     "version = 44\nidsystem = 0\nnum_nodes = 4\n"
                     "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
                     "obj2 {\n\tclass = \"CollisionSphere\"\n\tparent = 1\n"
                     "\tname = \"ball\"\n\tpos = 2.0,0.75,-1.0\n}\n"
                     "obj3 {\n\tclass = \"CollisionPlane\"\n\tparent = 1\n"
                     "\tname = \"ground\"\n\tworldside = 1\n}\n"
                     "obj4 {\n\tclass = \"Frobnicator\"\n\tparent = 1\n"
                     "\tname = \"thing\"\n}\n");
    ToolRun run = RunTool(folder, {"contacts", "ball.scene", "ball", "ground"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "contacts 1\n2 -0.25 -1 0 -1 0 0.25\n");
    EXPECT_NE(run.err.find("quarn-tool: warning: "), std::string::npos);
    // From the plane toward the sphere the normal turns round; --max 0 still gives the first.
    run = RunTool(folder, {"contacts", "ball.scene", "ground", "ball", "--max", "0"});
    EXPECT_EQ(run.out, "contacts 1\n2 -0.25 -1 0 1 0 0.25\n");
    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"contacts", "none.scene", "ball", "ground"}, "quarn-tool: cannot open none.scene\n"},
        {{"contacts", "ball.scene", "ball", "sky"},
         "quarn-tool: no node named \"sky\" in ball.scene\n"},
        {{"contacts", "ball.scene", "root", "ball"},
         "quarn-tool: \"root\" is a Node, not a collision volume\n"},
    };
    for (const auto& [arguments, err] : failures) {
        ToolRun failed = RunTool(folder, arguments);
        EXPECT_EQ(failed.status, 1) << err;
        EXPECT_EQ(failed.out, "") << err;
        EXPECT_NE(failed.err.find(err), std::string::npos) << failed.err;
    }
    ToolRun usage = RunTool(folder, {"contacts", "ball.scene", "ball", "ground", "--max", "-1"});
    EXPECT_EQ(usage.status, 2);
}

TEST(QuarnToolContacts, BoxesOnAPlaneAndOnABox) {
    test::TempFolder folder;
    folder.WriteFile("boxes.scene",
                     "version = 44\nidsystem = 0\nnum_nodes = 4\n"
                     "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
                     "obj2 {\n\tclass = \"CollisionPlane\"\n\tparent = 1\n"
                     "\tname = \"ground\"\n\tworldside = 1\n}\n"
                     "obj3 {\n\tclass = \"CollisionBox\"\n\tparent = 1\n\tname = \"table\"\n"
                     "\tpos = 0.0,0.25,0.0\n\tsize = 4.0,1.0,4.0\n}\n"
                     "obj4 {\n\tclass = \"CollisionBox\"\n\tparent = 1\n\tname = \"cup\"\n"
                     "\tpos = 0.5,1.0,-0.5\n\tsize = 0.5,0.6,0.5\n}\n");
    // Lying flat, sunk by a quarter: the four corners of equal depth, at most as many as asked.
    ToolRun run = RunTool(folder, {"contacts", "boxes.scene", "table", "ground"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "contacts 4\n-2 -0.25 -2 0 -1 0 0.25\n2 -0.25 -2 0 -1 0 0.25\n"
                       "-2 -0.25 2 0 -1 0 0.25\n2 -0.25 2 0 -1 0 0.25\n");
    run = RunTool(folder, {"contacts", "boxes.scene", "table", "ground", "--max", "2"});
    EXPECT_EQ(run.out, "contacts 2\n-2 -0.25 -2 0 -1 0 0.25\n2 -0.25 -2 0 -1 0 0.25\n");
    // The cup stands inside the table's top face: its four bottom corners.
    run = RunTool(folder, {"contacts", "boxes.scene", "table", "cup"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "contacts 4\n0.75 0.699999988 -0.25 0 1 0 0.0500000119\n"
                       "0.75 0.699999988 -0.75 0 1 0 0.0500000119\n"
                       "0.25 0.699999988 -0.75 0 1 0 0.0500000119\n"
                       "0.25 0.699999988 -0.25 0 1 0 0.0500000119\n");
}

TEST(QuarnToolContacts, ACapsuleLyingOnABoxTouchesItsTopUnderEachEnd) {
    test::TempFolder folder;
    folder.WriteFile("pill.scene",
                     "version = 44\nidsystem = 0\nnum_nodes = 3\n"
                     "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
                     "obj2 {\n\tclass = \"CollisionBox\"\n\tparent = 1\n\tname = \"table\"\n"
                     "\tsize = 4,1,4\n}\n"
                     "obj3 {\n\tclass = \"CollisionCapsule\"\n\tparent = 1\n\tname = \"pill\"\n"
                     "\tpos = 0,0.95,0\n\tradius = 0.5\n\tlength = 2\n}\n");
    // Sunk by 0.05 along its length: a contact on the top under each end; one asked, one.
    ToolRun run = RunTool(folder, {"contacts", "pill.scene", "pill", "table"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "contacts 2\n0 0.5 -1 0 -1 0 0.0500000119\n0 0.5 1 0 -1 0 0.0500000119\n");
    run = RunTool(folder, {"contacts", "pill.scene", "pill", "table", "--max", "1"});
    EXPECT_EQ(run.out, "contacts 1\n0 0.5 0 0 -1 0 0.0500000119\n");
}

TEST(QuarnToolContacts, CylindersStandingAndCrossed) {
    test::TempFolder folder;
    folder.WriteFile("cylinders.scene",
                     "version = 44\nidsystem = 0\nnum_nodes = 4\n"
                     "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
                     "obj2 {\n\tclass = \"CollisionPlane\"\n\tparent = 1\n"
                     "\tname = \"ground\"\n\tworldside = 1\n}\n"
                     "obj3 {\n\tclass = \"CollisionCylinder\"\n\tparent = 1\n\tname = \"post\"\n"
                     "\tpos = 0,0.95,0\n\torient = 0.7071068,0,0,0.7071068\n"
                     "\tradius = 0.5\n\tlength = 2\n}\n"
                     "obj4 {\n\tclass = \"CollisionCylinder\"\n\tparent = 1\n\tname = \"log\"\n"
                     "\tpos = 0,2.4,0\n\torient = 0,0.7071068,0,0.7071068\n"
                     "\tradius = 0.5\n\tlength = 4\n}\n");
    // Upright and sunk by 0.05: the end disc's four contacts on its rim, however few are asked
    // for.
    for (const char* maximum : {"100", "1"}) {
        ToolRun run =
            RunTool(folder, {"contacts", "cylinders.scene", "post", "ground", "--max", maximum});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "contacts 4\n0.5 -0.0500001311 0 0 -1 0 0.0500001311\n"
                           "-0.5 -0.0500001311 0 0 -1 0 0.0500001311\n"
                           "0 -0.0500001311 -0.50000006 0 -1 0 0.0500001311\n"
                           "0 -0.0500001311 0.50000006 0 -1 0 0.0500001311\n");
    }
    // A log lying across the post's top: one contact, its normal turned with the order.
    ToolRun run = RunTool(folder, {"contacts", "cylinders.scene", "log", "post"});
    EXPECT_EQ(run.out, "contacts 1\n0 1.95000005 0 0 -1 0 0.0499999523\n");
    run = RunTool(folder, {"contacts", "cylinders.scene", "post", "log"});
    EXPECT_EQ(run.out, "contacts 1\n0 1.95000005 0 0 1 0 0.0499999523\n");
}

TEST(QuarnToolContacts, AMeshCubeOnABoxGivesItsFourBottomCorners) {
    test::TempFolder folder;
    folder.WriteFile("cube.obj", test::CubeObj);
    folder.WriteFile("crate.scene",
                     "version = 44\nidsystem = 0\nnum_nodes = 3\n"
                     "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
                     "obj2 {\n\tclass = \"CollisionBox\"\n\tparent = 1\n\tname = \"table\"\n"
                     "\tsize = 4,1,4\n}\n"
                     "obj3 {\n\tclass = \"CollisionMesh\"\n\tparent = 1\n\tname = \"crate\"\n"
                     "\tpos = 0,1.45,0\n\tmesh = \"cube.obj\"\n}\n");
    ToolRun run = RunTool(folder, {"contacts", "crate.scene", "crate", "table"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "contacts 4\n-1 0.450000048 1 0 -1 0 0.0499999523\n"
                       "1 0.450000048 1 0 -1 0 0.0499999523\n"
                       "1 0.450000048 -1 0 -1 0 0.0499999523\n"
                       "-1 0.450000048 -1 0 -1 0 0.0499999523\n");
}

TEST(QuarnToolPairs, PrintsEachSpacesCandidatePairsAndWhatItDropped) {
    test::TempFolder folder;
    auto node = [](int id, const char* cls, const char* name, const std::string& lines) {
        return "obj" + std::to_string(id) + " {\n\tclass = \"" + cls +
               "\"\n\tparent = " + (id == 1 ? "0" : "1") + "\n\tname = \"" + name + "\"\n" + lines +
               "}\n";
    };
    const std::string accept = "\tcollmask = 1\n\tcolltest = 1\n";
    std::string small = "version = 44\nidsystem = 0\nnum_nodes = 8\n" +
                        node(1, "Node", "root", "") +
                        node(2, "CollisionSpaceSweepnPrune", "sap", "\tmaxvolumes = 10\n") +
                        node(3, "CollisionSpaceHash", "hash", "\tspacenum = 1\n") +
                        node(4, "CollisionSphere", "b", accept + "\tpos = 1.5,0,0\n") +
                        node(5, "CollisionSphere", "a", accept) +
                        node(6, "CollisionSphere", "far", accept + "\tpos = 10,0,0\n") +
                        node(7, "CollisionSphere", "e", "\tspacenum = 1\n") +
                        node(8, "CollisionSphere", "f", "\tspacenum = 1\n\tpos = 0,1.5,0\n");
    folder.WriteFile("small.scene", small);
    ToolRun run = RunTool(folder, {"pairs", "small.scene"});
    EXPECT_EQ(run.status, 0) << run.err;
    // The loader puts later siblings first: the hash space leads in tree order.
    EXPECT_EQ(run.out, "space hash\ne f\ndropped 0\nspace sap\na b\ndropped 0\n");

    // More overlapping pairs than the cache holds (8192, 8 more a volume and 2 a volume for
    // these, on no body): the first 9692 of 11,175, a warning and the count.
    std::string crowd = "version = 44\nidsystem = 0\nnum_nodes = 152\n" +
                        node(1, "Node", "root", "") +
                        node(2, "CollisionSpaceSweepnPrune", "sap", "\tmaxvolumes = 200\n");
    for (int i = 0; i < 150; ++i) {
        char name[8];
        std::snprintf(name, sizeof name, "s%03d", i);
        crowd += node(3 + i, "CollisionSphere", name, accept);
    }
    folder.WriteFile("crowd.scene", crowd);
    run = RunTool(folder, {"pairs", "crowd.scene"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 9692 + 2);
    EXPECT_NE(run.out.find("\ndropped 1483\n"), std::string::npos);
    EXPECT_NE(run.err.find("quarn-tool: warning: CollisionSpace 'sap'"), std::string::npos);

    // A partition's capacities are only stored: a huge one loads and saves as it is.
    folder.WriteFile("partition.scene", "version = 44\nidsystem = 0\nnum_nodes = 1\n" +
                                            node(1, "CollisionPartition", "p",
                                                 "\tmaxnodes = 2000000000\n\tmaxpairs = -1\n"));
    ASSERT_EQ(RunTool(folder, {"scene", "partition.scene", "saved.scene"}).status, 0);
    const std::string saved = folder.ReadFile("saved.scene");
    EXPECT_NE(saved.find("maxnodes = 2000000000"), std::string::npos) << saved;
    EXPECT_NE(saved.find("maxpairs = -1"), std::string::npos) << saved;

    ToolRun missing = RunTool(folder, {"pairs", "none.scene"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "quarn-tool: cannot open none.scene\n");
}

TEST(QuarnToolPairs, ACollisionMeshIsPairedWhereItsVerticesLie) {
    test::TempFolder folder;
    folder.WriteFile("cube.obj", test::CubeObj);
    const std::string accept = "\tcollmask = 1\n\tcolltest = 1\n";
    folder.WriteFile(
        "crate.scene",
        "version = 44\nidsystem = 0\nnum_nodes = 5\n"
        "obj1 {\n\tclass = \"Node\"\n\tparent = 0\n\tname = \"root\"\n}\n"
        "obj2 {\n\tclass = \"CollisionSpaceSweepnPrune\"\n\tparent = 1\n\tname = \"sap\"\n"
        "\tmaxvolumes = 10\n}\n"
        "obj3 {\n\tclass = \"CollisionMesh\"\n\tparent = 1\n\tname = \"crate\"\n" +
            accept + "\tpos = 5,0,0\n\tmesh = \"cube.obj\"\n}\n" +
            "obj4 {\n\tclass = \"CollisionSphere\"\n\tparent = 1\n\tname = \"beside\"\n" + accept +
            "\tpos = 6.5,0,0\n}\n" +
            "obj5 {\n\tclass = \"CollisionSphere\"\n\tparent = 1\n\tname = \"origin\"\n" + accept +
            "\tradius = 0.5\n}\n");
    ToolRun run = RunTool(folder, {"pairs", "crate.scene"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "space sap\nbeside crate\ndropped 0\n");
}

TEST(QuarnToolSimulate, RunsTheFirstWorldAndPrintsTheSameBytesEveryTime) {
    test::TempFolder folder;
    auto node = [](int id, int parent, const char* cls, const char* name,
                   const std::string& lines) {
        return "obj" + std::to_string(id) + " {\n\tclass = \"" + cls +
               "\"\n\tparent = " + std::to_string(parent) + "\n\tname = \"" + name + "\"\n" +
               lines + "}\n";
    };
    const std::string solid = "\tcollmask = 1\n\tcolltest = 1\n";
    folder.WriteFile(
        "drop.scene",
        "version = 44\nidsystem = 0\nnum_nodes = 8\n" + node(1, 0, "Node", "root", "") +
            node(2, 1, "PhysicsMaster", "world",
                 "\tcollisionspace = 3\n\tdamping = 0\n\tangulardamping = 0\n"
                 "\tidlethreshold = 0\n") +
            node(3, 1, "CollisionSpaceSweepnPrune", "space", "\tmaxvolumes = 10\n") +
            node(4, 1, "CollisionPlane", "ground", solid + "\tworldside = 1\n\tcollflags = 17\n") +
            node(5, 1, "RigidBody", "ball", "\tpos = 0,0.5,0\n") +
            node(6, 5, "CollisionSphere", "ballshape", solid + "\tradius = 0.5\n") +
            node(7, 1, "RigidBody", "drop", "\tpos = 5,10,0\n") +
            node(8, 7, "CollisionSphere", "dropshape", solid + "\tradius = 0.5\n"));
    const std::vector<std::string> call = {"simulate", "drop.scene", "--steps", "200",
                                           "--every",  "10",         "--print", "ball",
                                           "--print",  "drop",       "--events"};
    ToolRun run = RunTool(folder, call);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(RunTool(folder, call).out, run.out);
    EXPECT_EQ(run.out.rfind("body ball mass 0.52359", 0), 0u) << run.out;
    // The numbers of the "step S NAME" lines.
    auto state = [&](const std::string& head) {
        const size_t at = run.out.find(head);
        std::vector<float> numbers;
        if (at == std::string::npos) {
            ADD_FAILURE() << head;
            return numbers;
        }
        const size_t from = at + head.size();
        std::istringstream line(run.out.substr(from, run.out.find('\n', from) - from));
        float number = 0.0f;
        while (line >> number) {
            numbers.push_back(number);
        }
        return numbers;
    };
    // Free fall: y = 10 - g h^2 n (n + 1) / 2, v = -g h n.
    const std::vector<float> fall = state("\nstep 10 drop ");
    ASSERT_EQ(fall.size(), 13u);
    EXPECT_NEAR(fall[1], 10.0f - 10.0f * 0.0001f * 55.0f, 1e-5f);
    EXPECT_NEAR(fall[8], -1.0f, 1e-5f);
    // Resting: within the allowed depth, still.
    const std::vector<float> rest = state("\nstep 200 ball ");
    ASSERT_EQ(rest.size(), 13u);
    EXPECT_NEAR(rest[1], 0.5f, 0.011f);
    EXPECT_LT(std::fabs(rest[8]), 1e-3f);

    const std::pair<std::vector<std::string>, std::string> failures[] = {
        {{"simulate", "none.scene", "--steps", "1"}, "quarn-tool: cannot open none.scene\n"},
        {{"simulate", "drop.scene", "--steps", "1", "--print", "ground"},
         "quarn-tool: \"ground\" is no rigid body in drop.scene\n"},
    };
    for (const auto& [arguments, err] : failures) {
        ToolRun failed = RunTool(folder, arguments);
        EXPECT_EQ(failed.status, 1) << err;
        EXPECT_NE(failed.err.find(err), std::string::npos) << failed.err;
    }
    folder.WriteFile("empty.scene", "version = 44\nidsystem = 0\nnum_nodes = 1\n" +
                                        node(1, 0, "Node", "root", ""));
    EXPECT_EQ(RunTool(folder, {"simulate", "empty.scene", "--steps", "1"}).err,
              "quarn-tool: empty.scene has no physics master\n");
    EXPECT_EQ(RunTool(folder, {"simulate", "drop.scene", "--steps", "-1"}).status, 2);
    // As many names as the command takes, and one more, which is refused with the count.
    std::vector<std::string> many = {"simulate", "drop.scene", "--steps", "1"};
    for (int i = 0; i < 32; ++i) {
        many.insert(many.end(), {"--print", i % 2 ? "ball" : "drop"});
    }
    const ToolRun most = RunTool(folder, many);
    EXPECT_EQ(most.status, 0) << most.err;
    EXPECT_NE(most.out.find("step 1 drop"), std::string::npos);
    many.insert(many.end(), {"--print", "ball"});
    const ToolRun past = RunTool(folder, many);
    EXPECT_EQ(past.status, 2);
    EXPECT_EQ(past.out, "");
    EXPECT_EQ(past.err.rfind("quarn-tool: \"simulate\" takes at most 67 arguments; 69 were "
                             "given\nusage: quarn-tool simulate SCENE --steps N",
                             0),
              0u)
        << past.err;

    // The iterative solver: the same free fall; the resting ball within its looser bound.
    std::string scene = folder.ReadFile("drop.scene");
    scene.replace(scene.find("\tdamping = 0\n"), 0, "\tmethod = 3\n\titerations = 20\n");
    folder.WriteFile("iterative.scene", scene);
    std::vector<std::string> iterative = call;
    iterative[1] = "iterative.scene";
    run = RunTool(folder, iterative);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<float> iterativeFall = state("\nstep 10 drop ");
    ASSERT_EQ(iterativeFall.size(), 13u);
    for (size_t i = 0; i < fall.size(); ++i) {
        EXPECT_NEAR(iterativeFall[i], fall[i], 1e-6f * (1.0f + std::fabs(fall[i]))) << i;
    }
    const std::vector<float> settled = state("\nstep 200 ball ");
    ASSERT_EQ(settled.size(), 13u);
    EXPECT_NEAR(settled[1], 0.5f, 0.02f);
    EXPECT_LT(std::fabs(settled[8]), 1e-2f);
}

TEST(QuarnToolHttpGet, PrintsThePageOrSaysWhyThereIsNone) {
    test::TempFolder folder;
    {
        test::OneShotServer server({"HTTP/1.1 200 OK\r\n\r\nhello\r\nworld\r\n"});
        ToolRun run = RunTool(
            folder, {"http-get", "127.0.0.1", "/x", "--port", std::to_string(server.Port())});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "helloworld");
        EXPECT_EQ(server.Request(),
                  "GET /x HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    }
    uint16_t closedPort;
    {
        test::OneShotServer server({"", 0, false, true});
        closedPort = server.Port();
    }
    ToolRun closed =
        RunTool(folder, {"http-get", "127.0.0.1", "/x", "--port", std::to_string(closedPort)});
    EXPECT_EQ(closed.status, 1);
    EXPECT_EQ(closed.err, "quarn-tool: Connection failed\n");
    // No page: the status, or what went wrong reading the reply; with QUARN_LOG the log too.
    const struct {
        const char* answer;
        const char* environment;
        const char* err;
    } failures[] = {
        {"HTTP/1.1 404 Not Found\r\n\r\n", "", "quarn-tool: Error #404 - Not Found\n"},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", "",
         "quarn-tool: Error #500 - Internal Server Error\n"},
        {"HTTP/1.1 500 Internal Server Error\r\n\r\n", "QUARN_LOG=1",
         "Error #500 - Internal Server Error\nquarn-tool: Error #500 - Internal Server Error\n"},
        {"", "", "quarn-tool: no status line\n"},
    };
    for (const auto& failure : failures) {
        test::OneShotServer server({failure.answer});
        ToolRun run = RunTool(
            folder, {"http-get", "127.0.0.1", "/x", "--port", std::to_string(server.Port())},
            failure.environment);
        EXPECT_EQ(run.status, 1) << failure.answer;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, failure.err);
    }
    EXPECT_EQ(RunTool(folder, {"http-get", "127.0.0.1", "/x", "--port", "0"}).status, 2);
}

} // namespace
} // namespace quarn
