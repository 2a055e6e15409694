#include "editor/EditorPanel.h"

#include "editor/MainFrame.h"
#include "editor/Splitter.h"

#include <algorithm>

namespace quarn {

namespace {

constexpr int32_t PanelMargin = 32;

bool IsVerticalSide(int32_t side) {
    return side == PanelLeft || side == PanelRight;
}

CursorShape SideCursor(int32_t side) {
    return IsVerticalSide(side) ? CursorShape::SizeWestEast : CursorShape::SizeNorthSouth;
}

void LayOutMainFrame() {
    if (MainFrame* frame = MainFrame::Get()) {
        frame->Layout(0);
    }
}

class DockPanel final : public EditorPanel {
public:
    DockPanel() = default;
    explicit DockPanel(std::unique_ptr<Splitter> splitter) : splitter_(std::move(splitter)) {}
    ~DockPanel() override;

    void Reset() override;
    EditorPanel* CreateChildPanel(int32_t side, int32_t extent) override;
    void SetParent(EditorPanel* parent) override;
    EditorPanel* GetParent() override { return parent_; }
    EditorPanel* GetFirstChild() override { return firstChild_; }
    void InsertAfter(EditorPanel* sibling) override;
    EditorPanel* GetPreviousSibling() override { return previous_; }
    EditorPanel* GetNextSibling() override { return next_; }
    void Destroy() override { delete this; }
    PanelWindow GetWindow() override { return window_; }
    void SetWindow(PanelWindow window) override { window_ = window; }
    void SetMinimumSize(int32_t width, int32_t height) override;
    Int2 GetMinimumSize() override { return minimumSize_; }
    void SetSecondSize(int32_t a, int32_t b) override { secondSize_ = {a, b}; }
    Int2 GetSecondSize() override { return secondSize_; }
    void SetSide(int32_t side) override;
    int32_t GetSide() override { return side_; }
    void SetSplitterPosition(int32_t position) override;
    int32_t GetSplitterPosition() override { return splitterPosition_; }
    void SetExtent(int32_t pixels) override;
    int32_t GetExtent() override;
    void SetFlag(uint8_t flag) override { flag_ = flag; }
    uint8_t GetFlag() override { return flag_; }
    void SetVisibleFlag(bool visible) override;
    bool IsVisible() override { return visible_ != 0; }
    void Move(int32_t x, int32_t y, int32_t width, int32_t height, bool readSplitters) override;
    Int2 GetOrigin() override { return {rectangle_.left, rectangle_.top}; }
    Int2 GetSize() override { return {rectangle_.Width(), rectangle_.Height()}; }
    Int2 GetInnerOrigin() override;
    Int2 GetInnerSize() override;
    void SetFrameMode(int32_t inset) override { frameInset_ = inset; }
    int32_t GetFrameMode() override { return frameInset_; }
    void Show(bool shown) override;
    EditorPanel* FindByWindow(PanelWindow window) override;
    Splitter* GetSplitter() override { return splitter_.get(); }

private:
    // Takes the panel out of its parent's list; the parent no longer owns it.
    void Unlink();
    // Each child out of the list first, so none is promoted into this panel's place.
    void DeleteChildren() {
        while (DockPanel* child = firstChild_) {
            child->Unlink();
            delete child;
        }
    }
    // Links the panel into the parent's list after the sibling, or at the head.
    void Link(DockPanel* parent, DockPanel* after);

