#pragma once

#include <sys/types.h>

#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "config/agent_config.h"
#include "platform/folder_watch.h"

// The configuration file as the tray application last wrote it, for a server
// that must see a login or a logout at its very next message, however many
// messages come in a second. The file is parsed again only when it may have
// changed: a stat that finds the same inode, size, modification and change
// times (nanoseconds included) as at the last parse proves it has not,
// provided the times were already in the past when it was parsed, since the
// clock that stamps files moves in steps and a change within the same step
// would carry the same times. While the kernel watches the folder and reports
// nothing in it, even the stat is spared.
class ConfigFollower {
  public:
    // `now` reads the wall clock that file times are compared with; tests
    // give their own.
    using Clock = std::function<timespec()>;
    explicit ConfigFollower(std::string path, Clock now = {});

    // The record the file now holds when it may differ from the one last
    // returned (always at the first call); nothing when it provably does not.
    std::optional<AgentConfig> changed();

    // How many times the file has been parsed; for tests and benchmarks.
    size_t parses() const { return m_parses; }

  private:
    struct Identity {
        bool present = false;
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        timespec modified{};
        timespec changed{};
        bool operator==(const Identity& other) const;
    };

    std::string m_path;
    Clock m_now;
    FolderWatch m_folder;
    std::optional<Identity> m_proven;  // of the file last parsed, once settled
    size_t m_parses = 0;
};
