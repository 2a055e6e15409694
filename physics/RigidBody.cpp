#include "physics/RigidBody.h"

#include "collision/CollisionVolume.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "core/scene/EngineState.h"
#include "physics/ContactJoint.h"
#include "physics/IslandStep.h"
#include "physics/LCPSolver.h"
#include "physics/PhysicsMaster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace quarn {

ClassInfo* RigidBody::classInfo = nullptr;
Property* RigidBody::massProperty_ = nullptr;

namespace {

// A contact as scripts read it, copied when collected: the joint is gone by the next step.
struct CollectedContact {
    Float3 position;
    Float3 normal;
    float depth = 0.0f;
    uint64_t otherVolume = 0; // serial
};

std::vector<CollectedContact>& CollectedContacts() {
    static std::vector<CollectedContact> contacts;
    return contacts;
}

const CollectedContact* CollectedAt(int32_t index) {
    const auto& contacts = CollectedContacts();
    return index >= 0 && static_cast<size_t>(index) < contacts.size() ? &contacts[index] : nullptr;
}

// By bits, as the pivot tells a change: a pose refused or written again is no move.
template <class T>
bool Differs(const T& before, const T& after) {
    return std::memcmp(&before, &after, sizeof(T)) != 0;
}

void AddScaled(Matrix3& sum, const Matrix3& term, float scale) {
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            sum.m[i][j] += term.m[i][j] * scale;
        }
    }
}

// m [[dy²+dz², -dx dy, -dx dz], ...]: the tensor of a point mass at offset d.
Matrix3 PointMassInertia(Float3 d, float mass) {
    Matrix3 out;
    out.m[0][0] = mass * (d.y * d.y + d.z * d.z);
    out.m[1][1] = mass * (d.x * d.x + d.z * d.z);
    out.m[2][2] = mass * (d.x * d.x + d.y * d.y);
    out.m[0][1] = out.m[1][0] = -mass * d.x * d.y;
    out.m[0][2] = out.m[2][0] = -mass * d.x * d.z;
    out.m[1][2] = out.m[2][1] = -mass * d.y * d.z;
    return out;
}

// In double precision, so that a vector of huge finite parts has a finite size.
double Magnitude(Float3 v) {
    const double x = v.x;
    const double y = v.y;
    const double z = v.z;
    return std::sqrt(x * x + y * y + z * z);
}

// The largest row sum of magnitudes: for a symmetric matrix at least the largest factor by
// which it stretches a vector, and exactly that for a diagonal one.
double Magnitude(const Matrix3& matrix) {
    double largest = 0.0;
    for (const auto& row : matrix.m) {
        largest = std::max(largest, static_cast<double>(std::fabs(row[0])) + std::fabs(row[1]) +
                                        std::fabs(row[2]));
    }
    return largest;
}

// False for NaN too.
bool IsSoundCoordinate(float coordinate) {
    return std::fabs(coordinate) <= RigidBody::MaxCoordinate;
}

bool IsCollisionVolume(Node* node) {
    return node && node->GetClass() && node->GetClass()->IsDerivedFrom(CollisionVolume::classInfo);
}

// The body a volume gives its mass to: the nearest one above it, so that a body inside another
// keeps its own volumes.
RigidBody* NearestBody(Node* volume) {
    for (Node* node = volume->GetParent(); node; node = node->GetParent()) {
        if (node->GetClass() && node->GetClass()->IsDerivedFrom(RigidBody::classInfo)) {
            return static_cast<RigidBody*>(node);
        }
    }
    return nullptr;
}

} // namespace

RigidBody::RigidBody() {
    SetDefaultInertia();
}

RigidBody::~RigidBody() {
    while (volumes_) {
        volumes_->DetachFromBody();
    }
    while (joints_) {
        joints_->joint->Detach();
    }
    SetWorld(nullptr);
}

const char* RigidBody::GetInputName(int port) const {
    return port == 0 ? "start" : "stop";
}

void RigidBody::ReceiveEvent(const EventRecord& event) {
    if (event.target.GetPort() == 0) {
        SetState(BodyDynamic);
    } else {
        SetState(BodyStatic);
        ResetMotion();
    }
    UpdateInverseMass();
}

// Mass --------------------------------------------------------------------------------------

float RigidBody::GetMass() const {
    RefreshMass();
    return mass_;
}

