#include "script/machine/ScriptOperators.h"

#include "core/math/Quaternion.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptValueStack.h"
#include "script/machine/ScriptValueType.h"
#include "tests/script/machine/ScriptRunSupport.h"
#include "tests/support/MathExpectations.h"
#include "tests/support/RecordingValidityHook.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <type_traits>
#include <vector>

namespace quarn {
namespace {

// Calls `check(type id, entry, words taken, words left)` for every registered entry; answers
// how many there were.
template <class Check>
int ForEachEntry(Check&& check) {
    int entries = 0;
    for (int32_t id = 0; id < GetScriptValueTypeCount(); ++id) {
        const ScriptValueType* type = GetScriptValueType(id);
        for (int i = 0; type && i < type->GetOperatorCount(); ++i) {
            const ScriptOperatorRecord* entry = type->GetOperator(i);
            EXPECT_NE(entry->function, nullptr) << entry->signature;
            const auto in = static_cast<uint32_t>(type->GetWordCount() + entry->argumentWords);
            // "++" and "--" name no result: they change the value in place.
            const bool inPlace = entry->name == "++" || entry->name == "--";
            check(id, *entry, in, inPlace ? in : GetTypeWordCount(entry->resultType));
            ++entries;
        }
    }
    return entries;
}

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Infinity = std::numeric_limits<float>::infinity();
constexpr uint32_t Sentinel = 0xA5A5A5A5u;

// Operand words in stack order, each value written as scripts hold it.
template <class... T>
std::vector<uint32_t> Words(const T&... values) {
    std::vector<uint32_t> words;
    auto append = [&words](const auto& value) {
        using Traits = ValueTraits<std::decay_t<decltype(value)>>;
        uint32_t block[Traits::Words];
        Traits::Write(value, block);
        words.insert(words.end(), block, block + Traits::Words);
    };
    (append(values), ...);
    return words;
}

class ScriptOperators : public ::testing::Test {
protected:
    void SetUp() override { RegisterScriptOperators(); }
    void TearDown() override {
        DeleteAllValueTypes();
        ResetScriptKeywordTable();
    }

    static const ScriptOperatorRecord* Find(int32_t type, const std::string& signature) {
        const ScriptValueType* valueType = GetScriptValueType(type);
        for (int i = 0; valueType && i < valueType->GetOperatorCount(); ++i) {
            if (valueType->GetOperator(i)->signature == signature) {
                return valueType->GetOperator(i);
            }
        }
        ADD_FAILURE() << "no entry " << signature;
        return nullptr;
    }

    // Runs the entry on the operands above a sentinel word and gives back the words it left;
    // the sentinel must survive.
    static std::vector<uint32_t> Run(int32_t type, const std::string& signature,
                                     const std::vector<uint32_t>& operands) {
        const ScriptOperatorRecord* entry = Find(type, signature);
        ScriptValueStack stack(64);
        stack.Push(Sentinel);
        stack.PushWords(operands.data(), static_cast<uint32_t>(operands.size()));
        if (entry) {
            entry->function(stack);
        }
        EXPECT_FALSE(stack.Faulted()) << signature;
        const uint32_t* words = stack.TopWords(stack.Depth());
        EXPECT_EQ(words[0], Sentinel) << signature;
        return std::vector<uint32_t>(words + 1, words + stack.Depth());
    }

    // The result of one entry, read as R once its word count checks out.
    template <class R, class... T>
    static R Call(int32_t type, const std::string& signature, const T&... operands) {
        const std::vector<uint32_t> words = Run(type, signature, Words(operands...));
        if (words.size() != static_cast<size_t>(ValueTraits<R>::Words)) {
            ADD_FAILURE() << signature << " left " << words.size() << " words";
            return R{};
        }
        return ValueTraits<R>::Read(words.data());
    }

