#pragma once

// A render device on the software GPU layer, headless, for tests that draw and read pixels back;
// Gpu() is the SoftwareDevice, for loss injection.

#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"

#include <gtest/gtest.h>
#include <memory>

namespace quarn::test {

// Windowed, with depth and stencil, a 64 x 48 back buffer on a 96 x 80 display.
inline std::unique_ptr<GpuRenderDevice> MakeSoftwareRenderDevice() {
    GpuDisplayMode display;
    display.width = 96;
    display.height = 80;
    auto device = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, GpuCaps{}, display);
    EXPECT_TRUE(device->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, 64, 48))
        << device->GetErrorText();
    return device;
}

inline uint32_t BackBufferPixel(GpuRenderDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.Gpu()->GetBackBuffer())->ReadArgb(x, y);
}

} // namespace quarn::test
