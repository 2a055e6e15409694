#include "collision/CollisionBox.h"
#include "collision/CollisionCylinder.h"
#include "collision/CollisionSpaceSweepnPrune.h"
#include "tests/physics/PhysicsTestSupport.h"
#include "tests/support/CapturingLogSink.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

namespace quarn::test {
namespace {

// A parameterised case's name, from its `name`.
template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

// Bodies resting on each other in the default world's exact step.
class RestingBodies : public PhysicsTest {
protected:
    void SetUp() override {
        PhysicsTest::SetUp();
        space_ = UseSweepSpace(64);
        world_->SetMethod(PhysicsLcp);
        world_->SetIdleThreshold(0.0f); // every step solved
        JoinSpace(*space_, Ground(), CollSolid | CollStatic);
    }

    // A unit cube resting where its contacts below settle: each contact pushes back only
    // beyond the world's minimum depth.
    RigidBody* Cube(const std::string& name, float x, int layer, float density = 1.0f) {
        const float depth = world_->GetContactMinDepth();
        const float y = 0.5f + static_cast<float>(layer) * (1.0f - depth) - depth;
        RigidBody* body = Body(Float3(x, y, 0.0f));
        body->SetName(name.c_str());
        auto* box = tree_.Make<CollisionBox>("box");
        box->SetSize(Float3(1.0f, 1.0f, 1.0f));
        box->SetDensity(density);
        box->AttachAsLast(body);
        JoinSpace(*space_, box, CollSolid);
        return body;
    }
    // Steps the world, counting the steps whose solve was not clean.
    int Run(int steps) {
        int unclean = 0;
        for (int i = 0; i < steps; ++i) {
            world_->Step(world_->GetTimestep());
            unclean += LCPStepFailures != 0 ? 1 : 0;
        }
        return unclean;
    }

