#include "core/filesystem/FolderSpace.h"

#include "core/os/EngineWork.h"
#include "core/string/Text.h"

#include <filesystem>
#include <system_error>

namespace quarn {

namespace {

uint64_t userFolderCap = UserFolderCapBytes;

} // namespace

uint64_t GetUserFolderCap() {
    return userFolderCap;
}

void SetUserFolderCap(uint64_t bytes) {
    userFolderCap = bytes == 0 ? UserFolderCapBytes : bytes;
}

void FolderSpace::SetFolder(const std::string& nativeFolder) {
    folder_ = nativeFolder.empty() || nativeFolder.back() == '/' ? nativeFolder
                                                                  : nativeFolder + "/";
    measured_ = false;
    used_ = 0;
}

bool FolderSpace::Holds(const std::string& nativePath) const {
    return !folder_.empty() && nativePath.starts_with(folder_);
}

bool FolderSpace::Allows(uint64_t bytes, uint64_t replaced) {
    if (!measured_) {
        Measure();
    }
    const uint64_t kept = used_ - std::min(used_, replaced);
    return bytes <= GetUserFolderCap() && kept <= GetUserFolderCap() - bytes;
}

void FolderSpace::Written(uint64_t bytes, uint64_t replaced) {
    used_ = used_ - std::min(used_, replaced) + bytes;
}

void FolderSpace::Removed(uint64_t bytes) {
    used_ -= std::min(used_, bytes);
}

bool FolderSpace::Make() {
    if (!Allows(MinimumFileBytes, 0)) {
        return false;
    }
    Written(MinimumFileBytes, 0);
    return true;
}

std::string FolderSpace::CapText() {
    return StringFormat("user:// may hold at most %llu MiB",
                        static_cast<unsigned long long>((GetUserFolderCap() + (1u << 20) - 1) >>
                                                        20));
}

void FolderSpace::Refuse() {
    RefuseEngineWork(CapText().c_str());
}

// Links are not followed: what they lead to is another folder's, or counted where it lies.
void FolderSpace::Measure() {
    used_ = 0;
    measured_ = true;
    std::error_code error;
    uint64_t entries = 0;
    uint64_t folders = 1;
    const auto options = std::filesystem::directory_options::skip_permission_denied;
    for (auto walk = std::filesystem::recursive_directory_iterator(folder_, options, error);
         !error && walk != std::filesystem::recursive_directory_iterator();
         walk.increment(error)) {
        ++entries;
        std::error_code unread;
        if (walk->is_symlink(unread)) {
            continue;
        }
        if (walk->is_directory(unread)) {
            ++folders;
            used_ += MinimumFileBytes;
        } else if (walk->is_regular_file(unread)) {
            const uintmax_t size = walk->file_size(unread);
            used_ += unread ? 0 : HeldFileBytes(uint64_t(size));
        }
    }
    ChargeEngineWork(folders * StepsPerPathResolved + entries * StepsPerEntryRead);
}

} // namespace quarn
