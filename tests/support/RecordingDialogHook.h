#pragma once

#include "core/os/Dialogs.h"

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace quarn::test {

// Stands in for the user: records every dialog and answers from a script, then with the first
// button (a file dialog: cancelled). Installed while it exists; the hook it replaced comes back
// afterwards.
class RecordingDialogHook : public DialogHook {
public:
    struct Dialog {
        bool isMessageBox;
        std::string title;
        std::string text;
        std::string buttons; // the '#'-joined labels (for a message box, those of its type)
        uint32_t type;       // message-box type; 0 for a choice box
    };
    struct FileDialogRequest {
        std::string filter; // the first filter's name and patterns joined by '|'
        bool open;
        std::string initialFolder;
    };

    RecordingDialogHook() : previous_(GetDialogHook()) { SetDialogHook(this); }
    ~RecordingDialogHook() override { SetDialogHook(previous_); }

    // The next boxes press these 0-based button indices in turn.
    void Answer(int buttonIndex) { answers_.push_back(buttonIndex); }
    // The next file dialogs choose these paths in turn.
    void AnswerPath(std::string path) { paths_.push_back(std::move(path)); }

    const std::vector<Dialog>& Dialogs() const { return dialogs_; }
    const std::vector<FileDialogRequest>& FileDialogs() const { return fileDialogs_; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override {
        dialogs_.push_back({true, title, text, MessageBoxButtonLabels(type), type});
        return MessageBoxButtonId(type, Next(answers_, 0));
    }
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override {
        dialogs_.push_back({false, title, text, buttons, 0});
        return Next(answers_, 0);
    }
    std::string FileDialog(const char* filter, bool open, const char* initialFolder) override {
        const std::string name = filter;
        // The patterns follow the name's zero byte, which an empty list lacks.
        const std::string first = name.empty() ? "" : name + "|" + (filter + name.size() + 1);
        fileDialogs_.push_back({first, open, initialFolder});
        return Next(paths_, std::string());
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
    std::vector<Dialog> dialogs_;
    std::vector<FileDialogRequest> fileDialogs_;
    DialogHook* previous_;
};

} // namespace quarn::test
