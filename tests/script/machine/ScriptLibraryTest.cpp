#include "script/machine/ScriptLibrary.h"

#include "audio/AudioSystem.h"
#include "audio/SoundCaptureBuffer.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/FolderSpace.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/IdMap.h"
#include "core/object/NamedConstants.h"
#include "core/scene/CameraView.h"
#include "core/scene/EngineState.h"
#include "core/scene/SignalReceiver.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/TextArena.h"
#include "render/Camera.h"
#include "render/RenderObject.h"
#include "resources/Texture.h"
#include "script/machine/ScriptApp.h"
#include "script/nodes/DataBase.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/EventLog.h"
#include "tests/support/OpenWays.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace quarn {
namespace {

using test::ScriptRunTest;
using test::ScriptThing;

uint32_t F(float value) {
    return FloatToWord(value);
}
uint32_t I(int32_t value) {
    return static_cast<uint32_t>(value);
}
uint32_t T(const char* text) {
    return TextWordOf(PutTempString(text));
}
// Writes a file at an absolute path, making its folders.
void WriteFileAt(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

class ScriptLibraryTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        // As at start-up: the classes the signatures name exist first.
        Camera::RegisterClass();
        RegisterScriptLibrary();
    }
    void TearDown() override {
        RemoveScriptLibrary();
        CallLibrary(125, {0, 0});
        ScriptRunTest::TearDown();
    }

    static const MethodInfo* Function(int index) {
        return GetRegisteredFunction(GetScriptLibraryFirstIndex() + index);
    }
    // The result words of library function INDEX called with the argument words.
    static std::vector<uint32_t> CallLibrary(int index, const std::vector<uint32_t>& arguments) {
        const MethodInfo* function = Function(index);
        std::vector<uint32_t> block(1 + arguments.size() + 4, 0xDEADBEEFu);
        std::copy(arguments.begin(), arguments.end(), block.begin() + 1);
        function->Call(nullptr, block.data());
        return std::vector<uint32_t>(block.begin(), block.begin() + function->GetReturnWords());
    }
    static uint32_t Word(int index, const std::vector<uint32_t>& arguments) {
        return CallLibrary(index, arguments).at(0);
    }
    static std::string Text(int index, const std::vector<uint32_t>& arguments) {
        return LookupText(Word(index, arguments));
    }
    // Runs CODE, then marks the variable "after" with 5: whether the script went on.
    Script* RunCalling(const std::string& code, const char* name) {
        Script* script = MakeScript(
            "var \"after\" int\nstack 16\n" + code + "\npush 0\npush 5\nstore 1\nend\n", name);
        Call(script);
        return script;
    }
    static bool WentOn(Script* script) { return script->GetVariables()[0] == 5u; }
    static std::string Func(int index) {
        return "func " + std::to_string(GetScriptLibraryFirstIndex() + index);
    }
};

TEST_F(ScriptLibraryTest, RegistersTheFunctionsInOrderWithTheConstantBetween101And102) {
    ASSERT_GE(GetScriptLibraryFirstIndex(), 0);
    // Other tests of this program may have registered functions of their own after the library's.
    ASSERT_GE(GetRegisteredFunctionCount(),
              GetScriptLibraryFirstIndex() + ScriptLibraryFunctionCount);
    if (const MethodInfo* next =
            GetRegisteredFunction(GetScriptLibraryFirstIndex() + ScriptLibraryFunctionCount)) {
        EXPECT_EQ(std::string(next->GetName()).rfind("test", 0), 0u) << next->GetName();
    }
    std::string previous;
    for (int index = 0; index < ScriptLibraryFunctionCount; ++index) {
        const MethodInfo* function = Function(index);
        EXPECT_TRUE(function->IsBound()) << index;
        EXPECT_EQ(function->GetCallFlags(), 0u) << index;
        EXPECT_LT(previous, function->GetName()) << index;
        previous = function->GetName();
    }
    EXPECT_EQ(Function(69)->GetSignatureText(), Function(70)->GetSignatureText());
    EXPECT_EQ(Function(35)->GetSignatureText(), "(float3):float2");
    EXPECT_EQ(Function(164)->GetSignatureText(), "(float3, float3, int):float");
    const std::string constant = GetScriptLibraryConstantName();
    EXPECT_LT(std::string(Function(101)->GetName()), constant);
    EXPECT_LT(constant, std::string(Function(102)->GetName()));
    int32_t value = 0;
    EXPECT_TRUE(FindNamedConstant(constant.c_str(), &value));
    EXPECT_EQ(value, 1);
}

TEST_F(ScriptLibraryTest, NumbersFollowTheTable) {
    const float nan = std::nanf("");
    struct Case {
        int index;
        std::vector<uint32_t> arguments;
        std::vector<uint32_t> result;
    };
    const Case cases[] = {
        {0, {F(1), F(2)}, {F(2)}},
        {1, {F(1), F(2)}, {F(1)}},
        {2, {I(-3), I(4)}, {I(4)}},
        {3, {I(-3), I(4)}, {I(-3)}},
        {11, {I(-5)}, {I(5)}},
        {11, {I(INT_MIN)}, {I(INT_MIN)}},
        {14, {I(0)}, {0}},
        {14, {I(-7)}, {0}},
        {18, {F(2.5f)}, {F(3)}},
        {18, {F(-2.5f)}, {F(-2)}},
        {21, {F(0.0f)}, {F(1)}},
        {21, {F(-0.0f)}, {F(1)}},
        {21, {F(nan)}, {F(-1)}},
        {22, {F(5), F(10), F(0)}, {F(0)}},
        {22, {F(5), F(0), F(10)}, {F(5)}},
        {22, {F(-1), F(0), F(10)}, {F(0)}},
        {23, {F(2), F(4), F(0.5f)}, {F(3)}},
        {25, {F(-2.7f)}, {I(-2)}},
        {25, {F(nan)}, {I(INT_MIN)}},
        {26, {I(-3)}, {F(-3)}},
        {27, {T("  42abc")}, {42}},
        {27, {T("99999999999")}, {I(INT_MAX)}},
        {27, {T("-99999999999")}, {I(INT_MIN)}},
        {28, {T("1.5e1")}, {F(15)}},
        {17, {F(0.3f), I(0), F(0.5f)}, {F(0)}},
        {17, {F(0.3f), I(1), F(0.5f)}, {Word(16, {F(0.3f)})}},
        {33, {T("")}, {F(0), F(0), F(0)}},
        {33, {T("(1.5,2,-3)")}, {F(1.5f), F(2), F(-3)}},
        {33, {T("(1,2")}, {F(1), F(2), F(0)}},
        {34, {F(1), F(2)}, {F(1), F(2), F(0)}},
        {35, {F(1), F(2), F(3)}, {F(1), F(2)}},
        {102, {}, {1}},
        {133, {}, {0}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CallLibrary(c.index, c.arguments), c.result) << "function " << c.index;
    }
}

TEST_F(ScriptLibraryTest, RandomNumbersStayInTheirRanges) {
    int32_t highest = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto value = static_cast<int32_t>(Word(14, {10}));
        ASSERT_GE(value, 0);
        ASSERT_LT(value, 10);
        highest = std::max(highest, value);
        const float unit = WordToFloat(Word(15, {}));
        ASSERT_GE(unit, 0.0f);
        ASSERT_LE(unit, 1.0f);
    }
    EXPECT_EQ(highest, 9);
}

