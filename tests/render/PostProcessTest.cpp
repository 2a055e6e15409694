#include "render/PostProcess.h"

#include "core/filesystem/DiskFileSystem.h"
#include "core/scene/Folder.h"
#include "device/Shader.h"
#include "resources/EffectShader.h"
#include "resources/ResourceRegistry.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/PngFixture.h"
#include "tests/render/ShaderFiles.h"
#include "tests/support/CapturingLogSink.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace quarn {
namespace {

constexpr uint32_t ViewWidth = 200;
constexpr uint32_t ViewHeight = 150;

uint32_t Channel(uint32_t argb, int shift) {
    return (argb >> shift) & 0xFF;
}

// A frame with every channel varying, so a wrong texel or a swapped channel shows.
uint32_t Patterned(uint32_t x, uint32_t y) {
    return GpuArgb(0xFF, (x * 7 + y) & 0xFF, (y * 5 + 40) & 0xFF, ((x + y) * 3) & 0xFF);
}

// Chains of post-process nodes (render type 2D) run by one render target over a patterned
// 200 x 150 frame, on a 96 x 80 screen that the viewport outgrows.
class PostProcessTest : public test::RenderScene {
protected:
    void SetUp() override {
        ReleasePostProcessTextures();
        MakeDevice(GpuCaps{});
        RenderScene::SetUp();
        PostProcess::RegisterClass();
        target_->SetTargetFlags(TargetDefaultFlags);
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        ASSERT_TRUE(CreatePostProcessTextures());
    }
    void TearDown() override {
        ReleasePostProcessTextures();
        SetFileSystem(nullptr);
        RenderScene::TearDown();
    }

    void MakeDevice(const GpuCaps& caps) {
        GpuDisplayMode display;
        display.width = 96;
        display.height = 80;
        auto device = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, caps, display);
        ASSERT_TRUE(device->Create(DeviceDepthStencil | DeviceDepthSearchAll, nullptr, ViewWidth,
                                   ViewHeight));
        device_ = std::move(device);
    }

    PostProcess* Step(PostProcessOp op, PostProcessImage source, PostProcessImage target,
                      float property = 1.0f, Node* parent = nullptr) {
        auto* node = tree_.Make<PostProcess>("post", parent ? parent : root_);
        node->SetRenderType(Render2D);
        node->SetTexOp(static_cast<uint32_t>(op));
        node->SetSource(static_cast<uint32_t>(source));
        node->SetTarget(static_cast<uint32_t>(target));
        node->SetShaderProperty(property);
        return node;
    }
    // One frame over the pattern.
    void PatternFrame() {
        BeginFrame();
        auto* back = static_cast<SoftwareSurface*>(device_->Gpu()->GetBackBuffer());
        for (uint32_t y = 0; y < ViewHeight; ++y) {
            for (uint32_t x = 0; x < ViewWidth; ++x) {
                back->WriteArgb(x, y, Patterned(x, y));
            }
        }
        UpdateNodeTree(root_);
        EndFrame();
    }
    std::vector<uint32_t> Screen() {
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < ViewHeight; ++y) {
            for (uint32_t x = 0; x < ViewWidth; ++x) {
                pixels.push_back(Pixel(x, y));
            }
        }
        return pixels;
    }
    static std::vector<uint32_t> Expected(uint32_t (*of)(uint32_t, uint32_t)) {
        std::vector<uint32_t> pixels;
        for (uint32_t y = 0; y < ViewHeight; ++y) {
            for (uint32_t x = 0; x < ViewWidth; ++x) {
                pixels.push_back(of(x, y));
            }
        }
        return pixels;
    }
    static uint32_t Inverted(uint32_t x, uint32_t y) {
        return Patterned(x, y) ^ 0x00FFFFFF;
    }
    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(PostProcessTest, InvertThenCopyGivesTheInvertedFrameAndTwoInvertsTheFrame) {
    Step(PostProcessOp::Invert, PostProcessImage::BackBuffer, PostProcessImage::Result);
    PostProcess* last = Step(PostProcessOp::Copy, PostProcessImage::Result,
                             PostProcessImage::BackBuffer);
    PatternFrame();
    EXPECT_EQ(Screen(), Expected(&Inverted));
    last->SetTexOp(static_cast<uint32_t>(PostProcessOp::Invert));
    PatternFrame();
    EXPECT_EQ(Screen(), Expected(&Patterned));

    // A smaller viewport moves the quads' coordinates with it.
    last->SetTexOp(static_cast<uint32_t>(PostProcessOp::Copy));
    device_->SetViewport(0, 0, 100, 75);
    PatternFrame();
    for (const auto& p : {std::pair{0u, 0u}, std::pair{99u, 74u}, std::pair{50u, 30u}}) {
        EXPECT_EQ(Pixel(p.first, p.second), Inverted(p.first, p.second));
    }
}

