// The weld map, edge list and face list of a mesh. Each lookup is a hash map that answers what
// a search of the list in order would: the earliest entry wins, so results match the order in
// which vertices, edges and corners were met.

#include "core/math/Vector.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/Mesh.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <unordered_map>

namespace quarn {

namespace {

// A position as the bits of its coordinates; -0.0 is 0.0, so equal floats give equal keys.
struct PositionKey {
    uint32_t x;
    uint32_t y;
    uint32_t z;

    bool operator==(const PositionKey&) const = default;
};

struct PositionHash {
    size_t operator()(const PositionKey& key) const {
        uint64_t h = key.x;
        h = h * 0x9E3779B97F4A7C15ull + key.y;
        h = h * 0x9E3779B97F4A7C15ull + key.z;
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

uint32_t CoordinateBits(float value) {
    return std::bit_cast<uint32_t>(value == 0.0f ? 0.0f : value);
}

uint64_t EdgeKey(uint32_t start, uint32_t end) {
    return (static_cast<uint64_t>(start) << 32) | end;
}

} // namespace

// With two entries left, an entry would be compared with itself.
void RemoveOutlineSpikes(std::vector<uint32_t>& outline) {
    size_t n = outline.size();
    size_t i = 0;
    while (i < n && n >= 3) {
        if (outline[i] != outline[(i + 2) % n]) {
            ++i;
            continue;
        }
        outline.erase(outline.begin() + static_cast<ptrdiff_t>(i));
        // The former successor, which is the first entry when i was the last.
        outline.erase(outline.begin() + static_cast<ptrdiff_t>(i % (n - 1)));
        n -= 2;
        if (n < 1) {
            break;
        }
        // Stays at i, where the next entry moved; a removal at 0 ends the scan.
        i = ((i + n - 1) % n) + 1;
    }
}

void Mesh::BuildWeldMap() {
    const uint32_t count = GetVertexCount();
    weldMap_.assign(count, 0);
    uniquePositionCount_ = 0;
    std::unordered_map<PositionKey, uint32_t, PositionHash> first;
    first.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const Float3 p = vertices_->GetPosition(i);
        uint32_t weld = i;
        // A NaN equals nothing, not even itself.
        if (!std::isnan(p.x) && !std::isnan(p.y) && !std::isnan(p.z)) {
            const PositionKey key{CoordinateBits(p.x), CoordinateBits(p.y), CoordinateBits(p.z)};
            weld = first.try_emplace(key, i).first->second;
        }
        weldMap_[i] = weld;
        uniquePositionCount_ += weld == i ? 1 : 0;
    }
    stateFlags_ |= WeldMapValid;
}

void Mesh::BuildEdges() {
    if (!(stateFlags_ & WeldMapValid)) {
        BuildWeldMap();
    }
    BuildEdgeList();
    stateFlags_ = (stateFlags_ & ~Closed) | (edgesClosed_ ? Closed : 0) | EdgesValid;
}

void Mesh::BuildEdgeList() {
    edges_.clear();
    edgesClosed_ = true;
    // The first record of each direction: records never change their ends, so the first one
    // found for a pair stays the first.
    std::unordered_map<uint64_t, uint32_t> firstRecord;
    const auto triangleCount = static_cast<uint32_t>(triangles_.size());
    for (uint32_t t = 0; t < triangleCount; ++t) {
        uint32_t w[3];
        ReadIndices(t, w);
        for (uint32_t& index : w) {
            // An index outside the vertices has no weld entry; it stands for itself.
            index = index < weldMap_.size() ? weldMap_[index] : index;
        }
        for (uint32_t k = 1; k <= 3; ++k) {
            const uint32_t a = w[k - 1];
            const uint32_t b = w[k % 3];
            const auto reverse = firstRecord.find(EdgeKey(b, a));
            if (reverse == firstRecord.end()) {
                MeshEdge edge;
                edge.start = a;
                edge.end = b;
                edge.firstTriangle = t;
                edge.firstStartCorner = static_cast<uint8_t>(k - 1);
                edge.firstEndCorner = static_cast<uint8_t>(k % 3);
                firstRecord.try_emplace(EdgeKey(a, b), static_cast<uint32_t>(edges_.size()));
                edges_.push_back(edge);
                continue;
            }
            MeshEdge& edge = edges_[reverse->second];
            // A third triangle on one edge: the mesh is not closed, and the last one wins.
            if (edge.secondTriangle != MeshEdge::NoTriangle) {
                edgesClosed_ = false;
            }
            edge.secondTriangle = t;
            edge.secondStartCorner = static_cast<uint8_t>(k % 3);
            edge.secondEndCorner = static_cast<uint8_t>(k - 1);
            const Float3& n1 = triangles_[t].normal;
            const Float3& n0 = triangles_[edge.firstTriangle].normal;
            if (!(n0 != n1)) {
                edge.crease = 1.0f;
                edge.flags |= EdgeConvex;
            } else {
                edge.crease = std::min(n0.Dot(n1), 1.0f);
                // Convex when the corner off the edge does not lie in front of the first face.
                const Float3 d = GetPoint(w[(k + 1) % 3]) - GetPoint(a);
                edge.flags =
                    n0.Dot(d) < 0.00001f ? edge.flags | EdgeConvex : edge.flags & ~EdgeConvex;
            }
            if (triangles_[t].flags != 0 && triangles_[edge.firstTriangle].flags != 0) {
                edge.flags |= EdgeConvex;
            }
        }
    }
    for (const MeshEdge& edge : edges_) {
        if (edge.secondTriangle == MeshEdge::NoTriangle) {
            edgesClosed_ = false;
        }
    }
}

void Mesh::BuildFaces(float threshold) {
    if (!(stateFlags_ & EdgesValid)) {
        BuildEdges();
    }
    const auto count = static_cast<uint32_t>(triangles_.size());
    // Slot k names the neighbour across the edge that begins at corner k; a triangle with no
    // neighbour there names itself.
    std::vector<std::array<uint32_t, 3>> neighbours(count);
    for (uint32_t t = 0; t < count; ++t) {
        neighbours[t] = {t, t, t};
    }
    for (const MeshEdge& edge : edges_) {
        if (edge.secondTriangle != MeshEdge::NoTriangle && edge.crease > threshold) {
            neighbours[edge.firstTriangle][edge.firstStartCorner] = edge.secondTriangle;
            neighbours[edge.secondTriangle][edge.secondEndCorner] = edge.firstTriangle;
        }
    }

    faces_.clear();
    std::vector<bool> visited(count, false);
    std::vector<uint32_t> stack;
    uint32_t visitedCount = 0;
    uint32_t lowest = 0;
    while (visitedCount < count) {
        while (visited[lowest]) {
            ++lowest;
        }
        visited[lowest] = true;
        ++visitedCount;
        stack.push_back(lowest);
        uint32_t x[3];
        ReadIndices(lowest, x);
        MeshFace face;
        face.outline = {x[0], x[1], x[2], x[0]};
        face.normal = triangles_[lowest].normal;
        face.flags = triangles_[lowest].flags;
        while (!stack.empty()) {
            const uint32_t u = stack.back();
            stack.pop_back();
            for (uint32_t n : neighbours[u]) {
                if (visited[n]) {
                    continue;
                }
                ReadIndices(n, x);
                // The first outline step that runs along one of n's edges the other way gets
                // n's third corner between its ends; an entry matching two corners of a
                // degenerate triangle takes the later one.
                std::vector<uint32_t>& outline = face.outline;
                for (size_t p = 0; p + 1 < outline.size(); ++p) {
                    int k = -1;
                    for (int j = 0; j < 3; ++j) {
                        k = outline[p] == x[j] ? j : k;
                    }
                    if (k >= 0 && outline[p + 1] == x[(k + 2) % 3]) {
                        outline.insert(outline.begin() + static_cast<ptrdiff_t>(p) + 1,
                                       x[(k + 1) % 3]);
                        break;
                    }
                }
                visited[n] = true;
                ++visitedCount;
                stack.push_back(n);
            }
        }
        face.outline.pop_back();
        faces_.push_back(std::move(face));
    }
    for (MeshFace& face : faces_) {
        RemoveOutlineSpikes(face.outline);
    }
    stateFlags_ |= FacesValid;
}

} // namespace quarn
