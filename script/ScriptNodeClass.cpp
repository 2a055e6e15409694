#include "script/ScriptNodeClass.h"

#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"
#include "script/ScriptClass.h"
#include "script/ScriptNode.h"
#include "script/ScriptValueType.h"

namespace quarn {

namespace {

ClassInfo* scriptNodeClass = nullptr;

} // namespace

ClassInfo* RegisterScriptNodeClass() {
    if (scriptNodeClass) {
        return scriptNodeClass;
    }
    scriptNodeClass = new ClassInfo(
        "Script", []() -> Entity* { return new Script; }, &scriptNodeClass);
    scriptNodeClass->SetParent(Node::RegisterClass());
    scriptNodeClass->SetCategory("Behaviour");
    scriptNodeClass->SetFlags(scriptNodeClass->GetFlags() | ClassUpdateWhileStopped);
    // The script interface lives as long as the class scripts are run by.
    scriptNodeClass->SetCleanUp([] {
        DeleteAllScriptClasses();
        DeleteAllValueTypes();
    });
    return scriptNodeClass;
}

} // namespace quarn
