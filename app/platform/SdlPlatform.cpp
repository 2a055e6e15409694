#include "app/platform/SdlPlatform.h"

#include "app/online/HttpOnlineService.h"
#include "app/platform/StopSignal.h"
#include "app/platform/WindowMessage.h"
#include "core/filesystem/DataFolders.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/EngineState.h"
#include "core/string/Text.h"
#include "render/Camera.h"
#include "render/PostProcess.h"
#include "render/lightmap/LightMapCommands.h"

#include <SDL.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace quarn {

namespace {

Platform* thePlatform = nullptr;

// The SDL key of each physical engine key code 0-70, in key-code order.
const SDL_Scancode KeyScancodes[] = {
    SDL_SCANCODE_0,      SDL_SCANCODE_1,      SDL_SCANCODE_2,        SDL_SCANCODE_3,
    SDL_SCANCODE_4,      SDL_SCANCODE_5,      SDL_SCANCODE_6,        SDL_SCANCODE_7,
    SDL_SCANCODE_8,      SDL_SCANCODE_9,      SDL_SCANCODE_F1,       SDL_SCANCODE_F2,
    SDL_SCANCODE_F3,     SDL_SCANCODE_F4,     SDL_SCANCODE_F5,       SDL_SCANCODE_F6,
    SDL_SCANCODE_F7,     SDL_SCANCODE_F8,     SDL_SCANCODE_F9,       SDL_SCANCODE_F10,
    SDL_SCANCODE_F11,    SDL_SCANCODE_F12,    SDL_SCANCODE_A,        SDL_SCANCODE_B,
    SDL_SCANCODE_C,      SDL_SCANCODE_D,      SDL_SCANCODE_E,        SDL_SCANCODE_F,
    SDL_SCANCODE_G,      SDL_SCANCODE_H,      SDL_SCANCODE_I,        SDL_SCANCODE_J,
    SDL_SCANCODE_K,      SDL_SCANCODE_L,      SDL_SCANCODE_M,        SDL_SCANCODE_N,
    SDL_SCANCODE_O,      SDL_SCANCODE_P,      SDL_SCANCODE_Q,        SDL_SCANCODE_R,
    SDL_SCANCODE_S,      SDL_SCANCODE_T,      SDL_SCANCODE_U,        SDL_SCANCODE_V,
    SDL_SCANCODE_W,      SDL_SCANCODE_X,      SDL_SCANCODE_Y,        SDL_SCANCODE_Z,
    SDL_SCANCODE_SPACE,  SDL_SCANCODE_TAB,    SDL_SCANCODE_RETURN,   SDL_SCANCODE_BACKSPACE,
    SDL_SCANCODE_ESCAPE, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_RSHIFT,   SDL_SCANCODE_LALT,
    SDL_SCANCODE_RALT,   SDL_SCANCODE_LCTRL,  SDL_SCANCODE_RCTRL,    SDL_SCANCODE_LGUI,
    SDL_SCANCODE_RGUI,   SDL_SCANCODE_LEFT,   SDL_SCANCODE_RIGHT,    SDL_SCANCODE_UP,
    SDL_SCANCODE_DOWN,   SDL_SCANCODE_INSERT, SDL_SCANCODE_DELETE,   SDL_SCANCODE_HOME,
    SDL_SCANCODE_END,    SDL_SCANCODE_PAGEUP, SDL_SCANCODE_PAGEDOWN,
};
static_assert(sizeof(KeyScancodes) / sizeof(KeyScancodes[0]) == KeyShift);

// The engine's scan code of an SDL key; 0 for keys without an engine key code.
uint8_t ScanCodeOf(SDL_Scancode scancode) {
    for (int32_t code = 0; code < KeyShift; ++code) {
        if (KeyScancodes[code] == scancode) {
            return KeyCodeToScanCode(code);
        }
    }
    return 0;
}

// The keys a focused splitter bar moves by.
bool BarKeyOf(SDL_Keycode key, SplitterKey& barKey) {
    switch (key) {
    case SDLK_HOME:
        barKey = SplitterKey::Home;
        return true;
    case SDLK_END:
        barKey = SplitterKey::End;
        return true;
    case SDLK_PAGEUP:
        barKey = SplitterKey::PageUp;
        return true;
    case SDLK_PAGEDOWN:
        barKey = SplitterKey::PageDown;
        return true;
    case SDLK_LEFT:
        barKey = SplitterKey::Left;
        return true;
    case SDLK_RIGHT:
        barKey = SplitterKey::Right;
        return true;
    case SDLK_UP:
        barKey = SplitterKey::Up;
        return true;
    case SDLK_DOWN:
        barKey = SplitterKey::Down;
        return true;
    default:
        return false;
    }
}

std::string CurrentFolder() {
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            return "./";
        }
        buffer.resize(buffer.size() * 2);
    }
    std::string folder = buffer.data();
    return folder.back() == '/' ? folder : folder + '/';
}

std::string ProgramFile() {
    std::vector<char> buffer(4096);
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : std::string();
}

