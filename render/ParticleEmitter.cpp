#include "render/ParticleEmitter.h"

#include "core/debug/Log.h"
#include "core/math/Color.h"
#include "core/math/Random.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "core/scene/WitnessProperty.h"
#include "device/DrawBufferShare.h"
#include "device/ImageTexture.h"
#include "device/IndexBuffer.h"
#include "device/RenderDevice.h"
#include "device/VertexBuffer.h"
#include "render/AnnotationSink.h"
#include "render/Camera.h"
#include "resources/Texture.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <utility>

namespace quarn {

ClassInfo* ParticleEmitter::classInfo = nullptr;

namespace {

constexpr uint32_t WorldFormat = VertexPosition | VertexNormal | VertexDiffuse | VertexTexCoord0;
constexpr uint32_t ScreenFormat = VertexScreenPosition | VertexDiffuse | VertexTexCoord0;

// A 3 x 3 rotation as rows, applied to row vectors.
struct Rows {
    Float3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};

    Float3 Apply(Float3 v) const { return x * v.x + y * v.y + z * v.z; }
    Rows Then(const Rows& next) const { return {next.Apply(x), next.Apply(y), next.Apply(z)}; }
};

Rows RotZ(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {{c, s, 0}, {-s, c, 0}, {0, 0, 1}};
}

Rows RotX(float a) {
    const float c = std::cos(a), s = std::sin(a);
    return {{1, 0, 0}, {0, c, s}, {0, -s, c}};
}

Rows RotationOf(const Matrix4& m) {
    auto row = [&](int r) {
        const Float3 v(m.At(r, 0), m.At(r, 1), m.At(r, 2));
        const float length = v.Length();
        return length > 0.0f ? v * (1.0f / length) : v;
    };
    return {row(0), row(1), row(2)};
}

// The zero vector stays zero instead of becoming NaN.
Float3 SafeNormal(Float3 v) {
    const float length = v.Length();
    return length > 0.0f ? v * (1.0f / length) : Float3();
}

// trunc(value * 255) with the value clamped to 0..1 first; NaN counts as 0.
int32_t UnitByte(float value) {
    if (!(value > 0.0f)) {
        return 0;
    }
    return value >= 1.0f ? 255 : static_cast<int32_t>(value * 255.0f);
}

Camera* ViewCamera() {
    return GetCurrentCamera();
}

// The particles every emitter holds alive.
int64_t sceneParticles = 0;

// The pixels the particle quads of the frame being drawn cover together, each by its box on the
// screen, so that emitters filling the view cost a bounded number of screens a frame.
class FrameFill {
public:
    // Ready for an emitter's quads, `flat` ones in pixels, others in the world; a new frame of
    // the device starts from nothing.
    void Begin(RenderDevice& device, bool flat) {
        if (device.GetSerial() != device_) {
            told_ = false;
        }
        if (device.GetSerial() != device_ || device.GetFrameCount() != frame_) {
            device_ = device.GetSerial();
            frame_ = device.GetFrameCount();
            pixels_ = 0;
        }
        flat_ = flat;
        device.GetViewProjectionMatrix(viewProjection_);
        const Int2 origin = device.GetViewportOrigin();
        const Int2 size = device.GetViewportSize();
        left_ = origin.x;
        top_ = origin.y;
        width_ = std::max(size.x, 0);
        height_ = std::max(size.y, 0);
    }
    // Whether the quad fits what the frame has left of the bound; counted when it does.
    bool Take(const Float3 (&corners)[4]) {
        const int64_t cover = Cover(corners);
        if (cover > ParticleEmitter::FramePixelLimit - pixels_) {
            return false;
        }
        pixels_ += cover;
        return true;
    }
    // Whether the bound was told of on this device (for the run, but for a test's new one).
    bool Told() { return std::exchange(told_, true); }

private:
    // At least the pixels the rasteriser lights for the quad, within the viewport: the columns
    // and rows of its box, a pixel more each way for the snapping of its corners; the whole
    // viewport where the quad reaches behind the camera.
    int64_t Cover(const Float3 (&corners)[4]) const {
        float low[2] = {INFINITY, INFINITY};
        float high[2] = {-INFINITY, -INFINITY};
        int ahead = 0;
        for (const Float3& c : corners) {
            float at[2] = {c.x, c.y};
            if (!flat_) {
                const Float4 clip = Float4Transform({c.x, c.y, c.z, 1.0f}, viewProjection_);
                if (!(clip.w > 0.0f)) {
                    continue;
                }
                ++ahead;
                at[0] = static_cast<float>(left_) + (clip.x / clip.w + 1.0f) * 0.5f * width_;
                at[1] = static_cast<float>(top_) + (1.0f - clip.y / clip.w) * 0.5f * height_;
            }
            for (int axis = 0; axis < 2; ++axis) {
                if (std::isnan(at[axis])) {
                    return 0; // the rasteriser draws no triangle with such a corner
                }
                low[axis] = std::min(low[axis], at[axis]);
                high[axis] = std::max(high[axis], at[axis]);
            }
        }
        if (!flat_ && ahead == 0) {
            return 0; // wholly behind the camera: clipped away
        }
        if (!flat_ && ahead < 4) {
            return int64_t{width_} * height_;
        }
        auto span = [](float from, float to, int32_t first, int32_t count) -> int64_t {
            const double a = std::max<double>(std::floor(from) - 1.0, first);
            const double b = std::min<double>(std::ceil(to) + 1.0, double(first) + count);
            return b > a ? static_cast<int64_t>(b - a) : 0;
        };
        return span(low[0], high[0], left_, width_) * span(low[1], high[1], top_, height_);
    }

