#pragma once

#include <string>

namespace quarn {

// quarn-tool's "lcp" command: solves the problem in the text file arguments[0] with the
// engine's LCP solver and prints "x w" per row and "failures K". Returns 0 when done and 1 when
// the file cannot be read or does not hold a problem (`reason` says why).
int RunLcpTool(char** arguments, std::string& reason);

} // namespace quarn
