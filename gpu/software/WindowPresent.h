#pragma once

// Shows a software back buffer in an SDL window.

#include "gpu/GpuLayer.h"

struct SDL_Window;

namespace quarn {

class SoftwareSurface;

// Copies source (nullptr = the whole back buffer) into dest of the window's surface (nullptr =
// the whole window surface), converting the pixel format and stretching as needed, so a window
// resized since the device was made still shows the whole frame. Answers false when the window
// has no surface or the copy fails; an empty source rect copies nothing and succeeds.
bool PresentToWindow(SDL_Window* window, const SoftwareSurface& backBuffer, const GpuRect* source,
                     const GpuRect* dest);

} // namespace quarn
