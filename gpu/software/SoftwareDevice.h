#pragma once

// The GPU layer's software implementation: deterministic pixels in memory, device loss that
// tests can inject and capabilities they can lower.

#include "gpu/GpuState.h"
#include "gpu/software/ShaderMachine.h"
#include "gpu/software/SoftwareBuffers.h"
#include "gpu/software/SoftwareTexture.h"
#include "gpu/software/StateBlock.h"

#include <functional>
#include <memory>
#include <vector>

namespace quarn {

class SoftwareDevice;

// Lets objects that outlive their device find out: the device clears the pointer on destruction.
struct SoftwareDeviceLink {
    SoftwareDevice* device = nullptr;
};

class SoftwareDevice final : public GpuDevice {
public:
    // Receives the back buffer at Present (rects as given to Present, nullptr = whole).
    using PresentSink = std::function<void(const SoftwareSurface& backBuffer, const GpuRect* source,
                                           const GpuRect* dest)>;

    // Fails (returns nullptr) for a back buffer the capabilities refuse.
    static std::unique_ptr<SoftwareDevice> Create(const GpuPresentParameters& parameters,
                                                  const GpuCaps& caps = GpuCaps{},
                                                  const GpuDisplayMode& mode = GpuDisplayMode{});
    ~SoftwareDevice() override;

    // Draws go to the rasteriser: the software one, unless a test puts another in its place.
    void SetRasterizer(std::unique_ptr<GpuRasterizer> rasterizer);
    void SetPresentSink(PresentSink sink) { presentSink_ = std::move(sink); }
    // Tests lower capabilities before creating the objects that depend on them.
    GpuCaps& MutableCaps() { return caps_; }
    // Loses the device as a mode switch would: Present answers DeviceLost until Reset succeeds.
    void LoseDevice() { lost_ = true; }
    const GpuState& State() const { return state_; }
    bool IsRecording() const { return recording_ != nullptr; }
    // Default-pool objects and state blocks alive; Reset refuses while this is not zero.
    uint32_t ResetBlockers() const;

    const GpuCaps& GetCaps() const override { return caps_; }
    GpuDisplayMode GetDisplayMode() const override { return mode_; }
    bool CheckDeviceFormat(uint32_t usage, GpuResourceType type, GpuFormat format) const override;
    bool CheckDepthStencilMatch(GpuFormat renderTarget, GpuFormat depthStencil) const override;
    uint32_t GetAvailableTextureMem() const override { return caps_.availableTextureMemory; }

    GpuResult TestCooperativeLevel() const override;
    GpuResult Reset(const GpuPresentParameters& parameters) override;

    GpuResult BeginScene() override;
    GpuResult EndScene() override;
    GpuResult Present(const GpuRect* source, const GpuRect* dest,
                      GpuSurface* image = nullptr) override;
    GpuResult Clear(std::span<const GpuRect> rects, uint32_t flags, uint32_t color, float z,
                    uint32_t stencil) override;
    GpuResult SetViewport(const GpuViewport& viewport) override;
    GpuViewport GetViewport() const override { return state_.viewport; }
    GpuResult SetScissorRect(const GpuRect& rect) override;
    GpuRect GetScissorRect() const override { return state_.scissor; }

    GpuSurface* GetBackBuffer() override { return backBuffer_.get(); }
    GpuSurface* GetRenderTarget(uint32_t index) override;
    GpuResult SetRenderTarget(uint32_t index, GpuSurface* surface) override;
    std::unique_ptr<GpuSurface> CreateDepthStencilSurface(uint32_t width, uint32_t height,
                                                          GpuFormat format) override;
    std::unique_ptr<GpuSurface> CreateOffscreenPlainSurface(uint32_t width, uint32_t height,
                                                            GpuFormat format,
                                                            GpuPool pool) override;
    GpuResult SetDepthStencilSurface(GpuSurface* surface) override;
    GpuSurface* GetDepthStencilSurface() override { return state_.depthStencil; }
    GpuResult StretchRect(GpuSurface* source, const GpuRect* sourceRect, GpuSurface* dest,
                          const GpuRect* destRect) override;
    GpuResult GetRenderTargetData(GpuSurface* renderTarget, GpuSurface* dest) override;

    std::unique_ptr<GpuTexture> CreateTexture(uint32_t width, uint32_t height, uint32_t levels,
                                              uint32_t usage, GpuFormat format,
                                              GpuPool pool) override;
    std::unique_ptr<GpuTexture> CreateCubeTexture(uint32_t edge, uint32_t levels, uint32_t usage,
                                                  GpuFormat format, GpuPool pool) override;
    std::unique_ptr<GpuTexture> CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth,
                                                    uint32_t levels, uint32_t usage,
                                                    GpuFormat format, GpuPool pool) override;
    GpuResult SetTexture(uint32_t stage, GpuTexture* texture) override;
    GpuTexture* GetTexture(uint32_t stage) const override;

