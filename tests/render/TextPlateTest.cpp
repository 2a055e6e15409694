#include "render/TextPlate.h"

#include "core/filesystem/DiskFileSystem.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "resources/FontNew.h"
#include "resources/ResourceRegistry.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// Lit pixels' rows and columns, (first, last) each; -1 when nothing is lit.
struct Extent {
    int top = -1, bottom = -1, left = -1, right = -1;
};

class TextPlateTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        TextPlate::RegisterClass();
        CreateDefaultFont();
    }
    // The default font (8 points, the engine's own glyphs), on the screen at (x, y).
    TextPlate* Plate(const char* text, Float3 at = Float3(4, 4, 0), int32_t mode = MatrixScreen) {
        auto* plate = tree_.Make<TextPlate>("plate", root_);
        plate->SetMatrixMode(mode);
        plate->SetPosition(at);
        plate->SetPointSize(8);
        plate->SetFontFlags(0);
        plate->SetAlignX(TextAlignLeft);
        plate->SetFontName("res://arial.ttf");
        plate->SetText(text);
        return plate;
    }
    Extent Lit() {
        Extent e;
        for (int y = 0; y < static_cast<int>(Height); ++y) {
            for (int x = 0; x < static_cast<int>(Width); ++x) {
                if ((Pixel(x, y) & 0xFFFFFF) == 0) {
                    continue;
                }
                e.top = e.top < 0 ? y : e.top;
                e.bottom = y;
                e.left = e.left < 0 ? x : std::min(e.left, x);
                e.right = std::max(e.right, x);
            }
        }
        return e;
    }
    void Draw() { Frame(0xFF000000); }
};

TEST_F(TextPlateTest, LinesReadBackWholeWithoutTheirClosingBreak) {
    struct Case {
        const char* text;
        int32_t boxWidth;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {"", 500, {}},
        {"hello", 500, {"hello"}},
        {"one\ntwo\n", 500, {"one", "two"}},
        {"aaaaaa-bbbbbb", 30, {"aaaaaa-", "bbbbbb"}},
        {"wrapped words here", 30, {"wrapped", "words", "here"}},
    };
    for (const Case& c : cases) {
        TextPlate* plate = Plate(c.text);
        plate->SetBoxWidth(c.boxWidth);
        ASSERT_EQ(plate->GetLineCount(), static_cast<int32_t>(c.lines.size())) << c.text;
        for (size_t i = 0; i < c.lines.size(); ++i) {
            const auto line = static_cast<int32_t>(i);
            EXPECT_EQ(std::string(plate->GetLineText(line)), c.lines[i]) << c.text;
            EXPECT_EQ(plate->GetLineWidth(line), plate->MeasureString(c.lines[i].c_str()));
        }
        EXPECT_EQ(std::string(plate->GetLineText(-1)), "");
        EXPECT_EQ(std::string(plate->GetLineText(plate->GetLineCount())), "");
        plate->Destroy();
    }
}

TEST_F(TextPlateTest, AScreenTextCoversItsLineAndAnEmptyOneDrawsNothing) {
    TextPlate* plate = Plate("");
    Draw();
    EXPECT_EQ(Lit().top, -1);
    plate->SetText("MMMM");
    Draw();
    const Extent e = Lit();
    const FontNew* font = plate->GetFont();
    EXPECT_GE(e.left, 4);
    EXPECT_LE(e.right, 4 + static_cast<int>(plate->GetTextWidth()));
    EXPECT_GE(e.top, 4);
    EXPECT_LE(e.bottom, 4 + font->GetLineHeight());
    EXPECT_GT(e.right - e.left, static_cast<int>(plate->GetTextWidth()) / 2);

    // In space, scaled from font pixels and facing the camera.
    plate->Destroy();
    TextPlate* world = Plate("MMMM", Float3(0, 0, 10), MatrixNormal);
    world->SetSize(Float2(4, 4));
    Draw();
    EXPECT_NE(Lit().top, -1);
}

