#include "editor/EditorMenu.h"

#include "editor/MenuWidgets.h"
#include "editor/Toolbar.h"
#include "editor/UiLayer.h"
#include "gpu/software/SoftwareDevice.h"

#include <gtest/gtest.h>
#include <imgui.h>

namespace quarn {
namespace {

std::vector<uint32_t> Ids(const std::vector<MenuItem>& items) {
    std::vector<uint32_t> ids;
    for (const MenuItem& item : items) {
        ids.push_back(item.id);
    }
    return ids;
}

TEST(EditorMenu, TheMainMenuHoldsEveryCommandInOrderWithTheRecentPlaceholdersLast) {
    Menu menu = MakeMainMenu();
    std::vector<std::string> titles;
    for (const MenuItem& item : menu.Menus()) {
        titles.push_back(item.text);
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"File", "Edit", "View", "Game", "Functions",
                                                "GameObject", "Help"}));
    const std::vector<MenuItem>& file = menu.Menus()[0].items;
    EXPECT_EQ(Ids(file), (std::vector<uint32_t>{40006, 40002, 40044, 40125, 40007, 40012, 40080,
                                                40104, 40004, 0, 40086, 40087, 40088, 40089, 40090,
                                                40091, 40092, 40093, 40094}));
    EXPECT_TRUE(file[RecentFilesPosition - 1].IsSeparator());
    EXPECT_EQ(file.back().text, "Recent9");
    // Submenus and their commands are found at any depth; two "<none>" items stay apart.
    const struct {
        uint32_t id;
        const char* text;
    } found[] = {{40130, "640 x 380"},
                 {40067, "Assemble lightmaps"},
                 {40042, "Calculate radiosity"},
                 {40051, "<none>"},
                 {40037, "<none>"},
                 {40082, "About"}};
    for (const auto& c : found) {
        ASSERT_NE(menu.Find(c.id), nullptr) << c.id;
        EXPECT_EQ(menu.Find(c.id)->text, c.text);
    }
    EXPECT_EQ(menu.Find(0), nullptr); // neither a separator nor a submenu
    EXPECT_EQ(menu.Find(41000), nullptr);
}

TEST(EditorMenu, StatesAndTextsChangeOnlyTheItemNamed) {
    Menu menu = MakeMainMenu();
    EXPECT_TRUE(menu.Enable(40021, false));
    EXPECT_TRUE(menu.Check(40021, true));
    EXPECT_TRUE(menu.SetText(40010, "Undo move"));
    EXPECT_FALSE(menu.Enable(12345, false));
    EXPECT_FALSE(menu.Find(40021)->enabled);
    EXPECT_TRUE(menu.Find(40021)->checked);
    EXPECT_TRUE(menu.Find(40014)->enabled);
    EXPECT_FALSE(menu.Find(40014)->checked);
    EXPECT_EQ(menu.Find(40010)->text, "Undo move");
}

TEST(Toolbar, ButtonsKeepTheirStatesByIdAndSeparatorsAnswerNothing) {
    const ToolbarButton buttons[] = {
        {0, 41000, ToolbarStateEnabled, ToolbarStyleButton},
        {0, 0, ToolbarStateEnabled, ToolbarStyleSeparator},
        {4, 41001, ToolbarStateEnabled, ToolbarStyleCheck},
    };
    Toolbar toolbar(buttons, 3);
    EXPECT_TRUE(toolbar.IsButtonEnabled(41000));
    EXPECT_TRUE(toolbar.CheckButton(41001, true));
    EXPECT_TRUE(toolbar.EnableButton(41000, false));
    EXPECT_FALSE(toolbar.EnableButton(0, true)); // the separator's id names no button
    EXPECT_FALSE(toolbar.IsButtonEnabled(41000));
    EXPECT_TRUE(toolbar.IsButtonChecked(41001));
    EXPECT_TRUE(toolbar.IsButtonEnabled(41001));
    EXPECT_FALSE(toolbar.IsButtonPressed(41001));
    EXPECT_FALSE(toolbar.CheckButton(41002, true));
}

// Frames of the UI on the software device, the mouse driven as a user drives it.
class MenuWidgets : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create({.backBufferWidth = 320, .backBufferHeight = 200});
        ASSERT_NE(device_, nullptr);
        layer_ = std::make_unique<UiLayer>(*device_);
    }
    void Frame() {
        device_->BeginScene();
        layer_->BeginFrame(320, 200, 1.0f / 60.0f);
        DrawMenuBar(*layer_, menu_, [this](uint32_t id) { chosen_.push_back(id); });
        toolbar_.Draw(
            *layer_, UiMenuBarHeight, 320, nullptr, 0, 0,
            [this](int32_t id) { chosen_.push_back(static_cast<uint32_t>(id)); },
            [](int32_t id) { return id == 41000 ? std::string("Save") : std::string(); });
        layer_->EndFrame();
        device_->EndScene();
    }
    // Presses and releases over a named item of the last frame, a frame each.
    void Click(const std::string& name) {
        const auto item = layer_->FindItem(name);
        ASSERT_TRUE(item) << name;
        layer_->MouseMove(item->CentreX(), item->CentreY());
        layer_->MouseButton(UiMouseButton::Left, true);
        Frame();
        layer_->MouseButton(UiMouseButton::Left, false);
        Frame();
    }

    static constexpr ToolbarButton Buttons[] = {{0, 41000, ToolbarStateEnabled, 0},
                                                {1, 41001, 0, 0}};
    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<UiLayer> layer_;
    Menu menu_ = MakeMainMenu();
    Toolbar toolbar_{Buttons, 2};
    std::vector<uint32_t> chosen_;
};

TEST_F(MenuWidgets, AChosenItemAndAClickedButtonGiveTheirIdsAndGreyedOnesNothing) {
    menu_.Enable(40007, false);
    Frame();
    Click("menu:File");
    Click("cmd:40007"); // greyed: the menu stays open, nothing is chosen
    Click("cmd:40012");
    Frame();
    EXPECT_FALSE(layer_->FindItem("cmd:40012")); // the menu closed with the choice
    Click("tool:1");
    Click("tool:0");
    EXPECT_EQ(chosen_, (std::vector<uint32_t>{40012, 41000}));
}

TEST_F(MenuWidgets, AButtonCountsAsPressedOnlyWhileTheMouseHoldsIt) {
    Frame();
    const auto item = layer_->FindItem("tool:0");
    ASSERT_TRUE(item);
    layer_->MouseMove(item->CentreX(), item->CentreY());
    layer_->MouseButton(UiMouseButton::Left, true);
    Frame();
    Frame();
    EXPECT_TRUE(toolbar_.IsButtonPressed(41000));
    layer_->MouseButton(UiMouseButton::Left, false);
    Frame();
    EXPECT_FALSE(toolbar_.IsButtonPressed(41000));
}

} // namespace
} // namespace quarn
