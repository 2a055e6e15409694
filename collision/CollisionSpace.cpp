#include "collision/CollisionSpace.h"

#include "collision/CollisionVolume.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/os/EngineWork.h"
#include "core/scene/Picking.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace quarn {

ClassInfo* CollisionSpace::classInfo = nullptr;

namespace {

// Shared by every space: a second query overwrites the first one's results.
PickQuery& SpaceQuery() {
    static PickQuery query;
    return query;
}
Float3 lastHitPosition;
// The last box query's volumes, by serial, so that a volume deleted since reads as none.
uint64_t boxQueryResults[CollisionSpace::BoxQueryCapacity];
int boxQueryCount = 0;

bool BoxesOverlap(const Aabb& a, const Float3& min, const Float3& max) {
    return a.max.x >= min.x && a.max.y >= min.y && a.max.z >= min.z && max.x >= a.min.x &&
           max.y >= a.min.y && max.z >= a.min.z;
}

} // namespace

CollisionSpace::CollisionSpace()
    : pairs_(new CollisionPair[PairCapacity]), usedPairs_(new uint32_t[PairCapacity]) {
    UpdateWorldBoundingBox();
    SetRenderFlag(RenderWorldBoxValid, true);
}

CollisionSpace::~CollisionSpace() {
    // Each kind's own removal has run in its destructor; what is left only leaves the list.
    while (firstVolume_) {
        CollisionSpace::RemoveVolume(*firstVolume_);
    }
}

void CollisionSpace::UpdateWorldBoundingBox() {
    worldBox_ = {Float3(FLT_MAX, FLT_MAX, FLT_MAX), Float3(-FLT_MAX, -FLT_MAX, -FLT_MAX)};
    for (CollisionVolume* volume = firstVolume_; volume; volume = volume->GetNextInSpace()) {
        worldBox_.AddBox(volume->GetWorldBoundingBox());
    }
}

void CollisionSpace::AddVolume(CollisionVolume& volume) {
    if (volume.GetSpace() == this) {
        return;
    }
    // A volume belongs to one list at a time.
    if (CollisionSpace* previous = volume.GetSpace()) {
        previous->RemoveVolume(volume);
    }
    volume.AttachToSpace(*this, firstVolume_);
    ++volumeCount_;
    if (TestRenderFlags(RenderWorldBoxValid)) {
        worldBox_.AddBox(volume.GetWorldBoundingBox());
    }
}

void CollisionSpace::RemoveVolume(CollisionVolume& volume) {
    if (volume.GetSpace() != this) {
        return;
    }
    volume.DetachFromSpace();
    --volumeCount_;
    SetRenderFlag(RenderWorldBoxValid, false);
    // No record may outlive its volume.
    const uint64_t serial = volume.GetSerial();
    // Backwards: the last entry that fills a removed one was looked at already.
    for (uint32_t i = usedPairCount_; i-- > 0;) {
        CollisionPair& record = GetUsedPair(i);
        if (record.first == serial || record.second == serial) {
            RemovePair(record);
        }
    }
}

void CollisionSpace::VolumeMoved(CollisionVolume& volume) {
    volume.DetachFromSpace();
    volume.AttachToSpace(*this, firstVolume_);
}

bool CollisionSpace::Contains(const CollisionVolume& volume) const {
    return volume.GetSpace() == this;
}

// Pair cache ----------------------------------------------------------------------------------

uint32_t CollisionSpace::HashPair(uint64_t first, uint64_t second) {
    // A mix of both serials: neighbouring serials would pile up under a plain sum.
    uint64_t k = first * 0x9E3779B97F4A7C15ull ^ (second + 0x632BE59BD9B4E019ull);
    k ^= k >> 31;
    k *= 0xBF58476D1CE4E5B9ull;
    k ^= k >> 29;
    return static_cast<uint32_t>(k);
}

uint32_t CollisionSpace::PairLimitFor(int32_t volumes, bool kept) {
    const uint64_t perVolume = PairsPerVolume + (kept ? KeptPairsPerVolume : 0);
    const uint64_t limit = PairCapacity + perVolume * static_cast<uint64_t>(std::max(volumes, 0));
    return static_cast<uint32_t>(std::min<uint64_t>(limit, UINT32_MAX / 2));
}

bool CollisionSpace::KeepsPairFirst(const CollisionVolume& a, const CollisionVolume& b) {
    return a.HasCollFlags(CollStatic) || b.HasCollFlags(CollStatic) || !a.GetBody() || !b.GetBody();
}

