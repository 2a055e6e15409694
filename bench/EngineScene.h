#pragma once

// What the benchmarks that draw whole scenes share: the engine's render device on its software
// layer, and nodes made and placed in code.

#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace quarn::bench {

// Headless, with depth and stencil; a device that cannot be made ends the benchmark.
inline std::unique_ptr<GpuRenderDevice> MakeSceneDevice(uint32_t width, uint32_t height) {
    GpuDisplayMode display;
    display.width = width;
    display.height = height;
    auto device = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, GpuCaps{}, display);
    if (!device->Create(DeviceDepthStencil, nullptr, int32_t(width), int32_t(height))) {
        std::fprintf(stderr, "the engine's device failed: %s\n", device->GetErrorText().c_str());
        std::exit(1);
    }
    return device;
}

// A node of the class, its class registered first, last under `parent` when there is one.
template <class T>
T* MakeNode(Node* parent) {
    auto* node = static_cast<T*>(T::RegisterClass()->CreateInstance());
    if (parent) {
        node->AttachAsLast(parent);
    }
    return node;
}

} // namespace quarn::bench
