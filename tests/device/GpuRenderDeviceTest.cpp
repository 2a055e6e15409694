#include "device/GpuRenderDevice.h"

#include "device/DeviceTexture.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "gpu/software/SoftwareDevice.h"
#include "tests/device/DeviceTestSupport.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::ReadTexel;
using Values = std::vector<int64_t>;

constexpr GpuDisplayMode SmallDisplay{.width = 96, .height = 80};

// The software device's factory, noting the device it made in *made (when given) so that the test
// reaches what the render device does not offer: loss injection and the present sink.
GpuDeviceFactory SoftwareFactory(SoftwareDevice** made = nullptr) {
    return [made](const GpuPresentParameters& parameters, const GpuCaps& caps,
                  const GpuDisplayMode& mode) -> std::unique_ptr<GpuDevice> {
        std::unique_ptr<SoftwareDevice> device = SoftwareDevice::Create(parameters, caps, mode);
        if (made != nullptr) {
            *made = device.get();
        }
        return device;
    };
}

// Headless, windowed, with depth and stencil: what start-up asks for.
std::unique_ptr<GpuRenderDevice>
MakeDevice(uint32_t flags = DeviceDepthStencil | DeviceDepthSearchAll,
           const GpuCaps& caps = GpuCaps{}, SoftwareDevice** software = nullptr) {
    auto device = std::make_unique<GpuRenderDevice>(SoftwareFactory(software), caps, SmallDisplay);
    EXPECT_TRUE(device->Create(flags, nullptr, 64, 48)) << device->GetErrorText();
    return device;
}

float Transform(GpuRenderDevice& device, GpuTransform which, int element) {
    return device.Gpu()->GetTransform(which).m[element];
}

std::unique_ptr<DeviceTexture> MakeTexture(RenderDevice& device, int32_t size, uint32_t flags) {
    auto texture = device.CreateTexture();
    EXPECT_TRUE(
        texture->Create(size, size, PixelFormat::A8R8G8B8, TextureKind::Texture2D, flags, 1));
    return texture;
}

TEST(GpuRenderDevice, CreatesHeadlessAndZeroesItsStatisticsAtEveryScene) {
    auto device = MakeDevice();
    EXPECT_EQ(TheRenderDevice(), device.get());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_EQ((Values{device->GetViewportSize().x, device->GetViewportSize().y}), (Values{64, 48}));
    EXPECT_EQ(device->GetBackBufferFormat(), PixelFormat::X8R8G8B8); // as the display
    EXPECT_EQ(device->TestCreationFlags(DeviceDepthStencil | DeviceFullScreen), DeviceDepthStencil);
    EXPECT_EQ(device->Gpu()->GetRenderState(GpuRenderState::AlphaFunc),
              static_cast<uint32_t>(GpuCompare::Greater));
    EXPECT_EQ(device->Gpu()->GetMaterial().power, 10.0f);
    device->GetRenderStatistics().numModelsRendered = 5;
    device->BeginScene();
    EXPECT_EQ(device->GetRenderStatistics().numModelsRendered, 0u);
    EXPECT_STREQ(RenderStatisticNames[2], "iNumModelsRendered");
}

