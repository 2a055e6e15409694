#pragma once

// A recorded set of state changes. It captures exactly the states set while recording (the
// last value of each) and sets them again, in a fixed order, when applied.

#include "gpu/GpuState.h"

#include <bitset>
#include <memory>

namespace quarn {

class SoftwareDevice;
struct SoftwareDeviceLink;

struct StateBlockRecord {
    GpuState values;
    std::bitset<GpuRenderStateCount> renderStates;
    std::array<std::bitset<GpuStageStateCount>, GpuStageCount> stageStates;
    std::array<std::bitset<GpuSamplerStateCount>, GpuSamplerCount> samplerStates;
    std::bitset<GpuTransformCount> transforms;
    std::bitset<GpuMaxLights> lights;
    std::bitset<GpuMaxLights> lightEnables;
    std::bitset<GpuSamplerCount> textures;
    std::bitset<GpuStreamCount> streams;
    bool material = false;
    bool viewport = false;
    bool scissor = false;
    bool indices = false;
    bool declaration = false;
    bool vertexShader = false;
    bool pixelShader = false;
    std::bitset<GpuVertexConstCount> vertexConstants;
    std::bitset<GpuPixelConstCount> pixelConstants;

    // Drops every reference to an object about to be destroyed (the state stays recorded, as
    // null).
    void Forget(const void* object);
};

class StateBlock : public GpuStateBlock {
public:
    StateBlock(std::shared_ptr<SoftwareDeviceLink> link, const StateBlockRecord& record);
    ~StateBlock() override;

    GpuResult Apply() override;
    StateBlockRecord& Record() { return record_; }

private:
    std::shared_ptr<SoftwareDeviceLink> link_;
    StateBlockRecord record_;
};

} // namespace quarn