std::string EnvironmentText(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

// The desktop folder of the XDG user folders, "$HOME/Desktop" when it names none.
std::string XdgDesktopFolder() {
    std::string home = EnvironmentText("HOME");
    if (home.empty()) {
        return {};
    }
    std::string config = EnvironmentText("XDG_CONFIG_HOME");
    if (config.empty() || config[0] != '/') {
        config = home + "/.config";
    }
    std::ifstream file(config + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DESKTOP_DIR=\"";
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) != 0 || line.back() != '"') {
            continue;
        }
        std::string value = line.substr(key.size(), line.size() - key.size() - 1);
        if (value.compare(0, 5, "$HOME") == 0) {
            value = home + value.substr(5);
        }
        if (!value.empty() && value[0] == '/') {
            return value;
        }
    }
    return home + "/Desktop";
}

std::string LockFilePath() {
    std::string folder = EnvironmentText("XDG_RUNTIME_DIR");
    if (folder.empty() || folder[0] != '/') {
        folder = "/tmp";
    }
    return StringFormat("%s/Quarn-%u.lock", folder.c_str(), static_cast<unsigned>(getuid()));
}

} // namespace

Platform::~Platform() = default;

Platform* GetPlatform() {
    return thePlatform;
}

void SetPlatform(Platform* platform) {
    thePlatform = platform;
    // Cameras measure pixels of the platform's view.
    PlatformViewSize = []() { return thePlatform ? thePlatform->GetViewSize() : Int2(); };
    // Post-processing's shared render textures take the screen's size.
    PlatformScreenSize = []() { return thePlatform ? thePlatform->GetScreenSize() : Int2(); };
    PlatformFlashWindow = []() {
        if (thePlatform) {
            thePlatform->FlashWindow();
        }
    };
}

uint32_t StartFlagsFromSettings(const SettingsFile& settings) {
    uint32_t flags = 0;
    if (settings.GetBool("continue_in_background")) {
        flags |= StartContinueInBackground;
    }
    if (settings.GetBool("continue_minimized")) {
        flags |= StartContinueMinimized;
    }
    return flags;
}

bool ShouldRunFrame(uint32_t windowState, uint32_t startFlags) {
    bool active = (windowState & WindowActive) || (startFlags & StartContinueInBackground);
    bool shown = !(windowState & WindowMinimized) || (startFlags & StartContinueMinimized);
    return active && shown;
}

std::unique_ptr<DialogBackend> CreateDialogBackend() {
    // SDL falls back to the offscreen driver by itself when there is no display.
    const char* current = SDL_GetCurrentVideoDriver();
    std::string driver = current ? current : EnvironmentText("SDL_VIDEODRIVER");
    if (EnvironmentText("QUARN_DIALOGS") == "script" ||
        CompareNoCase(driver.c_str(), "offscreen") == 0 ||
        CompareNoCase(driver.c_str(), "dummy") == 0) {
        auto scripted = std::make_unique<ScriptedDialogs>();
        scripted->AnswerButtons(EnvironmentText("QUARN_DIALOG_ANSWERS").c_str());
        return scripted;
    }
    return std::make_unique<SdlDialogs>();
}

SdlPlatform::SdlPlatform(const char* commandLine, std::unique_ptr<MonotonicClock> clock,
                         std::unique_ptr<DialogBackend> dialogs)
    : clock_(clock ? std::move(clock) : CreateSteadyClock()) {
    SetPlatform(this);
    // Window managers group and name windows by this class.
    setenv("SDL_VIDEO_X11_WMCLASS", "Quarn", 0);
    // The double clicks SDL counts are the ones the mouse and input scripts know.
    SDL_SetHint(SDL_HINT_MOUSE_DOUBLE_CLICK_TIME,
                std::to_string(Mouse::DoubleClickMilliseconds).c_str());
    SDL_SetHint(SDL_HINT_MOUSE_DOUBLE_CLICK_RADIUS,
                std::to_string(Mouse::DoubleClickRadius).c_str());
    sdlStarted_ = SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
    if (!sdlStarted_) {
        lastError_ = StringFormat("Failed to start SDL: %s", SDL_GetError());
    }
    // Chosen once SDL knows which video driver it runs on.
    dialogs_ = dialogs ? std::move(dialogs) : CreateDialogBackend();
    SetDialogHook(dialogs_.get());

    programPath_ = ProgramFile();
    startFolder_ = CurrentFolder();
    // A scene given on the command line (a double-click on a scene file) runs from the
    // program's own folder.
    if (commandLine && CompareNoCase(GetPathExtension(commandLine).c_str(), "scene") == 0) {
        size_t cut = programPath_.rfind('/');
        if (cut != std::string::npos) {
            startFolder_ = programPath_.substr(0, cut + 1);
        }
    }
    processStart_ = clock_->Counter();
}

