#include "tools/ScriptTypeCheck.h"

#include "core/object/MethodInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptValueType.h"
#include "tests/support/TestClass.h"
#include "tools/ScriptAssembler.h"
#include "tools/ScriptProgramBuilder.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

class TypeCheckPlate : public test::TestClass<TypeCheckPlate, Node> {
public:
    static constexpr const char* Name = "TypeCheckPlate";
    static void Declare(ClassInfo& info) {
        info.AddProperty<PropertyString, &TypeCheckPlate::GetText, &TypeCheckPlate::SetText>(
            "text");
        info.AddMethod("SetText", "(string)", BindMethod<&TypeCheckPlate::SetText>(),
                       MethodScript);
    }
    const char* GetText() const { return text.c_str(); }
    void SetText(const char* value) { text = value; }
    std::string text;
};

class TypeCheckKeys : public test::TestClass<TypeCheckKeys, Node> {
public:
    static constexpr const char* Name = "TypeCheckKeys";
    static void Declare(ClassInfo& info) {
        info.AddMethod("IsDown", "(int):bool", BindMethod<&TypeCheckKeys::IsDown>(), MethodScript);
    }
    bool IsDown(int32_t) { return false; }
};

float Half(float value) {
    return value / 2;
}

// Every body runs in update(float dt) after this header, beside axis(int, int):float.
constexpr const char* Header = R"(stack 64
var "plate" TypeCheckPlate
var "keys" TypeCheckKeys
var "caught" int
var "where" float3
var "path" array count=4 elem=float3
function "update" (float) at=@update
function "axis" (int, int):float at=@axis
update:
)";
constexpr int HeaderLines = 9;
constexpr const char* Axis = R"(axis:
    push 0.0
    return 2 1
)";

class ScriptTypeCheckTest : public testing::Test {
protected:
    void SetUp() override {
        TypeCheckPlate::RegisterClass();
        TypeCheckKeys::RegisterClass();
        RegisterScriptOperators();
    }
    void TearDown() override {
        DeleteAllValueTypes();
        ResetScriptKeywordTable();
    }

    // The checker's report on update's body; empty when the program passes.
    static std::string Check(const std::string& body) {
        ScriptProgramBuilder builder;
        std::string error;
        ScriptAssemblyOptions options;
        options.checkTypes = true;
        const std::string source = Header + body + Axis;
        return AssembleScript(source, builder, error, options) ? std::string() : error;
    }
};

