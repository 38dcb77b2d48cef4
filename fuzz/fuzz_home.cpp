#include "fuzz_home.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "config/config_store.h"

namespace fs = std::filesystem;

namespace {

// Bound, never listening: a connection to it is refused by the kernel, and
// nobody else can take the port while this process holds it.
int bindClosedPort(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback port");
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

FuzzHome& FuzzHome::instance() {
    static FuzzHome home;
    return home;
}

FuzzHome::FuzzHome() {
    std::string templ = (fs::temp_directory_path() / "kestro-fuzz-XXXXXX").string();
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (!::mkdtemp(name.data())) throw std::runtime_error("cannot create a temporary home");
    m_path = name.data();
    ::setenv("HOME", m_path.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", m_path.c_str(), 1);
    ::setenv("KESTRO_AGENT_MANIFEST_URL", "", 1);
    for (const char* proxy : {"http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        ::unsetenv(proxy);

    int port = 0;
    m_closedPort = bindClosedPort(port);
    ::setenv("XDG_CONFIG_HOME", (m_path + "/logged-in").c_str(), 1);
    ConfigStore::save(AgentConfig{.baseUrl = "http://127.0.0.1:" + std::to_string(port), .token = "fuzz-token"});
    ::setenv("XDG_CONFIG_HOME", (m_path + "/logged-out").c_str(), 1);
    ConfigStore::save(AgentConfig{.baseUrl = "http://127.0.0.1:" + std::to_string(port)});

    // Names that exercise the plan-number guess, the kinds, hidden files,
    // sub-folders, links and an empty file.
    for (const char* file : {"shots/plan_01.jpg", "shots/P2.png", "shots/Shot 10.MOV", "shots/v2_plan_05.webp",
                             "shots/notes.pdf", "shots/song.mp3", "shots/César — portrait.png", "shots/.hidden.jpg",
                             "shots/sub/plan_03.jpg", "cards/decor-1.jpg", "cards/perso_2.png"})
        writeFile(file, std::string("fuzz bytes of ") + file);
    writeFile("shots/empty.webp", "");
    std::error_code ec;
    fs::create_symlink(m_path + "/shots/plan_01.jpg", m_path + "/shots/link_07.jpg", ec);
    useLoggedIn(true);
}

FuzzHome::~FuzzHome() {
    if (m_closedPort >= 0) ::close(m_closedPort);
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

void FuzzHome::useLoggedIn(bool loggedIn) const {
    ::setenv("XDG_CONFIG_HOME", (m_path + (loggedIn ? "/logged-in" : "/logged-out")).c_str(), 1);
}

void FuzzHome::writeFile(const std::string& relative, const std::string& content) const {
    fs::path p = fs::path(m_path) / relative;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}
