#include "app/player/Screenshot.h"

#include "app/input/Keyboard.h"
#include "core/filesystem/FileSystem.h"
#include "core/string/Text.h"
#include "device/DeviceTexture.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace quarn {
namespace {

using Screenshots = test::PlayerTest;

constexpr int32_t F11 = 20;

// A 24-bit bottom-up BMP read by hand, so the engine's own decoder cannot hide a fault in the
// writer: its size and its pixels as 0xRRGGBB, top row first. Empty when the file is no such
// picture.
struct Bitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
};

Bitmap ReadBitmap(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    auto word = [&](size_t at) {
        return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | uint32_t(bytes[at + 3]) << 24;
    };
    Bitmap bitmap;
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M' || (word(28) & 0xFFFF) != 24) {
        return bitmap;
    }
    const uint32_t offset = word(10);
    bitmap.width = static_cast<int32_t>(word(18));
    bitmap.height = static_cast<int32_t>(word(22));
    const size_t stride = (size_t(bitmap.width) * 3 + 3) & ~size_t(3);
    if (bytes.size() < offset + stride * size_t(bitmap.height)) {
        return {};
    }
    for (int32_t y = 0; y < bitmap.height; ++y) {
        const uint8_t* row = &bytes[offset + stride * size_t(bitmap.height - 1 - y)];
        for (int32_t x = 0; x < bitmap.width; ++x) {
            const uint8_t* p = row + x * 3;
            bitmap.pixels.push_back(uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
        }
    }
    return bitmap;
}

// A scene whose frame is not one colour: a sprite over the camera's clear.
const char* const SpriteScene =
    "version = 44\nnum_nodes = 4\nobj1 {\n\tclass = \"Node\"\n\tflags = 1\n}\n"
    "obj2 {\n\tclass = \"Camera\"\n\tparent = 1\n}\n"
    "obj3 {\n\tclass = \"RenderTarget\"\n\tparent = 1\n\tprev = 2\n\tcurrentcamera = 2\n"
    "\tclearcolor = 0xFF203040\n}\n"
    "obj4 {\n\tclass = \"Sprite\"\n\tparent = 1\n\tprev = 3\n\tpos = 1,0,8\n}\n";

class ScreenshotRun : public Screenshots {
protected:
    // The editor on the sprite scene in a window of the given view size.
    void StartWith(Int2 view, EngineSetup setup = {}) {
        const std::string root = setup.resourceRoot.empty() ? "" : setup.resourceRoot + "/";
        folder.WriteFile("data/Quarn/init.txt",
                         StringFormat("editor_windowsize = \"%d,%d\"\n", view.x, view.y));
        if (root.empty()) {
            folder.WriteFile("config.txt", "autorun = \"level.scene\"\n");
            folder.WriteFile("level.scene", SpriteScene);
        } else {
            std::filesystem::create_directories(root);
            std::ofstream(root + "config.txt") << "autorun = \"level.scene\"\n";
            std::ofstream(root + "level.scene") << SpriteScene;
        }
        ASSERT_TRUE(StartEditor(setup));
    }
    bool PressF11() {
        Sdl().InjectKey(F11, true);
        const bool running = Step();
        Sdl().InjectKey(F11, false);
        return running && Step();
    }
};

FRESH_PROCESS_TEST_F(ScreenshotRun, F11WritesTheViewRegionOfTheBackBufferAsTheNextNumberedBitmap) {
    StartWith({96, 64});
    const uint32_t presented = TheRenderDevice()->GetFrameCount();
    ASSERT_TRUE(PressF11());
    EXPECT_EQ(TheRenderDevice()->GetFrameCount(), presented + 2);
    const std::string first = folder.Join("Screenshots/screenshot0001.bmp");
    EXPECT_TRUE(log.Contains("Screenshot saved as ./Screenshots/screenshot0001.bmp"));
    const Bitmap bitmap = ReadBitmap(first);
    const Int2 view = GetPlatform()->GetViewSize();
    ASSERT_EQ(Int2(bitmap.width, bitmap.height), view);
    std::set<uint32_t> colours;
    for (int32_t y = 0; y < view.y; ++y) {
        for (int32_t x = 0; x < view.x; ++x) {
            const uint32_t expected = Pixel(uint32_t(x), uint32_t(y)) & 0xFFFFFF;
            ASSERT_EQ(bitmap.pixels[size_t(y * view.x + x)], expected) << x << "," << y;
            colours.insert(expected);
        }
    }
    EXPECT_GT(colours.size(), 1u); // a blank picture would prove nothing

    // The lowest free number comes back once its file is gone.
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::exists(folder.Join("Screenshots/screenshot0002.bmp")));
    std::filesystem::remove(first);
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::exists(first));
}

FRESH_PROCESS_TEST_F(ScreenshotRun, LandsBelowTheBaseFolderNotTheCurrentOne) {
    EngineSetup setup;
    setup.resourceRoot = folder.Join("game");
    StartWith({32, 32}, setup);
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::exists(folder.Join("game/Screenshots/screenshot0001.bmp")));
    EXPECT_FALSE(std::filesystem::exists(folder.Join("Screenshots")));
}

