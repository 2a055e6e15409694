#include "core/object/PropertyText.h"
#include "core/scene/EngineState.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptOperators.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ScriptRunTest;
using test::ScriptThing;

uint32_t F(float value) {
    return FloatToWord(value);
}

class ScriptMachineTest : public ScriptRunTest {};

// Names a file, as texture and data properties do, and saves to it.
class ScriptFileThing : public test::TestClass<ScriptFileThing, Node> {
public:
    static constexpr const char* Name = "ScriptTestFileThing";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyResource, &ScriptFileThing::GetFile, &ScriptFileThing::SetFile>(
            "file:data:dat");
        info.AddMethod("save", "():bool", BindMethod<&ScriptFileThing::Save>(), MethodScript)
            ->SetWrittenFiles("Save", [](const Entity& thing) {
                return std::vector<std::string>{static_cast<const ScriptFileThing&>(thing).file};
            });
    }
    const char* GetFile() const { return file.c_str(); }
    void SetFile(const char* value) { file = value; }
    bool Save() { return ++saves > 0; }

    std::string file;
    int saves = 0;
};

// Stands in for the desktop's program.
std::vector<std::string> openedPaths;
bool RecordOpenedPath(const char* path) {
    openedPaths.push_back(path);
    return true;
}

TEST_F(ScriptMachineTest, EachCommandLeavesItsStack) {
    struct Case {
        const char* code;
        std::vector<uint32_t> stack;
    };
    const Case cases[] = {
        {"push 5\npush -7", {5, uint32_t(-7)}},
        {"pushf 1.5", {F(1.5f)}},
        {"push 1\npush 2\npush 3\ndrop 2", {1}},
        {"push 1\npush 2\ndup 2", {1, 2, 1, 2}},
        {"push 1\ndup 0", {1}},
        {"push 3\npush 9\ntofloat 1 1", {F(3.0f), 9}},
        {"push 10\npush 11\npush 12\npush 20\npush 21\npush 22\npush 1\nindex 3 2", {12, 20}},
        {"push 4\npush 5\npush 0\nindex 2 1", {4}},
        {"push 100\npush 2\nelemaddr 4 3", {106}},
        {"push 1\npush 42\nstore 1\npush 1\nload 1", {42}},
        {"push 7\npush 0\nloadlocal 1", {7, 7}},
        {"push 1\npush 2\npush 0\npush 9\nstorelocal 1", {9, 2}},
        {"push 2\npush 3\nop int \"+(int):int\"", {5}},
        {"push 21\nfunc $F", {42}},
        {"push 1\njumpif skip\npush 5\nskip:\npush 6", {6}},
        {"push 0\njumpif skip\npush 5\nskip:\npush 6", {5, 6}},
        {"push 0\njumpifnot skip\npush 5\nskip:\npush 6", {6}},
        {"push 4\ncall @f\nend\nf:\npush 8\nreturn 1 1", {8}},
        {"push 9\npush 4\ngoto @g 1\ng:", {4}},
        {"text \"\"\npush 1", {0, 1}},
        {"text \"abc\"\npush 1", {0, 1}},
        {"text \"abcd\"\npush 1", {0, 1}},
    };
    for (const Case& c : cases) {
        const std::string source =
            "var \"a\" int\nvar \"b\" int\nstack 16\n" + Fill(c.code, {}) + "\nend\n";
        Script* script = MakeScript(source, "stack");
        EXPECT_TRUE(Call(script)) << c.code << "\n" << LastError();
        std::vector<uint32_t> stack = StackOf(script);
        if (std::strncmp(c.code, "text", 4) == 0 && !stack.empty()) {
            // The text's word points into the code, right after its command word.
            EXPECT_EQ(stack[0], script->GetProgram()->GetCodeTextWord() + 4) << c.code;
            const std::string literal = std::string(c.code).substr(6);
            EXPECT_EQ(LookupText(stack[0]), literal.substr(0, literal.find('"'))) << c.code;
            stack[0] = 0;
        }
        EXPECT_EQ(stack, c.stack) << c.code;
        script->Delete();
    }
}

