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
            // Appended piece by piece: "(" + a temporary trips a false -Wrestrict.
            text += '(';
            text += Describe(item);
            text += ')';
        }
    }
    return text;
}

TEST(FolderMenuTest, ListsMatchingFilesAndEachFolderOnceThroughLinksAndNothingWithoutAFolder) {
    test::TempFolder folder;
    for (const char* file :
         {"b.bmp", "A.BMP", "c.png", "sub/d.bmp", "sub/deep/e.bmp", ".svn/f.bmp", "empty/.keep"}) {
        folder.WriteFile(file, "x");
    }
    // A link back to the top and one to a sibling: neither offers a folder a second time.
    std::filesystem::create_directory_symlink(folder.Path(), folder.Join("sub/deep/up"));
    std::filesystem::create_directory_symlink(folder.Join("sub"), folder.Join("again"));
    NodeMenuItem menu;
    BuildFolderMenu(menu, folder.Path(), {"*.bmp"});
    EXPECT_EQ(Describe(menu), "<A.BMP> <b.bmp> empty() sub(<sub/d.bmp> deep(<sub/deep/e.bmp>))");
    // Listed afresh on each opening, and still once.
    EXPECT_EQ(Describe(menu), "<A.BMP> <b.bmp> empty() sub(<sub/d.bmp> deep(<sub/deep/e.bmp>))");
    BuildFolderMenu(menu, folder.Path(), {"*.png", "*.bmp"});
    EXPECT_EQ(Describe(menu),
              "<A.BMP> <b.bmp> <c.png> empty() sub(<sub/d.bmp> deep(<sub/deep/e.bmp>))");
    for (const char* none : {"", "/no/such/folder/"}) {
        BuildFolderMenu(menu, none, {"*.bmp"});
        EXPECT_TRUE(menu.items.empty()) << none;
    }
}

} // namespace
} // namespace quarn
