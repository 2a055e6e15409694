#include "collision/CollisionSpaceSweepnPrune.h"

#include "collision/CollisionVolume.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/os/EditorToolbar.h"
#include "core/scene/EngineState.h"
#include "resources/DynamicMesh.h"

#include <algorithm>
#include <cstdio>

namespace quarn {

ClassInfo* CollisionSpaceSweepnPrune::classInfo = nullptr;

namespace {

// The spaces of this class in creation order, for the toolbar.
std::vector<CollisionSpaceSweepnPrune*>& Instances() {
    static std::vector<CollisionSpaceSweepnPrune*> instances;
    return instances;
}

void WorldBoxFloats(CollisionVolume& volume, float box[6]) {
    const Aabb bounds = volume.GetWorldBoundingBox();
    box[0] = bounds.min.x;
    box[1] = bounds.min.y;
    box[2] = bounds.min.z;
    box[3] = bounds.max.x;
    box[4] = bounds.max.y;
    box[5] = bounds.max.z;
}

constexpr uint32_t NoHandle = 0xFFFFFFFF;

} // namespace

CollisionSpaceSweepnPrune::CollisionSpaceSweepnPrune()
    : sweepAndPrune_(std::make_unique<ArraySweepAndPrune>()) {
    UpdatePairLimit();
    Instances().push_back(this);
}

CollisionSpaceSweepnPrune::~CollisionSpaceSweepnPrune() {
    // Without the sweep-and-prune each removal only unlinks its volume.
    sweepAndPrune_.reset();
    ClearPairs();
    while (CollisionVolume* volume = GetFirstVolume()) {
        RemoveVolume(*volume);
    }
    std::erase(Instances(), this);
}

void CollisionSpaceSweepnPrune::SetMaxVolumes(int32_t count) {
    // Dropping a count past the cap would leave the space empty and every body without it.
    if (count > MaxVolumeLimit) {
        LogMessage("Sweep-and-prune space \"%s\": maxvolumes %d is more than %d; %d is taken",
                   GetName().c_str(), count, MaxVolumeLimit, MaxVolumeLimit);
        count = MaxVolumeLimit;
    }
    if (count <= 0 || count < sapVolumeCount_) {
        return;
    }
    if (count > maxVolumes_) {
        // The new numbers go below the free ones, so that those are taken first; numbers in
        // use are never handed out twice.
        std::vector<uint32_t> ids;
        ids.reserve(static_cast<size_t>(count));
        for (int32_t id = count; id-- > maxVolumes_;) {
            ids.push_back(static_cast<uint32_t>(id));
        }
        ids.insert(ids.end(), freeIds_.begin(), freeIds_.end());
        freeIds_.swap(ids);
    } else {
        // Numbers at or above the new limit are no longer handed out.
        std::erase_if(freeIds_, [count](uint32_t id) { return id >= static_cast<uint32_t>(count); });
    }
    maxVolumes_ = count;
    fullReported_ = false;
}

void CollisionSpaceSweepnPrune::ReportFull() {
    if (!fullReported_) {
        fullReported_ = true;
        ValidityReport("Max volumes reached in sweep-n-prune space \"%s\" (maxvolumes = %d)",
                       GetName().c_str(), maxVolumes_);
    }
}

void CollisionSpaceSweepnPrune::AddVolume(CollisionVolume& volume) {
    if (!sweepAndPrune_ || volume.GetSpace() == this) {
        return;
    }
    if (sapVolumeCount_ >= maxVolumes_ || freeIds_.empty()) {
        ReportFull();
        return;
    }
    if (CollisionSpace* previous = volume.GetSpace()) {
        previous->RemoveVolume(volume);
    }
    if (pendingRemoves_ || pendingUpdates_) {
        DumpPairs();
    }
    const uint32_t number = freeIds_.back();
    float box[6];
    WorldBoxFloats(volume, box);
    const uint32_t handle = sweepAndPrune_->AddObject(&volume, number, box);
    if (handle == ArraySweepAndPrune::InvalidHandle) {
        ReportFull();
        return;
    }
    freeIds_.pop_back();
    volume.sapHandle_ = handle + (number << 16);
    ++sapVolumeCount_;
    UpdatePairLimit();
    CollisionSpace::AddVolume(volume);
    ++pendingAdds_;
}

void CollisionSpaceSweepnPrune::RemoveVolume(CollisionVolume& volume) {
    if (volume.GetSpace() != this) {
        return;
    }
    if (EngineState == EngineShuttingDown && sweepAndPrune_) {
        // The whole scene goes: nothing is worth keeping up to date.
        sweepAndPrune_.reset();
        freeIds_.clear();
        ClearPairs();
    }
    if (!sweepAndPrune_) {
        CollisionSpace::RemoveVolume(volume);
        volume.sapHandle_ = NoHandle;
        --sapVolumeCount_;
        return;
    }
    if (pendingAdds_ || pendingUpdates_) {
        DumpPairs();
    }
    freeIds_.push_back(volume.sapHandle_ >> 16);
    sweepAndPrune_->RemoveObject(volume.sapHandle_ & 0xFFFF);
    CollisionSpace::RemoveVolume(volume);
    volume.sapHandle_ = NoHandle;
    --sapVolumeCount_;
    UpdatePairLimit();
    ++pendingRemoves_;
    pairsValid_ = false;
    Prepare();
}

void CollisionSpaceSweepnPrune::VolumeMoved(CollisionVolume& volume) {
    if (!sweepAndPrune_ || volume.GetSpace() != this) {
        return;
    }
    if (pendingAdds_ || pendingRemoves_) {
        DumpPairs();
    }
    float box[6];
    WorldBoxFloats(volume, box);
    sweepAndPrune_->UpdateObject(volume.sapHandle_ & 0xFFFF, box);
    ++pendingUpdates_;
}

bool CollisionSpaceSweepnPrune::SkipsPair(const CollisionVolume& a, const CollisionVolume& b) {
    return (a.HasCollFlags(CollStatic) && b.HasCollFlags(CollStatic)) || !a.IsFullyEnabled() ||
           !b.IsFullyEnabled();
}

uintptr_t CollisionSpaceSweepnPrune::OnPairCreated(void* a, void* b, void* space) {
    auto* first = static_cast<CollisionVolume*>(a);
    auto* second = static_cast<CollisionVolume*>(b);
    if (first == second || SkipsPair(*first, *second)) {
        return 0;
    }
    return static_cast<CollisionSpaceSweepnPrune*>(space)->FindOrCreatePair(*first, *second) ? 1
                                                                                                : 0;
}

void CollisionSpaceSweepnPrune::OnPairDeleted(void* a, void* b, void* space, uintptr_t pairData) {
    auto* self = static_cast<CollisionSpaceSweepnPrune*>(space);
    if (!pairData) {
        return;
    }
    if (CollisionPair* record = self->FindPair(*static_cast<CollisionVolume*>(a),
                                               *static_cast<CollisionVolume*>(b))) {
        self->RemovePair(*record);
    }
}

void CollisionSpaceSweepnPrune::DumpPairs() {
    sweepAndPrune_->DumpPairs(&OnPairCreated, &OnPairDeleted, this, nullptr);
    pendingAdds_ = pendingRemoves_ = pendingUpdates_ = 0;
    CountRefusedPairs();
}

void CollisionSpaceSweepnPrune::UpdatePairLimit() {
    sweepAndPrune_->SetPairLimit(PairLimitFor(sapVolumeCount_, false));
    sweepAndPrune_->SetKeptPairs(PairLimitFor(sapVolumeCount_, true), &KeepsPairFirst);
}

bool CollisionSpaceSweepnPrune::KeepsPairFirst(void* a, void* b) {
    return CollisionSpace::KeepsPairFirst(*static_cast<CollisionVolume*>(a),
                                          *static_cast<CollisionVolume*>(b));
}

void CollisionSpaceSweepnPrune::CountRefusedPairs() {
    CountDroppedPairs(sweepAndPrune_->TakeRefusedPairCount(), "the sweep-and-prune",
                      sweepAndPrune_->GetPairLimit());
}

void CollisionSpaceSweepnPrune::Prepare() {
    if (!sweepAndPrune_) {
        return;
    }
    if (pairsValid_) {
        DumpPairs();
        return;
    }
    ClearPairs();
    SapPair* pairs = nullptr;
    const uint32_t count = sweepAndPrune_->DumpPairs(nullptr, nullptr, nullptr, &pairs);
    for (uint32_t i = 0; i < count; ++i) {
        pairs[i].userData = OnPairCreated(pairs[i].object0, pairs[i].object1, this);
    }
    pairsValid_ = true;
    pendingAdds_ = pendingRemoves_ = pendingUpdates_ = 0;
    CountRefusedPairs();
}

void CollisionSpaceSweepnPrune::Collide(void*, CollisionPairCallback callback) {
    // The used list visits records scattered over the table, and each record leads on to its two
    // volumes: fetching both a few pairs ahead hides most of the misses the filter would wait on.
    constexpr uint32_t RecordsAhead = 8;
    constexpr uint32_t VolumesAhead = 4;
    for (uint32_t i = 0; i < GetUsedPairCount(); ++i) {
        if (i + RecordsAhead < GetUsedPairCount()) {
            const char* ahead = reinterpret_cast<const char*>(&GetUsedPair(i + RecordsAhead));
            __builtin_prefetch(ahead);
            __builtin_prefetch(ahead + sizeof(CollisionPair) - 1);
        }
        if (i + VolumesAhead < GetUsedPairCount()) {
            const CollisionPair& ahead = GetUsedPair(i + VolumesAhead);
            __builtin_prefetch(ahead.firstVolume);
            __builtin_prefetch(ahead.secondVolume);
        }
        FilterCachedPair(GetUsedPair(i), callback);
    }
}

void CollisionSpaceSweepnPrune::Rebuild() {
    if (!sweepAndPrune_) {
        return;
    }
    for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
        sweepAndPrune_->RemoveObject(v->sapHandle_ & 0xFFFF);
    }
    sweepAndPrune_->DumpPairs(nullptr, nullptr, nullptr, nullptr);
    ClearPairs();
    for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
        const uint32_t number = v->sapHandle_ >> 16;
        float box[6];
        WorldBoxFloats(*v, box);
        v->sapHandle_ = sweepAndPrune_->AddObject(v, number, box) + (number << 16);
    }
    DumpPairs();
    pairsValid_ = true;
}

