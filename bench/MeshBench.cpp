// The engine's OBJ reader against tinyobjloader on one terrain-like grid of 224 x 224 vertices
// (99,458 triangles over 50,176 distinct corners, the most a mesh's 16-bit indices allow being
// 65,536), then the topology passes a collision or shadow user asks of that mesh. Run it from a
// release build; the ratio is the reader's time over tinyobjloader's.
#include "bench/BenchTiming.h"
#include "core/filesystem/DiskFileSystem.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/Mesh.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tiny_obj_loader.h>

namespace {

constexpr int GridSide = 224;

// Rolling ground with flat plateaus, written as exporters write it: v, vt and vn per grid
// point, and faces of position/texture/normal corners.
std::string MakeGridObj() {
    std::string obj = "# grid\no Terrain\n";
    char line[128];
    const auto height = [](int x, int y) {
        const float h = std::sin(x * 0.11f) * std::cos(y * 0.07f) * 3.0f;
        return h > 1.5f ? 1.5f : h; // plateaus make larger faces
    };
    for (int y = 0; y < GridSide; ++y) {
        for (int x = 0; x < GridSide; ++x) {
            std::snprintf(line, sizeof line, "v %f %f %f\n", x * 0.5, double(height(x, y)),
                          y * 0.5);
            obj += line;
        }
    }
    for (int y = 0; y < GridSide; ++y) {
        for (int x = 0; x < GridSide; ++x) {
            std::snprintf(line, sizeof line, "vt %f %f\n", x / double(GridSide - 1),
                          y / double(GridSide - 1));
            obj += line;
        }
    }
    for (int y = 0; y < GridSide; ++y) {
        for (int x = 0; x < GridSide; ++x) {
            const float dx = height(x + 1, y) - height(x - 1, y);
            const float dy = height(x, y + 1) - height(x, y - 1);
            const float length = std::sqrt(dx * dx + 1.0f + dy * dy);
            std::snprintf(line, sizeof line, "vn %f %f %f\n", double(-dx / length),
                          double(1.0f / length), double(-dy / length));
            obj += line;
        }
    }
    obj += "usemtl Ground\ns 1\n";
    for (int y = 0; y + 1 < GridSide; ++y) {
        for (int x = 0; x + 1 < GridSide; ++x) {
            const int a = y * GridSide + x + 1;
            const int b = a + 1;
            const int c = a + GridSide;
            const int d = c + 1;
            std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", a, a, a, c, c, c, b,
                          b, b);
            obj += line;
            std::snprintf(line, sizeof line, "f %d/%d/%d %d/%d/%d %d/%d/%d\n", b, b, b, c, c, c, d,
                          d, d);
            obj += line;
        }
    }
    return obj;
}

} // namespace

int main() {
    using namespace quarn;
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / "quarn-mesh-bench";
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "grid.obj", std::ios::binary) << MakeGridObj();
    DiskFileSystem files;
    files.SetBaseFolder(folder.string().c_str());
    SetFileSystem(&files);
    GpuRenderDevice device(&SoftwareDevice::Create);
    if (!device.Create(0, nullptr, 16, 16)) {
        return 1;
    }
    Mesh mesh("", nullptr);
    bool read = true;
    const bench::Timing engine = bench::TimeRounds(
        [&] { read = mesh.LoadFromFile("grid.obj") && mesh.GetTriangleCount() == 99458 && read; });
    const std::string path = (folder / "grid.obj").string();
    const bench::Timing reference = bench::TimeRounds([&] {
        tinyobj::ObjReader reader;
        read = reader.ParseFromFile(path) && reader.GetShapes().size() == 1 && read;
    });
    const bench::Timing topology = bench::TimeRounds([&] {
        mesh.BuildWeldMap();
        mesh.BuildEdges();
        mesh.BuildFaces(0.9999f);
    });
    SetFileSystem(nullptr);
    std::filesystem::remove_all(folder);
    if (!read) {
        std::printf("the grid did not load\n");
        return 1;
    }
    bench::RatioTable("OBJ read, 224 x 224 vertex grid", "tinyobj ms")
        .Row("99,458 triangles, 50,176 corners", engine, reference);
    std::printf("topology passes (weld, edges, faces): %.2f ms (rounds %.2f-%.2f) for %zu edges "
                "and %zu faces\n",
                topology.median, topology.min, topology.max, mesh.GetEdges().size(),
                mesh.GetFaces().size());
    return 0;
}