TEST_F(ScriptMachineTest, ScriptsNameThemselvesTheirParentAndOthersVariables) {
    Node* parent = Make<Node>();
    Script* target = MakeScript("var \"a\" int\nvar \"b\" int\nend\n", "target");
    target->GetVariables()[1] = 12;
    Script* script =
        MakeScript(Fill("self\nparent\nroot\npush $0\npush 1\nextload 1\npush $0\npush 0\npush 5\n"
                        "extstore 1\nend\n",
                        {target->GetId()}),
                   "names");
    script->AttachTo(parent);
    EXPECT_TRUE(Call(script)) << LastError();
    const Node* root = GetSceneRoot();
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{script->GetId(), parent->GetId(),
                                                      root ? root->GetId() : 0u, 12}));
    EXPECT_EQ(target->GetVariables()[0], 5u);
}

TEST_F(ScriptMachineTest, TheCurrentContextIsSetForEachRunAndRestored) {
    Script* script = MakeScript(Fill("func $C\nsleepframe\nfunc $C\nend\n", {}), "current");
    SetCurrentScriptContext(nullptr);
    EXPECT_TRUE(Call(script));
    EXPECT_EQ(GetCurrentScriptContext(), nullptr);
    script->Update(0.0f, UpdateRunning);
    EXPECT_EQ(GetCurrentScriptContext(), nullptr);
    // One frame seen from the function in the call and in the update; the sleep's value between.
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{1, 0, 1}));
    EXPECT_EQ(GetRunStateText(ScriptErrorPending), std::string("ERROR PENDING"));
    EXPECT_EQ(GetRunStateText(ScriptTerminateRequested), std::string(""));
}

TEST_F(ScriptMachineTest, TextLiteralsTakeWholeWordsWithTheirEnd) {
    const std::pair<const char*, uint32_t> cases[] = {{"", 1}, {"abc", 1}, {"abcd", 2}};
    for (const auto& [text, words] : cases) {
        Script* script = MakeScript("text \"" + std::string(text) + "\"\nend\n", "text");
        EXPECT_EQ(script->GetProgram()->GetCodeSize(), 1 + words + 1) << text;
        EXPECT_TRUE(Call(script));
        script->Delete();
    }
}

TEST_F(ScriptMachineTest, PropertiesAndMethodsAreReachedByTheirIndex) {
    ScriptThing* thing = Make<ScriptThing>();
    auto* pokeable = Make<test::ScriptPokeable>();
    thing->value = 11;
    const std::string source = Fill(R"(stack 16
        push $0
        push prop:ScriptTestThing.value
        getprop
        push $0
        push prop:ScriptTestThing.value
        push 31
        setprop 1
        push $0
        push 4
        method method:ScriptTestThing.twice 1
        push $1
        method method:ScriptTestThing.poke 0
        end
    )",
                                    {thing->GetId(), pokeable->GetId()});
    Script* script = MakeScript(source, "members");
    EXPECT_TRUE(Call(script)) << LastError();
    // The method record after "poke" of the same name fits the entity's class.
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{11, 8, 2}));
    EXPECT_EQ(thing->value, 31);
    // The setter knows a script writes; afterwards the engine is back to what it was doing.
    EXPECT_EQ(thing->stateDuringWrite, EngineScriptWritesProperty);
    EXPECT_EQ(EngineState, EngineRunning);
}

// A script gives a file name only inside its game or user://, and a method it calls writes only
// there, wherever the scene pointed it; a refusal leaves the old value or the failure value and
// the script goes on.
TEST_F(ScriptMachineTest, AScriptNamesAndWritesFilesOnlyInsideItsGame) {
    test::TempFolder user;
    test::TempFolder outside;
    files_.SetUserFolder((user.Path() + "/").c_str());
    test::CapturingLogSink log;
    auto* thing = Make<ScriptFileThing>();
    const struct {
        std::string path;
        bool allowed;
    } places[] = {
        {"data/a.dat", true},
        {"../" + std::filesystem::path(outside.Path()).filename().string() + "/a.dat", false},
        {outside.Join("a.dat"), false},
        {"user://a.dat", true},
    };
    const std::string set =
        Fill("stack 16\npush $0\npush prop:ScriptTestFileThing.file\n", {thing->GetId()}) +
        "text \"$\"\nsetprop 1\nend\n";
    const std::string save = Fill(
        "stack 16\npush $0\nmethod method:ScriptTestFileThing.save 0\nend\n", {thing->GetId()});
    for (const auto& place : places) {
        const std::string n = std::to_string(&place - places);
        std::string source = set;
        Replace(source, "$", place.path);
        thing->file = "old.dat";
        log.Clear();
        EXPECT_TRUE(Call(MakeScript(source, "name" + n))) << LastError();
        EXPECT_EQ(thing->file, place.allowed ? place.path : "old.dat") << place.path;

        thing->file = place.path; // as the scene gave it
        thing->saves = 0;
        Script* saving = MakeScript(save, "save" + n);
        EXPECT_TRUE(Call(saving)) << LastError();
        EXPECT_EQ(thing->saves, place.allowed ? 1 : 0) << place.path;
        EXPECT_EQ(StackOf(saving), std::vector<uint32_t>{place.allowed ? 1u : 0u}) << place.path;
        ASSERT_EQ(log.Lines().size(), place.allowed ? 0u : 2u) << place.path;
        if (!place.allowed) {
            EXPECT_EQ(log.Lines()[0].text.rfind(
                          "ScriptTestFileThing.file refused \"" + place.path + "\"", 0),
                      0u);
            EXPECT_EQ(log.Lines()[1].text.rfind("ScriptTestFileThing.Save refused", 0), 0u);
        }
    }
}

