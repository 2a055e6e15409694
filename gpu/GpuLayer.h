#pragma once

// The engine's GPU layer: a small device interface of our own, shaped by what the render device
// calls. Words are uint32_t throughout; objects are owned by whoever created them (no reference
// counts). Destroying an object unbinds it from the device, so no binding ever dangles.

#include "core/math/Matrix4.h"
#include "gpu/ShaderProgram.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

struct SDL_Window;

namespace quarn {

enum class GpuResult : uint32_t {
    Ok,
    InvalidCall,
    OutOfVideoMemory,
    NotAvailable,
    DeviceLost,     // lost and not yet resettable
    DeviceNotReset, // lost; Reset may now be called
};

enum class GpuFormat : uint32_t {
    Unknown,
    A8R8G8B8,
    X8R8G8B8,
    R8G8B8,
    R5G6B5,
    X1R5G5B5,
    A1R5G5B5,
    A4R4G4B4,
    X4R4G4B4,
    Dxt1,
    Dxt2,
    Dxt3,
    Dxt4,
    Dxt5,
    A16B16G16R16F,
    A16B16G16R16,
    D24S8,
    D24X4S4,
    D15S1,
    D32,
    D24X8,
    D16,
    Index16,
    Index32,
};

enum class GpuPool : uint32_t { Default, Managed, SystemMem };

// Usage bits for resources.
inline constexpr uint32_t GpuUsageRenderTarget = 0x1;
inline constexpr uint32_t GpuUsageDepthStencil = 0x2;
inline constexpr uint32_t GpuUsageDynamic = 0x200;
inline constexpr uint32_t GpuUsageWriteOnly = 0x8;

// Lock bits.
inline constexpr uint32_t GpuLockReadOnly = 0x10;
inline constexpr uint32_t GpuLockDiscard = 0x2000;
inline constexpr uint32_t GpuLockNoOverwrite = 0x1000;

// Clear bits.
inline constexpr uint32_t GpuClearTarget = 0x1;
inline constexpr uint32_t GpuClearZBuffer = 0x2;
inline constexpr uint32_t GpuClearStencil = 0x4;

enum class GpuResourceType : uint32_t { Surface, Texture, CubeTexture, VolumeTexture };

enum class GpuCubeFace : uint32_t {
    PositiveX,
    NegativeX,
    PositiveY,
    NegativeY,
    PositiveZ,
    NegativeZ
};
inline constexpr uint32_t GpuCubeFaceCount = 6;

struct GpuRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
};

struct GpuColor {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    float a = 0.0f;
};

