#include "editor/FolderMenu.h"

#include "core/scene/NodeMenu.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace quarn {
namespace {

// The menu as text, every listed submenu opened: "label(items)".
std::string Describe(NodeMenuItem& menu) {
    std::string text;
    for (NodeMenuItem& item : menu.items) {
        text += text.empty() ? "" : " ";
        text += item.label;
        if (item.open) {
            item.open(item);
            text += "(" + Describe(item) + ")";
        }
    }
    return text;
}

TEST(FolderMenuTest, ListsMatchingFilesAndEachFolderOnceThroughLinks) {
    test::TempFolder folder;
    for (const char* file :
         {"b.bmp", "A.BMP", "c.png", "sub/d.bmp", "sub/deep/e.bmp", ".svn/f.bmp", "empty/.keep"}) {
        folder.WriteFile(file, "x");
    }
    // A link back to the top and one to a sibling: neither offers a folder a second time.
    std::filesystem::create_directory_symlink(folder.Path(), folder.Join("sub/deep/up"));
    std::filesystem::create_directory_symlink(folder.Join("sub"), folder.Join("again"));
    NodeMenuItem menu;
    BuildFolderMenu(menu, folder.Path(), "*.bmp");
    EXPECT_EQ(Describe(menu), "<A.BMP> <b.bmp> empty() sub(<sub/d.bmp> deep(<sub/deep/e.bmp>))");
    // Listed afresh on each opening, and still once.
    EXPECT_EQ(Describe(menu), "<A.BMP> <b.bmp> empty() sub(<sub/d.bmp> deep(<sub/deep/e.bmp>))");
}

TEST(FolderMenuTest, AFolderThatCannotBeReadGivesAnEmptyMenu) {
    NodeMenuItem menu;
    menu.items.push_back({"stale", false, true, {}, {}});
    BuildFolderMenu(menu, "/no/such/folder/", "*.bmp");
    EXPECT_TRUE(menu.items.empty());
}

} // namespace
} // namespace quarn
