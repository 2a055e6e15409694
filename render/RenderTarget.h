#pragma once

#include "core/math/Geometry.h"
#include "core/object/EntityRef.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "render/RenderQueue.h"

#include <array>
#include <cstdint>
#include <string>

namespace quarn {

class EffectShader;

class Camera;
class RenderDevice;
class Texture;

// The node that draws the scene from its update: it looks through its camera, sets the device's
// projection, camera matrix and fog, collects the enabled render objects below its render root
// into one list per render type (culling the subtrees of container boxes out of view), clears,
// and draws the lists as passes 1 to 17. Nothing is drawn in a frame without one.
class RenderTarget : public Node {
public:
    RenderTarget();
    ~RenderTarget() override;

    void Update(float frameTime, int mode) override;
    ClassInfo* GetClass() const override { return classInfo; }

    EntityId GetCameraId() const { return {currentCamera_.GetId()}; }
    void SetCameraId(EntityId id) { currentCamera_.SetId(id.value); }
    EntityId GetOverrideCameraId() const { return {overrideCamera_.GetId()}; }
    void SetOverrideCameraId(EntityId id) { overrideCamera_.SetId(id.value); }
    EntityId GetRenderRoot() const { return {renderRoot_.GetId()}; }
    void SetRenderRoot(EntityId id) { renderRoot_.SetId(id.value); }
    EntityId GetRenderRoot2() const { return {renderRoot2_.GetId()}; }
    void SetRenderRoot2(EntityId id) { renderRoot2_.SetId(id.value); }
    uint32_t GetBackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(uint32_t color) { backgroundColor_ = color; }
    uint32_t GetFogColor() const { return fogColor_; }
    void SetFogColor(uint32_t color) { fogColor_ = color; }
    float GetFogDensity() const { return fogDensity_; }
    void SetFogDensity(float density) { fogDensity_ = density; }
    // Stored only: the device's exponential fog has no falloff.
    float GetFogFalloff() const { return fogFalloff_; }
    void SetFogFalloff(float falloff) { fogFalloff_ = falloff; }
    uint32_t GetTargetFlags() const { return targetFlags_; }
    void SetTargetFlags(uint32_t flags);
    // Stored and shown; drawing always goes to the device's current target.
    const char* GetTextureName() const;
    void SetTextureName(const char* name);
    // Diagnostics: the batch holding this render object's mesh draws highlighted.
    EntityId GetHighlightedBatch() const { return {highlighted_.GetId()}; }
    void SetHighlightedBatch(EntityId id);
    // An action, not a value: logs why the object's mesh is not in the highlighted batch.
    EntityId GetComparedBatch() const { return {}; }
    void SetComparedBatch(EntityId id);
    // The shader every mesh without one of its own draws with (the device's default).
    const char* GetShaderName() const { return shaderName_.c_str(); }
    void SetShaderName(const char* name);

    // Empties the batch store of every target.
    void ClearBatchStore();

    // Draws one pass of the lists collected by the last update.
    void RenderPass(int32_t pass);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
    // The first target constructed while none was, or null; light bakes read its background.
    static RenderTarget* GetMain();

private:
    // Appends the enabled render objects of the subtree to their pass lists and answers how
    // many nodes it visited; with a camera to cull against, container boxes out of its view
    // are passed over with their subtrees.
    uint32_t Collect(Node* root, Camera* cullingCamera);
    // The device's render statistics as text lines over the frame.
    void ShowStatistics(RenderDevice& device);
    Camera* ResolveCamera(const EntityRef& reference) const;

    EntityRef currentCamera_;
    EntityRef overrideCamera_;
    EntityRef renderRoot_;
    EntityRef renderRoot2_;
    EntityRef highlighted_;
    uint32_t backgroundColor_ = 0x80808080;
    float fogDensity_ = 0.0f;
    float fogFalloff_ = 0.5f;
    uint32_t fogColor_ = 0xFFFFFFFF;
    uint32_t targetFlags_ = TargetDefaultFlags;
    Texture* texture_ = nullptr;
    std::string shaderName_;
    EffectShader* shader_ = nullptr; // one counted reference
    std::array<PassList, LastPass + 1> passes_;
    Int2 lastViewportSize_;
};

} // namespace quarn
