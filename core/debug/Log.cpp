#include "core/debug/Log.h"

#include "core/string/Text.h"

#include <cstdarg>

namespace quarn {

namespace {

void DiscardLogLine(const char*, const char*) {}

LogSink currentSink = DiscardLogLine;

} // namespace

void SetLogSink(LogSink sink) {
    currentSink = sink ? sink : DiscardLogLine;
}

LogSink GetLogSink() {
    return currentSink;
}

void LogMessage(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const char* text = FormatTempV(format, arguments);
    va_end(arguments);
    currentSink("", text);
}

void LogChannelMessage(const char* channel, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const char* text = FormatTempV(format, arguments);
    va_end(arguments);
    currentSink(channel, text);
}

std::string LoggedPath(const char* path) {
    const std::string text = path ? path : "";
    if (text.size() <= LoggedPathLength) {
        return text;
    }
    // The end names the file, the start where it lies.
    constexpr size_t Kept = LoggedPathLength / 2;
    return text.substr(0, Kept) + "[" + std::to_string(text.size() - 2 * Kept) +
           " characters left out]" + text.substr(text.size() - Kept);
}

void LogAtPosition(const char* channel, uint32_t position, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const char* message = FormatTempV(format, arguments);
    va_end(arguments);
    // The message sits in one scratch buffer and the line goes to the other, which is why
    // FormatTemp alternates.
    LogChannelMessage(channel, "%d.%d: %s", static_cast<int>(position >> 16),
                      static_cast<int>(position & 0xFFFF), message);
}

} // namespace quarn
