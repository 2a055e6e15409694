#pragma once

#include "script/machine/ScriptValueType.h"

#include <cstdint>

namespace quarn {

// The answer of the x86 conversion that scripts always got: truncation toward zero, and
// 0x80000000 for NaN and anything outside the int range.
int32_t ScriptFloatToInt(float value);

// The built-in operators on int, float and bool words that the machine computes without calling
// their bodies, each giving the words its body gives; None for every other body.
enum class ScriptTypedOperator : uint8_t {
    None,
    IntAdd,
    IntSubtract,
    IntMultiply,
    IntDivide,
    IntRemainder,
    IntAnd,
    IntOr,
    IntXor,
    IntShiftLeft,
    IntShiftRight,
    IntLess,
    IntLessEqual,
    IntGreater,
    IntGreaterEqual,
    IntEqual,
    IntNotEqual,
    FloatAdd,
    FloatSubtract,
    FloatMultiply,
    FloatDivide,
    FloatLess,
    FloatLessEqual,
    FloatGreater,
    FloatGreaterEqual,
    FloatEqual,
    FloatNotEqual,
    BoolAnd,
    BoolOr,
    BoolExclusiveOr,
    BoolEqual,
    BoolNotEqual,
    IntNegate,
    IntComplement,
    IntIncrement,
    IntDecrement,
    IntToBool,
    IntToFloat,
    FloatNegate,
    BoolNot,
};
ScriptTypedOperator ClassifyScriptOperator(ScriptOperatorFunction function);

// Creates the script language's built-in value types with their components, operators, methods
// and conversions, then enters the type names in the keyword table. Compiled programs name an
// operator by (type id << 16) | its index in the type's list, so the registration order is part
// of the interface with them. Does nothing while the value types exist.
void RegisterScriptOperators();

} // namespace quarn
