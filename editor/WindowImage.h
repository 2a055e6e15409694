#pragma once

// What the editor's window shows: the view's part of the back buffer copied to the view's place
// in a window-sized image, the UI drawn over it. The back buffer keeps only the scene.

#include "core/math/Vector.h"
#include "gpu/GpuLayer.h"

#include <functional>
#include <memory>

namespace quarn {

class GpuRenderDevice;
class UiLayer;

class WindowImage {
public:
    // Lives as long as the device: it registers itself for device loss.
    explicit WindowImage(GpuRenderDevice& device);
    WindowImage(const WindowImage&) = delete;
    WindowImage& operator=(const WindowImage&) = delete;

    // Composes the frame and has the device present it in place of the back buffer. False when
    // the image cannot be made: the back buffer is presented as before.
    bool Compose(Int2 viewOrigin, Int2 viewSize, Int2 windowSize, UiLayer& ui, float seconds,
                 const std::function<void()>& widgets);
    // The last composed image; null before the first.
    GpuSurface* Surface() const;

private:
    bool MakeImage(Int2 size);

    GpuRenderDevice& device_;
    std::unique_ptr<GpuTexture> image_;
    Int2 size_;
};

} // namespace quarn
