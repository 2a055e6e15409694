#include "physics/ContactEvents.h"

#include "collision/CollisionVolume.h"
#include "core/object/EntityRef.h"
#include "core/scene/Node.h"
#include "core/scene/NodeSignals.h"

#include <utility>

namespace quarn {

namespace {

ContactEvents::Observer observer = nullptr;

Entity* Resolve(uint32_t id) {
    if (id == 0) {
        return nullptr;
    }
    EntityRef reference;
    reference.InitFromId(id);
    return reference.GetTarget();
}

// The volume still alive under that serial, else null.
CollisionVolume* LiveVolume(uint64_t serial) {
    return dynamic_cast<CollisionVolume*>(Entity::FindBySerial(serial));
}

void SendSignal(CollisionVolume& volume, const EntityRef& signal, Entity* other, float value) {
    EntityRef sender;
    sender.InitFromId(volume.GetId());
    Entity::SendEvent(sender, signal, other, value);
}

} // namespace

void ContactEvents::SetObserver(Observer newObserver) {
    observer = newObserver;
}

const char* ContactEvents::GetKindName(Kind kind) {
    switch (kind) {
    case Trig:
        return "trig";
    case Probe:
        return "probe";
    default:
        return "collision";
    }
}

ContactEvents::Event& ContactEvents::Queue(Kind kind, const CollisionVolume& a,
                                           const CollisionVolume& b) {
    Event& event = events_.emplace_back();
    event.kind = kind;
    event.words[0] = a.GetId();
    event.words[1] = b.GetId();
    event.wordCount = 2;
    return event;
}

void ContactEvents::Dispatch() {
    // A handler may queue more events, step the world or delete it: work on a list of our own.
    const std::vector<Event> batch = std::exchange(events_, {});
    for (const Event& event : batch) {
        if (observer) {
            observer(event);
        }
        const std::span<const uint32_t> record(event.words, event.wordCount);
        for (uint32_t recipient : event.recipients) {
            if (auto* node = dynamic_cast<Node*>(Resolve(recipient))) {
                CallMethodWithRecordInSubtree(node, GetKindName(event.kind), record, true);
            }
        }
    }
}

void ContactEvents::Touch(const CollisionVolume& a, const CollisionVolume& b) {
    const CollisionVolume* low = &a;
    const CollisionVolume* high = &b;
    if (high->GetSerial() < low->GetSerial()) {
        std::swap(low, high);
    }
    const PairKey key{low->GetSerial(), high->GetSerial()};
    auto [slot, added] = pairIndex_.try_emplace(key, pairs_.size());
    if (added) {
        pairs_.push_back(
            {{key.first, key.second}, {low->GetId(), high->GetId()}, step_, step_, {false, false}});
    } else {
        pairs_[slot->second].lastStep = step_;
    }
}

void ContactEvents::Scan() {
    // Handlers may touch pairs, delete volumes or delete the world: walk by index, look volumes
    // up each time and stop once the world is gone.
    const std::shared_ptr<bool> alive = alive_;
    size_t kept = 0;
    for (size_t i = 0; i < pairs_.size(); ++i) {
        if (pairs_[i].firstStep == step_) {
            for (int side = 0; side < 2; ++side) {
                CollisionVolume* self = LiveVolume(pairs_[i].serials[side]);
                CollisionVolume* other = LiveVolume(pairs_[i].serials[1 - side]);
                if (self && other && self->AcceptsVolume(*other)) {
                    pairs_[i].entered[side] = true;
                    SendSignal(*self, self->GetSignalEnter(), other, 1.0f);
                    if (!*alive) {
                        return;
                    }
                }
            }
        }
        if (pairs_[i].lastStep != step_) {
            const TouchedPair pair = pairs_[i];
            for (int side = 0; side < 2; ++side) {
                CollisionVolume* self = LiveVolume(pair.serials[side]);
                if (self && pair.entered[side]) {
                    // A deleted partner reaches the survivor as its id's target: none.
                    SendSignal(*self, self->GetSignalLeave(), Resolve(pair.ids[1 - side]), 0.0f);
                    if (!*alive) {
                        return;
                    }
                }
            }
            continue;
        }
        pairs_[kept++] = pairs_[i];
    }
    if (kept == pairs_.size()) {
        ++step_;
        return;
    }
    pairs_.resize(kept);
    pairIndex_.clear();
    for (size_t i = 0; i < pairs_.size(); ++i) {
        pairIndex_[{pairs_[i].serials[0], pairs_[i].serials[1]}] = i;
    }
    ++step_;
}

} // namespace quarn
