#include "script/machine/ScriptFastCode.h"

#include "script/machine/ScriptOperators.h"
#include "tests/script/machine/ScriptRunSupport.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace quarn::test {

namespace {

// Programs run through the plain path and through the translated form, stopped by the step
// limit after every command count in turn: both must leave the same machine behind.
struct Program {
    const char* name;
    const char* source; // "$0" is a ScriptTestThing's id
    std::vector<uint32_t> arguments;
};

const Program Programs[] = {
    {"sum of i % 7 with a do-while loop",
     R"asm(function "f" (int, int):int at=@f
f:
    push 0
loop:
    push 0
    push 0
    loadlocal 1
    push -2
    loadlocal 1
    push 7
    op int "%(int):int"
    op int "+(int):int"
    storelocal 1
    push -2
    push -2
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    push -2
    loadlocal 1
    push -1
    loadlocal 1
    op int "<=(int):bool"
    jumpif loop
    push 0
    loadlocal 1
    return 3 1
)asm",
     {3, 12}},
    {"recursion",
     R"asm(function "fib" (int):int at=@fib
fib:
    push -1
    loadlocal 1
    push 2
    op int "<(int):bool"
    jumpifnot recurse
    push -1
    loadlocal 1
    return 1 1
recurse:
    push -1
    loadlocal 1
    push 1
    op int "-(int):int"
    call @fib
    push -1
    loadlocal 1
    push 2
    op int "-(int):int"
    call @fib
    op int "+(int):int"
    return 1 1
)asm",
     {5}},
    {"recursion past the frames",
     R"asm(f:
    push -1
    loadlocal 1
    push 1
    op int "+(int):int"
    call @f
    return 1 1
)asm",
     {0}},
    {"calls past the frames",
     R"asm(f:
    call @f
)asm",
     {}},
    {"an array in the variables",
     R"asm(var "flags" array count=6 elem=int
    push 0
    push 0
    storelocal 1
fill:
    push 0
    push 0
    loadlocal 1
    elemaddr 6 1
    push 0
    loadlocal 1
    push 3
    op int "*(int):int"
    store 1
    push 0
    push 0
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    push 0
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpif fill
    push 0
    push 2
    elemaddr 6 1
    load 1
    push 0
    push 5
    elemaddr 6 1
    load 1
    op int "+(int):int"
    end
)asm",
     {7}}, // one past the array: the index error at its last round
    {"operators on ints, floats and bools",
     R"asm(
    push -1
    loadlocal 1
    push 3
    op int "<<(int):int"
    push -1
    loadlocal 1
    op int ">>(int):int"
    push 0x7FFFFFFF
    op int "*(int):int"
    push -1
    loadlocal 1
    op int "-():int"
    op int "^(int):int"
    op int "~():int"
    dup 1
    op int "++()"
    op int "--()"
    push 3
    op int "/(int):int"
    push 1
    tofloat 0 2
    op float "/(float):float"
    pushf 0.5
    op float "*(float):float"
    pushf -0.0
    op float "-(float):float"
    dup 1
    pushf 2.5
    op float "<(float):bool"
    push 1
    op bool "^^(bool):bool"
    op bool "!():bool"
    push 0
    op bool "||(bool):bool"
    drop 1
    op float "-():float"
    pushf 0.0
    pushf 0.0
    op float "/(float):float"
    op float ">=(float):bool"
    end
)asm",
     {uint32_t(-9)}},
    {"division by a zero word reports and goes on",
     R"asm(
    push 7
    push -1
    loadlocal 1
    op int "/(int):int"
    push 5
    push -1
    loadlocal 1
    op int "%(int):int"
    pushf 1.0
    push -1
    loadlocal 1
    op float "/(float):float"
    push 3
    push 0
    op int "/(int):int"
    end
)asm",
     {0}},
    {"a copy of a local taken before the local is written",
     R"asm(
    push 5
    push 0
    loadlocal 1
    dup 1
    push 0
    push 9
    storelocal 1
    op int "+(int):int"
    push 0
    loadlocal 1
    op int "-(int):int"
    push 1
    push 0
    loadlocal 1
    storelocal 1
    push 1
    push 4
    tofloat 1 1
    push 0
    jumpifnot skip
    push 8
skip:
    op int "==(int):bool"
    end
)asm",
     {}},
    {"method, engine function and a constant compare",
     R"asm(
    push $0
    push 6
    method method:ScriptTestThing.twice 1
    func $F
    push 2
    push 24
    op int "==(int):bool"
    jumpif done
    push 1
    jumpifnot done
done:
    push 100
    push -1
    loadlocal 1
    elemaddr 4 2
    sleepframe
    end
)asm",
     {3}},
    {"words below the frame and a long straight run",
     R"asm(
    drop 1
    push 1
    dup 1
    dup 2
    dup 4
    dup 8
    dup 8
    op int "+(int):int"
    op int "+(int):int"
    op int "+(int):int"
    op int "+(int):int"
    op int "+(int):int"
    drop 9
    push 3
    index 3 1
    end
)asm",
     {4}},
};

} // namespace

class ScriptFastCodeTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        // The engine's own operators, whose bodies the translation recognises.
        DeleteAllValueTypes();
        RegisterScriptOperators();
    }
    void TearDown() override {
        ScriptTranslatedRuns = true;
        ScriptRunTest::TearDown();
    }

    // A "changer" script whose id no small number a program leaves can equal: a description
    // masks the arguments' ids, and an id that earlier tests left next in line could otherwise
    // mask a result on one path only.
    uint32_t MakeCalleeAboveSmallIds() {
        std::vector<Script*> spares;
        Script* callee = Make<Script>();
        while ((callee->GetId() & LocalIdMask) < 0x100) {
            spares.push_back(callee);
            callee = Make<Script>();
        }
        for (Script* spare : spares) {
            spare->Delete();
        }
        callee->SetScriptFile("changer.script");
        return callee->GetId();
    }

    // Everything the run leaves to be seen: the call's answer, the run state, the stacks, the
    // frames, the positions, the variables and every dialog shown.
    std::string RunAndDescribe(const std::string& name, const std::vector<uint32_t>& arguments,
                               bool translated, uint32_t limit, const char* function = nullptr,
                               bool maskArguments = false) {
        ScriptTranslatedRuns = translated;
        ScriptStepLimit = limit;
        const size_t dialogsBefore = dialogs_.Dialogs().size();
        Script* script = Make<Script>();
        script->SetScriptFile((name + ".script").c_str());
        std::ostringstream out;
        out << "answer " << Call(script, arguments, function) << " state " << script->GetRunState();
        if (const ScriptContext* context = script->GetContext()) {
            out << "\nposition " << context->GetPosition() << " command "
                << context->GetCommandOffset() << "\nstack";
            for (uint32_t word : StackOf(script)) {
                // Entities made for each path differ in id only.
                const bool masked =
                    maskArguments && word != 0 &&
                    std::find(arguments.begin(), arguments.end(), word) != arguments.end();
                out << ' ' << (masked ? "id" : std::to_string(word));
            }
            out << "\nframes";
            for (const ScriptCallFrame& frame : context->Frames()) {
                out << " (" << frame.entry << ' ' << frame.returnPosition << ' ' << frame.frameBase
                    << ' ' << frame.outermost << ' ' << (frame.caller == script) << ')';
            }
        }
        out << "\nvariables";
        for (uint32_t i = 0; i < script->GetVariableCount(); ++i) {
            out << ' ' << script->GetVariables()[i];
        }
        for (size_t i = dialogsBefore; i < dialogs_.Dialogs().size(); ++i) {
            out << "\ndialog " << dialogs_.Dialogs()[i].title << ": " << dialogs_.Dialogs()[i].text;
        }
        script->Delete();
        ScriptTranslatedRuns = true;
        ScriptStepLimit = MaxScriptSteps;
        return out.str();
    }
};

TEST_F(ScriptFastCodeTest, EveryProgramStopsTheSameAfterEveryCommandCount) {
    ScriptThing* thing = Make<ScriptThing>();
    for (const Program& program : Programs) {
        const std::string source =
            "stack 24\nvar \"pad\" int\n" + Fill(program.source, {thing->GetId()}) + "\n";
        MakeScript(source, "compared")->Delete();
        // From one command on, until a run ends before the limit.
        for (uint32_t limit = 1; limit < 5000; ++limit) {
            const std::string plain = RunAndDescribe("compared", program.arguments, false, limit);
            const std::string translated =
                RunAndDescribe("compared", program.arguments, true, limit);
            ASSERT_EQ(translated, plain) << program.name << ", step limit " << limit;
            if (plain.find("Infinite loop detected") == std::string::npos) {
                break;
            }
        }
    }
}

} // namespace quarn::test

