#include "gpu/software/SoftwareRasterizer.h"

#include "core/io/ByteOrder.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quarn {

namespace {

// Sub-pixel precision of the edge functions: 8 fraction bits.
constexpr int64_t SubPixel = 256;
// Screen coordinates beyond this many pixels are clipped away (clip-space vertices) or refused
// (pre-transformed ones), so the fixed-point edge products stay inside 64 bits.
constexpr float GuardBand = 16384.0f;
// Clipping keeps w above this, so the perspective divide stays finite.
constexpr float MinW = 1.0e-6f;

int64_t FloorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

int64_t CeilDiv(int64_t a, int64_t b) {
    return -FloorDiv(-a, b);
}

uint32_t VerticesOf(GpuPrimitiveType type, uint32_t primitives) {
    switch (type) {
    case GpuPrimitiveType::LineList:
        return primitives * 2;
    case GpuPrimitiveType::LineStrip:
        return primitives + 1;
    case GpuPrimitiveType::TriangleList:
        return primitives * 3;
    case GpuPrimitiveType::TriangleStrip:
        return primitives + 2;
    }
    return 0;
}

// Signed distance of a clip-space vertex to plane p (inside when >= 0).
float PlaneDistance(const RasterVertex& v, int p, float gx, float gy) {
    const float* c = v.pos;
    switch (p) {
    case 0:
        return c[2]; // near: z >= 0
    case 1:
        return c[3] - c[2]; // far: z <= w
    case 2:
        return gx * c[3] - c[0];
    case 3:
        return gx * c[3] + c[0];
    case 4:
        return gy * c[3] - c[1];
    case 5:
        return gy * c[3] + c[1];
    default:
        return c[3] - MinW;
    }
}
constexpr int PlaneCount = 7;

void Lerp(const RasterVertex& a, const RasterVertex& b, float t, uint32_t attributes,
          RasterVertex& out) {
    for (int i = 0; i < 4; ++i) {
        out.pos[i] = a.pos[i] + (b.pos[i] - a.pos[i]) * t;
    }
    for (uint32_t i = 0; i < attributes; ++i) {
        out.attr[i] = a.attr[i] + (b.attr[i] - a.attr[i]) * t;
    }
}

bool Finite(const RasterVertex& v) {
    return std::isfinite(v.pos[0]) && std::isfinite(v.pos[1]) && std::isfinite(v.pos[2]) &&
           std::isfinite(v.pos[3]);
}

// One attribute plane over the screen: value at (x0, y0) and its gradients.
struct Plane {
    float base = 0.0f;
    float dx = 0.0f;
    float dy = 0.0f;
};

// Rows per band on several threads: few enough that small sprites spread over the threads,
// enough that a band's share of each triangle's set-up stays small.
constexpr int32_t BandRows = 16;
// On one thread bands keep a draw's pixels in cache; taller ones set up fewer triangles twice.
constexpr int32_t SoloBandRows = 64;
// Draws covering fewer pixels than this stay on the calling thread: waking the pool costs more.
constexpr double ParallelPixels = 16384.0;
// Screen-space triangles assembled per job when a large draw is assembled in parallel.
constexpr uint32_t AssemblyBlock = 2048;
constexpr uint32_t NoVertex = UINT32_MAX;

// The bound one edge puts on the span of each row, stepped down the rows without dividing.
// With M = E - threshold at the span's first pixel and s = |E's step per pixel|, a right-facing
// edge (E grows to the right) starts the span at -floor(M / s), a left-facing one ends it at
// floor(M / s), and a horizontal one (s = 1) keeps the row only while M >= 0. M grows by the
// same amount every row, so the quotient and remainder step by constants.
class EdgeBound {
public:
    enum Kind { Low, High, Row };

    EdgeBound(int64_t m, int64_t stepPerPixel, int64_t stepPerRow) {
        kind_ = stepPerPixel > 0 ? Low : stepPerPixel < 0 ? High : Row;
        divisor_ = kind_ == Row ? 1 : (stepPerPixel > 0 ? stepPerPixel : -stepPerPixel);
        quotient_ = FloorDiv(m, divisor_);
        remainder_ = m - quotient_ * divisor_;
        rowQuotient_ = FloorDiv(stepPerRow, divisor_);
        rowRemainder_ = stepPerRow - rowQuotient_ * divisor_;
    }

    // Narrows [low, high] (pixels from the triangle's left column) to this edge's part.
    void Clip(int64_t& low, int64_t& high) const {
        if (kind_ == Low) {
            low = std::max(low, -quotient_);
        } else if (kind_ == High) {
            high = std::min(high, quotient_);
        } else if (quotient_ < 0) {
            high = -1;
        }
    }

    void NextRow() {
        quotient_ += rowQuotient_;
        remainder_ += rowRemainder_;
        if (remainder_ >= divisor_) {
            remainder_ -= divisor_;
            ++quotient_;
        }
    }

private:
    Kind kind_;
    int64_t divisor_, quotient_, remainder_, rowQuotient_, rowRemainder_;
};

// std::llround without the library call, for |v| below 2^24, where v minus its truncation is
// exact.
int64_t RoundHalfAway(float v) {
    const auto whole = static_cast<int64_t>(v);
    const float fraction = v - static_cast<float>(whole);
    return whole + (fraction >= 0.5f ? 1 : fraction <= -0.5f ? -1 : 0);
}

// A bound of a primitive's rows, kept far inside int32 whatever the coordinate.
int32_t RowBound(float y) {
    constexpr float Limit = GuardBand * 4.0f;
    return static_cast<int32_t>(std::clamp(y, -Limit, Limit));
}

} // namespace

