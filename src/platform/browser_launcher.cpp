#include "platform/browser_launcher.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/detached_launch.h"

namespace BrowserLauncher {

std::string findProgram(const std::string& name, const std::string& path) {
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = path.find(':', begin);
        if (end == std::string::npos) end = path.size();
        std::string folder = path.substr(begin, end - begin);
        // An empty entry would mean the working folder: never run a program
        // from wherever we happen to stand.
        if (!folder.empty() && folder.front() == '/') {
            std::string candidate = folder + "/" + name;
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        }
        begin = end + 1;
    }
    return "";
}

bool open(const std::string& url) {
    const char* path = std::getenv("PATH");
    std::string program = findProgram("xdg-open", path ? path : "/usr/local/bin:/usr/bin:/bin");
    if (program.empty()) return false;
    // xdg-open reports an opener it could not run (no browser, an unknown
    // desktop: exit 3 or 4) at once, but with a browser it may wait for it
    // to close: still running after a moment means a browser is up.
    return DetachedLaunch::startWatched({program, url}, kOpenerWatch);
}

}  // namespace BrowserLauncher
