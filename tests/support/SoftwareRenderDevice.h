#pragma once

// A render device on the software GPU layer, headless, for tests that draw and read pixels back;
// Gpu() is the SoftwareDevice, for loss injection.

#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace quarn::test {

inline uint32_t BackBufferPixel(GpuRenderDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.Gpu()->GetBackBuffer())->ReadArgb(x, y);
}

// The device (windowed, with depth and stencil, a 64 x 48 back buffer on a 96 x 80 display) and
// the frame bracket a test draws in.
class SoftwareFrames {
protected:
    SoftwareFrames() { NewDevice(); }

    // Replaces the device with a new one; what the old one made must be gone.
    void NewDevice() {
        GpuDisplayMode display;
        display.width = 96;
        display.height = 80;
        device_ = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, GpuCaps{}, display);
        EXPECT_TRUE(
            device_->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, Width, Height))
            << device_->GetErrorText();
    }

    void BeginFrame(uint32_t background = 0xFF000000) {
        ASSERT_TRUE(device_->BeginScene());
        device_->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, background);
    }

    void EndFrame() {
        device_->EndScene();
        device_->Present();
    }

    uint32_t Pixel(uint32_t x, uint32_t y) { return BackBufferPixel(*device_, x, y); }

    std::vector<uint32_t> Image() {
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < Height; ++y) {
            for (uint32_t x = 0; x < Width; ++x) {
                pixels.push_back(Pixel(x, y));
            }
        }
        return pixels;
    }

    static constexpr int32_t Width = 64;
    static constexpr int32_t Height = 48;
    std::unique_ptr<GpuRenderDevice> device_;
};

} // namespace quarn::test
