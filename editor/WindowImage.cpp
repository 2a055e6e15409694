#include "editor/WindowImage.h"

#include "device/GpuRenderDevice.h"
#include "editor/UiLayer.h"

namespace quarn {

WindowImage::WindowImage(GpuRenderDevice& device) : device_(device) {
    // Default-pool memory goes with a lost device; the next frame makes the image again.
    device_.AddDeviceMemoryClient(
        [this] {
            device_.SetPresentImage(nullptr);
            image_.reset();
        },
        [] { return true; });
}

GpuSurface* WindowImage::Surface() const {
    return image_ ? image_->GetSurface(0, GpuCubeFace::PositiveX) : nullptr;
}

bool WindowImage::MakeImage(Int2 size) {
    if (image_ && size_ == size) {
        return true;
    }
    device_.SetPresentImage(nullptr);
    image_.reset();
    GpuDevice* gpu = device_.Gpu();
    if (!gpu || size.x <= 0 || size.y <= 0) {
        return false;
    }
    image_ = gpu->CreateTexture(static_cast<uint32_t>(size.x), static_cast<uint32_t>(size.y), 1,
                                GpuUsageRenderTarget, GpuFormat::A8R8G8B8, GpuPool::Default);
    size_ = size;
    return image_ != nullptr;
}

bool WindowImage::Compose(Int2 viewOrigin, Int2 viewSize, Int2 windowSize, UiLayer& ui,
                          float seconds, const std::function<void()>& widgets) {
    if (!MakeImage(windowSize)) {
        return false;
    }
    GpuDevice& gpu = *device_.Gpu();
    GpuSurface* image = Surface();
    GpuSurface* saved = gpu.GetRenderTarget(0);
    const GpuViewport viewport = gpu.GetViewport();
    const GpuRect all{0, 0, windowSize.x, windowSize.y};
    gpu.SetRenderTarget(0, image);
    gpu.Clear({&all, 1}, GpuClearTarget, 0xFF000000, 1.0f, 0);
    if (viewSize.x > 0 && viewSize.y > 0) {
        const GpuRect source{0, 0, viewSize.x, viewSize.y};
        const GpuRect dest{viewOrigin.x, viewOrigin.y, viewOrigin.x + viewSize.x,
                           viewOrigin.y + viewSize.y};
        gpu.StretchRect(gpu.GetBackBuffer(), &source, image, &dest);
    }
    gpu.BeginScene();
    ui.BeginFrame(static_cast<uint32_t>(windowSize.x), static_cast<uint32_t>(windowSize.y),
                  seconds);
    if (widgets) {
        widgets();
    }
    ui.EndFrame();
    gpu.EndScene();
    gpu.SetRenderTarget(0, saved);
    gpu.SetViewport(viewport);
    device_.SetPresentImage(image);
    return true;
}

} // namespace quarn
