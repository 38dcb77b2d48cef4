#include "platform/platform_paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace PlatformPaths {

std::string home() {
    const char* env = std::getenv("HOME");
    if (env && *env) return env;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

std::string configHome() {
    const char* env = std::getenv("XDG_CONFIG_HOME");
    if (env && env[0] == '/') return env;
    return home() + "/.config";
}

std::string runUserRoot() {
    const char* env = std::getenv("KESTRO_AGENT_RUN_USER_DIR");
    if (env && env[0] == '/') return env;
    return "/run/user";
}

std::string runtimeDir(const std::string& fallback) {
    const uid_t uid = ::getuid();
    const std::string folder = runUserRoot() + "/" + std::to_string(uid);
    // lstat: a link planted there by someone else must not move our lock.
    struct stat st {};
    if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid) return folder;
    return fallback;
}

std::string executablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) break;
        if (static_cast<size_t>(n) < buffer.size())
            return agentExecutableFor(std::string(buffer.data(), static_cast<size_t>(n)));
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

std::string agentExecutableFor(const std::string& running) {
    auto slash = running.find_last_of('/');
    std::string name = slash == std::string::npos ? running : running.substr(slash + 1);
    if (name != kGuiExecutableName) return running;
    return running.substr(0, slash == std::string::npos ? 0 : slash + 1) + "kestro-agent";
}

std::string bundlePath(const std::string& executable) {
    auto slash = executable.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : executable.substr(0, slash));
    for (std::string candidate = folder; candidate.size() > 1;) {
        if (candidate.size() > 4 && candidate.ends_with(".app")) return candidate;
        auto up = candidate.find_last_of('/');
        if (up == std::string::npos || up == 0) break;
        candidate.resize(up);
    }
    return folder;
}

}  // namespace PlatformPaths
