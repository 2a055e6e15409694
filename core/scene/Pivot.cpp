#include "core/scene/Pivot.h"

#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "core/os/EngineWork.h"
#include "core/scene/CameraView.h"
#include "core/scene/EngineState.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace quarn {

ClassInfo* Pivot::classInfo = nullptr;
Property* Pivot::positionProperty_ = nullptr;
Property* Pivot::orientationProperty_ = nullptr;
std::atomic<int32_t> Pivot::cameraDependentPivots_{0};

namespace {

// Set while the current camera is asked for its transform. A camera whose own matrix follows
// the camera would otherwise ask itself again for ever; nested reads see no camera instead.
bool readingCamera = false;

CameraView* AvailableCamera() {
    return readingCamera ? nullptr : CurrentCamera;
}

class CameraReadScope {
public:
    CameraReadScope() { readingCamera = true; }
    ~CameraReadScope() { readingCamera = false; }
    CameraReadScope(const CameraReadScope&) = delete;
    CameraReadScope& operator=(const CameraReadScope&) = delete;
};

bool ReadCameraMatrix(Matrix4& out) {
    CameraView* camera = AvailableCamera();
    if (!camera) {
        return false;
    }
    CameraReadScope scope;
    out = camera->GetCameraWorldMatrix();
    return true;
}

bool ReadCameraOrientation(Quaternion& out) {
    CameraView* camera = AvailableCamera();
    if (!camera) {
        return false;
    }
    CameraReadScope scope;
    out = camera->GetCameraWorldOrientation();
    return true;
}

bool ReadCameraProjection(Matrix4& out) {
    CameraView* camera = AvailableCamera();
    if (!camera) {
        return false;
    }
    CameraReadScope scope;
    out = camera->GetProjectionMatrix();
    return true;
}

Float3 Row(const Matrix4& matrix, int row) {
    return {matrix.At(row, 0), matrix.At(row, 1), matrix.At(row, 2)};
}

void SetRow(Matrix4& matrix, int row, const Float3& value) {
    matrix.At(row, 0) = value.x;
    matrix.At(row, 1) = value.y;
    matrix.At(row, 2) = value.z;
}

bool CameraPosition(Float3& out) {
    Matrix4 camera;
    if (!ReadCameraMatrix(camera)) {
        return false;
    }
    out = Row(camera, 3);
    return true;
}

Matrix4 Product(const Matrix4& a, const Matrix4& b) {
    Matrix4 out;
    a.Multiply(b, out);
    return out;
}

Matrix4 RotationMatrix(const Quaternion& rotation) {
    Matrix4 matrix;
    rotation.ToMatrix(matrix);
    return matrix;
}

Matrix4 TranslationMatrix(const Float3& translation) {
    Matrix4 matrix;
    matrix.SetTranslation(translation);
    return matrix;
}

Matrix4 ScaleMatrix(float scale) {
    Matrix4 matrix;
    matrix.At(0, 0) = scale;
    matrix.At(1, 1) = scale;
    matrix.At(2, 2) = scale;
    return matrix;
}

// transpose(Pr): the parent's 3x3 part transposed, without translation; undoes the parent's
// turn for modes that take their turn from the camera.
Matrix4 TransposedRotation(const Matrix4& matrix) {
    Matrix4 out;
    matrix.TransposeRotation(out);
    return out;
}

// The rotation of a matrix whose rows may carry a scale: a quaternion read from scaled rows
// is not a rotation at all (90 degrees with scale 2 reads as about 106).
Quaternion RotationOf(const Matrix4& matrix) {
    Matrix4 unit = matrix;
    for (int row = 0; row < 3; ++row) {
        Float3 axis = Row(matrix, row);
        axis.Normalize();
        SetRow(unit, row, axis);
    }
    return Quaternion::FromMatrix(unit);
}

Quaternion Conjugate(const Quaternion& q) {
    return {-q.x, -q.y, -q.z, q.w};
}

// A pivot may be reached only while it still stands where it was found.
Pivot* LivePivot(uint64_t serial, const Node* root) {
    auto* node = dynamic_cast<Node*>(Entity::FindBySerial(serial));
    return node && node->IsInSubtreeOf(root) ? AsPivot(node) : nullptr;
}

void WriteVector(Entity& object, Property* property, const Float3& value) {
    uint32_t words[3];
    ValueTraits<Float3>::Write(value, words);
    property->WriteValue(object, words);
}

void WriteRotation(Entity& object, Property* property, const Quaternion& value) {
    uint32_t words[4];
    ValueTraits<Quaternion>::Write(value, words);
    property->WriteValue(object, words);
}

bool IsLoadingScene() {
    return EngineState == EngineLoading || EngineState == EngineLoadingScene;
}

// Bit for bit, so that a zero of the other sign is a change: a load keeps what its file gives.
template <typename T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

bool ValidAxis(int32_t axis, const char* operation) {
    return ValidityCheck(axis >= 0 && axis <= 2, "%s: axis %d is not 0, 1 or 2", operation,
                         static_cast<int>(axis));
}

} // namespace

