#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

// An assistant's configuration file read whole as UTF-8 text, with enough of
// why it could not be read for the writers to refuse rather than replace a
// file they do not understand.
struct ConfigFileText {
    enum class State { ok, missing, unreadable, notUtf8, tooLarge };

    // No assistant writes a configuration file anywhere near this size; beyond
    // it the file is left alone instead of being loaded and rewritten.
    static constexpr size_t kMaxBytes = size_t(64) << 20;

    State state = State::missing;
    std::string text;    // the content when `ok`
    mode_t mode = 0600;  // the existing file's permission bits, else those a new file gets
    int error = 0;       // errno when `unreadable`

    bool ok() const { return state == State::ok; }

    // Reads `path`, following symbolic links. A missing file is `missing`,
    // never an error of its own.
    static ConfigFileText read(const std::string& path);
};