TEST_F(PostProcessTest, ChainsPassTheirImagesThroughResultsAndTheTemporaryImage) {
    const struct {
        const char* name;
        std::vector<std::pair<PostProcessImage, PostProcessImage>> steps; // each INVERT
        bool inverted;
    } cases[] = {
        // The second reads the first's result.
        {"result to result",
         {{PostProcessImage::BackBuffer, PostProcessImage::Result},
          {PostProcessImage::Result, PostProcessImage::Result},
          {PostProcessImage::Result, PostProcessImage::BackBuffer}},
         true},
        {"temporary",
         {{PostProcessImage::BackBuffer, PostProcessImage::Temp},
          {PostProcessImage::Temp, PostProcessImage::BackBuffer}},
         false},
        // A node reading the image it draws into draws nothing.
        {"temporary to itself",
         {{PostProcessImage::BackBuffer, PostProcessImage::Temp},
          {PostProcessImage::Temp, PostProcessImage::Temp},
          {PostProcessImage::Temp, PostProcessImage::BackBuffer}},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto* chain = tree_.Make<Folder>("chain", root_);
        for (const auto& [source, target] : c.steps) {
            Step(PostProcessOp::Invert, source, target, 1.0f, chain);
        }
        PatternFrame();
        EXPECT_EQ(Screen(), Expected(c.inverted ? &Inverted : &Patterned));
        chain->Delete();
    }
}

TEST_F(PostProcessTest, EachOperationGivesItsHandComputedPixels) {
    temp_.WriteFile("glow.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) {
                        return 0xFF204060u;
                    }));
    // Channel k of the pattern at (x, y), and the operations' results per channel.
    const auto c = [](uint32_t x, uint32_t y, int shift) {
        return static_cast<float>(Channel(Patterned(x, y), shift)) / 255.0f;
    };
    const auto blur = [&](uint32_t x, uint32_t y, int shift, int dx, int dy) {
        const float w[5] = {1, 4, 6, 4, 1};
        float sum = 0.0f;
        for (int k = -2; k <= 2; ++k) {
            sum += w[k + 2] * c(x + k * dx, y + k * dy, shift);
        }
        return sum / 16.0f;
    };
    const auto clamp = [](float v) { return std::clamp(v, 0.0f, 1.0f); };
    const struct {
        PostProcessOp op;
        float property;
        const char* texture;
        std::function<float(uint32_t, uint32_t, int)> result;
    } cases[] = {
        {PostProcessOp::Copy, 0.3f, "", c},
        {PostProcessOp::BlurHorizontal, 1.0f, "",
         [&](uint32_t x, uint32_t y, int s) { return blur(x, y, s, 1, 0); }},
        {PostProcessOp::BlurVertical, 1.0f, "",
         [&](uint32_t x, uint32_t y, int s) { return blur(x, y, s, 0, 1); }},
        {PostProcessOp::HighPass, 0.25f, "",
         [&](uint32_t x, uint32_t y, int s) { return clamp(c(x, y, s) - 0.25f); }},
        {PostProcessOp::Brightness, 1.5f, "",
         [&](uint32_t x, uint32_t y, int s) { return clamp(c(x, y, s) * 1.5f); }},
        {PostProcessOp::Darken, 0.4f, "",
         [&](uint32_t x, uint32_t y, int s) { return std::min(c(x, y, s), 0.4f); }},
        {PostProcessOp::Glow, 0.5f, "", c},
        {PostProcessOp::Glow, 2.0f, "glow.png",
         [&](uint32_t x, uint32_t y, int s) {
             return clamp(c(x, y, s) + static_cast<float>(Channel(0xFF204060u, s)) / 255.0f * 2);
         }},
    };
    const uint32_t points[][2] = {{10, 10}, {57, 33}, {120, 90}, {190, 140}};
    for (const auto& k : cases) {
        SCOPED_TRACE(static_cast<int>(k.op));
        SCOPED_TRACE(k.texture);
        auto* chain = tree_.Make<Folder>("chain", root_);
        PostProcess* first = Step(k.op, PostProcessImage::BackBuffer, PostProcessImage::Result,
                                  k.property, chain);
        first->SetTextureName(k.texture);
        Step(PostProcessOp::Copy, PostProcessImage::Result, PostProcessImage::BackBuffer, 1.0f,
             chain);
        PatternFrame();
        for (const auto& p : points) {
            const uint32_t pixel = Pixel(p[0], p[1]);
            for (int shift : {16, 8, 0}) {
                const float expected = k.result(p[0], p[1], shift) * 255.0f;
                EXPECT_NEAR(static_cast<float>(Channel(pixel, shift)), expected, 1.0f)
                    << "at " << p[0] << ", " << p[1] << " channel " << shift;
            }
            EXPECT_EQ(Channel(pixel, 24), 0xFFu);
        }
        chain->Delete();
    }
}

