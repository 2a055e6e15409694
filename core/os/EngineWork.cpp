#include "core/os/EngineWork.h"

namespace quarn {

namespace {
EngineWorkHook currentHook = nullptr;
EngineRefusalHook refusalHook = nullptr;
} // namespace

void SetEngineWorkHook(EngineWorkHook hook) {
    currentHook = hook;
}

void ChargeEngineWork(uint64_t steps) {
    if (currentHook && steps != 0) {
        currentHook(steps);
    }
}

void SetEngineRefusalHook(EngineRefusalHook hook) {
    refusalHook = hook;
}

void RefuseEngineWork(const char* reason) {
    if (refusalHook) {
        refusalHook(reason ? reason : "");
    }
}

} // namespace quarn