TEST(GpuRenderDevice, ClearAndPresentShowTheViewportInThePresentRectangle) {
    SoftwareDevice* software = nullptr;
    auto device = MakeDevice(DeviceDepthStencil | DeviceDepthSearchAll, GpuCaps{}, &software);
    Values rects;
    software->SetPresentSink([&](const SoftwareSurface&, const GpuRect* s, const GpuRect* d) {
        ASSERT_TRUE(s != nullptr && d != nullptr);
        rects = {s->left, s->top, s->right, s->bottom, d->left, d->top, d->right, d->bottom};
    });
    ASSERT_TRUE(device->BeginScene());
    EXPECT_TRUE(
        device->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, 0xFF336699));
    EXPECT_TRUE(device->EndScene());
    device->SetPresentRectangle(10, 20, 64, 48);
    device->Present();
    EXPECT_EQ(
        (Values{test::BackBufferPixel(*device, 0, 0), test::BackBufferPixel(*device, 63, 47)}),
        (Values{0xFF336699, 0xFF336699}));
    EXPECT_EQ(rects, (Values{0, 0, 64, 48, 10, 20, 74, 68}));
    EXPECT_EQ(device->GetFrameCount(), 1u);
    // Asking for a plane the device lacks still clears colour and depth.
    auto noStencil = MakeDevice(DeviceDepthStencil); // D32
    noStencil->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, 0xFF00FF00);
    EXPECT_EQ(test::BackBufferPixel(*noStencil, 5, 5), 0xFF00FF00u);
    // Viewports the target cannot hold are ignored.
    for (auto [x, width] : {std::pair{4, 0}, {4, 100}, {-1, 8}}) {
        device->SetViewport(x, 2, width, 10);
    }
    EXPECT_EQ((Values{device->GetViewportOrigin().x, device->GetViewportSize().x}),
              (Values{0, 64}));
    device->SetViewport(4, 2, 16, 10);
    EXPECT_EQ((Values{device->GetViewportOrigin().x, device->GetViewportOrigin().y,
                      device->Gpu()->GetViewport().width}),
              (Values{4, 2, 16}));
}

TEST(GpuRenderDevice, FailedCreationExplainsItselfAndLeavesNothingToDrawWith) {
    GpuRenderDevice device(SoftwareFactory(), GpuCaps{}, SmallDisplay);
    EXPECT_FALSE(device.Create(0, nullptr, 100000, 48));
    EXPECT_EQ(device.GetErrorText(), "Failed to create the render device. Error code is 1.");
    EXPECT_EQ(device.GetDeviceState(), DeviceState::NotCreated);
    EXPECT_FALSE(device.BeginScene());
    device.Present();
    EXPECT_EQ(device.GetFrameCount(), 0u);
    EXPECT_EQ(device.CreateTexture(), nullptr);
}

TEST(GpuRenderDevice, SceneTargetsCatchTheSceneAndReachTheBackBufferAtItsEnd) {
    auto device = MakeDevice(DeviceDepthStencil | DevicePow2DepthAndSceneTargets);
    DeviceTexture* first = device->GetSceneTarget();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(device->GetPreviousSceneTarget(), nullptr);
    EXPECT_EQ(first->GetFormat(), PixelFormat::X8R8G8B8);
    EXPECT_EQ((Values{first->GetSize().x, first->GetAllocatedSize().y}), (Values{64, 64}));
    ASSERT_TRUE(device->BeginScene());
    device->Clear(DeviceClearTarget | DeviceClearDepth, 0xFFC08040);
    EXPECT_EQ(test::BackBufferPixel(*device, 3, 3),
              0xFF000000u); // the back buffer is not drawn into yet
    ASSERT_TRUE(device->EndScene());
    EXPECT_EQ(
        (Values{test::BackBufferPixel(*device, 3, 3), test::BackBufferPixel(*device, 63, 47)}),
        (Values{0xFFC08040, 0xFFC08040}));
    EXPECT_EQ(device->GetPreviousSceneTarget(), first);
    EXPECT_EQ(device->Gpu()->GetRenderTarget(0), device->Gpu()->GetBackBuffer());
}

