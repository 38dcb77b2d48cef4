#include "platform/host_label.h"

#include <limits.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace HostLabel {
namespace {

std::string trimmed(const std::string& text) {
    auto begin = text.find_first_not_of(" \t\r");
    if (begin == std::string::npos) return "";
    auto end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

// One shell word as machine-info writes it: "double quotes" with backslash
// escapes, 'single quotes' taken as they stand, or a bare word with escapes.
std::string unquoted(const std::string& value) {
    std::string out;
    char quote = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (quote == '\'') {
            if (c == '\'') quote = 0;
            else out += c;
        } else if (c == '\\' && i + 1 < value.size()) {
            out += value[++i];
        } else if (quote == '"') {
            if (c == '"') quote = 0;
            else out += c;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string prettyHostname(const std::string& machineInfo) {
    std::istringstream lines(machineInfo);
    std::string line, found;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (!line.starts_with("PRETTY_HOSTNAME=")) continue;
        found = trimmed(unquoted(line.substr(16)));  // the last assignment wins, as in a shell
    }
    return found;
}

std::string choose(const std::string& machineInfoPath, const std::string& hostName) {
    std::ifstream in(machineInfoPath, std::ios::binary);
    if (in) {
        std::stringstream text;
        text << in.rdbuf();
        std::string pretty = prettyHostname(text.str());
        if (!pretty.empty()) return pretty;
    }
    return hostName.empty() ? std::string(kFallback) : hostName;
}

std::string current() {
    char name[HOST_NAME_MAX + 1] = {};
    std::string hostName;
    if (::gethostname(name, sizeof name - 1) == 0) hostName = name;
    return choose("/etc/machine-info", hostName);
}

}  // namespace HostLabel
