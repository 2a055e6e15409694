#include "device/GpuRenderDevice.h"

#include "device/BatchStore.h"
#include "device/DeviceMesh.h"
#include "device/DeviceShader.h"
#include "device/DeviceTexture.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>
#include <utility>

namespace quarn {

namespace {

RenderDevice* gRenderDevice = nullptr;

// Tried in this order; without DeviceDepthSearchAll the search starts at D32, skipping the
// formats that carry stencil.
constexpr GpuFormat DepthFormats[] = {GpuFormat::D24S8, GpuFormat::D24X4S4, GpuFormat::D15S1,
                                      GpuFormat::D32,   GpuFormat::D24X8,   GpuFormat::D16};
constexpr uint32_t DepthSearchSkip = 3;

struct DepthFormatBits {
    GpuFormat format;
    uint32_t depth;
    uint32_t stencil;
};

constexpr DepthFormatBits DepthFormatTable[] = {
    {GpuFormat::D16, 16, 0},   {GpuFormat::D32, 32, 0},   {GpuFormat::D15S1, 15, 1},
    {GpuFormat::D24S8, 24, 8}, {GpuFormat::D24X8, 24, 0}, {GpuFormat::D24X4S4, 24, 4},
};

void DepthStencilBits(GpuFormat format, uint32_t& depth, uint32_t& stencil) {
    depth = 0;
    stencil = 0;
    for (const DepthFormatBits& entry : DepthFormatTable) {
        if (entry.format == format) {
            depth = entry.depth;
            stencil = entry.stencil;
        }
    }
}

uint32_t NextPowerOfTwo(uint32_t value) {
    return value <= 1 ? 1 : std::bit_ceil(value);
}

uint32_t FloatBits(float value) {
    return std::bit_cast<uint32_t>(value);
}

uint32_t ShaderVersion(uint32_t major, uint32_t minor) {
    return (major << 8) | (minor & 0xFF);
}

} // namespace

const char* const RenderStatisticNames[RenderStatisticCount] = {
    "iNumStateBlocksCreated",     "iNumStateBlocksApplied",       "iNumModelsRendered",
    "iNumPrimitivesRendered",     "iNumShadedModelsRendered",     "iNumStaticBatchesRendered",
    "iNumDynamicBatchesRendered", "iNumModelsInHighlightedBatch", "iNumDeclarationUpdates",
    "iNumSubmeshUpdates",
};

RenderDevice::RenderDevice() {
    gRenderDevice = this;
}

RenderDevice::~RenderDevice() {
    if (gRenderDevice == this) {
        gRenderDevice = nullptr;
    }
}

void RenderDevice::ReportError(const char* text) const {
    if (errorCallback_) {
        errorCallback_(text);
    }
}

void RenderDevice::AddTextureReplaceListener(TextureReplaceListener listener) {
    textureReplaceListeners_.push_back(std::move(listener));
}

void RenderDevice::ReplaceTexture(uint64_t oldId, DeviceTexture* replacement) {
    DeviceMesh::ReplaceTexture(oldId, replacement);
    for (const TextureReplaceListener& listener : textureReplaceListeners_) {
        listener(oldId, replacement);
    }
}

RenderDevice* TheRenderDevice() {
    return gRenderDevice;
}

GpuRenderDevice::GpuRenderDevice(GpuDeviceFactory factory, const GpuCaps& caps,
                                 const GpuDisplayMode& mode)
    : factory_(std::move(factory)), requestedCaps_(caps), mode_(mode) {}

GpuRenderDevice::~GpuRenderDevice() {
    TheBatchStore().ClearStore();
    sceneTarget_.reset();
    previousSceneTarget_.reset();
    DropDepthStencil();
    // Released before the layer device so its bindings are gone first.
    gpu_.reset();
}

void GpuRenderDevice::AddDeviceMemoryClient(std::function<void()> release,
                                            std::function<bool()> restore) {
    memoryClients_.push_back({std::move(release), std::move(restore)});
}

GpuDevice* GpuRenderDevice::Gpu() {
    return gpu_.get();
}

const GpuCaps& GpuRenderDevice::Caps() const {
    return gpu_ ? gpu_->GetCaps() : requestedCaps_;
}

bool GpuRenderDevice::Create(uint32_t flags, SDL_Window* window, int32_t width, int32_t height) {
    flags_ = flags;
    window_ = window;
    askedBackBuffer_ = {width, height};
    if (gpu_ && gpu_->TestCooperativeLevel() == GpuResult::DeviceLost) {
        return false;
    }
    const GpuCaps& caps = Caps();
    displayFormat_ = mode_.format;

    GpuPresentParameters parameters;
    // A size of 0 or less asks for the display mode's size, as the layer reads 0.
    parameters.backBufferWidth = width > 0 ? static_cast<uint32_t>(width) : 0;
    parameters.backBufferHeight = height > 0 ? static_cast<uint32_t>(height) : 0;
    uint32_t backBufferCount = 1;
    if (flags & DeviceFullScreen) {
        parameters.windowed = false;
        parameters.backBufferFormat = displayFormat_;
        backBufferCount = (flags & DeviceTwoBackBuffers) ? 2 : 1;
    } else {
        parameters.windowed = true;
        // The windowed default follows the display, as an unknown format does.
        parameters.backBufferFormat = displayFormat_;
        if ((flags & DeviceArgbBackBuffer) &&
            (!gpu_ || gpu_->CheckDeviceFormat(GpuUsageRenderTarget, GpuResourceType::Surface,
                                              GpuFormat::A8R8G8B8))) {
            parameters.backBufferFormat = GpuFormat::A8R8G8B8;
        }
        parameters.presentationInterval =
            ((flags & DeviceVerticalSync) && (caps.presentationIntervals & 0x2)) ? 1 : 0;
    }
    parameters.lockableBackBuffer = (flags & DeviceLockableBackBuffer) != 0;
    parameters.enableAutoDepthStencil = false;
    parameters.window = window;

    GpuResult result = GpuResult::Ok;
    if (gpu_) {
        // The layer refuses to reset while our own default-pool surface lives.
        gpu_->SetDepthStencilSurface(nullptr);
        DropDepthStencil();
        result = gpu_->Reset(parameters);
    } else {
        gpu_ = factory_ ? factory_(parameters, requestedCaps_, mode_) : nullptr;
        if (!gpu_) {
            result = GpuResult::InvalidCall;
        }
    }
    if (result != GpuResult::Ok) {
        char text[80];
        std::snprintf(text, sizeof text, "Failed to create the render device. Error code is %X.",
                      static_cast<uint32_t>(result));
        errorText_ = text;
        return false;
    }
    backBufferFormat_ = parameters.backBufferFormat;
    backBufferCount_ = backBufferCount;

    GpuSurfaceDesc back = gpu_->GetBackBuffer()->GetDesc();
    if ((flags & (DevicePow2DepthAndSceneTargets | DeviceWideSceneTargets)) && !sceneTarget_) {
        CreateSceneTargets(static_cast<int32_t>(back.width), static_cast<int32_t>(back.height));
    }
    viewportX_ = 0;
    viewportY_ = 0;
    viewportWidth_ = static_cast<int32_t>(back.width);
    viewportHeight_ = static_cast<int32_t>(back.height);

    CreateDepthStencil();
    ApplyDefaultStates();
    state_ = DeviceState::Ready;
    return true;
}

void GpuRenderDevice::CreateSceneTargets(int32_t width, int32_t height) {
    PixelFormat format = (flags_ & DeviceWideSceneTargets) ? PixelFormat::A16B16G16R16
                                                           : PixelFormatFromGpu(backBufferFormat_);
    sceneTarget_ = CreateTexture();
    previousSceneTarget_ = CreateTexture();
    // Without them the scene is drawn straight into the back buffer, so failure stays quiet.
    if (!sceneTarget_->Create(width, height, format, TextureKind::Texture2D,
                              TextureFlagRenderTarget, 1) ||
        !previousSceneTarget_->Create(width, height, format, TextureKind::Texture2D,
                                      TextureFlagRenderTarget, 1)) {
        sceneTarget_.reset();
        previousSceneTarget_.reset();
    }
}

void GpuRenderDevice::CreateDepthStencil() {
    depthBits_ = 0;
    stencilBits_ = 0;
    if (flags_ & DeviceDepthStencil) {
        uint32_t first = (flags_ & DeviceDepthSearchAll) ? 0 : DepthSearchSkip;
        for (uint32_t i = first; i < std::size(DepthFormats); ++i) {
            if (!gpu_->CheckDepthStencilMatch(displayFormat_, DepthFormats[i])) {
                continue;
            }
            // As large as the display, so a window resized up to it needs no new surface.
            uint32_t w = mode_.width;
            uint32_t h = mode_.height;
            if (flags_ & DevicePow2DepthAndSceneTargets) {
                w = NextPowerOfTwo(w);
                h = NextPowerOfTwo(h);
            }
            depthStencil_ = gpu_->CreateDepthStencilSurface(w, h, DepthFormats[i]);
            if (depthStencil_) {
                DepthStencilBits(DepthFormats[i], depthBits_, stencilBits_);
            }
            break;
        }
    }
    gpu_->SetDepthStencilSurface(depthStencil_.get());
}

void GpuRenderDevice::DropDepthStencil() {
    if (gpu_ && depthStencil_) {
        gpu_->SetDepthStencilSurface(nullptr);
    }
    depthStencil_.reset();
}

void GpuRenderDevice::SetRender(GpuRenderState state, uint32_t value) {
    if (gpu_) {
        gpu_->SetRenderState(state, value);
    }
}

void GpuRenderDevice::ApplyDefaultStates() {
    GpuDevice& d = *gpu_;
    auto stage = [&d](uint32_t s, GpuStageState state, uint32_t value) {
        d.SetTextureStageState(s, state, value);
    };
    auto op = [](GpuTextureOp o) { return static_cast<uint32_t>(o); };
    auto arg = [](GpuTextureArg a) { return static_cast<uint32_t>(a); };
    stage(0, GpuStageState::ColorOp, op(GpuTextureOp::Modulate));
    stage(0, GpuStageState::ColorArg1, arg(GpuTextureArg::Texture));
    stage(0, GpuStageState::ColorArg2, arg(GpuTextureArg::Diffuse));
    stage(0, GpuStageState::AlphaOp, op(GpuTextureOp::Modulate));
    stage(0, GpuStageState::AlphaArg1, arg(GpuTextureArg::Texture));
    stage(0, GpuStageState::AlphaArg2, arg(GpuTextureArg::TFactor));
    for (uint32_t s = 1; s <= 2; ++s) {
        stage(s, GpuStageState::ColorOp, op(GpuTextureOp::Disable));
        stage(s, GpuStageState::AlphaOp, op(GpuTextureOp::Disable));
        stage(s, GpuStageState::ColorArg1, arg(GpuTextureArg::Current));
        stage(s, GpuStageState::ColorArg2,
              arg(s == 1 ? GpuTextureArg::TFactor : GpuTextureArg::Texture));
        stage(s, GpuStageState::AlphaArg1, arg(GpuTextureArg::Current));
        stage(s, GpuStageState::AlphaArg2, arg(GpuTextureArg::Current));
        stage(s, GpuStageState::TexCoordIndex, 1);
    }
    for (uint32_t s = 0; s < 3; ++s) {
        uint32_t linear = static_cast<uint32_t>(GpuFilter::Linear);
        d.SetSamplerState(s, GpuSamplerState::MinFilter, linear);
        d.SetSamplerState(s, GpuSamplerState::MagFilter, linear);
        d.SetSamplerState(s, GpuSamplerState::MipFilter, linear);
    }
    d.SetRenderState(GpuRenderState::DitherEnable, 1);
    d.SetRenderState(GpuRenderState::TextureFactor, 0xFFFFFFFF);
    d.SetRenderState(GpuRenderState::LastPixel, 0);
    d.SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::Cw));
    d.SetRenderState(GpuRenderState::ZFunc, static_cast<uint32_t>(GpuCompare::LessEqual));
    d.SetRenderState(GpuRenderState::ZEnable, 1);

    // A fresh or reset device shows no screen-space override: whoever needs one sets it again.
    applyFlags_ = 7;
    SetPerspective(70.0f, 1.0f, 0.1f, 1000.0f);

    d.SetRenderState(GpuRenderState::AlphaBlendEnable, 1);
    d.SetRenderState(GpuRenderState::AlphaRef, 1);
    d.SetRenderState(GpuRenderState::AlphaFunc, static_cast<uint32_t>(GpuCompare::Greater));
    d.SetRenderState(GpuRenderState::AlphaTestEnable, 1);

    defaultMaterial_ = GpuMaterial{};
    defaultMaterial_.diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    defaultMaterial_.ambient = {1.0f, 1.0f, 1.0f, 1.0f};
    defaultMaterial_.specular = {1.0f, 1.0f, 1.0f, 1.0f};
    defaultMaterial_.power = 10.0f;
    d.SetMaterial(defaultMaterial_);

    d.SetRenderState(GpuRenderState::SpecularMaterialSource,
                     static_cast<uint32_t>(GpuMaterialSource::Material));
    d.SetRenderState(GpuRenderState::ColorVertex, 1);
    d.SetRenderState(GpuRenderState::SpecularEnable, 0);
    d.SetRenderState(GpuRenderState::LocalViewer, 1);
    d.SetRenderState(GpuRenderState::Ambient, 0);
    d.SetRenderState(GpuRenderState::Lighting, 1);
    d.SetRenderState(GpuRenderState::NormalizeNormals, 1);
    d.SetRenderState(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::SrcAlpha));
    d.SetRenderState(GpuRenderState::DestBlend, static_cast<uint32_t>(GpuBlend::InvSrcAlpha));
    d.SetRenderState(GpuRenderState::BlendOp, static_cast<uint32_t>(GpuBlendOp::Add));

    // A reset returns the layer's transforms to identity; the stored ones still hold.
    ApplyTransform(0x1, GpuTransform::World, world_);
    ApplyTransform(0x2, GpuTransform::View, view_);
}

