// The weld map, edge list and face list of a mesh. Each lookup is a hash map that answers what
// a search of the list in order would: the earliest entry wins, so results match the order in
// which vertices, edges and corners were met.

#include "core/math/Vector.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "resources/Mesh.h"
#include "resources/TripleKey.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <unordered_map>

namespace quarn {

namespace {

// -0.0 is 0.0, so equal floats give equal bits.
uint32_t CoordinateBits(float value) {
    return std::bit_cast<uint32_t>(value == 0.0f ? 0.0f : value);
}

uint64_t EdgeKey(uint32_t start, uint32_t end) {
    return (static_cast<uint64_t>(start) << 32) | end;
}

// A face's outline while it grows: a list whose steps (an entry and its successor) are indexed
// by their two vertices, so a triangle finds the step it attaches to without a walk along the
// outline. Where several steps qualify, the first in outline order wins, as in a walk; entries
// carry increasing order labels for that, re-spread over a stretch around an insertion that
// finds no label free (each stretch twice as long as the last until it is sparse enough), so
// an insertion costs about the logarithm of the outline's length.
class GrowingOutline {
public:
    explicit GrowingOutline(const uint32_t x[3]) {
        for (uint32_t vertex : {x[0], x[1], x[2], x[0]}) {
            const auto node = static_cast<uint32_t>(nodes_.size());
            nodes_.push_back({vertex, None, node > 0 ? node - 1 : None, None, (node + 1ull) << 58});
            if (node > 0) {
                nodes_[node - 1].next = node;
                Index(node - 1);
            }
        }
    }

    // An entry equal to corner k followed by corner k + 2 gets corner k + 1 between them; an
    // entry equal to two corners of a degenerate triangle is taken as the later one.
    void Attach(const uint32_t x[3]) {
        uint32_t best = None;
        uint32_t corner = 0;
        for (uint32_t k = 0; k < 3; ++k) {
            if ((k == 0 && (x[1] == x[0] || x[2] == x[0])) || (k == 1 && x[2] == x[1])) {
                continue;
            }
            const auto found = steps_.find(EdgeKey(x[k], x[(k + 2) % 3]));
            const uint32_t first = found == steps_.end() ? None : found->second;
            for (uint32_t node = first; node != None; node = nodes_[node].sameStep) {
                if (best == None || nodes_[node].order < nodes_[best].order) {
                    best = node;
                    corner = x[(k + 1) % 3];
                }
            }
        }
        if (best != None) {
            InsertAfter(best, corner);
        }
    }

    // In order, without the repeated first entry at the end.
    std::vector<uint32_t> Entries() const {
        std::vector<uint32_t> entries;
        for (uint32_t node = 0; nodes_[node].next != None; node = nodes_[node].next) {
            entries.push_back(nodes_[node].vertex);
        }
        return entries;
    }

private:
    static constexpr uint32_t None = 0xFFFFFFFF;
    // Labels stay below 2^62, the widest stretch.
    static constexpr int LabelBits = 62;
    struct Node {
        uint32_t vertex;
        uint32_t next;
        uint32_t previous;
        uint32_t sameStep; // the next entry whose step runs between the same vertices
        uint64_t order;
    };

    uint64_t StepKey(uint32_t node) const {
        return EdgeKey(nodes_[node].vertex, nodes_[nodes_[node].next].vertex);
    }

    void Index(uint32_t node) {
        uint32_t& first = steps_.try_emplace(StepKey(node), None).first->second;
        nodes_[node].sameStep = first;
        first = node;
    }

    void Unindex(uint32_t node) {
        uint32_t* link = &steps_.find(StepKey(node))->second;
        while (*link != node) {
            link = &nodes_[*link].sameStep;
        }
        *link = nodes_[node].sameStep;
    }