// A triangle ready for the span walk: corners snapped to SubPixel units, in clockwise order.
// Edge i runs from corner i to corner i + 1; inside is E >= threshold, where top and left edges
// own their pixels (threshold 0) and the others do not (threshold 1).
struct SoftwareRasterizer::TriangleSetup {
    int64_t X[3], Y[3];
    int64_t edgeDx[3], edgeDy[3], threshold[3];
    int32_t x0, x1, y0, y1; // pixel bounds inside the viewport and the band, inclusive
    Plane zPlane, qPlane;
    Plane planes[RasterMaxAttributes];

    // Each edge at the triangle's left column in its first row, to be stepped row by row.
    std::array<EdgeBound, 3> FirstRowEdges() const;
};

SoftwareRasterizer::SoftwareRasterizer(uint32_t threads, uint32_t sliceVertices)
    : sliceVertices_(std::max(sliceVertices, 3u)), threads_(std::max(threads, 1u)) {}

void SoftwareRasterizer::Draw(const GpuState& state, const GpuDrawCall& call) {
    if (call.primitiveCount == 0 || !pixels_.Setup(state)) {
        return;
    }
    const uint32_t count = VerticesOf(call.type, call.primitiveCount);
    if (count == 0) {
        return;
    }

    const GpuViewport& vp = state.viewport;
    viewport_.left = static_cast<int32_t>(std::min(vp.x, pixels_.TargetWidth()));
    viewport_.top = static_cast<int32_t>(std::min(vp.y, pixels_.TargetHeight()));
    viewport_.right = static_cast<int32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(vp.x) + vp.width, pixels_.TargetWidth()));
    viewport_.bottom = static_cast<int32_t>(
        std::min<uint64_t>(static_cast<uint64_t>(vp.y) + vp.height, pixels_.TargetHeight()));
    if (state.Get(GpuRenderState::ScissorTestEnable) != 0) {
        // Narrowing the pixel rect clips whole spans, so the test never runs per pixel.
        const GpuRect& s = state.scissor;
        viewport_.left = std::max(viewport_.left, s.left);
        viewport_.top = std::max(viewport_.top, s.top);
        viewport_.right = std::min(viewport_.right, s.right);
        viewport_.bottom = std::min(viewport_.bottom, s.bottom);
    }
    if (viewport_.left >= viewport_.right || viewport_.top >= viewport_.bottom) {
        return;
    }
    viewport_.x = static_cast<float>(vp.x);
    viewport_.y = static_cast<float>(vp.y);
    viewport_.width = static_cast<float>(vp.width);
    viewport_.height = static_cast<float>(vp.height);
    viewport_.minZ = vp.minZ;
    viewport_.maxZ = vp.maxZ;
    guardX_ = GuardBand / std::max(viewport_.width * 0.5f, 1.0f);
    guardY_ = GuardBand / std::max(viewport_.height * 0.5f, 1.0f);

    attributes_ = pixels_.AttributeCount();
    wireframe_ = state.Get(GpuRenderState::FillMode) != static_cast<uint32_t>(GpuFillMode::Solid);
    lastPixel_ = state.Get(GpuRenderState::LastPixel) != 0;
    cull_ = static_cast<GpuCull>(state.Get(GpuRenderState::CullMode));

    // Where each primitive's vertices start, counted in indices (or vertices), and how many it
    // has; a strip's next primitive shares all but one.
    const bool strip = call.type == GpuPrimitiveType::TriangleStrip ||
                       call.type == GpuPrimitiveType::LineStrip;
    const bool lines = call.type == GpuPrimitiveType::LineList ||
                       call.type == GpuPrimitiveType::LineStrip;
    const uint32_t step = strip ? 1 : lines ? 2 : 3;
    const uint32_t corners = lines ? 2 : 3;
    if (!call.indexed) {
        // Every slice but the last the same size; even, so no strip triangle changes its turn.
        const uint32_t perSlice = std::max(((sliceVertices_ - (corners - step)) / step) & ~1u, 2u);
        for (uint32_t first = 0; first < call.primitiveCount; first += perSlice) {
            DrawRange(state, call, first, std::min(perSlice, call.primitiveCount - first));
        }
        return;
    }
    // A slice gathers the vertices its primitives name, each once however often or far apart
    // they are named, and ends before the primitive that would take it past the bound of
    // vertices or of primitives: a vertex is processed once for each slice naming it, so a draw
    // costs in proportion to its indices, however they are spread.
    // The device points indexData at the draw's first index.
    const auto* data = static_cast<const uint8_t*>(call.indexData);
    auto vertexAt = [&](uint64_t i) -> uint32_t {
        const uint8_t* at = data + i * (call.index32 ? 4 : 2);
        const uint32_t index = call.index32 ? ReadLittleEndian32(at) : ReadLittleEndian16(at);
        // The device has checked every index plus the base against the streams.
        return static_cast<uint32_t>(int64_t{index} + call.baseVertex);
    };
    const uint32_t indexCount = VerticesOf(call.type, call.primitiveCount);
    uint32_t low = UINT32_MAX;
    uint32_t high = 0;
    for (uint32_t i = 0; i < indexCount; ++i) {
        const uint32_t v = vertexAt(i);
        low = std::min(low, v);
        high = std::max(high, v);
    }
    StartGathering(low, high, indexCount, uint64_t{sliceVertices_} + corners);
    uint32_t first = 0;
    uint64_t gatheredUpTo = 0; // indices_ holds the slots of the slice's indices before this one
    for (uint32_t p = 0; p < call.primitiveCount; ++p) {
        const uint64_t start = uint64_t{p} * step;
        uint32_t named[3];
        uint32_t fresh = 0;
        for (uint32_t c = 0; c < corners; ++c) {
            named[c] = vertexAt(start + c);
            const bool repeated = (c > 0 && named[c] == named[0]) || (c > 1 && named[c] == named[1]);
            fresh += !repeated && FindSlot(named[c]) == NoVertex ? 1 : 0;
        }
        // A strip's slices start at even primitives, so each triangle keeps its turn.
        const bool mayCut = p > first && (call.type != GpuPrimitiveType::TriangleStrip ||
                                          (p - first) % 2 == 0);
        if (mayCut && (gathered_.size() + fresh > sliceVertices_ || p - first >= sliceVertices_)) {
            DrawGathered(state, call, p - first);
            NextGathering();
            first = p;
            gatheredUpTo = start;
        }
        for (uint64_t i = std::max(gatheredUpTo, start); i < start + corners; ++i) {
            indices_.push_back(GatherSlot(named[i - start]));
        }
        gatheredUpTo = start + corners;
    }
    DrawGathered(state, call, call.primitiveCount - first);
}

