#pragma once

#include "core/debug/Validity.h"

#include <string>
#include <vector>

namespace quarn::test {

// Receives every failed validity check while it exists and answers `handled` (true: no message
// box follows). The hook it replaced comes back afterwards.
class RecordingValidityHook {
public:
    explicit RecordingValidityHook(bool handled = true);
    ~RecordingValidityHook();
    RecordingValidityHook(const RecordingValidityHook&) = delete;
    RecordingValidityHook& operator=(const RecordingValidityHook&) = delete;

    const std::vector<std::string>& Messages() const { return messages_; }
    void Clear() { messages_.clear(); }

private:
    static bool Receive(const char* message);

    bool handled_;
    std::vector<std::string> messages_;
    ValidityHook previous_;
    RecordingValidityHook* outer_;
};

} // namespace quarn::test
