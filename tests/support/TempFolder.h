#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace quarn::test {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class TempFolder {
public:
    TempFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quarn-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot make a temporary folder");
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's absolute path, without a trailing '/'.
    const std::string& Path() const { return path_; }
    // Path() + "/" + relative.
    std::string Join(const std::string& relative) const { return path_ + "/" + relative; }

    // Writes a file below the folder, making its folders; returns its absolute path.
    std::string WriteFile(const std::string& relative, const std::string& content) const {
        std::filesystem::path file = Join(relative);
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << content;
        return file.string();
    }
    // The whole content of a file below the folder, or "" when it cannot be read.
    std::string ReadFile(const std::string& relative) const {
        std::ifstream file(Join(relative), std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        return content.str();
    }

private:
    std::string path_;
};

// The text with the folder written as "~".
inline std::string Tilde(const std::string& text, const TempFolder& folder) {
    std::string result;
    size_t from = 0;
    for (size_t at; (at = text.find(folder.Path(), from)) != std::string::npos;
         from = at + folder.Path().size()) {
        result.append(text, from, at - from).push_back('~');
    }
    return result.append(text, from);
}

} // namespace quarn::test
