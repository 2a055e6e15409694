#include "tests/support/CapturingLogSink.h"

namespace quarn::test {

namespace {

// The sink is a plain function, so it finds the innermost capture through this.
CapturingLogSink* activeCapture = nullptr;

} // namespace

CapturingLogSink::CapturingLogSink() : previous_(GetLogSink()), outer_(activeCapture) {
    activeCapture = this;
    SetLogSink(Capture);
}

CapturingLogSink::~CapturingLogSink() {
    activeCapture = outer_;
    SetLogSink(previous_);
}

bool CapturingLogSink::Contains(const std::string& fragment) const {
    for (const Line& line : lines_) {
        if (line.text.find(fragment) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void CapturingLogSink::Capture(const char* channel, const char* text) {
    if (activeCapture) {
        activeCapture->lines_.push_back({channel, text});
    }
}

} // namespace quarn::test
