#pragma once

#include "core/math/Matrix4.h"
#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"

#include <atomic>
#include <cstdint>

namespace quarn {

// Bits of the pivot flags word.
enum PivotFlags : uint32_t {
    PivotAbsolute = 1, // ignores every parent: local space is world space
    Pivot2D = 2,       // orientations keep only their turn about Z
};

// How a pivot's world matrix is built. The names and values are stored in scene files and
// named by scripts.
enum MatrixMode : int32_t {
    MatrixNormal = 0,
    MatrixBillboard = 1,    // turned like the camera
    MatrixSkybox = 2,       // placed relative to the camera's position
    MatrixScreen = 3,       // screen space; follows only a SCREEN parent
    MatrixCameraSpace = 4,  // position and orientation relative to the camera
    MatrixCameraLookAt = 5, // turned to face the camera
    MatrixQuarn = 6,        // the identity, whatever the fields say
    MatrixViewSpace = 7,    // view space; follows only a VIEWSPACE parent
    MatrixCameraShear = 8,  // at a depth in front of the camera, shifted in projected space
};

// The node that places things in space: a position, an orientation and a uniform scale,
// combined with the enclosing pivots' transforms into a cached world matrix (row vectors:
// world = local x parent world). Every drawable, camera, light and body derives from it.
// The cache is cleared by every change of a field, a flag, the mode or the parent, and modes
// that follow the camera recompute it on every read.
class Pivot : public Node {
public:
    Pivot();
    ~Pivot() override;

    virtual void CenterOnChildren();
    // Clears the cache of this pivot and of every descendant pivot that is not absolute (the
    // walk passes through nodes that are not pivots).
    virtual void InvalidateTransform();
    virtual void SetPosition(Float3 position);
    virtual void SetOrientation(Quaternion orientation);
    // Both at once, as the two setters would leave them, but the transform (and every volume
    // below it) is refreshed once: a moving body would otherwise pay for it twice a step.
    void SetPose(Float3 position, Quaternion orientation);

    int GetIconIndex() const override { return 1; }
    Pivot* ToPivot() override { return this; }
    int GetPropertyState(const Property& property) const override;
    void ParentFlagsChanged(Node* parent, bool attached) override;
    ClassInfo* GetClass() const override { return classInfo; }

    uint32_t GetPivotFlags() const { return pivotFlags_; }
    // Changing "absolute" keeps the pivot where it is in the world.
    void SetPivotFlags(uint32_t flags);
    int32_t GetMatrixMode() const { return matrixMode_; }
    // Keeps the world position across the change (outside scene loading).
    void SetMatrixMode(int32_t mode);
    Float3 GetPosition() const { return position_; }
    Quaternion GetOrientation() const { return orientation_; }
    float GetScale() const { return scale_; }
    // Values of 0 or below are ignored.
    void SetScale(float scale);

    static bool IsCameraDependent(int32_t mode);
    // The pivot whose world matrix this one builds on, or null.
    Pivot* GetTransformParent();
    void UpdateTransform();

    const Matrix4& GetWorldMatrix() {
        if (!transformValid_ || cameraDependentPivots_.load(std::memory_order_relaxed) != 0) {
            UpdateTransform();
        }
        return worldMatrix_;
    }
    void GetInverseWorldMatrix(Matrix4& out);
    Float3 GetWorldPosition() {
        const Matrix4& world = GetWorldMatrix();
        return {world.At(3, 0), world.At(3, 1), world.At(3, 2)};
    }
    Float3 GetWorldAxisZ();
    // Row i (0, 1 or 2) of the world matrix; (0, 0, 0) for any other i.
    Float3 GetWorldAxis(int32_t axis);
    float GetWorldScale();
    Quaternion GetWorldOrientation();

    Float3 LocalToWorld(Float3 point);
    Float3 WorldToLocal(Float3 point);
    Float3 LocalToWorldDirection(Float3 direction);
    Float3 WorldToLocalDirection(Float3 direction);

    // Written through the "pos" and "orient" properties, so their listeners hear of it.
    void SetWorldPosition(Float3 position);
    void SetWorldOrientation(Quaternion orientation);
    // Stores the fields directly, without telling property listeners.
    void SetWorldMatrix(const Matrix4& matrix);
    // Turns the pivot so that world axis i (0, 1 or 2) points along the direction.
    void SetWorldAxis(int32_t axis, Float3 direction);
    // Applies the turn and the move that take pivot a to pivot b.
    void TransformByDelta(Pivot* a, Pivot* b);
    void MoveToCamera();

    // Script turns; angles in radians.
    void TurnLocalX(float angle);
    void TurnLocalY(float angle);
    void TurnLocalZ(float angle);
    void TurnX(float angle);
    void TurnY(float angle);
    void TurnZ(float angle);
    void TurnLocal(Quaternion turn);
    void MoveLocal(Float3 offset);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    // True when this pivot or any transform ancestor follows the camera: a pivot below a
    // billboard must move with the camera even when nobody reads the billboard.
    bool DependsOnCamera();
    void ComputeWorldMatrix(Matrix4& out);
    // The orientation as this pivot keeps it (turn about Z only when 2D, unit length); false
    // for one it refuses: a NaN or an infinity in it, or parts too large to normalise.
    bool ConformOrientation(Quaternion& orientation) const;
    void StoreMatrixMode(int32_t mode);

    static Property* positionProperty_;
    // Pivots whose own mode follows the camera. While there are none, no chain can depend on
    // the camera and a valid cache is read without walking the parents to make sure.
    static std::atomic<int32_t> cameraDependentPivots_;
    static Property* orientationProperty_;

    uint32_t pivotFlags_ = 0;
    int32_t matrixMode_ = MatrixNormal;
    Float3 position_;
    Quaternion orientation_;
    float scale_ = 1.0f;
    Matrix4 worldMatrix_;
    bool transformValid_ = false;
};

// The node as a pivot, or null when it is none.
inline Pivot* AsPivot(Node* node) {
    return node && node->HasFlag(NodeKindPivot) ? node->ToPivot() : nullptr;
}

// The orientation that turns +Z along the direction without roll; the identity for a zero
// direction.
Quaternion LookAlong(Float3 direction);

// Deletes every node of the subtree (the node itself included) that carries
// NodeMarkedForDeletion, together with its own subtree.
void DeleteFlaggedNodes(Node* node);

// Pivots travel as entity ids; an id that names no pivot reads as null.
template <>
struct ValueTraits<Pivot*> {
    static constexpr int32_t Type = TypeEntity;
    static constexpr int Words = 1;
    static Pivot* Read(const uint32_t* words) {
        return dynamic_cast<Pivot*>(LookupEntity(words[0]));
    }
    static void Write(const Pivot* value, uint32_t* words) {
        words[0] = value ? value->GetId() : 0u;
    }
};

} // namespace quarn
