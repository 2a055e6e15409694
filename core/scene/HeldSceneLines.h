#pragma once

#include <string>
#include <vector>

namespace quarn {

// A property line of a node's block that its class did not name when the node was loaded, as
// the text form read it.
struct HeldSceneLine {
    std::string name;
    std::string value;
    bool quoted = false;
};

// What a load could not apply to a node whose properties come from a file loaded beside the
// scene (a script's program that is missing or refused): kept as read so that every save writes
// it back, until the file loads and the node takes the values it names.
struct HeldSceneLines {
    // From the text form, in file order.
    std::vector<HeldSceneLine> lines;
    // From the compact form: the rest of the block from the first value whose number the class
    // did not name, its end marker left out. Its values cannot be sized without the class.
    std::string compactTail;

    bool IsEmpty() const { return lines.empty() && compactTail.empty(); }
    void Clear() {
        lines.clear();
        compactTail.clear();
    }
};

} // namespace quarn
