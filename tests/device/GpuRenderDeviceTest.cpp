#include "device/GpuRenderDevice.h"

#include "device/DeviceTexture.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "gpu/software/SoftwareDevice.h"

#include <bit>
#include <cmath>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

GpuDisplayMode SmallDisplay() {
    GpuDisplayMode mode;
    mode.width = 96;
    mode.height = 80;
    return mode;
}

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
    auto device =
        std::make_unique<GpuRenderDevice>(SoftwareFactory(software), caps, SmallDisplay());
    EXPECT_TRUE(device->Create(flags, nullptr, 64, 48)) << device->GetErrorText();
    return device;
}

uint32_t BackPixel(GpuRenderDevice& device, uint32_t x, uint32_t y) {
    return static_cast<SoftwareSurface*>(device.Gpu()->GetBackBuffer())->ReadArgb(x, y);
}

float Transform(GpuRenderDevice& device, GpuTransform which, int element) {
    return device.Gpu()->GetTransform(which).m[element];
}

TEST(GpuRenderDevice, CreatesHeadlessWithADepthSurfaceAsLargeAsTheDisplay) {
    auto device = MakeDevice();
    EXPECT_EQ(TheRenderDevice(), device.get());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_EQ(device->GetDepthBits(), 24u);
    EXPECT_EQ(device->GetStencilBits(), 8u);
    GpuSurfaceDesc depth = device->Gpu()->GetDepthStencilSurface()->GetDesc();
    EXPECT_EQ(depth.format, GpuFormat::D24S8);
    EXPECT_EQ(depth.width, 96u);
    EXPECT_EQ(depth.height, 80u);
    EXPECT_EQ(device->GetViewportSize().x, 64);
    EXPECT_EQ(device->GetViewportSize().y, 48);
    EXPECT_EQ(device->GetBackBufferFormat(), PixelFormat::X8R8G8B8); // as the display
    EXPECT_EQ(device->TestCreationFlags(DeviceDepthStencil | DeviceFullScreen), DeviceDepthStencil);
    EXPECT_EQ(device->Gpu()->GetRenderState(GpuRenderState::AlphaFunc),
              static_cast<uint32_t>(GpuCompare::Greater));
    EXPECT_EQ(device->Gpu()->GetMaterial().power, 10.0f);
}

TEST(GpuRenderDevice, DepthFormatSearchFollowsTheFlagsAndTheAdapter) {
    auto noDepth = MakeDevice(0);
    EXPECT_EQ(noDepth->Gpu()->GetDepthStencilSurface(), nullptr);
    EXPECT_EQ(noDepth->GetDepthBits(), 0u);
    EXPECT_EQ(noDepth->GetStencilBits(), 0u);

    auto skipStencil = MakeDevice(DeviceDepthStencil);
    EXPECT_EQ(skipStencil->Gpu()->GetDepthStencilSurface()->GetDesc().format, GpuFormat::D32);

    GpuCaps fewStencilBits;
    fewStencilBits.maxStencilBits = 1;
    auto d15 = MakeDevice(DeviceDepthStencil | DeviceDepthSearchAll, fewStencilBits);
    EXPECT_EQ(d15->GetDepthBits(), 15u);
    EXPECT_EQ(d15->GetStencilBits(), 1u);

    auto pow2 = MakeDevice(DeviceDepthStencil | DevicePow2DepthAndSceneTargets);
    GpuSurfaceDesc desc = pow2->Gpu()->GetDepthStencilSurface()->GetDesc();
    EXPECT_EQ(desc.width, 128u);
    EXPECT_EQ(desc.height, 128u);
}

