#include "render/RenderTarget.h"

#include "core/filesystem/FileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/scene/ContainerBox.h"
#include "core/scene/SignalReceiver.h"
#include "device/BatchStore.h"
#include "device/RenderDevice.h"
#include "render/Camera.h"
#include "render/RenderObject.h"
#include "resources/DynamicMesh.h"
#include "resources/EffectShader.h"
#include "resources/FontNew.h"
#include "resources/Texture.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quarn {

ClassInfo* RenderTarget::classInfo = nullptr;

namespace {

// Pass lists start with this much room, so a typical frame allocates nothing while collecting.
constexpr size_t ReservedPassEntries = 2048;

// Shadow volumes need vertex shaders and the stencil counts that the stencil pass reads.
bool StencilPassSupported() {
    RenderDevice* device = TheRenderDevice();
    return device && device->SupportsVertexShader(1, 0) && device->GetStencilBits() >= 4;
}

// Drawn over the 3D scene: what follows starts with a clear depth buffer.
bool ClearDepthBefore3DOn2D() {
    if (RenderDevice* device = TheRenderDevice()) {
        device->Clear(DeviceClearDepth, 0);
    }
    return true;
}

bool IsScreenLike(int32_t mode) {
    return mode == MatrixScreen || mode == MatrixViewSpace;
}

// The walk of one collection: a node and whether its subtree is still culled.
std::vector<std::pair<Node*, bool>>& WalkStack() {
    static auto* stack = new std::vector<std::pair<Node*, bool>>();
    return *stack;
}

} // namespace

namespace {
RenderTarget* mainTarget = nullptr;
} // namespace

RenderTarget* RenderTarget::GetMain() {
    return mainTarget;
}

RenderTarget::RenderTarget() {
    if (!mainTarget) {
        mainTarget = this;
    }
    for (PassList& list : passes_) {
        list.reserve(ReservedPassEntries);
    }
    SetPassHooks(RenderStencil, &StencilPassSupported, nullptr);
    SetPassHooks(Render3DOn2DSolid, &ClearDepthBefore3DOn2D, nullptr);
}

RenderTarget::~RenderTarget() {
    if (mainTarget == this) {
        mainTarget = nullptr;
    }
    if (texture_) {
        texture_->Release();
    }
    if (shader_) {
        if (RenderDevice* device = TheRenderDevice();
            device && device->GetDefaultShader() == shader_->GetShader()) {
            device->SetDefaultShader(nullptr);
        }
        shader_->Release();
    }
}

Camera* RenderTarget::ResolveCamera(const EntityRef& reference) const {
    return dynamic_cast<Camera*>(reference.GetTarget());
}

void RenderTarget::SetTargetFlags(uint32_t flags) {
    targetFlags_ = flags;
    uint32_t hidden = (flags & TargetHideStatic) ? BatchHideStatic : 0;
    hidden |= (flags & TargetHideDynamic) ? BatchHideDynamic : 0;
    TheBatchStore().SetHideMask(BatchHideStatic | BatchHideDynamic, hidden);
}

void RenderTarget::SetHighlightedBatch(EntityId id) {
    highlighted_.SetId(id.value);
    auto* object = dynamic_cast<RenderObject*>(highlighted_.GetTarget());
    DeviceMesh* mesh = object ? object->GetRenderMesh() : nullptr;
    if (mesh) {
        TheBatchStore().HighlightMeshBatch(mesh, (targetFlags_ & TargetSecondary) ? 1 : 0);
    } else {
        TheBatchStore().HighlightBatch(nullptr);
    }
}

void RenderTarget::ClearBatchStore() {
    TheBatchStore().ClearStore();
}

void RenderTarget::SetComparedBatch(EntityId id) {
    CompareBatches(dynamic_cast<RenderObject*>(highlighted_.GetTarget()),
                   dynamic_cast<RenderObject*>(LookupEntity(id.value)));
}

const char* RenderTarget::GetTextureName() const {
    return RelativePathOf(texture_);
}

