#include "core/os/Dialogs.h"

#include "core/string/Utf8.h"

#include <algorithm>
#include <string>

namespace quarn {

namespace {

struct ButtonSet {
    const char* labels;
    int ids[3];
    int count;
};

// Indexed by the button bits of a message-box type; unknown sets fall back to OK.
const ButtonSet ButtonSets[] = {
    {"OK", {DialogOk}, 1},
    {"OK#Cancel", {DialogOk, DialogCancel}, 2},
    {"Abort#Retry#Ignore", {DialogAbort, DialogRetry, DialogIgnore}, 3},
    {"Yes#No#Cancel", {DialogYes, DialogNo, DialogCancel}, 3},
    {"Yes#No", {DialogYes, DialogNo}, 2},
    {"Retry#Cancel", {DialogRetry, DialogCancel}, 2},
};

const ButtonSet& ButtonsOf(uint32_t type) {
    uint32_t set = type & MessageBoxButtonMask;
    return set < sizeof(ButtonSets) / sizeof(ButtonSets[0]) ? ButtonSets[set] : ButtonSets[0];
}

class SilentDialogHook : public DialogHook {
public:
    int ShowMessageBox(const char*, const char*, uint32_t type) override {
        return MessageBoxButtonId(type, 0);
    }
    int ShowChoiceBox(const char*, const char*, const char*) override { return 0; }
    std::string FileDialog(const char*, bool, const char*) override { return {}; }
};

SilentDialogHook silentHook;
DialogHook* currentHook = &silentHook;

} // namespace

void SetDialogHook(DialogHook* hook) {
    currentHook = hook ? hook : &silentHook;
}

DialogHook* GetDialogHook() {
    return currentHook;
}

int ShowMessageBox(const char* text, const char* title, uint32_t type) {
    return currentHook->ShowMessageBox(text ? text : "", title ? title : "", type);
}

int ShowChoiceBox(const char* title, const char* text, const char* buttons) {
    return currentHook->ShowChoiceBox(title ? title : "", text ? text : "", buttons ? buttons : "");
}

std::string ShowFileDialog(const char* filter, bool open, const char* initialFolder) {
    return currentHook->FileDialog(filter ? filter : "", open, initialFolder ? initialFolder : "");
}

EnteredString ShowEnterStringDialog(int32_t x, int32_t y, const char* caption,
                                    const char* initial) {
    EnteredString result;
    initial = initial ? initial : "";
    result.accepted = currentHook->EnterString(x, y, caption ? caption : "", initial, result.text);
    if (!result.accepted) {
        result.text = initial;
        return result;
    }
    std::erase(result.text, '\r');
    if (result.text.size() > EnteredStringLimit) {
        result.text.resize(EnteredStringLimit);
    }
    return result;
}

uint32_t OpenTextWindow(int32_t x, int32_t y, const char* caption, const char* text) {
    return currentHook->OpenTextWindow(x, y, caption ? caption : "", text ? text : "");
}

void FocusDialogEdit(uint32_t window) {
    currentHook->FocusTextWindow(window);
}

std::string GetDialogEditText(uint32_t window, bool asUtf8) {
    const std::string text = currentHook->GetTextWindowText(window);
    const DecodedText decoded = DecodeUtf8(text);
    const size_t count = std::min(decoded.Size(), EditTextLimit);
    if (asUtf8) {
        return text.substr(0, decoded.offsets[count]);
    }
    std::string bytes;
    bytes.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint32_t code = decoded.codes[i];
        bytes.push_back(code < 0x100 ? static_cast<char>(code) : '?');
    }
    return bytes;
}

void DestroyWindowByHandle(uint32_t window) {
    currentHook->DestroyTextWindow(window);
}

const char* MessageBoxButtonLabels(uint32_t type) {
    return ButtonsOf(type).labels;
}

int MessageBoxButtonId(uint32_t type, int index) {
    const ButtonSet& set = ButtonsOf(type);
    return set.ids[index >= 0 && index < set.count ? index : 0];
}

} // namespace quarn
