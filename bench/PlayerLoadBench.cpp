// A large scene opened by the player, load screen and all, against the same file read as
// `quarn-tool scene` reads it: the player may add its few load-screen frames, never work per
// object. The two trees are compared once before anything is timed.
#include "app/ClassRegistration.h"
#include "app/player/Engine.h"
#include "app/player/SceneCommands.h"
#include "bench/BenchTiming.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/FileReader.h"
#include "core/io/GrowingOutputStream.h"
#include "core/object/IdMap.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneLoader.h"
#include "core/scenefile/SceneSaver.h"
#include "core/scenefile/SceneTextFormat.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace quarn;
using namespace quarn::bench;

// A root with `count - 1` children, pivots and plain nodes in turn.
std::string MakeScene(int count) {
    std::string text = "version = 44\nidsystem = 0\nnum_nodes = " + std::to_string(count) + "\n";
    for (int n = 1; n <= count; ++n) {
        text += "obj" + std::to_string(n) + " {\n\tclass = \"" + (n % 2 ? "Node" : "Pivot") +
                "\"\n\tname = \"node" + std::to_string(n) + "\"\n\tparent = " +
                std::to_string(n > 1 ? 1 : 0) + "\n}\n";
    }
    return text;
}

std::string SavedText(Node& root) {
    GrowingOutputStream out;
    SceneTextWriter writer;
    writer.Begin(out, "", 0);
    WriteNodeTree(writer, root, 0, SceneWriteRoot);
    return out.GetText();
}

void Unload(Node* root) {
    if (root) {
        root->Delete();
    }
    TheIdMap().Clear();
}

// The start scene's road: the reader's flags, the load screen, the signals and reports after.
Node* OpenAsPlayer(const std::string& path) {
    OpenScene(path.c_str(), OpenStartScene | OpenNativeClasses);
    return GetSceneRoot();
}

// `quarn-tool scene`'s road, without its save.
Node* ReadAsTool(const std::string& path) {
    FileReader reader;
    if (!reader.Open(path.c_str(), false, false)) {
        return nullptr;
    }
    SceneLoader loader(path.c_str(), 0, SceneKeepUnmappedIds, nullptr, nullptr);
    return loader.Load(reader);
}

} // namespace

int main() {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("quarn-player-load-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "config.txt") << "";
    if (chdir(folder.c_str()) != 0) {
        return 1;
    }
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("QUARN_DIALOGS", "script", 1);
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    SetLogSink([](const char*, const char*) {});
    EngineSetup setup;
    setup.settings = {{"autorun", ""}};
    if (!InitEngine(setup)) {
        std::fprintf(stderr, "the player could not start: %s\n", StartUpError().c_str());
        return 1;
    }
    SetValidityHook([](const char*) { return false; });

    RatioTable table("Scene opened (software device)", "tool ms");
    int status = 0;
    for (int count : {2000, 10000}) {
        const std::string path = (folder / ("level" + std::to_string(count) + ".scene")).string();
        std::ofstream(path, std::ios::binary) << MakeScene(count);
        Node* player = OpenAsPlayer(path);
        const std::string playerText = player ? SavedText(*player) : "";
        Unload(player);
        Node* tool = ReadAsTool(path);
        const std::string toolText = tool ? SavedText(*tool) : "";
        Unload(tool);
        if (playerText.empty() || playerText != toolText) {
            std::fprintf(stderr, "%d nodes: the player and the tool loaded different trees\n",
                         count);
            status = 1;
            continue;
        }
        const SideBySide times = TimeSideBySide([&] { Unload(OpenAsPlayer(path)); },
                                                [&] { Unload(ReadAsTool(path)); });
        table.Row(std::to_string(count) + " nodes, player / tool", times.engine, times.peer);
    }
    table.PrintSummary();
    std::printf("(engine: the player's start-scene road with its load screen; tool: the file "
                "read as quarn-tool scene reads it)\n");
    std::filesystem::remove_all(folder);
    // The engine lives until the process ends, as in the player.
    std::fflush(stdout);
    _exit(status);
}
