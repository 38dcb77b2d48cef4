#pragma once

#include <string>

// The private world of the fuzz targets that run the MCP server: a temporary
// folder used as HOME and XDG_CONFIG_HOME, holding a small folder of media
// files for the local tools to list and send, and two configurations, one
// logged in and one logged out. The logged-in one names a base URL on a
// loopback port that is bound but never listens, so every exchange with "the
// service" is refused at once and nothing leaves the machine. Proxy variables
// are cleared and the manifest is never fetched.
//
// Created at first use; the folder is removed when the process exits.
class FuzzHome {
public:
    static FuzzHome& instance();

    const std::string& path() const { return m_path; }

    // Points the configuration folder at the logged-in or the logged-out
    // configuration; the server re-reads it before each message.
    void useLoggedIn(bool loggedIn) const;

private:
    FuzzHome();
    ~FuzzHome();
    FuzzHome(const FuzzHome&) = delete;
    FuzzHome& operator=(const FuzzHome&) = delete;

    void writeFile(const std::string& relative, const std::string& content) const;

    std::string m_path;
    int m_closedPort = -1;  // the socket that holds the port no one listens on
};
