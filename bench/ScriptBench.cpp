// The script machine against Lua 5.4 on the same algorithms. The machine's programs are written
// as the compiler emits them: locals in the frame, addressed by an offset pushed before each
// load and store, arrays through element addresses into the instance's variables, arithmetic
// and comparisons through operator commands, and a compare and a conditional jump per loop
// test; the Lua sources (bench/lua) use locals and while loops to match. One run of the machine
// stops at its step limit, so the 10,000,000-iteration cases run as ten calls of 1,000,000
// iterations on both sides. Each case checks once that both sides compute the same result
// before it is timed, and the two sides are timed in alternating rounds.
#include "bench/BenchTiming.h"
#include "core/filesystem/DiskFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptResource.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <lua.hpp>
#include <memory>
#include <string>

namespace {

using namespace quarn;

// The node whose method both sides call: its argument plus a field.
class BenchNode : public Node {
public:
    static inline ClassInfo* classInfo = nullptr;
    static ClassInfo* RegisterClass() {
        if (!classInfo) {
            classInfo = new ClassInfo(
                "ScriptBenchNode", []() -> Entity* { return new BenchNode; }, &classInfo);
            classInfo->SetParent(Node::RegisterClass());
            classInfo->AddMethod("get", "(int):int", BindMethod<&BenchNode::Get>(), MethodScript);
        }
        return classInfo;
    }
    ClassInfo* GetClass() const override { return classInfo; }

    int32_t Get(int32_t value) { return value + field; }

    int32_t field = 3;
};

constexpr int32_t Iterations = 1000000;
constexpr int Calls = 10;
constexpr int32_t FibArgument = 27;

// A function of `signature` that runs `body` for i from argument -2 to argument -1 (the words
// below the frame base), with local 0 starting at 0 and answered at the end; `arguments` words
// are dropped with it.
std::string LoopProgram(const char* signature, int arguments, const char* body) {
    return std::string("stack 64\nfunction \"loop\" ") + signature + R"( at=@start
start:
    push 0
loop:
)" + body + R"(
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
    return )" +
           std::to_string(arguments) + " 1\n";
}

// total = total + i % 7
const char* const SumBody = R"(
    push 0
    push 0
    loadlocal 1
    push -2
    loadlocal 1
    push 7
    op int "%(int):int"
    op int "+(int):int"
    storelocal 1)";

// text = "item" + i
const char* const TextBody = R"(
    push 0
    text "item"
    push -2
    loadlocal 1
    op string "+(int):string"
    storelocal 1)";

// total = total + node.get(i), the node's id at -3
const char* const MethodBody = R"(
    push 0
    push 0
    loadlocal 1
    push -3
    loadlocal 1
    push -2
    loadlocal 1
    method method:ScriptBenchNode.get 1
    op int "+(int):int"
    storelocal 1)";

const char* const FibProgram = R"(
stack 256
function "fib" (int):int at=@fib
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
)";

// count over an n x n grid: count + j where (i * j) % 5 < 2, else count - 1; locals count,
// i, j at 0, 1, 2.
const char* const NestedProgram = R"(
stack 64
function "nested" (int):int at=@nested
nested:
    push 0
    push 0
    push 0
outer:
    push 1
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpifnot done
    push 2
    push 0
    storelocal 1
inner:
    push 2
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpifnot next
    push 1
    loadlocal 1
    push 2
    loadlocal 1
    op int "*(int):int"
    push 5
    op int "%(int):int"
    push 2
    op int "<(int):bool"
    jumpifnot else
    push 0
    push 0
    loadlocal 1
    push 2
    loadlocal 1
    op int "+(int):int"
    storelocal 1
    jump endif
else:
    push 0
    push 0
    loadlocal 1
    push 1
    op int "-(int):int"
    storelocal 1
endif:
    push 2
    push 2
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    jump inner
next:
    push 1
    push 1
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    jump outer
done:
    push 0
    loadlocal 1
    return 4 1
)";