    uint64_t device_ = 0;
    uint32_t frame_ = 0;
    int64_t pixels_ = 0;
    bool told_ = false;
    bool flat_ = false;
    Matrix4 viewProjection_;
    int32_t left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};

FrameFill& TheFrameFill() {
    static FrameFill fill;
    return fill;
}

} // namespace

uint32_t ClockParticleSeed() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

uint32_t SequenceParticleSeed() {
    static uint32_t seed = 0;
    return seed += 0x9E3779B9u;
}

ParticleEmitter::ParticleEmitter() {
    SetRenderType(RenderNonSolid);
    SetRenderFlags(RenderGeometry | RenderFog | RenderBilinear);
    SetMaxParticles(32);
    if (RenderDevice* device = TheRenderDevice()) {
        vertices_ = device->CreateVertexData();
        indices_ = device->CreateIndexData();
        // Sized now, so the render state sees a vertex layout with texture coordinates.
        SizeBuffers(static_cast<uint32_t>(poolSize_), WorldFormat);
    }
}

bool ParticleEmitter::SizeBuffers(uint32_t quads, uint32_t format) {
    if (!share_.Hold(DrawBufferShare::MeshBytes(uint64_t{quads} * 4, format, uint64_t{quads} * 6,
                                                indices_->GetIndexSize()),
                     this)) {
        // The buffers are remade empty below: what they held leaves the scene's total.
        share_.Release();
        quads = 0;
    }
    bufferQuads_ = quads;
    vertices_->Create(4 * quads, format, VertexDynamic | VertexStartEmpty);
    indices_->Create(6 * quads, 0);
    indices_->FillQuadIndices(0, quads, 0, true);
    return quads > 0;
}

ParticleEmitter::~ParticleEmitter() {
    sceneParticles -= activeCount_;
    if (texture_) {
        texture_->Release();
    }
}

const char* ParticleEmitter::GetTextureName() const {
    return RelativePathOf(texture_);
}

