#include "collision/CollisionVolume.h"

#include "collision/ConvexRoute.h"

#include "collision/CollisionSpace.h"
#include "collision/CollisionWorld.h"
#include "core/object/ClassInfo.h"
#include "core/object/NamedConstants.h"
#include "core/object/PropertyScalar.h"
#include "core/object/PropertyVector.h"
#include "core/object/Signals.h"
#include "core/scene/WitnessProperty.h"

#include <memory>

namespace quarn {

ClassInfo* CollisionVolume::classInfo = nullptr;
Property* CollisionVolume::collTestProperty_ = nullptr;
Property* CollisionVolume::signalEnterProperty_ = nullptr;
Property* CollisionVolume::signalLeaveProperty_ = nullptr;

namespace {

CollisionWorld* currentWorld = nullptr;

// Process-wide results for the script methods that read them after the call.
float lastTestDepth = -1.0f;
Float3 lastTestPosition;
Float3 lastSubmergedCentre;

// TestVolume's contacts; colliders never write past its size.
CollisionContact testContacts[32];

constexpr uint32_t VolumeRenderFlags = 0x10207; // geometry, wireframe, gizmo, bilinear, clickable

} // namespace

CollisionWorld* CollisionWorld::GetCurrent() {
    return currentWorld;
}

void CollisionWorld::SetCurrent(CollisionWorld* world) {
    currentWorld = world;
}

Float3 GetShapeAxis(CollisionVolume& volume) {
    return volume.GetWorldAxisZ();
}

CollisionVolume::CollisionVolume(int32_t shapeType) : shapeType_(shapeType) {
    SetColor(0xFFFF0000);
    SetOpacity(0.5f);
    SetRenderFlags(VolumeRenderFlags);
    localBox_ = Aabb();
}

CollisionVolume::~CollisionVolume() {
    if (space_) {
        space_->RemoveVolume(*this);
    }
    DetachFromBody();
    signalLeave_.SetId(0);
    signalEnter_.SetId(0);
    witness_.SetId(0);
}

// Flags ---------------------------------------------------------------------------------------

void CollisionVolume::RefreshDerivedFlags() {
    activeFlags_ = collFlags_;
    if (!IsFullyEnabled() || (collFlags_ & (CollStatic | CollProbe)) == CollStatic) {
        queryFlags_ = 0;
        return;
    }
    uint32_t query = collFlags_ & CollSolid;
    if ((collFlags_ & (CollTrigger | CollProbe)) == (CollTrigger | CollProbe)) {
        query = CollTrigger | (collFlags_ & CollSolid);
    }
    queryFlags_ = query | (collFlags_ & (CollCameraSolid | CollCameraOpaque | CollArea));
}

void CollisionVolume::SetCollFlags(uint32_t flags) {
    if (flags == collFlags_) {
        return;
    }
    const uint32_t changed = flags ^ collFlags_;
    collFlags_ = flags;
    CollisionWorld* world = CollisionWorld::GetCurrent();
    CollisionSpace* target = nullptr;
    if ((changed & (CollStatic | CollOutsideSpaces)) && world) {
        target = world->FindCollisionSpace(spaceNum_);
    }
    if (target) {
        if (flags & CollOutsideSpaces) {
            if (space_) {
                space_->RemoveVolume(*this);
            }
        } else if (!(changed & CollStatic)) {
            target->AddVolume(*this);
        } else if (CollisionSpace* current = space_) {
            // Spaces file static volumes apart from moving ones.
            current->RemoveVolume(*this);
            current->AddVolume(*this);
        }
    }
    RefreshDerivedFlags();
}

bool CollisionVolume::AcceptsVolume(const CollisionVolume& other) const {
    return collMask_ != 0 && (other.collFlags_ & collMask_) == (collTest_ & collMask_);
}

bool CollisionVolume::AnswersPick(const PickQuery& query) const {
    return (query.flags & PickCollisionVolumes) && (collFlags_ & query.mask1) == query.mask0;
}

void CollisionVolume::OnNodeFlagsChanged(Entity*, Entity& object, const uint32_t*,
                                         const uint32_t*) {
    if (auto* volume = dynamic_cast<CollisionVolume*>(&object)) {
        volume->RefreshDerivedFlags();
    }
}

// Membership ----------------------------------------------------------------------------------

void CollisionVolume::OnLoaded(void*) {
    CollisionWorld* world = CollisionWorld::GetCurrent();
    if ((collFlags_ & CollOutsideSpaces) || !world) {
        return;
    }
    CollisionSpace* space = world->FindCollisionSpace(spaceNum_);
    if (space && space != space_) {
        space->AddVolume(*this);
    }
}

void CollisionVolume::AttachToSpace(CollisionSpace& space, CollisionVolume*& head) {
    nextInSpace_ = head;
    if (head) {
        head->prevLinkInSpace_ = &nextInSpace_;
    }
    head = this;
    prevLinkInSpace_ = &head;
    space_ = &space;
}

void CollisionVolume::DetachFromSpace() {
    if (prevLinkInSpace_) {
        *prevLinkInSpace_ = nextInSpace_;
    }
    if (nextInSpace_) {
        nextInSpace_->prevLinkInSpace_ = prevLinkInSpace_;
    }
    nextInSpace_ = nullptr;
    prevLinkInSpace_ = nullptr;
    space_ = nullptr;
}

void CollisionVolume::AttachToBody(CollisionBody& body) {
    DetachFromBody();
    CollisionVolume*& head = body.GetVolumeListHead();
    nextInBody_ = head;
    if (head) {
        head->prevLinkInBody_ = &nextInBody_;
    }
    head = this;
    prevLinkInBody_ = &head;
    body_ = &body;
    body.MarkMassOutOfDate();
}

void CollisionVolume::DetachFromBody() {
    if (!body_) {
        return;
    }
    if (prevLinkInBody_) {
        *prevLinkInBody_ = nextInBody_;
    }
    if (nextInBody_) {
        nextInBody_->prevLinkInBody_ = prevLinkInBody_;
    }
    CollisionBody* body = body_;
    nextInBody_ = nullptr;
    prevLinkInBody_ = nullptr;
    body_ = nullptr;
    body->MarkMassOutOfDate();
}

void CollisionVolume::InvalidateTransform() {
    RenderObject::InvalidateTransform();
    if (space_) {
        space_->VolumeMoved(*this);
    }
}

// Mass ----------------------------------------------------------------------------------------

void CollisionVolume::SetDensity(float density) {
    density_ = density;
    UpdateMassProperties();
}

void CollisionVolume::SetMassProperties(float mass, float inertiaDiagonal) {
    SetMassProperties(mass, Float3(inertiaDiagonal, inertiaDiagonal, inertiaDiagonal));
}

void CollisionVolume::SetMassProperties(float mass, Float3 inertiaDiagonal) {
    mass_ = mass;
    const float diagonal[3] = {inertiaDiagonal.x, inertiaDiagonal.y, inertiaDiagonal.z};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            inertia_[row][column] = row == column ? diagonal[row] : 0.0f;
        }
    }
}

