#include "render/PostProcess.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "device/DeviceTexture.h"
#include "device/ImageTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/Shader.h"
#include "device/VertexBuffer.h"
#include "render/RenderQueue.h"
#include "resources/EffectShader.h"
#include "resources/Texture.h"

#include <algorithm>

namespace quarn {

ClassInfo* PostProcess::classInfo = nullptr;

namespace {

Property* matrixModeProperty = nullptr;
Property* renderTypeProperty = nullptr;
Property* texScaleProperty = nullptr;
Property* minUVProperty = nullptr;
Property* maxUVProperty = nullptr;

constexpr uint32_t QuadFormat = VertexPosition | VertexDiffuse | VertexTexCoord0;
// With an extra texture, a second coordinate set for it.
constexpr uint32_t QuadFormatFor(bool extra) {
    return QuadFormat | (extra ? VertexTexCoord0 << 1 : 0);
}
constexpr uint32_t GeometryBits = RenderStateValid | RenderColorStateValid;
// The half-texel offset and the texel size of the source image, for the programs' taps.
constexpr uint32_t SourceTexelRegister = 11;

constexpr Float2 Corners[4] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
constexpr Float2 CornerUV[4] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};

// The built-in program of each operation, by its source name.
const char* BuiltInProgram(uint32_t op) {
    switch (static_cast<PostProcessOp>(op)) {
    case PostProcessOp::BlurVertical:
        return "res://op_blur_vertical.fx";
    case PostProcessOp::BlurHorizontal:
        return "res://op_blur_horizontal.fx";
    case PostProcessOp::HighPass:
        return "res://op_highpass.fx";
    case PostProcessOp::Brightness:
        return "res://op_brightness.psh";
    case PostProcessOp::Invert:
        return "res://op_invert.fx";
    case PostProcessOp::Darken:
        return "res://op_darken.fx";
    case PostProcessOp::Glow:
        return "res://op_glow.fx";
    default:
        return "res://op_copy.psh";
    }
}

// The shared render textures and where the chain stands. The result index is never reset, so a
// chain's first RESULT may land in either texture.
struct ChainState {
    Texture* textures[3] = {};
    uint64_t deviceSerial = 0;
    uint64_t refusedSerial = 0; // the device whose size was refused, reported once
    uint32_t resultIndex = 1;
};

ChainState& Chain() {
    static ChainState state;
    return state;
}

DeviceTexture* SharedImage(uint32_t index) {
    Texture* texture = Chain().textures[index];
    return texture ? texture->GetDeviceTexture() : nullptr;
}

bool SkipPostProcessPass() {
    return false;
}

} // namespace

Texture* GetPostProcessTexture(uint32_t index) {
    return index < 3 ? Chain().textures[index] : nullptr;
}

void ReleasePostProcessTextures() {
    for (Texture*& texture : Chain().textures) {
        if (texture) {
            texture->Release();
            texture = nullptr;
        }
    }
    Chain().deviceSerial = 0;
}

bool CreatePostProcessTextures() {
    ChainState& chain = Chain();
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return false;
    }
    if (chain.textures[0] && chain.deviceSerial == device->GetSerial()) {
        return true;
    }
    ReleasePostProcessTextures();
    if (!device->SupportsPixelShader(2, 0) || chain.refusedSerial == device->GetSerial()) {
        return false;
    }
    // The screen's size, or a larger viewport's (headless runs have no screen).
    const Int2 screen = PlatformScreenSize ? PlatformScreenSize() : Int2();
    const Int2 viewport = device->GetViewportSize();
    const Int2 size(std::max(screen.x, viewport.x), std::max(screen.y, viewport.y));
    for (uint32_t i = 0; i < 3; ++i) {
        auto* texture = new Texture(size.x, size.y, device->GetBackBufferFormat(),
                                    TextureKind::Texture2D, TextureFlagRenderTarget);
        chain.textures[i] = texture;
        if (!texture->GetDeviceTexture()) {
            LogMessage("Post-processing: the device refuses render textures of %d x %d", size.x,
                       size.y);
            ReleasePostProcessTextures();
            chain.refusedSerial = device->GetSerial();
            return false;
        }
        const char name[] = {'R', 'e', 'n', 'd', 'e', 'r', 'T', 'a', 'r', 'g', 'e', 't',
                             static_cast<char>('0' + i), '\0'};
        texture->SetFileName(name, "", false);
    }
    chain.deviceSerial = device->GetSerial();
    return true;
}

