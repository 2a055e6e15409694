#include "gpu/software/WindowPresent.h"

#include "gpu/software/SoftwareTexture.h"

#include <SDL.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

struct SurfaceDeleter {
    void operator()(SDL_Surface* surface) const { SDL_FreeSurface(surface); }
};

} // namespace

bool PresentToWindow(SDL_Window* window, const SoftwareSurface& backBuffer, const GpuRect* source,
                     const GpuRect* dest) {
    SDL_Surface* target = SDL_GetWindowSurface(window);
    if (target == nullptr) {
        return false;
    }
    const auto width = static_cast<int32_t>(backBuffer.Width());
    const auto height = static_cast<int32_t>(backBuffer.Height());
    GpuRect from{0, 0, width, height};
    if (source != nullptr) {
        from.left = std::clamp(source->left, 0, width);
        from.top = std::clamp(source->top, 0, height);
        from.right = std::clamp(source->right, from.left, width);
        from.bottom = std::clamp(source->bottom, from.top, height);
    }
    if (from.right <= from.left || from.bottom <= from.top) {
        return true;
    }

    // 32-bit back buffers are shown in place; the others go through an ARGB copy first.
    const void* pixels = backBuffer.Bits();
    auto pitch = static_cast<int>(backBuffer.Pitch());
    Uint32 format = SDL_PIXELFORMAT_ARGB8888;
    std::vector<uint32_t> converted;
    if (backBuffer.Format() == GpuFormat::X8R8G8B8) {
        format = SDL_PIXELFORMAT_RGB888;
    } else if (backBuffer.Format() != GpuFormat::A8R8G8B8) {
        converted.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
        for (int32_t y = from.top; y < from.bottom; ++y) {
            for (int32_t x = from.left; x < from.right; ++x) {
                converted[static_cast<size_t>(y) * static_cast<size_t>(width) +
                          static_cast<size_t>(x)] =
                    backBuffer.ReadArgb(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
            }
        }
        pixels = converted.data();
        pitch = width * 4;
    }
    // SDL only reads through this pointer.
    std::unique_ptr<SDL_Surface, SurfaceDeleter> image(SDL_CreateRGBSurfaceWithFormatFrom(
        const_cast<void*>(pixels), width, height, 32, pitch, format));
    if (image == nullptr) {
        return false;
    }
    // The back buffer's alpha is data, not coverage: copy it over, never blend it in.
    SDL_SetSurfaceBlendMode(image.get(), SDL_BLENDMODE_NONE);
    SDL_Rect sourceRect{from.left, from.top, from.right - from.left, from.bottom - from.top};
    SDL_Rect destRect{0, 0, target->w, target->h};
    if (dest != nullptr) {
        // Bounded so the extents cannot overflow; SDL clips to the surface.
        constexpr int32_t CoordinateLimit = 1 << 20;
        const int32_t left = std::clamp(dest->left, -CoordinateLimit, CoordinateLimit);
        const int32_t top = std::clamp(dest->top, -CoordinateLimit, CoordinateLimit);
        destRect =
            SDL_Rect{left, top, std::clamp(dest->right, -CoordinateLimit, CoordinateLimit) - left,
                     std::clamp(dest->bottom, -CoordinateLimit, CoordinateLimit) - top};
        if (destRect.w <= 0 || destRect.h <= 0) {
            return true;
        }
    }
    if (SDL_BlitScaled(image.get(), &sourceRect, target, &destRect) != 0) {
        return false;
    }
    return SDL_UpdateWindowSurface(window) == 0;
}

} // namespace quarn
