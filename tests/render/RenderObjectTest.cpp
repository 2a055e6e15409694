#include "render/RenderObject.h"

#include "core/scenefile/SceneVersionUpgrade.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::RtSquare;

constexpr uint32_t Filter = static_cast<uint32_t>(BlendMode::Filter);

class RenderObjectTest : public test::RenderScene {
protected:
    RtSquare* square() {
        if (!square_) {
            square_ = Square("square", Float3(0, 0, 10), 0xFF000000);
        }
        return square_;
    }
    RtSquare* square_ = nullptr;
};

TEST_F(RenderObjectTest, TheTextureFactorCarriesTheOpacityClampedAndTheFilterModesInvertColour) {
    struct Case {
        uint32_t color;
        float opacity;
        uint32_t blend;
        uint32_t expected;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Case cases[] = {
        {0x204060, 0.5f, Filter, 0x7FDFBF9F}, {0x204060, 0.5f, 17, 0x7FDFBF9F}, // FILTER_INVALPHA
        {0xAA204060, 1.0f, 0, 0xFF204060},    {0x204060, 2.0f, 0, 0xFF204060},
        {0x204060, -1.0f, 0, 0x00204060},     {0x204060, nan, 0, 0x00204060},
    };
    for (const Case& c : cases) {
        square()->SetColor(c.color);
        square()->SetOpacity(c.opacity);
        square()->SetBlendMode(c.blend);
        EXPECT_EQ(square()->GetTextureFactor(), c.expected) << c.opacity << " " << c.blend;
    }
    EXPECT_FALSE(square()->IsVisible()); // NaN opacity
}

TEST_F(RenderObjectTest, AVersionFiveObjectTurnsItsBlendFlagsIntoFilter) {
    RtSquare* object = square();
    object->SetRenderFlags(0x208); // bits 3 and 9 of the old word
    UpgradeNodeVersion(5, *object);
    EXPECT_EQ(object->GetBlendMode(), Filter);
    EXPECT_EQ(object->GetRenderFlags(),
              RenderBilinear | RenderZBias | RenderZTest | RenderClickable);
    EXPECT_EQ(object->GetRenderType(), RenderDecal);
}

TEST_F(RenderObjectTest, ComparingMeshesLogsEachDifference) {
    RtSquare* a = square();
    RtSquare* b = Square("other", Float3(0, 0, 10), 0xFF000000);
    RtSquare* lines = Square("lines", Float3(0, 0, 10), 0xFF000000);
    lines->indexKind = 1;
    target_->SetHighlightedBatch({a->GetId()});
    Frame();
    test::CapturingLogSink log;
    target_->SetComparedBatch({a->GetId()});
    EXPECT_TRUE(log.Lines().empty());

    b->SetColor(0xFF00FF00);
    b->SetBlendMode(static_cast<uint32_t>(BlendMode::Add));
    b->SetRenderFlag(RenderZWrite, false);
    Frame();
    target_->SetComparedBatch({b->GetId()});
    std::vector<std::string> texts;
    for (const auto& line : log.Lines()) {
        texts.push_back(line.text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"Different render flags", "Different texture factor",
                                               "Different blend-mode on layer 0"}));
    // Told apart by what differs, not reported as a texture factor.
    log.Clear();
    target_->SetComparedBatch({lines->GetId()});
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "Different primitive type");
}

} // namespace
} // namespace quarn