    static std::string Result(const char* text) { return text; }
};

TEST_F(ScriptOperators, EveryEntryLeavesTheWordsItsSignatureAndTheFiguresGive) {
    test::RecordingValidityHook hook; // divisions by the zero operands report
    const int entries =
        ForEachEntry([](int32_t id, const ScriptOperatorRecord& entry, uint32_t in, uint32_t out) {
            const std::vector<uint32_t> left = Run(id, entry.signature, std::vector<uint32_t>(in));
            EXPECT_EQ(left.size(), out) << id << " " << entry.signature;
        });
    EXPECT_EQ(entries, 116);

    struct Figure {
        int32_t type;
        const char* signature;
        size_t in;
        size_t out;
    };
    const Figure figures[] = {
        {TypeInt2, "==(int2):bool", 4, 1},
        {TypeInt3, "==(int3):bool", 6, 1},
        {TypeFloat3, "==(float3):bool", 6, 1},
        {TypeString64, "==(string64):bool", 32, 1},
        {TypeFloat3, "*(float3):float", 6, 1},
        {TypeFloat2, "*(float2):float", 4, 1},
        {TypeFloat2, "^(float2):float", 4, 1},
        {TypeQuaternion, "*(quaternion):quaternion", 8, 4},
        {TypeQuaternion, "SlerpTo(quaternion,float):quaternion", 9, 4},
        {TypeQuaternion, "GetRotationAroundAxis(float3):float", 7, 1},
        {TypeFloat3, "ToFloat2():float2", 3, 2},
        {TypeString, "ToString64():string64", 1, 16},
        {TypeString64, "ToString():string", 16, 1},
        {TypeFloat, "*(float3):float3", 4, 3},
    };
    for (const Figure& figure : figures) {
        EXPECT_EQ(Run(figure.type, figure.signature, std::vector<uint32_t>(figure.in)).size(),
                  figure.out)
            << figure.signature;
    }
}

TEST_F(ScriptOperators, ABodyShortOfOperandsRaisesTheStackFaultAndLeavesTheStack) {
    ScriptValueStack stack(8);
    stack.PushInt(5);
    Find(TypeInt, "+(int):int")->function(stack);
    EXPECT_TRUE(stack.Faulted());
    ASSERT_EQ(stack.Depth(), 1u);
    EXPECT_EQ(stack.PopInt(), 5);
    // A result that does not fit faults too and writes nothing past the capacity.
    ScriptValueStack full(4);
    full.Push(0);
    Find(TypeString, "ToString64():string64")->function(full);
    EXPECT_TRUE(full.Faulted());
    EXPECT_EQ(full.Depth(), 1u);
}

TEST_F(ScriptOperators, IntArithmeticWrapsTruncatesAndMasksShiftCounts) {
    struct Case {
        const char* signature;
        int32_t a;
        int32_t b;
        int32_t expected;
    };
    const Case cases[] = {
        {"/(int):int", -7, 2, -3},
        {"%(int):int", -7, 2, -1},
        {"%(int):int", 7, -2, 1},
        {"<<(int):int", 1, 33, 2},
        {"<<(int):int", -1, 31, INT32_MIN},
        {">>(int):int", -8, 1, -4},
        {">>(int):int", 8, -1, 0},
        {"+(int):int", INT32_MAX, 1, INT32_MIN},
        {"-(int):int", INT32_MIN, 1, INT32_MAX},
        {"*(int):int", 0x10000, 0x10000, 0},
        {"/(int):int", INT32_MIN, -1, INT32_MIN},
        {"%(int):int", INT32_MIN, -1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Call<int32_t>(TypeInt, c.signature, c.a, c.b), c.expected)
            << c.a << " " << c.signature << " " << c.b;
    }
    EXPECT_EQ(Call<int32_t>(TypeInt, "-():int", INT32_MIN), INT32_MIN);
    EXPECT_EQ(Call<int32_t>(TypeInt, "++()", INT32_MAX), INT32_MIN);
    EXPECT_EQ(Call<int32_t>(TypeInt, "--()", 0), -1);
    EXPECT_EQ(Call<int32_t>(TypeInt, "~():int", 0), -1);
    EXPECT_TRUE(Call<bool>(TypeInt, "<(int):bool", -1, 0));
    EXPECT_TRUE(Call<bool>(TypeEntity, "!=(entity):bool", EntityId{0x10000001}, EntityId{1}));
    EXPECT_EQ(Call<Int2>(TypeInt2, "*(int):int2", Int2(3, INT32_MAX), 2), Int2(6, -2));
    EXPECT_TRUE(
        Call<Int3>(TypeInt3, "/(int):int3", Int3(-7, 7, INT32_MIN), -1).Equals({7, -7, INT32_MIN}));
}

TEST_F(ScriptOperators, DivisionByZeroIsReportedAndTheScriptGoesOn) {
    test::RecordingValidityHook hook;
    EXPECT_EQ(Call<int32_t>(TypeInt, "/(int):int", 5, 0), 0);
    EXPECT_EQ(Call<int32_t>(TypeInt, "%(int):int", 5, 0), 0);
    EXPECT_EQ(Call<Int2>(TypeInt2, "/(int):int2", Int2(4, 6), 0), Int2(0, 0));
    EXPECT_TRUE(Call<Int3>(TypeInt3, "/(int):int3", Int3(4, 6, 8), 0).Equals({0, 0, 0}));
    EXPECT_EQ(hook.Messages(), std::vector<std::string>(4, "Division by zero"));

    // A float divisor reports by its bits: +0.0 does, -0.0 does not; both divide anyway.
    hook.Clear();
    EXPECT_EQ(Call<float>(TypeFloat, "/(float):float", 1.0f, 0.0f), Infinity);
    EXPECT_EQ(hook.Messages().size(), 1u);
    EXPECT_EQ(Call<float>(TypeFloat, "/(float):float", 1.0f, -0.0f), -Infinity);
    EXPECT_EQ(hook.Messages().size(), 1u);
    // The vector forms report either zero.
    const Float2 half = Call<Float2>(TypeFloat2, "/(float):float2", Float2(1, 0), -0.0f);
    EXPECT_EQ(half.x, -Infinity);
    EXPECT_TRUE(std::isnan(half.y));
    EXPECT_EQ(Call<Float3>(TypeFloat3, "/(float):float3", Float3(2, 4, 6), 0.0f).x, Infinity);
    EXPECT_EQ(hook.Messages().size(), 3u);
    test::ExpectNear(Call<Float3>(TypeFloat3, "/(float):float3", Float3(2, 4, 6), 2.0f), {1, 2, 3});
    EXPECT_EQ(hook.Messages().size(), 3u);
}

TEST_F(ScriptOperators, FloatsCompareAsIeeeAndConvertAsScriptsAlwaysSawThem) {
    EXPECT_FALSE(Call<bool>(TypeFloat, "==(float):bool", NaN, NaN));
    EXPECT_TRUE(Call<bool>(TypeFloat, "!=(float):bool", NaN, NaN));
    EXPECT_FALSE(Call<bool>(TypeFloat, ">=(float):bool", NaN, 0.0f));
    EXPECT_FALSE(Call<bool>(TypeFloat2, "==(float2):bool", Float2(NaN, 1), Float2(NaN, 1)));
    EXPECT_TRUE(Call<bool>(TypeQuaternion, "!=(quaternion):bool", Quaternion(0, 0, 0, NaN),
                           Quaternion(0, 0, 0, NaN)));
    struct Validity {
        float value;
        bool valid;
    };
    for (const Validity& v :
         {Validity{NaN, false}, Validity{-Infinity, true}, Validity{Infinity, false},
          Validity{3.40281e38f, true}, Validity{FLT_MAX, false}, Validity{-FLT_MAX, true}}) {
        EXPECT_EQ(Call<bool>(TypeFloat, "IsValid():bool", v.value), v.valid) << v.value;
    }
    EXPECT_EQ(Call<float>(TypeFloat, "%(float):float", 5.5f, 2.0f), 1.5f);
    EXPECT_EQ(Call<float>(TypeFloat, "%(float):float", -5.5f, 2.0f), -1.5f);
    EXPECT_EQ(Call<Int2>(TypeFloat2, "ToInt2():int2", Float2(-2.7f, 2.7f)), Int2(-2, 2));
    EXPECT_EQ(Call<Int2>(TypeFloat2, "ToInt2():int2", Float2(NaN, 3e9f)),
              Int2(INT32_MIN, INT32_MIN));
    EXPECT_EQ(Call<float>(TypeInt, "ToFloat():float", -3), -3.0f);
    test::ExpectNear(Call<Float3>(TypeFloat, "*(float3):float3", 2.0f, Float3(1, 2, 3)), {2, 4, 6});
}

TEST_F(ScriptOperators, TextsAreJoinedCutAndComparedWithoutCase) {
    struct Case {
        const char* signature;
        const char* a;
        const char* b;
        const char* expected;
    };
    const Case joins[] = {
        {"+(string):string", "left", "right", "leftright"},
        {"-(string):string", "abcXYdefXY", "XY", "abcdefXY"},
        {"-(string):string", "abc", "zz", "abc"},
        {"-(string):string", "abc", "", "abc"},
    };
    for (const Case& c : joins) {
        EXPECT_EQ(Result(Call<const char*>(TypeString, c.signature, c.a, c.b)), c.expected)
            << c.a << " " << c.signature << " " << c.b;
    }
    // Word 0 and a word that names no text read as the empty text.
    const std::vector<uint32_t> joined = Run(TypeString, "+(string):string", {0u, 0xFFFFFFF0u});
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_STREQ(LookupText(joined[0]), "");
    EXPECT_EQ(Run(TypeString, "==(string):bool", {0u, 0xFFFFFFF0u}), std::vector<uint32_t>{1});

    EXPECT_TRUE(Call<bool>(TypeString, "==(string):bool", "Hello", "hELLO"));
    EXPECT_FALSE(Call<bool>(TypeString, "!=(string):bool", "Hello", "hELLO"));
    // Letters compare lower-cased, so '_' (0x5F) sorts before 'A' (as 'a', 0x61).
    EXPECT_TRUE(Call<bool>(TypeString, "<(string):bool", "_", "A"));
    EXPECT_TRUE(Call<bool>(TypeString, ">(string):bool", "b", "A"));
    EXPECT_TRUE(Call<bool>(TypeString64, "==(string64):bool", String64("Name"), String64("NAME")));

    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(int):string", "n=", 3)), "n=3");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(int):string", "", INT32_MIN)), "-2147483648");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(bool):string", "b", true)), "b1");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(float):string", "f", -0.5f)), "f-0.500000");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(float2):string", "v", Float2(1, 2))),
              "v(1.000000,2.000000)");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "+(float3):string", "", Float3(0, -1, 0.25f))),
              "(0.000000,-1.000000,0.250000)");
    EXPECT_EQ(Result(Call<const char*>(TypeString, "ToLower():string", "AbC_\xC4z")), "abc_\xC4z");

    const std::string seventy(70, 'x');
    const String64 cut = Call<String64>(TypeString, "ToString64():string64", seventy.c_str());
    EXPECT_EQ(std::string(cut.Text()), seventy.substr(0, 63));
    const String64 both = Call<String64>(TypeString64, "+(string64):string64", String64("ab"), cut);
    EXPECT_EQ(std::string(both.Text()), "ab" + seventy.substr(0, 61));
    EXPECT_EQ(Result(Call<const char*>(TypeString64, "ToString():string", String64("Kept"))),
              "Kept");
    // Sixty-four bytes without a terminator read as their first 63.
    std::vector<uint32_t> unterminated(16, 0x41414141u);
    const std::vector<uint32_t> text = Run(TypeString64, "ToString():string", unterminated);
    ASSERT_EQ(text.size(), 1u);
    EXPECT_EQ(std::string(LookupText(text[0])), std::string(63, 'A'));
}

