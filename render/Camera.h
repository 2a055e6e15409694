#pragma once

#include "core/math/Geometry.h"
#include "core/math/Matrix4.h"
#include "core/scene/CameraView.h"
#include "core/scene/Pivot.h"

#include <cstdint>

namespace quarn {

// The size in pixels of the platform's view window. The shell installs it with its platform;
// without one, WorldUnitsPerPixel has no width to divide by and answers 0.
using ViewSizeQuery = Int2 (*)();
inline ViewSizeQuery PlatformViewSize = nullptr;

// What TestBox answers.
enum BoxVisibility : int32_t { BoxOutside = 0, BoxPartlyInside = 1, BoxInside = 2 };

// The node a render target looks through: its world matrix is the camera matrix, and its lens
// (horizontal field of view, aspect correction, clip distances, shear) gives the projection for
// the device's current viewport. It keeps the four side planes of its view in camera space for
// culling. One camera at a time is current (the core's CurrentCamera).
class Camera : public Pivot, public CameraView {
public:
    Camera();
    ~Camera() override;

    float GetFov() const { return fov_; }
    void SetFov(float degrees);
    float GetRatioXY() const { return ratioXY_; }
    void SetRatioXY(float ratio);
    float GetNearClip() const { return nearClip_; }
    void SetNearClip(float distance);
    float GetFarClip() const { return farClip_; }
    void SetFarClip(float distance);
    Float2 GetShear() const { return shear_; }
    void SetShear(Float2 shear);
    // Stored for depth-of-field effects; nothing here reads them.
    float GetFocusDepth() const { return focusDepth_; }
    void SetFocusDepth(float value) { focusDepth_ = value; }
    float GetFocusFactor() const { return focusFactor_; }
    void SetFocusFactor(float value) { focusFactor_ = value; }
    float GetFocusRatio() const { return focusRatio_; }
    void SetFocusRatio(float value) { focusRatio_ = value; }

    // Rebuilt from the lens and the device's viewport at every call: camera space (+z forward)
    // to clip space with depth 0 at the near and 1 at the far clip distance.
    Matrix4 GetProjectionMatrix() override;
    // The side planes of the projection, shear and aspect correction included, so nothing in
    // view is ever outside them.
    void UpdateFrustum();
    const ViewPlanes& GetFrustum() const { return frustum_; }

    // Camera space to viewport pixels; a point at or behind the eye answers (-10000, -10000).
    Float2 ProjectToScreen(Float3 point);
    // Viewport pixels to the camera-space point under them, near the far plane.
    Float3 ScreenToCamera(Float2 screen);
    // (x, y, depth) in camera space; a depth of 0 or less is taken as the near clip distance.
    Float2 ProjectDepthToScreen(Float3 point);
    // The unit world-space direction from the eye through the screen point.
    Float3 GetScreenDirection(Float2 screen);
    // The world size of one pixel of the platform's view at that depth.
    float WorldUnitsPerPixel(float depth);
    // How a world-space box meets the view (BoxVisibility).
    int32_t TestBox(Float3 minimum, Float3 maximum);
    // Becomes the camera of the first render target, when one exists.
    void SetAsCurrent();

    Matrix4 GetCameraWorldMatrix() override { return GetWorldMatrix(); }
    Quaternion GetCameraWorldOrientation() override { return GetWorldOrientation(); }
    float GetFarDistance() override { return farClip_; }
    void GetScreenRay(float x, float y, Float3& eye, Float3& farPoint) override;

    int GetInputCount() const override { return 1; }
    const char* GetInputName(int port) const override;
    void ReceiveEvent(const EventRecord& event) override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float fov_ = 90.0f;
    float ratioXY_ = 1.0f;
    float nearClip_ = 0.1f;
    float farClip_ = 1000.0f;
    Float2 shear_;
    float focusDepth_ = 10.0f;
    float focusFactor_ = 10.0f;
    float focusRatio_ = 1.0f;
    ViewPlanes frustum_;
};

// The current camera as a Camera, or null.
Camera* GetCurrentCamera();

// A world point in pixels through the current camera; (0, 0) without one.
Float2 CurrentCameraWorldToScreen(Float3 point);
// The world point at that distance from the current camera's eye along the ray through the
// screen point; the origin without a current camera.
Float3 ScreenToWorldAtDistance(Float2 screen, float distance);

} // namespace quarn
