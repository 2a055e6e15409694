#include "core/object/MethodInfo.h"

#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"
#include "core/string/TextArena.h"
#include "tests/support/RecordingValidityHook.h"
#include "tests/support/TestClass.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace quarn {
namespace {

using test::TestClass;

// A class whose members cover every shape of word block.
class MiCalculator : public TestClass<MiCalculator> {
public:
    static constexpr const char* Name = "MiCalculator";

    int32_t Add(int32_t a, int32_t b) { return a + b; }
    float Half(float value) const { return value * 0.5f; }
    Float3 Scale(Float3 v, float factor) { return {v.x * factor, v.y * factor, v.z * factor}; }
    const char* Greet(const char* name) {
        greeting_ = std::string("hello ") + name;
        return greeting_.c_str();
    }
    Entity* Other(Entity* other) {
        seen_ = other;
        return other ? this : nullptr;
    }
    void Touch() { ++touches_; }
    int32_t Count() const { return touches_; }
    void Raw(uint32_t* block) { block[0] = block[1] * 10; }

    void CallMethod(const MethodInfo& method, uint32_t* block) override {
        called_ = &method;
        block[0] = 77;
    }

    std::string greeting_;
    Entity* seen_ = nullptr;
    int touches_ = 0;
    const MethodInfo* called_ = nullptr;
};

// A method with a binding, owned by the calculator class for the report's sake.
std::unique_ptr<MethodInfo> MakeMethod(const char* signature, const MethodBinding& binding) {
    auto method = std::make_unique<MethodInfo>("m", signature);
    method->SetOwner(MiCalculator::RegisterClass());
    method->Bind(binding);
    return method;
}

// The names already handed out depend on what ran before, so the sequence is checked from the
// wrap on: after "zzz" the counter stands where it starts.
TEST(NextShortName, CarriesLetterByLetterAndWrapsAfterZzz) {
    std::string name = NextShortName();
    for (int i = 0; i < 26 * 26 * 26 && name != "aaz"; ++i) {
        name = NextShortName();
    }
    ASSERT_EQ(name, "aaz");
    EXPECT_STREQ(NextShortName(), "aba");
    for (int i = 0; i < 26 * 26 * 26 && name != "zzz"; ++i) {
        name = NextShortName();
    }
    ASSERT_EQ(name, "zzz");
    EXPECT_STREQ(NextShortName(), "aaa");
    EXPECT_STREQ(NextShortName(), "aab");
}

TEST(MethodInfoSignature, ArgumentsAndResultAreReadAsTypesWithWordCounts) {
    MethodInfo method("Move", "(float3, string):float3");
    ASSERT_EQ(method.GetArgumentCount(), 2);
    EXPECT_EQ(method.GetArgumentType(0), TypeFloat3);
    EXPECT_EQ(method.GetArgumentType(1), TypeString);
    EXPECT_EQ(method.GetArgumentType(2), TypeVoid);
    EXPECT_EQ(method.GetArgumentWords(), 4);
    EXPECT_EQ(method.GetReturnType(), TypeFloat3);
    EXPECT_EQ(method.GetReturnWords(), 3);
    EXPECT_EQ(method.GetSignatureText(), "(float3, string):float3");
}

TEST(MethodInfoSignature, ArgumentsOrResultMayBeMissingAndAnOpenListEndsAtTheText) {
    MethodInfo getter("GetPosition", ":float3");
    EXPECT_EQ(getter.GetArgumentCount(), 0);
    EXPECT_EQ(getter.GetSignatureText(), "():float3");
    MethodInfo setter("SetEnabled", "(bool)");
    EXPECT_EQ(setter.GetReturnWords(), 0);
    EXPECT_EQ(setter.GetSignatureText(), "(bool)");
    MethodInfo broken("Broken", "(int, float");
    EXPECT_EQ(broken.GetArgumentCount(), 2);
    EXPECT_EQ(broken.GetReturnCount(), 0);
}

TEST(MethodInfoSignature, ClassNamesAreReferenceTypesAndUnknownNamesVoid) {
    ClassInfo* calculator = MiCalculator::RegisterClass();
    MethodInfo method("Find", "(string, int, Banana):MiCalculator");
    EXPECT_EQ(method.GetArgumentWords(), 2);
    EXPECT_EQ(method.GetReturnType(), ClassTypeBase + calculator->GetClassNumber());
    EXPECT_EQ(method.GetSignatureText(), "(string, int, void):MiCalculator");
}

TEST(MethodInfoSignature, ANameIsKeptAsGivenEvenWithPercentSigns) {
    MethodInfo method("odd%s%n%%name", "(int)");
    EXPECT_STREQ(method.GetName(), "odd%s%n%%name");
    EXPECT_EQ(method.GetArgumentCount(), 1);
}

TEST(MethodInfoSignature, ArgumentsPastSixteenAreReportedAndIgnored) {
    test::RecordingValidityHook hook;
    std::string signature = "(int";
    for (int i = 1; i < 18; ++i) {
        signature += ", float";
    }
    MethodInfo method("Many", (signature + "):int").c_str());
    EXPECT_EQ(method.GetArgumentCount(), 16);
    EXPECT_EQ(method.GetReturnType(), TypeInt);
    ASSERT_EQ(hook.Messages().size(), 1u);
    EXPECT_NE(hook.Messages()[0].find("Many"), std::string::npos);
}

TEST(MethodInfoCall, ResultsFillTheBlockFromWordZeroAfterTheArgumentWords) {
    MiCalculator calculator;
    auto add = MakeMethod("(int, int):int", BindMethod<&MiCalculator::Add>());
    uint32_t sum[3] = {0, 40, static_cast<uint32_t>(-2)};
    add->Call(&calculator, sum);
    EXPECT_EQ(static_cast<int32_t>(sum[0]), 38);
    auto half = MakeMethod("(float):float", BindMethod<&MiCalculator::Half>());
    uint32_t halved[2] = {0, FloatToWord(3.0f)};
    half->Call(&calculator, halved);
    EXPECT_EQ(WordToFloat(halved[0]), 1.5f);
    auto scale = MakeMethod("(float3, float):float3", BindMethod<&MiCalculator::Scale>());
    uint32_t block[5] = {0, FloatToWord(1.0f), FloatToWord(-2.0f), FloatToWord(3.0f),
                         FloatToWord(2.0f)};
    scale->Call(&calculator, block);
    EXPECT_EQ(WordToFloat(block[0]), 2.0f);
    EXPECT_EQ(WordToFloat(block[1]), -4.0f);
    EXPECT_EQ(WordToFloat(block[2]), 6.0f);
}

TEST(MethodInfoCall, StringsTravelAsArenaWords) {
    MiCalculator calculator;
    auto method = MakeMethod("(string):string", BindMethod<&MiCalculator::Greet>());
    uint32_t block[2] = {0, StoreText("Ada")};
    method->Call(&calculator, block);
    EXPECT_STREQ(LookupText(block[0]), "hello Ada");
}

TEST(MethodInfoCall, EntityArgumentsResolveTheirIdsAndResultsAreIds) {
    MiCalculator calculator;
    auto* other = static_cast<MiCalculator*>(MiCalculator::RegisterClass()->CreateInstance());
    calculator.ChangeId(TheIdMap().GetFreeLocalId(0));
    other->ChangeId(TheIdMap().GetFreeLocalId(0));
    auto method = MakeMethod("(MiCalculator):Entity", BindMethod<&MiCalculator::Other>());
    uint32_t block[2] = {0, other->GetId()};
    method->Call(&calculator, block);
    EXPECT_EQ(calculator.seen_, other);
    EXPECT_EQ(block[0], calculator.GetId());

    // A destroyed object's id resolves to nothing: the method sees null, not freed memory.
    uint32_t stale[2] = {123, other->GetId()};
    other->Delete();
    method->Call(&calculator, stale);
    EXPECT_EQ(calculator.seen_, nullptr);
    EXPECT_EQ(stale[0], 0u);
}

int32_t Square(int32_t value) {
    return value * value;
}

TEST(MethodInfoCall, FreeFunctionsRunWithoutAnObject) {
    const int count = GetRegisteredFunctionCount();
    auto function = std::make_unique<MethodInfo>("square", "(int):int");
    ASSERT_TRUE(function->Bind(BindMethod<&Square>()));
    MethodInfo* registered = RegisterFunction(std::move(function));
    EXPECT_EQ(GetRegisteredFunction(count), registered);
    EXPECT_EQ(GetRegisteredFunction(count + 1), nullptr);
    uint32_t block[2] = {0, 12};
    registered->Call(nullptr, block);
    EXPECT_EQ(block[0], 144u);
}

TEST(MethodInfoCall, AnUnboundMethodFallsBackToTheObjectsCallMethod) {
    MiCalculator calculator;
    MethodInfo* method = MiCalculator::RegisterClass()->AddMethod(
        "MiUnbound", "(int):int", MethodBinding(), MethodScriptCallable);
    uint32_t block[2] = {0, 5};
    method->Call(&calculator, block);
    EXPECT_EQ(calculator.called_, method);
    EXPECT_EQ(block[0], 77u);
    block[0] = 0;
    method->Call(nullptr, block); // nobody to ask
    EXPECT_EQ(block[0], 0u);
}

TEST(MethodInfoCall, ABindingThatDoesNotFitItsSignatureIsReportedAndLeftUnbound) {
    test::RecordingValidityHook hook;
    MiCalculator calculator;
    MethodInfo* method = MiCalculator::RegisterClass()->AddMethod(
        "MiMismatch", "(int):int", BindMethod<&MiCalculator::Half>(), MethodScript);
    EXPECT_FALSE(method->IsBound());
    EXPECT_EQ(method->GetCallFlags(), MethodScript);
    ASSERT_EQ(hook.Messages().size(), 1u);
    const std::string& message = hook.Messages()[0];
    for (const char* part : {"MiCalculator", "MiMismatch", "(float):float", "(int):int"}) {
        EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
    }
    uint32_t block[2] = {0, 5};
    method->Call(&calculator, block);
    EXPECT_EQ(block[0], 77u);
}

TEST(MethodInfoCall, ABindingFitsOnlyTheSameCountsAndFittingTypes) {
    test::RecordingValidityHook hook;
    // Several results fit no C++ function; unknown type names read as void, which nothing is.
    EXPECT_FALSE(MakeMethod("():int, int", BindMethod<&MiCalculator::Count>())->IsBound());
    EXPECT_FALSE(MakeMethod("(int, int)", BindMethod<&MiCalculator::Add>())->IsBound());
    EXPECT_FALSE(MakeMethod("(int, Banana):int", BindMethod<&MiCalculator::Add>())->IsBound());
    EXPECT_FALSE(MakeMethod("(int, int, int):int", BindMethod<&MiCalculator::Add>())->IsBound());
    EXPECT_FALSE(MakeMethod("(float3):float", BindMethod<&MiCalculator::Half>())->IsBound());
    EXPECT_EQ(hook.Messages().size(), 5u);

    hook.Clear();
    EXPECT_TRUE(MakeMethod("()", BindMethod<&MiCalculator::Touch>())->IsBound());
    EXPECT_TRUE(MakeMethod("(MiCalculator):Entity", BindMethod<&MiCalculator::Other>())->IsBound());
    EXPECT_TRUE(MakeMethod("(entity):entity", BindMethod<&MiCalculator::Other>())->IsBound());
    EXPECT_TRUE(hook.Messages().empty());
}

TEST(MethodInfoCall, BlockMethodsAreNotCheckedAndReadTheirOwnWords) {
    test::RecordingValidityHook hook;
    MiCalculator calculator;
    auto method = MakeMethod("(string, float3):quaternion", BindBlockMethod<&MiCalculator::Raw>());
    EXPECT_TRUE(method->IsBound());
    EXPECT_TRUE(hook.Messages().empty());
    uint32_t block[2] = {0, 4};
    method->Call(&calculator, block);
    EXPECT_EQ(block[0], 40u);
}

TEST(MethodInfoCall, ACallWithoutABlockStillRuns) {
    MiCalculator calculator;
    MakeMethod("()", BindMethod<&MiCalculator::Touch>())->Call(&calculator, nullptr);
    MakeMethod("(int, int):int", BindMethod<&MiCalculator::Add>())->Call(&calculator, nullptr);
    EXPECT_EQ(calculator.touches_, 1);
}

} // namespace
} // namespace quarn
