#include "collision/mockup/MockupLightMap.h"

#include "core/debug/Log.h"
#include "core/object/ClassInfo.h"
#include "core/object/IdMap.h"
#include "core/object/MethodInfo.h"
#include "core/object/Signals.h"
#include "device/DeviceMesh.h"
#include "device/RenderDevice.h"
#include "render/LightBakeSettings.h"
#include "render/LightMapPath.h"
#include "resources/EffectShader.h"
#include "resources/Texture.h"

#include <cstring>

namespace quarn {

LightMapReadLock::LightMapReadLock(DeviceTexture& texture) : texture_(texture) {
    took_ = texture.GetLockMode() == TextureUnlocked && texture.Lock(TextureLockRead, 0);
}

LightMapReadLock::~LightMapReadLock() {
    if (took_) {
        texture_.Lock(TextureUnlocked, 0);
    }
}

float MockupTexelSpacing(uint32_t mapFlags) {
    const LightBakeSettings* settings = GetLightBakeSettings();
    float d = settings ? settings->texelSpacing : 1.0f;
    if (mapFlags & MockupQuadX2) {
        d *= 2.0f;
    }
    if (mapFlags & MockupQuadX4) {
        d *= 4.0f;
    }
    if (mapFlags & MockupQuadX8) {
        d *= 8.0f;
    }
    if (mapFlags & MockupQuadX05) {
        d *= 0.5f;
    }
    return d;
}

Texture* LoadSavedLightMap(const Node& node) {
    const PathString path = BuildLightMapPath(node, "bmp");
    Texture* loaded = GetTexture(path.Text(), "");
    if (loaded && loaded->GetState() != ResourceLoaded && loaded->GetState() != ResourceShared) {
        loaded->Release();
        loaded = nullptr;
    }
    return loaded;
}

bool SaveMockupLightMap(const Node& node, Texture* lightMap) {
    if (!lightMap) {
        return false;
    }
    const PathString path = BuildLightMapPath(node, "bmp");
    lightMap->SetFileName(path.Text(), "", true);
    return true;
}

void FillLightMapStart(Texture* lightMap, float brightness) {
    DeviceTexture* map = lightMap ? lightMap->GetDeviceTexture() : nullptr;
    if (!map) {
        return;
    }
    float b = brightness - 1.0f;
    if (!(b >= 0.0f)) {
        b = 0.0f;
    }
    map->Lock(TextureLockWrite, 0);
    const Int2 size = map->GetSize();
    for (int32_t y = 0; y < size.y; ++y) {
        for (int32_t x = 0; x < size.x; ++x) {
            map->SetPixelFloat4(x, y, b, b, b, 1.0f);
        }
    }
    map->Lock(TextureUnlocked, 0);
}

uint64_t LightMapBytes(int64_t width, int64_t height, PixelFormat format) {
    return uint64_t(width) * uint64_t(height) * GetPixelFormatRecord(format).bitsPerPixel / 8;
}

Texture* MakeLightMapFor(const Node& node, const char* className, bool valid, int64_t width,
                         int64_t height, Texture* held, PixelFormat format, DrawBufferShare& share,
                         bool& ok) {
    RenderDevice* device = TheRenderDevice();
    const int64_t largest = device ? device->GetMaxTextureSize() : 0;
    ok = valid && width <= largest && height <= largest;
    if (!ok) {
        LogMessage("%s '%s': no lightmap, its texel counts exceed the largest texture", className,
                   node.GetName().c_str());
        return nullptr;
    }
    const auto w = static_cast<int32_t>(width);
    const auto h = static_cast<int32_t>(height);
    DeviceTexture* current = held ? held->GetDeviceTexture() : nullptr;
    const Int2 size = current ? current->GetSize() : Int2{};
    if (held && size.x == w && size.y == h && held->GetReferenceCount() < 2) {
        return nullptr;
    }
    if (!share.Hold(LightMapBytes(width, height, format), &node, "makes no lightmap")) {
        ok = false;
        return nullptr;
    }
    return new Texture(w, h, format, TextureKind::Texture2D, 0);
}

Entity* LightMapForScript(Texture* lightMap) {
    if (lightMap && lightMap->GetId() == 0) {
        // Scripts hold entities by id.
        lightMap->ChangeId(TheIdMap().GetFreeLocalId(0));
    }
    return lightMap;
}

void GetLightMapPlacement(Texture* lightMap, Float2& allocated, Float2& origin) {
    DeviceTexture* map = lightMap ? lightMap->GetDeviceTexture() : nullptr;
    allocated = Float2(1.0f, 1.0f);
    origin = Float2();
    if (map) {
        allocated = Float2(static_cast<float>(map->GetAllocatedSize().x),
                           static_cast<float>(map->GetAllocatedSize().y));
        origin = Float2(static_cast<float>(lightMap->GetLeft()),
                        static_cast<float>(lightMap->GetTop()));
    }
}

void SetMockupMeshState(RenderObject& node, DeviceMesh& mesh, VertexBuffer* vertices,
                        Texture* texture, Texture* lightMap) {
    mesh.SetVertexStream(vertices, 0);
    const uint32_t factor = node.GetTextureFactor();
    const uint32_t layers = 1 + (lightMap ? 1 : 0) + (factor != 0xFFFFFFFF ? 1 : 0);
    mesh.SetLayerCount(layers);
    mesh.SetLayer(0, texture ? texture->GetDeviceTexture() : nullptr,
                  static_cast<BlendMode>(node.GetBlendMode()));
    if (lightMap) {
        mesh.SetLayer(1, lightMap->GetDeviceTexture(), static_cast<BlendMode>(0));
    }
    if (factor != 0xFFFFFFFF) {
        mesh.SetLayer(layers - 1, nullptr, static_cast<BlendMode>(0));
    }
    mesh.SetColor(factor);
    EffectShader* shader = node.GetEffectShader();
    mesh.SetShader(shader ? shader->GetShader() : nullptr);
    const float b = node.GetBrightness();
    mesh.SetShaderParameter(Float4(b, b, b, b));
    mesh.SetRenderFlagsWord(node.GetDeviceRenderFlags());
    mesh.SetStencilMode(node.GetStencilMode());
}

void RegisterLightMapMethods(ClassInfo& info, const LightMapMethods& methods) {
    constexpr uint32_t LightMapCommand = MethodEditorOnly | MethodSignalHandler;
    struct Command {
        const char* name;
        const char* signature;
        const MethodBinding& binding;
    };
    const Command commands[] = {
        {"CreateLightMap", "", methods.create}, {"InitLightMap", "", methods.init},
        {"UpdateLightMap", "", methods.update}, {"SaveLightMap", "", methods.save},
        {"GetLightMap", "():Texture", methods.get},
    };
    // Saving writes the lightmap's image, under either of its names.
    const auto add = [&info](const char* name, const Command& command) {
        MethodInfo* method =
            info.AddMethod(name, command.signature, command.binding, LightMapCommand);
        if (std::strcmp(command.name, "SaveLightMap") == 0) {
            method->SetWrittenFiles("SaveLightMap",
                                    [](const Entity& node) { return LightMapFileOf(node, "bmp"); });
        }
    };
    for (const Command& command : commands) {
        add(NextShortName(), command);
    }
    info.AddMethod(NextShortName(), "():int2", methods.size, MethodClassSignal);
    info.AddMethod("releasevideomemory", "(entity)", methods.releaseVideoMemory,
                   MethodClassSignal);
    info.AddMethod("restorevideomemory", "(entity)", methods.restoreVideoMemory,
                   MethodClassSignal);
    info.AddMethod("resourcechanged", "", methods.resourceChanged, MethodClassSignal);
    for (const Command& command : commands) {
        add(command.name, command);
    }
    for (const char* signal : {"UpdateLightMap", "SaveLightMap", "releasevideomemory",
                               "restorevideomemory", "resourcechanged"}) {
        RegisterClassSignal(signal, &info);
    }
}

} // namespace quarn
