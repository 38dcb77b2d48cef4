#include "platform/detached_launch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace DetachedLaunch {

bool start(const std::vector<std::string>& argv) { return startAfter(argv, std::chrono::milliseconds(0)); }

bool startAfter(const std::vector<std::string>& argv, std::chrono::milliseconds delay) {
    if (argv.empty()) return false;
    timespec wait{static_cast<time_t>(delay.count() / 1000), static_cast<long>(delay.count() % 1000) * 1000000L};
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0) return false;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) ::_exit(grandchild < 0 ? 1 : 0);
        int devnull = ::open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            ::dup2(devnull, 0);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            if (devnull > 2) ::close(devnull);
        }
        // nanosleep is async-signal-safe; a signal cutting it short only
        // shortens the wait.
        if (delay.count() > 0) ::nanosleep(&wait, nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace DetachedLaunch
