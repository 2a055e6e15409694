#include "core/object/Property.h"
#include "core/object/Signals.h"
#include "core/scenefile/NodeCloning.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptResource.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using test::ScriptRunTest;
using test::ScriptThing;

class ScriptNodeInterfaceTest : public ScriptRunTest {
protected:
    // Loads PROGRAM.scene: a root and a Script node named PROGRAM that runs PROGRAM.script, its
    // block ending with `values`. The Script node, or null.
    Script* LoadScriptScene(const std::string& program, const std::string& values) {
        std::string scene = "version = 44\nnum_nodes = 2\nobj1 {\n\tclass = \"Node\"\n"
                            "\tname = \"root\"\n\tflags = 1\n}\nobj2 {\n\tclass = \"Script\"\n"
                            "\tparent = 1\n\tflags = 1\n";
        scene += "\tname = \"" + program + "\"\n\tscriptfile = \"" + program + ".script\"\n";
        temp_.WriteFile(program + ".scene", scene + values + "}\n");
        Node* root = LoadSceneFile((program + ".scene").c_str(), 0, 0, nullptr, nullptr, nullptr);
        if (!root) {
            return nullptr;
        }
        made_.push_back(root->GetSerial());
        return dynamic_cast<Script*>(root->GetChild(0));
    }
    // A program that names one public variable twice, which its load refuses.
    void WriteRefused(const std::string& name) {
        ScriptProgramBuilder builder;
        builder.AddVariable("status", TypeInt, IdentifierPublicVariable);
        builder.AddVariable("STATUS", TypeInt, IdentifierPublicVariable);
        builder.Command(32, {});
        Write(builder, name);
    }
    static std::string SaveBytes(Node& root, uint32_t flags) {
        std::string bytes;
        std::string error;
        EXPECT_TRUE(WriteSceneBytes(bytes, error, "", root, Guid(), 0, nullptr,
                                    SceneWriteRoot | flags))
            << error;
        return bytes;
    }
};

// A public counter, a public text, and a "start" and "update" that count.
constexpr const char* Counter = R"(var "count" int kind=2
    var "label" string kind=2
    function "start" () at=@start
    function "update" (float, int) at=@update
    start:
    push 0
    push 0
    load 1
    push 1
    op int "+(int):int"
    store 1
    return 0 0
    update:
    push 0
    push 0
    load 1
    push 1
    op int "+(int):int"
    store 1
    return 2 0
)";

TEST_F(ScriptNodeInterfaceTest, ASceneFilesScriptsRunAndKeepTheirTextsAfterTheLoad) {
    ScriptProgramBuilder builder;
    builder.SetStackSize(16);
    std::string error;
    ASSERT_TRUE(AssembleScript(Counter, builder, error)) << error;
    Write(builder, "counter");
    Script* script = LoadScriptScene("counter", "\tlabel = \"kept after the load\"\n");
    ASSERT_NE(script, nullptr);
    Node* root = script->GetParent();
    EXPECT_STREQ(script->GetScriptFile(), "counter.script");
    SendSignal("start", nullptr, true);
    EXPECT_EQ(script->ReadVariable<int32_t>("count"), 1);
    // The scene update reaches the script while the game runs, as it does while it is stopped.
    GameRunning = true;
    UpdateNodeTree(root);
    GameRunning = false;
    UpdateNodeTree(root);
    EXPECT_EQ(script->ReadVariable<int32_t>("count"), 3);

    // The temporary ring wraps over whatever the load left in it.
    for (int i = 0; i < 200; ++i) {
        PutTempString(std::string(1000, 'x'));
    }
    const uint32_t label = script->ReadVariable<uint32_t>("label");
    EXPECT_STREQ(LookupText(label), "kept after the load");
    // Setting it again gives the old copy back rather than using the arena up.
    const Property* property = script->FindAnyProperty("label");
    ASSERT_NE(property, nullptr);
    for (int i = 0; i < 1000; ++i) {
        property->SetFromText(*script, "again");
    }
    EXPECT_EQ(property->GetAsText(*script), "again");

    // The same file in other letters keeps the run.
    ASSERT_TRUE(script->StartFunction(0, 0, nullptr, true));
    script->SetScriptFile("COUNTER.script");
    EXPECT_EQ(script->GetRunState(), int(ScriptRunning));
    EXPECT_EQ(script->GetContext()->Frames().size(), 1u);
}

