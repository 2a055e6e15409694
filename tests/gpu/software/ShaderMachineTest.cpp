#include "gpu/software/ShaderMachine.h"

#include "gpu/software/SoftwareDevice.h"
#include "gpu/software/SoftwareRasterizer.h"
#include "tests/support/ShaderTokens.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace test;

struct AluCase {
    const char* name;
    std::vector<uint32_t> body; // instructions of a vs_2_0 program reading c0..c2
    float expected[4];
};

// c0 = (1, 2, 3, 4), c1 = (-2, 0.5, 4, 0.25), c2 = (0.5, 0.5, 0.5, 0.5); r0 is set to 7s
// (c4) first, so that the components an instruction leaves alone show.
TEST(ShaderMachine, ArithmeticFollowsTheInstructionSet) {
    const uint32_t r0 = Dst(0, 0);
    const uint32_t c0 = Src(2, 0), c1 = Src(2, 1), c2 = Src(2, 2);
    const uint32_t c0w = Src(2, 0, 0xFF), c1w = Src(2, 1, 0xFF), c1x = Src(2, 1, 0x00);
    const float inf = INFINITY;
    const AluCase cases[] = {
        {"add", {Op(2, 3), r0, c0, c1}, {-1, 2.5f, 7, 4.25f}},
        {"sub with negation", {Op(3, 3), r0, c0, Neg(c1)}, {-1, 2.5f, 7, 4.25f}},
        {"mad", {Op(4, 4), r0, c0, c1, c2}, {-1.5f, 1.5f, 12.5f, 1.5f}},
        {"dp3 and dp4",
         {Op(8, 3), Dst(0, 0, 0x3), c0, c1, Op(9, 3), Dst(0, 0, 0xC), c0, c1},
         {11, 11, 12, 12}},
        {"rcp of zero and rsq",
         {Op(6, 2), Dst(0, 0, 0x3), Src(2, 3), Op(7, 2), Dst(0, 0, 0xC), c0w},
         {inf, inf, 0.5f, 0.5f}},
        {"min max",
         {Op(10, 3), Dst(0, 0, 0x3), c0, c1, Op(11, 3), Dst(0, 0, 0xC), c0, c1},
         {-2, 0.5f, 4, 4}},
        {"slt sge",
         {Op(12, 3), Dst(0, 0, 0x3), c0, c1, Op(13, 3), Dst(0, 0, 0xC), c0, c1},
         {0, 0, 0, 1}},
        {"frc and abs",
         {Op(19, 2), Dst(0, 0, 0x3), c1, Op(35, 2), Dst(0, 0, 0xC), Neg(c0)},
         {0, 0.5f, 3, 4}},
        {"lrp", {Op(18, 4), r0, c2, c0, c1}, {-0.5f, 1.25f, 3.5f, 2.125f}},
        {"exp log pow",
         {Op(14, 2), Dst(0, 0, 0x1), c0w, Op(15, 2), Dst(0, 0, 0x2), c1w, Op(32, 3), Dst(0, 0, 0x4),
          c1x, Src(2, 2, 0xFF)},
         {16, -2, std::sqrt(2.0f), 7}},
        {"nrm", {Op(36, 2), r0, Src(2, 3, 0xE4)}, {0, 0, 0, 0}},
        {"crs", {Op(33, 3), Dst(0, 0, 0x7), c0, c1}, {6.5f, -10, 4.5f, 7}},
        {"lit", {Op(16, 2), r0, Src(2, 0, 0xC4)}, {1, 1, 16, 1}},
        {"dst", {Op(17, 3), r0, c0, c1}, {1, 1, 3, 0.25f}},
        {"swizzle and saturate", {Op(1, 2), Sat(r0), Src(2, 1, 0x1B)}, {0.25f, 1, 0.5f, 0}},
        {"m4x3 rows from consecutive constants",
         {Op(21, 3), Dst(0, 0, 0x7), c2, c0},
         {5, 1.375f, 1, 7}},
        {"def overrides the device's constant",
         {Op(81, 5), Dst(2, 1), 0x3F800000, 0x40000000, 0, 0xBF800000, Op(1, 2), r0, c1},
         {1, 2, 0, -1}},
        {"mova rounds and indexes constants",
         {Op(46, 2), Dst(3, 0, 0x1), c2, Op(1, 3), r0, Src(2, 0) | 0x2000, Reg(3, 0)},
         {-2, 0.5f, 4, 0.25f}},
    };
    for (const AluCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint32_t> words = {Vs20, Op(1, 2), r0, Src(2, 4)};
        words.insert(words.end(), c.body.begin(), c.body.end());
        words.push_back(End);
        GpuShaderProgram program;
        std::string error;
        ASSERT_TRUE(DecodeShaderProgram(StreamBytes(words), GpuShaderKind::Vertex, program, error))
            << error;
        float constants[5][4] = {
            {1, 2, 3, 4}, {-2, 0.5f, 4, 0.25f}, {0.5f, 0.5f, 0.5f, 0.5f}, {}, {7, 7, 7, 7}};
        ShaderMachine machine;
        machine.Setup(program, constants, 5);
        ShaderRegisters r{};
        ASSERT_TRUE(machine.Run(r, nullptr));
        for (int i = 0; i < 4; ++i) {
            EXPECT_FLOAT_EQ(r.temps[0][i], c.expected[i]) << "component " << i;
        }
    }
}

