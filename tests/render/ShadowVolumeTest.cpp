#include "render/ShadowVolume.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/object/Signals.h"
#include "device/DrawBufferShare.h"
#include "device/IndexBuffer.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "render/Model.h"
#include "render/RenderQueue.h"
#include "resources/Mesh.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/ScopedValue.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

// geometry, zwrite, ztest and clickable: unlit, so colours come out as they are.
constexpr uint32_t Unlit = 67593;
constexpr uint32_t Background = Blue;

struct Triangle {
    uint32_t a, b, c;
};

// ".mesh" text; normals are not read by the volume.
std::string MeshText(const std::vector<Float3>& points, const std::vector<Triangle>& triangles) {
    char line[128];
    std::string text;
    std::snprintf(line, sizeof line,
                  "vertexcount=%zu\nindexcount=%zu\nvertexformat=(point,normal)\n"
                  "indexformat=trianglelist\npoints=%zu\n",
                  points.size(), 3 * triangles.size(), points.size());
    text += line;
    for (const Float3& p : points) {
        std::snprintf(line, sizeof line, "\t%f %f %f\n", double(p.x), double(p.y), double(p.z));
        text += line;
    }
    std::snprintf(line, sizeof line, "normals=%zu\n", points.size());
    text += line;
    for (size_t i = 0; i < points.size(); ++i) {
        text += "\t0 1 0\n";
    }
    std::snprintf(line, sizeof line, "triangles=%zu\n", triangles.size());
    text += line;
    for (const Triangle& t : triangles) {
        std::snprintf(line, sizeof line, "\t%u %u %u\n", t.a, t.b, t.c);
        text += line;
    }
    return text;
}

// The engine's face normal of (a, b, c) points along (c - a) x (b - a).
Triangle Facing(const std::vector<Float3>& points, Triangle t, Float3 outward) {
    const Float3 n = (points[t.c] - points[t.a]).Cross(points[t.b] - points[t.a]);
    return n.Dot(outward) > 0.0f ? t : Triangle{t.a, t.c, t.b};
}

// The 8 corners of a cube of half side 1.5 and its 12 triangles facing out.
std::vector<Float3> CubeCorners() {
    std::vector<Float3> corners;
    for (int i = 0; i < 8; ++i) {
        corners.push_back({i & 1 ? 1.5f : -1.5f, i & 2 ? 1.5f : -1.5f, i & 4 ? 1.5f : -1.5f});
    }
    return corners;
}

struct Face {
    Float3 normal;
    std::array<uint32_t, 4> corners; // around the face
};

std::vector<Face> CubeFaces() {
    return {{{-1, 0, 0}, {0, 2, 6, 4}}, {{1, 0, 0}, {1, 3, 7, 5}}, {{0, -1, 0}, {0, 1, 5, 4}},
            {{0, 1, 0}, {2, 3, 7, 6}},  {{0, 0, -1}, {0, 1, 3, 2}}, {{0, 0, 1}, {4, 5, 7, 6}}};
}

std::string CubeMesh() {
    const std::vector<Float3> corners = CubeCorners();
    std::vector<Triangle> triangles;
    for (const Face& f : CubeFaces()) {
        const auto& c = f.corners;
        triangles.push_back(Facing(corners, {c[0], c[1], c[2]}, f.normal));
        triangles.push_back(Facing(corners, {c[0], c[2], c[3]}, f.normal));
    }
    return MeshText(corners, triangles);
}

// A horizontal n x n grid of unit squares facing up: an open mesh with 4n border edges.
std::string GridMesh(uint32_t n) {
    std::vector<Float3> points;
    std::vector<Triangle> triangles;
    for (uint32_t z = 0; z <= n; ++z) {
        for (uint32_t x = 0; x <= n; ++x) {
            points.push_back({float(x), 0.0f, float(z)});
        }
    }
    for (uint32_t z = 0; z < n; ++z) {
        for (uint32_t x = 0; x < n; ++x) {
            const uint32_t v = z * (n + 1) + x;
            triangles.push_back(Facing(points, {v, v + 1, v + n + 2}, {0, 1, 0}));
            triangles.push_back(Facing(points, {v, v + n + 2, v + n + 1}, {0, 1, 0}));
        }
    }
    return MeshText(points, triangles);
}

