#pragma once

namespace quarn {

class ClassInfo;

// The class record of the Script node: base "Node", category "Behaviour", updated while the
// game is stopped too. Every program's own class derives from it. Registers it when absent.
ClassInfo* RegisterScriptNodeClass();

} // namespace quarn