void ParticleEmitter::SetTextureName(const char* name) {
    if (!ReplaceHeldResource(texture_, name && *name ? GetTexture(name, "") : nullptr)) {
        return;
    }
    if (texture_ && texture_->GetState() == ResourceLoaded) {
        SetRenderFlag(RenderZWrite, !(texture_->GetTextureFlags() & TextureTranslucent));
        SetRenderFlag(RenderLocalBoxValid | RenderWorldBoxValid, false);
    }
    SetRenderFlag(RenderStateValid, false);
    SendSignal("propertychange", static_cast<Entity*>(this), true);
}

Entity* ParticleEmitter::GetResource() const {
    return texture_;
}

PathString ParticleEmitter::GetDescription() const {
    return PathString(texture_ ? texture_->GetFullPath() : "");
}

void ParticleEmitter::SetMaxParticles(int32_t count) {
    count = std::clamp(count, 1, MaxPool);
    maxParticles_ = count;
    if (count > poolSize_) {
        // A new pool: its records come as particles take them.
        poolSize_ = count;
        pool_.clear();
        Clear();
    }
}

void ParticleEmitter::SetEmittingTime(float seconds) {
    emittingTime_ = seconds;
    emittingLeft_ = seconds;
}

void ParticleEmitter::Clear() {
    // Index 0 goes first.
    free_.clear();
    fresh_ = 0;
    freshEnd_ = maxParticles_;
    sceneParticles -= activeCount_;
    activeCount_ = 0;
    active_.clear();
}

int32_t ParticleEmitter::TakeIndex() {
    if (free_.empty() && fresh_ == freshEnd_) {
        return -1;
    }
    if (sceneParticles >= SceneParticleLimit) {
        if (!toldSceneLimit_) {
            toldSceneLimit_ = true;
            LogMessage("ParticleEmitter '%s' (id %u) spawns no more while the emitters of the "
                       "scene hold %lld particles, the most they hold together",
                       GetName().c_str(), GetId(), static_cast<long long>(SceneParticleLimit));
        }
        return -1;
    }
    int32_t index = 0;
    if (!free_.empty()) {
        index = free_.back();
        free_.pop_back();
    } else {
        index = fresh_++;
        if (static_cast<size_t>(index) >= pool_.size()) {
            pool_.resize(static_cast<size_t>(index) + 1);
        }
    }
    ++sceneParticles;
    active_.push_back(index);
    ++activeCount_;
    lastSpawned_ = index;
    return index;
}

void ParticleEmitter::FreeIndex(int32_t index) {
    free_.push_back(index);
    --sceneParticles;
}

void ParticleEmitter::SetActive(bool active) {
    flags_ = active ? flags_ | EmitterActive : flags_ & ~EmitterActive;
}

bool ParticleEmitter::IsFlat() const {
    const int32_t mode = GetMatrixMode();
    return (GetPivotFlags() & Pivot2D) || mode == MatrixScreen || mode == MatrixViewSpace;
}

bool ParticleEmitter::Spawn() {
    const int32_t index = TakeIndex();
    if (index < 0) {
        return false;
    }
    Particle& p = pool_[static_cast<size_t>(index)];

    p.seed = ParticleSeed();
    SeedRandom(p.seed);
    const Float3 e = emitterSize_ * 0.5f;
    const float x = RandomRange(-e.x, e.x);
    const float y = RandomRange(-e.y, e.y);
    const float z = RandomRange(-e.z, e.z);
    p.position = Float3(x, y, z);
    const bool relative = (flags_ & EmitterRelative) != 0;
    if (!relative) {
        p.position = LocalToWorld(p.position);
    }
    const bool flat = IsFlat();
    Float3 direction = flat ? Float3(0, 1, 0) : Float3(0, 0, 1);
    if (dirSpread_ != 0.0f) {
        const float a = RandomRange(-dirSpread_, dirSpread_);
        const float b = RandomRange(-dirSpread_, dirSpread_);
        const float c = std::sqrt(std::fabs(1.0f - a * a - b * b));
        direction = flat ? Float3(a, c, b) : Float3(a, b, c);
    }
    p.velocity = direction * (startSpeed_ + RandomRange(-speedSpread_, speedSpread_));
    if (!relative) {
        p.velocity = LocalToWorldDirection(p.velocity);
        if (flags_ & EmitterRelativeSpeed) {
            p.velocity = p.velocity + velocity_;
        }
    }
    p.rotation = (flags_ & EmitterRandomRotStart) ? RandomScaled(6.2832f) : 0.0f;
    float life = lifetime_;
    if (lifetimeSpread_ != 0.0f) {
        life += RandomRange(-lifetimeSpread_, lifetimeSpread_);
    }
    p.lifetime = life;
    p.remaining = life;
    p.size = startSize_;
    p.depth = 0.0f;
    return true;
}

