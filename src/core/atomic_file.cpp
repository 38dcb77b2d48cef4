#include "core/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace AtomicFile {
namespace {

constexpr std::string_view kTemporaryMarker = ".kestro-tmp.";
constexpr size_t kRandomChars = 6;  // mkostemp's "XXXXXX"

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

bool isAlnum(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

// Exactly the names mkostemp gives from our template: a user's own file that
// merely starts the same way is never taken for one of ours.
bool isTemporaryName(std::string_view name, std::string_view prefix) {
    if (!name.starts_with(prefix) || name.size() != prefix.size() + kRandomChars) return false;
    for (char c : name.substr(prefix.size()))
        if (!isAlnum(c)) return false;
    return true;
}

// A temporary file created for one write, locked for as long as that write
// runs. On a file system without flock it stays unlocked, and since no sweeper
// can lock it there either, none ever removes it.
struct HeldTemporary {
    int fd = -1;
    std::string name;
};

// Between mkostemp and flock a sweeper in another process may find the new
// file unlocked and remove it; the name then no longer leads to our file, and
// a fresh one is made. Once locked and still named, it is ours until closed.
std::optional<HeldTemporary> createTemporary(const std::string& owner) {
    std::string templ = temporaryPrefix(owner) + std::string(kRandomChars, 'X');
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return std::nullopt;
        bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno == EWOULDBLOCK) {  // a sweeper holds it and is removing it
            ::close(fd);
            continue;
        }
        struct stat mine {}, named {};
        if (::fstat(fd, &mine) == 0 && ::lstat(name.data(), &named) == 0 && sameFile(mine, named))
            return HeldTemporary{fd, name.data()};
        ::close(fd);
    }
    return std::nullopt;
}

// Removes the temporary `name` of the folder `dirFd` when no process holds
// its lock: its writer is dead, since a writer keeps the lock until its file
// has been renamed or linked away.
void removeIfStale(int dirFd, const char* name) {
    int fd = ::openat(dirFd, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return;
    struct stat held {}, named {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(held, named))
        ::unlinkat(dirFd, name, 0);
    ::close(fd);
}

// link(2) never replaces an existing name. Some file systems have no hard
// links; there an exclusive rename does the same.
bool linkWithoutReplacing(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return false;
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0;
}

}  // namespace

std::string temporaryPrefix(const std::string& path) {
    std::string dir = parentOf(path);
    return (dir == "/" ? "" : dir) + "/." + nameOf(path) + std::string(kTemporaryMarker);
}

void removeStaleTemporaries(const std::string& path) {
    DIR* dir = ::opendir(parentOf(path).c_str());
    if (!dir) return;
    std::string prefix = "." + nameOf(path) + std::string(kTemporaryMarker);
    while (const dirent* entry = ::readdir(dir))
        if (isTemporaryName(entry->d_name, prefix)) removeIfStale(::dirfd(dir), entry->d_name);
    ::closedir(dir);
}

bool write(const std::string& path, const std::string& bytes, mode_t mode) {
    removeStaleTemporaries(path);
    auto temporary = createTemporary(path);
    if (!temporary) return false;
    // The file is created 0600; fchmod narrows or widens to `mode` before any
    // content exists.
    bool ok = ::fchmod(temporary->fd, mode) == 0 && writeAll(temporary->fd, bytes) && ::fsync(temporary->fd) == 0;
    // Renamed while still locked: once unlocked under its temporary name it
    // would look like a dead writer's file to a sweeper.
    ok = ok && ::rename(temporary->name.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temporary->name.c_str());
    ::close(temporary->fd);
    return ok;
}

bool writeNew(const std::string& path, const std::string& bytes, mode_t mode, const std::string& temporariesOf) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) return false;  // spares writing a copy that cannot be linked
    const std::string& owner = temporariesOf.empty() ? path : temporariesOf;
    removeStaleTemporaries(owner);
    auto temporary = createTemporary(owner);
    if (!temporary) return false;
    bool ok = ::fchmod(temporary->fd, mode) == 0 && writeAll(temporary->fd, bytes) && ::fsync(temporary->fd) == 0 &&
              linkWithoutReplacing(temporary->name, path);
    ::unlink(temporary->name.c_str());
    ::close(temporary->fd);
    return ok;
}

std::optional<std::string> read(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return std::nullopt;
    }
    std::string content;
    content.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return content;
}

bool makeDirs(const std::string& dir, mode_t mode) {
    if (dir.empty()) return false;
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::string parent = parentOf(dir);
    if (parent != dir && !makeDirs(parent, mode)) return false;
    if (::mkdir(dir.c_str(), mode) != 0 && errno != EEXIST) return false;
    // mkdir honours the umask; the folder must end with exactly `mode`.
    ::chmod(dir.c_str(), mode);
    return true;
}

}  // namespace AtomicFile