TEST_F(ScriptMachineTest, RuntimeErrorsEndInTheErrorStateWithTheirText) {
    ScriptThing* thing = Make<ScriptThing>();
    // Scripts an external call cannot enter: one terminated by an error, one without a program.
    Script* terminated = MakeScript("stack 4\npush 0\npush 1\nindex 1 1\nend\n", "terminated");
    ASSERT_FALSE(Call(terminated));
    ASSERT_EQ(terminated->GetRunState(), ScriptErrorPending);
    Script* uncompiled = Make<Script>();
    const char* closed = "External call to script that is terminated or not compiled";
    struct Case {
        const char* code;
        const char* message;
    };
    const char* invalid = "Invalid command - maybe you need to recompile all scripts";
    const Case cases[] = {
        {"push 0\npush 1\nindex 1 1\nend", "Trying to access index '1' on array of size '1'"},
        {"push 0\npush -1\nelemaddr 3 1\nend", "Trying to access index '-1' on array of size '3'"},
        {"push 0\npush 0\ngetprop\nend", "Entity is none"},
        {"push $0\npush 999\ngetprop\nend",
         "Entity is ScriptTestThing, does not have property id 999"},
        {"push $0\nmethod 999 0\nend", "Entity is ScriptTestThing, does not have function id 999"},
        {"push $0\nmethod method:ScriptTestThing.poke 0\nend",
         "Entity is ScriptTestThing, does not have function poke"},
        {"push $0\npush 0\nextload 1\nend", "Illegal external call (entity is not a script)"},
        {"call -1\nend", "Unknown address of local call (function is referenced before declared)"},
        {"push $0\nextcall -1 0 0 0\nend",
         "Unknown address of external call (included script maybe not loaded?)"},
        {"push $0\nextcall 0 0 0 0\nend", "Illegal external call (entity is not a script)"},
        {"push $1\nextcall 0 0 0 0\nend", closed},
        {"push $2\nextcall 0 0 0 0\nend", closed},
        {"push $0\nextgoto 0 0\nend", "Illegal external goto (entity is not a script)"},
        {"push $0\npush 1\nextgoto 0 33\nend",
         "External goto with 33 argument words (at most 32 fit)"},
        // Nothing leaves the code, the variables, the frame or the stack.
        {"word 34", invalid},
        {"push 1", invalid},
        {"jump 100\nend", invalid},
        {"jump -5\nend", invalid},
        {"push 2\nload 1\nend", invalid},
        {"push -1\nload 1\nend", invalid},
        {"push 1\npush 5\npush 6\nstore 2\nend", invalid},
        {"push 5\nloadlocal 1\nend", invalid},
        {"push -1\nloadlocal 1\nend", invalid},
        {"push 1\npush 0\npush 2\nstorelocal 2\nend", invalid},
        {"drop 1\nend", invalid},
        {"push 1\ndup 2\nend", invalid},
        {"push 1\ntofloat 1 1\nend", invalid},
        {"push 1\npush 0\nindex 2 1\nend", invalid},
        {"return 1 0", invalid},
        {"goto @x 3\nx:\nend", invalid},
        {"func 100000\nend", invalid},
        {"op 0x7FFF0000\nend", invalid},
        {"push $0\nmethod method:ScriptTestThing.twice 2\nend", invalid},
        {"call 500\nend", invalid},
        {"push 1\npush 1\npush 1\npush 1\npush 1\nend", "Stack overflow"},
        {"f:\ncall @f", "Stack overflow"},
        {"text \"no end\"", invalid},
        {"word 200", invalid},
        {"push 0\nword 22 0 0", invalid}, // operand words cut off by the end of the code
    };
    for (const Case& c : cases) {
        Script* script = MakeScript(
            "stack 4\nvar \"a\" int\n" +
                Fill(c.code, {thing->GetId(), terminated->GetId(), uncompiled->GetId()}) + "\n",
            "fails");
        if (std::strcmp(c.code, "text \"no end\"") == 0) {
            // The NUL and its padding word cut off: the text would run past the code.
            script->GetProgram()->EditCode()[2] = 0x20202020;
            script->GetProgram()->EditCode()[3] = 0x20202020;
        }
        EXPECT_FALSE(Call(script)) << c.code;
        EXPECT_EQ(script->GetRunState(), ScriptErrorPending) << c.code;
        EXPECT_EQ(LastError(), c.message) << c.code;
        script->Delete();
    }
}

