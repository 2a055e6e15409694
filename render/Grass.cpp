#include "render/Grass.h"

#include "core/debug/Log.h"
#include "core/math/Random.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"

#include <cmath>

namespace quarn {

ClassInfo* Grass::classInfo = nullptr;

namespace {

constexpr uint32_t GrassFormat = VertexPosition | VertexDiffuse;

// A blade's corners: x across, y up from the root.
constexpr Float2 BladeCorners[4] = {{-0.5f, 0.0f}, {-0.5f, 1.0f}, {0.5f, 1.0f}, {0.5f, 0.0f}};

// The channel moved by a random offset within +-variance, kept inside a byte (NaN reads as the
// low end).
uint32_t VariedChannel(uint32_t channel, float variance) {
    float value = RandomRange(-variance, variance) + static_cast<float>(channel);
    if (!(value >= 0.01f)) {
        value = 0.01f;
    } else if (value > 255.0f) {
        value = 255.0f;
    }
    return static_cast<uint32_t>(value);
}

// The blades every Grass node holds built.
int64_t sceneBlades = 0;

} // namespace

Grass::~Grass() {
    sceneBlades -= builtBlades_;
    mesh_.reset();
    vertices_.reset();
    indices_.reset();
}

void Grass::SetRootBox(Float3 box) {
    Store(rootBox_, box);
}

void Grass::SetCount(int32_t count) {
    Store(count_, count);
}

void Grass::SetSeed(int32_t seed) {
    Store(seed_, seed);
}

void Grass::SetAngularVariance(float variance) {
    Store(angularVariance_, variance);
}

void Grass::SetSize(Float2 size) {
    Store(size_, size);
}

void Grass::SetSizeVariance(float variance) {
    Store(sizeVariance_, variance);
}

void Grass::SetColorVariance(float variance) {
    Store(colorVariance_, variance);
}

uint32_t Grass::GetVertexFormat() const {
    return GrassFormat | (TestRenderFlags(RenderLighting) ? VertexNormal : 0);
}

uint32_t Grass::GetBuildCount() {
    if (count_ < 0) {
        return 0;
    }
    const int32_t limit = indices_->GetIndexSize() == 2 ? MaxBlades16BitIndices : MaxBlades;
    if (count_ <= limit) {
        return static_cast<uint32_t>(count_);
    }
    if (count_ != loggedCount_) {
        LogMessage("Grass '%s' (id %u): %d blades are more than %d; none is drawn",
                   GetName().c_str(), GetId(), count_, limit);
        loggedCount_ = count_;
    }
    return 0;
}

void Grass::BuildGeometry() {
    sceneBlades -= builtBlades_;
    uint32_t blades = GetBuildCount();
    if (sceneBlades + blades > SceneBladeLimit) {
        if (count_ != loggedCount_) {
            LogMessage("Grass '%s' (id %u): %d blades would make the grass of the scene more than "
                       "%lld; none is drawn",
                       GetName().c_str(), GetId(), count_, static_cast<long long>(SceneBladeLimit));
            loggedCount_ = count_;
        }
        blades = 0;
    }
    if (!share_.Hold(DrawBufferShare::MeshBytes(uint64_t{blades} * 4, GetVertexFormat(),
                                                uint64_t{blades} * 6, indices_->GetIndexSize()),
                     this)) {
        blades = 0;
    }
    sceneBlades += blades;
    builtBlades_ = blades;
    const uint32_t base = GetColorWithOpacity();
    vertices_->Create(blades * 4, GetVertexFormat(), 0);
    indices_->Create(blades * 6, IndexSystemMemory);
    SeedRandom(static_cast<uint32_t>(seed_));
    const float variance = colorVariance_ * 255.0f;
    const auto place = [](float extent) { return RandomUnit() * extent - extent * 0.5f; };
    for (uint32_t i = 0; i < blades; ++i) {
        // The draws come in this order for every blade, so a seed always gives one layout.
        const float x = place(rootBox_.x);
        const float y = place(rootBox_.y);
        const float z = place(rootBox_.z);
        const float k = RandomRange(1.0f - sizeVariance_, 1.0f + sizeVariance_);
        const float w = size_.x * k;
        const float h = size_.y * k;
        const float a = RandomRange(-angularVariance_, angularVariance_);
        const float c = std::cos(a);
        const float s = std::sin(a);
        uint32_t color = base;
        if (variance > 0.0f) {
            const uint32_t r = VariedChannel(base >> 16 & 0xFF, variance);
            const uint32_t g = VariedChannel(base >> 8 & 0xFF, variance);
            const uint32_t b = VariedChannel(base & 0xFF, variance);
            color = (base & 0xFF000000) | r << 16 | g << 8 | b;
        }
        for (uint32_t j = 0; j < 4; ++j) {
            const float tx = BladeCorners[j].x * w;
            const float ty = BladeCorners[j].y * h;
            const uint32_t v = 4 * i + j;
            vertices_->SetPosition(v, Float3(x + c * tx - s * ty, y + s * tx + c * ty, z));
            vertices_->SetNormal(v, Float3(0.0f, 0.0f, -1.0f));
            vertices_->SetColor(v, 0, color);
        }
    }
    indices_->FillQuadIndices(0, blades, 0, true);
}

void Grass::UpdateRenderState() {
    UpdateFlatMesh(
        {vertices_, indices_, mesh_}, GetVertexFormat(), FlatTagMeshWithNode,
        [this] { BuildGeometry(); },
        [this](DeviceMesh& mesh) {
            mesh.SetLayerCount(1);
            mesh.SetLayer(0, nullptr, static_cast<BlendMode>(GetBlendMode()));
        });
}

int32_t Grass::Render() {
    if (mesh_) {
        SubmitMesh(*mesh_);
    }
    return 0;
}

ClassInfo* Grass::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Grass", []() -> Entity* { return new Grass(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->AddProperty<PropertyFloat3, &Grass::GetRootBox, &Grass::SetRootBox>("rootbox");
    classInfo->AddProperty<PropertyInt, &Grass::GetCount, &Grass::SetCount>("count");
    classInfo->AddProperty<PropertyInt, &Grass::GetSeed, &Grass::SetSeed>("seed");
    classInfo->AddProperty<PropertyFloat, &Grass::GetAngularVariance, &Grass::SetAngularVariance>(
        "angularvariance");
    classInfo->AddProperty<PropertyFloat2, &Grass::GetSize, &Grass::SetSize>("size");
    classInfo->AddProperty<PropertyFloat, &Grass::GetSizeVariance, &Grass::SetSizeVariance>(
        "sizevariance");
    classInfo->AddProperty<PropertyFloat, &Grass::GetColorVariance, &Grass::SetColorVariance>(
        "colorvariance");
    return classInfo;
}

} // namespace quarn
