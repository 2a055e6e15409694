#pragma once

#include "core/object/EntityRef.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Pivot.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class Anchor;
class RigidBody;

// A build code holds no more modules than this; a larger construction is cut there.
inline constexpr int32_t BuildCodeRecords = 64;

// A building block of a construction: anchors below it dock it to other modules, and the
// outermost rigid body above it carries it.
class Module : public Pivot {
public:
    Module();
    ~Module() override;

    ClassInfo* GetClass() const override { return classInfo; }
    // Re-points the body reference at each body from `parent` up; the outermost wins.
    void ParentFlagsChanged(Node* parent, bool attached) override;

    int32_t GetAnchorCount() const { return static_cast<int32_t>(anchors_.size()); }
    Anchor* GetAnchor(int32_t index) const;
    int32_t FindAnchorIndex(const Anchor* anchor) const;
    // Called by Anchor as it joins or leaves the module.
    void AddAnchor(Anchor* anchor);
    void RemoveAnchor(Anchor* anchor);

    RigidBody* GetBody() const;
    uint32_t GetBodyId() const { return body_.GetId(); }

    // Stamps this module and every module its rigid links reach, except through `excluded`.
    void StampConnected(Anchor* excluded);
    // Moves `module` so that its anchor `own` comes to lie on `target` (the anchor own is
    // attached to): alone inside a body it shares with target's module, else with its body.
    static void SnapToAnchor(Module* module, Anchor* own, Anchor* target);
    // Walks from `node` through attached anchors, snapping each reached module onto the anchor
    // that reaches it; the caller starts a visit first.
    static void SnapToModule(Node* node);
    // The anchor in from's subtree where the first chain of attached modules reaching `to`
    // begins; null when none does.
    static Anchor* FindConnectingAnchor(Module* from, Module* to);
    // Anchors holding a joint anywhere below node (an anchor's own children are not searched).
    static int32_t CountAttachedAnchors(Node* node);
    // The construction reached from `start` through attached anchors, seven characters a module
    // (at most BuildCodeRecords of them): kind letter, the record it hangs from (two digits),
    // the anchor it hangs at, its turn in eighths and two key codes read from `keySource`.
    static std::string BuildCode(Module* start, Node* keySource);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    EntityId GetMasterModule() const { return {masterModule_.GetId()}; }
    void SetMasterModule(EntityId id) { masterModule_.SetId(id.value); }
    EntityId ScriptGetBody() const { return {body_.GetId()}; }
    Entity* ScriptFindConnectingAnchor(Entity* from, Entity* to);
    void ScriptSnapToModule(Entity* module);
    int32_t ScriptCountAttachedAnchors(Entity* module);
    int32_t ScriptGetAnchorCount(Entity* module);
    Entity* ScriptGetAnchor(Entity* module, int32_t index);
    const char* ScriptBuildCode(Entity* module, Entity* keySource);

    std::vector<Anchor*> anchors_;
    EntityRef body_;
    EntityRef masterModule_;
};

// The module or anchor itself when the entity is one (or derives from one), else null.
Module* ToModule(Entity* entity);
Anchor* ToAnchor(Entity* entity);
RigidBody* ToRigidBody(Entity* entity);

} // namespace quarn
