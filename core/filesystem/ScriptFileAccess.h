#pragma once

namespace quarn {

class FileSystem;

// Games are downloaded and run, so the files their scripts name stay inside the game: its
// resource root (a folder, or an archive), the user's data folder ("user://") and the files built
// into the program ("res://"). A path leads outside when it climbs out with "..", names another
// absolute place or scheme, or passes through a link whose target lies outside, also a link that
// only the case-insensitive lookup finds and one whose target does not exist yet (a write would
// create it there). Links inside a root that stay inside it are followed as usual. The editor's
// dialogs and the tools are not scripts: they reach what the user can.

// Whether the virtual path stays inside the game of `files`.
bool IsInsideGame(const FileSystem& files, const char* path);
// The same for a native path: no scheme or base folder applies, a relative one starts at the
// working folder.
bool IsNativeInsideGame(const FileSystem& files, const char* nativePath);

// For the engine's functions and methods that scripts call with a path: IsInsideGame on the
// program's file system. A refusal logs one line naming the function and the path.
bool ScriptMayReach(const char* function, const char* path);
bool ScriptMayReachNative(const char* function, const char* nativePath);

// Whether a script's code runs now; the script machine says so for each run. The engine's
// methods that write files on their own object (MethodInfo::SetWrittenFiles) hold their targets
// to the game only then: the editor and the tools that call them keep their reach.
bool IsScriptRunning();
void SetScriptRunning(bool running);

} // namespace quarn
