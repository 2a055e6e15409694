#include "app/player/LoadScreen.h"
#include "device/RenderDevice.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <string>

namespace quarn {
namespace {

class LoadScreen : public test::PlayerTest {
protected:
    static uint32_t FramesPresented() { return TheRenderDevice()->GetFrameCount(); }
};

// A root with `count - 1` children.
std::string SceneOf(int count) {
    std::string text = "version = 44\nnum_nodes = " + std::to_string(count) + "\n";
    for (int n = 1; n <= count; ++n) {
        text += "obj" + std::to_string(n) + " {\n\tclass = \"Node\"\n\tparent = " +
                std::to_string(n > 1 ? 1 : 0) + "\n}\n";
    }
    return text;
}

// The clock stands still while the start scene loads: start-up's three screens, the load's
// first and last report and "Ready", however many objects the scene holds.
FRESH_PROCESS_TEST_F(LoadScreen, AStartSceneOfThousandsOfNodesDrawsItsFirstAndLastReportOnly) {
    folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
    folder.WriteFile("level.scene", SceneOf(3000));
    ASSERT_TRUE(Start());
    ASSERT_NE(GetSceneRoot(), nullptr);
    EXPECT_EQ(FramesPresented(), 6u);
}

// Between a load's first and last report, one is drawn each quarter second of the clock.
FRESH_PROCESS_TEST_F(LoadScreen, ReportsBetweenTheFirstAndLastAreDrawnAQuarterSecondApart) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(Start());
    const uint32_t before = FramesPresented();
    // 1,000 reports 1/64 s apart: the first, one in sixteen after it, and the last.
    constexpr int Reports = 1000;
    for (int report = 0; report < Reports; ++report) {
        ShowLoadProgress(0, static_cast<float>(report) / Reports, "loading");
        clock->Advance(1.0 / 64.0);
    }
    ShowLoadProgress(0, 1.0f, "loading");
    EXPECT_EQ(FramesPresented() - before, 1u + (Reports - 1) / 16 + 1);
    // A new load's first report is drawn however soon it comes.
    ShowLoadProgress(0, 0.0f, "loading");
    EXPECT_EQ(FramesPresented() - before, 1u + (Reports - 1) / 16 + 2);
}

} // namespace
} // namespace quarn
