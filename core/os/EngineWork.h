#pragma once

#include <cstdint>

namespace quarn {

// Work the engine does for the script that runs, in proportion to what the script asked for:
// nodes of the scene visited, bytes inflated, parsed or written. The script machine counts it
// against the script's step limit as that many commands; without a script running it is not
// counted. Libraries below the script machine reach it through one hook, which the machine sets.
using EngineWorkHook = void (*)(uint64_t steps);

void SetEngineWorkHook(EngineWorkHook hook); // null removes it
void ChargeEngineWork(uint64_t steps);

// A request of the running script that a bound of the engine's own refused (a write past the
// cap of the game's folder): the machine makes it the runtime error of the call that asked,
// with `reason` as its text. Without a script running nothing more happens; the refused work
// fails as any failure does.
using EngineRefusalHook = void (*)(const char* reason);

void SetEngineRefusalHook(EngineRefusalHook hook); // null removes it
void RefuseEngineWork(const char* reason);

// What work costs, in commands, each about the time it takes. A node visited (reached, tested,
// its method looked up) takes some 32 commands' time; memory filled, copied or compared a command
// per 16 bytes; a byte inflated or parsed into a scene about one; a file written costs its syncs
// to the disk, whatever its size, and a command per byte.
inline constexpr uint64_t StepsPerNodeVisited = 32;
inline constexpr uint64_t BytesScannedPerStep = 16;
inline constexpr uint64_t StepsPerFileWritten = 65536;

inline void ChargeNodesVisited(uint64_t nodes) {
    ChargeEngineWork(nodes * StepsPerNodeVisited);
}
inline void ChargeBytesScanned(uint64_t bytes) {
    ChargeEngineWork(bytes / BytesScannedPerStep);
}
inline void ChargeBytesDecoded(uint64_t bytes) {
    ChargeEngineWork(bytes);
}
inline void ChargeFileWritten(uint64_t bytes) {
    ChargeEngineWork(StepsPerFileWritten + bytes);
}

// What the disk's file system costs besides. A path the kernel resolves to open or look at a
// file takes a few system calls, some 8 microseconds; a folder read takes one such look and an
// entry read a node's time (a name that is not there exactly reads its whole folder, to match it
// without case); a file or folder made, removed or renamed takes the journal's work, some 64
// microseconds.
inline constexpr uint64_t StepsPerPathResolved = 512;
inline constexpr uint64_t StepsPerEntryRead = 32;
inline constexpr uint64_t StepsPerFileMade = 4096;

inline void ChargePathResolved() {
    ChargeEngineWork(StepsPerPathResolved);
}
inline void ChargeFolderRead(uint64_t entries) {
    ChargeEngineWork(StepsPerPathResolved + entries * StepsPerEntryRead);
}
inline void ChargeFileMade() {
    ChargeEngineWork(StepsPerFileMade);
}

// An element of the game's own data passed over in a search (a mesh's triangle tested against a
// ray, a table's record compared) takes about a command's time.
inline void ChargeElementsPassed(uint64_t elements) {
    ChargeEngineWork(elements);
}

// A call that blocks (a page fetch waiting on its server) works little but holds the frame all
// the same: a second waited costs a sixteenth of the step limit, so a run waits some 16 s in all
// and one fetch at its longest (10 s) still leaves the run most of its budget.
inline constexpr uint64_t StepsPerSecondWaited = 6250000;
inline void ChargeMicrosecondsWaited(uint64_t microseconds) {
    ChargeEngineWork(microseconds * (StepsPerSecondWaited / 1000) / 1000);
}

} // namespace quarn
