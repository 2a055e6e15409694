#include "core/object/EntityRef.h"

#include "core/debug/Validity.h"
#include "core/object/Entity.h"
#include "core/object/IdMap.h"

#include <unordered_set>
#include <vector>

namespace quarn {

Entity* LookupEntity(uint32_t id) {
    if (id == 0) {
        return nullptr;
    }
    return TheIdMap().Lookup(id);
}

// EntityRef ---------------------------------------------------------------------------------

EntityRef::EntityRef(const EntityRef& other) : id_(other.id_) {}

EntityRef& EntityRef::operator=(const EntityRef& other) {
    if (this != &other) {
        SetId(other.id_);
    }
    return *this;
}

EntityRef::~EntityRef() {
    if (IsLinked()) {
        target_->self_.UnlinkReference(this);
    }
    id_ = 0;
    target_ = nullptr;
}

void EntityRef::InitFromId(uint32_t id) {
    if (IsLinked()) {
        target_->self_.UnlinkReference(this);
    }
    id_ = id;
    target_ = nullptr;
    listener_ = nullptr;
    next_ = nullptr;
}

Entity* EntityRef::SetId(uint32_t id) {
    if (id == id_) {
        return GetTarget();
    }
    if (IsLinked()) {
        target_->self_.UnlinkReference(this);
    }
    id_ = 0;
    target_ = nullptr;
    Entity* target = LookupEntity(id);
    if (target && listener_) {
        EntityRef& head = target->self_;
        next_ = head.next_;
        head.next_ = this;
        target_ = target;
    }
    id_ = id;
    return target;
}

Entity* EntityRef::GetTarget() const {
    // Only a linked reference is told when its target goes; any other one re-resolves so that
    // it can never hand out a destroyed entity.
    return IsLinked() ? target_ : LookupEntity(id_);
}

void EntityRef::UnlinkReference(EntityRef* reference) {
    for (EntityRef** link = &next_; *link; link = &(*link)->next_) {
        if (*link == reference) {
            *link = reference->next_;
            reference->next_ = nullptr;
            return;
        }
    }
}

void EntityRef::DetachAllReferences(Entity* entity) {
    // One at a time from the head, each cleared before its listener hears of it: a listener
    // that drops other references to the entity meanwhile unlinks them from a list that is
    // still whole, and one that re-points its own reference finds it already free.
    while (EntityRef* reference = next_) {
        next_ = reference->next_;
        reference->id_ = 0;
        reference->target_ = nullptr;
        reference->next_ = nullptr;
        reference->listener_->OnReferenceChanged(entity, 0);
    }
}

// Referable ---------------------------------------------------------------------------------

Referable::Referable() : self_(this) {}

Referable::~Referable() {
    // The entity part is gone by now, but its address is still the one listeners know.
    Entity* entity = self_.target_;
    self_.DetachAllReferences(entity);
    if (self_.id_ != 0 && entity && TheIdMap().Lookup(self_.id_) == entity) {
        TheIdMap().ReleaseId(self_.id_);
    }
    self_.id_ = 0;
    self_.target_ = nullptr;
    self_.listener_ = nullptr;
}

void Referable::OnReferenceChanged(Entity*, uint32_t) {}

void Referable::ChangeId(uint32_t newId) {
    newId &= ~PortMask; // ports belong to references, never to an entity's own id
    uint32_t oldId = self_.id_;
    if (newId == oldId) {
        return;
    }
    IdMap& map = TheIdMap();
    Entity* self = Self();
    // Only an id that really names this entity is given up; another entity may hold it.
    bool holdsOldId = oldId != 0 && map.Lookup(oldId) == self;
    uint32_t id = newId;
    if (id != 0 && map.Lookup(id) != self && !map.IsIdFree(id, 0)) {
        // Keeping a taken id would leave this entity unreachable under it.
        uint32_t system = id & IdSystemMask;
        uint32_t localId = map.GetFreeLocalId(system >> IdSystemShift);
        if (localId == 0 && holdsOldId) {
            ValidityReport("Id %u is taken and its id system is full; the entity keeps id %u",
                           newId, oldId);
            return;
        }
        id = localId == 0 ? 0 : system | localId;
        ValidityReport("Id %u is taken; the entity gets id %u instead", newId, id);
        if (id == oldId) {
            return;
        }
    }
    if (id == 0) {
        self_.DetachAllReferences(self);
    } else {
        // Told while the entity still has its old id, so listeners can rename it.
        Repoint(self_.next_, nullptr, self, id);
    }
    if (holdsOldId) {
        map.ReleaseId(oldId);
    }
    self_.id_ = id;
    self_.target_ = id != 0 ? self : nullptr;
    if (id != 0) {
        map.SetEntry(id, self, 0);
    }
}

void Referable::TakeOverId(uint32_t id) {
    id &= ~PortMask;
    if (id == self_.id_) {
        return;
    }
    if (id == 0) {
        ChangeId(0);
        return;
    }
    IdMap& map = TheIdMap();
    Entity* self = Self();
    Entity* holder = map.Lookup(id);
    if (holder == self) {
        holder = nullptr;
    }
    // This entity's own previous id goes, with its references following it: left behind it
    // would still name the entity after its destruction.
    uint32_t oldId = self_.id_;
    if (oldId != 0) {
        Repoint(self_.next_, nullptr, self, id);
        if (map.Lookup(oldId) == self) {
            map.ReleaseId(oldId);
        }
    }
    if (holder) {
        map.ReleaseId(id);
    }
    self_.id_ = id;
    self_.target_ = self;
    if (holder) {
        EntityRef& holderSelf = static_cast<Referable*>(holder)->self_;
        EntityRef* moved = holderSelf.next_;
        holderSelf.next_ = nullptr;
        holderSelf.id_ = 0;
        holderSelf.target_ = nullptr;
        if (moved) {
            // The holder's references go first: they are the ones the id was given out for.
            EntityRef* ownHead = self_.next_;
            EntityRef* last = moved;
            while (last->next_) {
                last = last->next_;
            }
            last->next_ = ownHead;
            self_.next_ = moved;
            Repoint(moved, ownHead, self, id);
        }
    }
    map.SetEntry(id, self, IdMap::Overwrite);
}

std::vector<Referable*> Referable::GetReferenceHolders() const {
    std::vector<Referable*> holders;
    std::unordered_set<const Referable*> seen;
    for (const EntityRef* reference = self_.next_; reference; reference = reference->next_) {
        if (seen.insert(reference->listener_).second) {
            holders.push_back(reference->listener_);
        }
    }
    return holders;
}

void Referable::Repoint(EntityRef* head, EntityRef* end, Entity* entity, uint32_t id) {
    // All are re-pointed before anyone is told, so a listener that moves its reference
    // meanwhile is not overwritten afterwards.
    std::vector<Referable*> listeners;
    for (EntityRef* reference = head; reference != end; reference = reference->next_) {
        reference->id_ = (reference->id_ & PortMask) | id;
        reference->target_ = entity;
        listeners.push_back(reference->listener_);
    }
    for (Referable* listener : listeners) {
        listener->OnReferenceChanged(entity, id);
    }
}

Entity* Referable::Self() {
    return static_cast<Entity*>(this);
}

} // namespace quarn
