// The shape builders of DynamicMesh.

#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/DynamicMesh.h"

#include <cmath>
#include <vector>

namespace quarn {

namespace {

constexpr float TwoPi = 6.2831855f;
constexpr float Pi = 3.1415927f;
// An arc this close to a full turn is drawn closed.
constexpr float FullTurn = 6.2830853f;

// Unit-box corners and the order of their edges, shared by the box builders.
constexpr Float3 BoxCorners[8] = {
    {-0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, -0.5f}, {0.5f, -0.5f, 0.5f}, {-0.5f, -0.5f, 0.5f},
    {-0.5f, 0.5f, -0.5f},  {0.5f, 0.5f, -0.5f},  {0.5f, 0.5f, 0.5f},  {-0.5f, 0.5f, 0.5f},
};
constexpr uint32_t BoxEdges[12][2] = {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6},
                                      {6, 7}, {7, 4}, {0, 4}, {1, 5}, {2, 6}, {3, 7}};
constexpr uint32_t BoxTriangles[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7},
                                          {0, 1, 5}, {0, 5, 4}, {3, 6, 2}, {3, 7, 6},
                                          {1, 2, 6}, {1, 6, 5}, {0, 7, 3}, {0, 4, 7}};

Float3 Scaled(const Float3& a, const Float3& b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}

// Room for one whole shape, taken from both buffers at once or not at all: the vertex room is
// checked first, so a refused index reservation leaves the vertices untouched. The writes go to
// the reserved range only; both buffers are unlocked afterwards.
class ShapeWriter {
public:
    ShapeWriter(VertexBuffer* vertices, IndexBuffer* indices, uint64_t vertexCount,
                uint64_t indexCount)
        : vertices_(vertices), indices_(indices) {
        if (!vertices || !indices || vertexCount == 0 ||
            vertexCount > vertices->GetCapacity() - vertices->GetCount() ||
            indexCount > indices->GetCapacity() - indices->GetIndexCount()) {
            return;
        }
        nextIndex_ = indices->AddIndices(static_cast<uint32_t>(indexCount));
        if (nextIndex_ == IndexBuffer::NoIndex) {
            return;
        }
        nextVertex_ = vertices->AddVertices(static_cast<uint32_t>(vertexCount));
        ok_ = nextVertex_ != VertexBuffer::NoVertex;
    }
    ~ShapeWriter() {
        if (ok_) {
            vertices_->Lock(0);
            indices_->Lock(0);
        }
    }
    ShapeWriter(const ShapeWriter&) = delete;
    ShapeWriter& operator=(const ShapeWriter&) = delete;

    bool Ok() const { return ok_; }

    uint32_t Vertex(const Float3& p, uint32_t color) {
        vertices_->SetPosition(nextVertex_, p);
        vertices_->SetColor(nextVertex_, 0, color);
        return nextVertex_++;
    }
    // Screen pixels: z 0, rhw 1.
    uint32_t Vertex(const Float2& p, uint32_t color) {
        return Vertex(Float3{p.x, p.y, 0.0f}, color);
    }

    void Index(uint32_t vertex) { indices_->SetIndex(nextIndex_++, vertex); }
    void Line(uint32_t a, uint32_t b) {
        Index(a);
        Index(b);
    }
    void Triangle(uint32_t a, uint32_t b, uint32_t c) {
        Index(a);
        Index(b);
        Index(c);
    }
    void Line(const Float3& a, const Float3& b, uint32_t color) {
        const uint32_t first = Vertex(a, color);
        Line(first, Vertex(b, color));
    }
    void Triangle(const Float3& a, const Float3& b, const Float3& c, uint32_t color) {
        const uint32_t first = Vertex(a, color);
        const uint32_t second = Vertex(b, color);
        Triangle(first, second, Vertex(c, color));
    }
    // A triangle of a closed solid, wound to face away from `inside` as the box faces do.
    void Facing(const Float3& a, const Float3& b, const Float3& c, const Float3& inside,
                uint32_t color) {
        const Float3 normal = (b - a).Cross(c - a);
        if (normal.Dot(inside - a) >= 0.0f) {
            Triangle(a, b, c, color);
        } else {
            Triangle(a, c, b, color);
        }
    }

private:
    VertexBuffer* vertices_;
    IndexBuffer* indices_;
    uint32_t nextVertex_ = 0;
    uint32_t nextIndex_ = 0;
    bool ok_ = false;
};