// The program's class holds its public variables as properties by name without case: a symbol
// file with one name twice is refused at load, so a save of its node writes no value twice for
// the next load to read both into the first.
TEST_F(ScriptNodeInterfaceTest, AProgramNamingAPublicVariableTwiceIsRefusedAndNoSaveRepeatsIt) {
    WriteRefused("twice");
    Script* script = LoadScriptScene("twice", "\tstatus = 68\n\tSTATUS = 0\n");
    ASSERT_NE(script, nullptr);
    EXPECT_EQ(script->GetProgram()->GetCode(), nullptr);
    EXPECT_TRUE(log_.Contains("not loaded: two public variables are named \"STATUS\""));
    // The lines the refused program could not take are written back as read, each once.
    const std::string bytes = SaveBytes(*script->GetParent(), 0);
    EXPECT_NE(bytes.find("\tscriptfile = \"twice.script\"\n\tstatus = 68\n\tSTATUS = 0\n}"),
              std::string::npos)
        << bytes;
    std::string lower = bytes;
    ToLowerAscii(lower.data());
    EXPECT_EQ(lower.find("status", lower.find("status = 0") + 1), std::string::npos) << bytes;
}

// The values of a Script whose program is missing or refused outlive every save of the scene
// until the program loads, which then takes them as a load would have.
TEST_F(ScriptNodeInterfaceTest, AProgramThatDoesNotLoadLosesNoValueOfItsScriptToASave) {
    const std::string values = "\tstatus = 68\n\tlabel = \"two\nlines = 3\"\n\tspeed = 2.50\n";
    auto mend = [&](const std::string& name) {
        ScriptProgramBuilder builder;
        builder.AddVariable("status", TypeInt, IdentifierPublicVariable);
        builder.AddVariable("label", TypeString, IdentifierPublicVariable);
        builder.AddVariable("speed", TypeFloat, IdentifierPublicVariable);
        builder.Command(32, {});
        Write(builder, name);
    };
    auto expectValues = [](Script* script) {
        ASSERT_NE(script, nullptr);
        EXPECT_EQ(script->ReadVariable<int32_t>("status"), 68);
        EXPECT_STREQ(LookupText(script->ReadVariable<uint32_t>("label")), "two\nlines = 3");
        EXPECT_EQ(script->ReadVariable<float>("speed"), 2.5f);
        EXPECT_TRUE(script->GetHeldLines()->IsEmpty());
    };
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused" : "missing");
        const std::string name = refused ? "refused" : "missing";
        if (refused) {
            WriteRefused(name);
        }
        log_.Clear();
        Script* script = LoadScriptScene(name, values);
        ASSERT_NE(script, nullptr);
        EXPECT_TRUE(log_.Contains("unknown property 'status' of class Script: its value is kept "
                                  "for the save"));
        const std::string first = SaveBytes(*script->GetParent(), 0);
        EXPECT_NE(first.find("\tscriptfile = \"" + name + ".script\"\n" + values + "}"),
                  std::string::npos)
            << first;
        const std::string packed = SaveBytes(*script->GetParent(), SceneCompact);
        // A copy carries them, as the editor's copies and undo states do.
        Node* copy = CloneNode(*script, false, true, false, nullptr);
        ASSERT_NE(copy, nullptr);
        made_.push_back(copy->GetSerial());
        ASSERT_NE(copy->GetHeldLines(), nullptr);
        EXPECT_EQ(copy->GetHeldLines()->lines.size(), 3u);
        copy->Delete();

        // Loaded again from either save and saved again in either form: byte for byte.
        script->GetParent()->Delete();
        temp_.WriteFile(name + "2.scene", first);
        temp_.WriteFile(name + "2.scn", packed);
        // The ids move with a new load; the Script's block does not.
        auto block = [&](const std::string& bytes) { return bytes.substr(bytes.find(name + ".")); };
        Node* fromPacked = LoadSceneFile((name + "2.scn").c_str(), 0, SceneCompact, nullptr,
                                         nullptr, nullptr);
        ASSERT_NE(fromPacked, nullptr);
        made_.push_back(fromPacked->GetSerial());
        EXPECT_EQ(block(SaveBytes(*fromPacked, 0)), block(first));
        EXPECT_EQ(block(SaveBytes(*fromPacked, SceneCompact)), block(packed));
        fromPacked->Delete();
        Node* again = LoadSceneFile((name + "2.scene").c_str(), 0, 0, nullptr, nullptr, nullptr);
        ASSERT_NE(again, nullptr);
        made_.push_back(again->GetSerial());
        EXPECT_EQ(block(SaveBytes(*again, 0)), block(first));

        // Mended and reloaded, the program takes the values, and the next save writes them as
        // its own.
        mend(name);
        script = dynamic_cast<Script*>(again->GetChild(0));
        ASSERT_NE(script, nullptr);
        ASSERT_TRUE(script->GetProgram()->Load());
        expectValues(script);
        const std::string mended = SaveBytes(*again, 0);
        EXPECT_NE(mended.find("\tstatus = 68\n"), std::string::npos) << mended;
        EXPECT_EQ(mended.find("status", mended.find("status") + 1), std::string::npos) << mended;
        again->Delete();
        // And so does the next load of the scene saved while the program was missing.
        Node* next = LoadSceneFile((name + "2.scene").c_str(), 0, 0, nullptr, nullptr, nullptr);
        ASSERT_NE(next, nullptr);
        made_.push_back(next->GetSerial());
        expectValues(dynamic_cast<Script*>(next->GetChild(0)));
        next->Delete();
        next = LoadSceneFile((name + "2.scn").c_str(), 0, SceneCompact, nullptr, nullptr, nullptr);
        ASSERT_NE(next, nullptr);
        made_.push_back(next->GetSerial());
        expectValues(dynamic_cast<Script*>(next->GetChild(0)));
        next->Delete();
    }
}

