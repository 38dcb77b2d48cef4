#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

// A program a test runs in the background (a display server, a tray, the tray application), running on its own with its output in a log
// file (a tray application writes warnings nobody reads; a pipe would fill
// and block it). Ended by its PID when the object goes.
class Spawned {
public:
    // `env` entries replace or add variables; a value of "\x01unset" removes one.
    // `keepFd` is passed to the child as descriptor 3 when not -1.
    Spawned(std::vector<std::string> argv, const std::map<std::string, std::string>& env, const std::string& log,
            int keepFd = -1);
    ~Spawned();
    Spawned(const Spawned&) = delete;
    Spawned& operator=(const Spawned&) = delete;

    pid_t pid() const { return m_pid; }
    bool running();
    // SIGTERM, then SIGKILL after `grace`; waits for it.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

private:
    pid_t m_pid = -1;
};

// The absolute path of `program` found in $PATH, or nothing.
std::optional<std::string> findProgram(const std::string& program);

// Runs a short command to its end (at most `timeout`) and returns its output,
// or nothing when it failed or took too long.
std::optional<std::string> runCommand(const std::vector<std::string>& argv,
                                      const std::map<std::string, std::string>& env,
                                      std::chrono::milliseconds timeout = std::chrono::milliseconds(15000));
