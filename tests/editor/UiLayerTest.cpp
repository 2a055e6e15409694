#include "editor/UiLayer.h"

#include "gpu/software/SoftwareDevice.h"

#include <functional>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_stdlib.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t Width = 200;
constexpr uint32_t Height = 150;
constexpr uint32_t Background = 0xFF102030;

class UiLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create({.backBufferWidth = Width, .backBufferHeight = Height});
        ASSERT_NE(device_, nullptr);
        layer_ = std::make_unique<UiLayer>(*device_);
    }

    // One UI frame over a cleared target.
    void Frame(const std::function<void()>& widgets, float seconds = 1.0f / 60.0f) {
        device_->BeginScene();
        device_->Clear({}, GpuClearTarget, Background, 1.0f, 0);
        layer_->BeginFrame(Width, Height, seconds);
        widgets();
        layer_->EndFrame();
        device_->EndScene();
    }

    uint32_t Pixel(int32_t x, int32_t y) {
        return static_cast<SoftwareSurface*>(device_->GetBackBuffer())->ReadArgb(x, y);
    }

    // A plain window at (x, y) of the size, its background the colour (0xAARRGGBB).
    static bool BeginPlain(const char* name, float x, float y, float w, float h, uint32_t argb) {
        ImGui::SetNextWindowPos(ImVec2(x, y));
        ImGui::SetNextWindowSize(ImVec2(w, h));
        ImGui::PushStyleColor(ImGuiCol_WindowBg,
                              ImVec4(((argb >> 16) & 0xFF) / 255.0f, ((argb >> 8) & 0xFF) / 255.0f,
                                     (argb & 0xFF) / 255.0f, (argb >> 24) / 255.0f));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
        ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
        const bool open =
            ImGui::Begin(name, nullptr, ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove);
        ImGui::PopStyleVar(2);
        ImGui::PopStyleColor();
        return open;
    }

    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<UiLayer> layer_;
};

TEST_F(UiLayerTest, AFilledWindowShowsItsExactColourAndTheRestOfTheTargetIsUntouched) {
    Frame([] {
        BeginPlain("fill", 20, 10, 100, 50, 0xFFCC3311);
        ImGui::End();
    });
    EXPECT_EQ(Pixel(20, 10), 0xFFCC3311u);
    EXPECT_EQ(Pixel(119, 59), 0xFFCC3311u);
    EXPECT_EQ(Pixel(19, 10), Background);
    EXPECT_EQ(Pixel(120, 59), Background);
    EXPECT_EQ(Pixel(20, 60), Background);
    // The pass leaves the device as it found it.
    EXPECT_EQ(device_->GetRenderState(GpuRenderState::ScissorTestEnable), 0u);
    EXPECT_EQ(device_->GetRenderState(GpuRenderState::AlphaBlendEnable), 0u);
    EXPECT_EQ(device_->GetTexture(0), nullptr);
}

TEST_F(UiLayerTest, ALabelDrawsTextInsideItsRectangleOnlyAndAClippedChildStopsAtItsClip) {
    ImVec2 low, high, childLow, childHigh;
    Frame([&] {
        BeginPlain("text", 0, 0, Width, Height, 0xFF000000);
        ImGui::TextUnformatted("Hello");
        low = ImGui::GetItemRectMin();
        high = ImGui::GetItemRectMax();
        ImGui::SetCursorPos(ImVec2(40, 60));
        ImGui::BeginChild("clip", ImVec2(50, 30));
        childLow = ImGui::GetWindowPos();
        childHigh = ImVec2(childLow.x + 50, childLow.y + 30);
        // Far larger than the child.
        ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(0, 0), ImVec2(Width, Height), 0xFFFFFFFF);
        ImGui::EndChild();
        ImGui::End();
    });
    int32_t inside = 0;
    for (int32_t y = 0; y < 40; ++y) {
        for (int32_t x = 0; x < static_cast<int32_t>(Width); ++x) {
            const bool inLabel = x >= low.x && x < high.x && y >= low.y && y < high.y;
            if (Pixel(x, y) != 0xFF000000u) {
                EXPECT_TRUE(inLabel) << x << "," << y;
                inside += inLabel ? 1 : 0;
            }
        }
    }
    EXPECT_GT(inside, 10);
    for (int32_t y = 40; y < static_cast<int32_t>(Height); ++y) {
        for (int32_t x = 0; x < static_cast<int32_t>(Width); ++x) {
            const bool inChild =
                x >= childLow.x && x < childHigh.x && y >= childLow.y && y < childHigh.y;
            ASSERT_EQ(Pixel(x, y), inChild ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
        }
    }
}

TEST_F(UiLayerTest, APressAndReleaseBetweenTwoFramesStillClickAButton) {
    int clicks = 0;
    ImVec2 centre;
    auto widgets = [&] {
        BeginPlain("button", 0, 0, Width, Height, 0xFF000000);
        if (ImGui::Button("Press")) {
            ++clicks;
        }
        centre = ImVec2((ImGui::GetItemRectMin().x + ImGui::GetItemRectMax().x) / 2,
                        (ImGui::GetItemRectMin().y + ImGui::GetItemRectMax().y) / 2);
        ImGui::End();
    };
    Frame(widgets);
    // Hit against the last frame's windows before any frame saw the pointer there.
    EXPECT_TRUE(layer_->WantsMouseAt(centre.x, centre.y));
    EXPECT_FALSE(layer_->WantsMouseAt(Width + 10.0f, 5.0f));
    layer_->MouseMove(centre.x, centre.y);
    Frame(widgets);
    EXPECT_TRUE(layer_->WantsMouse());
    layer_->MouseButton(UiMouseButton::Left, true);
    layer_->MouseButton(UiMouseButton::Left, false);
    Frame(widgets);
    EXPECT_EQ(clicks, 0);
    Frame(widgets);
    EXPECT_EQ(clicks, 1);
    layer_->MouseMove(Width + 10.0f, Height + 10.0f);
    Frame(widgets);
    EXPECT_FALSE(layer_->WantsMouse());
}

