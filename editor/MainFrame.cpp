#include "editor/MainFrame.h"

#include "core/os/WindowMessage.h"

#include <algorithm>
#include <imgui.h>

namespace quarn {

namespace {

MainFrame* theMainFrame = nullptr;

constexpr int32_t SunkenInset = 2;

// The mouse button of a view message as a bit, 0 for the wheel and moves.
uint32_t ButtonBit(uint32_t message) {
    switch (message) {
    case MessageLeftButtonDown:
    case MessageLeftButtonUp:
    case MessageLeftButtonDoubleClick:
        return 1;
    case MessageRightButtonDown:
    case MessageRightButtonUp:
    case MessageRightButtonDoubleClick:
        return 2;
    case MessageMiddleButtonDown:
    case MessageMiddleButtonUp:
    case MessageMiddleButtonDoubleClick:
        return 4;
    default:
        return 0;
    }
}

bool IsButtonUp(uint32_t message) {
    return message == MessageLeftButtonUp || message == MessageRightButtonUp ||
           message == MessageMiddleButtonUp;
}

} // namespace

std::array<EdgeStroke, 8> SunkenEdgeStrokes(const LayoutRect& outer) {
    std::array<EdgeStroke, 8> strokes;
    LayoutRect r = outer;
    const uint32_t colors[2][2] = {{ColorButtonShadow, ColorButtonHighlight},
                                   {ColorDarkShadow3D, ColorLight3D}};
    for (int32_t ring = 0; ring < 2; ++ring) {
        const uint32_t dark = colors[ring][0];
        const uint32_t light = colors[ring][1];
        strokes[ring * 4 + 0] = {{r.left, r.top, r.right - 1, r.top + 1}, dark};
        strokes[ring * 4 + 1] = {{r.left, r.top, r.left + 1, r.bottom - 1}, dark};
        strokes[ring * 4 + 2] = {{r.left, r.bottom - 1, r.right, r.bottom}, light};
        strokes[ring * 4 + 3] = {{r.right - 1, r.top, r.right, r.bottom}, light};
        r = {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    }
    return strokes;
}

MainFrame::MainFrame(MainFrameHost& host, bool sunken) : host_(host) {
    theMainFrame = this;
    root_ = CreateEditorPanel();
    window_ = NewWindow();
    root_->SetWindow(window_);
    root_->SetFrameMode(sunken ? SunkenInset : 0);
}

MainFrame::~MainFrame() {
    // The panels going with the frame lay nothing out.
    if (theMainFrame == this) {
        theMainFrame = nullptr;
    }
    root_.reset();
}

MainFrame* MainFrame::Get() {
    return theMainFrame;
}

std::unique_ptr<Splitter> MainFrame::CreateSplitter(const LayoutRect& rect, uint32_t styles) {
    return std::make_unique<Splitter>(static_cast<SplitterHost&>(*this), rect, styles);
}

void MainFrame::Layout(int32_t readSplitters) {
    LayOutPanels(readSplitters);
}

bool MainFrame::LayOutPanels(int32_t readSplitters) {
    if (busy_ || !root_->GetWindow()) {
        return false;
    }
    busy_ = true;
    LayoutRect client = host_.ClientRect();
    client.top += topOffset_;
    root_->Move(client.left, client.top, client.Width(), std::max(client.Height(), 0),
                readSplitters != 0);
    busy_ = false;
    // The view's window changed its size: its size message reaches the resize hook.
    return ReportView(false);
}

void MainFrame::SetEditorView(bool on) {
    root_->SetFrameMode(on ? SunkenInset : 0);
    for (EditorPanel* child = root_->GetFirstChild(); child; child = child->GetNextSibling()) {
        child->Show(on);
    }
    Layout(0);
}

bool MainFrame::QueryActivePanel() {
    EditorPanel* first = root_->GetFirstChild();
    return first ? first->IsVisible() : true;
}

LayoutRect MainFrame::ViewRect() {
    const Int2 origin = root_->GetInnerOrigin();
    const Int2 size = root_->GetInnerSize();
    return {origin.x, origin.y, origin.x + size.x, origin.y + size.y};
}

bool MainFrame::ReportView(bool always) {
    const LayoutRect view = ViewRect();
    if (!always && reported_ && view == reportedView_) {
        return false;
    }
    reported_ = true;
    reportedView_ = view;
    host_.ViewResized(view.left, view.top, view.Width(), view.Height());
    return true;
}

void MainFrame::HandleSize() {
    const LayoutRect view = ViewRect();
    if (hook_ && hook_(MessageSize, SizeRestored, PackWords(view.Width(), view.Height())) != 0) {
        return;
    }
    root_->FindByWindow(window_); // the size notification; its answer is not needed
    if (!LayOutPanels(1)) {
        ReportView(true);
    }
}

void MainFrame::PostSizeNotify(PanelWindow window) {
    // Only the view's window lays anything out on a size message.
    if (window == window_ && std::find(posted_.begin(), posted_.end(), window) == posted_.end()) {
        posted_.push_back(window);
    }
}

void MainFrame::DeliverPosted() {
    while (!posted_.empty()) {
        posted_.erase(posted_.begin());
        HandleSize();
    }
}

void MainFrame::CaptureMouse(Splitter* splitter, bool capture) {
    if (capture) {
        capture_ = splitter;
        host_.CaptureMouse(true);
    } else if (capture_ == splitter) {
        capture_ = nullptr;
        host_.CaptureMouse(false);
    }
}

void MainFrame::ShowCursor(CursorShape shape) {
    if (shape != cursor_) {
        cursor_ = shape;
        host_.ShowCursor(shape);
    }
}

void MainFrame::Forget(Splitter* splitter) {
    CaptureMouse(splitter, false);
    if (focused_ == splitter) {
        focused_ = nullptr;
    }
}

void MainFrame::Focus(Splitter* splitter) {
    if (focused_ == splitter) {
        return;
    }
    if (focused_) {
        focused_->SetFocus(false);
    }
    focused_ = splitter;
    if (focused_) {
        focused_->SetFocus(true);
    }
}

Splitter* MainFrame::BarAt(EditorPanel& panel, Int2 point) {
    for (EditorPanel* child = panel.GetFirstChild(); child; child = child->GetNextSibling()) {
        Splitter* bar = child->GetSplitter();
        if (bar && bar->IsShown() && !(bar->Flags() & SplitterDisabled) &&
            bar->Rect().Contains(point.x, point.y)) {
            return bar;
        }
        if (Splitter* inside = BarAt(*child, point)) {
            return inside;
        }
    }
    return nullptr;
}

void MainFrame::HandleMouse(uint32_t message, uintptr_t detail, intptr_t packed) {
    const Int2 point(LowWord(packed), HighWord(packed));
    const uint32_t button = ButtonBit(message);
    if (capture_) {
        if (message == MessageMouseMove) {
            capture_->MouseMove(point);
        } else if (message == MessageLeftButtonUp || message == MessageRightButtonUp) {
            capture_->ButtonUp(point);
        }
        DeliverPosted();
        return;
    }
    // A release of a press in the view is the view's wherever it happens.
    if (IsButtonUp(message) && (viewButtons_ & button)) {
        viewButtons_ &= ~button;
        ViewMessage(message, detail, packed);
        return;
    }
    if (Splitter* bar = BarAt(*root_, point)) {
        if (message == MessageMouseMove) {
            bar->MouseMove(point);
        } else if (message == MessageLeftButtonDown || message == MessageLeftButtonDoubleClick ||
                   message == MessageRightButtonDown || message == MessageRightButtonDoubleClick) {
            Focus(bar);
            bar->ButtonDown();
        }
        DeliverPosted();
        return;
    }
    if (message == MessageMouseMove) {
        ShowCursor(CursorShape::Arrow);
        return;
    }
    if (!ViewRect().Contains(point.x, point.y) || IsButtonUp(message)) {
        return; // outside the view, or a release of a press that did not start there
    }
    viewButtons_ |= button;
    ViewMessage(message, detail, packed);
}

void MainFrame::ViewMessage(uint32_t message, uintptr_t detail, intptr_t packed) {
    if (hook_ && hook_(message, detail, packed) != 0) {
        return;
    }
    host_.MouseMessage(message, detail, packed);
    Focus(nullptr); // the view takes the focus
}

bool MainFrame::HandleKey(SplitterKey key) {
    if (!focused_) {
        return false;
    }
    focused_->KeyDown(key);
    DeliverPosted();
    return true;
}

void MainFrame::PaintBars(EditorPanel& panel, ImDrawList& under, ImDrawList& over) {
    for (EditorPanel* child = panel.GetFirstChild(); child; child = child->GetNextSibling()) {
        if (const Splitter* bar = child->GetSplitter()) {
            bar->Paint(under);
            bar->PaintDragBar(over);
        }
        PaintBars(*child, under, over);
    }
}

void MainFrame::Paint(ImDrawList& under, ImDrawList& over) {
    if (root_->GetFrameMode() > 0) {
        const Int2 origin = root_->GetOrigin();
        const Int2 size = root_->GetSize();
        for (const EdgeStroke& stroke :
             SunkenEdgeStrokes({origin.x, origin.y, origin.x + size.x, origin.y + size.y})) {
            PaintRect(under, stroke.rect, stroke.color);
        }
    }
    PaintBars(*root_, under, over);
}

} // namespace quarn
