#pragma once

// The broad-phase benchmark's world: N unit boxes at fixed random orientations in a cube sized
// for about 0.4 overlapping pairs per box, each drifting up to 0.05 per axis per step and
// reflected at the walls. Everything comes from one seeded 32-bit LCG, so any program that
// includes this header steps the same boxes.

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace quarn::bench {

struct BroadPhaseBox {
    Float3 position;
    Quaternion orientation;
    Float3 velocity;    // per step
    Float3 halfExtent;  // of the world box of the turned unit box
};

class BroadPhaseScene {
public:
    explicit BroadPhaseScene(int count, uint32_t seed = 12345, float pairsPerBox = 0.4f,
                             float maxStep = 0.05f)
        : seed_(seed) {
        // A turned unit box spans about 1.5 per axis; 0.4 pairs per box needs a box density of
        // about 0.8 / 3^3 per unit volume.
        side_ = std::cbrt(static_cast<float>(count) * 27.0f / (2.0f * pairsPerBox));
        boxes_.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            BroadPhaseBox box;
            box.position = {Next() * side_, Next() * side_, Next() * side_};
            Float3 axis(Next() - 0.5f, Next() - 0.5f, Next() - 0.5f);
            const float length = axis.Length();
            axis = length > 1e-6f ? axis / length : Float3(0.0f, 0.0f, 1.0f);
            box.orientation = Quaternion::FromAxisAngle(Next() * 6.2831853f, axis);
            const float span = 2.0f * maxStep;
            box.velocity = {(Next() - 0.5f) * span, (Next() - 0.5f) * span, (Next() - 0.5f) * span};
            // The world box of a unit cube: each axis sums the absolute corner offsets.
            const Float3 ex = box.orientation.RotateVector(Float3(0.5f, 0.0f, 0.0f));
            const Float3 ey = box.orientation.RotateVector(Float3(0.0f, 0.5f, 0.0f));
            const Float3 ez = box.orientation.RotateVector(Float3(0.0f, 0.0f, 0.5f));
            box.halfExtent = {std::fabs(ex.x) + std::fabs(ey.x) + std::fabs(ez.x),
                              std::fabs(ex.y) + std::fabs(ey.y) + std::fabs(ez.y),
                              std::fabs(ex.z) + std::fabs(ey.z) + std::fabs(ez.z)};
            boxes_.push_back(box);
        }
    }

    // Moves every box one step.
    void Step() {
        for (BroadPhaseBox& box : boxes_) {
            Reflect(box.position.x, box.velocity.x);
            Reflect(box.position.y, box.velocity.y);
            Reflect(box.position.z, box.velocity.z);
        }
    }

    const std::vector<BroadPhaseBox>& Boxes() const { return boxes_; }
    float Side() const { return side_; }

private:
    // In [0, 1).
    float Next() {
        seed_ = seed_ * 1664525u + 1013904223u;
        return static_cast<float>(seed_ >> 8) * (1.0f / 16777216.0f);
    }
    void Reflect(float& position, float& velocity) const {
        position += velocity;
        if (position < 0.0f || position > side_) {
            velocity = -velocity;
            position += 2.0f * velocity;
        }
    }

    uint32_t seed_;
    float side_;
    std::vector<BroadPhaseBox> boxes_;
};

} // namespace quarn::bench
