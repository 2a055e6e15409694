#pragma once

#include "core/string/PrintfFormat.h"

#include <string>

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

// While one is alive, the reports no hook takes are gathered instead of each holding the
// program in a box of its own: a file may raise thousands. The first is kept for one box, the
// others are logged ("Validity check: ..."), and the outermost gathering shows that box as it
// ends. Nested gatherings join the outermost.
class ValidityGathering {
public:
    ValidityGathering();
    ~ValidityGathering();
    ValidityGathering(const ValidityGathering&) = delete;
    ValidityGathering& operator=(const ValidityGathering&) = delete;

    // The box's text for what was gathered so far ("" for nothing): the first report, and how
    // many more the log holds. The caller shows it from then on; the gathering no longer does.
    static std::string Take();
};

} // namespace quarn
