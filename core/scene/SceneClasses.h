#pragma once

namespace quarn {

// Registers the core's scene classes ("Node" with its base "Entity", "Pivot", the grouping
// nodes and the behaviour nodes) in their start-up order and returns how many classes this call
// added (0 on a repeat). The start-up registration of every class (RegisterAllClasses) places
// them among the others; this serves programs and tests that use the core alone.
int RegisterSceneClasses();

} // namespace quarn
