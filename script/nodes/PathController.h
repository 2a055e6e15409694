#pragma once

#include "core/math/Quaternion.h"
#include "core/math/Vector.h"
#include "core/object/EntityRef.h"
#include "render/RenderObject.h"

#include <cstdint>

namespace quarn {

// Bits of the pathflags property, in their stored order.
enum PathFlags : uint32_t {
    PathActive = 0x1,
    PathLoop = 0x2,
    PathPingPong = 0x4,
    PathSpline = 0x8,
    PathReverse = 0x10,
    PathConnectEnds = 0x20,   // the last waypoint leads back to the first
    PathLookAtOnly = 0x40,    // the target turns towards the path instead of moving
    PathOrientFromDir = 0x80, // orientation along the movement instead of the waypoints'
    PathSectionSpeed = 0x100, // speed in segments per second instead of units per second
};

// A waypoint with a speed factor and an output told when a controller passes it.
class PathPivot : public Pivot {
public:
    PathPivot();

    float GetPathSpeed() const { return pathSpeed_; }
    void SetPathSpeed(float speed) { pathSpeed_ = speed; }
    uint32_t GetWitnessId() const { return witness_.GetId(); }

    int GetOutputCount() const override { return 1; }
    const char* GetOutputName(int port) const override;
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    float pathSpeed_ = 1.0f;
    EntityRef witness_;
};

// Moves a target pivot along the Pivot children of one parent (its own children, or the
// siblings of the waypoint named by "pathpivot"), straight or on a Catmull-Rom spline, and
// draws the path as an editor gizmo. Every reference is kept as an id and resolved afresh, since
// the events and script calls it makes may delete anything, the controller included.
class PathController : public RenderObject {
public:
    // Waypoints one frame may pass: a looping path at a huge speed still ends the frame.
    static constexpr int32_t MaxWaypointsPerFrame = 10000;
    // How near (in pixels) a waypoint's projection must lie to the point a gizmo pick asks for.
    static constexpr float PickTolerance = 8.0f;
    static constexpr float GizmoSize = 0.1f;
    static constexpr uint32_t PathColor = 0xFF00FFFF;
    static constexpr uint32_t LookAtPathColor = 0xFF00FF80;
    static constexpr uint32_t EvaluatedColor = 0xFF008080;

    PathController();

    float GetSpeed() const { return speed_; }
    void SetSpeed(float speed) { speed_ = speed; }
    uint32_t GetPathFlags() const { return flags_; }
    void SetPathFlags(uint32_t flags) { flags_ = flags; }
    EntityId GetTargetId() const { return {target_.GetId()}; }
    void SetTargetId(EntityId id) { target_.SetId(id.value); }
    EntityId GetWitnessId() const { return {witness_.GetId()}; }
    void SetWitnessId(EntityId id) { witness_.SetId(id.value); }
    EntityId GetCurrentId() const { return {current_.GetId()}; }
    void SetCurrentId(EntityId id);
    float GetProgress() const { return progress_; }
    void SetProgress(float progress) { progress_ = progress; }
    int32_t GetDirection() const { return direction_; }
    Float3 GetEvaluatedPosition() const { return position_; }
    Quaternion GetEvaluatedOrientation() const { return orientation_; }

    bool IsActive() const { return (flags_ & PathActive) != 0; }
    void SetActive(bool active);
    // Direction forward, progress 0.
    void Reset();

    // Waypoints (Pivot children of the path parent).
    Pivot* GetCurrentWaypoint() const;
    Pivot* GetFirstWaypoint() const;
    Pivot* Next(Pivot* waypoint, bool wrap) const;
    Pivot* Previous(Pivot* waypoint, bool wrap) const;
    Pivot* Step(Pivot* waypoint, int32_t count, bool wrap) const;

    // Moves along the current segment; the time left when it reached the segment's end.
    float Evaluate(float time);

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 3; }
    const char* GetInputName(int port) const override;
    void OnValuesLoaded() override;
    void Update(float frameTime, int mode) override;
    int32_t Render() override;
    bool IntersectRay(const Float3& origin, const Float3& direction, PickQuery& query) override;
    void UpdateBoundingBox() override;
    void UpdateWorldBoundingBox() override;
    // Recomputed on every call: the waypoints move without telling the controller.
    Aabb GetWorldBoundingBox() override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    struct AdvanceResult {
        bool ended = false; // the path's last waypoint was reached
        float leftover = 0.0f;
    };

    Node* GetPathParent() const;
    // Moves through as many segments as the time covers, telling each PathPivot passed.
    // `passes` counts down the waypoints this frame may still pass.
    AdvanceResult Advance(float time, int32_t& passes);
    // The path step of one frame; false when the controller was deleted on the way.
    bool StepPath(float time);
    void ApplyPose();

    float speed_ = 1.0f;
    uint32_t flags_ = PathSpline;
    EntityRef target_;
    EntityRef witness_;
    EntityRef current_;
    int32_t direction_ = 1;
    float progress_ = 0.0f;
    Float3 position_;
    Quaternion orientation_;
};

} // namespace quarn
