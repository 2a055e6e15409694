#include "script/machine/ScriptNodeClass.h"

#include "core/debug/Validity.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/scene/Node.h"
#include "script/machine/ScriptClass.h"
#include "script/machine/ScriptContext.h"
#include "script/machine/ScriptNode.h"
#include "script/machine/ScriptValueType.h"

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
        SetValidityHook(nullptr);
        SetCurrentScriptContext(nullptr);
    });
    using S = Script;
    ClassInfo* c = scriptNodeClass;
    c->AddProperty<PropertyResource, &S::GetScriptFile, &S::SetScriptFile>("scriptfile:script");
    // Compiled scripts name these by their place and generated names: the order is fixed.
    c->AddMethod("scriptchanged", "", BindSignalHandler<&S::OnScriptChanged>(), MethodClassSignal);
    c->AddMethod("nodedeletion", "", BindSignalHandler<&S::ClearReference>(), MethodClassSignal);
    c->AddMethod("play", "", BindSignalHandler<&S::CheckLinked>(), MethodClassSignal);
    c->AddMethod(NextShortName(), "", BindMethod<&S::WakeUp>(), MethodTakesBlock | MethodNoResult);
    c->AddMethod(NextShortName(), "(string)", BindMethod<&S::CallFunctionNamed>(), MethodScript);
    c->AddMethod(NextShortName(), "(string)", BindMethod<&S::RestartWith>(), MethodScript);
    c->AddMethod(NextShortName(), "(string)", BindMethod<&S::StartFunctionNamed>(), MethodScript);
    c->AddMethod(NextShortName(), "()", BindMethod<&S::ResetExecution>(), MethodScript);
    c->AddMethod(NextShortName(), "():string", BindMethod<&S::GetCurrentStateName>(), MethodScript);
    c->AddMethod(NextShortName(), "():int", BindMethod<&S::GetCallDepth>(), MethodScript);
    c->AddMethod(NextShortName(), "(int):Script", BindMethod<&S::GetFrameInstance>(), MethodScript);
    c->AddMethod(NextShortName(), "(int):int", BindMethod<&S::GetFrameLine>(), MethodScript);
    c->AddMethod(NextShortName(), "(string):int", BindMethod<&S::ReadVariable<int32_t>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):int2", BindMethod<&S::ReadVariable<Int2>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):int3", BindMethod<&S::ReadVariable<Int3>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):float", BindMethod<&S::ReadVariable<float>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):float2", BindMethod<&S::ReadVariable<Float2>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):float3", BindMethod<&S::ReadVariable<Float3>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string):string64", BindMethod<&S::ReadVariable<String64>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,int)", BindMethod<&S::WriteVariable<int32_t>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,int2)", BindMethod<&S::WriteVariable<Int2>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,int3)", BindMethod<&S::WriteVariable<Int3>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,float)", BindMethod<&S::WriteVariable<float>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,float2)", BindMethod<&S::WriteVariable<Float2>>(),
                 MethodScript);
    c->AddMethod(NextShortName(), "(string,float3)", BindMethod<&S::WriteVariable<Float3>>(),
                 MethodScript);
    for (const char* signal : {"scriptchanged", "nodedeletion", "play"}) {
        RegisterClassSignal(signal, c);
    }
    return scriptNodeClass;
}

} // namespace quarn