void RenderTarget::SetTextureName(const char* name) {
    if (!ReplaceHeldResource(texture_, name && *name ? GetTexture(name, "") : nullptr)) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

void RenderTarget::SetShaderName(const char* name) {
    if (!ReplaceEffectShader(shader_, shaderName_, name)) {
        return;
    }
    if (RenderDevice* device = TheRenderDevice()) {
        device->SetDefaultShader(shader_ ? shader_->GetShader() : nullptr);
    }
}

void RenderTarget::Update(float, int) {
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return;
    }
    const uint64_t self = GetSerial();
    const Int2 viewport = device->GetViewportSize();
    if (viewport.x != lastViewportSize_.x || viewport.y != lastViewportSize_.y) {
        lastViewportSize_ = viewport;
        EventRecord event;
        event.value = 1.0f;
        SignalReceiver::Trigger("viewport_changed", event);
        if (!IsAlive(self)) {
            return;
        }
    }

    CurrentTargetFlags = targetFlags_;
    Camera* previous = GetCurrentCamera();
    const uint64_t previousSerial = previous ? previous->GetSerial() : 0;
    if (Camera* camera = ResolveCamera(currentCamera_)) {
        CurrentCamera = camera;
    }
    if (Camera* camera = ResolveCamera(overrideCamera_)) {
        CurrentCamera = camera;
    }
    Camera* camera = GetCurrentCamera();
    if (!camera) {
        return;
    }
    device->SetProjectionMatrix(camera->GetProjectionMatrix());
    device->SetCameraMatrix(camera->GetWorldMatrix());
    camera->UpdateFrustum();
    Camera* cullingCamera = (targetFlags_ & TargetCulling) ? camera : nullptr;
    device->SetExpFog(fogColor_, fogDensity_);
    device->SetFogEnabled(fogDensity_ > 0.0f);

    for (PassList& list : passes_) {
        list.clear();
    }
    uint32_t count = 0;
    Node* root = dynamic_cast<Node*>(renderRoot_.GetTarget());
    if (!root) {
        root = GetSceneRoot();
    }
    if (root) {
        count += Collect(root, cullingCamera);
    }
    if (auto* second = dynamic_cast<Node*>(renderRoot2_.GetTarget())) {
        count += Collect(second, cullingCamera);
    }

    if (count > 0) {
        uint32_t clear = 0;
        clear |= (targetFlags_ & TargetClearFrame) ? DeviceClearTarget : 0;
        clear |= (targetFlags_ & TargetClearZ) ? DeviceClearDepth : 0;
        clear |= (targetFlags_ & TargetClearStencil) ? DeviceClearStencil : 0;
        if (clear != 0) {
            device->Clear(clear, backgroundColor_);
        }
        for (int32_t pass = 1; pass <= LastPass; ++pass) {
            RenderPass(pass);
            if (!IsAlive(self)) {
                return;
            }
        }
        // A post-process chain may have left the device drawing into one of its textures.
        device->SetRenderTarget(nullptr, false);
    }

    if (targetFlags_ & TargetShowStats) {
        ShowStatistics(*device);
    }
    if (targetFlags_ & TargetSecondary) {
        CurrentCamera = dynamic_cast<Camera*>(Entity::FindBySerial(previousSerial));
    }
}

void RenderTarget::ShowStatistics(RenderDevice& device) {
    const RenderStatistics& statistics = device.GetRenderStatistics();
    const struct {
        const char* name;
        uint32_t value;
    } lines[] = {
        {"iNumModelsRendered", statistics.numModelsRendered},
        {"iNumPrimitivesRendered", statistics.numPrimitivesRendered},
        {"iNumShadedModelsRendered", statistics.numShadedModelsRendered},
        {"iNumStaticBatchesRendered", statistics.numStaticBatchesRendered},
        {"iNumDynamicBatchesRendered", statistics.numDynamicBatchesRendered},
        {"iNumModelsInHighlightedBatch", statistics.numModelsInHighlightedBatch},
        {"iNumStateBlocksCreated", statistics.numStateBlocksCreated},
        {"iNumStateBlocksApplied", statistics.numStateBlocksApplied},
        {"iNumDeclarationUpdates", statistics.numDeclarationUpdates},
        {"iNumSubmeshUpdates", statistics.numSubmeshUpdates},
    };
    DynamicMesh& text = GetScreenTextMesh();
    float y = 10.0f;
    for (const auto& line : lines) {
        text.AddText(400.0f, y, std::to_string(line.value).c_str(), 0xFFFFFFFF, LayoutDownward);
        text.AddText(450.0f, y, line.name, 0xFFFFFFFF, LayoutDownward);
        y += 20.0f;
    }
    text.Flush(DynamicText);
}

uint32_t RenderTarget::Collect(Node* root, Camera* cullingCamera) {
    uint32_t visited = 0;
    auto& stack = WalkStack();
    stack.clear();
    stack.emplace_back(root, cullingCamera != nullptr);
    while (!stack.empty()) {
        auto [node, cull] = stack.back();
        stack.pop_back();
        ContainerBox* box = cull ? AsContainerBox(node) : nullptr;
        if (box && (box->GetExtentFlags() & ExtentsVisualCull)) {
            if (box->GetExtentFlags() & ExtentsForceCull) {
                continue;
            }
            if (!IsScreenLike(box->GetMatrixMode())) {
                const Aabb extents = box->GetExtents();
                const int32_t seen = cullingCamera->TestBox(extents.min, extents.max);
                if (seen == BoxOutside) {
                    continue;
                }
                cull = seen != BoxInside;
            }
        }
        if (!node->HasFlag(NodeEnabled)) {
            continue;
        }
        if (RenderObject* object = AsRenderObject(node)) {
            const int32_t type = object->GetRenderType();
            if (type >= 0 && type < RenderTypeCount) {
                passes_[static_cast<size_t>(type)].push_back(object->GetSerial());
            }
        } else if (Pivot* pivot = AsPivot(node);
                   pivot && Pivot::IsCameraDependent(pivot->GetMatrixMode())) {
            pivot->UpdateTransform();
        }
        ++visited;
        // Last child first, so the first comes off the stack next.
        for (Node* child = node->GetLastChild(); child; child = child->GetPrevious()) {
            stack.emplace_back(child, cull);
        }
    }
    return visited;
}

