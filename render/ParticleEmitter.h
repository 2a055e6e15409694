#pragma once

#include "core/object/EntityRef.h"
#include "device/DrawBufferShare.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

class Texture;

// Bits of the emitterflags property, in their stored order.
enum EmitterFlags : uint32_t {
    EmitterActive = 0x1,
    EmitterRelativeSpeed = 0x2, // spawns inherit the emitter's velocity
    EmitterDepthSort = 0x4,
    EmitterBillboard = 0x8,
    EmitterRandomRotStart = 0x10,
    EmitterTrail = 0x20,
    EmitterFadeIn = 0x40,
    EmitterFadeOut = 0x80,
    EmitterColorBlendTime = 0x100,
    EmitterColorBlendPos = 0x200,
    EmitterRotFromSpeed = 0x400,
    EmitterRelative = 0x800, // particles live in the emitter's space and move with it
    EmitterPerParticleBlur = 0x1000,
    EmitterInverseRotDir = 0x2000,
    EmitterInterpolatePos = 0x4000,
    EmitterTwinkle = 0x8000,
    EmitterRibbon = 0x10000,
    EmitterRibbonTile = 0x20000,
    EmitterUseSpeedAsNormal = 0x40000,
};

struct Particle {
    Float3 position;
    Float3 velocity;
    float size = 0.0f;
    float rotation = 0.0f;
    float lifetime = 0.0f;
    float remaining = 0.0f;
    float depth = 0.0f;
    uint32_t seed = 0;
};

// Where each spawn's seed comes from; tests install a fixed one.
using ParticleSeedSource = uint32_t (*)();
// The low 32 bits of a monotonic nanosecond clock.
uint32_t ClockParticleSeed();
// A fixed sequence spread over the generator's states (neighbouring seeds start alike), for
// runs that must repeat.
uint32_t SequenceParticleSeed();
inline ParticleSeedSource ParticleSeed = &ClockParticleSeed;

// Spawns, moves and draws textured particles from a pool of maxparticles: quads, trails
// stretched along the speed, or one ribbon through them all. Spawning, dying and sorting move
// pool indices only. The pool's records and the vertex data are made as particles first need
// them, so an emitter holds what its most particles alive at once take, not its whole pool.
class ParticleEmitter : public RenderObject {
public:
    static constexpr int32_t MaxPool = 4096;
    // The particles all emitters hold alive together: a thousand emitters at their pool's bound
    // took seconds a frame. An emitter spawns nothing while the scene's are at it (the log says
    // so once for each). Tests lower it.
    static inline int64_t SceneParticleLimit = 65536;
    // The pixels the particles of a frame cover together, each quad by its box on the screen
    // (the whole view where it reaches behind the camera): a hundred emitters at the camera
    // filled the screen a few hundred times a frame. Quads past it are not drawn in that frame
    // (the log says so once). Tests lower it.
    static inline int64_t FramePixelLimit = int64_t{1} << 25;
    static constexpr uint32_t GizmoColor = 0xFFFFFF00;

    ParticleEmitter();
    ~ParticleEmitter() override;

    const char* GetTextureName() const;
    void SetTextureName(const char* name);
    int32_t GetMaxParticles() const { return maxParticles_; }
    // Clamped to 1..4096; only growth past the pool's size empties the pool.
    void SetMaxParticles(int32_t count);
    float GetEmittingTime() const { return emittingTime_; }
    void SetEmittingTime(float seconds);

    // Script methods.
    void Emit() { Spawn(); }
    void EmitParticle(Float3 position, Float3 velocity, float size, float rotation, float life);
    void Clear();
    void SetActive(bool active);
    bool IsActive() const { return (flags_ & EmitterActive) != 0; }

    int32_t GetActiveCount() const { return activeCount_; }
    // The live particles in list order.
    const Particle& GetActiveParticle(int32_t i) const {
        return pool_[static_cast<size_t>(active_[static_cast<size_t>(i)])];
    }

