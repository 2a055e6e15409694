#include "gpu/software/SoftwareDevice.h"

#include "core/debug/Log.h"
#include "core/io/ByteOrder.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "gpu/software/WindowPresent.h"

#include <algorithm>
#include <cstring>
#include <bit>

namespace quarn {

namespace {

uint32_t FloatWord(float value) {
    return std::bit_cast<uint32_t>(value);
}

bool IsColorFormat(GpuFormat format) {
    return format >= GpuFormat::A8R8G8B8 && format <= GpuFormat::A16B16G16R16 &&
           !GpuIsBlockFormat(format);
}

uint32_t StencilBits(GpuFormat format) {
    switch (format) {
    case GpuFormat::D24S8:
        return 8;
    case GpuFormat::D24X4S4:
        return 4;
    case GpuFormat::D15S1:
        return 1;
    default:
        return 0;
    }
}

// Vertices a primitive count consumes.
uint64_t VertexCountOf(GpuPrimitiveType type, uint32_t primitives) {
    uint64_t n = primitives;
    switch (type) {
    case GpuPrimitiveType::LineList:
        return 2 * n;
    case GpuPrimitiveType::LineStrip:
        return n + 1;
    case GpuPrimitiveType::TriangleList:
        return 3 * n;
    case GpuPrimitiveType::TriangleStrip:
        return n + 2;
    }
    return 0;
}

GpuRect WholeTarget(uint32_t width, uint32_t height) {
    return {0, 0, static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

GpuRect Intersect(const GpuRect& a, const GpuRect& b) {
    GpuRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
              std::min(a.bottom, b.bottom)};
    if (r.right < r.left) {
        r.right = r.left;
    }
    if (r.bottom < r.top) {
        r.bottom = r.top;
    }
    return r;
}

} // namespace

GpuState GpuState::Defaults() {
    GpuState s;
    auto set = [&s](GpuRenderState state, uint32_t value) {
        s.renderStates[static_cast<uint32_t>(state)] = value;
    };
    set(GpuRenderState::ZEnable, 0);
    set(GpuRenderState::FillMode, static_cast<uint32_t>(GpuFillMode::Solid));
    set(GpuRenderState::ZWriteEnable, 1);
    set(GpuRenderState::AlphaTestEnable, 0);
    set(GpuRenderState::LastPixel, 1);
    set(GpuRenderState::SrcBlend, static_cast<uint32_t>(GpuBlend::One));
    set(GpuRenderState::DestBlend, static_cast<uint32_t>(GpuBlend::Zero));
    set(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::Cw));
    set(GpuRenderState::ZFunc, static_cast<uint32_t>(GpuCompare::LessEqual));
    set(GpuRenderState::AlphaRef, 0);
    set(GpuRenderState::AlphaFunc, static_cast<uint32_t>(GpuCompare::Always));
    set(GpuRenderState::FogColor, 0);
    set(GpuRenderState::FogTableMode, static_cast<uint32_t>(GpuFogMode::None));
    set(GpuRenderState::FogStart, FloatWord(0.0f));
    set(GpuRenderState::FogEnd, FloatWord(1.0f));
    set(GpuRenderState::FogDensity, FloatWord(1.0f));
    set(GpuRenderState::StencilFail, static_cast<uint32_t>(GpuStencilOp::Keep));
    set(GpuRenderState::StencilZFail, static_cast<uint32_t>(GpuStencilOp::Keep));
    set(GpuRenderState::StencilPass, static_cast<uint32_t>(GpuStencilOp::Keep));
    set(GpuRenderState::StencilFunc, static_cast<uint32_t>(GpuCompare::Always));
    set(GpuRenderState::StencilMask, 0xFFFFFFFFu);
    set(GpuRenderState::StencilWriteMask, 0xFFFFFFFFu);
    set(GpuRenderState::TextureFactor, 0xFFFFFFFFu);
    set(GpuRenderState::Lighting, 1);
    set(GpuRenderState::FogVertexMode, static_cast<uint32_t>(GpuFogMode::None));
    set(GpuRenderState::ColorVertex, 1);
    set(GpuRenderState::LocalViewer, 1);
    set(GpuRenderState::DiffuseMaterialSource, static_cast<uint32_t>(GpuMaterialSource::Color1));
    set(GpuRenderState::SpecularMaterialSource, static_cast<uint32_t>(GpuMaterialSource::Color2));
    set(GpuRenderState::AmbientMaterialSource, static_cast<uint32_t>(GpuMaterialSource::Material));
    set(GpuRenderState::EmissiveMaterialSource, static_cast<uint32_t>(GpuMaterialSource::Material));
    set(GpuRenderState::ColorWriteEnable, 0xF);
    set(GpuRenderState::BlendOp, static_cast<uint32_t>(GpuBlendOp::Add));
    set(GpuRenderState::DepthBias, FloatWord(0.0f));
    set(GpuRenderState::SlopeScaleDepthBias, FloatWord(0.0f));
    for (uint32_t stage = 0; stage < GpuStageCount; ++stage) {
        auto& st = s.stageStates[stage];
        bool first = stage == 0;
        st[static_cast<uint32_t>(GpuStageState::ColorOp)] =
            static_cast<uint32_t>(first ? GpuTextureOp::Modulate : GpuTextureOp::Disable);
        st[static_cast<uint32_t>(GpuStageState::ColorArg1)] =
            static_cast<uint32_t>(GpuTextureArg::Texture);
        st[static_cast<uint32_t>(GpuStageState::ColorArg2)] =
            static_cast<uint32_t>(GpuTextureArg::Current);
        st[static_cast<uint32_t>(GpuStageState::AlphaOp)] =
            static_cast<uint32_t>(first ? GpuTextureOp::SelectArg1 : GpuTextureOp::Disable);
        st[static_cast<uint32_t>(GpuStageState::AlphaArg1)] =
            static_cast<uint32_t>(GpuTextureArg::Texture);
        st[static_cast<uint32_t>(GpuStageState::AlphaArg2)] =
            static_cast<uint32_t>(GpuTextureArg::Current);
        st[static_cast<uint32_t>(GpuStageState::TexCoordIndex)] = stage;
        st[static_cast<uint32_t>(GpuStageState::TextureTransformFlags)] =
            static_cast<uint32_t>(GpuTextureTransformFlags::Disable);
    }
    for (auto& sampler : s.samplerStates) {
        sampler[static_cast<uint32_t>(GpuSamplerState::AddressU)] =
            static_cast<uint32_t>(GpuAddress::Wrap);
        sampler[static_cast<uint32_t>(GpuSamplerState::AddressV)] =
            static_cast<uint32_t>(GpuAddress::Wrap);
        sampler[static_cast<uint32_t>(GpuSamplerState::AddressW)] =
            static_cast<uint32_t>(GpuAddress::Wrap);
        sampler[static_cast<uint32_t>(GpuSamplerState::MagFilter)] =
            static_cast<uint32_t>(GpuFilter::Point);
        sampler[static_cast<uint32_t>(GpuSamplerState::MinFilter)] =
            static_cast<uint32_t>(GpuFilter::Point);
        sampler[static_cast<uint32_t>(GpuSamplerState::MipFilter)] =
            static_cast<uint32_t>(GpuFilter::None);
    }
    return s;
}

// ---- creation, loss and reset

SoftwareDevice::SoftwareDevice(const GpuCaps& caps, const GpuDisplayMode& mode)
    : link_(std::make_shared<SoftwareDeviceLink>()), caps_(caps), mode_(mode),
      rasterizer_(std::make_unique<SoftwareRasterizer>()) {
    link_->device = this;
}

std::unique_ptr<SoftwareDevice> SoftwareDevice::Create(const GpuPresentParameters& parameters,
                                                       const GpuCaps& caps,
                                                       const GpuDisplayMode& mode) {
    std::unique_ptr<SoftwareDevice> device(new SoftwareDevice(caps, mode));
    if (!device->Setup(parameters)) {
        return nullptr;
    }
    return device;
}

SoftwareDevice::~SoftwareDevice() {
    // Objects the caller still holds stop reporting to us.
    link_->device = nullptr;
}

bool SoftwareDevice::Setup(const GpuPresentParameters& parameters) {
    GpuPresentParameters p = parameters;
    if (p.backBufferWidth == 0) {
        p.backBufferWidth = mode_.width;
    }
    if (p.backBufferHeight == 0) {
        p.backBufferHeight = mode_.height;
    }
    if (!IsColorFormat(p.backBufferFormat) || p.backBufferWidth > 16384 ||
        p.backBufferHeight > 16384) {
        return false;
    }
    if (p.enableAutoDepthStencil &&
        !CheckDepthStencilMatch(p.backBufferFormat, p.autoDepthStencilFormat)) {
        return false;
    }
    // Back buffer and automatic depth surface belong to the device, so they never block Reset.
    GpuSurfaceDesc desc{p.backBufferFormat, GpuResourceType::Surface, GpuUsageRenderTarget,
                        GpuPool::Default,   p.backBufferWidth,        p.backBufferHeight};
    std::unique_ptr<SoftwareSurface> back =
        std::make_unique<SoftwareSurface>(nullptr, desc, p.lockableBackBuffer, nullptr);
    std::unique_ptr<SoftwareSurface> depth;
    if (p.enableAutoDepthStencil) {
        GpuSurfaceDesc d{p.autoDepthStencilFormat, GpuResourceType::Surface, GpuUsageDepthStencil,
                         GpuPool::Default,         p.backBufferWidth,        p.backBufferHeight};
        depth = std::make_unique<SoftwareSurface>(nullptr, d, false, nullptr);
    }
    parameters_ = p;
    state_ = GpuState::Defaults();
    backBuffer_ = std::move(back);
    autoDepthStencil_ = std::move(depth);
    state_.renderTarget = backBuffer_.get();
    state_.depthStencil = autoDepthStencil_.get();
    state_.renderStates[static_cast<uint32_t>(GpuRenderState::ZEnable)] =
        autoDepthStencil_ ? 1u : 0u;
    state_.viewport = {0, 0, p.backBufferWidth, p.backBufferHeight, 0.0f, 1.0f};
    state_.scissor = WholeTarget(p.backBufferWidth, p.backBufferHeight);
    return true;
}

uint32_t SoftwareDevice::ResetBlockers() const {
    return defaultPoolObjects_ + static_cast<uint32_t>(stateBlocks_.size());
}

GpuResult SoftwareDevice::TestCooperativeLevel() const {
    return lost_ ? GpuResult::DeviceNotReset : GpuResult::Ok;
}

GpuResult SoftwareDevice::Reset(const GpuPresentParameters& parameters) {
    // Refusing here is what catches a default-pool object or state block the caller forgot.
    if (ResetBlockers() != 0 || recording_) {
        return GpuResult::InvalidCall;
    }
    // Application-created default-pool objects are all gone (counted above), so only the
    // device's own bindings remain; Setup replaces them with the default state.
    if (!Setup(parameters)) {
        lost_ = true;
        return GpuResult::InvalidCall;
    }
    lost_ = false;
    inScene_ = false;
    return GpuResult::Ok;
}

void SoftwareDevice::Created(GpuPool pool) {
    if (pool == GpuPool::Default) {
        ++defaultPoolObjects_;
    }
}

void SoftwareDevice::SetRasterizer(std::unique_ptr<GpuRasterizer> rasterizer) {
    rasterizer_ = std::move(rasterizer);
}

bool SoftwareDevice::CheckDeviceFormat(uint32_t usage, GpuResourceType type,
                                       GpuFormat format) const {
    if (format == GpuFormat::Unknown || format == GpuFormat::Index16 ||
        format == GpuFormat::Index32) {
        return false;
    }
    if (type == GpuResourceType::CubeTexture && !caps_.cubeMaps) {
        return false;
    }
    if (type == GpuResourceType::VolumeTexture &&
        (!caps_.volumeMaps || GpuIsBlockFormat(format) || GpuIsDepthFormat(format))) {
        return false;
    }
    if (GpuIsDepthFormat(format)) {
        return (usage & GpuUsageDepthStencil) && StencilBits(format) <= caps_.maxStencilBits;
    }
    if (usage & GpuUsageDepthStencil) {
        return false;
    }
    if ((usage & GpuUsageRenderTarget) && !IsColorFormat(format)) {
        return false;
    }
    return true;
}

bool SoftwareDevice::CheckDepthStencilMatch(GpuFormat renderTarget, GpuFormat depthStencil) const {
    return IsColorFormat(renderTarget) && GpuIsDepthFormat(depthStencil) &&
           StencilBits(depthStencil) <= caps_.maxStencilBits;
}

bool SoftwareDevice::TextureSizeAllowed(uint32_t width, uint32_t height, GpuFormat format) const {
    return width > 0 && height > 0 && width <= caps_.maxTextureWidth &&
           height <= caps_.maxTextureHeight && format != GpuFormat::Unknown &&
           format != GpuFormat::Index16 && format != GpuFormat::Index32;
}

// ---- forgetting dying objects

void SoftwareDevice::ForgetObject(const void* object) {
    for (GpuTexture*& texture : state_.textures) {
        if (texture == object) {
            texture = nullptr;
        }
    }
    for (GpuStreamBinding& stream : state_.streams) {
        if (stream.buffer == object) {
            stream = {};
        }
    }
    if (state_.indices == object) {
        state_.indices = nullptr;
    }
    if (state_.declaration == object) {
        state_.declaration = nullptr;
    }
    if (state_.vertexShader == object) {
        state_.vertexShader = nullptr;
    }
    if (state_.pixelShader == object) {
        state_.pixelShader = nullptr;
    }
    if (recording_) {
        recording_->Forget(object);
    }
    for (StateBlock* block : stateBlocks_) {
        block->Record().Forget(object);
    }
}

void SoftwareDevice::Forget(SoftwareSurface* surface) {
    if (surface->GetDesc().pool == GpuPool::Default && defaultPoolObjects_ > 0) {
        --defaultPoolObjects_;
    }
    if (state_.renderTarget == surface) {
        state_.renderTarget = backBuffer_.get();
    }
    if (state_.depthStencil == surface) {
        state_.depthStencil = nullptr;
    }
}

void SoftwareDevice::Forget(SoftwareTexture* texture) {
    if (texture->Pool() == GpuPool::Default && defaultPoolObjects_ > 0) {
        --defaultPoolObjects_;
    }
    if (state_.renderTarget != nullptr &&
        static_cast<SoftwareSurface*>(state_.renderTarget)->Owner() == texture) {
        state_.renderTarget = backBuffer_.get();
    }
    ForgetObject(static_cast<GpuTexture*>(texture));
}

void SoftwareDevice::Forget(SoftwareVertexBuffer* buffer) {
    if (buffer->GetPool() == GpuPool::Default && defaultPoolObjects_ > 0) {
        --defaultPoolObjects_;
    }
    ForgetObject(static_cast<GpuVertexBuffer*>(buffer));
}

void SoftwareDevice::Forget(SoftwareIndexBuffer* buffer) {
    if (buffer->GetPool() == GpuPool::Default && defaultPoolObjects_ > 0) {
        --defaultPoolObjects_;
    }
    ForgetObject(static_cast<GpuIndexBuffer*>(buffer));
}

void SoftwareDevice::Forget(SoftwareVertexDeclaration* declaration) {
    ForgetObject(static_cast<GpuVertexDeclaration*>(declaration));
}

void SoftwareDevice::Forget(SoftwareShader* shader) {
    ForgetObject(static_cast<GpuShader*>(shader));
}

void SoftwareDevice::Forget(StateBlock* block) {
    std::erase(stateBlocks_, block);
}

// ---- frame

GpuResult SoftwareDevice::BeginScene() {
    if (inScene_) {
        return GpuResult::InvalidCall;
    }
    inScene_ = true;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::EndScene() {
    if (!inScene_) {
        return GpuResult::InvalidCall;
    }
    inScene_ = false;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::Present(const GpuRect* source, const GpuRect* dest,
                                  GpuSurface* image) {
    if (lost_) {
        return GpuResult::DeviceLost;
    }
    if (image && !IsColorFormat(image->GetDesc().format)) {
        return GpuResult::InvalidCall;
    }
    const auto& shown = image ? *static_cast<SoftwareSurface*>(image) : *backBuffer_;
    if (presentSink_) {
        presentSink_(shown, source, dest);
    }
    // A window that cannot show the frame (minimised, its surface gone) is no device fault: the
    // frame is dropped and drawing goes on.
    if (parameters_.window != nullptr &&
        !PresentToWindow(parameters_.window, shown, source, dest) &&
        !presentFailureLogged_) {
        presentFailureLogged_ = true;
        LogChannelMessage("render", "Present: the window cannot show the frame");
    }
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::Clear(std::span<const GpuRect> rects, uint32_t flags, uint32_t color,
                                float z, uint32_t stencil) {
    bool depthClear = (flags & (GpuClearZBuffer | GpuClearStencil)) != 0;
    if (depthClear && state_.depthStencil == nullptr) {
        return GpuResult::InvalidCall;
    }
    auto* depth = static_cast<SoftwareSurface*>(state_.depthStencil);
    if ((flags & GpuClearStencil) && depth->StencilMask() == 0) {
        return GpuResult::InvalidCall;
    }
    if (lost_) {
        return GpuResult::Ok;
    }
    const GpuViewport& v = state_.viewport;
    GpuRect view{static_cast<int32_t>(v.x), static_cast<int32_t>(v.y),
                 static_cast<int32_t>(v.x + v.width), static_cast<int32_t>(v.y + v.height)};
    auto* target = static_cast<SoftwareSurface*>(state_.renderTarget);
    auto clearRect = [&](const GpuRect& r) {
        if (flags & GpuClearTarget) {
            GpuRect t = Intersect(r, {0, 0, static_cast<int32_t>(target->Width()),
                                      static_cast<int32_t>(target->Height())});
            target->FillColor(t, color);
        }
        if (depthClear) {
            GpuRect d = Intersect(r, {0, 0, static_cast<int32_t>(depth->Width()),
                                      static_cast<int32_t>(depth->Height())});
            depth->FillDepthStencil(d, (flags & GpuClearZBuffer) != 0, z,
                                    (flags & GpuClearStencil) != 0, stencil);
        }
    };
    if (rects.empty()) {
        clearRect(view);
    } else {
        for (const GpuRect& r : rects) {
            clearRect(Intersect(r, view));
        }
    }
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetViewport(const GpuViewport& viewport) {
    // A recorded viewport is checked against the target in force when the block is applied.
    if (!recording_) {
        auto* target = static_cast<SoftwareSurface*>(state_.renderTarget);
        uint64_t right = static_cast<uint64_t>(viewport.x) + viewport.width;
        uint64_t bottom = static_cast<uint64_t>(viewport.y) + viewport.height;
        if (viewport.width == 0 || viewport.height == 0 || right > target->Width() ||
            bottom > target->Height() || !(viewport.minZ >= 0.0f && viewport.minZ <= 1.0f) ||
            !(viewport.maxZ >= 0.0f && viewport.maxZ <= 1.0f)) {
            return GpuResult::InvalidCall;
        }
    }
    RecordOrApply([](StateBlockRecord& r) { r.viewport = true; }).viewport = viewport;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetScissorRect(const GpuRect& rect) {
    if (rect.left > rect.right || rect.top > rect.bottom) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([](StateBlockRecord& r) { r.scissor = true; }).scissor = rect;
    return GpuResult::Ok;
}

// ---- surfaces

GpuSurface* SoftwareDevice::GetRenderTarget(uint32_t index) {
    return index == 0 ? state_.renderTarget : nullptr;
}

GpuResult SoftwareDevice::SetRenderTarget(uint32_t index, GpuSurface* surface) {
    if (index != 0 || surface == nullptr) {
        return GpuResult::InvalidCall;
    }
    GpuSurfaceDesc desc = surface->GetDesc();
    if (!(desc.usage & GpuUsageRenderTarget) || !IsColorFormat(desc.format)) {
        return GpuResult::InvalidCall;
    }
    state_.renderTarget = surface;
    state_.viewport = {0, 0, desc.width, desc.height, 0.0f, 1.0f};
    state_.scissor = WholeTarget(desc.width, desc.height);
    return GpuResult::Ok;
}

std::unique_ptr<GpuSurface>
SoftwareDevice::CreateDepthStencilSurface(uint32_t width, uint32_t height, GpuFormat format) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384 ||
        !CheckDeviceFormat(GpuUsageDepthStencil, GpuResourceType::Surface, format)) {
        return nullptr;
    }
    GpuSurfaceDesc desc{
        format, GpuResourceType::Surface, GpuUsageDepthStencil, GpuPool::Default, width, height};
    Created(GpuPool::Default);
    return std::make_unique<SoftwareSurface>(link_, desc, false, nullptr);
}

std::unique_ptr<GpuSurface> SoftwareDevice::CreateOffscreenPlainSurface(uint32_t width,
                                                                        uint32_t height,
                                                                        GpuFormat format,
                                                                        GpuPool pool) {
    if (width == 0 || height == 0 || width > 16384 || height > 16384 || !IsColorFormat(format) ||
        pool == GpuPool::Managed) {
        return nullptr;
    }
    GpuSurfaceDesc desc{format, GpuResourceType::Surface, 0, pool, width, height};
    Created(pool);
    return std::make_unique<SoftwareSurface>(link_, desc, true, nullptr);
}

GpuResult SoftwareDevice::SetDepthStencilSurface(GpuSurface* surface) {
    if (surface != nullptr && !GpuIsDepthFormat(surface->GetDesc().format)) {
        return GpuResult::InvalidCall;
    }
    state_.depthStencil = surface;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::StretchRect(GpuSurface* source, const GpuRect* sourceRect,
                                      GpuSurface* dest, const GpuRect* destRect) {
    if (source == nullptr || dest == nullptr || source == dest) {
        return GpuResult::InvalidCall;
    }
    auto* src = static_cast<SoftwareSurface*>(source);
    auto* dst = static_cast<SoftwareSurface*>(dest);
    if (!IsColorFormat(src->Format()) || !IsColorFormat(dst->Format()) ||
        dst->GetDesc().pool != GpuPool::Default) {
        return GpuResult::InvalidCall;
    }
    GpuRect s = sourceRect ? *sourceRect
                           : GpuRect{0, 0, static_cast<int32_t>(src->Width()),
                                     static_cast<int32_t>(src->Height())};
    GpuRect d = destRect ? *destRect
                         : GpuRect{0, 0, static_cast<int32_t>(dst->Width()),
                                   static_cast<int32_t>(dst->Height())};
    auto inside = [](const GpuRect& r, const SoftwareSurface* surface) {
        return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom &&
               static_cast<uint32_t>(r.right) <= surface->Width() &&
               static_cast<uint32_t>(r.bottom) <= surface->Height();
    };
    if (!inside(s, src) || !inside(d, dst)) {
        return GpuResult::InvalidCall;
    }
    if (lost_) {
        return GpuResult::Ok;
    }
    uint64_t sw = static_cast<uint64_t>(s.right - s.left);
    uint64_t sh = static_cast<uint64_t>(s.bottom - s.top);
    uint64_t dw = static_cast<uint64_t>(d.right - d.left);
    uint64_t dh = static_cast<uint64_t>(d.bottom - d.top);
    auto argb32 = [](GpuFormat f) { return f == GpuFormat::A8R8G8B8 || f == GpuFormat::X8R8G8B8; };
    if (sw == dw && sh == dh && argb32(src->Format()) && argb32(dst->Format())) {
        // A copy at the same size reads each texel once: whole rows, as ReadArgb and WriteArgb
        // would move them (X8R8G8B8 reads as opaque).
        const uint32_t fill = src->Format() == GpuFormat::X8R8G8B8 ? 0xFF000000u : 0u;
        for (uint64_t y = 0; y < dh; ++y) {
            const uint8_t* from = src->Bits() + (s.top + y) * src->Pitch() + s.left * 4u;
            uint8_t* to = dst->Bits() + (d.top + y) * dst->Pitch() + d.left * 4u;
            std::memcpy(to, from, dw * 4);
            for (uint64_t x = 0; fill != 0 && x < dw; ++x) {
                to[x * 4 + 3] = 0xFF; // the alpha byte of a little-endian ARGB word
            }
        }
        return GpuResult::Ok;
    }
    bool wide =
        src->Format() == GpuFormat::A16B16G16R16F || src->Format() == GpuFormat::A16B16G16R16;
    for (uint64_t y = 0; y < dh; ++y) {
        // Point sampling at the destination pixel's centre.
        uint32_t sy =
            static_cast<uint32_t>(s.top) + static_cast<uint32_t>((2 * y + 1) * sh / (2 * dh));
        for (uint64_t x = 0; x < dw; ++x) {
            uint32_t sx =
                static_cast<uint32_t>(s.left) + static_cast<uint32_t>((2 * x + 1) * sw / (2 * dw));
            uint32_t dx = static_cast<uint32_t>(d.left + static_cast<int32_t>(x));
            uint32_t dy = static_cast<uint32_t>(d.top + static_cast<int32_t>(y));
            if (wide) {
                dst->WriteTexel(dx, dy, src->ReadTexel(sx, sy));
            } else {
                dst->WriteArgb(dx, dy, src->ReadArgb(sx, sy));
            }
        }
    }
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::GetRenderTargetData(GpuSurface* renderTarget, GpuSurface* dest) {
    if (renderTarget == nullptr || dest == nullptr) {
        return GpuResult::InvalidCall;
    }
    auto* src = static_cast<SoftwareSurface*>(renderTarget);
    auto* dst = static_cast<SoftwareSurface*>(dest);
    GpuSurfaceDesc sd = src->GetDesc();
    GpuSurfaceDesc dd = dst->GetDesc();
    if (!(sd.usage & GpuUsageRenderTarget) || dd.pool != GpuPool::SystemMem ||
        sd.format != dd.format || sd.width != dd.width || sd.height != dd.height ||
        dst->IsLocked()) {
        return GpuResult::InvalidCall;
    }
    std::copy(src->Bits(), src->Bits() + static_cast<size_t>(src->Pitch()) * src->Height(),
              dst->Bits());
    return GpuResult::Ok;
}

// ---- textures

std::unique_ptr<GpuTexture> SoftwareDevice::CreateTexture(uint32_t width, uint32_t height,
                                                          uint32_t levels, uint32_t usage,
                                                          GpuFormat format, GpuPool pool) {
    if (!TextureSizeAllowed(width, height, format) ||
        !CheckDeviceFormat(usage, GpuResourceType::Texture, format) || GpuIsDepthFormat(format)) {
        return nullptr;
    }
    // Render targets live in video memory only.
    if ((usage & GpuUsageRenderTarget) && pool != GpuPool::Default) {
        return nullptr;
    }
    uint32_t full = GpuFullLevelCount(width, height);
    if (levels == 0 || levels > full) {
        levels = full;
    }
    Created(pool);
    return std::make_unique<SoftwareTexture>(link_, GpuResourceType::Texture, width, height, 1,
                                             levels, usage, format, pool);
}

std::unique_ptr<GpuTexture> SoftwareDevice::CreateCubeTexture(uint32_t edge, uint32_t levels,
                                                              uint32_t usage, GpuFormat format,
                                                              GpuPool pool) {
    if (!TextureSizeAllowed(edge, edge, format) ||
        !CheckDeviceFormat(usage, GpuResourceType::CubeTexture, format) ||
        GpuIsDepthFormat(format) || ((usage & GpuUsageRenderTarget) && pool != GpuPool::Default)) {
        return nullptr;
    }
    uint32_t full = GpuFullLevelCount(edge, edge);
    if (levels == 0 || levels > full) {
        levels = full;
    }
    Created(pool);
    return std::make_unique<SoftwareTexture>(link_, GpuResourceType::CubeTexture, edge, edge, 1,
                                             levels, usage, format, pool);
}

std::unique_ptr<GpuTexture> SoftwareDevice::CreateVolumeTexture(uint32_t width, uint32_t height,
                                                                uint32_t depth, uint32_t levels,
                                                                uint32_t usage, GpuFormat format,
                                                                GpuPool pool) {
    uint32_t limit = caps_.maxVolumeExtent;
    if (width == 0 || height == 0 || depth == 0 || width > limit || height > limit ||
        depth > limit || (usage & (GpuUsageRenderTarget | GpuUsageDepthStencil)) ||
        !CheckDeviceFormat(usage, GpuResourceType::VolumeTexture, format)) {
        return nullptr;
    }
    uint32_t full = GpuFullLevelCount(width, height, depth);
    if (levels == 0 || levels > full) {
        levels = full;
    }
    Created(pool);
    return std::make_unique<SoftwareTexture>(link_, GpuResourceType::VolumeTexture, width, height,
                                             depth, levels, usage, format, pool);
}

GpuResult SoftwareDevice::SetTexture(uint32_t stage, GpuTexture* texture) {
    if (stage >= GpuSamplerCount) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([stage](StateBlockRecord& r) { r.textures.set(stage); }).textures[stage] =
        texture;
    return GpuResult::Ok;
}

GpuTexture* SoftwareDevice::GetTexture(uint32_t stage) const {
    return stage < GpuSamplerCount ? state_.textures[stage] : nullptr;
}

// ---- geometry

std::unique_ptr<GpuVertexBuffer> SoftwareDevice::CreateVertexBuffer(uint32_t length, uint32_t usage,
                                                                    uint32_t fvf, GpuPool pool) {
    if (length == 0) {
        return nullptr;
    }
    Created(pool);
    return std::make_unique<SoftwareVertexBuffer>(link_, length, usage, fvf, pool);
}

std::unique_ptr<GpuIndexBuffer> SoftwareDevice::CreateIndexBuffer(uint32_t length, uint32_t usage,
                                                                  GpuFormat format, GpuPool pool) {
    if (length == 0 || (format != GpuFormat::Index16 && format != GpuFormat::Index32)) {
        return nullptr;
    }
    // A device limited to 16-bit indices has no 32-bit index buffers.
    if (format == GpuFormat::Index32 && caps_.maxVertexIndex <= 0xFFFF) {
        return nullptr;
    }
    Created(pool);
    return std::make_unique<SoftwareIndexBuffer>(link_, length, usage, format, pool);
}

std::unique_ptr<GpuVertexDeclaration>
SoftwareDevice::CreateVertexDeclaration(std::span<const GpuVertexElement> elements) {
    if (!SoftwareVertexDeclaration::IsValid(elements)) {
        return nullptr;
    }
    return std::make_unique<SoftwareVertexDeclaration>(link_, elements);
}

GpuResult SoftwareDevice::SetVertexDeclaration(GpuVertexDeclaration* declaration) {
    RecordOrApply([](StateBlockRecord& r) { r.declaration = true; }).declaration = declaration;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetStreamSource(uint32_t stream, GpuVertexBuffer* buffer, uint32_t offset,
                                          uint32_t stride) {
    if (stream >= GpuStreamCount || stream >= caps_.maxStreams) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([stream](StateBlockRecord& r) { r.streams.set(stream); }).streams[stream] = {
        buffer, offset, stride};
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetIndices(GpuIndexBuffer* buffer) {
    RecordOrApply([](StateBlockRecord& r) { r.indices = true; }).indices = buffer;
    return GpuResult::Ok;
}

// ---- shaders

std::unique_ptr<GpuShader> SoftwareDevice::CreateShader(GpuShaderKind kind,
                                                        std::span<const uint8_t> stream,
                                                        std::string& error) {
    GpuShaderProgram program;
    if (!DecodeShaderProgram(stream, kind, program, error)) {
        return nullptr;
    }
    const uint32_t supported =
        kind == GpuShaderKind::Vertex ? caps_.vertexShaderVersion : caps_.pixelShaderVersion;
    if (program.version > supported) {
        char text[64];
        std::snprintf(text, sizeof text, "shader version %u.%u is beyond the device's",
                      program.version >> 8, program.version & 0xFF);
        error = text;
        return nullptr;
    }
    return std::make_unique<SoftwareShader>(link_, std::move(program));
}

GpuResult SoftwareDevice::SetVertexShader(GpuShader* shader) {
    if (shader != nullptr && shader->GetKind() != GpuShaderKind::Vertex) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([](StateBlockRecord& r) { r.vertexShader = true; }).vertexShader = shader;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetPixelShader(GpuShader* shader) {
    if (shader != nullptr && shader->GetKind() != GpuShaderKind::Pixel) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([](StateBlockRecord& r) { r.pixelShader = true; }).pixelShader = shader;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetShaderConstants(GpuShaderKind kind, uint32_t start,
                                             const float* values, uint32_t count) {
    const bool vertex = kind == GpuShaderKind::Vertex;
    const uint32_t size = vertex ? GpuVertexConstCount : GpuPixelConstCount;
    if (values == nullptr || start > size || count > size - start) {
        return GpuResult::InvalidCall;
    }
    GpuState& target = RecordOrApply([&](StateBlockRecord& r) {
        for (uint32_t i = start; i < start + count; ++i) {
            if (vertex) {
                r.vertexConstants.set(i);
            } else {
                r.pixelConstants.set(i);
            }
        }
    });
    float(*registers)[4] = vertex ? target.vertexConstants : target.pixelConstants;
    std::copy(values, values + 4 * count, registers[start]);
    return GpuResult::Ok;
}

// ---- draws

GpuResult SoftwareDevice::Draw(GpuDrawCall& call, const uint8_t* userVertices,
                               uint32_t userStride) {
    if (recording_ || state_.declaration == nullptr || state_.renderTarget == nullptr) {
        return GpuResult::InvalidCall;
    }
    if (call.primitiveCount == 0) {
        return GpuResult::Ok;
    }
    auto* declaration = static_cast<SoftwareVertexDeclaration*>(state_.declaration);
    uint64_t needed = VertexCountOf(call.type, call.primitiveCount);

    // Vertices addressable in each stream the declaration reads.
    uint64_t available = UINT64_MAX;
    for (uint32_t s = 0; s < GpuStreamCount; ++s) {
        uint32_t extent = declaration->StreamExtent(s);
        if (extent == 0) {
            continue;
        }
        if (userVertices != nullptr) {
            if (s != 0 || userStride < extent) {
                return GpuResult::InvalidCall;
            }
            call.streamData[0] = userVertices;
            call.streamStride[0] = userStride;
            continue;
        }
        const GpuStreamBinding& binding = state_.streams[s];
        auto* buffer = static_cast<SoftwareVertexBuffer*>(binding.buffer);
        if (buffer == nullptr || binding.stride < extent || binding.offset > buffer->GetLength()) {
            return GpuResult::InvalidCall;
        }
        uint64_t bytes = buffer->GetLength() - binding.offset;
        uint64_t count = bytes < extent ? 0 : (bytes - extent) / binding.stride + 1;
        available = std::min(available, count);
        call.streamData[s] = buffer->Data() + binding.offset;
        call.streamStride[s] = binding.stride;
    }
    if (userVertices != nullptr) {
        available = needed;
    }

    if (!call.indexed) {
        if (call.startVertex + needed > available) {
            return GpuResult::InvalidCall;
        }
    } else {
        auto* indices = static_cast<SoftwareIndexBuffer*>(state_.indices);
        if (indices == nullptr || call.startIndex + needed > indices->IndexCount()) {
            return GpuResult::InvalidCall;
        }
        call.index32 = indices->GetFormat() == GpuFormat::Index32;
        call.indexData =
            indices->Data() + static_cast<size_t>(call.startIndex) * indices->IndexSize();
        // One pass over the indices keeps every vertex read inside the streams.
        for (uint64_t i = 0; i < needed; ++i) {
            const uint8_t* p = indices->Data() + (call.startIndex + i) * (call.index32 ? 4 : 2);
            const int64_t index = call.index32 ? ReadLittleEndian32(p) : ReadLittleEndian16(p);
            int64_t vertex = index + call.baseVertex;
            if (vertex < 0 || static_cast<uint64_t>(vertex) >= available) {
                return GpuResult::InvalidCall;
            }
        }
    }
    if (lost_) {
        return GpuResult::Ok;
    }
    if (rasterizer_) {
        rasterizer_->Draw(state_, call);
    }
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::DrawPrimitive(GpuPrimitiveType type, uint32_t startVertex,
                                        uint32_t primitiveCount) {
    GpuDrawCall call;
    call.type = type;
    call.primitiveCount = primitiveCount;
    call.startVertex = startVertex;
    call.vertexCount = static_cast<uint32_t>(VertexCountOf(type, primitiveCount));
    return Draw(call, nullptr, 0);
}

GpuResult SoftwareDevice::DrawIndexedPrimitive(GpuPrimitiveType type, int32_t baseVertex,
                                               uint32_t minIndex, uint32_t vertexCount,
                                               uint32_t startIndex, uint32_t primitiveCount) {
    (void)minIndex;
    GpuDrawCall call;
    call.type = type;
    call.primitiveCount = primitiveCount;
    call.indexed = true;
    call.baseVertex = baseVertex;
    call.startIndex = startIndex;
    call.vertexCount = vertexCount;
    return Draw(call, nullptr, 0);
}

GpuResult SoftwareDevice::DrawPrimitiveUP(GpuPrimitiveType type, uint32_t primitiveCount,
                                          const void* vertices, uint32_t stride) {
    if (vertices == nullptr || stride == 0) {
        return GpuResult::InvalidCall;
    }
    GpuDrawCall call;
    call.type = type;
    call.primitiveCount = primitiveCount;
    call.vertexCount = static_cast<uint32_t>(VertexCountOf(type, primitiveCount));
    GpuResult result = Draw(call, static_cast<const uint8_t*>(vertices), stride);
    if (result == GpuResult::Ok) {
        state_.streams[0] = {};
    }
    return result;
}

// ---- states

GpuResult SoftwareDevice::SetRenderState(GpuRenderState state, uint32_t value) {
    uint32_t i = static_cast<uint32_t>(state);
    if (i >= GpuRenderStateCount) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([i](StateBlockRecord& r) { r.renderStates.set(i); }).renderStates[i] = value;
    return GpuResult::Ok;
}

uint32_t SoftwareDevice::GetRenderState(GpuRenderState state) const {
    uint32_t i = static_cast<uint32_t>(state);
    return i < GpuRenderStateCount ? state_.renderStates[i] : 0;
}

GpuResult SoftwareDevice::SetTextureStageState(uint32_t stage, GpuStageState state,
                                               uint32_t value) {
    uint32_t i = static_cast<uint32_t>(state);
    if (stage >= GpuStageCount || i >= GpuStageStateCount) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([stage, i](StateBlockRecord& r) {
        r.stageStates[stage].set(i);
    }).stageStates[stage][i] = value;
    return GpuResult::Ok;
}

uint32_t SoftwareDevice::GetTextureStageState(uint32_t stage, GpuStageState state) const {
    uint32_t i = static_cast<uint32_t>(state);
    return stage < GpuStageCount && i < GpuStageStateCount ? state_.stageStates[stage][i] : 0;
}

GpuResult SoftwareDevice::SetSamplerState(uint32_t sampler, GpuSamplerState state, uint32_t value) {
    uint32_t i = static_cast<uint32_t>(state);
    if (sampler >= GpuSamplerCount || i >= GpuSamplerStateCount) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([sampler, i](StateBlockRecord& r) {
        r.samplerStates[sampler].set(i);
    }).samplerStates[sampler][i] = value;
    return GpuResult::Ok;
}

uint32_t SoftwareDevice::GetSamplerState(uint32_t sampler, GpuSamplerState state) const {
    uint32_t i = static_cast<uint32_t>(state);
    return sampler < GpuSamplerCount && i < GpuSamplerStateCount ? state_.samplerStates[sampler][i]
                                                                 : 0;
}

GpuResult SoftwareDevice::SetTransform(GpuTransform which, const Matrix4& matrix) {
    uint32_t i = static_cast<uint32_t>(which);
    if (i >= GpuTransformCount) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([i](StateBlockRecord& r) { r.transforms.set(i); }).transforms[i] = matrix;
    return GpuResult::Ok;
}

Matrix4 SoftwareDevice::GetTransform(GpuTransform which) const {
    uint32_t i = static_cast<uint32_t>(which);
    return i < GpuTransformCount ? state_.transforms[i] : Matrix4{};
}

GpuResult SoftwareDevice::SetMaterial(const GpuMaterial& material) {
    RecordOrApply([](StateBlockRecord& r) { r.material = true; }).material = material;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::SetLight(uint32_t index, const GpuLight& light) {
    if (index >= GpuMaxLights || light.type < GpuLightType::Point ||
        light.type > GpuLightType::Directional) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([index](StateBlockRecord& r) { r.lights.set(index); }).lights[index] = light;
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::GetLight(uint32_t index, GpuLight& out) const {
    if (index >= GpuMaxLights) {
        return GpuResult::InvalidCall;
    }
    out = state_.lights[index];
    return GpuResult::Ok;
}

GpuResult SoftwareDevice::LightEnable(uint32_t index, bool enable) {
    if (index >= GpuMaxLights || index >= caps_.maxActiveLights) {
        return GpuResult::InvalidCall;
    }
    RecordOrApply([index](StateBlockRecord& r) { r.lightEnables.set(index); }).lightEnabled[index] =
        enable;
    return GpuResult::Ok;
}

bool SoftwareDevice::GetLightEnable(uint32_t index) const {
    return index < GpuMaxLights && state_.lightEnabled[index];
}

GpuResult SoftwareDevice::BeginStateBlock() {
    if (recording_) {
        return GpuResult::InvalidCall;
    }
    recording_ = std::make_unique<StateBlockRecord>();
    return GpuResult::Ok;
}

std::unique_ptr<GpuStateBlock> SoftwareDevice::EndStateBlock() {
    if (!recording_) {
        return nullptr;
    }
    auto block = std::make_unique<StateBlock>(link_, *recording_);
    recording_.reset();
    stateBlocks_.push_back(block.get());
    return block;
}

} // namespace quarn
