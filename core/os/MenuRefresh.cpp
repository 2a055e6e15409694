#include "core/os/MenuRefresh.h"

namespace quarn {
namespace {

MenuRefreshHook menuRefreshHook = nullptr;

} // namespace

void SetMenuRefreshHook(MenuRefreshHook hook) {
    menuRefreshHook = hook;
}

void RefreshMenu() {
    if (menuRefreshHook) {
        menuRefreshHook();
    }
}

} // namespace quarn
