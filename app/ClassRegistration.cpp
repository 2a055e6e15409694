#include "app/ClassRegistration.h"

#include "collision/mockup/MockupClasses.h"
#include "core/io/OutputStream.h"
#include "core/io/Tokenizer.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/object/Property.h"
#include "core/scene/ContainerBox.h"
#include "core/scene/EventMultiplier.h"
#include "core/scene/Folder.h"
#include "core/scene/Node.h"
#include "core/scene/Pivot.h"
#include "core/scene/PropertyController.h"
#include "core/scene/SignalEmitter.h"
#include "core/scene/SignalFilter.h"
#include "core/scene/SignalReceiver.h"
#include "physics/PhysicsClasses.h"
#include "render/Annotations.h"
#include "render/BorderSprite.h"
#include "render/Camera.h"
#include "render/CubeMap.h"
#include "render/DoubleSprite.h"
#include "render/Grass.h"
#include "render/Light.h"
#include "render/LightManager.h"
#include "render/LineDrawer.h"
#include "render/Model.h"
#include "render/ParticleEmitter.h"
#include "render/PostProcess.h"
#include "render/RenderObject.h"
#include "render/RenderTarget.h"
#include "render/ShaderSettings.h"
#include "render/ShadowVolume.h"
#include "render/Sprite.h"
#include "render/TextPlate.h"
#include "resources/Branch.h"
#include "resources/BranchFile.h"
#include "resources/EffectShader.h"
#include "resources/FontNew.h"
#include "resources/Mesh.h"
#include "resources/RawData.h"
#include "resources/Resource.h"
#include "resources/Texture.h"
#include "script/machine/ScriptLibrary.h"
#include "script/machine/ScriptSystem.h"
#include "script/machine/ScriptValueType.h"
#include "script/nodes/ClickHandler.h"
#include "script/nodes/DataBase.h"
#include "script/nodes/GridData.h"
#include "script/nodes/InputNodes.h"
#include "script/nodes/Network.h"
#include "script/nodes/PathController.h"
#include "script/nodes/SoundNodes.h"
#include "script/nodes/VarData.h"

