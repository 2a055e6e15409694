#include "app/dialogs/DialogBackend.h"
#include "core/debug/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace quarn {

std::vector<std::string> SplitChoiceButtons(const char* buttons) {
    std::string list(buttons ? buttons : "");
    if (list.size() > MaxChoiceButtonText) {
        list.resize(MaxChoiceButtonText);
    }
    std::vector<std::string> labels;
    size_t start = 0;
    while (labels.size() < MaxChoiceButtons) {
        size_t end = list.find('#', start);
        labels.push_back(list.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return labels;
}

size_t BoxTextColumns(int screenWidth) {
    constexpr size_t Widest = 80;
    constexpr int SmallScreen = 800;
    const int width = screenWidth > 0 ? screenWidth : SmallScreen;
    const int columns = (width - 2 * BoxMargin) / BoxCharacterWidth;
    return std::clamp<size_t>(size_t(std::max(columns, 1)), 20, Widest);
}

std::string FitBoxText(const std::string& text, size_t columns) {
    auto startsCharacter = [](char byte) { return (uint8_t(byte) & 0xC0) != 0x80; };
    columns = std::max<size_t>(columns, 1);
    std::string fitted;
    size_t lineStart = 0;
    while (lineStart <= text.size()) {
        size_t lineEnd = text.find('\n', lineStart);
        if (lineEnd == std::string::npos) {
            lineEnd = text.size();
        }
        // One line of the text, broken into pieces of at most `columns` characters.
        size_t at = lineStart;
        for (;;) {
            size_t end = at;
            size_t count = 0;
            size_t lastBlank = std::string::npos;
            while (end < lineEnd && (count < columns || !startsCharacter(text[end]))) {
                if (text[end] == ' ') {
                    lastBlank = end;
                }
                count += startsCharacter(text[end]);
                ++end;
            }
            if (end == lineEnd) {
                fitted.append(text, at, end - at);
                break;
            }
            // A blank right after the piece ends it as well as one inside it.
            if (text[end] == ' ') {
                lastBlank = end;
            }
            const size_t cut = lastBlank != std::string::npos && lastBlank > at ? lastBlank : end;
            fitted.append(text, at, cut - at).push_back('\n');
            at = cut;
            while (at < lineEnd && text[at] == ' ') {
                ++at;
            }
        }
        if (lineEnd == text.size()) {
            break;
        }
        fitted.push_back('\n');
        lineStart = lineEnd + 1;
    }
    return fitted;
}

std::vector<std::pair<std::string, std::string>> ParseFileFilter(const char* filter) {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (!filter) {
        return pairs;
    }
    const char* at = filter;
    while (*at) {
        std::string name = at;
        at += name.size() + 1;
        std::string patterns = at;
        if (patterns.empty()) {
            break; // a name without patterns ends the list
        }
        at += patterns.size() + 1;
        pairs.emplace_back(std::move(name), std::move(patterns));
    }
    return pairs;
}

namespace {

ScriptedDialogs::Request MakeRequest(ScriptedDialogs::Kind kind, const char* title,
                                     const char* text) {
    ScriptedDialogs::Request request;
    request.kind = kind;
    request.title = title ? title : "";
    request.text = text ? text : "";
    return request;
}

// The label of a button index, for the log; "" past the shown buttons.
std::string LabelOf(const ScriptedDialogs::Request& request, int index) {
    return index >= 0 && static_cast<size_t>(index) < request.buttons.size()
               ? request.buttons[static_cast<size_t>(index)]
               : std::string();
}

} // namespace

void ScriptedDialogs::AnswerButtons(const char* list) {
    for (const char* at = list ? list : ""; *at;) {
        char* end = nullptr;
        errno = 0;
        long index = std::strtol(at, &end, 10);
        bool number = end != at && errno == 0 && index >= 0 && index < MaxChoiceButtons;
        at = end != at ? end : at + 1;
        while (*at && *at != ',') {
            number = false; // "1x" is no index
            ++at;
        }
        if (number) {
            AnswerButton(static_cast<int>(index));
        }
        if (*at == ',') {
            ++at;
        }
    }
}

void ScriptedDialogs::Record(Request request, const std::string& answer) {
    static const char* const KindNames[] = {"message box",   "choice",    "file dialog",
                                            "folder dialog", "about box", "entry dialog"};
    LogChannelMessage("dialog", "%s \"%s\": \"%s\" answered \"%s\"", KindNames[request.kind],
                      request.title.c_str(), request.text.c_str(), answer.c_str());
    requests_.push_back(std::move(request));
}

int ScriptedDialogs::NextButton() {
    if (buttons_.empty()) {
        return 0;
    }
    int index = buttons_.front().answer;
    buttons_.pop_front();
    return index;
}

std::string ScriptedDialogs::NextPath() {
    if (paths_.empty()) {
        return {};
    }
    std::string path = std::move(paths_.front().answer);
    paths_.pop_front();
    return path;
}

int ScriptedDialogs::ShowMessageBox(const char* text, const char* title, uint32_t type) {
    Request request = MakeRequest(MessageBoxKind, title, text);
    request.shown = FitBoxText(request.text, BoxTextColumns(0));
    request.buttons = SplitChoiceButtons(MessageBoxButtonLabels(type));
    request.type = type;
    int index = NextButton();
    std::string label = LabelOf(request, index);
    Record(std::move(request), label);
    return MessageBoxButtonId(type, index);
}

int ScriptedDialogs::ShowChoiceBox(const char* title, const char* text, const char* buttons) {
    Request request = MakeRequest(ChoiceKind, title, text);
    request.shown = FitBoxText(request.text, BoxTextColumns(0));
    request.buttons = SplitChoiceButtons(buttons);
    int index = NextButton();
    std::string label = LabelOf(request, index);
    Record(std::move(request), label);
    return index;
}

std::string ScriptedDialogs::FileDialog(const char* filter, bool open, const char* initialFolder) {
    Request request = MakeRequest(FileKind, nullptr, nullptr);
    for (const auto& [name, patterns] : ParseFileFilter(filter)) {
        request.filter += (request.filter.empty() ? "" : "\n") + name + "|" + patterns;
    }
    request.open = open;
    request.initialFolder = initialFolder ? initialFolder : "";
    std::string path = NextPath();
    Record(std::move(request), path);
    return path;
}

std::string ScriptedDialogs::BrowseForFolder(const char* title, const char* initialFolder) {
    Request request = MakeRequest(FolderKind, title, nullptr);
    request.initialFolder = initialFolder ? initialFolder : "";
    std::string path = NextPath();
    Record(std::move(request), path);
    return path;
}

bool ScriptedDialogs::EnterString(int32_t, int32_t, const char* caption, const char* initial,
                                  std::string& entered) {
    Request request = MakeRequest(EntryKind, caption, initial);
    const bool answered = !paths_.empty();
    entered = NextPath();
    Record(std::move(request), answered ? entered : "(cancelled)");
    return answered;
}

int ScriptedDialogs::ShowAboutDialog() {
    Request request = MakeRequest(AboutKind, "About", nullptr);
    request.buttons = {"OK"};
    int index = NextButton();
    std::string label = LabelOf(request, index);
    Record(std::move(request), label);
    return index == 0 ? DialogOk : DialogCancel;
}

} // namespace quarn