Quaternion LookAlong(Float3 direction) {
    if (direction.x == 0.0f && direction.y == 0.0f && direction.z == 0.0f) {
        return {};
    }
    direction.Normalize();
    // Rounding can carry a unit component just past 1, where asin and acos give NaN.
    const float y = direction.y > 1.0f ? 1.0f : (direction.y < -1.0f ? -1.0f : direction.y);
    const float pitch = -std::asin(y);
    direction.y = 0.0f;
    direction.Normalize();
    float yaw = SafeAcos(direction.z);
    if (direction.x < 0.0f) {
        yaw = -yaw;
    }
    const Quaternion turnY(0.0f, std::sin(-yaw * 0.5f), 0.0f, std::cos(-yaw * 0.5f));
    const Quaternion turnX(std::sin(-pitch * 0.5f), 0.0f, 0.0f, std::cos(-pitch * 0.5f));
    return turnX * turnY;
}

void DeleteFlaggedNodes(Node* node) {
    if (!node) {
        return;
    }
    // Found first, deleted afterwards: a deletion sends signals whose receivers may change
    // the tree under any walk.
    std::vector<uint64_t> marked;
    for (Node* current = node; current;) {
        const bool isMarked = current->HasFlag(NodeMarkedForDeletion);
        if (isMarked) {
            marked.push_back(current->GetSerial());
        }
        current = NextInSubtree(current, node, !isMarked);
    }
    for (uint64_t serial : marked) {
        if (Entity* entity = Entity::FindBySerial(serial)) {
            entity->Delete();
        }
    }
}

// Pivot ---------------------------------------------------------------------------------------

Pivot::Pivot() {
    SetFlag(NodeKindPivot, true);
}

Pivot::~Pivot() {
    StoreMatrixMode(MatrixNormal);
}

int Pivot::GetPropertyState(const Property& property) const {
    if (&property == orientationProperty_ && (pivotFlags_ & Pivot2D)) {
        return PropertyEditZOnly; // Pivot2D keeps only the turn about Z
    }
    return Node::GetPropertyState(property);
}

void Pivot::ParentFlagsChanged(Node* parent, bool attached) {
    transformValid_ = false;
    Node::ParentFlagsChanged(parent, attached);
}

bool Pivot::IsCameraDependent(int32_t mode) {
    switch (mode) {
    case MatrixBillboard:
    case MatrixSkybox:
    case MatrixCameraSpace:
    case MatrixCameraLookAt:
    case MatrixViewSpace:
    case MatrixCameraShear:
        return true;
    default:
        return false;
    }
}

// Setters -------------------------------------------------------------------------------------

void Pivot::SetPosition(Float3 position) {
    if (SameBits(position, position_)) {
        return;
    }
    uint32_t oldWords[3];
    uint32_t newWords[3];
    ValueTraits<Float3>::Write(position_, oldWords);
    ValueTraits<Float3>::Write(position, newWords);
    position_ = position;
    InvalidateTransform();
    if (positionProperty_) {
        positionProperty_->NotifyListeners(*this, oldWords, newWords);
    }
}

