#include "app/platform/StopSignal.h"

#include "core/filesystem/FileOutputStream.h"

#include <SDL.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <semaphore.h>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace quarn {

namespace {

// Each asks the program to end; at their default actions SIGHUP (a closed terminal) and
// SIGQUIT would end it in the middle of whatever it writes.
constexpr int StopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

std::atomic<bool> stopRequested{false};
std::atomic<int> endingStatus{0};
std::atomic<void (*)()> lastWords{nullptr};
// Held while the last words run, and by the program's own end, which forgets them before the
// objects they read are destroyed.
std::mutex wordsMutex;
// Posted by the handler (sem_post is safe there), waited on by the watch.
sem_t signalled;
std::mutex dialogMutex;
pid_t dialogProcess = 0;
std::atomic<bool> boxShown{false};
// The process that forks, as the forked one sees it.
pid_t forkingProcess = 0;

void OnStopSignal(int) {
    const int saved = errno;
    // At once, not on the watch's thread: a write the main thread is about to finish must not
    // replace its file after the stop was asked for.
    EndWrites();
    if (!stopRequested.exchange(true)) {
        sem_post(&signalled);
    }
    errno = saved;
}

void EndDialogProcess() {
    const std::lock_guard<std::mutex> lock(dialogMutex);
    if (dialogProcess > 0) {
        kill(dialogProcess, SIGTERM);
    }
}

// The forking thread's mask before the fork, restored on both sides after it.
thread_local sigset_t maskBeforeFork;

// A stop signal sent to a box before it has left our handler would be caught by the box's copy
// of it and lost, the box staying on screen: both sides hold stop signals until they are ready.
void BeforeFork() {
    forkingProcess = getpid();
    sigset_t stops;
    sigemptyset(&stops);
    for (int signal : StopSignals) {
        sigaddset(&stops, signal);
    }
    pthread_sigmask(SIG_BLOCK, &stops, &maskBeforeFork);
}

void AfterForkInProgram() {
    pthread_sigmask(SIG_SETMASK, &maskBeforeFork, nullptr);
}

// Only calls that are safe in a child of a threaded process. The death signal follows the
// thread that forked, which for a dialog is the main thread: the program's end.
void InForkedChild() {
    if (boxShown.load()) {
        for (int stop : StopSignals) {
            signal(stop, SIG_DFL);
        }
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != forkingProcess) {
            _exit(0); // the program ended before the death signal was asked for
        }
    }
    pthread_sigmask(SIG_SETMASK, &maskBeforeFork, nullptr);
}

void EndWhenNotEnded() {
    while (sem_wait(&signalled) != 0) {
    }
    EndDialogProcess();
    // A main loop waiting for input (a minimised window) wakes to see the request.
    SDL_Event wake = {};
    wake.type = SDL_USEREVENT;
    SDL_PushEvent(&wake);
    std::this_thread::sleep_for(std::chrono::duration<double>(StopGraceSeconds));
    RemoveUnfinishedTemporaries();
    // What the game printed goes out, unless the main thread is in the middle of printing.
    if (ftrylockfile(stdout) == 0) {
        fflush(stdout);
    }
    {
        const std::lock_guard<std::mutex> lock(wordsMutex);
        if (void (*words)() = lastWords.load()) {
            words();
        }
    }
    _exit(endingStatus.load());
}

// A program that ends by itself after a signal may take longer than the grace to do so (a
// leak check, a busy machine): its words go with it, not after what they read is destroyed.
void ForgetLastWords() {
    const std::lock_guard<std::mutex> lock(wordsMutex);
    lastWords = nullptr;
}

} // namespace

void WatchStopSignals() {
    // Once: a second watch would wait on a semaphore made again under the first one.
    static std::once_flag watching;
    std::call_once(watching, [] {
        sem_init(&signalled, 0, 0);
        pthread_atfork(BeforeFork, AfterForkInProgram, InForkedChild);
        std::atexit(ForgetLastWords);
        std::thread(EndWhenNotEnded).detach();
    });
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // Reads and waits of the main thread go on; the request is seen where it is looked for.
    action.sa_flags = SA_RESTART;
    for (int signal : StopSignals) {
        // One the process was started to ignore (SIGINT in a shell's background job, SIGHUP
        // under nohup) stays so.
        struct sigaction before = {};
        if (sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

void SetStopEnding(int status, void (*words)()) {
    endingStatus = status;
    lastWords = words;
}

bool StopRequested() {
    return stopRequested.load(std::memory_order_relaxed);
}

ForkedBoxScope::ForkedBoxScope() {
    boxShown = true;
}

ForkedBoxScope::~ForkedBoxScope() {
    boxShown = false;
}

void EndDialogProcessOnStop(pid_t process) {
    {
        const std::lock_guard<std::mutex> lock(dialogMutex);
        dialogProcess = process;
    }
    // A signal that came before the dialog opened ends it too.
    if (StopRequested()) {
        EndDialogProcess();
    }
}

void ForgetDialogProcess() {
    const std::lock_guard<std::mutex> lock(dialogMutex);
    dialogProcess = 0;
}

} // namespace quarn
