#include "TestPaths.h"
#include "tests/support/StoredBytes.h"
#include "tests/support/TempFolder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace quarn {
namespace {

struct ToolRun {
    int status = -1; // the exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs the built tool in `folder`, its user folder in a scratch folder, and collects what it
// printed. No argument holds a single quote.
ToolRun RunTool(const test::TempFolder& folder, const std::vector<std::string>& arguments) {
    test::TempFolder scratch;
    std::string command =
        "cd '" + folder.Path() + "' && XDG_DATA_HOME='" + scratch.Path() + "' '" + QUARN_TOOL + "'";
    for (const std::string& argument : arguments) {
        command += " '" + argument + "'";
    }
    const int status = std::system(
        (command + " >'" + scratch.Join("out") + "' 2>'" + scratch.Join("err") + "'").c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, scratch.ReadFile("out"),
            scratch.ReadFile("err")};
}

TEST(QuarnToolCat, WritesTheBytesOfAFileFoundWithoutCaseOnDiskOrInAZooArchive) {
    test::TempFolder folder;
    const std::string bytes("line\r\n\0\xff end", 12);
    const std::string big(5000, 'z');
    folder.WriteFile("Data/Plain.BIN", bytes);
    folder.WriteFile("dir/a.txt", "a");
    folder.WriteFile("some.zoo", test::Scrambled(test::MakeZip({{"Dir/Big.txt", big}})));
    const struct {
        const char* path;
        std::string out; // empty: the path cannot be opened
    } cases[] = {
        {"data/plain.bin", bytes},
        {"Some.ZOO/dir/BIG.txt", big},
        {"some.zoo/missing.txt", ""},
        {"dir", ""}, // a folder is not a file
    };
    for (const auto& c : cases) {
        ToolRun run = RunTool(folder, {"cat", c.path});
        EXPECT_EQ(run.status, c.out.empty() ? 1 : 0) << c.path;
        EXPECT_EQ(run.out, c.out) << c.path;
        EXPECT_EQ(run.err,
                  c.out.empty() ? std::string("quarn-tool: cannot open ") + c.path + "\n" : "")
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
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(RunTool(folder, {"scene", "b.scene", "c.scene"}).status, 0);
    const std::string saved = folder.ReadFile("b.scene");
    EXPECT_EQ(saved.rfind("version = 44\nidsystem = 0\nnum_nodes = 3\nobj1 {\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\tsignalname = \"go\"\n\twitness0 = 2\n"), std::string::npos) << saved;
    EXPECT_EQ(folder.ReadFile("c.scene"), saved);
    EXPECT_EQ(RunTool(folder, {"scene", "b.scene", "d.scn", "--compact"}).status, 0);
    EXPECT_EQ(RunTool(folder, {"scene", "d.scn", "e.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("e.scene"), saved);
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
         {{"scene", "a.scene", "no/such/folder/out.scene"},
          "cannot save no/such/folder/out.scene: Scene no/such/folder/out.scene cannot be "
          "written"}},
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
                   {{{"image", "notes.txt", "c.png"}, "cannot decode notes.txt: Unknown format"},
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

TEST(QuarnToolRender, SavesTheLastFrameOfAHeadlessRunOrSaysWhyNot) {
    test::TempFolder folder;
    ToolRun run = RunTool(folder, {"render", "res://default.scene", "--frames", "2", "--out",
                                   "shots/shot.png", "--size", "64x48"});
    EXPECT_EQ(run.status, 0) << run.err;
    // The image header's big-endian width and height.
    EXPECT_EQ(folder.ReadFile("shots/shot.png").substr(16, 8),
              std::string("\0\0\0\x40\0\0\0\x30", 8));
    ToolRun missing =
        RunTool(folder, {"render", "missing.scene", "--out", "x.png", "--frames", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("quarn-tool: cannot load missing.scene: Scene '", 0), 0u)
        << missing.err;
}

TEST(QuarnToolMesh, PrintsTheCountsSavesTheTextFormAndNamesWhyAFileIsRefused) {
    test::TempFolder folder;
    folder.WriteFile("Tetra.OBJ", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                                  "f 4 3 2\nf 1 2 3\nf 1 3 4\nf 1 4 2\nf 1 2 5\n");
    folder.WriteFile("bad.mesh", "vertexcount=0\nindexcount=3\nvertexformat=point\n");
    folder.WriteFile("model.ply", "ply\n");
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
                     "cannot load model.ply: Unknown mesh format: 'model.ply'"}},
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

TEST(QuarnToolUsage, HelpListsEveryCommandAndABadCallPrintsTheReasonAndTheHelpAndExitsWith2) {
    test::TempFolder folder;
    ToolRun help = RunTool(folder, {"help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("usage: quarn-tool COMMAND", 0), 0u) << help.out;
    for (const char* line :
         {"\n  help ", "\n  cat VPATH ", "\n  settings FILE ", "\n  classes ",
          "\n  scene IN OUT [--compact] ", "\n  image IN OUT.png ", "\n  glyphcache FACE SIZE OUT ",
          "\n  render SCENE --frames N --out SHOT.png [--size WxH] ", "\n  mesh IN [OUT.mesh] ",
          "\n  table IN [OUT.csv] ", "\n  grid IN [OUT] "}) {
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    }
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no command given"},
        {{"frob"}, "unknown command \"frob\""},
        {{"settings", "a", "b"}, "usage: quarn-tool settings FILE"},
        {{"scene", "a", "b", "--fast"}, "usage: quarn-tool scene IN OUT [--compact]"},
        {{"render", "a", "--frames", "0", "--out", "b.png"},
         "usage: quarn-tool render SCENE --frames N --out SHOT.png [--size WxH] (N above 0)"},
        {{"mesh"}, "usage: quarn-tool mesh IN [OUT.mesh]"},
    };
    for (const auto& [arguments, reason] : cases) {
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_EQ(run.out, "") << reason;
        EXPECT_EQ(run.err, "quarn-tool: " + reason + "\n\n" + help.out);
    }
}

} // namespace
} // namespace quarn