// deep(n, a, b) = n == 0 ? a : deep(n - 1, b, (a + b) % 1009) + a; n, a, b at -3, -2, -1.
const char* const DeepProgram = R"(
stack 20000
function "deep" (int, int, int):int at=@deep
deep:
    push -3
    loadlocal 1
    push 0
    op int "==(int):bool"
    jumpifnot recurse
    push -2
    loadlocal 1
    return 3 1
recurse:
    push -3
    loadlocal 1
    push 1
    op int "-(int):int"
    push -1
    loadlocal 1
    push -2
    loadlocal 1
    push -1
    loadlocal 1
    op int "+(int):int"
    push 1009
    op int "%(int):int"
    call @deep
    push -2
    loadlocal 1
    op int "+(int):int"
    return 3 1
)";

constexpr int32_t SieveSize = 200000;

// The sieve over the instance's array "flags" (variable word 0); locals i, count, j at 0, 1, 2.
std::string SieveProgram() {
    std::string source = R"(
stack 64
var "flags" array count=SIZE elem=int
function "sieve" (int):int at=@sieve
sieve:
    push 0
    push 0
    push 0
fill:
    push 0
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpifnot marked
    push 0
    push 0
    loadlocal 1
    elemaddr SIZE 1
    push 1
    store 1
    push 0
    push 0
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    jump fill
marked:
    push 0
    push 2
    storelocal 1
scan:
    push 0
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpifnot done
    push 0
    push 0
    loadlocal 1
    elemaddr SIZE 1
    load 1
    push 1
    op int "==(int):bool"
    jumpifnot skip
    push 1
    push 1
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    push 2
    push 0
    loadlocal 1
    push 0
    loadlocal 1
    op int "+(int):int"
    storelocal 1
strike:
    push 2
    loadlocal 1
    push -1
    loadlocal 1
    op int "<(int):bool"
    jumpifnot skip
    push 0
    push 2
    loadlocal 1
    elemaddr SIZE 1
    push 0
    store 1
    push 2
    push 2
    loadlocal 1
    push 0
    loadlocal 1
    op int "+(int):int"
    storelocal 1
    jump strike
skip:
    push 0
    push 0
    loadlocal 1
    push 1
    op int "+(int):int"
    storelocal 1
    jump scan
done:
    push 1
    loadlocal 1
    return 4 1
)";
    for (size_t at = source.find("SIZE"); at != std::string::npos; at = source.find("SIZE")) {
        source.replace(at, 4, std::to_string(SieveSize));
    }
    return source;
}

// The other script: helper(x) = x % 13 + 1, exported.
const char* const HelperProgram = R"(
stack 64
function "helper" (int):int at=@helper export
helper:
    push -1
    loadlocal 1
    push 13
    op int "%(int):int"
    push 1
    op int "+(int):int"
    return 1 1
)";

// total = total + scale(i) + helper(i): the engine function by its index, the helper node's id
// at -3.
std::string CallsBody(int scaleFunction) {
    return R"(
    push 0
    push 0
    loadlocal 1
    push -2
    loadlocal 1
    func )" +
           std::to_string(scaleFunction) +
           R"(
    op int "+(int):int"
    push -3
    loadlocal 1
    push -2
    loadlocal 1
helper:
    extcall 0xFFFFFFFF 1 0 0
    op int "+(int):int"
    storelocal 1)";
}

const char* const CallsHeader = R"(include "helper"
fixup "helper" word=@helper+1 hash=@helper+4
)";

// The engine function both sides call.
int32_t Scale(int32_t value) {
    return (value & 15) * 3;
}