bool Pivot::ConformOrientation(Quaternion& orientation) const {
    // No rotation has a NaN or an infinity in it, and normalising one only spreads it to the
    // other parts: such a value is refused, as a broken file or script gives it.
    if (!std::isfinite(orientation.x) || !std::isfinite(orientation.y) ||
        !std::isfinite(orientation.z) || !std::isfinite(orientation.w)) {
        return false;
    }
    if (pivotFlags_ & Pivot2D) {
        orientation.x = 0.0f;
        orientation.y = 0.0f;
        // A half turn about an axis in the XY plane has no turn about Z left: that is the
        // identity, not the zero quaternion, which would collapse the pivot to a point.
        if (orientation.z == 0.0f && orientation.w == 0.0f) {
            orientation.w = 1.0f;
        }
    }
    // Parts so large that their squares overflow, or so small that their squares leave the
    // normal floats, normalise to nothing or to a length off one by the precision lost there,
    // which the next load would normalise again: no rotation either.
    const float norm = orientation.x * orientation.x + orientation.y * orientation.y +
                       orientation.z * orientation.z + orientation.w * orientation.w;
    if (!(norm >= std::numeric_limits<float>::min() && norm <= std::numeric_limits<float>::max())) {
        return false;
    }
    orientation.Normalize();
    return true;
}

void Pivot::SetOrientation(Quaternion orientation) {
    if (!ConformOrientation(orientation)) {
        return;
    }
    const Quaternion old = orientation_;
    if (SameBits(orientation, old)) {
        return;
    }
    uint32_t oldWords[4];
    uint32_t newWords[4];
    ValueTraits<Quaternion>::Write(old, oldWords);
    ValueTraits<Quaternion>::Write(orientation, newWords);
    orientation_ = orientation;
    InvalidateTransform();
    if (orientationProperty_) {
        orientationProperty_->NotifyListeners(*this, oldWords, newWords);
    }
}

void Pivot::SetPose(Float3 position, Quaternion orientation) {
    const bool moves = !SameBits(position, position_);
    const Quaternion old = orientation_;
    const bool turns = ConformOrientation(orientation) && !SameBits(orientation, old);
    if (!moves && !turns) {
        return;
    }
    uint32_t oldPosition[3];
    uint32_t newPosition[3];
    ValueTraits<Float3>::Write(position_, oldPosition);
    ValueTraits<Float3>::Write(position, newPosition);
    if (moves) {
        position_ = position;
    }
    if (turns) {
        orientation_ = orientation;
    }
    InvalidateTransform();
    const uint64_t self = GetSerial();
    if (moves && positionProperty_) {
        positionProperty_->NotifyListeners(*this, oldPosition, newPosition);
        // A listener may have deleted the pivot.
        if (turns && Entity::FindBySerial(self) != this) {
            return;
        }
    }
    if (turns && orientationProperty_) {
        uint32_t oldWords[4];
        uint32_t newWords[4];
        ValueTraits<Quaternion>::Write(old, oldWords);
        ValueTraits<Quaternion>::Write(orientation, newWords);
        orientationProperty_->NotifyListeners(*this, oldWords, newWords);
    }
}

void Pivot::SetScale(float scale) {
    if (scale > 0.0f && scale != scale_) {
        scale_ = scale;
        InvalidateTransform();
    }
}

