#pragma once

// The render device on the engine's GPU-layer interface; the implementation beneath is whichever
// the factory it is given makes.

#include "device/RenderDevice.h"
#include "gpu/GpuLayer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class GpuRenderDevice final : public RenderDevice {
public:
    // factory makes the layer device at the first Create; caps and mode describe the adapter it
    // is made on, and tests lower them.
    explicit GpuRenderDevice(GpuDeviceFactory factory, const GpuCaps& caps = GpuCaps{},
                             const GpuDisplayMode& mode = GpuDisplayMode{});
    ~GpuRenderDevice() override;

    // Further owners of default-pool objects. ResetDevice calls their releases in the order
    // added after the device meshes dropped their recorded state and before the dynamic vertex
    // and index data and the render-target textures let go of theirs, and their restores, in
    // the same order, after those came back; it stops at the first failed restore. The batch
    // store is emptied after any reset that re-made the device.
    void AddDeviceMemoryClient(std::function<void()> release, std::function<bool()> restore);

    // The GPU layer beneath, for the device objects made on it; null before the first Create.
    GpuDevice* Gpu();
    // A window-sized image that Present shows whole in place of the back buffer's present
    // rectangle; null: the back buffer again. The caller keeps it alive while set.
    void SetPresentImage(GpuSurface* image) { presentImage_ = image; }

    bool Create(uint32_t flags, SDL_Window* window, int32_t width, int32_t height) override;
    bool IsAvailable() override { return true; }
    const char* GetName() override { return "GpuLayer"; }
    const std::string& GetErrorText() override { return errorText_; }
    void SetErrorCallback(ErrorCallback callback) override { errorCallback_ = std::move(callback); }
    int32_t GetExtraInfo() override { return 0; }
    int32_t GetMaxTextureSize() override { return 2048; }
    DeviceState GetDeviceState() override { return state_; }
    uint32_t TestCreationFlags(uint32_t mask) override { return flags_ & mask; }
    bool ResetDevice() override;
    void FitBackBuffer(int32_t width, int32_t height) override;
    void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) override;
    Int2 GetViewportOrigin() override { return {viewportX_, viewportY_}; }
    Int2 GetViewportSize() override { return {viewportWidth_, viewportHeight_}; }
    bool BeginScene() override;
    bool EndScene() override;
    void SetPresentRectangle(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void Present() override;
    uint32_t GetFrameCount() override { return frameCount_; }
    bool Clear(uint32_t flags, uint32_t color) override;
    void SetRenderTarget(DeviceTexture* texture, bool useBackBuffer) override;
    std::unique_ptr<DeviceTexture> GetBackBuffer() override;
    void CopyBackBufferToTexture(DeviceTexture* texture) override;
    DeviceTexture* GetSceneTarget() override { return sceneTarget_.get(); }
    DeviceTexture* GetPreviousSceneTarget() override { return previousSceneTarget_.get(); }
    std::unique_ptr<DeviceTexture> CreateTexture() override;
    std::unique_ptr<VertexBuffer> CreateVertexData() override;
    std::unique_ptr<IndexBuffer> CreateIndexData() override;
    std::unique_ptr<DeviceMesh> CreateDeviceMesh() override;
    std::unique_ptr<Shader> CreateShader() override;
    void SetDefaultShader(Shader* shader) override;
    Shader* GetDefaultShader() override { return defaultShader_; }
    void SetDefaultShaderParameter(const Float4& parameter) override;
    Float4 GetDefaultShaderParameter() override { return defaultShaderParameter_; }
    void SetDefaultColor(uint32_t argb) override;
    uint32_t GetDefaultColor() override { return defaultColor_; }
    bool SetTexture(DeviceTexture* texture, uint32_t stage) override;
    bool AcceptValue(uint32_t) override { return true; }
    PixelFormat GetDisplayFormat() override;
    PixelFormat GetBackBufferFormat() override;
    uint32_t GetDepthBits() override { return depthBits_; }
    uint32_t GetStencilBits() override { return stencilBits_; }
    uint32_t GetAvailableTextureMemory() override;
    bool SupportsVertexShader(uint32_t major, uint32_t minor) override;
    bool SupportsPixelShader(uint32_t major, uint32_t minor) override;
    bool SupportsCubeMaps() override;
    void SetFogEnabled(bool enabled) override;
    bool IsFogEnabled() override;
    void SetLinearFog(uint32_t color, float start, float end) override;
    void SetExpFog(uint32_t color, float density) override;
    void SetExp2Fog(uint32_t color, float density) override;
    void EnableLight(uint32_t index, bool enable) override;
    void SetLightingEnabled(bool enabled) override;
    void SetLight(uint32_t index, const LightRecord& light) override;
    void GetLight(uint32_t index, LightRecord& out) override;
    uint32_t GetMaxActiveLights() override;
    void SetWorldMatrix(const Matrix4& matrix) override;
    void GetWorldMatrix(Matrix4& out) override { out = world_; }
    void SetCameraMatrix(const Matrix4& matrix) override;
    void GetCameraMatrix(Matrix4& out) override { out = camera_; }
    void GetViewMatrix(Matrix4& out) override { out = view_; }
    void SetPerspective(float fov, float aspect, float nearZ, float farZ) override;
    void SetProjectionMatrix(const Matrix4& matrix) override;
    void GetProjectionMatrix(Matrix4& out) override { out = projection_; }
    void GetViewProjectionMatrix(Matrix4& out) override { out = viewProjection_; }
    void GetCameraRotationMatrix(Matrix4& out) override { out = cameraRotation_; }
    void OverrideViewProjection(const Matrix4& view, const Matrix4& projection) override;
    void RestoreViewProjection() override;
    bool IsViewProjectionOverridden() override { return (applyFlags_ & 0x6) != 0x6; }
    void SetDepthBias(int32_t bias) override;
    int32_t GetDepthBias() override { return depthBias_; }
    RenderStatistics& GetRenderStatistics() override { return statistics_; }

private:
    struct DeviceMemoryClient {
        std::function<void()> release;
        std::function<bool()> restore;
    };

    const GpuCaps& Caps() const;
    void CreateSceneTargets(int32_t width, int32_t height);
    void CreateDepthStencil();
    void DropDepthStencil();
    void ApplyDefaultStates();
    void SetRender(GpuRenderState state, uint32_t value);
    void SetFog(uint32_t color, GpuFogMode mode);
    void ApplyTransform(uint32_t applyBit, GpuTransform which, const Matrix4& matrix);
    // Sets the projection's depth term from the unbiased one and the bias in force.
    void ApplyDepthBias();

    GpuDeviceFactory factory_;
    GpuCaps requestedCaps_;
    GpuDisplayMode mode_;
    std::unique_ptr<GpuDevice> gpu_;
    std::unique_ptr<GpuSurface> depthStencil_;
    std::unique_ptr<DeviceTexture> sceneTarget_;
    std::unique_ptr<DeviceTexture> previousSceneTarget_;
    std::vector<DeviceMemoryClient> memoryClients_;
    std::string errorText_;
    SDL_Window* window_ = nullptr;
    GpuFormat displayFormat_ = GpuFormat::Unknown;
    GpuFormat backBufferFormat_ = GpuFormat::Unknown;
    uint32_t flags_ = 0;
    DeviceState state_ = DeviceState::NotCreated;
    // The back buffer the last Create asked for, and the one the next reset makes when larger
    // than today's ((0, 0) for none).
    Int2 askedBackBuffer_;
    Int2 wantedBackBuffer_;
    uint32_t backBufferCount_ = 0;
    Matrix4 world_;
    Matrix4 camera_;
    Matrix4 view_;
    Matrix4 projection_;
    Matrix4 viewProjection_;
    Matrix4 cameraRotation_;
    float unbiasedDepth_ = 0.0f;
    int32_t depthBias_ = 0;
    int32_t viewportX_ = 0;
    int32_t viewportY_ = 0;
    int32_t viewportWidth_ = 0;
    int32_t viewportHeight_ = 0;
    GpuSurface* presentImage_ = nullptr;
    GpuRect presentRect_; // left, top, right, bottom of the window area Present fills
    int32_t ambientLight_ = -1;
    uint32_t depthBits_ = 0;
    uint32_t stencilBits_ = 0;
    GpuMaterial defaultMaterial_;
    Shader* defaultShader_ = nullptr;
    Float4 defaultShaderParameter_;
    uint32_t defaultColor_ = 0xFFFFFFFF;
    uint32_t frameCount_ = 0;
    LightRecord lights_[LightCount];
    // Bit 0 world, bit 1 view, bit 2 projection: a set bit makes the setter reach the device.
    uint32_t applyFlags_ = 7;
    RenderStatistics statistics_;
};

} // namespace quarn