// The rims of an arc of a cylinder about the z axis, count + 1 points each from the start
// angle, and the ends of its axis.
struct CylinderArc {
    CylinderArc(const Float3& centre, float radius, float height, float start, float arc,
                uint32_t count)
        : axisBottom(centre + Float3{0, 0, -height / 2.0f}),
          axisTop(centre + Float3{0, 0, height / 2.0f}) {
        for (uint32_t i = 0; i <= count; ++i) {
            const float a = start + static_cast<float>(i) * arc / static_cast<float>(count);
            const Float3 rim{radius * std::cos(a), radius * std::sin(a), 0.0f};
            bottom.push_back(axisBottom + rim);
            top.push_back(axisTop + rim);
        }
    }
    Float3 axisBottom;
    Float3 axisTop;
    std::vector<Float3> bottom;
    std::vector<Float3> top;
};

// The latitude of a sphere's band k (from 1): one step above the south pole, then upwards.
float SphereLatitude(uint32_t k, float step) {
    return -Pi / 2.0f + static_cast<float>(k) * step;
}

// Bands while below the north pole, with a little slack so an even count reaches it. Never more
// than the segments: a step is at least a full turn over them.
uint32_t SphereBandCount(float step, uint32_t segments) {
    uint32_t count = 0;
    while (count < segments && SphereLatitude(count + 1, step) < 1.5807964f) {
        ++count;
    }
    return count;
}

} // namespace

void DynamicMesh::AddLine(const Float3& a, const Float3& b, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 2, 2);
    if (w.Ok()) {
        w.Line(a, b, color);
    }
}

void DynamicMesh::AddTriangle(const Float3& a, const Float3& b, const Float3& c, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 3, 3);
    if (w.Ok()) {
        w.Triangle(a, b, c, color);
    }
}

void DynamicMesh::AddLine2D(const Float2& a, const Float2& b, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 2, 2);
    if (w.Ok()) {
        const uint32_t first = w.Vertex(a, color);
        w.Line(first, w.Vertex(b, color));
    }
}

void DynamicMesh::AddTriangle2D(const Float2& a, const Float2& b, const Float2& c, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 3, 3);
    if (w.Ok()) {
        const uint32_t first = w.Vertex(a, color);
        const uint32_t second = w.Vertex(b, color);
        w.Triangle(first, w.Vertex(c, color), second);
    }
}

void DynamicMesh::AddRect2D(float x1, float y1, float x2, float y2, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 6, 6);
    if (!w.Ok()) {
        return;
    }
    const Float2 corners[2][3] = {{{x1, y1}, {x2, y1}, {x2, y2}}, {{x1, y1}, {x2, y2}, {x1, y2}}};
    for (const auto& t : corners) {
        const uint32_t first = w.Vertex(t[0], color);
        const uint32_t second = w.Vertex(t[1], color);
        w.Triangle(first, w.Vertex(t[2], color), second);
    }
}

void DynamicMesh::AddQuadOutline2D(const Float2& p1, const Float2& p2, const Float2& p3,
                                   const Float2& p4, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 8, 8);
    if (!w.Ok()) {
        return;
    }
    const Float2 points[5] = {p1, p2, p3, p4, p1};
    for (int i = 0; i < 4; ++i) {
        const uint32_t first = w.Vertex(points[i], color);
        w.Line(first, w.Vertex(points[i + 1], color));
    }
}

void DynamicMesh::AddQuadOutline(const Float3& p1, const Float3& p2, const Float3& p3,
                                 const Float3& p4, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 8, 8);
    if (!w.Ok()) {
        return;
    }
    const Float3 points[5] = {p1, p2, p3, p4, p1};
    for (int i = 0; i < 4; ++i) {
        w.Line(points[i], points[i + 1], color);
    }
}

void DynamicMesh::AddBoxOutline(const Float3& position, const Float3& size,
                                const Quaternion& orientation, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 8, 24);
    if (!w.Ok()) {
        return;
    }
    uint32_t corners[8];
    for (int i = 0; i < 8; ++i) {
        corners[i] =
            w.Vertex(position + orientation.RotateVector(Scaled(size, BoxCorners[i])), color);
    }
    for (const auto& edge : BoxEdges) {
        w.Line(corners[edge[0]], corners[edge[1]]);
    }
}

