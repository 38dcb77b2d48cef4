#include "clients/config_file_text.h"

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
    if (!isUtf8(*bytes)) {
        result.state = State::notUtf8;
        return result;
    }
    result.state = State::ok;
    result.text = std::move(*bytes);
    return result;
}

bool ConfigFileText::isUtf8(std::string_view bytes) {
    // ICU walks with 32-bit offsets; nothing that large is ever read here.
    if (bytes.size() > size_t(INT32_MAX)) return false;
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int32_t length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}
