#pragma once

#include "editor/MainFrame.h"

#include <ostream>
#include <vector>

namespace quarn {

inline void PrintTo(const LayoutRect& r, std::ostream* out) {
    *out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}

} // namespace quarn

namespace quarn::test {

// An 800 x 600 main window that records what the frame hands back to it.
class FakeFrameHost : public MainFrameHost {
public:
    struct Message {
        uint32_t message;
        uintptr_t detail;
        intptr_t packed;
    };

    LayoutRect ClientRect() override {
        ++clientRectCalls;
        if (onClientRect) {
            onClientRect();
        }
        return client;
    }
    void MouseMessage(uint32_t message, uintptr_t detail, intptr_t packed) override {
        mouse.push_back({message, detail, packed});
    }
    void ViewResized(int32_t x, int32_t y, int32_t width, int32_t height) override {
        resized.push_back({x, y, x + width, y + height});
    }
    void CaptureMouse(bool capture) override { captured = capture; }
    void ShowCursor(CursorShape shape) override { cursor = shape; }

    LayoutRect client{0, 0, 800, 600};
    int32_t clientRectCalls = 0;
    std::function<void()> onClientRect;
    std::vector<Message> mouse;
    std::vector<LayoutRect> resized;
    bool captured = false;
    CursorShape cursor = CursorShape::Arrow;
};

} // namespace quarn::test
