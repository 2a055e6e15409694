#include "tools/HttpGetTool.h"

#include "app/player/Engine.h"
#include "core/debug/Log.h"
#include "script/nodes/Network.h"
#include "tools/ToolStatus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace quarn {

namespace {

// The fetch explains itself only in the log; with QUARN_LOG the lines also go where it says.
std::vector<std::string> logged;
LogSink echo = nullptr;

void KeepLine(const char* channel, const char* text) {
    logged.emplace_back(text ? text : "");
    if (echo) {
        echo(channel, text);
    }
}

// Why no page came: the connection's error, the reply's status line, or what the reading of
// the reply logged (no status line, no data in time).
std::string WhyNoPage(const Network& node) {
    if (*node.GetLastError()) {
        return node.GetLastError();
    }
    if (std::string status = node.GetStatusLine(); !status.empty()) {
        return status;
    }
    return logged.empty() ? "no page" : logged.front();
}

} // namespace

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
    echo = LogToStandardErrorWhenAsked() ? GetLogSink() : nullptr;
    SetLogSink(KeepLine);
    std::string body;
    const bool fetched = node.Fetch(arguments[0], arguments[1], body);
    SetLogSink(echo);
    if (!fetched) {
        reason = WhyNoPage(node);
        return ExitFailed;
    }
    // A page had in part (its body cut at the reader's bound) still prints, with the reason.
    for (size_t at = 0; !echo && at < logged.size(); ++at) {
        std::fprintf(stderr, "quarn-tool: warning: %s\n", logged[at].c_str());
    }
    if (std::fwrite(body.data(), 1, body.size(), stdout) != body.size() ||
        std::fflush(stdout) != 0) {
        reason = "cannot write to stdout";
        return ExitFailed;
    }
    return ExitDone;
}

} // namespace quarn
