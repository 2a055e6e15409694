#include "collision/CollisionSpaceHash.h"

#include "collision/CollisionVolume.h"
#include "core/debug/Assertion.h"
#include "core/math/Geometry.h"
#include "core/object/ClassInfo.h"

#include <cfloat>
#include <climits>
#include <cmath>

namespace quarn {

ClassInfo* CollisionSpaceHash::classInfo = nullptr;

namespace {

constexpr uint32_t TablePrimes[] = {
    1,         2,         3,         7,         13,        31,        61,        127,
    251,       509,       1021,      2039,      4093,      8191,      16381,     32749,
    65521,     131071,    262139,    524287,    1048573,   2097143,   4194301,   8388593,
    16777213,  33554393,  67108859,  134217689, 268435399, 536870909, 1073741789};

constexpr uint32_t NoEntry = 0xFFFFFFFF;

// Cell bounds beyond this go on the big list: the keys and the walk stay well inside int.
constexpr float CellLimit = 1073741824.0f;

// The cell of one coordinate, as the grid has always rounded: down for positive quotients,
// one further down for negative ones. False when it would not fit.
bool CellOf(float coordinate, float cellSize, int32_t& cell) {
    const float q = coordinate / cellSize;
    if (!(q > -CellLimit && q < CellLimit)) {
        return false; // NaN, infinite or too far out
    }
    cell = static_cast<int32_t>(q >= 0.0f ? std::trunc(q) : std::trunc(q - 1.0f));
    return true;
}

// Mixed so that neighbouring cells spread over the table; the order in which a cell's
// volumes are met does not depend on it, only how many strangers share their bucket.
uint32_t CellKey(int level, int32_t x, int32_t y, int32_t z) {
    uint32_t key = static_cast<uint32_t>(level) * 0x9E3779B1u;
    key = (key ^ static_cast<uint32_t>(x)) * 0x85EBCA77u;
    key = (key ^ static_cast<uint32_t>(y)) * 0xC2B2AE3Du;
    key = (key ^ static_cast<uint32_t>(z)) * 0x27D4EB2Fu;
    return key ^ (key >> 15);
}

} // namespace

int CollisionSpaceHash::BoxLevel(const Aabb& box) {
    if (box.min.x <= -FLT_MAX || box.min.y <= -FLT_MAX || box.min.z <= -FLT_MAX ||
        box.max.x >= FLT_MAX || box.max.y >= FLT_MAX || box.max.z >= FLT_MAX) {
        return INT_MAX;
    }
    const float extent = std::fmax(std::fmax(box.max.x - box.min.x, box.max.y - box.min.y),
                                   box.max.z - box.min.z);
    if (!std::isfinite(extent)) {
        return INT_MAX;
    }
    int exponent = 0;
    std::frexp(extent, &exponent);
    return exponent;
}

void CollisionSpaceHash::Collide(void* userData, CollisionPairCallback callback) {
    if (GetVolumeCount() < 2) {
        return;
    }
    if (!callback) {
        ReportAssertion(1, "CollisionSpaceHash '%s': Collide without a callback", GetName().c_str());
        return;
    }
    hashed_.clear();
    big_.clear();
    int highest = minLevel_ - 1;
    for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
        if (!v->IsFullyEnabled()) {
            continue;
        }
        const Aabb box = v->GetWorldBoundingBox();
        const int level = std::max(BoxLevel(box), minLevel_);
        Hashed entry{v, level, {}};
        bool fits = level <= maxLevel_;
        if (fits) {
            const float size = std::ldexp(1.0f, level);
            const float bounds[6] = {box.min.x, box.min.y, box.min.z,
                                     box.max.x, box.max.y, box.max.z};
            for (int b = 0; b < 6 && fits; ++b) {
                fits = CellOf(bounds[b], size, entry.cells[b]);
            }
        }
        if (!fits) {
            big_.push_back(v);
            continue;
        }
        hashed_.push_back(entry);
        highest = std::max(highest, level);
    }

