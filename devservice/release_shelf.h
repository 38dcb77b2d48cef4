#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace httplib {
class Server;
}

namespace devservice {

// A scripted fault of the release download.
enum class ReleaseFault {
    none,
    wrongDigest,     // the manifest announces a digest one digit off
    notFound,        // the archive's address answers 404
    cutConnection,   // half the archive, then the connection closes
    garbageArchive,  // bytes that are no archive, announced with their true digest
    noBundle,        // a valid zip holding a folder without the ".app" ending
    stall,           // half the archive, then `pauseMs` of silence, then the rest
    trickle,         // the archive in eight pieces `pauseMs` apart
};

// The newest agent release the stand-in service offers: announced as the
// manifest's "latest" (version, zip_url, sha256) and served at
//   GET /releases/<file name>
class ReleaseShelf {
public:
    // Offers `archive` (the bytes of a zip) as release `version`.
    void publish(const std::string& version, std::string archive);
    void withdraw();

    void setFault(ReleaseFault fault, int pauseMs = 0);
    // The digest announced in upper case (still a valid announcement).
    void setUpperCaseDigest(bool upper);

    // The manifest's "latest" object for a service at `baseUrl`; nothing when
    // no release is offered.
    std::optional<nlohmann::json> latest(const std::string& baseUrl) const;

    // How many archive downloads started.
    size_t downloads() const;

    // Adds the archive route to `server`, before it listens.
    void mount(httplib::Server& server);

private:
    std::string fileName() const;  // caller holds the lock
    std::string servedBytes() const;

    mutable std::mutex m_mutex;
    std::optional<std::string> m_version;
    std::string m_archive;
    ReleaseFault m_fault = ReleaseFault::none;
    int m_pauseMs = 0;
    bool m_upperCase = false;
    size_t m_downloads = 0;
};

}  // namespace devservice
