#include <sys/stat.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "clients/clients.h"
#include "clients/config_file_text.h"
#include "clients/toml_line_scanner.h"
#include "clients/toml_servers.h"
#include "core/atomic_file.h"
#include "core/json.h"
#include "core/tool_error.h"
#include "core/unicode_text.h"

namespace Clients {
namespace {

// Older versions of the agent listed themselves as "kestro"; such an entry is
// ours to replace only when it names this application.
constexpr const char* kOldKey = "kestro";
constexpr const char* kAppName = "Kestro Agent";

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file that is really replaced: when the configuration path is a symbolic
// link (dotfiles kept in a repository), the link stays and its target is
// rewritten.
std::string writeTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved)) return resolved;
    return path;
}

// Only white space and line ends, in the Unicode sense (the text is UTF-8).
bool isBlank(std::string_view text) {
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0 || !u_isUWhiteSpace(c)) return false;
    }
    return true;
}

std::string reason(int error) { return std::strerror(error ? error : EIO); }

[[noreturn]] void refuseUnreadable(const std::string& path, const ConfigFileText& file) {
    switch (file.state) {
        case ConfigFileText::State::notUtf8:
            throw ToolError("config_unreadable", path +
                                                     " n'est pas un texte UTF-8 : l'agent ne l'a pas modifié ; "
                                                     "corrige-le ou renomme-le.");
        case ConfigFileText::State::tooLarge:
            throw ToolError("config_unreadable",
                            path + " est trop volumineux pour être modifié : l'agent ne l'a pas modifié.");
        default:
            throw ToolError("config_unreadable", path + " ne peut pas être lu (" + reason(file.error) +
                                                     ") : l'agent ne l'a pas modifié ; vérifie ses droits d'accès.");
    }
}

// A copy of the file as it was, with its permission bits (it may hold the
// user's secrets): whole or absent, even when the process dies while writing
// it, and an existing backup of the same second is kept as it is. Its
// temporary file is one of the configuration file's, so the next save of that
// file clears what a killed one left.
void writeBackup(const std::string& configPath, const std::string& path, const std::string& bytes, mode_t mode) {
    AtomicFile::writeNew(path, bytes, mode, configPath);
}

void writeOrThrow(const std::string& path, const std::string& bytes, mode_t mode) {
    errno = 0;
    if (!AtomicFile::write(path, bytes, mode))
        throw ToolError("config_write_failed", "Impossible d'écrire " + path + " (" + reason(errno) + ").");
}

std::string toml(const std::string& configPath, const std::string& text, const std::string& exePath) {
    TomlLineScanner scanner(text);
    if (scanner.endsOpen())
        throw ToolError("config_invalid", configPath +
                                              " n'est pas un TOML valide (une valeur n'y est pas fermée) : "
                                              "corrige-le ou renomme-le.");
    for (const auto& line : scanner.lines()) {
        if (line.kind == TomlLineScanner::Kind::header) break;
        // "mcp_servers = { … }" closes the table on one line: no table may be
        // added under it, so appending ours would break the whole file.
        if (line.kind == TomlLineScanner::Kind::statement && line.path &&
            *line.path == std::vector<std::string>{"mcp_servers"})
            throw ToolError("config_invalid", configPath +
                                                  " définit mcp_servers en une seule valeur : écris ses serveurs en "
                                                  "tables [mcp_servers.…] ou renomme le fichier.");
    }
    std::string out(text);
    // An older entry of this application goes whole; ours is written again,
    // so its sub-tables other than ".env" (the user's approvals) stay.
    auto old = tomlBlock(text, kOldKey);
    bool oldIsOurs = old && old->find(kAppName) != std::string::npos;
    if (oldIsOurs) out = tomlRemoving(out, {kOldKey});
    out = tomlRemoving(out, {serverKey}, TomlScope::entry);
    if (!out.empty() && !out.ends_with('\n')) out += '\n';
    out += tomlEntry(exePath);

    // The line editor is the one that keeps every other byte; a strict parser
    // has the last word on whether the assistant can still load the result.
    // A file that did not parse before gains nothing from that check.
    if (TomlServers::parse(text)) {
        auto after = TomlServers::parse(out);
        if (!after)
            throw ToolError("config_invalid", configPath +
                                                  " ne serait plus un TOML valide après l'ajout de l'agent : "
                                                  "l'agent ne l'a pas modifié ; corrige-le ou renomme-le.");
        if (!after->starts(serverKey, exePath) || (oldIsOurs && after->has(kOldKey)))
            throw ToolError("config_invalid", configPath +
                                                  " ne contiendrait pas exactement l'entrée de l'agent après "
                                                  "modification : l'agent ne l'a pas modifié ; corrige-le ou "
                                                  "renomme-le.");
    }
    return out;
}

