#include "agent_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/platform_paths.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

void makePipe(int fds[2]) {
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

}  // namespace

std::string AgentProcess::agentBinary() {
    const char* bin = std::getenv("KESTRO_AGENT_BIN");
    return bin ? bin : KESTRO_AGENT_BIN_DEFAULT;
}

bool AgentProcess::guiProgramBuilt() {
    return std::filesystem::exists(std::filesystem::path(agentBinary()).parent_path() /
                                   PlatformPaths::kGuiExecutableName);
}

AgentProcess::AgentProcess(std::vector<std::string> args, std::map<std::string, std::string> env,
                           std::string program) {
    ::signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    makePipe(in);
    makePipe(out);
    makePipe(err);

    std::vector<std::string> envStrings;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string key = entry.substr(0, entry.find('='));
        if (!env.count(key)) envStrings.push_back(entry);
    }
    for (const auto& [k, v] : env)
        if (v != kUnsetVariable) envStrings.push_back(k + "=" + v);
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& s : argvStrings) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    m_stdin = in[1];
    ::fcntl(m_stdin, F_SETFL, O_NONBLOCK);
    m_stdout = out[0];
    m_stderr = err[0];
}

AgentProcess::~AgentProcess() {
    if (m_status == -2 && m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    for (int fd : {m_stdin, m_stdout, m_stderr})
        if (fd >= 0) ::close(fd);
}

void AgentProcess::write(const std::string& bytes) {
    // Output is drained while writing: a child blocked on a full stdout pipe
    // would otherwise never read the rest of our input.
    auto deadline = Clock::now() + Ms(60000);
    size_t done = 0;
    while (done < bytes.size() && m_stdin >= 0 && Clock::now() < deadline) {
        pollfd fds[3] = {{m_stdin, POLLOUT, 0}, {m_stdout, POLLIN, 0}, {m_stderr, POLLIN, 0}};
        if (::poll(fds, 3, 100) <= 0) continue;
        int* owned[2] = {&m_stdout, &m_stderr};
        std::string* sinks[2] = {&m_out, &m_err};
        for (int i = 0; i < 2; ++i) {
            if (*owned[i] < 0 || !(fds[i + 1].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[65536];
            ssize_t n = ::read(*owned[i], buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(*owned[i]);
                *owned[i] = -1;
            }
        }
        if (fds[0].revents & (POLLERR | POLLHUP)) return;  // the child closed its input
        if (!(fds[0].revents & POLLOUT)) continue;
        size_t chunk = std::min<size_t>(bytes.size() - done, 65536);
        ssize_t n = ::write(m_stdin, bytes.data() + done, chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void AgentProcess::closeStdin() {
    if (m_stdin >= 0) ::close(m_stdin);
    m_stdin = -1;
}

void AgentProcess::closeStdoutReader() {
    if (m_stdout >= 0) ::close(m_stdout);
    m_stdout = -1;
}

bool AgentProcess::pump(Ms timeout) {
    pollfd fds[2] = {{m_stdout, POLLIN, 0}, {m_stderr, POLLIN, 0}};
    if (m_stdout < 0 && m_stderr < 0) return false;
    int ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    if (ready <= 0) return true;
    char buffer[65536];
    int* fdsOwned[2] = {&m_stdout, &m_stderr};
    std::string* sinks[2] = {&m_out, &m_err};
    for (int i = 0; i < 2; ++i) {
        if (*fdsOwned[i] < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        ssize_t n = ::read(*fdsOwned[i], buffer, sizeof buffer);
        if (n > 0) {
            sinks[i]->append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(*fdsOwned[i]);
            *fdsOwned[i] = -1;
        }
    }
    return m_stdout >= 0 || m_stderr >= 0;
}

std::optional<std::string> AgentProcess::readLine(Ms timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto nl = m_out.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_out.substr(0, nl);
            m_out.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now());
        if (left.count() <= 0 || m_stdout < 0) return std::nullopt;
        pollfd fd{m_stdout, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[65536];
        ssize_t n = ::read(m_stdout, buffer, sizeof buffer);
        if (n > 0) {
            m_out.append(buffer, static_cast<size_t>(n));
        } else if (n == 0 || errno != EINTR) {
            ::close(m_stdout);
            m_stdout = -1;
        }
    }
}

int AgentProcess::waitExit(Ms timeout) {
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        int status = 0;
        pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return m_status;
        }
        ::usleep(2000);
    }
    return -1;
}

int AgentProcess::finish(Ms timeout) {
    closeStdin();
    auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && pump(Ms(50))) {
    }
    auto left = std::chrono::duration_cast<Ms>(deadline - Clock::now());
    return waitExit(left.count() > 0 ? left : Ms(1));
}

McpSession runMcpSession(const std::vector<std::string>& lines, std::map<std::string, std::string> env) {
    AgentProcess agent({"--mcp"}, std::move(env));
    for (const auto& line : lines) agent.writeLine(line);
    McpSession session;
    session.exitStatus = agent.finish();
    std::string out = agent.pendingStdout();
    for (size_t start = 0; start < out.size();) {
        size_t nl = out.find('\n', start);
        if (nl == std::string::npos) nl = out.size();
        session.replies.push_back(out.substr(start, nl - start));
        start = nl + 1;
    }
    session.stderrText = agent.stderrText();
    return session;
}
