#include "codecs/ImageCodec.h"
#include "tests/support/TempFolder.h"
#include "tests/tools/ToolRun.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quarn {
namespace {

using test::RunTool;
using test::ToolRun;

// A floor facing the camera at the origin, a static light between them and a small occluder
// just in front of the floor, which both cast shadows: the floor's lit face holds the
// occluder's shadow around it. `boxLines` goes into both boxes.
std::string ShadowScene(const std::string& boxLines) {
    auto node = [](int id, const char* cls, const char* name, const std::string& lines) {
        return "obj" + std::to_string(id) + " {\n\tclass = \"" + cls + "\"\n\tname = \"" + name +
               "\"\n\tparent = " + (id == 1 ? "0" : "1") + "\n" + lines + "}\n";
    };
    // Cast shadows, as well as the defaults.
    const std::string box = "\trenderflags = 70281\n" + boxLines;
    return "version = 44\nidsystem = 0\nnum_nodes = 6\n" + node(1, "Node", "root", "\tflags = 1\n") +
           node(2, "Camera", "camera", "") +
           node(3, "RenderTarget", "screen", "\tcurrentcamera = 2\n\tbackgroundcolor = FF000000\n") +
           node(4, "OmniLight", "lamp", "\tpos = 0,0,7\n\tbrightness = 9\n\trange = 100\n"
                                        "\tlightflags = 2\n") +
           node(5, "MockupBox", "floor", "\tpos = 0,0,10\n\tsize = 4,4,0.2\n" + box) +
           node(6, "MockupBox", "occluder", "\tpos = 0,0,8.5\n\tsize = 1,1,0.2\n" + box);
}

// The red channel of every pixel of a PNG file, row by row.
std::vector<uint8_t> RedChannel(const std::string& file, int32_t& width) {
    InitImageCodecs();
    ImageCodec* png = FindImageCodec("png");
    const auto* data = reinterpret_cast<const uint8_t*>(file.data());
    ImageInfo info;
    png->GetTextureFormat(info, data, static_cast<uint32_t>(file.size()));
    width = static_cast<int32_t>(info.width);
    struct Pixels {
        int32_t width;
        std::vector<uint8_t> red;
    } pixels{width, std::vector<uint8_t>(size_t(info.width) * info.height)};
    png->Load(data, static_cast<uint32_t>(file.size()), &pixels,
              [](int32_t x, int32_t y, ImagePixel pixel, void* context) {
                  auto* p = static_cast<Pixels*>(context);
                  p->red[size_t(y) * p->width + x] = static_cast<uint8_t>(pixel >> 16);
              });
    png->ReleaseData();
    return pixels.red;
}

TEST(QuarnToolLightMap, BakesSavesAndPacksTheLightmapsAndTheGameRendersTheShadowFromThem) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", ShadowScene(""));
    ToolRun run = RunTool(folder, {"lightmap", "level.scene", "--bake", "--save", "--atlas",
                                   "maps/atlas.bmp"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "2 lightmaps were created\n2 lightmaps were updated\n"
                       "2 lightmaps were saved\natlas maps/atlas.bmp 14x9 2 parts\n");
    for (const char* file : {"pelgrath/maps/scene/5.bmp", "pelgrath/maps/scene/6.bmp",
                             "maps/atlas.bmp"}) {
        EXPECT_TRUE(std::filesystem::exists(folder.Join(file))) << file;
    }
    // The floor's 14 x 7 takes the first shelf, the occluder's 12 x 2 the next; the list holds
    // them in the reverse of their placing order.
    EXPECT_EQ(folder.ReadFile("maps/atlas.txt"), "0\t7\t12\t2\t0\t\"pelgrath/maps/scene/6.bmp\"\n"
                                                 "0\t0\t14\t7\t0\t\"pelgrath/maps/scene/5.bmp\"\n");
    EXPECT_EQ(folder.ReadFile("atlases.txt"), "\"maps/atlas.bmp\"\n");

    // The boxes show their saved lightmaps: the occluder's lit face before a floor that is lit
    // at its rim and dark in the occluder's shadow.
    folder.WriteFile("applied.scene", ShadowScene("\tmapflags = 1\n"));
    for (const char* scene : {"level.scene", "applied.scene"}) {
        ToolRun render = RunTool(folder, {"render", scene, "--frames", "1", "--out",
                                          std::string(scene) + ".png", "--size", "320x240"});
        ASSERT_EQ(render.status, 0) << render.err;
    }
    int32_t width = 0;
    const std::vector<uint8_t> plain = RedChannel(folder.ReadFile("level.scene.png"), width);
    const std::vector<uint8_t> baked = RedChannel(folder.ReadFile("applied.scene.png"), width);
    auto at = [&](const std::vector<uint8_t>& red, int32_t x, int32_t y) {
        return red[size_t(y) * width + x];
    };
    EXPECT_EQ(at(plain, 175, 120), 255) << "unlit mockups are white";
    EXPECT_EQ(at(baked, 160, 120), 255) << "the occluder's face towards the light";
    for (const auto& [x, y] : {std::pair{175, 120}, {145, 120}, {160, 105}}) {
        EXPECT_LT(at(baked, x, y), 20) << x << "," << y << " lies in the shadow";
    }
    for (const auto& [x, y] : {std::pair{130, 90}, {190, 150}}) {
        EXPECT_GT(at(baked, x, y), 80) << x << "," << y << " is lit";
    }
}

// A bake whose lightmaps would pass the bytes the commands may ask for makes none and fails
// with the line naming the spacing that fits; nothing is saved.
TEST(QuarnToolLightMap, ABakePastTheBoundMakesNothingAndNamesTheSpacingThatFits) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", ShadowScene("\tsize = 400,400,0.2\n"));
    ToolRun run =
        RunTool(folder, {"lightmap", "level.scene", "--bake", "--spacing", "0.05", "--save"});
    EXPECT_EQ(run.status, 1);
    const std::string line = "No lightmap was made: at spacing 0.05 those of the 2 nodes would "
                             "take 2051073152 bytes, past the 536870912 a bake may ask for; "
                             "spacing 0.0978 fits\n";
    EXPECT_EQ(run.out, line);
    EXPECT_EQ(run.err, "quarn-tool: " + line);
    EXPECT_FALSE(std::filesystem::exists(folder.Join("pelgrath")));
}

