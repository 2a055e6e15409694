#include "core/scene/WitnessProperty.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyScalar.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"

#include <array>
#include <cassert>
#include <memory>
#include <string>
#include <utility>

namespace quarn {

namespace {

template <int Port>
void GetWitness(const Entity& object, uint32_t* out) {
    out[0] = object.GetPortValue(Port).GetId();
}

template <int Port>
void SetWitness(Entity& object, const uint32_t* value) {
    EntityRef reference;
    reference.InitFromId(value[0]);
    object.SetPortValue(Port, reference);
}

struct WitnessAccessors {
    PropertyGetter getter;
    PropertySetter setter;
};

// Accessors are plain function pointers, so each port gets its own pair.
template <int... Ports>
constexpr auto MakeAccessors(std::integer_sequence<int, Ports...>) {
    return std::array<WitnessAccessors, sizeof...(Ports)>{
        WitnessAccessors{&GetWitness<Ports>, &SetWitness<Ports>}...};
}

constexpr auto Accessors = MakeAccessors(std::make_integer_sequence<int, MaxPorts>());

} // namespace

void AddWitnessProperty(ClassInfo* classInfo, const char* declaration, int port) {
    assert(port >= 0 && port < MaxPorts);
    // Witnesses name nodes only.
    const int32_t nodeType = ClassTypeBase + Node::RegisterClass()->GetClassNumber();
    classInfo->AddProperty(declaration, std::make_unique<PropertyEntity>(nodeType),
                           Accessors[static_cast<size_t>(port)].getter,
                           Accessors[static_cast<size_t>(port)].setter);
}

void AddWitnessProperties(ClassInfo* classInfo, int count) {
    for (int port = 0; port < count; ++port) {
        const std::string declaration = "witness" + std::to_string(port) + ":signal";
        AddWitnessProperty(classInfo, declaration.c_str(), port);
    }
}

} // namespace quarn
