#pragma once

#include "core/string/PrintfFormat.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarn {

// Where log lines go: (channel, text). The channel is "" for plain messages. The default sink
// discards everything; a log window, a file or a test installs its own.
using LogSink = void (*)(const char* channel, const char* text);

void SetLogSink(LogSink sink); // null restores the default
LogSink GetLogSink();

// Messages are formatted through FormatTemp, so at most 4095 characters reach the sink.
void LogMessage(const char* format, ...) QUARN_PRINTF(1, 2);
void LogChannelMessage(const char* channel, const char* format, ...) QUARN_PRINTF(2, 3);

// A path as a log line names it. A line holds 4095 characters, so a path longer than
// LoggedPathLength keeps its start and its end around a mark of how many characters were left
// out: what the line says after the path (why it was refused) is never the part cut off.
inline constexpr size_t LoggedPathLength = 1024;
std::string LoggedPath(const char* path);

// A message about a place in a text: position packs the line in its high 16 bits and the column
// in its low 16 bits; the sink receives "line.column: message".
void LogAtPosition(const char* channel, uint32_t position, const char* format, ...)
    QUARN_PRINTF(3, 4);

} // namespace quarn
