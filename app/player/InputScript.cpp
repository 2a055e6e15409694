#include "app/player/InputScript.h"

#include "app/editor/EditorCommands.h"
#include "app/editor/EditorMenus.h"
#include "app/editor/EditorUi.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/WindowMessage.h"
#include "core/debug/Log.h"
#include "core/scene/EngineState.h"
#include "core/string/Text.h"
#include "editor/EditorMenu.h"
#include "editor/UiLayer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

namespace quarn {

namespace {

std::optional<InputScript> script;
uint32_t warnings = 0;

constexpr int32_t MostPixels = 32767;
constexpr int32_t MostNotches = 32767 / WheelDelta;

// The next space-separated word, taken off the front of the text.
std::string_view NextWord(std::string_view& text) {
    const size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        text = {};
        return {};
    }
    text.remove_prefix(start);
    const size_t end = std::min(text.find(' '), text.size());
    std::string_view word = text.substr(0, end);
    text.remove_prefix(end);
    return word;
}

// What is left after the space that ends the verb: names and texts keep their own spaces.
std::string_view RestOfLine(std::string_view text) {
    return text.empty() ? text : text.substr(1);
}

template <typename Number>
bool ParseNumber(std::string_view word, Number& value) {
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size() && !word.empty();
}

// A physical key's code by its engine name, in any case (no two names differ only in case);
// KeyCount for none.
int32_t KeyCodeByName(std::string_view name) {
    const std::string text(name);
    for (int32_t code = 0; code < KeyShift; ++code) {
        if (CompareNoCase(text.c_str(), GetKeyName(code)) == 0) {
            return code;
        }
    }
    return KeyCount;
}

// A step that did nothing must not pass unseen: it goes to the log, and to stderr as the
// program's own warning unless QUARN_LOG sends the log there already.
void WarnOfStep(uint32_t line, const std::string& what) {
    ++warnings;
    LogMessage("Input script line %u: %s", line, what.c_str());
    if (!std::getenv("QUARN_LOG")) {
        std::fprintf(stderr, "%s: warning: input script line %u: %s\n",
                     program_invocation_short_name, line, what.c_str());
    }
}

Int2 ViewToWindow(SdlPlatform& platform, int32_t x, int32_t y) {
    const Int2 origin = platform.GetViewOrigin();
    return {origin.x + x, origin.y + platform.GetMenuBarHeight() + y};
}

// A menu takes a frame to open and one to show its items; a few more allow for slow ones. A
// click waits this many frames for each menu on its way.
constexpr uint32_t MenuOpeningFrames = 4;

// The menus on the way to an item: "menu:TITLE" each for a menu bar item named "cmd:ID", the
// levels above it for a node-menu item "ctx:LABEL|LABEL..." ("ctx:A" and "ctx:A|B" for
// "ctx:A|B|C"); false for any other name, an id no item of the bar has, or a node-menu item of
// the top level.
bool MenusOnTheWay(std::string_view name, std::vector<std::string>& menus) {
    menus.clear();
    if (name.starts_with("ctx:")) {
        for (size_t bar = name.find('|'); bar != std::string_view::npos;
             bar = name.find('|', bar + 1)) {
            menus.emplace_back(name.substr(0, bar));
        }
        return !menus.empty();
    }
    uint32_t id = 0;
    std::vector<std::string> texts;
    const Menu* bar = GetEditorMenuBar();
    if (!bar || !name.starts_with("cmd:") || !ParseNumber(name.substr(4), id) ||
        !bar->FindPath(id, texts)) {
        return false;
    }
    for (const std::string& text : texts) {
        menus.push_back("menu:" + text);
    }
    return true;
}

} // namespace