void CollisionVolume::SetMassProperties(float mass, const float (&tensor)[3][3]) {
    mass_ = mass;
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            inertia_[row][column] = column < 3 ? tensor[row][column] : 0.0f;
        }
    }
}

void CollisionVolume::TouchBodyInertia() {
    if (body_) {
        CallEntityMethod(&body_->GetBodyEntity(), "touchinertia", nullptr);
    }
}

// Geometry defaults ---------------------------------------------------------------------------

Float3 CollisionVolume::GetWorldCenter() {
    return GetWorldPosition();
}

float CollisionVolume::GetSubmergedVolume(Float3, float, Float3*) {
    return 0.0f;
}

float CollisionVolume::GetPointDepth(Float3, Float3*) {
    return 0.0f;
}

float CollisionVolume::GetSubmergedArea(float height, Float3 direction, Float3* centre) {
    const Float3 low = GetSupportPoint(Float3(0.0f, -1.0f, 0.0f));
    if (height <= low.y) {
        return 0.0f;
    }
    const Float3 high = GetSupportPoint(Float3(0.0f, 1.0f, 0.0f));
    if (height >= high.y || direction.y > 0.9999f || direction.y < -0.9999f) {
        lastSubmergedCentre = GetWorldPosition();
        if (centre) {
            *centre = lastSubmergedCentre;
        }
        return GetProjectedArea(direction);
    }
    const Float3 side = direction.Cross(Float3(0.0f, 1.0f, 0.0f)).NormalizedOrSelf();
    const float width = (GetSupportPoint(side) - GetSupportPoint(side * -1.0f)).Dot(side);
    const float depth = height - low.y;
    const Float3 position = GetWorldPosition();
    lastSubmergedCentre = Float3(position.x, low.y + 0.5f * depth, position.z);
    if (centre) {
        *centre = lastSubmergedCentre;
    }
    const float dy2 = direction.y * direction.y;
    return (1.0f - dy2) * depth * width + dy2 * GetProjectedArea(Float3(0.0f, 1.0f, 0.0f));
}

