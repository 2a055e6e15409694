#pragma once

#include "core/string/PrintfFormat.h"

#include <source_location>

namespace quarn {

// Internal consistency checks of the numeric code (solvers, kernels, colliders). A failure is
// only reported: the caller carries on with what it was given, because a frame must go on even
// when one island's numbers are off. Without a hook nothing is formatted or shown.

// Receives every report with its level and formatted message; tests install one to count them.
using AssertionHook = void (*)(int level, const char* message);

void SetAssertionHook(AssertionHook hook); // null removes it
AssertionHook GetAssertionHook();

void ReportAssertion(int level, const char* format, ...) QUARN_PRINTF(2, 3);

// "Bad argument(s) (file:line)" unless the condition holds; answers the condition.
bool CheckArguments(bool condition, std::source_location where = std::source_location::current());
// "assertion "text" failed in file:line" unless the condition holds; answers the condition.
bool CheckAssertion(bool condition, const char* text,
                    std::source_location where = std::source_location::current());

} // namespace quarn
