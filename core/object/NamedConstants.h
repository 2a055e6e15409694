#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace quarn {

// Names of enumeration and flag values that class registrations offer the script language.
// The order is byte order of the names; the script interface checksum folds the table in.

// Adds the constant when the name is new; the first registration of a name keeps its value.
void RegisterNamedConstant(const char* name, int32_t value);
// False when no constant has that name (the names compare exactly).
bool FindNamedConstant(const char* name, int32_t* value);
const std::map<std::string, int32_t>& NamedConstants();

} // namespace quarn