bool GpuRenderDevice::ResetDevice() {
    if (state_ != DeviceState::Lost) {
        return true;
    }
    // A device lost only for a larger back buffer needs no wait for the layer.
    const bool growing = wantedBackBuffer_ != Int2();
    if (gpu_ && !growing && gpu_->TestCooperativeLevel() != GpuResult::DeviceNotReset) {
        return false;
    }
    DropDepthStencil();
    DeviceMesh::DropAllRecordedState();
    for (DeviceMemoryClient& client : memoryClients_) {
        if (client.release) {
            client.release();
        }
    }
    if (gpu_) {
        VertexBuffer::ReleaseDynamic(*gpu_);
        IndexBuffer::ReleaseDynamic(*gpu_);
    }
    ReleaseDeviceTextures();
    if (!Create(flags_, window_, std::max(viewportWidth_, wantedBackBuffer_.x),
                std::max(viewportHeight_, wantedBackBuffer_.y))) {
        return false;
    }
    wantedBackBuffer_ = Int2();
    // Batches are rebuilt on demand, whatever the restores below give.
    TheBatchStore().ClearStore();
    if (!VertexBuffer::RestoreDynamic(*gpu_) || !IndexBuffer::RestoreDynamic(*gpu_) ||
        !RestoreDeviceTextures()) {
        return false;
    }
    for (DeviceMemoryClient& client : memoryClients_) {
        if (client.restore && !client.restore()) {
            return false;
        }
    }
    return true;
}