TEST_F(ScriptTypeCheckTest, AWordOfTheWrongTypeOrCountIsRefusedAtItsLine) {
    const struct {
        const char* body;
        int line;
        const char* reason;
    } cases[] = {
        // The four mistakes of a new game: a text method given an int, an int appended with the
        // float operator, a key test given a float, a method given one word too many.
        {"push 0\nload 1\npush 2\nload 1\nmethod method:TypeCheckPlate.SetText 1\nreturn 1 0\n", 5,
         "method TypeCheckPlate.SetText: argument 1 is string, given int"},
        {"push 0\nload 1\ntext \"Caught: \"\npush 2\nload 1\nop string \"+(float):string\"\n"
         "method method:TypeCheckPlate.SetText 1\nreturn 1 0\n",
         6, "op string \"+(float):string\": operand 2 is float, given int"},
        {"push 1\nload 1\npush 61.0\nmethod method:TypeCheckKeys.IsDown 1\ndrop 1\nreturn 1 0\n", 4,
         "method TypeCheckKeys.IsDown: argument 1 is int, given float"},
        {"push 1\nload 1\npush 61\npush 62\nmethod method:TypeCheckKeys.IsDown 2\ndrop 1\n"
         "return 1 0\n",
         5, "method TypeCheckKeys.IsDown takes 1 argument word, given 2"},
        // A count one too high reaches below the object, to a word that is none: the count is
        // what is wrong, whether the word below is a number or missing.
        {"push 7\npush 1\nload 1\npush 61\nmethod method:TypeCheckKeys.IsDown 2\ndrop 1\n"
         "return 2 0\n",
         5, "method TypeCheckKeys.IsDown takes 1 argument word, given 2"},
        {"push 1\nload 1\npush 61\nmethod method:TypeCheckKeys.IsDown 3\ndrop 1\nreturn 1 0\n", 4,
         "method TypeCheckKeys.IsDown takes 1 argument word, given 3"},
        // Variables, properties, the frame and the function's own signature.
        {"push 2\npush 1.5\nstore 1\nreturn 1 0\n", 3, "store 1: \"caught\" is int, given float"},
        {"push 3\npush 1\npush 2\npush 3\nstore 3\nreturn 1 0\n", 5,
         "store 3: \"where\" is float3, given int"},
        {"push 0\nload 1\npush prop:TypeCheckPlate.text\npush 1.0\npush 2.0\nsetprop 2\n"
         "return 1 0\n",
         6, "setprop 2 (TypeCheckPlate.text) writes 2 words, the property takes 1"},
        {"push 1\nload 1\npush prop:TypeCheckPlate.text\ngetprop\ndrop 1\nreturn 1 0\n", 4,
         "getprop (TypeCheckPlate.text): the object is TypeCheckPlate, given TypeCheckKeys"},
        {"push -1\npush 3\nstorelocal 1\nreturn 1 0\n", 3,
         "storelocal 1: the argument is float, given int"},
        {"local \"n\" int offset=0 first=@update last=@finish\npush 0\npush 0\npush 1.5\n"
         "storelocal 1\nfinish: return 2 0\n",
         5, "storelocal 1: \"n\" is int, given float"},
        {"push 1.0\npush 2\ncall @axis\ndrop 1\nreturn 1 0\n", 3,
         "call \"axis\": argument 1 is int, given float"},
        {"push 1\nreturn 1 1\n", 2, "return 1 1 from \"update\": it returns 0 result words"},
        {"push 1\nreturn 1 0\n", 2,
         "return 1 0 from \"update\": its arguments and locals take 2 words"},
        {"drop 2\nreturn 1 0\n", 1, "drop 2 takes 2 words, the function has 1 on the stack"},
        // Conditions, sleeps and offsets.
        {"push -1\nloadlocal 1\njumpifnot done\ndone: return 1 0\n", 3,
         "jumpifnot: the condition is int or bool, given float"},
        {"push 1\nsleep\ndrop 1\nreturn 1 0\n", 2, "sleep: the time is float, given int"},
        {"push 1.0\nload 1\ndrop 1\nreturn 1 0\n", 2, "load 1: the offset is int, given float"},
        // A word of a vector is a float wherever it is read from, and named with its vector
        // where something else is wanted; a word stored into part of one is named by its place.
        {"push 1\nload 1\npush 4\nload 1\nmethod method:TypeCheckKeys.IsDown 1\ndrop 1\n"
         "return 1 0\n",
         5, "method TypeCheckKeys.IsDown: argument 1 is int, given one word of float3"},
        {"push 7\npush 2\nelemaddr 4 3\nload 1\njumpifnot done\ndone: return 1 0\n", 5,
         "jumpifnot: the condition is int or bool, given one word of float3"},
        {"push 3\nload 3\ntext \"x\"\nop string \"+(string):string\"\ndrop 3\nreturn 1 0\n", 4,
         "op string \"+(string):string\": operand 1 is string, given one word of float3"},
        {"push 2\npush 3\nload 3\npush 1\npush 2\npush 3\nop int3 \"==(int3):bool\"\nstore 1\n"
         "return 1 0\n",
         7, "op int3 \"==(int3):bool\": operand 1 is int3, given float3"},
        {"push 4\npush 1\nstore 1\nreturn 1 0\n", 3,
         "store 1: word 1 of \"where\" is float, given int"},
        {"push 4\npush 1.0\npush 2\nstore 2\nreturn 1 0\n", 4,
         "store 2: word 2 of \"where\" is float, given int"},
        {"push 8\npush 1\nelemaddr 4 3\npush 1\nstore 1\nreturn 1 0\n", 5,
         "store 1: word 2 of an element of \"path\" is float, given int"},
        {"push 6\npush 1\nelemaddr 4 3\npush 1\npush 2\npush 3\nstore 3\nreturn 1 0\n", 7,
         "store 3: an element of \"path\" is float3, given int"},
        {"push 2\npush 1\npush 2\nstore 2\nreturn 1 0\n", 4,
         "store 2: word 0 of \"where\" is float, given int"},
        {"local \"pos\" float3 offset=0 first=@update last=@finish\npush 3\nload 3\npush 1\n"
         "push 2\nstorelocal 1\nfinish: return 4 0\n",
         6, "storelocal 1: word 1 of \"pos\" is float, given int"},
        {"return 1 0\nfunction \"aim\" (float3, int):float at=@aim\naim:\npush -1\npush -3\n"
         "loadlocal 1\nstorelocal 1\npush 0.0\nreturn 4 1\n",
         7, "storelocal 1: the argument is int, given one word of float3"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Check(c.body), std::to_string(HeaderLines + c.line) + ": " + c.reason)
            << c.body;
    }
}

