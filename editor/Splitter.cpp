#include "editor/Splitter.h"

#include <imgui.h>

namespace quarn {

namespace {

constexpr int32_t SnapStyleDistance = 10;

} // namespace

void PaintRect(ImDrawList& list, const LayoutRect& rect, uint32_t rgb, uint32_t alpha) {
    list.AddRectFilled(ImVec2(static_cast<float>(rect.left), static_cast<float>(rect.top)),
                       ImVec2(static_cast<float>(rect.right), static_cast<float>(rect.bottom)),
                       IM_COL32((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, alpha));
}

Splitter::Splitter(SplitterHost& host, const LayoutRect& rect, uint32_t styles, bool disabled)
    : host_(host), rect_(rect) {
    flags_ = SplitterKeyboardControl;
    SetFlag(SplitterVertical, (styles & SplitterStyleVertical) != 0);
    SetFlag(SplitterLiveDrag, (styles & SplitterStyleLiveDrag) != 0);
    SetFlag(SplitterGripLine, (styles & SplitterStyleGripLine) != 0);
    SetFlag(SplitterSnap, (styles & SplitterStyleSnap) != 0);
    SetFlag(SplitterDisabled, disabled);
    snap_ = Has(SplitterSnap) ? SnapStyleDistance : 0;
    cursor_ = Has(SplitterVertical) ? CursorShape::SizeWestEast : CursorShape::SizeNorthSouth;
    position_ = Has(SplitterVertical) ? rect.left + rect.Width() / 2 : rect.top + rect.Height() / 2;
    savedPosition_ = dragPosition_ = position_;
}

Splitter::~Splitter() {
    host_.Forget(this);
}

int32_t Splitter::ClampValue(int32_t position) {
    const LayoutRect parent = host_.ParentClientRect();
    const bool vertical = Has(SplitterVertical);
    const int32_t low = (vertical ? parent.left : parent.top) + marginBefore_;
    const int32_t high = (vertical ? parent.right : parent.bottom) - marginAfter_;
    const int32_t snap = Has(SplitterSnap) ? snap_ : 0;
    if (position < low + snap) {
        position = low;
    }
    if (position > high - snap) {
        position = high;
    }
    return position;
}

int32_t Splitter::Clamp() {
    position_ = ClampValue(position_);
    return position_;
}

int32_t Splitter::SetPosition(int32_t position) {
    position_ = ClampValue(position);
    host_.PostSizeNotify(notifyWindow_);
    return position_;
}

int32_t Splitter::RestoreSavedPosition() {
    return SetPosition(savedPosition_);
}

void Splitter::EndDrag() {
    if (Has(SplitterDragging)) {
        host_.CaptureMouse(this, false);
    }
    SetFlag(SplitterDragging, false);
}

void Splitter::SetCursor(CursorShape cursor) {
    cursor_ = cursor;
    if (Has(SplitterDragging)) {
        host_.ShowCursor(cursor_);
    }
}

void Splitter::SetColors(uint32_t frame, uint32_t fill) {
    frameColor_ = frame;
    fillColor_ = fill;
}

void Splitter::SetMargin(int32_t value, int32_t kind) {
    const bool vertical = Has(SplitterVertical);
    switch (kind) {
    case MarginBeforeHorizontal:
    case MarginAfterHorizontal:
        if (vertical) {
            return;
        }
        (kind == MarginBeforeHorizontal ? marginBefore_ : marginAfter_) = value;
        break;
    case MarginBeforeVertical:
    case MarginAfterVertical:
        if (!vertical) {
            return;
        }
        (kind == MarginBeforeVertical ? marginBefore_ : marginAfter_) = value;
        break;
    case MarginBoth:
        marginBefore_ = marginAfter_ = value;
        break;
    default:
        break;
    }
}

void Splitter::SetSnap(int32_t distance, bool on) {
    SetFlag(SplitterSnap, on);
    snap_ = on ? distance : 0;
}

void Splitter::Move(const LayoutRect& rect) {
    rect_ = rect;
    position_ = Has(SplitterVertical) ? rect.left + rect.Width() / 2 : rect.top + rect.Height() / 2;
}

void Splitter::Enable(bool enabled) {
    SetFlag(SplitterDisabled, !enabled);
    if (!enabled) {
        EndDrag();
    }
}

void Splitter::SetFocus(bool focused) {
    SetFlag(SplitterFocused, focused);
}

void Splitter::ButtonDown() {
    if (Has(SplitterDisabled)) {
        return;
    }
    savedPosition_ = dragPosition_ = position_;
    host_.CaptureMouse(this, true);
    SetFlag(SplitterDragging, true);
}

void Splitter::MouseMove(Int2 cursor) {
    if (Has(SplitterDisabled)) {
        return;
    }
    if (!Has(SplitterDragging)) {
        host_.ShowCursor(cursor_);
    } else if (Has(SplitterLiveDrag)) {
        SetPosition(AlongAxis(cursor));
    } else {
        dragPosition_ = ClampValue(AlongAxis(cursor));
    }
}

bool Splitter::ButtonUp(Int2 cursor) {
    if (!Has(SplitterDragging)) {
        return false;
    }
    SetPosition(AlongAxis(cursor));
    EndDrag();
    return true;
}

void Splitter::KeyDown(SplitterKey key) {
    if (!Has(SplitterFocused) || !Has(SplitterKeyboardControl) || Has(SplitterDisabled)) {
        return;
    }
    const bool vertical = Has(SplitterVertical);
    const LayoutRect parent = host_.ParentClientRect();
    const int32_t step = Has(SplitterSnap) ? snap_ + 1 : 1;
    const int32_t low = (vertical ? parent.left : parent.top) + marginBefore_;
    const int32_t high = (vertical ? parent.right : parent.bottom) - marginAfter_;
    // Leaving a limit takes a whole snap distance at once, or the snap would pull the bar back.
    const SplitterKey toStart = vertical ? SplitterKey::Home : SplitterKey::PageUp;
    const SplitterKey toEnd = vertical ? SplitterKey::End : SplitterKey::PageDown;
    const SplitterKey back = vertical ? SplitterKey::Left : SplitterKey::Up;
    const SplitterKey forward = vertical ? SplitterKey::Right : SplitterKey::Down;
    if (key == toStart) {
        SetPosition(0);
    } else if (key == toEnd) {
        SetPosition(vertical ? parent.right : parent.bottom);
    } else if (key == back) {
        SetPosition(position_ - (position_ == high ? step : 1));
    } else if (key == forward) {
        SetPosition(position_ + (position_ == low ? step : 1));
    }
}

void Splitter::Paint(ImDrawList& list) const {
    if (!shown_) {
        return;
    }
    PaintRect(list, rect_, fillColor_);
    if (Has(SplitterFocused)) {
        // A dotted frame, one pixel in every two.
        const uint32_t dot = frameColor_;
        for (int32_t x = rect_.left; x < rect_.right; x += 2) {
            PaintRect(list, {x, rect_.top, x + 1, rect_.top + 1}, dot);
            PaintRect(list, {x, rect_.bottom - 1, x + 1, rect_.bottom}, dot);
        }
        for (int32_t y = rect_.top; y < rect_.bottom; y += 2) {
            PaintRect(list, {rect_.left, y, rect_.left + 1, y + 1}, dot);
            PaintRect(list, {rect_.right - 1, y, rect_.right, y + 1}, dot);
        }
    }
    if (Has(SplitterGripLine) && !Has(SplitterDisabled)) {
        if (Has(SplitterVertical)) {
            const int32_t x = rect_.left + rect_.Width() / 2;
            PaintRect(list, {x, rect_.top + 5, x + 1, rect_.bottom - 10}, frameColor_);
        } else {
            const int32_t y = rect_.top + rect_.Height() / 2;
            PaintRect(list, {rect_.left + 5, y, rect_.right - 10, y + 1}, frameColor_);
        }
    }
}

void Splitter::PaintDragBar(ImDrawList& list) const {
    if (!Has(SplitterDragging) || Has(SplitterLiveDrag)) {
        return;
    }
    LayoutRect bar = rect_;
    const int32_t shift = dragPosition_ - savedPosition_;
    if (Has(SplitterVertical)) {
        bar.left += shift;
        bar.right += shift;
    } else {
        bar.top += shift;
        bar.bottom += shift;
    }
    // Hatched across the bar, dark over light and light over dark alike.
    PaintRect(list, bar, 0x808080, 96);
    for (int32_t along = 0; along < (Has(SplitterVertical) ? bar.Height() : bar.Width());
         along += 2) {
        const LayoutRect stripe =
            Has(SplitterVertical)
                ? LayoutRect{bar.left, bar.top + along, bar.right, bar.top + along + 1}
                : LayoutRect{bar.left + along, bar.top, bar.left + along + 1, bar.bottom};
        PaintRect(list, stripe, 0x000000, 160);
    }
}

} // namespace quarn
