#include "tools/LightMapTool.h"

#include "app/platform/StopSignal.h"
#include "app/player/Engine.h"
#include "core/debug/Log.h"
#include "core/scene/Node.h"
#include "core/scene/SelectionSet.h"
#include "editor/EditorSelectionSet.h"
#include "render/LightBakeSettings.h"
#include "render/lightmap/AtlasAssembly.h"
#include "render/lightmap/LightEvaluation.h"
#include "render/lightmap/LightMapCommands.h"
#include "resources/TextureAtlas.h"
#include "tools/HeadlessPlayer.h"
#include "tools/ToolStatus.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

// Start-up's lines are held until it is known whether they explain a failure; afterwards
// every line goes to stdout as the commands log it. The last line explains a failure.
std::vector<std::string> heldLines;
bool holdLines = true;
std::string lastLine;

void PrintOrHold(const char*, const char* text) {
    lastLine = text ? text : "";
    if (holdLines) {
        heldLines.push_back(lastLine);
    } else {
        std::printf("%s\n", lastLine.c_str());
    }
}

std::string Explained(const std::string& reason) {
    return lastLine.empty() ? reason : reason + ": " + lastLine;
}

// A positive finite number and nothing else.
bool ParseSpacing(const char* text, float& value) {
    if (!text) {
        return false;
    }
    const char* end = text + std::strlen(text);
    const auto parsed = std::from_chars(text, end, value);
    return parsed.ec == std::errc() && parsed.ptr == end && value > 0.0f && std::isfinite(value);
}

// Direct light and shadow rays of the static lights, one sample at each texel's centre.
void InstallBakeSettings(LightBakeSettings& settings, SceneLightSampler& sampler, float spacing) {
    settings.flags = LightBakeDirect | LightBakeShadows;
    settings.offsetDistance = 0.01f;
    settings.texelSpacing = spacing;
    settings.sampler = &sampler;
    settings.samplePattern = {LightSampleOffset{}};
    settings.sampleEnds[0] = 1;
    SetLightBakeSettings(&settings);
}

} // namespace

int RunLightMapTool(char** arguments, std::string& reason) {
    const std::string scene = arguments[0];
    bool bake = false;
    bool save = false;
    // The player maps lightmaps at one texel a world unit (times a box's own quad flags): a
    // bake at another spacing would not fit the mapping the game renders it with.
    float spacing = 1.0f;
    const char* atlas = nullptr;
    for (char** argument = arguments + 1; *argument; ++argument) {
        const char* option = *argument;
        if (std::strcmp(option, "--bake") == 0) {
            bake = true;
        } else if (std::strcmp(option, "--save") == 0) {
            save = true;
        } else if (std::strcmp(option, "--spacing") == 0 && ParseSpacing(argument[1], spacing)) {
            ++argument;
        } else if (std::strcmp(option, "--atlas") == 0 && argument[1] && *argument[1]) {
            atlas = *++argument;
        } else {
            reason = std::string("cannot read \"") + option + "\"";
            return ExitUsage;
        }
    }
    SetLogSink(PrintOrHold);
    WatchToolStopSignals("frames", 1, "");
    switch (StartHeadlessPlayer(scene, 1.0f / 60.0f, Int2())) {
    case HeadlessStart::NoPlayer:
        reason = StartUpError();
        return ExitFailed;
    case HeadlessStart::NoScene:
        reason = Explained("cannot load " + scene);
        return ExitFailed;
    case HeadlessStart::Started:
        break;
    }
    RunHeadlessFrames(1);
    if (StopRequested()) {
        reason = ToolStopReason();
        return ExitFailed;
    }
    for (const std::string& line : heldLines) {
        if (!IsStartUpNews(line)) {
            std::fprintf(stderr, "quarn-tool: warning: %s\n", line.c_str());
        }
    }
    heldLines.clear();
    holdLines = false;

    LightBakeSettings settings;
    SceneLightSampler sampler;
    if (bake) {
        InstallBakeSettings(settings, sampler, spacing);
    }
    EditorSelectionSet selection;
    if (Node* root = GetSceneRoot()) {
        selection.Add(root);
    }
    SetSelectionSet(&selection);
    lastLine.clear();
    if (CreateLightMaps() == LightMapsRefused || UpdateLightMaps() == LightMapsRefused) {
        SetSelectionSet(nullptr);
        SetLightBakeSettings(nullptr);
        reason = lastLine;
        return ExitFailed;
    }
    if (save) {
        SaveLightMaps();
    }
    int parts = 0;
    Int2 size;
    if (atlas) {
        // A game without a list gets one in its folder, where the player looks for it.
        if (GetTextureAtlasListPath()[0] == '\0') {
            LoadTextureAtlasList("atlases.txt");
        }
        lastLine.clear();
        parts = AssembleLightMapAtlas(atlas, "lightmap", &size);
        if (parts == 0) {
            reason = Explained(std::string("no atlas was written at ") + atlas);
        } else {
            std::printf("atlas %s %dx%d %d parts\n", atlas, size.x, size.y, parts);
        }
    }
    SetSelectionSet(nullptr);
    SetLightBakeSettings(nullptr);
    if (atlas && parts == 0) {
        return ExitFailed;
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