    const uint32_t n = static_cast<uint32_t>(hashed_.size());
    uint32_t tableSize = TablePrimes[std::size(TablePrimes) - 1];
    for (uint32_t prime : TablePrimes) {
        if (prime >= 8ull * n) {
            tableSize = prime;
            break;
        }
    }
    buckets_.assign(n ? tableSize : 0, NoEntry);
    entries_.clear();
    tested_.assign(NextPowerOfTwo(std::max(16u, 4 * n)), 0);
    testedCount_ = 0;
    auto forEachCell = [](const int32_t cells[6], auto&& visit) {
        for (int32_t x = cells[0]; x <= cells[3]; ++x) {
            for (int32_t y = cells[1]; y <= cells[4]; ++y) {
                for (int32_t z = cells[2]; z <= cells[5]; ++z) {
                    visit(x, y, z);
                }
            }
        }
    };
    for (uint32_t i = 0; i < n; ++i) {
        const Hashed& h = hashed_[i];
        forEachCell(h.cells, [&](int32_t x, int32_t y, int32_t z) {
            uint32_t& head = buckets_[CellKey(h.level, x, y, z) % tableSize];
            entries_.push_back({x, y, z, i, head});
            head = static_cast<uint32_t>(entries_.size() - 1);
        });
    }

    for (uint32_t a = 0; a < n; ++a) {
        // Each volume searches its own level and those above, so a large static volume is found
        // by the smaller ones and itself finds the larger ones, which never search downward.
        const Hashed& A = hashed_[a];
        int32_t cells[6];
        std::copy(A.cells, A.cells + 6, cells);
        for (int level = A.level; level <= highest; ++level) {
            forEachCell(cells, [&](int32_t x, int32_t y, int32_t z) {
                for (uint32_t e = buckets_[CellKey(level, x, y, z) % tableSize]; e != NoEntry;
                     e = entries_[e].next) {
                    const CellEntry& entry = entries_[e];
                    const Hashed& B = hashed_[entry.volume];
                    if (entry.volume == a || B.level != level || entry.x != x || entry.y != y ||
                        entry.z != z) {
                        continue;
                    }
                    if (MarkTested(a, entry.volume)) {
                        FilterBoxPair(*A.volume, *B.volume, userData, callback);
                    }
                }
            });
            for (int32_t& cell : cells) {
                cell >>= 1;
            }
        }
    }
    for (const Hashed& h : hashed_) {
        for (CollisionVolume* big : big_) {
            FilterBoxPair(*h.volume, *big, userData, callback);
        }
    }
    for (size_t i = 0; i < big_.size(); ++i) {
        for (size_t j = i + 1; j < big_.size(); ++j) {
            FilterBoxPair(*big_[i], *big_[j], userData, callback);
        }
    }
}

bool CollisionSpaceHash::MarkTested(uint32_t a, uint32_t b) {
    // Never 0: the higher index is at least 1.
    const uint64_t key = (uint64_t{std::min(a, b)} << 32) | std::max(a, b);
    if ((testedCount_ + 1) * 2 > tested_.size()) {
        GrowTested();
    }
    const size_t mask = tested_.size() - 1;
    uint64_t h = key * 0x9E3779B97F4A7C15ull;
    for (size_t slot = static_cast<size_t>(h ^ (h >> 32)) & mask;; slot = (slot + 1) & mask) {
        if (tested_[slot] == key) {
            return false;
        }
        if (tested_[slot] == 0) {
            tested_[slot] = key;
            ++testedCount_;
            return true;
        }
    }
}

void CollisionSpaceHash::GrowTested() {
    std::vector<uint64_t> old(tested_.size() * 2, 0);
    old.swap(tested_);
    testedCount_ = 0;
    for (uint64_t key : old) {
        if (key) {
            MarkTested(static_cast<uint32_t>(key >> 32), static_cast<uint32_t>(key));
        }
    }
}

void CollisionSpaceHash::CollideVolume(void* userData, CollisionVolume& volume,
                                       CollisionPairCallback callback) {
    if (!callback) {
        ReportAssertion(1, "CollisionSpaceHash '%s': CollideVolume without a callback", GetName().c_str());
        return;
    }
    for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
        if (v != &volume && v->IsFullyEnabled()) {
            FilterBoxPair(*v, volume, userData, callback);
        }
    }
}

int32_t CollisionSpaceHash::Render() {
    if (TestRenderFlags(RenderGizmo)) {
        for (CollisionVolume* v = GetFirstVolume(); v; v = v->GetNextInSpace()) {
            if (v->IsFullyEnabled()) {
                DrawVolumeBox(*v, v->GetColorArgb(Float3(), 0));
            }
        }
    }
    return 0;
}

ClassInfo* CollisionSpaceHash::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "CollisionSpaceHash", []() -> Entity* { return new CollisionSpaceHash(); }, &classInfo);
    classInfo->SetParent(CollisionSpace::RegisterClass());
    classInfo->SetCategory("Collision");
    return classInfo;
}

} // namespace quarn