void SoftwareRasterizer::DrawRange(const GpuState& state, const GpuDrawCall& call, uint32_t first,
                                   uint32_t count) {
    GpuDrawCall slice = call;
    slice.primitiveCount = count;
    const bool strip = call.type == GpuPrimitiveType::TriangleStrip ||
                       call.type == GpuPrimitiveType::LineStrip;
    const uint32_t step = strip ? 1 : call.type == GpuPrimitiveType::LineList ? 2 : 3;
    slice.startVertex += first * step;
    const uint32_t vertices = VerticesOf(slice.type, count);
    indices_.resize(vertices);
    for (uint32_t i = 0; i < vertices; ++i) {
        indices_[i] = i;
    }
    if (ProcessVertices(state, slice, {nullptr, slice.startVertex, vertices}, vertices_,
                        pretransformed_, threads_)) {
        shadedVertices_ += vertices;
        Rasterize(slice);
    }
}

void SoftwareRasterizer::DrawGathered(const GpuState& state, const GpuDrawCall& call,
                                      uint32_t count) {
    GpuDrawCall slice = call;
    slice.primitiveCount = count;
    const auto vertices = static_cast<uint32_t>(gathered_.size());
    if (ProcessVertices(state, slice, {gathered_.data(), 0, vertices}, vertices_,
                        pretransformed_, threads_)) {
        shadedVertices_ += vertices;
        Rasterize(slice);
    }
}

void SoftwareRasterizer::Rasterize(const GpuDrawCall& slice) {
    const double pixels = AssemblePrimitives(slice);
    if (primitives_.empty()) {
        return;
    }
    // One thread takes the bands in order too: a band's rows stay in cache while every
    // primitive of the draw passes over them.
    const bool solo = threads_.Count() == 1 || pixels < ParallelPixels;
    bandRows_ = solo ? SoloBandRows : BandRows;
    const uint32_t bands = BinPrimitives();
    bandPixels_.assign(bands, {});
    if (solo) {
        for (uint32_t band = 0; band < bands; ++band) {
            DrawBand(band);
        }
    } else {
        threads_.Run(bands, [&](uint32_t band) { DrawBand(band); });
    }
    for (const auto& [pixels, spanPixels] : bandPixels_) {
        shadedPixels_ += pixels;
        spanPixels_ += spanPixels;
    }
}

void SoftwareRasterizer::StartGathering(uint32_t low, uint32_t high, uint32_t indices,
                                        uint64_t sliceBound) {
    // A draw naming vertices close together (most meshes, batches, sprites) finds their slots
    // by their place in its range, which keeps neighbours together in the cache; one whose
    // range is wide for its indices (a few indices into a large buffer) hashes them.
    const uint64_t range = uint64_t{high} - low + 1;
    dense_ = range <= std::min<uint64_t>(2 * uint64_t{indices} + 1024, MaxDenseRange);
    if (dense_) {
        denseLow_ = low;
        if (denseSlots_.size() < range) {
            denseSlots_.resize(range);
        }
    } else {
        // At most half full, so a probe ends soon; a table of an earlier, larger draw serves as
        // it is, its first entries alone in use.
        const uint64_t most = std::min<uint64_t>(indices, sliceBound);
        uint32_t bits = 4;
        while (bits < 31 && (uint64_t{1} << bits) < 2 * most) {
            ++bits;
        }
        slotBits_ = bits;
        if (slotTable_.size() < (size_t{1} << bits)) {
            slotTable_.resize(size_t{1} << bits);
        }
    }
    NextGathering();
}

void SoftwareRasterizer::NextGathering() {
    gathered_.clear();
    indices_.clear();
    // Entries of earlier slices keep older stamps and count as empty.
    if (++slotStamp_ == 0) {
        std::fill(slotTable_.begin(), slotTable_.end(), SlotEntry{});
        std::fill(denseSlots_.begin(), denseSlots_.end(), DenseSlot{});
        slotStamp_ = 1;
    }
}

uint32_t SoftwareRasterizer::SlotHome(uint32_t vertex) const {
    return (vertex * 0x9E3779B1u) >> (32 - slotBits_);
}

uint32_t SoftwareRasterizer::FindSlot(uint32_t vertex) const {
    if (dense_) {
        const DenseSlot& entry = denseSlots_[vertex - denseLow_];
        return entry.stamp == slotStamp_ ? entry.slot : NoVertex;
    }
    const uint32_t mask = (1u << slotBits_) - 1;
    for (uint32_t i = SlotHome(vertex);; i = (i + 1) & mask) {
        const SlotEntry& entry = slotTable_[i];
        if (entry.stamp != slotStamp_) {
            return NoVertex;
        }
        if (entry.vertex == vertex) {
            return entry.slot;
        }
    }
}

