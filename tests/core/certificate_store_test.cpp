// Where HTTPS trust comes from: the environment's SSL_CERT_FILE/SSL_CERT_DIR,
// else the first certificate bundle of a known distribution layout, checked
// here both as a choice and through a real TLS handshake with a local server.
#include "core/certificate_store.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "core/http.h"
#include "spawned.h"
#include "temp_home.h"
#include "test_http_server.h"

namespace fs = std::filesystem;

namespace {

CertificateStore::Environment environmentOf(std::map<std::string, std::string> values) {
    return [values](const char* name) -> std::optional<std::string> {
        auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

TEST(CertificateStore, EnvironmentFirstThenTheFirstBundleThatExists) {
    TempHome home;
    const std::string missing = home.path() + "/etc/ssl/certs/ca-certificates.crt";
    const std::string fedora = home.write("etc/pki/tls/certs/ca-bundle.crt", "pem");
    const std::string alpine = home.write("etc/ssl/cert.pem", "pem");
    const std::vector<std::string> bundles{missing, fedora, alpine};

    CertificateStore found = CertificateStore::locate(environmentOf({}), bundles);
    EXPECT_EQ(found.file, fedora) << "the first that exists, in the given order";
    EXPECT_EQ(found.directory, "");

    // Each variable is honoured on its own, even naming what does not exist.
    CertificateStore chosen = CertificateStore::locate(environmentOf({{"SSL_CERT_FILE", missing}}), bundles);
    EXPECT_EQ(chosen.file, missing);
    CertificateStore folder = CertificateStore::locate(environmentOf({{"SSL_CERT_DIR", home.path()}}), bundles);
    EXPECT_EQ(folder.file, fedora);
    EXPECT_EQ(folder.directory, home.path());

    CertificateStore none = CertificateStore::locate(environmentOf({}), {missing});
    EXPECT_EQ(none.file, "");
    EXPECT_EQ(none.directory, "");

    // The known layouts, Debian's first (it is also where Arch keeps it).
    const auto& known = CertificateStore::knownBundles();
    ASSERT_FALSE(known.empty());
    EXPECT_EQ(known.front(), "/etc/ssl/certs/ca-certificates.crt");
    EXPECT_NE(std::find(known.begin(), known.end(), "/etc/pki/tls/certs/ca-bundle.crt"), known.end());
}

bool accepts(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

// A test authority, a certificate it signed for 127.0.0.1, and a TLS server
// (openssl s_server, answering any GET with 200) presenting it.
class LocalTlsServer {
public:
    explicit LocalTlsServer(const std::string& folder) : m_folder(folder) {
        auto openssl = findProgram("openssl");
        if (!openssl) return;
        const std::map<std::string, std::string> env;
        auto run = [&](std::vector<std::string> argv) { return runCommand(argv, env, std::chrono::seconds(60)).has_value(); };
        const std::string curve = "ec_paramgen_curve:prime256v1";
        bool made = run({*openssl, "req", "-x509", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-days", "2", "-subj",
                         "/CN=Kestro Test CA", "-keyout", folder + "/ca.key", "-out", caFile()}) &&
                    run({*openssl, "req", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-subj", "/CN=127.0.0.1",
                         "-keyout", folder + "/server.key", "-out", folder + "/server.csr"}) &&
                    writeExtensions() &&
                    run({*openssl, "x509", "-req", "-in", folder + "/server.csr", "-CA", caFile(), "-CAkey",
                         folder + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", folder + "/server.ext",
                         "-out", folder + "/server.pem"});
        if (!made) return;
        m_port = TestHttpServer::unusedPort();
        m_server = std::make_unique<Spawned>(
            std::vector<std::string>{*openssl, "s_server", "-accept", "127.0.0.1:" + std::to_string(m_port), "-cert",
                                     folder + "/server.pem", "-key", folder + "/server.key", "-www", "-quiet"},
            env, folder + "/s_server.log");
        for (int i = 0; i < 200 && !accepts(m_port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(25));
        m_ready = accepts(m_port);
    }

    bool ready() const { return m_ready; }
    std::string caFile() const { return m_folder + "/ca.pem"; }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(m_port) + "/"; }

private:
    bool writeExtensions() {
        std::ofstream(m_folder + "/server.ext") << "subjectAltName=IP:127.0.0.1\n";
        return true;
    }

    std::string m_folder;
    int m_port = -1;
    bool m_ready = false;
    std::unique_ptr<Spawned> m_server;
};

// Restores one environment variable when the test ends.
struct ScopedVariable {
    std::string name;
    std::optional<std::string> saved;
    ScopedVariable(std::string n, const std::optional<std::string>& value) : name(std::move(n)) {
        if (const char* old = ::getenv(name.c_str())) saved = old;
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ~ScopedVariable() {
        if (saved)
            ::setenv(name.c_str(), saved->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
};

TEST(CertificateStore, HttpsTrustsWhatTheNamedStoreHoldsAndNothingElse) {
    TempHome home;
    LocalTlsServer server(home.path());
    if (!findProgram("openssl")) GTEST_SKIP() << "the openssl program makes the test certificates";
    ASSERT_TRUE(server.ready()) << "the local TLS server did not start";
    ScopedVariable noFolder("SSL_CERT_DIR", std::nullopt);

    {
        ScopedVariable file("SSL_CERT_FILE", server.caFile());
        EXPECT_EQ(HTTP::request("GET", server.url()).status, 200);
    }
    {
        // A store without the test authority: the usual failure, no answer.
        const std::string other = home.write("other.pem", "");
        ScopedVariable file("SSL_CERT_FILE", other);
        EXPECT_EQ(HTTP::request("GET", server.url()).status, 0);
    }
    {
        // The authority's certificate in a hashed folder, as SSL_CERT_DIR names one.
        const std::string folder = home.path() + "/certs";
        fs::create_directories(folder);
        auto hash = runCommand({*findProgram("openssl"), "x509", "-hash", "-noout", "-in", server.caFile()}, {});
        ASSERT_TRUE(hash);
        fs::copy_file(server.caFile(), folder + "/" + hash->substr(0, hash->find('\n')) + ".0");
        ScopedVariable file("SSL_CERT_FILE", std::nullopt);
        ScopedVariable dir("SSL_CERT_DIR", folder);
        EXPECT_EQ(HTTP::request("GET", server.url()).status, 200);
    }
}

}  // namespace