SdlPlatform::~SdlPlatform() {
    mainFrame_.reset();
    keyboard_.reset();
    mouse_.reset();
    joysticks_.reset();
    if (waitCursor_) {
        SDL_FreeCursor(waitCursor_);
    }
    for (SDL_Cursor* cursor : shapeCursors_) {
        if (cursor) {
            SDL_FreeCursor(cursor);
        }
    }
    if (window_) {
        SDL_DestroyWindow(window_);
    }
    if (lockFile_ >= 0) {
        close(lockFile_);
    }
    if (GetDialogHook() == dialogs_.get()) {
        SetDialogHook(nullptr);
    }
    if (GetPlatform() == this) {
        SetPlatform(nullptr);
    }
    if (sdlStarted_) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    }
}

bool SdlPlatform::StartTimer(uint32_t startFlags) {
    startFlags_ = startFlags;
    SetPlatform(this);
    frequency_ = clock_->Frequency();
    frameClock_.Start(clock_->Counter());
    return true;
}

double SdlPlatform::GetTime() {
    int64_t frequency = clock_->Frequency();
    return frequency > 0 ? static_cast<double>(clock_->Counter() - processStart_) / frequency : 0.0;
}

uint32_t SdlPlatform::GetVolumeSerial() {
    // Only its stability between runs matters: it identifies the machine to online services.
    struct statvfs info;
    if (statvfs("/", &info) == 0) {
        return static_cast<uint32_t>(info.f_fsid);
    }
    return 0;
}

OnlineService* SdlPlatform::GetOnlineService() {
    if (!onlineService_) {
        onlineService_ = std::make_unique<HttpOnlineService>(
            GetMainSettings().GetString("online_service_url"), GetVolumeSerial());
    }
    return onlineService_.get();
}

