#include "script/machine/ScriptOperators.h"

#include "core/debug/Validity.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/string/NumberText.h"
#include "core/string/Text.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptArithmetic.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptValueStack.h"
#include "script/machine/ScriptValueType.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace quarn {

namespace {

// Stack mechanics ---------------------------------------------------------------------------

template <auto F, class R, class... A, size_t... I>
R CallOnWords(const uint32_t* words, std::index_sequence<I...>) {
    return F(ValueTraits<A>::Read(words + detail::WordsBefore<A...>(I))...);
}

template <auto F, class R, class... A>
void ApplyToStack(ScriptValueStack& stack, R (*)(A...)) {
    constexpr uint32_t in = detail::WordsBefore<A...>(sizeof...(A));
    constexpr uint32_t out = ValueTraits<R>::Words;
    const uint32_t* operands = stack.TopWords(in);
    if (!operands) {
        // The machine checks the depth before it calls; should a body still run short, popping
        // what is not there raises the stack's fault and changes nothing.
        uint32_t missing[in];
        stack.PopWords(missing, in);
        return;
    }
    const R result = CallOnWords<F, R, A...>(operands, std::index_sequence_for<A...>());
    const uint32_t depth = stack.Depth();
    stack.Adjust(static_cast<int32_t>(out) - static_cast<int32_t>(in));
    if (stack.Depth() + in == depth + out) {
        ValueTraits<R>::Write(result, stack.TopWords(out));
    }
}

// The body of F: its parameters are the operands in stack order (the left operand or the value
// a method is called on, then the right operand or the arguments), and its result takes their
// place. Unary operators and methods without arguments so work in place.
template <auto F>
void Body(ScriptValueStack& stack) {
    ApplyToStack<F>(stack, F);
}

// Numbers -----------------------------------------------------------------------------------

using script_arithmetic::Bits;
using script_arithmetic::Quotient;
using script_arithmetic::Remainder;
using script_arithmetic::Wrapped;

void CheckDivisor(bool isZero) {
    ValidityCheck(!isZero, "Division by zero");
}

int32_t Truncated(float value) {
    return ScriptFloatToInt(value);
}

bool And(bool a, bool b) {
    return a && b;
}
bool Or(bool a, bool b) {
    return a || b;
}
bool ExclusiveOr(bool a, bool b) {
    return a != b;
}
bool BoolEqual(bool a, bool b) {
    return a == b;
}
bool BoolNotEqual(bool a, bool b) {
    return a != b;
}
bool Not(bool a) {
    return !a;
}

int32_t BitAnd(int32_t a, int32_t b) {
    return a & b;
}
int32_t BitOr(int32_t a, int32_t b) {
    return a | b;
}
int32_t BitXor(int32_t a, int32_t b) {
    return a ^ b;
}
bool IntGreater(int32_t a, int32_t b) {
    return a > b;
}
bool IntLess(int32_t a, int32_t b) {
    return a < b;
}
bool IntGreaterEqual(int32_t a, int32_t b) {
    return a >= b;
}
bool IntLessEqual(int32_t a, int32_t b) {
    return a <= b;
}
bool IntEqual(int32_t a, int32_t b) {
    return a == b;
}
bool IntNotEqual(int32_t a, int32_t b) {
    return a != b;
}
int32_t IntMultiply(int32_t a, int32_t b) {
    return script_arithmetic::Multiply(a, b);
}
int32_t IntAdd(int32_t a, int32_t b) {
    return script_arithmetic::Add(a, b);
}
int32_t IntSubtract(int32_t a, int32_t b) {
    return script_arithmetic::Subtract(a, b);
}
int32_t IntDivide(int32_t a, int32_t b) {
    CheckDivisor(b == 0);
    return Quotient(a, b);
}
int32_t IntRemainder(int32_t a, int32_t b) {
    CheckDivisor(b == 0);
    return Remainder(a, b);
}
int32_t ShiftLeft(int32_t a, int32_t b) {
    return script_arithmetic::ShiftLeft(a, b);
}
int32_t ShiftRight(int32_t a, int32_t b) {
    return script_arithmetic::ShiftRight(a, b);
}
int32_t Increment(int32_t a) {
    return Wrapped(Bits(a) + 1);
}
int32_t Decrement(int32_t a) {
    return Wrapped(Bits(a) - 1);
}
int32_t IntNegate(int32_t a) {
    return script_arithmetic::Negate(a);
}
int32_t Complement(int32_t a) {
    return ~a;
}
bool IntToBool(int32_t a) {
    return a != 0;
}
float IntToFloat(int32_t a) {
    return static_cast<float>(a);
}

float FloatMultiply(float a, float b) {
    return a * b;
}
bool FloatGreater(float a, float b) {
    return a > b;
}
bool FloatLess(float a, float b) {
    return a < b;
}
bool FloatGreaterEqual(float a, float b) {
    return a >= b;
}
bool FloatLessEqual(float a, float b) {
    return a <= b;
}
bool FloatEqual(float a, float b) {
    return a == b;
}
bool FloatNotEqual(float a, float b) {
    return a != b;
}
float FloatDivide(float a, float b) {
    // Only +0.0 reports: the check looks at the divisor's bits, and scripts know it that way.
    CheckDivisor(FloatToWord(b) == 0);
    return a / b;
}
float FloatAdd(float a, float b) {
    return a + b;
}
float FloatSubtract(float a, float b) {
    return a - b;
}
float FloatNegate(float a) {
    return -a;
}
// Negative infinity passes; the largest float itself does not.
bool IsValid(float a) {
    return a <= 3.40281e38f;
}
float FloatRemainder(float a, float b) {
    return a - b * static_cast<float>(Truncated(a / b));
}
Float3 ScaleFloat3(float scale, Float3 v) {
    return v * scale;
}

// Texts -------------------------------------------------------------------------------------

// Results are made in a scratch text first, since the operands may lie in the ring the result
// is copied into; the copy (ValueTraits<const char*>) never cuts. A result longer than a
// script's text may be is the operator's runtime error, and empty.
const char* Joined(const char* function, std::string_view left, std::string_view right) {
    static std::string scratch;
    const size_t length = left.size() + right.size();
    // Made and then copied.
    if (!ChargeTextWork(function, length, 2 * length)) {
        scratch.clear();
        return scratch.c_str();
    }
    if (scratch.capacity() > TempRingSize) {
        // Memory kept from a long text is not held for the next.
        std::string().swap(scratch);
    }
    scratch.assign(left).append(right);
    return scratch.c_str();
}

const char* Concatenate(const char* a, const char* b) {
    return Joined("+(string):string", a, b);
}
const char* RemoveText(const char* a, const char* b) {
    constexpr const char* Name = "-(string):string";
    const size_t length = std::strlen(a);
    const size_t removed = std::strlen(b);
    if (!ChargeTextWork(Name, std::max(length, removed), length + removed)) {
        return "";
    }
    const char* found = removed ? std::strstr(a, b) : nullptr;
    if (!found) {
        return a;
    }
    return Joined(Name, std::string_view(a, static_cast<size_t>(found - a)), found + removed);
}
// The comparisons charge the running script for both texts.
int CompareTexts(const char* function, const char* a, const char* b) {
    const size_t left = std::strlen(a);
    const size_t right = std::strlen(b);
    if (!ChargeTextWork(function, std::max(left, right), left + right)) {
        return 0;
    }
    return CompareNoCase(a, b);
}
bool TextEqual(const char* a, const char* b) {
    return CompareTexts("==(string):bool", a, b) == 0;
}
bool TextNotEqual(const char* a, const char* b) {
    return CompareTexts("!=(string):bool", a, b) != 0;
}
bool TextGreater(const char* a, const char* b) {
    return CompareTexts(">(string):bool", a, b) > 0;
}
bool TextLess(const char* a, const char* b) {
    return CompareTexts("<(string):bool", a, b) < 0;
}
const char* AppendFloat(const char* a, float b) {
    return Joined("+(float):string", a, FormatClassic("%f", static_cast<double>(b)));
}
// to_chars writes what "%d" writes, without a format to parse: this append builds most texts.
const char* AppendNumber(const char* function, const char* a, int32_t b) {
    char digits[12];
    const char* end = std::to_chars(digits, digits + sizeof digits, b).ptr;
    return Joined(function, a, std::string_view(digits, static_cast<size_t>(end - digits)));
}
const char* AppendInt(const char* a, int32_t b) {
    return AppendNumber("+(int):string", a, b);
}
const char* AppendBool(const char* a, bool b) {
    return AppendNumber("+(bool):string", a, b ? 1 : 0);
}
const char* AppendFloat2(const char* a, Float2 b) {
    return Joined("+(float2):string", a,
                  FormatClassic("(%f,%f)", static_cast<double>(b.x), static_cast<double>(b.y)));
}
const char* AppendFloat3(const char* a, Float3 b) {
    return Joined("+(float3):string", a,
                  FormatClassic("(%f,%f,%f)", static_cast<double>(b.x), static_cast<double>(b.y),
                                static_cast<double>(b.z)));
}
const char* ToLower(const char* a) {
    char* lowered = const_cast<char*>(Joined("ToLower():string", a, {}));
    ToLowerAscii(lowered);
    return lowered;
}
String64 ToString64(const char* a) {
    return String64(a);
}

String64 Concatenate64(String64 a, String64 b) {
    return a + b.Text();
}
bool Text64Equal(String64 a, String64 b) {
    return CompareNoCase(a.Text(), b.Text()) == 0;
}
bool Text64NotEqual(String64 a, String64 b) {
    return CompareNoCase(a.Text(), b.Text()) != 0;
}
const char* Text64ToString(String64 a) {
    return Joined("ToString():string", a.Text(), {});
}

bool EntityToBool(EntityId a) {
    return a.value != 0;
}

// Int vectors -------------------------------------------------------------------------------

Int2 Int2Times(Int2 a, int32_t s) {
    return {IntMultiply(a.x, s), IntMultiply(a.y, s)};
}
Int2 Int2Divide(Int2 a, int32_t s) {
    CheckDivisor(s == 0);
    return {Quotient(a.x, s), Quotient(a.y, s)};
}
Int2 Int2Add(Int2 a, Int2 b) {
    return {IntAdd(a.x, b.x), IntAdd(a.y, b.y)};
}
Int2 Int2Subtract(Int2 a, Int2 b) {
    return {IntSubtract(a.x, b.x), IntSubtract(a.y, b.y)};
}
bool Int2Equal(Int2 a, Int2 b) {
    return a == b;
}
bool Int2NotEqual(Int2 a, Int2 b) {
    return !(a == b);
}
Int2 Int2Negate(Int2 a) {
    return {IntNegate(a.x), IntNegate(a.y)};
}
Float2 Int2ToFloat2(Int2 a) {
    return {static_cast<float>(a.x), static_cast<float>(a.y)};
}

Int3 Int3Times(Int3 a, int32_t s) {
    return {IntMultiply(a.x, s), IntMultiply(a.y, s), IntMultiply(a.z, s)};
}
Int3 Int3Divide(Int3 a, int32_t s) {
    CheckDivisor(s == 0);
    return {Quotient(a.x, s), Quotient(a.y, s), Quotient(a.z, s)};
}
Int3 Int3Add(Int3 a, Int3 b) {
    return a + b;
}
Int3 Int3Subtract(Int3 a, Int3 b) {
    return a -= b;
}
bool Int3Equal(Int3 a, Int3 b) {
    return a.Equals(b);
}
bool Int3NotEqual(Int3 a, Int3 b) {
    return !a.Equals(b);
}
Int3 Int3Negate(Int3 a) {
    return -a;
}

// Float vectors -----------------------------------------------------------------------------

Float2 Float2Times(Float2 a, float s) {
    return {a.x * s, a.y * s};
}
float Float2Dot(Float2 a, Float2 b) {
    return a.x * b.x + a.y * b.y;
}
Float2 Float2Divide(Float2 a, float s) {
    CheckDivisor(s == 0.0f);
    return {a.x / s, a.y / s};
}
Float2 Float2Add(Float2 a, Float2 b) {
    return {a.x + b.x, a.y + b.y};
}
Float2 Float2Subtract(Float2 a, Float2 b) {
    return {a.x - b.x, a.y - b.y};
}
float Float2Cross(Float2 a, Float2 b) {
    return a.x * b.y - a.y * b.x;
}
bool Float2Equal(Float2 a, Float2 b) {
    return a.x == b.x && a.y == b.y;
}
bool Float2NotEqual(Float2 a, Float2 b) {
    return !Float2Equal(a, b);
}
Float2 Float2Negate(Float2 a) {
    return {-a.x, -a.y};
}
float Float2Length(Float2 a) {
    return std::sqrt(Float2Dot(a, a));
}
Float2 Float2Normalized(Float2 a) {
    return a.Normalized();
}
Int2 Float2ToInt2(Float2 a) {
    return {Truncated(a.x), Truncated(a.y)};
}
Float3 Float2ToFloat3(Float2 a) {
    return {a.x, a.y, 0.0f};
}

Float3 Float3Times(Float3 a, float s) {
    return a * s;
}
float Float3Dot(Float3 a, Float3 b) {
    return a.Dot(b);
}
Float3 Float3Divide(Float3 a, float s) {
    CheckDivisor(s == 0.0f);
    return a / s;
}
Float3 Float3Add(Float3 a, Float3 b) {
    return a + b;
}
Float3 Float3Negate(Float3 a) {
    return {-a.x, -a.y, -a.z};
}
Float3 Float3Subtract(Float3 a, Float3 b) {
    return a - b;
}
Float3 Float3Cross(Float3 a, Float3 b) {
    return a.Cross(b);
}
bool Float3Equal(Float3 a, Float3 b) {
    return !(a != b);
}
bool Float3NotEqual(Float3 a, Float3 b) {
    return a != b;
}
float Float3Length(Float3 a) {
    return a.Length();
}
float Float3SquaredLength(Float3 a) {
    return a.LengthSquared();
}
Float3 Float3Normalized(Float3 a) {
    return a.NormalizedOrSelf();
}
// The frame routine wants a unit normal; scripts get unit vectors for any non-zero value.
Float3 Perpendicular1(Float3 a) {
    Float3 p, q;
    PlaneSpace(a.NormalizedOrSelf(), p, q);
    return p;
}
Float3 Perpendicular2(Float3 a) {
    Float3 p, q;
    PlaneSpace(a.NormalizedOrSelf(), p, q);
    return q;
}
Float2 Float3ToFloat2(Float3 a) {
    return {a.x, a.y};
}

// Quaternions -------------------------------------------------------------------------------

Float3 RotationVector(const Quaternion& q) {
    Float3 axis;
    const float angle = q.ToAxisAngle(axis);
    return axis * angle;
}

Quaternion QuaternionMultiply(Quaternion a, Quaternion b) {
    return a * b;
}
Quaternion QuaternionScale(Quaternion a, float t) {
    return Quaternion::Slerp({}, a, t);
}
bool QuaternionEqual(Quaternion a, Quaternion b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.w == b.w;
}
bool QuaternionNotEqual(Quaternion a, Quaternion b) {
    return !QuaternionEqual(a, b);
}
Quaternion Conjugate(Quaternion a) {
    return {-a.x, -a.y, -a.z, a.w};
}
Float3 ApplyToVector(Quaternion a, Float3 v) {
    return a.RotateVector(v);
}
Float3 ToEuler(Quaternion a) {
    return a.ToEuler();
}
Float3 ToAxisAngle(Quaternion a) {
    return RotationVector(a);
}
Quaternion SlerpTo(Quaternion a, Quaternion b, float t) {
    return Quaternion::Slerp(a, b, t);
}
float RotationAroundAxis(Quaternion a, Float3 axis) {
    return RotationVector(a).Dot(axis);
}

// Registration ------------------------------------------------------------------------------

// The kind each registration form records.
enum EntryKind : int32_t {
    Operator = 0,
    Method = 1,
    Conversion = 2,
};

// Appends an entry: its index is its place in the type's list.
void Add(int32_t typeId, const char* signature, ScriptOperatorFunction body,
         EntryKind kind = Operator) {
    ScriptValueType* type = GetScriptValueType(typeId);
    [[maybe_unused]] const bool added =
        type->AddOperator(signature, type->GetOperatorCount(), body, kind);
    assert(added && "a built-in signature does not parse");
}

void AddComponents(int32_t typeId, int32_t componentType, int count) {
    static const char* const names[] = {"x", "y", "z", "w"};
    for (int i = 0; i < count; ++i) {
        GetScriptValueType(typeId)->AddComponent(names[i], componentType, i);
    }
}

struct TypeRow {
    const char* name;
    int32_t words;
    int32_t id;
};

constexpr TypeRow ValueTypeRows[] = {
    {"void", 0, TypeVoid},
    {"bool", 1, TypeBool},
    {"int", 1, TypeInt},
    {"float", 1, TypeFloat},
    {"char", 1, TypeChar},
    {"string", 1, TypeString},
    {"string64", 16, TypeString64},
    {"entity", 1, TypeEntity},
    {"int2", 2, TypeInt2},
    {"int3", 3, TypeInt3},
    {"float2", 2, TypeFloat2},
    {"float3", 3, TypeFloat3},
    {"quaternion", 4, TypeQuaternion},
};

} // namespace

