#include "render/lightmap/AtlasPacker.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace quarn {

namespace {

// Minimum width over ranges of the sorted parts, placed ones counting as infinitely wide, so
// that the first part fitting a shelf is found in logarithmic time instead of by a rescan.
class FirstFitTree {
public:
    explicit FirstFitTree(const std::vector<int32_t>& widths) {
        size_ = 1;
        while (size_ < widths.size()) {
            size_ *= 2;
        }
        min_.assign(size_ * 2, Placed);
        for (size_t i = 0; i < widths.size(); ++i) {
            min_[size_ + i] = widths[i];
        }
        for (size_t i = size_ - 1; i >= 1; --i) {
            min_[i] = std::min(min_[i * 2], min_[i * 2 + 1]);
        }
    }
    // The first index whose width is at most `limit`, or -1.
    int64_t FirstAtMost(int64_t limit) const {
        if (min_[1] > limit) {
            return -1;
        }
        size_t node = 1;
        while (node < size_) {
            node = min_[node * 2] <= limit ? node * 2 : node * 2 + 1;
        }
        return static_cast<int64_t>(node - size_);
    }
    void Remove(size_t index) {
        size_t node = size_ + index;
        min_[node] = Placed;
        for (node /= 2; node >= 1; node /= 2) {
            min_[node] = std::min(min_[node * 2], min_[node * 2 + 1]);
        }
    }

private:
    static constexpr int64_t Placed = std::numeric_limits<int64_t>::max();
    size_t size_ = 1;
    std::vector<int64_t> min_;
};

} // namespace

void SortAtlasParts(TextureAtlasPart* parts, int count) {
    std::stable_sort(parts, parts + count, [](const TextureAtlasPart& a, const TextureAtlasPart& b) {
        return a.height != b.height ? a.height > b.height : a.width > b.width;
    });
}

void FlagAtlasPartPlaced(TextureAtlasPart* parts, int count, int index) {
    int end = index + 1;
    while (end < count && !parts[end].placed) {
        ++end;
    }
    std::rotate(parts + index, parts + index + 1, parts + end);
    parts[end - 1].placed = true;
}

AtlasSize PackAtlasParts(TextureAtlasPart* parts, int count, int32_t atlasWidth) {
    if (count <= 0) {
        return {};
    }
    for (int i = 0; i < count; ++i) {
        if (parts[i].width > atlasWidth || parts[i].height > MaxAtlasPartHeight) {
            return {};
        }
        parts[i].placed = false;
    }
    SortAtlasParts(parts, count);
    std::vector<int32_t> widths(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        widths[static_cast<size_t>(i)] = parts[i].width;
    }
    FirstFitTree tree(widths);
    // Placements in placing order, by sorted index; written back once all are known.
    std::vector<int> order;
    order.reserve(static_cast<size_t>(count));
    std::vector<int64_t> xs(static_cast<size_t>(count));
    std::vector<int64_t> ys(static_cast<size_t>(count));
    AtlasSize used;
    int64_t shelfTop = 0;
    while (order.size() < static_cast<size_t>(count)) {
        int64_t x = 0;
        for (int64_t found = tree.FirstAtMost(atlasWidth); found >= 0;
             found = tree.FirstAtMost(atlasWidth - x)) {
            const auto index = static_cast<size_t>(found);
            xs[index] = x;
            ys[index] = shelfTop;
            x += widths[index];
            used.width = std::max(used.width, x);
            used.height = std::max(used.height, shelfTop + parts[found].height);
            tree.Remove(index);
            order.push_back(static_cast<int>(found));
        }
        shelfTop = used.height;
    }
    if (used.height > std::numeric_limits<int32_t>::max()) {
        return {};
    }
    std::vector<TextureAtlasPart> sorted(parts, parts + count);
    for (size_t k = 0; k < order.size(); ++k) {
        const auto index = static_cast<size_t>(order[k]);
        TextureAtlasPart& out = parts[static_cast<size_t>(count) - 1 - k];
        out = sorted[index];
        out.atlasX = static_cast<int32_t>(xs[index]);
        out.atlasY = static_cast<int32_t>(ys[index]);
        out.placed = true;
    }
    return used;
}

} // namespace quarn
