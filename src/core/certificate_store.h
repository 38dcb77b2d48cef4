#pragma once

#include <curl/curl.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

// The certificates of the authorities this system trusts, for HTTPS. The
// bundled libcurl was built for one distribution and looks where that one
// keeps them; this finds them on the one it runs on.
struct CertificateStore {
    std::string file;       // a PEM bundle; empty: libcurl's own default
    std::string directory;  // a folder of hashed certificates; empty: libcurl's own default

    using Environment = std::function<std::optional<std::string>(const char* name)>;

    // SSL_CERT_FILE and SSL_CERT_DIR, each honoured when set, as OpenSSL
    // does; without SSL_CERT_FILE the first of `bundles` that exists.
    static CertificateStore locate(const Environment& environment, const std::vector<std::string>& bundles);
    // Where Debian/Ubuntu, Fedora/RHEL, openSUSE, Arch and Alpine keep their bundle.
    static const std::vector<std::string>& knownBundles();
    // From this process's environment and this system's files.
    static CertificateStore ofThisSystem();

    // Points `curl`'s verification at the store (after every reset of its options).
    void applyTo(CURL* curl) const;
};
