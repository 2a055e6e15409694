#pragma once

#include <chrono>
#include <string>

namespace quarn {

// The calls of one frame that wait on the outside (a page fetch on its server, a settings save on
// another process's lock) share one bound: together they wait at most FrameWaitBound, whatever
// number of nodes and scripts make them. Each asks how long it may still wait, waits no longer
// and reports what it waited, which is charged to the running script as well; once the frame's
// waits reached the bound every such call fails at once, until the next frame begins. Main
// thread only.
inline constexpr std::chrono::milliseconds FrameWaitBound{10000};

// A new frame of the scene update: its waits start afresh.
void BeginFrameWaits();
// What the frame may still wait; zero once its waits reached the bound.
std::chrono::microseconds FrameWaitLeft();
// The frame waited `waited`: counted against the bound and charged to the running script.
void CountFrameWait(std::chrono::microseconds waited);
// Whether the frame's waits reached the bound. `tell` is set for the first call of a frame that
// finds them so, whose caller says once what fails until the next frame.
bool FrameWaitsSpent(bool& tell);
// "the calls of this frame have waited 10 s, the most a frame waits"
std::string FrameWaitsSpentText();

// The bound in force; tests lower it, and zero gives back FrameWaitBound.
std::chrono::milliseconds GetFrameWaitBound();
void SetFrameWaitBound(std::chrono::milliseconds bound);

} // namespace quarn