// A press is a double click's second when the window system counted it so, whatever time the
// frames took that brought the presses: slow frames, and a press held back a frame behind its
// click's release, stretch the UI's own count.
TEST_F(UiLayerTest, APressIsADoubleClicksSecondAsTheWindowSystemCountedIt) {
    for (const bool marked : {true, false}) {
        for (const float seconds : {1.0f / 60.0f, 0.4f}) {
            std::vector<int> counts;
            layer_->MouseMove(10.0f, 10.0f);
            layer_->MouseButton(UiMouseButton::Left, true);
            layer_->MouseButton(UiMouseButton::Left, false);
            layer_->MouseButton(UiMouseButton::Left, true, marked);
            layer_->MouseButton(UiMouseButton::Left, false);
            for (int frame = 0; frame < 4; ++frame) {
                Frame([&counts] { counts.push_back(ImGui::GetMouseClickedCount(0)); }, seconds);
            }
            EXPECT_EQ(counts, (std::vector<int>{1, 0, marked ? 2 : 1, 0}))
                << marked << " " << seconds;
            Frame([] {}, 1.0f);
        }
    }
}

// Modifiers go in line with the keys: a chord let go before its frame reaches the UI as it was
// pressed.
TEST_F(UiLayerTest, AKeyReachesTheUiWithTheModifiersOfItsOwnEvent) {
    layer_->Modifiers(true, false, false);
    layer_->Key(ImGuiKey_A, true);
    layer_->Modifiers(true, false, false);
    layer_->Key(ImGuiKey_A, false);
    layer_->Modifiers(false, false, false);
    std::vector<std::string> seen;
    for (int frame = 0; frame < 3; ++frame) {
        Frame([&seen] {
            const ImGuiIO& io = ImGui::GetIO();
            seen.push_back(std::string(io.KeyCtrl ? "ctrl" : "") +
                           (io.KeysDown[ImGuiKey_A] ? "+A" : ""));
        });
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"ctrl+A", "", ""}));
}

TEST_F(UiLayerTest, NamedItemsAreFoundByTheirVisiblePartAfterTheirFrame) {
    float menuBarBottom = 0.0f;
    auto widgets = [&] {
        if (ImGui::BeginMainMenuBar()) {
            ImGui::Button("File");
            layer_->NameLastItem("menu:File");
            menuBarBottom = ImGui::GetWindowHeight();
            ImGui::EndMainMenuBar();
        }
        BeginPlain("list", 20, 40, 100, 50, 0xFF000000);
        for (int row = 0; row < 20; ++row) {
            ImGui::Button(("row " + std::to_string(row)).c_str(), ImVec2(150, 0));
            layer_->NameLastItem("row:" + std::to_string(row));
        }
        ImGui::End();
    };
    EXPECT_FALSE(layer_->FindItem("menu:File"));
    Frame(widgets);
    Frame(widgets);
    // The window sizes count on this height before the layer exists.
    EXPECT_EQ(menuBarBottom, static_cast<float>(UiMenuBarHeight));
    const auto file = layer_->FindItem("menu:File");
    ASSERT_TRUE(file);
    EXPECT_LT(file->CentreY(), static_cast<float>(UiMenuBarHeight));
    // The first row is cut at the window's right edge; rows below its bottom are not there.
    const auto first = layer_->FindItem("row:0");
    ASSERT_TRUE(first);
    EXPECT_GE(first->left, 20.0f);
    EXPECT_LE(first->right, 120.0f);
    EXPECT_GE(first->top, 40.0f);
    EXPECT_FALSE(layer_->FindItem("row:19"));
    EXPECT_FALSE(layer_->FindItem("row:"));
}

TEST_F(UiLayerTest, ALongTextSurvivesAFieldEditWhole) {
    std::string text(100000, 'a');
    for (size_t i = 0; i < text.size(); i += 97) {
        text[i] = static_cast<char>('b' + i % 20);
    }
    const std::string original = text;
    bool focus = true;
    auto widgets = [&] {
        BeginPlain("field", 0, 0, Width, Height, 0xFF000000);
        if (focus) {
            ImGui::SetKeyboardFocusHere();
            focus = false;
        }
        ImGui::InputText("##long", &text);
        ImGui::End();
    };
    for (int frame = 0; frame < 3; ++frame) {
        Frame(widgets);
    }
    EXPECT_TRUE(layer_->WantsKeyboard());
    // Focusing selects all; End leaves the caret after the last byte.
    layer_->Key(ImGuiKey_End, true);
    layer_->Key(ImGuiKey_End, false);
    Frame(widgets);
    Frame(widgets);
    layer_->Text("\xC3\xA9z");
    Frame(widgets);
    EXPECT_EQ(text, original + "\xC3\xA9z");
}

TEST(UiText, ValidUtf8StaysAndOtherBytesReadAsLatin1) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"caf\xE9", "caf\xC3\xA9"},
        {"\xEF\xBF\xBD", "\xEF\xBF\xBD"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(UiText(in), out) << in;
    }
}

} // namespace
} // namespace quarn