TEST_F(PostProcessTest, ANodesOwnShaderWinsAndItsColourTintsTheQuad) {
    test::WriteShaderFile(temp_, "blue.psh_raw", "ps_2_0\ndef c0, 0, 0, 1, 1\nmov oC0, c0\n");
    PostProcess* node = Step(PostProcessOp::Invert, PostProcessImage::BackBuffer,
                             PostProcessImage::BackBuffer);
    node->SetPixelShaderName("blue.psh_raw");
    PatternFrame();
    EXPECT_EQ(Pixel(5, 5), Blue);
    EXPECT_EQ(Pixel(150, 100), Blue);

    // Without it the built-in program runs, times the node's colour.
    node->SetPixelShaderName("");
    node->SetTexOp(static_cast<uint32_t>(PostProcessOp::Copy));
    node->SetColor(0xFF00FF00);
    PatternFrame();
    EXPECT_EQ(Pixel(5, 5), Patterned(5, 5) & 0xFF00FF00);
}

TEST_F(PostProcessTest, SpritesAndLaterTargetsSeeAChainEndingInAResult) {
    auto* chain = tree_.Make<Folder>("chain", root_);
    Step(PostProcessOp::Invert, PostProcessImage::BackBuffer, PostProcessImage::Result, 1.0f,
         chain);
    // Both shared results end up holding the inverted frame.
    Step(PostProcessOp::Copy, PostProcessImage::Result, PostProcessImage::Result, 1.0f, chain);
    target_->SetRenderRoot({chain->GetId()});
    auto* overlay = tree_.Make<Folder>("overlay", root_);
    auto* second = tree_.Make<RenderTarget>("second", root_);
    second->SetCameraId({camera_->GetId()});
    second->SetRenderRoot({overlay->GetId()});
    second->SetTargetFlags(TargetDefaultFlags);
    auto* sprite = tree_.Make<Sprite>("sprite", overlay);
    sprite->SetMatrixMode(MatrixScreen);
    sprite->SetRenderType(Render2D);
    sprite->SetPosition(Float3(100.0f, 75.0f, 0.0f));
    sprite->SetSize(Float2(200.0f, 150.0f));
    sprite->SetTextureName("RenderTarget1");
    ASSERT_EQ(sprite->GetResource(), GetPostProcessTexture(1));
    PatternFrame();
    // The sprite filters between neighbouring texels.
    for (uint32_t x : {20u, 100u, 170u}) {
        const uint32_t pixel = Pixel(x, 60);
        for (int shift : {16, 8, 0}) {
            EXPECT_NEAR(static_cast<int>(Channel(pixel, shift)),
                        static_cast<int>(Channel(Inverted(x, 60), shift)), 8)
                << x << " channel " << shift;
        }
    }

    // A frame begun while a texture is the device's target still clears the back buffer.
    device_->SetRenderTarget(GetPostProcessTexture(0)->GetDeviceTexture(), false);
    BeginFrame(0xFF123456);
    EndFrame();
    EXPECT_EQ(Pixel(5, 5), 0xFF123456u);
}