// A compact file written while the program loaded keeps the values it numbers through a load
// and save without the program.
TEST_F(ScriptNodeInterfaceTest, ACompactFileKeepsTheValuesItsMissingProgramNumbers) {
    ScriptProgramBuilder builder;
    builder.AddVariable("status", TypeInt, IdentifierPublicVariable);
    builder.AddVariable("label", TypeString, IdentifierPublicVariable);
    builder.Command(32, {});
    Write(builder, "packed");
    Script* script = LoadScriptScene("packed", "\tstatus = 68\n\tlabel = \"kept\"\n");
    ASSERT_NE(script, nullptr);
    const std::string packed = SaveBytes(*script->GetParent(), SceneCompact);
    script->GetParent()->Delete();
    WriteRefused("packed");
    Load("packed")->Load();

    temp_.WriteFile("packed.scn", packed);
    log_.Clear();
    Node* root = LoadSceneFile("packed.scn", 0, SceneCompact, nullptr, nullptr, nullptr);
    ASSERT_NE(root, nullptr);
    made_.push_back(root->GetSerial());
    EXPECT_TRUE(log_.Contains("they are kept for the save"));
    // The ids move with a new load; the Script's block does not.
    auto block = [](const std::string& bytes) { return bytes.substr(bytes.find("packed.script")); };
    EXPECT_EQ(block(SaveBytes(*root, SceneCompact)), block(packed));
    std::string bytes;
    std::string error;
    EXPECT_FALSE(WriteSceneBytes(bytes, error, "", *root, Guid(), 0, nullptr, SceneWriteRoot));
    EXPECT_NE(error.find("text form cannot hold"), std::string::npos) << error;

    Write(builder, "packed");
    script = dynamic_cast<Script*>(root->GetChild(0));
    ASSERT_NE(script, nullptr);
    ASSERT_TRUE(script->GetProgram()->Load());
    EXPECT_EQ(script->ReadVariable<int32_t>("status"), 68);
    EXPECT_STREQ(LookupText(script->ReadVariable<uint32_t>("label")), "kept");
    EXPECT_TRUE(script->GetHeldLines()->IsEmpty());
    EXPECT_EQ(block(SaveBytes(*root, SceneCompact)), block(packed));
}