void Pivot::SetPivotFlags(uint32_t flags) {
    if (flags == pivotFlags_) {
        return;
    }
    const bool becomes2D = (flags & ~pivotFlags_ & Pivot2D) != 0;
    if (((flags ^ pivotFlags_) & PivotAbsolute) && IsLoadingScene()) {
        // A file gives the position and turn in the frame of its flags, whichever comes first.
        pivotFlags_ = flags;
        InvalidateTransform();
    } else if ((flags ^ pivotFlags_) & PivotAbsolute) {
        const Float3 worldPosition = GetWorldPosition();
        const Quaternion worldOrientation = GetWorldOrientation();
        transformValid_ = false;
        pivotFlags_ = flags;
        const uint64_t self = GetSerial();
        SetWorldOrientation(worldOrientation);
        // A property listener may have deleted the pivot.
        if (Entity::FindBySerial(self) != this) {
            return;
        }
        SetWorldPosition(worldPosition);
        if (Entity::FindBySerial(self) != this) {
            return;
        }
    }
    pivotFlags_ = flags;
    // The turn it has keeps only its part about Z too: a load, which reads the flags first,
    // would take it so. A part about Z too small to normalise is none (a load refuses it and
    // keeps a new pivot's identity), not a reason to keep the turn about X and Y.
    if (becomes2D) {
        Quaternion turn = orientation_;
        SetOrientation(ConformOrientation(turn) ? turn : Quaternion());
    }
}

void Pivot::SetMatrixMode(int32_t mode) {
    if (mode == matrixMode_) {
        return;
    }
    if (IsLoadingScene()) {
        StoreMatrixMode(mode);
        InvalidateTransform();
        return;
    }
    Float3 cameraPosition;
    const bool hasCamera = CameraPosition(cameraPosition);
    Float3 worldPosition;
    if (matrixMode_ == MatrixSkybox) {
        worldPosition = hasCamera ? position_ + cameraPosition : position_;
    } else if (matrixMode_ != MatrixQuarn) {
        worldPosition = GetWorldPosition();
    }
    StoreMatrixMode(mode);
    // Children follow the pivot's new matrix, not only the pivot itself.
    InvalidateTransform();
    if (mode == MatrixNormal) {
        SetWorldPosition(worldPosition);
    } else if (mode == MatrixSkybox) {
        position_ = hasCamera ? worldPosition - cameraPosition : worldPosition;
        InvalidateTransform();
    }
}

// The world matrix ----------------------------------------------------------------------------

void Pivot::InvalidateTransform() {
    transformValid_ = false;
    // Absolute pivots never build on this one; the walk passes through nodes that are not
    // pivots to the pivots below them.
    for (Node* node = GetFirstChild(); node;) {
        if (Pivot* pivot = AsPivot(node)) {
            if (!(pivot->pivotFlags_ & PivotAbsolute)) {
                pivot->InvalidateTransform();
            }
            node = NextInSubtree(node, this, false);
        } else {
            node = NextInSubtree(node, this, true);
        }
    }
}

Pivot* Pivot::GetTransformParent() {
    if ((pivotFlags_ & PivotAbsolute) || matrixMode_ == MatrixSkybox) {
        return nullptr;
    }
    Pivot* ancestor = nullptr;
    for (Node* node = GetParent(); node && !ancestor; node = node->GetParent()) {
        ancestor = AsPivot(node);
    }
    if (!ancestor || ancestor->matrixMode_ == matrixMode_) {
        return ancestor;
    }
    auto screenLike = [](int32_t mode) { return mode == MatrixScreen || mode == MatrixViewSpace; };
    return screenLike(matrixMode_) || screenLike(ancestor->matrixMode_) ? nullptr : ancestor;
}

void Pivot::StoreMatrixMode(int32_t mode) {
    const int32_t change =
        (IsCameraDependent(mode) ? 1 : 0) - (IsCameraDependent(matrixMode_) ? 1 : 0);
    cameraDependentPivots_.fetch_add(change, std::memory_order_relaxed);
    matrixMode_ = mode;
}

bool Pivot::DependsOnCamera() {
    if (cameraDependentPivots_.load(std::memory_order_relaxed) == 0) {
        return false;
    }
    for (Pivot* pivot = this; pivot; pivot = pivot->GetTransformParent()) {
        if (IsCameraDependent(pivot->matrixMode_)) {
            return true;
        }
    }
    return false;
}

