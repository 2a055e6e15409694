#include "tests/support/RecordingDialogHook.h"

namespace quarn::test {

RecordingDialogHook::RecordingDialogHook() : previous_(GetDialogHook()) {
    SetDialogHook(this);
}

RecordingDialogHook::~RecordingDialogHook() {
    SetDialogHook(previous_);
}

int RecordingDialogHook::NextAnswer() {
    if (answers_.empty()) {
        return 0;
    }
    int answer = answers_.front();
    answers_.pop_front();
    return answer;
}

int RecordingDialogHook::ShowMessageBox(const char* text, const char* title, uint32_t type) {
    dialogs_.push_back({true, title, text, MessageBoxButtonLabels(type), type});
    return MessageBoxButtonId(type, NextAnswer());
}

int RecordingDialogHook::ShowChoiceBox(const char* title, const char* text, const char* buttons) {
    dialogs_.push_back({false, title, text, buttons, 0});
    return NextAnswer();
}

} // namespace quarn::test