TEST_F(ScriptLibraryTest, TextsStayInsideTheirBytes) {
    EXPECT_EQ(Text(29, {I(-12)}), "-12");
    EXPECT_EQ(Text(30, {F(1.5f)}), "1.500000");
    EXPECT_EQ(Text(32, {F(1), F(2), F(3)}), "(1.000000,2.000000,3.000000)");
    EXPECT_EQ(Word(40, {T("hello")}), 5u);
    EXPECT_EQ(Word(41, {T("h\xE9"), 1}), 0xE9u);
    for (int32_t outside : {-1, 2, INT_MAX}) {
        EXPECT_EQ(Word(41, {T("ab"), I(outside)}), 0u) << outside;
    }
    const uint32_t word = T("abc");
    CallLibrary(42, {word, 1, 'X'});
    CallLibrary(42, {word, 3, 'Y'});
    CallLibrary(42, {word, I(-1), 'Z'});
    EXPECT_STREQ(LookupText(word), "aXc");
    EXPECT_EQ(Text(43, {0x141}), "A");
    EXPECT_EQ(I(Word(44, {T("abc"), T("x")})), I(-1));
    EXPECT_EQ(Word(44, {T("abc"), T("")}), 0u);
    EXPECT_EQ(Word(44, {T("abcbc"), T("bc")}), 1u);
    struct Cut {
        int32_t start;
        int32_t count;
        const char* expected;
    };
    for (const Cut& cut : {Cut{2, 3, "cde"}, Cut{2, 100, "cdef"}, Cut{6, 1, ""}, Cut{7, 1, ""},
                           Cut{-1, 2, ""}, Cut{2, -1, ""}, Cut{0, 0, ""}}) {
        EXPECT_EQ(Text(45, {T("abcdef"), I(cut.start), I(cut.count)}), cut.expected)
            << cut.start << " " << cut.count;
    }
}

TEST_F(ScriptLibraryTest, TheDataArrayKeepsEveryAccessInside) {
    EXPECT_EQ(Word(125, {4}), 0u);
    EXPECT_EQ(Word(134, {0}), 4u);
    for (uint32_t b = 0; b < 4; ++b) {
        EXPECT_EQ(Word(135, {7, b}), 0u);
    }
    CallLibrary(127, {0, 3, 11, 12});
    EXPECT_EQ(Word(135, {7, 3}), 0u);
    CallLibrary(127, {0, 2, 11, 12});
    EXPECT_EQ(CallLibrary(136, {0, 2}), (std::vector<uint32_t>{11, 12}));
    for (int32_t b : {-1, 4, INT_MAX}) {
        CallLibrary(126, {0, I(b), 99});
        CallLibrary(130, {0, I(b), 1, 2, 3});
        EXPECT_EQ(Word(135, {7, I(b)}), 7u) << b;
        EXPECT_EQ(CallLibrary(136, {7, I(b)}), (std::vector<uint32_t>{7, I(b)})) << b;
        EXPECT_EQ(Word(140, {7, I(b)}), 0u) << b;
        EXPECT_EQ(Text(141, {7, I(b)}), "") << b;
    }
    CallLibrary(126, {0, 3, 99});
    EXPECT_EQ(Word(135, {7, 3}), 99u);
    // The last index holds one word: a pair or triple starting there is out of range.
    EXPECT_EQ(CallLibrary(136, {7, 3}), (std::vector<uint32_t>{7, 3}));
    EXPECT_EQ(CallLibrary(139, {7, 3}), (std::vector<uint32_t>{7, 3, 0}));
    CallLibrary(130, {0, 1, F(1), F(2), F(3)});
    EXPECT_EQ(CallLibrary(139, {0, 1}), (std::vector<uint32_t>{F(1), F(2), F(3)}));

    ScriptThing* thing = Make<ScriptThing>();
    CallLibrary(131, {0, 0, thing->GetId()});
    EXPECT_EQ(Word(140, {0, 0}), thing->GetId());
    CallLibrary(132, {0, 0, T("kept")});
    EXPECT_EQ(Text(141, {0, 0}), "kept");

    CallLibrary(125, {I(-1)});
    EXPECT_EQ(Word(134, {0}), 4u);
    CallLibrary(125, {16 * 1024 * 1024 + 1});
    EXPECT_EQ(Word(134, {0}), 4u);
    ASSERT_FALSE(dialogs_.Dialogs().empty());
    EXPECT_EQ(dialogs_.Dialogs().back().title, "Validity check");
}

class ScriptLibraryFilesTest : public test::WithOpenWays<ScriptLibraryTest> {};
QUARN_BOTH_OPEN_WAYS(ScriptLibraryFilesTest);

TEST_P(ScriptLibraryFilesTest, FileHandlesReadListedFilesAndNothingOnceClosed) {
    // A folder of the game: scripts reach nothing outside it but user://.
    const std::string listed = temp_.Join("listed");
    temp_.WriteFile("listed/b.txt", "xy");
    temp_.WriteFile("listed/a.txt", "");
    EXPECT_EQ(Word(95, {0}), 0u);
    EXPECT_EQ(Text(96, {0, 0}), "");
    EXPECT_EQ(Word(94, {T(listed.c_str())}), 1u);
    ASSERT_EQ(Word(95, {0}), 2u);
    EXPECT_EQ(Text(96, {0, 0}), listed + "/a.txt");
    EXPECT_EQ(Text(96, {0, 1}), listed + "/b.txt");
    EXPECT_EQ(Text(96, {0, 2}), "");
    CallLibrary(101, {0, 0});

    const uint32_t handle = Word(97, {T((listed + "/b.txt").c_str()), 0});
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(Word(99, {handle}), 2u);
    EXPECT_EQ(Word(100, {handle}), uint32_t('x'));
    EXPECT_EQ(Word(100, {handle}), uint32_t('y'));
    EXPECT_EQ(I(Word(100, {handle})), I(-1));
    CallLibrary(101, {handle, 0});
    CallLibrary(98, {handle});
    CallLibrary(98, {handle});
    for (uint32_t stale : {handle, 0u, 12345u, handle + 1}) {
        EXPECT_EQ(Word(99, {stale}), 0u) << stale;
        EXPECT_EQ(I(Word(100, {stale})), I(-1)) << stale;
    }
    EXPECT_EQ(Word(97, {T((listed + "/missing").c_str()), 0}), 0u);
    EXPECT_EQ(Word(89, {T((listed + "/a.txt").c_str())}), 1u);
    // A missing file is an answer; a pipe, which would never end, is refused with a line.
    EXPECT_TRUE(log_.Lines().empty());
    ASSERT_EQ(mkfifo((listed + "/pipe").c_str(), 0644), 0);
    EXPECT_EQ(Word(97, {T("listed/pipe"), 0}), 0u);
    EXPECT_EQ(Word(97, {T((listed + "/pipe").c_str()), OpenNative}), 0u);
    ASSERT_EQ(log_.Lines().size(), 2u);
    EXPECT_EQ(log_.Lines()[0].text,
              std::string("OpenRead \"listed/pipe\" failed: ") + NotAFileReason);
    EXPECT_EQ(log_.Lines()[1].text, "OpenRead \"" + listed + "/pipe\" failed: " + NotAFileReason);

    // Shutting scripting down closes what scripts left open.
    const uint32_t left = Word(97, {T((listed + "/b.txt").c_str()), 0});
    ASSERT_EQ(Word(99, {left}), 2u);
    RemoveScriptLibrary();
    EXPECT_EQ(Word(99, {left}), 0u);
    RegisterScriptLibrary();
}

