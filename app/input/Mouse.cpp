#include "app/input/Mouse.h"

#include "app/platform/WindowMessage.h"

namespace quarn {

namespace {

bool IsButton(int32_t button) {
    return button >= 0 && button < MouseButtonCount;
}

} // namespace

Mouse::Mouse(PointerSource& source) : source_(source) {
    instance_ = this;
}

Mouse::~Mouse() {
    if (instance_ == this) {
        instance_ = nullptr;
    }
}

void Mouse::Poll() {
    previous_ = position_;
    position_ = source_.GetCursorPosition();
}

void Mouse::EndFrame() {
    for (int32_t button = 0; button < MouseButtonCount; ++button) {
        // A button let go and pressed again within the frame is held: its owner keeps it, or
        // the release of that second press would reach no one.
        if ((flags_[button] & (MouseFlagReleased | MouseFlagDown)) == MouseFlagReleased) {
            owners_[button].clear();
        }
        flags_[button] &= MouseFlagDown | MouseFlagClick;
    }
    wheel_ = 0;
}

void Mouse::SetPosition(int32_t x, int32_t y) {
    previous_.x += position_.x - x;
    previous_.y += position_.y - y;
    position_ = {x, y};
    source_.SetCursorPosition(x, y);
}

void Mouse::SetOwner(int32_t button, const char* name) {
    if (IsButton(button)) {
        owners_[button] = name ? name : "";
    }
}

void Mouse::ClearOwner(int32_t button) {
    if (IsButton(button)) {
        owners_[button].clear();
    }
}

bool Mouse::HasOwner(int32_t button) const {
    return IsButton(button) && !owners_[button].empty();
}

const char* Mouse::GetOwner(int32_t button) const {
    return IsButton(button) ? owners_[button].c_str() : "";
}

bool Mouse::Answers(int32_t button, const char* name, uint32_t flag) const {
    return IsButton(button) && owners_[button] == (name ? name : "") && (flags_[button] & flag);
}

bool Mouse::WentDown(int32_t button, const char* name) const {
    return Answers(button, name, MouseFlagPressed);
}

bool Mouse::WentDownSingly(int32_t button, const char* name) const {
    return Answers(button, name, MouseFlagSinglePress);
}

bool Mouse::WentUp(int32_t button, const char* name) const {
    return Answers(button, name, MouseFlagReleased);
}

bool Mouse::IsDown(int32_t button, const char* name) const {
    return Answers(button, name, MouseFlagDown);
}

bool Mouse::WasClicked(int32_t button) const {
    uint32_t clicked = MouseFlagReleased | MouseFlagClick;
    return IsButton(button) && (flags_[button] & clicked) == clicked;
}

void Mouse::ConsumePress(int32_t button) {
    if (IsButton(button) && owners_[button].empty()) {
        flags_[button] &= ~(MouseFlagPressed | MouseFlagSinglePress);
    }
}

void Mouse::HandleMessage(uint32_t message, uintptr_t detail, intptr_t) {
    uint32_t now = static_cast<uint32_t>(static_cast<int64_t>(source_.GetTime() * 1000.0));
    bool takeCapture = false;
    bool releaseCapture = false;
    auto press = [&](int32_t button, uint32_t single) {
        flags_[button] |= MouseFlagDown | MouseFlagPressed | MouseFlagClick | single;
        pressPosition_[button] = position_;
        pressTime_[button] = now;
        takeCapture = true;
    };
    auto release = [&](int32_t button) {
        flags_[button] =
            (flags_[button] & (MouseFlagPressed | MouseFlagSinglePress | MouseFlagClick)) |
            MouseFlagReleased;
        float dx = static_cast<float>(position_.x - pressPosition_[button].x);
        float dy = static_cast<float>(position_.y - pressPosition_[button].y);
        if (dx * dx + dy * dy > ClickDistanceSquared ||
            now - pressTime_[button] > ClickMilliseconds) {
            flags_[button] &= ~MouseFlagClick;
        }
        releaseCapture = true;
    };
    switch (message) {
    case MessageLeftButtonDown:
        press(MouseLeft, MouseFlagSinglePress);
        break;
    case MessageMiddleButtonDown:
        press(MouseMiddle, MouseFlagSinglePress);
        break;
    case MessageRightButtonDown:
        press(MouseRight, MouseFlagSinglePress);
        break;
    case MessageLeftButtonUp:
        release(MouseLeft);
        // The double click ends with the left button, and keeps its press as the left button
        // does: a quick press and release in one frame still went down in it.
        if (flags_[MouseDoubleClick] & (MouseFlagDown | MouseFlagPressed)) {
            release(MouseDoubleClick);
        }
        break;
    case MessageMiddleButtonUp:
        release(MouseMiddle);
        break;
    case MessageRightButtonUp:
        release(MouseRight);
        break;
    // The second press of a double click is a press as the first was, or a game would miss
    // every other quick click; the double click's own button tells it besides.
    case MessageLeftButtonDoubleClick:
        press(MouseLeft, 0);
        press(MouseDoubleClick, 0);
        break;
    case MessageMiddleButtonDoubleClick:
        press(MouseMiddle, 0);
        break;
    case MessageRightButtonDoubleClick:
        press(MouseRight, 0);
        break;
    case MessageMouseWheel:
        wheel_ += HighWord(static_cast<intptr_t>(detail));
        break;
    default:
        break;
    }
    if (capture_ && releaseCapture) {
        source_.SetCapture(false);
    }
    if (capture_ && takeCapture) {
        source_.SetCapture(true);
    }
}

} // namespace quarn