const std::vector<Float3> TrianglePoints = {{-2.5f, 0, -2.5f}, {2.5f, 0, -2.5f}, {0, 0, 2.5f}};

std::string TriangleMesh() {
    const std::vector<Float3>& points = TrianglePoints;
    return MeshText(points, {Facing(points, {0, 1, 2}, {0, 1, 0})});
}

using Polygon = std::vector<Float2>;

Polygon ConvexHull(Polygon points) {
    std::sort(points.begin(), points.end(),
              [](Float2 a, Float2 b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    const auto cross = [](Float2 o, Float2 a, Float2 b) {
        return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
    };
    Polygon hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    hull.resize(k - 1);
    return hull;
}

// The largest distance of p outside any edge line of a counter-clockwise hull: below 0 inside,
// and never more than p's distance to the hull.
float OutsideBy(const Polygon& hull, Float2 p) {
    float worst = -1e30f;
    for (size_t i = 0; i < hull.size(); ++i) {
        const Float2 a = hull[i];
        const Float2 b = hull[(i + 1) % hull.size()];
        const float length = std::hypot(b.x - a.x, b.y - a.y);
        worst = std::max(worst, ((b.x - a.x) * (a.y - p.y) - (b.y - a.y) * (a.x - p.x)) / length);
    }
    return worst;
}

// A floor (the plane y = 0, grey) seen by a camera above it, looking down at a slant; a
// STENCIL-type black square before the camera shows the stencil.
class ShadowVolumeTest : public test::RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        Mesh::RegisterClass();
        Model::RegisterClass();
        ShadowVolume::RegisterClass();
        temp_.WriteFile("cube.mesh", CubeMesh());
        temp_.WriteFile("grid.mesh", GridMesh(3));
        temp_.WriteFile("triangle.mesh", TriangleMesh());
        target_->SetBackgroundColor(Background);
        // The test squares' boxes do not turn with them: no culling.
        target_->SetTargetFlags(TargetBatching | TargetClearFrame | TargetClearZ |
                                TargetClearStencil);
        camera_->SetPosition(CameraAt);
        camera_->SetOrientation(Quaternion::RotationFromZ(Forward()));
        test::RtSquare* floor = Square("floor", {0.0f, 0.0f, 14.0f}, Grey);
        floor->half = 16.0f;
        floor->SetOrientation(Quaternion::RotationFromZ({0.0f, -1.0f, 0.0f}));
        test::RtSquare* dark = Square("dark", CameraAt + Forward() * 2.0f, Black, nullptr,
                                      RenderStencil);
        dark->SetOrientation(Quaternion::RotationFromZ(Forward()));
        dark->half = 4.0f;
    }
    void TearDown() override {
        ShadowVolume::ReleaseShadowShader();
        SetFileSystem(nullptr);
        RenderScene::TearDown();
    }

    static Float3 Forward() { return Float3(0.0f, -0.6f, 1.0f).NormalizedOrSelf(); }

    // A model of the mesh (white) with its shadow volume, at the same place.
    ShadowVolume* Caster(const char* mesh, Float3 position, Float3 light, bool drawn = true) {
        if (drawn) {
            auto* model = tree_.Make<Model>("model", root_);
            model->SetPosition(position);
            model->SetRenderFlags(Unlit);
            model->SetMesh(mesh);
            model_ = model;
        }
        auto* volume = tree_.Make<ShadowVolume>("volume", root_);
        volume->SetPosition(position);
        volume->SetMesh(mesh);
        volume->SetLightDir(light);
        volume->SetExtrusion(40.0f);
        return volume;
    }
    void Batching(bool on) {
        target_->SetTargetFlags(on ? target_->GetTargetFlags() | TargetBatching
                                   : target_->GetTargetFlags() & ~TargetBatching);
    }

    // The pixel a world point lands on, through the device's last view-projection.
    Float2 ToScreen(Float3 p) {
        Matrix4 m;
        device_->GetViewProjectionMatrix(m);
        const float* v = m.m;
        const float x = p.x * v[0] + p.y * v[4] + p.z * v[8] + v[12];
        const float y = p.x * v[1] + p.y * v[5] + p.z * v[9] + v[13];
        const float w = p.x * v[3] + p.y * v[7] + p.z * v[11] + v[15];
        return {(x / w + 1.0f) * 0.5f * Width, (1.0f - y / w) * 0.5f * Height};
    }
    Polygon ScreenHull(const std::vector<Float3>& points) {
        Polygon screen;
        for (const Float3& p : points) {
            screen.push_back(ToScreen(p));
        }
        return ConvexHull(screen);
    }
    // The node's mesh corners in the world.
    static std::vector<Float3> WorldPoints(Pivot& node, const std::vector<Float3>& local) {
        std::vector<Float3> points;
        for (const Float3& p : local) {
            points.push_back(node.LocalToWorld(p));
        }
        return points;
    }
    // Where the points fall on the floor along the light.
    static std::vector<Float3> OnFloor(const std::vector<Float3>& points, Float3 light) {
        std::vector<Float3> shadow;
        for (const Float3& p : points) {
            shadow.push_back(p + light * (-p.y / light.y));
        }
        return shadow;
    }

    // Every pixel more than one pixel inside the shadow is black, none more than one pixel
    // outside it; pixels near what hides the floor are not judged.
    void ExpectShadow(const Polygon& shadow, const Polygon& hidden, const std::string& what) {
        int inside = 0;
        for (int y = 0; y < Height; ++y) {
            for (int x = 0; x < Width; ++x) {
                const Float2 centre(float(x) + 0.5f, float(y) + 0.5f);
                if (!hidden.empty() && OutsideBy(hidden, centre) <= 1.0f) {
                    continue;
                }
                const float out = OutsideBy(shadow, centre);
                if (out < -1.0f) {
                    ++inside;
                    EXPECT_EQ(Pixel(x, y), Black) << what << " inside at " << x << "," << y;
                } else if (out > 1.0f) {
                    EXPECT_NE(Pixel(x, y), Black) << what << " outside at " << x << "," << y;
                }
            }
        }
        EXPECT_GT(inside, 5) << what;
    }
    int BlackPixels() {
        const std::vector<uint32_t> image = Image();
        return static_cast<int>(std::count(image.begin(), image.end(), Black));
    }

    static constexpr Float3 CameraAt{0.0f, 8.0f, 0.0f};
    test::TempFolder temp_;
    DiskFileSystem files_;
    Model* model_ = nullptr;
};

