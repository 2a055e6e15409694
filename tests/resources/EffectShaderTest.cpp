#include "resources/EffectShader.h"

#include "device/DeviceShader.h"
#include "tests/resources/ResourceTestSupport.h"
#include "tests/support/RecordingDialogHook.h"
#include "tests/support/ShaderTokens.h"
#include "tests/support/SoftwareRenderDevice.h"

#include <fstream>
#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace test;

class EffectShaderTest : public ResourceDiskTest, protected SoftwareFrames {
protected:
    void Write(const std::string& name, const std::vector<uint32_t>& words) {
        const std::vector<uint8_t> bytes = StreamBytes(words);
        std::ofstream(temp_.Join(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    const std::vector<uint32_t> pixel_ = {Ps20, Op(1, 2), Dst(8, 0), Src(2, 6), End};
    RecordingDialogHook dialogs_;
};

struct ShaderFileCase {
    const char* path;
    bool loads;
    const char* dialog; // nullptr: none
};

TEST_F(EffectShaderTest, SourceNamesLoadTheirRawTwinAndFailuresShowTheDialog) {
    Write("a.psh_raw", pixel_);
    Write("bad.psh_raw", {Ps20, Op(0x28, 0), End});
    // A program runs for every pixel drawn: 50,000 instructions made a frame of seconds.
    std::vector<uint32_t> longer = {Ps20};
    for (int i = 0; i < 50000; ++i) {
        longer.insert(longer.end(), pixel_.begin() + 1, pixel_.end() - 1);
    }
    longer.push_back(End);
    Write("long.psh_raw", longer);
    const ShaderFileCase cases[] = {
        {"a.psh", true, nullptr},
        {"A.PSH_RAW", true, nullptr},
        {"", false, nullptr},
        {"bad.psh_raw", false,
         "bad.psh_raw: Failed to load pre-compiled shader: '{}bad.psh_raw' (unsupported opcode "
         "0x28 at word 1)"},
        {"long.psh_raw", false,
         "long.psh_raw: Failed to load pre-compiled shader: '{}long.psh_raw' (pixel program of "
         "more than 64 arithmetic instructions at word 193)"},
        {"none.psh", false, "none.psh: "},
        {"a.png", false, "a.png: "},
    };
    for (const ShaderFileCase& c : cases) {
        SCOPED_TRACE(c.path);
        const size_t shown = dialogs_.Dialogs().size();
        auto* resource = new EffectShader(c.path, "");
        ASSERT_NE(resource->GetShader(), nullptr);
        auto* shader = static_cast<DeviceShader*>(resource->GetShader());
        EXPECT_EQ(shader->HasPixelProgram(), c.loads);
        if (c.dialog == nullptr) {
            EXPECT_EQ(dialogs_.Dialogs().size(), shown);
            EXPECT_EQ(resource->GetState(), uint32_t{ResourceLoaded});
        } else {
            ASSERT_EQ(dialogs_.Dialogs().size(), shown + 1);
            const RecordingDialogHook::Dialog& d = dialogs_.Dialogs().back();
            std::string expected = c.dialog;
            if (const size_t at = expected.find("{}"); at != std::string::npos) {
                expected.replace(at, 2, temp_.Path() + "/");
            }
            EXPECT_EQ(d.text, expected);
            EXPECT_EQ(d.title, "Effect shader error");
            EXPECT_EQ(d.buttons, "OK");
            EXPECT_EQ(resource->GetState(), uint32_t{ResourceFailed});
        }
        resource->Release();
    }
    EXPECT_TRUE(log_.Contains("Unknown effect-shader format: 'a.png'"));
}

TEST_F(EffectShaderTest, AFailedReloadShowsTheDialogAndKeepsNoProgram) {
    Write("r.psh_raw", pixel_);
    auto* resource = new EffectShader("r.psh_raw", "");
    ASSERT_EQ(resource->GetState(), uint32_t{ResourceLoaded});
    Write("r.psh_raw", {Ps20, Op(1, 2)});
    EXPECT_FALSE(resource->Load());
    EXPECT_EQ(resource->GetState(), uint32_t{ResourceFailed});
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    EXPECT_EQ(resource->GetShader()->Begin(), 0);
    resource->Release();
}

TEST_F(EffectShaderTest, ASourceNamedShaderWatchesAndReloadsItsTwin) {
    std::ofstream(temp_.Join("glow.fx")) << "technique t { pass p { } }\n";
    SetFileTime("glow.fx", 1000);
    // The effect container: the vertex program's length in words and its words, then the
    // pixel program's.
    const auto effect = [this](const std::vector<uint32_t>& vertex) {
        std::vector<uint32_t> words{static_cast<uint32_t>(vertex.size())};
        words.insert(words.end(), vertex.begin(), vertex.end());
        words.push_back(static_cast<uint32_t>(pixel_.size()));
        words.insert(words.end(), pixel_.begin(), pixel_.end());
        return words;
    };
    Write("glow.fx_raw", effect({}));
    SetFileTime("glow.fx_raw", 1000);
    EffectShader* held = nullptr;
    std::string name;
    ASSERT_TRUE(ReplaceEffectShader(held, name, "glow.fx"));
    auto* shader = static_cast<DeviceShader*>(held->GetShader());
    ASSERT_TRUE(shader->HasPixelProgram());

    // Editing the source, which nothing can compile, changes nothing.
    SetFileTime("glow.fx", 2000);
    EXPECT_FALSE(held->ReloadIfChanged());
    // Assembling the twin again reloads it.
    Write("glow.fx_raw", effect({Vs11, Op(1, 0), Dst(4, 0), Src(2, 0), End}));
    SetFileTime("glow.fx_raw", 3000);
    EXPECT_TRUE(held->ReloadIfChanged());
    EXPECT_TRUE(shader->HasVertexProgram());
    EXPECT_TRUE(shader->HasPixelProgram());
    EXPECT_TRUE(dialogs_.Dialogs().empty());
    EXPECT_FALSE(held->ReloadIfChanged());

    // A twin missing at first is loaded once it is written.
    auto* late = new EffectShader("late.psh", "");
    ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
    Write("late.psh_raw", pixel_);
    EXPECT_TRUE(late->ReloadIfChanged());
    EXPECT_TRUE(static_cast<DeviceShader*>(late->GetShader())->HasPixelProgram());
    late->Release();
    ReplaceEffectShader(held, name, "");
}

} // namespace
} // namespace quarn