TEST_F(PostProcessTest, ChainsDrawOnlyOutOfThePostProcessTypeAndWithPixelPrograms) {
    PostProcess* node = Step(PostProcessOp::Invert, PostProcessImage::BackBuffer,
                             PostProcessImage::BackBuffer);
    node->SetRenderType(RenderPostProcess);
    PatternFrame();
    EXPECT_EQ(Pixel(20, 20), Patterned(20, 20));

    node->Delete();
    ReleasePostProcessTextures();
    GpuCaps caps;
    caps.pixelShaderVersion = 0x0104;
    MakeDevice(caps);
    Step(PostProcessOp::Invert, PostProcessImage::BackBuffer, PostProcessImage::BackBuffer);
    PatternFrame();
    EXPECT_EQ(Pixel(20, 20), Patterned(20, 20));
    EXPECT_EQ(GetPostProcessTexture(0), nullptr);
    EXPECT_EQ(FindResourceByKey("rendertarget0"), nullptr);

    // A size the device refuses is named once, and nothing draws.
    caps = GpuCaps{};
    caps.maxTextureWidth = 128;
    MakeDevice(caps);
    test::CapturingLogSink log;
    PatternFrame();
    PatternFrame();
    EXPECT_EQ(Pixel(20, 20), Patterned(20, 20));
    int lines = 0;
    for (const auto& line : log.Lines()) {
        lines += line.text.find("200 x 150") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(lines, 1);
}

TEST_F(PostProcessTest, OperationAndValueMakeTheStateStaleTheCoordinatesDoNot) {
    PostProcess* node = Step(PostProcessOp::Copy, PostProcessImage::Result,
                             PostProcessImage::BackBuffer);
    const struct {
        const char* name;
        void (*change)(PostProcess&);
        bool stale;
    } cases[] = {
        {"shaderproperty", [](PostProcess& p) { p.SetShaderProperty(0.5f); }, true},
        {"texop", [](PostProcess& p) { p.SetTexOp(1); }, true},
        {"minuv", [](PostProcess& p) { p.SetMinUV(Float2(0.5f, 0.5f)); }, false},
    };
    for (const auto& c : cases) {
        node->SetStateBits();
        c.change(*node);
        EXPECT_EQ(!node->TestRenderFlags(RenderStateValid), c.stale) << c.name;
    }

    // The stored coordinates show as editable only under their flags.
    const auto state = [&](const char* name) {
        return node->GetPropertyState(*PostProcess::classInfo->FindProperty(name));
    };
    EXPECT_EQ(state("texscale") + state("minuv") + state("maxuv"), 0);
    node->SetPostProcessFlags(PostProcessCustomScale | PostProcessCustomUV);
    EXPECT_EQ(std::vector<int>({state("texscale"), state("minuv"), state("maxuv"),
                                state("rendertype"), state("matrixmode")}),
              std::vector<int>({3, 3, 3, 2048, 128}));
}

TEST_F(PostProcessTest, ALostAndResetDeviceKeepsTheChainsOutput) {
    Step(PostProcessOp::Invert, PostProcessImage::BackBuffer, PostProcessImage::Result);
    Step(PostProcessOp::Copy, PostProcessImage::Result, PostProcessImage::BackBuffer);
    PatternFrame();
    static_cast<SoftwareDevice*>(device_->Gpu())->LoseDevice();
    device_->Present();
    ASSERT_EQ(device_->GetDeviceState(), DeviceState::Lost);
    ASSERT_TRUE(device_->ResetDevice());
    PatternFrame();
    EXPECT_EQ(Screen(), Expected(&Inverted));
}

} // namespace
} // namespace quarn
