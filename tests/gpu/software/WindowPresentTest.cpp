#include "gpu/software/SoftwareDevice.h"

#include <SDL.h>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

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
        return SoftwareDevice::Create({.backBufferWidth = 8,
                                       .backBufferHeight = 6,
                                       .backBufferFormat = format,
                                       .window = window_});
    }

    // The window's pixels at the points as 0xRRGGBB, whatever its surface format.
    std::vector<uint32_t> WindowPixels(std::initializer_list<std::pair<int, int>> points) {
        SDL_Surface* surface = SDL_GetWindowSurface(window_);
        EXPECT_NE(surface, nullptr);
        std::vector<uint32_t> pixels;
        for (auto [x, y] : points) {
            if (surface == nullptr || x >= surface->w || y >= surface->h) {
                pixels.push_back(0xDEADBEEF);
                continue;
            }
            const int bytes = surface->format->BytesPerPixel;
            uint32_t raw = 0;
            std::memcpy(
                &raw, static_cast<const uint8_t*>(surface->pixels) + y * surface->pitch + x * bytes,
                static_cast<size_t>(bytes));
            uint8_t r = 0, g = 0, b = 0;
            SDL_GetRGB(raw, surface->format, &r, &g, &b);
            pixels.push_back(uint32_t(r) << 16 | uint32_t(g) << 8 | b);
        }
        return pixels;
    }

    SDL_Window* window_ = nullptr;
};

using Pixels = std::vector<uint32_t>;

TEST_F(WindowPresent, ShowsTheBackBufferInTheWindowCopyingAlphaAndConvertingSixteenBits) {
    auto device = MakeDevice();
    device->Clear({}, GpuClearTarget, 0xFF3060C0, 1.0f, 0);
    ASSERT_EQ(device->Present(nullptr, nullptr), GpuResult::Ok);
    EXPECT_EQ(WindowPixels({{0, 0}, {7, 5}}), (Pixels{0x3060C0, 0x3060C0}));
    // Translucent back-buffer alpha is copied, not blended over the earlier frame.
    auto translucent = MakeDevice(GpuFormat::A8R8G8B8);
    translucent->Clear({}, GpuClearTarget, 0xFFFFFFFF, 1.0f, 0);
    translucent->Present(nullptr, nullptr);
    translucent->Clear({}, GpuClearTarget, 0x00204080, 1.0f, 0);
    translucent->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixels({{3, 3}}), Pixels{0x204080});
    auto sixteen = MakeDevice(GpuFormat::R5G6B5);
    sixteen->Clear({}, GpuClearTarget, 0xFFFF0000, 1.0f, 0);
    sixteen->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixels({{4, 2}}), Pixels{0xFF0000});
}

TEST_F(WindowPresent, SourceAndDestRectsPlaceAPartOfTheFrameAndBrokenOnesCopyNothing) {
    auto device = MakeDevice();
    device->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
    device->Present(nullptr, nullptr);
    const GpuRect left{0, 0, 4, 6};
    device->Clear(std::span(&left, 1), GpuClearTarget, 0xFF00FF00, 1.0f, 0);
    const GpuRect source{0, 0, 2, 2};
    const GpuRect dest{6, 4, 8, 6};
    device->Present(&source, &dest);
    // Outside dest the earlier frame stays.
    EXPECT_EQ(WindowPixels({{6, 4}, {7, 5}, {0, 0}}), (Pixels{0x00FF00, 0x00FF00, 0}));
    // Broken rects copy nothing rather than read outside the back buffer.
    const GpuRect outside{100, 100, -100, -100};
    EXPECT_EQ(device->Present(&outside, nullptr), GpuResult::Ok);
    const GpuRect huge{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX};
    EXPECT_EQ(device->Present(nullptr, &huge), GpuResult::Ok);
}

TEST_F(WindowPresent, AResizedWindowShowsTheWholeFrameStretchedAndALostDeviceNothing) {
    auto device = MakeDevice();
    const GpuRect corner{7, 5, 8, 6};
    device->Clear({}, GpuClearTarget, 0xFF000080, 1.0f, 0);
    device->Clear(std::span(&corner, 1), GpuClearTarget, 0xFFFFFF00, 1.0f, 0);
    SDL_SetWindowSize(window_, 16, 12);
    SDL_PumpEvents();
    device->Present(nullptr, nullptr);
    EXPECT_EQ(WindowPixels({{15, 11}, {14, 10}, {13, 9}}), (Pixels{0xFFFF00, 0xFFFF00, 0x000080}));
    device->Clear({}, GpuClearTarget, 0xFFFFFFFF, 1.0f, 0);
    device->LoseDevice();
    EXPECT_EQ(device->Present(nullptr, nullptr), GpuResult::DeviceLost);
    EXPECT_EQ(WindowPixels({{0, 0}}), Pixels{0x000080});
}

} // namespace
} // namespace quarn