bool SdlPlatform::IsWindowClassRunning() {
    if (lockFile_ >= 0) {
        return true;
    }
    int file = open(LockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        return false;
    }
    bool taken = flock(file, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(file);
    return taken;
}

WindowHandle SdlPlatform::CreateMainWindow(const char* title, int32_t, int32_t, int32_t width,
                                           int32_t height, uint32_t styleFlags, int32_t) {
    if (!sdlStarted_) {
        lastError_ = "Failed to create main window";
        return nullptr;
    }
    uint32_t flags = SDL_WINDOW_HIDDEN; // shown by the main loop
    if (styleFlags & WindowStylePopup) {
        flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP;
    } else if (styleFlags & WindowStyleResizable) {
        flags |= SDL_WINDOW_RESIZABLE;
    }
    window_ = SDL_CreateWindow(title ? title : "", 0, 0, width > 0 ? width : 1,
                               height > 0 ? height : 1, flags);
    if (!window_) {
        lastError_ = StringFormat("Failed to create main window: %s", SDL_GetError());
        return nullptr;
    }
    SDL_EventState(SDL_DROPFILE, (styleFlags & WindowStyleAcceptFiles) ? SDL_ENABLE : SDL_DISABLE);
    title_ = title ? title : "";
    styleFlags_ = styleFlags;
    dialogs_->SetParentWindow(window_);
    // The lock tells a second start that a window of this program is open.
    lockFile_ = open(LockFilePath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFile_ >= 0 && flock(lockFile_, LOCK_EX | LOCK_NB) != 0) {
        close(lockFile_);
        lockFile_ = -1;
    }
    return window_;
}

bool SdlPlatform::SetWindowTitle(const char* title) {
    title_ = title ? title : "";
    if (window_ && !(windowState_ & WindowFullMonitor)) {
        SDL_SetWindowTitle(window_, title_.c_str());
    }
    return true;
}

bool SdlPlatform::SetWindowMode(uint32_t mask, uint32_t value) {
    mask &= ~static_cast<uint32_t>(WindowStateReserved);
    uint32_t changed = (windowState_ & mask) ^ (value & mask);
    if (changed & WindowCursorShown) {
        SDL_ShowCursor((value & WindowCursorShown) ? SDL_ENABLE : SDL_DISABLE);
    }
    if ((changed & WindowFullMonitor) && window_) {
        // The window system keeps the windowed placement and restores it.
        SDL_SetWindowFullscreen(window_,
                                (value & WindowFullMonitor) ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    }
    windowState_ = (windowState_ & ~mask) | (value & mask);
    if ((changed & WindowFullMonitor) && mainFrame_) {
        // The whole monitor shows the view without an edge.
        mainFrame_->Root().SetFrameMode((value & WindowFullMonitor) ? 0 : 2);
        mainFrame_->SetTopOffset(GetToolbarHeight());
        mainFrame_->Layout(0);
    }
    return true;
}

void SdlPlatform::BordersOf(int32_t& top, int32_t& left, int32_t& bottom, int32_t& right) {
    top = left = bottom = right = 0;
    if (window_ && SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0) {
        top = left = bottom = right = 0;
    }
}

bool SdlPlatform::SetWindowPosition(int32_t x, int32_t y) {
    if (!window_) {
        return false;
    }
    int32_t top, left, bottom, right;
    BordersOf(top, left, bottom, right);
    if (styleFlags_ & WindowStyleClientArea) {
        SDL_SetWindowPosition(window_, x, y - GetToolbarHeight() - menuBarHeight_);
    } else {
        SDL_SetWindowPosition(window_, x + left, y + top);
    }
    return true;
}

bool SdlPlatform::SetClientSize(int32_t width, int32_t height) {
    if (!window_) {
        return false;
    }
    int32_t top, left, bottom, right;
    BordersOf(top, left, bottom, right);
    int32_t outerWidth = width;
    int32_t outerHeight = height;
    if (styleFlags_ & WindowStyleClientArea) {
        outerWidth = width + left + right;
        outerHeight = height + top + bottom + GetToolbarHeight() + menuBarHeight_;
    }
    // Without a display the work area is unknown (0 x 0): the size is taken as asked.
    Int2 workArea = GetWorkAreaSize();
    if (workArea.x > 0 && workArea.y > 0 && outerWidth > workArea.x && outerHeight > workArea.y) {
        // A window system that does not honour the maximise (none runs, or it refuses) would
        // leave the creation size: the window takes the work area's size first, its bars
        // inside it.
        SDL_SetWindowSize(window_, std::max(workArea.x - left - right, 1),
                          std::max(workArea.y - top - bottom, 1));
        SDL_MaximizeWindow(window_);
        return true;
    }
    // Nor does a window system let one side outgrow the screen: that side takes the work area's
    // extent, as the editor's 1024 x 768 view with its bars does on an 800-row screen.
    if (workArea.x > 0 && workArea.y > 0) {
        outerWidth = std::min(outerWidth, workArea.x);
        outerHeight = std::min(outerHeight, workArea.y);
    }
    int32_t clientWidth = outerWidth - left - right;
    int32_t clientHeight = outerHeight - top - bottom;
    SDL_SetWindowSize(window_, clientWidth > 0 ? clientWidth : 1,
                      clientHeight > 0 ? clientHeight : 1);
    return true;
}

Int2 SdlPlatform::GetWindowPosition() {
    if (!window_) {
        return {};
    }
    Int2 position;
    SDL_GetWindowPosition(window_, &position.x, &position.y);
    if (styleFlags_ & WindowStyleClientArea) {
        return {position.x, position.y + menuBarHeight_ + GetToolbarHeight()};
    }
    int32_t top, left, bottom, right;
    BordersOf(top, left, bottom, right);
    return {position.x - left, position.y - top};
}

Int2 SdlPlatform::GetWindowSize() {
    Int2 size = ClientSize();
    if (styleFlags_ & WindowStyleClientArea) {
        return {size.x, size.y - GetToolbarHeight()};
    }
    int32_t top, left, bottom, right;
    BordersOf(top, left, bottom, right);
    return {size.x + left + right, size.y + top + bottom + menuBarHeight_};
}

Int2 SdlPlatform::ClientSize() {
    Int2 size;
    if (window_) {
        SDL_GetWindowSize(window_, &size.x, &size.y);
        size.y = std::max(size.y - menuBarHeight_, 0);
    }
    return size;
}

void SdlPlatform::CreateMainFrame() {
    if (mainFrame_) {
        return;
    }
    mainFrame_ = std::make_unique<MainFrame>(static_cast<MainFrameHost&>(*this), true);
    mainFrame_->SetTopOffset(GetToolbarHeight());
    mainFrame_->Layout(0);
}

void SdlPlatform::CreateToolbar(int32_t, const ToolbarButton* buttons, int32_t count) {
    toolbar_.reset();
    if (!(windowState_ & WindowFullMonitor)) {
        toolbar_ = std::make_unique<Toolbar>(buttons, count);
    }
}

int32_t SdlPlatform::GetToolbarHeight() {
    return toolbar_ && !(windowState_ & WindowFullMonitor) ? ToolbarRowHeight : 0;
}

EditorPanel* SdlPlatform::GetMainFramePanel() {
    return mainFrame_ ? &mainFrame_->Root() : nullptr;
}

Int2 SdlPlatform::GetViewOrigin() {
    return mainFrame_ ? mainFrame_->Root().GetInnerOrigin() : Int2();
}

Int2 SdlPlatform::GetViewSize() {
    return mainFrame_ ? mainFrame_->Root().GetInnerSize() : ClientSize();
}

bool SdlPlatform::QueryActivePanel() {
    return mainFrame_ && mainFrame_->QueryActivePanel();
}

void SdlPlatform::SetEditorView(bool on) {
    if (mainFrame_) {
        mainFrame_->SetEditorView(on);
    }
}

void SdlPlatform::LayoutMainFrame(int32_t flag) {
    if (mainFrame_) {
        mainFrame_->Layout(flag);
    }
}

LayoutRect SdlPlatform::ClientRect() {
    const Int2 size = ClientSize();
    return {0, 0, size.x, size.y};
}

void SdlPlatform::MouseMessage(uint32_t message, uintptr_t detail, intptr_t packed) {
    // Double clicks too: a double click's second press is a press of its button.
    if (mouseHook_) {
        mouseHook_(message, detail, packed);
    }
}

void SdlPlatform::ViewResized(int32_t x, int32_t y, int32_t width, int32_t height) {
    PaintViewEdge();
    if (resizeHook_) {
        resizeHook_(x, y, width, height);
    }
}

void SdlPlatform::PaintViewEdge() {
    if (!mainFrame_ || !window_ || mainFrame_->Root().GetFrameMode() == 0) {
        return;
    }
    SDL_Surface* surface = SDL_GetWindowSurface(window_);
    if (!surface) {
        return;
    }
    const Int2 origin = mainFrame_->Root().GetOrigin();
    const Int2 size = mainFrame_->Root().GetSize();
    for (const EdgeStroke& stroke :
         SunkenEdgeStrokes({origin.x, origin.y, origin.x + size.x, origin.y + size.y})) {
        const SDL_Rect rect{stroke.rect.left, stroke.rect.top, stroke.rect.Width(),
                            stroke.rect.Height()};
        SDL_FillRect(surface, &rect,
                     SDL_MapRGB(surface->format, (stroke.color >> 16) & 0xFF,
                                (stroke.color >> 8) & 0xFF, stroke.color & 0xFF));
    }
}

void SdlPlatform::ShowCursor(CursorShape shape) {
    static constexpr SDL_SystemCursor Shapes[] = {SDL_SYSTEM_CURSOR_ARROW, SDL_SYSTEM_CURSOR_SIZEWE,
                                                  SDL_SYSTEM_CURSOR_SIZENS};
    const auto index = static_cast<size_t>(shape);
    if (index >= std::size(Shapes) || busy_) {
        return; // the wait cursor stays until the work is done
    }
    if (!shapeCursors_[index]) {
        shapeCursors_[index] = SDL_CreateSystemCursor(Shapes[index]);
    }
    if (shapeCursors_[index]) {
        SDL_SetCursor(shapeCursors_[index]);
    }
}

Int2 SdlPlatform::GetScreenSize() {
    SDL_DisplayMode mode;
    if (SDL_GetDesktopDisplayMode(0, &mode) != 0) {
        return {};
    }
    return {mode.w, mode.h};
}

Int2 SdlPlatform::GetWorkAreaOrigin() {
    SDL_Rect area;
    return SDL_GetDisplayUsableBounds(0, &area) == 0 ? Int2(area.x, area.y) : Int2();
}

Int2 SdlPlatform::GetWorkAreaSize() {
    SDL_Rect area;
    return SDL_GetDisplayUsableBounds(0, &area) == 0 ? Int2(area.w, area.h) : GetScreenSize();
}

Mouse* SdlPlatform::CreateMouse() {
    if (!mouse_) {
        mouse_ = std::make_unique<Mouse>(static_cast<PointerSource&>(*this));
    }
    return mouse_.get();
}

Keyboard* SdlPlatform::CreateKeyboard() {
    if (!keyboard_) {
        keyboard_ = std::make_unique<Keyboard>(static_cast<KeyStateSource&>(*this));
    }
    return keyboard_.get();
}

const char* SdlPlatform::GetDesktopFolder() {
    std::string folder = XdgDesktopFolder();
    desktopFolder_ = folder.empty() || folder.back() == '/' ? folder : folder + '/';
    return desktopFolder_.c_str();
}

const char* SdlPlatform::GetAppDataFolder() {
    appDataFolder_ = DataHomeFolder();
    return appDataFolder_.c_str();
}

const char* SdlPlatform::FileDialog(const char* filter, bool open, const char* initialFolder) {
    // The common dialog opened in the program's folder when told none; a chooser left to
    // itself opens on its own history instead.
    std::string folder = initialFolder ? initialFolder : "";
    if (folder.empty()) {
        folder = GetGameFolder();
    }
    fileDialogResult_ = dialogs_->FileDialog(filter, open, folder.c_str());
    return fileDialogResult_.c_str();
}

std::string SdlPlatform::GetGameFolder() {
    const FileSystem* files = GetFileSystem();
    std::string base = files ? files->GetBaseFolder() : "";
    // Built-in resources and a packed game have no folder a chooser can show.
    std::error_code error;
    if (base.empty() || !std::filesystem::is_directory(base, error)) {
        base = startFolder_;
    }
    return base;
}

const char* SdlPlatform::BrowseForFolder(const char* title, const char* initialFolder) {
    folderResult_ = dialogs_->BrowseForFolder(title, initialFolder);
    return folderResult_.c_str();
}

int32_t SdlPlatform::ShowChoiceDialog(const char* title, const char* text, const char* buttons) {
    return ShowChoiceBox(title, text, buttons);
}

const char* SdlPlatform::ShowAboutDialog() {
    switch (dialogs_->ShowAboutDialog()) {
    case DialogOk:
        return "OK";
    case DialogCancel:
        return "CANCEL";
    case DialogYes:
        return "YES";
    case DialogNo:
        return "NO";
    default:
        return "";
    }
}

void SdlPlatform::FlashWindow() {
    if (window_) {
        SDL_FlashWindow(window_, SDL_FLASH_UNTIL_FOCUSED);
    }
}

void SdlPlatform::SetBusyCursor(float progress) {
    if (!busy_ && progress < 1.0f) {
        savedCursor_ = SDL_GetCursor();
        if (!waitCursor_) {
            waitCursor_ = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_WAIT);
        }
        if (waitCursor_) {
            SDL_SetCursor(waitCursor_);
        }
        busy_ = true;
    } else if (busy_ && progress >= 1.0f) {
        if (savedCursor_) {
            SDL_SetCursor(savedCursor_);
        }
        busy_ = false;
    }
}

bool SdlPlatform::RunMainLoop() {
    for (;;) {
        if (!frameCallback_) {
            return true;
        }
        if (window_) {
            SDL_ShowWindow(window_);
        }
        if (!PumpMessages()) {
            return false;
        }
        while (!ShouldRunFrame(windowState_, startFlags_)) {
            WaitForMessage();
            if (!PumpMessages()) {
                return false;
            }
        }
        if (!RunFrame()) {
            return true;
        }
    }
}

bool SdlPlatform::RunFrame() {
    if (!frameCallback_) {
        return false;
    }
    bool keepRunning = frameCallback_();
    frameClock_.EndFrame(clock_->Counter(), frequency_);
    FrameTime = frameClock_.SmoothedTime();
    return keepRunning;
}

void SdlPlatform::WaitForMessage() {
    SDL_WaitEvent(nullptr);
}

bool SdlPlatform::PumpMessages() {
    // A stop signal closes the window once, the way the user would.
    if (StopRequested() && !stopSeen_) {
        stopSeen_ = true;
        if (!HandleClose()) {
            quitRequested_ = true;
        }
    }
    SDL_Event event;
    while (!quitRequested_ && SDL_PollEvent(&event)) {
        if (!HandleEvent(event)) {
            quitRequested_ = true;
        }
        // What the bars asked for while the event was handled runs after it.
        if (mainFrame_) {
            mainFrame_->DeliverPosted();
        }
    }
    return !quitRequested_;
}

void SdlPlatform::InjectMouseMove(Int2 window) {
    SDL_Event event = {};
    event.type = SDL_MOUSEMOTION;
    event.motion.x = window.x;
    event.motion.y = window.y;
    SDL_PushEvent(&event);
    PumpMessages();
}

void SdlPlatform::InjectButton(InjectedButton button, bool down, bool doubleClick) {
    static constexpr uint8_t SdlButtons[] = {SDL_BUTTON_LEFT, SDL_BUTTON_RIGHT, SDL_BUTTON_MIDDLE};
    SDL_Event event = {};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.button = SdlButtons[static_cast<int>(button)];
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = doubleClick ? 2 : 1;
    event.button.x = cursor_.x;
    event.button.y = cursor_.y + menuBarHeight_;
    SDL_PushEvent(&event);
    PumpMessages();
}

void SdlPlatform::InjectWheel(int32_t notches) {
    SDL_Event event = {};
    event.type = SDL_MOUSEWHEEL;
    event.wheel.y = notches;
    event.wheel.direction = SDL_MOUSEWHEEL_NORMAL;
    SDL_PushEvent(&event);
    PumpMessages();
}

void SdlPlatform::InjectKey(int32_t keyCode, bool down) {
    if (keyCode < 0 || keyCode >= KeyShift) {
        return;
    }
    const SDL_Scancode scancode = KeyScancodes[keyCode];
    // Pushed events leave SDL's own modifier state alone; the editor's keys read it.
    SDL_Keymod modifier = KMOD_NONE;
    switch (scancode) {
    case SDL_SCANCODE_LCTRL:
        modifier = KMOD_LCTRL;
        break;
    case SDL_SCANCODE_RCTRL:
        modifier = KMOD_RCTRL;
        break;
    case SDL_SCANCODE_LSHIFT:
        modifier = KMOD_LSHIFT;
        break;
    case SDL_SCANCODE_RSHIFT:
        modifier = KMOD_RSHIFT;
        break;
    case SDL_SCANCODE_LALT:
        modifier = KMOD_LALT;
        break;
    case SDL_SCANCODE_RALT:
        modifier = KMOD_RALT;
        break;
    default:
        break;
    }
    if (modifier != KMOD_NONE) {
        const int state = SDL_GetModState();
        SDL_SetModState(static_cast<SDL_Keymod>(down ? state | modifier : state & ~modifier));
    }
    SDL_Event event = {};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = SDL_GetKeyFromScancode(scancode);
    event.key.keysym.mod = static_cast<uint16_t>(SDL_GetModState());
    SDL_PushEvent(&event);
    PumpMessages();
}

void SdlPlatform::InjectText(std::string_view utf8) {
    // An SDL text event holds 31 bytes: longer texts go in pieces that end between characters.
    constexpr size_t Room = sizeof(SDL_TextInputEvent::text) - 1;
    while (!utf8.empty()) {
        size_t length = std::min(utf8.size(), Room);
        while (length < utf8.size() && length > 1 &&
               (static_cast<unsigned char>(utf8[length]) & 0xC0) == 0x80) {
            --length;
        }
        SDL_Event event = {};
        event.type = SDL_TEXTINPUT;
        std::memcpy(event.text.text, utf8.data(), length);
        SDL_PushEvent(&event);
        PumpMessages();
        utf8.remove_prefix(length);
    }
}

void SdlPlatform::InjectClose() {
    SDL_Event event = {};
    event.type = SDL_WINDOWEVENT;
    event.window.event = SDL_WINDOWEVENT_CLOSE;
    SDL_PushEvent(&event);
    PumpMessages();
}

bool SdlPlatform::Hooked(uint32_t message, uintptr_t detail, intptr_t packed) {
    return messageHook_ && messageHook_(message, detail, packed) != 0;
}

intptr_t SdlPlatform::SendWindowMessage(uint32_t message, uintptr_t detail, intptr_t packed) {
    return messageHook_ ? messageHook_(message, detail, packed) : 0;
}

bool SdlPlatform::HandleClose() {
    if (Hooked(MessageClose, 0, 0)) {
        return true; // the window stays
    }
    Hooked(MessageDestroy, 0, 0);
    return false;
}

bool SdlPlatform::HandleEvent(const SDL_Event& event) {
    // SDL follows the close of its last window with a quit of its own, right behind it.
    bool afterRefusedClose = ignoreNextQuit_;
    ignoreNextQuit_ = false;
    switch (event.type) {
    case SDL_QUIT:
        // A quit of its own (the session ending) closes the window the way the user would, so
        // the program ends through the same road.
        return afterRefusedClose || HandleClose();
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) {
            ignoreNextQuit_ = HandleClose();
            return ignoreNextQuit_;
        }
        HandleWindowEvent(event);
        return true;
    case SDL_MOUSEMOTION:
        cursor_ = {event.motion.x, event.motion.y - menuBarHeight_};
        if (mainFrame_ && mainFrame_->Captured()) {
            mainFrame_->HandleMouse(MessageMouseMove, 0, PackWords(cursor_.x, cursor_.y));
        } else if (!Hooked(MessageMouseMove, 0, PackWords(cursor_.x, cursor_.y)) && mainFrame_) {
            mainFrame_->HandleMouse(MessageMouseMove, 0, PackWords(cursor_.x, cursor_.y));
        }
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        cursor_ = {event.button.x, event.button.y - menuBarHeight_};
        bool down = event.type == SDL_MOUSEBUTTONDOWN;
        // Every second press of a series is the double click, as the engine's hooks expect.
        int form = !down ? 1 : (event.button.clicks >= 2 && event.button.clicks % 2 == 0) ? 2 : 0;
        uint32_t message;
        switch (event.button.button) {
        case SDL_BUTTON_LEFT:
            message = MessageLeftButtonDown + form;
            break;
        case SDL_BUTTON_RIGHT:
            message = MessageRightButtonDown + form;
            break;
        case SDL_BUTTON_MIDDLE:
            message = MessageMiddleButtonDown + form;
            break;
        default:
            return true;
        }
        DeliverMouse(message, 0, PackWords(cursor_.x, cursor_.y));
        return true;
    }
    case SDL_MOUSEWHEEL: {
        int32_t notches =
            event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        uintptr_t detail = static_cast<uintptr_t>(PackWords(0, notches * WheelDelta));
        DeliverMouse(MessageMouseWheel, detail, PackWords(cursor_.x, cursor_.y));
        return true;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        bool down = event.type == SDL_KEYDOWN;
        eventModifiers_ = event.key.keysym.mod;
        uint8_t scan = ScanCodeOf(event.key.keysym.scancode);
        if (scan) {
            keyState_[scan] = down ? 0x80 : 0;
            // A press is kept for the next read, even when the key is up again by then; the
            // system's repeats of a held key are no presses.
            if (down && !event.key.repeat) {
                keyPressed_[scan] = KeyPressedSinceRead;
            }
        }
        // A focused bar takes its keys, as the window holding the focus would.
        SplitterKey barKey;
        if (down && mainFrame_ && BarKeyOf(event.key.keysym.sym, barKey) &&
            mainFrame_->HandleKey(barKey)) {
            return true;
        }
        Hooked(down ? MessageKeyDown : MessageKeyUp, static_cast<uintptr_t>(event.key.keysym.sym),
               static_cast<intptr_t>(scan) << 16);
        return true;
    }
    case SDL_TEXTINPUT: {
        if (textHook_) {
            textHook_(event.text.text);
        }
        // Characters go out as Latin-1 bytes; others have no engine character.
        const auto* text = reinterpret_cast<const unsigned char*>(event.text.text);
        for (size_t at = 0; text[at];) {
            uint32_t lead = text[at++];
            if (lead < 0x80) {
                Hooked(MessageChar, lead, 0);
            } else if ((lead & 0xE0) == 0xC0 && (text[at] & 0xC0) == 0x80) {
                uint32_t character = ((lead & 0x1F) << 6) | (text[at++] & 0x3F);
                if (character <= 0xFF) {
                    Hooked(MessageChar, character, 0);
                }
            } else {
                while ((text[at] & 0xC0) == 0x80) {
                    ++at;
                }
            }
        }
        return true;
    }
    case SDL_DROPBEGIN:
        dropping_ = true;
        droppedPaths_.clear();
        return true;
    case SDL_DROPFILE:
        if (event.drop.file) {
            droppedPaths_.push_back(event.drop.file);
            SDL_free(event.drop.file);
        }
        if (!dropping_) {
            FinishDrop();
        }
        return true;
    case SDL_DROPTEXT:
        SDL_free(event.drop.file);
        return true;
    case SDL_DROPCOMPLETE:
        FinishDrop();
        return true;
    default:
        return true;
    }
}

