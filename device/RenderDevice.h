#pragma once

// The one interface through which the engine reaches the graphics device: creation on the main
// window, the frame bracket, clears, viewports, targets, the fixed-function transform, fog and
// light state, capability queries and the per-frame statistics. One instance lives for the run
// and is reached through TheRenderDevice().

#include "core/debug/ErrorCallback.h"
#include "core/math/Matrix4.h"
#include "core/math/Vector.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct SDL_Window;

namespace quarn {

class DeviceMesh;
class DeviceTexture;
class IndexBuffer;
class Shader;
class VertexBuffer;
enum class PixelFormat : int32_t;

// Creation flags given to RenderDevice::Create.
inline constexpr uint32_t DeviceFullScreen = 0x1;
inline constexpr uint32_t DeviceDepthStencil = 0x2;
// With DeviceDepthStencil: also try the formats with stencil; otherwise the search skips them.
inline constexpr uint32_t DeviceDepthSearchAll = 0x4;
inline constexpr uint32_t DeviceTwoBackBuffers = 0x8;
inline constexpr uint32_t DevicePow2DepthAndSceneTargets = 0x20;
// Screenshots read the back buffer, so it must be lockable.
inline constexpr uint32_t DeviceLockableBackBuffer = 0x40;
inline constexpr uint32_t DeviceVerticalSync = 0x80;
inline constexpr uint32_t DeviceArgbBackBuffer = 0x100;
inline constexpr uint32_t DeviceFpuPreserve = 0x200;
inline constexpr uint32_t DeviceWideSceneTargets = 0x400;

// Clear bits, as RenderDevice::Clear takes them.
inline constexpr uint32_t DeviceClearTarget = 0x1;
inline constexpr uint32_t DeviceClearDepth = 0x2;
inline constexpr uint32_t DeviceClearStencil = 0x4;

enum class DeviceState : uint32_t { NotCreated = 0, Ready = 1, Lost = 2 };

inline constexpr uint32_t LightCount = 8;

enum class LightType : uint32_t { Point = 0, Spot = 1, Directional = 2, Ambient = 3 };

inline constexpr uint32_t LightDiffuse = 0x1;
inline constexpr uint32_t LightSpecular = 0x2;

struct LightRecord {
    uint32_t type = 0;  // LightType
    uint32_t color = 0; // 0xAARRGGBB; alpha is ignored
    uint32_t flags = 0; // LightDiffuse | LightSpecular
    float strength = 0; // point and spot: distance scale of the attenuation; directional: intensity
    float coneAngle = 0; // spot: full cone angle in degrees
    Float3 position;
    Float3 direction;
};

// Counters zeroed at every BeginScene, in the order the statistics display lists them.
struct RenderStatistics {
    uint32_t numStateBlocksCreated = 0;
    uint32_t numStateBlocksApplied = 0;
    uint32_t numModelsRendered = 0;
    uint32_t numPrimitivesRendered = 0;
    uint32_t numShadedModelsRendered = 0;
    uint32_t numStaticBatchesRendered = 0;
    uint32_t numDynamicBatchesRendered = 0;
    uint32_t numModelsInHighlightedBatch = 0;
    uint32_t numDeclarationUpdates = 0;
    uint32_t numSubmeshUpdates = 0;
};
inline constexpr uint32_t RenderStatisticCount = 10;
// Display names of the counters, in member order.
extern const char* const RenderStatisticNames[RenderStatisticCount];

// Told that every reference to the texture object with id `oldId` must now name `replacement`.
using TextureReplaceListener = std::function<void(uint64_t oldId, DeviceTexture* replacement)>;

class RenderDevice {
public:
    RenderDevice();
    virtual ~RenderDevice();
    RenderDevice(const RenderDevice&) = delete;
    RenderDevice& operator=(const RenderDevice&) = delete;

    // A number no other device of this run has had: holders of device objects tell a new
    // device from an old one by it, as a new device may take a deleted one's address.
    uint64_t GetSerial() const { return serial_; }

