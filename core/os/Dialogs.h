#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// Every dialog the engine shows goes through one hook: a window back end, a recorder in tests,
// or the default, which shows nothing and answers the first button. Nothing may block where
// nobody can answer.

// Message-box types: the button set in the low 4 bits, the icon in the next 4, the default
// button after that. The values are the ones scripts pass (for example 0x134), so they stay.
enum MessageBoxType : uint32_t {
    MessageBoxOk = 0x0,
    MessageBoxOkCancel = 0x1,
    MessageBoxAbortRetryIgnore = 0x2,
    MessageBoxYesNoCancel = 0x3,
    MessageBoxYesNo = 0x4,
    MessageBoxRetryCancel = 0x5,
    MessageBoxButtonMask = 0xF,
    MessageBoxIconError = 0x10,
    MessageBoxIconQuestion = 0x20,
    MessageBoxIconWarning = 0x30,
    MessageBoxIconInformation = 0x40,
    MessageBoxIconMask = 0xF0,
    MessageBoxDefaultButton2 = 0x100,
    MessageBoxDefaultButton3 = 0x200,
};

// What a message box answers: the id of the pressed button.
enum DialogButtonId : int {
    DialogOk = 1,
    DialogCancel = 2,
    DialogAbort = 3,
    DialogRetry = 4,
    DialogIgnore = 5,
    DialogYes = 6,
    DialogNo = 7,
};

class DialogHook {
public:
    virtual ~DialogHook() = default;
    // A modal message box; returns the DialogButtonId of the pressed button.
    virtual int ShowMessageBox(const char* text, const char* title, uint32_t type) = 0;
    // A modal choice among buttons joined by '#' ("Yes#No#Cancel"); returns the 0-based index
    // of the pressed one.
    virtual int ShowChoiceBox(const char* title, const char* text, const char* buttons) = 0;
    // The chosen path, or "" when cancelled. The filter is a list of name and pattern texts,
    // each ended by a zero byte, the list by an empty text: "Scene\0*.scene;*.scn\0\0".
    virtual std::string FileDialog(const char* filter, bool open, const char* initialFolder) = 0;
    // The modal "Enter string" dialog at a screen position: true with the entered text, false
    // when cancelled. Back ends without one answer cancelled.
    virtual bool EnterString(int32_t /*x*/, int32_t /*y*/, const char* /*caption*/,
                             const char* /*initial*/, std::string& /*entered*/) {
        return false;
    }
    // Modeless text windows with an edit field: the window's id, or 0 when none opens.
    virtual uint32_t OpenTextWindow(int32_t /*x*/, int32_t /*y*/, const char* /*caption*/,
                                    const char* /*text*/) {
        return 0;
    }
    virtual void FocusTextWindow(uint32_t /*window*/) {}
    // The edit text, UTF-8 where the window holds more than Latin-1 can say.
    virtual std::string GetTextWindowText(uint32_t /*window*/) { return {}; }
    virtual void DestroyTextWindow(uint32_t /*window*/) {}
};

// The modeless windows of a back end that shows none: each keeps its caption and its edit
// text, which a test may change as a user would.
class TextWindowTable {
public:
    struct Window {
        std::string caption;
        std::string text;
        bool focused = false;
    };
    uint32_t Open(const char* caption, const char* text) {
        windows_.push_back({caption, text, false});
        ids_.push_back(++lastId_);
        return lastId_;
    }
    // Null for an id that names no open window.
    Window* Find(uint32_t id) {
        for (size_t i = 0; i < ids_.size(); ++i) {
            if (ids_[i] == id) {
                return &windows_[i];
            }
        }
        return nullptr;
    }
    void Focus(uint32_t id) {
        if (Window* window = Find(id)) {
            window->focused = true;
        }
    }
    std::string Text(uint32_t id) {
        const Window* window = Find(id);
        return window ? window->text : std::string();
    }
    void Close(uint32_t id) {
        for (size_t i = 0; i < ids_.size(); ++i) {
            if (ids_[i] == id) {
                ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(i));
                windows_.erase(windows_.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
    }
    size_t Count() const { return ids_.size(); }

private:
    std::vector<uint32_t> ids_;
    std::vector<Window> windows_;
    uint32_t lastId_ = 0;
};

// A dialog hook whose modeless text windows open nowhere but keep their texts.
template <class Hook>
class KeepsTextWindows : public Hook {
public:
    uint32_t OpenTextWindow(int32_t, int32_t, const char* caption, const char* text) override {
        return windows_.Open(caption, text);
    }
    void FocusTextWindow(uint32_t window) override { windows_.Focus(window); }
    std::string GetTextWindowText(uint32_t window) override { return windows_.Text(window); }
    void DestroyTextWindow(uint32_t window) override { windows_.Close(window); }
    TextWindowTable& Windows() { return windows_; }

private:
    TextWindowTable windows_;
};

// Installs the hook every dialog goes through; null restores the default. The hook is not
// owned and must outlive its installation.
void SetDialogHook(DialogHook* hook);
DialogHook* GetDialogHook();

int ShowMessageBox(const char* text, const char* title, uint32_t type);
int ShowChoiceBox(const char* title, const char* text, const char* buttons);
std::string ShowFileDialog(const char* filter, bool open, const char* initialFolder);

struct EnteredString {
    std::string text; // without carriage returns, at most EnteredStringLimit characters
    bool accepted = false;
};
inline constexpr size_t EnteredStringLimit = 255;
// The entered text, or the initial one when the dialog was cancelled.
EnteredString ShowEnterStringDialog(int32_t x, int32_t y, const char* caption,
                                    const char* initial);

uint32_t OpenTextWindow(int32_t x, int32_t y, const char* caption, const char* text);
void FocusDialogEdit(uint32_t window);
// At most EditTextLimit characters of the window's edit text: UTF-8, or Latin-1 bytes with '?'
// for each character Latin-1 lacks.
inline constexpr size_t EditTextLimit = 1024;
std::string GetDialogEditText(uint32_t window, bool asUtf8);
void DestroyWindowByHandle(uint32_t window);

// The labels of a message-box type's buttons joined by '#', and the id of the button at an
// index: what a back end needs to show a message box as a choice.
const char* MessageBoxButtonLabels(uint32_t type);
int MessageBoxButtonId(uint32_t type, int index);

} // namespace quarn