struct GpuVector {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Packs a colour the way vertex colours and colour states store it: 0xAARRGGBB.
constexpr uint32_t GpuArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
    return ((a & 0xFF) << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

struct GpuCaps {
    uint32_t maxTextureWidth = 4096;
    uint32_t maxTextureHeight = 4096;
    uint32_t maxVolumeExtent = 256;
    uint32_t maxActiveLights = 8;
    // 0xFFFF or less means the engine must use 16-bit indices.
    uint32_t maxVertexIndex = 0xFFFFFF;
    uint32_t maxStreams = 2;
    uint32_t maxTextureBlendStages = 8;
    uint32_t maxSimultaneousTextures = 4;
    // Most stencil bits any depth format may offer; lowering it refuses D24S8 and friends.
    uint32_t maxStencilBits = 8;
    bool cubeMaps = true;
    bool volumeMaps = true;
    bool hardwareTransformAndLighting = true;
    // Version words: (major << 8) | minor. The 2.0 figures are the least the render device's
    // pixel-program check asks for: the decoder takes every temporary and any program length,
    // and post-processing needs the check to pass.
    uint32_t vertexShaderVersion = 0x0200;
    uint32_t pixelShaderVersion = 0x0200;
    uint32_t ps20DynamicFlowControlDepth = 24;
    uint32_t ps20NumTemps = GpuPixelTempCount;
    uint32_t ps20StaticFlowControlDepth = 4;
    uint32_t ps20NumInstructionSlots = 256;
    // Bit 0: immediate; bit 1: one vertical blank.
    uint32_t presentationIntervals = 0x3;
    uint32_t availableTextureMemory = 256u * 1024u * 1024u;
};

struct GpuDisplayMode {
    uint32_t width = 1024;
    uint32_t height = 768;
    uint32_t refreshRate = 60;
    GpuFormat format = GpuFormat::X8R8G8B8;
};

struct GpuPresentParameters {
    uint32_t backBufferWidth = 0;  // 0 = display mode width
    uint32_t backBufferHeight = 0; // 0 = display mode height
    GpuFormat backBufferFormat = GpuFormat::X8R8G8B8;
    bool windowed = true;
    bool lockableBackBuffer = false;
    bool enableAutoDepthStencil = false;
    GpuFormat autoDepthStencilFormat = GpuFormat::D24S8;
    uint32_t presentationInterval = 0;
    // Where Present shows the back buffer; nullptr = nowhere, as when headless. It must outlive
    // the device or be replaced by a Reset first.
    SDL_Window* window = nullptr;
};

struct GpuSurfaceDesc {
    GpuFormat format = GpuFormat::Unknown;
    GpuResourceType type = GpuResourceType::Surface;
    uint32_t usage = 0;
    GpuPool pool = GpuPool::Default;
    uint32_t width = 0;
    uint32_t height = 0;
};

// For block formats, bits points at the first 4x4 block and pitch is the byte size of one row
// of blocks.
struct GpuLockedRect {
    int32_t pitch = 0;
    void* bits = nullptr;
};

struct GpuLockedBox {
    int32_t rowPitch = 0;
    int32_t slicePitch = 0;
    void* bits = nullptr;
};

struct GpuViewport {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    float minZ = 0.0f;
    float maxZ = 1.0f;
};

enum class GpuLightType : uint32_t { Point = 1, Spot = 2, Directional = 3 };

struct GpuLight {
    GpuLightType type = GpuLightType::Directional;
    GpuColor diffuse{1.0f, 1.0f, 1.0f, 0.0f};
    GpuColor specular;
    GpuColor ambient;
    GpuVector position;
    GpuVector direction{0.0f, 0.0f, 1.0f};
    float range = 0.0f;
    float falloff = 0.0f;
    float attenuation0 = 0.0f;
    float attenuation1 = 0.0f;
    float attenuation2 = 0.0f;
    float theta = 0.0f; // inner cone angle, radians
    float phi = 0.0f;   // outer cone angle, radians
};

struct GpuMaterial {
    GpuColor diffuse;
    GpuColor ambient;
    GpuColor specular;
    GpuColor emissive;
    float power = 0.0f;
};

enum class GpuPrimitiveType : uint32_t { LineList, LineStrip, TriangleList, TriangleStrip };

enum class GpuTransform : uint32_t {
    World,
    View,
    Projection,
    Texture0,
    Texture1,
    Texture2,
    Texture3,
    Texture4,
    Texture5,
    Texture6,
    Texture7,
};
inline constexpr uint32_t GpuTransformCount = 11;

// Render states. Values are uint32_t words; float states hold the float's bits (std::bit_cast).
enum class GpuRenderState : uint32_t {
    ZEnable,                // bool, default true when a depth surface is set at creation
    FillMode,               // GpuFillMode, default Solid
    ZWriteEnable,           // bool, default true
    AlphaTestEnable,        // bool, default false
    LastPixel,              // bool, default true
    SrcBlend,               // GpuBlend, default One
    DestBlend,              // GpuBlend, default Zero
    CullMode,               // GpuCull, default Cw
    ZFunc,                  // GpuCompare, default LessEqual
    AlphaRef,               // 0..255, default 0
    AlphaFunc,              // GpuCompare, default Always
    DitherEnable,           // bool, default false
    AlphaBlendEnable,       // bool, default false
    FogEnable,              // bool, default false
    SpecularEnable,         // bool, default false
    FogColor,               // ARGB, default 0
    FogTableMode,           // GpuFogMode, default None (vertex fog)
    FogStart,               // float, default 0
    FogEnd,                 // float, default 1
    FogDensity,             // float, default 1
    RangeFogEnable,         // bool, default false
    StencilEnable,          // bool, default false
    StencilFail,            // GpuStencilOp, default Keep
    StencilZFail,           // GpuStencilOp, default Keep
    StencilPass,            // GpuStencilOp, default Keep
    StencilFunc,            // GpuCompare, default Always
    StencilRef,             // default 0
    StencilMask,            // default 0xFFFFFFFF
    StencilWriteMask,       // default 0xFFFFFFFF
    TextureFactor,          // ARGB, default 0xFFFFFFFF
    Lighting,               // bool, default true
    Ambient,                // ARGB, default 0
    FogVertexMode,          // GpuFogMode, default None
    ColorVertex,            // bool, default true
    LocalViewer,            // bool, default true
    NormalizeNormals,       // bool, default false
    DiffuseMaterialSource,  // GpuMaterialSource, default Color1
    SpecularMaterialSource, // GpuMaterialSource, default Color2
    AmbientMaterialSource,  // GpuMaterialSource, default Material
    EmissiveMaterialSource, // GpuMaterialSource, default Material
    ColorWriteEnable,       // GpuColorWrite bits, default all four
    BlendOp,                // GpuBlendOp, default Add
    DepthBias,              // float, default 0
    SlopeScaleDepthBias,    // float, default 0
    ScissorTestEnable,      // bool, default false; draws only, clears ignore it
};
inline constexpr uint32_t GpuRenderStateCount = 45;

enum class GpuFillMode : uint32_t { Point = 1, Wireframe = 2, Solid = 3 };
enum class GpuCull : uint32_t { None = 1, Cw = 2, Ccw = 3 };
enum class GpuCompare : uint32_t {
    Never = 1,
    Less,
    Equal,
    LessEqual,
    Greater,
    NotEqual,
    GreaterEqual,
    Always,
};
enum class GpuBlend : uint32_t {
    Zero = 1,
    One,
    SrcColor,
    InvSrcColor,
    SrcAlpha,
    InvSrcAlpha,
    DestAlpha,
    InvDestAlpha,
    DestColor,
    InvDestColor,
};
// Min and Max ignore the blend factors.
enum class GpuBlendOp : uint32_t { Add = 1, Subtract, RevSubtract, Min, Max };
// Incr and Decr wrap; the Sat variants clamp.
enum class GpuStencilOp : uint32_t {
    Keep = 1,
    Zero,
    Replace,
    IncrSat,
    DecrSat,
    Invert,
    Incr,
    Decr,
};
enum class GpuFogMode : uint32_t { None, Exp, Exp2, Linear };
enum class GpuMaterialSource : uint32_t { Material, Color1, Color2 };

inline constexpr uint32_t GpuColorWriteRed = 0x1;
inline constexpr uint32_t GpuColorWriteGreen = 0x2;
inline constexpr uint32_t GpuColorWriteBlue = 0x4;
inline constexpr uint32_t GpuColorWriteAlpha = 0x8;

// Texture-stage states.
enum class GpuStageState : uint32_t {
    ColorOp,               // GpuTextureOp; stage 0 Modulate, others Disable
    ColorArg1,             // GpuTextureArg, default Texture
    ColorArg2,             // GpuTextureArg, default Current
    AlphaOp,               // GpuTextureOp; stage 0 SelectArg1, others Disable
    AlphaArg1,             // GpuTextureArg, default Texture
    AlphaArg2,             // GpuTextureArg, default Current
    TexCoordIndex,         // index in the low 16 bits, optionally | GpuTexGenCameraSpaceReflection
    TextureTransformFlags, // GpuTextureTransformFlags, default Disable
};
inline constexpr uint32_t GpuStageStateCount = 8;
// At least five: the device mesh disables the stage after its fourth layer.
inline constexpr uint32_t GpuStageCount = 8;

enum class GpuTextureOp : uint32_t {
    Disable = 1,
    SelectArg1,
    SelectArg2,
    Modulate,
    Add,
    AddSigned,
    Subtract,
};
enum class GpuTextureArg : uint32_t { Diffuse, Current, Texture, TFactor, Specular };
inline constexpr uint32_t GpuTexGenCameraSpaceReflection = 0x30000;
enum class GpuTextureTransformFlags : uint32_t { Disable, Count1, Count2, Count3, Count4 };

// Sampler states.
enum class GpuSamplerState : uint32_t {
    AddressU,  // GpuAddress, default Wrap
    AddressV,  // GpuAddress, default Wrap
    AddressW,  // GpuAddress, default Wrap
    MagFilter, // GpuFilter, default Point
    MinFilter, // GpuFilter, default Point
    MipFilter, // GpuFilter, default None
};
inline constexpr uint32_t GpuSamplerStateCount = 6;
inline constexpr uint32_t GpuSamplerCount = 8;

enum class GpuAddress : uint32_t { Wrap = 1, Clamp = 3 };
enum class GpuFilter : uint32_t { None, Point, Linear };

// Vertex declarations.
enum class GpuDeclType : uint32_t { Float1, Float2, Float3, Float4, Color, Unused };
enum class GpuDeclUsage : uint32_t {
    Position,
    BlendWeight,
    Normal,
    TexCoord,
    PositionT, // already in screen space: x, y in pixels, z depth, w = 1/w
    Color,
};

struct GpuVertexElement {
    uint32_t stream = 0;
    uint32_t offset = 0;
    GpuDeclType type = GpuDeclType::Float3;
    GpuDeclUsage usage = GpuDeclUsage::Position;
    uint32_t usageIndex = 0;
};
inline constexpr uint32_t GpuStreamCount = 2;
inline constexpr uint32_t GpuMaxVertexElements = 16;
inline constexpr uint32_t GpuMaxLights = 8;

class GpuDevice;

class GpuSurface {
public:
    virtual ~GpuSurface() = default;
    virtual GpuSurfaceDesc GetDesc() const = 0;
    // rect nullptr locks the whole surface. A surface may be locked once at a time.
    virtual GpuResult LockRect(GpuLockedRect& out, const GpuRect* rect, uint32_t flags) = 0;
    virtual GpuResult UnlockRect() = 0;
};

// A 2D texture, a cube map or a volume. Levels count from 0 (the largest).
class GpuTexture {
public:
    virtual ~GpuTexture() = default;
    virtual GpuResourceType GetType() const = 0;
    virtual uint32_t GetLevelCount() const = 0;
    virtual GpuSurfaceDesc GetLevelDesc(uint32_t level) const = 0;
    // Depth of a volume level; 1 otherwise.
    virtual uint32_t GetLevelDepth(uint32_t level) const = 0;
    // face is ignored for 2D textures. The surface belongs to the texture.
    virtual GpuSurface* GetSurface(uint32_t level, GpuCubeFace face) = 0;
    virtual GpuResult LockRect(uint32_t level, GpuCubeFace face, GpuLockedRect& out,
                               const GpuRect* rect, uint32_t flags) = 0;
    virtual GpuResult UnlockRect(uint32_t level, GpuCubeFace face) = 0;
    // Volumes only.
    virtual GpuResult LockBox(uint32_t level, GpuLockedBox& out, uint32_t flags) = 0;
    virtual GpuResult UnlockBox(uint32_t level) = 0;
};

class GpuVertexBuffer {
public:
    virtual ~GpuVertexBuffer() = default;
    virtual uint32_t GetLength() const = 0;
    virtual uint32_t GetUsage() const = 0;
    virtual GpuPool GetPool() const = 0;
    // size 0 locks from offset to the end.
    virtual GpuResult Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags) = 0;
    virtual GpuResult Unlock() = 0;
};

class GpuIndexBuffer {
public:
    virtual ~GpuIndexBuffer() = default;
    virtual uint32_t GetLength() const = 0;
    virtual GpuFormat GetFormat() const = 0; // Index16 or Index32
    virtual uint32_t GetUsage() const = 0;
    virtual GpuPool GetPool() const = 0;
    virtual GpuResult Lock(uint32_t offset, uint32_t size, void*& out, uint32_t flags) = 0;
    virtual GpuResult Unlock() = 0;
};

class GpuVertexDeclaration {
public:
    virtual ~GpuVertexDeclaration() = default;
    virtual std::span<const GpuVertexElement> GetElements() const = 0;
};

// A decoded vertex or pixel program.
class GpuShader {
public:
    virtual ~GpuShader() = default;
    virtual GpuShaderKind GetKind() const = 0;
    // The stream's words, version through end token.
    virtual std::span<const uint32_t> GetTokens() const = 0;
};

class GpuStateBlock {
public:
    virtual ~GpuStateBlock() = default;
    virtual GpuResult Apply() = 0;
};

class GpuDevice {
public:
    virtual ~GpuDevice() = default;

