#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "device/GpuRenderDevice.h"
#include "device/ImageTexture.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/FontNew.h"
#include "resources/GlyphFont.h"
#include "resources/Texture.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/FreshProcess.h"
#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <utility>
#include <vector>

namespace quarn {
namespace {

constexpr const char* LiberationSans = "/usr/share/fonts/truetype/liberation2/"
                                       "LiberationSans-Regular.ttf";

bool IsZero(const GlyphRect& rect) {
    return rect.left == 0 && rect.top == 0 && rect.right == 0 && rect.bottom == 0;
}

bool SameRect(const GlyphRect& a, const GlyphRect& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

class FontTest : public test::ResourceDiskTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(device_.Create(0, nullptr, 64, 48)) << device_.GetErrorText();
        ResourceDiskTest::SetUp();
    }
    void TearDown() override {
        GetMainSettings().Clear();
        ResourceDiskTest::TearDown();
    }

    // The default font lives for the run: counted as registered from the start.
    FontNew* DefaultFont() {
        FontNew* font = CreateDefaultFont();
        registered_ = GetRegisteredResourceCount();
        return font;
    }

    // "fonts/liberation sans.ttf" (the face's file under its family name) at 10 points with the
    // characters "AB", written as a glyph cache; the font file is kept when asked.
    void WriteCache(bool keepFontFile) {
        temp_.WriteFile("char_set.txt", "AB");
        std::filesystem::create_directories(temp_.Join("fonts"));
        std::filesystem::copy_file(LiberationSans, temp_.Join("fonts/liberation sans.ttf"));
        FontNew* font = new FontNew("fonts/liberation sans.ttf", "_10");
        ASSERT_FALSE(font->IsFromCache());
        ASSERT_TRUE(font->SaveGlyphCache("fonts/liberation sans_10"));
        font->Release();
        if (!keepFontFile) {
            std::filesystem::remove(temp_.Join("fonts/liberation sans.ttf"));
        }
    }