// Programs are compiled into a temporary base folder, beside an older source file, and loaded
// by the Script nodes as a game loads them.
class ProgramFolder {
public:
    ProgramFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarn-bench-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            std::fprintf(stderr, "cannot make a temporary folder\n");
            std::exit(1);
        }
        path_ = pattern;
        files_.SetBaseFolder(path_.c_str());
        SetFileSystem(&files_);
    }
    ~ProgramFolder() {
        SetFileSystem(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }

    Script* MakeScript(const std::string& source, const std::string& name) {
        ScriptProgramBuilder builder;
        std::string error;
        ScriptAssemblyOptions options;
        options.checkTypes = true;
        if (!AssembleScript(source, builder, error, options)) {
            Fail(name + ": " + error);
        }
        const std::string base = path_ + "/" + name;
        std::ofstream(base + ".script") << "// source\n";
        SetTime(base + ".script", 1000);
        if (!builder.Write(base, error)) {
            Fail(name + ": " + error);
        }
        SetTime(base + ".bin", 2000);
        SetTime(base + ".sym", 2000);
        auto* script = static_cast<Script*>(Script::RegisterClass()->CreateInstance());
        script->SetIdSystem(0);
        script->SetScriptFile((name + ".script").c_str());
        if (!script->GetProgram()) {
            Fail(name + ": the program does not load");
        }
        return script;
    }

    [[noreturn]] static void Fail(const std::string& reason) {
        std::fprintf(stderr, "script bench: %s\n", reason.c_str());
        std::exit(1);
    }

private:
    static void SetTime(const std::string& path, int64_t seconds) {
        std::filesystem::last_write_time(
            path, std::filesystem::file_time_type(std::chrono::seconds(seconds)));
    }

    std::string path_;
    DiskFileSystem files_;
};

uint32_t CallScript(Script* script, std::initializer_list<uint32_t> arguments) {
    uint32_t result = 0;
    if (!script->CallFunction(0, arguments.begin(), uint32_t(arguments.size()), &result, 1)) {
        ProgramFolder::Fail("a call of the machine failed");
    }
    return result;
}

// The same C++ method Lua's obj:get(i) reaches: the node rides in the table's upvalue.
int LuaGet(lua_State* state) {
    auto* node = static_cast<BenchNode*>(lua_touserdata(state, lua_upvalueindex(1)));
    const auto value = static_cast<int32_t>(luaL_checkinteger(state, 2));
    lua_pushinteger(state, node->Get(value));
    return 1;
}

// The engine function as Lua calls it.
int LuaScale(lua_State* state) {
    lua_pushinteger(state, Scale(static_cast<int32_t>(luaL_checkinteger(state, 1))));
    return 1;
}

class LuaState {
public:
    LuaState() : state_(luaL_newstate()) { luaL_openlibs(state_); }
    ~LuaState() { lua_close(state_); }
    LuaState(const LuaState&) = delete;
    LuaState& operator=(const LuaState&) = delete;

    // Runs bench/lua/NAME.lua and keeps the function it answers in the registry.
    int Load(const char* name) {
        const std::string path = std::string(QUARN_BENCH_LUA_DIR) + "/" + name + ".lua";
        if (luaL_dofile(state_, path.c_str()) != LUA_OK || !lua_isfunction(state_, -1)) {
            ProgramFolder::Fail(path + ": " + lua_tostring(state_, -1));
        }
        return luaL_ref(state_, LUA_REGISTRYINDEX);
    }
    // The function that the factory `factory` answers for LuaScale and the function `helper`;
    // kept in the registry.
    int MakeCalls(int factory, int helper) {
        lua_rawgeti(state_, LUA_REGISTRYINDEX, factory);
        lua_pushcfunction(state_, LuaScale);
        lua_rawgeti(state_, LUA_REGISTRYINDEX, helper);
        if (lua_pcall(state_, 2, 1, 0) != LUA_OK || !lua_isfunction(state_, -1)) {
            ProgramFolder::Fail("lua: the calls factory answers no function");
        }
        return luaL_ref(state_, LUA_REGISTRYINDEX);
    }
    // A table whose get method is LuaGet on the node; kept in the registry.
    int MakeObject(BenchNode* node) {
        lua_newtable(state_);
        lua_pushlightuserdata(state_, node);
        lua_pushcclosure(state_, LuaGet, 1);
        lua_setfield(state_, -2, "get");
        return luaL_ref(state_, LUA_REGISTRYINDEX);
    }

