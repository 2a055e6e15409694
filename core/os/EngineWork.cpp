#include "core/os/EngineWork.h"

namespace quarn {

namespace {
EngineWorkHook currentHook = nullptr;
} // namespace

void SetEngineWorkHook(EngineWorkHook hook) {
    currentHook = hook;
}

void ChargeEngineWork(uint64_t steps) {
    if (currentHook && steps != 0) {
        currentHook(steps);
    }
}

} // namespace quarn
