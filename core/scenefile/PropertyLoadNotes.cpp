#include "core/scenefile/PropertyLoadNotes.h"

namespace quarn {

namespace {

// Loads on other threads keep their own scopes.
thread_local PropertyLoadNotes* innermost = nullptr;

} // namespace

PropertyLoadNotes::PropertyLoadNotes() : outer_(innermost) {
    innermost = this;
}

PropertyLoadNotes::~PropertyLoadNotes() {
    innermost = outer_;
}

bool PropertyLoadNotes::Add(const std::string& note) {
    if (!innermost) {
        return false;
    }
    innermost->notes_.push_back(note);
    return true;
}

} // namespace quarn