void Pivot::ComputeWorldMatrix(Matrix4& out) {
    Pivot* parent = GetTransformParent();
    Matrix4 parentMatrix;
    if (parent) {
        parentMatrix = parent->GetWorldMatrix();
    }
    const Matrix4 rotation = RotationMatrix(orientation_);
    const Matrix4 translation = TranslationMatrix(position_);

    switch (matrixMode_) {
    case MatrixBillboard: {
        Quaternion cameraOrientation;
        Matrix4 cameraRotation;
        if (ReadCameraOrientation(cameraOrientation)) {
            cameraRotation = RotationMatrix(cameraOrientation);
        }
        if (parent) {
            out = Product(
                Product(Product(cameraRotation, TransposedRotation(parentMatrix)), translation),
                parentMatrix);
        } else {
            out = Product(cameraRotation, translation);
        }
        return;
    }
    case MatrixSkybox: {
        Float3 cameraPosition;
        Matrix4 shifted;
        if (CameraPosition(cameraPosition)) {
            shifted = TranslationMatrix(cameraPosition + position_);
        }
        out = Product(rotation, shifted);
        return;
    }
    case MatrixScreen:
    case MatrixViewSpace:
        out = Product(rotation, translation);
        if (parent && parent->matrixMode_ == matrixMode_) {
            out = Product(out, parentMatrix);
        }
        return;
    case MatrixCameraSpace: {
        out = Product(Product(ScaleMatrix(scale_), rotation), translation);
        Matrix4 camera;
        if (ReadCameraMatrix(camera)) {
            out = Product(out, camera);
        }
        return;
    }
    case MatrixCameraLookAt: {
        const Matrix4 placed =
            parent ? Product(Product(TransposedRotation(parentMatrix), translation), parentMatrix)
                   : translation;
        Float3 cameraPosition;
        if (!CameraPosition(cameraPosition)) {
            out = placed;
            return;
        }
        const Float3 point = parent ? parent->LocalToWorld(position_) : position_;
        out = Product(RotationMatrix(LookAlong(cameraPosition - point)), placed);
        return;
    }
    case MatrixQuarn:
        out.SetIdentity();
        return;
    case MatrixCameraShear: {
        Float3 p = position_;
        if (parent && parent->matrixMode_ == MatrixCameraShear) {
            p = p + parent->position_;
        }
        Matrix4 projection;
        Matrix4 camera;
        ReadCameraProjection(projection);
        ReadCameraMatrix(camera);
        Matrix4 sheared = projection;
        sheared.At(2, 0) = projection.At(0, 0) * p.x;
        sheared.At(2, 1) = projection.At(1, 1) * p.y;
        const Matrix4 depth = TranslationMatrix(Float3(0.0f, 0.0f, p.z));
        out = Product(Product(Product(Product(rotation, depth), sheared), projection.Inverted()),
                      camera);
        return;
    }
    default:
        // NORMAL, and any unknown mode a damaged file may hold.
        out = Product(Product(ScaleMatrix(scale_), rotation), translation);
        if (parent) {
            out = Product(out, parentMatrix);
        }
        return;
    }
}

void Pivot::UpdateTransform() {
    if (transformValid_ && !DependsOnCamera()) {
        return;
    }
    Matrix4 matrix;
    ComputeWorldMatrix(matrix);
    bool changed = false;
    for (int i = 0; i < 16; ++i) {
        changed = changed || matrix.m[i] != worldMatrix_.m[i];
    }
    if (changed) {
        const bool recomputed = transformValid_;
        worldMatrix_ = matrix;
        if (recomputed) {
            InvalidateTransform(); // the camera moved: the children follow
        }
    }
    transformValid_ = true;
}

void Pivot::GetInverseWorldMatrix(Matrix4& out) {
    out = GetWorldMatrix().Inverted();
}

Float3 Pivot::GetWorldAxisZ() {
    return Row(GetWorldMatrix(), 2);
}

Float3 Pivot::GetWorldAxis(int32_t axis) {
    if (!ValidAxis(axis, "GetWorldAxis")) {
        return {};
    }
    return Row(GetWorldMatrix(), axis);
}

