#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "clients/client_app.h"
#include "platform/assistant_locations.h"

// The AI assistants the agent knows, whether each one already starts this
// executable, and the editing of their configuration files so that they start
// it ("<exe> --mcp") as the MCP server "kestro-agent", or no longer do.
//
//   configure:  read file ─ dated backup ─ drop old entries ─ add ours ─ atomic replace
//   remove:     read file ─ drop our entry ─ atomic replace (silently, never a backup)
//
// Everything in a file that is not the agent's entry is kept: byte for byte in
// TOML files, value for value in JSON files. A file that cannot be read as
// UTF-8 text is never replaced.
namespace Clients {

// The name of the agent's entry in every assistant's file.
inline constexpr const char* serverKey = "kestro-agent";

// The user's home folder, determined at first use and then kept.
const std::string& home();

// The running executable, symbolic links resolved: the command every entry names.
std::string exe();

// The catalogue for this desktop, built at first use from `home()`.
const std::vector<ClientApp>& all();

// The catalogue of `system` with its home-relative paths under `home`.
std::vector<ClientApp> catalogue(const std::string& home,
                                 AssistantLocations::System system = AssistantLocations::kCurrent);

// Whether the assistant's file holds a "kestro-agent" entry whose command is
// `exePath` (only the command is compared). Never fails: an unreadable file is no.
bool status(const ClientApp& app);
bool status(const ClientApp& app, const std::string& exePath);

// Writes the agent's entry into the assistant's file, creating its folder, and
// keeps a copy of a non-empty file as it was beside it (see backupPath).
// Throws ToolError: "config_invalid" for a file whose content cannot take the
// entry (for a Codex file that reads as TOML: one that would not read as TOML
// afterwards, or would not hold exactly our entry), "config_unreadable" for one that cannot be read as UTF-8 text,
// "config_write_failed" when the folder or the file cannot be written,
// "exe_path_invalid" when the executable's path cannot be written in a file.
void configure(const ClientApp& app);
void configure(const ClientApp& app, const std::string& exePath, std::chrono::system_clock::time_point now);

// Takes the agent's entry out of the assistant's file. Never fails, never
// creates a file, leaves older "kestro" entries alone. A Codex file that reads
// as TOML is left as it is unless it still does afterwards, without the entry.
void remove(const ClientApp& app);

// `configPath` + ".bak-kestro-" + `now` in UTC as 2026-12-08T12-13-14Z.
std::string backupPath(const std::string& configPath, std::chrono::system_clock::time_point now);

// `text` as a TOML basic string, quotes included: backslashes, quotes and
// control characters escaped, everything else as it stands.
std::string tomlString(std::string_view text);

// The table the agent appends to a Codex file, starting with a line feed.
std::string tomlEntry(const std::string& exePath);

// The body of the table "[mcp_servers.<key>]": its lines up to the next table
// header, joined with line feeds; nothing when the table is absent. A header
// may carry blanks around it, a final carriage return, quoted keys, blanks
// around the dots and a comment after it. Lines inside a multi-line string or
// array never count as headers.
std::optional<std::string> tomlBlock(std::string_view text, const std::string& key);

// How much of a server tomlRemoving takes out.
enum class TomlScope {
    // The server is gone: its table and every table whose header lies below
    // it ("[mcp_servers.<k>.…]", "[[mcp_servers.<k>.…]]"), such as the
    // approvals an assistant records per tool. A sub-table left without its
    // server is an entry without a command, which an assistant refuses.
    wholeServer,
    // Its table is about to be written again: the table and its ".env" table
    // (with anything below ".env") go; its other sub-tables, the user's
    // choices about it, stay.
    entry,
};

// `text` without the tables of every server in `keys` (each with its lines up
// to the next header), as far as `scope` says; without key/value statements
// that define those servers from the root or from "[mcp_servers]" (dotted
// keys, inline tables); and with any run of line feeds at its end reduced to
// one. Every other line is kept byte for byte.
std::string tomlRemoving(std::string_view text, const std::vector<std::string>& keys,
                         TomlScope scope = TomlScope::wholeServer);

}  // namespace Clients
