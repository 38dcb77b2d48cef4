#pragma once

#include <memory>
#include <string>
#include <vector>

#include "scoped_env.h"

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

    // Makes the login session's runtime folder (this uid's, in the folder
    // standing for /run/user), where the tray application's lock then goes.
    std::string makeSessionFolder() const;

private:
    std::string m_path;
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

// Removes a folder and everything in it; missing is fine.
void removeTree(const std::string& path);