    PathString GetDescription() const override;
    void UpgradeVersion(int fileVersion) override;
    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 3; }
    int GetOutputCount() const override { return 1; }
    const char* GetInputName(int port) const override;
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    int GetIconIndex() const override { return 1; }
    void Update(float frameTime, int mode) override;
    Entity* GetResource() const override;
    bool IsOpaque() override;
    void UpdateWorldBoundingBox() override;
    int32_t Render() override;
    void UpdateRenderState() override;
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

    Float3 GetEmitterSize() const { return emitterSize_; }
    void SetEmitterSize(Float3 value) { emitterSize_ = value; }
    float GetGrowthRate() const { return growthRate_; }
    void SetGrowthRate(float value) { growthRate_ = value; }
    float GetStartSize() const { return startSize_; }
    void SetStartSize(float value) { startSize_ = value; }
    float GetTrailLength() const { return trailLength_; }
    void SetTrailLength(float value) { trailLength_ = value; }
    float GetDirSpread() const { return dirSpread_; }
    void SetDirSpread(float value) { dirSpread_ = value; }
    float GetStartSpeed() const { return startSpeed_; }
    void SetStartSpeed(float value) { startSpeed_ = value; }
    float GetSpeedSpread() const { return speedSpread_; }
    void SetSpeedSpread(float value) { speedSpread_ = value; }
    float GetRotSpeed() const { return rotSpeed_; }
    void SetRotSpeed(float value) { rotSpeed_ = value; }
    float GetGravity() const { return gravity_; }
    void SetGravity(float value) { gravity_ = value; }
    float GetFriction() const { return friction_; }
    void SetFriction(float value) { friction_ = value; }
    float GetSpawnInterval() const { return spawnInterval_; }
    void SetSpawnInterval(float value) { spawnInterval_ = value; }
    float GetFadeTime() const { return fadeTime_; }
    void SetFadeTime(float value) { fadeTime_ = value; }
    float GetLifetime() const { return lifetime_; }
    void SetLifetime(float value) { lifetime_ = value; }
    float GetLifetimeSpread() const { return lifetimeSpread_; }
    void SetLifetimeSpread(float value) { lifetimeSpread_ = value; }
    uint32_t GetEmitterFlags() const { return flags_; }
    void SetEmitterFlags(uint32_t flags) { flags_ = flags; }
    uint32_t GetBlendColor() const { return blendColor_; }
    void SetBlendColor(uint32_t color) { blendColor_ = color; }

private:
    // The index a new particle takes: the last one freed, else the next never used since the
    // pool was emptied; -1 when the pool or the scene's total is full.
    int32_t TakeIndex();
    void FreeIndex(int32_t index);
    // Room in the vertex and index data for this many particles' quads, in this layout; false,
    // with room for none, where the scene's draw buffers have no room.
    bool SizeBuffers(uint32_t quads, uint32_t format);
    bool Spawn();
    bool IsFlat() const;
    // False when the particle died.
    bool Step(Particle& particle, float dt) const;
    void SortByDepth();
    uint32_t ParticleColor(const Particle& particle, bool twinkle);
    // Each fills the vertex data with the quads that fit the frame's bound, the first first,
    // and answers how many it wrote.
    uint32_t FillQuads(float halfHeight, bool flat);
    uint32_t FillRibbon(bool flat);
    void WriteVertex(uint32_t i, Float3 position, Float3 normal, Float2 uv, uint32_t color,
                     bool flat);

    Float3 emitterSize_{0.1f, 0.1f, 0.1f};
    float growthRate_ = 0.0f;
    float startSize_ = 1.0f;
    float trailLength_ = 0.25f;
    float dirSpread_ = 0.0f;
    float startSpeed_ = 1.0f;
    float speedSpread_ = 0.0f;
    float rotSpeed_ = 0.0f;
    float gravity_ = 0.1f;
    float friction_ = 0.0f;
    float spawnInterval_ = 0.1f;
    float fadeTime_ = 1.0f;
    float lifetime_ = 1.0f;
    float lifetimeSpread_ = 0.0f;
    uint32_t flags_ = EmitterActive | EmitterFadeOut;
    uint32_t blendColor_ = 0xFF000000;
    Texture* texture_ = nullptr;
    int32_t maxParticles_ = 0;
    int32_t poolSize_ = 0; // the pool as maxparticles last grew it
    std::vector<Particle> pool_; // the records of the indices handed out so far
    std::vector<int32_t> free_;  // freed indices, the last freed on top
    // Indices not handed out since the pool was emptied, [fresh_, freshEnd_), taken in order
    // once free_ is empty.
    int32_t fresh_ = 0;
    int32_t freshEnd_ = 0;
    std::vector<int32_t> active_; // in spawn order; activeCount_ of them
    int32_t activeCount_ = 0;
    uint32_t bufferQuads_ = 0; // the particles the vertex and index data hold room for
    bool toldSceneLimit_ = false;
    int32_t lastSpawned_ = -1;
    float accumulator_ = 0.0f;
    float emittingTime_ = 0.0f;
    float emittingLeft_ = 0.0f;
    Float3 previousPosition_;
    Float3 velocity_;
    EntityRef witness_{this};
    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;
    DrawBufferShare share_; // the quads' buffers, counted in the scene's
};

} // namespace quarn