void GpuRenderDevice::FitBackBuffer(int32_t width, int32_t height) {
    GpuSurface* backBuffer = gpu_ && state_ == DeviceState::Ready ? gpu_->GetBackBuffer() : nullptr;
    if (!backBuffer) {
        return;
    }
    const GpuSurfaceDesc back = backBuffer->GetDesc();
    const Int2 held(static_cast<int32_t>(back.width), static_cast<int32_t>(back.height));
    // A layer that made less than it was asked for would make no more on a reset.
    if (width <= std::max(held.x, askedBackBuffer_.x) &&
        height <= std::max(held.y, askedBackBuffer_.y)) {
        return;
    }
    wantedBackBuffer_ = {std::max(width, held.x), std::max(height, held.y)};
    state_ = DeviceState::Lost;
}

void GpuRenderDevice::SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!gpu_ || width <= 0 || height <= 0 || x < 0 || y < 0) {
        return;
    }
    GpuViewport viewport{static_cast<uint32_t>(x),
                         static_cast<uint32_t>(y),
                         static_cast<uint32_t>(width),
                         static_cast<uint32_t>(height),
                         0.0f,
                         1.0f};
    // A viewport the target cannot hold is refused, so the stored one never disagrees with the
    // device's.
    if (gpu_->SetViewport(viewport) != GpuResult::Ok) {
        return;
    }
    viewportX_ = x;
    viewportY_ = y;
    viewportWidth_ = width;
    viewportHeight_ = height;
}

