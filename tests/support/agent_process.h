#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Runs a real program (by default the built kestro-agent) as a child with pipes
// on its three standard streams, the way an assistant runs the agent. Every
// wait is bounded; the destructor kills a child that is still running.
// As the value of a variable given to AgentProcess: the child does not inherit it.
inline constexpr const char* kUnsetVariable = "\x01unset";

class AgentProcess {
public:
    using Ms = std::chrono::milliseconds;

    // The built agent, from $KESTRO_AGENT_BIN.
    static std::string agentBinary();
    // Whether the tray application's program was built beside it (a build
    // without Qt, or the sanitizer stage without the GUI, has none).
    static bool guiProgramBuilt();

    explicit AgentProcess(std::vector<std::string> args, std::map<std::string, std::string> env = {},
                          std::string program = agentBinary());
    ~AgentProcess();
    AgentProcess(const AgentProcess&) = delete;
    AgentProcess& operator=(const AgentProcess&) = delete;

    void write(const std::string& bytes);
    void writeLine(const std::string& line) { write(line + "\n"); }
    void closeStdin();
    void closeStdoutReader();  // as an assistant that stops reading our replies

    // The next line of standard output, without its line feed; nothing on
    // end of output or time-out.
    std::optional<std::string> readLine(Ms timeout = Ms(10000));

    // Closes stdin, then collects all remaining output until the child exits.
    // Returns its exit status (-1 on time-out or death by a signal).
    int finish(Ms timeout = Ms(20000));

    const std::string& pendingStdout() const { return m_out; }
    const std::string& stderrText() const { return m_err; }
    pid_t pid() const { return m_pid; }

private:
    bool pump(Ms timeout);  // reads what is available; false when both streams ended
    int waitExit(Ms timeout);

    pid_t m_pid = -1;
    int m_stdin = -1, m_stdout = -1, m_stderr = -1;
    std::string m_out, m_err;
    int m_status = -2;
};

// Runs a whole MCP session: every line written, stdin closed, output collected.
struct McpSession {
    std::vector<std::string> replies;  // stdout lines
    std::string stderrText;
    int exitStatus;
};
McpSession runMcpSession(const std::vector<std::string>& lines, std::map<std::string, std::string> env = {});