// Every library function that takes a path, at each kind of place a script may name: only the
// game's folder and user:// are reached, and each refusal logs one line.
TEST_F(ScriptLibraryTest, FileFunctionsReachOnlyTheGameAndTheUserFolder) {
    namespace fs = std::filesystem;
    test::TempFolder user;
    test::TempFolder outside;
    files_.SetUserFolder((user.Path() + "/").c_str());
    const std::string away = fs::path(outside.Path()).filename().string();
    const struct {
        const char* place;
        std::string prefix;  // what the script writes before the file name
        std::string reached; // the folder that prefix leads to
        bool allowed;
    } places[] = {
        {"inside", "", temp_.Path(), true},
        {"climbing out", "../" + away + "/", outside.Path(), false},
        {"absolute", outside.Path() + "/", outside.Path(), false},
        {"user://", "user://", user.Path(), true},
        {"out of user://", "user://../" + away + "/", outside.Path(), false},
    };
    ScriptThing* node = Make<ScriptThing>();
    const auto exists = [](const std::string& path) { return fs::exists(path); };
    const struct {
        const char* function;
        bool native; // the function takes the file system's native path
        // Prepares the target, calls the function with `path` and says whether it took effect.
        std::function<bool(const std::string& path, const std::string& target)> run;
    } rows[] = {
        {"PathExists", false,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target, "x");
             return Word(89, {T(path.c_str())}) == 1u;
         }},
        {"RemoveFile", false,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target, "x");
             CallLibrary(90, {T(path.c_str())});
             return !exists(target);
         }},
        {"CreateFile", false,
         [&](const std::string& path, const std::string& target) {
             CallLibrary(91, {T(path.c_str())});
             return exists(target);
         }},
        {"CopyFile", false,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target, "x");
             fs::remove(temp_.Join("copy"));
             CallLibrary(92, {T(path.c_str()), T("copy")});
             return exists(temp_.Join("copy"));
         }},
        {"CopyFile", false,
         [&](const std::string& path, const std::string& target) {
             temp_.WriteFile("source", "x");
             CallLibrary(92, {T("source"), T(path.c_str())});
             return exists(target);
         }},
        {"MakeFolder", false,
         [&](const std::string& path, const std::string& target) {
             CallLibrary(93, {T(path.c_str())});
             return fs::is_directory(target);
         }},
        {"OpenCurrent", true,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target + "/entry", "x");
             return Word(94, {T(path.c_str())}) == 1u && Word(95, {0}) == 1u;
         }},
        {"OpenRead", false,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target, "x");
             const uint32_t handle = Word(97, {T(path.c_str()), 0});
             CallLibrary(98, {handle});
             return handle != 0u;
         }},
        {"OpenRead", true,
         [&](const std::string& path, const std::string& target) {
             WriteFileAt(target, "x");
             const uint32_t handle = Word(97, {T(path.c_str()), OpenNative});
             CallLibrary(98, {handle});
             return handle != 0u;
         }},
        {"LoadScene", false,
         [&](const std::string& path, const std::string& target) {
             SaveSceneFile(target.c_str(), *node, 0, SceneWriteRoot);
             Entity* loaded = LookupEntity(Word(71, {T(path.c_str()), 0, 0}));
             if (loaded) {
                 made_.push_back(loaded->GetSerial());
             }
             return loaded != nullptr;
         }},
        {"SaveScene", false,
         [&](const std::string& path, const std::string& target) {
             CallLibrary(72, {T(path.c_str()), node->GetId(), 1, 0});
             return exists(target);
         }},
    };
    for (const auto& row : rows) {
        for (const auto& place : places) {
            const std::string target = place.reached + "/f";
            fs::remove_all(target);
            std::string path = place.prefix + "f";
            PathString native;
            if (row.native) {
                ASSERT_TRUE(files_.GetNativePath(native, path.c_str()));
                path = native.Text();
            }
            log_.Clear();
            EXPECT_EQ(row.run(path, target), place.allowed) << row.function << ", " << place.place;
            std::vector<std::string> refusals;
            for (const auto& line : log_.Lines()) {
                if (line.text.find("refused") != std::string::npos) {
                    refusals.push_back(line.text);
                }
            }
            ASSERT_EQ(refusals.size(), place.allowed ? 0u : 1u)
                << row.function << ", " << place.place;
            if (!place.allowed) {
                EXPECT_EQ(refusals[0].rfind(row.function, 0), 0u) << refusals[0];
                EXPECT_NE(refusals[0].find("\"" + path + "\""), std::string::npos) << refusals[0];
            }
            fs::remove_all(target);
        }
    }
}