TEST(GpuRenderDevice, ClearAndPresentShowTheViewportInThePresentRectangle) {
    SoftwareDevice* software = nullptr;
    auto device = MakeDevice(DeviceDepthStencil | DeviceDepthSearchAll, GpuCaps{}, &software);
    GpuRect source{-1, -1, -1, -1};
    GpuRect dest{-1, -1, -1, -1};
    software->SetPresentSink([&](const SoftwareSurface&, const GpuRect* s, const GpuRect* d) {
        ASSERT_NE(s, nullptr);
        ASSERT_NE(d, nullptr);
        source = *s;
        dest = *d;
    });
    ASSERT_TRUE(device->BeginScene());
    EXPECT_TRUE(
        device->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, 0xFF336699));
    EXPECT_TRUE(device->EndScene());
    device->SetPresentRectangle(10, 20, 64, 48);
    device->Present();
    EXPECT_EQ(BackPixel(*device, 0, 0), 0xFF336699u);
    EXPECT_EQ(BackPixel(*device, 63, 47), 0xFF336699u);
    EXPECT_EQ(source.right, 64);
    EXPECT_EQ(source.bottom, 48);
    EXPECT_EQ(dest.left, 10);
    EXPECT_EQ(dest.top, 20);
    EXPECT_EQ(dest.right, 74);
    EXPECT_EQ(dest.bottom, 68);
    EXPECT_EQ(device->GetFrameCount(), 1u);
}

TEST(GpuRenderDevice, ClearAskingForAMissingStencilPlaneStillClearsColourAndDepth) {
    auto device = MakeDevice(DeviceDepthStencil); // D32: no stencil
    device->Clear(DeviceClearTarget | DeviceClearDepth | DeviceClearStencil, 0xFF00FF00);
    EXPECT_EQ(BackPixel(*device, 5, 5), 0xFF00FF00u);
    auto noDepth = MakeDevice(0);
    noDepth->Clear(DeviceClearTarget | DeviceClearDepth, 0xFF0000FF);
    EXPECT_EQ(BackPixel(*noDepth, 5, 5), 0xFF0000FFu);
}

TEST(GpuRenderDevice, ViewportsTheTargetCannotHoldAreIgnored) {
    auto device = MakeDevice();
    device->SetViewport(4, 2, 0, 10);
    device->SetViewport(4, 2, 100, 10);
    device->SetViewport(-1, 0, 8, 8);
    EXPECT_EQ(device->GetViewportOrigin().x, 0);
    EXPECT_EQ(device->GetViewportSize().x, 64);
    device->SetViewport(4, 2, 16, 10);
    EXPECT_EQ(device->GetViewportOrigin().x, 4);
    EXPECT_EQ(device->GetViewportOrigin().y, 2);
    EXPECT_EQ(device->Gpu()->GetViewport().width, 16u);
}

TEST(GpuRenderDevice, WithoutADeviceEveryOperationIsHarmless) {
    GpuRenderDevice device(SoftwareFactory(), GpuCaps{}, SmallDisplay());
    EXPECT_EQ(device.GetDeviceState(), DeviceState::NotCreated);
    EXPECT_FALSE(device.BeginScene());
    device.Present();
    EXPECT_EQ(device.GetFrameCount(), 0u);
    device.SetViewport(0, 0, 10, 10);
    EXPECT_EQ(device.GetViewportSize().x, 0);
    device.SetPerspective(70.0f, 1.0f, 0.1f, 1000.0f);
    Matrix4 projection;
    device.GetProjectionMatrix(projection);
    EXPECT_TRUE(std::isfinite(projection.m[5]));
    EXPECT_TRUE(device.ResetDevice());
    EXPECT_TRUE(device.GetErrorText().empty());
}

TEST(GpuRenderDevice, FailedCreationExplainsItself) {
    GpuRenderDevice device(SoftwareFactory(), GpuCaps{}, SmallDisplay());
    EXPECT_FALSE(device.Create(0, nullptr, 100000, 48));
    EXPECT_EQ(device.GetErrorText(), "Failed to create the render device. Error code is 1.");
    EXPECT_EQ(device.GetDeviceState(), DeviceState::NotCreated);
}

