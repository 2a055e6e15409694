#include "tools/HttpGetTool.h"

#include "app/player/Engine.h"
#include "script/nodes/Network.h"
#include "tools/ToolStatus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quarn {

int RunHttpGetTool(char** arguments, std::string& reason) {
    Network node;
    if (arguments[2]) {
        char* end = nullptr;
        const long port = arguments[3] ? std::strtol(arguments[3], &end, 10) : 0;
        if (std::strcmp(arguments[2], "--port") != 0 || !end || *end || port < 1 || port > 65535) {
            reason = "expected --port N with N from 1 to 65535";
            return ExitUsage;
        }
        node.SetPort(static_cast<uint16_t>(port));
    }
    LogToStandardErrorWhenAsked();
    std::string body;
    if (!node.Fetch(arguments[0], arguments[1], body)) {
        reason = node.GetFailure().empty() ? "no page" : node.GetFailure();
        return ExitFailed;
    }
    if (std::fwrite(body.data(), 1, body.size(), stdout) != body.size() ||
        std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
