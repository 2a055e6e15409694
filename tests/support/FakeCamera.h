#pragma once

#include "core/math/Matrix4.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/scene/CameraView.h"

namespace quarn::test {

// A camera standing wherever a test puts it, looking along its Z axis; screen rays leave its eye
// towards (x, y, 1) from there.
class FakeCamera final : public CameraView {
public:
    void SetPose(Float3 position, Quaternion orientation) {
        orientation_ = orientation;
        world_ = Matrix4();
        orientation.ToMatrix(world_);
        world_.At(3, 0) = position.x;
        world_.At(3, 1) = position.y;
        world_.At(3, 2) = position.z;
    }

    Matrix4 GetCameraWorldMatrix() override { return world_; }
    Quaternion GetCameraWorldOrientation() override { return orientation_; }
    float GetFarDistance() override { return 1000.0f; }
    Matrix4 GetProjectionMatrix() override { return projection; }
    void GetScreenRay(float x, float y, Float3& eye, Float3& farPoint) override {
        eye = Float3(world_.At(3, 0), world_.At(3, 1), world_.At(3, 2));
        farPoint = eye + Float3(x, y, 1.0f);
    }

    Matrix4 projection;

private:
    Matrix4 world_;
    Quaternion orientation_;
};

} // namespace quarn::test
