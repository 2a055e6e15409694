#include "physics/ContactMemory.h"

#include "physics/ContactJoint.h"

#include <algorithm>

namespace quarn {
namespace {

// Farther apart than this the two points are taken for different contacts: a resting contact
// stays within it, and a wrong match only costs the solve a few sweeps.
constexpr float MatchDistanceSquared = 0.02f * 0.02f;
constexpr float MatchCosine = 0.9f;

} // namespace

size_t ContactMemory::Hash(uint64_t first, uint64_t second) {
    const uint64_t mixed = (first * 0x9E3779B97F4A7C15ull) ^ (second * 0xC2B2AE3D27D4EB4Full);
    return static_cast<size_t>(mixed ^ (mixed >> 29));
}

void ContactMemory::Keep(const std::unique_ptr<ContactJoint>* contacts, int32_t count) {
    kept_.clear();
    size_t capacity = 16;
    while (capacity < 2 * static_cast<size_t>(count)) {
        capacity *= 2;
    }
    slots_.assign(capacity, Slot());
    Slot* open = nullptr;
    for (int32_t i = 0; i < count; ++i) {
        const ContactJoint& contact = *contacts[i];
        if (!contact.GetBody(0)) {
            continue;
        }
        const uint64_t first = contact.GetVolumeSerial(0);
        const uint64_t second = contact.GetVolumeSerial(1);
        if (!open || open->first != first || open->second != second) {
            // A pair met again later keeps only its first run.
            size_t at = Hash(first, second) & (capacity - 1);
            while (slots_[at].run.count != 0 &&
                   (slots_[at].first != first || slots_[at].second != second)) {
                at = (at + 1) & (capacity - 1);
            }
            open = slots_[at].run.count == 0 ? &slots_[at] : nullptr;
            if (open) {
                open->first = first;
                open->second = second;
                open->run.start = static_cast<int32_t>(kept_.size());
            }
        }
        if (!open) {
            continue;
        }
        ++open->run.count;
        kept_.push_back({contact.position, contact.normal, contact.GetNormalForce(),
                         contact.GetFrictionForce()});
    }
}

ContactMemory::Run ContactMemory::Find(uint64_t first, uint64_t second) const {
    if (slots_.empty()) {
        return {};
    }
    const size_t mask = slots_.size() - 1;
    for (size_t at = Hash(first, second) & mask; slots_[at].run.count != 0; at = (at + 1) & mask) {
        if (slots_[at].first == first && slots_[at].second == second) {
            return slots_[at].run;
        }
    }
    return {};
}

void ContactMemory::Recall(Run run, ContactJoint& contact) const {
    const Kept* nearest = nullptr;
    float nearestDistance = MatchDistanceSquared;
    for (int32_t i = run.start; i < run.start + run.count; ++i) {
        const Kept& kept = kept_[static_cast<size_t>(i)];
        const float distance = (kept.position - contact.position).LengthSquared();
        if (distance <= nearestDistance && kept.normal.Dot(contact.normal) >= MatchCosine) {
            nearest = &kept;
            nearestDistance = distance;
        }
    }
    if (nearest) {
        contact.WarmStart(nearest->normalForce, nearest->frictionForce);
    }
}

} // namespace quarn
