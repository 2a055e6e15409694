#include "core/filesystem/DiskPlace.h"

#include "tests/support/OpenWays.h"
#include "tests/support/TempFolder.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

namespace quarn {
namespace {

namespace fs = std::filesystem;

class DiskPlaceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        temp_.WriteFile("game/a.txt", "inside");
        temp_.WriteFile("game/sub/b.txt", "b");
        temp_.WriteFile("outside/secret.txt", "secret");
        root_ = OpenRoot("game");
    }

    std::shared_ptr<const Descriptor> OpenRoot(const std::string& folder) const {
        auto root = std::make_shared<const Descriptor>(
            open(temp_.Join(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        EXPECT_TRUE(root->IsOpen()) << folder;
        return root;
    }
    void Link(const std::string& target, const std::string& link) {
        fs::create_symlink(target, temp_.Join(link));
    }
    DiskPlace Place(const std::string& relative) const {
        return DiskPlace::Beneath(root_, temp_.Join("game/"), relative);
    }
    // The file's bytes, or "errno N" when it does not open.
    std::string Read(const std::string& relative) const {
        const Descriptor file = Place(relative).Open(O_RDONLY);
        if (!file.IsOpen()) {
            return "errno " + std::to_string(errno);
        }
        char text[64] = {};
        const ssize_t got = read(file.Get(), text, sizeof text - 1);
        return got < 0 ? "unreadable" : std::string(text, static_cast<size_t>(got));
    }

    test::TempFolder temp_;
    std::shared_ptr<const Descriptor> root_;
};

class DiskPlaceTest : public test::WithOpenWays<DiskPlaceFixture> {};

TEST_P(DiskPlaceTest, LinksAreFollowedOnlyWhileTheyStayBeneathTheRoot) {
    Link("sub", "game/in");
    Link("../a.txt", "game/sub/up");
    Link(temp_.Join("game/a.txt"), "game/absolute");
    Link("../outside", "game/out");
    Link("../../outside/secret.txt", "game/sub/far");
    Link("missing/x", "game/dangling");
    Link("loop2", "game/loop1");
    Link("loop1", "game/loop2");
    const std::string exdev = "errno " + std::to_string(EXDEV);
    const struct {
        const char* path;
        std::string read;
    } cases[] = {
        {"a.txt", "inside"},
        {"sub/../a.txt", "inside"},
        {"in/b.txt", "b"},
        {"sub/up", "inside"},
        {"in/../a.txt", "inside"},
        {"../outside/secret.txt", exdev},
        {"sub/../../outside/secret.txt", exdev},
        {"absolute", exdev}, // an absolute link never, even to inside
        {"out/secret.txt", exdev},
        {"sub/far", exdev},
        {"dangling", "errno " + std::to_string(ENOENT)},
        {"loop1", "errno " + std::to_string(ELOOP)},
        {"a.txt/x", "errno " + std::to_string(ENOTDIR)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Read(c.path), c.read) << c.path;
    }
}

TEST_P(DiskPlaceTest, CreatingThroughADanglingLinkStaysBeneathTheRoot) {
    Link("sub/new.txt", "game/inward");
    Link("../outside/new.txt", "game/outward");
    EXPECT_TRUE(Place("inward").Open(O_WRONLY | O_CREAT, 0644).IsOpen());
    EXPECT_TRUE(fs::exists(temp_.Join("game/sub/new.txt")));
    EXPECT_FALSE(Place("outward").Open(O_WRONLY | O_CREAT, 0644).IsOpen());
    EXPECT_EQ(errno, EXDEV);
    EXPECT_FALSE(fs::exists(temp_.Join("outside/new.txt")));
    // O_EXCL takes the link itself, as the kernel does.
    EXPECT_FALSE(Place("inward").Open(O_WRONLY | O_CREAT | O_EXCL, 0644).IsOpen());
    EXPECT_EQ(errno, EEXIST);
}

TEST_P(DiskPlaceTest, NamesAreMatchedWithoutCaseOnlyAmongWhatTheRootHolds) {
    temp_.WriteFile("game/Textures/Wall.PNG", "wall");
    Link("../outside", "game/Away");
    EXPECT_EQ(Place("textures/wall.png").WithCaseResolved().GetNativePath(),
              temp_.Join("game/Textures/Wall.PNG"));
    const DiskPlace away = Place("away/secret.txt").WithCaseResolved();
    EXPECT_FALSE(away.Open(O_RDONLY).IsOpen());
    EXPECT_EQ(errno, EXDEV);
    // Stepping above the root names nothing to search.
    EXPECT_EQ(Place("../outside/Secret.txt").WithCaseResolved().GetNativePath(),
              temp_.Join("game/../outside/Secret.txt"));
}

// Another thread swaps a link between a folder inside and one outside while this one reads and
// creates through it: no open may ever land outside, however the two interleave.
TEST_P(DiskPlaceTest, ALinkSwappedMeanwhileNeverLeadsOut) {
    temp_.WriteFile("game/inner/secret.txt", "inside");
    Link("inner", "game/swap");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        const std::string link = temp_.Join("game/swap");
        const std::string next = temp_.Join("game/.swap");
        for (bool out = true; !stop.load(); out = !out) {
            unlink(next.c_str());
            if (symlink(out ? "../outside" : "inner", next.c_str()) == 0) {
                rename(next.c_str(), link.c_str());
            }
        }
    });
    int inside = 0;
    int leaked = 0;
    int created = 0;
    for (int attempt = 0; attempt < 20000; ++attempt) {
        if (attempt % 2 == 1) {
            created += Place("swap/made.txt").Open(O_WRONLY | O_CREAT, 0644).IsOpen();
            continue;
        }
        const std::string text = Read("swap/secret.txt");
        inside += text == "inside";
        leaked += text == "secret";
    }
    stop.store(true);
    swapper.join();
    EXPECT_EQ(leaked, 0);
    EXPECT_GT(inside, 0);
    EXPECT_FALSE(fs::exists(temp_.Join("outside/made.txt")));
    EXPECT_GT(created, 0);
}

QUARN_BOTH_OPEN_WAYS(DiskPlaceTest);

// Two like layouts, one for each way, since creating changes them.
class DiskPlaceWays : public DiskPlaceFixture {
protected:
    void Lay(const std::string& top) {
        temp_.WriteFile(top + "/game/a.txt", "inside");
        temp_.WriteFile(top + "/game/sub/b.txt", "b");
        temp_.WriteFile(top + "/outside/secret.txt", "secret");
        ASSERT_EQ(mkfifo(temp_.Join(top + "/game/pipe").c_str(), 0644), 0);
        const std::pair<std::string, std::string> links[] = {
            {"sub", "in"},
            {"../a.txt", "sub/up"},
            {temp_.Join(top + "/game/a.txt"), "absolute"},
            {"/dev/null", "null"},
            {"../outside", "out"},
            {"../../outside/secret.txt", "sub/far"},
            {"..", "above"},
            {"missing/x", "dangling"},
            {"sub/new.txt", "inward"},
            {"../outside/new.txt", "outward"},
            {"loop2", "loop1"},
            {"loop1", "loop2"},
            {".", "here"},
            {"..", "sub/back"},
            {"pipe", "pipelink"},
            {"sub/", "slash"},
            {"a.txt/", "fileslash"},
        };
        for (const auto& [target, link] : links) {
            Link(target, top + "/game/" + link);
        }
        // Chains of exactly the kernel's hop limit and one past it.
        for (int hop = 0; hop < MaxLinkHops + 1; ++hop) {
            const std::string next = "c" + std::to_string(hop + 1);
            Link(hop == MaxLinkHops - 1 ? "a.txt" : next, top + "/game/c" + std::to_string(hop));
            Link(hop == MaxLinkHops ? "a.txt" : next, top + "/game/d" + std::to_string(hop));
        }
    }
    // What the open gave: the kind and where it landed, or errno.
    std::string Outcome(const std::string& top, const std::string& path, int flags) const {
        const auto root = OpenRoot(top + "/game");
        const Descriptor file =
            DiskPlace::Beneath(root, temp_.Join(top + "/game/"), path).Open(flags, 0644);
        if (!file.IsOpen()) {
            return "errno " + std::to_string(errno);
        }
        struct stat info {};
        std::string landed;
        if (fstat(file.Get(), &info) != 0 ||
            !ReadLinkAt(AT_FDCWD, ("/proc/self/fd/" + std::to_string(file.Get())).c_str(),
                        landed)) {
            return "unnamed";
        }
        const std::string from = temp_.Join(top);
        if (landed.starts_with(from)) {
            landed.replace(0, from.size(), "~");
        }
        return std::to_string(info.st_mode & S_IFMT) + " " + landed;
    }
    // Opens a table of paths under each flag set both ways, each on its own layout, and lists
    // where the answers differ.
    std::vector<std::string> Differences(const std::string& round) {
        const std::string kernelTop = round + "/kernel";
        const std::string walkTop = round + "/walk";
        Lay(kernelTop);
        Lay(walkTop);
        std::vector<std::string> names = {"a.txt", "sub", "pipe", "missing"};
        for (const char* link : {"in", "sub/up", "absolute", "null", "out", "sub/far", "above",
                                 "dangling", "inward", "outward", "loop1", "here", "sub/back",
                                 "pipelink", "slash", "fileslash", "c0", "d0"}) {
            names.emplace_back(link);
        }
        std::vector<std::string> paths = {"", ".", "..", "../game/a.txt", "/a.txt", "sub//b.txt"};
        for (const std::string& name : names) {
            for (const char* form : {"%", "%/", "%/.", "%/..", "%/b.txt", "./%", "sub/../%"}) {
                std::string path = form;
                path.replace(path.find('%'), 1, name);
                paths.push_back(path);
            }
        }
        const int flagSets[] = {
            O_RDONLY | O_NONBLOCK | O_NOCTTY,
            O_PATH,
            O_PATH | O_NOFOLLOW,
            O_PATH | O_DIRECTORY,
            O_RDONLY | O_DIRECTORY,
            O_RDONLY | O_NOFOLLOW | O_NONBLOCK,
            O_WRONLY | O_CREAT | O_NONBLOCK,
            O_WRONLY | O_CREAT | O_EXCL,
        };
        std::vector<std::string> differences;
        for (const int flags : flagSets) {
            for (const std::string& path : paths) {
                SetBeneathWalkForced(false);
                const std::string kernel = Outcome(kernelTop, path, flags);
                SetBeneathWalkForced(true);
                const std::string walk = Outcome(walkTop, path, flags);
                SetBeneathWalkForced(false);
                if (walk != kernel) {
                    std::ostringstream line;
                    line << "'" << path << "' with flags " << std::oct << flags << ": the walk "
                         << walk << ", the kernel " << kernel;
                    differences.push_back(line.str());
                }
            }
        }
        return differences;
    }
};

// Every path under every flag answers alike both ways, down to errno, so that what the log says
// of a game's file never depends on the kernel the game runs on.
TEST_F(DiskPlaceWays, BothWaysAnswerEveryPathAndFlagAlike) {
    if (!KernelResolvesBeneath()) {
        GTEST_SKIP() << "this kernel has no beneath-only lookup: there is only the walk";
    }
    // A difference of ours comes back on fresh layouts; one the busy machine made (a full disk,
    // memory short for a moment) does not, so a second round on new layouts must agree whole.
    std::vector<std::string> differences = Differences("first");
    if (!differences.empty()) {
        std::cerr << "The first round differed; a second round on fresh layouts:\n";
        for (const std::string& difference : differences) {
            std::cerr << "  " << difference << '\n';
        }
        differences = Differences("second");
    }
    for (const std::string& difference : differences) {
        ADD_FAILURE() << difference;
    }
}

} // namespace
} // namespace quarn
