#include "device/GpuRenderDevice.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/FontNew.h"
#include "tests/resources/ResourceTestSupport.h"

#include <cmath>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Layout with the default font, built from the engine's own glyph cache, so every width is
// the same on every machine.
class FontLayoutTest : public test::ResourceDiskTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 64, 48)) << device_.GetErrorText();
        ResourceDiskTest::SetUp();
        font_ = CreateDefaultFont();
        registered_ = GetRegisteredResourceCount();
        ASSERT_TRUE(font_->IsFromCache());
    }

    float Width(const char* text, bool utf8 = false) { return font_->MeasureText(text, utf8); }

    std::unique_ptr<VertexBuffer> QuadBuffer(uint32_t quads, bool screen) {
        auto buffer = device_.CreateVertexData();
        EXPECT_TRUE(CreateQuadBuffers(*buffer, nullptr, quads, screen, false));
        return buffer;
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
    FontNew* font_ = nullptr;
};

TEST_F(FontLayoutTest, MeasureTakesTheWidestLine) {
    EXPECT_EQ(Width(""), 0.0f);
    EXPECT_EQ(Width("ab"), font_->GetAdvance('a') + font_->GetAdvance('b'));
    EXPECT_EQ(Width("ab\nabcd"), Width("abcd"));
    EXPECT_EQ(Width("abcd\nab"), Width("abcd"));
    // One character in UTF-8, the same code as the Latin-1 byte.
    EXPECT_EQ(Width("\xC3\xA6", true), Width("\xE6"));
}

TEST_F(FontLayoutTest, WrapBreaksBetweenWordsAtByteOffsets) {
    struct Case {
        const char* text;
        float width;
        bool utf8;
        std::vector<uint32_t> starts;
    };
    const Case cases[] = {
        {"aa bb", Width("aa bb"), false, {0, 5}},
        {"aa bb cc", Width("aa bb") + 1, false, {0, 6, 8}},
        // A word longer than the box stays whole on its own line.
        {"aaaaaaaa b", 1, false, {0, 9, 10}},
        // The hyphen stays at the end of the first line.
        {"well-known", Width("well-") + 1, false, {0, 5, 10}},
        {"ab\ncd", 100, false, {0, 3, 5}},
        {"\xC3\xA6\xC3\xB8 \xC3\xA6\xC3\xB8", Width("\xC3\xA6\xC3\xB8", true) + 1, true, {0, 5, 9}},
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> starts;
        const int32_t lines =
            font_->WrapText(c.width, c.text, &starts, c.utf8, LayoutBreakCharacters);
        EXPECT_EQ(lines, static_cast<int32_t>(c.starts.size()) - 1) << c.text;
        EXPECT_EQ(starts, c.starts) << c.text;
        EXPECT_EQ(font_->WrapText(c.width, c.text, nullptr, c.utf8, LayoutBreakCharacters), lines);
    }
}

TEST_F(FontLayoutTest, LayoutAlignsLinesInTheBox) {
    struct Case {
        int32_t horizontal, vertical;
        uint32_t flags;
        float firstX, firstY, secondY;
    };
    const float line = static_cast<float>(font_->GetLineHeight());
    const float wide = Width("aaa");
    // "aaa" then "b" in a box as wide as "aaa", at (100, 50), line spacing 3.
    const Case cases[] = {
        {0, 0, LayoutDownward, 100, 50, 50 + line + 3},
        {1, 0, 0, std::trunc(100 - wide * 0.5f), 50, 50 - line - 3},
        {0, 2, 0, 100, 50 + std::trunc(line * 2 + 3), 50 + std::trunc(line * 2 + 3) - line - 3},
        {0, 1, LayoutDownward, 100, 50 - std::trunc(std::trunc(line * 2 + 3) * 0.5f),
         50 - std::trunc(std::trunc(line * 2 + 3) * 0.5f) + line + 3},
    };
    for (const Case& c : cases) {
        auto buffer = QuadBuffer(8, false);
        EXPECT_EQ(font_->LayoutText("aaa b", 100, 50, 0, wide, 0xFFFFFFFF, c.horizontal, c.vertical,
                                    c.flags, 3, *buffer),
                  4);
        ASSERT_EQ(buffer->GetCount(), 16u);
        EXPECT_EQ(buffer->GetPosition(0).x, c.firstX) << c.horizontal << c.vertical;
        EXPECT_EQ(buffer->GetPosition(0).y, c.firstY) << c.horizontal << c.vertical;
        EXPECT_EQ(buffer->GetPosition(12).y, c.secondY) << c.horizontal << c.vertical;
    }
}

TEST_F(FontLayoutTest, JustifiedLinesReachTheRightEdge) {
    auto buffer = QuadBuffer(8, true);
    EXPECT_EQ(
        font_->LayoutText("ab cd", 10, 20, 0, 100, 0xFF00FF00, 3, 0, LayoutDownward, 0, *buffer),
        5);
    // The right corners of the last quad ("d"), half a pixel to the left on screen.
    EXPECT_NEAR(buffer->GetPosition(4 * 4 + 1).x + 0.5f, 10 + 100, 1e-3f);
    const float spacing = (100 - Width("ab cd")) / 4;
    EXPECT_NEAR(buffer->GetPosition(4).x + 0.5f, 10 + font_->GetAdvance('a') + spacing, 1e-3f);
    EXPECT_EQ(buffer->GetColor(0, 0), 0xFF00FF00u);
}

TEST_F(FontLayoutTest, GlyphQuadsCarryTheirRectangle) {
    auto screen = QuadBuffer(1, true);
    const GlyphRect rect = font_->GetGlyphRect('W');
    const float width = font_->DrawGlyph('W', 4, 6, 0.5f, *screen, 0x80FFFFFF);
    EXPECT_EQ(width, font_->GetAdvance('W'));
    EXPECT_EQ(screen->GetPosition(0).x, 3.5f);
    EXPECT_EQ(screen->GetTexCoord(2, 0).y, rect.bottom);
    // The buffer is full now: nothing is written.
    EXPECT_EQ(font_->DrawGlyph('W', 4, 6, 0, *screen, 0), 0.0f);
    EXPECT_EQ(screen->GetCount(), 4u);
}

TEST_F(FontLayoutTest, QuadBuffersAreSizedOrRefusedWhole) {
    auto vertices = device_.CreateVertexData();
    auto indices = device_.CreateIndexData();
    ASSERT_TRUE(CreateQuadBuffers(*vertices, indices.get(), 10, true, true));
    EXPECT_EQ(vertices->GetCapacity(), 40u);
    EXPECT_EQ(indices->GetCapacity(), 60u);
    // Six indices per quad would not count in 32 bits: nothing changes.
    EXPECT_FALSE(CreateQuadBuffers(*vertices, indices.get(), 0x40000000, false, false));
    EXPECT_EQ(vertices->GetCapacity(), 40u);
    EXPECT_EQ(indices->GetCapacity(), 60u);
}

} // namespace
} // namespace quarn
