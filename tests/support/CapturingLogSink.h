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

    CapturingLogSink() : previous_(GetLogSink()), outer_(active) {
        active = this;
        SetLogSink(Capture);
    }
    ~CapturingLogSink() {
        active = outer_;
        SetLogSink(previous_);
    }
    CapturingLogSink(const CapturingLogSink&) = delete;
    CapturingLogSink& operator=(const CapturingLogSink&) = delete;

    const std::vector<Line>& Lines() const { return lines_; }
    // True when some line's text contains `fragment`.
    bool Contains(const std::string& fragment) const {
        for (const Line& line : lines_) {
            if (line.text.find(fragment) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    void Clear() { lines_.clear(); }

private:
    // The sink is a plain function, so it finds the innermost capture through this.
    static inline CapturingLogSink* active = nullptr;

    static void Capture(const char* channel, const char* text) {
        if (active) {
            active->lines_.push_back({channel, text});
        }
    }

    std::vector<Line> lines_;
    LogSink previous_;
    CapturingLogSink* outer_;
};

} // namespace quarn::test
