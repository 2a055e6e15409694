#pragma once

#include "core/os/Dialogs.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;

namespace quarn {

// Everything modal the platform shows. The engine's dialog hook is one part of it, so message and
// choice boxes from the core and from the platform take the same road.
class DialogBackend : public DialogHook {
public:
    // The chosen folder without a trailing '/', or "" when cancelled.
    virtual std::string BrowseForFolder(const char* title, const char* initialFolder) = 0;
    // The about box's result: DialogOk, DialogCancel, or anything else for none.
    virtual int ShowAboutDialog() = 0;
    // The window the boxes belong to; null for none.
    virtual void SetParentWindow(SDL_Window*) {}
};

// Window-system boxes where a display can answer them; where none can (the offscreen and dummy
// video drivers), a scripted back end with nothing queued, so no dialog ever blocks.
std::unique_ptr<DialogBackend> CreateDialogBackend();

// At most this many buttons and characters of their '#'-joined list are shown.
constexpr int MaxChoiceButtons = 8;
constexpr size_t MaxChoiceButtonText = 259;

// The labels of a '#'-joined button list, one per button index; an empty label is a hidden button.
std::vector<std::string> SplitChoiceButtons(const char* buttons);

// A window-system message box grows with its longest line and never wraps it: a long path
// pushed the box past the screen's edges. Its text is broken to fit first. A character takes
// at most BoxCharacterWidth pixels of the box's font, beside margins of BoxMargin on each side.
constexpr int BoxCharacterWidth = 8;
constexpr int BoxMargin = 40;
// The longest line a box on a screen that many pixels wide shows, in characters: 80 at most,
// for reading, and as on an 800-pixel screen when the width is unknown (0).
size_t BoxTextColumns(int screenWidth);
// The text with each line longer than `columns` characters broken at its last blank within
// them, and a longer word (a path) within itself; a UTF-8 character is never split.
std::string FitBoxText(const std::string& text, size_t columns);

// (name, patterns) pairs of a file-dialog filter list; patterns stay ';'-separated.
std::vector<std::pair<std::string, std::string>> ParseFileFilter(const char* filter);

// File and folder dialogs run by an outside chooser program as a child process with an argument
// vector, never through a shell, so no path or title can be read as a command. When the program
// cannot be started the dialog counts as cancelled, and Missing says why.
class ZenityDialogs {
public:
    explicit ZenityDialogs(std::string program = "zenity") : program_(std::move(program)) {}

    // Why the last dialog could not start the chooser, naming the program; "" when it started.
    const std::string& Missing() const { return missing_; }

    std::string FileDialog(const char* filter, bool open, const char* initialFolder);
    std::string BrowseForFolder(const char* title, const char* initialFolder);
    // The "Enter string" entry: true with the typed line, false when cancelled.
    bool EnterString(const char* caption, const char* initial, std::string& entered);

    static std::vector<std::string> EntryArguments(const char* caption, const char* initial);
    static std::vector<std::string> FileDialogArguments(const char* filter, bool open,
                                                        const char* initialFolder);
    static std::vector<std::string> FolderArguments(const char* title, const char* initialFolder);

private:
    // The chooser's first output line when it ends with success, else "".
    std::string Run(std::vector<std::string> arguments);
    // True with the first output line when the chooser ends with success.
    bool Run(std::vector<std::string> arguments, std::string& line);

    std::string program_;
    std::string missing_;
};

// Message, choice and about boxes as window-system message boxes; files and folders through
// the chooser program. A chooser that cannot be started is reported in the log and a message
// box before the dialog answers "cancelled", so the user learns why nothing opened.
class SdlDialogs : public DialogBackend {
public:
    void SetParentWindow(SDL_Window* window) override { parent_ = window; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override;
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override;
    std::string FileDialog(const char* filter, bool open, const char* initialFolder) override;
    std::string BrowseForFolder(const char* title, const char* initialFolder) override;
    int ShowAboutDialog() override;
    // Through the chooser program; the modeless text windows open on the UI layer instead.
    bool EnterString(int32_t x, int32_t y, const char* caption, const char* initial,
                     std::string& entered) override;

private:
    void ReportMissingChooser();

    SDL_Window* parent_ = nullptr;
    ZenityDialogs chooser_;
};

// Answers from a queue and records what was asked, for runs where nobody can answer: button
// answers are indices into the shown buttons (the first button once the queue is empty), path
// answers are the chosen texts ("" once the queue is empty). Each question and its answer are
// logged on the channel "dialog", so a run without a display shows what it was asked. Text
// windows open nowhere but keep their texts.
class ScriptedDialogs : public KeepsTextWindows<DialogBackend> {
public:
    enum Kind { MessageBoxKind, ChoiceKind, FileKind, FolderKind, AboutKind, EntryKind };

    struct Request {
        Kind kind = MessageBoxKind;
        std::string title;
        std::string text;
        std::string shown; // message and choice boxes: the text as a window-system box lays it out
        std::vector<std::string> buttons; // labels per button index; file and folder: none
        uint32_t type = 0;                // message-box type
        std::string filter;               // file dialogs: "name|patterns" pairs joined by '\n'
        bool open = false;
        std::string initialFolder;
    };

    // Answers are numbered from 1 as they are queued, buttons and paths apart.
    uint64_t AnswerButton(int index) {
        buttons_.push_back({++buttonsQueued_, index});
        return buttonsQueued_;
    }
    // Button answers from a list of decimal indices separated by commas ("1,0,2"); entries
    // that are no number are skipped.
    void AnswerButtons(const char* list);
    // Paths also answer entry dialogs, which are cancelled once the queue is empty.
    uint64_t AnswerPath(std::string path) {
        paths_.push_back({++pathsQueued_, std::move(path)});
        return pathsQueued_;
    }
    // Takes the answer of that number out of its queue: true when no dialog had taken it.
    bool WithdrawButton(uint64_t number) { return Withdraw(buttons_, number); }
    bool WithdrawPath(uint64_t number) { return Withdraw(paths_, number); }
    const std::vector<Request>& Requests() const { return requests_; }

    int ShowMessageBox(const char* text, const char* title, uint32_t type) override;
    int ShowChoiceBox(const char* title, const char* text, const char* buttons) override;
    std::string FileDialog(const char* filter, bool open, const char* initialFolder) override;
    std::string BrowseForFolder(const char* title, const char* initialFolder) override;
    int ShowAboutDialog() override;
    bool EnterString(int32_t x, int32_t y, const char* caption, const char* initial,
                     std::string& entered) override;

private:
    template <class T>
    struct Queued {
        uint64_t number;
        T answer;
    };
    // The queue is in the order of the numbers.
    template <class T>
    static bool Withdraw(std::deque<Queued<T>>& queue, uint64_t number) {
        const auto found =
            std::lower_bound(queue.begin(), queue.end(), number,
                             [](const Queued<T>& queued, uint64_t n) { return queued.number < n; });
        if (found == queue.end() || found->number != number) {
            return false;
        }
        queue.erase(found);
        return true;
    }

    int NextButton();
    std::string NextPath();
    void Record(Request request, const std::string& answer);

    std::deque<Queued<int>> buttons_;
    std::deque<Queued<std::string>> paths_;
    uint64_t buttonsQueued_ = 0;
    uint64_t pathsQueued_ = 0;
    std::vector<Request> requests_;
};

} // namespace quarn