void ParticleEmitter::EmitParticle(Float3 position, Float3 velocity, float size, float rotation,
                                   float life) {
    const int32_t index = TakeIndex();
    if (index < 0) {
        return;
    }
    pool_[static_cast<size_t>(index)] = {position, velocity, size, rotation, life, life, 0.0f, 0};
}

bool ParticleEmitter::Step(Particle& p, float dt) const {
    p.remaining -= dt;
    p.size += growthRate_ * dt;
    if (p.remaining < 0.0f || p.size <= 0.0f) {
        return false;
    }
    p.velocity.y += gravity_ * dt;
    p.position = p.position + p.velocity * dt;
    p.rotation += rotSpeed_ * dt;
    if (friction_ != 0.0f) {
        p.velocity = p.velocity * (1.0f - friction_ * 0.05f);
    }
    return true;
}

void ParticleEmitter::Update(float frameTime, int mode) {
    RenderObject::Update(frameTime, mode);
    const Float3 position = GetWorldPosition();
    // A zero frame has no velocity to measure: the last one stays.
    if (frameTime != 0.0f) {
        velocity_ = (position - previousPosition_) * (1.0f / frameTime);
    }
    previousPosition_ = position;

    if ((flags_ & EmitterActive) && spawnInterval_ > 0.0f) {
        accumulator_ += frameTime;
        // Spawns into a full pool do nothing, so once it is full only the remainder is kept:
        // a tiny interval cannot turn into billions of iterations.
        while (accumulator_ >= spawnInterval_) {
            if (!Spawn()) {
                accumulator_ = std::fmod(accumulator_, spawnInterval_);
                break;
            }
            accumulator_ -= spawnInterval_;
        }
        if (emittingTime_ != 0.0f) {
            emittingLeft_ -= frameTime;
            if (emittingLeft_ <= 0.0f) {
                flags_ &= ~EmitterActive;
                emittingLeft_ = emittingTime_;
                accumulator_ = 0.0f;
                if (witness_.GetId() != 0) {
                    SendEvent(EntityRef(this), witness_, nullptr, 1.0f);
                }
            }
        }
    }

    int32_t kept = 0;
    for (int32_t i = 0; i < activeCount_; ++i) {
        const int32_t index = active_[static_cast<size_t>(i)];
        Particle& p = pool_[static_cast<size_t>(index)];
        if (!Step(p, frameTime)) {
            FreeIndex(index);
        } else {
            active_[static_cast<size_t>(kept++)] = index;
        }
    }
    activeCount_ = kept;
    active_.resize(static_cast<size_t>(kept));
}

void ParticleEmitter::SortByDepth() {
    Camera* camera = ViewCamera();
    if (!camera) {
        return;
    }
    const Float3 eye = camera->GetWorldPosition();
    const Float3 axis = camera->GetWorldAxisZ();
    for (int32_t i = 0; i < activeCount_; ++i) {
        Particle& p = pool_[static_cast<size_t>(active_[static_cast<size_t>(i)])];
        p.depth = (p.position - eye).Dot(axis);
    }
    // Insertion sort: back to front, equal depths keep their order, no allocation.
    for (int32_t i = 1; i < activeCount_; ++i) {
        const int32_t index = active_[static_cast<size_t>(i)];
        const float depth = pool_[static_cast<size_t>(index)].depth;
        int32_t j = i;
        while (j > 0 &&
               pool_[static_cast<size_t>(active_[static_cast<size_t>(j - 1)])].depth < depth) {
            active_[static_cast<size_t>(j)] = active_[static_cast<size_t>(j - 1)];
            --j;
        }
        active_[static_cast<size_t>(j)] = index;
    }
}

