#pragma once

#include "core/object/Entity.h"
#include "core/object/EntityRef.h"
#include "core/scene/Node.h"
#include "tests/support/TestClass.h"

#include <cstdint>
#include <functional>
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

// An unlinked reference, as events carry them: an id with its port bits, or an entity's id
// with the port added (no entity: id 0).
inline EntityRef RefTo(uint32_t id) {
    EntityRef reference;
    reference.InitFromId(id);
    return reference;
}
inline EntityRef RefTo(const Entity* entity, uint32_t port = 0) {
    return RefTo(entity ? entity->GetId() | port << PortShift : 0u);
}

// Every delivery an EventProbe recorded, in order; tests clear it themselves.
inline std::vector<Delivery>& Deliveries() {
    static std::vector<Delivery> deliveries;
    return deliveries;
}

// Records the events that reach its inputs, may redirect them, runs its action, and sends every
// event on to its outputs (which may lead back to itself).
class EventProbe : public TestClass<EventProbe, Node> {
public:
    static constexpr const char* Name = "EventProbe";

    uint32_t GetInputRedirect(int) const override { return redirect; }
    void ReceiveEvent(const EventRecord& event) override {
        Deliveries().push_back({GetId(), event.sender.GetId(), event.target.GetId(),
                                event.argument.GetId(), event.value});
        const std::vector<uint32_t> targets = outputs; // the action or a send may delete this
        if (std::function<void()> run = action) {
            run();
        }
        for (uint32_t id : targets) {
            SendEvent(event.sender, RefTo(id), event.argument.GetTarget(), event.value);
        }
    }

    uint32_t redirect = 0;
    std::vector<uint32_t> outputs;
    std::function<void()> action;
};

} // namespace quarn::test
