#include "tools/EditorShotTool.h"

#include "app/editor/EditorMenus.h"
#include "app/editor/EditorSettings.h"
#include "app/editor/EditorUi.h"
#include "app/platform/SdlPlatform.h"
#include "app/platform/StopSignal.h"
#include "app/player/Engine.h"
#include "app/player/InputScript.h"
#include "codecs/PngEncoder.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/string/Text.h"
#include "editor/EditorMenu.h"
#include "editor/Toolbar.h"
#include "editor/UiLayer.h"
#include "gpu/software/SoftwareTexture.h"
#include "tools/HeadlessPlayer.h"
#include "tools/ToolOptions.h"
#include "tools/ToolStatus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarn {

namespace {

// The editor's platform for pictures: the window has exactly the size asked, whatever the
// user's settings or a screen say, and every frame steps by 1/60 s, so a picture repeats.
class ShotPlatform final : public SdlPlatform {
public:
    explicit ShotPlatform(Int2 size) : SdlPlatform(""), size_(size) {}
    float GetFrameTime() override { return Step; }
    float GetRawFrameTime() override { return Step; }
    Int2 GetScreenSize() override { return {}; }
    Int2 GetWorkAreaSize() override { return {}; }
    // The asked size is the whole window's, the menu bar's rows included, and it places the
    // window at start-up only: a later size (the View menu's) is taken as the window takes it.
    bool SetClientSize(int32_t width, int32_t height) override {
        if (std::exchange(placed_, true) || size_.x <= 0) {
            return SdlPlatform::SetClientSize(width, height);
        }
        return SdlPlatform::SetClientSize(size_.x,
                                          size_.y - GetMenuBarHeight() - GetToolbarHeight());
    }

private:
    static constexpr float Step = 1.0f / 60.0f;
    Int2 size_;
    bool placed_ = false;
};

// Where the picture goes; the exit handler writes it too.
std::string shotPath;

// The last composed window image, written whole as PNG; false with the reason.
bool WriteShot(std::string& reason) {
    auto* image = dynamic_cast<SoftwareSurface*>(GetEditorWindowImage());
    if (!image) {
        reason = "no frame was shown";
        return false;
    }
    const GpuSurfaceDesc desc = image->GetDesc();
    std::vector<uint8_t> rgba(static_cast<size_t>(desc.width) * desc.height * 4);
    uint8_t* at = rgba.data();
    for (uint32_t y = 0; y < desc.height; ++y) {
        for (uint32_t x = 0; x < desc.width; ++x, at += 4) {
            // What a window shows has no alpha to keep.
            const uint32_t pixel = image->ReadArgb(x, y);
            at[0] = static_cast<uint8_t>(pixel >> 16);
            at[1] = static_cast<uint8_t>(pixel >> 8);
            at[2] = static_cast<uint8_t>(pixel);
            at[3] = 0xFF;
        }
    }
    std::vector<uint8_t> file;
    PngEncoder encoder;
    if (uint32_t error = encoder.Encode(file, rgba.data(), desc.width, desc.height)) {
        reason = StringFormat("cannot encode %s: PNG error %u", shotPath.c_str(), error);
        return false;
    }
    const UserChoiceScope picked;
    if (!WriteWholeFile(shotPath.c_str(), file, WriteCreateFolders)) {
        reason = "cannot write " + shotPath;
        return false;
    }
    return true;
}

// The picture, then the run's verdict: an input step that did nothing fails it, though the
// picture is kept to show what went wrong.
bool FinishShot(std::string& reason) {
    FinishInputScript();
    if (StopRequested()) {
        reason = ToolStopReason();
        return false;
    }
    if (!WriteShot(reason)) {
        return false;
    }
    if (const uint32_t warnings = GetInputScriptWarningCount()) {
        reason =
            StringFormat("%u input script step%s did nothing", warnings, warnings == 1 ? "" : "s");
        return false;
    }
    return true;
}

constexpr uint32_t LastRecentFile = RecentFileCommandBase + static_cast<uint32_t>(MaxRecentFiles);

void ListMenuItems(const std::vector<MenuItem>& items, const std::string& path, std::string& list) {
    for (const MenuItem& item : items) {
        if (item.submenu) {
            ListMenuItems(item.items, path + item.text + " > ", list);
        } else if (item.id == RecentFileCommandBase + 1) {
            list += StringFormat("  cmd:%u .. cmd:%u  %sthe recent files, newest first\n", item.id,
                                 LastRecentFile, path.c_str());
        } else if (item.id > RecentFileCommandBase + 1 && item.id <= LastRecentFile) {
            continue;
        } else if (item.id != 0 && item.text != "<none>") {
            list += StringFormat("  cmd:%u  %s%s\n", item.id, path.c_str(), item.text.c_str());
        }
    }
}

} // namespace

