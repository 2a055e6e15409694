#include "app/editor/EditorMessageHook.h"

#include "app/editor/EditorCommands.h"
#include "app/platform/Platform.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/StopSignal.h"
#include "app/platform/WindowMessage.h"
#include "app/player/Engine.h"
#include "app/player/SceneCommands.h"
#include "core/filesystem/SettingsFile.h"
#include "device/RenderDevice.h"

#include <SDL.h>

namespace quarn {

namespace {

void PresentAgain(Platform& platform) {
    if (RenderDevice* device = TheRenderDevice()) {
        Int2 origin = platform.GetViewOrigin();
        Int2 size = platform.GetViewSize();
        device->SetPresentRectangle(origin.x, origin.y, size.x, size.y);
        device->Present();
    }
}

// False when the user keeps the scene, and with it the window.
bool Close(Platform& platform) {
    // With a scene loaded the process ends here. The player's close asks nothing, and neither
    // does a stop signal's: the process ends within a second of it, with no time for an answer.
    if (!CloseScene(IsStandalone() || StopRequested())) {
        return false;
    }
    Int2 position = platform.GetWindowPosition();
    Int2 size = platform.GetWindowSize();
    GetUserSettings().SetInt2("editor_windowpos", position.x, position.y);
    GetUserSettings().SetInt2("editor_windowsize", size.x, size.y);
    return true;
}

} // namespace

intptr_t EditorMessageHook(uint32_t message, uintptr_t wParam, intptr_t) {
    // The input-method filter comes first; it handles no message.
    Platform& platform = *GetPlatform();
    switch (message) {
    case MessagePaint:
        PresentAgain(platform);
        break;
    case MessageClose:
        if (!Close(platform)) {
            return 1; // the window stays
        }
        break;
    case MessageKeyDown:
        // Only the editor's keys. In the player the current scene path is the game's own scene
        // file, and Ctrl+S would write the running game's state over it.
        if (!IsStandalone() && (GetPlatformEventModifiers() & KMOD_CTRL)) {
            if (wParam == SDLK_h) {
                ToggleFullscreenView();
            } else if (wParam == SDLK_s) {
                SaveCurrentScene(); // the same files as File > Save
            }
        }
        break;
    case MessageCommand:
        DispatchCommand(static_cast<uint32_t>(wParam & 0xFFFFu));
        break;
    default:
        break;
    }
    return 0;
}

void ToggleFullscreenView() {
    Platform& platform = *GetPlatform();
    bool fullMonitor = platform.TestWindowState(WindowFullMonitor) != 0;
    platform.SetWindowMode(WindowFullMonitor, fullMonitor ? 0u : WindowFullMonitor);
    platform.LayoutMainFrame(0);
}

} // namespace quarn