namespace quarn::test {

// The translation follows the code and the operator tables: a word written into the code, a
// breakpoint armed over it, or an operator registered anew all count from the next run on.
TEST_F(ScriptFastCodeTest, ARunSeesTheCodeAndOperatorsAsTheyAreNow) {
    Script* script = MakeScript(R"asm(
    push 2
    push 3
    op int "+(int):int"
    end
)asm",
                                "changing");
    ASSERT_TRUE(Call(script));
    EXPECT_EQ(StackOf(script), std::vector<uint32_t>{5});

    script->GetProgram()->EditCode()[3] = 30; // push 30
    ASSERT_TRUE(Call(script));
    EXPECT_EQ(StackOf(script).back(), 32u);

    // "+" replaced by a body of the test's own, which no translation knows.
    GetScriptValueType(TypeInt)->AddOperator(
        "+(int):int", int(script->GetProgram()->GetCode()[5] & 0xFFFF),
        [](ScriptValueStack& stack) {
            const int32_t right = stack.PopInt();
            stack.PushInt(stack.PopInt() * 100 + right);
        },
        0);
    ASSERT_TRUE(Call(script));
    EXPECT_EQ(StackOf(script).back(), 230u);

    // Calls that change nothing keep the form the last one made.
    const uint64_t made = ScriptFastCode::MadeCount();
    ASSERT_TRUE(Call(script));
    ASSERT_TRUE(Call(script));
    EXPECT_LE(ScriptFastCode::MadeCount(), made + 1);

    // A breakpoint at the operator stops the run there, for the debugger.
    const ScopedScriptDebugger debugger;
    ScriptResource* program = script->GetProgram();
    program->Breakpoints().push_back({4, 0, 2});
    program->ArmBreakpoints();
    Call(script);
    EXPECT_EQ(script->GetRunState(), ScriptDebug);
    EXPECT_EQ(script->GetContext()->GetPosition(), 4u);
}

} // namespace quarn::test

namespace quarn::test {

namespace {

// Writes a word of the running program's code, as a debugger or a live edit may.
void TestFunctionPatch(int32_t offset, int32_t word) {
    if (ScriptContext* context = GetCurrentScriptContext()) {
        context->GetCurrentInstance()->GetProgram()->EditCode()[offset] = uint32_t(word);
    }
}

// The engine function's index, registered on first use.
template <auto Function>
int TestFunctionIndex(const char* name, const char* signature) {
    static const int index = [&] {
        const int registered = GetRegisteredFunctionCount();
        auto function = std::make_unique<MethodInfo>(name, signature);
        function->Bind(BindMethod<Function>());
        RegisterFunction(std::move(function));
        return registered;
    }();
    return index;
}

int PatchFunction() {
    return TestFunctionIndex<&TestFunctionPatch>("testpatch", "(int,int)");
}

// What a callee may do to its caller during a call into another script: 1 writes the constant
// the caller pushes after the return, 2 arms a breakpoint at the return, 3 destroys the callee.
void TestCallerChange(int32_t how) {
    ScriptContext* context = GetCurrentScriptContext();
    if (!context || context->Frames().empty() || !context->Frames().back().caller) {
        return;
    }
    const ScriptCallFrame& frame = context->Frames().back();
    ScriptResource* program = frame.caller->GetProgram();
    if (how == 1) {
        program->EditCode()[frame.returnPosition + 1] = 40;
    } else if (how == 2) {
        program->Breakpoints().push_back(
            {frame.returnPosition, program->GetCode()[frame.returnPosition], 2});
        program->ArmBreakpoints(NoScriptPosition);
    } else if (how == 3) {
        context->GetCurrentInstance()->Delete();
    }
}

int CallerChangeFunction() {
    return TestFunctionIndex<&TestCallerChange>("testcallerchange", "(int)");
}

// A class whose method records a test makes anew.
class ScriptRebuilt : public TestClass<ScriptRebuilt, Node> {
public:
    static constexpr const char* Name = "ScriptTestRebuilt";
    static void Declare(ClassInfo& info) { Rebuild(info); }
    static void Rebuild(ClassInfo& info) {
        info.ClearMethods();
        info.AddMethod("twice", "(int):int", BindMethod<&ScriptRebuilt::Twice>(), MethodScript);
    }
    int32_t Twice(int32_t v) { return 2 * v; }
    int32_t Thrice(int32_t v) { return 3 * v; }
};

} // namespace

// What a call site keeps of its last target is checked on every call: calls whose entity, class,
// method table, called program or own code change between runs or during one give what the plain
// path gives.
TEST_F(ScriptFastCodeTest, CallsFollowTheirTargetsAsTheyChange) {
    MakeScript(R"asm(function "inc" (int):int at=@inc export
inc:
    push -1
    loadlocal 1
    push 1
    op int "+(int):int"
    return 1 1
)asm",
               "callee")
        ->Delete();
    MakeScript(R"asm(function "inc" (int):int at=@inc export
inc:
    push -1
    loadlocal 1
    return 1 1
)asm",
               "othercallee")
        ->Delete();
    ScriptRebuilt::RegisterClass();
    std::string source = R"asm(stack 24