// Script queries ------------------------------------------------------------------------------

bool CollisionVolume::TestVolume(Entity* other) {
    lastTestDepth = -1.0f;
    lastTestPosition = Float3();
    auto* volume = dynamic_cast<CollisionVolume*>(other);
    if (!volume) {
        return false;
    }
    const int count = CollidePair(*this, *volume, 0, testContacts);
    Float3 sum;
    for (int i = 0; i < count; ++i) {
        const CollisionContact& contact = testContacts[i];
        lastTestDepth = MaxFloat(lastTestDepth, contact.depth);
        sum = sum + contact.position;
    }
    if (count > 0) {
        // Contacts come negated; scripts read world coordinates.
        lastTestPosition = sum / static_cast<float>(-count);
    }
    return count != 0;
}

float CollisionVolume::GetLastTestDepth() {
    return lastTestDepth;
}

Float3 CollisionVolume::GetLastTestPosition() {
    return lastTestPosition;
}

Float3 CollisionVolume::GetLastSubmergedCentre() {
    return lastSubmergedCentre;
}

Entity* CollisionVolume::ScriptGetBody() {
    return body_ ? &body_->GetBodyEntity() : nullptr;
}

Float3 CollisionVolume::ScriptGetPointNormal(Float3 point) {
    Float3 normal;
    GetPointDepth(point, &normal);
    return normal;
}

// Node and drawing ----------------------------------------------------------------------------

int CollisionVolume::GetPropertyState(const Property& property) const {
    if (&property == collTestProperty_) {
        return static_cast<int>(collMask_);
    }
    if (&property == signalEnterProperty_ || &property == signalLeaveProperty_) {
        return collMask_ != 0 ? 1 : 0;
    }
    return RenderObject::GetPropertyState(property);
}

int CollisionVolume::GetOutputCount() const {
    return HasCollFlags(CollTrigger | CollProbe) ? 2 : 0;
}

const char* CollisionVolume::GetOutputName(int port) const {
    return port == 0 ? "enter" : port == 1 ? "leave" : "";
}

void CollisionVolume::SetPortValue(int port, const EntityRef& reference) {
    if (port == 0) {
        signalEnter_.SetId(reference.GetId());
    } else if (port == 1) {
        signalLeave_.SetId(reference.GetId());
    }
}

EntityRef CollisionVolume::GetPortValue(int port) const {
    return port == 0 ? signalEnter_ : port == 1 ? signalLeave_ : EntityRef();
}