uint32_t ParticleEmitter::ParticleColor(const Particle& p, bool twinkle) {
    uint32_t rgb = GetColor() & 0xFFFFFF;
    int32_t alpha = UnitByte(GetOpacity());
    if (fadeTime_ > 0.0f) {
        const float age = p.lifetime - p.remaining;
        float f = 1.0f;
        if ((flags_ & EmitterFadeIn) && age < fadeTime_) {
            f = age / fadeTime_;
        }
        if ((flags_ & EmitterFadeOut) && p.remaining < fadeTime_) {
            f *= p.remaining / fadeTime_;
        }
        if (twinkle && (flags_ & EmitterTwinkle) && std::fmod(age, 0.2f) < 0.1f) {
            alpha = 0;
        }
        alpha = static_cast<int32_t>(static_cast<float>(alpha) * std::clamp(f, 0.0f, 1.0f));
    }
    if (flags_ & EmitterColorBlendTime) {
        rgb = BlendColor(rgb, blendColor_, UnitByte(p.remaining / p.lifetime)) & 0xFFFFFF;
    }
    if (flags_ & EmitterColorBlendPos) {
        const float w = (p.position.z - GetWorldPosition().z) / emitterSize_.z + 0.5f;
        rgb = BlendColor(rgb, blendColor_, UnitByte(w)) & 0xFFFFFF;
    }
    return static_cast<uint32_t>(alpha) << 24 | rgb;
}

void ParticleEmitter::WriteVertex(uint32_t i, Float3 position, Float3 normal, Float2 uv,
                                  uint32_t color, bool flat) {
    if (flat) {
        position.z = 0.0f;
    } else {
        vertices_->SetNormal(i, normal);
    }
    vertices_->SetPosition(i, position);
    vertices_->SetColor(i, 0, color);
    vertices_->SetTexCoord(i, 0, uv.x, uv.y);
}

