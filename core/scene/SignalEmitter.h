#pragma once

#include "core/scene/Node.h"

#include <string>

namespace quarn {

// Passes every event it receives to the signal receivers registered under its signal name.
class SignalEmitter : public Node {
public:
    const char* GetSignalName() const { return signalName_.c_str(); }
    void SetSignalName(const char* name) { signalName_ = name ? name : ""; }

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 1; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    std::string signalName_;
};

} // namespace quarn