    Int2 minimumSize_;
    Int2 secondSize_;
    uint8_t flag_ = 0;
    uint8_t visible_ = 1;
    int32_t side_ = PanelNotDocked;
    int32_t splitterPosition_ = 100;
    DockPanel* parent_ = nullptr;
    DockPanel* previous_ = nullptr;
    int32_t frameInset_ = 0;
    PanelWindow window_ = 0;
    std::unique_ptr<Splitter> splitter_;
    DockPanel* firstChild_ = nullptr;
    DockPanel* next_ = nullptr;
    LayoutRect rectangle_;
    LayoutRect outerRectangle_;
    LayoutRect splitterArea_;
};

DockPanel::~DockPanel() {
    if (parent_) {
        if (DockPanel* heir = firstChild_) {
            heir->Unlink();
            heir->Link(parent_, this);
            heir->side_ = side_;
            heir->splitterPosition_ = splitterPosition_;
            heir->splitter_ = std::move(splitter_);
            while (DockPanel* child = firstChild_) {
                child->SetParent(heir);
            }
        }
    } else {
        // A root (or an unlinked panel) takes its whole subtree with it.
        DeleteChildren();
    }
    splitter_.reset();
    Unlink();
    LayOutMainFrame();
}

void DockPanel::Reset() {
    // Out of its parent's list the panel is the caller's; its children were its own.
    Unlink();
    DeleteChildren();
    side_ = PanelNotDocked;
    splitterPosition_ = 100;
    window_ = 0;
    splitter_.reset();
    rectangle_ = outerRectangle_ = splitterArea_ = {};
    visible_ = 1;
}

void DockPanel::Unlink() {
    if (!parent_) {
        return;
    }
    if (previous_) {
        previous_->next_ = next_;
    } else {
        parent_->firstChild_ = next_;
    }
    if (next_) {
        next_->previous_ = previous_;
    }
    parent_ = previous_ = next_ = nullptr;
}

void DockPanel::Link(DockPanel* parent, DockPanel* after) {
    parent_ = parent;
    if (!parent) {
        return;
    }
    previous_ = after;
    next_ = after ? after->next_ : parent->firstChild_;
    if (next_) {
        next_->previous_ = this;
    }
    (after ? after->next_ : parent->firstChild_) = this;
}

void DockPanel::SetParent(EditorPanel* parent) {
    Unlink();
    Link(static_cast<DockPanel*>(parent), nullptr);
}

void DockPanel::InsertAfter(EditorPanel* sibling) {
    DockPanel* parent = parent_;
    if (!parent || sibling == this) {
        return;
    }
    Unlink();
    auto* after = static_cast<DockPanel*>(sibling);
    Link(parent, after && after->parent_ == parent ? after : nullptr);
}

EditorPanel* DockPanel::CreateChildPanel(int32_t side, int32_t extent) {
    MainFrame* frame = MainFrame::Get();
    if (!frame || side < PanelLeft || side > PanelBottom) {
        return nullptr;
    }
    const LayoutRect& area = rectangle_;
    const int32_t position = side == PanelLeft    ? area.left + extent
                             : side == PanelRight ? area.right - extent
                             : side == PanelTop   ? area.top + extent
                                                  : area.bottom - extent;
    const int32_t gap = frame->Gap();
    const bool vertical = IsVerticalSide(side);
    const LayoutRect barRect =
        vertical ? LayoutRect{position - gap, area.top, position + gap, area.bottom}
                 : LayoutRect{area.left, position - gap, area.right, position + gap};
    auto bar =
        frame->CreateSplitter(barRect, SplitterStyleSnap | (vertical ? SplitterStyleVertical : 0u));
    bar->SetNotifyWindow(frame->Root().GetWindow());
    bar->SetColors(ColorDarkShadow3D, ColorButtonFace);
    bar->SetCursor(SideCursor(side));
    for (int32_t kind = MarginBeforeHorizontal; kind <= MarginAfterVertical; ++kind) {
        bar->SetMargin(PanelMargin, kind);
    }
    auto* child = new DockPanel(std::move(bar));
    child->SetParent(this);
    child->SetSide(side);
    child->SetSplitterPosition(position);
    LayOutMainFrame();
    return child;
}

void DockPanel::SetMinimumSize(int32_t width, int32_t height) {
    if (minimumSize_ == Int2(width, height)) {
        return;
    }
    minimumSize_ = {width, height};
    if (splitter_) {
        switch (side_) {
        case PanelLeft:
            splitter_->SetMargin(width, MarginBeforeVertical);
            break;
        case PanelRight:
            splitter_->SetMargin(width, MarginAfterVertical);
            break;
        case PanelTop:
            splitter_->SetMargin(height, MarginBeforeHorizontal);
            break;
        case PanelBottom:
            splitter_->SetMargin(height, MarginAfterHorizontal);
            break;
        default:
            break;
        }
    }
    LayOutMainFrame();
}

void DockPanel::SetSide(int32_t side) {
    if (side == side_) {
        return;
    }
    side_ = side;
    if (splitter_) {
        splitter_->SetCursor(SideCursor(side));
        splitter_->SetVertical(IsVerticalSide(side));
    }
    LayOutMainFrame();
}

void DockPanel::SetSplitterPosition(int32_t position) {
    if (position == splitterPosition_) {
        return;
    }
    splitterPosition_ = position;
    if (splitter_) {
        splitter_->SetPosition(position);
    }
    LayOutMainFrame();
}

void DockPanel::SetExtent(int32_t pixels) {
    switch (side_) {
    case PanelLeft:
        SetSplitterPosition(splitterArea_.left + pixels);
        break;
    case PanelRight:
        SetSplitterPosition(splitterArea_.right - pixels);
        break;
    case PanelTop:
        SetSplitterPosition(splitterArea_.top + pixels);
        break;
    case PanelBottom:
        SetSplitterPosition(splitterArea_.bottom - pixels);
        break;
    default:
        break;
    }
}

int32_t DockPanel::GetExtent() {
    const MainFrame* frame = MainFrame::Get();
    const int32_t gap = frame ? frame->Gap() : 2;
    return gap + (IsVerticalSide(side_) ? rectangle_.Width() : rectangle_.Height());
}

void DockPanel::SetVisibleFlag(bool visible) {
    visible_ = visible ? 1 : 0;
    LayOutMainFrame();
}

void DockPanel::Move(int32_t x, int32_t y, int32_t width, int32_t height, bool readSplitters) {
    outerRectangle_ = {x, y, x + width, y + height};
    LayoutRect free = outerRectangle_;
    for (DockPanel* child = firstChild_; child; child = child->next_) {
        if (!child->visible_) {
            continue;
        }
        child->splitterArea_ = free;
        if (child->splitter_) {
            const int32_t clamped = child->splitter_->Clamp();
            if (readSplitters) {
                child->splitterPosition_ = clamped;
            }
        }
        const int32_t position = child->splitterPosition_;
        // The bar covers position - 2 .. position + 2 across the free rectangle.
        const int32_t before = position - 2;
        const int32_t after = position + 2;
        LayoutRect part = free;
        LayoutRect bar = free;
        switch (child->side_) {
        case PanelLeft:
            part.right = before;
            free.left = after;
            break;
        case PanelRight:
            part.left = after;
            free.right = before;
            break;
        case PanelTop:
            part.bottom = before;
            free.top = after;
            break;
        case PanelBottom:
            part.top = after;
            free.bottom = before;
            break;
        default:
            break;
        }
        if (IsVerticalSide(child->side_)) {
            bar.left = before;
            bar.right = after;
        } else if (child->side_ == PanelTop || child->side_ == PanelBottom) {
            bar.top = before;
            bar.bottom = after;
        }
        if (child->splitter_) {
            child->splitter_->Move(bar);
        }
        child->Move(part.left, part.top, part.Width(), part.Height(), readSplitters);
    }
    rectangle_ = free;
}

Int2 DockPanel::GetInnerOrigin() {
    const int32_t inset = parent_ ? 0 : frameInset_;
    return {rectangle_.left + inset, rectangle_.top + inset};
}

Int2 DockPanel::GetInnerSize() {
    const int32_t inset = parent_ ? 0 : frameInset_;
    // A window smaller than its edge, or a panel pushed past its parent's side, shows nothing.
    return {std::max(rectangle_.Width() - 2 * inset, 0),
            std::max(rectangle_.Height() - 2 * inset, 0)};
}

void DockPanel::Show(bool shown) {
    if (splitter_) {
        splitter_->Show(shown);
        splitter_->Enable(shown);
    }
    visible_ = shown ? 1 : 0;
    for (DockPanel* child = firstChild_; child; child = child->next_) {
        child->Show(shown);
    }
}

EditorPanel* DockPanel::FindByWindow(PanelWindow window) {
    if (window_ == window) {
        return this;
    }
    for (DockPanel* child = firstChild_; child; child = child->next_) {
        if (EditorPanel* found = child->FindByWindow(window)) {
            return found;
        }
    }
    return nullptr;
}

} // namespace

EditorPanel::~EditorPanel() = default;

std::unique_ptr<EditorPanel> CreateEditorPanel() {
    return std::make_unique<DockPanel>();
}

} // namespace quarn
