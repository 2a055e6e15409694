#include "physics/PhysicsMaster.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionVolume.h"
#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "core/os/MenuRefresh.h"
#include "physics/Joint.h"
#include "physics/RigidBody.h"
#include "resources/DataBaseResource.h"

#include <cmath>
#include <memory>

namespace quarn {

ClassInfo* PhysicsMaster::classInfo = nullptr;

namespace {

PhysicsMaster* currentWorld = nullptr;

// The world's intrusive lists of bodies and joints.
template <class T>
void LinkIntoWorld(T*& head, int32_t& count, T* item) {
    item->previousInWorld_ = nullptr;
    item->nextInWorld_ = head;
    if (head) {
        head->previousInWorld_ = item;
    }
    head = item;
    ++count;
}

template <class T>
void UnlinkFromWorld(T*& head, int32_t& count, T* item) {
    if (item->previousInWorld_) {
        item->previousInWorld_->nextInWorld_ = item->nextInWorld_;
    } else if (head == item) {
        head = item->nextInWorld_;
    } else {
        return; // not in this list
    }
    if (item->nextInWorld_) {
        item->nextInWorld_->previousInWorld_ = item->previousInWorld_;
    }
    item->nextInWorld_ = item->previousInWorld_ = nullptr;
    --count;
}

} // namespace

PhysicsMaster::PhysicsMaster() {
    if (!currentWorld) {
        currentWorld = this;
        CollisionWorld::SetCurrent(this);
    }
    AddSignalListener("nodedeletion", this);
}

PhysicsMaster::~PhysicsMaster() {
    if (currentWorld == this) {
        currentWorld = nullptr;
        CollisionWorld::SetCurrent(nullptr);
    }
    while (bodies_) {
        bodies_->SetWorld(nullptr);
    }
    while (joints_) {
        joints_->SetWorld(nullptr);
    }
    SetDataBase(contactDb_, "");
    SetDataBase(materialDb_, "");
    collisionSpace_.SetId(0);
    witness_.SetId(0);
}

PhysicsMaster* PhysicsMaster::GetCurrentWorld() {
    return currentWorld;
}

const char* PhysicsMaster::GetInputName(int port) const {
    return port == 0 ? "start" : "stop";
}

void PhysicsMaster::ReceiveEvent(const EventRecord& event) {
    SetMethod(event.target.GetPort() == 0 ? PhysicsLcp : PhysicsOff);
}

void PhysicsMaster::SetMethod(int32_t method) {
    method_ = method;
    RefreshMenu();
}

void PhysicsMaster::SetSlowMotion(float factor) {
    slowMotion_ = factor < 1.0f ? 1.0f : factor;
}

float PhysicsMaster::GetIdleThreshold() const {
    return std::sqrt(idleThresholdSquared_);
}

CollisionSpace* PhysicsMaster::FindCollisionSpace(int32_t number) {
    // The chain: the referenced space and its following siblings while they are spaces.
    auto* node = dynamic_cast<Node*>(collisionSpace_.GetTarget());
    for (; node; node = node->GetNext()) {
        auto* space = dynamic_cast<CollisionSpace*>(node);
        if (!space) {
            break;
        }
        if (space->GetSpaceNum() == number) {
            return space;
        }
    }
    return nullptr;
}

void PhysicsMaster::AddBody(RigidBody* body) {
    LinkIntoWorld(bodies_, bodyCount_, body);
}

void PhysicsMaster::RemoveBody(RigidBody* body) {
    UnlinkFromWorld(bodies_, bodyCount_, body);
}

void PhysicsMaster::AddJoint(Joint* joint) {
    LinkIntoWorld(joints_, jointCount_, joint);
}

void PhysicsMaster::RemoveJoint(Joint* joint) {
    UnlinkFromWorld(joints_, jointCount_, joint);
}

float PhysicsMaster::GetUsableTimestep() const {
    return std::isfinite(timestep_) && timestep_ > 0.0f ? timestep_ : 0.0f;
}

Float3 PhysicsMaster::ImpulseToForce(Float3 impulse) const {
    const float h = GetUsableTimestep();
    return h > 0.0f ? impulse / h : Float3();
}

void PhysicsMaster::ReportFailedIsland() {
    if (!reportedFailedIsland_) {
        reportedFailedIsland_ = true;
        LogMessage("PhysicsMaster '%s': an island's constraints could not be solved; its bodies "
                   "kept their motion for the step",
                   GetName().c_str());
    }
}

const char* PhysicsMaster::GetContactDbName() const {
    return RelativePathOf(contactDb_);
}

void PhysicsMaster::SetContactDbName(const char* name) {
    SetDataBase(contactDb_, name);
}

const char* PhysicsMaster::GetMaterialDbName() const {
    return RelativePathOf(materialDb_);
}

void PhysicsMaster::SetMaterialDbName(const char* name) {
    SetDataBase(materialDb_, name);
}

void PhysicsMaster::SetDataBase(DataBaseResource*& held, const char* name) {
    DataBaseResource* acquired = name && *name ? GetDataBase(name, "") : nullptr;
    if (ReplaceHeldResource(held, acquired)) {
        SendSignal("propertychange", static_cast<Entity*>(this), true);
    }
}

void PhysicsMaster::OnNodeDeletion(void* argument) {
    if (argument && witness_.GetId() != 0 && witness_.GetTarget() == argument) {
        witness_.SetId(0);
    }
}

ClassInfo* PhysicsMaster::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    ClassInfo* base = RenderObject::RegisterClass();
    classInfo = new ClassInfo(
        "PhysicsMaster", []() -> Entity* { return new PhysicsMaster(); }, &classInfo);
    classInfo->SetParent(base);
    classInfo->SetCategory("Physics");

