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
    // Replaces what was kept with these contacts' solved forces.
    void Keep(const std::unique_ptr<ContactJoint>* contacts, int32_t count);
    // A new contact, with its volumes, normal and surface set and attached, starts from the kept
    // contact of the same two volumes nearest to it, when one lies close enough and faces alike.
    void Recall(ContactJoint& contact) const;
    void Clear() { kept_.clear(); }

private:
    struct Kept {
        uint64_t first = 0; // the volumes' serials, in the contact's order
        uint64_t second = 0;
        Float3 position;
        Float3 normal;
        float normalForce = 0.0f;
        Float3 frictionForce;
    };
    static bool ByPair(const Kept& a, const Kept& b);

    std::vector<Kept> kept_; // by volume pair
};

} // namespace quarn
