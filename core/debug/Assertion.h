#pragma once

#include "core/string/PrintfFormat.h"

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
bool CheckArguments(bool condition, const char* file, int line);
// "assertion "text" failed in file:line" unless the condition holds; answers the condition.
bool CheckAssertion(bool condition, const char* text, const char* file, int line);

// The checks at the place they are written.
#define QUARN_CHECK_ARGUMENTS(condition) ::quarn::CheckArguments((condition), __FILE__, __LINE__)
#define QUARN_CHECK_ASSERTION(condition, text)                                                     \
    ::quarn::CheckAssertion((condition), (text), __FILE__, __LINE__)

} // namespace quarn
