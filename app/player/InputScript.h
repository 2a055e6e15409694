#pragma once

// Input scripts: a run driven from a file (QUARN_INPUT), one event per line, "FRAME VERB ARGS".
// FRAME counts the run's frames from 0; a frame's events are played in file order before its
// input poll. Verbs:
//   key NAME             an engine key name ("A", "Space", "Left Ctrl"), pressed in that frame
//                        and released in the next
//   keydown NAME, keyup NAME
//   text TEXT            typed text
//   click X Y [left|right|middle]
//                        a press there (view pixels, as the mouse sees them), released in the
//                        next frame
//   doubleclick X Y [left|right|middle]
//                        a click and a double click's second press there, released in the next
//                        frame
//   press, release       the left button where the pointer is
// A press within Mouse::DoubleClickMilliseconds of the game's time and Mouse::DoubleClickRadius
// pixels of its button's last press is a double click's second press, as a real mouse's is.
//   move X Y             the pointer to a view pixel
//   wheel N              N notches, away from the user when positive
//   click-item NAME      a click at the centre of a named UI item of the last frame; a menu
//                        item named by its command ("cmd:ID") or a node-menu item by its path
//                        ("ctx:A|B|C") has the menus on its way opened first, and is clicked
//                        once it shows, a few frames later
//   command ID           the command a menu item or toolbar button sends; open menus close, as
//                        after a click. An id none sends is a warning, and nothing is sent
//   answer INDEX         the next question's button, answered by the scripted dialogs
//   answer-path PATH     the next file dialog's or text entry's answer
//   close                the window's close box
// NAME, TEXT and PATH run to the line's end. Empty lines and lines starting with '#' are skipped.
// An answer is for the dialogs of its own frame's step (which, for a frame that clicks, ends
// with the next frame, where the click is released): one no dialog took by then is a warning,
// and is dropped so that no later dialog takes it.

#include "core/math/Vector.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

class SdlPlatform;

class InputScript {
public:
    // False with "line N: reason" for the first malformed line; nothing is kept then.
    bool Parse(std::string_view text, std::string& error);
    // Plays the next frame's events. False when they ended the run (the window closed).
    bool PlayFrame(SdlPlatform& platform);
    // The run ends: every answer still waiting for its dialog is a warning.
    void Finish(SdlPlatform& platform);

private:
    enum class Verb {
        Key,
        KeyDown,
        KeyUp,
        Text,
        Click,
        DoubleClick,
        Press,
        Release,
        Move,
        Wheel,
        ClickItem,
        Command,
        Answer,
        AnswerPath,
        Close,
    };
    struct Event {
        uint32_t frame = 0;
        uint32_t line = 0;
        Verb verb = Verb::Close;
        int32_t x = 0, y = 0; // a position; a key code, notches, an id or an index in x
        int32_t button = 0;   // SdlPlatform::InjectedButton
        std::string text;
    };
    // An answer queued and not yet known to be used.
    struct Answer {
        uint32_t line = 0;
        bool path = false;
        uint64_t number = 0; // ScriptedDialogs's number of the answer within its kind
        uint32_t due = 0;    // the last frame whose step may use it
        std::string text;    // the line's verb and argument, for the warning
    };
    // A click-item waiting for its menu item to show.
    struct PendingClick {
        uint32_t line = 0;
        std::string name;
        std::vector<std::string> menus; // the menus opened on its way
        uint32_t lastFrame = 0;
    };
    static bool ParseLine(std::string_view line, Event& event, std::string& reason);
    void Play(const Event& event, SdlPlatform& platform);
    // A click at the centre of the named item of the last frame; false when it had none.
    bool ClickItem(const std::string& name, SdlPlatform& platform);
    void PlayPendingClicks(SdlPlatform& platform);
    // Opens the next menus on the click's way.
    void OpenTowards(const PendingClick& click, SdlPlatform& platform);
    // Warns of the answers due before `frame` (all of them when `ended`) that no dialog took.
    void CheckAnswers(SdlPlatform& platform, bool ended);
    // Moves the pointer to a window pixel.
    void MoveTo(Int2 window, SdlPlatform& platform);
    // A press or release of a button (SdlPlatform::InjectedButton) where the pointer is; a press
    // is counted as the window system counts a real one.
    void PressButton(int32_t button, bool down, SdlPlatform& platform);

    // The presses of one button in a row, each within the double-click time and radius of the
    // one before.
    struct PressRun {
        uint32_t count = 0;
        double seconds = 0.0;
        Int2 place;
    };

    std::vector<Event> events_; // by frame, in file order within one
    size_t next_ = 0;
    uint32_t frame_ = 0;
    std::vector<int32_t> keysToRelease_;
    std::vector<int32_t> buttonsToRelease_;
    std::vector<Answer> answers_;
    std::vector<PendingClick> pendingClicks_;
    double seconds_ = 0.0; // the game's time at the start of the frame being played
    Int2 pointer_;         // in window pixels
    PressRun pressRuns_[3];
};

// Reads the script QUARN_INPUT names, when it is set; its frames are then played by
// PlayInputScriptFrame. False with a one-line reason when it cannot be read or a line is
// malformed.
bool LoadInputScriptWhenAsked(std::string& error);
// The frame function's first step: false when the script ended the run.
bool PlayInputScriptFrame();
// At the run's end, before its verdict: answers no dialog took are warned of. Harmless without
// a script and when called again.
void FinishInputScript();
// True while a script drives the run.
bool InputScriptRuns();
// The steps played so far that did nothing: a "click-item" that found no item of its name, a
// "command" that no menu item or toolbar button sends, an answer without scripted dialogs or
// one that no dialog took. Each is logged and, unless
// QUARN_LOG puts the log on stderr, printed there as "PROGRAM: warning: input script line N: ...".
uint32_t GetInputScriptWarningCount();

} // namespace quarn
