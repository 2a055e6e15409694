#include "resources/TextureSampling.h"

#include "core/math/Color.h"
#include "device/DeviceTexture.h"

#include <algorithm>
#include <cmath>

namespace quarn {
namespace {

// The texel corner (x0, y0) and the fractions towards x0 + 1, y0 + 1 of a texture position.
struct BilinearCell {
    int32_t x0 = 0;
    int32_t y0 = 0;
    float fx = 0.0f;
    float fy = 0.0f;
};

// A coordinate far outside the image, infinite or NaN has no integer of its own: it is brought
// to just past the edge first, where the clamp of each texel read takes over.
float BoundedCoordinate(float value, int32_t size) {
    if (!std::isfinite(value)) {
        return 0.0f;
    }
    return std::clamp(value, -1.0f, static_cast<float>(std::max(size, 1)));
}

BilinearCell CellAt(const DeviceTexture& texture, float u, float v) {
    const Float2 position =
        texture.UVToTexelCoord(std::isfinite(u) ? u : 0.0f, std::isfinite(v) ? v : 0.0f);
    const float x = BoundedCoordinate(position.x, texture.GetSize().x);
    const float y = BoundedCoordinate(position.y, texture.GetSize().y);
    const float x0 = std::floor(x);
    const float y0 = std::floor(y);
    return {static_cast<int32_t>(x0), static_cast<int32_t>(y0), x - x0, y - y0};
}

uint32_t ClampedTexel(const DeviceTexture& texture, int32_t x, int32_t y) {
    ClampTexelCoord(texture, x, y);
    return texture.GetPixel(x, y);
}

} // namespace

bool ClampTexelCoord(const DeviceTexture& texture, int32_t& x, int32_t& y) {
    const Int2 size = texture.GetSize();
    bool clamped = false;
    if (x < 0 || x >= size.x) {
        x = x < 0 ? 0 : size.x - 1;
        clamped = true;
    }
    if (y < 0 || y >= size.y) {
        y = y < 0 ? 0 : size.y - 1;
        clamped = true;
    }
    return clamped;
}

Float4 SampleTexelFloat4(const DeviceTexture& texture, const TexelSample& sample) {
    int32_t x = sample.x;
    int32_t y = sample.y;
    if (ClampTexelCoord(texture, x, y) && !sample.clamp) {
        return {};
    }
    return texture.GetPixelFloat4(x, y);
}

uint32_t SampleTextureBilinear(const DeviceTexture& texture, float u, float v) {
    const BilinearCell cell = CellAt(texture, u, v);
    const uint32_t t00 = ClampedTexel(texture, cell.x0, cell.y0);
    const uint32_t t10 = ClampedTexel(texture, cell.x0 + 1, cell.y0);
    const uint32_t t01 = ClampedTexel(texture, cell.x0, cell.y0 + 1);
    const uint32_t t11 = ClampedTexel(texture, cell.x0 + 1, cell.y0 + 1);
    const auto wx = static_cast<int32_t>(cell.fx * 256.0f);
    const auto wy = static_cast<int32_t>(cell.fy * 256.0f);
    return BlendColor(BlendColor(t11, t01, wx), BlendColor(t10, t00, wx), wy);
}

Float4 SampleTextureBilinearFloat4(const DeviceTexture& texture, float u, float v) {
    const BilinearCell cell = CellAt(texture, u, v);
    const Float4 t00 = SampleTexelFloat4(texture, {cell.x0, cell.y0, true});
    const Float4 t10 = SampleTexelFloat4(texture, {cell.x0 + 1, cell.y0, true});
    const Float4 t01 = SampleTexelFloat4(texture, {cell.x0, cell.y0 + 1, true});
    const Float4 t11 = SampleTexelFloat4(texture, {cell.x0 + 1, cell.y0 + 1, true});
    return Float4Lerp(Float4Lerp(t11, t01, cell.fx), Float4Lerp(t10, t00, cell.fx), cell.fy);
}

} // namespace quarn
