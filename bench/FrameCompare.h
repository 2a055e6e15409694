#pragma once

// Frames of two renderers agree when their channels differ only by rounding: at most Tolerance
// each, with a small share of channels (stacked blended layers round on both sides) one more.

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace quarn::bench {

constexpr uint32_t Tolerance = 2;
// The share of channels past the tolerance that still counts as rounding.
constexpr double RoundingShare = 0.001;

// Largest difference of one channel between two frames, the first pixel that has it, and how
// many channels differ by more than the tolerance.
struct Difference {
    uint32_t largest = 0;
    size_t pixel = 0;
    size_t beyond = 0;

    double BeyondShare(size_t pixels) const {
        return static_cast<double>(beyond) / (static_cast<double>(pixels) * 4.0);
    }
    bool IsRounding(size_t pixels) const {
        return largest <= Tolerance + 1 && BeyondShare(pixels) <= RoundingShare;
    }
};

inline Difference Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    Difference d;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        for (uint32_t shift = 0; shift < 32; shift += 8) {
            const auto ca = static_cast<int32_t>((a[i] >> shift) & 0xFF);
            const auto cb = static_cast<int32_t>((b[i] >> shift) & 0xFF);
            const auto difference = static_cast<uint32_t>(std::abs(ca - cb));
            d.beyond += difference > Tolerance ? 1 : 0;
            if (difference > d.largest) {
                d.largest = difference;
                d.pixel = i;
            }
        }
    }
    return d;
}

} // namespace quarn::bench