TEST(GpuRenderDevice, RenderTargetsKeepTheViewportAndTheBackBufferReadsBack) {
    auto device = MakeDevice(DeviceLockableBackBuffer);
    auto target = MakeTexture(*device, 64, TextureFlagRenderTarget);
    device->SetViewport(8, 4, 32, 16);
    device->SetRenderTarget(target.get(), false);
    EXPECT_EQ((Values{device->Gpu()->GetViewport().x, device->Gpu()->GetViewport().width}),
              (Values{8, 32}));
    device->SetRenderTarget(nullptr, false);
    EXPECT_EQ(device->Gpu()->GetRenderTarget(0), device->Gpu()->GetBackBuffer());
    device->SetViewport(0, 0, 64, 48);
    device->Clear(DeviceClearTarget, 0xFF0000FF);
    device->SetViewport(16, 8, 16, 8);
    device->Clear(DeviceClearTarget, 0xFFFF0000);
    auto copy = device->CreateTexture();
    ASSERT_TRUE(copy->Create(16, 8, PixelFormat::A8R8G8B8, TextureKind::Texture2D,
                             TextureFlagRenderTarget, 1));
    device->CopyBackBufferToTexture(copy.get());
    EXPECT_EQ((Values{ReadTexel(*copy, 0, 0), ReadTexel(*copy, 15, 7)}),
              (Values{0xFFFF0000, 0xFFFF0000}));
    auto back = device->GetBackBuffer();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ((Values{ReadTexel(*back, 0, 0) & 0xFFFFFF, ReadTexel(*back, 16, 8) & 0xFFFFFF}),
              (Values{0x0000FF, 0xFF0000}));
}

// Two stand-in owners of default-pool data, as dynamic vertex data and render targets are.
class GpuRenderDeviceLoss : public ::testing::Test {
protected:
    void SetUp() override {
        device = MakeDevice(DeviceDepthStencil | DeviceDepthSearchAll, GpuCaps{}, &software);
        for (int i = 0; i < 2; ++i) {
            buffers[i] = MakeBuffer();
            device->AddDeviceMemoryClient(
                [this, i] {
                    calls.push_back("release " + std::to_string(i));
                    buffers[i].reset();
                },
                [this, i] {
                    calls.push_back("restore " + std::to_string(i));
                    buffers[i] = MakeBuffer();
                    return i != failingRestore;
                });
        }
    }
    std::unique_ptr<GpuVertexBuffer> MakeBuffer() {
        return device->Gpu()->CreateVertexBuffer(64, GpuUsageDynamic, 0, GpuPool::Default);
    }
    void Lose() {
        software->LoseDevice();
        device->Present();
        ASSERT_EQ(device->GetDeviceState(), DeviceState::Lost);
    }

    SoftwareDevice* software = nullptr;
    std::unique_ptr<GpuRenderDevice> device;
    std::unique_ptr<GpuVertexBuffer> buffers[2];
    std::vector<std::string> calls;
    int failingRestore = -1;
};

TEST_F(GpuRenderDeviceLoss, ResetReleasesAndRestoresDefaultPoolDataInOrder) {
    Matrix4 world;
    world.m[12] = 7.0f;
    device->SetWorldMatrix(world);
    Lose();
    EXPECT_EQ(device->GetFrameCount(), 1u);
    ASSERT_TRUE(device->ResetDevice()) << device->GetErrorText();
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"release 0", "release 1", "restore 0", "restore 1"}));
    EXPECT_NE(buffers[0], nullptr);
    EXPECT_EQ(device->Gpu()->GetDepthStencilSurface()->GetDesc().format, GpuFormat::D24S8);
    EXPECT_EQ(Transform(*device, GpuTransform::World, 12), 7.0f);
}

TEST_F(GpuRenderDeviceLoss, ResetFailsAtTheFirstFailedRestoreOrWhileDefaultPoolDataLives) {
    auto forgotten = device->Gpu()->CreateIndexBuffer(12, 0, GpuFormat::Index16, GpuPool::Default);
    Lose();
    EXPECT_FALSE(device->ResetDevice());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Lost);
    forgotten.reset();
    failingRestore = 0;
    EXPECT_FALSE(device->ResetDevice());
    EXPECT_EQ(calls.back(), "restore 0");
    failingRestore = -1;
    EXPECT_TRUE(device->ResetDevice());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
}

