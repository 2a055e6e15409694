#include "render/LightManager.h"

#include "core/math/Color.h"
#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "device/RenderDevice.h"
#include "render/Light.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace quarn {

ClassInfo* LightManager::classInfo = nullptr;

namespace {

struct Candidate {
    Light* light;
    float score;
};

// Reused by every manager's update, so a frame allocates nothing once it has grown.
std::vector<Candidate>& Candidates() {
    static auto* candidates = new std::vector<Candidate>();
    return *candidates;
}

template <int Index>
void GetChosen(const Entity& object, uint32_t* out) {
    if (auto* manager = dynamic_cast<const LightManager*>(&object)) {
        ValueTraits<EntityId>::Write(manager->GetChosenLight(Index), out);
    }
}

template <int Index>
void SetChosen(Entity& object, const uint32_t* value) {
    if (auto* manager = dynamic_cast<LightManager*>(&object)) {
        manager->SetChosenLight(Index, ValueTraits<EntityId>::Read(value));
    }
}

} // namespace

EntityId LightManager::GetChosenLight(int index) const {
    const EntityRef& chosen = chosen_[index];
    return {chosen.GetTarget() ? chosen.GetId() : 0u};
}

void LightManager::SetChosenLight(int index, EntityId id) {
    chosen_[index].SetId(dynamic_cast<Light*>(LookupEntity(id.value)) ? id.value : 0u);
}

void LightManager::Update(float, int) {
    std::vector<Candidate>& candidates = Candidates();
    candidates.clear();
    const Float3 here = GetWorldPosition();
    uint32_t ambient = 0;
    for (Light* light : Light::GetAllLights()) {
        if (!(light->GetLightFlags() & LightDynamic) || !light->IsFullyEnabled()) {
            continue;
        }
        if (dynamic_cast<AmbientLight*>(light)) {
            ambient = AddColorSaturated(ambient, light->GetColor());
        } else if ((light->GetWorldPosition() - here).Length() < light->GetRange()) {
            const float score = light->GetInfluence(here, Float3());
            // NaN would break the ordering the sort relies on.
            candidates.push_back({light, std::isfinite(score) ? score : 0.0f});
        }
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.score > b.score; });

    RenderDevice* device = TheRenderDevice();
    for (int slot = 0; slot < DeviceLightSlots; ++slot) {
        const bool used = static_cast<size_t>(slot) < candidates.size();
        if (slot < KeptLights) {
            chosen_[slot].SetId(used ? candidates[slot].light->GetId() : 0u);
        }
        if (!device) {
            continue;
        }
        if (used) {
            LightRecord record;
            candidates[slot].light->FillDeviceLight(record);
            device->SetLight(static_cast<uint32_t>(slot), record);
            device->EnableLight(static_cast<uint32_t>(slot), true);
        } else {
            device->EnableLight(static_cast<uint32_t>(slot), false);
        }
    }
    if (!device) {
        return;
    }
    if (ambient != 0) {
        LightRecord record;
        record.type = static_cast<uint32_t>(LightType::Ambient);
        record.color = ambient;
        device->SetLight(AmbientSlot, record);
    } else {
        device->EnableLight(AmbientSlot, false);
    }
}

ClassInfo* LightManager::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "LightManager", []() -> Entity* { return new LightManager(); }, &classInfo);
    classInfo->SetParent(Pivot::RegisterClass());
    classInfo->SetCategory("Lights");
    classInfo->SetFlags(classInfo->GetFlags() | ClassUpdateWhileStopped);

    classInfo->AddProperty<PropertyFloat, &LightManager::GetRadius, &LightManager::SetRadius>(
        "radius:0.0,1.0");
    const int32_t lightType = ClassTypeBase + Light::RegisterClass()->GetClassNumber();
    struct Chosen {
        const char* name;
        PropertyGetter getter;
        PropertySetter setter;
    };
    const Chosen chosen[KeptLights] = {
        {"light1", &GetChosen<0>, &SetChosen<0>},
        {"light2", &GetChosen<1>, &SetChosen<1>},
        {"light3", &GetChosen<2>, &SetChosen<2>},
        {"light4", &GetChosen<3>, &SetChosen<3>},
    };
    for (const Chosen& light : chosen) {
        classInfo->AddProperty(light.name, std::make_unique<PropertyEntity>(lightType),
                               light.getter, light.setter);
    }
    return classInfo;
}

} // namespace quarn
