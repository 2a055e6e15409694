#include "device/DeviceShader.h"

#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "tests/support/ShaderTokens.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace test;

// fx_raw: n, n words, m, m words.
std::vector<uint32_t> Container(const std::vector<uint32_t>& vertex,
                                const std::vector<uint32_t>& pixel) {
    std::vector<uint32_t> words = {static_cast<uint32_t>(vertex.size())};
    words.insert(words.end(), vertex.begin(), vertex.end());
    words.push_back(static_cast<uint32_t>(pixel.size()));
    words.insert(words.end(), pixel.begin(), pixel.end());
    return words;
}

class DeviceShaderTest : public SoftwareFrames, public ::testing::Test {
protected:
    SoftwareDevice& Gpu() { return *static_cast<SoftwareDevice*>(device_->Gpu()); }
    const std::vector<uint32_t> vertex_ = {Vs11, Op(1, 0), Dst(4, 0), Src(2, 0), End};
    const std::vector<uint32_t> pixel_ = {Ps20, Op(1, 2), Dst(8, 0), Src(2, 6), End};
};

struct LoadCase {
    const char* path;
    std::vector<uint32_t> words;
    bool loads;
    bool vertex;
    bool pixel;
    const char* error;
};

TEST_F(DeviceShaderTest, LoadChoosesByExtensionAndChecksTheContainer) {
    const std::vector<uint32_t> badOpcode = {Ps20, Op(0x28, 0), End};
    std::vector<uint32_t> lyingPixelLength = Container(vertex_, pixel_);
    lyingPixelLength[vertex_.size() + 1] = 1000;
    const std::vector<uint32_t> none;
    const std::string lyingVertex = "Failed to load pre-compiled shader: 'lying.fx_raw' (the "
                                    "vertex program's length of 1000 words runs past the file's "
                                    "12 bytes)";
    const std::string lyingPixel =
        "Failed to load pre-compiled shader: 'lying.fx_raw' (the pixel program's length of 1000 "
        "words runs past the file's " +
        std::to_string(4 * lyingPixelLength.size()) + " bytes)";
    const LoadCase cases[] = {
        {"a.fx_raw", Container(vertex_, pixel_), true, true, true, ""},
        {"A.FX_RAW", Container({}, pixel_), true, false, true, ""},
        {"empty.fx_raw", Container({}, {}), true, false, false, ""},
        {"v.vsh_raw", vertex_, true, true, false, ""},
        {"p.psh_raw", pixel_, true, false, true, ""},
        {"p.psh_raw", badOpcode, false, false, false,
         "Failed to load pre-compiled shader: 'p.psh_raw' (unsupported opcode 0x28 at word 1)"},
        {"lying.fx_raw", {1000, Vs11, End}, false, false, false, lyingVertex.c_str()},
        {"lying.fx_raw", lyingPixelLength, false, false, false, lyingPixel.c_str()},
        // The vertex program made before the pixel one failed is released too.
        {"half.fx_raw", Container(vertex_, badOpcode), false, false, false,
         "Failed to load pre-compiled shader: 'half.fx_raw' (unsupported opcode 0x28 at word 1)"},
        {"s.fx", none, false, false, false,
         "Shader fx format is not allowed in this editor version."},
        {"s.vsh", none, false, false, false,
         "Vertex-shader vsh format is not allowed in this editor version (shader compiler not "
         "present)."},
        {"s.psh", none, false, false, false,
         "Pixel-shader psh format is not allowed in this editor version (shader compiler not "
         "present)."},
        {"s.png", none, false, false, false, "Unknown file format"},
    };
    for (const LoadCase& c : cases) {
        SCOPED_TRACE(c.path);
        DeviceShader shader(*device_->Gpu());
        std::vector<uint8_t> bytes = StreamBytes(c.words);
        EXPECT_EQ(shader.Load(bytes.data(), static_cast<uint32_t>(bytes.size()), c.path, ""),
                  c.loads);
        EXPECT_EQ(shader.HasVertexProgram(), c.vertex);
        EXPECT_EQ(shader.HasPixelProgram(), c.pixel);
        EXPECT_EQ(shader.GetErrorText(), c.error);
        EXPECT_EQ(shader.Begin(), c.vertex || c.pixel ? 1 : 0);
        EXPECT_EQ(Gpu().State().vertexShader != nullptr, c.vertex);
        EXPECT_EQ(Gpu().State().pixelShader != nullptr, c.pixel);
        shader.End();
        EXPECT_EQ(Gpu().State().pixelShader, nullptr);
    }
    EXPECT_TRUE(DeviceShader::IsSupportedExtension("PSH"));
    EXPECT_FALSE(DeviceShader::IsSupportedExtension("fx"));
}

