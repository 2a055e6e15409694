#include "TestPaths.h"

#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <set>
#include <sstream>
#include <string>

namespace quarn {
namespace {

// The targets the Makefile's `run` builds: the words after "--target" in its recipe, which
// ends at the first empty line.
std::set<std::string> MakeRunTargets() {
    std::ifstream file(QUARN_SOURCE_DIR "/Makefile", std::ios::binary);
    const std::string makefile(std::istreambuf_iterator<char>(file), {});
    const size_t rule = makefile.find("\nrun:");
    if (rule == std::string::npos) {
        return {};
    }
    std::istringstream recipe(makefile.substr(rule, makefile.find("\n\n", rule) - rule));
    std::set<std::string> targets;
    for (std::string line; std::getline(recipe, line);) {
        const size_t option = line.find("--target ");
        std::istringstream words(option == std::string::npos ? "" : line.substr(option + 9));
        for (std::string word; words >> word;) {
            targets.insert(word);
        }
    }
    return targets;
}

// The README and the script reference run the example games from the folders the build lays
// out, after `make run`: it builds the target this suite plays them from, which lays out every
// one of them (examples/CMakeLists.txt).
TEST(MakeRun, BuildsThePlayerTheToolAndEveryExampleGame) {
    const std::set<std::string> targets = MakeRunTargets();
    for (const char* target : {"quarn", "quarn-tool", "example-games"}) {
        EXPECT_TRUE(targets.contains(target)) << target;
    }
}

} // namespace
} // namespace quarn