uint32_t SoftwareRasterizer::GatherSlot(uint32_t vertex) {
    const auto next = static_cast<uint32_t>(gathered_.size());
    if (dense_) {
        DenseSlot& entry = denseSlots_[vertex - denseLow_];
        if (entry.stamp != slotStamp_) {
            entry = {next, slotStamp_};
            gathered_.push_back(vertex);
        }
        return entry.slot;
    }
    const uint32_t mask = (1u << slotBits_) - 1;
    for (uint32_t i = SlotHome(vertex);; i = (i + 1) & mask) {
        SlotEntry& entry = slotTable_[i];
        if (entry.stamp != slotStamp_) {
            entry = {vertex, next, slotStamp_};
            gathered_.push_back(vertex);
            return entry.slot;
        }
        if (entry.vertex == vertex) {
            return entry.slot;
        }
    }
}

uint32_t SoftwareRasterizer::BinPrimitives() {
    const int32_t rows = viewport_.bottom - viewport_.top;
    const auto bands = static_cast<uint32_t>((rows + bandRows_ - 1) / bandRows_);
    auto bandOf = [&](int32_t row) {
        return static_cast<uint32_t>((row - viewport_.top) / bandRows_);
    };
    // Counting sort: each band's list keeps the draw's order.
    bandStart_.assign(bands + 1, 0);
    for (const Primitive& p : primitives_) {
        for (uint32_t b = bandOf(p.top), last = bandOf(p.bottom - 1); b <= last; ++b) {
            ++bandStart_[b + 1];
        }
    }
    for (uint32_t b = 0; b < bands; ++b) {
        bandStart_[b + 1] += bandStart_[b];
    }
    bandPrimitives_.resize(bandStart_[bands]);
    std::vector<uint32_t>& next = bandNext_;
    next.assign(bandStart_.begin(), bandStart_.end() - 1);
    for (uint32_t i = 0; i < primitives_.size(); ++i) {
        const Primitive& p = primitives_[i];
        for (uint32_t b = bandOf(p.top), last = bandOf(p.bottom - 1); b <= last; ++b) {
            bandPrimitives_[next[b]++] = i;
        }
    }
    return bands;
}

double SoftwareRasterizer::AssemblePrimitives(const GpuDrawCall& call) {
    primitives_.clear();
    const bool triangles =
        call.type == GpuPrimitiveType::TriangleList || call.type == GpuPrimitiveType::TriangleStrip;
    if (pretransformed_ && triangles && threads_.Count() > 1 &&
        call.primitiveCount >= 2 * AssemblyBlock) {
        return AssembleScreenTriangles(call);
    }
    if (!pretransformed_) {
        projected_.clear();
        projectedIndex_.assign(vertices_.size(), NoVertex);
    }
    const std::vector<uint32_t>& ix = indices_;
    double pixels = 0.0;
    switch (call.type) {
    case GpuPrimitiveType::TriangleList:
        for (uint32_t p = 0; p < call.primitiveCount; ++p) {
            pixels += Triangle(ix[3 * p], ix[3 * p + 1], ix[3 * p + 2]);
        }
        break;
    case GpuPrimitiveType::TriangleStrip:
        // Every second triangle of a strip is listed in reverse order; swap two of its vertices
        // so that all of them keep the first one's winding.
        for (uint32_t p = 0; p < call.primitiveCount; ++p) {
            if ((p & 1) == 0) {
                pixels += Triangle(ix[p], ix[p + 1], ix[p + 2]);
            } else {
                pixels += Triangle(ix[p + 1], ix[p], ix[p + 2]);
            }
        }
        break;
    case GpuPrimitiveType::LineList:
        for (uint32_t p = 0; p < call.primitiveCount; ++p) {
            pixels += Line(ix[2 * p], ix[2 * p + 1]);
        }
        break;
    case GpuPrimitiveType::LineStrip:
        for (uint32_t p = 0; p < call.primitiveCount; ++p) {
            pixels += Line(ix[p], ix[p + 1]);
        }
        break;
    }
    return pixels;
}

double SoftwareRasterizer::AssembleScreenTriangles(const GpuDrawCall& call) {
    const uint32_t count = call.primitiveCount;
    const bool strip = call.type == GpuPrimitiveType::TriangleStrip;
    candidates_.resize(count);
    const uint32_t blocks = (count + AssemblyBlock - 1) / AssemblyBlock;
    std::vector<double> pixels(blocks, 0.0);
    threads_.Run(blocks, [&](uint32_t block) {
        const auto end =
            static_cast<uint32_t>(std::min<uint64_t>(count, uint64_t(block + 1) * AssemblyBlock));
        for (uint32_t p = block * AssemblyBlock; p < end; ++p) {
            // As AssemblePrimitives and Triangle take them, odd strip triangles turned round.
            uint32_t v[3];
            if (!strip) {
                const uint32_t* corners = &indices_[size_t(3) * p];
                v[0] = corners[0], v[1] = corners[1], v[2] = corners[2];
            } else if ((p & 1) == 0) {
                v[0] = indices_[p], v[1] = indices_[p + 1], v[2] = indices_[p + 2];
            } else {
                v[0] = indices_[p + 1], v[1] = indices_[p], v[2] = indices_[p + 2];
            }
            Primitive& candidate = candidates_[p];
            candidate.top = candidate.bottom = 0; // left out
            if (Finite(vertices_[v[0]]) && Finite(vertices_[v[1]]) && Finite(vertices_[v[2]])) {
                pixels[block] += MakePrimitive(v, false, candidate);
            }
        }
    });
    for (const Primitive& candidate : candidates_) {
        if (candidate.top < candidate.bottom) {
            primitives_.push_back(candidate);
        }
    }
    double total = 0.0;
    for (double blockPixels : pixels) {
        total += blockPixels;
    }
    return total;
}

void SoftwareRasterizer::ToScreen(RasterVertex& v) const {
    const float rhw = 1.0f / v.pos[3];
    v.pos[0] = viewport_.x + (v.pos[0] * rhw + 1.0f) * viewport_.width * 0.5f;
    v.pos[1] = viewport_.y + (1.0f - v.pos[1] * rhw) * viewport_.height * 0.5f;
    v.pos[2] = viewport_.minZ + v.pos[2] * rhw * (viewport_.maxZ - viewport_.minZ);
    v.pos[3] = rhw;
}

