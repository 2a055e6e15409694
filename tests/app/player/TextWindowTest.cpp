#include "core/object/MethodInfo.h"
#include "core/os/Dialogs.h"
#include "core/string/TextArena.h"
#include "script/machine/ScriptLibrary.h"
#include "tests/app/player/PlayerTestSupport.h"

#include <algorithm>

namespace quarn {
namespace {

// Scripts' text windows through the script functions that reach them, in a running engine.
class TextWindowRun : public test::PlayerTest {
protected:
    void StartIn(bool editor) {
        folder.WriteFile("config.txt", "");
        folder.WriteFile("data/Quarn/init.txt", "editor_windowsize = \"400,300\"\n");
        ASSERT_TRUE(editor ? StartEditor() : Start());
        if (!editor) {
            GetPlatform()->SetClientSize(400, 300);
        }
        ASSERT_TRUE(Step());
    }
    static std::vector<uint32_t> Call(int index, const std::vector<uint32_t>& arguments) {
        const MethodInfo* function = GetRegisteredFunction(GetScriptLibraryFirstIndex() + index);
        std::vector<uint32_t> block(1 + arguments.size() + 4, 0);
        std::copy(arguments.begin(), arguments.end(), block.begin() + 1);
        function->Call(nullptr, block.data());
        return block;
    }
    static uint32_t T(const char* text) { return TextWordOf(PutTempString(text)); }
    static uint32_t Open(Int2 at, const char* caption, const char* text) {
        return Call(120, {uint32_t(at.x), uint32_t(at.y), T(caption), T(text)})[0];
    }
    static std::string Text(uint32_t handle) { return LookupText(Call(122, {handle})[0]); }
    static bool Shown(const std::string& item) {
        return GetEditorUi() && GetEditorUi()->FindItem(item).has_value();
    }
};

FRESH_PROCESS_TEST_F(TextWindowRun, OpensAtTheViewOriginPlusItsPlaceAndGivesTypedTextBack) {
    StartIn(true);
    const uint32_t handle = Open({30, 40}, "Notes", "");
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(StepFrames(2)); // a new window is measured in its first frame, shown in the next
    const auto title = GetEditorUi()->FindItem("text:1");
    ASSERT_TRUE(title);
    const Int2 view = GetEditorViewPlace(*GetPlatform());
    EXPECT_EQ(Int2(int32_t(title->left), int32_t(title->top)), Int2(view.x + 30, view.y + 40));
    EXPECT_EQ(dialogs->Windows().Count(), 0u); // on the UI layer, not the back end's table

    ASSERT_TRUE(ClickItem("text:1:edit"));
    Sdl().InjectText("caf\xC3\xA9 \xE2\x82\xAC");
    ASSERT_TRUE(Step());
    EXPECT_EQ(Text(handle), "caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(GetDialogEditText(1, false), "caf\xE9 ?");

    // OK hides the window; its text stays readable until it is closed.
    ASSERT_TRUE(ClickItem("text:1:OK"));
    ASSERT_TRUE(StepFrames(2)); // the release, then a frame without the window
    EXPECT_FALSE(Shown("text:1"));
    EXPECT_EQ(Text(handle), "caf\xC3\xA9 \xE2\x82\xAC");
    Call(123, {handle});
    EXPECT_EQ(Text(handle), "");
    for (uint32_t forged : {handle, 0u, 777u}) {
        Call(123, {forged});
        EXPECT_EQ(Text(forged), "");
    }
}

FRESH_PROCESS_TEST_F(TextWindowRun, EachWindowKeepsItsOwnTextCutTo255Characters) {
    StartIn(true);
    const std::string latin1(300, '\xE9');
    const uint32_t first = Open({0, 0}, "A", "one\ntwo");
    const uint32_t second = Open({100, 0}, "A", latin1.c_str());
    ASSERT_TRUE(StepFrames(2));
    EXPECT_TRUE(Shown("text:1") && Shown("text:2"));
    EXPECT_EQ(Text(first), "one\ntwo");
    EXPECT_EQ(GetDialogEditText(2, false), latin1.substr(0, 255));
    EXPECT_EQ(Text(second).size(), 510u); // each é two bytes of UTF-8
    ASSERT_TRUE(ClickItem("text:2:Cancel"));
    ASSERT_TRUE(StepFrames(2));
    EXPECT_TRUE(Shown("text:1"));
    EXPECT_FALSE(Shown("text:2"));
}

FRESH_PROCESS_TEST_F(TextWindowRun,
                     ThePlayerShowsAScriptsWindowOverTheViewAndOtherwiseOnlyItsFrames) {
    StartIn(false);
    ASSERT_TRUE(StepFrames(3));
    EXPECT_EQ(GetEditorUi(), nullptr);
    EXPECT_EQ(GetEditorWindowImage(), nullptr);

    const uint32_t handle = Open({20, 20}, "Notes", "hello");
    ASSERT_NE(handle, 0u);
    ASSERT_TRUE(StepFrames(2)); // a new window is measured in its first frame, shown in the next
    ASSERT_NE(GetEditorWindowImage(), nullptr);
    const auto title = GetEditorUi()->FindItem("text:1");
    ASSERT_TRUE(title);
    const Int2 view = GetEditorViewPlace(*GetPlatform());
    EXPECT_EQ(Int2(int32_t(title->left), int32_t(title->top)), Int2(view.x + 20, view.y + 20));
    const Int2 inside(int32_t(title->CentreX()), int32_t(title->CentreY()));
    EXPECT_NE(ImagePixel(inside.x, inside.y), Pixel(uint32_t(inside.x), uint32_t(inside.y)));
    EXPECT_EQ(Text(handle), "hello");
}

} // namespace
} // namespace quarn
