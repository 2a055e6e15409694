#pragma once

// The modeless text windows scripts open, as windows of the UI layer: a caption, a multi-line
// edit field and OK and Cancel, which hide the window without closing it, as the end of a
// modeless dialog did. Each window keeps its own text until it is closed by its id.

#include "core/math/Vector.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

class UiLayer;

class TextWindows {
public:
    // The initial text is cut to this many characters.
    static constexpr size_t InitialTextLimit = 255;

    // Opens a window at a position in the layer's pixels; engine texts (UTF-8 or Latin-1).
    // Returns its id, never 0.
    uint32_t Open(Int2 position, const char* caption, const char* text);
    void Focus(uint32_t id);
    // The edit text as UTF-8; "" for an id that names no window.
    std::string Text(uint32_t id) const;
    // An unknown id does nothing.
    void Close(uint32_t id);
    bool AnyVisible() const;
    size_t Count() const { return windows_.size(); }

    // The visible windows, inside a UI frame of `layer`.
    void Draw(UiLayer& layer);

private:
    struct Window {
        uint32_t id = 0;
        Int2 position;
        std::string caption;
        std::string text;
        bool visible = true;
        bool focus = true; // the edit field takes the keyboard when the window appears
    };
    Window* Find(uint32_t id);

    std::vector<Window> windows_;
    uint32_t lastId_ = 0;
};

} // namespace quarn