// A scene's values and children come in the order of its file, so its load settles a body the
// same way whatever that order: with volumes, their mass once the tree is read; without, the
// mass the file gives (a child or a flag read after it recomputed 0 until now).
bool RigidBody::KeepsLoadedMass() const {
    return EngineState == EngineLoading && !volumes_;
}

void RigidBody::SetMass(float mass) {
    mass_ = mass;
    UpdateInverseMass();
    SetDefaultInertia();
    if (volumes_ && EngineState == EngineLoading) {
        bodyFlags_ |= BodyMassOutOfDate;
    }
}

void RigidBody::UpdateInverseMass() {
    inverseMass_ = mass_ != 0.0f ? 1.0f / mass_ : LCPInfinity;
}

void RigidBody::SetDefaultInertia() {
    const float side = std::pow(mass_, 0.3333f);
    const float moment = side * 2.0f * side * mass_ / 12.0f;
    inertia_ = Matrix3();
    inertia_.m[0][0] = inertia_.m[1][1] = inertia_.m[2][2] = moment;
    inverseInertia_ = inertia_;
    InvertAtAnyScale(inverseInertia_);
}

void RigidBody::RefreshMass() const {
    if (bodyFlags_ & BodyMassOutOfDate) {
        const_cast<RigidBody*>(this)->UpdateMass(false);
    }
}

void RigidBody::UpdateMass(bool recentre) {
    if (KeepsLoadedMass()) {
        bodyFlags_ &= ~BodyMassOutOfDate;
        return;
    }
    float mass = 0.0f;
    Float3 weighted;
    for (CollisionVolume* volume = volumes_; volume; volume = volume->GetNextInBody()) {
        mass += volume->GetMass();
        weighted = weighted + volume->GetWorldCenter() * volume->GetMass();
    }
    const Float3 centre = mass != 0.0f ? weighted / mass : Float3();
    Float3 origin = GetWorldPosition();
    if (recentre && mass != 0.0f && IsMovable()) {
        std::vector<std::pair<Pivot*, Float3>> children;
        for (Node* child = GetFirstChild(); child; child = child->GetNext()) {
            if (Pivot* pivot = AsPivot(child)) {
                children.emplace_back(pivot, pivot->GetWorldPosition());
            }
        }
        SetWorldPosition(centre);
        for (auto& [pivot, place] : children) {
            pivot->SetWorldPosition(place);
        }
        origin = GetWorldPosition();
    } else if (mass != 0.0f && state_ == BodyDynamic && !reportedOffCentre_ &&
               (centre - origin).Length() > 0.001f) {
        reportedOffCentre_ = true;
        LogMessage("RigidBody '%s': the centre of mass lies %g from the node origin, about which "
                   "the body turns",
                   GetName().c_str(), static_cast<double>((centre - origin).Length()));
    }

    Matrix3 sum = Matrix3::Zero();
    for (CollisionVolume* volume = volumes_; volume; volume = volume->GetNextInBody()) {
        const float volumeMass = volume->GetMass();
        if (volumeMass == 0.0f) {
            continue;
        }
        const Matrix3 rotation = Matrix3::RotationOf(volume->GetWorldMatrix());
        Matrix3 world;
        rotation.Transposed().Multiply(Matrix3::FromRows(volume->GetInertia()), world);
        world.Multiply(rotation, world);
        AddScaled(sum, world, 1.0f);
        AddScaled(sum, PointMassInertia(volume->GetWorldCenter() - origin, volumeMass), 1.0f);
    }
    const Matrix3 rotation = Matrix3::RotationOf(GetWorldMatrix());
    if (!reportedScale_ && !rotation.HasUnitRows()) {
        reportedScale_ = true;
        LogMessage("RigidBody '%s': its world matrix is scaled; the dynamics use the scaled axes",
                   GetName().c_str());
    }
    rotation.Multiply(sum, sum);
    sum.Multiply(rotation.Transposed(), inertia_);
    inverseInertia_ = inertia_;
    InvertAtAnyScale(inverseInertia_);
    mass_ = mass;
    UpdateInverseMass();
    bodyFlags_ &= ~BodyMassOutOfDate;
}

