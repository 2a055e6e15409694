#include "app/dialogs/DialogBackend.h"
#include "app/platform/StopSignal.h"
#include "core/string/Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace quarn {

namespace {

std::string Text(const char* text) {
    return text ? text : "";
}

// The chooser reads '|' as the end of a filter's name.
std::string FilterName(std::string name) {
    for (char& c : name) {
        if (c == '|') {
            c = ' ';
        }
    }
    return name;
}

std::string FilterPatterns(const std::string& patterns) {
    std::string result;
    size_t start = 0;
    while (start <= patterns.size()) {
        size_t end = patterns.find(';', start);
        std::string pattern = patterns.substr(start, end == std::string::npos ? end : end - start);
        if (!pattern.empty()) {
            result += (result.empty() ? "" : " ") + pattern;
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    return result;
}

std::string WithTrailingSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/') {
        folder += '/';
    }
    return folder;
}

} // namespace

std::vector<std::string> ZenityDialogs::FileDialogArguments(const char* filter, bool open,
                                                            const char* initialFolder) {
    std::vector<std::string> arguments = {"--file-selection"};
    if (!open) {
        arguments.emplace_back("--save");
        arguments.emplace_back("--confirm-overwrite");
    }
    std::string folder = Text(initialFolder);
    if (!folder.empty()) {
        arguments.push_back("--filename=" + WithTrailingSlash(folder));
    }
    for (const auto& [name, patterns] : ParseFileFilter(filter)) {
        arguments.push_back("--file-filter=" + FilterName(name) + " | " + FilterPatterns(patterns));
    }
    return arguments;
}

std::vector<std::string> ZenityDialogs::FolderArguments(const char* title,
                                                        const char* initialFolder) {
    std::vector<std::string> arguments = {"--file-selection", "--directory"};
    if (!Text(title).empty()) {
        arguments.push_back("--title=" + Text(title));
    }
    std::string folder = Text(initialFolder);
    if (!folder.empty()) {
        arguments.push_back("--filename=" + WithTrailingSlash(folder));
    }
    return arguments;
}

std::string ZenityDialogs::FileDialog(const char* filter, bool open, const char* initialFolder) {
    return Run(FileDialogArguments(filter, open, initialFolder));
}

std::string ZenityDialogs::BrowseForFolder(const char* title, const char* initialFolder) {
    std::string folder = Run(FolderArguments(title, initialFolder));
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    return folder;
}

std::string ZenityDialogs::Run(std::vector<std::string> arguments) {
    std::string line;
    return Run(std::move(arguments), line) ? line : std::string();
}

bool ZenityDialogs::EnterString(const char* caption, const char* initial, std::string& entered) {
    return Run(EntryArguments(caption, initial), entered);
}

std::vector<std::string> ZenityDialogs::EntryArguments(const char* caption, const char* initial) {
    return {"--entry", "--title=Enter string", "--text=" + Text(caption),
            "--entry-text=" + Text(initial)};
}

bool ZenityDialogs::Run(std::vector<std::string> arguments, std::string& line) {
    arguments.insert(arguments.begin(), program_);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t child = 0;
    int failure = posix_spawnp(&child, program_.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    missing_.clear();
    if (failure != 0) {
        close(pipeEnds[0]);
        missing_ = StringFormat("File and folder dialogs need the program \"%s\", which could not "
                                "be started: %s. Install it (scripts/install-deps does).",
                                program_.c_str(), std::strerror(failure));
        return false;
    }

    EndDialogProcessOnStop(child);
    std::string output;
    char buffer[512];
    for (;;) {
        ssize_t count = read(pipeEnds[0], buffer, sizeof(buffer));
        if (count > 0) {
            output.append(buffer, static_cast<size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    close(pipeEnds[0]);
    // Waited for without being reaped, so that its id stays its own until it is forgotten.
    siginfo_t ended = {};
    while (waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    ForgetDialogProcess();
    int status = 0;
    pid_t waited;
    while ((waited = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
    }
    if (waited != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return false; // cancelled, closed or failed
    }
    size_t lineEnd = output.find('\n');
    if (lineEnd != std::string::npos) {
        output.resize(lineEnd);
    }
    line = std::move(output);
    return true;
}

} // namespace quarn