    GpuRenderDevice device_{&SoftwareDevice::Create};
};

// Start-up order ------------------------------------------------------------------------------

// Whether the cache or the rasteriser makes the default font, "Texture" is registered before
// start-up registers anything else. The default font is made once in a process, and the classes
// are registered for good: both are checked in a process where nothing ran before.
void ExpectTextureRegisteredFirst() {
    ASSERT_GE(GetClassCount(), 3);
    EXPECT_STREQ(GetClassByIndex(0)->GetName(), "Texture");
    EXPECT_STREQ(GetClassByIndex(1)->GetName(), "ResourceRef");
    EXPECT_STREQ(GetClassByIndex(2)->GetName(), "Entity");
}

TEST_F(FontTest, DefaultFontLoadsFromTheEmbeddedCache) {
    test::ExpectInFreshProcess([this] {
        FontNew* font = DefaultFont();
        EXPECT_TRUE(font->IsFromCache());
        EXPECT_EQ(font->GetLineHeight(), 12);
        EXPECT_FALSE(IsZero(font->GetGlyphRect(0xE6))); // æ, from the default set
        ExpectTextureRegisteredFirst();
        FontNew* shared = AcquireResource<FontNew>("res://arial.ttf", "_8");
        EXPECT_EQ(shared, font);
        EXPECT_EQ(font->GetReferenceCount(), 2u);
        shared->Release();
    });
}

TEST_F(FontTest, DefaultFontRasterisedForALanguageRegistersTextureFirstToo) {
    test::ExpectInFreshProcess([this] {
        GetMainSettings().SetString("lang_code", "xx");
        FontNew* font = DefaultFont();
        EXPECT_FALSE(font->IsFromCache());
        EXPECT_FALSE(IsZero(font->GetGlyphRect('A')));
        ExpectTextureRegisteredFirst();
    });
}

// Glyphs ----------------------------------------------------------------------------------------

// These add glyphs to the default font, which lives for the run, up to a full texture: each runs
// in a process of its own, where the font is as start-up makes it.

TEST_F(FontTest, CodeOutsideTheCacheIsAddedOnDemand) {
    test::ExpectInFreshProcess([this] {
        FontNew* font = DefaultFont();
        const GlyphRect a = font->GetGlyphRect('A');
        const GlyphRect omega = font->GetGlyphRect(0x3A9);
        EXPECT_FALSE(IsZero(omega));
        EXPECT_TRUE(log_.Contains("added new letter to font: 937"));
        log_.Clear();
        EXPECT_TRUE(SameRect(font->GetGlyphRect(0x3A9), omega));
        EXPECT_TRUE(log_.Lines().empty());
        EXPECT_TRUE(SameRect(font->GetGlyphRect('A'), a));
    });
}

TEST_F(FontTest, FullTextureShowsQuestionMarks) {
    test::ExpectInFreshProcess([this] {
        FontNew* font = DefaultFont();
        uint32_t code = 0x410;
        for (; code < 0x700 && font->GetCursor().y != FontNew::FullTexture; ++code) {
            font->GetGlyphRect(code);
        }
        ASSERT_EQ(font->GetCursor().y, FontNew::FullTexture);
        log_.Clear();
        EXPECT_TRUE(SameRect(font->GetGlyphRect(code + 1), font->GetGlyphRect('?')));
        EXPECT_TRUE(log_.Contains("did not find letter in font (and could not add)"));
    });
}

TEST_F(FontTest, ReloadKeepsTheGlyphTableWithItsTexture) {
    test::ExpectInFreshProcess([this] {
        FontNew* font = DefaultFont();
        font->GetGlyphRect(0x3A9);
        font->Load();
        ASSERT_NE(font->GetGlyphTexture(), nullptr);
        EXPECT_FALSE(IsZero(font->GetGlyphRect('A')));
        // Dropped device data: an added glyph brings the whole set back rather than wiping it.
        font->DropDeviceData();
        EXPECT_EQ(font->GetDataSize(), 16 * (256 + font->GetExtraGlyphCount()));
        EXPECT_FALSE(IsZero(font->GetGlyphRect(0x3A3)));
        EXPECT_FALSE(IsZero(font->GetGlyphRect('A')));
    });
}

TEST_F(FontTest, OptionTextGivesSizeAndStyle) {
    for (auto [options, size, style] :
         {std::tuple{"_12bi", 12, FontBold | FontItalic}, {"_12bB", 12, FontBold | FontHeavy}}) {
        FontNew* font = new FontNew("res://arial.ttf", options);
        EXPECT_EQ(font->GetPointSize(), size) << options;
        EXPECT_EQ(font->GetStyle(), style) << options;
        EXPECT_FALSE(IsZero(font->GetGlyphRect('W'))) << options;
        font->Release();
    }
}

TEST_F(FontTest, CharacterSetFileChoosesTheGlyphs) {
    struct Case {
        const char* language;
        const char* file;
        const char* text;
        int32_t cursorX; // -1: any
        int32_t height;
    };
    const Case cases[] = {
        {"", "char_set.txt", "\n\t\r\n", 1, 1},
        {"", "char_set.txt", "AB", -1, 32},
        {"", "char_set.txt", "AABBA", -1, 32}, // a code listed twice gets one glyph
        // A Chinese set reserves rows for glyphs added later.
        {"cn", "char_set_cn.txt", "AB", -1, 256},
    };
    int32_t cursorOfAB = 0;
    for (const Case& c : cases) {
        GetMainSettings().SetString("lang_code", c.language);
        temp_.WriteFile(c.file, c.text);
        FontNew* font = new FontNew("res://arial.ttf", "_9");
        EXPECT_EQ(font->GetGlyphTexture()->GetSize().y, c.height) << c.text;
        if (c.cursorX >= 0) {
            EXPECT_EQ(font->GetCursor().x, c.cursorX) << c.text;
            EXPECT_TRUE(IsZero(font->GetGlyphRect(' '))) << c.text;
        } else if (cursorOfAB == 0) {
            cursorOfAB = font->GetCursor().x;
        } else {
            EXPECT_EQ(font->GetCursor().x, cursorOfAB) << c.text;
        }
        font->Release();
        std::filesystem::remove(temp_.Join(c.file));
    }
}

// A code below 256 is never added on demand: one outside the character set draws as nothing,
// and the log names it once for the font; a set that lists it draws it.
TEST_F(FontTest, ACharacterOutsideTheSetDrawsNothingAndTheLogNamesItOnce) {
    FontNew* font = new FontNew("res://arial.ttf", "_9");
    log_.Clear();
    for (uint32_t code : {0xE9u, 0xE9u, 0xA9u, 0xC6u, 0x0Au, 0x85u, uint32_t('A')}) {
        font->GetGlyphRect(code);
    }
    EXPECT_TRUE(IsZero(font->GetGlyphRect(0xE9)));
    ASSERT_EQ(log_.Lines().size(), 2u);
    EXPECT_EQ(log_.Lines()[0].text,
              "Font 'res://arial.ttf_9' has no glyph for U+00E9 ('\xC3\xA9'): a character outside "
              "its character set is not drawn; list it in the game's char_set.txt");
    EXPECT_NE(log_.Lines()[1].text.find("U+00A9 ('\xC2\xA9')"), std::string::npos);
    font->Release();

    temp_.WriteFile("char_set.txt", "A\xC3\xA9");
    font = new FontNew("res://arial.ttf", "_9");
    log_.Clear();
    EXPECT_FALSE(IsZero(font->GetGlyphRect(0xE9)));
    font->GetGlyphRect('B');
    EXPECT_TRUE(log_.Contains("U+0042 ('B')"));
    font->Release();
}

// Glyph caches ----------------------------------------------------------------------------------

TEST_F(FontTest, CacheIsUsedWhenNewerThanTheCharacterSetOrWithoutTheFontFile) {
    for (auto [cacheTime, fontFile, fromCache] :
         {std::tuple{1000, true, false}, {3000, true, true}, {1000, false, true}}) {
        WriteCache(fontFile);
        SetFileTime("char_set.txt", 2000);
        SetFileTime("fonts/liberation sans_10.png", cacheTime);
        FontNew* font = new FontNew("fonts/liberation sans.ttf", "_10");
        EXPECT_EQ(font->IsFromCache(), fromCache) << cacheTime << " " << fontFile;
        font->Release();
        std::filesystem::remove_all(temp_.Join("fonts"));
    }
}

TEST_F(FontTest, CacheRoundTripKeepsRectanglesMetricsAndPixels) {
    WriteCache(true);
    SetFileTime("char_set.txt", 2000);
    SetFileTime("fonts/liberation sans_10.png", 1000);
    FontNew* rasterised = new FontNew("fonts/liberation sans.ttf", "_10");
    ASSERT_FALSE(rasterised->IsFromCache());
    SetFileTime("fonts/liberation sans_10.png", 3000);
    FontNew* cached = new FontNew("fonts/liberation sans.ttf", "_10");
    ASSERT_TRUE(cached->IsFromCache());
    EXPECT_EQ((std::pair{cached->GetLineHeight(), cached->GetAscent()}),
              (std::pair{rasterised->GetLineHeight(), rasterised->GetAscent()}));
    for (uint32_t code : {uint32_t('A'), uint32_t('B'), uint32_t('C')}) {
        EXPECT_TRUE(SameRect(cached->GetGlyphRect(code), rasterised->GetGlyphRect(code))) << code;
    }
    DeviceTexture* a = cached->GetGlyphTexture();
    DeviceTexture* b = rasterised->GetGlyphTexture();
    ASSERT_TRUE(a->GetSize() == b->GetSize());
    a->Lock(TextureLockRead, 0);
    b->Lock(TextureLockRead, 0);
    int differing = 0;
    for (int32_t y = 0; y < a->GetSize().y; ++y) {
        for (int32_t x = 0; x < a->GetSize().x; ++x) {
            differing += a->GetPixel(x, y) != b->GetPixel(x, y);
        }
    }
    EXPECT_EQ(differing, 0);
    cached->Release();
    rasterised->Release();
}

TEST_F(FontTest, ADamagedFontFileSaysTheFallbackFontIsUsed) {
    temp_.WriteFile("fonts/broken.ttf", std::string("\0\1\0\0not a font", 14));
    log_.Clear();
    FontNew* font = new FontNew("fonts/broken.ttf", "_10");
    EXPECT_TRUE(log_.Contains("Font file 'fonts/broken.ttf' cannot be read; the fallback font for "
                              "'broken' is used instead"));
    EXPECT_FALSE(IsZero(font->GetGlyphRect('A')));
    font->Release();
}

// Liberation Sans with its family renamed, so that only a registered copy can match it.
std::string RenamedFontFile() {
    std::ifstream in(LiberationSans, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string from = "Liberation Sans", to = "Quarnation Sans";
    std::string wideFrom, wideTo;
    for (size_t i = 0; i < from.size(); ++i) {
        wideFrom += std::string(1, '\0') + from[i];
        wideTo += std::string(1, '\0') + to[i];
    }
    for (const auto& [a, b] : {std::pair{from, to}, std::pair{wideFrom, wideTo}}) {
        for (size_t at = bytes.find(a); at != std::string::npos; at = bytes.find(a, at)) {
            bytes.replace(at, a.size(), b);
        }
    }
    return bytes;
}

class FontFilesTest : public test::WithOpenWays<FontTest> {};

// A font is opened as every game file is: a pipe, a device or a loop of links is left out with
// a line, and never waited on (each of these held the load for good), while the fonts of a
// folder and the folders below it are registered and found by their family names. Held to the
// game, as the player holds it, a link out of the game is left out with its reason; the user's
// reach follows it to what it names. Either way the line is the same on every kernel.
TEST_P(FontFilesTest, AreOpenedAsGameFilesAndFontFoldersWalkedOnce) {
    namespace fs = std::filesystem;
    fs::create_directories(temp_.Join("fonts/sub"));
    ASSERT_EQ(mkfifo(temp_.Join("pipe.ttf").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(temp_.Join("fonts/sub/pipe.ttf").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", temp_.Join("null.ttf"));
    fs::create_symlink("pipe.ttf", temp_.Join("piped.ttf"));
    fs::create_symlink("../outside.ttf", temp_.Join("climbing.ttf"));
    fs::create_symlink("looping.ttf", temp_.Join("looping.ttf"));
    fs::create_symlink(".", temp_.Join("fonts/a"));
    fs::create_symlink("..", temp_.Join("fonts/sub/up"));
    temp_.WriteFile("fonts/sub/Quarnation Sans.ttf", RenamedFontFile());
    temp_.WriteFile("fonts/sub/notes.txt", "not a font");
    const test::TempFolder outside;
    fs::create_symlink(outside.Path(), temp_.Join("away"));
    outside.WriteFile("broken.ttf", "no font");
    const std::string fallback = "; the fallback font for '";
    const std::string notAFile = "is left out: it is no regular file" + fallback;
    const std::string leadsOut = "is left out: it leads outside the game's folder and user://" +
                                 fallback;
    const struct {
        const char* path;
        std::vector<std::string> held;
        std::optional<std::vector<std::string>> user; // where it differs
    } cases[] = {
        {"pipe.ttf", {"Font file 'pipe.ttf' " + notAFile + "pipe' is used instead"}, {}},
        {"piped.ttf", {"Font file 'piped.ttf' " + notAFile + "piped' is used instead"}, {}},
        // Missing in the user's reach: a face name, not a file.
        {"null.ttf",
         {"Font file 'null.ttf' " + leadsOut + "null' is used instead"},
         std::vector<std::string>{"Font file 'null.ttf' " + notAFile + "null' is used instead"}},
        {"climbing.ttf",
         {"Font file 'climbing.ttf' " + leadsOut + "climbing' is used instead"},
         std::vector<std::string>()},
        {"away/broken.ttf",
         {"Font file 'away/broken.ttf' " + leadsOut + "broken' is used instead"},
         std::vector<std::string>{"Font file 'away/broken.ttf' cannot be read" + fallback +
                                  "broken' is used instead"}},
        {"looping.ttf",
         {"Font file 'looping.ttf' is left out: " + std::string(std::strerror(ELOOP)) +
          fallback + "looping' is used instead"},
         {}},
        {"fonts",
         {"Font folder 'fonts/a/' is left out: a link leads back to a folder walked already",
          "Font file 'fonts/sub/pipe.ttf' is left out: it is no regular file",
          "Font folder 'fonts/sub/up/' is left out: a link leads back to a folder walked "
          "already"},
         {}},
    };
    for (const bool held : {true, false}) {
        const GameReachHold hold(held);
        for (const auto& [path, heldLines, userLines] : cases) {
            log_.Clear();
            FontNew* font = new FontNew(path, "_10");
            std::vector<std::string> logged;
            for (const auto& line : log_.Lines()) {
                logged.push_back(line.text);
            }
            EXPECT_EQ(logged, held || !userLines ? heldLines : *userLines)
                << path << (held ? ", held to the game" : ", in the user's reach");
            EXPECT_FALSE(IsZero(font->GetGlyphRect('A'))) << path;
            font->Release();
        }
    }
    GlyphFontRequest request;
    request.face = "Quarnation Sans";
    request.height = -12;
    const std::unique_ptr<GlyphFont> found = GlyphFont::Create(request);
    ASSERT_NE(found, nullptr);
    EXPECT_TRUE(found->GetFile().starts_with("/proc/self/fd/")) << found->GetFile();
}

QUARN_BOTH_OPEN_WAYS(FontFilesTest);

TEST_F(FontTest, DamagedCacheTableIsRasterisedInstead) {
    // Where four bytes go (0 cuts the file to 4000 bytes), and what.
    const std::tuple<const char*, size_t, uint32_t> cases[] = {
        {"short", 0, 0},
        {"count past the end", 4108, 1000},
        {"NaN rectangle", 16 * 'A', 0x7FC00000},
        {"negative line height", 4096, 0xFFFFFFFB},
    };
    for (const auto& [damage, offset, word] : cases) {
        WriteCache(false);
        std::string table = temp_.ReadFile("fonts/liberation sans_10.dat");
        if (offset == 0) {
            table.resize(4000);
        } else {
            std::memcpy(&table[offset], &word, 4);
        }
        temp_.WriteFile("fonts/liberation sans_10.dat", table);
        log_.Clear();
        FontNew* font = new FontNew("fonts/liberation sans.ttf", "_10");
        EXPECT_FALSE(font->IsFromCache()) << damage;
        EXPECT_TRUE(log_.Contains("Glyph cache 'fonts/liberation sans_10.dat'")) << damage;
        EXPECT_FALSE(IsZero(font->GetGlyphRect('A'))) << damage;
        font->Release();
        std::filesystem::remove_all(temp_.Join("fonts"));
    }
}

} // namespace
} // namespace quarn
