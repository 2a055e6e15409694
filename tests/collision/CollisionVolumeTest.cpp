#include "collision/CollisionSpace.h"
#include "collision/CollisionWorld.h"
#include "core/io/BufferFile.h"
#include "core/object/ClassInfo.h"
#include "core/object/MethodInfo.h"
#include "core/scenefile/SceneLoader.h"
#include "tests/collision/CollisionTestSupport.h"
#include "tests/support/TestClass.h"

#include <cmath>
#include <random>
#include <string>
#include <utility>

namespace quarn {
namespace {

using test::CollisionTest;

TEST_F(CollisionTest, DerivedFlagsFollowTheCollisionFlagsAndTheNodesEnabledState) {
    const struct {
        uint32_t collFlags;
        bool enabled;
        uint32_t query;
    } cases[] = {
        {CollDefaultFlags, true, CollSolid},
        {CollDefaultFlags, false, 0},
        {CollSolid | CollStatic, true, 0},                     // static only
        {CollSolid | CollStatic | CollProbe, true, CollSolid}, // static probe answers
        {CollTrigger | CollProbe | CollSolid, true, CollTrigger | CollSolid},
        {CollTrigger | CollProbe, true, CollTrigger},
        {CollTrigger, true, 0},
        {CollCameraSolid | CollCameraOpaque | CollArea | CollItem, true, 0x1C0},
    };
    for (const auto& c : cases) {
        CollisionSphere* sphere = Sphere(Float3(), 1.0f);
        sphere->SetCollFlags(c.collFlags);
        sphere->SetFlag(NodeEnabled, c.enabled);
        EXPECT_EQ(sphere->GetActiveFlags(), c.collFlags);
        EXPECT_EQ(sphere->GetQueryFlags(), c.query) << std::hex << c.collFlags << c.enabled;
    }
    // A parent's state reaches the volume through the inherited enabled_all bit.
    Node* parent = tree_.Make<Node>("parent");
    CollisionSphere* child = Sphere(Float3(), 1.0f);
    child->AttachAsLast(parent);
    parent->SetFlag(NodeEnabled, false);
    EXPECT_EQ(child->GetQueryFlags(), 0u);
    parent->SetFlag(NodeEnabled, true);
    EXPECT_EQ(child->GetQueryFlags(), static_cast<uint32_t>(CollSolid));
}

TEST_F(CollisionTest, AcceptsVolumeComparesUnderTheMaskAndRefusesEverythingWithoutOne) {
    CollisionSphere* a = Sphere(Float3(), 1.0f);
    CollisionSphere* b = Sphere(Float3(), 1.0f);
    b->SetCollFlags(CollSolid | CollPlayer);
    EXPECT_FALSE(a->AcceptsVolume(*b));
    a->SetCollMask(CollPlayer | CollItem);
    a->SetCollTest(CollPlayer);
    EXPECT_TRUE(a->AcceptsVolume(*b));
    b->SetCollFlags(CollSolid | CollPlayer | CollItem);
    EXPECT_FALSE(a->AcceptsVolume(*b));
    EXPECT_TRUE(b->HasCollFlags(CollItem | CollBullet));
    EXPECT_FALSE(b->HasCollFlags(CollBullet));
}

TEST_F(CollisionTest, TriggersAndProbesHaveEnterAndLeavePortsThatTheSignalPropertiesShow) {
    CollisionSphere* sphere = Sphere(Float3(), 1.0f);
    Node* target = tree_.Make<Node>("target");
    EXPECT_EQ(sphere->GetOutputCount(), 0);
    sphere->SetCollFlags(CollTrigger);
    ASSERT_EQ(sphere->GetOutputCount(), 2);
    EXPECT_STREQ(sphere->GetOutputName(0), "enter");
    EXPECT_STREQ(sphere->GetOutputName(1), "leave");
    EntityRef reference;
    reference.InitFromId(target->GetId());
    sphere->SetPortValue(1, reference);
    EXPECT_EQ(sphere->GetSignalLeave().GetId(), target->GetId());
    EXPECT_EQ(sphere->GetPortValue(0).GetId(), 0u);
    const Property* leave = sphere->GetClass()->FindProperty("signalleave");
    uint32_t word = 0;
    leave->ReadValue(*sphere, &word);
    EXPECT_EQ(word, target->GetId());
    // The signal properties and colltest matter only under a mask.
    EXPECT_EQ(sphere->GetPropertyState(*leave), 0);
    sphere->SetCollMask(CollSolid);
    EXPECT_EQ(sphere->GetPropertyState(*leave), 1);
    EXPECT_EQ(sphere->GetPropertyState(*sphere->GetClass()->FindProperty("colltest")),
              static_cast<int>(CollSolid));
}

TEST_F(CollisionTest, TestVolumeKeepsTheDeepestDepthAndTheMeanWorldPosition) {
    CollisionSphere* a = Sphere(Float3(0.0f, 1.0f, 0.0f), 1.0f);
    CollisionSphere* far = Sphere(Float3(0.0f, 9.0f, 0.0f), 1.0f);
    CollisionPlane* ground = Plane(Float3(), 1);
    EXPECT_FALSE(a->TestVolume(far));
    EXPECT_EQ(CollisionVolume::GetLastTestDepth(), -1.0f);
    test::ExpectNear(CollisionVolume::GetLastTestPosition(), Float3());
    a->SetPosition(Float3(3.0f, 0.75f, -2.0f));
    EXPECT_TRUE(a->TestVolume(ground));
    EXPECT_FLOAT_EQ(CollisionVolume::GetLastTestDepth(), 0.25f);
    test::ExpectNear(CollisionVolume::GetLastTestPosition(), Float3(3.0f, -0.25f, -2.0f));
    EXPECT_FALSE(a->TestVolume(nullptr));
    EXPECT_EQ(CollisionVolume::GetLastTestDepth(), -1.0f);
}

TEST_F(CollisionTest, PointDepthNormalsAreFiniteAtTheCentreItself) {
    // The last method of this signature; the support point comes before it.
    const MethodInfo* normalMethod = nullptr;
    for (const auto& method : CollisionVolume::classInfo->GetOwnMethods()) {
        if (method->GetSignatureText() == "(float3):float3") {
            normalMethod = method.get();
        }
    }
    ASSERT_NE(normalMethod, nullptr);
    CollisionSphere* sphere = Sphere(Float3(1.0f, 2.0f, 3.0f), 2.0f);
    auto* point = Make<CollisionPoint>(Float3(1.0f, 2.0f, 3.0f));
    for (CollisionVolume* volume :
         {static_cast<CollisionVolume*>(sphere), static_cast<CollisionVolume*>(point)}) {
        // Through the script method, as a script asks for it.
        uint32_t block[4] = {};
        ValueTraits<Float3>::Write(Float3(1.0f, 2.0f, 3.0f), block + 1);
        normalMethod->Call(volume, block);
        test::ExpectNear(ValueTraits<Float3>::Read(block), Float3(1.0f, 0.0f, 0.0f));
    }
    EXPECT_FLOAT_EQ(sphere->GetPointDepth(Float3(1.0f, 2.0f, 3.0f), nullptr), 2.0f);
    Float3 normal;
    EXPECT_FLOAT_EQ(point->GetPointDepth(Float3(1.0f, 5.0f, 3.0f), &normal), -3.0f);
    test::ExpectNear(normal, Float3(0.0f, 1.0f, 0.0f));
}

TEST_F(CollisionTest, VisibilityAndColourComeFromTheGizmoFlagsAndTheOpacity) {
    CollisionSphere* sphere = Sphere(Float3(), 1.0f);
    EXPECT_TRUE(sphere->IsVisible());
    EXPECT_EQ(sphere->GetColorArgb(Float3(), 0), 0x7FFF0000u); // opacity 0.5, red
    sphere->SetColor(0x12345678);
    sphere->SetOpacity(1.0f);
    EXPECT_EQ(sphere->GetColorArgb(Float3(), 0), 0xFF345678u);
    sphere->SetOpacity(7.0f); // past the byte: full, not wrapped
    EXPECT_EQ(sphere->GetColorArgb(Float3(), 0) >> 24, 0xFFu);
    sphere->SetRenderFlag(RenderGizmo, false);
    EXPECT_FALSE(sphere->IsVisible());
    sphere->SetRenderFlag(RenderGizmo, true);
    sphere->SetOpacity(0.0f);
    EXPECT_FALSE(sphere->IsVisible());
}

TEST_F(CollisionTest, PlanesOfEachSideHaveTheirNormalBoxAndSupportPoints) {
    const struct {
        int32_t side;
        Float3 normal, boxMin, boxMax, supportUp, supportDown;
    } cases[] = {
        {1, {0, 1, 0}, {-1000, 2, -1000}, {1000, 1000, 1000}, {101, 2, 103}, {-99, -98, -97}},
        {4, {0, -1, 0}, {-1000, -1000, -1000}, {1000, 2, 1000}, {101, 102, 103}, {-99, 2, -97}},
        {3, {-1, 0, 0}, {-1000, -1000, -1000}, {1, 1000, 1000}, {101, 102, 103}, {1, -98, -97}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.side);
        CollisionPlane* plane = Plane(Float3(1.0f, 2.0f, 3.0f), c.side);
        test::ExpectNear(plane->GetNormal(), c.normal);
        const Aabb box = plane->GetWorldBoundingBox();
        test::ExpectNear(box.min, c.boxMin);
        test::ExpectNear(box.max, c.boxMax);
        test::ExpectNear(plane->GetSupportPoint(Float3(1, 1, 1)), c.supportUp);
        test::ExpectNear(plane->GetSupportPoint(Float3(-1, -1, -1)), c.supportDown);
        EXPECT_FLOAT_EQ(plane->GetSupportDistance(Float3(1, 1, 1)),
                        c.supportUp.Dot(Float3(1, 1, 1)));
    }
    // Side -1 follows the node's Z axis; its support point is the local corner at +-100.
    const Quaternion tilt = Quaternion::FromAxisAngle(1.5707964f, Float3(0.0f, 1.0f, 0.0f));
    CollisionPlane* turned = Plane(Float3(1.0f, 2.0f, 3.0f), -1, tilt);
    const Float3 z = turned->GetWorldAxisZ();
    test::ExpectNear(turned->GetNormal(), z);
    const Float3 support = turned->GetSupportPoint(z);
    EXPECT_NEAR((support - Float3(1.0f, 2.0f, 3.0f)).Dot(z), 100.0f, 1e-3f);
    EXPECT_EQ(turned->GetRadius(), 100.0f);
}

// What the spaces and the body see of a volume, through stand-ins of the world and body.
class RecordingSpace : public CollisionSpace {
public:
    void AddVolume(CollisionVolume& volume) override {
        log += "add ";
        volume.AttachToSpace(*this, head);
    }
    void RemoveVolume(CollisionVolume& volume) override {
        log += "remove ";
        volume.DetachFromSpace();
    }
    void VolumeMoved(CollisionVolume&) override { log += "moved "; }
    void Prepare() override {}
    void Collide(void*, CollisionPairCallback) override {}
    void CollideVolume(void*, CollisionVolume&, CollisionPairCallback) override {}
    int32_t Render() override { return 0; }
    CollisionVolume* head = nullptr;
    std::string log;
};

class OneSpaceWorld : public CollisionWorld {
public:
    CollisionSpace* FindCollisionSpace(int32_t number) override {
        return number == 0 ? &space : nullptr;
    }
    uint32_t GetStepCounter() const override { return 0; }
    RecordingSpace space;
};

TEST_F(CollisionTest, VolumesJoinAndLeaveTheWorldsSpacesAsTheirFlagsSay) {
    CollisionSphere* sphere = Sphere(Float3(), 1.0f);
    sphere->OnLoaded(nullptr); // no world: nothing happens
    sphere->SetCollFlags(CollSolid | CollStatic);
    EXPECT_EQ(sphere->GetSpace(), nullptr);
    OneSpaceWorld world;
    CollisionWorld::SetCurrent(&world);
    sphere->OnLoaded(nullptr);
    EXPECT_EQ(sphere->GetSpace(), &world.space);
    sphere->SetPosition(Float3(1.0f, 0.0f, 0.0f));
    sphere->SetCollFlags(CollSolid);                     // static changed: filed again
    sphere->SetCollFlags(CollSolid | CollOutsideSpaces); // out of every space
    sphere->SetCollFlags(CollSolid);                     // back in
    EXPECT_EQ(world.space.log, "add moved remove add remove add ");
    EXPECT_EQ(world.space.head, sphere);
    sphere->SetSpaceNum(3);
    sphere->Delete();
    EXPECT_EQ(world.space.head, nullptr);
    CollisionWorld::SetCurrent(nullptr);
}

TEST_F(CollisionTest, OldScenesGainGroupsMasksAndRaisedRenderTypes) {
    auto load = [](int version, const char* lines) {
        const std::string text = "version = " + std::to_string(version) +
                                 "\nidsystem = 0\nnum_nodes = 1\nobj1 {\n\tclass = "
                                 "\"CollisionSphere\"\n\tparent = 0\n" +
                                 lines + "}\n";
        BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
        SceneLoader loader("old.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr);
        return dynamic_cast<CollisionSphere*>(loader.Load(file));
    };
    const struct {
        int version;
        uint32_t flags;
        int32_t group;
        uint32_t mask, test;
    } cases[] = {
        {28, 0xC1, 1, 1, 1},    {28, 0x4, 2, 0x4, 0x0},       {28, 0xC, 3, 0xC, 0x4},
        {28, 0x9, 4, 0x9, 0x1}, {28, 0x108, 6, 0x108, 0x100}, {28, 0x48, 7, 0x48, 0x40},
        {28, 0x1, 8, 1, 1},     {28, 0x400, 0, 0, 0},         {30, 0x4, 1, 0x4, 0x0},
    };
    for (const auto& c : cases) {
        char lines[64];
        std::snprintf(lines, sizeof lines, "\tcollflags = %u\n", c.flags);
        CollisionSphere* sphere = load(c.version, lines);
        ASSERT_NE(sphere, nullptr);
        EXPECT_EQ(sphere->GetGroup(), c.group) << std::hex << c.flags;
        EXPECT_EQ(sphere->GetCollMask(), c.mask) << std::hex << c.flags;
        EXPECT_EQ(sphere->GetCollTest(), c.test) << std::hex << c.flags;
        sphere->Delete();
    }
    // Volumes take the drawables' raise of version 34 at 35 (and the one of 37 as they do).
    for (const auto& [version, type] : {std::pair{34, 8}, {35, 8}, {36, 6}, {44, 6}}) {
        CollisionSphere* sphere = load(version, "\tcollflags = 4\n\trendertype = 6\n");
        EXPECT_EQ(sphere->GetRenderType(), type) << version;
        EXPECT_EQ(sphere->GetGroup(), 1) << version;
        sphere->Delete();
    }
}

// A body stand-in that counts the "touchinertia" calls it gets by name.
class CountingBody : public test::TestClass<CountingBody, Node>, public CollisionBody {
public:
    static constexpr const char* Name = "CollisionTestBody";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("touchinertia", "(int)", BindSignalHandler<&CountingBody::Touch>(),
                            MethodClassSignal);
    }
    void Touch(void*) { ++touches; }
    Entity& GetBodyEntity() override { return *this; }
    CollisionVolume*& GetVolumeListHead() override { return head; }
    void MarkMassOutOfDate() override { ++outOfDate; }
    CollisionVolume* head = nullptr;
    int touches = 0;
    int outOfDate = 0;
};

TEST_F(CollisionTest, AnAttachedBodyHearsOfMassChangesAndOfVolumesLeaving) {
    auto* body = tree_.Make<CountingBody>("body");
    CollisionSphere* a = Sphere(Float3(), 1.0f);
    CollisionSphere* b = Sphere(Float3(), 1.0f);
    a->AttachToBody(*body);
    b->AttachToBody(*body);
    EXPECT_EQ(body->head, b);
    EXPECT_EQ(b->GetNextInBody(), a);
    a->SetSphereRadius(2.0f);
    EXPECT_EQ(body->touches, 1);
    b->DetachFromBody();
    EXPECT_EQ(body->head, a);
    EXPECT_EQ(body->outOfDate, 3);
    a->Delete();
    EXPECT_EQ(body->head, nullptr);
    EXPECT_EQ(body->outOfDate, 4);
}

// Submerged caps: the exact formulas, and a Monte Carlo estimate of volume and centroid.
TEST_F(CollisionTest, SubmergedSphereCapsMatchTheFormulasAndSampling) {
    CollisionSphere* sphere = Sphere(Float3(1.0f, 2.0f, 3.0f), 2.0f);
    const Float3 n = Float3(1.0f, 2.0f, 2.0f) / 3.0f;
    const float centreHeight = n.Dot(Float3(1.0f, 2.0f, 3.0f));
    std::mt19937 random(47);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (float h : {-2.5f, -1.5f, -0.4f, 0.0f, 0.7f, 1.9f, 2.5f}) {
        SCOPED_TRACE(h);
        Float3 centre(9.0f, 9.0f, 9.0f);
        const float volume = sphere->GetSubmergedVolume(n, centreHeight - h, &centre);
        if (h >= 2.0f) {
            EXPECT_EQ(volume, 0.0f);
            test::ExpectNear(centre, Float3(9.0f, 9.0f, 9.0f));
            continue;
        }
        const float k = 2.0f - std::fmax(h, -2.0f);
        EXPECT_NEAR(volume, 3.14159265f * k * k * (6.0f - k) / 3.0f, 1e-4f);
        int inside = 0;
        Float3 sum;
        for (int i = 0; i < 200000; ++i) {
            const Float3 p(unit(random), unit(random), unit(random));
            if (p.LengthSquared() <= 1.0f && n.Dot(p) * 2.0f <= -h) {
                ++inside;
                sum = sum + p * 2.0f;
            }
        }
        EXPECT_NEAR(volume, 64.0f * inside / 200000.0f, 0.05f * 33.5f + 0.1f);
        test::ExpectNear(centre, Float3(1.0f, 2.0f, 3.0f) + sum / static_cast<float>(inside),
                         0.03f);
    }
}

TEST_F(CollisionTest, SubmergedAreaCoversItsThreeCases) {
    CollisionSphere* sphere = Sphere(Float3(1.0f, 0.0f, 0.0f), 1.0f);
    Float3 centre(7.0f, 7.0f, 7.0f);
    // Above the surface: 0, the centre untouched.
    EXPECT_EQ(sphere->GetSubmergedArea(-1.0f, Float3(1, 0, 0), &centre), 0.0f);
    test::ExpectNear(centre, Float3(7.0f, 7.0f, 7.0f));
    // Wholly below, or looked at from straight above: the projected area about the position.
    EXPECT_FLOAT_EQ(sphere->GetSubmergedArea(2.0f, Float3(1, 0, 0), &centre), 3.1415927f);
    test::ExpectNear(centre, Float3(1.0f, 0.0f, 0.0f));
    EXPECT_FLOAT_EQ(sphere->GetSubmergedArea(0.5f, Float3(0, 1, 0), nullptr), 3.1415927f);
    // Partly: depth times width along a level direction, the centre halfway down.
    EXPECT_FLOAT_EQ(sphere->GetSubmergedArea(0.0f, Float3(1, 0, 0), &centre), 2.0f);
    test::ExpectNear(centre, Float3(1.0f, -0.5f, 0.0f));
    test::ExpectNear(CollisionVolume::GetLastSubmergedCentre(), Float3(1.0f, -0.5f, 0.0f));
    // A tilted direction blends in the area seen from above.
    const Float3 d = Float3(0.6f, 0.8f, 0.0f);
    EXPECT_NEAR(sphere->GetSubmergedArea(0.0f, d, nullptr), 0.36f * 2.0f + 0.64f * 3.1415927f,
                1e-5f);
}

} // namespace
} // namespace quarn
