#pragma once

#include "core/debug/Log.h"

#include <string>
#include <vector>

namespace quarn::test {

// Collects every log line while it exists; the sink it replaced comes back afterwards.
class CapturingLogSink {
public:
    struct Line {
        std::string channel;
        std::string text;
    };

    CapturingLogSink();
    ~CapturingLogSink();
    CapturingLogSink(const CapturingLogSink&) = delete;
    CapturingLogSink& operator=(const CapturingLogSink&) = delete;

    const std::vector<Line>& Lines() const { return lines_; }
    // True when some line's text contains `fragment`.
    bool Contains(const std::string& fragment) const;
    void Clear() { lines_.clear(); }

private:
    static void Capture(const char* channel, const char* text);

    std::vector<Line> lines_;
    LogSink previous_;
    CapturingLogSink* outer_;
};

} // namespace quarn::test