// A property or method id reaches the member it was assembled for, on a node of the class that
// lists it or below, in either runner; on a node of another class it is a runtime error, never
// that class's own member of the same number.
TEST_F(ScriptMachineTest, AMemberIdReachesOnlyTheClassItWasAssembledFor) {
    ScriptThing* thing = Make<ScriptThing>();
    test::ScriptOther* other = Make<test::ScriptOther>();
    thing->SetName("Thing");
    other->SetName("Other");
    struct Case {
        const char* name;
        const char* code; // "node" is the variable at offset 0
        const char* onOther;
    };
    const Case cases[] = {
        {"method", "push 0\nload 1\npush 5\nmethod method:ScriptTestThing.twice 1\nreturn 0 1",
         "Entity is ScriptTestOther, does not have function twice"},
        {"property read", "push 0\nload 1\npush prop:ScriptTestThing.value\ngetprop\nreturn 0 1",
         "Entity is ScriptTestOther, does not have property value"},
        {"property write",
         "push 0\nload 1\npush prop:ScriptTestThing.value\npush 3\nsetprop 1\npush 1\n"
         "return 0 1",
         "Entity is ScriptTestOther, does not have property value"},
        {"a member of a class above both, named through one of them",
         "push 0\nload 1\npush prop:ScriptTestThing.name\ngetprop\nreturn 0 1", ""},
    };
    for (const Case& c : cases) {
        const std::string source = std::string("stack 8\nvar \"node\" Node kind=2\n"
                                               "function \"f\" ():") +
                                   (std::strstr(c.name, "above") ? "string" : "int") +
                                   " at=@f\nf:\n" + c.code + "\n";
        MakeScript(source, "member", true, "", true)->Delete();
        for (bool translated : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (translated ? ", translated" : ", plain"));
            ScriptTranslatedRuns = translated;
            thing->value = 7;
            other->other = 9;
            std::vector<uint32_t> results;
            for (Node* node : std::initializer_list<Node*>{thing, other}) {
                Script* script = Make<Script>();
                script->SetScriptFile("member.script");
                script->GetVariables()[0] = node->GetId();
                const size_t dialogs = dialogs_.Dialogs().size();
                const bool called = Call(script);
                if (node == other && *c.onOther) {
                    EXPECT_FALSE(called);
                    EXPECT_EQ(LastError(), c.onOther);
                } else {
                    EXPECT_TRUE(called) << LastError();
                    EXPECT_EQ(dialogs_.Dialogs().size(), dialogs);
                    results.push_back(StackOf(script).at(0));
                }
                script->Delete();
            }
            EXPECT_EQ(other->other, 9);
            if (std::strstr(c.name, "above")) {
                EXPECT_STREQ(LookupText(results.at(0)), "Thing");
                EXPECT_STREQ(LookupText(results.at(1)), "Other");
            } else if (std::strstr(c.name, "write")) {
                EXPECT_EQ(thing->value, 3);
            } else {
                EXPECT_EQ(results, std::vector<uint32_t>{std::strstr(c.name, "method") ? 10u : 7u});
            }
        }
        ScriptTranslatedRuns = true;
    }
}