void DynamicMesh::AddWireBox(const Float3& size, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 24, 24);
    if (!w.Ok()) {
        return;
    }
    for (const auto& edge : BoxEdges) {
        w.Line(Scaled(size, BoxCorners[edge[0]]), Scaled(size, BoxCorners[edge[1]]), color);
    }
}

void DynamicMesh::AddSolidBox(const Float3& size, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 36, 36);
    if (!w.Ok()) {
        return;
    }
    for (const auto& t : BoxTriangles) {
        w.Triangle(Scaled(size, BoxCorners[t[0]]), Scaled(size, BoxCorners[t[1]]),
                   Scaled(size, BoxCorners[t[2]]), color);
    }
}

void DynamicMesh::AddWireSphere(const Float3& centre, float radius, uint32_t color,
                                uint32_t segments) {
    const uint64_t n = segments;
    ShapeWriter w(vertices_.get(), indices_.get(), 3 * n, 6 * n);
    if (!w.Ok()) {
        return;
    }
    const float step = TwoPi / static_cast<float>(segments);
    for (int ring = 0; ring < 3; ++ring) {
        uint32_t first = 0;
        for (uint32_t i = 0; i < segments; ++i) {
            const float a = static_cast<float>(i) * step;
            const float c = radius * std::cos(a);
            const float s = radius * std::sin(a);
            const Float3 offset = ring == 0   ? Float3{c, s, 0}
                                  : ring == 1 ? Float3{0, c, s}
                                              : Float3{s, 0, c};
            const uint32_t v = w.Vertex(centre + offset, color);
            first = i == 0 ? v : first;
        }
        for (uint32_t i = 0; i < segments; ++i) {
            w.Line(first + i, first + (i + 1) % segments);
        }
    }
}

void DynamicMesh::AddSolidSphere(const Float3& centre, float radius, uint32_t color,
                                 uint32_t segments) {
    if (segments == 0) {
        return;
    }
    const float step = TwoPi / static_cast<float>(segments);
    const uint32_t bands = SphereBandCount(step, segments);
    const uint64_t triangles = 2ull * segments * bands;
    ShapeWriter w(vertices_.get(), indices_.get(), 3 * triangles, 3 * triangles);
    if (!w.Ok()) {
        return;
    }
    float lowRadius = 0.0f;
    float lowHeight = -radius;
    for (uint32_t k = 1; k <= bands; ++k) {
        const float phi = SphereLatitude(k, step);
        const float highRadius = radius * std::cos(phi);
        const float highHeight = radius * std::sin(phi);
        for (uint32_t j = 1; j <= segments; ++j) {
            const float a = static_cast<float>(j - 1) * step;
            const float b = static_cast<float>(j) * step;
            auto at = [&](float r, float h, float angle) {
                return centre + Float3{r * std::cos(angle), h, r * std::sin(angle)};
            };
            const Float3 lowA = at(lowRadius, lowHeight, a);
            const Float3 lowB = at(lowRadius, lowHeight, b);
            const Float3 highA = at(highRadius, highHeight, a);
            const Float3 highB = at(highRadius, highHeight, b);
            w.Facing(lowA, highA, highB, centre, color);
            w.Facing(lowA, highB, lowB, centre, color);
        }
        lowRadius = highRadius;
        lowHeight = highHeight;
    }
}

void DynamicMesh::AddCircle(const Float3& centre, float radius, bool filled, uint32_t color) {
    Float3 p[16];
    for (int k = 0; k < 16; ++k) {
        const float theta = static_cast<float>(k) * 0.0625f * 2.0f * Pi;
        p[k] = centre + Float3{radius * std::cos(theta), radius * std::sin(theta), 0.0f};
    }
    if (filled) {
        ShapeWriter w(vertices_.get(), indices_.get(), 42, 42);
        for (int k = 1; w.Ok() && k <= 14; ++k) {
            w.Triangle(p[0], p[k], p[k + 1], color);
        }
        return;
    }
    ShapeWriter w(vertices_.get(), indices_.get(), 32, 32);
    for (int k = 0; w.Ok() && k < 16; ++k) {
        w.Line(p[k], p[(k + 1) % 16], color);
    }
}

