#pragma once

namespace quarn {

// Lets lower layers ask the application to rebuild its menu after a state the menu shows has
// changed (the physics method, say). Without a hook, nothing happens.
using MenuRefreshHook = void (*)();

void SetMenuRefreshHook(MenuRefreshHook hook);
void RefreshMenu();

} // namespace quarn
