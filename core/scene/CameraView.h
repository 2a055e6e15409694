#pragma once

#include "core/math/Matrix4.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"

namespace quarn {

// What the core asks of the camera that is drawing: camera-dependent pivots follow it and
// screen picks cast their rays through it. The rendering code implements it on its camera and
// sets CurrentCamera; the core never owns the object.
class CameraView {
public:
    virtual ~CameraView() = default;

    // The camera's world matrix; row 3 is the eye point.
    virtual Matrix4 GetCameraWorldMatrix() = 0;
    virtual Quaternion GetCameraWorldOrientation() = 0;
    // Distance of the far clipping plane; backdrop hits are placed beyond it.
    virtual float GetFarDistance() = 0;
    // Rebuilt from the field of view and the aspect of the current render target.
    virtual Matrix4 GetProjectionMatrix() = 0;
    // The eye point and the screen point (pixels) unprojected at depth 1.0, in world space.
    virtual void GetScreenRay(float x, float y, Float3& eye, Float3& farPoint) = 0;
};

// Set by the render-target update; null while no camera is drawing. Main thread only.
inline CameraView* CurrentCamera = nullptr;

} // namespace quarn
