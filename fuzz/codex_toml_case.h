#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

// One trial of the Codex file editing, decoded from fuzz input: the user's
// own text (the front of the input), the agent's tables slipped in at some of
// its table boundaries, the executable path to write, and the text the
// assistant writer would produce: the agent's tables removed (with an older
// "kestro" entry naming this application), the agent's entry appended.
//
// Shared by the fuzz target, which checks the result line by line, and by the
// dump tool whose output Python's tomllib reads (check_codex_toml.py).
struct CodexTomlCase {
    std::string user;    // the user's text
    std::string before;  // the text as the writer finds it
    std::string exe;
    // The user's text is clear of anything the writer may take away: no
    // "kestro" anywhere, no escape that could spell it in a quoted key. Every
    // line of it must then come through unchanged.
    bool userIsForeign = false;
    // Nothing when the writer refuses the text (a value left open at its end,
    // mcp_servers given as one inline value).
    std::optional<std::string> after;

    static CodexTomlCase from(const uint8_t* data, size_t size);

    // What the writer makes of `text`; nothing when it refuses it.
    static std::optional<std::string> edited(const std::string& text, const std::string& exe);
};