float RigidBody::GetSolverInverseMass() {
    RefreshMass();
    const bool sound = std::isfinite(mass_) && mass_ > 0.0f && mass_ < LCPInfinity &&
                       inertia_.IsFinite() && inverseInertia_.IsFinite();
    if (!sound && IsMovable() && !reportedImmovable_) {
        reportedImmovable_ = true;
        LogMessage("RigidBody '%s': mass %g or its inertia cannot move; the solvers hold it still",
                   GetName().c_str(), static_cast<double>(mass_));
    }
    return sound ? inverseMass_ : 0.0f;
}

const Matrix3& RigidBody::GetSolverInverseInertia() {
    static const Matrix3 zero = Matrix3::Zero();
    return GetSolverInverseMass() != 0.0f ? inverseInertia_ : zero;
}

// State and flags -----------------------------------------------------------------------------

void RigidBody::SetState(int32_t state) {
    if (state == state_) {
        return;
    }
    state_ = state;
    // Each joint detaches itself from this list as it re-attaches.
    std::vector<Joint*> joints;
    for (JointNode* node = joints_; node; node = node->next) {
        joints.push_back(node->joint);
    }
    for (Joint* joint : joints) {
        joint->Reattach();
    }
}

void RigidBody::SetBodyFlags(uint32_t flags) {
    const uint32_t old = bodyFlags_;
    bodyFlags_ = (bodyFlags_ & ~0xFFFFu) | (flags & 0xFFFF);
    if ((old ^ bodyFlags_) & BodyAutoInertia) {
        UpdateMass(false);
    }
}

void RigidBody::ScriptSetGravity(bool on) {
    bodyFlags_ = on ? bodyFlags_ | BodyGravity : bodyFlags_ & ~BodyGravity;
}

// Forces ------------------------------------------------------------------------------------

void RigidBody::AddForce(Float3 force) {
    if (IsFullyEnabled()) {
        force_ = force_ + force;
    }
}

void RigidBody::AddTorque(Float3 torque) {
    if (IsFullyEnabled()) {
        torque_ = torque_ + torque;
    }
}

void RigidBody::AddForceAtPosition(Float3 position, Float3 force) {
    AddForce(force);
    AddTorque(force.Cross(position - GetWorldPosition()));
}

void RigidBody::AddImpulseAtPosition(Float3 position, Float3 impulse) {
    if (world_ && world_->GetUsableTimestep() > 0.0f) {
        AddForceAtPosition(position, world_->ImpulseToForce(impulse));
    }
}

void RigidBody::ResetMotion() {
    velocity_ = angularVelocity_ = force_ = torque_ = Float3();
    DropContacts();
}

Float3 RigidBody::GetWorldLinearVelocity() {
    Pivot* parent = GetTransformParent();
    return parent ? parent->LocalToWorldDirection(velocity_) : velocity_;
}

Float3 RigidBody::GetWorldAngularVelocity() {
    Pivot* parent = GetTransformParent();
    return parent ? parent->LocalToWorldDirection(angularVelocity_) : angularVelocity_;
}

Float3 RigidBody::GetPointVelocity(Float3 point) {
    const Float3 r = point - GetWorldPosition();
    Pivot* parent = GetTransformParent();
    if (!parent) {
        return velocity_ + r.Cross(angularVelocity_);
    }
    const Float3 local = parent->WorldToLocalDirection(r);
    return parent->LocalToWorldDirection(velocity_ + local.Cross(angularVelocity_));
}

void RigidBody::ApplyLinearDamping(float k) {
    const float h = world_ ? world_->GetUsableTimestep() : 0.0f;
    if (h > 0.0f) {
        RefreshMass();
        AddForce(velocity_ * (-(mass_ / h) * k));
    }
}

void RigidBody::ApplyAngularDamping(float k) {
    const float h = world_ ? world_->GetUsableTimestep() : 0.0f;
    if (h > 0.0f) {
        RefreshMass();
        // The inertia is held in the body's frame and the spin in the parent's (or the world's):
        // the axis is turned into the body's frame first, so that every body keeps the same
        // share of its spin however it is turned, and the torque is a world one, as the
        // solvers take it.
        const Float3 spin = GetWorldAngularVelocity();
        const Float3 axis =
            Matrix3::RotationOf(GetWorldMatrix()).Transform(spin.NormalizedOrSelf());
        AddTorque(spin * (-(inertia_.Transform(axis).Length() / h) * k));
    }
}