bool InputScript::ParseLine(std::string_view line, Event& event, std::string& reason) {
    std::string_view rest = line;
    if (!ParseNumber(NextWord(rest), event.frame)) {
        reason = "the line does not start with a frame number";
        return false;
    }
    const std::string_view verb = NextWord(rest);
    static constexpr struct {
        std::string_view name;
        Verb verb;
    } Verbs[] = {{"key", Verb::Key},
                 {"keydown", Verb::KeyDown},
                 {"keyup", Verb::KeyUp},
                 {"text", Verb::Text},
                 {"click", Verb::Click},
                 {"doubleclick", Verb::DoubleClick},
                 {"press", Verb::Press},
                 {"release", Verb::Release},
                 {"move", Verb::Move},
                 {"wheel", Verb::Wheel},
                 {"click-item", Verb::ClickItem},
                 {"command", Verb::Command},
                 {"answer", Verb::Answer},
                 {"answer-path", Verb::AnswerPath},
                 {"close", Verb::Close}};
    const auto* found = std::find_if(std::begin(Verbs), std::end(Verbs),
                                     [&](const auto& entry) { return entry.name == verb; });
    if (found == std::end(Verbs)) {
        reason = StringFormat("unknown verb \"%.*s\"", static_cast<int>(verb.size()), verb.data());
        return false;
    }
    event.verb = found->verb;
    switch (event.verb) {
    case Verb::Key:
    case Verb::KeyDown:
    case Verb::KeyUp: {
        const std::string_view name = RestOfLine(rest);
        event.x = KeyCodeByName(name);
        if (event.x == KeyCount) {
            reason = StringFormat("no key is named \"%.*s\"", static_cast<int>(name.size()),
                                  name.data());
            return false;
        }
        return true;
    }
    case Verb::Text:
    case Verb::ClickItem:
    case Verb::AnswerPath:
        event.text = RestOfLine(rest);
        if (event.text.empty() && event.verb != Verb::AnswerPath) {
            reason =
                StringFormat("\"%.*s\" needs its text", static_cast<int>(verb.size()), verb.data());
            return false;
        }
        return true;
    case Verb::Click:
    case Verb::DoubleClick:
    case Verb::Move: {
        // Window messages carry positions in 16 bits.
        if (!ParseNumber(NextWord(rest), event.x) || !ParseNumber(NextWord(rest), event.y) ||
            std::abs(event.x) > MostPixels || std::abs(event.y) > MostPixels) {
            reason = StringFormat("a position needs two whole numbers from -%d to %d", MostPixels,
                                  MostPixels);
            return false;
        }
        const std::string_view button = NextWord(rest);
        if (event.verb != Verb::Move && !button.empty()) {
            static constexpr std::string_view Buttons[] = {"left", "right", "middle"};
            const auto* named = std::find(std::begin(Buttons), std::end(Buttons), button);
            if (named == std::end(Buttons)) {
                reason = "the button is left, right or middle";
                return false;
            }
            event.button = static_cast<int32_t>(named - std::begin(Buttons));
        } else if (!button.empty()) {
            reason = "too many words";
            return false;
        }
        break;
    }
    case Verb::Wheel:
        // A wheel message carries its movement, 120 a notch, in 16 bits.
        if (!ParseNumber(NextWord(rest), event.x) || std::abs(event.x) > MostNotches) {
            reason = StringFormat("the wheel turns by a whole number of notches from -%d to %d",
                                  MostNotches, MostNotches);
            return false;
        }
        break;
    case Verb::Answer:
        if (!ParseNumber(NextWord(rest), event.x) || event.x < 0 || event.x >= MaxChoiceButtons) {
            reason = StringFormat("an answer is a button index from 0 to %d", MaxChoiceButtons - 1);
            return false;
        }
        break;
    case Verb::Command: {
        uint32_t id = 0;
        if (!ParseNumber(NextWord(rest), id) || id > 0xFFFF) {
            reason = "a command id is a number from 0 to 65535";
            return false;
        }
        event.x = static_cast<int32_t>(id);
        break;
    }
    case Verb::Press:
    case Verb::Release:
    case Verb::Close:
        break;
    }
    if (!NextWord(rest).empty()) {
        reason = "too many words";
        return false;
    }
    return true;
}

bool InputScript::Parse(std::string_view text, std::string& error) {
    std::vector<Event> events;
    uint32_t lineNumber = 0;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.find_first_not_of(' ') == std::string_view::npos || line.front() == '#') {
            continue;
        }
        // The texts go on as C strings, which a zero byte would cut short.
        if (line.find('\0') != std::string_view::npos) {
            error = StringFormat("line %u: the line holds a zero byte", lineNumber);
            return false;
        }
        Event event;
        event.line = lineNumber;
        std::string reason;
        if (!ParseLine(line, event, reason)) {
            error = StringFormat("line %u: %s", lineNumber, reason.c_str());
            return false;
        }
        events.push_back(std::move(event));
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.frame < b.frame; });
    events_ = std::move(events);
    next_ = 0;
    frame_ = 0;
    return true;
}

