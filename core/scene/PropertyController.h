#pragma once

#include "core/filesystem/ScriptFileAccess.h"
#include "core/scene/Node.h"

#include <string>

namespace quarn {

// Sets one property of its parent from a stored text whenever an event arrives, whatever the
// event carries. A parent without that property is left alone, silently. One made while the
// game's reach was held (by a script, or in the player) sets it within that reach, whoever
// sends the event: a file it names is read only from inside the game.
class PropertyController : public Node {
public:
    const char* GetPropertyName() const { return propertyName_.c_str(); }
    void SetPropertyName(const char* name) { propertyName_ = name ? name : ""; }
    const char* GetAssignedText() const { return propertyValue_.c_str(); }
    void SetAssignedText(const char* value) { propertyValue_ = value ? value : ""; }

    void ReceiveEvent(const EventRecord& event) override;
    int GetInputCount() const override { return 1; }
    const char* GetInputName(int) const override { return "assign"; }
    ClassInfo* GetClass() const override { return classInfo; }

    static ClassInfo* RegisterClass();
    static ClassInfo* classInfo;

private:
    std::string propertyName_;
    std::string propertyValue_;
    bool holdsGameReach_ = IsGameReachHeld();
};

} // namespace quarn
