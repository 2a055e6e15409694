#pragma once

#include "script/machine/ScriptValueType.h"

#include <cstdint>

namespace quarn {

// The answer of the x86 conversion that scripts always got: truncation toward zero, and
// 0x80000000 for NaN and anything outside the int range.
int32_t ScriptFloatToInt(float value);

// The built-in operators on int, float and bool words that the machine computes without calling
// their bodies, each giving the words its body gives; None for every other body. X(name, shape):
// Binary takes two words, Compare two giving a bool (and fuses with a conditional jump), Unary
// one. The translated runner's dispatch table is made from this list.
#define QUARN_TYPED_OPERATORS(X)                                                                   \
    X(IntAdd, Binary)                                                                              \
    X(IntSubtract, Binary)                                                                         \
    X(IntMultiply, Binary)                                                                         \
    X(IntDivide, Binary)                                                                           \
    X(IntRemainder, Binary)                                                                        \
    X(IntAnd, Binary)                                                                              \
    X(IntOr, Binary)                                                                               \
    X(IntXor, Binary)                                                                              \
    X(IntShiftLeft, Binary)                                                                        \
    X(IntShiftRight, Binary)                                                                       \
    X(IntLess, Compare)                                                                            \
    X(IntLessEqual, Compare)                                                                       \
    X(IntGreater, Compare)                                                                         \
    X(IntGreaterEqual, Compare)                                                                    \
    X(IntEqual, Compare)                                                                           \
    X(IntNotEqual, Compare)                                                                        \
    X(FloatAdd, Binary)                                                                            \
    X(FloatSubtract, Binary)                                                                       \
    X(FloatMultiply, Binary)                                                                       \
    X(FloatDivide, Binary)                                                                         \
    X(FloatLess, Compare)                                                                          \
    X(FloatLessEqual, Compare)                                                                     \
    X(FloatGreater, Compare)                                                                       \
    X(FloatGreaterEqual, Compare)                                                                  \
    X(FloatEqual, Compare)                                                                         \
    X(FloatNotEqual, Compare)                                                                      \
    X(BoolAnd, Binary)                                                                             \
    X(BoolOr, Binary)                                                                              \
    X(BoolExclusiveOr, Binary)                                                                     \
    X(BoolEqual, Compare)                                                                          \
    X(BoolNotEqual, Compare)                                                                       \
    X(IntNegate, Unary)                                                                            \
    X(IntComplement, Unary)                                                                        \
    X(IntIncrement, Unary)                                                                         \
    X(IntDecrement, Unary)                                                                         \
    X(IntToBool, Unary)                                                                            \
    X(IntToFloat, Unary)                                                                           \
    X(FloatNegate, Unary)                                                                          \
    X(BoolNot, Unary)

enum class ScriptTypedOperator : uint8_t {
    None,
#define QUARN_TYPED_OPERATOR_NAME(name, shape) name,
    QUARN_TYPED_OPERATORS(QUARN_TYPED_OPERATOR_NAME)
#undef QUARN_TYPED_OPERATOR_NAME
};

ScriptTypedOperator ClassifyScriptOperator(ScriptOperatorFunction function);

// Creates the script language's built-in value types with their components, operators, methods
// and conversions, then enters the type names in the keyword table. Compiled programs name an
// operator by (type id << 16) | its index in the type's list, so the registration order is part
// of the interface with them. Does nothing while the value types exist.
void RegisterScriptOperators();

} // namespace quarn
