#include "script/nodes/PathController.h"

#include "core/math/Matrix4.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/Signals.h"
#include "core/scene/WitnessProperty.h"
#include "render/Camera.h"
#include "resources/DynamicMesh.h"

#include <cmath>
#include <memory>

namespace quarn {

ClassInfo* PathPivot::classInfo = nullptr;
ClassInfo* PathController::classInfo = nullptr;

namespace {

// A plain Pivot waypoint has no speed factor of its own.
float PathSpeedOf(const Pivot* waypoint) {
    const auto* pathPivot = dynamic_cast<const PathPivot*>(waypoint);
    return pathPivot ? pathPivot->GetPathSpeed() : 1.0f;
}

Pivot* NextPivot(Node* node) {
    while (node && !AsPivot(node)) {
        node = node->GetNext();
    }
    return AsPivot(node);
}

Pivot* PreviousPivot(Node* node) {
    while (node && !AsPivot(node)) {
        node = node->GetPrevious();
    }
    return AsPivot(node);
}

EntityRef ReferenceTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}

} // namespace

// PathPivot -------------------------------------------------------------------------------------

PathPivot::PathPivot() = default;

const char* PathPivot::GetOutputName(int port) const {
    return port == 0 ? "reached" : "";
}

void PathPivot::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        witness_ = reference;
    }
}

EntityRef PathPivot::GetPortValue(int port) const {
    return port == 0 ? witness_ : EntityRef();
}

ClassInfo* PathPivot::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "PathPivot", []() -> Entity* { return new PathPivot(); }, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("Animation");
    classInfo->AddProperty<PropertyFloat, &PathPivot::GetPathSpeed, &PathPivot::SetPathSpeed>(
        "pathspeed:0.0,10.0");
    AddWitnessProperty(classInfo, "witness:signal", 0);
    return classInfo;
}

// Waypoints -------------------------------------------------------------------------------------

PathController::PathController() = default;

Node* PathController::GetPathParent() const {
    Pivot* current = GetCurrentWaypoint();
    Node* parent = current ? current->GetParent() : nullptr;
    return parent ? parent : const_cast<PathController*>(this);
}

Pivot* PathController::GetCurrentWaypoint() const {
    return AsPivot(dynamic_cast<Node*>(current_.GetTarget()));
}

Pivot* PathController::GetFirstWaypoint() const {
    return NextPivot(GetPathParent()->GetFirstChild());
}

Pivot* PathController::Next(Pivot* waypoint, bool wrap) const {
    if (Pivot* next = NextPivot(waypoint->GetNext())) {
        return next;
    }
    Node* parent = waypoint->GetParent();
    return parent && wrap && (flags_ & PathConnectEnds) ? NextPivot(parent->GetFirstChild())
                                                        : nullptr;
}

Pivot* PathController::Previous(Pivot* waypoint, bool wrap) const {
    if (Pivot* previous = PreviousPivot(waypoint->GetPrevious())) {
        return previous;
    }
    // The path parent's last waypoint, which need not be the controller's last child.
    Node* parent = waypoint->GetParent();
    return parent && wrap && (flags_ & PathConnectEnds) ? PreviousPivot(parent->GetLastChild())
                                                        : nullptr;
}

Pivot* PathController::Step(Pivot* waypoint, int32_t count, bool wrap) const {
    for (; waypoint && count > 0; --count) {
        waypoint = Next(waypoint, wrap);
    }
    for (; waypoint && count < 0; ++count) {
        waypoint = Previous(waypoint, wrap);
    }
    return waypoint;
}

void PathController::SetCurrentId(EntityId id) {
    if (id.value != current_.GetId()) {
        current_.SetId(id.value);
    }
}

void PathController::SetActive(bool active) {
    flags_ = active ? flags_ | PathActive : flags_ & ~uint32_t(PathActive);
}

void PathController::Reset() {
    direction_ = 1;
    progress_ = 0.0f;
}

// Moving ----------------------------------------------------------------------------------------