std::string ListEditorCommands() {
    std::string list;
    ListMenuItems(MakeMainMenu().Menus(), "", list);
    return list;
}

int RunEditorShotTool(char** arguments, std::string& reason) {
    const std::string folder = arguments[0];
    Int2 size;
    int32_t frames = 1;
    std::string input;
    for (int at = 2; arguments[at]; at += 2) {
        const char* option = arguments[at];
        const char* value = arguments[at + 1];
        if (!value) {
            reason = std::string(option) + " needs a value";
            return ExitUsage;
        }
        bool good = true;
        if (std::strcmp(option, "--size") == 0) {
            good = ParseSize(value, size) && size.y > UiMenuBarHeight + ToolbarRowHeight;
            if (!good) {
                reason = StringFormat("--size must be WxH, two whole numbers from 1 to %d with "
                                      "more than %d rows, not \"%s\"",
                                      MostPictureSide, UiMenuBarHeight + ToolbarRowHeight, value);
            }
        } else if (std::strcmp(option, "--frames") == 0) {
            good = ParsePositive(value, frames);
            if (!good) {
                reason = StringFormat("--frames must be a whole number above 0, not \"%s\"", value);
            }
        } else if (std::strcmp(option, "--input") == 0) {
            input = value;
        } else {
            reason = StringFormat("unknown option \"%s\"", option);
            return ExitUsage;
        }
        if (!good) {
            return ExitUsage;
        }
    }
    // Paths are the tool user's, taken before the run moves into the game's folder.
    const std::filesystem::path here = std::filesystem::current_path();
    shotPath = (here / arguments[1]).lexically_normal().string();
    if (!input.empty()) {
        setenv("QUARN_INPUT", (here / input).lexically_normal().c_str(), 1);
    } else {
        unsetenv("QUARN_INPUT");
    }
    if (chdir(folder.c_str()) != 0) {
        reason = "cannot enter " + folder;
        return ExitFailed;
    }
    // Nothing may wait for a display, a sound card or an answer.
    setenv("SDL_VIDEODRIVER", "offscreen", 1);
    setenv("ALSOFT_DRIVERS", "null", 1);
    setenv("QUARN_DIALOGS", "script", 1);
    LogToStandardErrorWhenAsked();
    if (!LoadInputScriptWhenAsked(reason)) {
        return ExitFailed;
    }
    WatchToolStopSignals("frames", frames, std::string(arguments[1]) + " is not written");
    EngineSetup setup;
    setup.editor = true;
    setup.leaveEngineSettings = true;
    setup.makePlatform = [size] { return new ShotPlatform(size); };
    if (!InitEngine(setup)) {
        reason = StartUpError();
        return ExitFailed;
    }
    // A close ends the process there; what the window showed last is the picture. A stop, too,
    // ends it there, but without a picture, which would pass for the last one.
    SetExitHandler([] {
        std::string why;
        if (!FinishShot(why)) {
            std::fprintf(stderr, "quarn-tool: %s\n", why.c_str());
            std::exit(ExitFailed);
        }
        std::exit(ExitDone);
    });
    int32_t count = 0;
    GetPlatform()->SetFrameCallback([&] {
        if (!FrameUpdate()) {
            return false;
        }
        CountToolStep();
        return ++count < frames;
    });
    GetPlatform()->RunMainLoop();
    SetExitHandler(nullptr);
    return FinishShot(reason) ? ExitDone : ExitFailed;
}

} // namespace quarn
