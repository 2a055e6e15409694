#include "render/lightmap/AtlasAssembly.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/io/OutputStream.h"
#include "core/math/Geometry.h"
#include "core/object/EntityRef.h"
#include "core/object/MethodInfo.h"
#include "core/os/BusyCursor.h"
#include "core/os/Dialogs.h"
#include "core/scene/Node.h"
#include "core/scene/SelectionSet.h"
#include "core/string/Text.h"
#include "device/DeviceTexture.h"
#include "render/lightmap/LightMapCommands.h"
#include "resources/Texture.h"
#include "resources/TextureAtlas.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace quarn {

namespace {

// The width packing gives the smallest atlas within the limits, or 0.
int32_t ChooseAtlasWidth(TextureAtlasPart* parts, int count) {
    int64_t area = 0;
    for (int i = 0; i < count; ++i) {
        area += static_cast<int64_t>(parts[i].width) * parts[i].height;
    }
    const double root = std::sqrt(static_cast<double>(area));
    // Beyond this no candidate can fit the limits; it also keeps the side within 32 bits.
    if (!(root <= static_cast<double>(MaxAtlasSide) * 4.0)) {
        return 0;
    }
    const auto s = static_cast<int32_t>(NextPowerOfTwo(static_cast<uint32_t>(root)));
    const int32_t candidates[] = {s, s / 2, s / 4, s * 2, s * 4};
    int64_t best = 100000000;
    int32_t chosen = 0;
    for (int32_t width : candidates) {
        const AtlasSize size = PackAtlasParts(parts, count, width);
        const int64_t packed = size.width * size.height;
        if (packed != 0 && packed < best && size.width <= MaxAtlasSide &&
            size.height <= MaxAtlasSide) {
            best = packed;
            chosen = width;
        }
    }
    return chosen;
}

void CopyPart(DeviceTexture& atlas, TextureAtlasPart& part) {
    for (int32_t y = 0; y < part.height; ++y) {
        for (int32_t x = 0; x < part.width; ++x) {
            atlas.SetPixel(part.atlasX + x, part.atlasY + y, 0);
        }
    }
    const int32_t pad = part.padding;
    part.atlasX += pad;
    part.atlasY += pad;
    part.width -= pad * 2;
    part.height -= pad * 2;
    DeviceTexture* source = part.texture ? part.texture->GetDeviceTexture() : nullptr;
    if (!source) {
        return;
    }
    source->Lock(TextureLockRead, 0);
    for (int32_t r = 0; r < part.height; ++r) {
        for (int32_t c = 0; c < part.width; ++c) {
            atlas.SetPixel(part.atlasX + c, part.atlasY + r,
                           source->GetPixel(part.sourceX + c, part.sourceY + r));
        }
    }
    source->Lock(TextureUnlocked, 0);
}

// The lightmap texture a node answers to "GetLightMap", or null.
Texture* LightMapOf(Node& node) {
    MethodInfo* method = node.FindMethod("GetLightMap");
    if (!method) {
        return nullptr;
    }
    uint32_t block[4] = {};
    method->Call(&node, block);
    return dynamic_cast<Texture*>(LookupEntity(block[0]));
}

} // namespace

Texture* AssembleTextureAtlas(TextureAtlasPart* parts, int count) {
    ShowBusyCursor(0.0f, "Creating texture atlas");
    for (int i = 0; i < count; ++i) {
        parts[i].width += parts[i].padding * 2;
        parts[i].height += parts[i].padding * 2;
    }
    const int32_t width = ChooseAtlasWidth(parts, count);
    if (width == 0) {
        ShowBusyCursor(1.0f, "");
        ShowMessageBox("No suitable atlas size could be found. Try again with fewer texture parts.",
                       "Atlas assembling error", MessageBoxOk);
        return nullptr;
    }
    const AtlasSize size = PackAtlasParts(parts, count, width);
    auto* atlas = new Texture(static_cast<int32_t>(size.width), static_cast<int32_t>(size.height),
                              PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0);
    DeviceTexture* image = atlas->GetDeviceTexture();
    if (!image) {
        atlas->Release();
        ShowBusyCursor(1.0f, "");
        return nullptr;
    }
    image->Lock(TextureLockWrite, 0);
    for (int i = 0; i < count; ++i) {
        CopyPart(*image, parts[i]);
    }
    image->Lock(TextureUnlocked, 0);
    ShowBusyCursor(1.0f, "");
    return atlas;
}

