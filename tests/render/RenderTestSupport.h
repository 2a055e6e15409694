#pragma once

// Small scenes for the render tests: a root with a render target and a camera at the origin
// looking along +z, and flat square drawables that note every pass they are drawn in.

#include "core/io/BufferFile.h"
#include "core/object/IdMap.h"
#include "core/scene/SceneClasses.h"
#include "core/scenefile/SceneLoader.h"
#include "device/DeviceMesh.h"
#include "device/IndexBuffer.h"
#include "device/VertexBuffer.h"
#include "render/Camera.h"
#include "render/Light.h"
#include "render/LightManager.h"
#include "render/RenderObject.h"
#include "render/RenderTarget.h"
#include "render/Sprite.h"
#include "resources/Texture.h"
#include "tests/support/SoftwareRenderDevice.h"
#include "tests/support/TestClass.h"
#include "tests/support/TestTree.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// Opaque colours the pixel checks compare with.
inline constexpr uint32_t Black = 0xFF000000;
inline constexpr uint32_t Grey = 0xFF808080;
inline constexpr uint32_t Red = 0xFFFF0000;
inline constexpr uint32_t Green = 0xFF00FF00;
inline constexpr uint32_t Blue = 0xFF0000FF;
inline constexpr uint32_t White = 0xFFFFFFFF;

} // namespace quarn

namespace quarn::test {

// The classes the render tests use, in their start-up order.
inline void RegisterRenderClasses() {
    RegisterSceneClasses();
    Camera::RegisterClass();
    RenderObject::RegisterClass();
    RenderTarget::RegisterClass();
    OmniLight::RegisterClass();
    AmbientLight::RegisterClass();
    DirectionalLight::RegisterClass();
    SpotLight::RegisterClass();
    LightManager::RegisterClass();
    Texture::RegisterClass();
    Sprite::RegisterClass();
}

// A square of side 2 x `half` in its x-y plane, facing -z, drawn unlit in its colour and opacity.
// Each Render notes "name@pass" in the shared log and asks to be drawn again in `again`.
class RtSquare : public TestClass<RtSquare, RenderObject> {
public:
    static constexpr const char* Name = "RenderTestSquare";

    RtSquare() {
        SetRenderFlag(RenderDoubleSided, true);
        SetRenderFlag(RenderLighting, false);
    }

    void UpdateBoundingBox() override {
        localBox_ = {Float3(-half, -half, 0.0f), Float3(half, half, 0.0f)};
    }
    void UpdateWorldBoundingBox() override {
        const Float3 p = GetWorldPosition();
        worldBox_ = {p - Float3(half, half, 0.0f), p + Float3(half, half, 0.0f)};
    }
    void UpdateRenderState() override {
        if (!mesh_) {
            Build();
        }
        ApplyMeshState(*mesh_, vertices_.get(), indices_.get(), nullptr, 0xFFFFFFFF);
    }
    int32_t Render() override {
        log.push_back(GetName() + "@" + std::to_string(CurrentPass));
        SubmitMesh(*mesh_);
        return again;
    }
    DeviceMesh* GetRenderMesh() override { return mesh_.get(); }

    float half = 1.0f;
    int32_t again = 0;
    uint32_t indexKind = 0; // as IndexBuffer::Create takes it; fixed at the first draw
    static inline std::vector<std::string> log;

private:
    void Build() {
        RenderDevice& device = *TheRenderDevice();
        vertices_ = device.CreateVertexData();
        indices_ = device.CreateIndexData();
        mesh_ = device.CreateDeviceMesh();
        vertices_->Create(4, VertexPosition | VertexNormal, 0);
        const Float3 corners[4] = {{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}};
        for (uint32_t i = 0; i < 4; ++i) {
            vertices_->SetPosition(i, corners[i] * half);
            vertices_->SetNormal(i, Float3(0.0f, 0.0f, -1.0f));
        }
        indices_->Create(6, indexKind);
        indices_->SetTriangle(0, 0, 1, 2);
        indices_->SetTriangle(1, 0, 2, 3);
    }

