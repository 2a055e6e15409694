#include "resources/TextureAtlas.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/io/Tokenizer.h"
#include "core/string/Text.h"
#include "resources/ResourceRegistry.h"

#include <charconv>
#include <map>
#include <set>
#include <string>

namespace quarn {
namespace {

std::map<std::string, TextureAtlasEntry, NoCaseLess>& Registry() {
    static auto* registry = new std::map<std::string, TextureAtlasEntry, NoCaseLess>();
    return *registry;
}

PathString& ListPath() {
    static PathString path;
    return path;
}

// The leading decimal digits of a number token ("12", "12.5" and "12x" read 12); false when
// there are none or they do not fit 32 bits: such a record is not one the atlas builder wrote.
bool ReadDecimal(const std::string& text, int32_t& value) {
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc();
}

} // namespace

const TextureAtlasEntry* FindTextureAtlasEntry(const char* key) {
    auto found = Registry().find(key ? key : "");
    return found == Registry().end() ? nullptr : &found->second;
}

void SetTextureAtlasEntry(const char* key, const char* image, int32_t left, int32_t top,
                          int32_t width, int32_t height, int32_t extra) {
    Registry().erase(key ? key : "");
    Registry()[key ? key : ""] = {NormalizeResourcePath(image), left, top, width, height, extra};
}

void RemoveTextureAtlasEntry(const char* key) {
    Registry().erase(key ? key : "");
}

int GetTextureAtlasEntryCount() {
    return static_cast<int>(Registry().size());
}

std::vector<std::string> GetTextureAtlasKeys() {
    std::vector<std::string> keys;
    for (const auto& entry : Registry()) {
        keys.push_back(entry.first);
    }
    return keys;
}

void ClearTextureAtlases() {
    Registry().clear();
    ListPath() = PathString();
}

void LoadTextureAtlasList(const char* listPath) {
    Registry().clear();
    ListPath().Set(listPath);
    FileSystem* files = GetFileSystem();
    std::unique_ptr<File> file = files && listPath ? files->Open(listPath, 0) : nullptr;
    if (!file) {
        return;
    }
    Tokenizer tokenizer;
    while (tokenizer.Next(*file) == TokenString) {
        const std::string image = tokenizer.GetText();
        LoadTextureAtlas(image.c_str());
    }
}

void LoadTextureAtlas(const char* image) {
    FileSystem* files = GetFileSystem();
    const std::string definition = ReplaceExtension(image, "txt");
    if (std::unique_ptr<File> file = files ? files->Open(definition.c_str(), 0) : nullptr) {
        Tokenizer tokenizer;
        int32_t kind = tokenizer.Next(*file);
        while (kind == TokenNumber) {
            int32_t numbers[5] = {};
            bool whole = ReadDecimal(tokenizer.GetText(), numbers[0]);
            for (int i = 1; whole && i < 5; ++i) {
                whole = tokenizer.Next(*file) == TokenNumber &&
                        ReadDecimal(tokenizer.GetText(), numbers[i]);
            }
            if (!whole) {
                LogMessage("Texture atlas '%s': a record does not hold five numbers up to 2^31",
                           definition.c_str());
                break;
            }
            kind = tokenizer.Next(*file);
            if (kind == TokenIdentifier || kind == TokenString) {
                const std::string& key = tokenizer.GetText();
                // No texture is named with a zero byte: such a key could never be found.
                if (key.find('\0') == std::string::npos) {
                    Registry()[key] = {PathString(image), numbers[0], numbers[1],
                                       numbers[2],        numbers[3], numbers[4]};
                } else {
                    LogMessage("Texture atlas '%s': a record's name holds a zero byte",
                               definition.c_str());
                }
                kind = tokenizer.Next(*file);
            }
        }
    }
    LogMessage("Using texture atlas '%s'", image);
}

const char* GetTextureAtlasListPath() {
    return ListPath().Text();
}

bool SaveTextureAtlasList() {
    FileSystem* files = GetFileSystem();
    if (!files || ListPath().Length() == 0) {
        return false;
    }
    std::unique_ptr<OutputStream> stream = files->OpenForWrite(ListPath().Text(), 0);
    if (!stream) {
        return false;
    }
    std::set<std::string, NoCaseLess> written;
    for (const auto& [key, entry] : Registry()) {
        if (written.insert(entry.image.Text()).second) {
            stream->Printf("\"%s\"\n", entry.image.Text());
        }
    }
    return stream->Close();
}

} // namespace quarn
