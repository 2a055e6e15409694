#include "gpu/software/SoftwareDevice.h"

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

class WindowPresent : public ::testing::Test {
protected:
    void SetUp() override {
        // No display is needed or wanted.
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        // The plain framebuffer: an accelerated one would load a GL driver for nothing.
        SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
        ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
        window_ = SDL_CreateWindow("present", 0, 0, 8, 6, SDL_WINDOW_RESIZABLE);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
    }

    void TearDown() override {
        if (window_ != nullptr) {
            SDL_DestroyWindow(window_);
        }
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }

    std::unique_ptr<SoftwareDevice> MakeDevice(GpuFormat format = GpuFormat::X8R8G8B8) {
        GpuPresentParameters p;
        p.backBufferWidth = 8;
        p.backBufferHeight = 6;
        p.backBufferFormat = format;
        p.window = window_;
        return SoftwareDevice::Create(p);
    }

    // The window's pixel at (x, y) as 0xRRGGBB, whatever its surface format.
    uint32_t WindowPixel(int x, int y) {
        SDL_Surface* surface = SDL_GetWindowSurface(window_);
        EXPECT_NE(surface, nullptr);
        if (surface == nullptr || x >= surface->w || y >= surface->h) {
            return 0xDEADBEEF;
        }
        const int bytes = surface->format->BytesPerPixel;
        uint32_t raw = 0;
        std::memcpy(&raw,
                    static_cast<const uint8_t*>(surface->pixels) + y * surface->pitch + x * bytes,
                    static_cast<size_t>(bytes));
        uint8_t r = 0, g = 0, b = 0;
        SDL_GetRGB(raw, surface->format, &r, &g, &b);
        return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
    }

    SDL_Window* window_ = nullptr;
};

TEST_F(WindowPresent, ShowsTheClearedBackBufferInTheWindow) {
    auto device = MakeDevice();
    device->Clear({}, GpuClearTarget, 0xFF3060C0, 1.0f, 0);
    ASSERT_EQ(device->Present(nullptr, nullptr), GpuResult::Ok);
    EXPECT_EQ(WindowPixel(0, 0), 0x3060C0u);
    EXPECT_EQ(WindowPixel(7, 5), 0x3060C0u);
}

TEST_F(WindowPresent, TranslucentBackBufferAlphaIsCopiedNotBlended) {
    auto device = MakeDevice(GpuFormat::A8R8G8B8);
    device->Clear({}, GpuClearTarget, 0xFFFFFFFF, 1.0f, 0);
    device->Present(nullptr, nullptr);
    device->Clear({}, GpuClearTarget, 0x00204080, 1.0f, 0);
    device->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixel(3, 3), 0x204080u);
}

TEST_F(WindowPresent, SixteenBitBackBuffersAreConverted) {
    auto device = MakeDevice(GpuFormat::R5G6B5);
    device->Clear({}, GpuClearTarget, 0xFFFF0000, 1.0f, 0);
    device->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixel(4, 2), 0xFF0000u);
}

TEST_F(WindowPresent, SourceAndDestRectsPlaceAPartOfTheFrame) {
    auto device = MakeDevice();
    device->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
    device->Present(nullptr, nullptr);
    const GpuRect left{0, 0, 4, 6};
    device->Clear(std::span(&left, 1), GpuClearTarget, 0xFF00FF00, 1.0f, 0);
    const GpuRect source{0, 0, 2, 2};
    const GpuRect dest{6, 4, 8, 6};
    device->Present(&source, &dest);
    EXPECT_EQ(WindowPixel(6, 4), 0x00FF00u);
    EXPECT_EQ(WindowPixel(7, 5), 0x00FF00u);
    EXPECT_EQ(WindowPixel(0, 0), 0x000000u); // outside dest: the earlier frame stays
    // Broken rects copy nothing rather than read outside the back buffer.
    const GpuRect outside{100, 100, -100, -100};
    EXPECT_EQ(device->Present(&outside, nullptr), GpuResult::Ok);
    const GpuRect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    EXPECT_EQ(device->Present(nullptr, &huge), GpuResult::Ok);
}

TEST_F(WindowPresent, AResizedWindowShowsTheWholeFrameStretched) {
    auto device = MakeDevice();
    const GpuRect corner{7, 5, 8, 6};
    device->Clear({}, GpuClearTarget, 0xFF000080, 1.0f, 0);
    device->Clear(std::span(&corner, 1), GpuClearTarget, 0xFFFFFF00, 1.0f, 0);
    SDL_SetWindowSize(window_, 16, 12);
    SDL_PumpEvents();
    device->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixel(15, 11), 0xFFFF00u);
    EXPECT_EQ(WindowPixel(14, 10), 0xFFFF00u);
    EXPECT_EQ(WindowPixel(13, 9), 0x000080u);
}

TEST_F(WindowPresent, ALostDeviceShowsNothing) {
    auto device = MakeDevice();
    device->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
    device->Present(nullptr, nullptr);
    device->Clear({}, GpuClearTarget, 0xFFFFFFFF, 1.0f, 0);
    device->LoseDevice();
    EXPECT_EQ(device->Present(nullptr, nullptr), GpuResult::DeviceLost);
    EXPECT_EQ(WindowPixel(0, 0), 0x000000u);
}

} // namespace
} // namespace quarn
