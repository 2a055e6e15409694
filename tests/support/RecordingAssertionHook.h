#pragma once

#include "core/debug/Assertion.h"

#include <string>
#include <vector>

namespace quarn::test {

// Keeps every assertion report while it exists; the hook it replaced comes back afterwards.
class RecordingAssertionHook {
public:
    RecordingAssertionHook() : previous_(GetAssertionHook()), outer_(active) {
        active = this;
        SetAssertionHook(Receive);
    }
    ~RecordingAssertionHook() {
        active = outer_;
        SetAssertionHook(previous_);
    }
    RecordingAssertionHook(const RecordingAssertionHook&) = delete;
    RecordingAssertionHook& operator=(const RecordingAssertionHook&) = delete;

    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    static inline RecordingAssertionHook* active = nullptr;

    static void Receive(int, const char* message) {
        if (active) {
            active->messages_.push_back(message);
        }
    }

    std::vector<std::string> messages_;
    AssertionHook previous_;
    RecordingAssertionHook* outer_;
};

} // namespace quarn::test
