#pragma once

// A render device on the software GPU layer, headless, for tests that draw and read pixels back.

#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"

#include <gtest/gtest.h>
#include <memory>

namespace quarn::test {

// The software device's factory, noting the device it made in *made (when given) so that the
// test reaches what the render device does not offer: loss injection and the back buffer.
inline GpuDeviceFactory SoftwareFactory(SoftwareDevice** made = nullptr) {
    return [made](const GpuPresentParameters& parameters, const GpuCaps& caps,
                  const GpuDisplayMode& mode) -> std::unique_ptr<GpuDevice> {
        std::unique_ptr<SoftwareDevice> device = SoftwareDevice::Create(parameters, caps, mode);
        if (made != nullptr) {
            *made = device.get();
        }
        return device;
    };
}

// Windowed, with depth and stencil, a width x height back buffer on a 96 x 80 display.
inline std::unique_ptr<GpuRenderDevice> MakeSoftwareRenderDevice(int32_t width = 64,
                                                                 int32_t height = 48) {
    GpuDisplayMode display;
    display.width = 96;
    display.height = 80;
    auto device = std::make_unique<GpuRenderDevice>(SoftwareFactory(), GpuCaps{}, display);
    EXPECT_TRUE(device->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, width, height))
        << device->GetErrorText();
    return device;
}

inline uint32_t BackBufferPixel(GpuRenderDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.Gpu()->GetBackBuffer())->ReadArgb(x, y);
}

} // namespace quarn::test
