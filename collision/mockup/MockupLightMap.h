#pragma once

#include "core/math/Vector.h"
#include "core/object/ValueBinding.h"
#include "device/DeviceTexture.h"
#include "device/DrawBufferShare.h"
#include "device/VertexBuffer.h"
#include "render/RenderObject.h"

#include <cstdint>

namespace quarn {

class ClassInfo;
class DeviceMesh;
class Entity;
class Node;
class Texture;

// What the mockup classes share of drawing and of their lightmaps.

// Bits of the mockups' mapflags. The bias bits are kept for the editor only.
enum MockupMapBits : uint32_t {
    MockupApplyMap = 0x1,
    MockupQuadX2 = 0x10,
    MockupQuadX4 = 0x20,
    MockupQuadX8 = 0x40,
    MockupQuadX05 = 0x80,
    MockupOffsideX = 0x100,
    MockupOffsideY = 0x200,
    MockupOffsideZ = 0x400,
};

// Position, normal, texture and lightmap coordinates.
inline constexpr uint32_t MockupVertexFormat =
    VertexPosition | VertexNormal | VertexTexCoord0 | (VertexTexCoord0 << 1);
// A new mockup tests depth too: without it nothing it draws keeps its place against what is
// drawn after it, and no shadow lands on it. Scenes store renderflags, so older files keep
// what they saved.
inline constexpr uint32_t MockupDefaultFlags =
    RenderGeometry | RenderZWrite | RenderZTest | RenderFog | RenderBilinear | RenderClickable;
// Clearing both makes the next state update rebuild the mesh and its device state.
inline constexpr uint32_t MockupMeshStateBits = RenderStateValid | RenderColorStateValid;

// Locks the texture for reading unless a lock is already held (a fill of this very lightmap
// may ask for its colours), and ends only a lock it took.
class LightMapReadLock {
public:
    explicit LightMapReadLock(DeviceTexture& texture);
    ~LightMapReadLock();
    LightMapReadLock(const LightMapReadLock&) = delete;
    LightMapReadLock& operator=(const LightMapReadLock&) = delete;

private:
    DeviceTexture& texture_;
    bool took_ = false;
};

// World units per lightmap texel: the bake settings' spacing (1 without them) times the quad
// flags of mapflags.
float MockupTexelSpacing(uint32_t mapFlags);
// The lightmap the node saved, or null when the file is missing or does not load.
Texture* LoadSavedLightMap(const Node& node);
// Writes the lightmap under the node's lightmap path; false without one.
bool SaveMockupLightMap(const Node& node, Texture* lightMap);
// Fills every texel with (b, b, b, 1), b the brightness above 1.
void FillLightMapStart(Texture* lightMap, float brightness);
// The bytes of a lightmap of that size and format.
uint64_t LightMapBytes(int64_t width, int64_t height, PixelFormat format);
// A new lightmap of the size the layout asks for, its texels held in `share`, or null with
// `ok` when the held one is of that size and not shared; `ok` false, and a log line naming the
// node, when the counts are not valid, exceed the device's largest texture or would take the
// scene's draw buffers past their total.
Texture* MakeLightMapFor(const Node& node, const char* className, bool valid, int64_t width,
                         int64_t height, Texture* held, PixelFormat format, DrawBufferShare& share,
                         bool& ok);
// The lightmap as scripts see it, given an id of the global map when it has none.
Entity* LightMapForScript(Texture* lightMap);
// The allocated device size of the lightmap and its place in an atlas; (1, 1) and (0, 0)
// without one.
void GetLightMapPlacement(Texture* lightMap, Float2& allocated, Float2& origin);
// The device state of one of the node's meshes: its texture on layer 0, the lightmap on 1,
// the texture factor last, then the node's shader, brightness and flags.
void SetMockupMeshState(RenderObject& node, DeviceMesh& mesh, VertexBuffer* vertices,
                        Texture* texture, Texture* lightMap);

// The bindings of the lightmap commands and signals, in their registration order.
struct LightMapMethods {
    MethodBinding create;
    MethodBinding init;
    MethodBinding update;
    MethodBinding save;
    MethodBinding get;
    MethodBinding size;
    MethodBinding releaseVideoMemory;
    MethodBinding restoreVideoMemory;
    MethodBinding resourceChanged;
};
// Generated names in a fixed order (compiled scripts hold them); the lightmap commands and
// signals find the first five again by their fixed names. The class listens to the lightmap
// and video-memory signals.
void RegisterLightMapMethods(ClassInfo& info, const LightMapMethods& methods);

} // namespace quarn