float Pivot::GetWorldScale() {
    return Row(GetWorldMatrix(), 0).Length();
}

Quaternion Pivot::GetWorldOrientation() {
    if (GetParent() && !(pivotFlags_ & PivotAbsolute)) {
        return RotationOf(GetWorldMatrix());
    }
    return orientation_;
}

Float3 Pivot::LocalToWorld(Float3 point) {
    return GetWorldMatrix().TransformCoord(point);
}

Float3 Pivot::WorldToLocal(Float3 point) {
    Matrix4 inverse;
    GetInverseWorldMatrix(inverse);
    return inverse.TransformCoord(point);
}

Float3 Pivot::LocalToWorldDirection(Float3 direction) {
    return GetWorldMatrix().TransformNormal(direction);
}

Float3 Pivot::WorldToLocalDirection(Float3 direction) {
    return GetWorldMatrix().RotateByTranspose(direction);
}

// World-space setters -------------------------------------------------------------------------

void Pivot::SetWorldPosition(Float3 position) {
    if (Pivot* parent = GetTransformParent()) {
        position = parent->WorldToLocal(position);
    }
    if (matrixMode_ == MatrixSkybox) {
        Float3 cameraPosition;
        if (CameraPosition(cameraPosition)) {
            position = position - cameraPosition;
        }
    }
    Property* property = FindProperty("pos");
    if (property) {
        WriteVector(*this, property, position);
    } else {
        SetPosition(position);
    }
}

void Pivot::SetWorldOrientation(Quaternion orientation) {
    if (Pivot* parent = GetTransformParent()) {
        orientation = orientation * Conjugate(parent->GetWorldOrientation());
    }
    Property* property = FindProperty("orient");
    if (property) {
        WriteRotation(*this, property, orientation);
    } else {
        SetOrientation(orientation);
    }
}

void Pivot::SetWorldMatrix(const Matrix4& matrix) {
    worldMatrix_ = matrix;
    Matrix4 local = matrix;
    if (Pivot* parent = GetTransformParent()) {
        Matrix4 inverse;
        parent->GetInverseWorldMatrix(inverse);
        local = Product(matrix, inverse);
    }
    switch (matrixMode_) {
    case MatrixQuarn:
    case MatrixViewSpace:
    case MatrixCameraShear:
        return;
    default:
        break;
    }
    position_ = Row(local, 3);
    if (matrixMode_ == MatrixSkybox) {
        Float3 cameraPosition;
        if (CameraPosition(cameraPosition)) {
            position_ = position_ - cameraPosition;
        }
    }
    // A degenerate matrix has no scale to take; the scale stays positive.
    const float scale = Row(local, 0).Length();
    if (scale > 0.0f) {
        scale_ = scale;
    }
    // By the rules SetOrientation keeps, or a load and a save of the result would differ.
    if (Quaternion rotation = RotationOf(local); ConformOrientation(rotation)) {
        orientation_ = rotation;
    }
    InvalidateTransform();
}

void Pivot::SetWorldAxis(int32_t axis, Float3 direction) {
    if (!ValidAxis(axis, "SetWorldAxis")) {
        return;
    }
    // Only the direction counts: rows of another length are no rotation.
    direction.Normalize();
    if (direction.LengthSquared() == 0.0f) {
        return;
    }
    const Float3 helper =
        std::fabs(direction.y) >= 0.9f ? Float3(0.0f, 0.0f, 1.0f) : Float3(0.0f, 1.0f, 0.0f);
    Float3 side = direction.Cross(helper);
    side.Normalize();
    Matrix4 rows;
    SetRow(rows, axis, direction);
    SetRow(rows, (axis + 1) % 3, side);
    SetRow(rows, (axis + 2) % 3, direction.Cross(side));
    SetWorldOrientation(Quaternion::FromMatrix(rows));
}

