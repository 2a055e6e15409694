#pragma once

// How a render target orders and hands over what it draws: the pass table, the back-to-front
// sort with its sorting plane and bias, the pass hooks, and the process-wide state of the pass
// being drawn, which drawables read when they submit their meshes.

#include <cstdint>
#include <vector>

namespace quarn {

// Bits of a render target's "rt_flags".
enum RenderTargetFlags : uint32_t {
    TargetSimpleSort = 0x1, // sorted passes sort by world z instead of view depth
    TargetRenderToTexture = 0x2,
    TargetCulling = 0x4,   // container boxes cull their subtrees
    TargetSecondary = 0x8, // draws with its own camera; the current camera stays
    TargetClearFrame = 0x10,
    TargetClearZ = 0x20,
    TargetClearStencil = 0x40,
    TargetBatching = 0x80, // meshes of batched passes are merged
    TargetShowStats = 0x100,
    TargetHideStatic = 0x200, // diagnostics: the batch store hides its static groups
    TargetHideDynamic = 0x400,
    TargetDefaultFlags = TargetCulling | TargetBatching,
};

// The last pass; pass numbers equal render types.
inline constexpr int32_t LastPass = 17;
// Batch pass ids 0-63: the pass number, plus this for a secondary target.
inline constexpr uint32_t SecondaryPassIdOffset = 32;

struct PassRule {
    bool sorted;    // back to front before drawing
    bool simple;    // sorted by world z rather than view depth
    bool immediate; // meshes draw at once instead of joining batches
};
// The rule of pass 0-17; an all-false rule for any other number.
PassRule GetPassRule(int32_t pass);

// The pass being drawn, its batch pass id and the drawing target's flags.
inline int32_t CurrentPass = 0;
inline uint32_t CurrentBatchPassId = 0;
inline uint32_t CurrentTargetFlags = 0;

// A pass may have a hook before it (false skips the pass) and one after it.
using PrePassHook = bool (*)();
using PostPassHook = void (*)();
void SetPassHooks(int32_t pass, PrePassHook pre, PostPassHook post);
PrePassHook GetPrePassHook(int32_t pass);
PostPassHook GetPostPassHook(int32_t pass);

// A pass list names render objects by serial, so one deleted meanwhile is only skipped.
using PassList = std::vector<uint64_t>;

class RenderObject;

// Logs every difference of mesh state that keeps the two objects' meshes out of one batch:
// nothing when either has no mesh.
void CompareBatches(RenderObject* highlighted, RenderObject* other);

// Orders the list back to front as the current camera sees it: by depth along its view axis
// (world z when `simple`), the greatest first, ties by descending entity id, a sortingbias
// object after the others of its depth. With sortingplane objects the list falls into three
// groups drawn in turn: the far side of the plane (points on it included), the plane objects in
// list order, then the camera side. Entries whose object is gone are dropped.
void SortPass(PassList& list, bool simple);

} // namespace quarn