// The report names the line by the line marks or, for a program that names its source, by the
// file and line of the failing command and of each call.
TEST_F(ScriptMachineTest, TheReportNamesTheLineAndEveryFrame) {
    const struct {
        const char* prefix;
        const char* sourceSuffix; // none: no source
        const char* head;
        const char* frames;
    } cases[] = {
        {"", nullptr, " line 2\n", "inner(), line 2\ncaller.outer(), line 2\n"},
        {"s", ".asm", " at scallee.asm:6\n",
         "inner(), scallee.asm:6\nscaller.outer(), scaller.asm:5\n"},
    };
    for (const auto& c : cases) {
        const std::string callee = std::string(c.prefix) + "callee";
        const std::string caller = std::string(c.prefix) + "caller";
        const auto source = [&](const std::string& name) {
            return c.sourceSuffix ? name + c.sourceSuffix : std::string();
        };
        Script* inner = MakeScript(R"(function "inner" () at=@inner
            inner:
            line
            push 0
            push 1
            index 1 1
            return 0 0
        )",
                                   callee, true, source(callee));
        const std::string outer = Fill(R"(function "outer" () at=@outer
            outer:
            push $0
            line
            extcall 0 0 1 hash:)" + callee +
                                           R"(
            end
        )",
                                       {inner->GetId()});
        Script* script = MakeScript(outer, caller, true, source(caller));
        const size_t before = dialogs_.Dialogs().size();
        EXPECT_FALSE(Call(script));
        ASSERT_EQ(dialogs_.Dialogs().size(), before + 1);
        EXPECT_EQ(dialogs_.Dialogs().back().title, "Script Error!");
        EXPECT_EQ(dialogs_.Dialogs().back().buttons, "OK");
        EXPECT_EQ(dialogs_.Dialogs().back().text,
                  "Script \"" + callee + "\"" + c.head +
                      "Runtime error \"Trying to access index '1' on array of size '1'\"\n"
                      "Script (instance) is terminated.\n\nCallstack:\n" +
                      c.frames);
    }

    // Without symbols: code offsets, and no function names.
    Script* bare = MakeScript("push 0\npush 1\nindex 1 1\nend\n", "bare", false);
    EXPECT_FALSE(Call(bare));
    EXPECT_EQ(dialogs_.Dialogs().back().text,
              "Script \"bare\" prog-count 4\n"
              "Runtime error \"Trying to access index '1' on array of size '1'\"\n"
              "Script (instance) is terminated.\n\nCallstack:\n"
              "unknown function, pc 7\n");
}

// A runaway recursion fills the call stack: the report keeps twenty frames at each end and
// counts those between, whatever the depth.
TEST_F(ScriptMachineTest, AnOverflowReportShowsBothEndsOfTheCallStack) {
    Script* script = MakeScript("stack 500\nfunction \"f\" () at=@f\nf:\nline\ncall @f\n", "deep");
    EXPECT_FALSE(Call(script));
    EXPECT_EQ(LastError(), "Stack overflow");
    const size_t frames = script->GetContext()->Frames().size();
    ASSERT_GT(frames, 400u);
    const std::string& text = dialogs_.Dialogs().back().text;
    std::vector<std::string> lines;
    for (size_t at = text.find("Callstack:\n") + 11; at < text.size();) {
        const size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_EQ(lines.size(), 41u);
    EXPECT_EQ(lines[20], "... " + std::to_string(frames - 40) + " frames left out ...");
    for (size_t i : {0, 19, 21, 39}) {
        EXPECT_EQ(lines[i], "f(), line 2") << i;
    }
    EXPECT_EQ(lines[40], "f(), line 2");
}

TEST_F(ScriptMachineTest, TheDialogsAnswerDecidesWhatFollows) {
    struct Panel : ScriptDebugPanel {
        void ShowScript(Script& script) override { shown = &script; }
        Script* shown = nullptr;
    } panel;
    openedPaths.clear();
    SetScriptSourceOpener(&RecordOpenedPath);
    AddScriptDebugPanel(&panel);
    const char* failing = "push 0\ngetprop\nend\n";

    dialogs_.Answer(1);
    Script* edit = MakeScript(failing, "edit");
    EXPECT_FALSE(Call(edit));
    EXPECT_EQ(edit->GetRunState(), ScriptErrorPending);
    ASSERT_EQ(openedPaths.size(), 1u);
    EXPECT_EQ(openedPaths[0], temp_.Join("edit.script"));
    EXPECT_TRUE(log_.Contains("Opening resource file: 'edit.script'"));
    EXPECT_EQ(dialogs_.Dialogs().size(), 2u); // the same report once more

    dialogs_.Answer(2);
    Script* debug = MakeScript(failing, "debug");
    EXPECT_FALSE(Call(debug));
    EXPECT_EQ(panel.shown, debug);
    EXPECT_TRUE(GamePaused);
    // Stopped in the debugger, then terminated like any error.
    EXPECT_EQ(debug->GetRunState(), ScriptErrorPending);
    EXPECT_EQ(dialogs_.Dialogs().size(), 3u);

    RemoveScriptDebugPanel(&panel);
    SetScriptSourceOpener(nullptr);
}

TEST_F(ScriptMachineTest, ExternalCallsCheckTheProgramAndMayRunInTheTargetsContext) {
    Script* target = MakeScript(R"(stack 8
        var "hit" int
        function "ping" () at=@ping
        function "echo" (int):int at=@echo
        ping:
        push 0
        push 77
        store 1
        return 0 0
        echo:
        push -1
        loadlocal 1
        return 1 1
    )",
                                "target");
    const uint32_t id = target->GetId();
    const int32_t echo = target->GetProgram()->FindFunction("echo", -1);
    // a = 0 and x = 0: the target runs at once on its own stacks; the caller goes on.
    Script* caller = MakeScript(
        Fill("stack 8\npush $0\nextcall 0 0 0 hash:target\npush 5\npush $0\npush 3\nextcall " +
                 std::to_string(echo) + " 1 1 hash:target\nend\n",
             {id}),
        "caller");
    EXPECT_TRUE(Call(caller)) << LastError();
    EXPECT_EQ(target->GetVariables()[0], 77u);
    ASSERT_NE(target->GetContext(), nullptr);
    EXPECT_TRUE(target->GetContext()->Frames().empty());
    EXPECT_EQ(StackOf(caller), (std::vector<uint32_t>{5, 3}));

    Script* wrong = MakeScript(Fill("push $0\nextcall 0 0 0 hash:other\nend\n", {id}), "wrong");
    EXPECT_FALSE(Call(wrong));
    EXPECT_EQ(LastError(), "Illegal external call (actual script does not match function (or "
                           "there may be multiple resolves))");
}