TEST_F(DeviceShaderTest, PathWithoutExtensionFailsAndKeepsTheErrorText) {
    DeviceShader shader(*device_->Gpu());
    shader.Load(nullptr, 0, "x.fx", "");
    std::vector<uint8_t> bytes = StreamBytes(pixel_);
    EXPECT_FALSE(shader.Load(bytes.data(), static_cast<uint32_t>(bytes.size()), "shader", ""));
    EXPECT_EQ(shader.GetErrorText(), "Shader fx format is not allowed in this editor version.");
}

TEST_F(DeviceShaderTest, ConstantsGoTransposedToBothProgramsAtTheirRegisters) {
    auto shader = device_->CreateShader();
    std::vector<uint8_t> bytes = StreamBytes(Container(vertex_, pixel_));
    ASSERT_TRUE(shader->Load(bytes.data(), static_cast<uint32_t>(bytes.size()), "b.fx_raw", ""));
    Matrix4 world;
    world.At(3, 0) = 5.0f; // translation x
    shader->SetMatrixConstant(ShaderWorld, world);
    shader->SetVectorConstant(ShaderColor, {0.25f, 0.5f, 0.75f, 1.0f});
    const GpuState& state = Gpu().State();
    EXPECT_EQ(state.vertexConstants[7][3], 5.0f); // row 0 of the transpose ends in x's offset
    EXPECT_EQ(state.pixelConstants[7][3], 5.0f);
    EXPECT_EQ(state.vertexConstants[5][2], 0.75f);
    EXPECT_EQ(state.pixelConstants[5][2], 0.75f);
    const uint32_t live = DeviceShader::LiveCount();
    shader.reset();
    EXPECT_EQ(DeviceShader::LiveCount(), live - 1);
}

TEST_F(DeviceShaderTest, MeshesDrawThroughTheirShaderOrTheFixedFunctionWhenItHasNoPrograms) {
    auto vertices = device_->CreateVertexData();
    ASSERT_TRUE(vertices->Create(4, VertexScreenPosition | VertexDiffuse, 0));
    const float xs[4] = {0, 64, 64, 0};
    const float ys[4] = {0, 0, 48, 48};
    for (uint32_t k = 0; k < 4; ++k) {
        vertices->SetPosition(k, {xs[k], ys[k], 0.5f});
        vertices->SetColor(k, 0, 0xFF0000FF);
    }
    auto indices = device_->CreateIndexData();
    ASSERT_TRUE(indices->Create(6, 0));
    indices->FillQuadIndices(0, 1, 0, false);
    auto mesh = device_->CreateDeviceMesh();
    mesh->SetVertexStream(vertices.get(), 0);
    mesh->SetIndexData(indices.get());
    mesh->SetLayerCount(1);
    auto shader = device_->CreateShader();
    shader->SetParameter({0.0f, 1.0f, 0.0f, 1.0f});
    mesh->SetShader(shader.get());
    std::vector<uint32_t> lying = Container({}, pixel_);
    lying[0] = 2; // the vertex program's length runs into the pixel one's
    const std::pair<const char*, std::vector<uint32_t>> broken[] = {
        {"opcode.psh_raw", {Ps20, Op(0x28, 0), End}},
        {"truncated.psh_raw", {Ps20, Op(1, 2), Dst(8, 0)}},
        {"register.psh_raw", {Ps20, Op(1, 2), Dst(8, 0), Src(2, 32), End}},
        {"lying.fx_raw", lying},
    };
    for (const auto& [path, words] : broken) {
        std::vector<uint8_t> bytes = StreamBytes(pixel_);
        ASSERT_TRUE(
            shader->Load(bytes.data(), static_cast<uint32_t>(bytes.size()), "c6.psh_raw", ""));
        BeginFrame();
        mesh->Draw();
        EndFrame();
        EXPECT_EQ(Pixel(32, 24), 0xFF00FF00u); // c6, the shader's own parameter
        bytes = StreamBytes(words);
        EXPECT_FALSE(shader->Load(bytes.data(), static_cast<uint32_t>(bytes.size()), path, ""))
            << path;
        BeginFrame();
        mesh->Draw();
        EndFrame();
        EXPECT_EQ(Pixel(32, 24), 0xFF0000FFu) << path; // the vertex colour, by the fixed function
    }
}

} // namespace
} // namespace quarn
