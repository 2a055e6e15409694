#include "core/io/Scrambler.h"
#include "tests/support/TempFolder.h"

#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <minizip/zip.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quarn {
namespace {

struct ToolRun {
    int status = -1; // the exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

// Runs the built tool with `arguments` in `folder`, its user folder in a scratch folder, and
// collects what it printed.
ToolRun RunTool(const std::string& folder, const std::vector<std::string>& arguments) {
    test::TempFolder scratch;
    std::string outPath = scratch.Join("stdout");
    std::string errPath = scratch.Join("stderr");
    std::vector<std::string> environment = {"XDG_DATA_HOME=" + scratch.Join("data")};
    for (char** variable = environ; *variable; ++variable) {
        if (std::string(*variable).rfind("XDG_DATA_HOME=", 0) != 0) {
            environment.push_back(*variable);
        }
    }
    std::vector<std::string> words = {QUARN_TOOL};
    words.insert(words.end(), arguments.begin(), arguments.end());
    // Everything the child needs is built before fork: it may only make system calls.
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);

    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || chdir(folder.c_str()) != 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(127);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ToolRun run;
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child) {
        ADD_FAILURE() << "cannot run " << QUARN_TOOL;
        return run;
    }
    if (WIFEXITED(status)) {
        run.status = WEXITSTATUS(status);
    }
    run.out = scratch.ReadFile("stdout");
    run.err = scratch.ReadFile("stderr");
    return run;
}

// A ".zoo": a zip of (name, content) entries stored through the scrambling pass as a whole.
void WriteZoo(const test::TempFolder& folder, const std::string& name,
              const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string zipPath = folder.Join(name + ".plain");
    zipFile zip = zipOpen(zipPath.c_str(), APPEND_STATUS_CREATE);
    ASSERT_NE(zip, nullptr);
    for (const auto& [entry, content] : entries) {
        ASSERT_EQ(zipOpenNewFileInZip(zip, entry.c_str(), nullptr, nullptr, 0, nullptr, 0, nullptr,
                                      Z_DEFLATED, Z_DEFAULT_COMPRESSION),
                  ZIP_OK);
        ASSERT_EQ(zipWriteInFileInZip(zip, content.data(), static_cast<unsigned>(content.size())),
                  ZIP_OK);
        ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
    }
    ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
    std::string bytes = folder.ReadFile(name + ".plain");
    Scrambler scrambler;
    for (char& byte : bytes) {
        byte = static_cast<char>(scrambler.Scramble(static_cast<uint8_t>(byte)));
    }
    folder.WriteFile(name, bytes);
    unlink(zipPath.c_str());
}