float RigidBody::GetInertiaAlong(Float3 axis) {
    RefreshMass();
    return inertia_.Transform(axis).Length();
}

// World and idling ----------------------------------------------------------------------------

void RigidBody::SetWorld(PhysicsMaster* world) {
    if (world_) {
        world_->RemoveBody(this);
    }
    world_ = world;
    if (world_) {
        world_->AddBody(this);
        idleTimer_ = world_->GetIdleTime();
    }
}

void RigidBody::SetIdle(bool idle) {
    if (idle != HasBodyFlags(BodyIdle)) {
        bodyFlags_ ^= BodyIdle;
        idleTimer_ = world_ ? world_->GetIdleTime() : 0.0f;
    }
}

void RigidBody::AutoIdle(float h) {
    if (!HasBodyFlags(BodyAutoIdle) || HasBodyFlags(BodyIdle) || !world_) {
        return;
    }
    const float threshold = world_->GetIdleThresholdSquared();
    if (velocity_.LengthSquared() <= threshold && angularVelocity_.LengthSquared() <= threshold) {
        idleTimer_ -= h;
    } else {
        idleTimer_ = world_->GetIdleTime();
    }
    if (idleTimer_ < 0.0f) {
        bodyFlags_ |= BodyIdle;
    }
}

// Pose ----------------------------------------------------------------------------------------

void RigidBody::SetPosition(Float3 position) {
    const Float3 before = GetPosition();
    Pivot::SetPosition(position);
    if (Differs(before, GetPosition())) {
        DropContacts();
        KeepPlaceIfSound();
    }
}

void RigidBody::SetOrientation(Quaternion orientation) {
    const Quaternion before = GetOrientation();
    Pivot::SetOrientation(orientation);
    if (Differs(before, GetOrientation())) {
        DropContacts();
    }
}

void RigidBody::KeepPlaceIfSound() {
    const Float3 position = GetPosition();
    if (IsSoundCoordinate(position.x) && IsSoundCoordinate(position.y) &&
        IsSoundCoordinate(position.z)) {
        lastSoundPosition_ = position;
    }
}

void RigidBody::DropContacts() {
    // The solver's own moves keep the contacts it is solving.
    for (JointNode* node = joints_; node;) {
        JointNode* next = node->next;
        Joint* joint = node->joint;
        if (joint->GetType() == JointContact &&
            !(joint->GetWorld() && joint->GetWorld()->IsSolvingContacts())) {
            joint->Release();
        }
        node = next;
    }
}

void RigidBody::IntegratePose(float h, Float3 pushLinear, Float3 pushAngular) {
    const Float3 v = velocity_ + pushLinear;
    const Float3 w = angularVelocity_ + pushAngular;
    if (v.x == 0.0f && v.y == 0.0f && v.z == 0.0f && w.x == 0.0f && w.y == 0.0f && w.z == 0.0f) {
        return;
    }
    const Float3 position = GetPosition() + v * h;
    const Quaternion q = GetOrientation();
    Quaternion turned;
    if (HasBodyFlags(BodyFiniteRotation)) {
        const float t = w.Length() * h * 0.5f;
        const float sinc = std::fabs(t) < 0.0001f ? 1.0f - t * t / 6.0f : std::sin(t) / t;
        const float s = sinc * h * 0.5f;
        turned = q * Quaternion(w.x * s, w.y * s, w.z * s, std::cos(t));
    } else {
        const Quaternion dq = q * Quaternion(w.x, w.y, w.z, 0.0f);
        const float half = h * 0.5f;
        turned =
            Quaternion(q.x + half * dq.x, q.y + half * dq.y, q.z + half * dq.z, q.w + half * dq.w);
    }
    // The pivot would take the position and quietly refuse the orientation.
    if (!position.IsFinite() || !Float3(turned.x, turned.y, turned.z).IsFinite() ||
        turned.w - turned.w != 0.0f) {
        ReportAbsurd("position", Magnitude(position));
        velocity_ = angularVelocity_ = Float3();
        return;
    }
    SetPose(position, turned);
}

