#pragma once

#include <cstdlib>
#include <optional>
#include <string>

namespace quarn::test {

// An environment variable set for the life of the object, then back as it was (or unset): the
// programs a later test starts, the player among them, inherit the environment whole.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
        }
        Set(value);
    }
    ~ScopedEnvironment() {
        if (old_) {
            setenv(name_.c_str(), old_->c_str(), 1);
        } else {
            unsetenv(name_.c_str());
        }
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& value) { setenv(name_.c_str(), value.c_str(), 1); }

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace quarn::test