PostProcess::PostProcess() {
    SetMatrixMode(MatrixViewSpace);
    SetRenderType(RenderPostProcess);
    SetRenderFlags(RenderGeometry | RenderFog | RenderBilinear);
}

PostProcess::~PostProcess() {
    mesh_.reset();
    vertices_.reset();
    indices_.reset();
    for (Resource* held : {static_cast<Resource*>(texture_), static_cast<Resource*>(pixelShader_),
                           static_cast<Resource*>(builtInShader_)}) {
        if (held) {
            held->Release();
        }
    }
}

// Properties -----------------------------------------------------------------------------------

const char* PostProcess::GetTextureName() const {
    return RelativePathOf(texture_);
}

void PostProcess::SetTextureName(const char* name) {
    if (!ReplaceHeldResource(texture_, name && *name ? GetTexture(name, "") : nullptr)) {
        return;
    }
    if (texture_ && texture_->GetDeviceTexture()) {
        SetRenderFlag(RenderZWrite, !(texture_->GetTextureFlags() & TextureTranslucent));
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    SetRenderFlag(RenderStateValid, false);
}

void PostProcess::SetPixelShaderName(const char* name) {
    if (ReplaceEffectShader(pixelShader_, pixelShaderName_, name)) {
        SetRenderFlag(RenderStateValid, false);
    }
}

void PostProcess::SetSource(uint32_t source) {
    source_ = source;
    if (texture_ && texture_->GetDeviceTexture()) {
        const Int2 allocated = texture_->GetDeviceTexture()->GetAllocatedSize();
        minUV_ = {0.0f, 0.0f};
        maxUV_ = {static_cast<float>(texture_->GetWidth()) / static_cast<float>(allocated.x),
                  static_cast<float>(texture_->GetHeight()) / static_cast<float>(allocated.y)};
    }
}

void PostProcess::SetTexOp(uint32_t op) {
    texOp_ = op;
    SetRenderFlag(GeometryBits, false);
}

void PostProcess::SetTarget(uint32_t target) {
    target_ = target;
    SetRenderFlag(GeometryBits, false);
}

void PostProcess::SetShaderProperty(float value) {
    shaderProperty_ = value;
    SetRenderFlag(RenderStateValid, false);
}

// Queries -------------------------------------------------------------------------------------

bool PostProcess::IsVisible() {
    return IsFullyEnabled();
}

int PostProcess::GetPropertyState(const Property& property) const {
    if (&property == matrixModeProperty) {
        return 128;
    }
    if (&property == renderTypeProperty) {
        return 2048;
    }
    if (&property == texScaleProperty) {
        return (postProcessFlags_ & PostProcessCustomScale) ? 3 : 0;
    }
    if (&property == minUVProperty || &property == maxUVProperty) {
        return (postProcessFlags_ & PostProcessCustomUV) ? 3 : 0;
    }
    return RenderObject::GetPropertyState(property);
}

// Drawing -------------------------------------------------------------------------------------

namespace {

// The image a source value reads: the back buffer's copy (or the scene target) and the last
// result are the texture of the result index before this node's target flips it.
DeviceTexture* SourceImage(uint32_t source, RenderDevice& device) {
    switch (static_cast<PostProcessImage>(source)) {
    case PostProcessImage::BackBuffer:
        if (DeviceTexture* scene = device.GetSceneTarget()) {
            return scene;
        }
        return SharedImage(Chain().resultIndex - 1);
    case PostProcessImage::Result:
        return SharedImage(Chain().resultIndex - 1);
    case PostProcessImage::Temp:
        return SharedImage(2);
    }
    return nullptr;
}

} // namespace

Shader* PostProcess::ChosenShader() {
    EffectShader* chosen = pixelShader_ ? pixelShader_ : builtInShader_;
    return chosen ? chosen->GetShader() : nullptr;
}

void PostProcess::BuildGeometry(Int2 view, Int2 size) {
    const uint32_t format = QuadFormatFor(texture_ != nullptr);
    if (vertices_->GetFormat() != format) {
        vertices_->Create(4, format, 0);
    }
    const float w = static_cast<float>(view.x);
    const float h = static_cast<float>(view.y);
    const float W = static_cast<float>(std::max(size.x, 1));
    const float H = static_cast<float>(std::max(size.y, 1));
    Float2 scale(1.0f, 1.0f);
    Float2 offset;
    if (DeviceTexture* extra = texture_ ? texture_->GetDeviceTexture() : nullptr) {
        scale = extra->GetMaxUV();
        const Float2 half = extra->TexelToUV(0.5f, 0.5f);
        offset = {half.x * 0.5f, half.y * 0.5f};
    }
    const uint32_t color = GetTextureFactor();
    for (uint32_t i = 0; i < 4; ++i) {
        const Float2 c = CornerUV[i];
        vertices_->SetPosition(i, Float3(Corners[i].x, Corners[i].y, 0.0f));
        vertices_->SetColor(i, 0, color);
        vertices_->SetTexCoord(i, 0, w / W * c.x + 0.5f / W, h / H * c.y + 0.5f / H);
        if (texture_) {
            vertices_->SetTexCoord(i, 1, scale.x * c.x + offset.x, scale.y * c.y + offset.y);
        }
    }
    indices_->FillQuadIndices(0, 1, 0, true);
    builtViewport_ = view;
    builtSourceSize_ = size;
}

void PostProcess::UpdateRenderState() {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    CreatePostProcessTextures();
    DeviceTexture* source = SourceImage(source_, *device);
    const uint32_t word = GetRenderFlagsWord();
    const bool stateValid = (word & RenderStateValid) && mesh_;
    bool geometryValid = (word & RenderColorStateValid) && mesh_;
    if (GetMatrixMode() == MatrixScreen && !(word & RenderTransformStateValid)) {
        geometryValid = false;
    }
    if (!mesh_) {
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
        mesh_ = device->CreateDeviceMesh();
        if (!vertices_ || !indices_ || !mesh_) {
            mesh_.reset();
            return;
        }
        indices_->Create(6, 0);
        vertices_->Create(4, QuadFormat, 0);
        mesh_->SetIndexData(indices_.get());
        mesh_->SetUserValueB(GetSerial());
    }
    // A texture set or cleared changes the vertex layout; a new viewport or source size moves
    // the coordinates.
    const Int2 view = device->GetViewportSize();
    const Int2 sourceSize = source ? source->GetAllocatedSize() : view;
    if (!geometryValid || vertices_->GetFormat() != QuadFormatFor(texture_ != nullptr) ||
        view != builtViewport_ || sourceSize != builtSourceSize_) {
        BuildGeometry(view, sourceSize);
        mesh_->SetVertexStream(vertices_.get(), 0);
    }
    if (!stateValid) {
        mesh_->SetRenderFlagsWord(GetDeviceRenderFlags());
        const auto blend = static_cast<BlendMode>(GetBlendMode());
        mesh_->SetLayer(0, source, blend);
        DeviceTexture* extra = texture_ ? texture_->GetDeviceTexture() : nullptr;
        if (texture_) {
            mesh_->SetLayerCount(2);
            mesh_->SetLayer(1, extra, BlendMode::Normal);
        } else {
            mesh_->SetLayerCount(1);
        }
        mesh_->SetOptions(MeshOwnerBit, MeshOwnerBit);
        const bool stencilRead =
            GetRenderType() == RenderStencil || TestRenderFlags(RenderStencilRead);
        mesh_->SetStencilMode(stencilRead ? StencilMode::Read : StencilMode::None);
        mesh_->SetOptions(MeshScreenSpace, MeshScreenSpace);
        if (!pixelShader_) {
            ReplaceEffectShader(builtInShader_, builtInName_, BuiltInProgram(texOp_));
        }
        Shader* shader = ChosenShader();
        mesh_->SetShader(shader);
        if (shader) {
            mesh_->SetShaderParameter(Float4(1.0f / static_cast<float>(view.x),
                                             1.0f / static_cast<float>(view.y), shaderProperty_,
                                             0.0f));
        }
    }
    mesh_->SetColor(GetTextureFactor());
    SetStateBits();
}

int32_t PostProcess::Render() {
    RenderDevice* device = TheRenderDevice();
    if (!device || !mesh_ || !CreatePostProcessTextures()) {
        return 0;
    }
    ChainState& chain = Chain();
    const uint32_t before = chain.resultIndex;
    const uint32_t after = 3 - before;
    DeviceTexture* target = nullptr;
    switch (static_cast<PostProcessImage>(target_)) {
    case PostProcessImage::BackBuffer:
        target = device->GetSceneTarget();
        break;
    case PostProcessImage::Result:
        target = SharedImage(after - 1);
        break;
    case PostProcessImage::Temp:
        target = SharedImage(2);
        break;
    default:
        return 0;
    }
    DeviceTexture* source = SourceImage(source_, *device);
    // Drawing into the image it reads would depend on the order the rasteriser fills pixels in.
    if (source == target && source != nullptr) {
        return 0;
    }
    if (target_ == static_cast<uint32_t>(PostProcessImage::Result)) {
        chain.resultIndex = after;
    }
    // Null is the scene target, or the back buffer.
    device->SetRenderTarget(target, false);
    if (source_ == static_cast<uint32_t>(PostProcessImage::BackBuffer) &&
        !device->GetSceneTarget()) {
        device->CopyBackBufferToTexture(source);
    }
    if (!source) {
        return 0;
    }
    // A viewport or source of another size than the quad was built for.
    if (device->GetViewportSize() != builtViewport_ || source->GetAllocatedSize() != builtSourceSize_) {
        SetRenderFlag(GeometryBits, false);
        UpdateRenderState();
    }
    if (mesh_->GetLayerTexture(0) != source) {
        mesh_->SetLayer(0, source, static_cast<BlendMode>(GetBlendMode()));
    }
    if (Shader* shader = ChosenShader()) {
        // Nodes share the programs, so each draw tells them its own source.
        const Int2 size = source->GetAllocatedSize();
        const float W = static_cast<float>(size.x);
        const float H = static_cast<float>(size.y);
        shader->SetVectorRegister(SourceTexelRegister, {0.5f / W, 0.5f / H, 1.0f / W, 1.0f / H});
    }
    mesh_->Draw();
    return 0;
}

// Registration --------------------------------------------------------------------------------

ClassInfo* PostProcess::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "PostProcess", []() -> Entity* { return new PostProcess(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->SetCleanUp(&ReleasePostProcessTextures);

    classInfo->AddResourceProperty<&PostProcess::GetTextureName, &PostProcess::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    classInfo
        ->AddResourceProperty<&PostProcess::GetPixelShaderName, &PostProcess::SetPixelShaderName>(
            "pixelshader:fx", &EffectShader::GetLoadableExtensions);
    minUVProperty =
        classInfo->AddProperty<PropertyFloat2, &PostProcess::GetMinUV, &PostProcess::SetMinUV>(
            "minuv");
    maxUVProperty =
        classInfo->AddProperty<PropertyFloat2, &PostProcess::GetMaxUV, &PostProcess::SetMaxUV>(
            "maxuv");
    texScaleProperty = classInfo->AddProperty<PropertyFloat2, &PostProcess::GetTexScale,
                                              &PostProcess::SetTexScale>("texscale");
    classInfo->AddProperty<PropertyEnum, &PostProcess::GetSource, &PostProcess::SetSource>(
        "source:BACKBUFFER,RESULT,TEMP");
    classInfo->AddProperty<PropertyEnum, &PostProcess::GetTexOp, &PostProcess::SetTexOp>(
        "texop:COPY,BLUR_VERTICAL,BLUR_HORIZONTAL,UNUSED,UNUSED,HIGHPASS,BRIGHTNESS,INVERT,"
        "DARKEN,GLOW,CUSTOM");
    classInfo->AddProperty<PropertyEnum, &PostProcess::GetTarget, &PostProcess::SetTarget>(
        "target:BACKBUFFER,RESULT,TEMP");
    classInfo->AddProperty<PropertyBitfield, &PostProcess::GetPostProcessFlags,
                           &PostProcess::SetPostProcessFlags>(
        "postprocessflags:custom_scale,custom_uv");
    classInfo->AddProperty<PropertyFloat, &PostProcess::GetShaderProperty,
                           &PostProcess::SetShaderProperty>("shaderproperty");

    matrixModeProperty = Pivot::classInfo->FindProperty("matrixmode");
    renderTypeProperty = RenderObject::classInfo->FindProperty("rendertype");
    // The pass of the type the node is made in draws nothing: a chain runs in the type it is
    // moved to.
    SetPassHooks(RenderPostProcess, &SkipPostProcessPass, nullptr);
    CreatePostProcessTextures();
    return classInfo;
}

} // namespace quarn
