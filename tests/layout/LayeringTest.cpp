// Reads the engine's own sources and build files: each folder may include, and each library
// link, only what sits at its own place in the order below or under it.

#include "TestPaths.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {
namespace {

namespace fs = std::filesystem;

// Bottom to top. A new engine folder must be placed here before its first file lands; folders
// not made yet may already stand in the list.
constexpr std::string_view Layers[] = {
    "core/math",      "core/string",  "core/os",
    "core/debug",     "core/io",      "core/filesystem",
    "core/object",    "core/scene",   "core/scenefile",
    "codecs",         "gpu",          "device",
    "audio",          "resources",    "render",
    "script/machine", "script/nodes", "collision",
    "physics",        "editor",       "app",
    "tools",
};

// Top-level folders that hold no engine code: they sit above every layer.
constexpr std::string_view Unlayered[] = {"bench", "cmake", "docs",    "examples",
                                          "fuzz",  "res",   "scripts", "tests"};

const fs::path Root = QUARN_SOURCE_DIR;

// The deepest layer holding path ("core/scene/Node.h" is in core/scene), or -1.
int LayerOf(std::string_view path) {
    int found = -1;
    for (size_t i = 0; i < std::size(Layers); ++i) {
        std::string_view layer = Layers[i];
        if (path.size() > layer.size() && path.starts_with(layer) && path[layer.size()] == '/' &&
            (found < 0 || layer.size() > Layers[found].size())) {
            found = static_cast<int>(i);
        }
    }
    return found;
}

// The place of a top-level folder (its lowest layer), or -1 when the order does not know it.
int FolderLayer(std::string_view folder) {
    for (size_t i = 0; i < std::size(Layers); ++i) {
        std::string_view layer = Layers[i];
        if (layer == folder || (layer.starts_with(folder) && layer[folder.size()] == '/')) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// A build tree (build/, or wherever a developer pointed CMake) holds a cache at its top or one
// level down; its generated sources are no engine code.
bool IsBuildTree(const fs::path& folder) {
    if (fs::exists(folder / "CMakeCache.txt")) {
        return true;
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.is_directory() && fs::exists(entry.path() / "CMakeCache.txt")) {
            return true;
        }
    }
    return false;
}

// Every top-level folder of engine code, placed in the order or not.
std::vector<std::string> EngineFolders() {
    std::vector<std::string> folders;
    for (const fs::directory_entry& entry : fs::directory_iterator(Root)) {
        std::string name = entry.path().filename().string();
        if (entry.is_directory() && !name.starts_with('.') &&
            std::find(std::begin(Unlayered), std::end(Unlayered), name) == std::end(Unlayered) &&
            !IsBuildTree(entry.path())) {
            folders.push_back(name);
        }
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// Every source file of the placed engine folders, relative to the root ("core/scene/Node.cpp").
std::vector<std::string> EngineSources() {
    std::vector<std::string> files;
    for (const std::string& folder : EngineFolders()) {
        if (FolderLayer(folder) < 0) {
            continue;
        }
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(Root / folder)) {
            std::string extension = entry.path().extension().string();
            if (entry.is_regular_file() && (extension == ".h" || extension == ".cpp")) {
                files.push_back(fs::relative(entry.path(), Root).generic_string());
            }
        }
    }
    return files;
}

struct Include {
    std::string file;
    std::string header;
};

// Every #include "..." of the engine's sources.
std::vector<Include> EngineIncludes() {
    static const std::regex quoted("^\\s*#\\s*include\\s*\"([^\"]+)\"");
    std::vector<Include> includes;
    for (const std::string& file : EngineSources()) {
        std::ifstream in(Root / file);
        std::smatch match;
        for (std::string line; std::getline(in, line);) {
            if (std::regex_search(line, match, quoted)) {
                includes.push_back({file, match[1]});
            }
        }
    }
    return includes;
}

TEST(Layering, EveryEngineFolderAndFileHasAPlace) {
    for (const std::string& folder : EngineFolders()) {
        EXPECT_GE(FolderLayer(folder), 0)
            << folder << "/ has no place in the layer order; add it to Layers in " << __FILE__;
    }
    for (const std::string& file : EngineSources()) {
        EXPECT_GE(LayerOf(file), 0)
            << file << " lies in no layer; place its folder in " << __FILE__;
    }
}

TEST(Layering, IncludesReachOnlyTheirOwnLayerOrBelow) {
    for (const Include& include : EngineIncludes()) {
        int from = LayerOf(include.file);
        int to = LayerOf(include.header);
        if (to < 0) {
            ADD_FAILURE() << include.file << " includes \"" << include.header
                          << "\", which lies in no layer (write engine includes from the root)";
        } else if (from >= 0 && to > from) {
            ADD_FAILURE() << include.file << " includes \"" << include.header
                          << "\": " << Layers[to] << " sits above " << Layers[from];
        }
    }
}

TEST(Layering, TheRenderDeviceSeesOnlyTheGpuLayerInterface) {
    for (const Include& include : EngineIncludes()) {
        EXPECT_FALSE(include.file.starts_with("device/") &&
                     include.header.starts_with("gpu/software/"))
            << include.file << " includes \"" << include.header
            << "\": device/ uses the GPU layer through gpu/*.h only";
    }
}

TEST(Layering, LibrariesLinkOnlyTheirOwnFolderOrBelow) {
    // The first argument is the target itself.
    static const std::regex call(R"(target_link_libraries\s*\(\s*\S+([^)]*)\))");
    static const std::regex library(R"(\bquarn_(\w+))");
    static const std::regex comment("#[^\n]*");
    for (const std::string& folder : EngineFolders()) {
        int from = FolderLayer(folder);
        fs::path lists = Root / folder / "CMakeLists.txt";
        if (from < 0 || !fs::exists(lists)) {
            continue;
        }
        std::string text = std::regex_replace(ReadText(lists), comment, "");
        for (std::sregex_iterator it(text.begin(), text.end(), call), end; it != end; ++it) {
            std::string arguments = (*it)[1];
            for (std::sregex_iterator lib(arguments.begin(), arguments.end(), library); lib != end;
                 ++lib) {
                std::string target = (*lib)[0];
                int to = FolderLayer((*lib)[1].str());
                if (to < 0) {
                    ADD_FAILURE() << folder << "/CMakeLists.txt links " << target
                                  << ", the library of no folder in the order";
                } else if (to > from) {
                    ADD_FAILURE() << folder << "/CMakeLists.txt links " << target << ": "
                                  << (*lib)[1] << "/ sits above " << folder << "/";
                }
            }
        }
    }
}

} // namespace
} // namespace quarn
