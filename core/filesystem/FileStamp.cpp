#include "core/filesystem/FileStamp.h"

#include "core/debug/Log.h"
#include "core/filesystem/FileSystem.h"
#include "core/os/Dialogs.h"

#include <cctype>
#include <sys/stat.h>

namespace quarn {

FileStamp FileStamp::Of(const std::string& path) {
    PathString native;
    FileSystem* files = GetFileSystem();
    const std::string resolved =
        files && files->GetNativePath(native, path.c_str()) ? native.Text() : path;
    FileStamp stamp;
    struct stat info;
    if (stat(resolved.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        stamp.exists = true;
        stamp.device = info.st_dev;
        stamp.inode = info.st_ino;
        stamp.size = info.st_size;
        stamp.modified = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    }
    return stamp;
}

bool FileStamp::ChangedOnDisk(const std::string& path) const {
    const FileStamp now = Of(path);
    return now.exists && !(now == *this);
}

bool MaySaveOverChangedFiles(const std::vector<std::string>& changed, const char* what) {
    if (changed.empty()) {
        return true;
    }
    std::string names;
    for (size_t index = 0; index < changed.size(); ++index) {
        if (index > 0) {
            names += index + 1 == changed.size() ? " and " : ", ";
        }
        names += "'" + changed[index] + "'";
    }
    const std::string text =
        names + (changed.size() == 1 ? " has" : " have") +
        " changed on disk since the editor loaded or saved it.\n\nA save writes the " + what +
        " as the editor holds it, and what changed there is lost. Save over it all the same?";
    const uint32_t question = MessageBoxYesNo | MessageBoxIconWarning | MessageBoxDefaultButton2;
    if (ShowMessageBox(text.c_str(), "Save over a changed file", question) == DialogYes) {
        return true;
    }
    std::string subject = what;
    if (!subject.empty()) {
        subject[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(subject[0])));
    }
    LogMessage("%s %s is not saved: the file keeps what changed on disk", subject.c_str(),
               names.c_str());
    return false;
}

} // namespace quarn
