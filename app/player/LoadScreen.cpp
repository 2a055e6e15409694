#include "app/player/LoadScreen.h"

#include "app/platform/Platform.h"
#include "app/platform/StopSignal.h"
#include "app/player/Engine.h"
#include "core/filesystem/SettingsFile.h"
#include "device/DeviceTexture.h"
#include "device/RenderDevice.h"
#include "resources/DynamicMesh.h"
#include "resources/Texture.h"

namespace quarn {

namespace {

// Loaded once per run: a later "loadscreen_image" changes nothing.
Texture* image = nullptr;

// A frame drawn in software costs milliseconds, an object loaded microseconds: between a load's
// first and last report, one drawn per this many seconds at most.
constexpr double ProgressDrawInterval = 0.25;
double lastProgressDraw = 0.0;

// The image centred across, at its own pixel size, its lower edge 64 pixels above the middle.
void DrawImage(const char* path, float width, float height) {
    if (!image) {
        image = GetTexture(path, "");
    }
    DeviceTexture* texture = image ? image->GetDeviceTexture() : nullptr;
    if (!texture) {
        return;
    }
    float imageWidth = static_cast<float>(texture->GetSize().x);
    float imageHeight = static_cast<float>(texture->GetSize().y);
    texture->DrawToScreen(0.0f, 0.0f, imageWidth, imageHeight, (width - imageWidth) / 2.0f,
                          height / 2.0f - imageHeight - 64.0f, (width + imageWidth) / 2.0f,
                          height / 2.0f - 64.0f);
}

} // namespace

void ShowLoadScreen(float progress, const char* text) {
    RenderDevice* device = TheRenderDevice();
    if (!device || !device->BeginScene()) {
        return;
    }
    const SettingsFile& config = GetMainSettings();
    Int2 view = device->GetViewportSize();
    device->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil,
                  static_cast<uint32_t>(config.GetInt("loadscreen_color_bg")));
    const float width = static_cast<float>(view.x);
    const float height = static_cast<float>(view.y);
    const char* imagePath = config.GetString("loadscreen_image");
    if (progress > 0.0f && *imagePath) {
        DrawImage(imagePath, width, height);
    }
    // A bar 4 pixels high across the middle half; a progress above 1 fills past its end.
    DrawScreenQuadNow(0.25f * width, 0.5f * height - 2.0f, 0.75f * width, 0.5f * height + 2.0f,
                      static_cast<uint32_t>(config.GetInt("loadscreen_color_bar_empty")));
    DrawScreenQuadNow(0.25f * width, 0.5f * height - 2.0f, 0.25f * width + 0.5f * width * progress,
                      0.5f * height + 2.0f,
                      static_cast<uint32_t>(config.GetInt("loadscreen_color_bar_full")));
    if (config.GetBool("loadscreen_show_text")) {
        DrawScreenText(0.25f * width + 2.0f, 0.5f * height - 20.0f, text,
                       static_cast<uint32_t>(config.GetInt("loadscreen_color_text")));
    }
    device->EndScene();
    device->Present();
}

void ShowLoadProgress(int32_t, float progress, const char* text) {
    // A stop asked for while a scene loads ends the process here, as the close it stands for
    // would once the load was done; the scene is not run.
    if (StopRequested()) {
        ExitProgram();
    }
    Platform* platform = GetPlatform();
    const double now = platform ? platform->GetTime() : 0.0;
    if (progress > 0.0f && progress < 1.0f && now - lastProgressDraw < ProgressDrawInterval) {
        return;
    }
    lastProgressDraw = now;
    ShowLoadScreen(progress, text);
}

} // namespace quarn