void RenderTarget::RenderPass(int32_t pass) {
    PassList& list = passes_[static_cast<size_t>(pass)];
    if (list.empty()) {
        return;
    }
    if (PrePassHook pre = GetPrePassHook(pass); pre && !pre()) {
        return;
    }
    const PassRule rule = GetPassRule(pass);
    if (rule.sorted) {
        SortPass(list, rule.simple || (targetFlags_ & TargetSimpleSort));
    }
    CurrentPass = pass;
    CurrentBatchPassId = static_cast<uint32_t>(pass) +
                         ((targetFlags_ & TargetSecondary) ? SecondaryPassIdOffset : 0);
    const uint64_t self = GetSerial();
    // Render may list an object again in a later pass, never in this one.
    for (size_t i = 0; i < list.size(); ++i) {
        const uint64_t serial = list[i];
        auto* object = dynamic_cast<RenderObject*>(Entity::FindBySerial(serial));
        if (!object) {
            continue;
        }
        if ((object->GetRenderFlagsWord() & RenderStateBits) != RenderStateBits) {
            object->UpdateRenderState();
            if (!IsAlive(serial)) {
                continue;
            }
            object->SetStateBits();
        }
        const int32_t again = object->Render();
        if (!IsAlive(self)) {
            return;
        }
        if (again > pass && again <= LastPass) {
            passes_[static_cast<size_t>(again)].push_back(serial);
        }
    }
    BatchStore& store = TheBatchStore();
    store.FlushPassBatches(CurrentBatchPassId);
    store.DrawPassBatches(CurrentBatchPassId);
    store.CountHighlightedModels(CurrentBatchPassId);
    if (PostPassHook post = GetPostPassHook(pass)) {
        post();
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* RenderTarget::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* camera = Camera::RegisterClass();
    classInfo = new ClassInfo(
        "RenderTarget", []() -> Entity* { return new RenderTarget(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);

    const int32_t cameraType = ClassTypeBase + camera->GetClassNumber();
    classInfo->AddProperty("currentcamera", std::make_unique<PropertyEntity>(cameraType),
                           MakeGetter<&RenderTarget::GetCameraId>(),
                           MakeSetter<&RenderTarget::SetCameraId>());
    classInfo->AddProperty("overridecamera", std::make_unique<PropertyEntity>(cameraType),
                           MakeGetter<&RenderTarget::GetOverrideCameraId>(),
                           MakeSetter<&RenderTarget::SetOverrideCameraId>());
    classInfo
        ->AddProperty<PropertyEntity, &RenderTarget::GetRenderRoot, &RenderTarget::SetRenderRoot>(
            "renderroot");
    classInfo
        ->AddProperty<PropertyEntity, &RenderTarget::GetRenderRoot2, &RenderTarget::SetRenderRoot2>(
            "renderroot2");
    classInfo->AddProperty<PropertyColor, &RenderTarget::GetBackgroundColor,
                           &RenderTarget::SetBackgroundColor>("backgroundcolor");
    classInfo->AddProperty<PropertyColor, &RenderTarget::GetFogColor, &RenderTarget::SetFogColor>(
        "fogcolor");
    classInfo
        ->AddProperty<PropertyFloat, &RenderTarget::GetFogDensity, &RenderTarget::SetFogDensity>(
            "fogdensity:0.0,0.1,,0.00001");
    classInfo
        ->AddProperty<PropertyFloat, &RenderTarget::GetFogFalloff, &RenderTarget::SetFogFalloff>(
            "fogfalloff:0.0,1.0,,0.0001");
    classInfo->AddProperty<PropertyBitfield, &RenderTarget::GetTargetFlags,
                           &RenderTarget::SetTargetFlags>(
        "rt_flags:simplesort,render_to_texture,culling,secondary,clear_frame,clear_z,"
        "clear_stencil,batching,showstats,hidestatic,hidedynamic");
    classInfo->AddProperty<PropertyResource, &RenderTarget::GetTextureName,
                           &RenderTarget::SetTextureName>("bmp");
    classInfo->AddProperty<PropertyEntity, &RenderTarget::GetHighlightedBatch,
                           &RenderTarget::SetHighlightedBatch>("highlightedbatch");
    classInfo->AddProperty<PropertyEntity, &RenderTarget::GetComparedBatch,
                           &RenderTarget::SetComparedBatch>("comparewithbatch");
    classInfo->AddResourceProperty<&RenderTarget::GetShaderName, &RenderTarget::SetShaderName>(
        "shader:fx", &EffectShader::GetLoadableExtensions);

    // Declared for scripts that name them; a render target has nothing to release.
    classInfo->AddMethod("releasevideomemory", "(entity)", MethodBinding(), MethodClassSignal);
    classInfo->AddMethod("restorevideomemory", "(entity)", MethodBinding(), MethodClassSignal);
    // Script-visible under a generated name: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&RenderTarget::ClearBatchStore>(),
                         MethodEditorCommand);
    return classInfo;
}

} // namespace quarn
