#include "tests/physics/UserScenes.h"

#include "physics/PhysicsMaster.h"

#include <gtest/gtest.h>
#include <string>

namespace quarn::test {
namespace {

// A fixed sample of the generated set (`make physics-scenes` runs it whole), a case of each kind
// across sizes, densities and both methods.
class UserScenes : public ::testing::TestWithParam<SceneCase> {};

TEST_P(UserScenes, EndWithinTheirPhysicalBounds) {
    const SceneVerdict verdict = RunScene(GetParam());
    EXPECT_TRUE(verdict.passed) << SceneName(GetParam()) << ": " << verdict.reason;
}

constexpr int32_t Lcp = PhysicsLcp;
constexpr int32_t Iterative = PhysicsIterative;

// A half-metre box or lying capsule on a slope.
SceneCase Slope(int32_t method, float degrees, float mu, int32_t model, bool capsule) {
    SceneCase scene{SceneKind::Slope, 0.5f, 1.0f, method};
    scene.degrees = degrees;
    scene.mu = mu;
    scene.frictionModel = model;
    scene.capsule = capsule;
    return scene;
}

// A stack placed touching at another world step than the default.
SceneCase StackAt(int32_t method, float size, int32_t boxes, float timestep) {
    SceneCase scene{SceneKind::StackTouching, size, 1.0f, method, 0.0f, boxes};
    scene.timestep = timestep;
    return scene;
}

// The mixed pile at 1 kg/l in one of its layouts.
SceneCase Pile(int32_t method, int32_t seed) {
    SceneCase scene{SceneKind::MixedPile, 1.0f, 1.0f, method};
    scene.seed = seed;
    return scene;
}

// Twenty boxes dropped onto each other from `gap` apart.
SceneCase Column(int32_t method, float size, float gap) {
    SceneCase scene{SceneKind::StackGapped, size, 1.0f, method, 0.0f, 20};
    scene.gap = gap;
    return scene;
}

INSTANTIATE_TEST_SUITE_P(
    Sample, UserScenes,
    ::testing::Values(SceneCase{SceneKind::StackTouching, 1.0f, 1.0f, Lcp},
                      SceneCase{SceneKind::StackTouching, 2.0f, 1000.0f, Iterative},
                      SceneCase{SceneKind::StackGapped, 0.2f, 1000.0f, Lcp},
                      SceneCase{SceneKind::StackGapped, 0.5f, 0.01f, Lcp, 0.0f, 40},
                      SceneCase{SceneKind::StackSunk, 0.05f, 1.0f, Lcp},
                      SceneCase{SceneKind::StackSunk, 2.0f, 0.001f, Iterative},
                      SceneCase{SceneKind::StackGapped, 0.05f, 1.0f, Iterative},
                      SceneCase{SceneKind::StackTouching, 1.0f, 1.0f, Iterative, 0.0f, 4},
                      SceneCase{SceneKind::StackGapped, 0.1f, 1.0f, Iterative, 0.0f, 8, 30},
                      StackAt(Iterative, 0.1f, 8, 0.02f),
                      StackAt(Iterative, 1.0f, 20, 1.0f / 30.0f),
                      StackAt(Iterative, 0.05f, 8, 1.0f / 30.0f),
                      StackAt(Iterative, 0.2f, 20, 1.0f / 60.0f), Column(Iterative, 0.05f, 0.01f),
                      SceneCase{SceneKind::Pyramid, 0.2f, 10.0f, Lcp},
                      SceneCase{SceneKind::Pyramid, 1.0f, 1.0f, Iterative},
                      SceneCase{SceneKind::Drop, 0.05f, 1000.0f, Lcp},
                      SceneCase{SceneKind::Drop, 2.0f, 0.001f, Iterative},
                      SceneCase{SceneKind::ChainLevel, 1.0f, 1.0f, Lcp, 100.0f},
                      // A light link whipped past its own fall by the heavy end.
                      SceneCase{SceneKind::ChainLevel, 0.05f, 0.1f, Lcp, 100.0f},
                      SceneCase{SceneKind::ChainHanging, 1.0f, 1.0f, Lcp, 100.0f},
                      SceneCase{SceneKind::ChainHanging, 0.2f, 1000.0f, Iterative, 100.0f},
                      SceneCase{SceneKind::Bridge, 1.0f, 1.0f, Lcp, 0.0f},
                      SceneCase{SceneKind::Bridge, 2.0f, 10.0f, Lcp, 10.0f},
                      // Like planks taut enough to be stepped in parts.
                      SceneCase{SceneKind::Bridge, 0.05f, 1.0f, Iterative, 0.0f},
                      Slope(Lcp, 30.0f, 0.3f, 3, false), Slope(Iterative, 45.0f, 0.6f, 2, true),
                      // Too shallow to slide.
                      Slope(Lcp, 30.0f, 0.6f, 3, true),
                      // Layouts where light bodies pinched over several steps passed the pile's
                      // highest fall by 1.2 and 2.8 m/s, and where the spin term's work let a
                      // squeezed capsule pass it by 6.3.
                      Pile(Lcp, 0), Pile(Iterative, 3), Pile(Iterative, 243)),
    [](const ::testing::TestParamInfo<SceneCase>& info) {
        std::string name;
        for (char c : SceneName(info.param)) {
            if (std::isalnum(static_cast<unsigned char>(c))) {
                name += c;
            }
        }
        return name;
    });

} // namespace
} // namespace quarn::test
