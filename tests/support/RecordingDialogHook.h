#pragma once

#include "core/os/Dialogs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::test {

// Stands in for the user: records every dialog and answers its first button. Installed while it
// exists; the hook it replaced comes back afterwards.
class RecordingDialogHook : public DialogHook {
public:
    struct Dialog {
        bool isMessageBox;
        std::string title;
        std::string text;
        std::string buttons; // the '#'-joined labels (for a message box, those of its type)
        uint32_t type;       // message-box type; 0 for a choice box
    };

    RecordingDialogHook() : previous_(GetDialogHook()) { SetDialogHook(this); }
    ~RecordingDialogHook() override { SetDialogHook(previous_); }

    const std::vector<Dialog>& Dialogs() const { return dialogs_; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override {
        dialogs_.push_back({true, title, text, MessageBoxButtonLabels(type), type});
        return MessageBoxButtonId(type, 0);
    }
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override {
        dialogs_.push_back({false, title, text, buttons, 0});
        return 0;
    }

private:
    std::vector<Dialog> dialogs_;
    DialogHook* previous_;
};

} // namespace quarn::test
