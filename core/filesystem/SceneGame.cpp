#include "core/filesystem/SceneGame.h"

#include "core/debug/Log.h"
#include "core/filesystem/ArchiveSet.h"
#include "core/filesystem/DataFolders.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/ScriptFileAccess.h"
#include "core/filesystem/SettingsFile.h"
#include "core/string/Text.h"

#include <filesystem>

namespace quarn {

namespace {

std::string WithTrailingSlash(std::string path) {
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    return path;
}

// The folder part of a path, up to and including its last '/'; "" without one.
std::string FolderPart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// The folder holding a folder ("/a/b/" -> "/a/"); "" above the top.
std::string FolderAbove(const std::string& folder) {
    return folder.size() < 2 ? std::string() : FolderPart(folder.substr(0, folder.size() - 1));
}

// The scene's folder as it lies on the disk, links and ".." resolved: a name that climbs or
// passes a link, the scene's own name among them, must not make another folder look like the
// one the scene lies in.
std::string DiskFolderOf(const std::string& scene) {
    std::error_code error;
    const std::filesystem::path resolved =
        std::filesystem::weakly_canonical(scene.empty() ? "." : scene, error);
    if (error) {
        return WithTrailingSlash(FolderPart(scene));
    }
    return WithTrailingSlash(scene.empty() ? resolved.string() : resolved.parent_path().string());
}

bool Holds(FileSystem& files, const std::string& folder, const char* name) {
    const std::string path = folder + name;
    return path.size() < PathString::Size() && files.Exists(path.c_str());
}

bool HoldsConfig(FileSystem& files, const std::string& folder) {
    return Holds(files, folder, "config.txt");
}

bool HoldsPackedGame(FileSystem& files, const std::string& folder) {
    return Holds(files, folder, "data.zoo");
}

} // namespace

SceneGame FindSceneGame(FileSystem& files, const std::string& scene) {
    // The scene is the user's to name, and the folders above it are looked at as the user
    // reaches them, not as the game in force does.
    const EngineFilesScope unheld;
    if (StartsWithNoCase(scene.c_str(), "res://")) {
        return FolderGame(files, "res://");
    }
    std::string archive;
    std::string entry;
    const bool packed = ArchiveSet::SplitArchivePath(scene.c_str(), archive, entry);
    // An archive is one game, wherever its own "config.txt" lies.
    const std::string top = packed ? archive + "/" : "/";
    const std::string folder = packed ? top + FolderPart(entry) : DiskFolderOf(scene);
    for (std::string at = folder; at.size() >= top.size(); at = FolderAbove(at)) {
        // A packed game's folder is its archive's game, as the player runs it.
        if (const std::string archived = at + "data.zoo/"; !packed && HoldsPackedGame(files, at)) {
            return {archived, HoldsConfig(files, archived)};
        }
        if (HoldsConfig(files, at)) {
            return {at, true};
        }
    }
    return {packed ? top : folder, false};
}

SceneGame FolderGame(FileSystem& files, const std::string& folder) {
    const EngineFilesScope unheld;
    const std::string root = WithTrailingSlash(folder);
    return {root, HoldsConfig(files, root)};
}

void EnterGame(FileSystem& files, const SceneGame& game, SettingsFile& config,
               const std::string& dataHome) {
    const bool modeSet = config.HasKey("standalone");
    const std::string mode = config.GetString("standalone");
    files.SetGameRoot(game.root.c_str());
    files.SetGameReadOnly(!game.configured);
    files.SetBaseFolder(game.root.c_str());
    // Read inside the game, whatever reach is held: a missing file is an empty configuration.
    config.Load("config.txt", false);
    if (modeSet) {
        config.SetString("standalone", mode.c_str());
    }
    files.SetUserFolder(GameDataFolder(dataHome, config.GetString("name"), game.root).c_str());
    // A "resource_path" of the game's own moves its base folder, never its reach.
    if (config.HasKey("resource_path")) {
        PathString base;
        if (files.GetNativePath(base, config.GetString("resource_path"))) {
            files.SetBaseFolder(base.Text());
        } else {
            LogMessage("Resource path '%s' is too long; the base folder stays",
                       config.GetString("resource_path"));
        }
    }
}

} // namespace quarn
