#pragma once

#include <cstdint>

namespace quarn {

class CollisionSpace;
class CollisionVolume;
class Entity;

// What collision asks of the physics world, which lives above it: the spaces by number and
// the step counter that stamps cached pair directions. At most one world is current.
class CollisionWorld {
public:
    virtual ~CollisionWorld() = default;

    // Null when the world has no space of that number.
    virtual CollisionSpace* FindCollisionSpace(int32_t number) = 0;
    virtual uint32_t GetStepCounter() const = 0;

    // Null while no world exists: volumes then keep their settings and join no space.
    static CollisionWorld* GetCurrent();
    static void SetCurrent(CollisionWorld* world);
};

// What a volume asks of the rigid body it is attached to.
class CollisionBody {
public:
    virtual ~CollisionBody() = default;

    // The body's node: told "touchinertia" when a volume's mass changes, and what scripts get
    // as the volume's body.
    virtual Entity& GetBodyEntity() = 0;
    // The head of the body's intrusive volume list (CollisionVolume::nextInBody_).
    virtual CollisionVolume*& GetVolumeListHead() = 0;
    // The body recomputes its mass from its volumes before it next reads it.
    virtual void MarkMassOutOfDate() = 0;
};

} // namespace quarn
