#pragma once

#include "core/math/Vector.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quarn {

class ContactJoint;

// The forces the last step's contacts ended with, so that a contact found again at the same
// place starts its solve from them: a few sweeps then hold a resting stack, which they cannot
// rebuild from nothing every step.
class ContactMemory {
public:
    // The kept contacts of one pair of volumes, as Find answers them.
    struct Run {
        int32_t start = 0;
        int32_t count = 0;
    };

    // Replaces what was kept with these contacts' solved forces. A step makes the contacts of
    // one pair one after another, and so they are kept: by pair, without sorting.
    void Keep(const std::unique_ptr<ContactJoint>* contacts, int32_t count);
    // The kept contacts of two volumes, by serial in the contacts' order.
    Run Find(uint64_t first, uint64_t second) const;
    // A new contact of the run's pair, with its normal and surface set and attached, starts from
    // the kept contact nearest to it (the later one of two as near), when one lies close enough
    // and faces alike. In a pair with many contacts it looks only at the kept ones about as far
    // along x as it, so that each costs no more than the few near it.
    void Recall(Run run, ContactJoint& contact) const;

private:
    struct Kept {
        Float3 position;
        Float3 normal;
        float normalForce = 0.0f;
        Float3 frictionForce;
        bool settled = false;
    };
    struct Slot {
        uint64_t first = 0;
        uint64_t second = 0;
        Run run;
        uint32_t generation = 0; // the slot is used only in the Keep of this number
    };
    static size_t Hash(uint64_t first, uint64_t second);
    bool Used(const Slot& slot) const { return slot.generation == generation_; }

    std::vector<Kept> kept_;
    // Each crowded run's kept contacts in the order of their x (a value that is not a number
    // last), and those x, for Recall; at the run's own places.
    std::vector<int32_t> byX_;
    std::vector<float> x_;
    std::vector<Slot*> crowded_;
    std::vector<Slot> slots_; // open addressing, a power of two at least twice the pairs
    uint32_t generation_ = 0;
};

} // namespace quarn