GpuShaderProgram Decoded(GpuShaderKind kind, const std::vector<uint32_t>& words) {
    GpuShaderProgram program;
    std::string error;
    EXPECT_TRUE(DecodeShaderProgram(StreamBytes(words), kind, program, error)) << error;
    return program;
}

TEST(ShaderMachine, EveryRunStartsWithZeroedTemporariesAndAddress) {
    // oPos = r0 + c0 and oD0 = c[a0.x], then a0.x = 2: a run that saw the last one's registers
    // would add c0 twice and read c2.
    const GpuShaderProgram program = Decoded(
        GpuShaderKind::Vertex,
        {Vs20, Op(2, 3), Dst(0, 0), Src(0, 0), Src(2, 0), Op(1, 2), Dst(4, 0), Src(0, 0), Op(1, 3),
         Dst(5, 0), Src(2, 0) | 0x2000, Reg(3, 0), Op(46, 2), Dst(3, 0, 0x1), Src(2, 1), End});
    const float constants[3][4] = {{1, 2, 3, 4}, {2, 2, 2, 2}, {9, 9, 9, 9}};
    ShaderMachine machine;
    machine.Setup(program, constants, 3);
    ShaderRegisters r{};
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        ASSERT_TRUE(machine.Run(r, nullptr));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(r.outputs[ShaderOutPosition][i], constants[0][i]);
            EXPECT_EQ(r.outputs[ShaderOutColor][i], constants[0][i]);
        }
    }
}

TEST(ShaderMachine, MatrixRowsPastTheRegisterFileReadZero) {
    // m4x4 over r30 and r31 (ones), then r32 and r33, which do not exist.
    const GpuShaderProgram program =
        Decoded(GpuShaderKind::Pixel,
                {Ps20, Op(1, 2), Dst(0, 30), Src(2, 0), Op(1, 2), Dst(0, 31), Src(2, 0), Op(20, 3),
                 Dst(0, 0), Src(2, 0), Src(0, 30), Op(1, 2), Dst(8, 0), Src(0, 0), End});
    const float ones[1][4] = {{1, 1, 1, 1}};
    ShaderMachine machine;
    machine.Setup(program, ones, 1);
    ShaderRegisters r{};
    for (float(&input)[4] : r.inputs) {
        std::fill(input, input + 4, 5.0f);
    }
    ASSERT_TRUE(machine.Run(r, nullptr));
    const float expected[4] = {4, 4, 0, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.outputs[0][i], expected[i]) << i;
    }
}