int32_t CollisionSpaceSweepnPrune::Render() {
    if (spaceFlags_ & 0x3) {
        for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
            DrawVolumeBox(*v, v->GetColorArgb(Float3(), 0));
        }
    }
    if (pairsValid_) {
        // Each volume of a used pair once.
        std::vector<CollisionVolume*> drawn;
        for (uint32_t i = 0; i < GetUsedPairCount(); ++i) {
            for (uint64_t serial : {GetUsedPair(i).first, GetUsedPair(i).second}) {
                auto* volume = dynamic_cast<CollisionVolume*>(Entity::FindBySerial(serial));
                if (volume && std::find(drawn.begin(), drawn.end(), volume) == drawn.end()) {
                    drawn.push_back(volume);
                    DrawVolumeBox(*volume, 0xFFFF0000);
                }
            }
        }
    }
    char text[96];
    std::snprintf(text, sizeof text, "%d nodes, %d overlapping pairs", GetVolumeCount(),
                  static_cast<int>(GetUsedPairCount()));
    DrawScreenText(8.0f, 8.0f, text, 0xFFFFFFFF);
    return 0;
}

int32_t CollisionSpaceSweepnPrune::HandleToolbar(int32_t button, int32_t action) {
    const auto& spaces = Instances();
    CollisionSpaceSweepnPrune* space =
        button >= 0 && static_cast<size_t>(button) < spaces.size() && button < 2 ? spaces[button]
                                                                                 : nullptr;
    switch (action) {
    case ToolbarExecute:
        if (space) {
            space->spaceFlags_ ^= 0x1;
        }
        return 0;
    case ToolbarIsEnabled:
        return space ? 1 : 0;
    case ToolbarIsChecked:
        return space && (space->spaceFlags_ & 0x1) ? 1 : 0;
    default:
        return 0;
    }
}

ClassInfo* CollisionSpaceSweepnPrune::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("CollisionSpaceSweepnPrune",
                              []() -> Entity* { return new CollisionSpaceSweepnPrune(); }, &classInfo);
    classInfo->SetParent(CollisionSpace::RegisterClass());
    classInfo->SetCategory("Collision");
    using S = CollisionSpaceSweepnPrune;
    classInfo->AddProperty<PropertyInt, &S::GetMaxVolumes, &S::SetMaxVolumes>("maxvolumes");
    classInfo->AddProperty<PropertyBitfield, &S::GetSpaceFlags, &S::SetSpaceFlags>(
        "spaceflags:show_volumes,show_aabbs,show_active_overlaps_only");
    classInfo->AddMethod("Reset", "()", BindMethod<&S::Reset>(), MethodEditorCommand);
    classInfo->AddMethod("Rebuild", "()", BindMethod<&S::Rebuild>(), MethodEditorCommand);
    RegisterToolbarButton(22, 0, true, "Collision layer", "Layer", &S::HandleToolbar);
    RegisterToolbarButton(23, 1, true, "Area layer", "Layer", &S::HandleToolbar);
    BuildEditorToolbar();
    return classInfo;
}

} // namespace quarn