TEST_F(ScriptNodeInterfaceTest, AnotherProgramsChangeIsIgnoredAndAReloadKeepsTheVariables) {
    Script* one = MakeScript("var \"a\" int\nend\n", "one");
    Script* other = MakeScript("end\n", "other");
    one->GetVariables()[0] = 7;
    one->SetRunState(ScriptSleeping);
    one->OnScriptChanged(other->GetProgram());
    EXPECT_EQ(one->GetRunState(), int(ScriptSleeping));

    // Reloaded with one more variable: the old words stay.
    ScriptProgramBuilder builder;
    std::string error;
    ASSERT_TRUE(AssembleScript("var \"a\" int\nvar \"b\" int\nend\nend\n", builder, error));
    Write(builder, "one");
    ASSERT_TRUE(one->GetProgram()->Load());
    EXPECT_EQ(one->GetRunState(), int(ScriptReady));
    ASSERT_EQ(one->GetVariableCount(), 2u);
    EXPECT_EQ(one->GetVariables()[0], 7u);
}

TEST_F(ScriptNodeInterfaceTest, ReferencesFollowMovesAndADeletionClearsOnlySingleVariables) {
    Script* script = MakeScript(R"(var "target" entity
        var "list" 15 elem=entity count=2
        end
    )",
                                "refs");
    ScriptThing* thing = Make<ScriptThing>();
    script->GetVariables()[0] = thing->GetId();
    script->GetVariables()[1] = thing->GetId();
    script->RebuildReferences();
    EXPECT_EQ(script->GetReferenceCount(), 3u);

    const uint32_t moved = thing->GetId() + 100;
    thing->ChangeId(moved);
    EXPECT_EQ(script->GetVariables()[0], moved);
    EXPECT_EQ(script->GetVariables()[1], moved);

    thing->Delete();
    EXPECT_EQ(script->GetVariables()[0], 0u);
    EXPECT_EQ(script->GetVariables()[1], moved);
}

TEST_F(ScriptNodeInterfaceTest, PortsCarryEventsInAndReferencesOut) {
    Script* empty = Make<Script>();
    EXPECT_EQ(empty->GetInputCount(), 0);
    EXPECT_EQ(empty->GetOutputCount(), 0);
    EXPECT_STREQ(empty->GetInputName(0), "");
    EXPECT_STREQ(empty->GetOutputName(0), "");
    EXPECT_EQ(empty->GetPortValue(0).GetId(), 0u);

    Script* script = MakeScript(R"(var "from" entity
        var "what" entity
        var "value" float
        var "done" entity kind=2 hint="signal"
        function "hit" (entity, entity, float) at=@hit port
        hit:
        push 0
        push -3
        loadlocal 1
        store 1
        push 1
        push -2
        loadlocal 1
        store 1
        push 2
        push -1
        loadlocal 1
        store 1
        return 3 0
    )",
                                "ports");
    ASSERT_EQ(script->GetInputCount(), 1);
    ASSERT_EQ(script->GetOutputCount(), 1);
    EXPECT_STREQ(script->GetInputName(0), "hit");
    EXPECT_STREQ(script->GetOutputName(0), "done");
    EXPECT_STREQ(script->GetInputName(1), "<none>");

    ScriptThing* sender = Make<ScriptThing>();
    ScriptThing* argument = Make<ScriptThing>();
    EntityRef from;
    from.InitFromId(sender->GetId());
    EntityRef to;
    to.InitFromId(script->GetId());
    Entity::SendEvent(from, to, argument, 2.5f);
    EXPECT_EQ(script->GetVariables()[0], sender->GetId());
    EXPECT_EQ(script->GetVariables()[1], argument->GetId());
    EXPECT_EQ(script->GetVariables()[2], FloatToWord(2.5f));

    script->SetPortValue(0, from);
    EXPECT_EQ(script->GetPortValue(0).GetId(), sender->GetId());
    EXPECT_EQ(script->GetReferenceCount(), 3u); // from, what and done hold entities
}