bool GpuRenderDevice::BeginScene() {
    statistics_ = RenderStatistics{};
    if (!gpu_ || gpu_->BeginScene() != GpuResult::Ok) {
        return false;
    }
    // A frame starts on the scene target, or on the back buffer even when the last frame left
    // the device drawing into a texture.
    SetRenderTarget(nullptr, false);
    return true;
}

bool GpuRenderDevice::EndScene() {
    if (!gpu_) {
        return true;
    }
    if (sceneTarget_) {
        SetRenderTarget(nullptr, true);
        float w = static_cast<float>(viewportWidth_);
        float h = static_cast<float>(viewportHeight_);
        sceneTarget_->DrawToScreen(0.0f, 0.0f, w, h, 0.0f, 0.0f, w, h);
        std::swap(sceneTarget_, previousSceneTarget_);
    }
    gpu_->EndScene();
    return true;
}

void GpuRenderDevice::SetPresentRectangle(int32_t x, int32_t y, int32_t width, int32_t height) {
    presentRect_ = {x, y, x + width, y + height};
}

void GpuRenderDevice::Present() {
    if (!gpu_) {
        return;
    }
    GpuResult result;
    if (presentImage_) {
        result = gpu_->Present(nullptr, nullptr, presentImage_);
    } else if (flags_ & DeviceFullScreen) {
        result = gpu_->Present(nullptr, nullptr);
    } else {
        GpuRect source{0, 0, viewportWidth_, viewportHeight_};
        result = gpu_->Present(&source, &presentRect_);
    }
    if (result == GpuResult::DeviceLost) {
        state_ = DeviceState::Lost;
    }
    ++frameCount_;
}

