#pragma once

// The editor's user-interface layer: an immediate-mode UI context whose frames are drawn
// through the GPU layer as screen-space triangles, fed by plain input events.

#include "gpu/GpuLayer.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ImGuiContext;
struct ImDrawData;

namespace quarn {

enum class UiMouseButton : int32_t { Left, Right, Middle };

// A named item's visible rectangle in the layer's pixels, right and bottom exclusive.
struct UiItemRect {
    float left, top, right, bottom;
    float CentreX() const { return (left + right) * 0.5f; }
    float CentreY() const { return (top + bottom) * 0.5f; }
};

class UiLayer {
public:
    // The font atlas is made on this device at once; nothing is read from or written to disk.
    explicit UiLayer(GpuDevice& gpu);
    ~UiLayer();
    UiLayer(const UiLayer&) = delete;
    UiLayer& operator=(const UiLayer&) = delete;

    // Input in the layer's pixels. Each button or key changes at most once per frame: a press
    // and release between two frames reach the UI in two frames, so the click is not lost.
    void MouseMove(float x, float y);
    // `doubleClick`: the press is a double click's second, as the window system counted it,
    // however many frames lie between the two presses by the time they reach the UI.
    void MouseButton(UiMouseButton button, bool down, bool doubleClick = false);
    void MouseWheel(float steps);
    // key: an ImGuiKey of the UI library's key map.
    void Key(int32_t key, bool down);
    // Queued with the keys and buttons: each reaches the UI with the modifiers its own event
    // had, though the keys of a quick chord are let go before its frame.
    void Modifiers(bool ctrl, bool shift, bool alt);
    // Typed text, UTF-8, whole.
    void Text(std::string_view utf8);

    // Over a UI item, or dragging one: the UI owns the mouse.
    bool WantsMouse() const;
    // The same for a pointer at this pixel now, hit against the last frame's windows: a move
    // and a press between two frames go where the press lands.
    bool WantsMouseAt(float x, float y) const;
    // A text field holds the keyboard.
    bool WantsKeyboard() const;

    // Starts a UI frame of this size; widgets are then made with the UI library's calls on this
    // layer's context, which the frame makes current.
    void BeginFrame(uint32_t width, uint32_t height, float seconds);
    // Ends the frame and draws it into the device's current render target.
    void EndFrame();

    // Names the item made last in the frame underway, by its visible part; a hidden item, or
    // one of a window still hidden while it takes its size, is left out. Names follow the forms
    // "menu:TITLE", "cmd:ID", "tool:INDEX", "bar:N", "debug:ID", "text:N:OK", "text:N:Cancel",
    // "ctx:LABEL|LABEL..." and "ctx-node" (the node menu's heading), so tests and input scripts
    // can click items by name.
    void NameLastItem(std::string_view name);
    // Names the window underway by its whole rectangle, title bar included.
    void NameCurrentWindow(std::string_view name);
    // An item named in the last finished frame.
    std::optional<UiItemRect> FindItem(std::string_view name) const;

    // Menus to open in the next frame, by their item names ("menu:TITLE"), as clicks would
    // open them: an input script's way to an item inside them. Menus draw them open through
    // IsMenuToOpen.
    void OpenMenus(const std::vector<std::string>& names) {
        menusToOpen_.insert(menusToOpen_.end(), names.begin(), names.end());
    }
    bool IsMenuToOpen(std::string_view name) const;
    // Closes every open menu and popup in the next frame, as a chosen command does.
    void CloseMenus() { closeMenus_ = true; }

    // The atlas lives in the managed pool; these exist for a device reset all the same.
    void ReleaseDeviceObjects();
    bool RestoreDeviceObjects();

    ImGuiContext* Context() const { return context_; }

private:
    struct InputEvent {
        enum Kind { Button, KeyChange, ModifierChange } kind;
        int32_t index; // ModifierChange: bits 1 Ctrl, 2 Shift, 4 Alt
        bool down;
        bool doubleClick = false;
    };
    void ApplyQueuedInput();
    void Draw(const ImDrawData& data);

    GpuDevice& gpu_;
    ImGuiContext* context_ = nullptr;
    std::unique_ptr<GpuTexture> fontTexture_;
    std::unique_ptr<GpuVertexDeclaration> declaration_;
    std::deque<InputEvent> queued_;
    std::vector<uint8_t> vertices_; // Draw's scratch
    std::map<std::string, UiItemRect, std::less<>> namedItems_; // the frame underway
    std::map<std::string, UiItemRect, std::less<>> lastNamedItems_;
    std::vector<std::string> menusToOpen_; // for the frame underway or the next
    bool closeMenus_ = false;
};

// The menu bar's height in pixels: one row of the built-in font with its frame padding. The
// window sizes leave it out before the layer exists, so it is fixed here.
inline constexpr int32_t UiMenuBarHeight = 19;

// An engine text for display: UTF-8 when it is valid UTF-8, else its bytes read as Latin-1.
std::string UiText(std::string_view text);

} // namespace quarn
