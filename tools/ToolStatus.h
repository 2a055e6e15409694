#pragma once

// The exit statuses of quarn-tool, shared by its commands.

namespace quarn {

enum ToolStatus : int {
    ExitDone = 0,
    ExitFailed = 1, // one line "quarn-tool: reason" on stderr
    ExitUsage = 2,  // the reason, if any, and the command's usage line on stderr
    // render: the picture is saved, but a runtime error terminated a script on the way (its
    // report among the warnings); script run: the same, its report among the lines
    ExitScriptTerminated = 3,
};

} // namespace quarn