bool GpuRenderDevice::Clear(uint32_t flags, uint32_t color) {
    if (gpu_) {
        uint32_t gpuFlags = 0;
        gpuFlags |= (flags & DeviceClearTarget) ? GpuClearTarget : 0;
        gpuFlags |= (flags & DeviceClearDepth) ? GpuClearZBuffer : 0;
        gpuFlags |= (flags & DeviceClearStencil) ? GpuClearStencil : 0;
        // The layer refuses the whole clear when the depth surface lacks a plane asked for; the
        // planes that exist must still be cleared.
        if (!depthStencil_) {
            gpuFlags &= GpuClearTarget;
        }
        if (stencilBits_ == 0) {
            gpuFlags &= ~GpuClearStencil;
        }
        if (gpuFlags != 0) {
            gpu_->Clear({}, gpuFlags, color, 1.0f, 0);
        }
    }
    return true;
}

void GpuRenderDevice::SetRenderTarget(DeviceTexture* texture, bool useBackBuffer) {
    if (!gpu_) {
        return;
    }
    DeviceTexture* wanted = texture != nullptr ? texture : sceneTarget_.get();
    GpuSurface* target =
        (wanted == nullptr || useBackBuffer) ? gpu_->GetBackBuffer() : wanted->GetSurface(0);
    if (target == nullptr || gpu_->GetRenderTarget(0) == target) {
        return;
    }
    if (gpu_->SetRenderTarget(0, target) != GpuResult::Ok) {
        return;
    }
    // A target change resets the device's viewport to the whole target.
    gpu_->SetViewport({static_cast<uint32_t>(viewportX_), static_cast<uint32_t>(viewportY_),
                       static_cast<uint32_t>(viewportWidth_),
                       static_cast<uint32_t>(viewportHeight_), 0.0f, 1.0f});
}

