#include "core/object/ClassInfo.h"
#include "core/object/IdPath.h"
#include "core/object/Signals.h"
#include "core/scenefile/SceneSaver.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ScriptRunTest;

// The node's block as a scene save writes it.
std::string Written(Node& node) {
    std::string bytes;
    std::string error;
    EXPECT_TRUE(WriteSceneBytes(bytes, error, "", node, Guid(), 0, nullptr, SceneWriteRoot));
    return bytes;
}

class ScriptNodeTest : public ScriptRunTest {};

// Adds one to variable 0.
constexpr const char* CountUp = "push 0\npush 0\nload 1\npush 1\nop int \"+(int):int\"\nstore 1\n";

TEST_F(ScriptNodeTest, SignalsReachTheFunctionsOfTheirNames) {
    Script* script = MakeScript(std::string(R"(var "started" int
        var "quarn" int
        function "start" () at=@start
        function "quarn_start" () at=@quarn
        start:
        push 0
        push 1
        store 1
        return 0 0
        quarn:
        push 1
        push 2
        store 1
        return 0 0
    )"),
                                "signals");
    SendSignal("quarn_start", nullptr, true);
    EXPECT_EQ(script->GetVariables()[1], 2u);
    EXPECT_EQ(script->GetVariables()[0], 0u);
    SendSignal("start", nullptr, true);
    EXPECT_EQ(script->GetVariables()[0], 1u);
    script->Delete();
    SendSignal("start", nullptr, true); // no listener is left behind
}

TEST_F(ScriptNodeTest, UpdateRunsEveryFrameAndWhileStoppedOnlyWithTwoParameters) {
    const std::string oneParameter = std::string("var \"n\" int\nfunction \"update\" (float) "
                                                 "at=@update\nupdate:\n") +
                                     CountUp + "return 1 0\n";
    Script* one = MakeScript(oneParameter, "one");
    one->Update(0.1f, UpdateRunning);
    one->Update(0.1f, UpdateRunning);
    one->Update(0.1f, UpdateStopped);
    EXPECT_EQ(one->GetVariables()[0], 2u);

    // (t, m): the mode reaches the script.
    Script* two = MakeScript(R"(var "mode" int
        function "update" (float, int) at=@update
        update:
        push 0
        push -1
        loadlocal 1
        store 1
        return 2 0
    )",
                             "two");
    two->Update(0.1f, UpdateStopped);
    EXPECT_EQ(two->GetVariables()[0], uint32_t(UpdateStopped));
}

TEST_F(ScriptNodeTest, AnUpdateOfThreeParametersIsLoggedAndGetsTwoWords) {
    Script* script = MakeScript(R"(var "time" float
        function "update" (float, int, int) at=@update
        update:
        push 0
        push -2
        loadlocal 1
        store 1
        return 2 0
    )",
                                "three");
    EXPECT_TRUE(
        log_.Contains("Invalid number of params on function 'update'. (float) or (float,int) "
                      "expected."));
    script->Update(0.25f, UpdateRunning);
    EXPECT_EQ(script->GetVariables()[0], FloatToWord(0.25f));
}

TEST_F(ScriptNodeTest, AStateFunctionCalledAsAMethodOnlyWarns) {
    Script* script = MakeScript(std::string("var \"n\" int\nfunction \"idle\" () at=@idle state\n"
                                            "idle:\n") +
                                    CountUp + "return 0 0\n",
                                "state");
    const MethodInfo* idle = script->GetClass()->FindMethod("idle", false);
    ASSERT_NE(idle, nullptr);
    uint32_t block[2] = {};
    script->CallMethod(*idle, block);
    EXPECT_TRUE(log_.Contains("Warning: Trying to call a state function"));
    EXPECT_EQ(script->GetVariables()[0], 0u);
}

TEST_F(ScriptNodeTest, MethodsRunTheirFunctionAndReturnItsResult) {
    Script* script = MakeScript(R"(function "add" (int, int):int at=@add
        add:
        push -2
        loadlocal 1
        push -1
        loadlocal 1
        op int "+(int):int"
        return 2 1
    )",
                                "method");
    const MethodInfo* add = script->GetClass()->FindMethod("add", false);
    ASSERT_NE(add, nullptr);
    uint32_t block[3] = {0, 20, 22};
    script->CallMethod(*add, block);
    EXPECT_EQ(block[0], 42u);
}

TEST_F(ScriptNodeTest, AMethodCalledInAStateRunsThatStatesVersion) {
    Script* script = MakeScript(R"(var "n" int
        function "idle" () at=@idle state
        function "hit" () at=@hit
        function "idle.hit" () at=@idlehit
        idle:
        sleepframe
        end
        hit:
        push 0
        push 1
        store 1
        return 0 0
        idlehit:
        push 0
        push 2
        store 1
        return 0 0
    )",
                                "states");
    const MethodInfo* hit = script->GetClass()->FindMethod("hit", false);
    ASSERT_NE(hit, nullptr);
    uint32_t block[1] = {};
    script->CallMethod(*hit, block);
    EXPECT_EQ(script->GetVariables()[0], 1u);
    ASSERT_TRUE(Call(script, {}, "idle"));
    EXPECT_EQ(script->GetCurrentStateIndex(), 1);
    script->CallMethod(*hit, block);
    EXPECT_EQ(script->GetVariables()[0], 2u);
}

