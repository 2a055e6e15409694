#include "TestPaths.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::RunTool;
using test::ToolRun;

// A pendulum as a new user builds one: a module without a body holds a BALL anchor, which a
// BALL anchor of the module inside a small ball's body joins; the ball hangs 1 below the
// pivot, 0.1 rad out.
const char* const PendulumScene = R"(version = 44
idsystem = 0
num_nodes = 9
obj1 {
	class = "Node"
	name = "root"
	parent = 0
}
obj2 {
	class = "PhysicsMaster"
	name = "world"
	parent = 1
	collisionspace = 3
	damping = 0
	angulardamping = 0
	idlethreshold = 0
}
obj3 {
	class = "CollisionSpaceSweepnPrune"
	name = "space"
	parent = 1
	maxvolumes = 10
}
obj4 {
	class = "Module"
	name = "pivot"
	parent = 1
}
obj5 {
	class = "Anchor"
	name = "top"
	parent = 4
	type = 1
	jointanchor = 8
}
obj6 {
	class = "RigidBody"
	name = "bob"
	parent = 1
	pos = 0.0998334,-0.995004,0
}
obj7 {
	class = "Module"
	name = "bobmodule"
	parent = 6
}
obj8 {
	class = "Anchor"
	name = "hook"
	parent = 7
	type = 1
	pos = -0.0998334,0.995004,0
}
obj9 {
	class = "CollisionSphere"
	name = "ball"
	parent = 7
	radius = 0.1
}
)";