void RegisterScriptOperators() {
    if (GetScriptValueTypeCount() != 0) {
        return;
    }
    for (const TypeRow& row : ValueTypeRows) {
        CreateValueType(row.name, row.words, row.id);
    }
    AddComponents(TypeInt2, TypeInt, 2);
    AddComponents(TypeInt3, TypeInt, 3);
    AddComponents(TypeFloat2, TypeFloat, 2);
    AddComponents(TypeFloat3, TypeFloat, 3);
    AddComponents(TypeQuaternion, TypeFloat, 4);

    // "&&" and "||" receive both operands evaluated: programs do not short-circuit them.
    Add(TypeBool, "&&(bool):bool", Body<And>);
    Add(TypeBool, "||(bool):bool", Body<Or>);
    Add(TypeBool, "^^(bool):bool", Body<ExclusiveOr>);
    Add(TypeBool, "==(bool):bool", Body<BoolEqual>);
    Add(TypeBool, "!=(bool):bool", Body<BoolNotEqual>);
    Add(TypeBool, "!():bool", Body<Not>);

    Add(TypeInt, "&(int):int", Body<BitAnd>);
    Add(TypeInt, "|(int):int", Body<BitOr>);
    Add(TypeInt, "^(int):int", Body<BitXor>);
    Add(TypeInt, ">(int):bool", Body<IntGreater>);
    Add(TypeInt, "<(int):bool", Body<IntLess>);
    Add(TypeInt, ">=(int):bool", Body<IntGreaterEqual>);
    Add(TypeInt, "<=(int):bool", Body<IntLessEqual>);
    Add(TypeInt, "==(int):bool", Body<IntEqual>);
    Add(TypeInt, "!=(int):bool", Body<IntNotEqual>);
    Add(TypeInt, "*(int):int", Body<IntMultiply>);
    Add(TypeInt, "+(int):int", Body<IntAdd>);
    Add(TypeInt, "-(int):int", Body<IntSubtract>);
    Add(TypeInt, "/(int):int", Body<IntDivide>);
    Add(TypeInt, "%(int):int", Body<IntRemainder>);
    Add(TypeInt, "<<(int):int", Body<ShiftLeft>);
    Add(TypeInt, ">>(int):int", Body<ShiftRight>);
    Add(TypeInt, "++()", Body<Increment>);
    Add(TypeInt, "--()", Body<Decrement>);
    Add(TypeInt, "-():int", Body<IntNegate>);
    Add(TypeInt, "~():int", Body<Complement>);
    Add(TypeInt, "ToBool():bool", Body<IntToBool>, Conversion);
    Add(TypeInt, "ToFloat():float", Body<IntToFloat>, Conversion);

    // Both "*" entries keep their places, so every later float index stays where programs
    // were compiled to find it.
    Add(TypeFloat, "*(float):float", Body<FloatMultiply>);
    Add(TypeFloat, ">(float):bool", Body<FloatGreater>);
    Add(TypeFloat, "<(float):bool", Body<FloatLess>);
    Add(TypeFloat, ">=(float):bool", Body<FloatGreaterEqual>);
    Add(TypeFloat, "<=(float):bool", Body<FloatLessEqual>);
    Add(TypeFloat, "==(float):bool", Body<FloatEqual>);
    Add(TypeFloat, "!=(float):bool", Body<FloatNotEqual>);
    Add(TypeFloat, "*(float):float", Body<FloatMultiply>);
    Add(TypeFloat, "/(float):float", Body<FloatDivide>);
    Add(TypeFloat, "+(float):float", Body<FloatAdd>);
    Add(TypeFloat, "-(float):float", Body<FloatSubtract>);
    Add(TypeFloat, "-():float", Body<FloatNegate>);
    Add(TypeFloat, "IsValid():bool", Body<IsValid>, Method);
    Add(TypeFloat, "%(float):float", Body<FloatRemainder>);
    Add(TypeFloat, "*(float3):float3", Body<ScaleFloat3>);

    Add(TypeString, "+(string):string", Body<Concatenate>);
    Add(TypeString, "-(string):string", Body<RemoveText>);
    Add(TypeString, "==(string):bool", Body<TextEqual>);
    Add(TypeString, "!=(string):bool", Body<TextNotEqual>);
    Add(TypeString, ">(string):bool", Body<TextGreater>);
    Add(TypeString, "<(string):bool", Body<TextLess>);
    Add(TypeString, "+(float):string", Body<AppendFloat>);
    Add(TypeString, "+(int):string", Body<AppendInt>);
    Add(TypeString, "+(bool):string", Body<AppendBool>);
    Add(TypeString, "ToLower():string", Body<ToLower>, Method);
    Add(TypeString, "ToString64():string64", Body<ToString64>, Conversion);

    Add(TypeString64, "+(string64):string64", Body<Concatenate64>);
    Add(TypeString64, "==(string64):bool", Body<Text64Equal>);
    Add(TypeString64, "!=(string64):bool", Body<Text64NotEqual>);
    Add(TypeString64, "ToString():string", Body<Text64ToString>, Conversion);

    Add(TypeEntity, "==(entity):bool", Body<IntEqual>);
    Add(TypeEntity, "!=(entity):bool", Body<IntNotEqual>);
    Add(TypeEntity, "ToBool():bool", Body<EntityToBool>, Conversion);

    Add(TypeInt2, "*(int):int2", Body<Int2Times>);
    Add(TypeInt3, "*(int):int3", Body<Int3Times>);
    Add(TypeInt2, "/(int):int2", Body<Int2Divide>);
    Add(TypeInt3, "/(int):int3", Body<Int3Divide>);
    Add(TypeInt2, "+(int2):int2", Body<Int2Add>);
    Add(TypeInt2, "-(int2):int2", Body<Int2Subtract>);
    Add(TypeInt3, "+(int3):int3", Body<Int3Add>);
    Add(TypeInt3, "-(int3):int3", Body<Int3Subtract>);
    Add(TypeInt2, "==(int2):bool", Body<Int2Equal>);
    Add(TypeInt2, "!=(int2):bool", Body<Int2NotEqual>);
    Add(TypeInt3, "==(int3):bool", Body<Int3Equal>);
    Add(TypeInt3, "!=(int3):bool", Body<Int3NotEqual>);
    Add(TypeInt2, "-():int2", Body<Int2Negate>);
    Add(TypeInt3, "-():int3", Body<Int3Negate>);

    Add(TypeFloat2, "*(float):float2", Body<Float2Times>);
    Add(TypeFloat2, "*(float2):float", Body<Float2Dot>);
    Add(TypeFloat2, "/(float):float2", Body<Float2Divide>);
    Add(TypeFloat2, "+(float2):float2", Body<Float2Add>);
    Add(TypeFloat2, "-(float2):float2", Body<Float2Subtract>);
    Add(TypeFloat2, "^(float2):float", Body<Float2Cross>);
    Add(TypeFloat2, "==(float2):bool", Body<Float2Equal>);
    Add(TypeFloat2, "!=(float2):bool", Body<Float2NotEqual>);
    Add(TypeFloat2, "-():float2", Body<Float2Negate>);
    Add(TypeFloat2, "GetLength():float", Body<Float2Length>, Method);
    Add(TypeFloat2, "GetNormalized():float2", Body<Float2Normalized>, Method);
    Add(TypeFloat2, "ToInt2():int2", Body<Float2ToInt2>, Method);
    Add(TypeString, "+(float2):string", Body<AppendFloat2>);
    Add(TypeInt2, "ToFloat2():float2", Body<Int2ToFloat2>, Method);

    Add(TypeFloat3, "*(float):float3", Body<Float3Times>);
    Add(TypeFloat3, "*(float3):float", Body<Float3Dot>);
    Add(TypeFloat3, "/(float):float3", Body<Float3Divide>);
    Add(TypeFloat3, "+(float3):float3", Body<Float3Add>);
    Add(TypeFloat3, "-():float3", Body<Float3Negate>);
    Add(TypeFloat3, "-(float3):float3", Body<Float3Subtract>);
    Add(TypeFloat3, "^(float3):float3", Body<Float3Cross>);
    Add(TypeFloat3, "==(float3):bool", Body<Float3Equal>);
    Add(TypeFloat3, "!=(float3):bool", Body<Float3NotEqual>);
    Add(TypeFloat3, "GetLength():float", Body<Float3Length>, Method);
    Add(TypeFloat3, "GetSqrLength():float", Body<Float3SquaredLength>, Method);
    Add(TypeFloat3, "GetNormalized():float3", Body<Float3Normalized>, Method);
    Add(TypeFloat3, "GetPerp1():float3", Body<Perpendicular1>, Method);
    Add(TypeFloat3, "GetPerp2():float3", Body<Perpendicular2>, Method);
    Add(TypeFloat3, "ToFloat2():float2", Body<Float3ToFloat2>, Method);
    Add(TypeString, "+(float3):string", Body<AppendFloat3>);
    Add(TypeFloat2, "ToFloat3():float3", Body<Float2ToFloat3>, Method);

    Add(TypeQuaternion, "*(quaternion):quaternion", Body<QuaternionMultiply>);
    Add(TypeQuaternion, "*(float):quaternion", Body<QuaternionScale>);
    Add(TypeQuaternion, "==(quaternion):bool", Body<QuaternionEqual>);
    Add(TypeQuaternion, "!=(quaternion):bool", Body<QuaternionNotEqual>);
    Add(TypeQuaternion, "!():quaternion", Body<Conjugate>);
    Add(TypeQuaternion, "ApplyToVector(float3):float3", Body<ApplyToVector>, Method);
    Add(TypeQuaternion, "ToEuler():float3", Body<ToEuler>, Method);
    Add(TypeQuaternion, "ToAxisAngle():float3", Body<ToAxisAngle>, Method);
    Add(TypeQuaternion, "SlerpTo(quaternion,float):quaternion", Body<SlerpTo>, Method);
    Add(TypeQuaternion, "GetRotationAroundAxis(float3):float", Body<RotationAroundAxis>, Method);

    AddValueTypeKeywords();
}

