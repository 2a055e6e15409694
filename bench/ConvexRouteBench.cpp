// The general convex route for one pair: two 20-vertex hulls (ten-sided prisms), the upper one
// turned and resting 0.01 deep on the lower one, in a hash space so that the pair record keeps
// its direction. Cold rounds empty the pair cache before every call; warm rounds start from the
// cached direction. Before timing, both must give the same contacts. Prints us per pair (median
// and the spread of the rounds).
#include "bench/BenchTiming.h"
#include "collision/CollisionClasses.h"
#include "collision/CollisionContact.h"
#include "collision/CollisionMesh.h"
#include "collision/CollisionSpaceHash.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/scene/SceneClasses.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "render/RenderObject.h"
#include "resources/Mesh.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

using namespace quarn;

// A ten-sided prism from y = 0 to y = 1, its outward faces wound clockwise.
void BuildPrism(Mesh& mesh) {
    constexpr int Sides = 10;
    mesh.Create(2 * Sides, 4 * Sides - 4, 1);
    for (int i = 0; i < Sides; ++i) {
        const float angle = 6.2831853f * static_cast<float>(i) / Sides;
        mesh.SetPoint(static_cast<uint32_t>(2 * i), Float3(std::cos(angle), 0, std::sin(angle)));
        mesh.SetPoint(static_cast<uint32_t>(2 * i + 1),
                      Float3(std::cos(angle), 1, std::sin(angle)));
    }
    uint32_t t = 0;
    for (int i = 0; i < Sides; ++i) {
        const int j = (i + 1) % Sides;
        mesh.SetTriangle(t++, 2 * i, 2 * j, 2 * i + 1);
        mesh.SetTriangle(t++, 2 * j, 2 * j + 1, 2 * i + 1);
        if (i > 0 && i < Sides - 1) {
            mesh.SetTriangle(t++, 0, 2 * j, 2 * i);
            mesh.SetTriangle(t++, 1, 2 * i + 1, 2 * j + 1);
        }
    }
    mesh.Commit();
}

} // namespace

int main() {
    GpuRenderDevice device(&SoftwareDevice::Create);
    if (!device.Create(0, nullptr, 16, 16)) {
        std::printf("cannot create the render device\n");
        return 1;
    }
    MemoryFileSystem files;
    SetFileSystem(&files);
    RegisterSceneClasses();
    RenderObject::RegisterClass();
    Mesh::RegisterClass();
    RegisterCollisionClasses();

    Mesh* prism = GetMesh("prism.mesh", "_collision");
    BuildPrism(*prism);
    auto* space = static_cast<CollisionSpaceHash*>(CollisionSpaceHash::classInfo->CreateInstance());
    auto* lower = static_cast<CollisionMesh*>(CollisionMesh::classInfo->CreateInstance());
    auto* upper = static_cast<CollisionMesh*>(CollisionMesh::classInfo->CreateInstance());
    lower->SetMesh("prism.mesh");
    upper->SetMesh("prism.mesh");
    upper->SetPosition(Float3(0.2f, 0.99f, 0.1f));
    upper->SetOrientation(Quaternion::FromAxisAngle(0.2f, Float3(0, 1, 0)));
    space->AddVolume(*lower);
    space->AddVolume(*upper);

    std::array<CollisionContact, 100> cold;
    std::array<CollisionContact, 100> warm;
    space->ClearPairs();
    const int coldCount = CollidePair(*upper, *lower, 100, cold);
    const int warmCount = CollidePair(*upper, *lower, 100, warm);
    bool same = coldCount > 0 && coldCount == warmCount;
    for (int i = 0; same && i < coldCount; ++i) {
        same = std::fabs(cold[i].depth - warm[i].depth) < 1e-4f;
    }
    if (!same) {
        std::printf("cold and warm routes disagree: %d and %d contacts\n", coldCount, warmCount);
        return 1;
    }
    const bench::Timing coldTiming = bench::TimeRounds([&] {
        space->ClearPairs();
        CollidePair(*upper, *lower, 100, cold);
    });
    const bench::Timing warmTiming =
        bench::TimeRounds([&] { CollidePair(*upper, *lower, 100, warm); });
    std::printf("general route, 20-vertex hulls resting, %d contacts\n", coldCount);
    std::printf("%-6s %9.2f us/pair  (rounds %.2f-%.2f)\n", "cold", coldTiming.median * 1000.0,
                coldTiming.min * 1000.0, coldTiming.max * 1000.0);
    std::printf("%-6s %9.2f us/pair  (rounds %.2f-%.2f)\n", "warm", warmTiming.median * 1000.0,
                warmTiming.min * 1000.0, warmTiming.max * 1000.0);
    prism->Release();
    return 0;
}
