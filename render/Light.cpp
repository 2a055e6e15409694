#include "render/Light.h"

#include "core/math/Vector.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "device/RenderDevice.h"

#include <cmath>

namespace quarn {

ClassInfo* Light::classInfo = nullptr;
ClassInfo* SpotLight::classInfo = nullptr;
ClassInfo* DirectionalLight::classInfo = nullptr;
ClassInfo* AmbientLight::classInfo = nullptr;
ClassInfo* OmniLight::classInfo = nullptr;
Property* Light::colorProperty_ = nullptr;

namespace {

constexpr float DegreesToRadians = 0.017453292f;
// The light a surface gets at distance d falls off as 1 / (d^2 + 0.1); autorange ends it where
// that reaches this level.
constexpr float AutoRangeLevel = 0.025f;

// Never destroyed, so lights that outlive static destruction can still leave it.
std::vector<Light*>& LightList() {
    static auto* lights = new std::vector<Light*>();
    return *lights;
}

bool IsZero(const Float3& v) {
    return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

} // namespace

// Light -----------------------------------------------------------------------------------------

Light::Light() : listIndex_(LightList().size()) {
    LightList().push_back(this);
}

Light::~Light() {
    // The last light takes the freed place.
    std::vector<Light*>& lights = LightList();
    Light* last = lights.back();
    lights[listIndex_] = last;
    last->listIndex_ = listIndex_;
    lights.pop_back();
}

const std::vector<Light*>& Light::GetAllLights() {
    return LightList();
}

void Light::SetColor(uint32_t color) {
    if (color == color_) {
        return;
    }
    const uint32_t old = color_;
    color_ = color;
    if (colorProperty_) {
        colorProperty_->NotifyListeners(*this, &old, &color);
    }
}

void Light::SetBrightness(float brightness) {
    if (brightness == brightness_) {
        return;
    }
    brightness_ = brightness;
    if (lightFlags_ & LightAutoRange) {
        range_ = SafeSqrt(brightness / AutoRangeLevel) - 0.1f;
    }
}

void Light::FillCommon(LightRecord& record, uint32_t type) const {
    record = LightRecord();
    record.type = type;
    record.color = color_;
    record.flags = (lightFlags_ & LightSpecularOnly) ? LightSpecular : LightDiffuse | LightSpecular;
    record.strength = brightness_;
    record.coneAngle = 90.0f;
}

float Light::PointInfluence(Float3 toLight, float distance, Float3 normal) const {
    if (!(distance < range_)) {
        return 0.0f;
    }
    const float facing = IsZero(normal) ? 1.0f : normal.Dot(toLight) / distance;
    // Written as !(> 0) so that a light exactly at the point, whose facing is 0 / 0, adds
    // nothing.
    if (!(facing > 0.0f)) {
        return 0.0f;
    }
    return brightness_ / (distance * distance + 0.1f) * facing;
}

// SpotLight -------------------------------------------------------------------------------------

SpotLight::SpotLight() {
    SetLightFlags(LightDynamic | LightStatic);
}

void SpotLight::SetInnerFov(float degrees) {
    innerFov_ = degrees;
    if (outerFov_ < degrees) {
        outerFov_ = degrees;
    }
}

void SpotLight::FillDeviceLight(LightRecord& record) {
    FillCommon(record, static_cast<uint32_t>(LightType::Spot));
    record.coneAngle = outerFov_;
    record.position = GetWorldPosition();
    record.direction = GetWorldAxisZ();
}

float SpotLight::GetInfluence(Float3 point, Float3 normal) {
    const Float3 toLight = GetWorldPosition() - point;
    const float distance = toLight.Length();
    const float lit = PointInfluence(toLight, distance, normal);
    if (lit == 0.0f) {
        return 0.0f;
    }
    const float inner = std::cos(innerFov_ / 2.0f * DegreesToRadians);
    const float outer = std::cos(outerFov_ / 2.0f * DegreesToRadians);
    const float along = GetWorldAxisZ().Dot(toLight) / -distance;
    if (!(along > outer)) {
        return 0.0f;
    }
    const float cone = along >= inner ? 1.0f : (along - outer) / (inner - outer);
    return lit * cone;
}

// DirectionalLight ------------------------------------------------------------------------------

void DirectionalLight::FillDeviceLight(LightRecord& record) {
    FillCommon(record, static_cast<uint32_t>(LightType::Directional));
    record.direction = GetWorldAxisZ();
}

float DirectionalLight::GetInfluence(Float3, Float3 normal) {
    if (IsZero(normal)) {
        return GetBrightness();
    }
    const float facing = -GetWorldAxisZ().Dot(normal);
    return facing > 0.0f ? facing * GetBrightness() : 0.0f;
}

// AmbientLight ----------------------------------------------------------------------------------

AmbientLight::AmbientLight() {
    SetColor(0xFF808080);
    SetLightFlags(LightDynamic);
}

void AmbientLight::FillDeviceLight(LightRecord& record) {
    FillCommon(record, static_cast<uint32_t>(LightType::Ambient));
    record.flags = 0;
}

float AmbientLight::GetInfluence(Float3, Float3) {
    return GetBrightness();
}

// OmniLight -------------------------------------------------------------------------------------

OmniLight::OmniLight() {
    SetLightFlags(LightDynamic | LightStatic);
}

void OmniLight::FillDeviceLight(LightRecord& record) {
    FillCommon(record, static_cast<uint32_t>(LightType::Point));
    record.position = GetWorldPosition();
}

float OmniLight::GetInfluence(Float3 point, Float3 normal) {
    const Float3 toLight = GetWorldPosition() - point;
    return PointInfluence(toLight, toLight.Length(), normal);
}

// Registration --------------------------------------------------------------------------------

namespace {

// Lights update while the game is stopped or paused too.
template <class T>
ClassInfo* RegisterLightKind(ClassInfo*& holder, const char* name) {
    if (holder) {
        return holder;
    }
    holder = new ClassInfo(
        name, []() -> Entity* { return new T(); }, &holder);
    holder->SetParent(Light::RegisterClass());
    holder->SetFlags(holder->GetFlags() | ClassUpdateWhileStopped);
    return holder;
}

} // namespace

ClassInfo* Light::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("Light", nullptr, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("Lights");
    colorProperty_ = classInfo->AddProperty<PropertyColor, &Light::GetColor, &Light::SetColor>(
        "color:colorpick");
    classInfo->AddProperty<PropertyFloat, &Light::GetBrightness, &Light::SetBrightness>(
        "brightness");
    classInfo->AddProperty<PropertyBitfield, &Light::GetLightFlags, &Light::SetLightFlags>(
        "lightflags:dynamic,static,specular_only,antialias,autorange");
    classInfo->AddProperty<PropertyFloat, &Light::GetRadius, &Light::SetRadius>("radius:0.0,1.0");
    classInfo->AddProperty<PropertyFloat, &Light::GetRange, &Light::SetRange>("range:0.0");
    return classInfo;
}

ClassInfo* SpotLight::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    RegisterLightKind<SpotLight>(classInfo, "SpotLight");
    classInfo->AddProperty<PropertyFloat, &SpotLight::GetInnerFov, &SpotLight::SetInnerFov>(
        "innerfov:0.0,200.0");
    classInfo->AddProperty<PropertyFloat, &SpotLight::GetOuterFov, &SpotLight::SetOuterFov>(
        "outerfov:0.0,200.0");
    return classInfo;
}

ClassInfo* DirectionalLight::RegisterClass() {
    return RegisterLightKind<DirectionalLight>(classInfo, "DirectionalLight");
}

ClassInfo* AmbientLight::RegisterClass() {
    return RegisterLightKind<AmbientLight>(classInfo, "AmbientLight");
}

ClassInfo* OmniLight::RegisterClass() {
    return RegisterLightKind<OmniLight>(classInfo, "OmniLight");
}

} // namespace quarn