TEST_F(ScriptOperators, LongConcatenationsComeBackWhole) {
    test::RecordingValidityHook hook;
    const std::string a(50000, 'a');
    const std::string b(50000, 'b');
    const std::string c(100000, 'c');
    // (a + b) + (c + "") as one expression: both halves live while the last "+" reads them.
    ScriptValueStack stack(8);
    stack.PushWords(Words(StoreText(a), StoreText(b)).data(), 2);
    Find(TypeString, "+(string):string")->function(stack);
    stack.PushWords(Words(StoreText(c), TextWord{0}).data(), 2);
    Find(TypeString, "+(string):string")->function(stack);
    EXPECT_EQ(std::strlen(LookupText(*stack.TopWords(1))), 100000u);
    Find(TypeString, "+(string):string")->function(stack);
    ASSERT_EQ(stack.Depth(), 1u);
    EXPECT_EQ(std::string(LookupText(stack.Pop())), a + b + c);
    EXPECT_TRUE(hook.Messages().empty());
}

TEST_F(ScriptOperators, VectorsAndQuaternionsKeepTheirGeometry) {
    const Quaternion q = Quaternion::FromAxisAngle(0.7f, Float3(1, 2, 3).NormalizedOrSelf());
    const Quaternion conjugate = Call<Quaternion>(TypeQuaternion, "!():quaternion", q);
    const Quaternion product =
        Call<Quaternion>(TypeQuaternion, "*(quaternion):quaternion", conjugate, q);
    test::ExpectNear({product.x, product.y, product.z}, {0, 0, 0}, 1e-6f);
    EXPECT_NEAR(product.w, 1.0f, 1e-6f);
    // Scaling a rotation is the way from the identity toward it.
    test::ExpectSameRotation(Call<Quaternion>(TypeQuaternion, "*(float):quaternion", q, 0.5f),
                             Quaternion::FromAxisAngle(0.35f, Float3(1, 2, 3).NormalizedOrSelf()));
    const Quaternion turn = Quaternion::FromAxisAngle(0.5f, Float3(0, 0, 1));
    test::ExpectNear(Call<Float3>(TypeQuaternion, "ToAxisAngle():float3", turn), {0, 0, 0.5f});
    EXPECT_NEAR(
        Call<float>(TypeQuaternion, "GetRotationAroundAxis(float3):float", turn, Float3(0, 0, 2)),
        1.0f, 1e-5f);

    // The perpendiculars are unit vectors for a value of any length.
    for (const Float3& v : {Float3(0, 0, 5), Float3(3, 0, 0), Float3(1, 2, 0.1f)}) {
        const Float3 p = Call<Float3>(TypeFloat3, "GetPerp1():float3", v);
        const Float3 q2 = Call<Float3>(TypeFloat3, "GetPerp2():float3", v);
        EXPECT_NEAR(p.Length(), 1.0f, 1e-5f);
        EXPECT_NEAR(q2.Length(), 1.0f, 1e-5f);
        EXPECT_NEAR(p.Dot(v), 0.0f, 1e-5f);
        EXPECT_NEAR(q2.Dot(v), 0.0f, 1e-5f);
        EXPECT_NEAR(p.Dot(q2), 0.0f, 1e-5f);
    }
}

