#include "render/CubeMap.h"

#include "core/object/ClassInfo.h"
#include "core/object/PropertyText.h"
#include "core/object/Signals.h"
#include "device/ImageTexture.h"
#include "device/RenderDevice.h"
#include "resources/Texture.h"

namespace quarn {

ClassInfo* CubeMap::classInfo = nullptr;

CubeMap::~CubeMap() {
    if (texture_) {
        texture_->Release();
    }
}

const char* CubeMap::GetTextureName() const {
    return RelativePathOf(texture_);
}

void CubeMap::SetTextureName(const char* name) {
    if (!ReplaceHeldResource(texture_, name && *name ? GetTexture(name, "") : nullptr)) {
        return;
    }
    SendSignal("propertychange", static_cast<Entity*>(this), true);
    SetRenderFlag(RenderStateValid, false);
}

int32_t CubeMap::Render() {
    RenderDevice* device = TheRenderDevice();
    DeviceTexture* texture = texture_ ? texture_->GetDeviceTexture() : nullptr;
    if (device && texture) {
        device->SetTexture(texture, 2);
    }
    return 0;
}

ClassInfo* CubeMap::RegisterClass() {
    if (classInfo) {
        return classInfo;
    }
    classInfo = new ClassInfo(
        "CubeMap", []() -> Entity* { return new CubeMap(); }, &classInfo);
    classInfo->SetParent(RenderObject::RegisterClass());
    classInfo->SetCategory("Gfx");
    classInfo->AddResourceProperty<&CubeMap::GetTextureName, &CubeMap::SetTextureName>(
        "texture:bmp", &GetImageTextureExtensions);
    return classInfo;
}

} // namespace quarn