    CollisionSpaceSweepnPrune* space_ = nullptr;
};

struct StackCase {
    const char* name;
    std::vector<int> layerSizes; // from the floor up
    int seconds; // kept short: under the sanitizers a second of the pyramid takes about 2 s
    int32_t frictionModel;
};

class RestingStacks : public RestingBodies, public ::testing::WithParamInterface<StackCase> {};

TEST_P(RestingStacks, EveryBoxStaysWithinACentimetreWithCleanSolves) {
    const StackCase& c = GetParam();
    world_->SetFrictionModel(c.frictionModel);
    std::vector<RigidBody*> boxes;
    std::vector<Float3> places;
    for (int layer = 0; layer < static_cast<int>(c.layerSizes.size()); ++layer) {
        const int count = c.layerSizes[layer];
        for (int k = 0; k < count; ++k) {
            // Neighbours in a layer 2 cm apart, each box on two below.
            const float x = (static_cast<float>(k) - 0.5f * static_cast<float>(count - 1)) * 1.02f;
            boxes.push_back(Cube("box", x, layer));
            places.push_back(boxes.back()->GetPosition());
        }
    }
    CapturingLogSink log;
    for (int second = 1; second <= c.seconds; ++second) {
        ASSERT_EQ(Run(100), 0) << "second " << second;
        for (size_t b = 0; b < boxes.size(); ++b) {
            ASSERT_LT((boxes[b]->GetPosition() - places[b]).Length(), 0.01f)
                << "box " << b << ", second " << second;
        }
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
}

std::vector<StackCase> StackCases() {
    std::vector<StackCase> cases;
    for (int32_t model = 0; model < 4; ++model) {
        cases.push_back({"TenBoxStack", std::vector<int>(10, 1), 10, model});
        cases.push_back({"FifteenBoxPyramid", {5, 4, 3, 2, 1}, 2, model});
    }
    cases.push_back({"TwentyBoxStack", std::vector<int>(20, 1), 10, 3});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(FrictionModels, RestingStacks, ::testing::ValuesIn(StackCases()),
                         [](const ::testing::TestParamInfo<StackCase>& info) {
                             return std::string(info.param.name) + "Model" +
                                    std::to_string(info.param.frictionModel);
                         });

// Stacks under the iterative method at its default sweeps: too tall for the sweeps alone.
struct IterativeStackCase {
    const char* name;
    int boxes;
    bool onABox;      // a static box for floor, its top 10 above the plane; else the plane
    float narrowing;  // each box this much narrower than the one below
    bool mixedMasses; // densities of 1, 3 and 0.5 in turn
};

class IterativeStacks : public RestingBodies,
                        public ::testing::WithParamInterface<IterativeStackCase> {};

TEST_P(IterativeStacks, EveryBoxStaysWithinACentimetreFor20Seconds) {
    const IterativeStackCase& c = GetParam();
    world_->SetMethod(PhysicsIterative);
    ASSERT_EQ(world_->GetIterations(), 5);
    float top = 0.0f;
    if (c.onABox) {
        auto* floor = tree_.Make<CollisionBox>("floor");
        floor->SetSize(Float3(40.0f, 1.0f, 40.0f));
        floor->SetPosition(Float3(3.0f, 9.5f, -2.0f));
        JoinSpace(*space_, floor, CollSolid | CollStatic);
        top = 10.0f;
    }
    const float depth = world_->GetContactMinDepth();
    const float densities[] = {1.0f, 3.0f, 0.5f};
    std::vector<RigidBody*> boxes;
    std::vector<Float3> places;
    float width = 1.0f;
    for (int i = 0; i < c.boxes; ++i) {
        // Each resting where its contacts below settle.
        RigidBody* body = Body(Float3(3.0f, top + 0.5f - depth, -2.0f));
        top += 1.0f - depth;
        auto* box = tree_.Make<CollisionBox>("box");
        box->SetSize(Float3(width, 1.0f, width));
        box->SetDensity(c.mixedMasses ? densities[i % 3] : 1.0f);
        box->AttachAsLast(body);
        JoinSpace(*space_, box, CollSolid);
        boxes.push_back(body);
        places.push_back(body->GetPosition());
        width -= c.narrowing;
    }
    CapturingLogSink log;
    for (int second = 1; second <= 20; ++second) {
        Run(100);
        for (size_t b = 0; b < boxes.size(); ++b) {
            ASSERT_LT((boxes[b]->GetPosition() - places[b]).Length(), 0.01f)
                << "box " << b << ", second " << second;
        }
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, IterativeStacks,
    ::testing::Values(IterativeStackCase{"EightBoxesOnThePlane", 8, false, 0.0f, false},
                      IterativeStackCase{"EightBoxesOnABox", 8, true, 0.0f, false},
                      IterativeStackCase{"TwelveNarrowingOfMixedMasses", 12, false, 0.04f, true}),
    CaseName<IterativeStackCase>);

struct MassRatioCase {
    const char* name;
    int32_t method;
    float ratio;
    bool held;
};

class HeavyOnLight : public RestingBodies, public ::testing::WithParamInterface<MassRatioCase> {};

TEST_P(HeavyOnLight, IsHeldWithinACentimetreOrNamedOnce) {
    const MassRatioCase& c = GetParam();
    world_->SetMethod(c.method);
    RigidBody* light = Cube("light", 0.0f, 0);
    RigidBody* heavy = Cube("heavy", 0.0f, 1, c.ratio);
    const Float3 lightPlace = light->GetPosition();
    const Float3 heavyPlace = heavy->GetPosition();
    CapturingLogSink log;
    Run(1000);
    if (c.held) {
        EXPECT_LT((heavy->GetPosition() - heavyPlace).Length(), 0.01f);
        EXPECT_LT((light->GetPosition() - lightPlace).Length(), 0.01f);
        EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
    } else {
        ASSERT_EQ(log.Lines().size(), 1u);
        EXPECT_EQ(log.Lines()[0].text,
                  "PhysicsMaster 'world': RigidBody 'heavy' rests on RigidBody 'light' with "
                  "1e+06 times its mass, more than the solver carries (1000); the lighter body "
                  "may give way");
    }
}

// The iterative method at its default sweeps carries what the exact step does.
INSTANTIATE_TEST_SUITE_P(
    Ratios, HeavyOnLight,
    ::testing::Values(MassRatioCase{"Ten", PhysicsLcp, 10.0f, true},
                      MassRatioCase{"Thousand", PhysicsLcp, 1000.0f, true},
                      MassRatioCase{"Million", PhysicsLcp, 1e6f, false},
                      MassRatioCase{"TenIterative", PhysicsIterative, 10.0f, true},
                      MassRatioCase{"HundredIterative", PhysicsIterative, 100.0f, true},
                      MassRatioCase{"ThousandIterative", PhysicsIterative, 1000.0f, true},
                      MassRatioCase{"MillionIterative", PhysicsIterative, 1e6f, false}),
    CaseName<MassRatioCase>);

// Bodies as a user places them: each one's bottom exactly on the top of the one below, or a few
// millimetres above it, on a static 40 m box floor whose top is at 0.
class PlacedBodies : public RestingBodies {
protected:
    void SetUp() override {
        RestingBodies::SetUp();
        auto* floor = tree_.Make<CollisionBox>("floor");
        floor->SetSize(Float3(40.0f, 1.0f, 40.0f));
        floor->SetPosition(Float3(0.0f, -0.5f, 0.0f));
        JoinSpace(*space_, floor, CollSolid | CollStatic);
    }

    // A cube of the given edge, or a cylinder as long as it is wide standing on an end, whose
    // bottom is at `bottom`.
    RigidBody* Place(const char* name, float bottom, float size, float density, bool cylinder) {
        RigidBody* body = Body(Float3(0.0f, bottom + 0.5f * size, 0.0f));
        body->SetName(name);
        CollisionVolume* volume = nullptr;
        if (cylinder) {
            CollisionCylinder::RegisterClass();
            auto* shape = tree_.Make<CollisionCylinder>("cylinder");
            shape->SetLength(size);
            shape->SetCylinderRadius(0.5f * size);
            // A quarter turn as a scene keeps it: the axis exactly along Y.
            body->SetOrientation(Quaternion(0.7071068f, 0.0f, 0.0f, 0.7071068f));
            volume = shape;
        } else {
            auto* shape = tree_.Make<CollisionBox>("box");
            shape->SetSize(Float3(size, size, size));
            volume = shape;
        }
        volume->SetDensity(density);
        volume->AttachAsLast(body);
        JoinSpace(*space_, volume, CollSolid);
        return body;
    }
};

struct PlacedStackCase {
    const char* name;
    int32_t method;
    int boxes;
    float size;
    float density;
    float gap; // between each box and the one below, before it falls
    int seconds;
    float bound; // on each box's drift along the floor and from where it settles
};

class PlacedStacks : public PlacedBodies, public ::testing::WithParamInterface<PlacedStackCase> {};

TEST_P(PlacedStacks, StandWhereTheirContactsSettle) {
    const PlacedStackCase& c = GetParam();
    world_->SetMethod(c.method);
    ASSERT_EQ(world_->GetIterations(), 5);
    std::vector<RigidBody*> boxes;
    std::vector<Float3> settled; // each contact below sunk by the minimum depth
    float top = 0.0f;
    for (int i = 0; i < c.boxes; ++i) {
        top += c.gap;
        boxes.push_back(Place("box", top, c.size, c.density, false));
        top += c.size;
        settled.push_back(boxes.back()->GetPosition() -
                          Float3(0.0f, (i + 1) * (c.gap + world_->GetContactMinDepth()), 0.0f));
    }
    CapturingLogSink log;
    for (int second = 1; second <= c.seconds; ++second) {
        for (int step = 0; step < 100; ++step) {
            Run(1);
            // Pushed out of each other, boxes that sank into each other are not thrown up.
            for (size_t b = 0; b < boxes.size(); ++b) {
                ASSERT_LT(boxes[b]->GetLinearVelocity().y, 1.0f)
                    << "box " << b << ", second " << second;
            }
        }
        for (size_t b = 0; b < boxes.size(); ++b) {
            const Float3 drift = boxes[b]->GetPosition() - settled[b];
            ASSERT_LT(std::hypot(drift.x, drift.z), c.bound)
                << "box " << b << ", second " << second;
            ASSERT_LT(std::fabs(drift.y), c.bound) << "box " << b << ", second " << second;
        }
    }
    // A box landing a step on a tall column may take its island past the exact solve's bound
    // for that step, which the log says.
    if (c.gap == 0.0f) {
        EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stacks, PlacedStacks,
    ::testing::Values(
        PlacedStackCase{"SixtyMetreBoxesExact", PhysicsLcp, 60, 1.0f, 1.0f, 0.0f, 20, 0.02f},
        PlacedStackCase{"FortyTenCentimetreBoxesExact", PhysicsLcp, 40, 0.1f, 1.0f, 0.0f, 20,
                        0.02f},
        PlacedStackCase{"FortyTwoMetreBoxesOfDensityAThousandthExact", PhysicsLcp, 40, 2.0f, 1e-3f,
                        0.0f, 10, 0.02f},
        PlacedStackCase{"TenFiveCentimetreBoxesOfDensity1000Exact", PhysicsLcp, 10, 0.05f, 1000.0f,
                        0.0f, 20, 0.01f},
        PlacedStackCase{"TwentyMetreBoxesDroppedFrom2MillimetresExact", PhysicsLcp, 20, 1.0f, 1.0f,
                        0.002f, 20, 0.02f},
        PlacedStackCase{"Twenty30CentimetreBoxesDroppedFrom3MillimetresExact", PhysicsLcp, 20, 0.3f,
                        1.0f, 0.003f, 20, 0.02f},
        PlacedStackCase{"SixtyMetreBoxesDroppedFrom3MillimetresExact", PhysicsLcp, 60, 1.0f, 1.0f,
                        0.003f, 20, 0.02f},
        PlacedStackCase{"FortyTenCentimetreBoxesDroppedFrom3MillimetresExact", PhysicsLcp, 40, 0.1f,
                        1.0f, 0.003f, 20, 0.02f},
        PlacedStackCase{"ThirtyMetreBoxesDroppedFrom5MillimetresExact", PhysicsLcp, 30, 1.0f, 1.0f,
                        0.005f, 10, 0.02f},
        PlacedStackCase{"SixtyTwoMetreBoxesDroppedFrom1CentimetreExact", PhysicsLcp, 60, 2.0f, 1.0f,
                        0.01f, 10, 0.02f},
        PlacedStackCase{"Forty30CentimetreBoxesOfDensity1000DroppedFrom1MillimetreExact",
                        PhysicsLcp, 40, 0.3f, 1000.0f, 0.001f, 10, 0.02f},
        PlacedStackCase{"TwentyMetreBoxesIterative", PhysicsIterative, 20, 1.0f, 1.0f, 0.0f, 20,
                        0.05f},
        PlacedStackCase{"EightMetreBoxesIterative", PhysicsIterative, 8, 1.0f, 1.0f, 0.0f, 20,
                        0.01f},
        PlacedStackCase{"EightTwoMetreBoxesOfDensityAThousandthIterative", PhysicsIterative, 8,
                        2.0f, 1e-3f, 0.0f, 20, 0.01f},
        PlacedStackCase{"EightTenCentimetreBoxesOfDensity1000Iterative", PhysicsIterative, 8, 0.1f,
                        1000.0f, 0.0f, 20, 0.01f},
        PlacedStackCase{"ThreeFiveCentimetreBoxesOfDensity1000Iterative", PhysicsIterative, 3,
                        0.05f, 1000.0f, 0.0f, 20, 0.01f},
        PlacedStackCase{"EightTenCentimetreBoxesDroppedFrom2MillimetresIterative", PhysicsIterative,
                        8, 0.1f, 1.0f, 0.002f, 20, 0.01f},
        PlacedStackCase{"TwentyMetreBoxesDroppedFrom2MillimetresIterative", PhysicsIterative, 20,
                        1.0f, 1.0f, 0.002f, 20, 0.05f}),
    CaseName<PlacedStackCase>);

struct PlacedPairCase {
    const char* name;
    int32_t method;
    int32_t frictionModel;
    float size;
    float ratio; // the upper body's mass over the lower one's
    bool cylinders;
    float bound;
};

class PlacedHeavyOnLight : public PlacedBodies,
                           public ::testing::WithParamInterface<PlacedPairCase> {};

TEST_P(PlacedHeavyOnLight, IsHeldWhereItSettlesForTenSeconds) {
    const PlacedPairCase& c = GetParam();
    world_->SetMethod(c.method);
    world_->SetFrictionModel(c.frictionModel);
    RigidBody* light = Place("light", 0.0f, c.size, 1.0f, c.cylinders);
    RigidBody* heavy = Place("heavy", c.size, c.size, c.ratio, c.cylinders);
    const float depth = world_->GetContactMinDepth();
    const Float3 lightPlace = light->GetPosition() - Float3(0.0f, depth, 0.0f);
    const Float3 heavyPlace = heavy->GetPosition() - Float3(0.0f, 2.0f * depth, 0.0f);
    CapturingLogSink log;
    Run(1000);
    EXPECT_LT((heavy->GetPosition() - heavyPlace).Length(), c.bound);
    EXPECT_LT((light->GetPosition() - lightPlace).Length(), c.bound);
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PlacedHeavyOnLight,
    ::testing::Values(PlacedPairCase{"FiveCentimetreBoxOnAHundredthOfItsMass", PhysicsIterative, 3,
                                     0.05f, 100.0f, false, 0.01f},
                      PlacedPairCase{"FiveCentimetreBoxOnATenthOfItsMassSimplePyramid",
                                     PhysicsIterative, 0, 0.05f, 10.0f, false, 0.01f},
                      PlacedPairCase{"TwoCentimetreBoxesOfEqualMass", PhysicsIterative, 3, 0.02f,
                                     1.0f, false, 0.005f},
                      PlacedPairCase{"MetreBoxOnAThousandthOfItsMassSimplePyramid",
                                     PhysicsIterative, 0, 1.0f, 1000.0f, false, 0.01f},
                      PlacedPairCase{"MetreBoxOnAThousandthOfItsMassSimpleCone", PhysicsIterative,
                                     1, 1.0f, 1000.0f, false, 0.01f},
                      PlacedPairCase{"StandingMetreCylinderOnAHundredthOfItsMass", PhysicsIterative,
                                     3, 1.0f, 100.0f, true, 0.01f},
                      PlacedPairCase{"Standing30CentimetreCylinderOnAThousandthOfItsMass",
                                     PhysicsIterative, 3, 0.3f, 1000.0f, true, 0.01f}),
    CaseName<PlacedPairCase>);

// Structures a game builds, placed touching on the floor: a pyramid of unit boxes, rows of
// staggered bricks (1 x 0.5 x 0.5, six and five a row) and a tower of crossed layers of three
// blocks (1.5 x 0.3 x 0.5). Their islands hold far more rows than bodies.
enum class Structure { Pyramid, Wall, Tower };

struct StructureCase {
    const char* name;
    Structure structure;
    int rows; // of the pyramid or the wall, the tower's layers
    int32_t method;
};

class BuiltStructures : public PlacedBodies {
protected:
    RigidBody* Block(Float3 center, Float3 size, bool turned) {
        RigidBody* body = Body(center);
        if (turned) {
            // A quarter turn about y as a scene keeps it.
            body->SetOrientation(Quaternion(0.0f, 0.7071068f, 0.0f, 0.7071068f));
        }
        auto* box = tree_.Make<CollisionBox>("box");
        box->SetSize(size);
        box->AttachAsLast(body);
        JoinSpace(*space_, box, CollSolid);
        return body;
    }
    // Answers the bodies, and each one's height above the floor in contacts.
    std::vector<RigidBody*> Build(Structure structure, int rows, std::vector<int>& levels) {
        std::vector<RigidBody*> bodies;
        for (int row = 0; row < rows; ++row) {
            const float level = static_cast<float>(row);
            const int count = structure == Structure::Pyramid ? rows - row
                              : structure == Structure::Wall  ? 6 - row % 2
                                                              : 3;
            for (int i = 0; i < count; ++i) {
                const float along = static_cast<float>(i) - 0.5f * static_cast<float>(count - 1);
                switch (structure) {
                case Structure::Pyramid:
                    bodies.push_back(
                        Block(Float3(along, 0.5f + level, 0.0f), Float3(1.0f, 1.0f, 1.0f), false));
                    break;
                case Structure::Wall:
                    bodies.push_back(Block(Float3(along, 0.25f + 0.5f * level, 0.0f),
                                           Float3(1.0f, 0.5f, 0.5f), false));
                    break;
                case Structure::Tower: {
                    const bool turned = row % 2 == 1;
                    const Float3 at = turned ? Float3(0.5f * along, 0.15f + 0.3f * level, 0.0f)
                                             : Float3(0.0f, 0.15f + 0.3f * level, 0.5f * along);
                    bodies.push_back(Block(at, Float3(1.5f, 0.3f, 0.5f), turned));
                    break;
                }
                }
                levels.push_back(row + 1);
            }
        }
        return bodies;
    }
};

class RestingStructures : public BuiltStructures,
                          public ::testing::WithParamInterface<StructureCase> {};

TEST_P(RestingStructures, ComeToRestWhereTheirContactsSettle) {
    const StructureCase& c = GetParam();
    world_->SetMethod(c.method);
    std::vector<int> levels;
    const std::vector<RigidBody*> bodies = Build(c.structure, c.rows, levels);
    std::vector<Float3> places;
    for (RigidBody* body : bodies) {
        places.push_back(body->GetPosition());
    }
    CapturingLogSink log;
    // Kept short for the sanitizers; the generated scenes run such structures for longer.
    for (int step = 1; step <= 150; ++step) {
        world_->Step(world_->GetTimestep());
        for (size_t b = 0; b < bodies.size(); ++b) {
            // Each contact below settles at the minimum depth.
            const Float3 drift = bodies[b]->GetPosition() - places[b];
            const float settling = static_cast<float>(levels[b]) * world_->GetContactMinDepth();
            ASSERT_LT(std::hypot(drift.x, drift.z), 0.01f) << "body " << b << ", step " << step;
            ASSERT_LT(drift.y, 0.01f) << "body " << b << ", step " << step;
            ASSERT_GT(drift.y, -settling - 0.01f) << "body " << b << ", step " << step;
            if (step > 100) { // settled at the minimum depth
                ASSERT_LT(bodies[b]->GetLinearVelocity().Length(), 0.01f)
                    << "body " << b << ", step " << step;
            }
        }
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
}

INSTANTIATE_TEST_SUITE_P(
    Structures, RestingStructures,
    ::testing::Values(
        StructureCase{"PyramidOfSixRowsExact", Structure::Pyramid, 6, PhysicsLcp},
        StructureCase{"WallOfSixRowsExact", Structure::Wall, 6, PhysicsLcp},
        StructureCase{"TowerOfEightLayersExact", Structure::Tower, 8, PhysicsLcp},
        StructureCase{"PyramidOfSixRowsIterative", Structure::Pyramid, 6, PhysicsIterative},
        StructureCase{"WallOfSixRowsIterative", Structure::Wall, 6, PhysicsIterative},
        StructureCase{"TowerOfEightLayersIterative", Structure::Tower, 8, PhysicsIterative}),
    CaseName<StructureCase>);

// The same structures struck once they rest, by what games throw at them: a 0.3 m ball of
// 14 g at 10 m/s or a 0.5 m one of 330 g at 8 m/s at the middle of a face at mid-height, or a
// half-metre box of 125 g dropped from 2 m above the top. However they are knocked about, every
// body that rests on or against another comes to rest again.
enum class Blow { LightBall, HeavyBall, DroppedBox };

struct StruckCase {
    const char* name;
    Structure structure;
    int rows;
    Blow blow;
    int32_t method;
};

class StruckStructures : public BuiltStructures, public ::testing::WithParamInterface<StruckCase> {
protected:
    // The blow, at a structure `top` high whose face lies `face` before its middle.
    void Strike(Blow blow, float top, float face) {
        if (blow == Blow::DroppedBox) {
            Block(Float3(0.0f, top + 2.25f, 0.0f), Float3(0.5f, 0.5f, 0.5f), false);
            return;
        }
        const bool light = blow == Blow::LightBall;
        const float radius = light ? 0.15f : 0.25f;
        RigidBody* ball = Body(Float3(0.0f, 0.5f * top, -(face + radius + 0.5f)));
        auto* sphere = Sphere(nullptr, Float3(), radius);
        sphere->SetDensity(light ? 1.0f : 5.0f);
        sphere->AttachAsLast(ball);
        JoinSpace(*space_, sphere, CollSolid);
        ball->SetLinearVelocity(Float3(0.0f, 0.0f, light ? 10.0f : 8.0f));
    }
    static bool RestsOnAnother(const RigidBody& body) {
        for (const JointNode* node = body.GetJointList(); node; node = node->next) {
            if (node->joint->GetType() == JointContact && node->body && node->body->IsMovable()) {
                return true;
            }
        }
        return false;
    }
};

TEST_P(StruckStructures, ComeToRestAgainAfterTheBlow) {
    const StruckCase& c = GetParam();
    world_->SetMethod(c.method);
    std::vector<int> levels;
    const std::vector<RigidBody*> bodies = Build(c.structure, c.rows, levels);
    Run(100); // placed touching, it rests within a second
    const float top = c.structure == Structure::Pyramid ? static_cast<float>(c.rows)
                      : c.structure == Structure::Wall  ? 0.5f * static_cast<float>(c.rows)
                                                        : 0.3f * static_cast<float>(c.rows);
    const float face = c.structure == Structure::Pyramid ? 0.5f
                       : c.structure == Structure::Wall  ? 0.25f
                                                         : 0.75f;
    Strike(c.blow, top, face);
    // Kept short for the sanitizers; the generated scenes wait 10 s after heavier blows.
    constexpr int Steps = 200;
    constexpr int Judged = 10;
    std::vector<float> fastest(bodies.size(), 0.0f);
    for (int step = 1; step <= Steps; ++step) {
        world_->Step(world_->GetTimestep());
        for (size_t b = 0; step > Steps - Judged && b < bodies.size(); ++b) {
            fastest[b] = std::max(fastest[b], bodies[b]->GetLinearVelocity().Length());
        }
    }
    for (size_t b = 0; b < bodies.size(); ++b) {
        if (RestsOnAnother(*bodies[b])) {
            EXPECT_LT(fastest[b], 0.01f) << "body " << b;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Structures, StruckStructures,
    ::testing::Values(
        StruckCase{"WallOfFourRowsByAHeavyBallExact", Structure::Wall, 4, Blow::HeavyBall,
                   PhysicsLcp},
        StruckCase{"WallOfFourRowsByADroppedBoxIterative", Structure::Wall, 4, Blow::DroppedBox,
                   PhysicsIterative},
        StruckCase{"PyramidOfFiveRowsByAHeavyBallExact", Structure::Pyramid, 5,
                   Blow::HeavyBall, PhysicsLcp},
        StruckCase{"PyramidOfFiveRowsByALightBallIterative", Structure::Pyramid, 5,
                   Blow::LightBall, PhysicsIterative},
        StruckCase{"TowerOfSixLayersByAHeavyBallExact", Structure::Tower, 6, Blow::HeavyBall,
                   PhysicsLcp},
        StruckCase{"TowerOfSixLayersByADroppedBoxIterative", Structure::Tower, 6,
                   Blow::DroppedBox, PhysicsIterative}),
    CaseName<StruckCase>);

struct HeavyTouchCase {
    const char* name;
    int32_t method;
    float boxSize; // the light box's edge
    bool ball; // a heavy ball of 0.5 m radius thrown, or a box of the light one's size set on it
    float density; // the heavy body's, the light box's being 1
    Float3 from; // the ball's start; for a box, its height above the light one in y
    Float3 velocity;
    bool named;
};

class HeavyTouchingLight : public PlacedBodies,
                           public ::testing::WithParamInterface<std::tuple<HeavyTouchCase, float>> {
};

// Only a heavy body that stays on a light one is named, at any world step: not a heavy ball that
// rolls into it, or is thrown onto it and is off it again, or throws it aside, or squeezes it
// out from under its flank; a heavy box set on a light one is named even where it goes through,
// one dropped on it once it has stayed on it.
TEST_P(HeavyTouchingLight, IsNamedOnlyWhereItRestsOnIt) {
    const auto& [c, step] = GetParam();
    world_->SetMethod(c.method);
    world_->SetTimestep(step);
    RigidBody* light = Place("light", 0.0f, c.boxSize, 1.0f, false);
    RigidBody* heavy = nullptr;
    if (c.ball) {
        RigidBody* ball = heavy = Body(c.from);
        ball->SetName("heavy");
        CollisionSphere* sphere = Sphere(nullptr, Float3(), 0.5f);
        sphere->SetDensity(c.density);
        sphere->AttachAsLast(ball);
        JoinSpace(*space_, sphere, CollSolid);
        ball->SetLinearVelocity(c.velocity);
    } else {
        heavy = Place("heavy", c.boxSize + c.from.y, c.boxSize, c.density, false);
    }
    CapturingLogSink log;
    Run(static_cast<int>(3.0f / step));
    if (!c.named) {
        EXPECT_TRUE(log.Lines().empty()) << log.Lines().front().text;
        return;
    }
    ASSERT_EQ(log.Lines().size(), 1u);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "PhysicsMaster 'world': RigidBody 'heavy' rests on RigidBody 'light' with %g "
                  "times its mass, more than the solver carries (1000); the lighter body may "
                  "give way",
                  static_cast<double>(heavy->GetMass() / light->GetMass()));
    EXPECT_EQ(log.Lines()[0].text, expected);
}

// The balls are 1,500 to 65,000 times the box.
INSTANTIATE_TEST_SUITE_P(
    Touches, HeavyTouchingLight,
    ::testing::Combine(
        ::testing::Values(
            HeavyTouchCase{"BallRollingIntoABox", PhysicsLcp, 0.2f, true, 1000.0f,
                           Float3(-2.0f, 0.5f, 0.0f), Float3(3.0f, 0.0f, 0.0f), false},
            // 419 kg: it rolls over a 1 g box it pins to the floor, and across an 8 g box's top.
            HeavyTouchCase{"BallRollingOverABox", PhysicsLcp, 0.1f, true, 800.0f,
                           Float3(-1.0f, 0.5f, 0.0f), Float3(0.5f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallRollingAcrossABoxsTop", PhysicsLcp, 0.2f, true, 800.0f,
                           Float3(-0.3f, 1.2f, 0.0f), Float3(0.5f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownAcrossABoxsTop", PhysicsLcp, 0.2f, true, 1000.0f,
                           Float3(-1.0f, 1.2f, 0.0f), Float3(3.0f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownAcrossABoxsTopIterative", PhysicsIterative, 0.2f, true,
                           1000.0f, Float3(-1.0f, 1.2f, 0.0f), Float3(3.0f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownAcrossAHalfMetreBox", PhysicsLcp, 0.5f, true, 1000.0f,
                           Float3(-1.0f, 2.0f, 0.0f), Float3(2.0f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownAcrossAHalfMetreBoxIterative", PhysicsIterative, 0.5f, true,
                           1000.0f, Float3(-1.0f, 2.0f, 0.0f), Float3(2.0f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownDownOntoAMetreBox", PhysicsLcp, 1.0f, true, 3000.0f,
                           Float3(0.0f, 3.0f, 0.0f), Float3(0.5f, -3.0f, 0.0f), false},
            // Its landing solved exactly, the box holds it as it rolls across its top for a
            // second: it rolls on, and is not named.
            HeavyTouchCase{"BallThrownDownOntoAMetreBoxIterative", PhysicsIterative, 1.0f, true,
                           3000.0f, Float3(0.0f, 3.0f, 0.0f), Float3(0.5f, -3.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownStraightDownOntoABox", PhysicsLcp, 0.2f, true, 1000.0f,
                           Float3(0.0f, 1.5f, 0.0f), Float3(0.0f, -5.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownStraightDownOntoABoxIterative", PhysicsIterative, 0.2f, true,
                           1000.0f, Float3(0.0f, 1.5f, 0.0f), Float3(0.0f, -5.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownSlowlyStraightDownOntoABoxIterative", PhysicsIterative,
                           0.2f, true, 1000.0f, Float3(0.0f, 1.5f, 0.0f),
                           Float3(0.0f, -3.0f, 0.0f), false},
            HeavyTouchCase{"BallThrownSlowlyAcrossABoxsTopIterative", PhysicsIterative, 0.2f, true,
                           1000.0f, Float3(-1.0f, 1.2f, 0.0f), Float3(2.0f, 0.0f, 0.0f), false},
            HeavyTouchCase{"BoxDroppedOnABox", PhysicsLcp, 0.5f, false, 2000.0f,
                           Float3(0.0f, 0.02f, 0.0f), Float3(), true},
            HeavyTouchCase{"BoxDroppedFromHigherOnABox", PhysicsLcp, 0.5f, false, 2000.0f,
                           Float3(0.0f, 0.2f, 0.0f), Float3(), true},
            HeavyTouchCase{"BoxSetOnABox", PhysicsLcp, 0.5f, false, 2000.0f, Float3(), Float3(),
                           true},
            HeavyTouchCase{"BoxSetOnABoxIterative", PhysicsIterative, 0.5f, false, 2000.0f,
                           Float3(), Float3(), true},
            HeavyTouchCase{"BoxSetOnABoxItGoesThrough", PhysicsLcp, 0.2f, false, 1e6f, Float3(),
                           Float3(), true},
            HeavyTouchCase{"BoxSetOnABoxItGoesThroughIterative", PhysicsIterative, 0.2f, false,
                           1e6f, Float3(), Float3(), true}),
        ::testing::Values(0.01f, 1.0f / 60.0f, 0.02f, 1.0f / 30.0f)),
    [](const ::testing::TestParamInfo<std::tuple<HeavyTouchCase, float>>& info) {
        return std::string(std::get<0>(info.param).name) + "At" +
               std::to_string(std::lround(1.0f / std::get<1>(info.param))) + "PerSecond";
    });

struct PinchCase {
    const char* name;
    int32_t method;
    float tilt;  // of the heavy box about z (rad): its face meets the light box's aslant
    float ratio; // heavy to light
};

class PinchedLight : public PlacedBodies, public ::testing::WithParamInterface<PinchCase> {};

// A light box on the floor under a heavy one dropped aslant onto it is pinched between normals
// that are not opposite: the force that stops the heavy box squeezed it out sideways faster
// than anything in the scene moved. It leaves no faster than the heavy box's fall gives.
TEST_P(PinchedLight, LeavesNoFasterThanTheFallThatPinchesIt) {
    const PinchCase& c = GetParam();
    world_->SetMethod(c.method);
    RigidBody* light = Place("light", 0.0f, 0.1f, 1.0f, false);
    RigidBody* heavy = Place("heavy", 1.0f, 0.5f, c.ratio, false);
    heavy->SetPosition(Float3(0.15f, 1.3f, 0.05f));
    heavy->SetOrientation(
        Quaternion::FromAxisAngle(c.tilt, Float3(0.3f, 0.0f, 1.0f).NormalizedOrSelf()));
    const float g = world_->GetGravity();
    const float h = world_->GetTimestep();
    const float fall = std::sqrt(2.0f * g * 1.3f) + g * h;
    float fastest = 0.0f;
    for (int i = 0; i < 200; ++i) {
        world_->Step(h);
        fastest = std::max(fastest, light->GetLinearVelocity().Length());
    }
    EXPECT_LT(fastest, fall);
    EXPECT_GT(light->GetPosition().y, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Pinches, PinchedLight,
    ::testing::Values(PinchCase{"Aslant", PhysicsLcp, 0.2f, 1000.0f},
                      PinchCase{"AslantIterative", PhysicsIterative, 0.2f, 1000.0f},
                      PinchCase{"Shallow", PhysicsLcp, 0.1f, 1000.0f},
                      PinchCase{"ShallowIterative", PhysicsIterative, 0.1f, 1000.0f},
                      PinchCase{"Steeper", PhysicsLcp, 0.3f, 1000.0f},
                      PinchCase{"SteeperIterative", PhysicsIterative, 0.3f, 1000.0f},
                      PinchCase{"AslantLighter", PhysicsLcp, 0.2f, 100.0f},
                      PinchCase{"AslantLighterIterative", PhysicsIterative, 0.2f, 100.0f}),
    CaseName<PinchCase>);

// One row per call, each asking for a velocity that is not a number: the solver forces the
// first of them forward and gives up at the second, with the rows after it unsolved.
class UnsolvableJoint : public Joint {
public:
    void GetInfo1(JointInfo1& info) override {
        info.m = 2;
        info.nub = 0;
    }
    void GetInfo2(JointInfo2& info) override {
        for (int row = 0; row < 2; ++row) {
            info.J1l[row * info.rowSkip + 1] = 1.0f;
            info.c[row] = std::numeric_limits<float>::quiet_NaN();
            info.lo[row] = 0.0f;
        }
    }
};

TEST_F(RestingBodies, AnIslandTheSolverGivesUpOnKeepsItsMotionAndIsNamedOnce) {
    RigidBody* body = Body(Float3(0.0f, 5.0f, 0.0f));
    Sphere(body, Float3(), 0.5f);
    UnsolvableJoint joint;
    joint.Prepare(world_);
    joint.Attach(body, nullptr);
    Joint* joints[] = {&joint};
    CapturingLogSink log;
    for (int step = 1; step <= 3; ++step) {
        const Float3 velocity(1.0f, 2.0f, 3.0f);
        const Float3 position = body->GetPosition();
        body->SetLinearVelocity(velocity);
        body->AddForce(Float3(0.0f, -10.0f, 0.0f));
        EXPECT_FALSE(StepIslandLCP(&body, 1, joints, 1, world_->GetTimestep(), world_->GetCfm(),
                                   world_->GetErp(), world_->GetScratch()));
        EXPECT_EQ(LCPStepFailures, 2);
        EXPECT_EQ((body->GetLinearVelocity() - velocity).Length(), 0.0f) << step;
        EXPECT_EQ((body->GetPosition() - position).Length(), 0.0f) << step;
        EXPECT_EQ(body->GetForce().Length(), 0.0f) << step;
    }
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "PhysicsMaster 'world': an island's constraints could not be "
                                   "solved (bodies 1, rows 2); its bodies kept their motion for "
                                   "the step");
    joint.Release();
}

} // namespace
} // namespace quarn::test
