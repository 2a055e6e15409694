#include "core/filesystem/DiskPlace.h"

#include "tests/support/TempFolder.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace quarn {
namespace {

namespace fs = std::filesystem;

// Every case runs twice: through the kernel's beneath-only lookup and through our own walk,
// which serves kernels and containers that refuse it.
class DiskPlaceTest : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        SetBeneathWalkForced(GetParam());
        temp_.WriteFile("game/a.txt", "inside");
        temp_.WriteFile("game/sub/b.txt", "b");
        temp_.WriteFile("outside/secret.txt", "secret");
        root_ = std::make_shared<const Descriptor>(
            open(temp_.Join("game").c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(root_->IsOpen());
    }
    void TearDown() override { SetBeneathWalkForced(false); }

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

INSTANTIATE_TEST_SUITE_P(KernelAndWalk, DiskPlaceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Walk" : "Kernel";
                         });

} // namespace
} // namespace quarn
