#include "running_programs.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

std::vector<pid_t> processesRunning(const std::string& path) {
    std::vector<pid_t> found;
    std::error_code ec;
    std::string wanted = fs::weakly_canonical(path, ec).string();
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        std::error_code linkError;
        fs::path exe = fs::read_symlink(entry.path() / "exe", linkError);
        if (linkError) continue;
        if (exe.string() == wanted) found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    return found;
}

std::vector<pid_t> processesOfHome(const std::string& file, const std::string& home) {
    struct stat wanted {};
    if (::stat(file.c_str(), &wanted) != 0) return {};
    const std::string homeEntry = "HOME=" + home + '\0';
    std::vector<pid_t> found;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
        struct stat exe {};
        if (::stat((entry.path() / "exe").c_str(), &exe) != 0) continue;
        if (exe.st_ino != wanted.st_ino || exe.st_dev != wanted.st_dev) continue;
        std::ifstream in(entry.path() / "environ", std::ios::binary);
        std::stringstream environ;
        environ << in.rdbuf();
        if (environ.str().find(homeEntry) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::atoi(name.c_str())));
    }
    return found;
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