TEST(QuarnToolCat, WritesTheBytesOfAFile) {
    test::TempFolder folder;
    std::string bytes("line\r\n\0\xff end", 12);
    folder.WriteFile("plain.bin", bytes);
    ToolRun run = RunTool(folder.Path(), {"cat", "plain.bin"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, bytes);
    EXPECT_EQ(run.err, "");
}

TEST(QuarnToolCat, FindsAFileWhoseFoldersDifferInCase) {
    test::TempFolder folder;
    folder.WriteFile("Data/Sub/File.TXT", "found");
    ToolRun run = RunTool(folder.Path(), {"cat", "data/sub/file.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "found");
}

TEST(QuarnToolCat, ReadsAnEntryOfAZooArchiveWithoutCase) {
    test::TempFolder folder;
    std::string big(5000, 'z');
    WriteZoo(folder, "some.zoo", {{"Dir/File.txt", "inside the zoo\n"}, {"big.txt", big}});
    ToolRun run = RunTool(folder.Path(), {"cat", "some.zoo/Dir/File.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "inside the zoo\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(RunTool(folder.Path(), {"cat", "Some.ZOO/dir/FILE.txt"}).out, "inside the zoo\n");
    EXPECT_EQ(RunTool(folder.Path(), {"cat", "some.zoo/big.txt"}).out, big);
}

TEST(QuarnToolCat, AMissingPathFailsWithOneLine) {
    test::TempFolder folder;
    WriteZoo(folder, "some.zoo", {{"a.txt", "a"}});
    for (const char* path : {"missing.txt", "some.zoo/missing.txt", "nothing.zip/a.txt"}) {
        ToolRun run = RunTool(folder.Path(), {"cat", path});
        EXPECT_EQ(run.status, 1) << path;
        EXPECT_EQ(run.out, "") << path;
        EXPECT_EQ(run.err, std::string("quarn-tool: cannot open ") + path + "\n");
    }
}

TEST(QuarnToolCat, AFolderIsNotAFile) {
    test::TempFolder folder;
    folder.WriteFile("dir/a.txt", "a");
    ToolRun run = RunTool(folder.Path(), {"cat", "dir"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "quarn-tool: cannot open dir\n");
}

TEST(QuarnToolSettings, PrintsTheFileAsSavingItWouldWriteIt) {
    test::TempFolder folder;
    folder.WriteFile("Config.txt", "# start\r\nwidth = 1024\r\nAlpha = \"x y\" # note\n"
                                   "resource_path=data/\nwidth = \"800\"\n");
    ToolRun run = RunTool(folder.Path(), {"settings", "config.txt"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Alpha = \"x y\"\nresource_path = \"data/\"\nwidth = \"800\"\n");
    EXPECT_EQ(run.err, "");
}

TEST(QuarnToolSettings, AnEmptyFilePrintsNothingAndAMissingOneFails) {
    test::TempFolder folder;
    folder.WriteFile("empty.txt", "");
    ToolRun empty = RunTool(folder.Path(), {"settings", "empty.txt"});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    ToolRun missing = RunTool(folder.Path(), {"settings", "missing.txt"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_EQ(missing.err, "quarn-tool: cannot read missing.txt\n");
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
    ToolRun run = RunTool(folder.Path(), {"classes"});
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
    ToolRun first = RunTool(folder.Path(), {"scene", "a.scene", "b.scene"});
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, "");
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(RunTool(folder.Path(), {"scene", "b.scene", "c.scene"}).status, 0);
    const std::string saved = folder.ReadFile("b.scene");
    EXPECT_EQ(saved.rfind("version = 44\nidsystem = 0\nnum_nodes = 3\nobj1 {\n", 0), 0u) << saved;
    EXPECT_NE(saved.find("\tsignalname = \"go\"\n\twitness0 = 2\n"), std::string::npos) << saved;
    EXPECT_EQ(folder.ReadFile("c.scene"), saved);

    EXPECT_EQ(RunTool(folder.Path(), {"scene", "b.scene", "d.scn", "--compact"}).status, 0);
    EXPECT_EQ(RunTool(folder.Path(), {"scene", "d.scn", "e.scene"}).status, 0);
    EXPECT_EQ(folder.ReadFile("e.scene"), saved);
}

TEST(QuarnToolScene, AFileThatCannotBeLoadedOrSavedFailsWithOneLine) {
    test::TempFolder folder;
    folder.WriteFile("a.scene", HandWrittenScene);
    folder.WriteFile("old.scene", "version = 14\nobj1 {\n\tclass = \"Node\"\n}\n");
    folder.WriteFile("empty.scene", "version = 44\n");
    folder.WriteFile("two.scene", "version = 44\nobj1 {\n\tclass = \"Node\"\n}\n"
                                  "obj2 {\n\tclass = \"Node\"\n}\n");
    struct Case {
        std::vector<std::string> arguments;
        std::string error;
    };
    for (const Case& bad :
         {Case{{"scene", "missing.scene", "out.scene"}, "cannot open missing.scene"},
          Case{{"scene", "old.scene", "out.scene"},
               "cannot load old.scene: Scene old.scene has version 14; versions below 15 are not "
               "read"},
          Case{{"scene", "empty.scene", "out.scene"}, "cannot load empty.scene: it holds no node"},
          Case{{"scene", "two.scene", "out.scene"},
               "two.scene has 2 top-level nodes; a scene has one"},
          Case{{"scene", "a.scene", "no/such/folder/out.scene"},
               "cannot save no/such/folder/out.scene: Scene no/such/folder/out.scene cannot be "
               "written"}}) {
        ToolRun run = RunTool(folder.Path(), bad.arguments);
        EXPECT_EQ(run.status, 1) << bad.error;
        EXPECT_EQ(run.err, "quarn-tool: " + bad.error + "\n");
    }
    EXPECT_NE(access(folder.Join("out.scene").c_str(), F_OK), 0);
}

TEST(QuarnToolImage, ConvertsImagesToPngAndNamesWhyOneCannotBeDecoded) {
    test::TempFolder folder;
    std::ifstream bitmap(QUARN_TEST_DATA "/images/bits24.bmp", std::ios::binary);
    folder.WriteFile("Pic.BMP", std::string(std::istreambuf_iterator<char>(bitmap), {}));
    folder.WriteFile("broken.png", "not a png at all, but long enough to hold a header");
    folder.WriteFile("short.bmp", "BM");
    folder.WriteFile("notes.txt", "text");
    ToolRun run = RunTool(folder.Path(), {"image", "Pic.BMP", "out/a.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string png = folder.ReadFile("out/a.png");
    EXPECT_EQ(png.rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    // The PNG decodes to the same pixels, so it encodes to the same bytes again.
    EXPECT_EQ(RunTool(folder.Path(), {"image", "out/a.png", "b.png"}).status, 0);
    EXPECT_EQ(folder.ReadFile("b.png"), png);

    struct Case {
        std::string in;
        std::string error;
    };
    for (const Case& bad : {Case{"notes.txt", "cannot decode notes.txt: Unknown format"},
                            Case{"missing.png", "cannot decode missing.png: Invalid texture"},
                            Case{"broken.png", "cannot decode broken.png: Invalid texture (PNG "
                                               "error 28)"},
                            Case{"short.bmp", "cannot decode short.bmp: Invalid texture"}}) {
        ToolRun failed = RunTool(folder.Path(), {"image", bad.in, "c.png"});
        EXPECT_EQ(failed.status, 1) << bad.in;
        EXPECT_EQ(failed.err, "quarn-tool: " + bad.error + "\n");
    }
    EXPECT_NE(access(folder.Join("c.png").c_str(), F_OK), 0);
}

TEST(QuarnToolGlyphCache, WritesACacheTheFontReadsAndRefusesABadSize) {
    test::TempFolder folder;
    folder.WriteFile("char_set.txt", "AB\xC3\x86");
    ToolRun run = RunTool(folder.Path(), {"glyphcache", "arial", "10", "out/arial_10"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(folder.ReadFile("out/arial_10.png").rfind("\x89PNG\r\n\x1a\n", 0), 0u);
    const std::string table = folder.ReadFile("out/arial_10.dat");
    ASSERT_EQ(table.size(), 4112u); // no code from 256 up in the set
    float a[4];
    std::memcpy(a, &table[16 * 'A'], sizeof a);
    EXPECT_GT(a[2], a[0]);
    float c[4];
    std::memcpy(c, &table[16 * 'C'], sizeof c);
    EXPECT_EQ(c[2], 0.0f);

    ToolRun bad = RunTool(folder.Path(), {"glyphcache", "arial", "8pt", "x"});
    EXPECT_EQ(bad.status, 2);
    EXPECT_EQ(bad.err.rfind("quarn-tool: SIZE must be a whole number of points above 0", 0), 0u);
}

TEST(QuarnToolUsage, HelpListsEveryCommandOnStdout) {
    test::TempFolder folder;
    ToolRun run = RunTool(folder.Path(), {"help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind("usage: quarn-tool COMMAND", 0), 0u) << run.out;
    for (const char* line : {"\n  help ", "\n  cat VPATH ", "\n  settings FILE ", "\n  classes ",
                             "\n  scene IN OUT [--compact] ", "\n  image IN OUT.png ",
                             "\n  glyphcache FACE SIZE OUT "}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line;
    }
}

TEST(QuarnToolUsage, ABadCallPrintsTheReasonAndTheHelpAndExitsWith2) {
    test::TempFolder folder;
    std::string help = RunTool(folder.Path(), {"help"}).out;
    struct Case {
        std::vector<std::string> arguments;
        std::string reason;
    };
    for (const Case& bad :
         {Case{{}, "no command given"}, Case{{"frob"}, "unknown command \"frob\""},
          Case{{"cat"}, "usage: quarn-tool cat VPATH"},
          Case{{"settings", "a", "b"}, "usage: quarn-tool settings FILE"},
          Case{{"help", "x"}, "usage: quarn-tool help"},
          Case{{"classes", "x"}, "usage: quarn-tool classes"},
          Case{{"scene", "a.scene"}, "usage: quarn-tool scene IN OUT [--compact]"},
          Case{{"scene", "a", "b", "--fast"}, "usage: quarn-tool scene IN OUT [--compact]"}}) {
        ToolRun run = RunTool(folder.Path(), bad.arguments);
        EXPECT_EQ(run.status, 2) << bad.reason;
        EXPECT_EQ(run.out, "") << bad.reason;
        EXPECT_EQ(run.err, "quarn-tool: " + bad.reason + "\n\n" + help);
    }
}

} // namespace
} // namespace quarn