    // Capabilities and formats.
    virtual const GpuCaps& GetCaps() const = 0;
    virtual GpuDisplayMode GetDisplayMode() const = 0;
    virtual bool CheckDeviceFormat(uint32_t usage, GpuResourceType type,
                                   GpuFormat format) const = 0;
    virtual bool CheckDepthStencilMatch(GpuFormat renderTarget, GpuFormat depthStencil) const = 0;
    virtual uint32_t GetAvailableTextureMem() const = 0;

    // Loss and reset. Reset fails while any default-pool object or state block lives.
    virtual GpuResult TestCooperativeLevel() const = 0;
    virtual GpuResult Reset(const GpuPresentParameters& parameters) = 0;

    // Frame.
    virtual GpuResult BeginScene() = 0;
    virtual GpuResult EndScene() = 0;
    // Rects nullptr = whole image / whole window. The image is the back buffer unless another
    // colour surface of the device is named; the back buffer keeps its contents.
    virtual GpuResult Present(const GpuRect* source, const GpuRect* dest,
                              GpuSurface* image = nullptr) = 0;
    // rects empty clears the whole viewport; rects are clipped to the viewport.
    virtual GpuResult Clear(std::span<const GpuRect> rects, uint32_t flags, uint32_t color, float z,
                            uint32_t stencil) = 0;
    virtual GpuResult SetViewport(const GpuViewport& viewport) = 0;
    virtual GpuViewport GetViewport() const = 0;
    // Draws touch only pixels inside it while ScissorTestEnable is on; it is clipped to the
    // target at draw time, and a target change resets it to the whole target.
    virtual GpuResult SetScissorRect(const GpuRect& rect) = 0;
    virtual GpuRect GetScissorRect() const = 0;

