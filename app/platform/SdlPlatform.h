#pragma once

#include "app/dialogs/DialogBackend.h"
#include "app/input/Keyboard.h"
#include "app/input/Mouse.h"
#include "app/platform/FrameClock.h"
#include "app/platform/Platform.h"
#include "app/platform/SdlJoysticks.h"
#include "editor/MainFrame.h"
#include "editor/Toolbar.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct SDL_Cursor;
struct SDL_Window;
union SDL_Event;

namespace quarn {

// The platform on SDL2: one window, whose main frame divides it into the view and the editor's
// panels, SDL events translated into the engine's window messages and hooks, and the frame time
// measured on a monotonic clock.
class SdlPlatform : public Platform,
                    private KeyStateSource,
                    private PointerSource,
                    private MainFrameHost {
public:
    // The command line decides the start folder; a null clock means the steady clock, null
    // dialogs the back end CreateDialogBackend picks. The dialogs become the engine's dialog hook.
    explicit SdlPlatform(const char* commandLine, std::unique_ptr<MonotonicClock> clock = nullptr,
                         std::unique_ptr<DialogBackend> dialogs = nullptr);
    ~SdlPlatform() override;
    SdlPlatform(const SdlPlatform&) = delete;
    SdlPlatform& operator=(const SdlPlatform&) = delete;

    DialogBackend& Dialogs() { return *dialogs_; }

    bool StartTimer(uint32_t startFlags) override;
    void SetFrameCallback(FrameCallback callback) override { frameCallback_ = std::move(callback); }
    const char* GetPlatformName() override { return "SDL2"; }
    const char* GetLastErrorText() override { return lastError_.c_str(); }
    uint32_t GetCapabilities() override { return 31; }
    bool IsAvailable() override { return true; }
    uint32_t GetFrameCount() override { return frameClock_.FrameCount(); }
    float GetFrameTime() override { return frameClock_.SmoothedTime(); }
    float GetRawFrameTime() override { return frameClock_.RawTime(); }
    int64_t GetCounterFrequency() override { return frequency_; }
    double GetTime() override;
    uint32_t GetVolumeSerial() override;
    bool IsWindowClassRunning() override;
    WindowHandle CreateMainWindow(const char* title, int32_t x, int32_t y, int32_t width,
                                  int32_t height, uint32_t styleFlags, int32_t iconId) override;
    bool SetWindowTitle(const char* title) override;
    bool SetWindowMode(uint32_t mask, uint32_t value) override;
    uint32_t TestWindowState(uint32_t mask) override { return windowState_ & mask; }
    bool SetWindowPosition(int32_t x, int32_t y) override;
    // Maximised when both sides outgrow the work area; a side that alone outgrows it is cut to it.
    bool SetClientSize(int32_t width, int32_t height) override;
    Int2 GetWindowPosition() override;
    Int2 GetWindowSize() override;
    // A sunken frame, laid out at once.
    void CreateMainFrame() override;
    EditorPanel* GetMainFramePanel() override;
    // The view is drawn into the main window's own surface.
    WindowHandle GetViewWindow() override { return window_; }
    Int2 GetViewOrigin() override;
    Int2 GetViewSize() override;
    bool QueryActivePanel() override;
    void SetEditorView(bool on) override;
    void LayoutMainFrame(int32_t flag) override;
    Int2 GetScreenSize() override;
    Int2 GetWorkAreaOrigin() override;
    Int2 GetWorkAreaSize() override;
    // Replaces the toolbar; none is made while the window covers the monitor.
    void CreateToolbar(int32_t bitmapId, const ToolbarButton* buttons, int32_t count) override;
    // 0 without a toolbar or while the window covers the monitor.
    int32_t GetToolbarHeight() override;
    // The Toolbar, or null.
    WindowHandle GetToolbarWindow() override { return toolbar_.get(); }
    int32_t EnumerateJoysticks() override { return joysticks_->Enumerate(); }
    int32_t GetJoystickCount() override { return joysticks_->GetCount(); }
    JoystickDevice* CreateJoystick(int32_t index) override { return joysticks_->Create(index); }
    Mouse* CreateMouse() override;
    Keyboard* CreateKeyboard() override;
    // Talks to the "online_service_url" of the main settings.
    OnlineService* GetOnlineService() override;
    void SetMessageHook(MessageHook hook) override { messageHook_ = std::move(hook); }
    void SetDropHook(DropHook hook) override { dropHook_ = std::move(hook); }
    // The editor's menu bar takes this many rows at the top of SDL's window, outside the client
    // area as a menu bar is: sizes, positions and the mouse's pixels leave it out.
    void SetMenuBarHeight(int32_t height) { menuBarHeight_ = height; }
    int32_t GetMenuBarHeight() const { return menuBarHeight_; }
    // Typed text as SDL gives it, before its Latin-1 characters go to the message hook.
    void SetTextHook(std::function<void(const char* utf8)> hook) { textHook_ = std::move(hook); }
    void SetMouseHook(MouseHook hook) override { mouseHook_ = std::move(hook); }
    void SetResizeHook(ResizeHook hook) override { resizeHook_ = std::move(hook); }
    const char* GetDesktopFolder() override;
    const char* GetAppDataFolder() override;
    const char* GetStartFolder() override { return startFolder_.c_str(); }
    // Without an initial folder the dialog opens in the game's folder.
    const char* FileDialog(const char* filter, bool open, const char* initialFolder) override;
    const char* BrowseForFolder(const char* title, const char* initialFolder) override;
    int32_t ShowChoiceDialog(const char* title, const char* text, const char* buttons) override;
    const char* ShowAboutDialog() override;
    PrintContext BeginPrint() override { return nullptr; }
    Int2 GetPrinterCaps(PrintContext) override { return {}; }
    bool PrintWindow(PrintContext, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                     int32_t) override {
        return false;
    }
    bool EndPrint(PrintContext) override { return true; }
    void FlashWindow() override;
    void SetBusyCursor(float progress) override;
    WindowHandle GetWindowHandle() override { return window_; }
    WindowHandle GetInstanceHandle() override { return nullptr; }
    const char* GetProgramPath() override { return programPath_.c_str(); }
    bool RunMainLoop() override;

    // The main loop ends before its next frame.
    void PostQuitMessage() { quitRequested_ = true; }
    // Handles every queued event; false once the program is asked to quit.
    bool PumpMessages();
    // Input made up by the program (input scripts, tests): queued as SDL events and handled at
    // once, so it takes the road a user's input takes. Positions are SDL window pixels, the
    // menu bar's rows included; a button changes at the last position.
    enum class InjectedButton { Left, Right, Middle };
    void InjectMouseMove(Int2 window);
    // `doubleClick` makes a press the second of a double click, as SDL counts a real one.
    void InjectButton(InjectedButton button, bool down, bool doubleClick = false);
    void InjectWheel(int32_t notches);
    // A physical engine key code (0-70); others are ignored. Shift, Ctrl and Alt also set the
    // modifier state, as a real keyboard does.
    void InjectKey(int32_t keyCode, bool down);
    void InjectText(std::string_view utf8);
    // The window's close box.
    void InjectClose();

    // Shift, Ctrl and Alt (SDL's KMOD_ bits) as the events handled so far left them: while a
    // key's message is handled, the key event's own. SDL's live state runs ahead to the events
    // still queued, where a quick chord has let Ctrl go already.
    uint16_t GetEventModifiers() const { return eventModifiers_; }

    // One frame of the main loop after its messages: the frame callback, then the frame clock.
    // False when the callback ends the loop.
    bool RunFrame();
    // Hands a message to the message hook as the window would (a menu's command, say); returns
    // the hook's answer.
    intptr_t SendWindowMessage(uint32_t message, uintptr_t detail, intptr_t packed);

protected:
    // Blocks until an event is queued; the idle wait of an inactive window.
    virtual void WaitForMessage();

private:
    bool HandleEvent(const SDL_Event& event);
    // The window is asked to close: true while it stays (the message hook refused).
    bool HandleClose();
    void HandleWindowEvent(const SDL_Event& event);
    // Offers a message to the message hook; true when the hook handled it.
    bool Hooked(uint32_t message, uintptr_t detail, intptr_t packed);
    void SendSize(uintptr_t kind);
    // A mouse button or wheel message: the message hook, then the frame or the mouse.
    void DeliverMouse(uint32_t message, uintptr_t detail, intptr_t packed);
    void FinishDrop();
    void BordersOf(int32_t& top, int32_t& left, int32_t& bottom, int32_t& right);
    Int2 ClientSize();
    // The sunken edge around the view, in the window's surface; the present leaves it alone.
    void PaintViewEdge();
    // The file system's base folder where it lies on disk, else the start folder.
    std::string GetGameFolder();

    bool ReadKeyState(uint8_t state[256]) override;
    bool WaitForInput() override;
    // In the view's coordinates.
    Int2 GetCursorPosition() override;
    void SetCursorPosition(int32_t x, int32_t y) override;
    void SetCapture(bool capture) override;

    LayoutRect ClientRect() override;
    void MouseMessage(uint32_t message, uintptr_t detail, intptr_t packed) override;
    void ViewResized(int32_t x, int32_t y, int32_t width, int32_t height) override;
    void CaptureMouse(bool capture) override { SetCapture(capture); }
    void ShowCursor(CursorShape shape) override;

    std::unique_ptr<MonotonicClock> clock_;
    std::unique_ptr<DialogBackend> dialogs_;
    bool sdlStarted_ = false;
    std::string title_;
    std::string lastError_;
    std::string startFolder_;
    std::string programPath_;
    SDL_Window* window_ = nullptr;
    uint32_t styleFlags_ = 0;
    int32_t menuBarHeight_ = 0;
    std::unique_ptr<Toolbar> toolbar_;
    uint32_t startFlags_ = 0;
    uint32_t windowState_ = WindowInitialState;
    MessageHook messageHook_;
    DropHook dropHook_;
    std::function<void(const char* utf8)> textHook_;
    MouseHook mouseHook_;
    ResizeHook resizeHook_;
    FrameCallback frameCallback_;
    std::unique_ptr<Mouse> mouse_;
    std::unique_ptr<Keyboard> keyboard_;
    std::unique_ptr<OnlineService> onlineService_;
    std::unique_ptr<SdlJoysticks> joysticks_ = std::make_unique<SdlJoysticks>();
    FrameClock frameClock_;
    int64_t frequency_ = 0;
    int64_t processStart_ = 0;
    uint8_t keyState_[256] = {};
    // KeyPressedSinceRead for each key that went down since the keyboard last read the keys.
    uint8_t keyPressed_[256] = {};
    Int2 cursor_; // in the window's client coordinates
    bool dropping_ = false;
    std::vector<std::string> droppedPaths_;
    bool quitRequested_ = false;
    bool ignoreNextQuit_ = false;
    uint16_t eventModifiers_ = 0;
    bool stopSeen_ = false;
    bool busy_ = false;
    SDL_Cursor* savedCursor_ = nullptr;
    SDL_Cursor* waitCursor_ = nullptr;
    SDL_Cursor* shapeCursors_[3] = {};
    std::unique_ptr<MainFrame> mainFrame_;
    int lockFile_ = -1;
    // Paths handed out stay valid until the same operation runs again.
    std::string desktopFolder_;
    std::string appDataFolder_;
    std::string fileDialogResult_;
    std::string folderResult_;
};

// The SDL platform's GetEventModifiers; none on another platform.
uint16_t GetPlatformEventModifiers();

} // namespace quarn