TEST(GpuRenderDevice, StatisticsAreZeroedAtEveryBeginScene) {
    auto device = MakeDevice();
    device->GetRenderStatistics().numModelsRendered = 5;
    device->BeginScene();
    EXPECT_EQ(device->GetRenderStatistics().numModelsRendered, 0u);
    EXPECT_STREQ(RenderStatisticNames[2], "iNumModelsRendered");
}

uint32_t TexturePixel(DeviceTexture& texture, int32_t x, int32_t y) {
    EXPECT_TRUE(texture.Lock(1, 0));
    uint32_t pixel = texture.GetPixel(x, y);
    texture.Lock(0, 0);
    return pixel;
}

TEST(GpuRenderDevice, SceneTargetsCatchTheSceneAndReachTheBackBufferAtItsEnd) {
    auto device = MakeDevice(DeviceDepthStencil | DevicePow2DepthAndSceneTargets);
    DeviceTexture* first = device->GetSceneTarget();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(device->GetPreviousSceneTarget(), nullptr);
    EXPECT_EQ(first->GetFormat(), PixelFormat::X8R8G8B8);
    EXPECT_EQ(first->GetSize().x, 64);
    EXPECT_EQ(first->GetAllocatedSize().y, 64);

    ASSERT_TRUE(device->BeginScene());
    device->Clear(DeviceClearTarget | DeviceClearDepth, 0xFFC08040);
    EXPECT_EQ(BackPixel(*device, 3, 3), 0xFF000000u); // the back buffer is not drawn into yet
    ASSERT_TRUE(device->EndScene());
    EXPECT_EQ(BackPixel(*device, 3, 3), 0xFFC08040u);
    EXPECT_EQ(BackPixel(*device, 63, 47), 0xFFC08040u);
    EXPECT_EQ(device->GetPreviousSceneTarget(), first);
    EXPECT_EQ(device->Gpu()->GetRenderTarget(0), device->Gpu()->GetBackBuffer());
}

TEST(GpuRenderDevice, WideSceneTargetsUseFourSixteenBitChannels) {
    auto device = MakeDevice(DeviceWideSceneTargets);
    ASSERT_NE(device->GetSceneTarget(), nullptr);
    EXPECT_EQ(device->GetSceneTarget()->GetFormat(), PixelFormat::A16B16G16R16);
}

TEST(GpuRenderDevice, RenderTargetTexturesKeepTheViewport) {
    auto device = MakeDevice();
    auto target = device->CreateTexture();
    ASSERT_TRUE(target->Create(64, 64, PixelFormat::A8R8G8B8, TextureKind::Texture2D,
                               TextureFlagRenderTarget, 1));
    device->SetViewport(8, 4, 32, 16);
    device->SetRenderTarget(target.get(), false);
    EXPECT_EQ(device->Gpu()->GetRenderTarget(0), target->GetSurface(0));
    EXPECT_EQ(device->Gpu()->GetViewport().x, 8u);
    EXPECT_EQ(device->Gpu()->GetViewport().width, 32u);
    device->SetRenderTarget(nullptr, false);
    EXPECT_EQ(device->Gpu()->GetRenderTarget(0), device->Gpu()->GetBackBuffer());
}

TEST(GpuRenderDevice, BackBufferCopiesAndWrapsReadBackTheFrame) {
    auto device = MakeDevice(DeviceLockableBackBuffer);
    device->Clear(DeviceClearTarget, 0xFF0000FF);
    device->SetViewport(16, 8, 16, 8);
    device->Clear(DeviceClearTarget, 0xFFFF0000);
    auto copy = device->CreateTexture();
    ASSERT_TRUE(copy->Create(16, 8, PixelFormat::A8R8G8B8, TextureKind::Texture2D,
                             TextureFlagRenderTarget, 1));
    device->CopyBackBufferToTexture(copy.get());
    EXPECT_EQ(TexturePixel(*copy, 0, 0), 0xFFFF0000u);
    EXPECT_EQ(TexturePixel(*copy, 15, 7), 0xFFFF0000u);

    auto back = device->GetBackBuffer();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetKind(), TextureKind::Surface);
    EXPECT_EQ(TexturePixel(*back, 0, 0) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(TexturePixel(*back, 16, 8) & 0xFFFFFF, 0xFF0000u);
}

