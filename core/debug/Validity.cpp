#include "core/debug/Validity.h"

#include "core/debug/Log.h"
#include "core/os/Dialogs.h"

#include <cstdarg>
#include <cstdio>

namespace quarn {

namespace {

constexpr int MessageCapacity = 4096;

ValidityHook currentHook = nullptr;

struct Gathered {
    int depth = 0;
    int count = 0;
    std::string first;
};

Gathered gathered;

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
    if (gathered.depth > 0) {
        if (gathered.count++ == 0) {
            gathered.first = message;
        } else {
            LogMessage("Validity check: %s", message);
        }
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

ValidityGathering::ValidityGathering() {
    ++gathered.depth;
}

ValidityGathering::~ValidityGathering() {
    if (--gathered.depth == 0) {
        const std::string text = Take();
        if (!text.empty()) {
            ShowMessageBox(text.c_str(), "Validity check", MessageBoxOk | MessageBoxIconError);
        }
    }
}

std::string ValidityGathering::Take() {
    std::string text = std::move(gathered.first);
    gathered.first.clear();
    if (gathered.count > 1) {
        const int more = gathered.count - 1;
        text += "\n\n(" + std::to_string(more) + " more validity report" +
                (more == 1 ? " is" : "s are") + " in the log)";
    }
    gathered.count = 0;
    return text;
}

} // namespace quarn