TEST(ShaderMachine, TexkillTestsTheRegisterItNames) {
    // texkill c1.x, v0.x and t1.x over a negative c1, a negative v0 or a negative t1: each
    // discards only when its own register is negative.
    const float negative[2][4] = {{}, {-1, -1, -1, -1}};
    const float positive[2][4] = {};
    for (const uint32_t operand : {Dst(2, 1, 0x1), Dst(1, 0, 0x1), Dst(3, 1, 0x1)}) {
        const GpuShaderProgram program =
            Decoded(GpuShaderKind::Pixel, {Ps20, Op(65, 1), operand, End});
        for (const bool below : {false, true}) {
            SCOPED_TRACE(testing::Message() << std::hex << operand << (below ? " below" : ""));
            const bool constant = GpuShaderTokenRegister(operand) == GpuShaderRegister::Const;
            ShaderMachine machine;
            machine.Setup(program, below && constant ? negative : positive, 2);
            ShaderRegisters r{};
            r.inputs[0][0] =
                below && GpuShaderTokenRegister(operand) == GpuShaderRegister::Input ? -1.0f : 1.0f;
            r.textures[1][0] =
                below && GpuShaderTokenRegister(operand) == GpuShaderRegister::AddressOrTexture
                    ? -1.0f
                    : 1.0f;
            EXPECT_EQ(machine.Run(r, nullptr), !below);
        }
    }
}

TEST(ShaderMachine, MatrixRowsCountAmongTheCoordinatesAPixelProgramReads) {
    // m3x3 r0, c0, t2 reads t2, t3 and t4: five sets to interpolate.
    const GpuShaderProgram program =
        Decoded(GpuShaderKind::Pixel, {Ps20, Op(23, 3), Dst(0, 0), Src(2, 0), Src(3, 2), End});
    const float constants[1][4] = {};
    ShaderMachine machine;
    machine.Setup(program, constants, 1);
    EXPECT_EQ(machine.TexCoordSetsRead(), 5u);
}

constexpr GpuPresentParameters Screen{.backBufferWidth = 8, .backBufferHeight = 8};

uint32_t BackPixel(SoftwareDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.GetBackBuffer())->ReadArgb(x, y);
}

class ShaderDraw : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = SoftwareDevice::Create(Screen);
        ASSERT_NE(device_, nullptr);
        screen_ = device_->CreateVertexDeclaration(ScreenVertexElements);
        device_->SetVertexDeclaration(screen_.get());
        device_->SetRenderState(GpuRenderState::CullMode, static_cast<uint32_t>(GpuCull::None));
        device_->Clear({}, GpuClearTarget, 0xFF000000, 1.0f, 0);
    }

    std::unique_ptr<GpuShader> Make(GpuShaderKind kind, const std::vector<uint32_t>& words) {
        std::string error;
        auto shader = device_->CreateShader(kind, StreamBytes(words), error);
        EXPECT_NE(shader, nullptr) << error;
        return shader;
    }

    // The left half of the screen, coordinates 0..2 across and 0..1 down.
    void DrawLeftHalf(uint32_t color = 0xFF808080) {
        const ScreenVertex quad[] = {{0, 0, 0.5f, 1, color, 0, 0},
                                     {4, 0, 0.5f, 1, color, 2, 0},
                                     {0, 8, 0.5f, 1, color, 0, 1},
                                     {4, 8, 0.5f, 1, color, 2, 1}};
        ASSERT_EQ(device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleStrip, 2, quad,
                                           sizeof(ScreenVertex)),
                  GpuResult::Ok);
    }

    std::unique_ptr<SoftwareDevice> device_;
    std::unique_ptr<GpuVertexDeclaration> screen_;
};

TEST_F(ShaderDraw, PixelProgramWritesItsConstantAndTexkillDiscards) {
    // texkill t0 after shifting u by -1: only u >= 1 (the right half of the quad) survives.
    auto shader = Make(GpuShaderKind::Pixel,
                       {Ps20, Op(31, 2), 0x80000000u, Dst(3, 0), Op(2, 3), Dst(0, 0), Src(3, 0),
                        Src(2, 1), Op(65, 1), Dst(0, 0), Op(1, 2), Dst(8, 0), Src(2, 6), End});
    const float c1[4] = {-1, 0, 0, 0};
    const float c6[4] = {0, 1, 0, 0.5f};
    device_->SetShaderConstants(GpuShaderKind::Pixel, 1, c1, 1);
    device_->SetShaderConstants(GpuShaderKind::Pixel, 6, c6, 1);
    device_->SetPixelShader(shader.get());
    DrawLeftHalf();
    EXPECT_EQ(BackPixel(*device_, 0, 4), 0xFF000000u);
    EXPECT_EQ(BackPixel(*device_, 3, 4), 0xFF00FF00u); // the back buffer keeps no alpha
    EXPECT_EQ(BackPixel(*device_, 6, 4), 0xFF000000u);
    // Destroying the shader returns the device to the fixed function.
    shader.reset();
    DrawLeftHalf();
    EXPECT_EQ(BackPixel(*device_, 0, 4), 0xFF808080u);
}