std::unique_ptr<DeviceTexture> GpuRenderDevice::GetBackBuffer() {
    if (!gpu_ || gpu_->GetBackBuffer() == nullptr) {
        return nullptr;
    }
    std::unique_ptr<DeviceTexture> texture = CreateTexture();
    texture->WrapSurface(gpu_->GetBackBuffer());
    return texture;
}

void GpuRenderDevice::CopyBackBufferToTexture(DeviceTexture* texture) {
    GpuSurface* target = texture != nullptr ? texture->GetSurface(0) : nullptr;
    if (!gpu_ || target == nullptr) {
        return;
    }
    GpuRect source{viewportX_, viewportY_, viewportX_ + viewportWidth_,
                   viewportY_ + viewportHeight_};
    // A texture smaller than the viewport takes all of it, scaled down.
    const GpuSurfaceDesc size = target->GetDesc();
    GpuRect dest{0, 0, std::min(viewportWidth_, static_cast<int32_t>(size.width)),
                 std::min(viewportHeight_, static_cast<int32_t>(size.height))};
    gpu_->StretchRect(gpu_->GetBackBuffer(), &source, target, &dest);
}

std::unique_ptr<Shader> GpuRenderDevice::CreateShader() {
    if (!gpu_) {
        return nullptr;
    }
    return std::make_unique<DeviceShader>(*gpu_);
}

std::unique_ptr<DeviceTexture> GpuRenderDevice::CreateTexture() {
    if (!gpu_) {
        return nullptr;
    }
    return std::make_unique<DeviceTexture>(*gpu_, [this](const char* text) { ReportError(text); });
}

std::unique_ptr<VertexBuffer> GpuRenderDevice::CreateVertexData() {
    if (!gpu_) {
        return nullptr;
    }
    return std::make_unique<VertexBuffer>(*gpu_, [this](const char* text) { ReportError(text); });
}

std::unique_ptr<IndexBuffer> GpuRenderDevice::CreateIndexData() {
    if (!gpu_) {
        return nullptr;
    }
    return std::make_unique<IndexBuffer>(*gpu_);
}

std::unique_ptr<DeviceMesh> GpuRenderDevice::CreateDeviceMesh() {
    if (!gpu_) {
        return nullptr;
    }
    return std::make_unique<DeviceMesh>(*this, *gpu_);
}

void GpuRenderDevice::SetDefaultShader(Shader* shader) {
    defaultShader_ = shader;
    DeviceMesh::DropAllRecordedState();
}

void GpuRenderDevice::SetDefaultShaderParameter(const Float4& parameter) {
    defaultShaderParameter_ = parameter;
    DeviceMesh::DropAllRecordedState();
}

void GpuRenderDevice::SetDefaultColor(uint32_t argb) {
    defaultColor_ = argb;
    DeviceMesh::DropAllRecordedState();
}

bool GpuRenderDevice::SetTexture(DeviceTexture* texture, uint32_t stage) {
    if (gpu_) {
        gpu_->SetTexture(stage, texture != nullptr ? texture->GetGpuTexture() : nullptr);
    }
    return true;
}

PixelFormat GpuRenderDevice::GetDisplayFormat() {
    return PixelFormatFromGpu(displayFormat_);
}

PixelFormat GpuRenderDevice::GetBackBufferFormat() {
    return PixelFormatFromGpu(backBufferFormat_);
}

uint32_t GpuRenderDevice::GetAvailableTextureMemory() {
    return gpu_ ? gpu_->GetAvailableTextureMem() : 0;
}

bool GpuRenderDevice::SupportsVertexShader(uint32_t major, uint32_t minor) {
    return Caps().vertexShaderVersion >= ShaderVersion(major, minor);
}

