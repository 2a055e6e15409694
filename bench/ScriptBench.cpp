// The script machine against Lua 5.4 on the same algorithms. The machine's programs are written
// as the compiler emits them: locals in the frame, addressed by an offset pushed before each
// load and store, arithmetic and comparisons through operator commands, and a compare and a
// conditional jump per iteration; the Lua sources (bench/lua) use locals and while loops to
// match. One run of the machine stops at its step limit, so the 10,000,000-iteration cases run
// as ten calls of 1,000,000 iterations on both sides. Each case checks once that both sides
// compute the same result before it is timed.
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
        if (!AssembleScript(source, builder, error)) {
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

int main() {
    ProgramFolder folder;
    Script::RegisterClass();
    RegisterScriptOperators();
    auto* node = static_cast<BenchNode*>(BenchNode::RegisterClass()->CreateInstance());
    node->SetIdSystem(0);

    Script* loop = folder.MakeScript(LoopProgram("(int, int):int", 2, SumBody), "loop");
    Script* fib = folder.MakeScript(FibProgram, "fib");
    Script* text = folder.MakeScript(LoopProgram("(int, int):string", 2, TextBody), "text");
    Script* method = folder.MakeScript(LoopProgram("(int, int, int):int", 3, MethodBody), "method");

    LuaState lua;
    const int luaLoop = lua.Load("loop");
    const int luaFib = lua.Load("fib");
    const int luaText = lua.Load("text");
    const int luaMethod = lua.Load("method");
    const int luaObject = lua.MakeObject(node);

    const uint32_t id = node->GetId();
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

    loopMachine();
    loopLua();
    Check(int64_t(machineWord) == luaValue, "loop");
    fibMachine();
    fibLua();
    Check(int64_t(machineWord) == luaValue && luaValue == 196418, "fib");
    textMachine();
    textLua();
    Check(machineText == luaString && luaString == "item1000000", "text");
    // The machine's ints wrap in 32 bits; the sum of the calls does too.
    methodMachine();
    methodLua();
    Check(machineWord == uint32_t(uint64_t(luaValue)), "method");

    bench::RatioTable table("script machine (ms per case)", "Lua 5.4");
    table.Row("loop: sum of i % 7, 10 x 1e6", bench::TimeRounds(loopMachine),
              bench::TimeRounds(loopLua));
    table.Row("recursive fib(27)", bench::TimeRounds(fibMachine), bench::TimeRounds(fibLua));
    table.Row("text: \"item\" + i, 1e6", bench::TimeRounds(textMachine),
              bench::TimeRounds(textLua));
    table.Row("method call, 10 x 1e6", bench::TimeRounds(methodMachine),
              bench::TimeRounds(methodLua));
    table.PrintSummary();

    loop->Delete();
    fib->Delete();
    text->Delete();
    method->Delete();
    node->Delete();
    return 0;
}
