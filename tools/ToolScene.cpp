#include "tools/ToolScene.h"

#include "app/ClassRegistration.h"
#include "core/debug/Log.h"
#include "core/debug/Validity.h"
#include "core/filesystem/DataFolders.h"
#include "core/filesystem/FileReader.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/SceneGame.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/scene/Node.h"
#include "core/scenefile/SceneCompactFormat.h"
#include "core/scenefile/SceneLoader.h"
#include "core/string/Text.h"
#include "device/GpuRenderDevice.h"
#include "gpu/software/SoftwareDevice.h"
#include "resources/Texture.h"
#include "script/machine/ScriptLibrary.h"

#include <cstdio>
#include <vector>

namespace quarn {

namespace {

// Held back while loading: a scene that fails names its last note as the reason.
std::vector<std::string> noted;
bool holdNotes = true;

void Note(const char* channel, const char* text) {
    // A script's Print is on stdout already, as the script's own line.
    if (IsScriptPrintLine(channel, text)) {
        return;
    }
    if (holdNotes) {
        noted.emplace_back(text ? text : "");
    } else {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", text ? text : "");
    }
}

} // namespace

std::unique_ptr<GpuRenderDevice> MakeToolDevice(std::string& reason) {
    auto device = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create);
    if (!device->Create(0, nullptr, 16, 16)) {
        reason = "cannot create the render device: " + device->GetErrorText();
        return nullptr;
    }
    return device;
}

void RegisterPlayerClasses() {
    Texture::RegisterClass();
    RegisterAllClasses();
}

void EnterToolSceneGame(const std::string& scene) {
    FileSystem& files = *GetFileSystem();
    PathString native;
    files.GetNativePath(native, scene.c_str());
    EnterGame(files, FindSceneGame(files, native.Text()), GetMainSettings(), DataHomeFolder());
}

Node* LoadToolScene(const std::string& scene, std::string& reason, bool asGame) {
    RegisterPlayerClasses();
    SetLogSink(Note);
    SetValidityHook([](const char* message) {
        Note("", message);
        return true;
    });
    uint32_t loadFlags = SceneKeepUnmappedIds;
    if (IsCompactSceneName(scene.c_str())) {
        loadFlags |= SceneCompact;
    }
    FileReader reader;
    if (!reader.Open(scene.c_str(), (loadFlags & SceneCompact) != 0, false)) {
        reason = "cannot open " + scene;
        return nullptr;
    }
    EnterToolSceneGame(scene);
    if (asGame) {
        GetFileSystem()->MakeDirectories("user://");
    }
    HoldGameReachAlways(asGame);
    SceneLoader loader(scene.c_str(), 0, loadFlags, nullptr, nullptr);
    Node* root = loader.Load(reader);
    if (!root) {
        reason =
            "cannot load " + scene + (noted.empty() ? ": it holds no node" : ": " + noted.back());
        return nullptr;
    }
    holdNotes = false;
    for (const std::string& line : noted) {
        Note("", line.c_str());
    }
    noted.clear();
    return root;
}

} // namespace quarn
