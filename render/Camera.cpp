#include "render/Camera.h"

#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "device/RenderDevice.h"
#include "render/RenderTarget.h"

#include <cmath>

namespace quarn {

ClassInfo* Camera::classInfo = nullptr;

namespace {

// pi/180 as the float the camera has always used.
constexpr float DegreesToRadians = 0.017453292f;
constexpr float BehindTheEye = -10000.0f;

// The device's viewport in pixels. Without a device, or with an empty viewport, it counts as one
// pixel square at the origin, so no division below is by zero.
struct Viewport {
    float x = 0.0f;
    float y = 0.0f;
    float width = 1.0f;
    float height = 1.0f;
};

Viewport CurrentViewport() {
    Viewport viewport;
    RenderDevice* device = TheRenderDevice();
    if (!device) {
        return viewport;
    }
    const Int2 size = device->GetViewportSize();
    if (size.x <= 0 || size.y <= 0) {
        return viewport;
    }
    const Int2 origin = device->GetViewportOrigin();
    viewport.x = static_cast<float>(origin.x);
    viewport.y = static_cast<float>(origin.y);
    viewport.width = static_cast<float>(size.x);
    viewport.height = static_cast<float>(size.y);
    return viewport;
}

Float3 Transform(const Float3& point, const Matrix4& matrix) {
    const Float4 out = Float4Transform(Float4(point.x, point.y, point.z, 1.0f), matrix);
    return {out.x, out.y, out.z};
}

} // namespace

Camera::Camera() {
    FrustumSidePlanes(frustum_, 90.0f, 90.0f);
}

Camera::~Camera() {
    if (CurrentCamera == static_cast<CameraView*>(this)) {
        CurrentCamera = nullptr;
    }
}

void Camera::SetFov(float degrees) {
    fov_ = degrees;
    UpdateFrustum();
}

void Camera::SetRatioXY(float ratio) {
    ratioXY_ = ratio;
    UpdateFrustum();
}

void Camera::SetNearClip(float distance) {
    nearClip_ = distance;
}

void Camera::SetFarClip(float distance) {
    farClip_ = distance;
}

void Camera::SetShear(Float2 shear) {
    shear_ = shear;
    UpdateFrustum();
}

Matrix4 Camera::GetProjectionMatrix() {
    const Viewport viewport = CurrentViewport();
    const float s = 1.0f / std::tan(fov_ * DegreesToRadians / 2.0f);
    const float q = farClip_ / (farClip_ - nearClip_);
    Matrix4 m;
    m.At(0, 0) = s;
    m.At(1, 1) = ratioXY_ * s * viewport.width / viewport.height;
    m.At(2, 2) = q;
    m.At(2, 3) = 1.0f;
    m.At(3, 2) = -q * nearClip_;
    m.At(3, 3) = 0.0f;
    m.At(2, 0) = m.At(0, 0) * shear_.x;
    m.At(2, 1) = m.At(1, 1) * shear_.y;
    return m;
}

void Camera::UpdateFrustum() {
    // A camera-space point p is in view while -w <= x <= w and -w <= y <= w for
    // (x, y, z, w) = (p, 1) x projection; with w = p.z each side is a plane through the eye.
    const Matrix4 m = GetProjectionMatrix();
    frustum_.normal[0] = Float3(-m.At(0, 0), 0.0f, -(m.At(2, 0) + 1.0f)).NormalizedOrSelf();
    frustum_.normal[1] = Float3(m.At(0, 0), 0.0f, m.At(2, 0) - 1.0f).NormalizedOrSelf();
    frustum_.normal[2] = Float3(0.0f, m.At(1, 1), m.At(2, 1) - 1.0f).NormalizedOrSelf();
    frustum_.normal[3] = Float3(0.0f, -m.At(1, 1), -(m.At(2, 1) + 1.0f)).NormalizedOrSelf();
}

Float2 Camera::ProjectToScreen(Float3 point) {
    if (point.z <= 0.0f) {
        return {BehindTheEye, BehindTheEye};
    }
    return ProjectDepthToScreen(point);
}

Float2 Camera::ProjectDepthToScreen(Float3 point) {
    if (point.z <= 0.0f) {
        point.z = nearClip_;
    }
    const Viewport viewport = CurrentViewport();
    const Float4 clip =
        Float4Transform(Float4(point.x, point.y, point.z, 1.0f), GetProjectionMatrix());
    const float nx = clip.x / clip.w;
    const float ny = clip.y / clip.w;
    // Rows run down from the viewport's top, the inverse of ScreenToCamera.
    return {viewport.x + (nx + 1.0f) * 0.5f * viewport.width,
            viewport.y + (1.0f - ny) * 0.5f * viewport.height};
}

Float3 Camera::ScreenToCamera(Float2 screen) {
    const Viewport viewport = CurrentViewport();
    const float nx = (screen.x - viewport.x) / viewport.width * 2.0f - 1.0f;
    const float ny = 1.0f - 2.0f * (screen.y - viewport.y) / viewport.height;
    const Float4 point =
        Float4Transform(Float4(nx, ny, 0.99f, 1.0f), GetProjectionMatrix().Inverted());
    return {point.x / point.w, point.y / point.w, point.z / point.w};
}

float Camera::WorldUnitsPerPixel(float depth) {
    const int32_t width = PlatformViewSize ? PlatformViewSize().x : 0;
    if (width <= 0) {
        return 0.0f;
    }
    return 2.0f * std::tan(fov_ * DegreesToRadians / 2.0f) * depth / static_cast<float>(width);
}

int32_t Camera::TestBox(Float3 minimum, Float3 maximum) {
    const Aabb box{minimum, maximum};
    Float3 centre;
    float radius = 0.0f;
    box.GetCenter(centre, &radius);
    Matrix4 toCamera;
    GetInverseWorldMatrix(toCamera);
    switch (SphereAgainstPlanes(frustum_, Transform(centre, toCamera), radius)) {
    case SphereOutside:
        return BoxOutside;
    case SphereStraddlingCentreInside:
        return BoxPartlyInside;
    case SphereInside:
        return BoxInside;
    default:
        break;
    }
    // The sphere straddles a plane with its centre outside: the box is out of view only when
    // all eight corners lie outside one common plane.
    uint32_t outside = 15;
    for (int corner = 0; corner < 8; ++corner) {
        const Float3 point((corner & 1) ? maximum.x : minimum.x,
                           (corner & 2) ? maximum.y : minimum.y,
                           (corner & 4) ? maximum.z : minimum.z);
        outside &= PlaneSideMask(frustum_, Transform(point, toCamera));
        if (outside == 0) {
            return BoxPartlyInside;
        }
    }
    return BoxOutside;
}

void Camera::SetAsCurrent() {
    if (RenderTarget::classInfo == nullptr) {
        return;
    }
    if (auto* target = dynamic_cast<RenderTarget*>(RenderTarget::classInfo->GetInstance(0))) {
        target->SetCameraId({GetId()});
    }
}

Float3 Camera::GetScreenDirection(Float2 screen) {
    Float3 direction = GetWorldMatrix().TransformNormal(ScreenToCamera(screen));
    direction.Normalize();
    return direction;
}

void Camera::GetScreenRay(float x, float y, Float3& eye, Float3& farPoint) {
    eye = GetWorldPosition();
    farPoint = eye + GetScreenDirection(Float2(x, y));
}

const char* Camera::GetInputName(int port) const {
    return port == 0 ? "set_as_current" : "";
}

void Camera::ReceiveEvent(const EventRecord&) {
    SetAsCurrent();
}

Camera* GetCurrentCamera() {
    return dynamic_cast<Camera*>(CurrentCamera);
}

Float2 CurrentCameraWorldToScreen(Float3 point) {
    Camera* camera = GetCurrentCamera();
    if (!camera) {
        return {};
    }
    Matrix4 toCamera;
    camera->GetInverseWorldMatrix(toCamera);
    return camera->ProjectToScreen(Transform(point, toCamera));
}

Float3 ScreenToWorldAtDistance(Float2 screen, float distance) {
    Camera* camera = GetCurrentCamera();
    if (!camera) {
        return {};
    }
    return camera->GetWorldPosition() + camera->GetScreenDirection(screen) * distance;
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Camera::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Camera", []() -> Entity* { return new Camera(); }, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("SceneTree");

    classInfo->AddProperty<PropertyFloat, &Camera::GetFov, &Camera::SetFov>("fov:0,180");
    classInfo->AddProperty<PropertyFloat, &Camera::GetRatioXY, &Camera::SetRatioXY>(
        "ratioxy:0.01,,,0.01");
    classInfo->AddProperty<PropertyFloat, &Camera::GetNearClip, &Camera::SetNearClip>(
        "nearclip:0.01,,,0.01");
    classInfo->AddProperty<PropertyFloat, &Camera::GetFarClip, &Camera::SetFarClip>(
        "farclip:1.0,,,1.0");
    classInfo->AddProperty<PropertyFloat2, &Camera::GetShear, &Camera::SetShear>("shear");
    classInfo->AddProperty<PropertyFloat, &Camera::GetFocusDepth, &Camera::SetFocusDepth>(
        "focusdepth:0.0,,,0.1");
    classInfo->AddProperty<PropertyFloat, &Camera::GetFocusFactor, &Camera::SetFocusFactor>(
        "focusfactor:0.01,,,0.01");
    classInfo->AddProperty<PropertyFloat, &Camera::GetFocusRatio, &Camera::SetFocusRatio>(
        "focusratio:0.01,,,0.01");

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(float3):float2", BindMethod<&Camera::ProjectToScreen>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float2):float3", BindMethod<&Camera::ScreenToCamera>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float2",
                         BindMethod<&Camera::ProjectDepthToScreen>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float):float",
                         BindMethod<&Camera::WorldUnitsPerPixel>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float3):int", BindMethod<&Camera::TestBox>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Camera::SetAsCurrent>(),
                         MethodEditorOnly);
    return classInfo;
}

} // namespace quarn
