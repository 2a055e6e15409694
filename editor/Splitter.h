#pragma once

// The bar between two panels: dragged with the mouse or moved with the keys, it keeps its
// position between margins from its parent's edges and snaps onto them.

#include "core/math/Vector.h"
#include "editor/LayoutRect.h"

#include <cstdint>

struct ImDrawList;

namespace quarn {

// Styles of a new bar.
enum SplitterStyle : uint32_t {
    SplitterStyleVertical = 1, // moves left and right
    SplitterStyleLiveDrag = 2,
    SplitterStyleGripLine = 4,
    SplitterStyleSnap = 8,
};

enum SplitterFlag : uint32_t {
    SplitterDragging = 1,
    SplitterFocused = 2,
    SplitterDisabled = 4,
    SplitterVertical = 8,
    SplitterGripLine = 16,
    SplitterLiveDrag = 32,
    SplitterSnap = 64,
    SplitterKeyboardControl = 128,
};

// Which margin SetMargin sets: each kind names the axis it applies to.
enum SplitterMarginKind : int32_t {
    MarginBeforeHorizontal = 0,
    MarginAfterHorizontal = 1,
    MarginBeforeVertical = 2,
    MarginAfterVertical = 3,
    MarginBoth = 4,
};

enum class CursorShape : int32_t { Arrow, SizeWestEast, SizeNorthSouth };

enum class SplitterKey : int32_t { Home, End, PageUp, PageDown, Left, Right, Up, Down };

class Splitter;

// Fills a rectangle of a UI draw list with a colour (0xRRGGBB).
void PaintRect(ImDrawList& list, const LayoutRect& rect, uint32_t rgb, uint32_t alpha = 0xFF);

// What a bar needs of the window it lives in.
class SplitterHost {
public:
    virtual ~SplitterHost() = default;
    // The parent's client rectangle, which the margins are measured from.
    virtual LayoutRect ParentClientRect() = 0;
    // Asks the window for a layout once the message being handled is done.
    virtual void PostSizeNotify(PanelWindow window) = 0;
    // While captured, every mouse message goes to the bar wherever the cursor is.
    virtual void CaptureMouse(Splitter* splitter, bool capture) = 0;
    virtual void ShowCursor(CursorShape shape) = 0;
    // The bar is going: nothing may point at it any more.
    virtual void Forget(Splitter* splitter) = 0;
};

class Splitter {
public:
    // The bar's rectangle in the parent's client coordinates; its position is the rectangle's
    // centre along the axis. Keyboard control is on; a snap style snaps within 10 pixels.
    Splitter(SplitterHost& host, const LayoutRect& rect, uint32_t styles, bool disabled = false);
    ~Splitter();
    Splitter(const Splitter&) = delete;
    Splitter& operator=(const Splitter&) = delete;

    // The clamped position from before the drag, notified.
    int32_t RestoreSavedPosition();
    void EndDrag();
    void SetCursor(CursorShape cursor);
    // 0xRRGGBB.
    void SetColors(uint32_t frame, uint32_t fill);
    // A kind of the other axis is ignored.
    void SetMargin(int32_t value, int32_t kind);
    void SetLiveDrag(bool on) { SetFlag(SplitterLiveDrag, on); }
    void SetKeyboardControl(bool on) { SetFlag(SplitterKeyboardControl, on); }
    void SetGripLine(bool on) { SetFlag(SplitterGripLine, on); }
    // The snap distance becomes 0 when off.
    void SetSnap(int32_t distance, bool on);
    void SetVertical(bool on) { SetFlag(SplitterVertical, on); }
    // Clamps the current position and answers it.
    int32_t Clamp();
    // Sets, clamps and notifies.
    int32_t SetPosition(int32_t position);
    void SetNotifyWindow(PanelWindow window) { notifyWindow_ = window; }

    // The window side: placing the bar makes its centre the position.
    void Move(const LayoutRect& rect);
    void Show(bool shown) { shown_ = shown; }
    void Enable(bool enabled);
    void SetFocus(bool focused);

    // Mouse messages in the parent's client coordinates; a press starts a drag.
    void ButtonDown();
    void MouseMove(Int2 cursor);
    // False when no drag was on.
    bool ButtonUp(Int2 cursor);
    void KeyDown(SplitterKey key);

    void Paint(ImDrawList& list) const;
    // The drag bar of a drag without live moves, over everything.
    void PaintDragBar(ImDrawList& list) const;

    const LayoutRect& Rect() const { return rect_; }
    bool IsShown() const { return shown_; }
    uint32_t Flags() const { return flags_; }
    int32_t Position() const { return position_; }
    int32_t SavedPosition() const { return savedPosition_; }
    int32_t DragPosition() const { return dragPosition_; }
    int32_t MarginBefore() const { return marginBefore_; }
    int32_t MarginAfter() const { return marginAfter_; }
    int32_t SnapDistance() const { return snap_; }
    CursorShape Cursor() const { return cursor_; }
    PanelWindow NotifyWindow() const { return notifyWindow_; }

private:
    void SetFlag(uint32_t flag, bool on) { flags_ = on ? flags_ | flag : flags_ & ~flag; }
    bool Has(uint32_t flag) const { return (flags_ & flag) != 0; }
    int32_t ClampValue(int32_t position);
    int32_t AlongAxis(Int2 point) const { return Has(SplitterVertical) ? point.x : point.y; }

    SplitterHost& host_;
    PanelWindow notifyWindow_ = 0;
    int32_t position_ = 0;
    int32_t savedPosition_ = 0;
    CursorShape cursor_;
    uint32_t frameColor_ = ColorButtonShadow;
    uint32_t fillColor_ = ColorButtonFace;
    int32_t marginBefore_ = 0;
    int32_t marginAfter_ = 0;
    int32_t snap_ = 0;
    uint32_t flags_ = 0;
    // Where the drawn bar of a drag without live moves stands; the position waits for the
    // release.
    int32_t dragPosition_ = 0;
    LayoutRect rect_;
    bool shown_ = true;
};

} // namespace quarn
