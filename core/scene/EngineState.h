#pragma once

#include <cstdint>

namespace quarn {

// What the application is doing, as the core reads it.
enum EngineStateValue : int32_t {
    EngineRunning = 0,
    EngineLoading = 2,        // a scene or node tree is being read
    EngineReplacingClass = 3, // a node is being replaced by one of another class
    EngineLoadBranchesNow = 4,
    EngineScriptWritesProperty = 6, // setters and listeners run for a script's write
    EngineLoadingScene = 7,
    EngineShuttingDown = 9, // node teardown sends no notifications or "nodedeletion"
};

// Set by the application shell; the defaults are those of a program that has not started a
// game. Main thread only.
inline int32_t EngineState = EngineRunning;
inline bool GameRunning = false;
inline bool GamePaused = false;
// The editor runs (`quarn --editor`); fixed for the run.
inline bool EditorRunning = false;
// The smoothed frame time of the main loop, in seconds.
inline float FrameTime = 0.0f;
// The time step the scene update hands the nodes, in seconds: the frame time, or a multiple of it
// while the editor fast-forwards the game.
inline float GameStep = 0.0f;

// Sets the engine state word for a scope (a load, a class replacement) and restores it however
// the scope ends.
class EngineStateScope {
public:
    explicit EngineStateScope(int32_t state) : saved_(EngineState) { EngineState = state; }
    ~EngineStateScope() { EngineState = saved_; }
    EngineStateScope(const EngineStateScope&) = delete;
    EngineStateScope& operator=(const EngineStateScope&) = delete;

private:
    int32_t saved_;
};

} // namespace quarn