// The same entries reached as compiled programs reach them: by their operator word, through
// the machine's operator command, which checks the operand words before it calls the body.
class ScriptOperatorCommands : public test::ScriptRunTest {
protected:
    void SetUp() override {
        ScriptRunTest::SetUp();
        DeleteAllValueTypes(); // the fixture's own "int"
        RegisterScriptOperators();
    }
    void TearDown() override {
        ScriptRunTest::TearDown();
        ResetScriptKeywordTable();
    }
};

TEST_F(ScriptOperatorCommands, EveryEntryLeavesTheWordsItsSignatureGivesAboveTheCaller) {
    test::RecordingValidityHook hook;
    const int entries = ForEachEntry(
        [this](int32_t id, const ScriptOperatorRecord& entry, uint32_t in, uint32_t out) {
            const std::string op = std::string("op ") + GetScriptValueType(id)->GetName() + " \"" +
                                   entry.signature + "\"\nend\n";
            std::string source = "stack 64\npush " + std::to_string(Sentinel) + "\n";
            for (uint32_t w = 0; w < in; ++w) {
                source += "push 0\n";
            }
            source += op;
            Script* script = MakeScript(source, "entry");
            ASSERT_TRUE(Call(script)) << entry.signature << ": " << LastError();
            const std::vector<uint32_t> stack = StackOf(script);
            ASSERT_EQ(stack.size(), out + 1) << id << " " << entry.signature;
            EXPECT_EQ(stack[0], Sentinel) << entry.signature;
            script->Delete();

            // One operand word short: a runtime error, never a read below the stack.
            if (in > 0) {
                source = "stack 64\n";
                for (uint32_t w = 1; w < in; ++w) {
                    source += "push 0\n";
                }
                source += op;
                script = MakeScript(source, "short");
                EXPECT_FALSE(Call(script)) << entry.signature;
                EXPECT_EQ(LastError(), "Invalid command - maybe you need to recompile all scripts")
                    << entry.signature;
                script->Delete();
            }
        });
    EXPECT_EQ(entries, 116);
}

} // namespace
} // namespace quarn