uint32_t ParticleEmitter::FillQuads(float h, bool flat) {
    Camera* camera = ViewCamera();
    const Rows cameraRotation = camera ? RotationOf(camera->GetWorldMatrix()) : Rows{};
    const Float3 cameraZ = camera ? camera->GetWorldAxisZ() : Float3(0, 0, 1);
    const Matrix4& world = GetWorldMatrix();
    const bool relative = (flags_ & EmitterRelative) != 0;
    const Float3 corners[4] = {{-0.5f, h, 0}, {-0.5f, -h, 0}, {0.5f, -h, 0}, {0.5f, h, 0}};
    // Vertex order by corner, and each corner's texture coordinate.
    static constexpr int WorldOrder[4] = {0, 1, 2, 3};
    static constexpr int FlatOrder[4] = {0, 3, 2, 1};
    const Float2 worldUv[4] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}};
    const Float2 flatUv[4] = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    const int* order = flat ? FlatOrder : WorldOrder;
    const Float2* uv = flat ? flatUv : worldUv;
    FrameFill& fill = TheFrameFill();
    uint32_t kept = 0;
    for (int32_t n = 0; n < activeCount_; ++n) {
        const Particle& p = pool_[static_cast<size_t>(active_[static_cast<size_t>(n)])];
        const uint32_t color = ParticleColor(p, true);
        Float3 points[4];
        Float3 normal;
        if (flags_ & EmitterTrail) {
            const Float3 d = p.velocity * (p.size * trailLength_);
            const Float3 side = SafeNormal(d.Cross(cameraZ)) * (0.5f * p.size);
            points[0] = p.position + side;
            points[1] = p.position + side + d;
            points[2] = p.position - side + d;
            points[3] = p.position - side;
            normal = cameraZ;
        } else {
            float angle = p.rotation;
            if (flags_ & EmitterRotFromSpeed) {
                angle = std::acos(std::clamp(SafeNormal(p.velocity).y, -1.0f, 1.0f));
                angle = p.velocity.x > 0.0f ? -angle : angle;
            }
            const bool facing = !flat && (flags_ & (EmitterBillboard | EmitterRotFromSpeed));
            Rows r;
            if (flat) {
                r = RotZ(angle);
            } else if (facing) {
                r = RotZ(angle).Then(cameraRotation);
            } else if (flags_ & EmitterUseSpeedAsNormal) {
                const Float3 nv = SafeNormal(p.velocity);
                Float3 a, b;
                PlaneSpace(nv, a, b);
                r = {a, b, nv * -1.0f};
            } else {
                r = RotZ(angle).Then(RotX(angle));
            }
            Float3 at = p.position;
            if (relative && facing) {
                at = world.TransformCoord(at);
            }
            normal = r.z;
            for (int c = 0; c < 4; ++c) {
                const Float3 scaled(corners[c].x * p.size, corners[c].y * p.size, corners[c].z);
                points[c] = r.Apply(scaled) + at;
                if (relative && !facing) {
                    points[c] = world.TransformCoord(points[c]);
                }
            }
            if (relative && !facing) {
                normal = world.TransformNormal(normal);
            }
        }
        if (!fill.Take(points)) {
            continue;
        }
        const uint32_t first = kept++ * 4;
        for (int v = 0; v < 4; ++v) {
            const int c = order[v];
            WriteVertex(first + static_cast<uint32_t>(v), points[c], normal, uv[v], color, flat);
        }
    }
    return kept;
}

uint32_t ParticleEmitter::FillRibbon(bool flat) {
    Camera* camera = ViewCamera();
    const Rows cameraRotation = camera ? RotationOf(camera->GetWorldMatrix()) : Rows{};
    struct Edge {
        Float3 left, right, normal;
        uint32_t color;
    };
    auto edge = [&](const Particle& p) {
        Rows r = RotZ(p.rotation);
        if (flags_ & EmitterBillboard) {
            r = r.Then(cameraRotation);
        }
        return Edge{r.Apply(Float3(-0.5f * p.size, 0, 0)) + p.position,
                    r.Apply(Float3(0.5f * p.size, 0, 0)) + p.position, r.z,
                    ParticleColor(p, false)};
    };
    FrameFill& fill = TheFrameFill();
    Edge previous{};
    uint32_t vertex = 0;
    for (int32_t n = activeCount_ - 1; n >= 0; --n) {
        const Edge e = edge(pool_[static_cast<size_t>(active_[static_cast<size_t>(n)])]);
        if (n == activeCount_ - 1) {
            previous = e;
        }
        const Float3 corners[4] = {e.left, e.right, previous.right, previous.left};
        if (fill.Take(corners)) {
            WriteVertex(vertex++, e.left, e.normal, Float2(0, 0), e.color, flat);
            WriteVertex(vertex++, e.right, e.normal, Float2(0, 1), e.color, flat);
            WriteVertex(vertex++, previous.right, previous.normal, Float2(1, 0), previous.color,
                        flat);
            WriteVertex(vertex++, previous.left, previous.normal, Float2(1, 1), previous.color,
                        flat);
        }
        previous = e;
    }
    return vertex / 4;
}