    // Surfaces and targets. Returned pointers are owned by the device or the texture.
    virtual GpuSurface* GetBackBuffer() = 0;
    virtual GpuSurface* GetRenderTarget(uint32_t index) = 0;
    // Also resets the viewport to the whole target, as a target change does.
    virtual GpuResult SetRenderTarget(uint32_t index, GpuSurface* surface) = 0;
    virtual std::unique_ptr<GpuSurface> CreateDepthStencilSurface(uint32_t width, uint32_t height,
                                                                  GpuFormat format) = 0;
    virtual std::unique_ptr<GpuSurface> CreateOffscreenPlainSurface(uint32_t width, uint32_t height,
                                                                    GpuFormat format,
                                                                    GpuPool pool) = 0;
    virtual GpuResult SetDepthStencilSurface(GpuSurface* surface) = 0;
    virtual GpuSurface* GetDepthStencilSurface() = 0;
    // Point-filtered copy between colour surfaces; rects nullptr = whole surface.
    virtual GpuResult StretchRect(GpuSurface* source, const GpuRect* sourceRect, GpuSurface* dest,
                                  const GpuRect* destRect) = 0;
    // dest must be a system-memory surface of the same size and format.
    virtual GpuResult GetRenderTargetData(GpuSurface* renderTarget, GpuSurface* dest) = 0;

