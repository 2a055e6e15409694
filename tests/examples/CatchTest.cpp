#include "TestPaths.h"
#include "physics/ContactEvents.h"
#include "physics/PhysicsMaster.h"
#include "render/TextPlate.h"
#include "script/machine/ScriptNode.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quarn {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The steps in which the basket and the crate began to touch, told apart from the steps that
// go on touching by the "trig" event both triggers get every step they touch.
struct Touches {
    static void Hear(const ContactEvents::Event& event) {
        if (event.kind != ContactEvents::Trig) {
            return;
        }
        const uint32_t step = PhysicsMaster::GetCurrentWorld()->GetStepCounter();
        if (step != lastStep + 1) {
            ++started;
        }
        lastStep = step;
    }
    static inline int started = 0;
    static inline uint32_t lastStep = 0;
};

// The script reference's worked example as the build lays it out, run as the player runs it
// offscreen at 200 frames a second, where every other frame holds no physics step.
class Catch : public test::PlayerTest {
protected:
    void SetUp() override {
        for (const auto& file : std::filesystem::directory_iterator(QUARN_EXAMPLES "/catch")) {
            std::filesystem::copy_file(file.path(), folder.Join(file.path().filename()));
        }
        // A small window: the frames are drawn, and drawing is what takes the time here.
        std::ofstream(folder.Join("config.txt"), std::ios::app) << "editor_windowsize = 160,120\n";
        ContactEvents::SetObserver(&Touches::Hear);
        ASSERT_TRUE(Start());
        ASSERT_NE(GetSceneRoot(), nullptr) << LogText();
    }
    void TearDown() override { ContactEvents::SetObserver(nullptr); }
};

FRESH_PROCESS_TEST_F(Catch, TheScriptHearsEachNewTouchOnceAndTheNumbersOfEveryCollision) {
    auto* catcher = dynamic_cast<Script*>(GetSceneRoot()->FindByName("Catcher"));
    auto* counter = dynamic_cast<TextPlate*>(GetSceneRoot()->FindByName("Counter"));
    ASSERT_TRUE(catcher && counter);
    // Four seconds: the crate falls 3.25 m onto the basket in 0.81 s, four times.
    ASSERT_TRUE(StepFrames(800, 0.005));
    EXPECT_EQ(LogText(),
              "Script search-path set to '~/'\nQuarn v1.0\nScene '~/catch.scene' loaded\n");
    EXPECT_EQ(Touches::started, 4);
    EXPECT_EQ(catcher->ReadVariable<int32_t>("catches"), 4);
    EXPECT_STREQ(counter->GetText(), "Catches: 4");
    // The collision handler kept the speed it landed with: a little below the 8.06 m/s of a
    // 3.25 m fall, for the world's damping.
    EXPECT_GT(catcher->ReadVariable<float>("landing"), 7.0f);
    EXPECT_LT(catcher->ReadVariable<float>("landing"), 8.06f);
}

// The reference shows the example's program as it is.
TEST(CatchExample, TheScriptReferenceShowsItsProgram) {
    const std::string program = ReadFile(QUARN_SOURCE_DIR "/examples/catch/catcher.asm");
    ASSERT_FALSE(program.empty());
    EXPECT_NE(ReadFile(QUARN_SOURCE_DIR "/docs/scripting.md").find(program), std::string::npos);
}

} // namespace
} // namespace quarn
