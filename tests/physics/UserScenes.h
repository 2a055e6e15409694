#pragma once

// Scenes as users write them, generated: stacks placed touching (also at world steps of 1/60 to
// 1/30 s), dropped from a few millimetres (columns of 20 small boxes from 1 to 10 mm) or sunk,
// pyramids, walls and towers (also struck by balls and boxes once they rest), chains with heavy
// ends let go level (a few hundred at once too) or hanging and ropes of like links, plank
// bridges with loads of 0, 10 and 100 times a plank's mass, single drops and heaps of thousands
// of boxes, piles of mixed bodies in five layouts, at sizes from 5 cm to 2 m and densities from
// 1e-3 to 1e3, and boxes and capsules on slopes, in the world as a scene leaves it (on a static
// box floor, 40 m across, 120 m for a heap or a pile) under either method. Each run ends in a
// physical verdict: the scene rests within its bound, no body moves faster than a fall from its
// start allows (a jointed one, or one a blow may reach: than the energy the whole scene has
// released), no joint's anchors part, a stack's boxes end in the order they were placed, and a
// struck structure's bodies that rest on others are still 10 s after the blow. The tests run a
// fixed sample; `make physics-scenes` the whole set.

#include <cstdint>
#include <string>
#include <vector>

namespace quarn::test {

enum class SceneKind {
    StackTouching, // boxes placed on each other at zero overlap
    StackGapped,   // a few millimetres apart: each drops onto the one below
    StackSunk,     // each sunk by the depth contacts leave uncorrected
    Pyramid,       // rows of 4, 3, 2 and 1, each box on two below, placed touching
    ChainLevel,    // capsule links on ball joints from a fixed pivot, let go level
    ChainHanging,  // the same hanging straight down
    Bridge,        // planks on hinges between two fixed posts, a load on the middle one
    Drop,          // one turned box dropped from a metre
    Slope,         // a box or a lying capsule on a static slope, sliding down it or held
    Heap,          // columns of turned boxes 1.8 m apart dropped into one heap on a 120 m floor
    // Placed touching, `boxes` rows or layers high: a pyramid of cubes, a wall of staggered
    // bricks (1 x 0.5 x 0.5 sizes, six and five a row) and a tower of crossed layers of three
    // blocks (1.5 x 0.3 x 0.5 sizes). Each must come to rest, every body below a hundredth of a
    // size a second, asleep by the end where idling is on.
    BuiltPyramid,
    Wall,
    Tower,
    // Square layers of cubes, each a box narrower than the one below, each cube on four.
    SquarePyramid,
    MixedPile,     // 200 spheres, capsules, cylinders and boxes of every size and density
};

// What strikes a built structure once it has come to rest, a second after it was placed: a ball
// thrown at the middle of its face at mid-height, or a half-metre box (125 g) dropped from 2 m
// above its top or thrown as the balls are. The structure is then judged by its bodies' speeds
// 10 s after the blow: every one that rests on or against another moving body still.
enum class Blow {
    None,
    LightBall, // 0.3 m across, 14 g, at 10 m/s
    HeavyBall, // 0.5 m across, 330 g, at 8 m/s
    DroppedBox,
    ThrownBox, // at 8 m/s
};

struct SceneCase {
    SceneKind kind = SceneKind::Drop;
    float size = 1.0f;    // a box's side, a link's or a plank's length (m)
    float density = 1.0f; // of every body but a chain's end and a bridge's load
    int32_t method = 1;   // PhysicsLcp or PhysicsIterative
    // A chain's end mass in links (0: no end, a rope of like links), a bridge's load in
    // planks; unused elsewhere.
    float load = 0.0f;
    int32_t boxes = 8;  // a stack's, a heap's, a built structure's rows
    int32_t sweeps = 0; // ITERATIVE's, 0 for the world's default
    int32_t links = 6;  // a chain's
    // A slope's: its angle from level (degrees), the surfaces' mu, the world's friction model
    // and whether a capsule (rather than a box) lies on it.
    float degrees = 0.0f;
    float mu = 1.0f;
    int32_t frictionModel = 3;
    bool capsule = false;
    bool idle = false; // the bodies fall idle when still
    float timestep = 0.0f; // the world's step (s), 0 for its default
    float gap = 0.0f;      // between a gapped stack's boxes (m), 0 for the usual few millimetres
    int32_t seed = 0;      // a pile's layout: its bodies' sizes and turns
    Blow blow = Blow::None; // a built structure's
    int32_t chains = 1;     // level chains let go together, side by side
};

// One line: the kind, size, density, load (or a stack's boxes and gap, a structure's rows), a
// chain's links, method, sweeps, idling and step.
std::string SceneName(const SceneCase& scene);

struct SceneVerdict {
    bool passed = true;
    std::string reason;       // the first fault found, empty when passed
    float drift = 0.0f;       // the farthest any body ended from where it started (m)
    float endSpeed = 0.0f;    // the fastest body over the last second (m/s)
    float worstGap = 0.0f;    // the widest any joint's anchors parted (m)
    float worstExcess = 0.0f; // the most any body's speed went past what energy allows (m/s)
    float deepest = 0.0f;     // the deepest any contact was found in the last second (m)
    int belowFloor = 0;       // bodies whose centre ended below the floor's top
    int logLines = 0;         // what the world logged (islands stepped iteratively and the like)
};

SceneVerdict RunScene(const SceneCase& scene);

// Every kind at every size, density, load and method.
std::vector<SceneCase> AllScenes();

} // namespace quarn::test