uint32_t SoftwareRasterizer::AddScreenVertex(const RasterVertex& v) {
    projected_.push_back(v);
    ToScreen(projected_.back());
    return static_cast<uint32_t>(projected_.size() - 1);
}

uint32_t SoftwareRasterizer::Projected(uint32_t index) {
    if (projectedIndex_[index] == NoVertex) {
        projectedIndex_[index] = AddScreenVertex(vertices_[index]);
    }
    return projectedIndex_[index];
}

double SoftwareRasterizer::AddPrimitive(const uint32_t* v, bool line) {
    Primitive p;
    const double pixels = MakePrimitive(v, line, p);
    if (pixels > 0.0) {
        primitives_.push_back(p);
    }
    return pixels;
}

double SoftwareRasterizer::MakePrimitive(const uint32_t* v, bool line, Primitive& p) const {
    const std::vector<RasterVertex>& screen = pretransformed_ ? vertices_ : projected_;
    const int corners = line ? 2 : 3;
    float minX = screen[v[0]].pos[0], maxX = minX;
    float minY = screen[v[0]].pos[1], maxY = minY;
    for (int i = 1; i < corners; ++i) {
        minX = std::min(minX, screen[v[i]].pos[0]);
        maxX = std::max(maxX, screen[v[i]].pos[0]);
        minY = std::min(minY, screen[v[i]].pos[1]);
        maxY = std::max(maxY, screen[v[i]].pos[1]);
    }
    // A row or so of margin: snapping and the line rule stay inside it.
    p = {{v[0], v[1], line ? v[1] : v[2]},
         std::max(RowBound(std::floor(minY)) - 1, viewport_.top),
         std::min(RowBound(std::ceil(maxY)) + 2, viewport_.bottom),
         line};
    if (p.top >= p.bottom) {
        return 0.0;
    }
    const double columns = std::clamp(static_cast<double>(maxX) - minX + 1.0, 1.0,
                                      static_cast<double>(viewport_.right - viewport_.left));
    const double rows = p.bottom - p.top;
    return line ? rows + columns : rows * columns * 0.5;
}

double SoftwareRasterizer::Triangle(uint32_t ia, uint32_t ib, uint32_t ic) {
    const RasterVertex& a = vertices_[ia];
    const RasterVertex& b = vertices_[ib];
    const RasterVertex& c = vertices_[ic];
    if (!Finite(a) || !Finite(b) || !Finite(c)) {
        return 0.0;
    }
    if (pretransformed_) {
        const uint32_t v[3] = {ia, ib, ic};
        return AddPrimitive(v, false);
    }
    bool inside = true;
    for (int p = 0; p < PlaneCount && inside; ++p) {
        for (const RasterVertex* corner : {&a, &b, &c}) {
            inside = inside && PlaneDistance(*corner, p, guardX_, guardY_) >= 0.0f;
        }
    }
    if (inside) {
        const uint32_t v[3] = {Projected(ia), Projected(ib), Projected(ic)};
        return AddPrimitive(v, false);
    }
    // Sutherland-Hodgman against each plane; a triangle grows to at most 3 + 7 vertices.
    RasterVertex buffers[2][3 + PlaneCount];
    int n = 3;
    buffers[0][0] = a;
    buffers[0][1] = b;
    buffers[0][2] = c;
    int from = 0;
    for (int p = 0; p < PlaneCount && n >= 3; ++p) {
        const RasterVertex* in = buffers[from];
        RasterVertex* out = buffers[1 - from];
        bool allInside = true;
        for (int i = 0; i < n && allInside; ++i) {
            allInside = PlaneDistance(in[i], p, guardX_, guardY_) >= 0.0f;
        }
        if (allInside) {
            continue;
        }
        int m = 0;
        for (int i = 0; i < n; ++i) {
            const RasterVertex& s = in[i];
            const RasterVertex& e = in[(i + 1) % n];
            const float ds = PlaneDistance(s, p, guardX_, guardY_);
            const float de = PlaneDistance(e, p, guardX_, guardY_);
            if (ds >= 0.0f) {
                out[m++] = s;
            }
            if ((ds >= 0.0f) != (de >= 0.0f)) {
                Lerp(s, e, ds / (ds - de), attributes_, out[m++]);
            }
        }
        n = m;
        from = 1 - from;
    }
    if (n < 3) {
        return 0.0;
    }
    uint32_t poly[3 + PlaneCount];
    for (int i = 0; i < n; ++i) {
        poly[i] = AddScreenVertex(buffers[from][i]);
    }
    double pixels = 0.0;
    for (int i = 1; i + 1 < n; ++i) {
        const uint32_t v[3] = {poly[0], poly[i], poly[i + 1]};
        pixels += AddPrimitive(v, false);
    }
    return pixels;
}

double SoftwareRasterizer::Line(uint32_t ia, uint32_t ib) {
    const RasterVertex& a = vertices_[ia];
    const RasterVertex& b = vertices_[ib];
    if (!Finite(a) || !Finite(b)) {
        return 0.0;
    }
    if (pretransformed_) {
        const uint32_t v[2] = {ia, ib};
        return AddPrimitive(v, true);
    }
    RasterVertex s = a;
    RasterVertex e = b;
    for (int p = 0; p < PlaneCount; ++p) {
        const float ds = PlaneDistance(s, p, guardX_, guardY_);
        const float de = PlaneDistance(e, p, guardX_, guardY_);
        if (ds < 0.0f && de < 0.0f) {
            return 0.0;
        }
        if (ds < 0.0f) {
            RasterVertex cut;
            Lerp(s, e, ds / (ds - de), attributes_, cut);
            s = cut;
        } else if (de < 0.0f) {
            RasterVertex cut;
            Lerp(s, e, ds / (ds - de), attributes_, cut);
            e = cut;
        }
    }
    const uint32_t v[2] = {AddScreenVertex(s), AddScreenVertex(e)};
    return AddPrimitive(v, true);
}