include "callee"
fixup "inc" word=@inc+1 hash=@inc+4
function "methods" (int):int at=@methods
function "destroying" (int):int at=@destroying
function "outside" (int):int at=@outside
function "patched" ():int at=@patched
function "rebuilt" (int):int at=@rebuilt
methods:
    push -1
    loadlocal 1
    push 6
    method method:ScriptTestThing.twice 1
    push -1
    loadlocal 1
    method method:ScriptTestThing.poke 0
    op int "+(int):int"
    return 1 1
destroying:
    push -1
    loadlocal 1
    push 5
    method method:ScriptTestThing.twice 1
    push -1
    loadlocal 1
    func $D
    push -1
    loadlocal 1
    push 7
    method method:ScriptTestThing.twice 1
    op int "+(int):int"
    return 1 1
outside:
    push -1
    loadlocal 1
    push 41
inc:
    extcall 0xFFFFFFFF 1 0 0
    return 1 1
rebuilt:
    push -1
    loadlocal 1
    push 6
    method method:ScriptTestRebuilt.twice 1
    return 1 1
patched:
    push @constant+1
    push 20
    func $P
    push 3
constant:
    push 2
    op int "+(int):int"
    return 0 1
)asm";
    Replace(source, "$P", std::to_string(PatchFunction()));
    // Kept for the whole test, so that the translated form and its call sites live on.
    Script* holder = MakeScript(Fill(source, {}), "calling");
    Script* callee = Make<Script>();
    callee->SetScriptFile("callee.script");
    Script* otherCallee = Make<Script>();
    otherCallee->SetScriptFile("othercallee.script");
    ScriptPokeable* pokeable = Make<ScriptPokeable>();
    ScriptThing* thing = Make<ScriptThing>();
    ScriptRebuilt* rebuilt = Make<ScriptRebuilt>();

    // Each path gets the arguments `prepare` answers when called before its run.
    const auto compare = [&](const char* what, const char* function, const auto& prepare) {
        const std::string plain =
            RunAndDescribe("calling", prepare(), false, MaxScriptSteps, function, true);
        EXPECT_EQ(RunAndDescribe("calling", prepare(), true, MaxScriptSteps, function, true), plain)
            << what;
        return plain;
    };
    const auto idOf = [](const Entity* entity) {
        return [id = entity->GetId()] { return std::vector<uint32_t>{id}; };
    };

    EXPECT_NE(compare("a method", "methods", idOf(pokeable)).find("answer 1"), std::string::npos);
    compare("an entity of a class without the method", "methods", idOf(thing));
    compare("the first class again", "methods", idOf(pokeable));

    // The class's records made anew, bound elsewhere: the site's record is gone.
    EXPECT_NE(compare("a method", "rebuilt", idOf(rebuilt)).find("stack 12\n"), std::string::npos);
    ClassInfo* rebuiltClass = ScriptRebuilt::RegisterClass();
    rebuiltClass->ClearMethods();
    rebuiltClass->AddMethod("twice", "(int):int", BindMethod<&ScriptRebuilt::Thrice>(),
                            MethodScript);
    EXPECT_NE(compare("a method table made anew", "rebuilt", idOf(rebuilt)).find("stack 18\n"),
              std::string::npos);
    ScriptRebuilt::Rebuild(*rebuiltClass);

    // The entity a site called is destroyed between two of its calls, or before the run; an
    // entity made next may take its id.
    compare("destroyed mid-run", "destroying",
            [&] { return std::vector<uint32_t>{Make<ScriptThing>()->GetId()}; });
    compare("a destroyed entity's id", "methods", [&] {
        ScriptThing* gone = Make<ScriptThing>();
        const uint32_t id = gone->GetId();
        gone->Delete();
        return std::vector<uint32_t>{id};
    });
    compare("the entity made next", "methods",
            [&] { return std::vector<uint32_t>{Make<ScriptPokeable>()->GetId()}; });

    compare("a call into another script", "outside", idOf(callee));
    compare("a script of another program", "outside", idOf(otherCallee));
    callee->SetScriptFile("othercallee.script");
    compare("the callee's program changed", "outside", idOf(callee));
    callee->SetScriptFile("callee.script");
    compare("the callee's program back", "outside", idOf(callee));
    const auto calleeId = idOf(callee);
    callee->Delete();
    compare("a destroyed callee", "outside", calleeId);
    compare("not an entity", "outside", [] { return std::vector<uint32_t>{0}; });

    // An engine function writes the code after it: the rest of the run reads the new word.
    const uint32_t constant = uint32_t(holder->GetProgram()->FindFunction("patched", -1)) + 9;
    for (bool translated : {false, true}) {
        holder->GetProgram()->EditCode()[constant] = 2;
        ScriptTranslatedRuns = translated;
        Script* script = Make<Script>();
        script->SetScriptFile("calling.script");
        ASSERT_TRUE(Call(script, {}, "patched")) << translated;
        EXPECT_EQ(StackOf(script), std::vector<uint32_t>{23}) << translated;
        script->Delete();
    }
    holder->Delete();
}