void DynamicMesh::AddWireCylinder(const Float3& centre, float radius, float height,
                                  float startAngle, float arcAngle, uint32_t color,
                                  uint32_t segments) {
    if (segments == 0) {
        return;
    }
    const bool open = arcAngle < FullTurn;
    const uint64_t lines = 3ull * segments + (open ? 5 : 0);
    ShapeWriter w(vertices_.get(), indices_.get(), 2 * lines, 2 * lines);
    if (!w.Ok()) {
        return;
    }
    const CylinderArc c(centre, radius, height, startAngle, arcAngle, segments);
    for (uint32_t i = 1; i <= segments; ++i) {
        w.Line(c.bottom[i - 1], c.bottom[i], color);
        w.Line(c.bottom[i - 1], c.top[i - 1], color);
        w.Line(c.top[i - 1], c.top[i], color);
    }
    if (open) {
        w.Line(c.axisBottom, c.bottom[0], color);
        w.Line(c.axisTop, c.top[0], color);
        w.Line(c.axisBottom, c.bottom[segments], color);
        w.Line(c.axisTop, c.top[segments], color);
        w.Line(c.bottom[segments], c.top[segments], color);
    }
}

void DynamicMesh::AddSolidCylinder(const Float3& centre, float radius, float height,
                                   float startAngle, float arcAngle, uint32_t color,
                                   uint32_t segments) {
    if (segments == 0) {
        return;
    }
    const bool open = arcAngle < FullTurn;
    const uint64_t triangles = 4ull * segments + (open ? 4 : 0);
    ShapeWriter w(vertices_.get(), indices_.get(), 3 * triangles, 3 * triangles);
    if (!w.Ok()) {
        return;
    }
    const CylinderArc c(centre, radius, height, startAngle, arcAngle, segments);
    // Inside the arc's wedge, so every face of an open arc is wound outwards too.
    const Float3 middle = centre + Float3{0.5f * radius * std::cos(startAngle + arcAngle / 2),
                                          0.5f * radius * std::sin(startAngle + arcAngle / 2), 0};
    const Float3 inside = open ? middle : centre;
    for (uint32_t i = 1; i <= segments; ++i) {
        w.Facing(c.bottom[i - 1], c.top[i - 1], c.bottom[i], inside, color);
        w.Facing(c.bottom[i], c.top[i - 1], c.top[i], inside, color);
        w.Facing(c.axisBottom, c.bottom[i - 1], c.bottom[i], inside, color);
        w.Facing(c.axisTop, c.top[i], c.top[i - 1], inside, color);
    }
    if (open) {
        for (uint32_t end : {0u, segments}) {
            w.Facing(c.axisBottom, c.bottom[end], c.top[end], inside, color);
            w.Facing(c.axisBottom, c.top[end], c.axisTop, inside, color);
        }
    }
}

void DynamicMesh::AddWireCylinder(const Float3& centre, float radius, float height, uint32_t color,
                                  uint32_t segments) {
    AddWireCylinder(centre, radius, height, 0.0f, TwoPi, color, segments);
}

void DynamicMesh::AddSolidCylinder(const Float3& centre, float radius, float height, uint32_t color,
                                   uint32_t segments) {
    AddSolidCylinder(centre, radius, height, 0.0f, TwoPi, color, segments);
}