    // Creates the device, or resets it when one exists. window may be null (headless).
    virtual bool Create(uint32_t flags, SDL_Window* window, int32_t width, int32_t height) = 0;
    virtual bool IsAvailable() = 0;
    virtual const char* GetName() = 0;
    // Why the last Create failed; empty before any failure.
    virtual const std::string& GetErrorText() = 0;
    virtual void SetErrorCallback(ErrorCallback callback) = 0;
    virtual int32_t GetExtraInfo() = 0;
    virtual int32_t GetMaxTextureSize() = 0;
    virtual DeviceState GetDeviceState() = 0;
    virtual uint32_t TestCreationFlags(uint32_t mask) = 0;
    // Brings a lost device back; false while it is still lost (the frame is then skipped).
    virtual bool ResetDevice() = 0;
    // A view of this size is to be drawn. A back buffer too small for it could show only part
    // of the view: the device counts as lost, and the reset that brings it back gives it a back
    // buffer that holds the view.
    virtual void FitBackBuffer(int32_t width, int32_t height) = 0;
    virtual void SetViewport(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual Int2 GetViewportOrigin() = 0;
    virtual Int2 GetViewportSize() = 0;
    virtual bool BeginScene() = 0;
    virtual bool EndScene() = 0;
    virtual void SetPresentRectangle(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual void Present() = 0;
    virtual uint32_t GetFrameCount() = 0;
    virtual bool Clear(uint32_t flags, uint32_t color) = 0;
    // Null stands for the scene target, or the back buffer when there is none; useBackBuffer
    // forces the back buffer.
    virtual void SetRenderTarget(DeviceTexture* texture, bool useBackBuffer) = 0;
    // A new texture object wrapping the back buffer; null without a device.
    virtual std::unique_ptr<DeviceTexture> GetBackBuffer() = 0;
    // The viewport's part of the back buffer into the texture's top level, point filtered.
    virtual void CopyBackBufferToTexture(DeviceTexture* texture) = 0;
    virtual DeviceTexture* GetSceneTarget() = 0;
    virtual DeviceTexture* GetPreviousSceneTarget() = 0;
    // The factories answer null before the device is created.
    virtual std::unique_ptr<DeviceTexture> CreateTexture() = 0;
    virtual std::unique_ptr<VertexBuffer> CreateVertexData() = 0;
    virtual std::unique_ptr<IndexBuffer> CreateIndexData() = 0;
    virtual std::unique_ptr<DeviceMesh> CreateDeviceMesh() = 0;
    virtual std::unique_ptr<Shader> CreateShader() = 0;
    // Device meshes without a shader of their own draw with this one, its parameter and colour;
    // each setter makes every mesh record its state afresh.
    virtual void SetDefaultShader(Shader* shader) = 0;
    virtual Shader* GetDefaultShader() = 0;
    virtual void SetDefaultShaderParameter(const Float4& parameter) = 0;
    virtual Float4 GetDefaultShaderParameter() = 0;
    virtual void SetDefaultColor(uint32_t argb) = 0;
    virtual uint32_t GetDefaultColor() = 0;
    virtual bool SetTexture(DeviceTexture* texture, uint32_t stage) = 0;
    virtual bool AcceptValue(uint32_t value) = 0;
    // PixelFormat::Unknown when there is none.
    virtual PixelFormat GetDisplayFormat() = 0;
    virtual PixelFormat GetBackBufferFormat() = 0;
    virtual uint32_t GetDepthBits() = 0;
    virtual uint32_t GetStencilBits() = 0;
    virtual uint32_t GetAvailableTextureMemory() = 0;
    virtual bool SupportsVertexShader(uint32_t major, uint32_t minor) = 0;
    virtual bool SupportsPixelShader(uint32_t major, uint32_t minor) = 0;
    virtual bool SupportsCubeMaps() = 0;
    // None of the fog setters turns fog on.
    virtual void SetFogEnabled(bool enabled) = 0;
    virtual bool IsFogEnabled() = 0;
    virtual void SetLinearFog(uint32_t color, float start, float end) = 0;
    virtual void SetExpFog(uint32_t color, float density) = 0;
    virtual void SetExp2Fog(uint32_t color, float density) = 0;
    virtual void EnableLight(uint32_t index, bool enable) = 0;
    virtual void SetLightingEnabled(bool enabled) = 0;
    virtual void SetLight(uint32_t index, const LightRecord& light) = 0;
    // Indexes past the last record leave out untouched.
    virtual void GetLight(uint32_t index, LightRecord& out) = 0;
    virtual uint32_t GetMaxActiveLights() = 0;
    // Matrices are row-major and used with row vectors.
    virtual void SetWorldMatrix(const Matrix4& matrix) = 0;
    virtual void GetWorldMatrix(Matrix4& out) = 0;
    virtual void SetCameraMatrix(const Matrix4& matrix) = 0;
    virtual void GetCameraMatrix(Matrix4& out) = 0;
    virtual void GetViewMatrix(Matrix4& out) = 0;
    // fov in degrees, across the width.
    virtual void SetPerspective(float fov, float aspect, float nearZ, float farZ) = 0;
    virtual void SetProjectionMatrix(const Matrix4& matrix) = 0;
    virtual void GetProjectionMatrix(Matrix4& out) = 0;
    virtual void GetViewProjectionMatrix(Matrix4& out) = 0;
    virtual void GetCameraRotationMatrix(Matrix4& out) = 0;
    // Hands the device other matrices without touching the stored ones, for screen-space draws.
    virtual void OverrideViewProjection(const Matrix4& view, const Matrix4& projection) = 0;
    virtual void RestoreViewProjection() = 0;
    // Between OverrideViewProjection and RestoreViewProjection.
    virtual bool IsViewProjectionOverridden() = 0;
    // Scales the projection's depth term by 1 + 0.002 x bias. A new projection keeps the bias in
    // force, so GetDepthBias always describes the projection the device uses.
    virtual void SetDepthBias(int32_t bias) = 0;
    virtual int32_t GetDepthBias() = 0;
    virtual RenderStatistics& GetRenderStatistics() = 0;

    // Hands text to the installed error callback; without one the text is dropped.
    void ReportError(const char* text) const;

    // A reloaded texture resource re-points every device mesh layer and every listener from its
    // old object, usually deleted by then, to its new one.
    void AddTextureReplaceListener(TextureReplaceListener listener);
    void ReplaceTexture(uint64_t oldId, DeviceTexture* replacement);

protected:
    ErrorCallback errorCallback_;

private:
    static inline uint64_t lastSerial_ = 0;
    uint64_t serial_ = ++lastSerial_;
    std::vector<TextureReplaceListener> textureReplaceListeners_;
};

// The device of the run, or null before one is made and after it is gone.
RenderDevice* TheRenderDevice();

} // namespace quarn
