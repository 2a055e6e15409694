#pragma once

#include "core/scene/Node.h"

namespace quarn {

// Passes every event it receives on to its eight witnesses in order, each at the port its
// reference carries, with the incoming sender, argument and value. Output port i is witness i.
class EventMultiplier : public Node {
public:
    static constexpr int WitnessCount = MaxPorts;

    EventMultiplier();

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 1; }
    int GetOutputCount() const override { return WitnessCount; }
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    EntityRef witnesses_[WitnessCount];
};

} // namespace quarn
