#include "script/machine/ScriptSystem.h"

#include "core/filesystem/SettingsFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/object/PropertyText.h"
#include "resources/ResourceRegistry.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptNodeClass.h"
#include "script/machine/ScriptOperators.h"
#include "script/machine/ScriptSearchPath.h"
#include "script/machine/ScriptValueType.h"

namespace quarn {

namespace {

ClassInfo* scriptSystemClass = nullptr;

void AddMethodRecord(ScriptClass& scriptClass, const MethodInfo& method, int index) {
    ScriptMethodRecord* record =
        scriptClass.AddMethod(method.GetName(), index, method.GetReturnType());
    for (int i = 0; record && i < method.GetArgumentCount(); ++i) {
        record->AddParameter(method.GetArgumentType(i));
    }
}

// What compiled scripts link against: every native class at its own index, with its whole
// property and method chains (scripts name members by their place in them), and the engine's
// free functions as "globals".
void BuildScriptInterface() {
    for (int index = 0; index < GetClassCount(); ++index) {
        const ClassInfo* classInfo = GetClassByIndex(index);
        if (!(classInfo->GetFlags() & ClassNative)) {
            continue;
        }
        ScriptClass* scriptClass = ScriptClass::Create(classInfo->GetName(), index);
        for (int i = 0; i < classInfo->GetPropertyCount(); ++i) {
            const Property* property = classInfo->GetProperty(i);
            scriptClass->AddProperty(property->GetName(), i, property->GetValueType());
        }
        for (int i = 0; i < classInfo->GetMethodCount(); ++i) {
            AddMethodRecord(*scriptClass, *classInfo->GetMethod(i), i);
        }
    }
    ScriptClass& globals = GetGlobalsScriptClass();
    for (int i = 0; i < GetRegisteredFunctionCount(); ++i) {
        AddMethodRecord(globals, *GetRegisteredFunction(i), i);
    }
    AddScriptClassKeywords();
}

} // namespace

ScriptSystem::ScriptSystem() : baseFolder_(GetMainSettings().GetString("script_base_folder")) {
    SetScriptSearchPath(baseFolder_.c_str(), true);
}

ClassInfo* ScriptSystem::GetClass() const {
    return RegisterClass();
}

ClassInfo* ScriptSystem::RegisterClass() {
    if (scriptSystemClass) {
        return scriptSystemClass;
    }
    scriptSystemClass = new ClassInfo(
        "ScriptSystem", []() -> Entity* { return new ScriptSystem; }, &scriptSystemClass);
    scriptSystemClass->SetParent(Node::RegisterClass());
    scriptSystemClass->SetCategory("Behaviour");
    scriptSystemClass
        ->AddProperty<PropertyString, &ScriptSystem::GetBaseFolder, &ScriptSystem::SetBaseFolder>(
            "basefolder");
    return scriptSystemClass;
}

int RegisterScriptClasses(int flags) {
    if (!(flags & 1)) {
        return 1;
    }
    RegisterScriptNodeClass();
    RegisterScriptLibrary(); // the engine functions come before the operators
    RegisterScriptOperators();
    // A repeated registration that added nothing keeps the interface: rebuilding it costs more
    // than most fuzz inputs, and the extension would be listed twice.
    static int builtClasses = -1;
    static int builtFunctions = -1;
    const bool build = GetScriptClassCount() == 0 || builtClasses != GetClassCount() ||
                       builtFunctions != GetRegisteredFunctionCount();
    if (build) {
        BuildScriptInterface();
        SetScriptSearchPath(GetMainSettings().GetString("script_base_folder"), true);
        if (builtClasses < 0) {
            RegisterResourceExtension("script");
        }
    }
    ScriptSystem::RegisterClass();
    if (build) {
        builtClasses = GetClassCount();
        builtFunctions = GetRegisteredFunctionCount();
    }
    return 2;
}

} // namespace quarn
