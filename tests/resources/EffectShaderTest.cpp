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
    const ShaderFileCase cases[] = {
        {"a.psh", true, nullptr},
        {"A.PSH_RAW", true, nullptr},
        {"", false, nullptr},
        {"bad.psh_raw", false,
         "bad.psh_raw: Failed to load pre-compiled shader: '{}bad.psh_raw' (unsupported opcode "
         "0x28 at word 1)"},
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

} // namespace
} // namespace quarn
