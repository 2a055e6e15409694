#pragma once

// Reading files written by older versions: renamed classes and per-node upgrades.

#include <cstdint>

namespace quarn {

class Node;

// The class a file's class name means in a file of that version (renamed classes).
const char* MapLegacyClassName(const char* className, int32_t fileVersion);

// Adapts a node written by an older file version, one version step at a time up to the
// current one.
void UpgradeNodeVersion(int32_t fileVersion, Node& node);

} // namespace quarn