// With a debugger to resume it a breakpoint stops the script; without one (the player, the
// tools, the editor's standalone play) a stop would hold the game for good, so the breakpoint is
// passed over, armed still, and the log names its place once.
TEST_F(ScriptMachineTest, BreakpointsActByTheirActionAndStopOnlyWhereADebuggerCanResume) {
    enum Debugger { Shown, Hidden, None };
    struct Case {
        uint32_t action;
        Debugger debugger;
        int state;
        std::vector<uint32_t> stack;
        uint32_t wordAfter;
    };
    const uint32_t armed = ScriptResource::BreakpointCommand;
    const Case cases[] = {
        {0, Shown, ScriptReady, {1, 2, 3}, 0},    {1, Shown, ScriptReady, {1, 2, 3}, armed},
        {2, Shown, ScriptDebug, {1}, 0},          {9, Shown, ScriptErrorPending, {1}, 0},
        {0, None, ScriptReady, {1, 2, 3}, 0},     {1, None, ScriptReady, {1, 2, 3}, armed},
        {2, None, ScriptReady, {1, 2, 3}, armed}, {2, Hidden, ScriptReady, {1, 2, 3}, armed},
        {9, None, ScriptErrorPending, {1}, 0},
    };
    for (const Case& c : cases) {
        std::optional<test::ScopedScriptDebugger> debugger;
        if (c.debugger != None) {
            debugger.emplace(c.debugger == Shown);
        }
        Script* script = MakeScript("push 1\npush 2\npush 3\nend\n", "breaks");
        ScriptResource* program = script->GetProgram();
        program->Breakpoints().assign(1, {2, 0, c.action});
        program->ArmBreakpoints();
        GamePaused = false;
        const size_t lines = log_.Lines().size();
        Call(script);
        const std::string at = std::to_string(c.action) + " " + std::to_string(c.debugger);
        EXPECT_EQ(script->GetRunState(), c.state) << at;
        EXPECT_EQ(StackOf(script), c.stack) << at;
        if (c.action != 9) {
            EXPECT_EQ(program->GetCode()[2], c.wordAfter) << at;
        }
        EXPECT_EQ(GamePaused, c.state == ScriptDebug) << at;
        const bool passed = c.action == 2 && c.debugger != Shown;
        EXPECT_EQ(log_.Lines().size(), lines + (passed ? 1u : 0u)) << at;
        program->Breakpoints().clear();
        script->Delete();
    }
    // A breakpoint command with no record stops too where a debugger can resume it; elsewhere
    // the script goes on, and each place is named once however often it is passed.
    {
        const test::ScopedScriptDebugger debugger;
        Script* raw = MakeScript("push 1\nbreakpoint\npush 2\nend\n", "raw");
        Call(raw);
        EXPECT_EQ(raw->GetRunState(), ScriptDebug);
        raw->Delete();
    }
    GamePaused = false;
    for (const bool translated : {false, true}) {
        ScriptTranslatedRuns = translated;
        Script* raw = MakeScript("line\npush 1\nline\nbreakpoint\nline\npush 2\nbreakpoint\nend\n",
                                 translated ? "fastraw" : "plainraw");
        const size_t lines = log_.Lines().size();
        for (size_t call = 1; call <= 3; ++call) {
            Call(raw);
            EXPECT_EQ(raw->GetRunState(), ScriptReady);
            EXPECT_EQ(StackOf(raw).size(), 2 * call) << translated;
        }

        EXPECT_FALSE(GamePaused);
        ASSERT_EQ(log_.Lines().size(), lines + 2) << translated;
        for (const char* line : {" line 3: ", " line 4: "}) {
            EXPECT_TRUE(log_.Contains(std::string("Script \"") + (translated ? "fast" : "plain") +
                                      "raw\"" + line +
                                      "breakpoint passed over: no script debugger here can "
                                      "resume it"))
                << line;
        }
    }
    ScriptTranslatedRuns = true;
}