// One line hangs below its position aligned TOP and stands on it aligned BOTTOM: the two are
// drawn one line height apart (12 pixels in the default font), and each is hit where it is drawn.
TEST_F(TextPlateTest, OneLineAlignedTopDrawsALineBelowBottomAndIsHitWhereDrawn) {
    TextPlate* plate = Plate("Title", Float3(4, 30, 0));
    const int line = plate->GetFont()->GetLineHeight();
    ASSERT_EQ(line, 12);
    int tops[3] = {};
    for (int32_t align : {TextAlignTop, TextAlignCenterY, TextAlignBottom}) {
        plate->SetAlignY(align);
        Draw();
        const Extent e = Lit();
        ASSERT_NE(e.top, -1);
        tops[align] = e.top;
        const float middle = static_cast<float>(e.top + e.bottom) * 0.5f;
        EXPECT_EQ(plate->HitTestLine(Float2(6, middle), 0.5f, 0.5f), 1) << align;
        EXPECT_EQ(plate->HitTestLine(Float2(6, middle + static_cast<float>(line)), 0.5f, 0.5f), 0)
            << align;
    }
    EXPECT_EQ(tops[TextAlignTop] - tops[TextAlignBottom], line);
    EXPECT_EQ(tops[TextAlignTop] - tops[TextAlignCenterY], line / 2);
}

TEST_F(TextPlateTest, TheSameTextThroughThePropertyKeepsTheGlyphsWhileSetTextRebuilds) {
    TextPlate* plate = Plate("same");
    Draw();
    ASSERT_TRUE(plate->TestRenderFlags(RenderColorStateValid));
    plate->SetTextProperty("same");
    EXPECT_TRUE(plate->TestRenderFlags(RenderColorStateValid));
    plate->SetText("same");
    EXPECT_FALSE(plate->TestRenderFlags(RenderColorStateValid));
    plate->SetTextProperty("a\\nb");
    EXPECT_EQ(std::string(plate->GetText()), "a\nb");
}

TEST_F(TextPlateTest, PicksHitTheBoxInSpaceAndOnTheScreen) {
    TextPlate* world = Plate("MMMM", Float3(0, 0, 10), MatrixNormal);
    world->SetAlignX(TextAlignCenterX);
    world->SetAlignY(TextAlignCenterY);
    PickQuery query;
    query.Init(PickQuery::DefaultMaxDistance, PickSolids, 0, 0);
    ASSERT_TRUE(world->IntersectRay(Float3(0, 0, 0), Float3(0, 0, 1), query));
    EXPECT_FLOAT_EQ(query.current.distance, 10.0f);
    EXPECT_FALSE(world->IntersectRay(Float3(0, 0, 0), Float3(0, 0, -1), query)); // from behind
    EXPECT_FALSE(world->IntersectRay(Float3(5, 0, 0), Float3(0, 0, 1), query));

    TextPlate* screen = Plate("MMMM", Float3(10, 10, 0));
    const auto width = screen->GetTextWidth();
    query.Init(PickQuery::DefaultMaxDistance, PickScreenObjects, 0, 0);
    for (auto [x, y, hit] : {std::tuple{11.0f, 12.0f, true},
                             {10.0f + width + 1.0f, 12.0f, false},
                             {11.0f, 8.0f, false}}) {
        query.screenPoint = Float2(x, y);
        EXPECT_EQ(screen->IntersectRay(Float3(), Float3(0, 0, 1), query), hit) << x << "," << y;
    }
}

