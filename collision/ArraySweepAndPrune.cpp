#include "collision/ArraySweepAndPrune.h"

#include "core/math/Geometry.h"

#include <algorithm>
#include <cstring>

namespace quarn {

namespace {

uint32_t ArithmeticShiftRight(uint32_t k, int shift) {
    return static_cast<uint32_t>(static_cast<int32_t>(k) >> shift);
}

uint32_t HashPair(uint16_t id0, uint16_t id1) {
    uint32_t k = (static_cast<uint32_t>(id1) << 16) | id0;
    k += ~(k << 15);
    k ^= ArithmeticShiftRight(k, 10);
    k += k << 3;
    k ^= ArithmeticShiftRight(k, 6);
    k += ~(k << 11);
    k ^= ArithmeticShiftRight(k, 16);
    return k;
}

// The power of two above n's highest bit: room for n pairs and at least one more.
uint32_t PowerOfTwoAbove(uint32_t n) {
    return NextPowerOfTwo(n + 1);
}

uint32_t PairKey(uint32_t handle0, uint32_t handle1) {
    return handle0 < handle1 ? (handle1 << 16) | handle0 : (handle0 << 16) | handle1;
}

constexpr uint32_t SentinelHandle = 0x3FFFFFFF;
constexpr uint32_t LowSentinelData = 0xFFFFFFFC;
constexpr uint32_t HighSentinelData = 0xFFFFFFFF;
constexpr uint32_t MaxFlag = 3;
// Pairs that parted since the last dump are still held but take no room; they may add as many
// again as the limit and no more, so a space where everything parts and meets again between
// dumps holds at most this many times the limit.
constexpr uint64_t MaxHeldPairsPerLimit = 2;

bool IsSentinel(uint32_t data) {
    return (data >> 2) == SentinelHandle;
}
bool IsMaximum(uint32_t data) {
    return (data & 1) != 0;
}

} // namespace

// SapPairManager ------------------------------------------------------------------------------

SapPairManager::~SapPairManager() {
    FreeRecords(buckets_);
    FreeRecords(next_);
    FreeRecords(pairs_);
}

uint32_t SapPairManager::FindIndex(uint16_t id0, uint16_t id1) const {
    if (id0 > id1) {
        std::swap(id0, id1);
    }
    if (tableSize_ == 0) {
        return None;
    }
    uint32_t index = buckets_[HashPair(id0, id1) & (tableSize_ - 1)];
    while (index != None && (pairs_[index].id0 != id0 || pairs_[index].id1 != id1)) {
        index = next_[index];
    }
    return index;
}

SapPair* SapPairManager::Find(uint16_t id0, uint16_t id1) const {
    const uint32_t index = FindIndex(id0, id1);
    return index == None ? nullptr : &pairs_[index];
}

SapPair* SapPairManager::Add(uint16_t id0, uint16_t id1, void* object0, void* object1,
                             uint32_t room) {
    if (id0 > id1) {
        std::swap(id0, id1);
        std::swap(object0, object1);
    }
    if (SapPair* existing = Find(id0, id1)) {
        return existing;
    }
    if (count_ >= room) {
        return nullptr;
    }
    if (count_ == tableSize_) {
        Rehash(PowerOfTwoAbove(count_ + 1));
    }
    const uint32_t index = count_++;
    pairs_[index] = SapPair{id0, id1, object0, object1, 0, false, false, false};
    uint32_t& head = buckets_[HashPair(id0, id1) & (tableSize_ - 1)];
    next_[index] = head;
    head = index;
    return &pairs_[index];
}

bool SapPairManager::Remove(uint16_t id0, uint16_t id1) {
    const uint32_t index = FindIndex(id0, id1);
    if (index == None) {
        return false;
    }
    RemoveAt(index);
    ShrinkToFit();
    return true;
}

void SapPairManager::RemoveMarked(const BitArray& boxes) {
    uint32_t index = 0;
    while (index < count_) {
        if (boxes.IsSet(pairs_[index].id0) || boxes.IsSet(pairs_[index].id1)) {
            RemoveAt(index); // the last pair moved in is tested next
        } else {
            ++index;
        }
    }
    ShrinkToFit();
}

void SapPairManager::RemoveAt(uint32_t index) {
    auto unlink = [this](uint32_t pair) {
        uint32_t* link = &buckets_[HashPair(pairs_[pair].id0, pairs_[pair].id1) & (tableSize_ - 1)];
        while (*link != pair) {
            link = &next_[*link];
        }
        *link = next_[pair];
    };
    unlink(index);
    const uint32_t last = count_ - 1;
    if (index != last) {
        unlink(last);
        pairs_[index] = pairs_[last];
        uint32_t& head = buckets_[HashPair(pairs_[index].id0, pairs_[index].id1) & (tableSize_ - 1)];
        next_[index] = head;
        head = index;
    }
    --count_;
}

void SapPairManager::ShrinkToFit() {
    const uint32_t fit = PowerOfTwoAbove(count_);
    if (fit < tableSize_) {
        Rehash(fit);
    }
}

void SapPairManager::Rehash(uint32_t size) {
    ReallocateRecords(pairs_, count_, size);
    FreeRecords(buckets_);
    FreeRecords(next_);
    buckets_ = AllocateRecords<uint32_t>(size);
    next_ = AllocateRecords<uint32_t>(size);
    tableSize_ = size;
    std::fill(buckets_, buckets_ + size, None);
    for (uint32_t i = 0; i < count_; ++i) {
        uint32_t& head = buckets_[HashPair(pairs_[i].id0, pairs_[i].id1) & (size - 1)];
        next_[i] = head;
        head = i;
    }
}

// ArraySweepAndPrune --------------------------------------------------------------------------

ArraySweepAndPrune::ArraySweepAndPrune() {
    GrowEndpoints(2);
    for (Endpoint* array : endpoints_) {
        array[0] = {0, LowSentinelData};
        array[1] = {0xFFFFFFFF, HighSentinelData};
    }
}

ArraySweepAndPrune::~ArraySweepAndPrune() {
    FreeRecords(boxes_);
    for (Endpoint* array : endpoints_) {
        FreeRecords(array);
    }
}

void ArraySweepAndPrune::GrowEndpoints(uint32_t count) {
    if (count <= endpointCapacity_) {
        return;
    }
    const uint32_t capacity = std::max(count, endpointCapacity_ * 2);
    for (Endpoint*& array : endpoints_) {
        ReallocateRecords(array, array ? endpointCount_ : 0, capacity);
    }
    endpointCapacity_ = capacity;
}

uint32_t ArraySweepAndPrune::AddObject(void* object, uint32_t, const float box[6]) {
    uint32_t handle = firstFree_;
    if (handle != InvalidHandle) {
        firstFree_ = boxes_[handle].handleOrNextFree;
    } else {
        if (boxCount_ == MaxBoxes) {
            return InvalidHandle;
        }
        if (boxCount_ == boxCapacity_) {
            const uint32_t capacity = std::min(MaxBoxes, std::max(16u, boxCapacity_ * 2));
            ReallocateRecords(boxes_, boxCount_, capacity);
            boxCapacity_ = capacity;
        }
        handle = boxCount_++;
    }
    BoxRecord& record = boxes_[handle];
    std::fill(record.minIndex, record.minIndex + 3, InvalidHandle);
    std::fill(record.maxIndex, record.maxIndex + 3, InvalidHandle);
    record.object = object;
    record.handleOrNextFree = handle;
    std::copy(box, box + 6, record.pending);
    record.live = true;
    record.dying = false;
    pendingAdds_.Add(handle);
    return handle;
}

bool ArraySweepAndPrune::RemoveObject(uint32_t handle) {
    if (handle >= boxCount_ || !boxes_[handle].live || boxes_[handle].dying) {
        return false;
    }
    boxes_[handle].dying = true;
    pendingRemoves_.Add(handle);
    return true;
}

uint32_t ArraySweepAndPrune::BoxValue(const BoxRecord& box, int bound) const {
    const int axis = bound % 3;
    const uint32_t index = bound < 3 ? box.minIndex[axis] : box.maxIndex[axis];
    return endpoints_[axis][index].value;
}

bool ArraySweepAndPrune::OverlapByPosition(const BoxRecord& a, const BoxRecord& b,
                                           int axis) const {
    return a.minIndex[axis] < b.maxIndex[axis] && b.minIndex[axis] < a.maxIndex[axis];
}

uint32_t ArraySweepAndPrune::PairRoom(bool kept) const {
    const uint64_t limit = kept ? std::max(pairLimit_, keptPairLimit_) : pairLimit_;
    const uint64_t room = std::min(limit + partedPairs_, MaxHeldPairsPerLimit * limit);
    return static_cast<uint32_t>(std::min<uint64_t>(room, SapPairManager::None));
}

bool ArraySweepAndPrune::RefusesPair(uint32_t held, uint32_t handle0, uint32_t handle1) const {
    if (held < PairRoom()) {
        return false;
    }
    return !keepsPair_ || held >= PairRoom(true) ||
           !keepsPair_(boxes_[handle0].object, boxes_[handle1].object);
}

void ArraySweepAndPrune::AddTouchedPair(uint32_t handle0, uint32_t handle1) {
    const uint32_t before = pairManager_.GetCount();
    const uint16_t id0 = static_cast<uint16_t>(handle0);
    const uint16_t id1 = static_cast<uint16_t>(handle1);
    SapPair* pair = before < PairRoom() ? nullptr : pairManager_.Find(id0, id1);
    if (!pair) {
        if (RefusesPair(before, handle0, handle1)) {
            ++refusedPairs_;
            return;
        }
        pair = pairManager_.Add(id0, id1, boxes_[handle0].object, boxes_[handle1].object);
    }
    if (pairManager_.GetCount() != before) {
        pair->isNew = true;
    }
    if (pair->deleted) {
        --partedPairs_;
    }
    pair->deleted = false;
    if (!pair->touched) {
        pair->touched = true;
        touched_.Add(PairKey(handle0, handle1));
    }
}

void ArraySweepAndPrune::AddInsertedPair(uint32_t handle0, uint32_t handle1) {
    if (RefusesPair(pairManager_.GetCount(), handle0, handle1)) {
        ++refusedPairs_;
    } else {
        AddTouchedPair(handle0, handle1);
    }
}

uint64_t ArraySweepAndPrune::TakeRefusedPairCount() {
    const uint64_t count = refusedPairs_;
    refusedPairs_ = 0;
    return count;
}

void ArraySweepAndPrune::DeleteTouchedPair(uint32_t handle0, uint32_t handle1) {
    SapPair* pair = pairManager_.Find(static_cast<uint16_t>(handle0),
                                      static_cast<uint16_t>(handle1));
    if (!pair) {
        return;
    }
    if (!pair->deleted) {
        ++partedPairs_;
    }
    pair->deleted = true;
    if (!pair->touched) {
        pair->touched = true;
        touched_.Add(PairKey(handle0, handle1));
    }
}

void ArraySweepAndPrune::MoveEndpoint(int axis, uint32_t index, uint32_t value) {
    Endpoint* array = endpoints_[axis];
    const Endpoint moving{value, array[index].data};
    const bool isMax = IsMaximum(moving.data);
    const uint32_t handle = moving.data >> 2;
    auto place = [&](uint32_t at, const Endpoint& endpoint) {
        array[at] = endpoint;
        BoxRecord& record = boxes_[endpoint.data >> 2];
        (IsMaximum(endpoint.data) ? record.maxIndex : record.minIndex)[axis] = at;
    };
    // A minimum goes below a maximum of equal value, a maximum above a minimum: touching boxes
    // overlap.
    auto crossed = [&](const Endpoint& neighbour, uint32_t at, bool movingDown) {
        const uint32_t other = neighbour.data >> 2;
        place(at, neighbour);
        if (other == handle || isMax == IsMaximum(neighbour.data)) {
            return;
        }
        // Did the move open this axis's interval onto the other box, or close it?
        const bool opens = movingDown ? !isMax : isMax;
        const BoxRecord& mine = boxes_[handle];
        const BoxRecord& theirs = boxes_[other];
        if (!opens) {
            // A held pair overlaps on every axis until it is flagged parted; apart on another
            // axis, it is gone or flagged already, so the lookup (most of a crowded axis's
            // crossings) is skipped.
            if (OverlapByPosition(mine, theirs, (axis + 1) % 3) &&
                OverlapByPosition(mine, theirs, (axis + 2) % 3)) {
                DeleteTouchedPair(handle, other);
            }
            return;
        }
        if (OverlapByPosition(mine, theirs, 0) && OverlapByPosition(mine, theirs, 1) &&
            OverlapByPosition(mine, theirs, 2)) {
            AddTouchedPair(handle, other);
        }
    };
    for (;;) {
        const Endpoint below = array[index - 1];
        if (IsSentinel(below.data) ||
            !(below.value > value ||
              (below.value == value && !isMax && IsMaximum(below.data)))) {
            break;
        }
        place(index - 1, moving);
        crossed(below, index, true);
        --index;
    }
    for (;;) {
        const Endpoint above = array[index + 1];
        if (IsSentinel(above.data) ||
            !(above.value < value ||
              (above.value == value && isMax && !IsMaximum(above.data)))) {
            break;
        }
        place(index + 1, moving);
        crossed(above, index, false);
        ++index;
    }
    place(index, moving);
}

bool ArraySweepAndPrune::UpdateObject(uint32_t handle, const float box[6]) {
    if (handle >= boxCount_ || !boxes_[handle].live || boxes_[handle].dying) {
        return false;
    }
    BoxRecord& record = boxes_[handle];
    if (!IsInserted(record)) {
        std::copy(box, box + 6, record.pending);
        return true;
    }
    for (int axis = 0; axis < 3; ++axis) {
        const uint32_t newMin = EncodeSortableFloat(box[axis]);
        const uint32_t newMax = EncodeSortableFloat(box[axis + 3]);
        // The leading end moves first, so that a box never passes its own other end.
        if (newMin < endpoints_[axis][record.minIndex[axis]].value) {
            MoveEndpoint(axis, record.minIndex[axis], newMin);
            MoveEndpoint(axis, record.maxIndex[axis], newMax);
        } else {
            MoveEndpoint(axis, record.maxIndex[axis], newMax);
            MoveEndpoint(axis, record.minIndex[axis], newMin);
        }
    }
    return true;
}

void ArraySweepAndPrune::InsertPending() {
    // The boxes to insert with their encoded bounds; one added and removed again stays out.
    uint32_t newCount = 0;
    uint32_t* added = pendingAdds_.GetEntries();
    for (uint32_t i = 0; i < pendingAdds_.GetCount(); ++i) {
        const BoxRecord& record = boxes_[added[i]];
        if (record.live && !record.dying && !IsInserted(record)) {
            added[newCount++] = added[i];
        }
    }
    pendingAdds_.Clear();
    if (newCount == 0) {
        return;
    }
    auto* bounds = AllocateRecords<BoundsWords>(newCount);
    auto* keys = AllocateRecords<uint32_t>(2 * size_t{newCount});
    for (uint32_t i = 0; i < newCount; ++i) {
        for (int b = 0; b < 6; ++b) {
            bounds[i].value[b] = EncodeSortableFloat(boxes_[added[i]].pending[b]);
        }
        keys[i] = bounds[i].value[0];
    }
    auto overlapYZ = [](const BoundsWords& a, const BoundsWords& b) {
        return a.value[1] <= b.value[4] && b.value[1] <= a.value[4] && a.value[2] <= b.value[5] &&
               b.value[2] <= a.value[5];
    };

    // New against new, sweeping along x.
    RadixSort newOrder;
    const uint32_t* sorted = newOrder.Sort(keys, newCount).GetRanks();
    for (uint32_t i = 0; i < newCount; ++i) {
        const BoundsWords& a = bounds[sorted[i]];
        for (uint32_t j = i + 1; j < newCount && bounds[sorted[j]].value[0] <= a.value[3]; ++j) {
            if (overlapYZ(a, bounds[sorted[j]])) {
                AddInsertedPair(added[sorted[i]], added[sorted[j]]);
            }
        }
    }

    // New against present: the present boxes in the order of their minimum x, read off the x
    // array. Each pair is found once: a present box whose minimum equals a new one's is found
    // from the new box.
    const uint32_t presentCount = (endpointCount_ - 2) / 2;
    if (presentCount) {
        auto* present = AllocateRecords<uint32_t>(presentCount);
        uint32_t n = 0;
        for (uint32_t e = 1; e + 1 < endpointCount_; ++e) {
            if (!IsMaximum(endpoints_[0][e].data)) {
                present[n++] = endpoints_[0][e].data >> 2;
            }
        }
        auto presentBounds = [&](uint32_t handle) {
            BoundsWords words;
            for (int b = 0; b < 6; ++b) {
                words.value[b] = BoxValue(boxes_[handle], b);
            }
            return words;
        };
        uint32_t start = 0;
        for (uint32_t i = 0; i < newCount; ++i) {
            const BoundsWords& a = bounds[sorted[i]];
            while (start < n && BoxValue(boxes_[present[start]], 0) < a.value[0]) {
                ++start;
            }
            for (uint32_t j = start; j < n && BoxValue(boxes_[present[j]], 0) <= a.value[3]; ++j) {
                if (overlapYZ(a, presentBounds(present[j]))) {
                    AddInsertedPair(added[sorted[i]], present[j]);
                }
            }
        }
        start = 0;
        for (uint32_t j = 0; j < n; ++j) {
            const BoundsWords p = presentBounds(present[j]);
            while (start < newCount && bounds[sorted[start]].value[0] <= p.value[0]) {
                ++start;
            }
            for (uint32_t i = start; i < newCount && bounds[sorted[i]].value[0] <= p.value[3];
                 ++i) {
                if (overlapYZ(p, bounds[sorted[i]])) {
                    AddInsertedPair(added[sorted[i]], present[j]);
                }
            }
        }
        FreeRecords(present);
    }

    // Merge each axis's new endpoints from the top down; minima come first in the key list, so
    // the stable sort puts them below maxima of equal value.
    GrowEndpoints(endpointCount_ + 2 * newCount);
    const uint32_t total = endpointCount_ + 2 * newCount;
    for (int axis = 0; axis < 3; ++axis) {
        Endpoint* array = endpoints_[axis];
        for (uint32_t i = 0; i < newCount; ++i) {
            keys[i] = bounds[i].value[axis];
            keys[newCount + i] = bounds[i].value[axis + 3];
        }
        const uint32_t* ranks = sorter_.Sort(keys, 2 * newCount).GetRanks();
        auto place = [&](uint32_t at, const Endpoint& endpoint) {
            array[at] = endpoint;
            BoxRecord& record = boxes_[endpoint.data >> 2];
            (IsMaximum(endpoint.data) ? record.maxIndex : record.minIndex)[axis] = at;
        };
        array[total - 1] = {0xFFFFFFFF, HighSentinelData};
        uint32_t old = endpointCount_ - 2; // highest present endpoint; 0 is the low sentinel
        uint32_t write = total - 2;
        for (uint32_t j = 2 * newCount; j-- > 0;) {
            const uint32_t rank = ranks[j];
            const uint32_t box = rank % newCount;
            const bool isMax = rank >= newCount;
            const Endpoint incoming{keys[rank], (added[box] << 2) | (isMax ? MaxFlag : 0)};
            while (old > 0 && (array[old].value > incoming.value ||
                               (array[old].value == incoming.value &&
                                IsMaximum(array[old].data) && !isMax))) {
                place(write--, array[old--]);
            }
            place(write--, incoming);
        }
    }
    endpointCount_ = total;
    FreeRecords(keys);
    FreeRecords(bounds);
}

void ArraySweepAndPrune::RemovePending(DeletedPairCallback deleted, void* userData) {
    if (pendingRemoves_.GetCount() == 0) {
        return;
    }
    BitArray removed(MaxBoxes);
    uint32_t lowest[3] = {endpointCount_, endpointCount_, endpointCount_};
    for (uint32_t i = 0; i < pendingRemoves_.GetCount(); ++i) {
        const BoxRecord& record = boxes_[pendingRemoves_[i]];
        removed.Set(pendingRemoves_[i]);
        if (IsInserted(record)) {
            // Both ends: an inverted box (NaN, or a minimum above its maximum) may keep its
            // maximum below its minimum.
            for (int axis = 0; axis < 3; ++axis) {
                lowest[axis] = std::min({lowest[axis], record.minIndex[axis], record.maxIndex[axis]});
            }
        }
    }
    // Reported pairs of a removed box are reported gone; unreported ones vanish quietly.
    SapPair* pairs = pairManager_.GetPairs();
    for (uint32_t i = 0; deleted && i < pairManager_.GetCount(); ++i) {
        if (!pairs[i].isNew && (removed.IsSet(pairs[i].id0) || removed.IsSet(pairs[i].id1))) {
            deleted(pairs[i].object0, pairs[i].object1, userData, pairs[i].userData);
        }
    }
    pairManager_.RemoveMarked(removed);

    uint32_t remaining = endpointCount_;
    for (int axis = 0; axis < 3; ++axis) {
        Endpoint* array = endpoints_[axis];
        uint32_t write = lowest[axis];
        for (uint32_t read = lowest[axis]; read < endpointCount_; ++read) {
            const Endpoint endpoint = array[read];
            const uint32_t handle = endpoint.data >> 2;
            if (!IsSentinel(endpoint.data) && removed.IsSet(handle)) {
                continue;
            }
            array[write] = endpoint;
            if (!IsSentinel(endpoint.data)) {
                BoxRecord& record = boxes_[handle];
                (IsMaximum(endpoint.data) ? record.maxIndex : record.minIndex)[axis] = write;
            }
            ++write;
        }
        remaining = write;
    }
    endpointCount_ = remaining;

    for (uint32_t i = 0; i < pendingRemoves_.GetCount(); ++i) {
        BoxRecord& record = boxes_[pendingRemoves_[i]];
        std::fill(record.minIndex, record.minIndex + 3, InvalidHandle);
        std::fill(record.maxIndex, record.maxIndex + 3, InvalidHandle);
        record.live = false;
        record.dying = false;
        record.object = nullptr;
        record.handleOrNextFree = firstFree_;
        firstFree_ = pendingRemoves_[i];
    }
    pendingRemoves_.Clear();
}

uint32_t ArraySweepAndPrune::DumpPairs(CreatedPairCallback created, DeletedPairCallback deleted,
                                       void* userData, SapPair** pairs) {
    InsertPending();
    // The touched pairs, in touch order; the keys of those to drop are gathered at the front.
    uint32_t* keys = touched_.GetEntries();
    uint32_t dropCount = 0;
    for (uint32_t i = 0; i < touched_.GetCount(); ++i) {
        const uint16_t id0 = static_cast<uint16_t>(keys[i] & 0xFFFF);
        const uint16_t id1 = static_cast<uint16_t>(keys[i] >> 16);
        SapPair* pair = pairManager_.Find(id0, id1);
        if (!pair) {
            continue;
        }
        if (pair->deleted) {
            if (deleted && !pair->isNew) {
                deleted(pair->object0, pair->object1, userData, pair->userData);
            }
            keys[dropCount++] = keys[i];
            continue;
        }
        pair->touched = false;
        // A pair of a box on its way out stays unreported, and goes quietly with the box.
        if (pair->isNew && !boxes_[id0].dying && !boxes_[id1].dying) {
            pair->isNew = false;
            if (created) {
                const uintptr_t data = created(pair->object0, pair->object1, userData);
                pairManager_.Find(id0, id1)->userData = data;
            }
        }
    }
    for (uint32_t i = 0; i < dropCount; ++i) {
        pairManager_.Remove(static_cast<uint16_t>(keys[i] & 0xFFFF),
                            static_cast<uint16_t>(keys[i] >> 16));
    }
    partedPairs_ = 0;
    touched_.Clear();
    RemovePending(deleted, userData);
    if (pairs) {
        *pairs = pairManager_.GetPairs();
    }
    return pairManager_.GetCount();
}

} // namespace quarn
