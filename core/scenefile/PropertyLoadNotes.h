#pragma once

#include <string>
#include <vector>

namespace quarn {

// While a load applies one property, what goes wrong below it (a file its value names is
// missing) is noted against that property instead of logged alone, so that the loader's warning
// names the scene file, the object and the property. Scopes nest per thread: a branch loaded by
// a property notes into its own load's scope, and a note goes to the innermost one.
class PropertyLoadNotes {
public:
    PropertyLoadNotes();
    ~PropertyLoadNotes();
    PropertyLoadNotes(const PropertyLoadNotes&) = delete;
    PropertyLoadNotes& operator=(const PropertyLoadNotes&) = delete;

    const std::vector<std::string>& Notes() const { return notes_; }

    // Gives the note to the innermost open scope; false when none is open, and the caller
    // reports it itself.
    static bool Add(const std::string& note);

private:
    PropertyLoadNotes* outer_;
    std::vector<std::string> notes_;
};

} // namespace quarn
