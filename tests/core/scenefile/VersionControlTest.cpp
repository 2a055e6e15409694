#include "core/scenefile/VersionControl.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

bool Refuse(const char*, int) {
    return false;
}

TEST(VersionControlHooks, EveryFileMayBeSavedAndEditedUnlessTheShellRefuses) {
    EXPECT_TRUE(VersionControlCheckSave("scenes/a.scn", VersionControlSaveMode));
    EXPECT_TRUE(VersionControlOpenForEdit("a.branch", 1));
    EXPECT_EQ(GetVersionControl(), nullptr);

    SetVersionControlHooks(&Refuse, &Refuse);
    EXPECT_FALSE(VersionControlCheckSave("scenes/a.scn", VersionControlSaveMode));
    EXPECT_FALSE(VersionControlOpenForEdit("a.branch", 1));

    SetVersionControlHooks(nullptr, nullptr);
    EXPECT_TRUE(VersionControlCheckSave(nullptr, VersionControlSaveMode));
}

} // namespace
} // namespace quarn