// Whatever a callee does to its caller or to itself during a call into another script shows on
// the return as on the plain path, also where the return lands in code translated before.
TEST_F(ScriptFastCodeTest, ReturnsFromAnotherScriptSeeWhatTheCalleeChanged) {
    std::string calleeSource = R"asm(function "change" (int):int at=@change export
change:
    push -1
    loadlocal 1
    push 0
    op int ">(int):bool"
    jumpifnot pure
    push -1
    loadlocal 1
    func $X
pure:
    push 5
    return 1 1
)asm";
    Replace(calleeSource, "$X", std::to_string(CallerChangeFunction()));
    MakeScript(calleeSource, "changer")->Delete();
    // Twice through the same call site, the second time with the change: the return lands in
    // code translated on the first.
    const std::string source = R"asm(stack 24
include "changer"
fixup "change" word=@site+1 hash=@site+4
function "f" (int, int):int at=@f
f:
    push -2
    loadlocal 1
    push 0
    call @call
    push -2
    loadlocal 1
    push -1
    loadlocal 1
    call @call
    op int "+(int):int"
    return 2 1
call:
    push -2
    loadlocal 1
    push -1
    loadlocal 1
site:
    extcall 0xFFFFFFFF 1 0 0
    push 3
    op int "+(int):int"
    return 2 1
)asm";
    Script* holder = MakeScript(source, "changed");
    ScriptResource& program = *holder->GetProgram();
    // The code as the first call into the callee left it (with the callee's address linked).
    Script* linker = Make<Script>();
    linker->SetScriptFile("changer.script");
    ASSERT_NE(RunAndDescribe("changed", {linker->GetId(), 0}, false, MaxScriptSteps, "f")
                  .find("stack 16\n"),
              std::string::npos);
    const std::vector<uint32_t> code(program.GetCode(), program.GetCode() + program.GetCodeSize());

    const struct {
        const char* what;
        uint32_t how;
    } cases[] = {{"nothing outside", 0},
                 {"an engine function that leaves both alone", 4},
                 {"the caller's code written", 1},
                 {"a breakpoint at the return", 2},
                 {"the callee destroyed", 3}};
    for (const auto& c : cases) {
        std::string described[2];
        for (bool translated : {false, true}) {
            std::copy(code.begin(), code.end(), program.EditCode());
            program.Breakpoints().clear();
            described[translated] = RunAndDescribe("changed", {MakeCalleeAboveSmallIds(), c.how},
                                                   translated, MaxScriptSteps, "f", true);
        }
        EXPECT_EQ(described[1], described[0]) << c.what;
    }
    program.Breakpoints().clear();
    holder->Delete();
}

} // namespace quarn::test