    // Textures. levels 0 = the full chain down to 1x1.
    virtual std::unique_ptr<GpuTexture> CreateTexture(uint32_t width, uint32_t height,
                                                      uint32_t levels, uint32_t usage,
                                                      GpuFormat format, GpuPool pool) = 0;
    virtual std::unique_ptr<GpuTexture> CreateCubeTexture(uint32_t edge, uint32_t levels,
                                                          uint32_t usage, GpuFormat format,
                                                          GpuPool pool) = 0;
    virtual std::unique_ptr<GpuTexture> CreateVolumeTexture(uint32_t width, uint32_t height,
                                                            uint32_t depth, uint32_t levels,
                                                            uint32_t usage, GpuFormat format,
                                                            GpuPool pool) = 0;
    virtual GpuResult SetTexture(uint32_t stage, GpuTexture* texture) = 0;
    virtual GpuTexture* GetTexture(uint32_t stage) const = 0;

    // Geometry. fvf is kept for the record only; draws read the declaration.
    virtual std::unique_ptr<GpuVertexBuffer> CreateVertexBuffer(uint32_t length, uint32_t usage,
                                                                uint32_t fvf, GpuPool pool) = 0;
    virtual std::unique_ptr<GpuIndexBuffer> CreateIndexBuffer(uint32_t length, uint32_t usage,
                                                              GpuFormat format, GpuPool pool) = 0;
    virtual std::unique_ptr<GpuVertexDeclaration>
    CreateVertexDeclaration(std::span<const GpuVertexElement> elements) = 0;
    virtual GpuResult SetVertexDeclaration(GpuVertexDeclaration* declaration) = 0;
    virtual GpuVertexDeclaration* GetVertexDeclaration() const = 0;
    virtual GpuResult SetStreamSource(uint32_t stream, GpuVertexBuffer* buffer, uint32_t offset,
                                      uint32_t stride) = 0;
    virtual GpuResult SetIndices(GpuIndexBuffer* buffer) = 0;

