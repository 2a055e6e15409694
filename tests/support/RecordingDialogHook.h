#pragma once

#include "core/os/Dialogs.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace quarn::test {

// Stands in for the user: records every dialog and answers from a script, then with the first
// button (a file dialog: cancelled, its record titled by the first filter, its text the initial
// folder). Installed while it exists; the hook it replaced comes back afterwards. Text windows
// keep their texts for the test to read and change.
class RecordingDialogHook : public KeepsTextWindows<DialogHook> {
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

    // The next boxes press these 0-based button indices in turn; file dialogs choose these paths.
    void Answer(int buttonIndex) { answers_.push_back(buttonIndex); }
    void AnswerPath(std::string path) { paths_.push_back(std::move(path)); }
    // The next "Enter string" dialogs are accepted with these texts; without one, cancelled.
    void AnswerText(std::string text) { texts_.push_back(std::move(text)); }

    const std::vector<Dialog>& Dialogs() const { return dialogs_; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override {
        dialogs_.push_back({true, title, text, MessageBoxButtonLabels(type), type});
        return MessageBoxButtonId(type, Next(answers_, 0));
    }
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override {
        dialogs_.push_back({false, title, text, buttons, 0});
        return Next(answers_, 0);
    }
    std::string FileDialog(const char* filter, bool, const char* initialFolder) override {
        dialogs_.push_back({false, filter, initialFolder, "", 0});
        return Next(paths_, std::string());
    }

    // Recorded with the caption as its title and the initial text as its text.
    bool EnterString(int32_t, int32_t, const char* caption, const char* initial,
                     std::string& entered) override {
        dialogs_.push_back({false, caption, initial, "", 0});
        if (texts_.empty()) {
            return false;
        }
        entered = Next(texts_, std::string());
        return true;
    }

private:
    template <class T>
    static T Next(std::deque<T>& script, T otherwise) {
        if (script.empty()) {
            return otherwise;
        }
        T next = std::move(script.front());
        script.pop_front();
        return next;
    }

    std::deque<int> answers_;
    std::deque<std::string> paths_;
    std::deque<std::string> texts_;
    std::vector<Dialog> dialogs_;
    DialogHook* previous_;
};

} // namespace quarn::test
