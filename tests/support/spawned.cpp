#include "spawned.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <thread>

#include "agent_process.h"

extern char** environ;

namespace {

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& env) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string key = entry.substr(0, entry.find('='));
        if (!env.count(key)) out.push_back(entry);
    }
    for (const auto& [k, v] : env)
        if (v != kUnsetVariable) out.push_back(k + "=" + v);
    return out;
}

}  // namespace

Spawned::Spawned(std::vector<std::string> argv, const std::map<std::string, std::string>& env, const std::string& log,
                 int keepFd) {
    std::vector<std::string> envStrings = environmentWith(env);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid == 0) {
        int in = ::open("/dev/null", O_RDONLY);
        int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(out, 2);
        if (keepFd >= 0) ::dup2(keepFd, 3);
        ::execve(args[0], args.data(), envp.data());
        ::_exit(127);
    }
}

Spawned::~Spawned() { stop(); }

bool Spawned::running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
        m_pid = -1;
        return false;
    }
    return true;
}

void Spawned::stop(std::chrono::milliseconds grace) {
    if (!running()) return;
    ::kill(m_pid, SIGTERM);
    for (int signal : {0, SIGKILL}) {
        if (signal) ::kill(m_pid, signal);
        auto deadline = std::chrono::steady_clock::now() + grace;
        while (std::chrono::steady_clock::now() < deadline) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

std::optional<std::string> findProgram(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (size_t start = 0; start <= dirs.size();) {
        size_t colon = dirs.find(':', start);
        if (colon == std::string::npos) colon = dirs.size();
        std::string candidate = dirs.substr(start, colon - start) + "/" + program;
        if (colon > start && ::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = colon + 1;
    }
    return std::nullopt;
}

std::optional<std::string> runCommand(const std::vector<std::string>& argv,
                                      const std::map<std::string, std::string>& env,
                                      std::chrono::milliseconds timeout) {
    if (argv.empty()) return std::nullopt;
    std::string program = argv[0];
    if (program.find('/') == std::string::npos) {
        auto found = findProgram(program);
        if (!found) return std::nullopt;
        program = *found;
    }
    AgentProcess child(std::vector<std::string>(argv.begin() + 1, argv.end()), env, program);
    int status = child.finish(timeout);
    if (status != 0) return std::nullopt;
    return child.pendingStdout();
}