float PathController::Evaluate(float time) {
    if (time == 0.0f) {
        return 0.0f;
    }
    Pivot* a = GetCurrentWaypoint();
    if (!a) {
        a = GetFirstWaypoint();
        current_.SetId(a ? a->GetId() : 0);
        if (!a) {
            return 0.0f;
        }
    }
    // connect_ends decides whether the last waypoint leads on to the first.
    Pivot* b = Step(a, direction_, true);
    if (!b || b == a) {
        position_ = a->GetWorldPosition();
        orientation_ = a->GetWorldOrientation();
        return 0.0f;
    }
    const Float3 pa = a->GetWorldPosition();
    const Float3 pb = b->GetWorldPosition();
    const bool spline = (flags_ & PathSpline) != 0;
    Float3 tangentA = pb - pa;
    Float3 tangentB = pb - pa;
    if (spline) {
        if (Pivot* before = Step(a, -direction_, true)) {
            tangentA = (pb - before->GetWorldPosition()) * 0.5f;
        }
        if (Pivot* after = Step(b, direction_, true)) {
            tangentB = (after->GetWorldPosition() - pa) * 0.5f;
        }
    }

    float s = progress_;
    float rate = speed_;
    if (!(flags_ & PathSectionSpeed)) {
        float length = (pb - pa).Length();
        if (spline) {
            const Float3 derivative = pa * (6 * s * s - 6 * s) +
                                      tangentA * (3 * s * s - 4 * s + 1) +
                                      pb * (-6 * s * s + 6 * s) + tangentB * (3 * s * s - 2 * s);
            length = derivative.Length();
        }
        if (length > 0.001f) {
            rate /= length;
        }
    }
    const float speedA = PathSpeedOf(a);
    rate *= speedA + s * (PathSpeedOf(b) - speedA);

    progress_ += rate * time;
    float leftover = 0.0f;
    if (progress_ >= 1.0f) {
        // A rate of 0 cannot turn the overshoot into time.
        leftover = rate > 0.0f ? (progress_ - 1.0f) / rate : 0.0f;
        progress_ = 1.0f;
    }

    s = progress_;
    const Float3 previous = position_;
    if (spline) {
        const float h01 = 3 * s * s - 2 * s * s * s;
        const float h10 = s * s * s - 2 * s * s + s;
        const float h11 = s * s * s - s * s;
        position_ = pa * (1 - h01) + pb * h01 + tangentA * h10 + tangentB * h11;
    } else {
        position_ = pa * (1 - s) + pb * s;
    }
    if (!(flags_ & PathOrientFromDir)) {
        orientation_ = Quaternion::Slerp(a->GetWorldOrientation(), b->GetWorldOrientation(), s);
    } else if (position_ != previous) {
        orientation_ = LookAlong(position_ - previous);
    }
    return leftover;
}

PathController::AdvanceResult PathController::Advance(float time, int32_t& passes) {
    const uint64_t self = GetSerial();
    AdvanceResult result;
    result.leftover = Evaluate(time);
    // A segment that ends exactly on its waypoint has reached it, even with no time left over.
    while (progress_ >= 1.0f && passes > 0) {
        --passes;
        progress_ = 0.0f;
        Pivot* current = GetCurrentWaypoint();
        if (!current) {
            return {};
        }
        Pivot* next = Step(current, direction_, false);
        if (!next) {
            result.ended = true;
            return result;
        }
        const uint32_t nextId = next->GetId();
        if (auto* pathPivot = dynamic_cast<PathPivot*>(next);
            pathPivot && pathPivot->GetWitnessId()) {
            SendEvent(ReferenceTo(GetId()), ReferenceTo(pathPivot->GetWitnessId()), nullptr, 1.0f);
            if (!Entity::FindBySerial(self)) {
                return {};
            }
            next = AsPivot(dynamic_cast<Node*>(LookupEntity(nextId)));
            if (!next) {
                return {};
            }
        }
        current_.SetId(nextId);
        if (!Step(next, direction_, true)) {
            result.ended = true;
            return result;
        }
        result.leftover = Evaluate(result.leftover);
    }
    return {};
}

bool PathController::StepPath(float time) {
    const uint64_t self = GetSerial();
    int32_t passes = MaxWaypointsPerFrame;
    AdvanceResult result = Advance(time, passes);
    while (result.ended) {
        if (!Entity::FindBySerial(self)) {
            return false;
        }
        if (flags_ & PathPingPong) {
            direction_ = -direction_;
        } else {
            Pivot* first = GetFirstWaypoint();
            current_.SetId(first ? first->GetId() : 0);
        }
        progress_ = 0.0f;
        if (!(flags_ & PathLoop)) {
            SetActive(false);
            if (Entity* witness = witness_.GetTarget()) {
                uint32_t record[2] = {0, GetId()};
                CallEntityMethodWithRecord(witness, "pathdone", record);
            }
            return Entity::FindBySerial(self) != nullptr;
        }
        if (passes <= 0) {
            break;
        }
        result = Advance(result.leftover, passes);
    }
    return Entity::FindBySerial(self) != nullptr;
}

void PathController::ApplyPose() {
    Pivot* target = AsPivot(dynamic_cast<Node*>(target_.GetTarget()));
    if (!target || !GetCurrentWaypoint()) {
        return;
    }
    if (flags_ & PathLookAtOnly) {
        const Float3 toPath = position_ - target->GetWorldPosition();
        if (toPath.LengthSquared() > 0.0f) {
            target->SetWorldOrientation(LookAlong(toPath));
        }
        return;
    }
    target->SetWorldPosition(position_);
    target->SetWorldOrientation(orientation_);
}

void PathController::Update(float frameTime, int) {
    // Decided once, so the frame that ends the path still puts the target on its last waypoint.
    if (!IsActive() || !StepPath(frameTime)) {
        return;
    }
    ApplyPose();
}

void PathController::OnValuesLoaded() {
    RenderObject::OnValuesLoaded();
    direction_ = (flags_ & PathReverse) ? -1 : 1;
}