bool GpuRenderDevice::SupportsPixelShader(uint32_t major, uint32_t minor) {
    const GpuCaps& caps = Caps();
    if (major == 2 && (caps.ps20DynamicFlowControlDepth < 24 || caps.ps20NumTemps < 32 ||
                       caps.ps20StaticFlowControlDepth < 4 || caps.ps20NumInstructionSlots < 256)) {
        return false;
    }
    return caps.pixelShaderVersion >= ShaderVersion(major, minor);
}

bool GpuRenderDevice::SupportsCubeMaps() {
    return Caps().cubeMaps;
}

void GpuRenderDevice::SetFogEnabled(bool enabled) {
    SetRender(GpuRenderState::FogEnable, enabled ? 1 : 0);
}

bool GpuRenderDevice::IsFogEnabled() {
    return gpu_ && gpu_->GetRenderState(GpuRenderState::FogEnable) != 0;
}

void GpuRenderDevice::SetFog(uint32_t color, GpuFogMode mode) {
    SetRender(GpuRenderState::FogColor, color);
    SetRender(GpuRenderState::FogVertexMode, static_cast<uint32_t>(mode));
    SetRender(GpuRenderState::RangeFogEnable, 0);
}

void GpuRenderDevice::SetLinearFog(uint32_t color, float start, float end) {
    SetFog(color, GpuFogMode::Linear);
    SetRender(GpuRenderState::FogStart, FloatBits(start));
    SetRender(GpuRenderState::FogEnd, FloatBits(end));
}

void GpuRenderDevice::SetExpFog(uint32_t color, float density) {
    SetFog(color, GpuFogMode::Exp);
    SetRender(GpuRenderState::FogDensity, FloatBits(density));
}

void GpuRenderDevice::SetExp2Fog(uint32_t color, float density) {
    SetFog(color, GpuFogMode::Exp2);
    SetRender(GpuRenderState::FogDensity, FloatBits(density));
}

void GpuRenderDevice::EnableLight(uint32_t index, bool enable) {
    // Only eight records exist; a larger index would write past them.
    if (index >= LightCount) {
        return;
    }
    bool ambient = static_cast<int32_t>(index) == ambientLight_;
    if (gpu_) {
        gpu_->LightEnable(index, enable && !ambient);
    }
    if (!enable) {
        lights_[index].color = 0;
        if (ambient) {
            SetRender(GpuRenderState::Ambient, 0);
        }
    }
}

void GpuRenderDevice::SetLightingEnabled(bool enabled) {
    SetRender(GpuRenderState::Lighting, enabled ? 1 : 0);
}

void GpuRenderDevice::SetLight(uint32_t index, const LightRecord& light) {
    if (index >= LightCount) {
        return;
    }
    lights_[index] = light;
    if (light.type == static_cast<uint32_t>(LightType::Ambient)) {
        EnableLight(index, false);
        // Disabling cleared the record's colour; the ambient record keeps the one it was given.
        lights_[index].color = light.color;
        SetRender(GpuRenderState::Ambient, light.color);
        ambientLight_ = static_cast<int32_t>(index);
        return;
    }
    if (static_cast<int32_t>(index) == ambientLight_) {
        ambientLight_ = -1;
    }
    GpuLight out;
    out.diffuse = {};
    out.direction = {};
    switch (light.type) {
    case 0:
        out.type = GpuLightType::Point;
        break;
    case 1:
        out.type = GpuLightType::Spot;
        break;
    default:
        out.type = GpuLightType::Directional;
        break;
    }
    float scale = out.type == GpuLightType::Directional ? light.strength : 1.0f;
    GpuColor color{static_cast<float>((light.color >> 16) & 0xFF) / 255.0f * scale,
                   static_cast<float>((light.color >> 8) & 0xFF) / 255.0f * scale,
                   static_cast<float>(light.color & 0xFF) / 255.0f * scale, 0.0f};
    if (light.flags & LightDiffuse) {
        out.diffuse = color;
    }
    if (light.flags & LightSpecular) {
        out.specular = color;
    }
    out.position = {light.position.x, light.position.y, light.position.z};
    out.direction = {light.direction.x, light.direction.y, light.direction.z};
    float s = light.strength;
    out.falloff = 1.0f;
    out.attenuation1 = 0.0f;
    if (s > 0.0f) {
        out.range = std::sqrt(s / 0.025f) - 0.1f;
        out.attenuation0 = 0.1f / s;
        out.attenuation2 = 1.0f / s;
    } else {
        // A strength of zero or below (or NaN) would give a NaN range and a negative
        // attenuation, lighting everything at full strength; such a light reaches nothing.
        out.range = 0.0f;
        out.attenuation0 = 1.0f;
        out.attenuation2 = 0.0f;
    }
    out.theta = 0.0f;
    out.phi = light.coneAngle * 0.0174532794f;
    if (gpu_) {
        gpu_->SetLight(index, out);
    }
}