    using P = PhysicsMaster;
    const uint32_t none = 0;
    const int32_t nodeType = ClassTypeBase + Node::RegisterClass()->GetClassNumber();
    classInfo->AddProperty<PropertyFloat, &P::GetTimestep, &P::SetTimestep>("timestep:0,0.2");
    classInfo->AddProperty<PropertyFloat, &P::GetSlowMotion, &P::SetSlowMotion>(
        "slowmotion:0,100");
    classInfo->AddProperty<PropertyFloat, &P::GetGravity, &P::SetGravity>("gravity:0,20");
    classInfo->AddProperty<PropertyFloat, &P::GetDamping, &P::SetDamping>("damping:0.0,0.1");
    classInfo->AddProperty<PropertyFloat, &P::GetAngularDamping, &P::SetAngularDamping>(
        "angulardamping:0.0,0.1");
    classInfo->AddProperty<PropertyInt, &P::GetIterations, &P::SetIterations>("iterations");
    classInfo
        ->AddProperty("witness", std::make_unique<PropertyEntity>(nodeType),
                      MakeGetter<&P::GetWitness>(), MakeSetter<&P::SetWitness>())
        ->SetDefault(&none);
    classInfo->AddProperty<PropertyResource, &P::GetContactDbName, &P::SetContactDbName>(
        "contact_db");
    classInfo->AddProperty<PropertyResource, &P::GetMaterialDbName, &P::SetMaterialDbName>(
        "material_db");
    // Spaces are registered after the volumes; a node reference is what this property holds.
    classInfo
        ->AddProperty("collisionspace", std::make_unique<PropertyEntity>(nodeType),
                      MakeGetter<&P::GetCollisionSpaceId>(), MakeSetter<&P::SetCollisionSpaceId>())
        ->SetDefault(&none);
    classInfo->AddProperty<PropertyEnum, &P::GetMethod, &P::SetMethod>(
        "method:OFF,LCP,LCP_SINGLESTEP,ITERATIVE");
    classInfo->AddProperty<PropertyEnum, &P::GetFrictionModel, &P::SetFrictionModel>(
        "frictionmodel:SIMPLE_PYRAMID,SIMPLE_CONE,ADVANCED_PYRAMID,ADVANCED_CONE");
    classInfo->AddProperty<PropertyFloat, &P::GetErp, &P::SetErp>("erp:0.0,1.0");
    classInfo->AddProperty<PropertyFloat, &P::GetCfm, &P::SetCfm>("cfm:0.0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetIdleThreshold, &P::SetIdleThreshold>(
        "idlethreshold:0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetIdleTime, &P::SetIdleTime>("idletime:0,0.1");
    classInfo->AddProperty<PropertyFloat, &P::GetContactMinDepth, &P::SetContactMinDepth>(
        "contactmindepth:0,0.01");
    classInfo->AddProperty<PropertyFloat, &P::GetContactMaxVel, &P::SetContactMaxVel>(
        "contactmaxvel:0,10.0");

    classInfo->AddMethod("nodedeletion", "(entity)", BindSignalHandler<&P::OnNodeDeletion>(),
                         MethodClassSignal);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&P::ScriptGetStepCounter>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():int", BindMethod<&P::ScriptGetStatistic>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&P::ScriptClearEvents>(),
                         MethodScriptCallable | MethodNoResult);
    classInfo->AddMethod(NextShortName(), "", BindMethod<&P::ScriptRequestStep>(),
                         MethodScriptCallable | MethodNoResult);
    for (int32_t method = PhysicsOff; method <= PhysicsIterative; ++method) {
        RegisterNamedConstant(NextShortName(), method);
    }
    return classInfo;
}

} // namespace quarn
