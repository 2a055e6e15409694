// quarn: the player. Runs the scene that "config.txt" names in "autorun" (a packaged game's
// "data.zoo" first, else the defaults built into the program).

#include "app/player/Engine.h"

int main(int argc, char** argv) {
    quarn::EngineSetup setup;
    for (int index = 1; index < argc; ++index) {
        if (index > 1) {
            setup.commandLine += ' ';
        }
        setup.commandLine += argv[index];
    }
    return quarn::RunPlayer(setup);
}