// A view larger than the back buffer makes the device lost until a reset that gives it a back
// buffer holding both; a view that fits changes nothing.
TEST_F(GpuRenderDeviceLoss, AViewLargerThanTheBackBufferIsHeldAfterTheReset) {
    const auto backBuffer = [this] {
        const GpuSurfaceDesc desc = device->Gpu()->GetBackBuffer()->GetDesc();
        return Values{desc.width, desc.height};
    };
    device->FitBackBuffer(64, 48);
    device->FitBackBuffer(10, 10);
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_TRUE(calls.empty());
    device->FitBackBuffer(100, 30);
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Lost);
    ASSERT_TRUE(device->ResetDevice()) << device->GetErrorText();
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_EQ(calls,
              (std::vector<std::string>{"release 0", "release 1", "restore 0", "restore 1"}));
    EXPECT_EQ(backBuffer(), (Values{100, 48}));
    device->SetViewport(0, 0, 100, 48);
    EXPECT_EQ((Values{device->GetViewportSize().x, device->GetViewportSize().y}),
              (Values{100, 48}));
}

TEST(GpuRenderDeviceLossWithDeviceObjects,
     RenderTargetsAndDynamicDataComeBackAndLoadedTexturesStay) {
    SoftwareDevice* software = nullptr;
    auto device =
        MakeDevice(DeviceDepthStencil | DevicePow2DepthAndSceneTargets, GpuCaps{}, &software);
    auto vertices = device->CreateVertexData();
    ASSERT_TRUE(vertices->Create(4, 1 | 8, 0x40000));
    vertices->SetPosition(0, {1.0f, 2.0f, 3.0f});
    ASSERT_NE(vertices->Upload(), nullptr);
    auto indices = device->CreateIndexData();
    ASSERT_TRUE(indices->Create(6, 8));
    auto target = MakeTexture(*device, 32, TextureFlagRenderTarget);
    auto loaded = MakeTexture(*device, 4, 0);
    ASSERT_TRUE(loaded->Lock(TextureLockWrite, 0));
    loaded->SetPixel(1, 1, 0xFF445566);
    loaded->Lock(TextureUnlocked, 0);
    GpuTexture* loadedObject = loaded->GetGpuTexture();
    software->LoseDevice();
    device->Present();
    ASSERT_EQ(device->GetDeviceState(), DeviceState::Lost);
    // The layer refuses to reset while any default-pool object lives, so success shows that
    // every one of them was let go.
    ASSERT_TRUE(device->ResetDevice()) << device->GetErrorText();
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    ASSERT_NE(device->GetSceneTarget(), nullptr);
    EXPECT_NE(device->GetSceneTarget()->GetGpuTexture(), nullptr);
    EXPECT_NE(target->GetGpuTexture(), nullptr);
    EXPECT_EQ(loaded->GetGpuTexture(), loadedObject);
    EXPECT_EQ(ReadTexel(*loaded, 1, 1), 0xFF445566u);
    EXPECT_EQ(vertices->GetPosition(0).y, 2.0f);
}

