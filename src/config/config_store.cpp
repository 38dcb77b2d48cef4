#include "config/config_store.h"

#include <unistd.h>

#include <array>
#include <utility>

#include "core/atomic_file.h"
#include "core/json.h"
#include "platform/platform_paths.h"

namespace ConfigStore {
namespace {

using Field = std::string AgentConfig::*;
const std::array<std::pair<const char*, Field>, 6> kFields{{
    {"baseUrl", &AgentConfig::baseUrl},
    {"token", &AgentConfig::token},
    {"userName", &AgentConfig::userName},
    {"userEmail", &AgentConfig::userEmail},
    {"clientId", &AgentConfig::clientId},
    {"configuredPath", &AgentConfig::configuredPath},
}};

// Slashes only ever occur inside strings of the encoded text, so escaping every
// one of them gives the "\/" form that other writers of this file produce.
std::string escapeSlashes(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

std::string dir() { return PlatformPaths::configHome() + "/" + appName; }
std::string file() { return dir() + "/config.json"; }

std::string encode(const AgentConfig& config) {
    Json object = Json::object();  // keys come out sorted
    for (const auto& [key, field] : kFields) object[key] = config.*field;
    std::string text = JSON::encode(object, true);
    return text == "null" ? std::string() : escapeSlashes(text);
}

AgentConfig decode(const std::string& text) {
    auto value = JSON::decode(text);
    if (!value || !value->is_object()) return AgentConfig();
    AgentConfig config;
    for (const auto& [key, field] : kFields) {
        auto it = value->find(key);
        if (it == value->end() || !it->is_string()) return AgentConfig();
        config.*field = it->get<std::string>();
    }
    return config;
}

AgentConfig load() {
    auto text = AtomicFile::read(file());
    return text ? decode(*text) : AgentConfig();
}

void save(const AgentConfig& config) {
    AtomicFile::makeDirs(dir(), 0700);
    std::string text = encode(config);
    if (text.empty()) return;
    AtomicFile::write(file(), text, 0600);
}

void clear() { ::unlink(file().c_str()); }

}  // namespace ConfigStore

std::string currentExecutablePath() { return PlatformPaths::executablePath(); }
