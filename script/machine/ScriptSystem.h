#pragma once

#include "core/scene/Node.h"

#include <string>

namespace quarn {

// Carries the folder scripts are looked up in: "script_base_folder" of config.txt, read when
// the node is made, which also sets the script search path to it and its subfolders. The
// editor shows the folder; it cannot be changed there.
class ScriptSystem : public Node {
public:
    ScriptSystem();

    ClassInfo* GetClass() const override;

    const char* GetBaseFolder() const { return baseFolder_.c_str(); }
    // The property's setter: the folder comes from the settings only.
    void SetBaseFolder(const char*) {}

    static ClassInfo* RegisterClass();

private:
    std::string baseFolder_;
};

// Registers "Script" with the script interface it brings (the engine functions, the value-type
// operators, a script class and keyword per native class, the search path, the "script"
// resource extension) and then "ScriptSystem", when `flags` has bit 0: returns 2; otherwise 1.
int RegisterScriptClasses(int flags);

} // namespace quarn
