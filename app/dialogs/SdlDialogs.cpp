#include "app/dialogs/DialogBackend.h"
#include "app/platform/StopSignal.h"
#include "core/debug/Log.h"

#include <SDL.h>

namespace quarn {

namespace {

uint32_t IconFlags(uint32_t type) {
    switch (type & MessageBoxIconMask) {
    case MessageBoxIconError:
        return SDL_MESSAGEBOX_ERROR;
    case MessageBoxIconWarning:
        return SDL_MESSAGEBOX_WARNING;
    default:
        return SDL_MESSAGEBOX_INFORMATION;
    }
}

// Shows a box with the buttons of the given indices and labels; the pressed button's index, or
// -1 when the box was closed without a button or could not be shown.
int ShowBox(SDL_Window* parent, uint32_t flags, const char* title, const char* text,
            const std::vector<std::string>& labels, int returnIndex, int escapeIndex) {
    std::vector<SDL_MessageBoxButtonData> buttons;
    for (size_t index = 0; index < labels.size(); ++index) {
        if (labels[index].empty()) {
            continue;
        }
        uint32_t buttonFlags = 0;
        if (static_cast<int>(index) == returnIndex) {
            buttonFlags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        }
        if (static_cast<int>(index) == escapeIndex) {
            buttonFlags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        }
        buttons.push_back({buttonFlags, static_cast<int>(index), labels[index].c_str()});
    }
    SDL_Rect screen = {};
    const int display = parent ? SDL_GetWindowDisplayIndex(parent) : 0;
    if (SDL_GetDisplayUsableBounds(display < 0 ? 0 : display, &screen) != 0) {
        screen.w = 0;
    }
    const std::string fitted = FitBoxText(text ? text : "", BoxTextColumns(screen.w));
    SDL_MessageBoxData data = {};
    data.flags = flags;
    data.window = parent;
    data.title = title;
    data.message = fitted.c_str();
    data.numbuttons = static_cast<int>(buttons.size());
    data.buttons = buttons.data();
    int pressed = -1;
    const ForkedBoxScope forked;
    if (SDL_ShowMessageBox(&data, &pressed) != 0) {
        return -2;
    }
    return pressed;
}

bool HasLabel(const std::vector<std::string>& labels, size_t index) {
    return index < labels.size() && !labels[index].empty();
}

} // namespace

int SdlDialogs::ShowMessageBox(const char* text, const char* title, uint32_t type) {
    std::vector<std::string> labels = SplitChoiceButtons(MessageBoxButtonLabels(type));
    // Escape answers Cancel where there is one, and OK in a box that has nothing else.
    int escape = -1;
    for (size_t index = 0; index < labels.size(); ++index) {
        if (MessageBoxButtonId(type, static_cast<int>(index)) == DialogCancel) {
            escape = static_cast<int>(index);
        }
    }
    if (escape < 0 && labels.size() == 1) {
        escape = 0;
    }
    int defaultIndex = (type & MessageBoxDefaultButton3)   ? 2
                       : (type & MessageBoxDefaultButton2) ? 1
                                                           : 0;
    if (!HasLabel(labels, static_cast<size_t>(defaultIndex))) {
        defaultIndex = 0;
    }
    int pressed = ShowBox(parent_, IconFlags(type), title, text, labels, defaultIndex, escape);
    if (pressed < 0) {
        pressed = escape >= 0 ? escape : static_cast<int>(labels.size()) - 1;
    }
    return MessageBoxButtonId(type, pressed);
}

int SdlDialogs::ShowChoiceBox(const char* title, const char* text, const char* buttons) {
    std::vector<std::string> labels = SplitChoiceButtons(buttons);
    // Enter answers 1 and Escape or closing answers 2, whatever the labels: callers rely on it.
    int pressed = ShowBox(parent_, SDL_MESSAGEBOX_INFORMATION, title, text, labels,
                          HasLabel(labels, 1) ? 1 : 0, HasLabel(labels, 2) ? 2 : -1);
    if (pressed == -2) {
        return -1; // the box could not be shown
    }
    return pressed < 0 ? DialogCancel : pressed;
}

void SdlDialogs::ReportMissingChooser() {
    const std::string& missing = chooser_.Missing();
    if (missing.empty()) {
        return;
    }
    LogMessage("%s", missing.c_str());
    ShowMessageBox(missing.c_str(), "No dialog program", MessageBoxOk | MessageBoxIconError);
}

std::string SdlDialogs::FileDialog(const char* filter, bool open, const char* initialFolder) {
    std::string path = chooser_.FileDialog(filter, open, initialFolder);
    ReportMissingChooser();
    return path;
}

std::string SdlDialogs::BrowseForFolder(const char* title, const char* initialFolder) {
    std::string folder = chooser_.BrowseForFolder(title, initialFolder);
    ReportMissingChooser();
    return folder;
}

bool SdlDialogs::EnterString(int32_t, int32_t, const char* caption, const char* initial,
                             std::string& entered) {
    const bool accepted = chooser_.EnterString(caption, initial, entered);
    ReportMissingChooser();
    return accepted;
}

int SdlDialogs::ShowAboutDialog() {
    int pressed =
        ShowBox(parent_, SDL_MESSAGEBOX_INFORMATION, "About", "Quarn engine", {"OK"}, 0, 0);
    return pressed == 0 ? DialogOk : DialogCancel;
}

} // namespace quarn
