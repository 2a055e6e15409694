// quarn: the player. Runs the scene that "config.txt" names in "autorun" (a packaged game's
// "data.zoo" first, else the defaults built into the program). `quarn --editor` runs the editor.

#include "app/player/Engine.h"

#include <cstring>

int main(int argc, char** argv) {
    quarn::EngineSetup setup;
    bool first = true;
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