void CollisionSpace::ClearPairs() {
    for (uint32_t i = 0; i < slotCount_; ++i) {
        pairs_[i].first = 0;
    }
    usedPairCount_ = 0;
}

CollisionPair* CollisionSpace::FindPair(const CollisionVolume& a, const CollisionVolume& b) {
    const uint64_t first = std::max(a.GetSerial(), b.GetSerial());
    const uint64_t second = std::min(a.GetSerial(), b.GetSerial());
    const uint32_t mask = slotCount_ - 1;
    uint32_t slot = HashPair(first, second) & mask;
    for (uint32_t probe = 0; probe < slotCount_; ++probe, slot = (slot + 1) & mask) {
        CollisionPair& record = pairs_[slot];
        if (record.first == 0) {
            return nullptr;
        }
        if (record.first == first && record.second == second) {
            return &record;
        }
    }
    return nullptr;
}

CollisionPair* CollisionSpace::FindOrCreatePair(CollisionVolume& a, CollisionVolume& b) {
    if (CollisionPair* found = FindPair(a, b)) {
        return found;
    }
    const uint32_t limit = GetPairLimit(KeepsPairFirst(a, b));
    if (usedPairCount_ >= limit) {
        CountDroppedPairs(1, "the pair cache", limit);
        return nullptr;
    }
    // Linear probing keeps short runs while a quarter of the table is free.
    if (usedPairCount_ + 1 > slotCount_ - slotCount_ / 4) {
        GrowPairs();
    }
    const uint64_t first = std::max(a.GetSerial(), b.GetSerial());
    const uint64_t second = std::min(a.GetSerial(), b.GetSerial());
    const uint32_t home = HashPair(first, second);
    const uint32_t mask = slotCount_ - 1;
    uint32_t slot = home & mask;
    while (pairs_[slot].first != 0) {
        slot = (slot + 1) & mask;
    }
    CollisionPair& record = pairs_[slot];
    record = CollisionPair();
    record.first = first;
    record.second = second;
    record.firstVolume = first == a.GetSerial() ? &a : &b;
    record.secondVolume = first == a.GetSerial() ? &b : &a;
    record.home = home;
    record.usedSlot = usedPairCount_;
    usedPairs_[usedPairCount_++] = slot;
    return &record;
}

void CollisionSpace::GrowPairs() {
    const uint32_t count = slotCount_ * 2;
    const uint32_t mask = count - 1;
    std::unique_ptr<CollisionPair[]> pairs(new CollisionPair[count]);
    std::unique_ptr<uint32_t[]> used(new uint32_t[count]);
    // In the used list's order, which stays as it was.
    for (uint32_t i = 0; i < usedPairCount_; ++i) {
        const CollisionPair& record = pairs_[usedPairs_[i]];
        uint32_t slot = record.home & mask;
        while (pairs[slot].first != 0) {
            slot = (slot + 1) & mask;
        }
        pairs[slot] = record;
        used[i] = slot;
    }
    pairs_ = std::move(pairs);
    usedPairs_ = std::move(used);
    slotCount_ = count;
}

void CollisionSpace::CountDroppedPairs(uint64_t count, const char* where, uint32_t room) {
    if (count != 0 && droppedPairs_ == 0) {
        LogMessage("CollisionSpace '%s': more than %u pairs overlap; %s is full and further "
                   "pairs are not tested",
                   GetName().c_str(), room, where);
    }
    droppedPairs_ += count;
}

void CollisionSpace::RemovePair(CollisionPair& record) {
    // The last used entry fills the removed one's.
    const uint32_t last = --usedPairCount_;
    const uint32_t movedSlot = usedPairs_[last];
    usedPairs_[record.usedSlot] = movedSlot;
    pairs_[movedSlot].usedSlot = record.usedSlot;
    record.first = 0;
    // Backward shift: a later record of the probe run moves into the hole unless its home lies
    // cyclically in (hole, record], where a search would no longer pass the hole.
    const uint32_t mask = slotCount_ - 1;
    uint32_t hole = static_cast<uint32_t>(&record - pairs_.get());
    for (uint32_t slot = (hole + 1) & mask; pairs_[slot].first != 0 && slot != hole;
         slot = (slot + 1) & mask) {
        const CollisionPair& candidate = pairs_[slot];
        if (((slot - candidate.home) & mask) < ((slot - hole) & mask)) {
            continue;
        }
        pairs_[hole] = candidate;
        usedPairs_[candidate.usedSlot] = hole;
        pairs_[slot].first = 0;
        hole = slot;
    }
}

