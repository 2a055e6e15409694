#pragma once

#include <cstdint>

namespace quarn {

class ClassInfo;
class Node;

// Set by the platform: draws the user's attention once a long update is done.
using FlashWindowFunction = void (*)();
inline FlashWindowFunction PlatformFlashWindow = nullptr;

// Adds every node of the subtree that is of the class or derives from it, in tree order;
// without branches the subtrees of child nodes of class "Branch" are left out.
void SelectClassInSubtree(Node* node, const ClassInfo* classInfo, bool includeBranches);
// With exactly one node selected, replaces the selection by the lightmapped nodes of its
// subtree: boxes, then cylinders, then models. Answers the selection count.
int SelectLightMappedNodes(bool includeBranches);
// Calls the method of that name, without arguments, on every selected node that has it.
void CallMethodOnSelection(const char* method);

// The bytes of lightmaps a create, init or update command may ask for together: the scene's
// draw buffers hold them, and the memory budget bounds those.
uint64_t LightMapByteBound();
inline constexpr int LightMapsRefused = -2;
// The editor's lightmap commands; each answers the selection count it logged, or does nothing
// and answers -1 without a selection set. Create, init and update make the lightmaps the
// selection asks for at the installed spacing; past LightMapByteBound() they make none, log a
// line naming the spacing that fits and answer LightMapsRefused.
int CreateLightMaps();
int InitLightMaps();
int UpdateLightMaps();
int SaveLightMaps();

} // namespace quarn
