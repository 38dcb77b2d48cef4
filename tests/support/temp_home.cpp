#include "temp_home.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

void remember(const char* name, std::string& value, bool& had) {
    const char* v = std::getenv(name);
    had = v != nullptr;
    if (had) value = v;
}

void restore(const char* name, const std::string& value, bool had) {
    if (had) ::setenv(name, value.c_str(), 1);
    else ::unsetenv(name);
}

}  // namespace

TempHome::TempHome() {
    std::string templ = (fs::temp_directory_path() / "kestro-home-XXXXXX").string();
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary home");
    m_path = name.data();
    remember("HOME", m_oldHome, m_hadHome);
    remember("XDG_CONFIG_HOME", m_oldXdg, m_hadXdg);
    remember("XDG_RUNTIME_DIR", m_oldRuntime, m_hadRuntime);
    remember("KESTRO_AGENT_RUN_USER_DIR", m_oldRunUser, m_hadRunUser);
    ::setenv("HOME", m_path.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (m_path + "/.config").c_str(), 1);
    fs::create_directories(m_path + "/run");
    fs::permissions(m_path + "/run", fs::perms::owner_all);  // as a session's runtime folder is
    ::setenv("XDG_RUNTIME_DIR", (m_path + "/run").c_str(), 1);
    // The folder that stands for /run/user, empty: the lock goes to the
    // configuration folder unless a test makes a session folder here.
    fs::create_directories(m_path + "/run-user");
    ::setenv("KESTRO_AGENT_RUN_USER_DIR", (m_path + "/run-user").c_str(), 1);
}

TempHome::~TempHome() {
    restore("HOME", m_oldHome, m_hadHome);
    restore("XDG_CONFIG_HOME", m_oldXdg, m_hadXdg);
    restore("XDG_RUNTIME_DIR", m_oldRuntime, m_hadRuntime);
    restore("KESTRO_AGENT_RUN_USER_DIR", m_oldRunUser, m_hadRunUser);
    removeTree(m_path);
}

std::string TempHome::configDir() const { return m_path + "/.config/Kestro Agent"; }
std::string TempHome::configFile() const { return configDir() + "/config.json"; }

std::string TempHome::write(const std::string& relative, const std::string& content) const {
    fs::path p = fs::path(m_path) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

void removeTree(const std::string& path) {
    std::error_code ec;
    auto status = fs::symlink_status(path, ec);
    if (ec) return;
    if (fs::is_directory(status)) {
        // Tests make folders unreadable on purpose; give the owner access back first.
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        std::vector<std::string> children;
        for (const auto& entry : fs::directory_iterator(path, ec)) children.push_back(entry.path().string());
        for (const auto& child : children) removeTree(child);
    }
    fs::remove(path, ec);
}
