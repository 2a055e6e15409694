// DDS files through the device texture's loader on the software device: whatever the header
// claims, a load either builds a texture whose levels can be read or fails and leaves none.
#include "device/DeviceTexture.h"
#include "gpu/software/SoftwareDevice.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t position = 0;

    static uint32_t Read(void* destination, uint32_t count, void* self) {
        auto* input = static_cast<Input*>(self);
        const size_t n = std::min<size_t>(count, input->size - input->position);
        std::memcpy(destination, input->data + input->position, n);
        input->position += n;
        return static_cast<uint32_t>(n);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<quarn::SoftwareDevice> device = [] {
        quarn::GpuPresentParameters parameters;
        parameters.backBufferWidth = 8;
        parameters.backBufferHeight = 8;
        return quarn::SoftwareDevice::Create(parameters);
    }();
    if (!device) {
        std::abort();
    }
    quarn::DeviceTexture texture(*device);
    Input input{data, size};
    if (!texture.LoadDDS(&Input::Read, &input)) {
        if (texture.GetGpuTexture() != nullptr) {
            std::abort(); // a failed load leaves no texture behind
        }
        return 0;
    }
    // Every level the texture claims can be locked and read.
    for (int level = 0; level < texture.GetLevelCount(); ++level) {
        if (texture.Lock(quarn::TextureLockRead, level)) {
            texture.GetPixel(0, 0);
            texture.Lock(quarn::TextureUnlocked, level);
        }
    }
    return 0;
}
