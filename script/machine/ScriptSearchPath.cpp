#include "script/machine/ScriptSearchPath.h"

#include "core/debug/Log.h"
#include "core/filesystem/DiskFile.h"
#include "core/filesystem/FileSystem.h"
#include "core/filesystem/FolderTree.h"
#include "core/filesystem/ScriptFileAccess.h"

#include <memory>

namespace quarn {

namespace {

// Folder paths are kept to what the path buffers held: 259 characters.
constexpr size_t MaxFolderChars = 259;

std::vector<std::string>& SearchPath() {
    static std::vector<std::string> folders;
    return folders;
}

} // namespace

void SetScriptSearchPath(const char* folder, bool withSubfolders) {
    const std::string given = folder ? folder : "";
    PathString native;
    FileSystem* files = GetFileSystem();
    if (!files || !files->GetNativePath(native, given.c_str())) {
        native.Set(given.c_str());
    }
    LogMessage("Script search-path set to '%s'", native.Text());
    SearchPath().clear();
    if (!withSubfolders || given.empty()) {
        SearchPath().push_back(given.substr(0, MaxFolderChars));
        return;
    }
    std::string start = given;
    if (start.back() != '/' && start.back() != '\\') {
        start += '/';
    }
    std::string nativeStart = native.Text();
    while (nativeStart.size() > 1 && (nativeStart.back() == '/' || nativeStart.back() == '\\')) {
        nativeStart.pop_back();
    }
    const GameReachHold heldToTheGame(true);
    std::unique_ptr<File> place = files ? files->OpenNativeFile(nativeStart.c_str()) : nullptr;
    auto* disk = dynamic_cast<DiskFile*>(place.get());
    if (!disk) {
        SearchPath().push_back(start.substr(0, MaxFolderChars));
        return;
    }
    // The walk is the file system's, held to the game: a link is followed only while it stays
    // inside, so one to "/" does not send it over the whole disk.
    WalkFolderTree(start, *disk, {.folder = [](const std::string& folder) {
                       SearchPath().push_back(folder.substr(0, MaxFolderChars));
                   }});
}

const std::vector<std::string>& GetScriptSearchPath() {
    return SearchPath();
}

} // namespace quarn