TEST(GpuRenderDevice, FactoriesNeedACreatedDevice) {
    GpuRenderDevice device(SoftwareFactory(), GpuCaps{}, SmallDisplay());
    EXPECT_EQ(device.CreateTexture(), nullptr);
    EXPECT_EQ(device.CreateVertexData(), nullptr);
    EXPECT_EQ(device.GetBackBuffer(), nullptr);
    ASSERT_TRUE(device.Create(0, nullptr, 16, 16));
    EXPECT_NE(device.CreateVertexData(), nullptr);
    EXPECT_NE(device.CreateIndexData(), nullptr);
    auto texture = device.CreateTexture();
    ASSERT_TRUE(texture->Create(4, 4, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
    EXPECT_TRUE(device.SetTexture(texture.get(), 1));
    EXPECT_EQ(device.Gpu()->GetTexture(1), texture->GetGpuTexture());
    EXPECT_TRUE(device.SetTexture(nullptr, 1));
    EXPECT_EQ(device.Gpu()->GetTexture(1), nullptr);
}

// A stand-in owner of default-pool data, as dynamic vertex data and render targets are.
struct DefaultPoolOwner {
    GpuRenderDevice* device = nullptr;
    std::unique_ptr<GpuVertexBuffer> buffer;
    std::vector<std::string>* calls = nullptr;
    bool restoreFails = false;

    void Make() {
        buffer = device->Gpu()->CreateVertexBuffer(64, GpuUsageDynamic, 0, GpuPool::Default);
    }
    void Release(const char* name) {
        calls->push_back(std::string("release ") + name);
        buffer.reset();
    }
    bool Restore(const char* name) {
        calls->push_back(std::string("restore ") + name);
        Make();
        return !restoreFails;
    }
};

class GpuRenderDeviceLoss : public ::testing::Test {
protected:
    void SetUp() override {
        device = MakeDevice(DeviceDepthStencil | DeviceDepthSearchAll, GpuCaps{}, &software);
        for (auto* owner : {&vertices, &textures}) {
            owner->device = device.get();
            owner->calls = &calls;
            owner->Make();
        }
        device->AddDeviceMemoryClient([this] { vertices.Release("vertices"); },
                                      [this] { return vertices.Restore("vertices"); });
        device->AddDeviceMemoryClient([this] { textures.Release("textures"); },
                                      [this] { return textures.Restore("textures"); });
    }

    void Lose() {
        software->LoseDevice();
        device->Present();
        ASSERT_EQ(device->GetDeviceState(), DeviceState::Lost);
    }

    SoftwareDevice* software = nullptr;
    std::unique_ptr<GpuRenderDevice> device;
    DefaultPoolOwner vertices;
    DefaultPoolOwner textures;
    std::vector<std::string> calls;
};

TEST_F(GpuRenderDeviceLoss, ResetReleasesAndRestoresDefaultPoolDataInOrder) {
    auto managed = device->Gpu()->CreateTexture(4, 4, 1, 0, GpuFormat::A8R8G8B8, GpuPool::Managed);
    GpuLockedRect locked;
    ASSERT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, 0), GpuResult::Ok);
    static_cast<uint32_t*>(locked.bits)[0] = 0x12345678;
    managed->UnlockRect(0, GpuCubeFace::PositiveX);
    Matrix4 world;
    world.m[12] = 7.0f;
    device->SetWorldMatrix(world);
    Lose();
    EXPECT_EQ(device->GetFrameCount(), 1u);

    ASSERT_TRUE(device->ResetDevice()) << device->GetErrorText();
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
    EXPECT_EQ(calls, (std::vector<std::string>{"release vertices", "release textures",
                                               "restore vertices", "restore textures"}));
    EXPECT_NE(vertices.buffer, nullptr);
    EXPECT_EQ(device->Gpu()->GetDepthStencilSurface()->GetDesc().format, GpuFormat::D24S8);
    EXPECT_EQ(Transform(*device, GpuTransform::World, 12), 7.0f);
    ASSERT_EQ(managed->LockRect(0, GpuCubeFace::PositiveX, locked, nullptr, GpuLockReadOnly),
              GpuResult::Ok);
    EXPECT_EQ(static_cast<uint32_t*>(locked.bits)[0], 0x12345678u);
    managed->UnlockRect(0, GpuCubeFace::PositiveX);

    device->Clear(DeviceClearTarget, 0xFFABCDEF);
    device->Present();
    EXPECT_EQ(BackPixel(*device, 1, 1), 0xFFABCDEFu);
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
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
    auto target = device->CreateTexture();
    ASSERT_TRUE(target->Create(32, 32, PixelFormat::A8R8G8B8, TextureKind::Texture2D,
                               TextureFlagRenderTarget, 1));
    auto loaded = device->CreateTexture();
    ASSERT_TRUE(loaded->Create(4, 4, PixelFormat::A8R8G8B8, TextureKind::Texture2D, 0, 1));
    ASSERT_TRUE(loaded->Lock(2, 0));
    loaded->SetPixel(1, 1, 0xFF445566);
    loaded->Lock(0, 0);
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
    EXPECT_EQ(TexturePixel(*loaded, 1, 1), 0xFF445566u);
    EXPECT_EQ(vertices->GetPosition(0).y, 2.0f);

    ASSERT_TRUE(device->BeginScene());
    device->Clear(DeviceClearTarget, 0xFF102030);
    ASSERT_TRUE(device->EndScene());
    EXPECT_EQ(BackPixel(*device, 2, 2), 0xFF102030u);
}

