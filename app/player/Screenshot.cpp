#include "app/player/Screenshot.h"

#include "app/platform/Platform.h"
#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/os/BusyCursor.h"
#include "core/string/Text.h"
#include "device/DeviceTexture.h"
#include "device/ImageTexture.h"
#include "device/RenderDevice.h"

#include <algorithm>

namespace quarn {

namespace {

std::string screenshotFolder = ".";

} // namespace

void SetScreenshotFolder(const char* folder) {
    screenshotFolder = folder ? folder : "";
}

const std::string& GetScreenshotFolder() {
    return screenshotFolder;
}

std::string NextScreenshotPath(const char* extension) {
    // The folder itself is made by the save, through the file system, so that it lands below
    // the base folder and not below whatever folder the process happens to run in.
    FileSystem* files = GetFileSystem();
    // A game's "resource_path" may put its base folder outside the game, and its "Screenshots"
    // may be a link leading out: the user's key writes inside the game's own folder, never
    // where a downloaded game points it.
    std::string folder = screenshotFolder + "/Screenshots";
    if (files && !files->IsInsideGame(folder.c_str(), 0)) {
        folder = std::string(files->GetGameRoot()) + "Screenshots";
        if (!files->IsInsideGame(folder.c_str(), 0)) {
            return "";
        }
    }
    for (uint32_t number = 1;; ++number) {
        std::string path =
            StringFormat("%s/screenshot%04u.%s", folder.c_str(), number, extension);
        if (!files || !files->Exists(path.c_str())) {
            return path;
        }
    }
}

void TakeScreenshot(const char* extension) {
    ShowBusyCursor(0.0f, "Taking screenshot");
    Platform* platform = GetPlatform();
    const Int2 view = platform ? platform->GetViewSize() : Int2(0, 0);
    RenderDevice* device = TheRenderDevice();
    std::unique_ptr<DeviceTexture> backBuffer = device ? device->GetBackBuffer() : nullptr;
    if (!backBuffer) {
        LogMessage("Screenshort failed - could not retrieve back-buffer.");
    } else {
        // A view larger than the back buffer would read past its end: the cut stays inside it.
        const Int2 whole = backBuffer->GetSize();
        const Int2 size(std::min(view.x, whole.x), std::min(view.y, whole.y));
        backBuffer->SetSize(size.x, size.y);
        const std::string path = NextScreenshotPath(extension);
        ClearFileFailure();
        if (path.empty()) {
            LogMessage("Screenshot failed: the game's Screenshots folder leads outside its "
                       "folder.");
        } else if (SaveImageFile(path.c_str(), backBuffer.get(), 0, 0, size.x, size.y)) {
            LogMessage("Screenshot saved as %s", path.c_str());
        } else {
            LogMessage("Screenshot failed during save.");
            if (*LastFileFailure()) {
                LogMessage("Screenshot %s cannot be written: %s", path.c_str(), LastFileFailure());
            }
        }
    }
    ShowBusyCursor(1.0f, "");
}

} // namespace quarn