bool CollisionVolume::IsVisible() {
    return (GetRenderFlags() & (RenderGeometry | RenderGizmo)) == (RenderGeometry | RenderGizmo) &&
           GetOpacity() != 0.0f;
}

uint32_t CollisionVolume::GetColorArgb(Float3, uint32_t) {
    // Clamped first: a float beyond the byte's range has no defined conversion.
    const float alpha = MinFloat(MaxFloat(GetOpacity() * 255.0f, 0.0f), 255.0f);
    return static_cast<uint32_t>(alpha) << 24 | (GetColor() & 0xFFFFFF);
}

int32_t CollisionVolume::Render() {
    return RenderShape(false);
}

int32_t CollisionVolume::RenderShape(bool whenSelected) {
    if (TestRenderFlags(RenderGizmo) || (whenSelected && HasFlag(NodeSelected))) {
        DrawShape();
    }
    return 0;
}

void CollisionVolume::UpgradeVersion(int fileVersion) {
    if (fileVersion != 34) {
        RenderObject::UpgradeVersion(fileVersion);
    }
    const uint32_t f = collFlags_;
    switch (fileVersion) {
    case 29: {
        // The group a volume of these flags behaved as; the first matching test wins.
        const struct {
            uint32_t mask;
            uint32_t value;
            int32_t group;
        } rules[] = {{0xCD, 0xC1, 1},   {0xCD, 0x4, 2},    {0xD, 0xC, 3},   {0xD, 0x9, 4},
                     {0x10D, 0x100, 5}, {0x10D, 0x108, 6}, {0xCC, 0x48, 7}, {0x4D, 0x1, 8},
                     {0x8C, 0x88, 9},   {0x8D, 0x1, 10},   {0xCD, 0x80, 9}, {0xCD, 0x40, 7}};
        group_ = (f & 0xCD) != 0 ? 1 : 0;
        for (const auto& rule : rules) {
            if ((f & rule.mask) == rule.value) {
                group_ = rule.group;
                break;
            }
        }
        break;
    }
    case 31:
        if (f & CollProbe) {
            collTest_ = f & 0x1E7;
            collMask_ = collTest_ | CollProbe;
        } else if (f & CollTrigger) {
            collTest_ = f & 0x1EB;
            collMask_ = collTest_ | CollTrigger;
        } else {
            collTest_ = collMask_ = (f & CollSolid) ? 1u : 0u;
        }
        break;
    case 35:
        // The render-type raise that drawables took at version 34 comes one version later for
        // volumes: types above 1 move up by one.
        RenderObject::UpgradeVersion(34);
        break;
    default:
        break;
    }
}

// Registration --------------------------------------------------------------------------------

