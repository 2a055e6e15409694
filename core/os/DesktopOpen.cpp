#include "core/os/DesktopOpen.h"

#include <cerrno>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace quarn {

bool OpenWithDesktop(const char* nativePath) {
    if (!nativePath) {
        return false;
    }
    char program[] = "xdg-open";
    std::string path = nativePath;
    char* argv[] = {program, path.data(), nullptr};
    pid_t child = 0;
    if (posix_spawnp(&child, program, nullptr, nullptr, argv, environ) != 0) {
        return false;
    }
    // The opener may stay until the editor it started closes; its exit is collected aside so
    // the frame does not wait and no zombie stays.
    std::thread([child] {
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace quarn
