#pragma once

#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace quarn {

// Link hops followed before a chain counts as a loop, as the kernel counts them.
inline constexpr int MaxLinkHops = 40;

// A file descriptor, closed with its owner.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor();
    Descriptor(Descriptor&& other) noexcept : descriptor_(other.Release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return descriptor_; }
    bool IsOpen() const { return descriptor_ >= 0; }
    // Hands the descriptor over; this object no longer closes it.
    int Release();

private:
    int descriptor_ = -1;
};

// Where a file on disk lies and how it is reached.
//
// A place anywhere is a native path the kernel resolves as usual. A place beneath a root is a
// path relative to an open folder, resolved in one step, so that neither ".." nor a link (also
// one swapped while we work) leads above that folder: links are followed while they stay
// beneath it, an absolute link never. A place nowhere is one that was refused; everything on it
// fails with EXDEV.
//
// Every call leaves errno saying why it failed; EXDEV means the path leads out of its root.
class DiskPlace {
public:
    // Nowhere.
    DiskPlace() = default;
    static DiskPlace Anywhere(std::string nativePath);
    // `root` is an open folder (O_PATH suffices), `rootPath` its native path for names.
    static DiskPlace Beneath(std::shared_ptr<const Descriptor> root, std::string rootPath,
                             std::string relative);
    static DiskPlace Nowhere(std::string nativePath);

    // For names and messages, never for opening.
    std::string GetNativePath() const;
    bool IsBeneath() const { return root_ != nullptr; }
    bool IsNowhere() const { return nowhere_; }

    // open(2) flags; O_CLOEXEC is added.
    Descriptor Open(int flags, mode_t mode = 0) const;
    // Links followed.
    bool Stat(struct stat& info) const;
    // The entry itself, a link not followed.
    bool StatEntry(struct stat& info) const;
    // The folder holding the place, for the *at calls on `name`, the place's own name. Fails
    // with EINVAL for a place whose last name is "." or "..", which no folder holds as an entry.
    Descriptor OpenFolder(std::string& name) const;

    DiskPlace Child(const std::string& name) const;
    // The folder above, by the path's text ("a/b" -> "a", "a" -> ".", "." -> "..").
    DiskPlace Parent() const;
    // Where a link at this place leads, resolved as the kernel would from the link's folder.
    DiskPlace LinkTarget(const std::string& target) const;
    // Each name that does not exist exactly is matched without case (A-Z) among its folder's
    // entries, the first in byte order winning; a name that matches nothing is kept, and the
    // names after it too.
    DiskPlace WithCaseResolved() const;
    // The entries of the place as a folder, "." and ".." left out, in no order.
    std::vector<std::string> List() const;
    // Makes the missing folders that hold the place, not the place itself.
    bool MakeFoldersAbove() const;

private:
    DiskPlace(std::shared_ptr<const Descriptor> root, std::string rootPath, std::string path,
              bool nowhere);
    DiskPlace WithPath(std::string path) const;

    std::shared_ptr<const Descriptor> root_;
    std::string rootPath_;
    // Relative to the root beneath one, "." for the root itself; the native path otherwise.
    std::string path_;
    bool nowhere_ = true;
};

// Opens `relative` beneath the open folder `root` as DiskPlace's beneath places do.
Descriptor OpenBeneath(int root, const std::string& relative, int flags, mode_t mode = 0);

// Resolution beneath a root uses the kernel's own where it has it, else a walk of single-name
// opens that never follow a link by themselves; both give the same answer and errno. Old
// kernels lack the kernel's; containers may filter it out.
bool KernelResolvesBeneath();
// Tests take the walk on purpose; returns whether it was forced before.
bool SetBeneathWalkForced(bool forced);

// Lists an open folder without closing it: names without "." and "..", in no order.
std::vector<std::string> ListFolder(int folder);
// The target of the link `name` in the open folder ("" names the descriptor itself); false,
// with errno, when it is none.
bool ReadLinkAt(int folder, const char* name, std::string& target);

} // namespace quarn
