#pragma once

#include "core/debug/Validity.h"

#include <string>
#include <vector>

namespace quarn::test {

// Receives every failed validity check while it exists and answers `handled` (true: no message
// box follows). The hook it replaced comes back afterwards.
class RecordingValidityHook {
public:
    explicit RecordingValidityHook(bool handled = true)
        : handled_(handled), previous_(GetValidityHook()), outer_(active) {
        active = this;
        SetValidityHook(Receive);
    }
    ~RecordingValidityHook() {
        active = outer_;
        SetValidityHook(previous_);
    }
    RecordingValidityHook(const RecordingValidityHook&) = delete;
    RecordingValidityHook& operator=(const RecordingValidityHook&) = delete;

    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    static inline RecordingValidityHook* active = nullptr;

    static bool Receive(const char* message) {
        if (!active) {
            return false;
        }
        active->messages_.push_back(message);
        return active->handled_;
    }

    bool handled_;
    std::vector<std::string> messages_;
    ValidityHook previous_;
    RecordingValidityHook* outer_;
};

} // namespace quarn::test