// A port function takes the words it declares, as a witness function does: a shorter list the
// first of (sender, argument, value), a longer one zeros past them, never other words.
TEST_F(ScriptNodeInterfaceTest, APortFunctionTakesTheFirstOfTheWordsItDeclares) {
    Script* script = MakeScript(R"(var "seen" array count=4 elem=int
        function "two" (entity, entity) at=@two port
        function "one" (entity) at=@one port
        function "four" (entity, entity, float, int) at=@four port
        two:
        push 0
        push -2
        loadlocal 2
        store 2
        return 2 0
        one:
        push 0
        push -1
        loadlocal 1
        store 1
        return 1 0
        four:
        push 0
        push -4
        loadlocal 4
        store 4
        return 4 0
    )",
                                "forms");
    ASSERT_EQ(script->GetInputCount(), 3);
    ScriptThing* sender = Make<ScriptThing>();
    ScriptThing* argument = Make<ScriptThing>();
    EntityRef from;
    from.InitFromId(sender->GetId());
    const uint32_t s = sender->GetId(), a = argument->GetId(), v = FloatToWord(2.5f);
    const std::vector<uint32_t> expected[] = {{s, a, 0, 0}, {s, 0, 0, 0}, {s, a, v, 0}};
    for (uint32_t port = 0; port < 3; ++port) {
        std::fill_n(script->GetVariables(), 4, 0u);
        EntityRef to;
        to.InitFromId(script->GetId() | port << PortShift);
        Entity::SendEvent(from, to, argument, 2.5f);
        EXPECT_EQ(std::vector<uint32_t>(script->GetVariables(), script->GetVariables() + 4),
                  expected[port])
            << port;
    }
}

TEST_F(ScriptNodeInterfaceTest, PropertyChangedRunsForPublicVariablesOnly) {
    Script* script = MakeScript(R"(var "shown" int kind=2
        var "hidden" int
        var "changes" int
        function "property_changed" () at=@changed
        changed:
        push 2
        push 2
        load 1
        push 1
        op int "+(int):int"
        store 1
        return 0 0
    )",
                                "changed");
    const Property* shown = script->FindAnyProperty("shown");
    ASSERT_NE(shown, nullptr);
    shown->SetFromText(*script, "5");
    EXPECT_EQ(script->ReadVariable<int32_t>("shown"), 5);
    EXPECT_EQ(script->ReadVariable<int32_t>("changes"), 1);
    EXPECT_EQ(shown->GetAsText(*script), "5");
    script->WriteVariable<int32_t>("hidden", 3);
    EXPECT_EQ(script->ReadVariable<int32_t>("changes"), 1);
}

TEST_F(ScriptNodeInterfaceTest, PlayAsksAboutProgramsThatAreNotLinkedAndNoStopsIt) {
    Script* unresolved = MakeScript(R"(include "later"
        fixup "run" word=1 hash=4
        line
        word 22 0xFFFFFFFF 0 0 0
        end
    )",
                                    "caller");
    ASSERT_EQ(unresolved->GetProgram()->GetLinkState(), uint32_t(ScriptUnresolved));
    dialogs_.Answer(0); // Yes
    EXPECT_TRUE(SendSignal("play", nullptr, true));
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs_.Dialogs()[0].title, "Script alert!");
    EXPECT_EQ(dialogs_.Dialogs()[0].type, 0x134u);
    EXPECT_EQ(dialogs_.Dialogs()[0].text,
              std::string("Script '") + unresolved->GetProgram()->GetFullPath() +
                  "' is not linked correctly (externals are unresolved). Do you want to continue "
                  "anyway?\n(Unresolved identifier 'run' on line 2)");
    unresolved->Delete();

    Script* missing = Make<Script>();
    missing->SetScriptFile("nowhere.script");
    dialogs_.Answer(1); // No
    EXPECT_FALSE(SendSignal("play", nullptr, true));
    EXPECT_NE(dialogs_.Dialogs().back().text.find("is not compiled correctly"), std::string::npos);
}

