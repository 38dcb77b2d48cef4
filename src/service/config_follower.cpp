#include "service/config_follower.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "config/config_store.h"
#include "core/atomic_file.h"

namespace {

// Longer than the step of the clock that stamps file times on any kernel
// configuration (at most 10 ms), with room to spare.
constexpr long kSettleNanoseconds = 100'000'000;

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

long long nanoseconds(const timespec& t) { return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec; }

}  // namespace

bool ConfigFollower::Identity::operator==(const Identity& other) const {
    if (present != other.present) return false;
    if (!present) return true;
    return device == other.device && inode == other.inode && size == other.size && sameTime(modified, other.modified) &&
           sameTime(changed, other.changed);
}

ConfigFollower::ConfigFollower(std::string path, Clock now)
    : m_path(std::move(path)), m_now(std::move(now)), m_folder(std::filesystem::path(m_path).parent_path().string()) {}

std::optional<AgentConfig> ConfigFollower::changed() {
    // Asked before the stat, so that a change made after it is reported at
    // the next message.
    bool quiet = !m_folder.mayHaveChanged();
    if (quiet && m_proven) return std::nullopt;
    timespec now{};
    if (m_now) now = m_now();
    else ::clock_gettime(CLOCK_REALTIME, &now);
    std::optional<Identity> seen;
    struct stat st {};
    if (::stat(m_path.c_str(), &st) == 0) {
        seen = Identity{.present = true,
                        .device = st.st_dev,
                        .inode = st.st_ino,
                        .size = st.st_size,
                        .modified = st.st_mtim,
                        .changed = st.st_ctim};
    } else if (errno == ENOENT) {
        seen = Identity{};  // logged out and nothing written since
    }
    // Any other failure proves nothing: the file is read as it is.
    if (seen && m_proven && *seen == *m_proven) return std::nullopt;

    auto text = AtomicFile::read(m_path);
    ++m_parses;
    AgentConfig fresh = text ? ConfigStore::decode(*text) : AgentConfig();
    // A change made after this read is stamped no earlier than one clock
    // step before now; times older than that can only belong to this content.
    bool settled = seen && (!seen->present || (nanoseconds(seen->changed) + kSettleNanoseconds < nanoseconds(now) &&
                                               nanoseconds(seen->modified) + kSettleNanoseconds < nanoseconds(now)));
    if (settled)
        m_proven = seen;
    else
        m_proven.reset();
    return fresh;
}