bool FitsAtlasDefinition(const char* key) {
    return !std::strpbrk(key, "\"\r\n");
}

bool WriteTextureAtlasDefinition(const char* atlasPath,
                                 const std::vector<AtlasDefinitionRecord>& records) {
    for (const AtlasDefinitionRecord& record : records) {
        if (!FitsAtlasDefinition(record.key)) {
            return false;
        }
    }
    FileSystem* files = GetFileSystem();
    const std::string path = ReplaceExtension(atlasPath, "txt");
    std::unique_ptr<OutputStream> stream = files ? files->OpenForWrite(path.c_str(), 0) : nullptr;
    if (!stream) {
        return false;
    }
    for (const AtlasDefinitionRecord& record : records) {
        stream->Printf("%d\t%d\t%d\t%d\t%d\t\"%s\"\n", record.left, record.top, record.width,
                       record.height, record.padding, record.key);
    }
    return stream->Close();
}

int AssembleLightMapAtlas(const char* atlasPath, const char* className, Int2* atlasSize) {
    SelectionSet* selection = GetSelectionSet();
    if (!selection) {
        return 0;
    }
    if (selection->GetCount() == 1) {
        const std::string question = std::string("You have selected one node. Assemble all ") +
                                     className + "s in subtree?";
        if (ShowMessageBox(question.c_str(), "Assemble subtree?", MessageBoxYesNo) != DialogYes) {
            return 0;
        }
        SelectLightMappedNodes(true);
    }
    std::vector<TextureAtlasPart> parts;
    std::unordered_set<Texture*> taken;
    for (int i = 0; i < selection->GetCount(); ++i) {
        Node* node = selection->GetAt(i);
        Texture* texture = node ? LightMapOf(*node) : nullptr;
        if (!texture || !taken.insert(texture).second) {
            continue;
        }
        // An empty name redirects nothing.
        const char* path = texture->GetFullPath();
        if (path[0] == '\0' || !FitsAtlasDefinition(path)) {
            LogMessage("Lightmap of '%s' left out of the atlas: it has no file path that an atlas "
                       "can name",
                       node->GetName().c_str());
            continue;
        }
        TextureAtlasPart part;
        part.texture = texture;
        part.sourceX = texture->GetLeft();
        part.sourceY = texture->GetTop();
        part.width = texture->GetWidth();
        part.height = texture->GetHeight();
        parts.push_back(part);
    }
    const int count = static_cast<int>(parts.size());
    if (count == 0) {
        return 0;
    }
    Texture* atlas = AssembleTextureAtlas(parts.data(), count);
    if (!atlas) {
        return 0;
    }
    std::vector<AtlasDefinitionRecord> records;
    for (const TextureAtlasPart& part : parts) {
        records.push_back({part.texture->GetFullPath(), part.atlasX, part.atlasY, part.width,
                           part.height, part.padding});
    }
    bool whole = false;
    {
        // The atlas goes where the user asked; the list that names it is the game's.
        const UserChoiceScope picked;
        whole = atlas->SaveImage(atlasPath) && WriteTextureAtlasDefinition(atlasPath, records);
    }
    if (whole) {
        if (atlasSize) {
            *atlasSize = {atlas->GetWidth(), atlas->GetHeight()};
        }
        atlas->SetFileName(atlasPath, "", false);
        for (const TextureAtlasPart& part : parts) {
            SetTextureAtlasEntry(part.texture->GetFullPath(), atlasPath, part.atlasX, part.atlasY,
                                 part.width, part.height, part.padding);
        }
        SaveTextureAtlasList();
    } else {
        LogMessage("Texture atlas '%s' was not written whole and is not used", atlasPath);
    }
    atlas->Release();
    return whole ? count : 0;
}

} // namespace quarn
