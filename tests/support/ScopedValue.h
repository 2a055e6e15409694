#pragma once

#include <utility>

namespace quarn::test {

// Gives a variable (a bound the engine keeps, lowered for a test) a value for the scope, and its
// old one back however the scope ends, a failed assertion included.
template <class T>
class ScopedValue {
public:
    ScopedValue(T& variable, T value) : variable_(variable), old_(std::exchange(variable, value)) {}
    ~ScopedValue() { variable_ = old_; }
    ScopedValue(const ScopedValue&) = delete;
    ScopedValue& operator=(const ScopedValue&) = delete;

private:
    T& variable_;
    T old_;
};

} // namespace quarn::test
