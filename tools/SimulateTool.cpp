#include "tools/SimulateTool.h"

#include "app/platform/StopSignal.h"
#include "core/object/ClassInfo.h"
#include "core/object/Signals.h"
#include "core/object/ValueBinding.h"
#include "core/scene/Node.h"
#include "device/GpuRenderDevice.h"
#include "physics/PhysicsMaster.h"
#include "physics/RigidBody.h"
#include "tools/HeadlessPlayer.h"
#include "tools/ToolScene.h"
#include "tools/ToolStatus.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

bool ParseCount(const char* text, int& out) {
    if (!text) {
        return false;
    }
    const char* end = text + std::strlen(text);
    const auto parsed = std::from_chars(text, end, out);
    return parsed.ec == std::errc() && parsed.ptr == end && out >= 0;
}

PhysicsMaster* FirstWorld(Node* node) {
    // Depth first, without recursion: scenes may nest deeply.
    std::vector<Node*> pending{node};
    while (!pending.empty()) {
        Node* next = pending.back();
        pending.pop_back();
        if (auto* world = dynamic_cast<PhysicsMaster*>(next)) {
            return world;
        }
        std::vector<Node*> children;
        for (Node* child = next->GetFirstChild(); child; child = child->GetNext()) {
            children.push_back(child);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return nullptr;
}

// Adding 0 prints a negative zero as 0.
void PrintNumbers(std::initializer_list<float> numbers) {
    for (float number : numbers) {
        std::printf(" %.9g", static_cast<double>(number + 0.0f));
    }
}

// Body velocities are held in the transform parent's space.
Float3 ToWorld(RigidBody& body, Float3 direction) {
    Pivot* parent = body.GetTransformParent();
    return parent ? parent->LocalToWorldDirection(direction) : direction;
}

void PrintEvent(const ContactEvents::Event& event) {
    std::printf("event %s %u %u", ContactEvents::GetKindName(event.kind), event.words[0],
                event.words[1]);
    for (int i = 2; i < event.wordCount; ++i) {
        PrintNumbers({WordToFloat(event.words[i])});
    }
    std::printf("\n");
}

} // namespace

int RunSimulateTool(char** arguments, std::string& reason) {
    const std::string scene = arguments[0];
    int steps = -1;
    int every = 1;
    bool events = false;
    std::vector<const char*> names;
    for (char** argument = arguments + 1; *argument; ++argument) {
        const char* option = *argument;
        if (std::strcmp(option, "--events") == 0) {
            events = true;
        } else if (std::strcmp(option, "--steps") == 0 && ParseCount(argument[1], steps)) {
            ++argument;
        } else if (std::strcmp(option, "--every") == 0 && ParseCount(argument[1], every) &&
                   every > 0) {
            ++argument;
        } else if (std::strcmp(option, "--print") == 0 && argument[1]) {
            names.push_back(*++argument);
        } else {
            reason = std::string("cannot read \"") + option + "\"";
            return ExitUsage;
        }
    }
    if (steps < 0) {
        reason = "--steps takes a count of 0 or more";
        return ExitUsage;
    }
    WatchToolStopSignals("steps", steps, "");
    const std::unique_ptr<GpuRenderDevice> device = MakeToolDevice(reason);
    if (!device) {
        return ExitFailed;
    }
    Node* root = LoadToolScene(scene, reason, true);
    if (!root) {
        return ExitFailed;
    }
    SendSignal("loaded", nullptr, true);
    PhysicsMaster* world = FirstWorld(root);
    if (!world) {
        reason = scene + " has no physics master";
        return ExitFailed;
    }
    std::vector<RigidBody*> bodies;
    for (const char* name : names) {
        Node* node = root->FindByName(name);
        auto* body = dynamic_cast<RigidBody*>(node);
        if (!body) {
            reason = std::string("\"") + name + "\" is no rigid body in " + scene;
            return ExitFailed;
        }
        bodies.push_back(body);
    }
    for (RigidBody* body : bodies) {
        const Matrix3& inertia = body->GetInertia();
        std::printf("body %s mass", body->GetName().c_str());
        PrintNumbers({body->GetMass()});
        std::printf(" inertia");
        PrintNumbers({inertia.m[0][0], inertia.m[1][1], inertia.m[2][2]});
        std::printf("\n");
    }
    if (events) {
        ContactEvents::SetObserver(PrintEvent);
    }
    const uint64_t serial = world->GetSerial();
    for (int step = 1; step <= steps; ++step) {
        if (StopRequested()) {
            std::fflush(stdout);
            reason = ToolStopReason();
            return ExitFailed;
        }
        if (Entity::FindBySerial(serial) != world) {
            reason = "the physics master was deleted at step " + std::to_string(step);
            return ExitFailed;
        }
        // Each step is a frame of its own, as the player's are.
        BeginSceneFrame();
        world->Step(world->GetTimestep());
        CountToolStep();
        if (step % every != 0) {
            continue;
        }
        for (RigidBody* body : bodies) {
            const Float3 p = body->GetWorldPosition();
            const Quaternion q = body->GetWorldOrientation();
            const Float3 v = ToWorld(*body, body->GetLinearVelocity());
            const Float3 w = ToWorld(*body, body->GetAngularVelocity());
            std::printf("step %d %s", step, body->GetName().c_str());
            PrintNumbers({p.x, p.y, p.z, q.x, q.y, q.z, q.w, v.x, v.y, v.z, w.x, w.y, w.z});
            std::printf("\n");
        }
    }
    ContactEvents::SetObserver(nullptr);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