TEST(QuarnToolSimulate, APendulumOfTwoBallAnchoredModulesSwingsWithItsPeriod) {
    test::TempFolder folder;
    folder.WriteFile("pendulum.scene", PendulumScene);
    constexpr int Steps = 1000;
    ToolRun run = RunTool(folder, {"simulate", "pendulum.scene", "--steps", std::to_string(Steps),
                                   "--print", "bob"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string line;
    std::getline(lines, line); // the body's mass line
    std::vector<float> xs;
    float worst = 0.0f;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string word;
        int step = 0;
        float p[3], q[4];
        fields >> word >> step >> word >> p[0] >> p[1] >> p[2] >> q[0] >> q[1] >> q[2] >> q[3];
        ASSERT_TRUE(fields) << line;
        xs.push_back(p[0]);
        // The engine's quaternions turn row vectors: the column-vector rotation of the
        // conjugate.
        for (int i = 0; i < 3; ++i) {
            q[i] = -q[i];
        }
        // The hook, at (-0.0998334, 0.995004, 0) in the body, stays on the pivot.
        const float a[3] = {-0.0998334f, 0.995004f, 0.0f};
        const float t[3] = {2 * (q[1] * a[2] - q[2] * a[1]), 2 * (q[2] * a[0] - q[0] * a[2]),
                            2 * (q[0] * a[1] - q[1] * a[0])};
        float hook[3];
        for (int i = 0; i < 3; ++i) {
            const int j = (i + 1) % 3, k = (i + 2) % 3;
            hook[i] = p[i] + a[i] + q[3] * t[i] + (q[j] * t[k] - q[k] * t[j]);
        }
        worst = std::max(worst, std::sqrt(hook[0] * hook[0] + hook[1] * hook[1] +
                                          hook[2] * hook[2]));
    }
    ASSERT_EQ(xs.size(), size_t(Steps));
    EXPECT_LT(worst, 1e-3f) << "the anchors drift apart";
    // Crossings of x = 0, interpolated between steps of 0.01 s.
    std::vector<float> crossings;
    float highest = 0.0f;
    for (size_t i = 1; i < xs.size(); ++i) {
        if ((xs[i - 1] < 0.0f) != (xs[i] < 0.0f)) {
            crossings.push_back(0.01f * (float(i) + xs[i - 1] / (xs[i - 1] - xs[i])));
        }
        highest = std::max(highest, std::fabs(xs[i]));
    }
    ASSERT_GE(crossings.size(), 9u);
    const float period = 2.0f * (crossings.back() - crossings.front()) / (crossings.size() - 1);
    // 2 pi sqrt(I_pivot / (m g L)), with a solid ball of radius 0.1 at L = 1 and g = 10.
    const float expected = 2.0f * 3.14159265f * std::sqrt((0.4f * 0.01f + 1.0f) / 10.0f);
    EXPECT_NEAR(period, expected, 0.02f * expected);
    EXPECT_GT(highest, 0.095f) << "it loses little of its swing";
}

TEST(QuarnToolSimulate, AMeshBodyWeighsItsVolumeAndFallsOntoTheGround) {
    test::TempFolder folder;
    // A closed cube of side 2, of density 0.5, dropped from 2 above its resting place on a box
    // (a mesh never meets a plane).
    folder.WriteFile("cube.obj", test::CubeObj);
    folder.WriteFile("crate.scene", R"(version = 44
idsystem = 0
num_nodes = 6
obj1 {
	class = "Node"
	name = "root"
	parent = 0
}
obj2 {
	class = "PhysicsMaster"
	name = "world"
	parent = 1
	collisionspace = 3
}
obj3 {
	class = "CollisionSpaceSweepnPrune"
	name = "space"
	parent = 1
	maxvolumes = 10
}
obj4 {
	class = "CollisionBox"
	name = "ground"
	parent = 1
	pos = 0,-0.5,0
	size = 20,1,20
	collflags = 17
	collmask = 1
	colltest = 1
}
obj5 {
	class = "RigidBody"
	name = "crate"
	parent = 1
	pos = 0,3,0
}
obj6 {
	class = "CollisionMesh"
	name = "crateshape"
	parent = 5
	mesh = "cube.obj"
	density = 0.5
	collmask = 1
	colltest = 1
}
)");
    ToolRun run = RunTool(folder, {"simulate", "crate.scene", "--steps", "300", "--every", "300",
                                   "--print", "crate"});
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(run.out);
    std::string word, name;
    float mass = 0.0f, inertia[3] = {};
    lines >> word >> name >> word >> mass >> word >> inertia[0] >> inertia[1] >> inertia[2];
    ASSERT_TRUE(lines) << run.out;
    EXPECT_NEAR(mass, 4.0f, 1e-4f);
    // m (2^2 + 2^2) / 12 about each axis.
    for (float moment : inertia) {
        EXPECT_NEAR(moment, 4.0f * 8.0f / 12.0f, 1e-3f);
    }
    int step = 0;
    float p[3] = {};
    lines >> word >> step >> name >> p[0] >> p[1] >> p[2];
    ASSERT_TRUE(lines) << run.out;
    EXPECT_EQ(step, 300);
    EXPECT_NEAR(p[1], 1.0f, 0.02f) << "it rests on the ground";
}

// The worked example's catcher, saying each catch: what the scripts the world calls print is
// their own line on stdout, no warning.
TEST(QuarnToolSimulate, AScriptsPrintIsItsOwnLineOnStdout) {
    test::TempFolder folder;
    std::filesystem::copy_file(QUARN_SOURCE_DIR "/examples/catch/catch.scene",
                               folder.Join("catch.scene"));
    std::ifstream source(QUARN_SOURCE_DIR "/examples/catch/catcher.asm", std::ios::binary);
    std::string program(std::istreambuf_iterator<char>(source), {});
    const std::string caught = "caught:\n    line\n";
    ASSERT_NE(program.find(caught), std::string::npos);
    program.insert(program.find(caught) + caught.size(), "    text \"caught\"\n    func 36\n");
    folder.WriteFile("catcher.asm", program);
    ASSERT_EQ(RunTool(folder, {"script", "asm", "catcher.asm", "catcher"}).status, 0);
    // Two seconds: the crate lands twice.
    ToolRun run = RunTool(folder, {"simulate", "catch.scene", "--steps", "200"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "caught\ncaught\n");
    EXPECT_EQ(run.err, "");
}

} // namespace
} // namespace quarn
