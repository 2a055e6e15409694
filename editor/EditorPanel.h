#pragma once

// The editor's docking layout: a tree of panels in which every child is docked to one side of
// its parent, with a splitter bar between it and the rest of the parent. The root panel's own
// window is the view the scene is drawn into.

#include "core/math/Vector.h"
#include "editor/LayoutRect.h"

#include <cstdint>
#include <memory>

namespace quarn {

class Splitter;

enum PanelSide : int32_t {
    PanelLeft = 0,
    PanelRight = 1,
    PanelTop = 2,
    PanelBottom = 3,
    PanelNotDocked = 4,
};

// Coordinates are the main window's client coordinates. A panel belongs to its parent's child
// list (the root to the main frame): deleting one deletes what it owns, and a panel unlinked
// with SetParent (null) belongs to the caller.
class EditorPanel {
public:
    // Promotes the first child into the panel's place, as Destroy does.
    virtual ~EditorPanel();
    virtual void Reset() = 0;
    virtual EditorPanel* CreateChildPanel(int32_t side, int32_t extent) = 0;
    virtual void SetParent(EditorPanel* parent) = 0;
    virtual EditorPanel* GetParent() = 0;
    virtual EditorPanel* GetFirstChild() = 0;
    virtual void InsertAfter(EditorPanel* sibling) = 0;
    virtual EditorPanel* GetPreviousSibling() = 0;
    virtual EditorPanel* GetNextSibling() = 0;
    // The panel is gone afterwards.
    virtual void Destroy() = 0;
    virtual PanelWindow GetWindow() = 0;
    virtual void SetWindow(PanelWindow window) = 0;
    virtual void SetMinimumSize(int32_t width, int32_t height) = 0;
    virtual Int2 GetMinimumSize() = 0;
    virtual void SetSecondSize(int32_t a, int32_t b) = 0;
    virtual Int2 GetSecondSize() = 0;
    virtual void SetSide(int32_t side) = 0;
    virtual int32_t GetSide() = 0;
    virtual void SetSplitterPosition(int32_t position) = 0;
    virtual int32_t GetSplitterPosition() = 0;
    virtual void SetExtent(int32_t pixels) = 0;
    virtual int32_t GetExtent() = 0;
    virtual void SetFlag(uint8_t flag) = 0;
    virtual uint8_t GetFlag() = 0;
    // Lays out without showing or hiding anything.
    virtual void SetVisibleFlag(bool visible) = 0;
    virtual bool IsVisible() = 0;
    virtual void Move(int32_t x, int32_t y, int32_t width, int32_t height, bool readSplitters) = 0;
    virtual Int2 GetOrigin() = 0;
    virtual Int2 GetSize() = 0;
    virtual Int2 GetInnerOrigin() = 0;
    virtual Int2 GetInnerSize() = 0;
    // 0 plain, 2 framed by a sunken edge.
    virtual void SetFrameMode(int32_t inset) = 0;
    virtual int32_t GetFrameMode() = 0;
    virtual void Show(bool shown) = 0;
    virtual EditorPanel* FindByWindow(PanelWindow window) = 0;

    // The bar between this panel and the rest of its parent; null for the root.
    virtual Splitter* GetSplitter() = 0;
};

// A new root panel.
std::unique_ptr<EditorPanel> CreateEditorPanel();

} // namespace quarn