TEST_F(ScriptMachineTest, TheDebugStateRunsOneSourceLineAtATime) {
    const test::ScopedScriptDebugger debugger;
    Script* script = MakeScript("line\npush 1\npush 2\nline\npush 3\nline\npush 4\nend\n", "lines");
    ScriptResource* program = script->GetProgram();
    program->Breakpoints().assign(1, {0, 0, 2});
    program->ArmBreakpoints();
    Call(script);
    ASSERT_EQ(script->GetRunState(), ScriptDebug);
    EXPECT_EQ(script->GetCurrentLine(), 2);
    // The step that leaves the line is the last one taken.
    EXPECT_EQ(script->Run(*script->GetContext()), ScriptDebug);
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{1, 2, 3}));
    EXPECT_EQ(script->GetCurrentLine(), 4);

    // A program that names its source steps through the lines of that file instead.
    Script* sourced =
        MakeScript("line\npush 1\npush 2\nline\npush 3\nend\n", "sourced", true, "sourced.asm");
    sourced->GetProgram()->Breakpoints().assign(1, {0, 0, 2});
    sourced->GetProgram()->ArmBreakpoints();
    Call(sourced);
    ASSERT_EQ(sourced->GetRunState(), ScriptDebug);
    EXPECT_EQ(sourced->GetCurrentLine(), 2);
    EXPECT_EQ(sourced->Run(*sourced->GetContext()), ScriptDebug);
    EXPECT_EQ(StackOf(sourced), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(sourced->GetCurrentLine(), 5);
}

TEST_F(ScriptMachineTest, TheStepLimitFiresOnItsLastStepEvenWhenTheRunEnds) {
    ScriptStepLimit = 4;
    Script* ends = MakeScript("push 1\npush 2\npush 3\nend\n", "four");
    EXPECT_FALSE(Call(ends));
    EXPECT_EQ(LastError(), "Infinite loop detected (100million'th instruction reached)");
    Script* three = MakeScript("push 1\npush 2\nend\n", "three");
    const size_t before = dialogs_.Dialogs().size();
    EXPECT_TRUE(Call(three));
    EXPECT_EQ(dialogs_.Dialogs().size(), before);
    ScriptStepLimit = 1000;
    Script* loop = MakeScript("loop:\njump loop\n", "loop");
    EXPECT_FALSE(Call(loop));
    EXPECT_EQ(loop->GetRunState(), ScriptErrorPending);

    // Stepping one line in the debugger ends too when the line never ends.
    const test::ScopedScriptDebugger debugger;
    Script* line = MakeScript("line\nbreakpoint\nline\npush 0\nagain:\njump again\n", "line");
    Call(line);
    ASSERT_EQ(line->GetRunState(), ScriptDebug);
    line->Run(*line->GetContext());
    EXPECT_EQ(line->GetRunState(), ScriptErrorPending);
    EXPECT_EQ(LastError(), "Infinite loop detected (100million'th instruction reached)");
}

