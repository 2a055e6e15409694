#pragma once

#include "core/filesystem/DiskFileSystem.h"
#include "render/BorderSprite.h"
#include "render/DoubleSprite.h"
#include "render/Grass.h"
#include "resources/TextureAtlas.h"
#include "tests/render/RenderTestSupport.h"
#include "tests/support/PngFixture.h"
#include "tests/support/TempFolder.h"

#include <algorithm>
#include <string>
#include <vector>

namespace quarn::test {

// Sprites and other drawables of scene files drawn over a grey frame. Their textures lie in the
// base folder: "quads.png" (8 x 8: red and green over blue and a transparent quarter) and
// "white.png" (4 x 2).
class SpriteScene : public RenderSceneFile {
protected:
    void SetUp() override {
        RenderSceneFile::SetUp();
        Grass::RegisterClass();
        DoubleSprite::RegisterClass();
        BorderSprite::RegisterClass();
        files_.SetBaseFolder(temp_.Path().c_str());
        SetFileSystem(&files_);
        temp_.WriteFile("quads.png", test::EncodePng(8, 8, [](uint32_t x, uint32_t y) {
                            return y < 4 ? (x < 4 ? Red : Green) : (x < 4 ? Blue : 0u);
                        }));
        temp_.WriteFile("white.png",
                        test::EncodePng(4, 2, [](uint32_t, uint32_t) { return White; }));
    }
    void TearDown() override {
        RenderSceneFile::TearDown();
        ClearTextureAtlases();
        SetFileSystem(nullptr);
    }

    // A root (id 1) with a camera (2) at the origin looking along +z and a render target (3);
    // then a node of the class (ids 4 on) under the root for each text of property lines.
    Sprite* LoadSprites(const std::vector<std::string>& sprites, const char* className = "Sprite") {
        return dynamic_cast<Sprite*>(LoadNodes(sprites, className));
    }
    Node* LoadNodes(const std::vector<std::string>& nodes, const char* className) {
        std::string text =
            "version = 44\nidsystem = 0\nnum_nodes = " + std::to_string(3 + nodes.size()) + "\n" +
            Object("1", "Node", "\tparent = 0\n") + Object("2", "Camera", "\tparent = 1\n") +
            Object("3", "RenderTarget",
                   "\tparent = 1\n\tcurrentcamera = 2\n\tbackgroundcolor = FF808080\n"
                   "\trt_flags = 180\n");
        for (size_t i = 0; i < nodes.size(); ++i) {
            text += Object(std::to_string(4 + i).c_str(), className, "\tparent = 1\n" + nodes[i]);
        }
        EXPECT_TRUE(Load(text));
        return dynamic_cast<Node*>(LookupEntity(4));
    }

    // Makes room for the next scene, whose ids start at 1 again.
    void Unload() {
        root_->Delete();
        root_ = nullptr;
        TheIdMap().Clear();
    }

    // The pixels that are not the grey frame: left, top, right and bottom, the last two past
    // the edge.
    std::vector<int> Covered() {
        std::vector<int> r = {Width, Height, 0, 0};
        for (int y = 0; y < Height; ++y) {
            for (int x = 0; x < Width; ++x) {
                if (Pixel(x, y) != Grey) {
                    r = {std::min(r[0], x), std::min(r[1], y), std::max(r[2], x + 1),
                         std::max(r[3], y + 1)};
                }
            }
        }
        return r;
    }

    test::TempFolder temp_;
    DiskFileSystem files_;
};

} // namespace quarn::test