void PathController::ReceiveEvent(const EventRecord& event) {
    switch (event.target.GetPort()) {
    case 0:
        SetActive(true);
        break;
    case 1:
        SetActive(false);
        break;
    case 2:
        Reset();
        break;
    default:
        break;
    }
}

const char* PathController::GetInputName(int port) const {
    static constexpr const char* Names[3] = {"start", "stop", "reset"};
    return port >= 0 && port < 3 ? Names[port] : "";
}

// Gizmo -----------------------------------------------------------------------------------------

int32_t PathController::Render() {
    if (!TestRenderFlags(RenderGizmo)) {
        return 0;
    }
    SetRenderWorldMatrix(Matrix4());
    const uint32_t color = (flags_ & PathLookAtOnly) ? LookAtPathColor : PathColor;
    Pivot* first = GetFirstWaypoint();
    for (Pivot* waypoint = first; waypoint; waypoint = NextPivot(waypoint->GetNext())) {
        const Float3 at = waypoint->GetWorldPosition();
        DrawDebugPointMarker(at, GizmoSize, color);
        Pivot* next = NextPivot(waypoint->GetNext());
        if (!next && (flags_ & PathConnectEnds)) {
            next = first;
        }
        if (next && next != waypoint) {
            DrawDebugLine(at, next->GetWorldPosition(), color);
        }
    }
    DrawDebugPointMarker(position_, GizmoSize, EvaluatedColor);
    return 0;
}

bool PathController::IntersectRay(const Float3& origin, const Float3&, PickQuery& query) {
    if (!(query.flags & PickGizmos)) {
        return false;
    }
    Pivot* hit = nullptr;
    float nearest = PickTolerance * PickTolerance;
    int32_t index = 0;
    for (Pivot* waypoint = GetFirstWaypoint(); waypoint;
         waypoint = NextPivot(waypoint->GetNext()), ++index) {
        const Float2 screen = CurrentCameraWorldToScreen(waypoint->GetWorldPosition());
        const float dx = screen.x - query.screenPoint.x;
        const float dy = screen.y - query.screenPoint.y;
        if (dx * dx + dy * dy <= nearest) {
            nearest = dx * dx + dy * dy;
            hit = waypoint;
            query.current.part = index;
        }
    }
    if (!hit) {
        return false;
    }
    query.current.distance = (hit->GetWorldPosition() - origin).Length();
    if (query.flags & PickNormal) {
        query.current.data = hit->GetWorldAxisZ();
    }
    return true;
}

void PathController::UpdateBoundingBox() {
    Pivot* first = GetFirstWaypoint();
    localBox_ = first ? Aabb{first->GetPosition(), first->GetPosition()} : Aabb{};
    for (Pivot* waypoint = first; waypoint; waypoint = NextPivot(waypoint->GetNext())) {
        localBox_.AddPoint(waypoint->GetPosition());
    }
}

void PathController::UpdateWorldBoundingBox() {
    Pivot* first = GetFirstWaypoint();
    if (!first) {
        RenderObject::UpdateWorldBoundingBox();
        return;
    }
    worldBox_ = {first->GetWorldPosition(), first->GetWorldPosition()};
    for (Pivot* waypoint = first; waypoint; waypoint = NextPivot(waypoint->GetNext())) {
        worldBox_.AddPoint(waypoint->GetWorldPosition());
    }
}

Aabb PathController::GetWorldBoundingBox() {
    UpdateWorldBoundingBox();
    return worldBox_;
}

// Registration ----------------------------------------------------------------------------------

ClassInfo* PathController::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "PathController", []() -> Entity* { return new PathController(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Animation");
    // Paths move in the editor too.
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);

    using P = PathController;
    const int32_t pivotType = ClassTypeBase + Pivot::RegisterClass()->GetClassNumber();
    classInfo->AddProperty<PropertyFloat, &P::GetSpeed, &P::SetSpeed>("speed:0,");
    classInfo->AddProperty<PropertyBitfield, &P::GetPathFlags, &P::SetPathFlags>(
        "pathflags:active,loop,pingpong,spline,reverse,connect_ends,look_at_only,"
        "orient_from_dir,section_speed");
    classInfo->AddProperty("target", std::make_unique<PropertyEntity>(pivotType),
                           MakeGetter<&P::GetTargetId>(), MakeSetter<&P::SetTargetId>());
    classInfo->AddProperty<PropertyEntity, &P::GetWitnessId, &P::SetWitnessId>("witness");
    classInfo->AddProperty("pathpivot", std::make_unique<PropertyEntity>(pivotType),
                           MakeGetter<&P::GetCurrentId>(), MakeSetter<&P::SetCurrentId>());
    classInfo->AddProperty<PropertyFloat, &P::GetProgress, &P::SetProgress>("progress:0,1,,0.001");
    for (int32_t bit = 0; bit < 9; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    classInfo->AddMethod(NextShortName(), "()", BindMethod<&P::Reset>(), MethodScript);
    // Declared so physics masters reach path controllers; no method answers it.
    RegisterClassSignal("integrate", classInfo);
    return classInfo;
}

} // namespace quarn
