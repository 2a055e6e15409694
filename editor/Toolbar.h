#pragma once

// The editor's toolbar: one row of picture buttons below the menu bar, made from button records
// and drawn with the UI library.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarn {

class UiLayer;

// Bits of a button record's state and style.
enum : uint8_t {
    ToolbarStateChecked = 0x01,
    ToolbarStateEnabled = 0x04,
};
enum : uint8_t {
    ToolbarStyleButton = 0x00,
    ToolbarStyleSeparator = 0x01,
    ToolbarStyleCheck = 0x02, // stays down while checked
};

// A button's command id is this plus its index among the registered buttons.
inline constexpr int32_t ToolbarCommandBase = 41000;

struct ToolbarButton {
    // The picture's cell in the strip; unused by a separator.
    int32_t image = 0;
    int32_t id = 0;
    uint8_t state = ToolbarStateEnabled;
    uint8_t style = ToolbarStyleButton;
};

// The strip's pictures: square cells of this many pixels, this many to a row.
inline constexpr int32_t ToolbarImageSize = 16;
inline constexpr int32_t ToolbarImagesPerRow = 16;
// The row's height in pixels: a picture with the button's frame around it.
inline constexpr int32_t ToolbarRowHeight = 24;

class Toolbar {
public:
    Toolbar(const ToolbarButton* buttons, int32_t count);

    // False when no button has the id.
    bool EnableButton(int32_t id, bool enabled);
    bool CheckButton(int32_t id, bool checked);
    bool IsButtonEnabled(int32_t id) const;
    bool IsButtonChecked(int32_t id) const;
    // Only while the mouse holds the button down.
    bool IsButtonPressed(int32_t id) const;
    const std::vector<ToolbarButton>& Buttons() const { return buttons_; }

    // Draws the row across the layer at `top`. `strip` is the picture strip's texture of the
    // size given (null: the buttons show their frames only). A click on an enabled button calls
    // `click` with its id; a hovered button shows `tooltip` of its id. Buttons are named
    // "tool:INDEX", the index being the id less ToolbarCommandBase.
    void Draw(UiLayer& ui, float top, float width, void* strip, int32_t stripWidth,
              int32_t stripHeight, const std::function<void(int32_t id)>& click,
              const std::function<std::string(int32_t id)>& tooltip);

private:
    ToolbarButton* Find(int32_t id);
    const ToolbarButton* Find(int32_t id) const;

    std::vector<ToolbarButton> buttons_;
    int32_t pressedId_ = 0; // 0: none held
};

} // namespace quarn