    // Calls the function with integer arguments (an object reference first when not 0).
    void Call(int function, int object, std::initializer_list<lua_Integer> arguments) {
        lua_rawgeti(state_, LUA_REGISTRYINDEX, function);
        int count = 0;
        if (object) {
            lua_rawgeti(state_, LUA_REGISTRYINDEX, object);
            ++count;
        }
        for (lua_Integer argument : arguments) {
            lua_pushinteger(state_, argument);
            ++count;
        }
        if (lua_pcall(state_, count, 1, 0) != LUA_OK) {
            ProgramFolder::Fail(std::string("lua: ") + lua_tostring(state_, -1));
        }
    }
    lua_Integer PopInteger() {
        const lua_Integer value = lua_tointeger(state_, -1);
        lua_pop(state_, 1);
        return value;
    }
    std::string PopText() {
        const char* text = lua_tostring(state_, -1);
        std::string value = text ? text : "";
        lua_pop(state_, 1);
        return value;
    }

private:
    lua_State* state_;
};

void Check(bool same, const char* name) {
    if (!same) {
        ProgramFolder::Fail(std::string(name) + ": the machine and Lua disagree");
    }
}

} // namespace

// With an argument, only the rows whose name holds it run (for a profile of one row).
int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    ProgramFolder folder;
    Script::RegisterClass();
    RegisterScriptOperators();
    auto* node = static_cast<BenchNode*>(BenchNode::RegisterClass()->CreateInstance());
    node->SetIdSystem(0);
    const int scaleFunction = GetRegisteredFunctionCount();
    auto scale = std::make_unique<MethodInfo>("benchscale", "(int):int");
    scale->Bind(BindMethod<&Scale>());
    RegisterFunction(std::move(scale));

    Script* loop = folder.MakeScript(LoopProgram("(int, int):int", 2, SumBody), "loop");
    Script* fib = folder.MakeScript(FibProgram, "fib");
    Script* text = folder.MakeScript(LoopProgram("(int, int):string", 2, TextBody), "text");
    Script* method = folder.MakeScript(LoopProgram("(entity, int, int):int", 3, MethodBody), "method");
    Script* nested = folder.MakeScript(NestedProgram, "nested");
    Script* deep = folder.MakeScript(DeepProgram, "deep");
    Script* sieve = folder.MakeScript(SieveProgram(), "sieve");
    // The helper loads first: the caller links to it when it loads.
    Script* helper = folder.MakeScript(HelperProgram, "helper");
    Script* calls = folder.MakeScript(
        CallsHeader + LoopProgram("(entity, int, int):int", 3, CallsBody(scaleFunction).c_str()),
        "calls");

    LuaState lua;
    const int luaLoop = lua.Load("loop");
    const int luaFib = lua.Load("fib");
    const int luaText = lua.Load("text");
    const int luaMethod = lua.Load("method");
    const int luaObject = lua.MakeObject(node);
    const int luaNested = lua.Load("nested");
    const int luaDeep = lua.Load("deep");
    const int luaSieve = lua.Load("sieve");
    const int luaCalls = lua.MakeCalls(lua.Load("calls"), lua.Load("helper"));

    const uint32_t id = node->GetId();
    const uint32_t helperId = helper->GetId();
    uint32_t machineWord = 0;
    lua_Integer luaValue = 0;

    // Ten calls of a million iterations each, on both sides.
    auto loopMachine = [&] {
        machineWord = 0;
        for (int c = 0; c < Calls; ++c) {
            machineWord +=
                CallScript(loop, {uint32_t(c * Iterations + 1), uint32_t((c + 1) * Iterations)});
        }
    };
    auto loopLua = [&] {
        luaValue = 0;
        for (int c = 0; c < Calls; ++c) {
            lua.Call(luaLoop, 0, {c * Iterations + 1, (c + 1) * Iterations});
            luaValue += lua.PopInteger();
        }
    };
    auto fibMachine = [&] { machineWord = CallScript(fib, {uint32_t(FibArgument)}); };
    auto fibLua = [&] {
        lua.Call(luaFib, 0, {FibArgument});
        luaValue = lua.PopInteger();
    };
    std::string machineText;
    std::string luaString;
    auto textMachine = [&] {
        machineText = LookupText(CallScript(text, {1u, uint32_t(Iterations)}));
    };
    auto textLua = [&] {
        lua.Call(luaText, 0, {1, Iterations});
        luaString = lua.PopText();
    };
    auto methodMachine = [&] {
        machineWord = 0;
        for (int c = 0; c < Calls; ++c) {
            machineWord += CallScript(
                method, {id, uint32_t(c * Iterations + 1), uint32_t((c + 1) * Iterations)});
        }
    };
    auto methodLua = [&] {
        luaValue = 0;
        for (int c = 0; c < Calls; ++c) {
            lua.Call(luaMethod, luaObject, {c * Iterations + 1, (c + 1) * Iterations});
            luaValue += lua.PopInteger();
        }
    };
    constexpr int32_t GridSide = 1200;
    auto nestedMachine = [&] { machineWord = CallScript(nested, {uint32_t(GridSide)}); };
    auto nestedLua = [&] {
        lua.Call(luaNested, 0, {GridSide});
        luaValue = lua.PopInteger();
    };
    // Twenty descents 5,000 calls deep.
    constexpr int32_t Depth = 5000;
    constexpr int Descents = 20;
    auto deepMachine = [&] {
        machineWord = 0;
        for (int c = 0; c < Descents; ++c) {
            machineWord += CallScript(deep, {uint32_t(Depth), uint32_t(c), 2u});
        }
    };
    auto deepLua = [&] {
        luaValue = 0;
        for (int c = 0; c < Descents; ++c) {
            lua.Call(luaDeep, 0, {Depth, c, 2});
            luaValue += lua.PopInteger();
        }
    };
    auto sieveMachine = [&] { machineWord = CallScript(sieve, {uint32_t(SieveSize)}); };
    auto sieveLua = [&] {
        lua.Call(luaSieve, 0, {SieveSize});
        luaValue = lua.PopInteger();
    };
    auto callsMachine = [&] {
        machineWord = CallScript(calls, {helperId, 1u, uint32_t(Iterations)});
    };
    auto callsLua = [&] {
        lua.Call(luaCalls, 0, {1, Iterations});
        luaValue = lua.PopInteger();
    };

    // Each row checks once that both sides agree, then times them.
    bench::RatioTable table("script machine (ms per case)", "Lua 5.4");
    auto row = [&table, &only](const char* name, auto&& machine, auto&& peer, auto&& agree) {
        if (std::string(name).find(only) == std::string::npos) {
            return;
        }
        machine();
        peer();
        Check(agree(), name);
        const bench::SideBySide timing = bench::TimeSideBySide(machine, peer);
        table.Row(name, timing.engine, timing.peer);
    };
    auto sameInt = [&] { return int64_t(machineWord) == luaValue; };
    row("loop: sum of i % 7, 10 x 1e6", loopMachine, loopLua, sameInt);
    row("recursive fib(27)", fibMachine, fibLua, [&] { return sameInt() && luaValue == 196418; });
    row("text: \"item\" + i, 1e6", textMachine, textLua,
        [&] { return machineText == luaString && luaString == "item1000000"; });
    // The machine's ints wrap in 32 bits; the sum of the calls does too.
    row("method call, 10 x 1e6", methodMachine, methodLua,
        [&] { return machineWord == uint32_t(uint64_t(luaValue)); });
    row("nested loops with a test, 1200^2", nestedMachine, nestedLua,
        [&] { return int64_t(int32_t(machineWord)) == luaValue; });
    row("deep recursion, 3 args, 20 x 5000", deepMachine, deepLua, sameInt);
    row("array sieve, 200000", sieveMachine, sieveLua,
        [&] { return sameInt() && luaValue == 17984; });
    row("engine + script calls, 1e6", callsMachine, callsLua, sameInt);
    table.PrintSummary();

    for (Script* script : {loop, fib, text, method, nested, deep, sieve, calls, helper}) {
        script->Delete();
    }
    node->Delete();
    return 0;
}