bool InputScript::PlayFrame(SdlPlatform& platform) {
    // The last frame's step is over: the answers it was to use had their dialogs.
    CheckAnswers(platform, false);
    if (frame_ > 0) {
        seconds_ += FrameTime;
    }
    // Last frame's key taps and clicks end first.
    for (int32_t key : std::exchange(keysToRelease_, {})) {
        platform.InjectKey(key, false);
    }
    for (int32_t button : std::exchange(buttonsToRelease_, {})) {
        PressButton(button, false, platform);
    }
    PlayPendingClicks(platform);
    for (; next_ < events_.size() && events_[next_].frame == frame_; ++next_) {
        Play(events_[next_], platform);
    }
    // A click acts when it is released, in the next frame, and one waiting for its menu item
    // later still: the dialog it opens comes then.
    if (!buttonsToRelease_.empty() || !pendingClicks_.empty()) {
        for (Answer& answer : answers_) {
            answer.due = answer.due == frame_ ? frame_ + 1 : answer.due;
        }
    }
    ++frame_;
    return platform.PumpMessages();
}

void InputScript::Finish(SdlPlatform& platform) {
    CheckAnswers(platform, true);
    for (const PendingClick& click : std::exchange(pendingClicks_, {})) {
        WarnOfStep(click.line, StringFormat("no UI item \"%s\" showed before the run ended",
                                            click.name.c_str()));
    }
}

void InputScript::CheckAnswers(SdlPlatform& platform, bool ended) {
    auto* dialogs = dynamic_cast<ScriptedDialogs*>(&platform.Dialogs());
    if (!dialogs) {
        return;
    }
    std::erase_if(answers_, [&](const Answer& answer) {
        if (!ended && answer.due >= frame_) {
            return false;
        }
        // Dropped, or the next dialog of its kind would take it, however much later.
        const bool waiting = answer.path ? dialogs->WithdrawPath(answer.number)
                                         : dialogs->WithdrawButton(answer.number);
        if (waiting) {
            WarnOfStep(answer.line,
                       ended ? StringFormat("%s was taken by no dialog before the run ended",
                                            answer.text.c_str())
                             : StringFormat("%s was taken by no dialog by the end of frame %u; "
                                            "an answer goes before the step that opens its "
                                            "dialog",
                                            answer.text.c_str(), answer.due));
        }
        return true;
    });
}

bool InputScript::ClickItem(const std::string& name, SdlPlatform& platform) {
    const UiLayer* ui = GetEditorUi();
    const auto item = ui ? ui->FindItem(name) : std::nullopt;
    if (!item) {
        return false;
    }
    MoveTo({static_cast<int32_t>(item->CentreX()), static_cast<int32_t>(item->CentreY())},
           platform);
    const auto left = static_cast<int32_t>(SdlPlatform::InjectedButton::Left);
    PressButton(left, true, platform);
    buttonsToRelease_.push_back(left);
    return true;
}

void InputScript::MoveTo(Int2 window, SdlPlatform& platform) {
    pointer_ = window;
    platform.InjectMouseMove(window);
}

void InputScript::PressButton(int32_t button, bool down, SdlPlatform& platform) {
    const auto injected = static_cast<SdlPlatform::InjectedButton>(button);
    if (!down) {
        platform.InjectButton(injected, false);
        return;
    }
    PressRun& run = pressRuns_[button];
    if (seconds_ - run.seconds >= Mouse::DoubleClickMilliseconds / 1000.0 ||
        std::abs(pointer_.x - run.place.x) > Mouse::DoubleClickRadius ||
        std::abs(pointer_.y - run.place.y) > Mouse::DoubleClickRadius) {
        run.count = 0;
    }
    run = {run.count + 1, seconds_, pointer_};
    // Every second press of a run is a double click's, as the platform takes SDL's counts.
    platform.InjectButton(injected, true, run.count % 2 == 0);
}

void InputScript::PlayPendingClicks(SdlPlatform& platform) {
    std::erase_if(pendingClicks_, [&](const PendingClick& click) {
        if (ClickItem(click.name, platform)) {
            return true;
        }
        if (frame_ > click.lastFrame) {
            WarnOfStep(click.line, StringFormat("no UI item \"%s\" showed once its menus were "
                                                "opened",
                                                click.name.c_str()));
            return true;
        }
        OpenTowards(click, platform);
        return false;
    });
}

void InputScript::OpenTowards(const PendingClick& click, SdlPlatform& platform) {
    UiLayer* ui = GetEditorUi();
    if (!ui) {
        return;
    }
    if (!click.name.starts_with("ctx:")) {
        ui->OpenMenus(click.menus);
        return;
    }
    // The node menu's levels open as the pointer rests on them, the user's way through them.
    for (auto level = click.menus.rbegin(); level != click.menus.rend(); ++level) {
        if (const auto item = ui->FindItem(*level)) {
            MoveTo({static_cast<int32_t>(item->CentreX()), static_cast<int32_t>(item->CentreY())},
                   platform);
            return;
        }
    }
}