bool RigidBody::ResetIfAbsurd(float h) {
    // The pivot refuses an orientation that is not finite, so only the position can be absurd.
    // Each bad coordinate goes back alone: a scene that gives one as "nan" keeps the others.
    Float3 place = GetPosition();
    const Float3 sound = lastSoundPosition_;
    bool placeIsSound = true;
    auto repair = [&placeIsSound](float& coordinate, float last) {
        if (!IsSoundCoordinate(coordinate)) {
            placeIsSound = false;
            coordinate = last;
        }
    };
    repair(place.x, sound.x);
    repair(place.y, sound.y);
    repair(place.z, sound.z);
    if (!placeIsSound) {
        ReportAbsurd("position", Magnitude(GetPosition()));
        SetPose(place, GetOrientation());
        // The inertia about the origin was measured where the body should not have been.
        bodyFlags_ |= BodyMassOutOfDate;
        ResetMotion();
        return false;
    }
    const double speed = Magnitude(velocity_);
    const double spin = Magnitude(angularVelocity_);
    const double force = Magnitude(force_);
    const double torque = Magnitude(torque_);
    // A force is judged by the speed it would give within the step; a body the solvers hold
    // still gains none, but a force that is not a finite number would still spoil their sums.
    // Without force the mass is not asked for: that would report a body the solvers never see.
    const bool moves = IsMovable();
    const double speedGained = moves && force != 0.0 ? force * h * GetSolverInverseMass() : 0.0;
    const double spinGained =
        moves && torque != 0.0 ? torque * h * Magnitude(GetSolverInverseInertia()) : 0.0;
    const char* fault = nullptr;
    double size = 0.0;
    if (!(speed <= MaxSpeed)) {
        fault = "speed";
        size = speed;
    } else if (!(spin <= MaxSpin)) {
        fault = "spin";
        size = spin;
    } else if (!std::isfinite(force) || !(speedGained <= MaxSpeed)) {
        fault = "force";
        size = force;
    } else if (!std::isfinite(torque) || !(spinGained <= MaxSpin)) {
        fault = "torque";
        size = torque;
    }
    if (!fault) {
        lastSoundPosition_ = place;
        return true;
    }
    ReportAbsurd(fault, size);
    ResetMotion();
    return false;
}

void RigidBody::ReportAbsurd(const char* quantity, double size) {
    if (reportedAbsurd_) {
        return;
    }
    reportedAbsurd_ = true;
    if (std::isfinite(size)) {
        LogMessage("RigidBody '%s': its %s %g is beyond what a physics step can carry; it is reset "
                   "(at rest, without forces, a bad coordinate back at its last sound place)",
                   GetName().c_str(), quantity, size);
    } else {
        LogMessage("RigidBody '%s': its %s is not a finite number; it is reset (at rest, without "
                   "forces, a bad coordinate back at its last sound place)",
                   GetName().c_str(), quantity);
    }
}

// Volumes and joints --------------------------------------------------------------------------

void RigidBody::LinkVolumes(Node* subtree, bool attached) {
    for (Node* node = subtree; node; node = node->GetNextInTree(true)) {
        if (node != subtree && !node->IsInSubtreeOf(subtree)) {
            break;
        }
        if (!IsCollisionVolume(node)) {
            continue;
        }
        auto* volume = static_cast<CollisionVolume*>(node);
        if (attached && NearestBody(node) == this) {
            volume->AttachToBody(*this);
        } else if (volume->GetBody() == this) {
            volume->DetachFromBody();
        }
    }
}

void RigidBody::OnDescendantChanged(Node* node, bool attached) {
    LinkVolumes(node, attached);
    bodyFlags_ |= BodyMassOutOfDate;
    Pivot::OnDescendantChanged(node, attached);
    RefreshMass();
}

void RigidBody::PushJointNode(JointNode* node) {
    node->next = joints_;
    joints_ = node;
}

void RigidBody::RemoveJointNode(JointNode* node) {
    for (JointNode** link = &joints_; *link; link = &(*link)->next) {
        if (*link == node) {
            *link = node->next;
            node->next = nullptr;
            return;
        }
    }
}

// Contacts for scripts ------------------------------------------------------------------------

