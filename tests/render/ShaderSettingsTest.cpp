#include "render/ShaderSettings.h"

#include "TestPaths.h"
#include "core/filesystem/DiskFileSystem.h"
#include "device/Shader.h"
#include "render/CubeMap.h"
#include "resources/EffectShader.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/render/ShaderFiles.h"
#include "tests/support/PngFixture.h"
#include "tests/support/TempFolder.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <vector>

namespace quarn {
namespace {

std::vector<float> Values(const Float4& v) {
    return {v.x, v.y, v.z, v.w};
}
std::vector<float> Values(const Float3& v) {
    return {v.x, v.y, v.z};
}

// Scenes of a camera, a render target clearing to black and the nodes under test, with pixel
// programs in the base folder: "c6" draws its own parameter, "s2" the middle of texture 2 and
// "cube" the +x face of a cube in texture 2.
class ShaderSettingsTest : public test::RenderSceneFile {
protected:
    void SetUp() override {
        RenderSceneFile::SetUp();
        ShaderSettings::RegisterClass();
        CubeMap::RegisterClass();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        test::WriteShaderFile(temp_, "c6.psh_raw", "ps_2_0\nmov oC0, c6\n");
        test::WriteShaderFile(temp_, "s2.psh_raw",
                              "ps_2_0\ndcl_2d s2\ndef c0, 0.5, 0.5, 0, 0\nmov r1, c0\n"
                              "texld r0, r1, s2\nmov oC0, r0\n");
        test::WriteShaderFile(temp_, "cube.psh_raw",
                              "ps_2_0\ndcl_cube s2\ndef c0, 1, 0, 0, 0\nmov r1, c0\n"
                              "texld r0, r1, s2\nmov oC0, r0\n");
        temp_.WriteFile("green.png", test::EncodePng(4, 4, [](uint32_t, uint32_t) {
                            return Green;
                        }));
        std::ifstream cube(QUARN_TEST_DATA "/images/dds/argb_cube.dds", std::ios::binary);
        temp_.WriteFile("cube.dds", std::string(std::istreambuf_iterator<char>(cube),
                                                std::istreambuf_iterator<char>()));
    }
    void TearDown() override {
        RenderSceneFile::TearDown();
        SetFileSystem(nullptr);
    }

    // The root (id 1), camera (2) and target (3), then the objects given.
    bool LoadScene(const std::string& objects, int count) {
        std::string text = "version = 44\nidsystem = 0\nnum_nodes = ";
        text.append(std::to_string(3 + count))
            .append("\n")
            .append(Object("1", "Node", "\tparent = 0\n"))
            .append(Object("2", "Camera", "\tparent = 1\n"))
            .append(Object("3", "RenderTarget",
                           "\tparent = 1\n\tcurrentcamera = 2\n\tbackgroundcolor = FF000000\n"
                           "\trt_flags = 180\n"))
            .append(objects);
        return Load(text);
    }
    static std::string Square(const char* id, const char* shader) {
        return Object(id, "RenderTestSquare",
                      std::string("\tparent = 1\n\tpos = 0.0,0.0,10.0\n\tshader = \"") + shader +
                          "\"\n");
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

TEST_F(ShaderSettingsTest, ComponentsReachTheShaderOnlyOnceItIsSetAndADrawSeesThemInC6) {
    test::TestTree tree;
    auto* settings = tree.Make<ShaderSettings>("settings");
    settings->SetShaderPropertyX(0.25f);
    EXPECT_EQ(Values(settings->GetShaderProperty()), std::vector<float>({1, 1, 1, 1}));
    settings->SetPixelShaderName("c6.psh_raw");
    settings->SetShaderPropertyX(0.0f);
    EXPECT_EQ(Values(settings->GetShaderProperty()), std::vector<float>({0, 1, 1, 1}));

    // A scene file holding only the shader and one component loads the same, and a quad drawn
    // through that shader finds the four values in c6.
    ASSERT_TRUE(LoadScene(Object("4", "ShaderSettings",
                                 "\tparent = 1\n\tpixelshader = \"c6.psh_raw\"\n"
                                 "\tshaderpropertyx = 0.0\n") +
                              Square("5", "c6.psh_raw"),
                          2));
    auto* loaded = dynamic_cast<ShaderSettings*>(LookupEntity(4));
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(Values(loaded->GetShaderProperty()), std::vector<float>({0, 1, 1, 1}));
    auto* square = dynamic_cast<RenderObject*>(LookupEntity(5));
    EXPECT_EQ(Values(square->GetEffectShader()->GetShader()->GetParameter()),
              std::vector<float>({0, 1, 1, 1}));
    Frame();
    EXPECT_EQ(Pixel(32, 24), 0xFF00FFFFu);
}

TEST_F(ShaderSettingsTest, TheShaderTextureAndACubeMapReachStageTwoOfPixelShaders) {
    ASSERT_TRUE(LoadScene(Object("4", "ShaderSettings",
                                 "\tparent = 1\n\tpixelshader = \"s2.psh_raw\"\n"
                                 "\tshadertexture = \"green.png\"\n") +
                              Square("5", "s2.psh_raw"),
                          2));
    Frame();
    EXPECT_EQ(Pixel(32, 24), Green);
    root_->Delete();
    root_ = nullptr;

    // The cube map is drawn before the square in the same pass.
    ASSERT_TRUE(LoadScene(Object("4", "CubeMap", "\tparent = 1\n\ttexture = \"cube.dds\"\n") +
                              Square("5", "cube.psh_raw"),
                          2));
    Frame();
    EXPECT_EQ(Pixel(32, 24), Red);

    // Without a texture it leaves stage 2 as it was.
    CubeMap* cube = nullptr;
    for (Node* child = root_->GetFirstChild(); child && !cube; child = child->GetNext()) {
        cube = dynamic_cast<CubeMap*>(child);
    }
    ASSERT_NE(cube, nullptr);
    cube->SetTextureName("");
    Texture* green = GetTexture("green.png", "");
    device_->SetTexture(green->GetDeviceTexture(), 2);
    Frame();
    EXPECT_EQ(device_->Gpu()->GetTexture(2), green->GetDeviceTexture()->GetGpuTexture());
    green->Release();
}

TEST_F(ShaderSettingsTest, TheAverageScreenColourSamplesTheViewportAndLeavesTheTarget) {
    test::TestTree tree;
    auto* settings = tree.Make<ShaderSettings>("settings");
    GpuSurface* target = device_->Gpu()->GetRenderTarget(0);
    BeginFrame(0xFF808080);
    const Float3 grey = settings->GetAverageScreenColor();
    for (float component : Values(grey)) {
        EXPECT_FLOAT_EQ(component, 128.0f / 255);
    }
    EXPECT_EQ(device_->Gpu()->GetRenderTarget(0), target);
    EndFrame();

    GpuDisplayMode display;
    display.width = 96;
    display.height = 80;
    device_ = std::make_unique<GpuRenderDevice>(&SoftwareDevice::Create, GpuCaps{}, display);
    // Without a back buffer.
    EXPECT_EQ(Values(settings->GetAverageScreenColor()), std::vector<float>(3, 0.0f));
    ASSERT_TRUE(device_->Create(DeviceDepthStencil, nullptr, 64, 64));
    BeginFrame(Black);
    static_cast<SoftwareSurface*>(device_->Gpu()->GetBackBuffer())
        ->FillColor({32, 0, 64, 64}, White);
    EXPECT_EQ(Values(settings->GetAverageScreenColor()), std::vector<float>(3, 0.5f));
    EndFrame();
}

} // namespace
} // namespace quarn
