#pragma once

#include "core/object/Entity.h"

#include <cstdint>
#include <vector>

namespace quarn::test {

// What one receiver saw of an event, by ids.
struct Delivery {
    uint32_t receiver;
    uint32_t sender;
    uint32_t target;
    uint32_t argument;
    float value;
};

// Every delivery recorded by a test's receivers, in order; tests clear it themselves.
inline std::vector<Delivery>& Deliveries() {
    static std::vector<Delivery> deliveries;
    return deliveries;
}

inline void RecordDelivery(const Entity& receiver, const EventRecord& event) {
    Deliveries().push_back({receiver.GetId(), event.sender.GetId(), event.target.GetId(),
                            event.argument.GetId(), event.value});
}

} // namespace quarn::test