int32_t ParticleEmitter::Render() {
    if (TestRenderFlags(RenderGizmo) || HasFlag(NodeSelected)) {
        if (AnnotationSink* annotations = GetActiveAnnotations()) {
            annotations->AddBox(GetWorldPosition(), emitterSize_, GetWorldOrientation(),
                                GizmoColor);
            char count[32];
            std::snprintf(count, sizeof count, "particles: %d", activeCount_);
            annotations->AddText(10.0f, 10.0f, count, GizmoColor, 0.0f);
        }
    }
    if (!texture_ || activeCount_ == 0 || !vertices_ || !mesh_) {
        return 0;
    }
    const bool ribbon = (flags_ & EmitterRibbon) != 0;
    if (ribbon && activeCount_ < 2) {
        return 0;
    }
    if (flags_ & EmitterDepthSort) {
        SortByDepth();
    }
    const bool flat = GetMatrixMode() == MatrixScreen || GetMatrixMode() == MatrixViewSpace;
    const uint32_t format = flat ? ScreenFormat : WorldFormat;
    const auto count = static_cast<uint32_t>(activeCount_);
    if (count > bufferQuads_ || vertices_->GetFormat() != format) {
        // Grown by doubling up to the pool, so a filling pool is not remade every frame.
        const uint32_t doubled = std::min(2 * bufferQuads_, static_cast<uint32_t>(poolSize_));
        const bool sized =
            SizeBuffers(count > bufferQuads_ ? std::max(count, doubled) : bufferQuads_, format);
        mesh_->SetVertexStream(vertices_.get(), 0);
        if (!sized) {
            return 0;
        }
    }
    TheFrameFill().Begin(*TheRenderDevice(), flat);
    vertices_->Clear();
    vertices_->Lock(2);
    vertices_->AddVertices(4 * count);
    const float width = static_cast<float>(std::max(texture_->GetWidth(), 1));
    const uint32_t drawn =
        ribbon ? FillRibbon(flat)
               : FillQuads(static_cast<float>(texture_->GetHeight()) * 0.5f / width, flat);
    // Quads past the frame's bound were left out; the ones drawn come first.
    vertices_->Clear();
    vertices_->AddVertices(4 * drawn);
    vertices_->Lock(0);
    if (drawn < count && !TheFrameFill().Told()) {
        LogMessage("ParticleEmitter '%s' (id %u): the particles of a frame cover at most %lld "
                   "pixels together; the rest are not drawn in that frame, here or in other "
                   "emitters, and not told again",
                   GetName().c_str(), GetId(), static_cast<long long>(FramePixelLimit));
    }
    indices_->SetCount(6 * drawn);
    if (drawn > 0) {
        mesh_->Draw();
    }
    return 0;
}

void ParticleEmitter::UpdateRenderState() {
    if (!vertices_) {
        return;
    }
    if (!mesh_) {
        mesh_ = TheRenderDevice()->CreateDeviceMesh();
    }
    ApplyMeshState(*mesh_, vertices_.get(), indices_.get(),
                   texture_ ? texture_->GetDeviceTexture() : nullptr, 0xFFFFFFFF);
    mesh_->SetWorldMatrix(Matrix4{});
    // Colour and opacity are in every particle's vertices already.
    mesh_->SetColor(0xFFFFFFFF);
    SetStateBits();
}

bool ParticleEmitter::IsOpaque() {
    return RenderObject::IsOpaque() && GetOpacity() >= 1.0f && texture_ &&
           !(texture_->GetTextureFlags() & TextureTranslucent);
}

void ParticleEmitter::UpdateWorldBoundingBox() {
    const Float3 position = GetWorldPosition();
    const Float3 half = (emitterSize_ + Float3(startSize_, startSize_, startSize_)) * 0.5f;
    worldBox_ = {position - half, position + half};
}

void ParticleEmitter::UpgradeVersion(int fileVersion) {
    RenderObject::UpgradeVersion(fileVersion);
    if (fileVersion == 2) {
        flags_ |= EmitterBillboard;
    }
}

void ParticleEmitter::ReceiveEvent(const EventRecord& event) {
    switch (event.target.GetPort()) {
    case 0:
        SetActive(true);
        break;
    case 1:
        SetActive(false);
        break;
    case 2:
        Clear();
        break;
    default:
        break;
    }
}