// Filters -------------------------------------------------------------------------------------

CollisionVolume* CollisionSpace::ResolveVolume(uint64_t serial) {
    return dynamic_cast<CollisionVolume*>(Entity::FindBySerial(serial));
}

void CollisionSpace::FilterCachedPair(CollisionPair& record, CollisionPairCallback callback) {
    record.touching = false;
    const uint64_t destroyed = Entity::GetDestroyedCount();
    if (record.aliveAsOf != destroyed) {
        if (!Entity::FindBySerial(record.first) || !Entity::FindBySerial(record.second)) {
            return;
        }
        record.aliveAsOf = destroyed;
    }
    CollisionVolume* first = record.firstVolume;
    CollisionVolume* second = record.secondVolume;
    if (first->GetBody() && first->GetBody() == second->GetBody()) {
        return;
    }
    if (!first->IsFullyEnabled() || !second->IsFullyEnabled()) {
        return;
    }
    if (!first->AcceptsVolume(*second) && !second->AcceptsVolume(*first)) {
        return;
    }
    callback(&record, *first, *second);
}

void CollisionSpace::FilterBoxPair(CollisionVolume& a, CollisionVolume& b, void* userData,
                                   CollisionPairCallback callback) {
    if (a.GetBody() && a.GetBody() == b.GetBody()) {
        return;
    }
    if (!a.IsFullyEnabled() || !b.IsFullyEnabled()) {
        return;
    }
    if (!(b.GetQueryFlags() & a.GetActiveFlags()) && !(b.GetActiveFlags() & a.GetQueryFlags())) {
        return;
    }
    const Aabb boxB = b.GetWorldBoundingBox();
    if (!BoxesOverlap(a.GetWorldBoundingBox(), boxB.min, boxB.max)) {
        return;
    }
    callback(userData, a, b);
}

// Queries -------------------------------------------------------------------------------------

int CollisionSpace::BoxQuery(const Float3& min, const Float3& max, CollisionVolume** out,
                             int capacity) {
    int count = 0;
    uint64_t passed = 0;
    for (CollisionVolume* volume = firstVolume_; volume && count < capacity;
         volume = volume->GetNextInSpace()) {
        ++passed;
        if (volume->IsFullyEnabled() && BoxesOverlap(volume->GetWorldBoundingBox(), min, max)) {
            out[count++] = volume;
        }
    }
    ChargeNodesVisited(passed);
    return count;
}

bool CollisionSpace::RayQuery(Float3 origin, Float3 delta, int32_t value, int32_t mask) {
    const Float3 end = origin + delta;
    const Float3 min(std::fmin(origin.x, end.x), std::fmin(origin.y, end.y),
                     std::fmin(origin.z, end.z));
    const Float3 max(std::fmax(origin.x, end.x), std::fmax(origin.y, end.y),
                     std::fmax(origin.z, end.z));
    CollisionVolume* found[RayQueryCapacity];
    const int count = BoxQuery(min, max, found, RayQueryCapacity);
    const float length = delta.Length();
    const Float3 direction = length != 0.0f ? delta / length : delta;
    PickQuery& query = SpaceQuery();
    query.Init(length, PickCollisionVolumes | PickNormal, static_cast<uint32_t>(value),
               static_cast<uint32_t>(mask));
    for (int i = 0; i < count; ++i) {
        query.current = PickHit();
        query.current.node = found[i];
        query.current.object = found[i];
        if (found[i]->IntersectRay(origin, direction, query)) {
            query.KeepNearestHit();
        }
    }
    if (!query.best.node || !(query.best.distance < length)) {
        return false;
    }
    lastHitPosition = origin + direction * query.best.distance;
    return true;
}

bool CollisionSpace::PickSubtree(Entity* node, Float3 origin, Float3 direction, int32_t flags,
                                 int32_t value, int32_t mask) {
    PickQuery& query = SpaceQuery();
    query.Init(PickQuery::DefaultMaxDistance, static_cast<uint32_t>(flags),
               static_cast<uint32_t>(value), static_cast<uint32_t>(mask));
    auto* start = dynamic_cast<Node*>(node);
    const bool hit = start && query.PickNode(start, origin, direction);
    lastHitPosition = origin + direction * query.best.distance;
    return hit;
}

