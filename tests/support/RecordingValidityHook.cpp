#include "tests/support/RecordingValidityHook.h"

namespace quarn::test {

namespace {

RecordingValidityHook* activeHook = nullptr;

} // namespace

RecordingValidityHook::RecordingValidityHook(bool handled)
    : handled_(handled), previous_(GetValidityHook()), outer_(activeHook) {
    activeHook = this;
    SetValidityHook(Receive);
}

RecordingValidityHook::~RecordingValidityHook() {
    activeHook = outer_;
    SetValidityHook(previous_);
}

bool RecordingValidityHook::Receive(const char* message) {
    if (!activeHook) {
        return false;
    }
    activeHook->messages_.push_back(message);
    return activeHook->handled_;
}

} // namespace quarn::test