TEST_F(GpuRenderDeviceLoss, ResetStopsAtTheFirstFailedRestore) {
    Lose();
    vertices.restoreFails = true;
    EXPECT_FALSE(device->ResetDevice());
    EXPECT_EQ(calls.back(), "restore vertices");
}

TEST_F(GpuRenderDeviceLoss, DefaultPoolDataKeptAliveMakesTheResetFailAndTheDeviceStayLost) {
    auto forgotten = device->Gpu()->CreateIndexBuffer(12, 0, GpuFormat::Index16, GpuPool::Default);
    Lose();
    EXPECT_FALSE(device->ResetDevice());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Lost);
    forgotten.reset();
    EXPECT_TRUE(device->ResetDevice());
    EXPECT_EQ(device->GetDeviceState(), DeviceState::Ready);
}

TEST(DeviceTransforms, PerspectiveFollowsTheViewportShape) {
    auto device = std::make_unique<GpuRenderDevice>(SoftwareFactory(), GpuCaps{}, SmallDisplay());
    ASSERT_TRUE(device->Create(0, nullptr, 800, 600));
    device->SetPerspective(90.0f, 1.0f, 1.0f, 101.0f);
    Matrix4 p;
    device->GetProjectionMatrix(p);
    float c = 1.0f / std::tan(90.0f * 0.5f * 0.0174533333f);
    EXPECT_FLOAT_EQ(p.m[0], c);
    EXPECT_LT(p.m[0], 1.0f);
    EXPECT_FLOAT_EQ(p.m[5], c * 800.0f / 600.0f);
    EXPECT_FLOAT_EQ(p.m[10], 1.01f);
    EXPECT_FLOAT_EQ(p.m[11], 1.0f);
    EXPECT_FLOAT_EQ(p.m[14], -1.01f);
    EXPECT_EQ(p.m[15], 0.0f);
    EXPECT_FLOAT_EQ(Transform(*device, GpuTransform::Projection, 14), -1.01f);
}