    // Draws.
    virtual GpuResult DrawPrimitive(GpuPrimitiveType type, uint32_t startVertex,
                                    uint32_t primitiveCount) = 0;
    virtual GpuResult DrawIndexedPrimitive(GpuPrimitiveType type, int32_t baseVertex,
                                           uint32_t minIndex, uint32_t vertexCount,
                                           uint32_t startIndex, uint32_t primitiveCount) = 0;
    // Vertices from caller memory, read through the current declaration's stream 0; unbinds
    // stream 0 afterwards.
    virtual GpuResult DrawPrimitiveUP(GpuPrimitiveType type, uint32_t primitiveCount,
                                      const void* vertices, uint32_t stride) = 0;

    // Fixed-function and pipeline state.
    virtual GpuResult SetRenderState(GpuRenderState state, uint32_t value) = 0;
    virtual uint32_t GetRenderState(GpuRenderState state) const = 0;
    virtual GpuResult SetTextureStageState(uint32_t stage, GpuStageState state, uint32_t value) = 0;
    virtual uint32_t GetTextureStageState(uint32_t stage, GpuStageState state) const = 0;
    virtual GpuResult SetSamplerState(uint32_t sampler, GpuSamplerState state, uint32_t value) = 0;
    virtual uint32_t GetSamplerState(uint32_t sampler, GpuSamplerState state) const = 0;
    virtual GpuResult SetTransform(GpuTransform which, const Matrix4& matrix) = 0;
    virtual Matrix4 GetTransform(GpuTransform which) const = 0;
    virtual GpuResult SetMaterial(const GpuMaterial& material) = 0;
    virtual GpuMaterial GetMaterial() const = 0;
    virtual GpuResult SetLight(uint32_t index, const GpuLight& light) = 0;
    virtual GpuResult GetLight(uint32_t index, GpuLight& out) const = 0;
    virtual GpuResult LightEnable(uint32_t index, bool enable) = 0;
    virtual bool GetLightEnable(uint32_t index) const = 0;

    // Shaders. The stream ends at its end token; data past it is ignored. A stream outside the
    // interpreted subset gives nullptr and a one-line reason in error.
    virtual std::unique_ptr<GpuShader>
    CreateShader(GpuShaderKind kind, std::span<const uint8_t> stream, std::string& error) = 0;
    // nullptr returns that part of the pipeline to the fixed function.
    virtual GpuResult SetVertexShader(GpuShader* shader) = 0;
    virtual GpuResult SetPixelShader(GpuShader* shader) = 0;
    virtual GpuShader* GetVertexShader() const = 0;
    virtual GpuShader* GetPixelShader() const = 0;
    // Constants are float4 registers; count is in registers.
    virtual GpuResult SetShaderConstants(GpuShaderKind kind, uint32_t start, const float* values,
                                         uint32_t count) = 0;

    // State blocks: between Begin and End the state calls are recorded, not executed.
    virtual GpuResult BeginStateBlock() = 0;
    virtual std::unique_ptr<GpuStateBlock> EndStateBlock() = 0;
};

// Makes a device of one implementation on an adapter with these capabilities and display mode;
// nullptr when it refuses the parameters. Whoever builds the render device chooses the
// implementation by the factory it passes.
using GpuDeviceFactory = std::function<std::unique_ptr<GpuDevice>(
    const GpuPresentParameters& parameters, const GpuCaps& caps, const GpuDisplayMode& mode)>;

} // namespace quarn