TEST_F(ShadowVolumeTest, ACubeShadowsTheFloorWhereTheLightSaysBatchedOrNot) {
    const struct {
        const char* name;
        Float3 light;
        float yaw; // about the vertical axis, radians
        float scale;
    } cases[] = {
        {"straight down", {0.0f, -1.0f, 0.0f}, 0.0f, 1.0f},
        {"slanted", {0.5f, -1.0f, 0.3f}, 0.0f, 1.0f},
        {"turned", {0.5f, -1.0f, 0.3f}, 0.6f, 1.0f},
        {"scaled", {-0.6f, -1.0f, -0.3f}, 0.0f, 1.3f},
    };
    for (const auto& c : cases) {
        for (const bool batched : {true, false}) {
            const std::string what = std::string(c.name) + (batched ? " batched" : " unbatched");
            ShadowVolume* volume = Caster("cube.mesh", {-1.0f, 2.5f, 7.0f}, c.light);
            for (Pivot* node : {static_cast<Pivot*>(volume), static_cast<Pivot*>(model_)}) {
                node->SetOrientation(Quaternion::FromAxisAngle(c.yaw, {0.0f, 1.0f, 0.0f}));
                node->SetScale(c.scale);
            }
            Batching(batched);
            Frame(Background);
            Frame(Background); // a batch merges from its second frame
            const std::vector<Float3> cube = WorldPoints(*volume, CubeCorners());
            ExpectShadow(ScreenHull(OnFloor(cube, c.light)), ScreenHull(cube), what);
            volume->Delete();
            model_->Delete();
        }
    }
}

