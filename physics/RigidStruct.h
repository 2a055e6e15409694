#pragma once

#include "physics/RigidBody.h"

namespace quarn {

class Anchor;
class Module;

// The body that modules joined by FIXED anchors share: merging moves one body's children into
// the other, splitting moves the modules that lost their rigid link to the rest into a new one.
class RigidStruct : public RigidBody {
public:
    ClassInfo* GetClass() const override { return classInfo; }

    // Moves everything below `from` (below its "CM" child when it has one) into `into` keeping
    // world poses, re-attaches from's joints, deletes from, and re-centres into's mass.
    static void Merge(RigidBody* from, RigidBody* into);
    // At an anchor of a rigid-merge pair about to let go: when no other rigid link still joins
    // the two modules, the anchor's side of the structure moves into a new body beside the old.
    static void Split(Anchor* anchor);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;
};

} // namespace quarn