// Programs shaped as the compiler emits them: arguments below the frame base, locals above
// it, each load and store addressed by a pushed offset.
TEST_F(ScriptMachineTest, CompiledLoopsAndRecursionComputeTheirResults) {
    struct Case {
        const char* code;
        std::vector<uint32_t> arguments;
        uint32_t result;
    };
    const Case cases[] = {
        // The sum of i % 7 for i from 100 down to 1.
        {R"(push 0
            loop:
            push 0
            push -1
            loadlocal 1
            push 7
            op int "%(int):int"
            push 0
            loadlocal 1
            op int "+(int):int"
            storelocal 1
            push -1
            push -1
            loadlocal 1
            push 1
            op int "-(int):int"
            storelocal 1
            push -1
            loadlocal 1
            push 0
            op int ">(int):bool"
            jumpif loop
            return 1 1)",
         {100},
         297},
        // Recursive factorial of 10.
        {R"(fact:
            push -1
            loadlocal 1
            push 2
            op int "<(int):bool"
            jumpif one
            push -1
            loadlocal 1
            push -1
            loadlocal 1
            push 1
            op int "-(int):int"
            call @fact
            op int "*(int):int"
            return 1 1
            one:
            push 1
            return 1 1)",
         {10},
         3628800},
    };
    DeleteAllValueTypes(); // the fixture's own "int"
    RegisterScriptOperators();
    for (const Case& c : cases) {
        Script* script = MakeScript(std::string("stack 64\n") + c.code + "\n", "compiled");
        uint32_t result = 0;
        EXPECT_TRUE(
            script->CallFunction(0, c.arguments.data(), uint32_t(c.arguments.size()), &result, 1))
            << LastError();
        EXPECT_EQ(result, c.result) << c.code;
        EXPECT_TRUE(StackOf(script).empty());
        script->Delete();
    }
    ResetScriptKeywordTable();
}

TEST_F(ScriptMachineTest, DeletionDuringARunEndsItWithoutTouchingTheNode) {
    // Another entity deleted under a run: the run goes on.
    ScriptThing* other = Make<ScriptThing>();
    Script* survivor =
        MakeScript(Fill("push $0\nfunc $D\npush 1\nend\n", {other->GetId()}), "survivor");
    EXPECT_TRUE(Call(survivor)) << LastError();
    EXPECT_EQ(StackOf(survivor), std::vector<uint32_t>{1});

    Script* self = MakeScript(Fill("self\nfunc $D\npush 1\nend\n", {}), "self");
    const uint64_t serial = self->GetSerial();
    EXPECT_FALSE(Call(self));
    EXPECT_FALSE(IsAlive(serial));

    // The callee deletes its caller, which owns the context, through a method.
    ScriptThing* thing = Make<ScriptThing>();
    Script* callee = MakeScript(Fill(R"(function "kill" (entity) at=@kill
        kill:
        push $0
        push -1
        loadlocal 1
        method method:ScriptTestThing.destroy 1
        return 1 0
    )",
                                     {thing->GetId()}),
                                "callee");
    Script* caller = MakeScript(
        Fill("push $0\nself\nextcall 0 1 1 hash:callee\npush 1\nend\n", {callee->GetId()}),
        "caller");
    const uint64_t callerSerial = caller->GetSerial();
    EXPECT_FALSE(Call(caller));
    EXPECT_FALSE(IsAlive(callerSerial));
    EXPECT_EQ(callee->GetRunState(), ScriptReady);

    // A middle script deleted under its callee: the return into its frame ends the run, and
    // the outer script, which owns the context, is left idle.
    Script* middle = MakeScript(
        Fill("push $0\nself\nextcall 0 1 1 hash:callee\nreturn 0 0\n", {callee->GetId()}),
        "middle");
    const uint64_t middleSerial = middle->GetSerial();
    Script* outer = MakeScript(
        Fill("push $0\nextcall 0 0 1 hash:middle\npush 1\nend\n", {middle->GetId()}), "outer");
    EXPECT_FALSE(Call(outer));
    EXPECT_FALSE(IsAlive(middleSerial));
    EXPECT_EQ(outer->GetRunState(), ScriptReady);
    EXPECT_TRUE(outer->GetContext()->Frames().empty());
}

} // namespace
} // namespace quarn
