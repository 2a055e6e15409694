#include "physics/PhysicsMaster.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionVolume.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/math/Random.h"
#include "core/object/ValueBinding.h"
#include "core/object/ValueType.h"
#include "core/os/EditorToolbar.h"
#include "core/os/MenuRefresh.h"
#include "core/scene/EngineState.h"
#include "core/string/NumberText.h"
#include "physics/ContactJoint.h"
#include "physics/IslandStep.h"
#include "physics/IslandStepIterative.h"
#include "physics/IslandStepLCP.h"
#include "physics/Joint.h"
#include "physics/LCPSolver.h"
#include "physics/RigidBody.h"
#include "resources/DataBaseResource.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <span>
#include <string>

namespace quarn {

ClassInfo* PhysicsMaster::classInfo = nullptr;

namespace {

PhysicsMaster* currentWorld = nullptr;
// The world whose spaces are colliding: the spaces hand the callback a pair record, not it.
PhysicsMaster* collidingWorld = nullptr;

constexpr int MaxContactsPerPair = 100;
constexpr float MinimumSoftCfm = 1e-5f;
// How far a contact's penetration is corrected in one step: half, so that a deep overlap is led
// out over a few steps rather than thrown apart in one.
constexpr float ContactErrorReduction = 0.5f;

// Bits of the "frictionmodel" value (SIMPLE_PYRAMID 0, SIMPLE_CONE 1, ADVANCED_PYRAMID 2,
// ADVANCED_CONE 3).
enum FrictionModelBits : int32_t {
    // The two friction rows are turned by a random angle about the normal each step, so that over
    // time no direction is favoured, as a cone would favour none.
    FrictionTurned = 0x1,
    // The friction rows are bounded by mu times the normal force rather than by mu itself.
    FrictionScaledByNormal = 0x2,
};
// The range of the random turn: the two rows are perpendicular, so a quarter turn already gives
// every orientation of the pair. The value is the one stored results were made with.
constexpr float FrictionTurnRange = 1.5708f;
// An axis within about 8 degrees of the contact normal would give a short, poorly conditioned
// cross product; the other axis, perpendicular to it, is then far from the normal.
constexpr float NearlyParallel = 0.99f;
// The least speed at which a contact's surfaces slide on each other rather than rest, where
// gravity gives less in a step.
constexpr float MinSlidingSpeed = 0.01f;
// The heaviest body either step holds on a lighter one, as a multiple of its mass, under the
// default contacts (the iterative one starting from the exact forces of such a pair): at this
// ratio the light one gives about a millimetre, at ten times it a centimetre, and at a hundred
// times it is squeezed out or pushed through what it rests on.
constexpr float MaxCarriedMassRatio = 1000.0f;
// A surface tilted by more than about half a degree pulls a body resting on it down along it
// (the sine of the tilt).
constexpr float SteepEnough = 0.01f;
// A contact steeper than about 45 degrees from level holds a body up rather than aside.
constexpr float RestingNormalY = 0.7071f;
// How long a heavy body that met a light one at speed stays on it, slow, before the log names
// the pair (s): a heavy ball thrown onto a light box stays on it some 0.08 s at most.
constexpr double HeavyOnLightSettlingTime = 0.15;
// A heavy body rests on a light one only while it moves along their contact at no more than
// this share of the speed gravity gives in a step: a heavy ball rolling across a light box's top
// at 1/30 s went at 0.3 m/s, just under that speed.
constexpr float AlongRestingShare = 0.1f;

// The world's intrusive lists of bodies and joints.
template <class T>
void LinkIntoWorld(T*& head, int32_t& count, T* item) {
    item->previousInWorld_ = nullptr;
    item->nextInWorld_ = head;
    if (head) {
        head->previousInWorld_ = item;
    }
    head = item;
    ++count;
}

template <class T>
void UnlinkFromWorld(T*& head, int32_t& count, T* item) {
    if (item->previousInWorld_) {
        item->previousInWorld_->nextInWorld_ = item->nextInWorld_;
    } else if (head == item) {
        head = item->nextInWorld_;
    } else {
        return; // not in this list
    }
    if (item->nextInWorld_) {
        item->nextInWorld_->previousInWorld_ = item->previousInWorld_;
    }
    item->nextInWorld_ = item->previousInWorld_ = nullptr;
    --count;
}

} // namespace

PhysicsMaster::PhysicsMaster() : contactBuffer_(MaxContactsPerPair) {
    if (!currentWorld) {
        currentWorld = this;
        CollisionWorld::SetCurrent(this);
    }
    AddSignalListener("nodedeletion", this);
}

PhysicsMaster::~PhysicsMaster() {
    if (currentWorld == this) {
        currentWorld = nullptr;
        CollisionWorld::SetCurrent(nullptr);
    }
    ReleaseContacts();
    events_.ClearEvents();
    while (bodies_) {
        bodies_->SetWorld(nullptr);
    }
    while (joints_) {
        joints_->SetWorld(nullptr);
    }
    SetDataBase(contactDb_, "");
    SetDataBase(materialDb_, "");
    collisionSpace_.SetId(0);
    witness_.SetId(0);
}

PhysicsMaster* PhysicsMaster::GetCurrentWorld() {
    return currentWorld;
}

const char* PhysicsMaster::GetInputName(int port) const {
    return port == 0 ? "start" : "stop";
}

void PhysicsMaster::ReceiveEvent(const EventRecord& event) {
    SetMethod(event.target.GetPort() == 0 ? PhysicsLcp : PhysicsOff);
}

void PhysicsMaster::SetMethod(int32_t method) {
    method_ = method;
    RefreshMenu();
}

bool PhysicsMaster::AcceptsSetting(const char* property, float value, float held) const {
    if (std::isfinite(value)) {
        return true;
    }
    LogMessage("PhysicsMaster '%s': %s %g is not a finite number; it stays %g", GetName().c_str(),
               property, static_cast<double>(value), static_cast<double>(held));
    return false;
}

void PhysicsMaster::SetFinite(float& held, float value, const char* property) {
    if (AcceptsSetting(property, value, held)) {
        held = value;
    }
}

void PhysicsMaster::SetSlowMotion(float factor) {
    if (AcceptsSetting("slowmotion", factor, slowMotion_)) {
        slowMotion_ = factor < 1.0f ? 1.0f : factor;
    }
}

void PhysicsMaster::SetIdleThreshold(float speed) {
    if (AcceptsSetting("idlethreshold", speed, idleThreshold_)) {
        idleThreshold_ = speed;
        idleThresholdSquared_ = speed * speed;
    }
}

void PhysicsMaster::SetIterations(int32_t iterations) {
    const int32_t taken = std::clamp(iterations, 0, MaxIterations);
    if (taken != iterations) {
        LogMessage("PhysicsMaster '%s': iterations %d is outside 0 to %d; %d is taken",
                   GetName().c_str(), iterations, MaxIterations, taken);
    }
    iterations_ = taken;
}

float PhysicsMaster::GetIdleThreshold() const {
    return idleThreshold_;
}

CollisionSpace* PhysicsMaster::FindCollisionSpace(int32_t number) {
    // The chain: the referenced space and its following siblings while they are spaces.
    auto* node = dynamic_cast<Node*>(collisionSpace_.GetTarget());
    for (; node; node = node->GetNext()) {
        auto* space = dynamic_cast<CollisionSpace*>(node);
        if (!space) {
            break;
        }
        if (space->GetSpaceNum() == number) {
            return space;
        }
    }
    return nullptr;
}

void PhysicsMaster::AddBody(RigidBody* body) {
    LinkIntoWorld(bodies_, bodyCount_, body);
}

void PhysicsMaster::RemoveBody(RigidBody* body) {
    UnlinkFromWorld(bodies_, bodyCount_, body);
}

void PhysicsMaster::AddJoint(Joint* joint) {
    LinkIntoWorld(joints_, jointCount_, joint);
}

void PhysicsMaster::RemoveJoint(Joint* joint) {
    UnlinkFromWorld(joints_, jointCount_, joint);
}

float PhysicsMaster::GetUsableTimestep() const {
    return std::isfinite(timestep_) && timestep_ > 0.0f ? timestep_ : 0.0f;
}

Float3 PhysicsMaster::ImpulseToForce(Float3 impulse) const {
    const float h = GetUsableTimestep();
    return h > 0.0f ? impulse / h : Float3();
}

void PhysicsMaster::ReportFailedIsland(const RigidBody& first, int32_t bodies, int64_t rows,
                                       bool steppedIteratively) {
    if (!reportedFailedIsland_) {
        reportedFailedIsland_ = true;
        lastFailureNote_ = worldTime_;
        if (steppedIteratively) {
            LogMessage("PhysicsMaster '%s': an island's constraints could not be solved exactly "
                       "(bodies %d, rows %lld); it was stepped iteratively",
                       GetName().c_str(), bodies, static_cast<long long>(rows));
        } else {
            LogMessage("PhysicsMaster '%s': an island's constraints could not be solved (bodies "
                       "%d, rows %lld); its bodies kept their motion for the step",
                       GetName().c_str(), bodies, static_cast<long long>(rows));
        }
        return;
    }
    ++unreportedFailures_;
    if (!steppedIteratively) {
        ++unreportedStandstills_;
    }
    failedIslands_.push_back(first.GetSerial());
}

void PhysicsMaster::SummariseFailedIslands() {
    if (unreportedFailures_ == 0 || worldTime_ - lastFailureNote_ < FailureNoteInterval) {
        return;
    }
    std::sort(failedIslands_.begin(), failedIslands_.end());
    const auto islands =
        std::unique(failedIslands_.begin(), failedIslands_.end()) - failedIslands_.begin();
    LogMessage("PhysicsMaster '%s': %lld more island solves failed in the last %.3g s, in %lld "
               "islands; %lld were stepped iteratively, %lld kept their motion",
               GetName().c_str(), static_cast<long long>(unreportedFailures_),
               worldTime_ - lastFailureNote_, static_cast<long long>(islands),
               static_cast<long long>(unreportedFailures_ - unreportedStandstills_),
               static_cast<long long>(unreportedStandstills_));
    lastFailureNote_ = worldTime_;
    unreportedFailures_ = 0;
    unreportedStandstills_ = 0;
    failedIslands_.clear();
}

void PhysicsMaster::ReportIslandOverBound(const RigidBody& first, int32_t bodies, int64_t rows) {
    if (!reportedOverBound_) {
        reportedOverBound_ = true;
        lastOverBoundNote_ = worldTime_;
        LogMessage("PhysicsMaster '%s': an island's exact solve would take more than its bound "
                   "of work (bodies %d, rows %lld, %lld multiply-adds a row); it was stepped "
                   "iteratively",
                   GetName().c_str(), bodies, static_cast<long long>(rows),
                   static_cast<long long>(ExactWorkPerRow));
        return;
    }
    islandsOverBound_.push_back(first.GetSerial());
}

void PhysicsMaster::SummariseIslandsOverBound() {
    if (islandsOverBound_.empty() || worldTime_ - lastOverBoundNote_ < FailureNoteInterval) {
        return;
    }
    const size_t steps = islandsOverBound_.size();
    std::sort(islandsOverBound_.begin(), islandsOverBound_.end());
    const auto islands = std::unique(islandsOverBound_.begin(), islandsOverBound_.end()) -
                         islandsOverBound_.begin();
    LogMessage("PhysicsMaster '%s': %lld more island steps went past the exact solve's bound in "
               "the last %.3g s, in %lld islands; they were stepped iteratively",
               GetName().c_str(), static_cast<long long>(steps), worldTime_ - lastOverBoundNote_,
               static_cast<long long>(islands));
    lastOverBoundNote_ = worldTime_;
    islandsOverBound_.clear();
}

void PhysicsMaster::NoteHeavyOnLight(RigidBody& a, RigidBody& b, const CollisionContact& contact,
                                     bool touchedBefore) {
    if (reportedMassRatio_ || !solvingContacts_ || !a.IsMovable() || !b.IsMovable()) {
        return;
    }
    const bool aHeavier = a.GetMass() >= b.GetMass();
    RigidBody& heavy = aHeavier ? a : b;
    RigidBody& light = aHeavier ? b : a;
    // Gravity pulls along -y: the heavy one rests on the light one where their contact faces up
    // from the light one. A heavy ball that rolls into a light box from the side lies higher
    // than the box's centre, yet only pushes it.
    const float upFromLight = aHeavier ? -contact.normal.y : contact.normal.y;
    if (!(light.GetMass() > 0.0f) || !(upFromLight > RestingNormalY)) {
        return;
    }
    const float ratio = heavy.GetMass() / light.GetMass();
    if (!(ratio > MaxCarriedMassRatio)) {
        return;
    }
    // A heavy body thrown onto a light one meets it at speed and is soon off it again or has
    // thrown it aside. One set on it meets it gently and rests on it from then on, even while it
    // sinks through it; one that met it at speed rests on it once it has stayed a while since
    // their closing speed fell.
    const Float3 point = contact.position * -1.0f;
    const float closing =
        (b.GetPointVelocity(point) - a.GetPointVelocity(point)).Dot(contact.normal);
    const float step = GetUsableTimestep();
    const float restingSpeed = std::max(MinSlidingSpeed, std::fabs(gravity_) * step);
    const std::pair key(std::min(a.GetSerial(), b.GetSerial()),
                        std::max(a.GetSerial(), b.GetSerial()));
    const auto [found, added] = heavyOnLight_.try_emplace(key);
    RestingRun& run = found->second;
    if (!added && run.lastStep == stepCounter_) {
        return; // another of the pair's volumes
    }
    const bool held = touchedBefore && !added && run.lastStep + 1 == stepCounter_;
    // The push-out moves sunk bodies apart instead of giving them speed: a light body being
    // squeezed out of a heavy one shows it in their depth, not in their velocities.
    const float squeezed = held ? std::fabs(contact.depth - run.depth) / step : 0.0f;
    // Nor does a heavy body rest on a light one while it moves along it: a heavy ball meets a
    // light box gently and lies on it for a while as it rolls across its top, or as it pushes
    // the box along before it, high on its edge.
    const Float3 moving = heavy.GetWorldLinearVelocity();
    const float along = (moving - contact.normal * moving.Dot(contact.normal)).Length();
    const bool gentle = std::fabs(closing) < restingSpeed && squeezed < restingSpeed &&
                        along < AlongRestingShare * restingSpeed;
    run.depth = contact.depth;
    // One that met it at speed must stay slow on it all the while: a light box squeezed out from
    // under a heavy ball has calm steps between its jolts.
    if (!(held && run.resting && (run.metGently || gentle))) {
        run.resting = gentle;
        // A pair first found sunk deep met at speed unseen: a heavy ball that came down beside a
        // light box, the box found inside its flank a step later.
        run.metGently = gentle && !held && contact.depth < contactMinDepth_ + restingSpeed * step;
        run.since = worldTime_;
    }
    run.lastStep = stepCounter_;
    const double settling = run.metGently ? 0.0 : HeavyOnLightSettlingTime;
    if (!run.resting || !(worldTime_ - run.since > settling)) {
        return;
    }
    reportedMassRatio_ = true;
    heavyOnLight_.clear();
    LogMessage("PhysicsMaster '%s': RigidBody '%s' rests on RigidBody '%s' with %g times its "
               "mass, more than the solver carries (%g); the lighter body may give way",
               GetName().c_str(), heavy.GetName().c_str(), light.GetName().c_str(),
               static_cast<double>(ratio), static_cast<double>(MaxCarriedMassRatio));
}

const char* PhysicsMaster::GetContactDbName() const {
    return RelativePathOf(contactDb_);
}

void PhysicsMaster::SetContactDbName(const char* name) {
    SetDataBase(contactDb_, name);
}

const char* PhysicsMaster::GetMaterialDbName() const {
    return RelativePathOf(materialDb_);
}

void PhysicsMaster::SetMaterialDbName(const char* name) {
    SetDataBase(materialDb_, name);
}

void PhysicsMaster::SetDataBase(DataBaseResource*& held, const char* name) {
    DataBaseResource* acquired = name && *name ? GetDataBase(name, "") : nullptr;
    if (ReplaceHeldResource(held, acquired)) {
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

int32_t PhysicsMaster::Render() {
    if (GetRenderFlags() & RenderGizmo) {
        DrawScreenText(8.0f, 8.0f, FormatClassic("aabb overlaps: %d", pairCount_).c_str(),
                       0xFFFFFFFF);
        DrawScreenText(8.0f, 24.0f, FormatClassic("contacts: %d", contactsInUse_).c_str(),
                       0xFFFFFFFF);
    }
    return 0;
}

int32_t PhysicsMaster::HandleToolbar(int32_t value, int32_t action) {
    PhysicsMaster* world = currentWorld;
    if (!world) {
        return 0;
    }
    const bool paused = world->method_ == PhysicsLcpSingleStep;
    if (value == 0) {
        if (action == ToolbarExecute) {
            world->SetMethod(world->method_ == PhysicsLcp ? PhysicsLcpSingleStep : PhysicsLcp);
        }
        return action == ToolbarIsChecked ? paused : action == ToolbarIsEnabled;
    }
    if (action == ToolbarExecute && paused) {
        world->RequestStep();
    }
    return action == ToolbarIsEnabled && paused && GameRunning;
}

void PhysicsMaster::OnNodeDeletion(void* argument) {
    if (argument && witness_.GetId() != 0 && witness_.GetTarget() == argument) {
        witness_.SetId(0);
    }
}

ClassInfo* PhysicsMaster::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = RenderObject::RegisterClass();
    classInfo = new ClassInfo(
        "PhysicsMaster", []() -> Entity* { return new PhysicsMaster(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");

    using P = PhysicsMaster;
    const uint32_t none = 0;
    const int32_t nodeType = ClassTypeBase + Node::RegisterClass()->GetClassNumber();
    classInfo->AddProperty<PropertyFloat, &P::GetTimestep, &P::SetTimestep>("timestep:0,0.2");
    classInfo->AddProperty<PropertyFloat, &P::GetSlowMotion, &P::SetSlowMotion>(
        "slowmotion:0,100");
    classInfo->AddProperty<PropertyFloat, &P::GetGravity, &P::SetGravity>("gravity:0,20");
    classInfo->AddProperty<PropertyFloat, &P::GetDamping, &P::SetDamping>("damping:0.0,0.1");
    classInfo->AddProperty<PropertyFloat, &P::GetAngularDamping, &P::SetAngularDamping>(
        "angulardamping:0.0,0.1");
    classInfo->AddProperty<PropertyInt, &P::GetIterations, &P::SetIterations>("iterations");
    classInfo
        ->AddProperty("witness", std::make_unique<PropertyEntity>(nodeType),
                      MakeGetter<&P::GetWitness>(), MakeSetter<&P::SetWitness>())
        ->SetDefault(&none);
    classInfo->AddProperty<PropertyResource, &P::GetContactDbName, &P::SetContactDbName>(
        "contact_db");
    classInfo->AddProperty<PropertyResource, &P::GetMaterialDbName, &P::SetMaterialDbName>(
        "material_db");
    const int32_t spaceType = ClassTypeBase + CollisionSpace::RegisterClass()->GetClassNumber();
    classInfo
        ->AddProperty("collisionspace", std::make_unique<PropertyEntity>(spaceType),
                      MakeGetter<&P::GetCollisionSpaceId>(), MakeSetter<&P::SetCollisionSpaceId>())
        ->SetDefault(&none);
    classInfo->AddProperty<PropertyEnum, &P::GetMethod, &P::SetMethod>(
        "method:OFF,LCP,LCP_SINGLESTEP,ITERATIVE");
    classInfo->AddProperty<PropertyEnum, &P::GetFrictionModel, &P::SetFrictionModel>(
        "frictionmodel:SIMPLE_PYRAMID,SIMPLE_CONE,ADVANCED_PYRAMID,ADVANCED_CONE");
    classInfo->AddProperty<PropertyFloat, &P::GetErp, &P::SetErp>("erp:0.0,1.0");
    classInfo->AddProperty<PropertyFloat, &P::GetCfm, &P::SetCfm>("cfm:0.0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetIdleThreshold, &P::SetIdleThreshold>(
        "idlethreshold:0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetIdleTime, &P::SetIdleTime>("idletime:0,0.1");
    classInfo->AddProperty<PropertyFloat, &P::GetContactMinDepth, &P::SetContactMinDepth>(
        "contactmindepth:0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetContactMaxVel, &P::SetContactMaxVel>(
        "contactmaxvel:0,10.0");

    classInfo->AddMethod("nodedeletion", "(entity)", BindSignalHandler<&P::OnNodeDeletion>(),
                         MethodClassSignal);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&P::ScriptGetStepCounter>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&P::ScriptGetStatistic>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&P::ScriptClearEvents>(),
                         MethodScriptCallable | MethodNoResult);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&P::ScriptRequestStep>(),
                         MethodScriptCallable | MethodNoResult);
    for (int32_t method = PhysicsOff; method <= PhysicsIterative; ++method) {
        RegisterNamedConstant(NextShortName(), method);
    }
    RegisterToolbarButton(7, 0, true, "Physics pause", "Game", &P::HandleToolbar);
    RegisterToolbarButton(8, 1, false, "Physics step", "Game", &P::HandleToolbar);
    BuildEditorToolbar();
    return classInfo;
}

// The world step ------------------------------------------------------------------------------

void PhysicsMaster::Update(float frameTime, int) {
    // Handlers run inside a step may delete this world.
    const uint64_t serial = GetSerial();
    auto alive = [&] { return Entity::FindBySerial(serial) == this; };
    const float h = GetUsableTimestep();
    switch (method_) {
    case PhysicsOff:
        CollideOnly(false);
        break;
    case PhysicsLcp:
    case PhysicsIterative: {
        const int32_t method = method_;
        const float period = slowMotion_ * h;
        accumulator_ += frameTime;
        // Without a usable step length the loop could never end.
        if (!(period > 0.0f) || !std::isfinite(period) || !std::isfinite(accumulator_)) {
            accumulator_ = 0.0f;
            break;
        }
        while (accumulator_ > period) {
            const float rest = accumulator_ - period;
            if (rest == accumulator_) {
                accumulator_ = 0.0f; // too far behind for one step to count
                break;
            }
            accumulator_ = rest;
            Step(h);
            if (!alive()) {
                return;
            }
            if (method == PhysicsLcp && method_ != PhysicsLcp) {
                break;
            }
        }
        break;
    }
    case PhysicsLcpSingleStep:
        accumulator_ = 0.0f;
        if (stepRequested_) {
            Step(h);
        } else {
            CollideOnly(true);
        }
        break;
    default:
        break;
    }
    if (alive()) {
        stepRequested_ = false;
    }
}

void PhysicsMaster::CollideOnly(bool dispatch) {
    pairCount_ = 0;
    ReleaseContacts();
    CollideSpaces(false);
    ReleaseContacts();
    const uint64_t serial = GetSerial();
    if (dispatch) {
        events_.Dispatch();
    }
    if (Entity::FindBySerial(serial) == this) {
        events_.Scan();
    }
}

void PhysicsMaster::Step(float h) {
    if (!(h > 0.0f) || !std::isfinite(h)) {
        return; // nothing may divide by it
    }
    ++stepCounter_;
    worldTime_ += h;
    const uint64_t serial = GetSerial();
    SendSignal("integrate", &h, false);
    if (Entity::FindBySerial(serial) != this) {
        return;
    }
    ApplyDamping();
    // An absurd body would spoil its contacts and its whole island's solve.
    for (RigidBody* body = bodies_; body; body = body->nextInWorld_) {
        body->ResetIfAbsurd(h);
    }
    pairCount_ = 0;
    contactMemory_.Keep(contactPool_.data(), contactsInUse_);
    // Pairs that touched no longer have stopped resting on each other.
    std::erase_if(heavyOnLight_,
                  [this](const auto& entry) { return entry.second.lastStep + 1 != stepCounter_; });
    ReleaseContacts();
    using Clock = std::chrono::steady_clock;
    const bool timing = phaseTiming_;
    const Clock::time_point collideStart = timing ? Clock::now() : Clock::time_point();
    phaseTimes_.contacts = 0.0;
    phaseTimes_.solve = 0.0;
    solvingContacts_ = true;
    CollideSpaces(true);
    const Clock::time_point solveStart = timing ? Clock::now() : Clock::time_point();
    if (method_ == PhysicsLcp || method_ == PhysicsLcpSingleStep || method_ == PhysicsIterative) {
        StepIslands(h);
    }
    solvingContacts_ = false;
    SummariseFailedIslands();
    SummariseIslandsOverBound();
    if (timing) {
        const std::chrono::duration<double> collide = solveStart - collideStart;
        const std::chrono::duration<double> islands = Clock::now() - solveStart;
        phaseTimes_.collision = collide.count() - phaseTimes_.contacts;
        phaseTimes_.islands = islands.count() - phaseTimes_.solve;
    }
    events_.Dispatch();
    if (Entity::FindBySerial(serial) == this) {
        events_.Scan();
    }
}

void PhysicsMaster::ApplyDamping() {
    for (RigidBody* body = bodies_; body; body = body->nextInWorld_) {
        if (!body->IsMovable()) {
            continue;
        }
        const float linear = std::min(1.0f, damping_ + body->GetDrag());
        float angular = std::min(1.0f, angularDamping_ + body->GetAngularDrag());
        if (body->GetAngularVelocity().LengthSquared() > 10000.0f) {
            angular = std::max(angular, 0.5f);
        }
        body->ApplyLinearDamping(linear);
        body->ApplyAngularDamping(angular);
    }
}

void PhysicsMaster::CollideSpaces(bool wholeChain) {
    auto* first = dynamic_cast<CollisionSpace*>(collisionSpace_.GetTarget());
    if (!first) {
        return;
    }
    auto next = [wholeChain](CollisionSpace* space) -> CollisionSpace* {
        return wholeChain ? dynamic_cast<CollisionSpace*>(space->GetNext()) : nullptr;
    };
    for (CollisionSpace* space = first; space; space = next(space)) {
        space->Prepare();
    }
    PhysicsMaster* outer = collidingWorld;
    collidingWorld = this;
    for (CollisionSpace* space = first; space; space = next(space)) {
        space->Collide(nullptr, &PhysicsMaster::OnCandidatePair);
    }
    collidingWorld = outer;
}

void PhysicsMaster::ReleaseContacts() {
    // Newest first: each joint then heads both bodies' lists, so unlinking it costs no walk.
    for (int32_t i = contactsInUse_; i-- > 0;) {
        contactPool_[i]->Release();
    }
    contactsInUse_ = 0;
}

ContactJoint& PhysicsMaster::NextContactJoint() {
    if (static_cast<size_t>(contactsInUse_) == contactPool_.size()) {
        auto joint = std::make_unique<ContactJoint>();
        joint->Release(); // a new joint joins the current world, which need not be this one
        contactPool_.push_back(std::move(joint));
    }
    ContactJoint& joint = *contactPool_[contactsInUse_++];
    joint.Prepare(this);
    return joint;
}

void PhysicsMaster::OnCandidatePair(void* data, CollisionVolume& a, CollisionVolume& b) {
    PhysicsMaster* world = collidingWorld;
    if (!world) {
        return;
    }
    if (!world->phaseTiming_) {
        world->CollideVolumes(static_cast<CollisionPair*>(data), a, b);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    world->CollideVolumes(static_cast<CollisionPair*>(data), a, b);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    world->phaseTimes_.contacts += spent.count();
}

namespace {

RigidBody* BodyOf(const CollisionVolume& volume) {
    CollisionBody* body = volume.GetBody();
    if (!body) {
        return nullptr;
    }
    return ExactOrDerivedCast<RigidBody>(body->GetBodyEntity());
}

uint32_t ResolvedId(const EntityRef& reference) {
    return reference.GetTarget() ? reference.GetId() : 0;
}

uint32_t WitnessOf(const CollisionVolume& volume) {
    EntityRef reference;
    reference.InitFromId(volume.GetWitness().value);
    return ResolvedId(reference);
}

// A table value read as a number: typed words by their field type, texts parsed without the
// locale. False for a missing record or field or a text that holds no number.
bool ReadNumber(DataBaseResource& table, int32_t record, int32_t field, float& out) {
    if (record < 0 || static_cast<uint32_t>(record) >= table.GetRecordCount()) {
        return false;
    }
    if (table.IsTextMode()) {
        const std::string text(table.GetStringValue(record, field));
        const char* end = nullptr;
        const double value = ParseDouble(text.c_str(), &end);
        if (end == text.c_str()) {
            return false;
        }
        out = static_cast<float>(value);
        return true;
    }
    const uint32_t* word = table.GetValuePointer(record, field);
    if (!word) {
        return false;
    }
    switch (table.GetFieldType(static_cast<uint32_t>(field))) {
    case TypeFloat:
        out = WordToFloat(*word);
        return true;
    case TypeInt:
        out = static_cast<float>(static_cast<int32_t>(*word));
        return true;
    default:
        return false;
    }
}

// A white cross on the point and a line to where the push-out ends.
void DrawContactMarker(const CollisionContact& contact) {
    DynamicMesh& lines = GetDebugLineMesh();
    const float arm = 0.02f;
    const Float3 p = contact.position;
    for (const Float3 axis : {Float3(arm, 0.0f, 0.0f), Float3(0.0f, arm, 0.0f),
                              Float3(0.0f, 0.0f, arm)}) {
        lines.AddLine(p - axis, p + axis, 0xFFFFFFFF);
    }
    lines.AddLine(p, p + contact.normal * contact.depth, 0xFF80FF80);
}

void PushFloat(ContactEvents::Event& event, float value) {
    event.words[event.wordCount++] = FloatToWord(value);
}

void PushFloat3(ContactEvents::Event& event, Float3 value) {
    PushFloat(event, value.x);
    PushFloat(event, value.y);
    PushFloat(event, value.z);
}

} // namespace

void PhysicsMaster::LookUpSurface(const CollisionVolume& a, const CollisionVolume& b, float& mu,
                                  float& softCfm, float& minDepth) const {
    if (contactDb_) {
        const int32_t record = contactDb_->CombineKeys(a.GetMaterialId(), b.GetMaterialId());
        if (record >= 0 && static_cast<uint32_t>(record) < contactDb_->GetRecordCount()) {
            ReadNumber(*contactDb_, record, 2, mu);
            if (ReadNumber(*contactDb_, record, 5, softCfm)) {
                softCfm = std::max(softCfm, MinimumSoftCfm);
            }
            ReadNumber(*contactDb_, record, 7, minDepth);
            return;
        }
    }
    if (materialDb_) {
        float first = 0.0f;
        float second = 0.0f;
        if (ReadNumber(*materialDb_, materialDb_->CombineKeys(a.GetMaterialId(), 0), 2, first) &&
            ReadNumber(*materialDb_, materialDb_->CombineKeys(b.GetMaterialId(), 0), 2, second)) {
            mu = (first + second) * 0.5f;
        }
    }
}

void PhysicsMaster::CollideVolumes(CollisionPair* record, CollisionVolume& a, CollisionVolume& b) {
    if (record) {
        record->touching = false;
    }
    ++pairCount_;
    RigidBody* bodyA = BodyOf(a);
    RigidBody* bodyB = BodyOf(b);
    if (bodyA && bodyB && Joint::AreConnected(bodyA, bodyB, JointContact)) {
        return;
    }
    const uint32_t flagsA = a.GetCollFlags();
    const uint32_t flagsB = b.GetCollFlags();
    const int probeCount = ((flagsA & CollProbe) ? 1 : 0) + ((flagsB & CollProbe) ? 1 : 0);
    if (!bodyA && !bodyB && probeCount == 0) {
        return;
    }
    // Reused: a fresh array would clear all its records for every pair.
    std::span<CollisionContact> contacts(contactBuffer_);
    const int count = CollidePair(a, b, MaxContactsPerPair, contacts);
    if (count <= 0) {
        return;
    }
    if (record) {
        // As the narrow phase wrote it: scripts read the position negated.
        record->touching = true;
        record->contactPosition = contacts[0].position;
        record->contactNormal = contacts[0].normal;
        record->contactDepth = contacts[0].depth;
        record->touchStep = stepCounter_;
    }
    if ((flagsA & CollTrigger) && (flagsB & CollTrigger)) {
        ContactEvents::Event& event = events_.Queue(ContactEvents::Trig, a, b);
        event.recipients[0] = WitnessOf(a);
        event.recipients[1] = WitnessOf(b);
        events_.Touch(a, b);
    }
    const uint32_t solidity = CollSolid | CollPhysical;
    const bool makeJoints = (flagsA & solidity) && (flagsB & solidity) && probeCount == 0 &&
                            !((flagsA | flagsB) & CollLogical);
    float mu = 1.0f;
    float softCfm = MinimumSoftCfm;
    float minDepth = contactMinDepth_;
    if (makeJoints) {
        LookUpSurface(a, b, mu, softCfm, minDepth);
    }
    const ContactMemory::Run lastContacts =
        makeJoints ? contactMemory_.Find(a.GetSerial(), b.GetSerial()) : ContactMemory::Run();
    if (makeJoints && bodyA && bodyB) {
        NoteHeavyOnLight(*bodyA, *bodyB, contacts[0], lastContacts.count > 0);
    }
    const Float3 surfaceMotion = b.GetSurfaceSpeed() - a.GetSurfaceSpeed();
    const bool moving =
        a.GetSurfaceSpeed().LengthSquared() != 0.0f || b.GetSurfaceSpeed().LengthSquared() != 0.0f;
    // A contact slides once it slips faster than gravity gives in a step: the jitter of a
    // resting stack, or a slip a pyramid's weaker facet lets through, stays below it.
    const float slidingSpeed = std::max(MinSlidingSpeed, std::fabs(gravity_) * GetUsableTimestep());
    Float3 pointSum;
    float depthSum = 0.0f;
    float weightSum = 0.0f;
    for (int i = 0; i < count; ++i) {
        CollisionContact& contact = contacts[i];
        contact.normal = contact.normal * -1.0f;
        contact.position = contact.position * -1.0f;
        if (makeJoints) {
            // Filled in place: a copy built on the stack was stored piecewise and then reloaded
            // whole, which stalls.
            ContactJoint& joint = NextContactJoint();
            SurfaceParameters& surface = joint.surface;
            surface = SurfaceParameters();
            surface.mode = ContactSoftErp | ContactSoftCfm;
            if (frictionModel_ & FrictionScaledByNormal) {
                surface.mode |= ContactFrictionScaled1 | ContactFrictionScaled2;
            }
            surface.mu = mu;
            surface.softErp = ContactErrorReduction;
            surface.softCfm = softCfm;
            surface.minDepth = minDepth;
            if (frictionModel_ & FrictionTurned) {
                surface.mode |= ContactFrictionDirection;
                const float angle = RandomRange(0.0f, FrictionTurnRange);
                const Float3 first(std::cos(angle), 0.0f, std::sin(angle));
                const Float3 second(std::sin(angle), 0.0f, -std::cos(angle));
                const Float3 axis =
                    std::fabs(first.Dot(contact.normal)) >= NearlyParallel ? second : first;
                surface.frictionDirection = axis.Cross(contact.normal).NormalizedOrSelf();
                // A pyramid turned at random for each contact resists a slide by up to 1.41
                // times mu (4/pi on average), pushes it aside toward its corners and twists the
                // body with its unlike turns. A sliding contact is a cone's instead: its first
                // row lies along the slip and takes mu times the normal force against it, and
                // the second takes nothing, so that the slide turns as the forces on the body
                // turn it (holding it would keep the slide's direction and the body's spin). The
                // angle is drawn all the same, so that resting contacts turn as they always did.
                const Float3 slip =
                    (bodyA ? bodyA->GetPointVelocity(contact.position) : Float3()) -
                    (bodyB ? bodyB->GetPointVelocity(contact.position) : Float3());
                const Float3 slide = slip - contact.normal * slip.Dot(contact.normal);
                const bool aMoves = bodyA && bodyA->IsMovable();
                const bool bMoves = bodyB && bodyB->IsMovable();
                if (slide.LengthSquared() > slidingSpeed * slidingSpeed) {
                    surface.frictionDirection = slide.NormalizedOrSelf();
                    surface.mode |= ContactMu2;
                    surface.mu2 = 0.0f;
                } else if (aMoves != bMoves) {
                    // On a tilted surface that does not move, a slow contact's pyramid lies
                    // along where the slip and gravity's pull down the surface take it: turned
                    // at random, its rows held unlike shares of that pull and let a body start
                    // its slide aside, which a capsule lying down a slope kept as a roll (up to
                    // 1.8 cm a metre, 5 under the sweeps, and half a metre near mu's limit).
                    const Float3 pull = Float3(0.0f, aMoves ? -gravity_ : gravity_, 0.0f) *
                                        GetUsableTimestep();
                    const Float3 down = pull - contact.normal * pull.Dot(contact.normal);
                    if (down.LengthSquared() > SteepEnough * SteepEnough * pull.LengthSquared()) {
                        surface.frictionDirection = (slide + down).NormalizedOrSelf();
                    }
                }
            }
            // Without ContactFrictionDirection the rows take both directions from the normal,
            // so the pyramid models store none (a square root and two divisions per contact).
            if (moving) {
                surface.mode |= ContactMotion;
                surface.motion = surfaceMotion;
            }
            if (GetRenderFlags() & RenderGizmo) {
                DrawContactMarker(contact);
            }
            joint.position = contact.position;
            joint.normal = contact.normal;
            joint.depth = contact.depth;
            joint.SetVolumes(&a, &b);
            joint.Attach(bodyA, bodyB);
            contactMemory_.Recall(lastContacts, joint);
        }
        const float weight = std::max(contact.depth, 1e-20f);
        pointSum = pointSum + contact.position * weight;
        depthSum += weight * contact.depth;
        weightSum += weight;
    }
    float area = 0.0f;
    for (int i = 2; i < count; ++i) {
        const Float3 edge1 = contacts[i - 1].position - contacts[0].position;
        const Float3 edge2 = contacts[i].position - contacts[0].position;
        area += 0.5f * edge1.Cross(edge2).Length();
    }
    const Float3 meanPoint = pointSum * (1.0f / weightSum);
    const float meanDepth = depthSum / weightSum;
    const Float3 normal = contacts[0].normal;
    if (probeCount > 0) {
        const bool probeIsA = (flagsA & CollProbe) != 0;
        CollisionVolume& probe = probeIsA ? a : b;
        CollisionVolume& other = probeIsA ? b : a;
        ContactEvents::Event& event = events_.Queue(ContactEvents::Probe, probe, other);
        event.recipients[0] = WitnessOf(probe);
        PushFloat(event, meanDepth);
        PushFloat3(event, meanPoint);
        PushFloat3(event, probeIsA ? normal * -1.0f : normal);
        events_.Touch(a, b);
        return;
    }
    const uint32_t worldWitness = ResolvedId(witness_);
    uint32_t volumeWitness = WitnessOf(a);
    if (!volumeWitness) {
        volumeWitness = WitnessOf(b);
    }
    if (!worldWitness && !volumeWitness) {
        return;
    }
    const Float3 velocityA = bodyA ? bodyA->GetPointVelocity(meanPoint) : Float3();
    const Float3 velocityB = bodyB ? bodyB->GetPointVelocity(meanPoint) : Float3();
    const Float3 v = velocityA - velocityB;
    const float normalSpeed = v.Dot(normal);
    const float tangentialSpeed = (v - normal * normalSpeed).Length();
    ContactEvents::Event& event = events_.Queue(ContactEvents::Collision, a, b);
    event.recipients[0] = worldWitness;
    event.recipients[1] = volumeWitness;
    PushFloat3(event, meanPoint);
    PushFloat3(event, normal);
    PushFloat(event, normalSpeed);
    PushFloat(event, tangentialSpeed);
    PushFloat(event, area);
}

void PhysicsMaster::StepIslands(float h) {
    if (bodyCount_ <= 0) {
        return;
    }
    statistic_ = 0;
    if (GetIdleThresholdSquared() > 0.0f) {
        for (RigidBody* body = bodies_; body; body = body->nextInWorld_) {
            body->AutoIdle(h);
        }
    }
    auto takesPart = [](const RigidBody& body) {
        return body.IsMovable() && body.IsFullyEnabled();
    };
    for (RigidBody* body = bodies_; body; body = body->nextInWorld_) {
        body->SetIslandTag(0);
        if (body->HasBodyFlags(BodyGravity) && takesPart(*body) && !body->HasBodyFlags(BodyIdle)) {
            body->RefreshMass();
            body->AddForce(Float3(0.0f, -gravity_ * body->GetMass(), 0.0f));
        }
    }
    for (Joint* joint = joints_; joint; joint = joint->nextInWorld_) {
        joint->SetIslandTag(0);
    }
    islandBodies_.clear();
    islandJoints_.clear();
    islandSpans_.clear();
    // Every island is found before any is stepped: they share the budget of parts.
    for (RigidBody* seed = bodies_; seed; seed = seed->nextInWorld_) {
        if (seed->GetIslandTag() || seed->HasBodyFlags(BodyIdle) || !takesPart(*seed)) {
            continue;
        }
        IslandSpan span;
        span.firstBody = static_cast<int32_t>(islandBodies_.size());
        span.firstJoint = static_cast<int32_t>(islandJoints_.size());
        islandStack_.clear();
        // A body is tagged when pushed, so one reached by several joints joins once.
        seed->SetIslandTag(1);
        islandStack_.push_back(seed);
        while (!islandStack_.empty()) {
            RigidBody* body = islandStack_.back();
            islandStack_.pop_back();
            islandBodies_.push_back(body);
            for (JointNode* node = body->GetJointList(); node; node = node->next) {
                Joint* joint = node->joint;
                if (joint->GetIslandTag()) {
                    continue;
                }
                joint->SetIslandTag(1);
                islandJoints_.push_back(joint);
                RigidBody* other = node->body;
                if (other && !other->GetIslandTag() && takesPart(*other)) {
                    other->SetIslandTag(1);
                    islandStack_.push_back(other);
                }
            }
        }
        span.bodyCount = static_cast<int32_t>(islandBodies_.size()) - span.firstBody;
        span.jointCount = static_cast<int32_t>(islandJoints_.size()) - span.firstJoint;
        islandSpans_.push_back(span);
    }
    PlanSubsteps();
    StepWalkedIslands();
    ReportCutSubsteps();
    for (RigidBody* body = bodies_; body; body = body->nextInWorld_) {
        if (body->GetState() == BodyKinematic && body->IsFullyEnabled()) {
            body->IntegratePose(h);
        }
        if (!body->GetIslandTag()) {
            // Forces on a body no island stepped would otherwise fire all at once on waking.
            body->SetForce(Float3());
            body->SetTorque(Float3());
        }
    }
}

void PhysicsMaster::PlanSubsteps() {
    substepRows_.clear();
    substepLastParts_.clear();
    for (const IslandSpan& span : islandSpans_) {
        Joint* const* joints = islandJoints_.data() + span.firstJoint;
        if (WeighsAnyJoint(joints, span.jointCount)) {
            substepRows_.push_back(CountIslandRows(joints, span.jointCount));
            substepLastParts_.push_back(LastSubsteps(joints, span.jointCount));
        }
    }
    substeps_.Plan(substepRows_.data(), substepLastParts_.data(),
                   static_cast<int32_t>(substepRows_.size()));
}

void PhysicsMaster::ReportCutSubsteps() {
    const std::vector<uint64_t>& cut = substeps_.GetCutIslands();
    if (!cut.empty()) {
        if (!reportedCutSubsteps_) {
            reportedCutSubsteps_ = true;
            lastCutNote_ = worldTime_;
            LogMessage("PhysicsMaster '%s': the islands' joints asked for more parts of a step "
                       "than the world takes (%lld rows' worth); %lld islands were stepped in "
                       "fewer parts, %lld parts short in all",
                       GetName().c_str(), static_cast<long long>(substeps_.GetBound()),
                       static_cast<long long>(cut.size()),
                       static_cast<long long>(substeps_.GetMissingParts()));
        } else {
            cutSubstepIslands_.insert(cutSubstepIslands_.end(), cut.begin(), cut.end());
            missingSubsteps_ += substeps_.GetMissingParts();
        }
        substeps_.TakeCuts();
    }
    if (cutSubstepIslands_.empty() || worldTime_ - lastCutNote_ < FailureNoteInterval) {
        return;
    }
    const size_t steps = cutSubstepIslands_.size();
    std::sort(cutSubstepIslands_.begin(), cutSubstepIslands_.end());
    const auto islands = std::unique(cutSubstepIslands_.begin(), cutSubstepIslands_.end()) -
                         cutSubstepIslands_.begin();
    LogMessage("PhysicsMaster '%s': %lld more island steps were cut into fewer parts than their "
               "joints asked for in the last %.3g s, in %lld islands, %lld parts short in all",
               GetName().c_str(), static_cast<long long>(steps), worldTime_ - lastCutNote_,
               static_cast<long long>(islands), static_cast<long long>(missingSubsteps_));
    lastCutNote_ = worldTime_;
    cutSubstepIslands_.clear();
    missingSubsteps_ = 0;
}

void PhysicsMaster::StepWalkedIslands() {
    if (islandSpans_.empty()) {
        return;
    }
    // Names are compared only once a step has failed: nearly every island never does.
    const auto noteBattery = [this](const IslandSpan* spans, size_t count) {
        const auto first = islandBodies_.begin() + spans->firstBody;
        const auto end =
            first + (spans[count - 1].firstBody + spans[count - 1].bodyCount - spans->firstBody);
        if (LCPStepFailures != 0 && std::any_of(first, end, [](const RigidBody* body) {
                return body->GetName() == "Battery";
            })) {
            statistic_ = LCPStepFailures;
        }
    };
    const auto solveStart = phaseTiming_ ? std::chrono::steady_clock::now()
                                         : std::chrono::steady_clock::time_point();
    // The step's islands are one round of the scratch arena, which sizes itself by its rounds.
    ScratchArena::Scope round(scratch_);
    if (method_ == PhysicsIterative) {
        // Bodies resting on each other in a loop are stepped exactly, within the exact step's
        // bound: sweeps carry a force about a fifth of a body a sweep, and left to them a pyramid,
        // a wall of bricks or a tower of crossed blocks trembled at 5 to 20 cm/s (40 sweeps did not
        // still a tower of 54 blocks). Past the bound such an island is swept as any other.
        sweptSpans_.clear();
        for (const IslandSpan& span : islandSpans_) {
            if (RestsInALoop(span)) {
                StepIslandLCP(islandBodies_.data() + span.firstBody, span.bodyCount,
                              islandJoints_.data() + span.firstJoint, span.jointCount, timestep_,
                              cfm_, erp_, scratch_, &substeps_, false);
                noteBattery(&span, 1);
            } else {
                sweptSpans_.push_back(span);
            }
        }
        // The iterative solve takes a few islands at once and solves their rows side by side
        // (more would no longer fit the processor's nearest cache).
        constexpr size_t IslandsPerSolve = 4;
        for (size_t group = 0; group < sweptSpans_.size(); group += IslandsPerSolve) {
            const size_t count = std::min(IslandsPerSolve, sweptSpans_.size() - group);
            const IslandSpan* spans = sweptSpans_.data() + group;
            StepIslandsIterative(islandBodies_.data(), islandJoints_.data(), spans,
                                 static_cast<int32_t>(count), timestep_, cfm_, erp_, iterations_,
                                 OverRelaxation, scratch_, &substeps_);
            noteBattery(spans, count);
        }
    } else {
        for (const IslandSpan& span : islandSpans_) {
            StepIslandForLcp(span);
            noteBattery(&span, 1);
        }
    }
    if (phaseTiming_) {
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - solveStart;
        phaseTimes_.solve += spent.count();
    }
    for (RigidBody* body : islandBodies_) {
        body->SetIslandTag(1);
        body->SetIdle(false);
    }
    for (Joint* joint : islandJoints_) {
        joint->SetIslandTag(1);
    }
    islandBodies_.clear();
    islandJoints_.clear();
    islandSpans_.clear();
}

bool PhysicsMaster::RestsInALoop(const IslandSpan& span) {
    RigidBody* const* bodies = islandBodies_.data() + span.firstBody;
    Joint* const* joints = islandJoints_.data() + span.firstJoint;
    const int32_t nb = span.bodyCount;
    if (nb < 3) {
        return false;
    }
    // An island the exact step did not take last step is taken only once its bodies have come
    // near rest: the contacts of boxes tumbling onto a heap change every step, and solving them
    // exactly there cost a tenth of the step and held nothing the sweeps did not. One it took
    // stays with it, however fast a body in it moves.
    const uint32_t step = GetStepCounter();
    const bool wasExact = std::any_of(bodies, bodies + nb, [step](const RigidBody* body) {
        return body->GetExactSolveStep() + 1 >= step;
    });
    if (!wasExact && !ComingToRest(bodies, nb)) {
        return false;
    }
    if (!FitsExactStep(CountIslandRows(joints, span.jointCount), nb)) {
        return false;
    }
    for (int32_t b = 0; b < nb; ++b) {
        bodies[b]->SetIslandTag(b);
    }
    // The pairs of bodies a contact links, joined as sets: a pair whose bodies a set already
    // holds closes a loop, unless it is a pair already joined (another contact of the same two
    // bodies). The joined pairs are kept in a table open at twice their most.
    ScratchArena::Scope scope(scratch_);
    size_t capacity = 16;
    while (capacity < 2 * static_cast<size_t>(std::max(span.jointCount, 1))) {
        capacity *= 2;
    }
    uint64_t* joined = scratch_.Take<uint64_t>(capacity);
    constexpr uint64_t Empty = ~uint64_t{0};
    std::fill(joined, joined + capacity, Empty);
    int32_t* root = scratch_.Take<int32_t>(static_cast<size_t>(nb));
    for (int32_t b = 0; b < nb; ++b) {
        root[b] = b;
    }
    for (int32_t i = 0; i < span.jointCount; ++i) {
        const Joint& joint = *joints[i];
        const RigidBody* first = joint.GetBody(0);
        const RigidBody* second = joint.GetBody(1);
        if (joint.GetType() != JointContact || !InIsland(first, bodies, nb) ||
            !InIsland(second, bodies, nb)) {
            continue;
        }
        const auto a = static_cast<uint64_t>(first->GetIslandTag());
        const auto b = static_cast<uint64_t>(second->GetIslandTag());
        const uint64_t pair = std::min(a, b) << 32 | std::max(a, b);
        size_t at = static_cast<size_t>((pair * 0x9E3779B97F4A7C15ull) >> 32) & (capacity - 1);
        while (joined[at] != Empty && joined[at] != pair) {
            at = (at + 1) & (capacity - 1);
        }
        if (joined[at] == pair) {
            continue;
        }
        const int32_t setA = SetRoot(root, static_cast<int32_t>(a));
        const int32_t setB = SetRoot(root, static_cast<int32_t>(b));
        if (setA == setB) {
            return true;
        }
        root[setA] = setB;
        joined[at] = pair;
    }
    return false;
}

void PhysicsMaster::StepIslandForLcp(const IslandSpan& span) {
    RigidBody* const* bodies = islandBodies_.data() + span.firstBody;
    Joint* const* joints = islandJoints_.data() + span.firstJoint;
    const int64_t rows = CountIslandRows(joints, span.jointCount);
    if (FitsExactStep(rows, span.bodyCount)) {
        StepIslandLCP(bodies, span.bodyCount, joints, span.jointCount, timestep_, cfm_, erp_,
                      scratch_, &substeps_);
        return;
    }
    if (!reportedLargeIsland_) {
        reportedLargeIsland_ = true;
        LogMessage("PhysicsMaster '%s': an island of %d bodies and %lld constraint rows is larger "
                   "than the exact step takes (%d rows, or %d bodies); such islands are stepped "
                   "iteratively, with %d sweeps",
                   GetName().c_str(), span.bodyCount, static_cast<long long>(rows), MaxDenseRows,
                   MaxBodySpaceBodies, iterations_);
    }
    StepIslandIterative(bodies, span.bodyCount, joints, span.jointCount, timestep_, cfm_, erp_,
                        iterations_, OverRelaxation, scratch_, &substeps_);
}

} // namespace quarn