// A save that fails says why, in the system's words: beneath a file, and in a read-only folder
// (except for root, whom no mode bit stops).
TEST_F(ScriptLibraryTest, AFailedSaveNamesTheSystemsReason) {
    namespace fs = std::filesystem;
    ScriptThing* node = Make<ScriptThing>();
    temp_.WriteFile("plain", "x");
    temp_.WriteFile("source", "x");
    fs::create_directory(temp_.Join("locked"));
    fs::permissions(temp_.Join("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const struct {
        const char* folder;
        const char* reason;
    } places[] = {{"plain", "Not a directory"}, {"locked", "Permission denied"}};
    const struct {
        const char* function;
        // Saves into the path; the log line that says why it failed.
        std::function<std::string(const std::string& path, const std::string& reason)> save;
    } rows[] = {
        {"CreateFile",
         [&](const std::string& path, const std::string& reason) {
             CallLibrary(91, {T(path.c_str())});
             return "CreateFile \"" + path + "\" failed: " + reason;
         }},
        {"CopyFile",
         [&](const std::string& path, const std::string& reason) {
             CallLibrary(92, {T("source"), T(path.c_str())});
             return "CopyFile \"" + path + "\" failed: " + reason;
         }},
        {"MakeFolder",
         [&](const std::string& path, const std::string& reason) {
             CallLibrary(93, {T(path.c_str())});
             return "MakeFolder \"" + path + "\" failed: " + reason;
         }},
        {"SaveScene",
         [&](const std::string& path, const std::string& reason) {
             CallLibrary(72, {T(path.c_str()), node->GetId(), 1, 0});
             return "Scene " + path + " cannot be written: " + reason;
         }},
        {"SetSetting",
         [&](const std::string& path, const std::string& reason) {
             // The game's settings file, "init.txt" in its user folder.
             files_.SetUserFolder((temp_.Join(path) + "/").c_str());
             CallLibrary(114, {T("name"), T("ann")});
             return "Setting \"name\" is not saved to " + temp_.Join(path) + "/init.txt: " + reason;
         }},
    };
    for (const auto& place : places) {
        if (place.folder == std::string("locked") && geteuid() == 0) {
            continue;
        }
        for (const auto& row : rows) {
            log_.Clear();
            // As after a file written whole: the log tells a failed write once until then.
            NoteWriteSucceeded();
            const std::string line = row.save(std::string(place.folder) + "/f", place.reason);
            EXPECT_TRUE(log_.Contains(line)) << row.function << ": " << line;
            EXPECT_FALSE(fs::exists(temp_.Join(place.folder) + "/f")) << row.function;
        }
    }
    fs::permissions(temp_.Join("locked"), fs::perms::owner_all);
}

// A game's own folder holds at most its cap: a copy past it is the script's runtime error
// naming the cap and leaves nothing of the file; a file replaced, or removed, gives its room
// back. The log says a failed write once until a write succeeds.
TEST_F(ScriptLibraryTest, TheUserFolderHoldsAtMostItsCap) {
    namespace fs = std::filesystem;
    test::TempFolder user;
    const std::string quarter(256 * 1024, 'q');
    user.WriteFile("kept.bin", quarter + quarter);
    files_.SetUserFolder((user.Path() + "/").c_str());
    SetUserFolderCap(1 << 20);
    temp_.WriteFile("big.bin", quarter + quarter);
    temp_.WriteFile("small.bin", "s");
    const auto copy = [](const char* from, const char* to) {
        return "text \"" + std::string(from) + "\"\ntext \"" + to + "\"\n" + Func(92) + "\n";
    };
    const std::string cap = "user:// may hold at most 1 MiB";

    // 512 KiB kept, 512 KiB copied: full. The next copy is refused, the one after never runs.
    Script* filling = RunCalling(copy("big.bin", "user://a.bin") + copy("big.bin", "user://b.bin") +
                                     copy("small.bin", "user://c.bin"),
                                 "filling");
    EXPECT_FALSE(WentOn(filling));
    EXPECT_EQ(LastError(), cap);
    EXPECT_EQ(user.ReadFile("a.bin").size(), quarter.size() * 2);
    // A file replaced by one of its size fits.
    EXPECT_TRUE(WentOn(RunCalling(copy("big.bin", "user://a.bin"), "replacing")));

    log_.Clear();
    NoteWriteSucceeded();
    for (int tries = 0; tries < 3; ++tries) {
        CallLibrary(92, {T("big.bin"), T("user://b.bin")});
    }
    CallLibrary(92, {T("small.bin"), T("user://kept.bin")}); // a write that succeeds
    CallLibrary(92, {T("big.bin"), T("user://b.bin")});
    std::vector<std::string> failures;
    for (const auto& line : log_.Lines()) {
        failures.push_back(line.text);
    }
    const std::string failed = "CopyFile \"user://b.bin\" failed: " + cap;
    EXPECT_EQ(failures, (std::vector<std::string>{failed, failed}));
    // Only the files written whole are there: no temporary outlives a refused copy.
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(user.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.bin", "kept.bin"}));
    // The room of a removed file is the game's again.
    CallLibrary(90, {T("user://a.bin")});
    CallLibrary(92, {T("big.bin"), T("user://b.bin")});
    EXPECT_TRUE(fs::exists(user.Join("b.bin")));
    SetUserFolderCap(0);
}

// A scene shipped inside the game that names a table outside it: loaded by a script, its node
// reads nothing, and the log says why.
TEST_F(ScriptLibraryTest, AShippedSceneLoadedByAScriptReadsNoTableOutsideTheGame) {
    test::TempFolder outside;
    outside.WriteFile("table.csv", "\"name\"\n\"Ann\"\n");
    const std::string away =
        "../" + std::filesystem::path(outside.Path()).filename().string() + "/table.csv";
    DataBase* shipped = Make<DataBase>();
    shipped->SetDataPath(away.c_str());
    ASSERT_GT(shipped->GetRecordCount(), 0);
    ASSERT_TRUE(SaveSceneFile("level.scene", *shipped, 0, SceneWriteRoot));
    shipped->Delete();
    log_.Clear();
    SetScriptRunning(true); // as while a script's code runs
    Entity* loaded = LookupEntity(Word(71, {T("level.scene"), 0, 0}));
    SetScriptRunning(false);
    ASSERT_NE(dynamic_cast<DataBase*>(loaded), nullptr);
    made_.push_back(loaded->GetSerial());
    EXPECT_EQ(static_cast<DataBase*>(loaded)->GetRecordCount(), 0);
    EXPECT_TRUE(log_.Contains(std::string("/table.csv\" (") + OutsideGameReason + ")"));
}

// A game's settings are its own: its scripts neither read nor write the engine's, whose
// recent files once let a game choose the scene the editor opened next.
TEST_F(ScriptLibraryTest, AGamesSettingsAreItsOwnAndApartFromTheEngines) {
    test::TempFolder engine;
    const std::string engineText = "recent_file1 = \"level.scene\"\nsecret = \"engine\"\n";
    engine.WriteFile("init.txt", engineText);
    SettingsFile& user = GetUserSettings();
    ASSERT_TRUE(user.Load(engine.Join("init.txt").c_str(), false));
    std::filesystem::create_directory(temp_.Join("user"));
    files_.SetUserFolder(temp_.Join("user/").c_str());
    CallLibrary(114, {T("name"), T("ann")});
    CallLibrary(114, {T("recent_file1"), T("../outside.scene")});
    EXPECT_EQ(Text(113, {T("name")}), "ann");
    EXPECT_EQ(Text(113, {T("secret")}), "");
    EXPECT_EQ(Text(113, {T("missing")}), "");
    EXPECT_EQ(temp_.ReadFile("user/init.txt"),
              "name = \"ann\"\nrecent_file1 = \"../outside.scene\"\n");
    EXPECT_EQ(engine.ReadFile("init.txt"), engineText);
    EXPECT_STREQ(user.GetString("recent_file1"), "level.scene");
    EXPECT_FALSE(user.HasKey("name"));
    user.Clear();
    user.SetPath("");
}

// What the editor changed in memory reaches the engine's file when a game's script saves a
// setting, as it always did, holding the engine's entries alone; with nothing changed since,
// a later save leaves the file alone.
TEST_F(ScriptLibraryTest, AGamesSaveWritesTheEnginesOwnChangesOnlyOnce) {
    test::TempFolder engine;
    engine.WriteFile("init.txt", "recent_file1 = \"level.scene\"\n");
    SettingsFile& user = GetUserSettings();
    ASSERT_TRUE(user.Load(engine.Join("init.txt").c_str(), false));
    std::filesystem::create_directory(temp_.Join("user"));
    files_.SetUserFolder(temp_.Join("user/").c_str());
    CallLibrary(114, {T("name"), T("ann")});
    EXPECT_EQ(engine.ReadFile("init.txt"), "recent_file1 = \"level.scene\"\n");
    user.SetInt2("editor_windowpos", 10, 20);
    CallLibrary(114, {T("name"), T("bob")});
    EXPECT_EQ(engine.ReadFile("init.txt"),
              "editor_windowpos = \"10,20\"\nrecent_file1 = \"level.scene\"\n");
    std::filesystem::remove(engine.Join("init.txt"));
    CallLibrary(114, {T("name"), T("cy")});
    EXPECT_FALSE(std::filesystem::exists(engine.Join("init.txt")));
    EXPECT_EQ(temp_.ReadFile("user/init.txt"), "name = \"cy\"\n");
    user.Clear();
    user.SetPath("");
}

// A refused setting ends the script with an error naming the cap, and the game's file stays the
// last whole one.
TEST_F(ScriptLibraryTest, ASettingPastACapIsARuntimeErrorAndTheFileStaysAsItWas) {
    std::string full;
    for (int line = 0; line < 246; ++line) {
        full.append("k").append(std::to_string(1000 + line));
        full.append(" = \"" + std::string(255, 'v') + "\"\n");
    }
    temp_.WriteFile("user/init.txt", full);
    files_.SetUserFolder(temp_.Join("user/").c_str());
    const struct {
        const char* key;
        std::string value;
        const char* message;
    } cases[] = {
        {"k1000", std::string(256, 'v'),
         "SetSetting: a value of 256 bytes is longer than the 255 bytes a setting may hold"},
        {"k2000", std::string(255, 'v'),
         "SetSetting: the game's settings would take 65702 bytes, more than the 65536 bytes "
         "their file may hold"},
        {"k1000", "a \"quote\"",
         "SetSetting: the value of \"k1000\" cannot be kept: a value holds no quote or line "
         "break"},
        {"k1000_and_then_enough_to_pass_the_63_bytes_a_key_of_the_file_holds", "v",
         "SetSetting: a key of 66 bytes is longer than the 63 bytes a setting's key may have"},
    };
    for (const auto& c : cases) {
        Script* script = MakeScript(std::string("stack 16\ntext \"") + c.key +
                                        "\"\npush -1\nloadlocal 1\n" + Func(114) + "\nend\n",
                                    c.key);
        EXPECT_FALSE(Call(script, {TextWordOf(PutTempString(c.value))}));
        EXPECT_EQ(LastError(), c.message);
        EXPECT_EQ(temp_.ReadFile("user/init.txt"), full);
        EXPECT_EQ(Text(113, {T("k1000")}), std::string(255, 'v'));
        script->Delete();
    }
}

// Each save of a change is charged a full file's worth of steps, whatever its size, and so is
// each that fails (a game may put a folder where its file goes): a loop of changes, each synced
// to the disk or tried, meets the limit of a million after 14 saves that fail (each also looks
// at its file and folder), and after 7 that write the file, which costs what every file written
// costs besides.
TEST_F(ScriptLibraryTest, ALoopOfChangedSettingsIsStoppedByTheStepLimit) {
    for (const bool failing : {false, true}) {
        test::TempFolder user;
        if (failing) {
            std::filesystem::create_directory(user.Join("init.txt"));
        }
        files_.SetUserFolder((user.Path() + "/").c_str());
        ScriptStepLimit = 1000000;
        Script* script = MakeScript(
            "var \"rounds\" int\nstack 16\nloop:\ntext \"k\"\npush 0\nload 1\n" + Func(29) + "\n" +
                Func(114) +
                "\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\njump loop\n",
            failing ? "failing" : "changes");
        EXPECT_FALSE(Call(script));
        EXPECT_EQ(LastError(), "Infinite loop detected (100million'th instruction reached)");
        EXPECT_EQ(script->GetVariables()[0], failing ? 14u : 7u) << failing;
        if (!failing) {
            EXPECT_EQ(user.ReadFile("init.txt"), "k = \"7\"\n");
        }
        script->Delete();
    }
}

// The editor offers its script debugger; the player, which has none, and the editor's
// standalone play, which shows none, offer what they can carry out, going on first: a run
// without a display answers with the first button.
TEST_F(ScriptLibraryTest, TheHookOffersTheChoicesTheProgramCanCarryOut) {
    const std::string code = "push 0\npush 20000000\n" + Func(125) + "\ndrop 1";
    enum Program { Editor, StandalonePlay, Player };
    struct Case {
        Program program;
        int answer;
        bool goesOn;
        int state;
    };
    const Case cases[] = {
        {Editor, 3, true, ScriptReady},         {Editor, 1, true, ScriptReady},
        {Editor, 2, false, ScriptReady},        {Editor, 0, true, ScriptDebug},
        {StandalonePlay, 0, true, ScriptReady}, {StandalonePlay, 1, false, ScriptReady},
        {Player, 0, true, ScriptReady},         {Player, 1, false, ScriptReady},
    };
    const test::ScopedValue<bool> editorBefore(EditorRunning, false);
    for (const Case& c : cases) {
        EditorRunning = c.program != Player;
        std::optional<test::ScopedScriptDebugger> debugger;
        if (EditorRunning) {
            debugger.emplace(c.program == Editor);
        }
        dialogs_.Answer(c.answer);
        Script* script = RunCalling(
            code, ("hook" + std::to_string(c.program) + std::to_string(c.answer)).c_str());
        ASSERT_FALSE(dialogs_.Dialogs().empty());
        const auto& dialog = dialogs_.Dialogs().back();
        EXPECT_EQ(dialog.title, "Invalid parameter during script execution");
        EXPECT_EQ(dialog.buttons, c.program == Editor
                                      ? "Debug script#Debug c++#Terminate script#Ignore"
                                      : "Ignore#Terminate script");
        EXPECT_NE(dialog.text.find("\" Line "), std::string::npos) << dialog.text;
        EXPECT_NE(dialog.text.find("larger than the"), std::string::npos) << dialog.text;
        EXPECT_EQ(dialog.text.substr(dialog.text.size() - 2), "\n.");
        // Ignored, the body went on with the size it guarded: nothing changed.
        EXPECT_EQ(Word(134, {0}), 0u);
        EXPECT_EQ(WentOn(script), c.goesOn) << c.program << c.answer;
        if (c.goesOn) {
            EXPECT_EQ(script->GetRunState(), c.state) << c.program << c.answer;
        }
    }
    // Outside a script the plain box reports it.
    CallLibrary(125, {20000000});
    EXPECT_EQ(dialogs_.Dialogs().back().title, "Validity check");
}

// A script the editor's box paused for its debugger takes each later event whole: with two
// witnesses on a receiver, the second delivery used to run one line and leave its call for the
// next one to return into, which ended the program with "Invalid command".
TEST_F(ScriptLibraryTest, AScriptPausedForTheDebuggerTakesEachLaterEventWhole) {
    const test::ScopedValue<bool> editor(EditorRunning, true);
    const test::ScopedScriptDebugger debugger;
    Script* script = MakeScript(
        "var \"count\" int\nstack 32\nfunction \"hit\" (entity, entity, float) at=@hit port\n"
        "hit:\nline\npush 0\npush 20000000\n" +
            Func(125) +
            "\ndrop 1\nline\npush 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\n"
            "store 1\nline\nreturn 3 0\n",
        "witnessed");
    auto* receiver = Make<SignalReceiver>();
    receiver->SetSignalName("ring");
    receiver->SetPortValue(0, test::RefTo(script));
    receiver->SetPortValue(1, test::RefTo(script));
    dialogs_.Answer(0); // Debug script
    for (int rings = 1; rings <= 3; ++rings) {
        EventRecord event;
        EXPECT_EQ(SignalReceiver::Trigger("ring", event), 1);
        EXPECT_EQ(script->GetVariables()[0], uint32_t(2 * rings));
        EXPECT_TRUE(script->GetContext()->Frames().empty());
    }
    EXPECT_EQ(script->GetRunState(), ScriptDebug);
    for (const auto& dialog : dialogs_.Dialogs()) {
        EXPECT_EQ(dialog.title, "Invalid parameter during script execution") << dialog.text;
    }
}

TEST_F(ScriptLibraryTest, AFailedAssertionAsksToTerminate) {
    CallLibrary(38, {0, T("outside")});
    EXPECT_EQ(dialogs_.Dialogs().back().text, "<unknown script and address>");
    EXPECT_EQ(dialogs_.Dialogs().back().title, "Assertion failed");
    const size_t before = dialogs_.Dialogs().size();
    CallLibrary(38, {1, T("fine")});
    EXPECT_EQ(dialogs_.Dialogs().size(), before);

    dialogs_.Answer(0); // Yes
    Script* script = RunCalling("push 0\ntext \"broken\"\n" + Func(38), "assert");
    const auto& dialog = dialogs_.Dialogs().back();
    EXPECT_EQ(dialog.title, "Assertion failed");
    EXPECT_EQ(dialog.type, 20u);
    EXPECT_EQ(dialog.text.substr(0, 8), "Script \"");
    EXPECT_NE(dialog.text.find("\nbroken\nTerminate script?"), std::string::npos) << dialog.text;
    EXPECT_FALSE(WentOn(script));
    dialogs_.Answer(1); // No
    EXPECT_TRUE(WentOn(RunCalling("push 0\ntext \"broken\"\n" + Func(38), "assertno")));
}

TEST_F(ScriptLibraryTest, NodesAreMadeCopiedAndDeletedById) {
    EXPECT_EQ(Word(68, {T("NoSuchClass")}), 0u);
    const uint32_t made = Word(68, {T("ScriptTestThing")});
    ASSERT_NE(made, 0u);
    auto* thing = dynamic_cast<ScriptThing*>(LookupEntity(made));
    ASSERT_NE(thing, nullptr);
    made_.push_back(thing->GetSerial());
    // Told before it moves to its id.
    EXPECT_EQ(thing->idWhenCreated, 0);
    ScriptThing* child = Make<ScriptThing>();
    child->AttachTo(thing);
    child->value = 3;

    for (int index : {69, 70}) {
        const uint32_t copy = Word(index, {made});
        auto* copied = dynamic_cast<ScriptThing*>(LookupEntity(copy));
        ASSERT_NE(copied, nullptr) << index;
        made_.push_back(copied->GetSerial());
        ASSERT_NE(copied->GetFirstChild(), nullptr);
        EXPECT_EQ(static_cast<ScriptThing*>(copied->GetFirstChild())->value, 3);
    }
    EXPECT_EQ(Word(69, {0}), 0u);
    EXPECT_EQ(Word(86, {made}), made);
    EXPECT_EQ(Word(87, {made}), made);
    EXPECT_EQ(Word(149, {made}), 1u);

    const uint32_t childId = child->GetId();
    CallLibrary(82, {childId});
    EXPECT_EQ(LookupEntity(childId), nullptr);
    EXPECT_EQ(Word(149, {childId}), 0u);
    EXPECT_EQ(Word(87, {childId}), 0u);
    CallLibrary(82, {childId});
    CallLibrary(82, {0});
}

// The part is one tree, the node with what lies below it, whatever the script asks of the root:
// it loads back whole and alone, the loader noting nothing. Left out, the root left its
// children as top-level objects naming a parent the file lacked.
TEST_F(ScriptLibraryTest, AScenePartSavedByAScriptIsOneTreeThatLoadsBackUnderAParent) {
    ScriptThing* root = Make<ScriptThing>();
    ScriptThing* child = Make<ScriptThing>();
    child->AttachTo(root);
    child->value = 9;
    for (int grandchild = 0; grandchild < 2; ++grandchild) {
        ScriptThing* below = Make<ScriptThing>();
        below->AttachAsLast(child);
        below->value = 10 + grandchild;
    }
    ScriptThing* parent = Make<ScriptThing>();
    for (const uint32_t withRoot : {1u, 0u}) {
        const std::string path = temp_.Join("part" + std::to_string(withRoot) + ".scene");
        CallLibrary(72, {T(path.c_str()), child->GetId(), withRoot, 0});
        ASSERT_EQ(Word(89, {T(path.c_str())}), 1u);
        log_.Clear();
        const uint32_t loaded = Word(71, {T(path.c_str()), parent->GetId(), 0});
        EXPECT_TRUE(log_.Lines().empty()) << log_.Lines()[0].text;
        ASSERT_NE(loaded, 0u);
        auto* copy = dynamic_cast<ScriptThing*>(LookupEntity(loaded));
        ASSERT_NE(copy, nullptr);
        made_.push_back(copy->GetSerial());
        EXPECT_EQ(copy->value, 9);
        EXPECT_EQ(copy->GetParent(), parent);
        ASSERT_NE(copy->GetFirstChild(), nullptr);
        EXPECT_EQ(static_cast<ScriptThing*>(copy->GetFirstChild())->value, 10);
        ASSERT_NE(copy->GetLastChild(), copy->GetFirstChild());
        EXPECT_EQ(static_cast<ScriptThing*>(copy->GetLastChild())->value, 11);
        std::vector<Node*> roots;
        Node* again =
            LoadSceneFile(path.c_str(), 0, SceneKeepUnmappedIds, nullptr, &roots, nullptr);
        EXPECT_EQ(roots.size(), 1u) << withRoot;
        EXPECT_TRUE(log_.Lines().empty()) << log_.Lines()[0].text;
        for (Node* top : roots) {
            made_.push_back(top->GetSerial());
        }
        EXPECT_NE(again, nullptr);
    }
    EXPECT_EQ(Word(71, {T(temp_.Join("missing.scene").c_str()), parent->GetId(), 0}), 0u);
    CallLibrary(72, {T(temp_.Join("none.scene").c_str()), 0, 0, 0});
    EXPECT_EQ(Word(89, {T(temp_.Join("none.scene").c_str())}), 0u);
}

// A compact file loads by its name, as the editor and the tools load it: a scene's ".scn" and a
// branch's ".bscn", in any letter case; and a script's save under such a name writes the
// compact form, scrambled or not, so that its load reads it back.
TEST_F(ScriptLibraryTest, LoadSceneReadsACompactFileByItsName) {
    ScriptThing* root = Make<ScriptThing>();
    root->value = 7;
    for (const char* name : {"part.scn", "part.BSCN"}) {
        for (const uint32_t scrambled : {0u, 1u}) {
            const std::string path = temp_.Join(name);
            CallLibrary(72, {T(path.c_str()), root->GetId(), 0, scrambled});
            auto* copy = dynamic_cast<ScriptThing*>(
                LookupEntity(Word(71, {T(path.c_str()), 0, scrambled})));
            ASSERT_NE(copy, nullptr) << name << " " << scrambled;
            made_.push_back(copy->GetSerial());
            EXPECT_EQ(copy->value, 7);
        }
    }
}

TEST_F(ScriptLibraryTest, PrintingLogsAndWritesALine) {
    test::CapturingLogSink log;
    testing::internal::CaptureStdout();
    CallLibrary(36, {T("hello there")});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "hello there\n");
    ASSERT_FALSE(log.Lines().empty());
    EXPECT_EQ(log.Lines().back().channel, "script");
    EXPECT_TRUE(log.Contains("hello there"));
}

TEST_F(ScriptLibraryTest, AScriptDeletingItsOwnNodeEndsCleanly) {
    Script* script = MakeScript("stack 16\nself\n" + Func(82) + "\npush 1\nend\n", "selfdelete");
    const uint64_t serial = script->GetSerial();
    Call(script);
    EXPECT_EQ(Entity::FindBySerial(serial), nullptr);
}

// Deletes the node after the one it is told about, as a script's method may.
class ScriptWalker : public test::TestClass<ScriptWalker, Node> {
public:
    static constexpr const char* Name = "ScriptTestWalker";
    static void Declare(ClassInfo& info) {
        info.AddMethod("visit", "(Entity)", BindMethod<&ScriptWalker::Visit>(), MethodScript);
    }
    void Visit(Entity* entity) {
        auto* node = dynamic_cast<Node*>(entity);
        visited.push_back(node ? node->GetId() : 0);
        if (node && node->GetNext()) {
            node->GetNext()->Delete();
        }
    }
    std::vector<uint32_t> visited;
};

TEST_F(ScriptLibraryTest, TheClassWalkSurvivesAMethodDeletingWalkedNodes) {
    ScriptWalker* walker = Make<ScriptWalker>();
    ScriptThing* root = Make<ScriptThing>();
    std::vector<ScriptThing*> children;
    for (int i = 0; i < 3; ++i) {
        children.push_back(Make<ScriptThing>());
        children.back()->AttachAsLast(root);
    }
    const uint32_t second = children[1]->GetId();
    CallLibrary(85, {root->GetId(), T("ScriptTestThing"), walker->GetId(), T("visit")});
    EXPECT_EQ(walker->visited,
              (std::vector<uint32_t>{root->GetId(), children[0]->GetId(), children[2]->GetId()}));
    EXPECT_EQ(LookupEntity(second), nullptr);
    CallLibrary(85, {root->GetId(), T("NoSuchClass"), walker->GetId(), T("visit")});
    EXPECT_EQ(walker->visited.size(), 3u);

    dialogs_.Answer(3);
    CallLibrary(77, {0, T("visit")});
    EXPECT_EQ(walker->visited.size(), 3u);
    CallLibrary(77, {walker->GetId(), T("visit")});
    EXPECT_EQ(walker->visited.size(), 4u);
}

TEST_F(ScriptLibraryTest, TheEntryDialogGivesTheTextOrTheInitialOne) {
    dialogs_.AnswerText(std::string("typed\r\n") + std::string(300, 'x'));
    const std::string entered = Text(119, {10, 20, T("Name"), T("start")});
    EXPECT_EQ(entered.size(), 255u);
    EXPECT_EQ(entered.substr(0, 6), "typed\n");
    EXPECT_EQ(dialogs_.Dialogs().back().title, "Name");
    EXPECT_EQ(dialogs_.Dialogs().back().text, "start");
    EXPECT_EQ(Text(119, {10, 20, T("Name"), T("start")}), "start");
}

TEST_F(ScriptLibraryTest, TextWindowsAreReachedOnlyThroughTheirHandles) {
    const uint32_t window = Word(120, {1, 2, T("Notes"), T("first")});
    ASSERT_NE(window, 0u);
    CallLibrary(121, {window});
    ASSERT_EQ(dialogs_.Windows().Count(), 1u);
    TextWindowTable::Window* open = dialogs_.Windows().Find(1);
    ASSERT_NE(open, nullptr);
    EXPECT_TRUE(open->focused);
    EXPECT_EQ(Text(122, {window}), "first");
    open->text = std::string(1500, 'w');
    EXPECT_EQ(Text(122, {window}).size(), 1024u);
    for (uint32_t forged : {0u, 1u, window + 0x10000u, 777u}) {
        CallLibrary(121, {forged});
        EXPECT_EQ(Text(122, {forged}), "") << forged;
        CallLibrary(123, {forged});
    }
    EXPECT_EQ(dialogs_.Windows().Count(), 1u);
    CallLibrary(123, {window});
    EXPECT_EQ(dialogs_.Windows().Count(), 0u);
    EXPECT_EQ(Text(122, {window}), "");
}

// A shell with every button down and the clipboard a test gives it.
class FakeApp : public ScriptApp {
public:
    bool HasMouse() override { return true; }
    bool MouseWentDown(int32_t) override { return true; }
    bool MouseIsDown(int32_t) override { return true; }
    void SetMouseTag(int32_t button, const char* tag) override { tags[button] = tag; }
    std::string GetMouseTag(int32_t button) override { return tags[button]; }
    std::string GetClipboardText() override { return clipboard; }
    void HoldKeysDown() override { ++holds; }
    void ConsumeKey(int32_t code) override { consumed.push_back(code); }

    std::string clipboard;
    std::string tags[4];
    int holds = 0;
    std::vector<int32_t> consumed;
};

TEST_F(ScriptLibraryTest, TheShellIsAskedOnlyWithinItsBounds) {
    FakeApp app;
    SetScriptApp(&app);
    for (int32_t button : {-1, 4, INT_MAX}) {
        EXPECT_EQ(Word(54, {I(button)}), 0u) << button;
        EXPECT_EQ(Word(56, {I(button)}), 0u) << button;
        CallLibrary(58, {I(button), T("x")});
        EXPECT_EQ(Text(61, {I(button)}), "") << button;
    }
    EXPECT_EQ(Word(54, {3}), 1u);
    CallLibrary(58, {2, T("menu")});
    EXPECT_EQ(Word(60, {2}), 1u);
    EXPECT_EQ(Text(61, {2}), "menu");
    CallLibrary(59, {2});
    EXPECT_EQ(Word(60, {2}), 0u);

    app.clipboard = "one\r\ntwo";
    EXPECT_EQ(Text(112, {}), "one\ntwo");
    app.clipboard = std::string(256, 'c');
    EXPECT_EQ(Text(112, {}).size(), 256u);
    app.clipboard = std::string(300, 'c');
    EXPECT_EQ(Text(112, {}), "");

    // Keys pressed in the entry dialog are held afterwards; Enter or Esc closed it.
    dialogs_.AnswerText("x");
    Text(119, {0, 0, T(""), T("")});
    Text(119, {0, 0, T(""), T("")});
    EXPECT_EQ(app.holds, 2);
    EXPECT_EQ(app.consumed, (std::vector<int32_t>{50, 52}));
    SetScriptApp(nullptr);
}

// Hit at distance 7 by every ray.
class PickTarget : public test::TestClass<PickTarget, RenderObject> {
public:
    static constexpr const char* Name = "ScriptTestPickTarget";
    static void Declare(ClassInfo&) {}
    int32_t Render() override { return 0; }
    bool IntersectRay(const Float3&, const Float3&, PickQuery& query) override {
        query.current.distance = distance;
        return true;
    }
    float distance = 7.0f;
};

TEST_F(ScriptLibraryTest, TheRayPickFindsVisibleObjectsAtAnyDepth) {
    ScriptThing* root = Make<ScriptThing>();
    ScriptThing* child = Make<ScriptThing>();
    child->AttachTo(root);
    ScriptThing* first = Make<ScriptThing>();
    first->AttachAsLast(child);
    PickTarget* target = Make<PickTarget>();
    target->AttachAsLast(child);
    const std::vector<uint32_t> ray = {F(0), F(0), F(0), F(0), F(0), F(1)};
    auto pick = [&](uint32_t under) {
        std::vector<uint32_t> arguments = ray;
        arguments.push_back(under);
        return WordToFloat(Word(164, arguments));
    };
    EXPECT_EQ(pick(root->GetId()), 7.0f);
    target->SetOpacity(0.95f);
    EXPECT_EQ(pick(root->GetId()), -1.0f);
    target->SetOpacity(1.0f);
    EXPECT_EQ(pick(first->GetId()), -1.0f);
    EXPECT_EQ(pick(0), -1.0f);
    EXPECT_EQ(pick(0x7FFFFFu), -1.0f);
}

TEST_F(ScriptLibraryTest, WorldToScreenGuardsItsResult) {
    CameraView* saved = CurrentCamera;
    CurrentCamera = nullptr;
    EXPECT_EQ(CallLibrary(152, {F(1), F(2), F(3)}), (std::vector<uint32_t>{0, 0, 0}));
    EXPECT_EQ(CallLibrary(153, {F(1), F(2), F(3)}), (std::vector<uint32_t>{0, 0, F(3)}));
    EXPECT_EQ(Word(151, {}), 0u);
    Camera* camera = Make<Camera>();
    CurrentCamera = camera;
    EXPECT_EQ(Word(151, {}), camera->GetId());
    const size_t before = dialogs_.Dialogs().size();
    EXPECT_EQ(CallLibrary(152, {F(3e38f), F(0), F(1e-30f)}), (std::vector<uint32_t>{0, 0, 0}));
    ASSERT_EQ(dialogs_.Dialogs().size(), before + 1);
    EXPECT_EQ(dialogs_.Dialogs().back().text, "WorldToScreen was given unreasonable input");
    const std::vector<uint32_t> ahead = CallLibrary(152, {F(0), F(0), F(5)});
    EXPECT_EQ(ahead[2], F(5));
    EXPECT_EQ(dialogs_.Dialogs().size(), before + 1);
    CurrentCamera = saved;
}

TEST_F(ScriptLibraryTest, InstancesAreCountedByClassIndex) {
    const ClassInfo* things = ScriptThing::RegisterClass();
    int index = 0;
    while (GetClassByIndex(index) != things) {
        ++index;
    }
    const uint32_t count = Word(147, {I(index)});
    ScriptThing* thing = Make<ScriptThing>();
    EXPECT_EQ(Word(147, {I(index)}), count + 1);
    EXPECT_NE(Word(148, {I(index), 0}), 0u);
    EXPECT_EQ(Word(148, {I(index), 100000}), 0u);
    for (int32_t outside : {-1, GetClassCount(), INT_MAX}) {
        EXPECT_EQ(Word(147, {I(outside)}), 0u) << outside;
        EXPECT_EQ(Word(148, {I(outside), 0}), 0u) << outside;
    }
    EXPECT_NE(thing, nullptr);
}

TEST_F(ScriptLibraryTest, AnEffectValueTouchesNoOtherResource) {
    Texture* texture = GetTexture("plain.png", "");
    ASSERT_NE(texture, nullptr);
    const uint32_t references = texture->GetReferenceCount();
    const std::string name = FindLoadedResource("plain.png", "") == texture ? "plain.png" : "";
    texture->Release();
    ASSERT_FALSE(name.empty());
    CallLibrary(162, {T(name.c_str()), F(1), F(2), F(3), F(4)});
    CallLibrary(162, {T("nothing.fx"), F(1), F(2), F(3), F(4)});
    EXPECT_EQ(texture->GetReferenceCount(), references);
    texture->Release();
}

// Captures the frame numbers 1, 2, 3 ... of the length it was made with.
class FakeCapture : public SoundCaptureBuffer {
public:
    bool Create(uint32_t, uint32_t length, uint32_t bits, uint32_t rate,
                uint32_t channels) override {
        ++creates;
        if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || length == 0) {
            return false;
        }
        length_ = length;
        bits_ = bits;
        rate_ = rate;
        channels_ = channels;
        return true;
    }
    bool Destroy() override {
        ++destroys;
        length_ = 0;
        samples_.clear();
        return true;
    }
    void Start(bool) override { running = length_ > 0; }
    void Stop() override { running = false; }
    uint32_t GetPosition() override { return 0; }
    uint32_t Update() override {
        for (uint32_t i = 1; running && i <= length_; ++i) {
            samples_.push_back(i);
        }
        return length_;
    }
    int creates = 0;
    int destroys = 0;
    bool running = false;
};