TEST_F(ShaderDraw, TexldSamplesWithTheSamplerStatesAndModulatesTheDiffuse) {
    auto texture = device_->CreateTexture(2, 1, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    GpuLockedRect locked;
    ASSERT_EQ(texture->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
    const uint32_t texels[2] = {0xFFFF0000, 0xFF0000FF};
    std::memcpy(locked.bits, texels, sizeof texels);
    texture->UnlockRect(0, GpuCubeFace::PositiveX);
    auto shader = Make(GpuShaderKind::Pixel,
                       {Ps20, Op(31, 2), 0x80000000u, Dst(3, 0), Op(31, 2), DclSampler2D,
                        Dst(10, 0), Op(31, 2), 0x80000000u, Dst(1, 0), Op(66, 3), Dst(0, 0),
                        Src(3, 0), Src(10, 0), Op(5, 3), Dst(8, 0), Src(0, 0), Src(1, 0), End});
    device_->SetPixelShader(shader.get());
    device_->SetTexture(0, texture.get());
    device_->SetSamplerState(0, GpuSamplerState::AddressU,
                             static_cast<uint32_t>(GpuAddress::Clamp));
    DrawLeftHalf();
    EXPECT_EQ(BackPixel(*device_, 0, 4), 0xFF800000u);
    EXPECT_EQ(BackPixel(*device_, 3, 4), 0xFF000080u); // clamped past u = 1
    // Unbound, the sampler reads opaque black.
    device_->SetTexture(0, nullptr);
    DrawLeftHalf();
    EXPECT_EQ(BackPixel(*device_, 0, 4), 0xFF000000u);
}

TEST_F(ShaderDraw, TexldTakesItsLevelFromTheCoordinatesItComputesAcrossEachQuad) {
    // Four levels of one colour each: 8 x 8 red, 4 x 4 green, 2 x 2 blue, 1 x 1 white.
    auto texture = device_->CreateTexture(8, 8, 4, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    const uint32_t colors[4] = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF};
    for (uint32_t level = 0; level < 4; ++level) {
        GpuLockedRect locked;
        ASSERT_EQ(texture->LockRect(level, GpuCubeFace::PositiveX, locked, nullptr, 0),
                  GpuResult::Ok);
        for (uint32_t y = 0; y < 8u >> level; ++y) {
            for (uint32_t x = 0; x < 8u >> level; ++x) {
                std::memcpy(static_cast<uint8_t*>(locked.bits) + y * locked.pitch + 4 * x,
                            &colors[level], 4);
            }
        }
        texture->UnlockRect(level, GpuCubeFace::PositiveX);
    }
    device_->SetTexture(0, texture.get());
    device_->SetSamplerState(0, GpuSamplerState::MipFilter,
                             static_cast<uint32_t>(GpuFilter::Point));
    const float scale[4] = {4, 4, 4, 4};
    device_->SetShaderConstants(GpuShaderKind::Pixel, 0, scale, 1);
    // Coordinates 0..1 over the 8 pixels, then scaled by c0 before texld: 4 texels a pixel.
    const std::vector<uint32_t> head = {Ps20,      Op(31, 2),    0x80000000u, Dst(3, 0),
                                        Op(31, 2), DclSampler2D, Dst(10, 0)};
    const std::vector<uint32_t> direct = {Op(66, 3), Dst(0, 0), Src(3, 0), Src(10, 0)};
    const std::vector<uint32_t> scaled = {Op(5, 3),  Dst(0, 1), Src(3, 0), Src(2, 0),
                                          Op(66, 3), Dst(0, 0), Src(0, 1), Src(10, 0)};
    const std::vector<uint32_t> tail = {Op(1, 2), Dst(8, 0), Src(0, 0), End};
    const ScreenVertex quad[] = {{0, 0, 0.5f, 1, 0xFFFFFFFF, 0, 0},
                                 {8, 0, 0.5f, 1, 0xFFFFFFFF, 1, 0},
                                 {0, 8, 0.5f, 1, 0xFFFFFFFF, 0, 1},
                                 {8, 8, 0.5f, 1, 0xFFFFFFFF, 1, 1}};
    for (const auto& [body, expected] :
         {std::pair{direct, colors[0]}, std::pair{scaled, colors[2]}}) {
        std::vector<uint32_t> words = head;
        words.insert(words.end(), body.begin(), body.end());
        words.insert(words.end(), tail.begin(), tail.end());
        auto shader = Make(GpuShaderKind::Pixel, words);
        device_->SetPixelShader(shader.get());
        ASSERT_EQ(device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleStrip, 2, quad,
                                           sizeof(ScreenVertex)),
                  GpuResult::Ok);
        for (const uint32_t at : {0u, 3u, 7u}) {
            EXPECT_EQ(BackPixel(*device_, at, at), expected) << at;
        }
        device_->SetPixelShader(nullptr);
    }
}

TEST_F(ShaderDraw, VertexProgramTransformsAndColoursFromConstantsReplayedByStateBlocks) {
    const GpuVertexElement elements[] = {{0, 0, GpuDeclType::Float3, GpuDeclUsage::Position, 0}};
    auto declaration = device_->CreateVertexDeclaration(elements);
    // oPos = v0 by c0..c3; oD0 = c5; no oFog, so fog leaves it alone.
    auto shader =
        Make(GpuShaderKind::Vertex, {Vs11, Op(31, 0), DclUsage(0), Dst(1, 0), Op(20, 0), Dst(4, 0),
                                     Src(1, 0), Src(2, 0), Op(1, 0), Dst(5, 0), Src(2, 5), End});
    // Rows of the transposed identity scaled to half the screen.
    const float constants[6][4] = {{0.5f, 0, 0, 0}, {0, 0.5f, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}, {},
                                   {1, 0, 0, 1}};
    device_->BeginStateBlock();
    device_->SetShaderConstants(GpuShaderKind::Vertex, 0, constants[0], 6);
    device_->SetVertexShader(shader.get());
    auto block = device_->EndStateBlock();
    ASSERT_EQ(block->Apply(), GpuResult::Ok);
    device_->SetVertexDeclaration(declaration.get());
    device_->SetRenderState(GpuRenderState::FogEnable, 1);
    device_->SetRenderState(GpuRenderState::FogColor, 0xFF00FF00);
    const float quad[4][3] = {{-1, 1, 0.5f}, {1, 1, 0.5f}, {-1, -1, 0.5f}, {1, -1, 0.5f}};
    ASSERT_EQ(device_->DrawPrimitiveUP(GpuPrimitiveType::TriangleStrip, 2, quad, 12),
              GpuResult::Ok);
    EXPECT_EQ(BackPixel(*device_, 0, 0), 0xFF000000u);
    EXPECT_EQ(BackPixel(*device_, 3, 3), 0xFFFF0000u);
    EXPECT_EQ(BackPixel(*device_, 4, 4), 0xFFFF0000u);
    EXPECT_EQ(BackPixel(*device_, 6, 6), 0xFF000000u);
}

TEST(ShaderDevice, CreationRefusesStreamsBeyondTheCapabilitiesAndWrongBindings) {
    auto device = SoftwareDevice::Create(Screen);
    device->MutableCaps().pixelShaderVersion = 0x0104;
    std::string error;
    EXPECT_EQ(device->CreateShader(GpuShaderKind::Pixel, StreamBytes({Ps20, End}), error), nullptr);
    EXPECT_EQ(error, "shader version 2.0 is beyond the device's");
    auto vertex = device->CreateShader(GpuShaderKind::Vertex, StreamBytes({Vs11, End}), error);
    ASSERT_NE(vertex, nullptr);
    EXPECT_EQ(device->SetPixelShader(vertex.get()), GpuResult::InvalidCall);
    const float value[4] = {};
    EXPECT_EQ(device->SetShaderConstants(GpuShaderKind::Pixel, 31, value, 2),
              GpuResult::InvalidCall);
    EXPECT_EQ(device->SetShaderConstants(GpuShaderKind::Vertex, 255, value, 1), GpuResult::Ok);
}

} // namespace
} // namespace quarn
