#include "clients/config_file_text.h"

#include "core/unicode_text.h"

#include <sys/stat.h>
#include <unicode/utf8.h>

#include <cerrno>
#include <climits>
#include <cstdint>

#include "core/atomic_file.h"

ConfigFileText ConfigFileText::read(const std::string& path) {
    ConfigFileText result;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.state = errno == ENOENT ? State::missing : State::unreadable;
        result.error = errno;
        return result;
    }
    result.mode = st.st_mode & 07777;
    if (!S_ISREG(st.st_mode)) {
        result.state = State::unreadable;
        result.error = EISDIR;
        return result;
    }
    if (static_cast<uintmax_t>(st.st_size) > kMaxBytes) {
        result.state = State::tooLarge;
        return result;
    }
    errno = 0;
    auto bytes = AtomicFile::read(path);
    if (!bytes) {
        result.state = State::unreadable;
        result.error = errno ? errno : EIO;
        return result;
    }
    // The file may have grown between the size check and the read.
    if (bytes->size() > kMaxBytes) {
        result.state = State::tooLarge;
        return result;
    }
    if (!UnicodeText::isUtf8(*bytes)) {
        result.state = State::notUtf8;
        return result;
    }
    result.state = State::ok;
    result.text = std::move(*bytes);
    return result;
}
