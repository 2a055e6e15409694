#include "core/object/MethodInfo.h"

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

TEST(MethodInfoSignature, ArgumentsAndResultAreReadAsTypesWithWordCounts) {
    const int32_t calculator = ClassTypeBase + MiCalculator::RegisterClass()->GetClassNumber();
    const struct {
        const char* signature;
        int arguments, argumentWords, returnType, returnWords;
        const char* text; // as written back
    } cases[] = {
        {"(float3, string):float3", 2, 4, TypeFloat3, 3, "(float3, string):float3"},
        {":float3", 0, 0, TypeFloat3, 3, "():float3"},
        {"(bool)", 1, 1, TypeVoid, 0, "(bool)"},
        {"(int, float", 2, 2, TypeVoid, 0, "(int, float)"}, // an open list ends at the text
        // Class names are reference types, unknown names void.
        {"(string, int, Banana):MiCalculator", 3, 2, calculator, 1,
         "(string, int, void):MiCalculator"},
    };
    for (const auto& c : cases) {
        MethodInfo method("m", c.signature);
        EXPECT_EQ(method.GetArgumentCount(), c.arguments) << c.signature;
        EXPECT_EQ(method.GetArgumentWords(), c.argumentWords) << c.signature;
        EXPECT_EQ(method.GetReturnType(), c.returnType) << c.signature;
        EXPECT_EQ(method.GetReturnWords(), c.returnWords) << c.signature;
        EXPECT_EQ(method.GetSignatureText(), c.text) << c.signature;
    }
    MethodInfo method("odd%s%n%%name", "(float3, string)"); // never used as a format
    EXPECT_STREQ(method.GetName(), "odd%s%n%%name");
    EXPECT_EQ(method.GetArgumentType(1), TypeString);
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
    auto scale = MakeMethod("(float3, float):float3", BindMethod<&MiCalculator::Scale>());
    uint32_t block[5] = {0, FloatToWord(1.0f), FloatToWord(-2.0f), FloatToWord(3.0f),
                         FloatToWord(2.0f)};
    scale->Call(&calculator, block);
    EXPECT_EQ(WordToFloat(block[0]), 2.0f);
    EXPECT_EQ(WordToFloat(block[2]), 6.0f);
    // Strings travel as arena words.
    auto greet = MakeMethod("(string):string", BindMethod<&MiCalculator::Greet>());
    uint32_t text[2] = {0, StoreText("Ada")};
    greet->Call(&calculator, text);
    EXPECT_STREQ(LookupText(text[0]), "hello Ada");
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

TEST(MethodInfoCall, UnboundOrMisboundMethodsFallBackToTheObjectsCallMethod) {
    test::RecordingValidityHook hook;
    MiCalculator calculator;
    MethodInfo* unbound = MiCalculator::RegisterClass()->AddMethod(
        "MiUnbound", "(int):int", MethodBinding(), MethodScriptCallable);
    uint32_t block[2] = {0, 5};
    unbound->Call(&calculator, block);
    EXPECT_EQ(calculator.called_, unbound);
    EXPECT_EQ(block[0], 77u);
    block[0] = 0;
    unbound->Call(nullptr, block); // nobody to ask
    EXPECT_EQ(block[0], 0u);
    EXPECT_TRUE(hook.Messages().empty());

    // A binding that does not fit its signature is reported and left unbound.
    MethodInfo* method = MiCalculator::RegisterClass()->AddMethod(
        "MiMismatch", "(int):int", BindMethod<&MiCalculator::Half>(), MethodScript);
    EXPECT_FALSE(method->IsBound());
    EXPECT_EQ(method->GetCallFlags(), MethodScript);
    ASSERT_EQ(hook.Messages().size(), 1u);
    const std::string& message = hook.Messages()[0];
    for (const char* part : {"MiMismatch", "(float):float", "(int):int"}) {
        EXPECT_NE(message.find(part), std::string::npos) << part << " in " << message;
    }
    method->Call(&calculator, block);
    EXPECT_EQ(calculator.called_, method);
}

TEST(MethodInfoCall, ABindingFitsOnlyTheSameCountsAndFittingTypes) {
    test::RecordingValidityHook hook;
    // Several results fit no C++ function; unknown type names read as void, which nothing is.
    EXPECT_FALSE(MakeMethod("():int, int", BindMethod<&MiCalculator::Count>())->IsBound());
    EXPECT_FALSE(MakeMethod("(int, int)", BindMethod<&MiCalculator::Add>())->IsBound());
    EXPECT_FALSE(MakeMethod("(int, Banana):int", BindMethod<&MiCalculator::Add>())->IsBound());
    EXPECT_FALSE(MakeMethod("(float3):float", BindMethod<&MiCalculator::Half>())->IsBound());
    EXPECT_EQ(hook.Messages().size(), 4u);

    hook.Clear();
    EXPECT_TRUE(MakeMethod("(MiCalculator):Entity", BindMethod<&MiCalculator::Other>())->IsBound());
    EXPECT_TRUE(MakeMethod("(entity):entity", BindMethod<&MiCalculator::Other>())->IsBound());
    EXPECT_TRUE(hook.Messages().empty());
}

TEST(MethodInfoCall, BlockMethodsAreNotCheckedAndACallWithoutABlockStillRuns) {
    test::RecordingValidityHook hook;
    MiCalculator calculator;
    auto method = MakeMethod("(string, float3):quaternion", BindBlockMethod<&MiCalculator::Raw>());
    EXPECT_TRUE(method->IsBound());
    EXPECT_TRUE(hook.Messages().empty());
    uint32_t block[2] = {0, 4};
    method->Call(&calculator, block);
    EXPECT_EQ(block[0], 40u);

    MakeMethod("()", BindMethod<&MiCalculator::Touch>())->Call(&calculator, nullptr);
    MakeMethod("(int, int):int", BindMethod<&MiCalculator::Add>())->Call(&calculator, nullptr);
    method->Call(&calculator, nullptr);
    EXPECT_EQ(calculator.touches_, 1);
}

} // namespace
} // namespace quarn