    void InsertAfter(uint32_t node, uint32_t vertex) {
        Unindex(node);
        const uint32_t next = nodes_[node].next;
        if (nodes_[next].order - nodes_[node].order < 2) {
            MakeRoom(node);
        }
        const auto added = static_cast<uint32_t>(nodes_.size());
        nodes_.push_back({vertex, next, node, None,
                          nodes_[node].order + (nodes_[next].order - nodes_[node].order) / 2});
        nodes_[node].next = added;
        nodes_[next].previous = added;
        Index(node);
        Index(added);
    }

    // Spreads the labels of the smallest aligned stretch around the node that holds fewer than
    // (4/3)^level entries for its 2^level labels, and leaves at least one free between two
    // entries, evenly over it.
    void MakeRoom(uint32_t node) {
        double limit = 1.0;
        for (int level = 1;; ++level) {
            limit *= 4.0 / 3.0;
            const uint64_t size = 1ull << level;
            const uint64_t base = nodes_[node].order & ~(size - 1);
            uint32_t first = node;
            while (nodes_[first].previous != None && nodes_[nodes_[first].previous].order >= base) {
                first = nodes_[first].previous;
            }
            uint64_t count = 0;
            for (uint32_t k = first; k != None && nodes_[k].order - base < size;
                 k = nodes_[k].next) {
                ++count;
            }
            if ((double(count) < limit && size >= 2 * (count + 1)) || level == LabelBits) {
                const uint64_t spacing = size / (count + 1);
                uint64_t order = base + spacing;
                for (uint32_t k = first; count > 0; k = nodes_[k].next, --count) {
                    nodes_[k].order = order;
                    order += spacing;
                }
                return;
            }
        }
    }

    std::vector<Node> nodes_;
    // The last entry indexed of each step.
    std::unordered_map<uint64_t, uint32_t> steps_;
};

// The first edge record of each direction, found by its two ends. Open addressing over record
// numbers: a slot holds a number (4 bytes), and the ends it stands for are read from the record
// itself, where a node of a map from ends to numbers would take about 40 bytes. Kept at most
// half full, so a probe ends soon.
class FirstRecordIndex {
public:
    static constexpr uint32_t None = 0xFFFFFFFF;

    FirstRecordIndex(const std::vector<MeshEdge>& records, size_t expected) : records_(records) {
        slots_.assign(std::bit_ceil(std::max<size_t>(2 * expected, 16)), None);
    }

    uint32_t Find(uint32_t start, uint32_t end) const {
        for (size_t slot = Home(start, end);; slot = (slot + 1) & (slots_.size() - 1)) {
            const uint32_t record = slots_[slot];
            if (record == None ||
                (records_[record].start == start && records_[record].end == end)) {
                return record;
            }
        }
    }

    // The record becomes the one its ends lead to, unless an earlier one holds them already.
    void AddIfFirst(uint32_t record) {
        if (2 * (used_ + 1) > slots_.size()) {
            Grow();
        }
        const MeshEdge& edge = records_[record];
        if (Find(edge.start, edge.end) == None) {
            Place(record);
            ++used_;
        }
    }

private:
    size_t Home(uint32_t start, uint32_t end) const {
        // The finaliser of splitmix64: neighbouring vertex numbers land far apart.
        uint64_t key = EdgeKey(start, end);
        key = (key ^ (key >> 30)) * 0xBF58476D1CE4E5B9ull;
        key = (key ^ (key >> 27)) * 0x94D049BB133111EBull;
        return static_cast<size_t>(key ^ (key >> 31)) & (slots_.size() - 1);
    }

    void Place(uint32_t record) {
        size_t slot = Home(records_[record].start, records_[record].end);
        while (slots_[slot] != None) {
            slot = (slot + 1) & (slots_.size() - 1);
        }
        slots_[slot] = record;
    }

    void Grow() {
        std::vector<uint32_t> old(2 * slots_.size(), None);
        old.swap(slots_);
        for (uint32_t record : old) {
            if (record != None) {
                Place(record);
            }
        }
    }

