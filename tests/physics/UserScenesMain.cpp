// The whole generated set of user-written scenes, one line each and a summary; the status fails
// when any case fails. A word given runs only the cases whose name holds it; a count after it
// runs each pile at that many layouts instead of the set's own.
#include "tests/physics/UserScenes.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace quarn::test;
    const std::string only = argc > 1 ? argv[1] : "";
    const auto start = std::chrono::steady_clock::now();
    int passed = 0;
    int failed = 0;
    const int layouts = argc > 2 ? std::atoi(argv[2]) : 0;
    std::vector<SceneCase> scenes;
    for (const SceneCase& scene : AllScenes()) {
        if (layouts > 0 && scene.kind == SceneKind::MixedPile) {
            if (scene.seed == 0) {
                for (int seed = 0; seed < layouts; ++seed) {
                    SceneCase again = scene;
                    again.seed = seed;
                    scenes.push_back(again);
                }
            }
        } else {
            scenes.push_back(scene);
        }
    }
    for (const SceneCase& scene : scenes) {
        const std::string name = SceneName(scene);
        if (name.find(only) == std::string::npos) {
            continue;
        }
        const SceneVerdict verdict = RunScene(scene);
        std::printf("%-4s %-58s drift %8.4f  end %7.4f m/s  gap %7.4f  excess %7.3f  depth "
                    "%6.4f  below %d  log %d  %s\n",
                    verdict.passed ? "ok" : "FAIL", name.c_str(),
                    static_cast<double>(verdict.drift), static_cast<double>(verdict.endSpeed),
                    static_cast<double>(verdict.worstGap), static_cast<double>(verdict.worstExcess),
                    static_cast<double>(verdict.deepest), verdict.belowFloor, verdict.logLines,
                    verdict.reason.c_str());
        std::fflush(stdout);
        (verdict.passed ? passed : failed) += 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("scenes: %d passed, %d failed (%.0f s)\n", passed, failed, seconds);
    return failed == 0 ? 0 : 1;
}
