#pragma once

#include "core/object/EntityRef.h"
#include "core/object/IdPath.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quarn {

class Entity;

// The live entities of one id system (the opened scene is 0; each branch instance with ids of
// its own has another), indexed by local id. Entry 0 is the system's root: the branch node
// that owns it.
//
// An entry is in one of three states: free (on the free stack, may be handed out), taken (an
// entity), or released (null: it once named an entity and must never name a newer one, so
// that a stale id resolves to nothing rather than to a stranger). Released entries come back
// only when the whole system is reset.
class IdSystem {
public:
    IdSystem() = default;

    // Local id 0 is refused; a taken or released entry is overwritten only with `overwrite`.
    // Local ids skipped on the way become free.
    bool SetEntry(uint32_t localId, Entity* entity, bool overwrite);
    void Reset(Entity* root);
    void SetGuid(const Guid& guid);

    // The entity under a local id; null when free, released or beyond the entries. Local id 0
    // gives the root.
    Entity* Lookup(uint32_t localId) const;
    bool IsFree(uint32_t localId) const;
    // Makes a taken or free entry released. The root's slot is not an id and stays.
    void Release(uint32_t localId);
    // The local id to use next, or 0 when the system has no room left.
    uint32_t NextFreeLocalId() const;
    // Stores the root without touching the other entries.
    void SetRoot(Entity* root);

    // The value of a free entry. Never dereferenced; it only has to differ from every entity and
    // from null (a released entry).
    static Entity* FreeEntry() { return reinterpret_cast<Entity*>(UINTPTR_MAX); }

    Entity* GetRoot() const { return entries_[0]; }
    uint32_t GetRootLocalId() const { return rootLocalId_; }
    bool HasGuid() const { return hasGuid_; }
    const Guid& GetGuid() const { return guid_; }
    uint32_t GetEntryCount() const { return static_cast<uint32_t>(entries_.size()); }

private:
    friend class IdMap;

    // Entry 0 always exists: it is the root's slot, never a free id, so local id 0 can never
    // be handed out.
    std::vector<Entity*> entries_{nullptr};
    std::vector<uint32_t> freeIds_; // a stack; the top is handed out next
    Guid guid_;
    bool hasGuid_ = false;
    bool reportedFull_ = false;
    uint32_t rootLocalId_ = 0;
};

// Every id system, by number (at most 4096), and the GUID index of global instances.
class IdMap {
public:
    static constexpr int MaxIdSystems = 4096;
    static constexpr uint32_t Overwrite = 1;

    IdMap();

    // null for 0, out-of-range, free or released ids; port bits are ignored.
    Entity* Lookup(uint32_t id) const;
    bool IsIdFree(uint32_t id, uint32_t flags) const;
    bool SetEntry(uint32_t id, Entity* entity, uint32_t flags);
    // A released id resolves to nothing and is never handed out again until its id system is
    // reset.
    void ReleaseId(uint32_t id);
    // The local id to use next in an id system; 0 when the system is full (reported).
    uint32_t GetFreeLocalId(uint32_t idSystem);

    // A fresh id system with `root` in entry 0; -1 when all are taken (reported once, until one
    // is free again).
    int32_t AllocateScene(Entity* root);
    void FreeScene(uint32_t number);
    void ResetScene(uint32_t number, Entity* root);
    void SetSceneRoot(uint32_t number, Entity* root);
    void SetSceneGuid(uint32_t number, const Guid& guid);
    int32_t FindSceneByGuid(const Guid& guid) const;
    bool IsSceneInUse(uint32_t number) const;
    int GetUsedSceneCount() const;
    const IdSystem* GetIdSystem(uint32_t number) const;
    // Only id system 0 (without root) is left.
    void Clear();

private:
    static constexpr int GuidBucketCount = 4096;

    // The record of `number`, created (with the ones below it) when missing; null for numbers
    // an id cannot hold.
    IdSystem* Grow(uint32_t number);
    // A record's GUID changed or went: the index is built afresh, which keeps every probe
    // chain whole without tombstones. Rare (branch loads and unloads), and 4096 buckets.
    void RebuildGuidIndex();
    void ResetRecord(uint32_t number, Entity* root);

    std::vector<IdSystem> records_;
    std::array<int32_t, GuidBucketCount> guidBuckets_; // id-system number, or -1 when empty
    // Free id-system numbers, one bit each. A set, not a stack: a number freed twice, or taken
    // through SetSceneRoot, must not be counted twice or handed out while in use. Bits rather
    // than a tree of nodes, so that Clear (every scene load in a test or fuzz run) costs a fill,
    // not thousands of allocations.
    class FreeNumbers {
    public:
        void Fill();
        bool Empty() const { return count_ == 0; }
        int Count() const { return count_; }
        // The lowest free number; only when not empty.
        uint32_t Lowest() const;
        void Insert(uint32_t number);
        void Erase(uint32_t number);

    private:
        std::array<uint64_t, MaxIdSystems / 64> words_{};
        int count_ = 0;
    };
    FreeNumbers freeNumbers_;
    bool reportedAllInUse_ = false;
};

// The look-ups are inline: scripts resolve an id on every command that names an entity.
inline Entity* IdSystem::Lookup(uint32_t localId) const {
    if (localId >= entries_.size()) {
        return nullptr;
    }
    Entity* entry = entries_[localId];
    return entry == FreeEntry() ? nullptr : entry;
}

inline Entity* IdMap::Lookup(uint32_t id) const {
    const uint32_t number = (id & IdSystemMask) >> IdSystemShift;
    if (id == 0 || number >= records_.size()) {
        return nullptr;
    }
    return records_[number].Lookup(id & LocalIdMask);
}

// The program's id map. Never destroyed: entities that outlive static destruction may still
// release their ids.
inline IdMap& TheIdMap() {
    static IdMap* map = new IdMap();
    return *map;
}

} // namespace quarn
