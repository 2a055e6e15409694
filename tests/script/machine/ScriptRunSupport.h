#pragma once

#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/os/FrameWaits.h"
#include "core/scene/EngineState.h"
#include "core/scene/Node.h"
#include "render/Camera.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptDebugHooks.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptValueType.h"
#include "tests/script/machine/ScriptTestSupport.h"
#include "tests/support/RecordingDialogHook.h"
#include "tools/ScriptAssembler.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quarn::test {

// A node with an int property and methods scripts call by index.
class ScriptThing : public TestClass<ScriptThing, Node> {
public:
    static constexpr const char* Name = "ScriptTestThing";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &ScriptThing::GetValue, &ScriptThing::SetValue>("value");
        info.AddMethod("twice", "(int):int", BindMethod<&ScriptThing::Twice>(), MethodScript);
        info.AddMethod("destroy", "(Entity)", BindMethod<&ScriptThing::Destroy>(), MethodScript);
        // Recorded for a class no thing belongs to: calls by its index look further.
        info.AddMethod("poke", "():int", BindMethod<&ScriptThing::Poke>(), MethodScript)
            ->SetOwner(Script::RegisterClass());
    }
    int32_t Poke() { return 1; }
    int32_t GetValue() const { return value; }
    void SetValue(int32_t v) {
        value = v;
        stateDuringWrite = EngineState;
    }
    int32_t Twice(int32_t v) { return 2 * v; }
    void Destroy(Entity* entity) {
        if (entity) {
            entity->Delete();
        }
    }

    // The id the object had when it was told it was made.
    void OnCreate() override { idWhenCreated = static_cast<int64_t>(GetId()); }

    int32_t value = 0;
    int32_t stateDuringWrite = EngineRunning;
    int64_t idWhenCreated = -1;
};

// Registered right after ScriptThing, so its "poke" is the next method record of that name.
class ScriptPokeable : public TestClass<ScriptPokeable, ScriptThing> {
public:
    static constexpr const char* Name = "ScriptTestPokeable";
    static void Declare(ClassInfo& info) {
        info.AddMethod("poke", "():int", BindMethod<&ScriptPokeable::PokeHere>(), MethodScript);
    }
    int32_t PokeHere() { return 2; }
};

// A node of another branch whose own property and method stand at the numbers of ScriptThing's
// first ones.
class ScriptOther : public TestClass<ScriptOther, Node> {
public:
    static constexpr const char* Name = "ScriptTestOther";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyInt, &ScriptOther::GetOther, &ScriptOther::SetOther>("other");
        info.AddMethod("thrice", "(int):int", BindMethod<&ScriptOther::Thrice>(), MethodScript);
    }
    int32_t GetOther() const { return other; }
    void SetOther(int32_t v) { other = v; }
    int32_t Thrice(int32_t v) { return 3 * v; }

    int32_t other = 0;
};

inline int32_t TestFunctionDouble(int32_t v) {
    return 2 * v;
}
// The frames of the running context: what engine functions see of their caller.
inline int32_t TestFunctionDepth() {
    const ScriptContext* context = GetCurrentScriptContext();
    return context ? static_cast<int32_t>(context->Frames().size()) : -1;
}
inline void TestFunctionDelete(Entity* entity) {
    if (entity) {
        entity->Delete();
    }
}

// A script debugger panel for the scope, as the editor has one; `shown` false stands for the
// editor's standalone play, which shows none.
class ScopedScriptDebugger : public ScriptDebugPanel {
public:
    explicit ScopedScriptDebugger(bool shown = true) {
        AddScriptDebugPanel(this);
        SetScriptDebuggerShownHook(shown ? nullptr : +[] { return false; });
    }
    ~ScopedScriptDebugger() override {
        SetScriptDebuggerShownHook(nullptr);
        RemoveScriptDebugPanel(this);
    }
    ScopedScriptDebugger(const ScopedScriptDebugger&) = delete;
    ScopedScriptDebugger& operator=(const ScopedScriptDebugger&) = delete;
    void ShowScript(Script& script) override { shown = &script; }

    Script* shown = nullptr;
};

// Scripts assembled from text, run on Script nodes; every runtime error dialog is recorded.
class ScriptRunTest : public ScriptProgramTest {
protected:
    void SetUp() override {
        ScriptProgramTest::SetUp();
        Script::RegisterClass();
        ScriptPokeable::RegisterClass();
        ScriptOther::RegisterClass();
        RegisterTestFunctions();
        ScriptValueType* type = CreateValueType("int", 1, TypeInt);
        type->AddOperator(
            "+(int):int", 0,
            [](ScriptValueStack& stack) {
                const int32_t right = stack.PopInt();
                stack.PushInt(stack.PopInt() + right);
            },
            0);
        ScriptStepLimit = MaxScriptSteps;
        // Each test a frame of its own: the waits of earlier tests do not count towards it.
        BeginFrameWaits();
    }
    void TearDown() override {
        for (uint64_t serial : made_) {
            if (Entity* entity = Entity::FindBySerial(serial)) {
                entity->Delete();
            }
        }
        DeleteAllValueTypes();
        ScriptStepLimit = MaxScriptSteps;
        GamePaused = false;
        ScriptProgramTest::TearDown();
    }

