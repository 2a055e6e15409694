// The undo history's two whole-scene passes on large scenes: a capture, and the replay of a
// state that differs from the live tree in one property, each against the engine's own text
// save of the same scene into memory. Linear work shows a growth near 3 from 20,000 to 60,000
// nodes.
#include "bench/BenchTiming.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/Property.h"
#include "core/scene/Node.h"
#include "core/scene/SceneClasses.h"
#include "core/scenefile/SceneFormat.h"
#include "core/scenefile/SceneSaver.h"
#include "editor/UndoHistory.h"

#include <cstdio>
#include <string>

namespace {

using namespace quarn;
using namespace quarn::bench;

// A root with `count` nodes below it, pivots and plain nodes in turn, eight to a group.
Node* MakeScene(int count) {
    auto* root = static_cast<Node*>(CreateInstanceByClassName("Node"));
    root->SetIdSystem(0);
    TheIdMap().SetSceneRoot(0, root);
    Node* group = root;
    for (int n = 0; n < count; ++n) {
        auto* node = static_cast<Node*>(CreateInstanceByClassName(n % 2 ? "Pivot" : "Node"));
        node->AttachAsLast(n % 8 == 0 ? root : group);
        if (n % 8 == 0) {
            group = node;
        }
    }
    return root;
}

struct Figures {
    Timing capture;
    Timing apply;
    Timing save;
};

Figures Measure(int count) {
    Node* root = MakeScene(count);
    Node* changed = root->GetFirstChild();
    const Property* name = changed->FindProperty("name");
    UndoHistory history;
    history.CaptureScene();
    const std::string state = history.GetCurrentState();
    const std::string original = name->GetAsText(*changed);

    MemoryFileSystem files;
    SetFileSystem(&files);
    Figures figures;
    figures.capture = TimeRounds([&] { history.CaptureScene(); });
    int edits = 0;
    figures.apply = TimeRounds([&] {
        name->SetFromText(*changed, std::to_string(++edits).c_str());
        history.ApplyState(state);
    });
    figures.save = TimeRounds([&] {
        SaveSceneFile("bench.scene", *root, 0, SceneWriteRoot | SceneIncludeBranches | SceneRawIds);
    });
    SetFileSystem(nullptr);
    if (name->GetAsText(*changed) != original) {
        std::printf("the apply did not restore the changed name: %s\n",
                    name->GetAsText(*changed).c_str());
    }
    TheIdMap().SetSceneRoot(0, nullptr);
    root->Delete();
    TheIdMap().Clear();
    return figures;
}

} // namespace

int main() {
    SetLogSink([](const char*, const char*) {});
    RegisterSceneClasses();
    RatioTable table("undo history", "save");
    Figures small = Measure(20000);
    Figures large = Measure(60000);
    table.Row("capture, 20,000 nodes", small.capture, small.save);
    table.Row("apply one change, 20,000 nodes", small.apply, small.save);
    table.Row("capture, 60,000 nodes", large.capture, large.save);
    table.Row("apply one change, 60,000 nodes", large.apply, large.save);
    table.PrintSummary();
    std::printf("growth 20,000 -> 60,000 nodes: capture %.2f, apply %.2f, save %.2f\n",
                large.capture.median / small.capture.median,
                large.apply.median / small.apply.median, large.save.median / small.save.median);
    return 0;
}