void Pivot::TransformByDelta(Pivot* a, Pivot* b) {
    if (!a || !b) {
        return;
    }
    const Quaternion delta = Conjugate(a->GetWorldOrientation()) * b->GetWorldOrientation();
    const Float3 move = b->GetWorldPosition() - a->GetWorldPosition();
    const uint64_t self = GetSerial();
    SetWorldOrientation(GetWorldOrientation() * delta);
    if (Entity::FindBySerial(self) == this) {
        SetWorldPosition(GetWorldPosition() + move);
    }
}

void Pivot::MoveToCamera() {
    Matrix4 camera;
    Quaternion orientation;
    if (!ReadCameraMatrix(camera) || !ReadCameraOrientation(orientation)) {
        return;
    }
    const uint64_t self = GetSerial();
    SetWorldPosition(Row(camera, 3));
    if (Entity::FindBySerial(self) == this) {
        SetWorldOrientation(orientation);
    }
}

// Script turns ----------------------------------------------------------------------------------

void Pivot::TurnLocalX(float angle) {
    SetOrientation(orientation_ * Quaternion::FromAxisAngle(angle, Float3(1.0f, 0.0f, 0.0f)));
}

void Pivot::TurnLocalY(float angle) {
    SetOrientation(orientation_ * Quaternion::FromAxisAngle(angle, Float3(0.0f, 1.0f, 0.0f)));
}

void Pivot::TurnLocalZ(float angle) {
    SetOrientation(orientation_ * Quaternion::FromAxisAngle(angle, Float3(0.0f, 0.0f, 1.0f)));
}

void Pivot::TurnX(float angle) {
    SetOrientation(Quaternion::FromAxisAngle(angle, Float3(1.0f, 0.0f, 0.0f)) * orientation_);
}

void Pivot::TurnY(float angle) {
    SetOrientation(Quaternion::FromAxisAngle(angle, Float3(0.0f, 1.0f, 0.0f)) * orientation_);
}

void Pivot::TurnZ(float angle) {
    SetOrientation(Quaternion::FromAxisAngle(angle, Float3(0.0f, 0.0f, 1.0f)) * orientation_);
}

void Pivot::TurnLocal(Quaternion turn) {
    const Quaternion o = orientation_;
    SetOrientation(o * turn * Conjugate(o) * o);
}

void Pivot::MoveLocal(Float3 offset) {
    SetPosition(position_ + orientation_.RotateVector(offset));
}

// Editor operations -------------------------------------------------------------------------

void Pivot::CenterOnChildren() {
    bool found = false;
    bool nearZero = false;
    Float3 low;
    Float3 high;
    uint64_t visited = 0;
    for (Node* node = GetFirstChild(); node; node = NextInSubtree(node, this, true)) {
        ++visited;
        Pivot* pivot = AsPivot(node);
        if (!pivot) {
            continue;
        }
        const Float3 p = pivot->GetWorldPosition();
        if (!found) {
            low = p;
            high = p;
            found = true;
        } else {
            low = {MinFloat(low.x, p.x), MinFloat(low.y, p.y), MinFloat(low.z, p.z)};
            high = {MaxFloat(high.x, p.x), MaxFloat(high.y, p.y), MaxFloat(high.z, p.z)};
        }
        nearZero = nearZero || std::fabs(p.z) < 0.01f;
    }
    ChargeNodesVisited(visited);
    if (!found) {
        return;
    }
    Float3 centre = (low + high) / 2.0f;
    if (pivotFlags_ & Pivot2D) {
        centre.z = nearZero ? 0.0f : low.z;
    }
    const Float3 delta = centre - GetWorldPosition();
    if (delta.x == 0.0f && delta.y == 0.0f && delta.z == 0.0f) {
        return;
    }
    // The nearest pivots below keep their world positions. They are taken before the move
    // and put back afterwards, not moved back by the delta: absolute pivots and SCREEN pivots
    // under a normal parent never followed the move.
    std::vector<std::pair<uint64_t, Float3>> kept;
    for (Node* node = GetFirstChild(); node;) {
        if (Pivot* pivot = AsPivot(node)) {
            kept.emplace_back(pivot->GetSerial(), pivot->GetWorldPosition());
            node = NextInSubtree(node, this, false);
        } else {
            node = NextInSubtree(node, this, true);
        }
    }
    const uint64_t self = GetSerial();
    SetWorldPosition(centre);
    for (const auto& [serial, position] : kept) {
        if (Entity::FindBySerial(self) != this) {
            return;
        }
        if (Pivot* pivot = LivePivot(serial, this)) {
            pivot->SetWorldPosition(position);
        }
    }
    if (Entity::FindBySerial(self) != this) {
        return;
    }
    SendUndoLabel(this, "Center");
}

