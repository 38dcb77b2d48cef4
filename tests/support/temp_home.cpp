#include "temp_home.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

TempHome::TempHome() {
    std::string templ = (fs::temp_directory_path() / "kestro-home-XXXXXX").string();
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary home");
    m_path = name.data();
    auto set = [this](const char* variable, const std::string& value) {
        m_env.push_back(std::make_unique<ScopedEnv>(variable, value));
    };
    set("HOME", m_path);
    set("XDG_CONFIG_HOME", m_path + "/.config");
    fs::create_directories(m_path + "/run");
    fs::permissions(m_path + "/run", fs::perms::owner_all);  // as a session's runtime folder is
    set("XDG_RUNTIME_DIR", m_path + "/run");
    // The folder that stands for /run/user, empty: the lock goes to the
    // configuration folder unless a test makes a session folder here.
    fs::create_directories(m_path + "/run-user");
    set("KESTRO_AGENT_RUN_USER_DIR", m_path + "/run-user");
}

// The variables are put back as the members go, after the folder.
TempHome::~TempHome() { removeTree(m_path); }

std::string TempHome::configDir() const { return m_path + "/.config/Kestro Agent"; }
std::string TempHome::configFile() const { return configDir() + "/config.json"; }

std::string TempHome::makeSessionFolder() const {
    const std::string folder = m_path + "/run-user/" + std::to_string(::getuid());
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::owner_all);
    return folder;
}

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
