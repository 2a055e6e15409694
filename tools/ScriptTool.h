#pragma once

#include <string>

namespace quarn {

// quarn-tool's "script" command: "asm IN OUT" assembles the text IN into OUT.bin and OUT.sym;
// "dis PATH" prints the program of the source path PATH (its "bin" and "sym" beside it) as
// assembler text; "run PROGRAM" runs it on a Script node; "reference" prints the script
// reference. Returns 0 when done, 1 when it failed (`reason` says why) and 2 for bad usage.
int RunScriptTool(char** arguments, std::string& reason);

} // namespace quarn
