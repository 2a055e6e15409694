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
    // the kept contact nearest to it, when one lies close enough and faces alike.
    void Recall(Run run, ContactJoint& contact) const;

private:
    struct Kept {
        Float3 position;
        Float3 normal;
        float normalForce = 0.0f;
        Float3 frictionForce;
    };
    struct Slot {
        uint64_t first = 0;
        uint64_t second = 0;
        Run run; // count 0: empty
    };
    static size_t Hash(uint64_t first, uint64_t second);

    std::vector<Kept> kept_;
    std::vector<Slot> slots_; // open addressing, a power of two at least twice the pairs
};

} // namespace quarn
