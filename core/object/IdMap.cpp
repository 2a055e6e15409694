#include "core/object/IdMap.h"

#include "core/debug/Validity.h"
#include "core/object/Entity.h"

#include <algorithm>
#include <bit>

namespace quarn {

namespace {

constexpr uint32_t MaxLocalId = 0xFFFF;

uint32_t IdSystemOf(uint32_t id) {
    return (id & IdSystemMask) >> IdSystemShift;
}

uint32_t LocalIdOf(uint32_t id) {
    return id & LocalIdMask;
}

uint32_t GuidStartBucket(const Guid& guid) {
    return guid.words[3] & 0xFFF;
}

} // namespace

// IdSystem ----------------------------------------------------------------------------------

bool IdSystem::SetEntry(uint32_t localId, Entity* entity, bool overwrite) {
    if (localId == 0 || localId > MaxLocalId || !entity) {
        return false;
    }
    while (entries_.size() < localId) {
        freeIds_.push_back(static_cast<uint32_t>(entries_.size()));
        entries_.push_back(FreeEntry());
    }
    if (entries_.size() == localId) {
        entries_.push_back(entity);
        return true;
    }
    Entity*& entry = entries_[localId];
    if (entry == entity) {
        return true;
    }
    if (entry == FreeEntry()) {
        // Searched from the top: the id taken is nearly always the one just handed out.
        auto found = std::find(freeIds_.rbegin(), freeIds_.rend(), localId);
        if (found != freeIds_.rend()) {
            *found = freeIds_.back();
            freeIds_.pop_back();
        }
        entry = entity;
        return true;
    }
    if (!overwrite) {
        return false;
    }
    entry = entity;
    return true;
}

void IdSystem::Reset(Entity* root) {
    entries_.assign(1, root);
    freeIds_.clear();
    rootLocalId_ = root ? LocalIdOf(root->GetId()) : 0;
    guid_ = Guid();
    hasGuid_ = false;
    reportedFull_ = false;
}

void IdSystem::SetGuid(const Guid& guid) {
    guid_ = guid;
    hasGuid_ = !guid.IsZero();
}

bool IdSystem::IsFree(uint32_t localId) const {
    return localId >= entries_.size() || entries_[localId] == FreeEntry();
}

void IdSystem::Release(uint32_t localId) {
    if (localId == 0 || localId >= entries_.size()) {
        return;
    }
    if (entries_[localId] == FreeEntry()) {
        // A free id left on the stack would be handed out again and then refused by SetEntry.
        auto found = std::find(freeIds_.rbegin(), freeIds_.rend(), localId);
        if (found != freeIds_.rend()) {
            *found = freeIds_.back();
            freeIds_.pop_back();
        }
    }
    entries_[localId] = nullptr;
}

uint32_t IdSystem::NextFreeLocalId() const {
    if (!freeIds_.empty()) {
        return freeIds_.back();
    }
    return entries_.size() > MaxLocalId ? 0 : static_cast<uint32_t>(entries_.size());
}

void IdSystem::SetRoot(Entity* root) {
    entries_[0] = root;
    rootLocalId_ = root ? LocalIdOf(root->GetId()) : 0;
}

// IdMap -------------------------------------------------------------------------------------

IdMap::IdMap() {
    Clear();
}

bool IdMap::IsIdFree(uint32_t id, uint32_t flags) const {
    uint32_t localId = LocalIdOf(id);
    if (localId == 0) {
        return false;
    }
    uint32_t number = IdSystemOf(id);
    if (number >= records_.size() || (flags & Overwrite)) {
        return true;
    }
    return records_[number].IsFree(localId);
}

bool IdMap::SetEntry(uint32_t id, Entity* entity, uint32_t flags) {
    IdSystem* record = Grow(IdSystemOf(id));
    return record->SetEntry(LocalIdOf(id), entity, (flags & Overwrite) != 0);
}

void IdMap::ReleaseId(uint32_t id) {
    uint32_t number = IdSystemOf(id);
    if (number < records_.size()) {
        records_[number].Release(LocalIdOf(id));
    }
}

uint32_t IdMap::GetFreeLocalId(uint32_t idSystem) {
    if (idSystem >= static_cast<uint32_t>(MaxIdSystems)) {
        ValidityReport("There is no id system %u", idSystem);
        return 0;
    }
    if (idSystem >= records_.size()) {
        return 1; // SetEntry creates the system with its root slot
    }
    IdSystem& record = records_[idSystem];
    uint32_t localId = record.NextFreeLocalId();
    if (localId == 0 && !record.reportedFull_) {
        record.reportedFull_ = true;
        ValidityReport("Id system %u is full: it has no free local id left", idSystem);
    }
    return localId;
}

int32_t IdMap::AllocateScene(Entity* root) {
    while (!freeNumbers_.Empty()) {
        uint32_t number = freeNumbers_.Lowest();
        freeNumbers_.Erase(number);
        if (number < records_.size() && records_[number].GetRoot()) {
            continue; // in use by a root set directly; it was never free
        }
        Grow(number);
        ResetRecord(number, root);
        return static_cast<int32_t>(number);
    }
    // Each branch instance of a large scene asks: once is enough until one is given back.
    if (!reportedAllInUse_) {
        reportedAllInUse_ = true;
        ValidityReport("All %d id systems are in use", MaxIdSystems);
    }
    return -1;
}

void IdMap::FreeScene(uint32_t number) {
    if (number >= static_cast<uint32_t>(MaxIdSystems)) {
        return;
    }
    freeNumbers_.Insert(number);
    reportedAllInUse_ = false;
    if (number < records_.size()) {
        ResetRecord(number, nullptr);
    }
}

void IdMap::ResetScene(uint32_t number, Entity* root) {
    if (number >= records_.size()) {
        return;
    }
    ResetRecord(number, root);
    if (root) {
        freeNumbers_.Erase(number);
    }
}

void IdMap::SetSceneRoot(uint32_t number, Entity* root) {
    IdSystem* record = Grow(number);
    if (!record) {
        ValidityReport("There is no id system %u", number);
        return;
    }
    record->SetRoot(root);
    if (root) {
        freeNumbers_.Erase(number);
    }
}

void IdMap::SetSceneGuid(uint32_t number, const Guid& guid) {
    IdSystem* record = Grow(number);
    if (!record) {
        ValidityReport("There is no id system %u", number);
        return;
    }
    bool changed = !(record->GetGuid() == guid);
    record->SetGuid(guid);
    if (changed) {
        RebuildGuidIndex();
    }
}

int32_t IdMap::FindSceneByGuid(const Guid& guid) const {
    uint32_t bucket = GuidStartBucket(guid);
    for (int probes = 0; probes < GuidBucketCount; ++probes) {
        int32_t number = guidBuckets_[bucket];
        if (number < 0) {
            return -1;
        }
        const IdSystem& record = records_[static_cast<uint32_t>(number)];
        if (record.HasGuid() && record.GetGuid() == guid) {
            return number;
        }
        bucket = (bucket + 1) % GuidBucketCount;
    }
    return -1;
}

bool IdMap::IsSceneInUse(uint32_t number) const {
    return number < records_.size() && records_[number].GetRoot() != nullptr;
}

int IdMap::GetUsedSceneCount() const {
    return MaxIdSystems - freeNumbers_.Count();
}

const IdSystem* IdMap::GetIdSystem(uint32_t number) const {
    return number < records_.size() ? &records_[number] : nullptr;
}

void IdMap::Clear() {
    records_.clear();
    reportedAllInUse_ = false;
    guidBuckets_.fill(-1);
    freeNumbers_.Fill();
    AllocateScene(nullptr);
}

void IdMap::FreeNumbers::Fill() {
    words_.fill(~uint64_t{0});
    count_ = MaxIdSystems;
}

uint32_t IdMap::FreeNumbers::Lowest() const {
    uint32_t word = 0;
    while (words_[word] == 0) {
        ++word;
    }
    return word * 64 + static_cast<uint32_t>(std::countr_zero(words_[word]));
}

void IdMap::FreeNumbers::Insert(uint32_t number) {
    uint64_t& word = words_[number / 64];
    const uint64_t bit = uint64_t{1} << (number % 64);
    count_ += (word & bit) == 0 ? 1 : 0;
    word |= bit;
}

void IdMap::FreeNumbers::Erase(uint32_t number) {
    if (number >= static_cast<uint32_t>(MaxIdSystems)) {
        return;
    }
    uint64_t& word = words_[number / 64];
    const uint64_t bit = uint64_t{1} << (number % 64);
    count_ -= (word & bit) != 0 ? 1 : 0;
    word &= ~bit;
}

IdSystem* IdMap::Grow(uint32_t number) {
    if (number >= static_cast<uint32_t>(MaxIdSystems)) {
        return nullptr;
    }
    if (number >= records_.size()) {
        records_.resize(number + 1);
    }
    return &records_[number];
}

void IdMap::RebuildGuidIndex() {
    guidBuckets_.fill(-1);
    for (uint32_t number = 0; number < records_.size(); ++number) {
        if (!records_[number].HasGuid()) {
            continue;
        }
        uint32_t bucket = GuidStartBucket(records_[number].GetGuid());
        while (guidBuckets_[bucket] >= 0) {
            bucket = (bucket + 1) % GuidBucketCount; // never full: one bucket per id system
        }
        guidBuckets_[bucket] = static_cast<int32_t>(number);
    }
}

void IdMap::ResetRecord(uint32_t number, Entity* root) {
    bool hadGuid = records_[number].HasGuid();
    records_[number].Reset(root);
    if (hadGuid) {
        RebuildGuidIndex();
    }
}

} // namespace quarn