// An event hands its port's function (entity sender, entity argument, float value): a port
// function takes those, or the first of them, and nothing else.
TEST_F(ScriptTypeCheckTest, APortFunctionTakesWhatAPortPassesOrTheFirstOfIt) {
    const struct {
        const char* form;
        int words;
        bool fits;
    } cases[] = {
        {"(entity, entity, float)", 3, true},
        {"(entity, entity)", 2, true},
        {"(entity)", 1, true},
        {"()", 0, true},
        {"(Node, TypeCheckPlate, float)", 3, true},
        {"(entity, entity, float, int)", 4, false},
        {"(float)", 1, false},
        {"(entity, entity, int)", 3, false},
        {"(entity, float3)", 4, false},
    };
    for (const auto& c : cases) {
        ScriptProgramBuilder builder;
        std::string error;
        ScriptAssemblyOptions options;
        options.checkTypes = true;
        // Named at its declaration, however far below it its code starts.
        const std::string source = std::string("stack 32\nfunction \"signalenter\" ") + c.form +
                                   " at=@enter port\nfunction \"other\" () at=@other\nother:\n"
                                   "return 0 0\nenter:\nreturn " +
                                   std::to_string(c.words) + " 0\n";
        EXPECT_EQ(AssembleScript(source, builder, error, options), c.fits) << c.form;
        EXPECT_EQ(error, c.fits ? std::string()
                                : std::string("2: port function \"signalenter\" takes ") + c.form +
                                      ", but a port passes (entity sender, entity argument, "
                                      "float value): it takes those or the first of them")
            << c.form;
    }
}

