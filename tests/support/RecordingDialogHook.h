#pragma once

#include "core/os/Dialogs.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace quarn::test {

// Stands in for the user: records every dialog and answers from a script. Installed while it
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

    RecordingDialogHook();
    ~RecordingDialogHook() override;

    // The next dialogs press these 0-based button indices in turn; once the script runs out,
    // every dialog answers its first button.
    void Answer(int buttonIndex) { answers_.push_back(buttonIndex); }

    const std::vector<Dialog>& Dialogs() const { return dialogs_; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override;
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override;

private:
    int NextAnswer();

    std::deque<int> answers_;
    std::vector<Dialog> dialogs_;
    DialogHook* previous_;
};

} // namespace quarn::test
