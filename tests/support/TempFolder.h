#pragma once

#include <string>

namespace quarn::test {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // The folder's absolute path, without a trailing '/'.
    const std::string& Path() const { return path_; }
    // Path() + "/" + relative.
    std::string Join(const std::string& relative) const;

    // Writes a file below the folder, making its folders; returns its absolute path.
    std::string WriteFile(const std::string& relative, const std::string& content) const;
    // The whole content of a file below the folder, or "" when it cannot be read.
    std::string ReadFile(const std::string& relative) const;

private:
    std::string path_;
};

} // namespace quarn::test
