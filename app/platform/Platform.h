#pragma once

#include "core/math/Vector.h"
#include "script/nodes/OnlineService.h"

#include <cstdint>
#include <functional>

namespace quarn {

class EditorPanel;
class JoystickDevice;
class Keyboard;
class Mouse;
class SettingsFile;
struct ToolbarButton;

// An opaque window, printer or instance handle; null is none.
using WindowHandle = void*;
using PrintContext = void*;

// Start flags of StartTimer: what may keep frames running while nobody looks.
enum PlatformStartFlag : uint32_t {
    StartContinueInBackground = 1,
    StartContinueMinimized = 2,
};

// Bits of GetCapabilities.
enum PlatformCapability : uint32_t {
    PlatformHasEditor = 8, // the editor's menu bar, toolbar and main frame can be made
};

// Window-state bits (TestWindowState, SetWindowMode).
enum WindowStateBit : uint32_t {
    WindowActive = 1,
    WindowFullMonitor = 2,
    WindowMinimized = 4,
    WindowCursorShown = 8,
    WindowStateReserved = 16, // never set
    WindowInitialState = WindowActive | WindowCursorShown,
};

// Style flags of CreateMainWindow.
enum WindowStyleFlag : uint32_t {
    WindowStylePopup = 1,
    WindowStyleResizable = 2,
    WindowStyleClientArea = 4, // sizes and positions refer to the client area below the toolbar
    WindowStyleAcceptFiles = 8,
};

// A window message's two values: `detail` is the key symbol, the character, the wheel delta (in
// its high word), the size kind or the activation; `packed` holds two 16-bit words (LowWord,
// HighWord): the cursor position or the new size, or a key's scan code in the high word.
using MessageHook = std::function<intptr_t(uint32_t message, uintptr_t detail, intptr_t packed)>;
using DropHook = std::function<bool(const char* path, int32_t screenX, int32_t screenY)>;
using MouseHook = std::function<void(uint32_t message, uintptr_t detail, intptr_t packed)>;
using ResizeHook = std::function<void(int32_t x, int32_t y, int32_t width, int32_t height)>;
using FrameCallback = std::function<bool()>;

// The operating-system services of the engine, in the order the engine has always declared
// them. One instance for the run, reached through GetPlatform. Every path it hands out uses
// '/', folders end in '/'.
class Platform {
public:
    virtual ~Platform();
    virtual bool StartTimer(uint32_t startFlags) = 0;
    virtual void SetFrameCallback(FrameCallback callback) = 0;
    virtual const char* GetPlatformName() = 0;
    virtual const char* GetLastErrorText() = 0;
    virtual uint32_t GetCapabilities() = 0;
    virtual bool IsAvailable() = 0;
    virtual uint32_t GetFrameCount() = 0;
    // The smoothed frame time, in seconds.
    virtual float GetFrameTime() = 0;
    virtual float GetRawFrameTime() = 0;
    virtual int64_t GetCounterFrequency() = 0;
    // Seconds since the process started.
    virtual double GetTime() = 0;
    virtual uint32_t GetVolumeSerial() = 0;
    virtual bool IsWindowClassRunning() = 0;
    virtual WindowHandle CreateMainWindow(const char* title, int32_t x, int32_t y, int32_t width,
                                          int32_t height, uint32_t styleFlags, int32_t iconId) = 0;
    virtual bool SetWindowTitle(const char* title) = 0;
    virtual bool SetWindowMode(uint32_t mask, uint32_t value) = 0;
    virtual uint32_t TestWindowState(uint32_t mask) = 0;
    virtual bool SetWindowPosition(int32_t x, int32_t y) = 0;
    virtual bool SetClientSize(int32_t width, int32_t height) = 0;
    virtual Int2 GetWindowPosition() = 0;
    virtual Int2 GetWindowSize() = 0;
    virtual void CreateMainFrame() = 0;
    virtual EditorPanel* GetMainFramePanel() = 0;
    virtual WindowHandle GetViewWindow() = 0;
    virtual Int2 GetViewOrigin() = 0;
    virtual Int2 GetViewSize() = 0;
    virtual bool QueryActivePanel() = 0;
    virtual void SetEditorView(bool on) = 0;
    virtual void LayoutMainFrame(int32_t flag) = 0;
    virtual Int2 GetScreenSize() = 0;
    virtual Int2 GetWorkAreaOrigin() = 0;
    virtual Int2 GetWorkAreaSize() = 0;
    virtual void CreateToolbar(int32_t bitmapId, const ToolbarButton* buttons, int32_t count) = 0;
    virtual int32_t GetToolbarHeight() = 0;
    virtual WindowHandle GetToolbarWindow() = 0;
    // Scans the controllers again (at most 8); their number.
    virtual int32_t EnumerateJoysticks() = 0;
    // Scans on its first call only.
    virtual int32_t GetJoystickCount() = 0;
    // The device of an enumerated controller, made on first request; null outside the count.
    virtual JoystickDevice* CreateJoystick(int32_t index) = 0;
    // Created on the first call and kept.
    virtual Mouse* CreateMouse() = 0;
    virtual Keyboard* CreateKeyboard() = 0;
    // Created on the first call and kept for the run; it becomes the current client.
    virtual OnlineService* GetOnlineService() = 0;
    virtual void SetMessageHook(MessageHook hook) = 0;
    virtual void SetDropHook(DropHook hook) = 0;
    virtual void SetMouseHook(MouseHook hook) = 0;
    virtual void SetResizeHook(ResizeHook hook) = 0;
    virtual const char* GetDesktopFolder() = 0;
    virtual const char* GetAppDataFolder() = 0;
    virtual const char* GetStartFolder() = 0;
    // The chosen path, or "" when cancelled. The filter is a list of name and pattern texts,
    // each ended by a zero byte, the list by an empty text: "Scene\0*.scene;*.scn\0\0".
    virtual const char* FileDialog(const char* filter, bool open, const char* initialFolder) = 0;
    // The chosen folder without a trailing '/', or "" when cancelled.
    virtual const char* BrowseForFolder(const char* title, const char* initialFolder) = 0;
    // The index of the pressed button among buttons joined by '#' (at most eight).
    virtual int32_t ShowChoiceDialog(const char* title, const char* text, const char* buttons) = 0;
    // "OK", "CANCEL", "YES", "NO" or "".
    virtual const char* ShowAboutDialog() = 0;
    // Null when no printer was chosen.
    virtual PrintContext BeginPrint() = 0;
    virtual Int2 GetPrinterCaps(PrintContext context) = 0;
    virtual bool PrintWindow(PrintContext context, int32_t sourceX, int32_t sourceY,
                             int32_t sourceWidth, int32_t sourceHeight, int32_t x, int32_t y,
                             int32_t width, int32_t height) = 0;
    virtual bool EndPrint(PrintContext context) = 0;
    // Draws attention to the window until it comes to the front.
    virtual void FlashWindow() = 0;
    // Below 1.0 shows the wait cursor; 1.0 or more restores the cursor it replaced.
    virtual void SetBusyCursor(float progress) = 0;
    virtual WindowHandle GetWindowHandle() = 0;
    virtual WindowHandle GetInstanceHandle() = 0;
    virtual const char* GetProgramPath() = 0;

    // Runs the frame callback until it returns false (true) or the program is asked to quit
    // (false).
    virtual bool RunMainLoop() = 0;
};

// The platform of the run, or null.
Platform* GetPlatform();
void SetPlatform(Platform* platform);

// The start flags the settings ask for: "continue_in_background" and "continue_minimized".
uint32_t StartFlagsFromSettings(const SettingsFile& settings);

// Whether a frame may run in this window state: an inactive or minimised window waits for
// messages unless the start flags allow running.
bool ShouldRunFrame(uint32_t windowState, uint32_t startFlags);

} // namespace quarn