TEST_F(ScriptNodeTest, AFailingUpdateWhileStoppedLeavesTheErrorState) {
    Script* script = MakeScript(R"(function "update" (float, int) at=@update
        update:
        push 0
        push 0
        getprop
        return 2 0
    )",
                                "failing");
    script->Update(0.1f, UpdateStopped);
    EXPECT_EQ(script->GetRunState(), ScriptErrorPending);
}

TEST_F(ScriptNodeTest, ALargerProgramGivesAZeroedBlockWithItsDefaults) {
    Script* script = MakeScript("var \"a\" int\nend\n", "small");
    script->GetVariables()[0] = 5;
    ScriptProgramBuilder builder;
    std::string error;
    ASSERT_TRUE(AssembleScript(R"(var "a" int
        var "b" float decl="float b default=1.5"
        var "c" int decl="int c default=9"
        end
    )",
                               builder, error))
        << error;
    Write(builder, "large");
    script->SetScriptFile("large.script");
    ASSERT_EQ(script->GetVariableCount(), 3u);
    EXPECT_EQ(script->GetVariables()[0], 0u);
    EXPECT_EQ(script->GetVariables()[1], FloatToWord(1.5f));
    EXPECT_EQ(script->GetVariables()[2], 9u);
    EXPECT_EQ(script->GetRunState(), ScriptReady);
    script->ResizeVariables(4, true);
    EXPECT_EQ(script->GetVariableCount(), 4u);
    EXPECT_EQ(script->GetVariables()[0], 0u);
    EXPECT_EQ(script->GetVariables()[3], 0u);
    script->GetVariables()[2] = 4;
    script->ResizeVariables(3, false);
    EXPECT_EQ(script->GetVariables()[2], 9u);
    // The same file in other letters keeps what runs.
    script->GetVariables()[0] = 3;
    script->SetScriptFile("LARGE.script");
    EXPECT_EQ(script->GetVariables()[0], 3u);
}

// A public variable of a class takes a node of that class or below it, as a scene binds it; a
// node of another class is refused with a line that names both, and the program finds none
// there. A variable of Node takes any node.
TEST_F(ScriptNodeTest, APublicVariableOfAClassTakesOnlyItsClassesNodes) {
    Script* script = MakeScript("var \"thing\" ScriptTestThing kind=2\nvar \"node\" Node kind=2\n"
                                "function \"f\" ():int at=@f\nf:\npush 0\nload 1\npush 4\n"
                                "method method:ScriptTestThing.twice 1\nreturn 0 1\n",
                                "bound");
    auto* other = Make<test::ScriptOther>();
    other->SetName("Title");
    auto* pokeable = Make<test::ScriptPokeable>();
    const Property* thing = script->GetClass()->FindProperty("thing");
    const Property* node = script->GetClass()->FindProperty("node");
    ASSERT_TRUE(thing && node);
    test::CapturingLogSink log;
    uint32_t id = other->GetId();
    thing->WriteValue(*script, &id);
    node->WriteValue(*script, &id);
    EXPECT_EQ(script->GetVariables()[0], 0u);
    EXPECT_EQ(script->GetVariables()[1], id);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Script 'bound': thing is a ScriptTestThing, given "
                                   "ScriptTestOther obj" +
                                       IdPath::FromId(id, 0).Format() + " (Title)");
    EXPECT_FALSE(Call(script));
    EXPECT_EQ(LastError(), "Entity is none");
    // The scene still says which node it gave: a save, a copy, keeps it.
    const std::string given = "\tthing = " + IdPath::FromId(other->GetId(), 0).Format() + "\n";
    EXPECT_NE(Written(*script).find(given), std::string::npos) << Written(*script);

    script->ResetExecution();
    id = pokeable->GetId();
    thing->WriteValue(*script, &id);
    EXPECT_EQ(script->GetVariables()[0], id);
    EXPECT_EQ(log.Lines().size(), 1u);
    EXPECT_TRUE(Call(script)) << LastError();
    EXPECT_EQ(StackOf(script), std::vector<uint32_t>{8});

    // A refused node that goes takes its word with it.
    id = other->GetId();
    thing->WriteValue(*script, &id);
    other->Delete();
    EXPECT_NE(Written(*script).find("\tthing = 0\n"), std::string::npos) << Written(*script);
}