Entity* CollisionSpace::ScriptHitNode() {
    return SpaceQuery().best.node;
}
float CollisionSpace::ScriptHitDistance() {
    return SpaceQuery().best.distance;
}
Float3 CollisionSpace::ScriptHitPosition() {
    return lastHitPosition;
}
Float3 CollisionSpace::ScriptHitNormal() {
    return SpaceQuery().best.data;
}

int32_t CollisionSpace::ScriptBoxQuery(Float3 min, Float3 max) {
    CollisionVolume* found[BoxQueryCapacity];
    boxQueryCount = BoxQuery(min, max, found, BoxQueryCapacity);
    for (int i = 0; i < boxQueryCount; ++i) {
        boxQueryResults[i] = found[i]->GetSerial();
    }
    return boxQueryCount;
}

Entity* CollisionSpace::ScriptBoxQueryEntry(int32_t index) {
    if (index < 0 || index >= boxQueryCount) {
        return nullptr;
    }
    return ResolveVolume(boxQueryResults[index]);
}

CollisionPair* CollisionSpace::UsedPairAt(int32_t index) {
    if (index < 0 || static_cast<uint32_t>(index) >= usedPairCount_) {
        return nullptr;
    }
    return &GetUsedPair(static_cast<uint32_t>(index));
}

Entity* CollisionSpace::ScriptPairFirst(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? ResolveVolume(record->first) : nullptr;
}
Entity* CollisionSpace::ScriptPairSecond(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? ResolveVolume(record->second) : nullptr;
}
bool CollisionSpace::ScriptPairTouching(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record && record->touching;
}
Float3 CollisionSpace::ScriptPairContactPosition(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? record->contactPosition : Float3();
}
Float3 CollisionSpace::ScriptPairContactNormal(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? record->contactNormal : Float3();
}
float CollisionSpace::ScriptPairContactDepth(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? record->contactDepth : 0.0f;
}
int32_t CollisionSpace::ScriptPairTouchStep(int32_t index) {
    const CollisionPair* record = UsedPairAt(index);
    return record ? static_cast<int32_t>(record->touchStep) : 0;
}

void CollisionSpace::DrawVolumeBox(CollisionVolume& volume, uint32_t color) {
    const Aabb box = volume.GetWorldBoundingBox();
    GetDebugLineMesh().AddBoxOutline(box.min, box.max - box.min, Quaternion(), color);
}

// Registration --------------------------------------------------------------------------------

ClassInfo* CollisionSpace::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("CollisionSpace", nullptr, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Collision");
    using S = CollisionSpace;
    classInfo->AddProperty<PropertyInt, &S::GetSpaceNum, &S::SetSpaceNum>(
        "spacenum:enum:COLLISION,AREA,DUMMY,TRON,META,METAL");

    // Generated names in a fixed order: compiled scripts hold them.
    auto add = [](const char* signature, auto binding) {
        classInfo->AddMethod(NextShortName(), signature, binding, MethodScript);
    };
    add("(Node,float3,float3,int,int,int):bool", BindMethod<&S::PickSubtree>());
    add("(float3,float3,int,int):bool", BindMethod<&S::RayQuery>());
    add(":entity", BindMethod<&S::ScriptHitNode>());
    add(":float", BindMethod<&S::ScriptHitDistance>());
    add(":float3", BindMethod<&S::ScriptHitPosition>());
    add(":float3", BindMethod<&S::ScriptHitNormal>());
    add("(float3, float3):int", BindMethod<&S::ScriptBoxQuery>());
    add("(int):CollisionVolume", BindMethod<&S::ScriptBoxQueryEntry>());
    add("():int", BindMethod<&S::ScriptUsedPairCount>());
    add("(int):CollisionVolume", BindMethod<&S::ScriptPairFirst>());
    add("(int):CollisionVolume", BindMethod<&S::ScriptPairSecond>());
    add("(int):bool", BindMethod<&S::ScriptPairTouching>());
    add("(int):float3", BindMethod<&S::ScriptPairContactPosition>());
    add("(int):float3", BindMethod<&S::ScriptPairContactNormal>());
    add("(int):float", BindMethod<&S::ScriptPairContactDepth>());
    add("(int):int", BindMethod<&S::ScriptPairTouchStep>());
    // The collision flag bits solid to item.
    for (int bit = 0; bit <= 12; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    return classInfo;
}

} // namespace quarn
