#pragma once

#include <string>
#include <string_view>

namespace quarn {

// Reads a problem in the command's text form (see quarn-tool's help) and solves it: `out` gets
// the lines the command prints. False with the reason, which starts with `name`, when the text
// does not hold a problem.
bool SolveLcpText(const std::string& name, std::string_view text, std::string& out,
                  std::string& reason);

// quarn-tool's "lcp" command: solves the problem in the text file arguments[0] with the
// engine's LCP solver and prints "x w" per row and "failures K". Returns 0 when done and 1 when
// the file cannot be read or does not hold a problem (`reason` says why).
int RunLcpTool(char** arguments, std::string& reason);

} // namespace quarn
