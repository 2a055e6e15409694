#include "physics/ContactMemory.h"

#include "physics/ContactJoint.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quarn {
namespace {

// Farther apart than this the two points are taken for different contacts: a resting contact
// stays within it, and a wrong match only costs the solve a few sweeps.
constexpr float MatchDistanceSquared = 0.02f * 0.02f;
constexpr float MatchCosine = 0.9f;
// Along x, a little more than the match distance: a kept contact farther along x than this
// cannot lie within it, rounding and all.
constexpr double MatchWindow = 0.0201;
// Up to this many contacts a pair's kept ones are all looked at: fewer than ordering them
// costs.
constexpr int32_t CrowdedRun = 16;
// How many contacts ahead Keep fetches a pair's slot (and twice as many, the contact itself).
constexpr int32_t PairsAhead = 4;

// Where a run is ordered by x: x itself, a value that is not a number (which matches nothing)
// past every other.
float OrderOf(float x) {
    return std::isnan(x) ? std::numeric_limits<float>::infinity() : x;
}

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
    // The table is reused while it fits, a new generation marking every slot free; it follows
    // the pairs down when they drop to a small share of it.
    ++generation_;
    if (capacity > slots_.size() || capacity * 8 < slots_.size() || generation_ == 0) {
        slots_.assign(capacity, Slot());
        generation_ = 1;
    }
    const size_t mask = slots_.size() - 1;
    crowded_.clear();
    Slot* open = nullptr;
    const auto close = [this](Slot* slot) {
        if (slot && slot->run.count > CrowdedRun) {
            crowded_.push_back(slot);
        }
    };
    for (int32_t i = 0; i < count; ++i) {
        // The contacts lie scattered, and so do their pairs' slots: both are fetched ahead, so
        // that their misses overlap.
        if (i + 2 * PairsAhead < count) {
            const char* ahead = reinterpret_cast<const char*>(contacts[i + 2 * PairsAhead].get());
            for (size_t line = 0; line < sizeof(ContactJoint); line += 64) {
                __builtin_prefetch(ahead + line);
            }
        }
        if (i + PairsAhead < count) {
            const ContactJoint& ahead = *contacts[i + PairsAhead];
            __builtin_prefetch(
                &slots_[Hash(ahead.GetVolumeSerial(0), ahead.GetVolumeSerial(1)) & mask]);
        }
        const ContactJoint& contact = *contacts[i];
        if (!contact.GetBody(0)) {
            continue;
        }
        const uint64_t first = contact.GetVolumeSerial(0);
        const uint64_t second = contact.GetVolumeSerial(1);
        if (!open || open->first != first || open->second != second) {
            close(open);
            // A pair met again later keeps only its first run.
            size_t at = Hash(first, second) & mask;
            while (Used(slots_[at]) && (slots_[at].first != first || slots_[at].second != second)) {
                at = (at + 1) & mask;
            }
            open = Used(slots_[at]) ? nullptr : &slots_[at];
            if (open) {
                open->first = first;
                open->second = second;
                open->run.start = static_cast<int32_t>(kept_.size());
                open->run.count = 0;
                open->generation = generation_;
            }
        }
        if (!open) {
            continue;
        }
        ++open->run.count;
        kept_.push_back({contact.position, contact.normal, contact.GetNormalForce(),
                         contact.GetFrictionForce(), contact.HasSettled()});
    }
    close(open);
    // Runs lie one after another in kept_: each crowded one is ordered by x on its own.
    byX_.resize(kept_.size());
    x_.resize(kept_.size());
    for (const Slot* slot : crowded_) {
        int32_t* begin = byX_.data() + slot->run.start;
        for (int32_t k = 0; k < slot->run.count; ++k) {
            begin[k] = slot->run.start + k;
        }
        std::sort(begin, begin + slot->run.count, [this](int32_t a, int32_t b) {
            const float xa = OrderOf(kept_[static_cast<size_t>(a)].position.x);
            const float xb = OrderOf(kept_[static_cast<size_t>(b)].position.x);
            return xa < xb || (xa == xb && a < b);
        });
        for (int32_t k = slot->run.start; k < slot->run.start + slot->run.count; ++k) {
            x_[static_cast<size_t>(k)] = OrderOf(kept_[static_cast<size_t>(byX_[k])].position.x);
        }
    }
}

ContactMemory::Run ContactMemory::Find(uint64_t first, uint64_t second) const {
    if (slots_.empty()) {
        return {};
    }
    const size_t mask = slots_.size() - 1;
    for (size_t at = Hash(first, second) & mask; Used(slots_[at]); at = (at + 1) & mask) {
        if (slots_[at].first == first && slots_[at].second == second) {
            return slots_[at].run;
        }
    }
    return {};
}

void ContactMemory::Recall(Run run, ContactJoint& contact) const {
    const Kept* nearest = nullptr;
    int32_t nearestIndex = -1;
    float nearestDistance = MatchDistanceSquared;
    // Of two as near the later wins, whatever order they are looked at in.
    const auto consider = [&](int32_t index) {
        const Kept& kept = kept_[static_cast<size_t>(index)];
        const float distance = (kept.position - contact.position).LengthSquared();
        if ((distance < nearestDistance || (distance == nearestDistance && index > nearestIndex)) &&
            kept.normal.Dot(contact.normal) >= MatchCosine) {
            nearest = &kept;
            nearestIndex = index;
            nearestDistance = distance;
        }
    };
    if (run.count <= CrowdedRun) {
        for (int32_t i = run.start; i < run.start + run.count; ++i) {
            consider(i);
        }
    } else if (const double x = contact.position.x; std::isfinite(x)) {
        // Nothing lies near a point that is not finite.
        const float* begin = x_.data() + run.start;
        const float* end = begin + run.count;
        const float* from = std::lower_bound(begin, end, x - MatchWindow,
                                             [](float kept, double low) { return kept < low; });
        for (const float* at = from; at != end && *at <= x + MatchWindow; ++at) {
            consider(byX_[static_cast<size_t>(run.start + (at - begin))]);
        }
    }
    if (nearest) {
        contact.WarmStart(nearest->normalForce, nearest->frictionForce);
        contact.SetSettled(nearest->settled);
    }
}

} // namespace quarn
