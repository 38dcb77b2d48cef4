#include "running_programs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

// The processes for which `matches` holds, given their folder in /proc.
std::vector<pid_t> processesWhere(const std::function<bool(const fs::path& proc)>& matches) {
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        if (matches(entry.path())) found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    return found;
}

}  // namespace

std::vector<pid_t> processesRunning(const std::string& path) {
    std::error_code ec;
    const std::string wanted = fs::weakly_canonical(path, ec).string();
    return processesWhere([&](const fs::path& proc) {
        std::error_code linkError;
        fs::path exe = fs::read_symlink(proc / "exe", linkError);
        return !linkError && exe.string() == wanted;
    });
}

std::vector<pid_t> processesOfHome(const std::string& file, const std::string& home) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return {};
    const std::string homeEntry = "HOME=" + home + '\0';
    return processesWhere([&](const fs::path& proc) {
        struct stat exe {};
        if (::stat((proc / "exe").c_str(), &exe) != 0) return false;
        if (exe.st_ino != wanted.st_ino || exe.st_dev != wanted.st_dev) return false;
        std::ifstream in(proc / "environ", std::ios::binary);
        std::stringstream environ;
        environ << in.rdbuf();
        return environ.str().find(homeEntry) != std::string::npos;
    });
}

namespace {

bool alive(pid_t pid) { return ::kill(pid, 0) == 0; }

bool waitGone(const std::vector<pid_t>& pids, std::chrono::milliseconds grace) {
    auto deadline = std::chrono::steady_clock::now() + grace;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::none_of(pids.begin(), pids.end(), alive)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::none_of(pids.begin(), pids.end(), alive);
}

}  // namespace

void endProcesses(const std::vector<pid_t>& pids, std::chrono::milliseconds grace) {
    for (pid_t pid : pids) ::kill(pid, SIGTERM);
    if (waitGone(pids, grace)) return;
    for (pid_t pid : pids) ::kill(pid, SIGKILL);
    waitGone(pids, grace);
}

bool anyNamed(const std::vector<std::string>& libs, const std::string& prefix) {
    return std::any_of(libs.begin(), libs.end(), [&](const std::string& lib) { return lib.starts_with(prefix); });
}

std::vector<std::string> mappedLibraries(pid_t pid) {
    std::vector<std::string> libs;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        auto slash = line.find('/');
        if (slash == std::string::npos) continue;
        std::string file = line.substr(slash);
        std::string base = fs::path(file).filename().string();
        if (base.find(".so") == std::string::npos) continue;
        if (std::find(libs.begin(), libs.end(), base) == libs.end()) libs.push_back(base);
    }
    return libs;
}
