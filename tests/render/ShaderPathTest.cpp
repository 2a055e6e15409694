#include "core/filesystem/MemoryFileSystem.h"
#include "device/Shader.h"
#include "resources/EffectShader.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/ShaderTokens.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace test;

// Pixel programs writing c6 (the shader's own parameter) and c5 (the mesh colour).
class ShaderPathTest : public RenderScene {
protected:
    void SetUp() override {
        RenderScene::SetUp();
        previous_ = GetFileSystem();
        files_.Add("own.psh_raw", StreamBytes({Ps20, Op(1, 2), Dst(8, 0), Src(2, 6), End}));
        files_.Add("colour.psh_raw", StreamBytes({Ps20, Op(1, 2), Dst(8, 0), Src(2, 5), End}));
        SetFileSystem(&files_);
    }
    void TearDown() override {
        SetFileSystem(previous_);
        RenderScene::TearDown();
    }

    MemoryFileSystem files_;
    FileSystem* previous_ = nullptr;
};

TEST_F(ShaderPathTest, DrawablesDrawThroughTheirShaderAndOthersThroughTheTargets) {
    RtSquare* own = Square("own", Float3(-1.5f, 0, 10), 0xFFFF0000);
    own->SetShaderName("own.psh_raw");
    ASSERT_NE(own->GetEffectShader(), nullptr);
    own->GetEffectShader()->GetShader()->SetParameter({0.0f, 0.0f, 1.0f, 1.0f});
    Square("plain", Float3(1.5f, 0, 10), 0xFF00FF00);
    Frame();
    const uint32_t left = Pixel(27, 24);
    const uint32_t right = Pixel(36, 24);
    EXPECT_EQ(left, 0xFF0000FFu);
    EXPECT_EQ(right, 0xFF00FF00u);
    EXPECT_EQ(device_->GetRenderStatistics().numShadedModelsRendered, 1u);

    // The target's shader reaches every mesh without one of its own, with the default colour.
    target_->SetShaderName("colour.psh_raw");
    Frame();
    EXPECT_EQ(Pixel(27, 24), 0xFF0000FFu);
    EXPECT_NE(Pixel(36, 24), 0xFF00FF00u);
    EXPECT_EQ(device_->GetRenderStatistics().numShadedModelsRendered, 1u);
    target_->SetShaderName("");
    EXPECT_EQ(device_->GetDefaultShader(), nullptr);
}

} // namespace
} // namespace quarn