TEST(QuarnToolLightMap, FailsWithTheReasonAndRefusesWhatItCannotRead) {
    test::TempFolder folder;
    folder.WriteFile("level.scene", ShadowScene(""));
    // Without a bake the lightmaps take their start fill; unsaved ones have no name to pack.
    ToolRun unsaved = RunTool(folder, {"lightmap", "level.scene", "--atlas", "atlas.bmp"});
    EXPECT_EQ(unsaved.status, 1);
    EXPECT_EQ(unsaved.out.rfind("2 lightmaps were created\n2 lightmaps were updated\n", 0), 0u)
        << unsaved.out;
    EXPECT_NE(unsaved.err.find("quarn-tool: no atlas was written at atlas.bmp"),
              std::string::npos)
        << unsaved.err;
    EXPECT_FALSE(std::filesystem::exists(folder.Join("atlas.bmp")));
    EXPECT_FALSE(std::filesystem::exists(folder.Join("atlases.txt")));

    ToolRun missing = RunTool(folder, {"lightmap", "none.scene"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("quarn-tool: cannot load none.scene", 0), 0u) << missing.err;
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"--spacing", "0"}, {"--spacing", "x"}, {"--atlas"}, {"--fast"}}) {
        std::vector<std::string> arguments = {"lightmap", "level.scene"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ToolRun run = RunTool(folder, arguments);
        EXPECT_EQ(run.status, 2) << options[0];
        EXPECT_NE(run.err.find("usage: quarn-tool lightmap SCENE"), std::string::npos) << run.err;
    }
}

} // namespace
} // namespace quarn