TEST_F(TextPlateTest, HitTestLineFindsTheLineUnderARectangle) {
    TextPlate* plate = Plate("first\nsecond\nthird", Float3(10, 10, 0));
    const float height = plate->GetLineHeight();
    const float top = plate->GetOffset().y + 10.0f;
    const float wide = plate->MeasureString("second");
    struct Case {
        float x, y;
        int32_t line;
    };
    const Case cases[] = {
        {12, top + 1, 1},
        {12, top + height + 1, 2},
        {12, top + 2 * height + 1, 3},
        {10 + wide + 5, top + height + 1, 0}, // right of the second line
        {12, top + 10 * height, 0},           // clamped to the last line, below it
    };
    for (const Case& c : cases) {
        EXPECT_EQ(plate->HitTestLine(Float2(c.x, c.y), 0.5f, 0.5f), c.line) << c.y;
    }
    plate->SetLineHeight(0.0f);
    EXPECT_GE(plate->HitTestLine(Float2(12, top), 0.5f, 0.5f), 0); // no overflow on 0 height
    plate->SetMatrixMode(MatrixNormal);
    EXPECT_EQ(plate->HitTestLine(Float2(12, top + 1), 0.5f, 0.5f), 0);
}

TEST_F(TextPlateTest, LongTextsSetWrapAndDrawToTheirLastGlyph) {
    TextPlate* plate = Plate("");
    plate->SetText(std::string(4'000'000, '\n').c_str());
    EXPECT_GE(plate->GetLineCount(), 4'000'000);

    // 20,000 glyphs, the first line above the screen: only the last glyph can light a pixel,
    // and only when its indices reach past 65,535.
    const int line = plate->GetFont()->GetLineHeight();
    plate->SetPosition(Float3(4, static_cast<float>(-line), 0));
    std::string text(19'999, 'i');
    text += "\nM";
    plate->SetText(text.c_str());
    Draw();
    const Extent e = Lit();
    EXPECT_GE(e.top, 0);
    EXPECT_LT(e.bottom, line);
    EXPECT_GE(e.left, 4);
    EXPECT_LE(e.right, 4 + static_cast<int>(plate->MeasureString("M")));
    EXPECT_EQ(plate->GetRenderMesh()->GetIndexData()->GetIndexSize(), 4u);

    plate->SetPosition(Float3(4, 4, 0));
    plate->SetText(std::string(100'000, 'x').c_str());
    Draw();
    EXPECT_NE(Lit().top, -1);
}

// A text of millions of bytes is kept whole but drawn up to MaxDrawnTextBytes, cut before a
// character's bytes part; the log tells it once for each text.
TEST_F(TextPlateTest, ATextPastTheDrawnBoundIsDrawnUpToItAndToldOnce) {
    test::CapturingLogSink log;
    const size_t bound = TextPlate::MaxDrawnTextBytes;
    const std::string e = "\xC3\xA9"; // é
    struct Case {
        std::string text;
        int32_t fontFlags;
        size_t quads;
        bool told;
    };
    const Case cases[] = {
        {std::string(bound, 'x'), 0, bound, false},
        {std::string(bound - 1, 'x') + e, TextUtf8, bound - 1, true},
        {std::string(bound - 1, 'x') + e, 0, bound, true},
        {std::string(1'000'000, 'x'), 0, bound, true},
    };
    for (const Case& c : cases) {
        TextPlate* plate = Plate("");
        plate->SetFontFlags(c.fontFlags);
        plate->SetText(c.text.c_str());
        log.Clear();
        for (int frame = 0; frame < 2; ++frame) {
            plate->SetPosition(Float3(4.0f + static_cast<float>(frame), 4, 0)); // rebuilds
            Draw();
        }
        EXPECT_EQ(plate->GetText(), c.text);
        EXPECT_EQ(plate->GetRenderMesh()->GetIndexData()->GetIndexCount(), 6 * c.quads)
            << c.text.size();
        ASSERT_EQ(log.Lines().size(), c.told ? 1u : 0u) << c.text.size();
        if (c.told) {
            EXPECT_EQ(log.Lines()[0].text,
                      "TextPlate 'plate' (id " + std::to_string(plate->GetId()) +
                          "): its text of " + std::to_string(c.text.size()) +
                          " bytes is drawn up to 65536 bytes");
        }
        plate->Delete();
    }
}

// A plate's glyph buffers are counted in the scene's draw buffers: with no room left it draws
// nothing, and one line names it.
TEST_F(TextPlateTest, APlatePastTheScenesDrawBuffersDrawsNothing) {
    test::CapturingLogSink log;
    const test::ScopedValue<uint64_t> full(DrawBufferShare::SceneByteLimit,
                                           DrawBufferShare::SceneBytes());
    const TextPlate* plate = Plate("hello");
    Draw();
    EXPECT_EQ(Lit().top, -1);
    EXPECT_TRUE(
        log.Contains("TextPlate 'plate' (id " + std::to_string(plate->GetId()) + ") is not drawn"));
}

// Plates at their own bound multiply: all of them together draw at most SceneDrawnTextLimit
// bytes. A plate that would pass it draws what is left, cut before a character's bytes part, and
// says so once; a deleted plate's bytes go to the next plates rebuilt.
TEST_F(TextPlateTest, PlatesTogetherDrawAtMostTheirTotal) {
    test::CapturingLogSink log;
    test::ScopedValue<int64_t> total(TextPlate::SceneDrawnTextLimit, 100);
    // Æ: two bytes, and in the default character set, which logs no character it lacks.
    const std::string texts[] = {std::string(40, 'x'), std::string(40, 'x'),
                                 std::string(19, 'x') + "\xC3\x86yyyy", "zzzz"};
    std::vector<TextPlate*> plates;
    for (const std::string& text : texts) {
        plates.push_back(Plate(""));
        plates.back()->SetFontFlags(TextUtf8);
        plates.back()->SetText(text.c_str());
    }
    // Built in this order, twice: a frame's order is the render queue's.
    auto glyphs = [&](const std::vector<TextPlate*>& drawn) {
        for (int frame = 0; frame < 2; ++frame) {
            for (TextPlate* plate : drawn) {
                plate->SetPosition(Float3(4.0f + static_cast<float>(frame), 4, 0)); // rebuilds
                plate->UpdateRenderState();
            }
        }
        std::vector<size_t> counts;
        for (TextPlate* plate : drawn) {
            counts.push_back(plate->GetRenderMesh()->GetIndexData()->GetIndexCount() / 6);
        }
        return counts;
    };
    EXPECT_EQ(glyphs(plates), (std::vector<size_t>{40, 40, 19, 1}));
    auto told = [&](const TextPlate* plate, size_t drawn, size_t of) {
        return "TextPlate 'plate' (id " + std::to_string(plate->GetId()) + "): " +
               std::to_string(drawn) + " of its " + std::to_string(of) +
               " bytes are drawn: the text plates of the scene draw at most 100 bytes together";
    };
    ASSERT_EQ(log.Lines().size(), 2u);
    EXPECT_EQ(log.Lines()[0].text, told(plates[2], 19, 25));
    EXPECT_EQ(log.Lines()[1].text, told(plates[3], 1, 4));

    plates[0]->Delete();
    plates.erase(plates.begin());
    EXPECT_EQ(glyphs(plates), (std::vector<size_t>{40, 24, 4}));
    for (size_t i = 0; i < plates.size(); ++i) {
        EXPECT_EQ(plates[i]->GetText(), texts[i + 1]) << "the text stays whole";
    }
}

TEST(TextPlateFontTest, APointSizeChangeLoadsTheSameFileAtTheNewSize) {
    test::TempFolder temp;
    DiskFileSystem files;
    files.SetBaseFolder(temp.Path().c_str());
    FileSystem* previous = GetFileSystem();
    SetFileSystem(&files);
    std::filesystem::copy_file("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
                               temp.Join("sans.ttf"));
    {
        TextPlate plate;
        plate.SetFontName("sans.ttf");
        ASSERT_NE(plate.GetFont(), nullptr);
        EXPECT_EQ(plate.GetFont()->GetPointSize(), 18);
        plate.SetPointSize(30);
        EXPECT_EQ(plate.GetFont()->GetPointSize(), 30);
        EXPECT_EQ(std::string(plate.GetFontName()), "sans.ttf");
    }
    SetFileSystem(previous);
}

} // namespace
} // namespace quarn