Json entryObject(const std::string& exePath) { return Json{{"command", exePath}, {"args", Json::array({"--mcp"})}}; }

std::string json(const std::string& configPath, const std::string& text, const std::string& exePath) {
    Json root = Json::object();
    if (!isBlank(text)) {
        auto decoded = JSON::decode(text);
        if (!decoded || !decoded->is_object())
            throw ToolError("config_invalid", configPath + " n'est pas un JSON valide : corrige-le ou renomme-le.");
        root = std::move(*decoded);
    }
    Json servers = Json::object();
    if (auto it = root.find("mcpServers"); it != root.end() && it->is_object()) servers = std::move(*it);
    if (auto old = servers.find(kOldKey); old != servers.end() && old->is_object()) {
        auto command = old->find("command");
        if (command != old->end() && command->is_string() &&
            command->get<std::string>().find(kAppName) != std::string::npos)
            servers.erase(kOldKey);
    }
    servers[serverKey] = entryObject(exePath);
    root["mcpServers"] = std::move(servers);
    std::string bytes = JSON::encode(root, true);
    if (bytes == "null")
        throw ToolError("config_write_failed", "Impossible d'écrire " + configPath + " (contenu non sérialisable).");
    return bytes;
}

}  // namespace

void configure(const ClientApp& app) { configure(app, exe(), std::chrono::system_clock::now()); }

void configure(const ClientApp& app, const std::string& exePath, std::chrono::system_clock::time_point now) {
    // Checked first: an entry naming no executable, or a path no file can hold
    // as text, would leave the assistant with a command it cannot start.
    if (exePath.empty() || exePath[0] != '/' || !UnicodeText::isUtf8(exePath))
        throw ToolError("exe_path_invalid",
                        "Le chemin de l'agent ne peut pas être écrit dans la configuration : déplace l'application "
                        "dans un dossier au nom ordinaire.");

    std::string dir = parentOf(app.configPath);
    errno = 0;
    if (!AtomicFile::makeDirs(dir, 0700))
        throw ToolError("config_write_failed",
                        "Impossible de créer le dossier " + dir + " (" + reason(errno ? errno : ENOTDIR) + ").");

    ConfigFileText file = ConfigFileText::read(app.configPath);
    if (!file.ok() && file.state != ConfigFileText::State::missing) refuseUnreadable(app.configPath, file);

    if (!file.text.empty()) writeBackup(app.configPath, backupPath(app.configPath, now), file.text, file.mode);

    std::string bytes = app.kind == ClientApp::Kind::codexToml ? toml(app.configPath, file.text, exePath)
                                                               : json(app.configPath, file.text, exePath);
    writeOrThrow(writeTarget(app.configPath), bytes, file.mode);
}

void remove(const ClientApp& app) {
    ConfigFileText file = ConfigFileText::read(app.configPath);
    if (!file.ok()) return;
    std::string bytes;
    if (app.kind == ClientApp::Kind::codexToml) {
        bytes = tomlRemoving(file.text, {serverKey});
        // A file the assistant could load must stay loadable and lose the
        // entry; otherwise it is better left as it was.
        if (TomlServers::parse(file.text)) {
            auto after = TomlServers::parse(bytes);
            if (!after || after->has(serverKey)) return;
        }
    } else {
        auto root = JSON::decode(file.text);
        if (!root || !root->is_object()) return;
        auto servers = root->find("mcpServers");
        if (servers == root->end() || !servers->is_object()) return;
        servers->erase(serverKey);
        bytes = JSON::encode(*root, true);
        if (bytes == "null") return;
    }
    AtomicFile::write(writeTarget(app.configPath), bytes, file.mode);
}

std::string backupPath(const std::string& configPath, std::chrono::system_clock::time_point now) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H-%M-%SZ", &utc);
    return configPath + ".bak-kestro-" + stamp;
}

}  // namespace Clients
