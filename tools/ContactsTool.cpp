#include "tools/ContactsTool.h"

#include "collision/CollisionContact.h"
#include "collision/CollisionVolume.h"
#include "core/object/ClassInfo.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "tools/ToolScene.h"
#include "tools/ToolStatus.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

// The room the physics world offers a pair.
constexpr int ContactRoom = 100;

} // namespace

int RunContactsTool(char** arguments, std::string& reason) {
    const std::string scene = arguments[0];
    int maximum = ContactRoom;
    if (arguments[3]) {
        const char* text = arguments[4];
        const char* end = text ? text + std::strlen(text) : nullptr;
        const auto parsed = text ? std::from_chars(text, end, maximum) : std::from_chars_result{};
        if (std::strcmp(arguments[3], "--max") != 0 || !text || parsed.ec != std::errc() ||
            parsed.ptr != end || maximum < 0) {
            reason = "--max takes a count of 0 or more";
            return ExitUsage;
        }
    }
    const std::unique_ptr<GpuRenderDevice> device = MakeToolDevice(reason);
    if (!device) {
        return ExitFailed;
    }
    Node* root = LoadToolScene(scene, reason);
    if (!root) {
        return ExitFailed;
    }
    CollisionVolume* volumes[2] = {};
    for (int i = 0; i < 2; ++i) {
        const char* name = arguments[1 + i];
        Node* node = root->FindByName(name);
        if (!node) {
            reason = std::string("no node named \"") + name + "\" in " + scene;
            return ExitFailed;
        }
        volumes[i] = dynamic_cast<CollisionVolume*>(node);
        if (!volumes[i]) {
            reason = std::string("\"") + name + "\" is a " + node->GetClass()->GetName() +
                     ", not a collision volume";
            return ExitFailed;
        }
    }
    CollisionContact contacts[ContactRoom];
    const int count = CollidePair(*volumes[0], *volumes[1], maximum, contacts);
    std::printf("contacts %d\n", count);
    for (int i = 0; i < count; ++i) {
        const CollisionContact& c = contacts[i];
        // Positions come negated from the colliders. Adding 0 prints a negative zero as 0.
        const float numbers[7] = {-c.position.x, -c.position.y, -c.position.z, c.normal.x,
                                  c.normal.y,    c.normal.z,    c.depth};
        for (int k = 0; k < 7; ++k) {
            std::printf(k < 6 ? "%.9g " : "%.9g\n", static_cast<double>(numbers[k] + 0.0f));
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