void SdlPlatform::HandleWindowEvent(const SDL_Event& event) {
    switch (event.window.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        if (!Hooked(MessageActivateApp, 1, 0)) {
            windowState_ |= WindowActive;
        }
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        if (!Hooked(MessageActivateApp, 0, 0)) {
            // A full-monitor window gets out of the way instead of idling on top.
            if ((windowState_ & WindowFullMonitor) && window_) {
                SDL_MinimizeWindow(window_);
            } else {
                windowState_ &= ~static_cast<uint32_t>(WindowActive);
            }
        }
        break;
    case SDL_WINDOWEVENT_MINIMIZED:
        SendSize(SizeMinimized);
        break;
    case SDL_WINDOWEVENT_MAXIMIZED:
        SendSize(SizeMaximized);
        break;
    case SDL_WINDOWEVENT_RESTORED:
    case SDL_WINDOWEVENT_SIZE_CHANGED:
        SendSize(SizeRestored);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        PaintViewEdge();
        Hooked(MessagePaint, 0, 0);
        break;
    default:
        break;
    }
}

void SdlPlatform::SendSize(uintptr_t kind) {
    Int2 size = kind == SizeMinimized ? Int2() : ClientSize();
    if (Hooked(MessageSize, kind, PackWords(size.x, size.y))) {
        return;
    }
    if (kind == SizeMinimized) {
        windowState_ |= WindowMinimized;
    } else {
        windowState_ &= ~static_cast<uint32_t>(WindowMinimized);
    }
    if (mainFrame_) {
        // The frame lays itself out and tells the resize hook where the view went.
        if (kind != SizeMinimized) {
            mainFrame_->HandleSize();
        }
    } else if (resizeHook_) {
        resizeHook_(0, 0, size.x, size.y);
    }
}