void SoftwareRasterizer::DrawBand(uint32_t index) {
    const int32_t top = viewport_.top + static_cast<int32_t>(index) * bandRows_;
    Band band{top, std::min(top + bandRows_, viewport_.bottom)};
    const std::vector<RasterVertex>& screen = pretransformed_ ? vertices_ : projected_;
    for (uint32_t i = bandStart_[index]; i < bandStart_[index + 1]; ++i) {
        const Primitive& p = primitives_[bandPrimitives_[i]];
        if (p.line) {
            ScreenLine(screen[p.v[0]], screen[p.v[1]], band);
        } else {
            ScreenTriangle(screen[p.v[0]], screen[p.v[1]], screen[p.v[2]], band);
        }
    }
    bandPixels_[index] = {band.pixels, band.spanPixels};
}

void SoftwareRasterizer::ScreenTriangle(const RasterVertex& a, const RasterVertex& b,
                                        const RasterVertex& c, Band& band) const {
    const RasterVertex* v[3] = {&a, &b, &c};
    for (const RasterVertex* p : v) {
        if (!(std::fabs(p->pos[0]) < GuardBand * 2.0f) ||
            !(std::fabs(p->pos[1]) < GuardBand * 2.0f)) {
            return;
        }
    }
    TriangleSetup t;
    int64_t* X = t.X;
    int64_t* Y = t.Y;
    for (int i = 0; i < 3; ++i) {
        X[i] = RoundHalfAway(v[i]->pos[0] * static_cast<float>(SubPixel));
        Y[i] = RoundHalfAway(v[i]->pos[1] * static_cast<float>(SubPixel));
    }
    int64_t area = (X[1] - X[0]) * (Y[2] - Y[0]) - (X[2] - X[0]) * (Y[1] - Y[0]);
    if (area == 0) {
        return;
    }
    // Positive area is clockwise on screen (y grows downwards).
    if ((cull_ == GpuCull::Cw && area > 0) || (cull_ == GpuCull::Ccw && area < 0)) {
        return;
    }
    if (wireframe_) {
        ScreenLine(a, b, band);
        ScreenLine(b, c, band);
        ScreenLine(c, a, band);
        return;
    }
    if (area < 0) {
        std::swap(v[1], v[2]);
        std::swap(X[1], X[2]);
        std::swap(Y[1], Y[2]);
        area = -area;
    }

    for (int i = 0; i < 3; ++i) {
        const int j = (i + 1) % 3;
        t.edgeDx[i] = X[j] - X[i];
        t.edgeDy[i] = Y[j] - Y[i];
        const bool topLeft = t.edgeDy[i] < 0 || (t.edgeDy[i] == 0 && t.edgeDx[i] > 0);
        t.threshold[i] = topLeft ? 0 : 1;
    }
    const int64_t minX = std::min({X[0], X[1], X[2]});
    const int64_t maxX = std::max({X[0], X[1], X[2]});
    const int64_t minY = std::min({Y[0], Y[1], Y[2]});
    const int64_t maxY = std::max({Y[0], Y[1], Y[2]});
    t.x0 = static_cast<int32_t>(std::max<int64_t>(CeilDiv(minX, SubPixel), viewport_.left));
    t.x1 = static_cast<int32_t>(std::min<int64_t>(FloorDiv(maxX, SubPixel), viewport_.right - 1));
    t.y0 = static_cast<int32_t>(std::max<int64_t>(CeilDiv(minY, SubPixel), band.top));
    t.y1 = static_cast<int32_t>(std::min<int64_t>(FloorDiv(maxY, SubPixel), band.bottom - 1));
    if (t.x0 > t.x1 || t.y0 > t.y1) {
        return;
    }

    // Attribute planes from the snapped positions, perspective-correct: attributes times 1/w
    // and 1/w itself are linear on screen; depth is linear as it is.
    const float fx0 = static_cast<float>(X[0]) / SubPixel;
    const float fy0 = static_cast<float>(Y[0]) / SubPixel;
    const float dx1 = static_cast<float>(X[1] - X[0]) / SubPixel;
    const float dy1 = static_cast<float>(Y[1] - Y[0]) / SubPixel;
    const float dx2 = static_cast<float>(X[2] - X[0]) / SubPixel;
    const float dy2 = static_cast<float>(Y[2] - Y[0]) / SubPixel;
    const float inverseArea = 1.0f / (dx1 * dy2 - dx2 * dy1);
    auto makePlane = [&](float f0, float f1, float f2) {
        Plane p;
        p.dx = ((f1 - f0) * dy2 - (f2 - f0) * dy1) * inverseArea;
        p.dy = ((f2 - f0) * dx1 - (f1 - f0) * dx2) * inverseArea;
        p.base = f0 - p.dx * fx0 - p.dy * fy0;
        return p;
    };
    float q[3];
    const bool perspective = v[0]->pos[3] > 0.0f && v[1]->pos[3] > 0.0f && v[2]->pos[3] > 0.0f;
    for (int i = 0; i < 3; ++i) {
        q[i] = perspective ? v[i]->pos[3] : 1.0f;
    }
    t.zPlane = makePlane(v[0]->pos[2], v[1]->pos[2], v[2]->pos[2]);
    t.qPlane = makePlane(q[0], q[1], q[2]);
    // Textured spans read the diffuse colour, the first texture's u and v and the fog alone.
    const bool texturedSpans = pixels_.HasTexturedSpan();
    const bool fogSpans = texturedSpans && pixels_.TexturedSpanFogs();
    for (uint32_t i = 0; i < attributes_; ++i) {
        if (texturedSpans && i >= AttrDiffuse + 4 && i != AttrTexture && i != AttrTexture + 1 &&
            !(fogSpans && i == AttrFog)) {
            continue;
        }
        t.planes[i] = makePlane(v[0]->attr[i] * q[0], v[1]->attr[i] * q[1], v[2]->attr[i] * q[2]);
    }
    WalkSpans(t, band);
}

