#pragma once

#include "core/math/Vector.h"

#include <cstdint>
#include <string>

namespace quarn {

// What the mouse needs of the platform.
class PointerSource {
public:
    virtual ~PointerSource() = default;
    // The cursor in the view window's client coordinates.
    virtual Int2 GetCursorPosition() = 0;
    virtual void SetCursorPosition(int32_t x, int32_t y) = 0;
    // Seconds since the process started.
    virtual double GetTime() = 0;
    // Keeps the mouse messages coming while a button is held outside the window.
    virtual void SetCapture(bool capture) = 0;
};

enum MouseButton : int32_t {
    MouseLeft = 0,
    MouseMiddle = 1,
    MouseRight = 2,
    MouseDoubleClick = 3, // the left button's second press of a double click, a press of 0 too
    MouseButtonCount = 4,
};

enum MouseButtonFlag : uint32_t {
    MouseFlagDown = 1,
    MouseFlagPressed = 2,  // in this frame
    MouseFlagReleased = 4, // in this frame
    MouseFlagClick = 8,    // still short and still enough to count as a click
    // In this frame, by a press that is no double click's second: a quick double click may
    // bring both presses in one frame.
    MouseFlagSinglePress = 16,
};

class Mouse {
public:
    // A press stays a click within this distance and time of its release.
    static constexpr float ClickDistanceSquared = 16.0f;
    static constexpr uint32_t ClickMilliseconds = 200;
    // A left press within this time and distance of the one before it is a double click's second
    // press, as the window system is told to count them.
    static constexpr uint32_t DoubleClickMilliseconds = 500;
    static constexpr int32_t DoubleClickRadius = 32;

    explicit Mouse(PointerSource& source);
    virtual ~Mouse();
    Mouse(const Mouse&) = delete;
    Mouse& operator=(const Mouse&) = delete;

    // The mouse of the run, or null.
    static Mouse* Get() { return instance_; }

    bool IsAvailable() const { return instance_ != nullptr; }
    void Poll();
    // Clears what lasts one frame: released owners, pressed and released bits, the wheel.
    void EndFrame();
    Int2 GetPosition() const { return position_; }
    void SetPosition(int32_t x, int32_t y);
    Int2 GetDelta() const { return {position_.x - previous_.x, position_.y - previous_.y}; }
    // The wheel's movement in this frame, 120 per notch.
    int32_t GetWheel() const { return wheel_; }
    // An owned button answers only queries that name its owner; an unowned one those with "".
    void SetOwner(int32_t button, const char* name);
    void ClearOwner(int32_t button);
    bool HasOwner(int32_t button) const;
    const char* GetOwner(int32_t button) const;
    void Unused(int32_t, int32_t) {}
    bool WentDown(int32_t button, const char* name) const;
    // Went down by a press that is no double click's second.
    bool WentDownSingly(int32_t button, const char* name) const;
    bool WentUp(int32_t button, const char* name) const;
    bool IsDown(int32_t button, const char* name) const;
    bool WasClicked(int32_t button) const;
    // Hides this frame's press of an unowned button from later queries.
    void ConsumePress(int32_t button);
    void HandleMessage(uint32_t message, uintptr_t detail, intptr_t packed);

    // Whether the mouse takes and releases the capture around a press.
    void SetCaptureEnabled(bool enabled) { capture_ = enabled; }

private:
    bool Answers(int32_t button, const char* name, uint32_t flag) const;

    static inline Mouse* instance_ = nullptr;

    uint32_t flags_[MouseButtonCount] = {};
    Int2 pressPosition_[MouseButtonCount];
    uint32_t pressTime_[MouseButtonCount] = {};
    Int2 position_;
    Int2 previous_;
    int32_t wheel_ = 0;
    std::string owners_[MouseButtonCount];
    bool capture_ = true;
    PointerSource& source_;
};

} // namespace quarn
