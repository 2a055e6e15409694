#include "core/debug/Assertion.h"

#include <cstdarg>
#include <cstdio>

namespace quarn {

namespace {

AssertionHook currentHook = nullptr;

} // namespace

void SetAssertionHook(AssertionHook hook) {
    currentHook = hook;
}

AssertionHook GetAssertionHook() {
    return currentHook;
}

void ReportAssertion(int level, const char* format, ...) {
    if (!currentHook) {
        return;
    }
    char message[1024];
    va_list arguments;
    va_start(arguments, format);
    if (vsnprintf(message, sizeof message, format, arguments) < 0) {
        message[0] = '\0';
    }
    va_end(arguments);
    currentHook(level, message);
}

bool CheckArguments(bool condition, const char* file, int line) {
    if (!condition) {
        ReportAssertion(1, "Bad argument(s) (%s:%d)", file, line);
    }
    return condition;
}

bool CheckAssertion(bool condition, const char* text, const char* file, int line) {
    if (!condition) {
        ReportAssertion(1, "assertion \"%s\" failed in %s:%d", text, file, line);
    }
    return condition;
}

} // namespace quarn