    std::unique_ptr<VertexBuffer> vertices_;
    std::unique_ptr<IndexBuffer> indices_;
    std::unique_ptr<DeviceMesh> mesh_;
};

// Stands in for the mockup box, which the render layer knows by its class name alone: a box from
// (-1, -2, -3) to (1, 2, 3) about its position that notes every lightmap call. One class for
// every render test, as a class name can be registered only once in a program.
class MockupBoxStandIn : public TestClass<MockupBoxStandIn, RenderObject> {
public:
    static constexpr const char* Name = "MockupBox";
    static void Declare(ClassInfo& classInfo) {
        classInfo.AddMethod("CreateLightMap", "()", BindSignalHandler<&MockupBoxStandIn::Note<0>>(),
                            0);
        classInfo.AddMethod("InitLightMap", "()", BindSignalHandler<&MockupBoxStandIn::Note<1>>(),
                            0);
        classInfo.AddMethod("UpdateLightMap", "()", BindSignalHandler<&MockupBoxStandIn::Note<2>>(),
                            0);
        classInfo.AddMethod("SaveLightMap", "()", BindSignalHandler<&MockupBoxStandIn::Note<3>>(),
                            0);
    }
    void UpdateBoundingBox() override { localBox_ = {Float3(-1, -2, -3), Float3(1, 2, 3)}; }
    int32_t Render() override { return 0; }

    // "name:create", "name:init", "name:update" or "name:save" for each call.
    static inline std::vector<std::string> calls;

private:
    template <int Call>
    void Note(void*) {
        static constexpr const char* Names[] = {"create", "init", "update", "save"};
        calls.push_back(GetName() + ":" + Names[Call]);
    }
};

// A scene root (the scene of id system 0) holding a render target and a camera at the origin;
// the 64 x 48 viewport sees x from -z to z and y from -0.75 z to 0.75 z at depth z.
class RenderScene : public ::testing::Test, protected SoftwareFrames {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        RegisterRenderClasses();
        RtSquare::RegisterClass();
        RtSquare::log.clear();
        root_ = tree_.Make<Node>("root");
        root_->SetIdSystem(0);
        TheIdMap().SetSceneRoot(0, root_);
        camera_ = tree_.Make<Camera>("camera", root_);
        target_ = tree_.Make<RenderTarget>("target", root_);
        target_->SetCameraId({camera_->GetId()});
        target_->SetTargetFlags(TargetDefaultFlags | TargetClearFrame | TargetClearZ);
        target_->SetBackgroundColor(0xFF000000);
    }
    void TearDown() override {
        CurrentCamera = nullptr;
        TheIdMap().Clear();
    }

    RtSquare* Square(const char* name, Float3 position, uint32_t color, Node* parent = nullptr,
                     int32_t type = RenderSolid) {
        auto* square = tree_.Make<RtSquare>(name, parent ? parent : root_);
        square->SetPosition(position);
        square->SetColor(color);
        square->SetRenderType(type);
        return square;
    }
    // One frame of the whole scene, over a frame of `before`.
    void Frame(uint32_t before = 0xFF102030) {
        BeginFrame(before);
        UpdateNodeTree(root_);
        EndFrame();
    }

    TestTree tree_;
    Node* root_ = nullptr;
    Camera* camera_ = nullptr;
    RenderTarget* target_ = nullptr;
};

// A scene read from its text, drawn on the software device.
class RenderSceneFile : public ::testing::Test, protected SoftwareFrames {
protected:
    void SetUp() override {
        TheIdMap().Clear();
        RegisterRenderClasses();
        RtSquare::RegisterClass();
    }
    void TearDown() override {
        if (root_) {
            root_->Delete();
        }
        CurrentCamera = nullptr;
        TheIdMap().Clear();
    }
    static std::string Object(const char* id, const char* className, const std::string& lines) {
        return std::string("obj") + id + " {\n\tclass = \"" + className + "\"\n" + lines + "}\n";
    }
    // Loads the scene as the scene of id system 0.
    bool Load(const std::string& text) {
        BufferFile file(text.data(), static_cast<uint32_t>(text.size()));
        SceneLoader loader("level.scene", 0, SceneKeepUnmappedIds, nullptr, nullptr);
        root_ = loader.Load(file);
        TheIdMap().SetSceneRoot(0, root_);
        return root_ != nullptr;
    }
    void Frame(uint32_t before = 0xFF000000) {
        BeginFrame(before);
        UpdateNodeTree(root_);
        EndFrame();
    }

    Node* root_ = nullptr;
};

} // namespace quarn::test
