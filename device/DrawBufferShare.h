#pragma once

// What nodes hold in draw buffers of their own, summed over the run: vertex, index and texture
// data made for one node (a shadow volume's doubled vertices, a field of grass, a text plate's
// glyphs, a model's vertex colours, a mockup's lightmap) and the batch store's merged meshes,
// not the resources nodes share. Each kind bounds what one node holds, but a scene of a thousand
// such nodes could hold gigabytes together. A holder takes its share before it builds and builds
// nothing where the total would pass SceneByteLimit; the first holder refused is named in one
// log line, later ones only once every share has been given back (a new scene).

#include <cstdint>

namespace quarn {

class Entity;

class DrawBufferShare {
public:
    // Tests lower it.
    static inline uint64_t SceneByteLimit = uint64_t{512} << 20;
    // What every share holds together.
    static uint64_t SceneBytes();
    // The bytes of a mesh's data: vertices of the vertex format, indices of indexBytes each.
    static uint64_t MeshBytes(uint64_t vertices, uint32_t format, uint64_t indices,
                              uint32_t indexBytes);

    DrawBufferShare() = default;
    ~DrawBufferShare() { Release(); }
    DrawBufferShare(const DrawBufferShare&) = delete;
    DrawBufferShare& operator=(const DrawBufferShare&) = delete;

    // Holds `bytes` in place of what the share held; false where the scene's total would pass
    // the limit, the share keeping what it held (what it held is still there until its holder
    // frees it and calls Release). The line names `holder` (null: a merged batch) and what it
    // does without them.
    bool Hold(uint64_t bytes, const Entity* holder, const char* without = "is not drawn");
    void Release();
    uint64_t Bytes() const { return bytes_; }

private:
    uint64_t bytes_ = 0;
};

} // namespace quarn
