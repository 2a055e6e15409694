#include "physics/ContactMemory.h"

#include "physics/ContactJoint.h"

#include <algorithm>
#include <tuple>

namespace quarn {
namespace {

// Farther apart than this the two points are taken for different contacts: a resting contact
// stays within it, and a wrong match only costs the solve a few sweeps.
constexpr float MatchDistanceSquared = 0.02f * 0.02f;
constexpr float MatchCosine = 0.9f;

} // namespace

bool ContactMemory::ByPair(const Kept& a, const Kept& b) {
    return std::tie(a.first, a.second) < std::tie(b.first, b.second);
}

void ContactMemory::Keep(const std::unique_ptr<ContactJoint>* contacts, int32_t count) {
    kept_.clear();
    for (int32_t i = 0; i < count; ++i) {
        const ContactJoint& contact = *contacts[i];
        if (!contact.GetBody(0)) {
            continue;
        }
        Kept kept;
        kept.first = contact.GetVolumeSerial(0);
        kept.second = contact.GetVolumeSerial(1);
        kept.position = contact.position;
        kept.normal = contact.normal;
        kept.normalForce = contact.GetNormalForce();
        kept.frictionForce = contact.GetFrictionForce();
        kept_.push_back(kept);
    }
    std::sort(kept_.begin(), kept_.end(), ByPair);
}

void ContactMemory::Recall(ContactJoint& contact) const {
    Kept pair;
    pair.first = contact.GetVolumeSerial(0);
    pair.second = contact.GetVolumeSerial(1);
    const auto run = std::equal_range(kept_.begin(), kept_.end(), pair, ByPair);
    const Kept* nearest = nullptr;
    float nearestDistance = MatchDistanceSquared;
    for (auto kept = run.first; kept != run.second; ++kept) {
        const float distance = (kept->position - contact.position).LengthSquared();
        if (distance <= nearestDistance && kept->normal.Dot(contact.normal) >= MatchCosine) {
            nearest = &*kept;
            nearestDistance = distance;
        }
    }
    if (nearest) {
        contact.WarmStart(nearest->normalForce, nearest->frictionForce);
    }
}

} // namespace quarn