std::array<EdgeBound, 3> SoftwareRasterizer::TriangleSetup::FirstRowEdges() const {
    const int64_t firstY = static_cast<int64_t>(y0) * SubPixel;
    const int64_t firstX = static_cast<int64_t>(x0) * SubPixel;
    auto edge = [&](int i) {
        return EdgeBound(edgeDx[i] * (firstY - Y[i]) - edgeDy[i] * (firstX - X[i]) - threshold[i],
                         -edgeDy[i] * SubPixel, edgeDx[i] * SubPixel);
    };
    return {edge(0), edge(1), edge(2)};
}

void SoftwareRasterizer::WalkSpans(const TriangleSetup& t, Band& band) const {
    if (pixels_.HasPixelProgram()) {
        WalkQuads(t, band);
        return;
    }
    const uint32_t attributes = attributes_;
    const uint32_t stages = pixels_.StageCount();
    bool footprint[GpuStageCount] = {};
    bool anyFootprint = false;
    for (uint32_t s = 0; s < stages; ++s) {
        footprint[s] = pixels_.NeedsFootprint(s);
        anyFootprint = anyFootprint || footprint[s];
    }
    std::array<EdgeBound, 3> edges = t.FirstRowEdges();

    const bool texturedSpans = pixels_.HasTexturedSpan();
    // Attributes at x are row + dx * x in every row: the same in every band, and one multiply
    // and add per pixel and attribute, as the span loops do it four pixels at a time.
    float rows[RasterMaxAttributes];
    float attr[RasterMaxAttributes];
    TexelFootprint footprints[GpuStageCount];
    for (int32_t py = t.y0; py <= t.y1; ++py) {
        int64_t spanLow = 0;
        int64_t spanHigh = t.x1 - t.x0;
        for (EdgeBound& edge : edges) {
            edge.Clip(spanLow, spanHigh);
            edge.NextRow();
        }
        if (spanLow > spanHigh) {
            continue;
        }
        const auto left = static_cast<int32_t>(t.x0 + spanLow);
        const auto right = static_cast<int32_t>(t.x0 + spanHigh);
        band.pixels += static_cast<uint64_t>(right - left + 1);
        const float fy = static_cast<float>(py);
        const SpanValue z{t.zPlane.base + t.zPlane.dy * fy, t.zPlane.dx};
        const SpanValue q{t.qPlane.base + t.qPlane.dy * fy, t.qPlane.dx};
        if (texturedSpans) {
            // Only the attributes the span loop reads.
            TexturedSpan span;
            span.y = py;
            span.left = left;
            span.right = right;
            span.z = z;
            span.q = q;
            auto along = [&](uint32_t i) {
                return SpanValue{t.planes[i].base + t.planes[i].dy * fy, t.planes[i].dx};
            };
            for (uint32_t c = 0; c < 4; ++c) {
                span.diffuse[c] = along(AttrDiffuse + c);
            }
            span.u = along(AttrTexture);
            span.v = along(AttrTexture + 1);
            if (pixels_.TexturedSpanFogs()) {
                span.fog = along(AttrFog);
            }
            pixels_.ShadeTexturedSpan(span);
            band.spanPixels += static_cast<uint64_t>(right - left + 1);
            continue;
        }
        for (uint32_t i = 0; i < attributes; ++i) {
            rows[i] = t.planes[i].base + t.planes[i].dy * fy;
        }
        for (int32_t px = left; px <= right; ++px) {
            const float fx = static_cast<float>(px);
            const float w = 1.0f / q.At(fx);
            for (uint32_t i = 0; i < attributes; ++i) {
                attr[i] = SpanValue{rows[i], t.planes[i].dx}.At(fx) * w;
            }
            if (anyFootprint) {
                // d(U/Q) = (dU - u dQ) / Q for the texture's u and v.
                for (uint32_t s = 0; s < stages; ++s) {
                    if (!footprint[s]) {
                        continue;
                    }
                    const uint32_t u = AttrTexture + 4 * s;
                    footprints[s].dudx = (t.planes[u].dx - attr[u] * t.qPlane.dx) * w;
                    footprints[s].dudy = (t.planes[u].dy - attr[u] * t.qPlane.dy) * w;
                    footprints[s].dvdx = (t.planes[u + 1].dx - attr[u + 1] * t.qPlane.dx) * w;
                    footprints[s].dvdy = (t.planes[u + 1].dy - attr[u + 1] * t.qPlane.dy) * w;
                }
            }
            pixels_.ShadePixel(px, py, std::clamp(z.At(fx), 0.0f, 1.0f), attr, footprints);
        }
    }
}

