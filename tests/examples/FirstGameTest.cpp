#include "TestPaths.h"
#include "app/player/InputScript.h"
#include "physics/RigidBody.h"
#include "render/Sprite.h"
#include "render/TextPlate.h"
#include "script/nodes/SoundNodes.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <filesystem>
#include <string>

namespace quarn {
namespace {

// The first game as the build lays it out, started in a folder of its own as quarn starts there
// and played the way the README plays it without a keyboard: keys.txt as QUARN_INPUT, frames of
// 1/60 s.
class FirstGame : public test::PlayerTest {
protected:
    void SetUp() override {
        for (const auto& file : std::filesystem::directory_iterator(QUARN_EXAMPLES "/first-game")) {
            std::filesystem::copy_file(file.path(), folder.Join(file.path().filename()));
        }
        std::string error;
        ASSERT_TRUE(LoadInputScriptWhenAsked(error)) << error;
        ASSERT_TRUE(Start());
        ASSERT_NE(GetSceneRoot(), nullptr) << LogText();
    }

    template <class T>
    T* Named(const char* name) {
        auto* node = dynamic_cast<T*>(GetSceneRoot()->FindByName(name));
        EXPECT_NE(node, nullptr) << name;
        return node;
    }

    test::ScopedEnvironment input{"QUARN_INPUT", folder.Join("keys.txt")};
};

FRESH_PROCESS_TEST_F(FirstGame,
                     TheKeysMoveTheGemTheCounterCountsTheBoxesRestOnTheFloorAndTheHumLoops) {
    auto* gem = Named<Sprite>("Gem");
    auto* counter = Named<TextPlate>("Counter");
    auto* hum = Named<SoundEmitter>("Hum");
    ASSERT_TRUE(gem && counter && hum);
    ASSERT_TRUE(StepFrames(240));
    EXPECT_EQ(LogText(),
              "Script search-path set to '~/'\nQuarn v1.0\nScene '~/game.scene' loaded\n");

    // Right held for 60 frames, then up for 30, at 300 pixels a second; each is one press.
    EXPECT_NEAR(gem->GetPosition().x, 512.0f + 300.0f, 0.01f);
    EXPECT_NEAR(gem->GetPosition().y, 600.0f - 150.0f, 0.01f);
    EXPECT_STREQ(counter->GetText(), "Arrow presses: 2");
    // The gem is drawn where it went; where it stood shows the background.
    const uint32_t there = Pixel(812, 450);
    EXPECT_GT((there >> 8) & 0xFF, ((there >> 16) & 0xFF) + 64) << std::hex << there;
    EXPECT_EQ(Pixel(512, 600), 0xFF203040u);

    // Four seconds after their fall the boxes lie still, none sunk into the floor, whose top is
    // at -2.75, or into each other (a box is 1 high; contacts may sink by 0.01).
    std::vector<float> heights;
    for (const char* name : {"Box 1", "Box 2", "Box 3", "Box 4"}) {
        auto* box = Named<RigidBody>(name);
        ASSERT_NE(box, nullptr);
        EXPECT_GT(box->GetPosition().y, -2.75f + 0.5f - 0.02f) << name;
        EXPECT_LT(box->GetLinearVelocity().Length(), 0.05f) << name;
        heights.push_back(box->GetPosition().y);
    }
    // One box landed on the others.
    EXPECT_GT(*std::max_element(heights.begin(), heights.end()), -2.25f + 0.9f);

    // The half-second sound still plays: it loops.
    EXPECT_TRUE(hum->GetSoundFlags() & SoundPlaying);
    EXPECT_TRUE(hum->IsPlaying());
}

} // namespace
} // namespace quarn
