#include "core/certificate_store.h"

#include <unistd.h>

#include <cstdlib>

namespace {

std::optional<std::string> fromProcess(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

}  // namespace

CertificateStore CertificateStore::locate(const Environment& environment, const std::vector<std::string>& bundles) {
    CertificateStore store;
    if (auto file = environment("SSL_CERT_FILE")) {
        store.file = *file;
    } else {
        for (const auto& bundle : bundles) {
            if (::access(bundle.c_str(), R_OK) == 0) {
                store.file = bundle;
                break;
            }
        }
    }
    if (auto directory = environment("SSL_CERT_DIR")) store.directory = *directory;
    return store;
}

const std::vector<std::string>& CertificateStore::knownBundles() {
    static const std::vector<std::string> bundles{
        "/etc/ssl/certs/ca-certificates.crt",                 // Debian, Ubuntu, Arch, Gentoo
        "/etc/pki/tls/certs/ca-bundle.crt",                   // Fedora, RHEL, CentOS
        "/etc/pki/ca-trust/extracted/pem/tls-ca-bundle.pem",  // Fedora, RHEL (where the above is gone)
        "/etc/ssl/ca-bundle.pem",                             // openSUSE
        "/etc/ssl/cert.pem",                                  // Alpine, and the BSD-minded
    };
    return bundles;
}

CertificateStore CertificateStore::ofThisSystem() { return locate(fromProcess, knownBundles()); }

void CertificateStore::applyTo(CURL* curl) const {
    // Without a store found, libcurl keeps its built-in places: a missing
    // store then fails the handshake, which callers see as no answer.
    if (!file.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, file.c_str());
    if (!directory.empty()) curl_easy_setopt(curl, CURLOPT_CAPATH, directory.c_str());
}