TEST_F(ScriptTypeCheckTest, WhatAProgramMayDoPasses) {
    const char* const bodies[] = {
        // Three floats make a float3; 0 is the entity none; a comparison is an int.
        "push 3\npush 1.0\npush 2.0\npush 0.0\nstore 3\nreturn 1 0\n",
        "push 0\npush 0\nstore 1\nreturn 1 0\n",
        "push 2\npush 1\npush 2\nop int \"==(int):bool\"\nstore 1\nreturn 1 0\n",
        // A loop over a local counter, and a method's result as a condition.
        "push 0\nloop:\npush 0\nloadlocal 1\npush 10\nop int \"<(int):bool\"\njumpifnot done\n"
        "push 0\npush 0\nloadlocal 1\npush 1\nop int \"+(int):int\"\nstorelocal 1\njump loop\n"
        "done:\nreturn 2 0\n",
        "push 1\nload 1\npush 61\nmethod method:TypeCheckKeys.IsDown 1\njumpifnot out\n"
        "out: return 1 0\n",
        // Paths that meet with an int and a float leave a word of either type.
        "push 2\npush -1\nloadlocal 1\npush 0.0\nop float \">(float):bool\"\njumpifnot other\n"
        "push 1\njump join\nother:\npush 1.5\njoin:\nstore 1\nreturn 1 0\n",
        // After a call into another program the rest is not followed.
        "push 0\npush 5\nextcall 0 1 0 0\npush 2\npush 1.5\nstore 1\nreturn 1 0\n",
        "push 1\npush 2\ncall @axis\ndrop 1\nsleepframe\ndrop 1\nreturn 1 0\n",
        // A word read from inside a vector, as a game reads a position's height, is a float.
        // By offset: where.y and where.z of the variable, and where.x left by dropping y and z.
        "push 2\npush 4\nload 1\npush 7.0\nop float \"<(float):bool\"\nstore 1\nreturn 1 0\n",
        "push 5\nload 1\npush 5\nload 1\nop float \"*(float):float\"\ndrop 1\nreturn 1 0\n",
        "push 3\nload 3\ndrop 2\npush 7.0\nop float \"<(float):bool\"\ndrop 1\nreturn 1 0\n",
        // By element address: path[2].y, and a whole element's z.
        "push 7\npush 2\nelemaddr 4 3\nload 1\npush 7.0\nop float \"<(float):bool\"\ndrop 1\n"
        "return 1 0\n",
        "push 6\npush 3\nelemaddr 4 3\nload 3\nop float \"-():float\"\ndrop 3\nreturn 1 0\n",
        // By local: a float3 kept in the frame, declared and not, and dt beside it.
        "push 3\nload 3\npush 1\nloadlocal 1\npush 7.0\nop float \"<(float):bool\"\ndrop 1\n"
        "return 4 0\n",
        "local \"pos\" float3 offset=0 first=@update last=@finish\npush 3\nload 3\npush 1\n"
        "push 2\nloadlocal 1\npush -1\nloadlocal 1\nop float \"*(float):float\"\nstorelocal 1\n"
        "finish: return 4 0\n",
        // By argument: the y and z of a float3 parameter.
        "return 1 0\nfunction \"aim\" (float3, int):float at=@aim\naim:\npush -4\nloadlocal 1\n"
        "push -3\nloadlocal 1\nop float \"+(float):float\"\nreturn 4 1\n",
        // No index lies in an array of no elements, however wide: the run ends there.
        "push 0\nindex 0 100000000\ndrop 1\nreturn 1 0\n",
        // Stored: a float into one word of a vector, a float2 into two.
        "push 4\npush 1.5\nstore 1\nreturn 1 0\n",
        "push 7\npush 1\nelemaddr 4 3\npush 1.0\npush 2.0\nstore 2\nreturn 1 0\n",
    };
    for (const char* body : bodies) {
        EXPECT_EQ(Check(body), "") << body;
    }
}

// A method named by its number alone is known by the entity's class: one found among the
// argument words, with the words above it as many as it takes, tells the miscount too.
TEST_F(ScriptTypeCheckTest, AMethodByNumberGivenOneWordTooManyIsAMiscount) {
    const ClassInfo& keys = *TypeCheckKeys::RegisterClass();
    int index = 0;
    while (std::string(keys.GetMethod(index)->GetName()) != "IsDown") {
        ++index;
    }
    const std::string call = "method " + std::to_string(index) + " 2";
    EXPECT_EQ(Check("push 7\npush 1\nload 1\npush 61\n" + call + "\ndrop 1\nreturn 2 0\n"),
              std::to_string(HeaderLines + 5) +
                  ": method TypeCheckKeys.IsDown takes 1 argument word, given 2");
    // Where no entity below fits, the object is what is wrong.
    EXPECT_EQ(Check("push 7\npush 8\npush 61\n" + call + "\ndrop 1\nreturn 2 0\n"),
              std::to_string(HeaderLines + 4) + ": " + call + ": the object is entity, given int");
}

TEST_F(ScriptTypeCheckTest, EngineFunctionsAreCheckedByTheirSignature) {
    static const int half = [] {
        auto function = std::make_unique<MethodInfo>("testhalf", "(float):float");
        function->Bind(BindMethod<&Half>());
        const int index = GetRegisteredFunctionCount();
        RegisterFunction(std::move(function));
        return index;
    }();
    const std::string call = "func " + std::to_string(half);
    EXPECT_EQ(Check("push 1.0\n" + call + "\ndrop 1\nreturn 1 0\n"), "");
    const std::string refused = Check("push 1\n" + call + "\ndrop 1\nreturn 1 0\n");
    EXPECT_EQ(refused.rfind(std::to_string(HeaderLines + 2) + ": " + call, 0), 0u) << refused;
    EXPECT_NE(refused.find(": argument 1 is float, given int"), std::string::npos) << refused;
}

} // namespace
} // namespace quarn