class FakeAudio : public AudioSystem {
public:
    ~FakeAudio() override { DestroyAllBuffers(); }
    bool Init(uint32_t, uint32_t, uint32_t, uint32_t) override { return true; }
    const char* GetName() const override { return "fake"; }
    const char* GetLastError() const override { return ""; }
    uint32_t GetStateFlags() const override { return 0; }
    void SetListenerPosition(const Float3&) override {}
    Float3 GetListenerPosition() const override { return {}; }
    void SetListenerOrientation(const Quaternion&) override {}
    Quaternion GetListenerOrientation() const override { return {}; }
    void SetMasterVolume(float) override {}
    bool Update() override { return true; }
    uint32_t GetBitsPerSample() const override { return 16; }
    uint32_t GetSampleRate() const override { return 22050; }
    uint32_t GetChannels() const override { return 2; }
    SoundBuffer* CreateSoundBuffer() override { return nullptr; }
    SoundCaptureBuffer* CreateCaptureBuffer() override {
        captureBuffers_.push_back(new FakeCapture());
        return captureBuffers_.back();
    }
};

TEST_F(ScriptLibraryTest, CaptureAnswersOnlyForWhatWasCaptured) {
    {
        FakeAudio audio;
        // Before the capture is made nothing happens and nothing is captured.
        CallLibrary(143, {});
        CallLibrary(144, {});
        EXPECT_EQ(Word(145, {}), 0u);
        EXPECT_EQ(Word(146, {0}), 0u);
        CallLibrary(142, {0, 16, 8000, 1, 0});
        CallLibrary(142, {I(-4), 16, 8000, 1, 0});
        EXPECT_EQ(audio.GetCaptureBufferCount(), 0);

        CallLibrary(142, {3, 24, 8000, 1, 0});
        ASSERT_EQ(audio.GetCaptureBufferCount(), 1);
        auto* capture = static_cast<FakeCapture*>(audio.GetCaptureBuffer(0));
        EXPECT_FALSE(capture->running);
        CallLibrary(142, {3, 16, 8000, 1, 0});
        EXPECT_EQ(capture->destroys, 2); // each set-up releases the one before
        EXPECT_TRUE(capture->running);
        CallLibrary(144, {});
        EXPECT_EQ(Word(145, {}), 3u);
        EXPECT_EQ(Word(146, {2}), 3u);
        for (int32_t outside : {-1, 3, INT_MAX}) {
            EXPECT_EQ(Word(146, {I(outside)}), 0u) << outside;
        }
        CallLibrary(143, {});
        EXPECT_FALSE(capture->running);
        EXPECT_EQ(audio.GetCaptureBufferCount(), 1);
    }
    // The audio system took its buffer with it.
    EXPECT_EQ(Word(145, {}), 0u);
    CallLibrary(144, {});
}

} // namespace
} // namespace quarn
