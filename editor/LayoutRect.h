#pragma once

#include <cstdint>

namespace quarn {

// A window's rectangle in the main window's client coordinates; right and bottom lie outside.
struct LayoutRect {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool Contains(int32_t x, int32_t y) const {
        return x >= left && x < right && y >= top && y < bottom;
    }
    bool operator==(const LayoutRect&) const = default;
};

// A panel's content or the view: an id the main frame hands out; 0 is none.
using PanelWindow = uint32_t;

// The desktop's classic colours (0xRRGGBB) that bars and edges are painted in.
enum SystemColor : uint32_t {
    ColorButtonFace = 0xF0F0F0,
    ColorButtonShadow = 0xA0A0A0,
    ColorButtonHighlight = 0xFFFFFF,
    ColorDarkShadow3D = 0x696969,
    ColorLight3D = 0xE3E3E3,
};

} // namespace quarn