int32_t RigidBody::CollectContacts() {
    auto& contacts = CollectedContacts();
    contacts.clear();
    for (JointNode* node = joints_; node; node = node->next) {
        if (node->joint->GetType() != JointContact) {
            continue;
        }
        auto* contact = static_cast<ContactJoint*>(node->joint);
        // The body of the volume the collision reported first, before Attach ordered them.
        RigidBody* reportedFirst = contact->GetBody(contact->IsReversed() ? 1 : 0);
        const bool first = reportedFirst == this;
        contacts.push_back({contact->position, first ? contact->normal : contact->normal * -1.0f,
                            contact->depth, contact->GetVolumeSerial(first ? 1 : 0)});
    }
    return static_cast<int32_t>(contacts.size());
}

Float3 RigidBody::GetContactPosition(int32_t index) const {
    const CollectedContact* contact = CollectedAt(index);
    return contact ? contact->position : Float3();
}

Float3 RigidBody::GetContactNormal(int32_t index) const {
    const CollectedContact* contact = CollectedAt(index);
    return contact ? contact->normal : Float3();
}

float RigidBody::GetContactDepth(int32_t index) const {
    const CollectedContact* contact = CollectedAt(index);
    return contact ? contact->depth : 0.0f;
}

Entity* RigidBody::GetContactVolume(int32_t index) const {
    const CollectedContact* contact = CollectedAt(index);
    return contact && contact->otherVolume ? Entity::FindBySerial(contact->otherVolume) : nullptr;
}

// Signals and registration --------------------------------------------------------------------

void RigidBody::OnLoaded(void*) {
    SetWorld(PhysicsMaster::GetCurrentWorld());
}

void RigidBody::OnTouchInertia(void*) {
    bodyFlags_ |= BodyMassOutOfDate;
}

ClassInfo* RigidBody::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = Pivot::RegisterClass();
    classInfo = new ClassInfo(
        "RigidBody", []() -> Entity* { return new RigidBody(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");

    using B = RigidBody;
    massProperty_ = classInfo->AddProperty<PropertyFloat, &B::GetMass, &B::SetMass>("mass:0,100");
    classInfo->AddProperty<PropertyFloat3, &B::GetLinearVelocity, &B::SetLinearVelocity>("speed");
    classInfo->AddProperty<PropertyFloat3, &B::GetAngularVelocity, &B::SetAngularVelocity>(
        "angularspeed");
    classInfo->AddProperty<PropertyEnum, &B::GetState, &B::SetState>(
        "state:STATIC,KINEMATIC,DYNAMIC,GHOST");
    classInfo->AddProperty<PropertyBitfield, &B::GetBodyFlags, &B::SetBodyFlags>(
        "bodyflags:gravity,idle,autoidle,autoinertia,finiterot,buoyancy");
    classInfo->AddProperty<PropertyFloat, &B::GetDrag, &B::SetDrag>("drag:0,0.5");
    classInfo->AddProperty<PropertyFloat, &B::GetAngularDrag, &B::SetAngularDrag>(
        "angulardrag:0,0.5");

    classInfo->AddMethod("loaded", "()", BindSignalHandler<&B::OnLoaded>(), MethodClassSignal);
    classInfo->AddMethod("touchinertia", "()", BindSignalHandler<&B::OnTouchInertia>(),
                         MethodClassSignal);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "(float3,float3)", BindMethod<&B::AddImpulseAtPosition>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float3)", BindMethod<&B::AddForceAtPosition>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3)", BindMethod<&B::AddTorque>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&B::ApplyLinearDamping>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float)", BindMethod<&B::ApplyAngularDamping>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&B::ResetMotion>(),
                         MethodScriptCallable | MethodNoResult);
    classInfo->AddMethod(NextShortName(), "(bool)", BindMethod<&B::ScriptSetGravity>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():bool", BindMethod<&B::ScriptGetGravity>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3", BindMethod<&B::GetPointVelocity>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float", BindMethod<&B::GetInertiaAlong>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&B::CollectContacts>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float3", BindMethod<&B::GetContactPosition>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float3", BindMethod<&B::GetContactNormal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):float", BindMethod<&B::GetContactDepth>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(int):CollisionVolume",
                         BindMethod<&B::GetContactVolume>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&B::ScriptRecentre>(), MethodEditorOnly);

    for (int32_t state = BodyStatic; state <= BodyGhost; ++state) {
        RegisterNamedConstant(NextShortName(), state);
    }
    for (int bit = 0; bit < 6; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    RegisterClassSignal("loaded", classInfo);
    return classInfo;
}

} // namespace quarn