TEST(DeviceTransforms, CameraGivesViewViewProjectionAndRotation) {
    auto device = MakeDevice();
    Matrix4 camera;
    camera.m[12] = 1.0f;
    camera.m[13] = 2.0f;
    camera.m[14] = 3.0f;
    camera.m[3] = 0.5f;
    device->SetCameraMatrix(camera);
    Matrix4 view;
    device->GetViewMatrix(view);
    Matrix4 inverse = camera.Inverted();
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(view.m[i], inverse.m[i]) << i;
    }
    EXPECT_FLOAT_EQ(Transform(*device, GpuTransform::View, 13), view.m[13]);
    Matrix4 rotation;
    device->GetCameraRotationMatrix(rotation);
    for (int i : {3, 7, 11, 12, 13, 14}) {
        EXPECT_EQ(rotation.m[i], 0.0f) << i;
    }
    EXPECT_EQ(rotation.m[15], 1.0f);
    Matrix4 projection, viewProjection, expected;
    device->GetProjectionMatrix(projection);
    device->GetViewProjectionMatrix(viewProjection);
    view.Multiply(projection, expected);
    for (int i = 0; i < 16; ++i) {
        EXPECT_FLOAT_EQ(viewProjection.m[i], expected.m[i]) << i;
    }
}

TEST(DeviceTransforms, OverriddenViewProjectionHoldsUntilRestored) {
    auto device = MakeDevice();
    Matrix4 screen;
    screen.m[0] = 9.0f;
    device->OverrideViewProjection(screen, screen);
    Matrix4 camera;
    camera.m[12] = 4.0f;
    device->SetCameraMatrix(camera);
    Matrix4 projection;
    projection.m[14] = 2.0f;
    device->SetProjectionMatrix(projection);
    EXPECT_EQ(Transform(*device, GpuTransform::View, 0), 9.0f);
    EXPECT_EQ(Transform(*device, GpuTransform::Projection, 0), 9.0f);
    device->RestoreViewProjection();
    EXPECT_EQ(Transform(*device, GpuTransform::View, 12), -4.0f);
    EXPECT_EQ(Transform(*device, GpuTransform::Projection, 14), 2.0f);
}

TEST(DeviceTransforms, DepthBiasScalesTheUnbiasedDepthTerm) {
    auto device = MakeDevice();
    Matrix4 projection;
    projection.m[14] = -0.5f;
    device->SetProjectionMatrix(projection);
    device->SetDepthBias(1);
    Matrix4 biased;
    device->GetProjectionMatrix(biased);
    EXPECT_FLOAT_EQ(biased.m[14], -0.5f * 1.002f);
    EXPECT_EQ(device->GetDepthBias(), 1);
    device->SetDepthBias(1);
    device->SetDepthBias(0);
    device->GetProjectionMatrix(biased);
    EXPECT_EQ(biased.m[14], -0.5f);
    EXPECT_EQ(device->GetDepthBias(), 0);
    EXPECT_EQ(Transform(*device, GpuTransform::Projection, 14), -0.5f);
}

