// quarn-tool lcp's problem text, read and solved. A text that is no problem fails with a reason;
// one that is prints a line per row and the failed steps, 0 to 2.
#include "tools/LcpTool.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string out;
    std::string reason;
    if (!quarn::SolveLcpText("in", std::string_view(reinterpret_cast<const char*>(data), size), out,
                             reason)) {
        if (reason.empty()) {
            std::abort();
        }
        return 0;
    }
    const size_t last = out.rfind('\n', out.size() - 2);
    const std::string_view failures = std::string_view(out).substr(last + 1);
    if (std::count(out.begin(), out.end(), '\n') < 2 ||
        (failures != "failures 0\n" && failures != "failures 1\n" && failures != "failures 2\n")) {
        std::abort();
    }
    return 0;
}
