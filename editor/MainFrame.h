#pragma once

// The main frame: the area of the main window below the toolbar, split by the panel tree into
// the view and the editor's panels. There are no windows of the system here: a window is an id
// with a rectangle, and the frame routes the main window's mouse and keys among the bars and
// the view itself.

#include "editor/EditorPanel.h"
#include "editor/Splitter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

struct ImDrawList;

namespace quarn {

// What the frame needs of the application's main window.
class MainFrameHost {
public:
    virtual ~MainFrameHost() = default;
    // The main window's client rectangle.
    virtual LayoutRect ClientRect() = 0;
    // A mouse button or wheel message in the view, for the mouse.
    virtual void MouseMessage(uint32_t message, uintptr_t detail, intptr_t packed) = 0;
    // The view's new rectangle, for the resize hook.
    virtual void ViewResized(int32_t x, int32_t y, int32_t width, int32_t height) = 0;
    virtual void CaptureMouse(bool capture) = 0;
    virtual void ShowCursor(CursorShape shape) = 0;
};

// A first look at the frame's messages; non-zero keeps them from the frame.
using FrameMessageHook =
    std::function<intptr_t(uint32_t message, uintptr_t detail, intptr_t packed)>;

// One pixel row or column of an edge and its colour (0xRRGGBB).
struct EdgeStroke {
    LayoutRect rect;
    uint32_t color;
};

// The two-pixel sunken edge just inside the rectangle: shadow above and to the left, light
// below and to the right, the outer ring first.
std::array<EdgeStroke, 8> SunkenEdgeStrokes(const LayoutRect& outer);

class MainFrame final : private SplitterHost {
public:
    // The frame of the run; a sunken frame draws an edge around the view.
    MainFrame(MainFrameHost& host, bool sunken);
    ~MainFrame() override;
    MainFrame(const MainFrame&) = delete;
    MainFrame& operator=(const MainFrame&) = delete;

    // The frame of the run, or null.
    static MainFrame* Get();

    // Lays the panels out in the client area below the top offset; with the flag set, the
    // panels take their positions from their bars. A layout asked for meanwhile is ignored.
    void Layout(int32_t readSplitters);
    // Off: the view fills the frame without an edge and every panel is hidden.
    void SetEditorView(bool on);
    // Whether the root's first child is shown; true without one.
    bool QueryActivePanel();

    EditorPanel& Root() { return *root_; }
    // The view's window, which bars notify.
    PanelWindow Window() const { return window_; }
    // A fresh window id for a panel's content.
    PanelWindow NewWindow() { return ++lastWindow_; }
    void SetTopOffset(int32_t pixels) { topOffset_ = pixels; }
    int32_t TopOffset() const { return topOffset_; }
    int32_t Spacing() const { return spacing_; }
    // How far a bar reaches on each side of its position.
    int32_t Gap() const { return gap_; }
    void SetMessageHook(FrameMessageHook hook) { hook_ = std::move(hook); }
    // A bar in the main window, notifying nothing until told which window to notify.
    std::unique_ptr<Splitter> CreateSplitter(const LayoutRect& rect, uint32_t styles);

    // The window's size changed: the panels take their bars' positions and the resize hook
    // hears of the view.
    void HandleSize();
    // A mouse message of the main window in its client coordinates: a bar under the cursor (or
    // dragging) takes it, else the view's buttons and wheel go to the mouse.
    void HandleMouse(uint32_t message, uintptr_t detail, intptr_t packed);
    // A key for the focused bar; false when no bar took it.
    bool HandleKey(SplitterKey key);
    // Runs the layouts that bars asked for while a message was handled.
    void DeliverPosted();

    // Bars and the view's edge under the content, the drag bar over it.
    void Paint(ImDrawList& under, ImDrawList& over);

    // The bar that holds the mouse or the keyboard, or null.
    Splitter* Captured() const { return capture_; }
    Splitter* Focused() const { return focused_; }

private:
    LayoutRect ParentClientRect() override { return host_.ClientRect(); }
    void PostSizeNotify(PanelWindow window) override;
    void CaptureMouse(Splitter* splitter, bool capture) override;
    void ShowCursor(CursorShape shape) override;
    void Forget(Splitter* splitter) override;

    LayoutRect ViewRect();
    // True when the layout ran and the view's change reached the host.
    bool LayOutPanels(int32_t readSplitters);
    // True when the host heard of the view.
    bool ReportView(bool always);
    Splitter* BarAt(EditorPanel& panel, Int2 point);
    void Focus(Splitter* splitter);
    void PaintBars(EditorPanel& panel, ImDrawList& under, ImDrawList& over);
    void ViewMessage(uint32_t message, uintptr_t detail, intptr_t packed);

    MainFrameHost& host_;
    int32_t topOffset_ = 0;
    bool busy_ = false;
    int32_t spacing_ = 4;
    int32_t gap_ = 2;
    std::unique_ptr<EditorPanel> root_;
    FrameMessageHook hook_;

    PanelWindow window_ = 0;
    PanelWindow lastWindow_ = 0;
    std::vector<PanelWindow> posted_;
    Splitter* capture_ = nullptr;
    Splitter* focused_ = nullptr;
    CursorShape cursor_ = CursorShape::Arrow;
    // Buttons pressed in the view: their releases reach the mouse wherever they happen.
    uint32_t viewButtons_ = 0;
    LayoutRect reportedView_;
    bool reported_ = false;
};

} // namespace quarn