    static void RegisterTestFunctions() {
        static bool done = false;
        if (done) {
            return;
        }
        done = true;
        doubleFunction = GetRegisteredFunctionCount();
        auto twice = std::make_unique<MethodInfo>("testdouble", "(int):int");
        twice->Bind(BindMethod<&TestFunctionDouble>());
        RegisterFunction(std::move(twice));
        deleteFunction = GetRegisteredFunctionCount();
        auto remove = std::make_unique<MethodInfo>("testdelete", "(Entity)");
        remove->Bind(BindMethod<&TestFunctionDelete>());
        RegisterFunction(std::move(remove));
        depthFunction = GetRegisteredFunctionCount();
        auto depth = std::make_unique<MethodInfo>("testdepth", "():int");
        depth->Bind(BindMethod<&TestFunctionDepth>());
        RegisterFunction(std::move(depth));
    }

    template <class T>
    T* Make() {
        auto* object = static_cast<T*>(T::RegisterClass()->CreateInstance());
        object->SetIdSystem(0);
        made_.push_back(object->GetSerial());
        return object;
    }

    // "$N" in the text becomes the N-th replacement, "$F", "$D" and "$C" the test functions.
    static std::string Fill(std::string source, const std::vector<uint32_t>& values) {
        for (size_t i = values.size(); i-- > 0;) {
            std::string key(1, '$');
            key.append(std::to_string(i));
            Replace(source, key, std::to_string(values[i]));
        }
        Replace(source, "$F", std::to_string(doubleFunction));
        Replace(source, "$D", std::to_string(deleteFunction));
        Replace(source, "$C", std::to_string(depthFunction));
        return source;
    }
    static void Replace(std::string& text, const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
            text.replace(at, from.size(), to);
            at += to.size();
        }
    }

    // A Script node running the assembled program NAME; with a source name the program names
    // the lines of that file. `checkTypes` assembles it as `quarn-tool script asm` does: the
    // types checked, the class of each member number recorded.
    Script* MakeScript(const std::string& source, const std::string& name, bool withSymbols = true,
                       const std::string& sourceName = "", bool checkTypes = false) {
        ScriptProgramBuilder builder;
        builder.SetStackSize(16);
        std::string error;
        ScriptAssemblyOptions options;
        options.sourceName = sourceName;
        options.checkTypes = checkTypes;
        EXPECT_TRUE(AssembleScript(source, builder, error, options)) << error << "\n" << source;
        Write(builder, name);
        if (!withSymbols) {
            std::remove(temp_.Join(name + ".sym").c_str());
        }
        Script* script = Make<Script>();
        script->SetScriptFile((name + ".script").c_str());
        return script;
    }

    // Calls the function at offset 0 (or NAME) with the words.
    static bool Call(Script* script, const std::vector<uint32_t>& arguments = {},
                     const char* function = nullptr) {
        const int32_t offset = function ? script->GetProgram()->FindFunction(function, -1) : 0;
        EXPECT_GE(offset, 0);
        return script->CallFunction(uint32_t(offset), arguments.data(), uint32_t(arguments.size()),
                                    nullptr, 0);
    }

    static std::vector<uint32_t> StackOf(Script* script) {
        ScriptValueStack& stack = script->GetContext()->Stack();
        const uint32_t* words = stack.TopWords(stack.Depth());
        return std::vector<uint32_t>(words, words + stack.Depth());
    }

    // The message of the last runtime error report.
    std::string LastError() const {
        if (dialogs_.Dialogs().empty()) {
            return "";
        }
        const std::string& text = dialogs_.Dialogs().back().text;
        const size_t start = text.find("Runtime error \"");
        const size_t end = text.find("\"\nScript (instance)");
        return start == std::string::npos || end == std::string::npos
                   ? text
                   : text.substr(start + 15, end - start - 15);
    }

    static inline int doubleFunction = -1;
    static inline int deleteFunction = -1;
    static inline int depthFunction = -1;
    RecordingDialogHook dialogs_;
    std::vector<uint64_t> made_;
};

// Programs that call the engine's own functions and operators, both machine paths tried.
class ScriptLibraryRunTest : public ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        DeleteAllValueTypes(); // the fixture's own "int"
        RegisterScriptOperators();
        // As at start-up: the classes the signatures name exist first.
        Camera::RegisterClass();
        RegisterScriptLibrary();
    }
    void TearDown() override {
        RemoveScriptLibrary();
        ScriptTranslatedRuns = true;
        ScriptRunTest::TearDown();
        ResetScriptKeywordTable();
    }
    static std::string Func(int index) {
        return "func " + std::to_string(GetScriptLibraryFirstIndex() + index);
    }
    // Deletes every node of the class that the scripts made.
    static void DeleteInstances(const ClassInfo* info) {
        std::vector<Entity*> made;
        for (int i = 0; i < info->GetInstanceCount(); ++i) {
            made.push_back(info->GetInstance(i));
        }
        for (Entity* entity : made) {
            entity->Delete();
        }
    }
};

} // namespace quarn::test