ClassInfo* CollisionVolume::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo("CollisionVolume", nullptr, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Collision");

    using V = CollisionVolume;
    constexpr const char* FlagNames =
        "solid,opaque,trigger,probe,static,player,camera_solid,camera_opaque,area,logical,"
        "buoyancy,physical,item,obj,ai,bullet";
    const std::string flagsRange = std::string(":") + FlagNames;
    classInfo->AddProperty<PropertyBitfield, &V::GetCollFlags, &V::SetCollFlags>(
        ("collflags" + flagsRange).c_str());
    classInfo->AddProperty<PropertyBitfield, &V::GetCollMask, &V::SetCollMask>(
        ("collmask" + flagsRange).c_str());
    collTestProperty_ = classInfo->AddProperty<PropertyBitfield, &V::GetCollTest, &V::SetCollTest>(
        ("colltest" + flagsRange).c_str());
    classInfo->AddProperty<PropertyEnum, &V::GetMaterialId, &V::SetMaterialId>(
        "materialid:NORMAL,ICE,RUBBER,GLASS,WOOD,WATER,SUPERICE,ICEPICK,TEFLON,METAL");
    classInfo->AddProperty<PropertyInt, &V::GetSpaceNum, &V::SetSpaceNum>(
        "spacenum:enum:COLLISION,AREA,DUMMY,TRON,META,METAL");
    const uint32_t none = 0;
    const int32_t nodeType = ClassTypeBase + Node::RegisterClass()->GetClassNumber();
    classInfo
        ->AddProperty("witness", std::make_unique<PropertyEntity>(nodeType),
                      MakeGetter<&V::GetWitness>(), MakeSetter<&V::SetWitness>())
        ->SetDefault(&none);
    AddWitnessProperty(classInfo, "signalenter:signal", 0);
    AddWitnessProperty(classInfo, "signalleave:signal", 1);
    signalEnterProperty_ = classInfo->FindProperty("signalenter");
    signalLeaveProperty_ = classInfo->FindProperty("signalleave");
    signalEnterProperty_->SetDefault(&none);
    signalLeaveProperty_->SetDefault(&none);
    const uint32_t one = FloatToWord(1.0f);
    classInfo->AddProperty<PropertyFloat, &V::GetDensity, &V::SetDensity>("density:0.0,10.0")
        ->SetDefault(&one);
    const uint32_t zero[3] = {};
    classInfo->AddProperty<PropertyFloat3, &V::GetSurfaceSpeed, &V::SetSurfaceSpeed>("surfacespeed")
        ->SetDefault(zero);
    classInfo->AddProperty<PropertyEnum, &V::GetGroup, &V::SetGroup>(
        "group:NONE,SOLID,TRIGGER,TRIGGERPROBE,SOLIDPROBE,AREA,AREAPROBE,CAMERA,SOLID_NOTCAM,"
        "VIEWPROBE,SOLID_NOTVIEW,BULLET,BULLETPROBE,PLAYER,PLAYERPROBE,UNKNOWN");

    classInfo->AddMethod("loaded", "()", BindSignalHandler<&V::OnLoaded>(), MethodClassSignal);
    // Script-visible under generated names: the order is fixed (compiled scripts hold them).
    classInfo->AddMethod(NextShortName(), "():entity", BindMethod<&V::ScriptGetBody>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float", BindMethod<&V::ScriptGetRadius>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&V::ScriptGetWorldCenter>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&V::ScriptWorldBoxMin>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&V::ScriptWorldBoxMax>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3",
                         BindMethod<&V::ScriptGetSupportPoint>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3,float):float",
                         BindMethod<&V::ScriptGetSubmergedVolume>(), MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&V::ScriptGetSubmergedCentre>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float", BindMethod<&V::ScriptGetPointDepth>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(float3):float3", BindMethod<&V::ScriptGetPointNormal>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "(CollisionVolume):bool", BindMethod<&V::TestVolume>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float", BindMethod<&V::ScriptGetTestDepth>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float3", BindMethod<&V::ScriptGetTestPosition>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float", BindMethod<&V::ScriptGetMass>(),
                         MethodScript);
    classInfo->AddMethod(NextShortName(), "():float", BindMethod<&V::ScriptGetVolume>(),
                         MethodScript);

    // The flags solid to physical, the materials and the space numbers.
    for (int bit = 0; bit < 12; ++bit) {
        RegisterNamedConstant(NextShortName(), 1 << bit);
    }
    for (int32_t material = 0; material < 10; ++material) {
        RegisterNamedConstant(NextShortName(), material);
    }
    for (int32_t space = 0; space < 6; ++space) {
        RegisterNamedConstant(NextShortName(), space);
    }

    RegisterClassSignal("loaded", classInfo);
    RegisterClassSignal("nodedeletion", classInfo);
    Node::RegisterClass()->FindProperty("flags")->AddListener(Property::ListenerOfObject, nullptr,
                                                              classInfo, &V::OnNodeFlagsChanged, 0);
    ClearColliders();
    InitFeatureColliders();
    return classInfo;
}

} // namespace quarn
