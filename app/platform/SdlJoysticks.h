#pragma once

#include "app/input/JoystickDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quarn {

// The platform's joysticks on SDL: the controllers of the last scan and the device objects
// handed out for them. Controllers are enumerated once; one plugged in later is seen only after
// an explicit scan.
class SdlJoysticks : private JoystickSource {
public:
    static constexpr int32_t MaxControllers = 8;

    SdlJoysticks() = default;
    ~SdlJoysticks() override;
    SdlJoysticks(const SdlJoysticks&) = delete;
    SdlJoysticks& operator=(const SdlJoysticks&) = delete;

    // Scans the attached controllers again; their number.
    int32_t Enumerate();
    // Scans on the first call only.
    int32_t GetCount();
    // The device of slot index, made on first request; null for an index outside the scan.
    JoystickDevice* Create(int32_t index);

private:
    struct Record {
        int32_t instanceId; // SDL's id of the connection, which outlives a change of order
        std::string productName;
        // Stays set after the device lets the controller go: the next open takes another one.
        bool opened;
    };

    std::unique_ptr<JoystickController> OpenNextController() override;

    bool started_ = false;
    bool enumerated_ = false;
    std::vector<Record> records_;
    std::unique_ptr<JoystickDevice> devices_[MaxControllers];
};

} // namespace quarn
