#pragma once

#include "core/scene/Pivot.h"

#include <cstdint>
#include <vector>

namespace quarn {

struct LightRecord;

// Bits of the "lightflags" property.
enum LightFlags : uint32_t {
    LightDynamic = 0x1, // the light managers hand it to the device
    LightStatic = 0x2,  // for light bakes
    LightSpecularOnly = 0x4,
    LightAntialias = 0x8,
    LightAutoRange = 0x10, // the range follows the brightness
};

// A light source in the scene. Every light stands in one process-wide list from construction
// to destruction, where the light managers and light bakes find it.
class Light : public Pivot {
public:
    Light();
    ~Light() override;

    // Spot and omni lights shine from their position; directional and ambient ones do not.
    virtual bool HasPosition() const = 0;
    virtual void FillDeviceLight(LightRecord& record) = 0;
    // The light arriving at a world point on a surface with that normal; a zero normal leaves
    // the surface's orientation out.
    virtual float GetInfluence(Float3 point, Float3 normal) = 0;

    uint32_t GetColor() const { return color_; }
    void SetColor(uint32_t color);
    float GetBrightness() const { return brightness_; }
    // With LightAutoRange the range becomes the distance where the light falls to 0.025.
    void SetBrightness(float brightness);
    uint32_t GetLightFlags() const { return lightFlags_; }
    void SetLightFlags(uint32_t flags) { lightFlags_ = flags; }
    float GetRadius() const { return radius_; }
    void SetRadius(float radius) { radius_ = radius; }
    float GetRange() const { return range_; }
    void SetRange(float range) { range_ = range; }

    ClassInfo* GetClass() const override { return classInfo; }

    // Every light alive, in no particular order.
    static const std::vector<Light*>& GetAllLights();

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

protected:
    // The record fields every kind fills alike.
    void FillCommon(LightRecord& record, uint32_t type) const;
    // Brightness over the squared distance to the point, times how squarely the surface faces
    // the light (1 without a normal); 0 beyond the range or behind the surface. `toLight` is
    // the light's position minus the point, `distance` its length.
    float PointInfluence(Float3 toLight, float distance, Float3 normal) const;

private:
    static Property* colorProperty_;

    uint32_t color_ = 0xFFFFFFFF;
    float brightness_ = 1.0f;
    uint32_t lightFlags_ = LightDynamic | LightStatic | LightAutoRange;
    float radius_ = 0.1f;
    float range_ = 100.0f;
    size_t listIndex_ = 0;
};

// A cone of light along the pivot's z axis: full inside innerfov, fading to nothing at
// outerfov (both full angles in degrees).
class SpotLight : public Light {
public:
    SpotLight();

    float GetInnerFov() const { return innerFov_; }
    // Widens outerfov to it when outerfov is narrower.
    void SetInnerFov(float degrees);
    float GetOuterFov() const { return outerFov_; }
    void SetOuterFov(float degrees) { outerFov_ = degrees; }

    bool HasPosition() const override { return true; }
    void FillDeviceLight(LightRecord& record) override;
    float GetInfluence(Float3 point, Float3 normal) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float innerFov_ = 45.0f;
    float outerFov_ = 60.0f;
};

// Parallel light along the pivot's z axis.
class DirectionalLight : public Light {
public:
    bool HasPosition() const override { return false; }
    void FillDeviceLight(LightRecord& record) override;
    float GetInfluence(Float3 point, Float3 normal) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

// Light from everywhere; the light managers add the colours of all ambient lights.
class AmbientLight : public Light {
public:
    AmbientLight();

    bool HasPosition() const override { return false; }
    void FillDeviceLight(LightRecord& record) override;
    float GetInfluence(Float3 point, Float3 normal) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

// A point light shining in every direction.
class OmniLight : public Light {
public:
    OmniLight();

    bool HasPosition() const override { return true; }
    void FillDeviceLight(LightRecord& record) override;
    float GetInfluence(Float3 point, Float3 normal) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

} // namespace quarn
