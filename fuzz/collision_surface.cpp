// A collision surface over raw data: the bytes are the data (two sizes, then heights). Heights
// are read across and past the grid, and rays picked from above, below and along it.
#include "app/ClassRegistration.h"
#include "collision/CollisionSurface.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/MemoryFileSystem.h"
#include "core/object/ClassInfo.h"
#include "core/scene/Picking.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::RegisterAllClasses();
    quarn::MemoryFileSystem files;
    quarn::FileSystem* previous = quarn::GetFileSystem();
    quarn::SetFileSystem(&files);
    files.Add("surface.raw", std::string(reinterpret_cast<const char*>(data), size));
    auto* surface = static_cast<quarn::CollisionSurface*>(
        quarn::CollisionSurface::RegisterClass()->CreateInstance());
    surface->SetRawDataName("surface.raw");
    surface->SetSize(quarn::Float3(10.0f, 1.0f, 10.0f));
    const quarn::Int2 grid = surface->GetGridSize();
    const int64_t count = int64_t{grid.x} * grid.y;
    if (grid.x < 0 || grid.y < 0 || surface->HasHeights() != (count > 0)) {
        std::abort();
    }
    for (int64_t index : {int64_t{-1}, int64_t{0}, count / 2, count - 1, count, count + 7}) {
        const float height = surface->GetHeight(index);
        if ((index < 0 || index >= count) && height != 0.0f) {
            std::abort();
        }
    }
    surface->GetWorldBoundingBox();
    const quarn::Float3 rays[][2] = {{{0.3f, 100.0f, -0.2f}, {0.0f, -1.0f, 0.0f}},
                                     {{-7.0f, -50.0f, 4.0f}, {0.1f, 1.0f, -0.05f}},
                                     {{-20.0f, 0.5f, 0.5f}, {1.0f, 0.0f, 0.0f}}};
    for (const auto& ray : rays) {
        quarn::PickQuery query;
        query.Init(quarn::PickQuery::DefaultMaxDistance, quarn::PickCollisionVolumes, 0, 0);
        if (surface->IntersectRay(ray[0], ray[1], query) && !(query.current.distance >= 0.0f)) {
            std::abort();
        }
    }
    surface->Delete();
    quarn::SetFileSystem(previous);
    return 0;
}
