#include "maintenance/login_item.h"

#include <sys/stat.h>
#include <unistd.h>

#include "core/atomic_file.h"
#include "platform/platform_paths.h"

namespace LoginItem {

std::string path() { return PlatformPaths::configHome() + "/autostart/io.kestro.agent.desktop"; }

bool isEnabled() {
    struct stat st {};
    return ::lstat(path().c_str(), &st) == 0;  // a dangling link is still an entry the desktop sees
}

std::string execArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';  // a lone % would start a field code
        quoted += c;
    }
    quoted += '"';
    // The key-file layer reads its own escapes before the Exec rules apply.
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default: value += c;
        }
    }
    return value;
}

std::string entryText(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Kestro Agent\n"
           "Icon=io.kestro.agent\n"
           "Exec=" + execArgument(executable) + "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void set(bool enabled) { set(enabled, PlatformPaths::executablePath()); }

void set(bool enabled, const std::string& executable) {
    const std::string file = path();
    if (!enabled) {
        ::unlink(file.c_str());
        return;
    }
    if (executable.empty()) return;  // an entry that starts nothing is worse than none
    AtomicFile::makeDirs(file.substr(0, file.find_last_of('/')), 0700);
    AtomicFile::write(file, entryText(executable), 0644);
}

}  // namespace LoginItem