void DynamicMesh::AddWireCapsule(float radius, float length, uint32_t color, uint32_t segments) {
    if (segments == 0) {
        return;
    }
    // Three lines per step, and two profile segments per angle including the first.
    const uint64_t lines = 3ull * segments + 2ull * (segments + 1);
    ShapeWriter w(vertices_.get(), indices_.get(), 2 * lines, 2 * lines);
    if (!w.Ok()) {
        return;
    }
    const float half = length / 2.0f;
    const float step = TwoPi / static_cast<float>(segments);
    auto angle = [&](uint32_t i) { return static_cast<float>(i) * step; };
    for (uint32_t i = 0; i <= segments; ++i) {
        const float a = angle(i);
        const float previous = angle(i == 0 ? 0 : i - 1);
        if (i > 0) {
            const Float3 r0{radius * std::cos(previous), radius * std::sin(previous), 0};
            const Float3 r1{radius * std::cos(a), radius * std::sin(a), 0};
            w.Line(r0 + Float3{0, 0, -half}, r1 + Float3{0, 0, -half}, color);
            w.Line(r0 + Float3{0, 0, -half}, r0 + Float3{0, 0, half}, color);
            w.Line(r0 + Float3{0, 0, half}, r1 + Float3{0, 0, half}, color);
        }
        const Float3 cap{0, 0, a <= Pi ? half : -half};
        auto yz = [&](float t) {
            return cap + Float3{0, radius * std::cos(t), radius * std::sin(t)};
        };
        auto xz = [&](float t) {
            return cap + Float3{radius * std::cos(t), 0, radius * std::sin(t)};
        };
        w.Line(yz(previous), yz(a), color);
        w.Line(xz(previous), xz(a), color);
    }
}

void DynamicMesh::AddSolidCapsule(float radius, float length, uint32_t color, uint32_t segments) {
    if (segments == 0) {
        return;
    }
    const float half = length / 2.0f;
    const float step = TwoPi / static_cast<float>(segments);
    // Each cap: bands from the rim of the straight part up to its pole, the last one reaching
    // it; a quarter turn holds at most a quarter of the segments.
    uint32_t bands = 1;
    while (bands < segments && static_cast<float>(bands) * step < Pi / 2.0f) {
        ++bands;
    }
    auto latitude = [&](uint32_t k) {
        return k == bands ? Pi / 2.0f : static_cast<float>(k) * step;
    };
    const uint64_t triangles = 2ull * segments * (1 + 2ull * bands);
    ShapeWriter w(vertices_.get(), indices_.get(), 3 * triangles, 3 * triangles);
    if (!w.Ok()) {
        return;
    }
    const Float3 inside{0, 0, 0};
    auto ring = [&](float r, float z, uint32_t j) {
        const float a = static_cast<float>(j) * step;
        return Float3{r * std::cos(a), r * std::sin(a), z};
    };
    for (uint32_t j = 1; j <= segments; ++j) {
        w.Facing(ring(radius, -half, j - 1), ring(radius, half, j - 1), ring(radius, -half, j),
                 inside, color);
        w.Facing(ring(radius, -half, j), ring(radius, half, j - 1), ring(radius, half, j), inside,
                 color);
    }
    for (float side : {1.0f, -1.0f}) {
        float lowRadius = radius;
        float lowHeight = side * half;
        for (uint32_t k = 1; k <= bands; ++k) {
            const float phi = latitude(k);
            const float highRadius = radius * std::cos(phi);
            const float highHeight = side * (half + radius * std::sin(phi));
            for (uint32_t j = 1; j <= segments; ++j) {
                const Float3 lowA = ring(lowRadius, lowHeight, j - 1);
                const Float3 lowB = ring(lowRadius, lowHeight, j);
                const Float3 highA = ring(highRadius, highHeight, j - 1);
                const Float3 highB = ring(highRadius, highHeight, j);
                w.Facing(lowA, highA, highB, inside, color);
                w.Facing(lowA, highB, lowB, inside, color);
            }
            lowRadius = highRadius;
            lowHeight = highHeight;
        }
    }
}

void DynamicMesh::AddOctahedronOutline(const Float3& centre, float size, uint32_t color) {
    ShapeWriter w(vertices_.get(), indices_.get(), 24, 24);
    if (!w.Ok()) {
        return;
    }
    const Float3 px = centre + Float3{size, 0, 0};
    const Float3 nx = centre + Float3{-size, 0, 0};
    const Float3 py = centre + Float3{0, size, 0};
    const Float3 ny = centre + Float3{0, -size, 0};
    const Float3 pz = centre + Float3{0, 0, size};
    const Float3 nz = centre + Float3{0, 0, -size};
    const Float3 lines[12][2] = {{px, nz}, {nz, nx}, {nx, pz}, {pz, px}, {px, ny}, {ny, nx},
                                 {nx, py}, {py, px}, {py, nz}, {nz, ny}, {ny, pz}, {pz, py}};
    for (const auto& line : lines) {
        w.Line(line[0], line[1], color);
    }
}

} // namespace quarn
