#include "core/debug/Validity.h"

#include "core/os/Dialogs.h"

#include <cstdarg>
#include <cstdio>

namespace quarn {

namespace {

constexpr int MessageCapacity = 4096;

ValidityHook currentHook = nullptr;

QUARN_PRINTF(1, 0) void Report(const char* format, va_list arguments) {
    // Its own buffer, not FormatTemp's: a report may come from code that still holds a
    // FormatTemp result.
    char message[MessageCapacity];
    if (vsnprintf(message, sizeof message, format, arguments) < 0) {
        message[0] = '\0';
    }
    if (currentHook && currentHook(message)) {
        return;
    }
    ShowMessageBox(message, "Validity check", MessageBoxOk | MessageBoxIconError);
}

} // namespace

void SetValidityHook(ValidityHook hook) {
    currentHook = hook;
}

ValidityHook GetValidityHook() {
    return currentHook;
}

bool ValidityCheck(bool condition, const char* format, ...) {
    if (condition) {
        return true;
    }
    va_list arguments;
    va_start(arguments, format);
    Report(format, arguments);
    va_end(arguments);
    return false;
}

bool ValidityReport(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    Report(format, arguments);
    va_end(arguments);
    return true;
}

} // namespace quarn
