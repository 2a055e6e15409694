// quarn: the player. Runs the scene that "config.txt" names in "autorun" (a packaged game's
// "data.zoo" first, else the defaults built into the program). `quarn --editor` runs the editor.

#include "app/player/Engine.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* Usage =
    "usage: quarn [SCENE.scene]\n"
    "       quarn --editor [SCENE]\n"
    "\n"
    "Runs the game in the current folder: its packaged \"data.zoo\", else the folder\n"
    "itself when it holds a \"config.txt\", else the scene built into the program.\n"
    "A command line ending in \".scene\" makes the program's own folder the start\n"
    "folder; nothing else on it is read. --editor runs the editor on the same game\n"
    "instead: it plays the game's start scene, or opens SCENE stopped, for editing.\n"
    "The program ends when its window closes, on SIGTERM, SIGINT, SIGHUP or SIGQUIT.\n"
    "\n"
    "Environment: QUARN_LOG (log to stderr), QUARN_INPUT=FILE (drive the run from an\n"
    "input script), QUARN_DIALOGS=script and QUARN_DIALOG_ANSWERS (answer dialogs\n"
    "without showing them), QUARN_STEP=SECONDS (a fixed step per frame),\n"
    "QUARN_RENDER_THREADS; SDL_VIDEODRIVER=offscreen runs without a display. The\n"
    "README says more of each.\n";

} // namespace

int main(int argc, char** argv) {
    quarn::EngineSetup setup;
    bool first = true;
    for (int index = 1; index < argc; ++index) {
        if (std::strcmp(argv[index], "--help") == 0 || std::strcmp(argv[index], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
    }
    for (int index = 1; index < argc; ++index) {
        // The switch is ours, not the platform's: it never reaches the ".scene" rule.
        if (std::strcmp(argv[index], "--editor") == 0) {
            setup.editor = true;
            continue;
        }
        if (!first) {
            setup.commandLine += ' ';
        }
        first = false;
        setup.commandLine += argv[index];
    }
    // The editor's scene is the one to edit, in the game of the current folder: the player's
    // rule for a command line ending in ".scene" does not reach it.
    if (setup.editor) {
        setup.editScene = std::move(setup.commandLine);
        setup.commandLine.clear();
    }
    return quarn::RunPlayer(setup);
}
