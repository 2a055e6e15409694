#pragma once

#include <cstdint>
#include <span>

namespace quarn {

class Node;

// Calls the named method on a node and its descendants, skipping subtrees that are not fully
// enabled unless forced.
void CallMethodInSubtree(Node* node, const char* name, void* argument, bool force);

// The block a record call hands each method: result words, then arguments.
inline constexpr int MethodRecordWords = 64;

// As CallMethodInSubtree, handing each method the record's words as its arguments (word 1 on)
// in a zero-filled block. A method whose result and argument words do not fit the block is
// skipped with a log line.
void CallMethodWithRecordInSubtree(Node* node, const char* name, std::span<const uint32_t> record,
                                   bool force);

} // namespace quarn