    const std::vector<MeshEdge>& records_;
    std::vector<uint32_t> slots_;
    size_t used_ = 0;
};

} // namespace

// Walks the outline as a ring of links, so each removal costs the same however long the outline
// is. With two entries left an entry would be compared with itself, so the scan stops at three.
void RemoveOutlineSpikes(std::vector<uint32_t>& outline) {
    size_t n = outline.size();
    if (n < 3) {
        return;
    }
    std::vector<uint32_t> next(n);
    std::vector<uint32_t> previous(n);
    for (size_t k = 0; k < n; ++k) {
        next[k] = static_cast<uint32_t>((k + 1) % n);
        previous[k] = static_cast<uint32_t>((k + n - 1) % n);
    }
    uint32_t head = 0;
    const auto unlink = [&](uint32_t entry) {
        next[previous[entry]] = next[entry];
        previous[next[entry]] = previous[entry];
        head = entry == head ? next[entry] : head;
    };
    uint32_t entry = head;
    for (size_t i = 0; i < n && n >= 3;) {
        const uint32_t successor = next[entry];
        if (outline[entry] != outline[next[successor]]) {
            entry = successor;
            ++i;
            continue;
        }
        // The entry and its successor go: the first entry when this one was the last.
        const bool wrapped = i == n - 1;
        const uint32_t after = next[successor];
        unlink(entry);
        unlink(successor);
        n -= 2;
        // The scan goes on where the next entry moved, at 1 after a wrap; a removal at 0 ends it.
        i = ((i + n - 1) % n) + 1;
        entry = wrapped ? next[head] : after;
    }
    std::vector<uint32_t> kept;
    kept.reserve(n);
    for (uint32_t k = head; kept.size() < n; k = next[k]) {
        kept.push_back(outline[k]);
    }
    outline = std::move(kept);
}

void Mesh::BuildWeldMap() {
    const uint32_t count = GetVertexCount();
    weldMap_.assign(count, 0);
    uniquePositionCount_ = 0;
    std::unordered_map<TripleKey, uint32_t, TripleKeyHash> first;
    first.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const Float3 p = vertices_->GetPosition(i);
        uint32_t weld = i;
        // A NaN equals nothing, not even itself.
        if (!std::isnan(p.x) && !std::isnan(p.y) && !std::isnan(p.z)) {
            const TripleKey key{CoordinateBits(p.x), CoordinateBits(p.y), CoordinateBits(p.z)};
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
    const auto triangleCount = static_cast<uint32_t>(triangles_.size());
    // Each record takes at most two of the 3 x triangles half-edges, so there are at least 1.5
    // records a triangle (that many on a closed mesh, a few more along an open mesh's border):
    // room for those from the start saves the list's doubling, and the memory a doubling past
    // them would leave unused.
    const size_t expected = size_t{triangleCount} + triangleCount / 2 + triangleCount / 16;
    edges_.reserve(expected);
    FirstRecordIndex firstRecord(edges_, expected);
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
            const uint32_t reverse = firstRecord.Find(b, a);
            if (reverse == FirstRecordIndex::None) {
                MeshEdge edge;
                edge.start = a;
                edge.end = b;
                edge.firstTriangle = t;
                edge.firstStartCorner = static_cast<uint8_t>(k - 1);
                edge.firstEndCorner = static_cast<uint8_t>(k % 3);
                edges_.push_back(edge);
                firstRecord.AddIfFirst(static_cast<uint32_t>(edges_.size() - 1));
                continue;
            }
            MeshEdge& edge = edges_[reverse];
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
        GrowingOutline outline(x);
        MeshFace face;
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
                outline.Attach(x);
                visited[n] = true;
                ++visitedCount;
                stack.push_back(n);
            }
        }
        face.outline = outline.Entries();
        faces_.push_back(std::move(face));
    }
    for (MeshFace& face : faces_) {
        RemoveOutlineSpikes(face.outline);
    }
    stateFlags_ |= FacesValid;
}

} // namespace quarn
