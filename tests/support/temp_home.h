#pragma once

#include <string>

// A fresh folder used as HOME and XDG_CONFIG_HOME for the life of a test, so
// nothing a test writes can touch the real user's files. The environment of
// this process is pointed at it and put back afterwards; children started by
// AgentProcess inherit it.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    const std::string& path() const { return m_path; }
    std::string configDir() const;   // …/.config/Kestro Agent
    std::string configFile() const;  // …/.config/Kestro Agent/config.json

    // Writes `content` to `relative` under the home, creating folders.
    std::string write(const std::string& relative, const std::string& content) const;

private:
    std::string m_path;
    std::string m_oldHome, m_oldXdg, m_oldRuntime, m_oldRunUser;
    bool m_hadHome = false, m_hadXdg = false, m_hadRuntime = false, m_hadRunUser = false;
};

// Removes a folder and everything in it; missing is fine.
void removeTree(const std::string& path);