// Registration --------------------------------------------------------------------------------

ClassInfo* Pivot::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "Pivot", []() -> Entity* { return new Pivot(); }, &classInfo);
    classInfo->SetParent(Node::RegisterClass());
    classInfo->SetCategory("SceneTree");

    // The flag names are editor texts, in UTF-8 like every text the engine writes (U+00BD).
    classInfo->AddProperty<PropertyBitfield, &Pivot::GetPivotFlags, &Pivot::SetPivotFlags>(
        "pivotflags:bitfield:absolute,2\xC2\xBD"
        "d");
    positionProperty_ =
        classInfo->AddProperty<PropertyFloat3, &Pivot::GetPosition, &Pivot::SetPosition>("pos");
    const uint32_t zero[3] = {};
    positionProperty_->SetDefault(zero);
    orientationProperty_ =
        classInfo->AddProperty<PropertyQuaternion, &Pivot::GetOrientation, &Pivot::SetOrientation>(
            "orient");
    uint32_t identity[4];
    ValueTraits<Quaternion>::Write(Quaternion(), identity);
    orientationProperty_->SetDefault(identity);
    classInfo->AddProperty<PropertyEnum, &Pivot::GetMatrixMode, &Pivot::SetMatrixMode>(
        "matrixmode:NORMAL,BILLBOARD,SKYBOX,SCREEN,CAMERA_SPACE,CAMERA_LOOKAT,QUARN,VIEWSPACE,"
        "CAMERA_SHEAR");
    Property* scale =
        classInfo->AddProperty<PropertyFloat, &Pivot::GetScale, &Pivot::SetScale>("scale:0.0,10.0");
    const uint32_t one = FloatToWord(1.0f);
    scale->SetDefault(&one);

    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnLocalX>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnLocalY>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnLocalZ>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnX>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnY>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&Pivot::TurnZ>(), MethodScript);
    classInfo->AddMethod(NextShortName(), ":float3", BindMethod<&Pivot::GetWorldPosition>(),
                         MethodScriptCallable);
    classInfo->AddMethod(NextShortName(), "(float3)", BindMethod<&Pivot::SetWorldPosition>(),
                         MethodScriptCallable);
    classInfo->AddMethod(NextShortName(), ":quaternion", BindMethod<&Pivot::GetWorldOrientation>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(quaternion)", BindMethod<&Pivot::SetWorldOrientation>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3)", BindMethod<&Pivot::MoveLocal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(quaternion)", BindMethod<&Pivot::TurnLocal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3", BindMethod<&Pivot::LocalToWorld>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3", BindMethod<&Pivot::WorldToLocal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3",
                         BindMethod<&Pivot::LocalToWorldDirection>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3",
                         BindMethod<&Pivot::WorldToLocalDirection>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float3", BindMethod<&Pivot::GetWorldAxis>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int,float3)", BindMethod<&Pivot::SetWorldAxis>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(Pivot,Pivot)", BindMethod<&Pivot::TransformByDelta>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Pivot::CenterOnChildren>(),
                         MethodEditorCommand);
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&Pivot::MoveToCamera>(),
                         MethodEditorCommand);

    // The pivot flags and the matrix modes as scripts name them.
    for (int32_t value : {1, 2, 0, 1, 2, 3, 4, 5, 6, 7, 8}) {
        RegisterNamedConstant(NextShortName(), value);
    }
    return classInfo;
}

} // namespace quarn
