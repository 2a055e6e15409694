#pragma once

#include <cstdint>

namespace quarn {

// The answer of the x86 conversion that scripts always got: truncation toward zero, and
// 0x80000000 for NaN and anything outside the int range.
int32_t ScriptFloatToInt(float value);

// Creates the script language's built-in value types with their components, operators, methods
// and conversions, then enters the type names in the keyword table. Compiled programs name an
// operator by (type id << 16) | its index in the type's list, so the registration order is part
// of the interface with them. Does nothing while the value types exist.
void RegisterScriptOperators();

} // namespace quarn
