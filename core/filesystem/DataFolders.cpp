#include "core/filesystem/DataFolders.h"

#include "core/filesystem/ArchiveSet.h"
#include "core/string/Sha256.h"
#include "core/string/Text.h"
#include "core/string/Utf8.h"

#include <cstdint>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace quarn {

namespace {

constexpr size_t MaxGameFolderName = 200;
// A long folder name ends in '~' and the hexadecimal digits of its name's SHA-256: two names
// that differ never meet, where a 64-bit hash let two be found to share a folder.
constexpr size_t NameHashDigits = 64;
constexpr char HexDigits[] = "0123456789ABCDEF";

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

bool IsPlainNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' ||
           c == '-' || c == '_' || c == '.';
}

void AppendEscaped(std::string& folder, uint8_t byte) {
    folder += '%';
    folder += HexDigits[byte >> 4];
    folder += HexDigits[byte & 15];
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

std::string GameDataFolder(const std::string& dataHome, const std::string& configName,
                           const std::string& gameRoot) {
    const std::string engine = EngineDataFolder(dataHome);
    return engine.empty() ? engine : engine + "games/" + GameFolderName(configName, gameRoot) + "/";
}

std::string GameFolderName(const std::string& configName, const std::string& gameRoot) {
    const std::string name = configName.empty() ? RootName(gameRoot) : configName;
    if (name.empty()) {
        return "%"; // no escape is a lone '%'
    }
    const DecodedText characters = DecodeUtf8(name);
    std::string folder;
    // The end of the last character that still leaves room for the hash: a cut never splits a
    // character or an escape.
    size_t cut = 0;
    for (size_t i = 0; i < characters.Size(); ++i) {
        const size_t start = characters.offsets[i];
        const size_t length = characters.offsets[i + 1] - start;
        // A stray byte decodes alone; a whole character is only ever two bytes or more.
        const bool kept = length > 1 ? characters.codes[i] >= 0xA0
                                     : IsPlainNameByte(name[start]) && !(i == 0 && name[0] == '.');
        if (kept) {
            folder.append(name, start, length);
        } else {
            for (size_t at = start; at < start + length; ++at) {
                AppendEscaped(folder, static_cast<uint8_t>(name[at]));
            }
        }
        if (folder.size() < MaxGameFolderName - NameHashDigits) {
            cut = folder.size();
        }
    }
    if (folder.size() > MaxGameFolderName) {
        folder.resize(cut);
        folder += '~';
        for (const uint8_t byte : Sha256(name)) {
            folder += HexDigits[byte >> 4];
            folder += HexDigits[byte & 15];
        }
    }
    return folder;
}

} // namespace quarn
