#include "platform/detached_launch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace DetachedLaunch {

bool start(const std::vector<std::string>& argv) { return startAfter(argv, std::chrono::milliseconds(0)); }

namespace {

timespec asTimespec(std::chrono::milliseconds d) {
    return timespec{static_cast<time_t>(d.count() / 1000), static_cast<long>(d.count() % 1000) * 1000000L};
}

// In the grandchild: standard streams on /dev/null, then the program.
[[noreturn]] void execQuietly(char** args, const timespec& delay) {
    int devnull = ::open("/dev/null", O_RDWR);
    if (devnull >= 0) {
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(devnull, 2);
        if (devnull > 2) ::close(devnull);
    }
    // nanosleep is async-signal-safe; a signal cutting it short only
    // shortens the wait.
    if (delay.tv_sec > 0 || delay.tv_nsec > 0) ::nanosleep(&delay, nullptr);
    ::execv(args[0], args);
    ::_exit(127);
}

// In the intermediate child: what it ends with tells the caller how the
// program fared in its first `watch` (0: still running, or ended well).
[[noreturn]] void watchThenLeave(pid_t grandchild, std::chrono::milliseconds watch) {
    const timespec step = asTimespec(std::chrono::milliseconds(20));
    for (auto waited = std::chrono::milliseconds(0); waited < watch; waited += std::chrono::milliseconds(20)) {
        int status = 0;
        if (::waitpid(grandchild, &status, WNOHANG) == grandchild)
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
        ::nanosleep(&step, nullptr);
    }
    ::_exit(0);
}

// The double fork of every launch. `watch` zero: the intermediate child
// leaves at once; otherwise it watches the program that long.
bool launch(const std::vector<std::string>& argv, std::chrono::milliseconds delay, std::chrono::milliseconds watch) {
    if (argv.empty()) return false;
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    const timespec wait = asTimespec(delay);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild == 0) execQuietly(args.data(), wait);
        if (grandchild < 0) ::_exit(1);
        if (watch.count() == 0) ::_exit(0);
        watchThenLeave(grandchild, watch);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

bool startAfter(const std::vector<std::string>& argv, std::chrono::milliseconds delay) {
    return launch(argv, delay, std::chrono::milliseconds(0));
}

bool startWatched(const std::vector<std::string>& argv, std::chrono::milliseconds watch) {
    return launch(argv, std::chrono::milliseconds(0), watch);
}

}  // namespace DetachedLaunch