TEST_F(ShadowVolumeTest, FacesTurnedFromTheLightAndTowardTheCameraAreShadowedAtEveryDistance) {
    // Turned from the light: -x, -y and -z; seen: -z, +y and, right of the camera, -x.
    const Float3 light(-0.4f, -0.5f, -1.0f);
    ShadowVolume* volume = Caster("cube.mesh", {}, light);
    for (const float distance : {6.0f, 9.0f, 14.0f}) {
        volume->SetPosition(CameraAt + Forward() * distance + Float3(2.0f, 0.0f, 0.0f));
        model_->SetPosition(volume->GetPosition());
        Frame(Background);
        const std::vector<Float3> corners = WorldPoints(*volume, CubeCorners());
        int faces = 0;
        for (const Face& face : CubeFaces()) {
            Float3 centre;
            std::vector<Float3> quad;
            for (const uint32_t k : face.corners) {
                quad.push_back(corners[k]);
                centre = centre + corners[k] * 0.25f;
            }
            if (face.normal.Dot(light) <= 0.0f || face.normal.Dot(CameraAt - centre) <= 0.0f) {
                continue;
            }
            ++faces;
            const Polygon outline = ScreenHull(quad);
            for (int y = 0; y < Height; ++y) {
                for (int x = 0; x < Width; ++x) {
                    if (OutsideBy(outline, {float(x) + 0.5f, float(y) + 0.5f}) < -1.0f) {
                        EXPECT_EQ(Pixel(x, y), Black) << distance << " at " << x << "," << y;
                    }
                }
            }
        }
        EXPECT_EQ(faces, 2) << distance;
    }
}

TEST_F(ShadowVolumeTest, OpenMeshesGiveAQuadForEveryBorderEdgeAndStayInsideTheirIndices) {
    const struct {
        const char* mesh;
        Float3 light;
        uint32_t indices;
    } cases[] = {
        // Border edges give quads whatever the light; the back-facing triangle is capped.
        {"triangle.mesh", {0.0f, -1.0f, 0.0f}, 18},
        {"triangle.mesh", {0.3f, 1.0f, 0.0f}, 24},
        {"grid.mesh", {0.0f, -1.0f, 0.2f}, 12 * 6},
        {"grid.mesh", {0.0f, 1.0f, 0.2f}, 12 * 6 + 18 * 6},
    };
    for (const auto& c : cases) {
        ShadowVolume* volume = Caster(c.mesh, {0.0f, 3.0f, 10.0f}, c.light, false);
        Frame(Background);
        ASSERT_NE(volume->GetIndexData(), nullptr);
        EXPECT_EQ(volume->GetIndexData()->GetIndexCount(), c.indices) << c.mesh;
        EXPECT_LE(volume->GetIndexData()->GetIndexCount(),
                  volume->GetIndexData()->GetCapacity());
        volume->Delete();
    }
    // A triangle turned from the light (from below) casts upward: nothing on the floor. Lit from
    // above it is open (no caps), so it shadows where its volume is closed: test it capped.
    const Float3 light(0.4f, -1.0f, 0.1f);
    ShadowVolume* volume = Caster("triangle.mesh", {0.0f, 2.5f, 8.0f}, light, false);
    volume->SetOrientation(Quaternion::FromAxisAngle(3.14159265f, {0.0f, 0.0f, 1.0f}));
    Frame(Background);
    EXPECT_EQ(volume->GetIndexData()->GetIndexCount(), 24u);
    const std::vector<Float3> corners = WorldPoints(*volume, TrianglePoints);
    ExpectShadow(ScreenHull(OnFloor(corners, light)), {}, "triangle");
}

TEST_F(ShadowVolumeTest, TheShadowPassDrawsWithTheDepthBiasAtMinusOneAndEndsItAfterwards) {
    device_->SetDepthBias(2);
    EXPECT_TRUE(GetPrePassHook(RenderShadowVolume)());
    EXPECT_EQ(device_->GetDepthBias(), -1);
    GetPostPassHook(RenderShadowVolume)();
    EXPECT_EQ(device_->GetDepthBias(), 0);
}

TEST_F(ShadowVolumeTest, NoExtrusionOrNoLightDrawsNothing) {
    ShadowVolume* volume = Caster("cube.mesh", {-1.0f, 2.5f, 7.0f}, {0.3f, -1.0f, 0.0f});
    Frame(Background);
    EXPECT_GT(BlackPixels(), 20);
    volume->SetExtrusion(0.0f);
    Frame(Background);
    EXPECT_EQ(BlackPixels(), 0);
    volume->SetExtrusion(40.0f);
    volume->SetLightDir({0.0f, 0.0f, 0.0f});
    Frame(Background);
    EXPECT_EQ(BlackPixels(), 0);
}