TEST(DeviceTransforms, PerspectiveFollowsTheViewportShapeAndDepthBiasScalesItsDepthTerm) {
    GpuRenderDevice device(SoftwareFactory(), GpuCaps{}, SmallDisplay);
    ASSERT_TRUE(device.Create(0, nullptr, 800, 600));
    device.SetPerspective(90.0f, 1.0f, 1.0f, 101.0f);
    Matrix4 p;
    device.GetProjectionMatrix(p);
    EXPECT_FLOAT_EQ(p.m[0], 1.0f / std::tan(90.0f * 0.5f * 0.0174533333f));
    EXPECT_LT(p.m[0], 1.0f);
    EXPECT_FLOAT_EQ(p.m[5], p.m[0] * 800.0f / 600.0f);
    EXPECT_EQ((std::vector<float>{p.m[11], p.m[15]}), (std::vector<float>{1, 0}));
    EXPECT_FLOAT_EQ(p.m[10], 1.01f);
    EXPECT_FLOAT_EQ(p.m[14], -1.01f);
    EXPECT_FLOAT_EQ(Transform(device, GpuTransform::Projection, 14), -1.01f);
    Matrix4 projection;
    projection.m[14] = -0.5f;
    device.SetProjectionMatrix(projection);
    device.SetDepthBias(1);
    device.GetProjectionMatrix(p);
    EXPECT_FLOAT_EQ(p.m[14], -0.5f * 1.002f);
    EXPECT_EQ(device.GetDepthBias(), 1);
    device.SetDepthBias(1);
    device.SetDepthBias(0);
    device.GetProjectionMatrix(p);
    EXPECT_EQ(p.m[14], -0.5f);
    EXPECT_EQ(device.GetDepthBias(), 0);
    EXPECT_EQ(Transform(device, GpuTransform::Projection, 14), -0.5f);
}

TEST(DeviceTransforms, CameraGivesTheViewUntilOverridden) {
    auto device = MakeDevice();
    Matrix4 camera;
    camera.m[12] = 1.0f;
    camera.m[13] = 2.0f;
    camera.m[14] = 3.0f;
    camera.m[3] = 0.5f;
    device->SetCameraMatrix(camera);
    // An overridden view and projection hold until restored.
    Matrix4 screen;
    screen.m[0] = 9.0f;
    device->OverrideViewProjection(screen, screen);
    camera.m[12] = 4.0f;
    device->SetCameraMatrix(camera);
    Matrix4 projection;
    projection.m[14] = 2.0f;
    device->SetProjectionMatrix(projection);
    EXPECT_EQ(Transform(*device, GpuTransform::Projection, 0), 9.0f);
    device->RestoreViewProjection();
    EXPECT_FLOAT_EQ(Transform(*device, GpuTransform::View, 12), camera.Inverted().m[12]);
    EXPECT_EQ(Transform(*device, GpuTransform::Projection, 14), 2.0f);
}

LightRecord Light(LightType type, uint32_t color, float strength) {
    LightRecord light;
    light.type = static_cast<uint32_t>(type);
    light.color = color;
    light.flags = LightDiffuse;
    light.strength = strength;
    light.coneAngle = 90.0f;
    light.direction = {0.0f, 0.0f, 1.0f};
    return light;
}

TEST(DeviceLights, AttenuationFollowsTheStrengthAndNoPositiveStrengthReachesNothing) {
    auto device = MakeDevice();
    device->SetLight(2, Light(LightType::Spot, 0xFFFF8000, 0.025f));
    device->EnableLight(2, true);
    GpuLight out;
    ASSERT_EQ(device->Gpu()->GetLight(2, out), GpuResult::Ok);
    EXPECT_NEAR(out.range, 0.9f, 1e-6f);
    EXPECT_FLOAT_EQ(out.attenuation2, 40.0f);
    EXPECT_FLOAT_EQ(out.phi, 90.0f * 0.0174532794f);
    EXPECT_FLOAT_EQ(out.diffuse.g, 128.0f / 255.0f);
    device->SetLight(3, Light(LightType::Directional, 0xFF808080, 2.0f));
    ASSERT_EQ(device->Gpu()->GetLight(3, out), GpuResult::Ok);
    EXPECT_FLOAT_EQ(out.diffuse.b, 2.0f * 128.0f / 255.0f);
    device->SetLight(0, Light(LightType::Point, 0xFFFFFFFF, -4.0f));
    ASSERT_EQ(device->Gpu()->GetLight(0, out), GpuResult::Ok);
    EXPECT_EQ(out.range, 0.0f);
    EXPECT_TRUE(std::isfinite(out.attenuation0) && std::isfinite(out.attenuation2));
}

} // namespace
} // namespace quarn
