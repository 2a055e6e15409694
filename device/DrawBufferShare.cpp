#include "device/DrawBufferShare.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/Entity.h"
#include "device/VertexBuffer.h"

namespace quarn {

namespace {

uint64_t sceneBytes = 0;
bool toldFull = false;

} // namespace

uint64_t DrawBufferShare::SceneBytes() {
    return sceneBytes;
}

uint64_t DrawBufferShare::MeshBytes(uint64_t vertices, uint32_t format, uint64_t indices,
                                    uint32_t indexBytes) {
    return vertices * VertexLayout::FromFormat(format).stride * 4 + indices * indexBytes;
}

bool DrawBufferShare::Hold(uint64_t bytes, const Entity* holder, const char* without) {
    const uint64_t others = sceneBytes - bytes_;
    if (bytes > SceneByteLimit || others > SceneByteLimit - bytes) {
        if (!toldFull && holder) {
            LogMessage("%s '%s' (id %u) %s: its %llu bytes of draw buffers would take the "
                       "scene's past %llu; others past it are not told",
                       holder->GetClass()->GetName(), holder->GetName().c_str(), holder->GetId(),
                       without, static_cast<unsigned long long>(bytes),
                       static_cast<unsigned long long>(SceneByteLimit));
        } else if (!toldFull) {
            LogMessage("A merged batch of %llu bytes would take the scene's draw buffers past "
                       "%llu: its meshes are drawn one by one; others past it are not told",
                       static_cast<unsigned long long>(bytes),
                       static_cast<unsigned long long>(SceneByteLimit));
        }
        toldFull = true;
        return false;
    }
    sceneBytes = others + bytes;
    bytes_ = bytes;
    return true;
}

void DrawBufferShare::Release() {
    if (bytes_ == 0) {
        return;
    }
    sceneBytes -= bytes_;
    bytes_ = 0;
    if (sceneBytes == 0) {
        toldFull = false;
    }
}

} // namespace quarn
