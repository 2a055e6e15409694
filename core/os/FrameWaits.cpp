#include "core/os/FrameWaits.h"

#include "core/os/EngineWork.h"

namespace quarn {

namespace {

using Microseconds = std::chrono::microseconds;

std::chrono::milliseconds bound = FrameWaitBound;
Microseconds waited{0};
bool toldSpent = false;

} // namespace

void BeginFrameWaits() {
    waited = Microseconds(0);
    toldSpent = false;
}

Microseconds FrameWaitLeft() {
    const Microseconds limit = bound;
    return waited < limit ? limit - waited : Microseconds(0);
}

void CountFrameWait(Microseconds wait) {
    if (wait.count() <= 0) {
        return;
    }
    waited += wait;
    ChargeMicrosecondsWaited(uint64_t(wait.count()));
}

bool FrameWaitsSpent(bool& tell) {
    tell = false;
    if (FrameWaitLeft().count() > 0) {
        return false;
    }
    tell = !toldSpent;
    toldSpent = true;
    return true;
}

std::string FrameWaitsSpentText() {
    const long long milliseconds = bound.count();
    const std::string figure = milliseconds % 1000 == 0 ? std::to_string(milliseconds / 1000) + " s"
                                                        : std::to_string(milliseconds) + " ms";
    return "the calls of this frame have waited " + figure + ", the most a frame waits";
}

std::chrono::milliseconds GetFrameWaitBound() {
    return bound;
}

void SetFrameWaitBound(std::chrono::milliseconds milliseconds) {
    bound = milliseconds.count() > 0 ? milliseconds : FrameWaitBound;
}

} // namespace quarn
