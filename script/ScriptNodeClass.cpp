#include "script/ScriptNodeClass.h"

#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"

namespace quarn {

namespace {

ClassInfo* scriptNodeClass = nullptr;

} // namespace

ClassInfo* RegisterScriptNodeClass() {
    if (scriptNodeClass) {
        return scriptNodeClass;
    }
    scriptNodeClass = new ClassInfo("Script", nullptr, &scriptNodeClass);
    scriptNodeClass->SetParent(Node::RegisterClass());
    scriptNodeClass->SetCategory("Behaviour");
    scriptNodeClass->SetFlags(scriptNodeClass->GetFlags() | ClassUpdateWhileStopped);
    return scriptNodeClass;
}

} // namespace quarn