ScriptTypedOperator ClassifyScriptOperator(ScriptOperatorFunction function) {
    using T = ScriptTypedOperator;
    static const std::pair<ScriptOperatorFunction, ScriptTypedOperator> bodies[] = {
        {Body<IntAdd>, T::IntAdd},
        {Body<IntSubtract>, T::IntSubtract},
        {Body<IntMultiply>, T::IntMultiply},
        {Body<IntDivide>, T::IntDivide},
        {Body<IntRemainder>, T::IntRemainder},
        {Body<BitAnd>, T::IntAnd},
        {Body<BitOr>, T::IntOr},
        {Body<BitXor>, T::IntXor},
        {Body<ShiftLeft>, T::IntShiftLeft},
        {Body<ShiftRight>, T::IntShiftRight},
        {Body<IntLess>, T::IntLess},
        {Body<IntLessEqual>, T::IntLessEqual},
        {Body<IntGreater>, T::IntGreater},
        {Body<IntGreaterEqual>, T::IntGreaterEqual},
        {Body<IntEqual>, T::IntEqual},
        {Body<IntNotEqual>, T::IntNotEqual},
        {Body<FloatAdd>, T::FloatAdd},
        {Body<FloatSubtract>, T::FloatSubtract},
        {Body<FloatMultiply>, T::FloatMultiply},
        {Body<FloatDivide>, T::FloatDivide},
        {Body<FloatLess>, T::FloatLess},
        {Body<FloatLessEqual>, T::FloatLessEqual},
        {Body<FloatGreater>, T::FloatGreater},
        {Body<FloatGreaterEqual>, T::FloatGreaterEqual},
        {Body<FloatEqual>, T::FloatEqual},
        {Body<FloatNotEqual>, T::FloatNotEqual},
        {Body<And>, T::BoolAnd},
        {Body<Or>, T::BoolOr},
        {Body<ExclusiveOr>, T::BoolExclusiveOr},
        {Body<BoolEqual>, T::BoolEqual},
        {Body<BoolNotEqual>, T::BoolNotEqual},
        {Body<IntNegate>, T::IntNegate},
        {Body<Complement>, T::IntComplement},
        {Body<Increment>, T::IntIncrement},
        {Body<Decrement>, T::IntDecrement},
        {Body<IntToBool>, T::IntToBool},
        {Body<IntToFloat>, T::IntToFloat},
        {Body<FloatNegate>, T::FloatNegate},
        {Body<Not>, T::BoolNot},
    };
    for (const auto& [body, typed] : bodies) {
        if (body == function) {
            return typed;
        }
    }
    return T::None;
}

int32_t ScriptFloatToInt(float value) {
    return value >= -2147483648.0f && value < 2147483648.0f ? static_cast<int32_t>(value)
                                                            : INT32_MIN;
}

} // namespace quarn