void InputScript::Play(const Event& event, SdlPlatform& platform) {
    using Button = SdlPlatform::InjectedButton;
    switch (event.verb) {
    case Verb::Key:
        platform.InjectKey(event.x, true);
        keysToRelease_.push_back(event.x);
        break;
    case Verb::KeyDown:
    case Verb::KeyUp:
        platform.InjectKey(event.x, event.verb == Verb::KeyDown);
        break;
    case Verb::Text:
        platform.InjectText(event.text);
        break;
    case Verb::Click:
        MoveTo(ViewToWindow(platform, event.x, event.y), platform);
        PressButton(event.button, true, platform);
        buttonsToRelease_.push_back(event.button);
        break;
    case Verb::DoubleClick:
        MoveTo(ViewToWindow(platform, event.x, event.y), platform);
        // Its own run of two presses, whatever clicks came just before.
        pressRuns_[event.button].count = 0;
        PressButton(event.button, true, platform);
        PressButton(event.button, false, platform);
        PressButton(event.button, true, platform);
        buttonsToRelease_.push_back(event.button);
        break;
    case Verb::Press:
    case Verb::Release:
        PressButton(static_cast<int32_t>(Button::Left), event.verb == Verb::Press, platform);
        break;
    case Verb::Move:
        MoveTo(ViewToWindow(platform, event.x, event.y), platform);
        break;
    case Verb::Wheel:
        platform.InjectWheel(event.x);
        break;
    case Verb::ClickItem: {
        std::vector<std::string> menus;
        if (ClickItem(event.text, platform)) {
            break;
        }
        // A menu item the menus hide: they open as the user's clicks would open them, a few
        // frames a level.
        if (GetEditorUi() && MenusOnTheWay(event.text, menus)) {
            const auto last = static_cast<uint32_t>(frame_ + MenuOpeningFrames * menus.size());
            pendingClicks_.push_back({event.line, event.text, std::move(menus), last});
            OpenTowards(pendingClicks_.back(), platform);
            break;
        }
        WarnOfStep(event.line,
                   StringFormat("no UI item \"%s\" in the last frame", event.text.c_str()));
        break;
    }
    case Verb::Command:
        if (!IsMenuOrToolbarCommand(static_cast<uint32_t>(event.x))) {
            WarnOfStep(event.line,
                       StringFormat("no menu item or toolbar button sends command %d", event.x));
            break;
        }
        // As a chosen menu item does, the command closes the menus.
        if (UiLayer* ui = GetEditorUi()) {
            ui->CloseMenus();
        }
        platform.SendWindowMessage(MessageCommand, static_cast<uintptr_t>(event.x), 0);
        break;
    case Verb::Answer:
    case Verb::AnswerPath:
        if (auto* dialogs = dynamic_cast<ScriptedDialogs*>(&platform.Dialogs())) {
            Answer answer{event.line, event.verb == Verb::AnswerPath, 0, frame_, {}};
            if (answer.path) {
                answer.number = dialogs->AnswerPath(event.text);
                answer.text = "answer-path " + event.text;
            } else {
                answer.number = dialogs->AnswerButton(event.x);
                answer.text = StringFormat("answer %d", event.x);
            }
            answers_.push_back(std::move(answer));
        } else {
            WarnOfStep(event.line, "the dialogs are not answered from a script");
        }
        break;
    case Verb::Close:
        platform.InjectClose();
        break;
    }
}

bool LoadInputScriptWhenAsked(std::string& error) {
    const char* path = std::getenv("QUARN_INPUT");
    if (!path || !*path) {
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
        error = StringFormat("input script %s cannot be opened", path);
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = StringFormat("input script %s cannot be read", path);
        return false;
    }
    InputScript loaded;
    std::string reason;
    if (!loaded.Parse(text, reason)) {
        error = StringFormat("input script %s, %s", path, reason.c_str());
        return false;
    }
    script = std::move(loaded);
    return true;
}

bool PlayInputScriptFrame() {
    auto* platform = dynamic_cast<SdlPlatform*>(GetPlatform());
    return !script || !platform || script->PlayFrame(*platform);
}

void FinishInputScript() {
    auto* platform = dynamic_cast<SdlPlatform*>(GetPlatform());
    if (script && platform) {
        script->Finish(*platform);
    }
}

bool InputScriptRuns() {
    return script.has_value();
}

uint32_t GetInputScriptWarningCount() {
    return warnings;
}

} // namespace quarn