// Pixel programs shade 2 x 2 quads on even rows and columns, so that texld can take the
// differences of its coordinates; lanes outside the triangle (or this band) run as helpers and
// are not written. A quad that two bands share runs in both, each writing its own row.
void SoftwareRasterizer::WalkQuads(const TriangleSetup& t, Band& band) const {
    const uint32_t attributes = attributes_;
    std::array<EdgeBound, 3> edges = t.FirstRowEdges();
    thread_local QuadRows rows;
    for (uint32_t i = 0; i < attributes; ++i) {
        rows.dx[i] = t.planes[i].dx;
    }
    for (int32_t qy = t.y0 & ~1; qy <= t.y1; qy += 2) {
        rows.y = qy;
        for (int32_t row = 0; row < 2; ++row) {
            const int32_t py = qy + row;
            rows.left[row] = 1;
            rows.right[row] = 0; // empty
            if (py < t.y0 || py > t.y1) {
                continue;
            }
            int64_t low = 0;
            int64_t high = t.x1 - t.x0;
            for (EdgeBound& edge : edges) {
                edge.Clip(low, high);
                edge.NextRow();
            }
            if (low <= high) {
                rows.left[row] = static_cast<int32_t>(t.x0 + low);
                rows.right[row] = static_cast<int32_t>(t.x0 + high);
                band.pixels += static_cast<uint64_t>(high - low + 1);
            }
        }
        if (rows.left[0] > rows.right[0] && rows.left[1] > rows.right[1]) {
            continue;
        }
        for (int32_t row = 0; row < 2; ++row) {
            const auto fy = static_cast<float>(qy + row);
            for (uint32_t i = 0; i < attributes; ++i) {
                rows.rows[row][i] = t.planes[i].base + t.planes[i].dy * fy;
            }
            rows.z[row] = {t.zPlane.base + t.zPlane.dy * fy, t.zPlane.dx};
            rows.q[row] = {t.qPlane.base + t.qPlane.dy * fy, t.qPlane.dx};
        }
        pixels_.ShadeQuads(rows);
    }
}

void SoftwareRasterizer::ScreenLine(const RasterVertex& a, const RasterVertex& b,
                                    Band& band) const {
    for (const RasterVertex* p : {&a, &b}) {
        if (!(std::fabs(p->pos[0]) < GuardBand * 2.0f) ||
            !(std::fabs(p->pos[1]) < GuardBand * 2.0f)) {
            return;
        }
    }
    const float dx = b.pos[0] - a.pos[0];
    const float dy = b.pos[1] - a.pos[1];
    const bool xMajor = std::fabs(dx) >= std::fabs(dy);
    const float major0 = xMajor ? a.pos[0] : a.pos[1];
    const float major1 = xMajor ? b.pos[0] : b.pos[1];
    const float minor0 = xMajor ? a.pos[1] : a.pos[0];
    const float length = major1 - major0;
    if (length == 0.0f) {
        return;
    }
    const float slope = (xMajor ? dy : dx) / length;
    // A pixel is lit when the line leaves its diamond: the span along the major axis is
    // half-open at the end vertex unless the last pixel is asked for.
    int32_t from, to;
    if (length > 0.0f) {
        from = static_cast<int32_t>(std::ceil(major0 - 0.5f));
        to = static_cast<int32_t>(std::ceil(major1 - 0.5f)) - (lastPixel_ ? 0 : 1);
    } else {
        from = static_cast<int32_t>(std::floor(major1 + 0.5f)) + (lastPixel_ ? 0 : 1);
        to = static_cast<int32_t>(std::floor(major0 + 0.5f));
    }
    // Only the steps whose pixels fall in this band and the viewport, so a line crossing many
    // bands is walked about once in all. The minor coordinate of step m is monotonic in m (each
    // float step below is), so the steps whose minor coordinate is in range form one interval.
    auto minorAt = [&](int32_t m) {
        return static_cast<int32_t>(
            std::floor(minor0 + slope * (static_cast<float>(m) - major0) + 0.5f));
    };
    const int32_t majorLow = xMajor ? viewport_.left : band.top;
    const int32_t majorHigh = xMajor ? viewport_.right - 1 : band.bottom - 1;
    const int32_t minorLow = xMajor ? band.top : viewport_.left;
    const int32_t minorHigh = xMajor ? band.bottom - 1 : viewport_.right - 1;
    from = std::max(from, majorLow);
    to = std::min(to, majorHigh);
    const bool rising = slope >= 0.0f;
    auto firstWhere = [](int32_t low, int32_t high, auto holds) { // holds: false, then true
        while (low < high) {
            const int32_t middle = low + (high - low) / 2;
            if (holds(middle)) {
                high = middle;
            } else {
                low = middle + 1;
            }
        }
        return low;
    };
    if (from <= to) {
        from = firstWhere(from, to + 1, [&](int32_t m) {
            return rising ? minorAt(m) >= minorLow : minorAt(m) <= minorHigh;
        });
        const int32_t past = firstWhere(from, to + 1, [&](int32_t m) {
            return rising ? minorAt(m) > minorHigh : minorAt(m) < minorLow;
        });
        to = past - 1;
    }
    const float qa = a.pos[3] > 0.0f && b.pos[3] > 0.0f ? a.pos[3] : 1.0f;
    const float qb = a.pos[3] > 0.0f && b.pos[3] > 0.0f ? b.pos[3] : 1.0f;
    float attr[RasterMaxAttributes];
    const TexelFootprint footprints[GpuStageCount] = {};
    for (int32_t m = from; m <= to; ++m) {
        const float t = std::clamp((static_cast<float>(m) - major0) / length, 0.0f, 1.0f);
        const int32_t n = minorAt(m);
        const int32_t px = xMajor ? m : n;
        const int32_t py = xMajor ? n : m;
        if (px < viewport_.left || px >= viewport_.right || py < band.top || py >= band.bottom) {
            continue;
        }
        const float q = qa + (qb - qa) * t;
        const float w = 1.0f / q;
        for (uint32_t i = 0; i < attributes_; ++i) {
            attr[i] = (a.attr[i] * qa + (b.attr[i] * qb - a.attr[i] * qa) * t) * w;
        }
        const float z = a.pos[2] + (b.pos[2] - a.pos[2]) * t;
        pixels_.ShadePixel(px, py, std::clamp(z, 0.0f, 1.0f), attr, footprints);
        ++band.pixels;
    }
}

} // namespace quarn