    std::unique_ptr<GpuVertexBuffer> CreateVertexBuffer(uint32_t length, uint32_t usage,
                                                        uint32_t fvf, GpuPool pool) override;
    std::unique_ptr<GpuIndexBuffer> CreateIndexBuffer(uint32_t length, uint32_t usage,
                                                      GpuFormat format, GpuPool pool) override;
    std::unique_ptr<GpuVertexDeclaration>
    CreateVertexDeclaration(std::span<const GpuVertexElement> elements) override;
    GpuResult SetVertexDeclaration(GpuVertexDeclaration* declaration) override;
    GpuVertexDeclaration* GetVertexDeclaration() const override { return state_.declaration; }
    GpuResult SetStreamSource(uint32_t stream, GpuVertexBuffer* buffer, uint32_t offset,
                              uint32_t stride) override;
    GpuResult SetIndices(GpuIndexBuffer* buffer) override;

    GpuResult DrawPrimitive(GpuPrimitiveType type, uint32_t startVertex,
                            uint32_t primitiveCount) override;
    GpuResult DrawIndexedPrimitive(GpuPrimitiveType type, int32_t baseVertex, uint32_t minIndex,
                                   uint32_t vertexCount, uint32_t startIndex,
                                   uint32_t primitiveCount) override;
    GpuResult DrawPrimitiveUP(GpuPrimitiveType type, uint32_t primitiveCount, const void* vertices,
                              uint32_t stride) override;

    GpuResult SetRenderState(GpuRenderState state, uint32_t value) override;
    uint32_t GetRenderState(GpuRenderState state) const override;
    GpuResult SetTextureStageState(uint32_t stage, GpuStageState state, uint32_t value) override;
    uint32_t GetTextureStageState(uint32_t stage, GpuStageState state) const override;
    GpuResult SetSamplerState(uint32_t sampler, GpuSamplerState state, uint32_t value) override;
    uint32_t GetSamplerState(uint32_t sampler, GpuSamplerState state) const override;
    GpuResult SetTransform(GpuTransform which, const Matrix4& matrix) override;
    Matrix4 GetTransform(GpuTransform which) const override;
    GpuResult SetMaterial(const GpuMaterial& material) override;
    GpuMaterial GetMaterial() const override { return state_.material; }
    GpuResult SetLight(uint32_t index, const GpuLight& light) override;
    GpuResult GetLight(uint32_t index, GpuLight& out) const override;
    GpuResult LightEnable(uint32_t index, bool enable) override;
    bool GetLightEnable(uint32_t index) const override;

    std::unique_ptr<GpuShader> CreateShader(GpuShaderKind kind, std::span<const uint8_t> stream,
                                            std::string& error) override;
    GpuResult SetVertexShader(GpuShader* shader) override;
    GpuResult SetPixelShader(GpuShader* shader) override;
    GpuShader* GetVertexShader() const override { return state_.vertexShader; }
    GpuShader* GetPixelShader() const override { return state_.pixelShader; }
    GpuResult SetShaderConstants(GpuShaderKind kind, uint32_t start, const float* values,
                                 uint32_t count) override;

    GpuResult BeginStateBlock() override;
    std::unique_ptr<GpuStateBlock> EndStateBlock() override;

    // Called by the objects as they die, so no binding or recorded state keeps them.
    void Forget(SoftwareSurface* surface);
    void Forget(SoftwareTexture* texture);
    void Forget(SoftwareVertexBuffer* buffer);
    void Forget(SoftwareIndexBuffer* buffer);
    void Forget(SoftwareVertexDeclaration* declaration);
    void Forget(StateBlock* block);
    void Forget(SoftwareShader* shader);
    void Created(GpuPool pool);

private:
    SoftwareDevice(const GpuCaps& caps, const GpuDisplayMode& mode);
    bool Setup(const GpuPresentParameters& parameters);
    bool TextureSizeAllowed(uint32_t width, uint32_t height, GpuFormat format) const;
    GpuResult Draw(GpuDrawCall& call, const uint8_t* userVertices, uint32_t userStride);
    void ForgetObject(const void* object);
    // The state a setter writes: while a state block records, the block's (and `mark` flags the
    // state as recorded there), otherwise the device's own.
    template <class Mark>
    GpuState& RecordOrApply(Mark mark) {
        if (!recording_) {
            return state_;
        }
        mark(*recording_);
        return recording_->values;
    }

    std::shared_ptr<SoftwareDeviceLink> link_;
    GpuCaps caps_;
    GpuDisplayMode mode_;
    GpuPresentParameters parameters_;
    GpuState state_;
    std::unique_ptr<SoftwareSurface> backBuffer_;
    std::unique_ptr<SoftwareSurface> autoDepthStencil_;
    std::unique_ptr<GpuRasterizer> rasterizer_;
    std::unique_ptr<StateBlockRecord> recording_;
    std::vector<StateBlock*> stateBlocks_;
    PresentSink presentSink_;
    bool presentFailureLogged_ = false;
    uint32_t defaultPoolObjects_ = 0;
    bool lost_ = false;
    bool inScene_ = false;
};

} // namespace quarn