TEST_F(ShadowVolumeTest, AnExtrusionChangeRewritesTheOffsetsButNotTheIndexList) {
    ShadowVolume* volume = Caster("cube.mesh", {-1.0f, 2.5f, 7.0f}, {0.3f, -1.0f, 0.0f});
    Frame(Background);
    const int longShadow = BlackPixels();
    const uint32_t builds = volume->GetIndexBuildCount();
    volume->SetExtrusion(1.0f); // ends above the floor: only the cube's dark side stays
    Frame(Background);
    EXPECT_LT(BlackPixels(), longShadow - 10);
    EXPECT_EQ(volume->GetIndexBuildCount(), builds);
    // The whole light vector is the key: a turn in x and z alone rebuilds the list.
    volume->SetExtrusion(40.0f);
    volume->SetLightDir({-0.3f, -1.0f, -0.4f});
    Frame(Background);
    EXPECT_EQ(volume->GetIndexBuildCount(), builds + 1);
    const std::vector<Float3> cube = WorldPoints(*volume, CubeCorners());
    ExpectShadow(ScreenHull(OnFloor(cube, {-0.3f, -1.0f, -0.4f})), ScreenHull(cube), "turned");
}

TEST_F(ShadowVolumeTest, ALostDeviceAndAMeshReloadGiveTheSameShadowAgain) {
    ShadowVolume* volume = Caster("cube.mesh", {-1.0f, 2.5f, 7.0f}, {0.3f, -1.0f, 0.1f});
    Frame(Background);
    Frame(Background);
    const std::vector<uint32_t> before = Image();
    ASSERT_GT(BlackPixels(), 20);
    static_cast<SoftwareDevice*>(device_->Gpu())->LoseDevice();
    device_->Present();
    ASSERT_EQ(device_->GetDeviceState(), DeviceState::Lost);
    ASSERT_TRUE(device_->ResetDevice());
    Frame(Background);
    EXPECT_EQ(Image(), before);

    // A reload of the mesh from a smaller cube rebuilds the volume.
    temp_.WriteFile("cube.mesh", MeshText({{0, 0, 0}, {0.1f, 0, 0}, {0, 0, 0.1f}}, {{0, 2, 1}}));
    Mesh* mesh = volume->GetMesh();
    ASSERT_TRUE(mesh->Load());
    SendSignal("resourcechanged", static_cast<Resource*>(mesh), true);
    Frame(Background);
    EXPECT_LT(BlackPixels(), 20);
}

// Each volume keeps buffers of its own, counted in the scene's draw buffers: of a thousand on
// one mesh, those past the total build nothing and one line names the first of them, while the
// ones within still cast the shadow.
TEST_F(ShadowVolumeTest, AThousandVolumesOfOneMeshStayWithinTheScenesDrawBuffers) {
    test::CapturingLogSink log;
    const uint64_t before = DrawBufferShare::SceneBytes();
    const Float3 at(-1.0f, 2.5f, 7.0f);
    const Float3 light(0.3f, -1.0f, 0.0f);
    std::vector<ShadowVolume*> volumes{Caster("cube.mesh", at, light)};
    const uint64_t one = DrawBufferShare::SceneBytes() - before;
    ASSERT_GT(one, 0u);
    const uint64_t total = before + 10 * one + one / 2;
    const test::ScopedValue<uint64_t> limit(DrawBufferShare::SceneByteLimit, total);
    while (volumes.size() < 1000) {
        volumes.push_back(Caster("cube.mesh", at, light, false));
    }
    EXPECT_EQ(DrawBufferShare::SceneBytes(), before + 10 * one);
    Frame(Background);
    Frame(Background);
    EXPECT_LE(DrawBufferShare::SceneBytes(), total); // merged batches took what room was left
    const auto built = std::count_if(volumes.begin(), volumes.end(),
                                     [](ShadowVolume* v) { return v->GetIndexData() != nullptr; });
    EXPECT_EQ(built, 10);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].text, "ShadowVolume 'volume' (id " +
                                       std::to_string(volumes[10]->GetId()) +
                                       ") is not drawn: its " + std::to_string(one) +
                                       " bytes of draw buffers would take the scene's past " +
                                       std::to_string(total) + "; others past it are not told");
    EXPECT_GT(BlackPixels(), 20);
}