TEST_F(ScriptNodeTest, ANodeWithoutProgramDoesNothing) {
    Script* script = Make<Script>();
    script->Update(0.1f, UpdateRunning);
    script->Update(0.1f, UpdateStopped);
    EXPECT_FALSE(script->CallFunction(0, nullptr, 0, nullptr, 0));
    EXPECT_FALSE(script->StartFunction(0, 0, nullptr, true));
    script->WakeUp();
    script->ResetExecution();
    EXPECT_EQ(script->GetContext(), nullptr);
    EXPECT_EQ(script->GetCurrentLine(), -1);
    EXPECT_EQ(script->GetCurrentStateIndex(), -1);
    EXPECT_EQ(script->GetRunState(), ScriptReady);
    // A missing file gives a program without code: the same.
    script->SetScriptFile("missing.script");
    ASSERT_NE(script->GetProgram(), nullptr);
    script->Update(0.1f, UpdateRunning);
    EXPECT_FALSE(script->CallFunction(0, nullptr, 0, nullptr, 0));
    EXPECT_EQ(script->GetRunState(), ScriptReady);
}

TEST_F(ScriptNodeTest, SleepResumesOnceTheFramesAddUpAndYieldsTheTimeSlept) {
    Script* script = MakeScript(R"(var "slept" float
        push 0
        pushf 0.5
        sleep
        store 1
        end
    )",
                                "sleeper");
    EXPECT_TRUE(Call(script));
    EXPECT_EQ(script->GetRunState(), ScriptSleeping);
    EXPECT_EQ(script->GetSleepDuration(), 0.5f);
    float total = 0.0f;
    for (int frame = 0; frame < 2; ++frame) {
        script->Update(0.2f, UpdateRunning);
        total += 0.2f;
        EXPECT_EQ(script->GetRunState(), ScriptSleeping);
    }
    script->Update(0.2f, UpdateRunning);
    total += 0.2f;
    EXPECT_NE(script->GetRunState(), ScriptSleeping);
    EXPECT_EQ(script->GetVariables()[0], FloatToWord(total));

    // sleepframe resumes at the next update.
    Script* frame =
        MakeScript("var \"n\" int\nsleepframe\ndrop 1\n" + std::string(CountUp) + "end\n", "frame");
    EXPECT_TRUE(Call(frame));
    EXPECT_EQ(frame->GetVariables()[0], 0u);
    frame->Update(0.01f, UpdateRunning);
    EXPECT_EQ(frame->GetVariables()[0], 1u);
}

TEST_F(ScriptNodeTest, AWakeUpWithoutRoomForTheTimeSleptIsAStackOverflow) {
    Script* script = MakeScript("stack 2\npush 1\npush 2\nsleepframe\nend\n", "full");
    EXPECT_TRUE(Call(script));
    script->Update(0.1f, UpdateRunning);
    EXPECT_EQ(script->GetRunState(), ScriptErrorPending);
    EXPECT_EQ(LastError(), "Stack overflow");
}

TEST_F(ScriptNodeTest, AnExternalGotoTakesEffectAtTheTargetsNextUpdate) {
    Script* target = MakeScript(R"(var "got" int
        function "go" (int) at=@go
        end
        go:
        push 0
        push -1
        loadlocal 1
        store 1
        return 1 0
    )",
                                "target");
    const int32_t go = target->GetProgram()->FindFunction("go", -1);
    Script* sender = MakeScript(
        Fill("push $0\npush 6\nextgoto " + std::to_string(go) + " 1\nend\n", {target->GetId()}),
        "sender");
    EXPECT_TRUE(Call(sender));
    EXPECT_EQ(target->GetPendingGoto(), go);
    EXPECT_EQ(target->GetVariables()[0], 0u);
    target->Update(0.1f, UpdateRunning);
    EXPECT_EQ(target->GetPendingGoto(), -1);
    EXPECT_EQ(target->GetVariables()[0], 6u);
}

TEST_F(ScriptNodeTest, WritingParentAcrossIdSystemsRenamesTheScriptsReferences) {
    Node* root = Make<Node>();
    root->SetIdSystem(5);
    Node* mover = Make<Node>();
    const uint32_t oldId = mover->GetId();
    Node* other = Make<Node>();
    Script* script = MakeScript(Fill(R"(var "held" entity
        var "list" array count=2 elem=entity
        var "kept" entity
        var "count" int
        local "mine" entity offset=0 first=@main last=@done
        local "gone" entity offset=1 first=@done last=@done
        main:
        push $0
        push $0
        push $0
        push prop:Node.parent
        push $1
        setprop 1
        end
        done:
        end
    )",
                                     {oldId, root->GetId()}),
                                "mover");
    uint32_t* variables = script->GetVariables();
    variables[0] = oldId;
    variables[1] = oldId | 0x30000000; // a port survives
    variables[2] = oldId;
    variables[3] = other->GetId();
    variables[4] = oldId; // an int that happens to hold the id
    EXPECT_TRUE(Call(script)) << LastError();
    const uint32_t newId = mover->GetId();
    ASSERT_NE(newId, oldId);
    EXPECT_EQ(variables[0], newId);
    EXPECT_EQ(variables[1], newId | 0x30000000);
    EXPECT_EQ(variables[2], newId);
    EXPECT_EQ(variables[3], other->GetId());
    EXPECT_EQ(variables[4], oldId);
    EXPECT_EQ(StackOf(script), (std::vector<uint32_t>{newId, oldId}));
}

} // namespace
} // namespace quarn
