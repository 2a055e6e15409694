#pragma once

// Image files to device textures and back: files the device reads itself (DDS) go to it, every
// other format goes through the program-wide image codecs.

#include "device/DeviceTexture.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

class ImageCodec;

// A new texture of the render device holding the image at `path`, created with `format`, `kind`
// and creation `flags`; null on failure with `error` set to "Unknown format", "Invalid
// texture", "Failed to create texture", "Load error" or, for a DDS file, the device's own text.
// Large JPEG images are decoded at a fraction of their size to fit the device's limit.
std::unique_ptr<DeviceTexture> LoadImageTexture(const char* path, PixelFormat format,
                                                TextureKind kind, uint32_t flags,
                                                std::string& error);

// The extensions of the files LoadImageTexture reads: the device's own, then the codecs'.
std::vector<std::string> GetImageTextureExtensions();

// Writes the texture's rectangle at (left, top) of width x height to `path` with the first
// codec that can save the path's extension, creating missing folders. True only when the file
// arrived whole; on false an earlier file at `path` is left as it was.
bool SaveImageFile(const char* path, DeviceTexture* texture, int32_t left, int32_t top,
                   int32_t width, int32_t height);
// The same through a given codec.
bool SaveImageFileWith(ImageCodec& codec, const char* path, DeviceTexture* texture, int32_t left,
                       int32_t top, int32_t width, int32_t height);

} // namespace quarn
