#pragma once

#include "core/scene/Node.h"
#include "core/string/FixedString.h"

#include <cstdint>

namespace quarn {

// Turns a named trigger into events sent to up to six witness nodes. Receivers are found by
// name ignoring case; the name keeps at most 31 characters.
class SignalReceiver : public Node {
public:
    static constexpr int WitnessCount = 6;

    SignalReceiver();
    ~SignalReceiver() override;

    const char* GetSignalName() const { return signalName_.Text(); }
    // Re-registers the node under the new name (cut to 31 characters; empty: none).
    void SetSignalName(const char* name);

    PathString GetDescription() const override;
    int GetOutputCount() const override { return WitnessCount; }
    void SetPortValue(int port, const EntityRef& reference) override;
    EntityRef GetPortValue(int port) const override;
    ClassInfo* GetClass() const override { return classInfo; }

    // Sends the event (its target unused) to every witness of every receiver registered under
    // the name, enabled or not; returns how many receivers the name has.
    static int Trigger(const char* name, const EventRecord& event);

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    String32 signalName_;
    EntityRef witnesses_[WitnessCount];
};

} // namespace quarn