void GpuRenderDevice::GetLight(uint32_t index, LightRecord& out) {
    if (index < LightCount) {
        out = lights_[index];
    }
}

uint32_t GpuRenderDevice::GetMaxActiveLights() {
    return Caps().maxActiveLights;
}

void GpuRenderDevice::ApplyTransform(uint32_t applyBit, GpuTransform which, const Matrix4& matrix) {
    if (gpu_ && (applyFlags_ & applyBit)) {
        gpu_->SetTransform(which, matrix);
    }
}

void GpuRenderDevice::SetWorldMatrix(const Matrix4& matrix) {
    world_ = matrix;
    ApplyTransform(0x1, GpuTransform::World, world_);
}

void GpuRenderDevice::SetCameraMatrix(const Matrix4& matrix) {
    camera_ = matrix;
    view_ = camera_.Inverted();
    view_.Multiply(projection_, viewProjection_);
    ApplyTransform(0x2, GpuTransform::View, view_);
    cameraRotation_ = camera_;
    for (int i : {3, 7, 11, 12, 13, 14}) {
        cameraRotation_.m[i] = 0.0f;
    }
    cameraRotation_.m[15] = 1.0f;
}

void GpuRenderDevice::SetProjectionMatrix(const Matrix4& matrix) {
    projection_ = matrix;
    unbiasedDepth_ = projection_.m[14];
    view_.Multiply(projection_, viewProjection_);
    ApplyDepthBias();
}

void GpuRenderDevice::ApplyDepthBias() {
    // The view-projection matrix stays unbiased, as SetDepthBias leaves it.
    projection_.m[14] = (static_cast<float>(depthBias_) * 0.002f + 1.0f) * unbiasedDepth_;
    ApplyTransform(0x4, GpuTransform::Projection, projection_);
}

void GpuRenderDevice::SetPerspective(float fov, float aspect, float nearZ, float farZ) {
    float c = 1.0f / std::tan(fov * 0.5f * 0.0174533333f);
    float f = farZ / (farZ - nearZ);
    // Before the first viewport there is no height to divide by; the shape is then square.
    float viewportAspect = viewportHeight_ > 0 ? static_cast<float>(viewportWidth_) /
                                                     static_cast<float>(viewportHeight_)
                                               : 1.0f;
    Matrix4 p;
    for (float& e : p.m) {
        e = 0.0f;
    }
    p.m[0] = c;
    p.m[5] = c * aspect * viewportAspect;
    p.m[10] = f;
    p.m[11] = 1.0f;
    p.m[14] = -nearZ * f;
    projection_ = p;
    unbiasedDepth_ = p.m[14];
    view_.Multiply(projection_, viewProjection_);
    ApplyDepthBias();
}

void GpuRenderDevice::OverrideViewProjection(const Matrix4& view, const Matrix4& projection) {
    applyFlags_ &= ~0x6u;
    if (gpu_) {
        gpu_->SetTransform(GpuTransform::View, view);
        gpu_->SetTransform(GpuTransform::Projection, projection);
    }
}

void GpuRenderDevice::RestoreViewProjection() {
    applyFlags_ |= 0x6u;
    if (gpu_) {
        gpu_->SetTransform(GpuTransform::View, view_);
        gpu_->SetTransform(GpuTransform::Projection, projection_);
    }
}

void GpuRenderDevice::SetDepthBias(int32_t bias) {
    depthBias_ = bias;
    ApplyDepthBias();
}

} // namespace quarn
