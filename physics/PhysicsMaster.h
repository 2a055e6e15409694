#pragma once

#include "collision/CollisionContact.h"
#include "collision/CollisionWorld.h"
#include "core/object/EntityRef.h"
#include "physics/ContactEvents.h"
#include "physics/ContactMemory.h"
#include "physics/IslandStepIterative.h"
#include "physics/IslandSubsteps.h"
#include "physics/ScratchArena.h"
#include "render/RenderObject.h"

#include <cstdint>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace quarn {

class CollisionSpace;
class CollisionVolume;
class ContactJoint;
class DataBaseResource;
class Joint;
struct CollisionPair;
class Node;
class RigidBody;

// Values of the "method" property (stored in scene files).
enum PhysicsMethod : int32_t {
    PhysicsOff = 0, // collision only
    PhysicsLcp = 1,
    PhysicsLcpSingleStep = 2, // paused; one step per request
    PhysicsIterative = 3,
};

// The node that owns one physics world: its bodies and joints, the world parameters and the
// fixed-step clock. The first one made is the current world, which bodies and joints join.
class PhysicsMaster : public RenderObject, public CollisionWorld {
public:
    PhysicsMaster();
    ~PhysicsMaster() override;

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 2; }
    const char* GetInputName(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }
    // With the gizmo flag: the pair and contact counters as screen text.
    int32_t Render() override;
    // Turns the frame time into whole steps as the method says.
    void Update(float frameTime, int mode) override;
    // One world step of length h, counted: "integrate", damping, contacts, islands, events.
    void Step(float h);

    static PhysicsMaster* GetCurrentWorld();

    // CollisionWorld: the first space of the chain whose "spacenum" is the number.
    CollisionSpace* FindCollisionSpace(int32_t number) override;
    uint32_t GetStepCounter() const override { return stepCounter_; }

    void AddBody(RigidBody* body);
    void RemoveBody(RigidBody* body);
    void AddJoint(Joint* joint);
    void RemoveJoint(Joint* joint);
    RigidBody* GetFirstBody() const { return bodies_; }
    int32_t GetBodyCount() const { return bodyCount_; }
    Joint* GetFirstJoint() const { return joints_; }
    int32_t GetJointCount() const { return jointCount_; }

    // The impulse spread over one step; zero without a usable timestep.
    Float3 ImpulseToForce(Float3 impulse) const;
    // The timestep when it is a positive finite number, else 0: nothing may divide by it then.
    float GetUsableTimestep() const;
    // An island whose solve failed (`first` its first body): stepped iteratively instead, or
    // left with its motion when that failed too. The first is logged with its size, the later
    // ones summed up at most once a second of world time (repeatable, unlike the clock's).
    void ReportFailedIsland(const RigidBody& first, int32_t bodies, int64_t rows,
                            bool steppedIteratively);
    // An island whose exact solve would have gone past its bound of work, stepped iteratively
    // instead: logged and summed up as failed ones are.
    void ReportIslandOverBound(const RigidBody& first, int32_t bodies, int64_t rows);
    // From the collisions to the end of the islands: the contact joints are the solver's then,
    // and the moves it makes do not leave them.
    bool IsSolvingContacts() const { return solvingContacts_; }

    // The sweeps of the iterative solve: a pile of a thousand boxes takes about 0.2 s a step at
    // this many, and single precision stops gaining long before.
    static constexpr int32_t MaxIterations = 1000;
    static constexpr int32_t DefaultIterations = 5;
    // Each iterative sweep overshoots its correction by this much: stiff contact systems such
    // as stacks converge in fewer sweeps than with plain Gauss-Seidel, and the sweeps stay well
    // short of 2, where they would diverge.
    static constexpr float OverRelaxation = 1.3f;

    // The float setters refuse a value that is not a finite number: the old one stays, and the
    // log says so.
    float GetTimestep() const { return timestep_; }
    void SetTimestep(float timestep) { SetFinite(timestep_, timestep, "timestep"); }
    float GetSlowMotion() const { return slowMotion_; }
    // Below 1 is stored as 1.
    void SetSlowMotion(float factor);
    float GetGravity() const { return gravity_; }
    void SetGravity(float gravity) { SetFinite(gravity_, gravity, "gravity"); }
    float GetDamping() const { return damping_; }
    void SetDamping(float damping) { SetFinite(damping_, damping, "damping"); }
    float GetAngularDamping() const { return angularDamping_; }
    void SetAngularDamping(float damping) { SetFinite(angularDamping_, damping, "angulardamping"); }
    int32_t GetIterations() const { return iterations_; }
    // Outside 0 to MaxIterations the nearer end is taken, and the log says so.
    void SetIterations(int32_t iterations);
    EntityId GetWitness() const { return {witness_.GetId()}; }
    void SetWitness(EntityId id) { witness_.SetId(id.value); }
    const char* GetContactDbName() const;
    void SetContactDbName(const char* name);
    const char* GetMaterialDbName() const;
    void SetMaterialDbName(const char* name);
    DataBaseResource* GetContactDb() const { return contactDb_; }
    DataBaseResource* GetMaterialDb() const { return materialDb_; }
    EntityId GetCollisionSpaceId() const { return {collisionSpace_.GetId()}; }
    void SetCollisionSpaceId(EntityId id) { collisionSpace_.SetId(id.value); }
    int32_t GetMethod() const { return method_; }
    // Stores the method and has the editor's menu show it.
    void SetMethod(int32_t method);
    int32_t GetFrictionModel() const { return frictionModel_; }
    void SetFrictionModel(int32_t model) { frictionModel_ = model; }
    float GetErp() const { return erp_; }
    void SetErp(float erp) { SetFinite(erp_, erp, "erp"); }
    float GetCfm() const { return cfm_; }
    void SetCfm(float cfm) { SetFinite(cfm_, cfm, "cfm"); }
    // Held squared: the setter squares, the getter takes the root.
    float GetIdleThreshold() const;
    void SetIdleThreshold(float speed);
    float GetIdleThresholdSquared() const { return idleThresholdSquared_; }
    float GetIdleTime() const { return idleTime_; }
    void SetIdleTime(float time) { SetFinite(idleTime_, time, "idletime"); }
    float GetContactMinDepth() const { return contactMinDepth_; }
    void SetContactMinDepth(float depth) { SetFinite(contactMinDepth_, depth, "contactmindepth"); }
    float GetContactMaxVel() const { return contactMaxVel_; }
    void SetContactMaxVel(float speed) { SetFinite(contactMaxVel_, speed, "contactmaxvel"); }
    int32_t GetStatistic() const { return statistic_; }
    bool IsStepRequested() const { return stepRequested_; }
    void RequestStep() { stepRequested_ = true; }

    // Seconds the latest step spent in each phase, recorded only while phase timing is on (it
    // reads the clock around every candidate pair and every island): the spaces' broad phase, the
    // contacts (narrow phase and contact joints), the islands (finding them, gravity and what
    // else the world does around their solve) and the island steps. For benchmarks.
    struct PhaseTimes {
        double collision = 0.0;
        double contacts = 0.0;
        double islands = 0.0;
        double solve = 0.0;
    };
    void SetPhaseTiming(bool on) { phaseTiming_ = on; }
    const PhaseTimes& GetPhaseTimes() const { return phaseTimes_; }

    // Scratch memory of the island steps.
    ScratchArena& GetScratch() { return scratch_; }
    // What the latest step's islands were granted of their parts.
    const SubstepBudget& GetSubstepBudget() const { return substeps_; }
    ContactEvents& GetEvents() { return events_; }
    // Candidate pairs the spaces handed over in the latest collision pass.
    int32_t GetPairCount() const { return pairCount_; }
    // Contact joints made in the latest collision pass, and the pool they came from.
    int32_t GetContactCount() const { return contactsInUse_; }
    size_t GetContactPoolSize() const { return contactPool_.size(); }
    float GetAccumulator() const { return accumulator_; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    void OnNodeDeletion(void* argument);
    // "Physics pause" (value 0) and "Physics step" (value 1), acting on the current world.
    static int32_t HandleToolbar(int32_t value, int32_t action);
    int32_t ScriptGetStepCounter() { return static_cast<int32_t>(stepCounter_); }
    int32_t ScriptGetStatistic() { return statistic_; }
    void ScriptClearEvents() { events_.ClearEvents(); }
    void ScriptRequestStep() { RequestStep(); }
    // Loads or clears a table held by name; "propertychange" goes out when it changed.
    void SetDataBase(DataBaseResource*& held, const char* name);
    // False, with a log line, for a value that is not a finite number.
    bool AcceptsSetting(const char* property, float value, float held) const;
    void SetFinite(float& held, float value, const char* property);

    // Collision only: the first space, contacts released after, then the enter/leave scan.
    void CollideOnly(bool dispatch);
    // Prepare, then Collide, of the first space or of the whole chain.
    void CollideSpaces(bool wholeChain);
    void ReleaseContacts();
    void ApplyDamping();
    // Logs the failed island solves not yet named, once a second has passed since the last
    // line.
    void SummariseFailedIslands();
    void SummariseIslandsOverBound();
    void StepIslands(float h);
    // Shares the step's parts out among the islands walked (IslandSubsteps).
    void PlanSubsteps();
    // Steps the islands walked (islandSpans_), then empties the lists.
    void StepWalkedIslands();
    // Logs the first step whose islands were cut into fewer parts than they asked for, then sums
    // up the later ones at most once a second of world time.
    void ReportCutSubsteps();
    // The exact step, or the iterative one for an island too large for it.
    void StepIslandForLcp(const IslandSpan& span);
    // Whether the island's bodies rest on each other in a loop (contacts link them in a cycle, as
    // in a pyramid or a wall) and the exact step takes it: none moves fast, or it took the
    // island in the step before.
    bool RestsInALoop(const IslandSpan& span);
    static void OnCandidatePair(void* data, CollisionVolume& a, CollisionVolume& b);
    void CollideVolumes(CollisionPair* record, CollisionVolume& a, CollisionVolume& b);
    // Friction, soft cfm and minimum depth of the two volumes' materials.
    void LookUpSurface(const CollisionVolume& a, const CollisionVolume& b, float& mu,
                       float& softCfm, float& minDepth) const;
    ContactJoint& NextContactJoint();
    // Names, once, the first pair of bodies whose heavier one has rested on the lighter for a
    // while with more mass than the exact step carries. `contact` is the narrow phase's
    // first (its normal from a toward b); `touchedBefore`: the pair's contacts were kept from the
    // last step.
    void NoteHeavyOnLight(RigidBody& a, RigidBody& b, const CollisionContact& contact,
                          bool touchedBefore);

    float timestep_ = 0.01f;
    float slowMotion_ = 1.0f;
    float gravity_ = 10.0f;
    float damping_ = 0.002f;
    float angularDamping_ = 0.002f;
    int32_t iterations_ = DefaultIterations;
    EntityRef witness_;
    DataBaseResource* contactDb_ = nullptr;  // one counted reference
    DataBaseResource* materialDb_ = nullptr; // one counted reference
    EntityRef collisionSpace_;
    int32_t method_ = PhysicsLcp;
    int32_t frictionModel_ = 3; // ADVANCED_CONE
    float erp_ = 0.2f;
    float cfm_ = 1e-5f;
    // As set, for reading back: a square that overflows or a sign would not give it again.
    float idleThreshold_ = 0.001f;
    float idleThresholdSquared_ = 1.0000001e-6f;
    float idleTime_ = 0.0f;
    float contactMinDepth_ = 0.01f;
    float contactMaxVel_ = 10.0f;

    RigidBody* bodies_ = nullptr;
    int32_t bodyCount_ = 0;
    Joint* joints_ = nullptr;
    int32_t jointCount_ = 0;
    uint32_t stepCounter_ = 0;
    double worldTime_ = 0.0; // seconds stepped
    int32_t statistic_ = 0;
    bool stepRequested_ = false;
    bool solvingContacts_ = false;
    bool reportedFailedIsland_ = false;
    static constexpr double FailureNoteInterval = 1.0; // seconds of world time
    double lastFailureNote_ = 0.0;
    int64_t unreportedFailures_ = 0;
    int64_t unreportedStandstills_ = 0;
    std::vector<uint64_t> failedIslands_; // first bodies' serials, since the last line
    bool reportedOverBound_ = false;
    double lastOverBoundNote_ = 0.0;
    std::vector<uint64_t> islandsOverBound_; // first bodies' serials, since the last line
    SubstepBudget substeps_;
    std::vector<int64_t> substepRows_; // per island weighed for parts, as planned
    std::vector<int32_t> substepLastParts_;
    bool reportedCutSubsteps_ = false;
    double lastCutNote_ = 0.0;
    std::vector<uint64_t> cutSubstepIslands_; // first bodies' serials, since the last line
    int64_t missingSubsteps_ = 0;
    bool reportedMassRatio_ = false;
    struct RestingRun {
        uint32_t lastStep = 0;  // the last step the pair touched
        bool resting = false;   // since `since`, touching every step
        bool metGently = false; // the run began as they met
        double since = 0.0;     // world time
        float depth = 0.0f;     // the contact's at `lastStep`
    };
    // Only pairs past the carried mass ratio whose contact faces up from the light body, by the
    // bodies' serials (lower first): how long each has rested so, until the first is named.
    std::map<std::pair<uint64_t, uint64_t>, RestingRun> heavyOnLight_;
    bool reportedLargeIsland_ = false;
    bool phaseTiming_ = false;
    PhaseTimes phaseTimes_;
    ScratchArena scratch_;
    float accumulator_ = 0.0f;
    int32_t pairCount_ = 0;
    ContactEvents events_;
    // Grows as a step needs and keeps its joints, which bodies' lists link to in place.
    std::vector<std::unique_ptr<ContactJoint>> contactPool_;
    int32_t contactsInUse_ = 0;
    ContactMemory contactMemory_; // the forces of the last step's contacts
    std::vector<CollisionContact> contactBuffer_; // one pair's narrow-phase contacts
    std::vector<RigidBody*> islandBodies_;
    std::vector<Joint*> islandJoints_;
    std::vector<IslandSpan> islandSpans_; // runs of the two lists above
    std::vector<IslandSpan> sweptSpans_;  // those the iterative method sweeps
    std::vector<RigidBody*> islandStack_;
};

} // namespace quarn
