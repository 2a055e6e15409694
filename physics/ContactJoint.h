#pragma once

#include "physics/Joint.h"

#include <cstdint>

namespace quarn {

class CollisionVolume;

// Bits of SurfaceParameters::mode.
enum ContactMode : uint32_t {
    ContactFrictionDirection = 0x2, // the first friction direction is given
    ContactMu2 = 0x4,               // the second friction row is bounded by mu2, not mu
    ContactSoftErp = 0x8,
    ContactSoftCfm = 0x10,
    ContactMotion = 0x20,            // the surfaces move against each other (conveyors)
    ContactFrictionScaled1 = 0x1000, // friction bounds scale with the normal force
    ContactFrictionScaled2 = 0x2000,
};

// How two surfaces meet, copied whole into every contact joint. The bounce, its velocity and the
// two softness values are kept but not used by the rows.
struct SurfaceParameters {
    uint32_t mode = 0;
    float mu = 0.0f;
    float mu2 = 0.0f;
    float bounce = 0.0f;
    float bounceVelocity = 0.0f;
    float softErp = 0.0f;
    float softCfm = 0.0f;
    Float3 motion;
    float softness1 = 0.0f;
    float softness2 = 0.0f;
    Float3 frictionDirection;
    // Where a resting contact settles: pushed out past it, and a new one closed toward it.
    float minDepth = 0.0f;
};

static_assert(sizeof(SurfaceParameters) == 16 * 4);

// One contact point between two bodies, made afresh every step. The normal points as the
// collision reported it, from the first volume toward the second; the rows push along -n on
// the first body.
class ContactJoint : public Joint {
public:
    void Reset() override;
    // mu below 0 is repaired to 0. One row, or three with friction.
    void GetInfo1(JointInfo1& info) override;
    void GetInfo2(JointInfo2& info) override;
    int32_t GetType() const override { return JointContact; }

    // The volumes are held by serial: either may be deleted while the joint lives.
    void SetVolumes(const CollisionVolume* first, const CollisionVolume* second);
    uint64_t GetVolumeSerial(int index) const { return volumeSerials_[index]; }

    // The forces the rows ended the last iterative solve with: along the normal, and the
    // friction as one vector, whatever its rows' directions were.
    float GetNormalForce() const { return GetSavedLambda()[0]; }
    Float3 GetFrictionForce() const;
    // The next iterative solve starts from these forces; GetInfo2 lays the friction along the
    // step's directions.
    void WarmStart(float normalForce, Float3 frictionForce);
    // Whether the contact has reached its minimum depth, this step or as the one it was found
    // again as: until then its bodies close toward that depth.
    bool HasSettled() const { return settled_ || depth >= surface.minDepth; }
    void SetSettled(bool settled) { settled_ = settled; }
    // Of the rows GetInfo2 last gave: the part of the normal row's c that pushes the bodies out
    // past the minimum depth (0 for none), and whether the contact is sunk deep past it, as a
    // contact is whose bodies met a step late, not one resting.
    float GetPushOut() const { return pushOut_; }
    bool IsSunkDeep() const { return sunkDeep_; }

    Float3 position;
    Float3 normal;
    float depth = 0.0f;
    SurfaceParameters surface;

private:
    int32_t rows_ = 0;
    Float3 tangents_[2]; // the friction rows' directions, as GetInfo2 last laid them
    Float3 warmFriction_;
    bool settled_ = false;
    float pushOut_ = 0.0f;
    bool sunkDeep_ = false;
    uint64_t volumeSerials_[2] = {};
};

} // namespace quarn