const char* ParticleEmitter::GetInputName(int port) const {
    static constexpr const char* Names[3] = {"start", "stop", "clear"};
    return port >= 0 && port < 3 ? Names[port] : "";
}

const char* ParticleEmitter::GetOutputName(int port) const {
    return port == 0 ? "done" : "";
}

void ParticleEmitter::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        witness_ = reference;
    }
}

EntityRef ParticleEmitter::GetPortValue(int port) const {
    return port == 0 ? witness_ : EntityRef();
}

ClassInfo* ParticleEmitter::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "ParticleEmitter", []() -> Entity* { return new ParticleEmitter(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    // Particles move in the editor too.
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);

    using E = ParticleEmitter;
    classInfo->AddResourceProperty<&E::GetTextureName, &E::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    classInfo->AddProperty<PropertyFloat3, &E::GetEmitterSize, &E::SetEmitterSize>("emittersize");
    classInfo->AddProperty<PropertyFloat, &E::GetGrowthRate, &E::SetGrowthRate>("growthrate");
    classInfo->AddProperty<PropertyFloat, &E::GetStartSize, &E::SetStartSize>("startsize");
    classInfo->AddProperty<PropertyFloat, &E::GetTrailLength, &E::SetTrailLength>("traillength");
    classInfo->AddProperty<PropertyFloat, &E::GetDirSpread, &E::SetDirSpread>("dirspread:0,1");
    classInfo->AddProperty<PropertyFloat, &E::GetStartSpeed, &E::SetStartSpeed>("startspeed");
    classInfo->AddProperty<PropertyFloat, &E::GetSpeedSpread, &E::SetSpeedSpread>(
        "speedspread:0,1");
    classInfo->AddProperty<PropertyFloat, &E::GetRotSpeed, &E::SetRotSpeed>("rotspeed:,,,0.01");
    classInfo->AddProperty<PropertyFloat, &E::GetGravity, &E::SetGravity>("gravity:");
    classInfo->AddProperty<PropertyFloat, &E::GetFriction, &E::SetFriction>("friction:0,1");
    classInfo->AddProperty<PropertyFloat, &E::GetSpawnInterval, &E::SetSpawnInterval>(
        "spawninterval:0,");
    classInfo->AddProperty<PropertyFloat, &E::GetFadeTime, &E::SetFadeTime>("fadetime:0,");
    classInfo->AddProperty<PropertyFloat, &E::GetLifetime, &E::SetLifetime>("lifetime:0,");
    classInfo->AddProperty<PropertyFloat, &E::GetLifetimeSpread, &E::SetLifetimeSpread>(
        "lifetimespread:0,");
    classInfo->AddProperty<PropertyFloat, &E::GetEmittingTime, &E::SetEmittingTime>(
        "emittingtime:0,");
    classInfo->AddProperty<PropertyInt, &E::GetMaxParticles, &E::SetMaxParticles>("maxparticles");
    classInfo->AddProperty<PropertyBitfield, &E::GetEmitterFlags, &E::SetEmitterFlags>(
        "emitterflags:active,relativespeed,depthsort,billboard,randomrotstart,trail,fadein,"
        "fadeout,colorblendtime,colorblendpos,rotfromspeed,relative,perparticleblur,"
        "inverserotdir,interpolatepos,twinkle,ribbon,ribbon_tile,usespeedasnormal");
    classInfo->AddProperty<PropertyColor, &E::GetBlendColor, &E::SetBlendColor>("blendcolor");
    AddWitnessProperty(classInfo, "witness:signal", 0);
    for (int32_t bit = 0; bit < 14; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&E::Emit>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float3,float,float,float)",
                         BindMethod<&E::EmitParticle>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&E::Clear>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(bool)", BindMethod<&E::SetActive>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&E::IsActive>(), MethodScript);
    return classInfo;
}

} // namespace quarn
