#include "core/filesystem/DataFolders.h"

#include "core/filesystem/ArchiveSet.h"
#include "core/string/Text.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace quarn {

namespace {

constexpr size_t MaxGameFolderName = 200;

std::string WithTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/') {
        path += '/';
    }
    return path;
}

// The last name of a path, a trailing '/' ignored.
std::string LastName(std::string path) {
    while (!path.empty() && path.back() == '/') {
        path.pop_back();
    }
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RootName(const std::string& gameRoot) {
    if (StartsWithNoCase(gameRoot.c_str(), "res://")) {
        return "res";
    }
    std::string archive;
    std::string entry;
    if (!ArchiveSet::SplitArchivePath(gameRoot.c_str(), archive, entry)) {
        return LastName(gameRoot);
    }
    const std::string name = LastName(archive);
    if (CompareNoCase(name.c_str(), "data.zoo") == 0) {
        return LastName(archive.substr(0, archive.size() - name.size()));
    }
    return name.substr(0, name.size() - 4); // ".zip" or ".zoo"
}

} // namespace

std::string DataHomeFolder() {
    const char* dataHome = getenv("XDG_DATA_HOME");
    // The XDG rules ignore a relative value.
    if (dataHome && dataHome[0] == '/') {
        return WithTrailingSlash(dataHome);
    }
    const char* home = getenv("HOME");
    if (!home || !*home) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || !*home) {
        return {};
    }
    return WithTrailingSlash(home) + ".local/share/";
}

std::string EngineDataFolder(const std::string& dataHome) {
    return dataHome.empty() ? std::string() : WithTrailingSlash(dataHome) + "Quarn/";
}

std::string GameDataFolder(const std::string& dataHome, const std::string& gameName) {
    const std::string engine = EngineDataFolder(dataHome);
    return engine.empty() ? engine : engine + "games/" + GameFolderName(gameName, "") + "/";
}

std::string GameFolderName(const std::string& configName, const std::string& gameRoot) {
    std::string name = configName.empty() ? RootName(gameRoot) : configName;
    if (name.size() > MaxGameFolderName) {
        name.resize(MaxGameFolderName);
    }
    for (char& c : name) {
        const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '_' || c == '.';
        if (!kept) {
            c = '_';
        }
    }
    if (name.empty() || name[0] == '.') {
        name.insert(name.begin(), '_');
    }
    return name;
}

} // namespace quarn