// A volume joins each mesh vertex to its far copy in its quads and back cap, so its indices name
// vertices a mesh apart throughout. Drawn in slices far narrower than the mesh, each vertex is
// still processed a bounded number of times (not once a primitive) and the frame is the whole
// draw's byte for byte, batched or not, on one thread or several.
TEST_F(ShadowVolumeTest, AFarJoinedVolumeInNarrowSlicesDrawsTheWholeDrawsPicture) {
    temp_.WriteFile("wide.mesh", GridMesh(16)); // 289 vertices, 578 volume vertices
    Caster("wide.mesh", {-8.0f, 1.5f, 5.0f}, {0.4f, -1.0f, 0.2f});
    auto* gpu = static_cast<SoftwareDevice*>(device_->Gpu());
    for (const bool batched : {true, false}) {
        Batching(batched);
        std::vector<uint32_t> whole;
        uint64_t wholeShaded = 0;
        for (const auto& [threads, slice] : {std::pair{1u, UINT32_MAX}, {1u, 64u}, {3u, 7u}}) {
            auto owned = std::make_unique<SoftwareRasterizer>(threads, slice);
            const SoftwareRasterizer& rasterizer = *owned;
            gpu->SetRasterizer(std::move(owned));
            Frame(Background);
            Frame(Background); // a batch merges from its second frame
            const uint64_t shaded = rasterizer.ShadedVertexCount();
            if (slice == UINT32_MAX) {
                whole = Image();
                wholeShaded = shaded;
                EXPECT_GT(BlackPixels(), 100) << batched;
                continue;
            }
            EXPECT_TRUE(Image() == whole) << batched << " " << threads << " " << slice;
            // A slice per primitive, each over the mesh's span, would process some hundreds
            // of times as many.
            EXPECT_LE(shaded, 4 * wholeShaded) << batched << " " << slice;
        }
    }
}

// The scene on a device of other capabilities.
class ShadowVolumeCapsTest : public ShadowVolumeTest {
protected:
    virtual GpuCaps Caps() const = 0;
    void SetUp() override {
        GpuDisplayMode display;
        display.width = 96;
        display.height = 80;
        device_.reset();
        device_ = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, Caps(), display);
        ASSERT_TRUE(
            device_->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, Width, Height));
        ShadowVolumeTest::SetUp();
    }
};

// Devices that cannot count shadows: nothing drawn, the depth bias left alone.
class ShadowVolumeUnsupported : public ShadowVolumeCapsTest,
                                public ::testing::WithParamInterface<GpuCaps> {
protected:
    GpuCaps Caps() const override { return GetParam(); }
};

TEST_P(ShadowVolumeUnsupported, NothingIsDrawnAndTheDepthBiasStays) {
    Caster("cube.mesh", {-1.0f, 2.5f, 7.0f}, {0.3f, -1.0f, 0.0f});
    Frame(Background);
    EXPECT_EQ(BlackPixels(), 0);
    EXPECT_FALSE(ShadowVolume::ShadowsSupported());
    device_->SetDepthBias(2);
    EXPECT_TRUE(GetPrePassHook(RenderShadowVolume)());
    EXPECT_EQ(device_->GetDepthBias(), 2);
    GetPostPassHook(RenderShadowVolume)();
    EXPECT_EQ(device_->GetDepthBias(), 2);
}

GpuCaps WithCaps(uint32_t vertexShaderVersion, uint32_t stencilBits) {
    GpuCaps caps;
    caps.vertexShaderVersion = vertexShaderVersion;
    caps.maxStencilBits = stencilBits;
    return caps;
}

INSTANTIATE_TEST_SUITE_P(Caps, ShadowVolumeUnsupported,
                         ::testing::Values(WithCaps(0, 8), WithCaps(0x0200, 2)));

class ShadowVolumeShortIndices : public ShadowVolumeCapsTest {
protected:
    GpuCaps Caps() const override {
        GpuCaps caps;
        caps.maxVertexIndex = 0xFFFF;
        return caps;
    }
};

TEST_F(ShadowVolumeShortIndices, AMeshBeyondTheirReachCastsNoShadowAndSaysSo) {
    temp_.WriteFile("big.mesh", GridMesh(181)); // 33,124 vertices: 66,248 volume vertices
    test::CapturingLogSink log;
    Caster("big.mesh", {-20.0f, 2.5f, 0.0f}, {0.3f, -1.0f, 0.0f}, false);
    Frame(Background);
    EXPECT_EQ(BlackPixels(), 0);
    EXPECT_TRUE(log.Contains("need 32-bit indices")) << log.Lines().size();
}

} // namespace
} // namespace quarn
