#pragma once

#include "core/string/PrintfFormat.h"

namespace quarn {

// Consistency failures: reported, never fatal; the caller goes on with a default value.

// Offered every failed check's text first; true means it has shown the message itself. The
// script machine installs one while scripts run, to offer debugging the script.
using ValidityHook = bool (*)(const char* message);

void SetValidityHook(ValidityHook hook); // null removes it
ValidityHook GetValidityHook();

// True at once when the condition holds. Otherwise the message (at most 4095 characters) goes
// to the hook, or when no hook takes it, to a "Validity check" message box; returns false.
bool ValidityCheck(bool condition, const char* format, ...) QUARN_PRINTF(2, 3);
// The same report without a condition; returns true.
bool ValidityReport(const char* format, ...) QUARN_PRINTF(1, 2);

} // namespace quarn