TEST_F(ScriptNodeInterfaceTest, VariablesByNameCopyNoMoreThanBothSidesHold) {
    Script* script = MakeScript(R"(var "number" int
        var "position" float3
        var "text" 32
        end
    )",
                                "byname");
    script->WriteVariable<Float3>("POSITION", Float3{1.0f, 2.0f, 3.0f});
    EXPECT_EQ(script->ReadVariable<Float3>("position").z, 3.0f);
    // A string64 read of a one-word variable takes that word only.
    script->WriteVariable<int32_t>("number", 0x41);
    EXPECT_STREQ(script->ReadVariable<String64>("number").text, "A");
    // An int written into the string64 variable touches its first word only.
    uint32_t* text = script->GetVariables() + 4;
    text[1] = 0x12345678;
    script->WriteVariable<int32_t>("text", 0x42);
    EXPECT_EQ(text[0], 0x42u);
    EXPECT_EQ(text[1], 0x12345678u);
    uint32_t word = 0;
    EXPECT_FALSE(script->GetVariable("absent", &word, 1));
    EXPECT_FALSE(Make<Script>()->SetVariable("number", &word, 1));
}

TEST_F(ScriptNodeInterfaceTest, FrameQueriesPastTheCallDepthAnswerNone) {
    Script* script = MakeScript("sleepframe\nend\n", "frames");
    EXPECT_EQ(Script::GetCallDepth(), 0);
    EXPECT_EQ(script->GetFrameInstance(0).value, script->GetId());
    EXPECT_EQ(script->GetFrameInstance(1).value, 0u);
    EXPECT_EQ(script->GetFrameLine(1), -1);

    ASSERT_TRUE(script->StartFunction(0, 0, nullptr, true));
    CurrentScriptContextScope current(script->GetContext());
    EXPECT_EQ(Script::GetCallDepth(), 1);
    for (int32_t frame : {2, 100, 0x7FFFFFFF}) {
        EXPECT_EQ(script->GetFrameInstance(frame).value, 0u) << frame;
        EXPECT_EQ(script->GetFrameLine(frame), -1) << frame;
    }
}

TEST_F(ScriptNodeInterfaceTest, ADeletedScriptHearsNoSignalAndTeardownClearsTheCallbacks) {
    const std::string start = "function \"start\" () at=0\nreturn 0 0\n";
    Script* kept = MakeScript(start, "kept");
    Script* deleted = MakeScript(start, "deleted");
    ASSERT_EQ(GetSignalListenerCount("start"), 2);
    deleted->Delete();
    EXPECT_EQ(GetSignalListenerCount("start"), 1);
    SendSignal("start", nullptr, true);

    EngineState = EngineShuttingDown;
    kept->Delete();
    EngineState = EngineRunning;
    EXPECT_EQ(GetSignalListenerCount("start"), 0);
}

TEST_F(ScriptNodeInterfaceTest, StatusTextsAndTheClassFollowTheProgram) {
    Script* empty = Make<Script>();
    EXPECT_EQ(empty->GetClass(), Script::RegisterClass());
    EXPECT_EQ(empty->GetStatusText(1), "line: not running");
    Script* script = MakeScript("line\nsleepframe\nend\n", "status");
    EXPECT_STREQ(script->GetClass()->GetName(), "Script_status");
    EXPECT_STREQ(script->GetDescription().Text(), "status");
    EXPECT_EQ(Script::FindByScriptName("STATUS"), script);
    ASSERT_TRUE(script->StartFunction(0, 0, nullptr, true));
    script->Update(0.0f, UpdateRunning);
    EXPECT_EQ(script->GetStatusText(0), "SLEEPING ");
    EXPECT_EQ(script->GetStatusText(1), "line: 2");
    EXPECT_EQ(script->GetStatusText(2), "callstack:");
}

} // namespace
} // namespace quarn