void SdlPlatform::DeliverMouse(uint32_t message, uintptr_t detail, intptr_t packed) {
    // A bar that holds the capture gets the mouse wherever it is, over the UI too.
    if (mainFrame_ && mainFrame_->Captured()) {
        mainFrame_->HandleMouse(message, detail, packed);
        return;
    }
    if (Hooked(message, detail, packed)) {
        return;
    }
    if (mainFrame_) {
        mainFrame_->HandleMouse(message, detail, packed);
    } else {
        MouseMessage(message, detail, packed);
    }
}

void SdlPlatform::FinishDrop() {
    dropping_ = false;
    std::vector<std::string> paths = std::move(droppedPaths_);
    droppedPaths_.clear();
    // One file or nothing: the engine places a dropped file where it landed.
    if (paths.size() != 1 || !dropHook_ || !(styleFlags_ & WindowStyleAcceptFiles)) {
        return;
    }
    Int2 origin;
    if (window_) {
        SDL_GetWindowPosition(window_, &origin.x, &origin.y);
    }
    dropHook_(paths[0].c_str(), origin.x + cursor_.x, origin.y + menuBarHeight_ + cursor_.y);
}

bool SdlPlatform::ReadKeyState(uint8_t state[256]) {
    for (size_t scan = 0; scan < sizeof(keyState_); ++scan) {
        state[scan] = keyState_[scan] | keyPressed_[scan];
    }
    std::memset(keyPressed_, 0, sizeof(keyPressed_));
    return true;
}

bool SdlPlatform::WaitForInput() {
    SDL_WaitEventTimeout(nullptr, 100);
    return PumpMessages();
}

Int2 SdlPlatform::GetCursorPosition() {
    const Int2 view = GetViewOrigin();
    return {cursor_.x - view.x, cursor_.y - view.y};
}

void SdlPlatform::SetCursorPosition(int32_t x, int32_t y) {
    const Int2 view = GetViewOrigin();
    cursor_ = {view.x + x, view.y + y};
    if (window_) {
        SDL_WarpMouseInWindow(window_, cursor_.x, cursor_.y + menuBarHeight_);
    }
}

void SdlPlatform::SetCapture(bool capture) {
    SDL_CaptureMouse(capture ? SDL_TRUE : SDL_FALSE);
}

uint16_t GetPlatformEventModifiers() {
    const auto* platform = dynamic_cast<const SdlPlatform*>(GetPlatform());
    return platform ? platform->GetEventModifiers() : 0;
}

} // namespace quarn
