#pragma once

#include "core/scene/Node.h"

#include <string>

namespace quarn {

// Passes an event on to its witness only when the sender's name equals the filter name byte for
// byte. Every output port is the one witness.
class SignalFilter : public Node {
public:
    SignalFilter() : witness_(this) {}

    const char* GetFilterName() const { return filterName_.c_str(); }
    void SetFilterName(const char* name) { filterName_ = name ? name : ""; }

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 1; }
    int GetOutputCount() const override { return 1; }
    void SetPortValue(int, const EntityRef& reference) override { witness_ = reference; }
    EntityRef GetPortValue(int) const override { return witness_; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    std::string filterName_;
    EntityRef witness_;
};

} // namespace quarn