TEST(DeviceFog, FogModesSetTheirStatesWithoutEnablingFog) {
    auto device = MakeDevice();
    GpuDevice& gpu = *device->Gpu();
    device->SetLinearFog(0xFF808080, 10.0f, 50.0f);
    EXPECT_FALSE(device->IsFogEnabled());
    EXPECT_EQ(gpu.GetRenderState(GpuRenderState::FogColor), 0xFF808080u);
    EXPECT_EQ(gpu.GetRenderState(GpuRenderState::FogVertexMode),
              static_cast<uint32_t>(GpuFogMode::Linear));
    EXPECT_EQ(std::bit_cast<float>(gpu.GetRenderState(GpuRenderState::FogEnd)), 50.0f);
    device->SetExp2Fog(0xFF000000, 0.25f);
    EXPECT_EQ(gpu.GetRenderState(GpuRenderState::FogVertexMode),
              static_cast<uint32_t>(GpuFogMode::Exp2));
    EXPECT_EQ(std::bit_cast<float>(gpu.GetRenderState(GpuRenderState::FogDensity)), 0.25f);
    device->SetFogEnabled(true);
    EXPECT_TRUE(device->IsFogEnabled());
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

TEST(DeviceLights, SpotLightAttenuationFollowsItsStrength) {
    auto device = MakeDevice();
    device->SetLight(2, Light(LightType::Spot, 0xFFFF8000, 0.025f));
    device->EnableLight(2, true);
    GpuLight out;
    ASSERT_EQ(device->Gpu()->GetLight(2, out), GpuResult::Ok);
    EXPECT_EQ(out.type, GpuLightType::Spot);
    EXPECT_NEAR(out.range, 0.9f, 1e-6f);
    EXPECT_FLOAT_EQ(out.attenuation0, 4.0f);
    EXPECT_FLOAT_EQ(out.attenuation2, 40.0f);
    EXPECT_FLOAT_EQ(out.phi, 90.0f * 0.0174532794f);
    EXPECT_FLOAT_EQ(out.diffuse.r, 1.0f);
    EXPECT_FLOAT_EQ(out.diffuse.g, 128.0f / 255.0f);
    EXPECT_EQ(out.specular.r, 0.0f);
    EXPECT_TRUE(device->Gpu()->GetLightEnable(2));

    device->SetLight(3, Light(LightType::Directional, 0xFF808080, 2.0f));
    ASSERT_EQ(device->Gpu()->GetLight(3, out), GpuResult::Ok);
    EXPECT_FLOAT_EQ(out.diffuse.b, 2.0f * 128.0f / 255.0f);
}

TEST(DeviceLights, LightsWithoutPositiveStrengthReachNothing) {
    auto device = MakeDevice();
    device->SetLight(0, Light(LightType::Point, 0xFFFFFFFF, -4.0f));
    GpuLight out;
    ASSERT_EQ(device->Gpu()->GetLight(0, out), GpuResult::Ok);
    EXPECT_EQ(out.range, 0.0f);
    EXPECT_TRUE(std::isfinite(out.attenuation0));
    EXPECT_TRUE(std::isfinite(out.attenuation2));
}

TEST(DeviceLights, AmbientRecordDrivesTheAmbientStateUntilReplacedOrDisabled) {
    auto device = MakeDevice();
    GpuDevice& gpu = *device->Gpu();
    device->SetLight(6, Light(LightType::Ambient, 0xFF202020, 1.0f));
    EXPECT_EQ(gpu.GetRenderState(GpuRenderState::Ambient), 0xFF202020u);
    device->EnableLight(6, true);
    EXPECT_FALSE(gpu.GetLightEnable(6));
    LightRecord stored;
    device->GetLight(6, stored);
    EXPECT_EQ(stored.color, 0xFF202020u);

    device->EnableLight(6, false);
    EXPECT_EQ(gpu.GetRenderState(GpuRenderState::Ambient), 0u);
    device->GetLight(6, stored);
    EXPECT_EQ(stored.color, 0u);

    device->SetLight(6, Light(LightType::Ambient, 0xFF101010, 1.0f));
    device->SetLight(6, Light(LightType::Point, 0xFFFFFFFF, 1.0f));
    device->EnableLight(6, true);
    EXPECT_TRUE(gpu.GetLightEnable(6));
}

TEST(DeviceLights, IndexesPastTheEighthRecordChangeNothing) {
    auto device = MakeDevice();
    LightRecord record = Light(LightType::Point, 0x123456, 3.0f);
    device->GetLight(8, record);
    EXPECT_EQ(record.color, 0x123456u);
    device->SetLight(8, record);
    device->EnableLight(8, false);
    device->EnableLight(100, true);
    EXPECT_EQ(device->GetMaxActiveLights(), 8u);
}

} // namespace
} // namespace quarn
