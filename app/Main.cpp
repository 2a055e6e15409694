// quarn: the player. Runs the scene that "config.txt" names in "autorun" (a packaged game's
// "data.zoo" first, else the defaults built into the program). `quarn --editor` runs the editor.

#include "app/player/Engine.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* Usage =
    "usage: quarn [--editor] [SCENE.scene]\n"
    "\n"
    "Runs the game in the current folder: its packaged \"data.zoo\", else the folder\n"
    "itself when it holds a \"config.txt\", else the scene built into the program.\n"
    "--editor runs the editor on the same game instead. A command line ending in\n"
    "\".scene\" makes the program's own folder the start folder; nothing else on it\n"
    "is read. The program ends when its window closes, on SIGTERM, SIGINT, SIGHUP\n"
    "or SIGQUIT.\n"
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
    return quarn::RunPlayer(setup);
}
