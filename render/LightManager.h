#pragma once

#include "core/object/EntityRef.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Pivot.h"

#include <cstdint>

namespace quarn {

// Picks, at every update, the six enabled dynamic lights that reach its own position best and
// hands them to the device's light slots 0-5, with the sum of the ambient lights' colours in
// slot 6. The manager updated last before a render target decides that target's lights.
class LightManager : public Pivot {
public:
    static constexpr int DeviceLightSlots = 6;
    static constexpr int KeptLights = 4;
    static constexpr uint32_t AmbientSlot = 6;

    void Update(float frameTime, int mode) override;

    float GetRadius() const { return radius_; }
    void SetRadius(float radius) { radius_ = radius; }
    // The best lights of the last update, best first (0 for none); ids, so a light deleted since
    // reads as none.
    EntityId GetChosenLight(int index) const;
    // Takes the id only when it names a light.
    void SetChosenLight(int index, EntityId id);

    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float radius_ = 0.1f;
    EntityRef chosen_[KeptLights];
};

} // namespace quarn