// F11 is the user's, but where it writes is the game's to say only inside the game: a base
// folder the game's "resource_path" moves out of it, next to it or anywhere on the disk, gives
// way to the game's own folder.
FRESH_PROCESS_TEST_F(ScreenshotRun, LandsInsideTheGameWhereverItsResourcePathLeads) {
    folder.WriteFile("launcher/config.txt", "resource_path = \"../game/\"\n");
    folder.WriteFile("game/level.scene", SpriteScene);
    ASSERT_EQ(chdir(folder.Join("launcher").c_str()), 0);
    ASSERT_TRUE(StartEditor());
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::exists(folder.Join("launcher/Screenshots/screenshot0001.bmp")))
        << LogText();
    EXPECT_TRUE(log.Contains("Screenshot saved as " + folder.Join("launcher/Screenshots/")))
        << LogText();
    EXPECT_FALSE(std::filesystem::exists(folder.Join("game/Screenshots")));
}

FRESH_PROCESS_TEST_F(ScreenshotRun, LandsInsideTheGameWhenItsResourcePathIsAnAbsoluteFolder) {
    std::filesystem::create_directories(folder.Join("elsewhere"));
    folder.WriteFile("launcher/config.txt",
                     "resource_path = \"" + folder.Join("elsewhere/") + "\"\n");
    ASSERT_EQ(chdir(folder.Join("launcher").c_str()), 0);
    ASSERT_TRUE(StartEditor());
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::exists(folder.Join("launcher/Screenshots/screenshot0001.bmp")))
        << LogText();
    EXPECT_FALSE(std::filesystem::exists(folder.Join("elsewhere/Screenshots")));
}

// A game that ships its "Screenshots" as a link out of its folder gets no picture there, nor
// anywhere else, and the log says why.
FRESH_PROCESS_TEST_F(ScreenshotRun, AScreenshotsLinkLeadingOutOfTheGameIsRefused) {
    std::filesystem::create_directories(folder.Join("outside"));
    folder.WriteFile("launcher/config.txt", "");
    std::filesystem::create_symlink("../outside", folder.Join("launcher/Screenshots"));
    ASSERT_EQ(chdir(folder.Join("launcher").c_str()), 0);
    ASSERT_TRUE(StartEditor());
    ASSERT_TRUE(PressF11());
    EXPECT_TRUE(std::filesystem::is_empty(folder.Join("outside")));
    EXPECT_TRUE(log.Contains("Screenshot failed: the game's Screenshots folder leads outside"))
        << LogText();
}

FRESH_PROCESS_TEST_F(ScreenshotRun, AViewLargerThanTheBackBufferWritesTheBackBuffersSize) {
    // A device that made a smaller back buffer than it was asked for.
    EngineSetup setup;
    setup.makeGpu = [](GpuPresentParameters parameters, const GpuCaps& caps,
                       const GpuDisplayMode& mode) -> std::unique_ptr<GpuDevice> {
        parameters.backBufferWidth = 40;
        parameters.backBufferHeight = 30;
        return SoftwareDevice::Create(parameters, caps, mode);
    };
    StartWith({64, 48}, setup);
    ASSERT_EQ(TheRenderDevice()->GetBackBuffer()->GetSize(), Int2(40, 30));
    ASSERT_TRUE(PressF11());
    const Bitmap bitmap = ReadBitmap(folder.Join("Screenshots/screenshot0001.bmp"));
    EXPECT_EQ(bitmap.width, 40);
    EXPECT_EQ(bitmap.height, 30);
}

FRESH_PROCESS_TEST_F(Screenshots, F11InThePlayerWritesNothing) {
    folder.WriteFile("config.txt", "screenshot = \"true\"\n");
    ASSERT_TRUE(Start());
    Sdl().InjectKey(F11, true);
    ASSERT_TRUE(Step());
    EXPECT_FALSE(std::filesystem::exists(folder.Join("Screenshots")));
    EXPECT_FALSE(log.Contains("Screenshot"));
}

FRESH_PROCESS_TEST_F(Screenshots, NumbersPastFourDigitsTakeAsManyAsTheyNeed) {
    folder.WriteFile("config.txt", "");
    ASSERT_TRUE(StartEditor());
    for (int32_t number = 1; number <= 9999; ++number) {
        folder.WriteFile(StringFormat("Screenshots/screenshot%04d.bmp", number), "");
    }
    EXPECT_EQ(NextScreenshotPath("bmp"), "./Screenshots/screenshot10000.bmp");
    SetScreenshotFolder("shots");
    EXPECT_EQ(NextScreenshotPath("png"), "shots/Screenshots/screenshot0001.png");
}

TEST(Screenshot, WithoutABackBufferOnlyLogs) {
    test::CapturingLogSink log;
    ASSERT_EQ(TheRenderDevice(), nullptr);
    TakeScreenshot("bmp");
    EXPECT_TRUE(log.Contains("Screenshort failed - could not retrieve back-buffer."));
}

} // namespace
} // namespace quarn