namespace quarn {

int RegisterAllClasses() {
    int before = GetClassCount();
    // Only the classes that exist so far, each at its place in the start-up order.
    Node::RegisterClass();               // 1. with its base "Entity"
    Pivot::RegisterClass();              // 2.
    Folder::RegisterClass();             // 3.
    ContainerBox::RegisterClass();       // 4. "ContainerBox", then "Branch"
    Branch::RegisterClass();             // 4.
    Layer::RegisterClass();              // 5.
    Camera::RegisterClass();             // 6.
    RenderObject::RegisterClass();       // 7.
    RenderTarget::RegisterClass();       // 8.
    Resource::RegisterClass();           // 9. "ResourceRef"
    Mesh::RegisterClass();               // 10.
    RawData::RegisterClass();            // 11.
    Texture::RegisterClass();            // 12.
    EffectShader::RegisterClass();       // 13.
    FontNew::RegisterClass();            // 14.
    BranchFile::RegisterClass();         // 15.
    SignalEmitter::RegisterClass();      // 16.
    SignalReceiver::RegisterClass();     // 17.
    SignalFilter::RegisterClass();       // 18.
    EventMultiplier::RegisterClass();    // 19.
    Model::RegisterClass();              // 20.
    LineDrawer::RegisterClass();         // 21.
    SoundEmitter::RegisterClass();       // 22.
    SoundReceiver::RegisterClass();      // 23.
    Sprite::RegisterClass();             // 24.
    Grass::RegisterClass();              // 25.
    DoubleSprite::RegisterClass();       // 26.
    BorderSprite::RegisterClass();       // 27.
    TextPlate::RegisterClass();          // 28.
    ParticleEmitter::RegisterClass();    // 29.
    ShadowVolume::RegisterClass();       // 30.
    CubeMap::RegisterClass();            // 31.
    PostProcess::RegisterClass();        // 32.
    ShaderSettings::RegisterClass();     // 33.
    PropertyController::RegisterClass(); // 34.
    Light::RegisterClass();              // 35.
    OmniLight::RegisterClass();          // 36.
    AmbientLight::RegisterClass();       // 37.
    DirectionalLight::RegisterClass();   // 38.
    SpotLight::RegisterClass();          // 39.
    LightManager::RegisterClass();       // 40.
    RegisterPhysicsClasses();            // 41.
    RegisterMockupClasses();             // 42.
    PathPivot::RegisterClass();          // 43.
    PathController::RegisterClass();     // 44.
    Annotations::RegisterClass();        // 45.
    Joystick::RegisterClass();           // 46.
    KeyboardInterface::RegisterClass();  // 47.
    ClickHandler::RegisterClass();       // 48.
    InputCode::RegisterClass();          // 49.
    DataBase::RegisterClass();           // 50.
    VarData::RegisterClass();            // 51.
    GridData::RegisterClass();           // 52.
    Network::RegisterClass();            // 53.
    RegisterScriptClasses(1);            // 54. "Script", its interface, "ScriptSystem"
    return GetClassCount() - before;
}

void WriteClassTable(OutputStream& out) {
    for (int index = 0; index < GetClassCount(); ++index) {
        const ClassInfo* classInfo = GetClassByIndex(index);
        const char* category = classInfo->GetCategory();
        const ClassInfo* base = classInfo->GetParent();
        out.Printf("class %s number=%d category=%s base=%s flags=%u %s\n", classInfo->GetName(),
                   classInfo->GetClassNumber(), *category ? category : "-",
                   base ? base->GetName() : "-", classInfo->GetFlags(),
                   classInfo->IsAbstract() ? "abstract" : "concrete");
        for (const auto& property : classInfo->GetOwnProperties()) {
            out.Printf("    property %s type=%s kind=%s flags=%u state=%u range=\"%s\"\n",
                       property->GetName(), GetTypeName(property->GetValueType()),
                       GetPropertyKindName(property->GetKind()), property->GetPropertyFlags(),
                       property->GetStateFlags(), property->GetRange());
        }
        for (const auto& method : classInfo->GetOwnMethods()) {
            out.Printf("    method %s %s flags=%u\n", method->GetName(),
                       method->GetSignatureText().c_str(), method->GetCallFlags());
        }
    }
    // Compiled scripts call engine functions by index and link them by name.
    for (int index = 0; index < GetRegisteredFunctionCount(); ++index) {
        const MethodInfo* function = GetRegisteredFunction(index);
        out.Printf("function %d %s %s\n", index, function->GetName(),
                   function->GetSignatureText().c_str());
        if (index - GetScriptLibraryFirstIndex() == 101) {
            out.Printf("constant %s 1\n", GetScriptLibraryConstantName().c_str());
        }
    }
    // Programs name value types and their entries by number, so the numbers are listed too.
    for (int id = 0; id < GetScriptValueTypeCount(); ++id) {
        const ScriptValueType* type = GetScriptValueType(id);
        if (!type) {
            continue;
        }
        out.Printf("valuetype %s id=%d words=%d\n", type->GetName(), id, type->GetWordCount());
        for (const ScriptComponent& component : type->Components()) {
            out.Printf("    component %s type=%s word=%d\n", component.name.c_str(),
                       GetTypeName(component.type), component.index);
        }
        for (int index = 0; index < type->GetOperatorCount(); ++index) {
            const ScriptOperatorRecord* entry = type->GetOperator(index);
            out.Printf("    entry %d kind=%d %s\n", index, entry->kind, entry->signature.c_str());
        }
    }
    const TokenTable& keywords = GetScriptKeywordTable();
    for (int row = 0; row < keywords.GetCount(); ++row) {
        out.Printf("keyword %d %s\n", keywords.GetId(row), keywords.GetEntry(row));
    }
}

} // namespace quarn
