#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// Processes of this user whose executable is `path` (as /proc/PID/exe names
// it), for tests that start a program which detaches itself and must end it
// afterwards, by PID.
std::vector<pid_t> processesRunning(const std::string& path);

// Processes running the very file `file` (the same inode, wherever it is
// mounted or seen from) with `home` as their HOME: those a test started,
// even through a detached launch or in another mount namespace.
std::vector<pid_t> processesOfHome(const std::string& file, const std::string& home);

// Sends SIGTERM to each of `pids`, then SIGKILL to any still there after
// `grace`. Returns once they are gone or the grace has run out twice.
void endProcesses(const std::vector<pid_t>& pids, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

// The names of the shared objects mapped into process `pid` (from /proc/PID/maps).
std::vector<std::string> mappedLibraries(pid_t pid);

// Whether one of `libs` is named with `prefix` ("libQt", "libcurl").
bool anyNamed(const std::vector<std::string>& libs, const std::string& prefix);
