#include "maintenance/updater.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/version.h"
#include "maintenance/archive_unpacker.h"
#include "maintenance/bundle_swap.h"
#include "maintenance/release_download.h"
#include "service/manifest.h"
#include "platform/detached_launch.h"
#include "platform/platform_paths.h"

extern char** environ;

namespace fs = std::filesystem;

namespace Updater {
namespace {

constexpr double kManifestTimeoutSeconds = 8;
constexpr const char* kWorkPrefix = "kestro-agent-update-";

std::mutex g_quitMutex;
QuitRequest g_quit;

// Each part read whole as a decimal integer with an optional sign; anything
// else (2-beta, an empty text, digits beyond the integer range) counts as 0.
std::vector<long long> versionParts(const std::string& version) {
    std::vector<long long> parts;
    size_t start = 0;
    while (start <= version.size()) {
        size_t dot = version.find('.', start);
        if (dot == std::string::npos) dot = version.size();
        std::string part = version.substr(start, dot - start);
        start = dot + 1;
        if (part.empty()) continue;
        size_t digits = (part[0] == '+' || part[0] == '-') ? 1 : 0;
        bool numeric = part.size() > digits && std::all_of(part.begin() + static_cast<long>(digits), part.end(),
                                                           [](unsigned char c) { return std::isdigit(c); });
        long long value = 0;
        if (numeric) {
            errno = 0;
            value = std::strtoll(part.c_str(), nullptr, 10);
            if (errno == ERANGE) value = 0;
        }
        parts.push_back(value);
    }
    return parts;
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool isHexDigest(const std::string& s) {
    return s.size() == 64 && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c); });
}

// An absolute http or https address, as the downloader will accept it.
bool isDownloadUrl(const std::string& text) {
    CURLU* url = curl_url();
    if (!url) return false;
    bool ok = false;
    if (curl_url_set(url, CURLUPART_URL, text.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        if (curl_url_get(url, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
            ok = std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0;
            curl_free(scheme);
        }
    }
    curl_url_cleanup(url);
    return ok;
}

// A random (version 4) UUID in its upper-case text form.
std::string newUuid() {
    unsigned char b[16] = {};
    if (RAND_bytes(b, sizeof b) != 1) {
        // Only the uniqueness of a folder name rests on it.
        for (auto& byte : b) byte = static_cast<unsigned char>(std::rand());
    }
    b[6] = static_cast<unsigned char>((b[6] & 0x0f) | 0x40);
    b[8] = static_cast<unsigned char>((b[8] & 0x3f) | 0x80);
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[b[i] >> 4];
        out += digits[b[i] & 15];
    }
    return out;
}

std::string tempFolder(const InstallOptions& options) {
    if (!options.tempDir.empty()) return options.tempDir;
    const char* env = std::getenv("TMPDIR");
    return (env && env[0] == '/') ? env : "/tmp";
}

std::string parentOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Folders removed whatever way the installation ends.
struct Cleanup {
    std::vector<std::string> folders;
    ~Cleanup() {
        for (const auto& f : folders) {
            std::error_code ec;
            fs::remove_all(f, ec);
        }
    }
};

// The single top-level folder of the unpacked archive named "*.app" (the
// first in name order should there be several); links do not count.
std::optional<std::string> findBundle(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.size() > 4 && name.ends_with(".app") && it->is_directory(ec) && !it->is_symlink(ec))
            names.push_back(name);
    }
    if (ec || names.empty()) return std::nullopt;
    std::sort(names.begin(), names.end());
    return folder + "/" + names.front();
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

void requestQuit(const InstallOptions& options) {
    QuitRequest quit = options.quit;
    if (!quit) {
        std::lock_guard lock(g_quitMutex);
        quit = g_quit;
    }
    if (quit) {
        quit(kQuitDelay);
        return;
    }
    // A process without a main loop ends as the system would end it.
    std::thread([] {
        std::this_thread::sleep_for(kQuitDelay);
        ::kill(::getpid(), SIGTERM);
    }).detach();
}

bool relaunch(const InstallOptions& options, const std::string& executable) {
    const std::vector<std::string> argv{executable, PlatformPaths::kAfterUpdateArgument};
    if (options.relaunch) return options.relaunch(argv);
    return DetachedLaunch::startAfter(argv, kRelaunchDelay);
}

std::string unpackFailure(const ArchiveUnpacker::Result& result) {
    if (result.outcome != ArchiveUnpacker::Outcome::writeFailed) return "Archive de mise à jour illisible.";
    if (result.error == ENOSPC || result.error == EDQUOT || result.error == EFBIG)
        return "Installation impossible : espace disque insuffisant";
    return "Installation impossible : écriture de la nouvelle version impossible (" +
           std::string(result.error ? std::strerror(result.error) : result.reason.c_str()) + ")";
}

}  // namespace

void setQuitRequest(QuitRequest quit) {
    std::lock_guard lock(g_quitMutex);
    g_quit = std::move(quit);
}

bool isNewer(const std::string& a, const std::string& b) {
    auto pa = versionParts(a), pb = versionParts(b);
    for (size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
        long long x = i < pa.size() ? pa[i] : 0, y = i < pb.size() ? pb[i] : 0;
        if (x != y) return x > y;
    }
    return false;
}

std::optional<std::string> sha256(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) {
        EVP_MD_CTX_free(ctx);
        ::close(fd);
        return std::nullopt;
    }
    std::vector<unsigned char> chunk(1 << 20);
    for (;;) {
        ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // a read error ends the reading as the end of the file does
        EVP_DigestUpdate(ctx, chunk.data(), static_cast<size_t>(n));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(ctx, digest, &length);
    EVP_MD_CTX_free(ctx);
    ::close(fd);
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[digest[i] >> 4];
        out += digits[digest[i] & 15];
    }
    return out;
}

int run(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return -1;
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

std::optional<std::string> available(const std::string& baseUrl) {
    auto manifest = Manifest::load(baseUrl, kManifestTimeoutSeconds);
    if (!manifest || !manifest->latest) return std::nullopt;
    auto version = manifest->latest->find("version");
    if (version == manifest->latest->end() || !version->is_string()) return std::nullopt;
    std::string v = version->get<std::string>();
    if (!isNewer(v, kAppVersion)) return std::nullopt;
    return v;
}

bool checkAndInstall(const std::string& baseUrl, const StatusReporter& status) {
    return checkAndInstall(baseUrl, status, InstallOptions{});
}

bool checkAndInstall(const std::string& baseUrl, const StatusReporter& status, const InstallOptions& options) {
    auto report = [&](const std::string& text) {
        if (status) status(text);
    };
    auto failWith = [&](const std::string& text) {
        report(text);
        return false;
    };

    auto manifest = Manifest::load(baseUrl, kManifestTimeoutSeconds);
    const Json* latest = manifest && manifest->latest ? &*manifest->latest : nullptr;
    auto member = [&](const char* key) -> const Json* {
        auto it = latest->find(key);
        return it != latest->end() && it->is_string() ? &*it : nullptr;
    };
    const Json* version = latest ? member("version") : nullptr;
    if (!version) return failWith("Impossible de vérifier les mises à jour.");
    const std::string v = version->get<std::string>();
    if (!isNewer(v, kAppVersion)) return failWith(std::string("À jour (v") + kAppVersion + ").");
    const Json* zipUrl = member("zip_url");
    const Json* digest = member("sha256");
    // A digest that cannot be one would only be found wrong after the whole
    // download: it makes the announcement as unusable as a missing one.
    if (!zipUrl || !isDownloadUrl(zipUrl->get<std::string>()) || !digest || !isHexDigest(digest->get<std::string>()))
        return failWith("Mise à jour " + v + " incomplète côté serveur.");
    const std::string url = zipUrl->get<std::string>();
    const std::string expected = lowerCase(digest->get<std::string>());

    report("Mise à jour vers " + v + "…");

    // Where the new bundle will go, checked before anything is downloaded.
    const std::string executable = options.executable.empty() ? PlatformPaths::executablePath() : options.executable;
    const std::string target = options.bundle.empty() ? PlatformPaths::bundlePath(executable) : options.bundle;
    if (!target.ends_with(".app") || !executable.starts_with(target + "/"))
        return failWith("Installation impossible : " + executable + " n'est pas dans un paquet d'application (.app)");
    const std::string inBundle = executable.substr(target.size());  // "/bin/kestro-agent"
    auto plan = BundleSwap::plan(target);
    if (!plan.way) return failWith("Installation impossible : " + plan.whyNot);
    const BundleSwap::Way way = options.replaceContents ? BundleSwap::Way::contents : *plan.way;

    const std::string uuid = newUuid();
    Cleanup cleanup;
    // Unpacked beside the target (or inside it, when only the bundle is
    // ours) so the final moves are renames within one file system; creating
    // it also proves the place writable before the download.
    const std::string stagingParent = way == BundleSwap::Way::wholeFolder ? parentOf(target) : target;
    const std::string staging = stagingParent + "/." + kWorkPrefix + uuid;
    if (::mkdir(staging.c_str(), 0700) != 0)
        return failWith("Installation impossible : le dossier " + stagingParent + " n'est pas modifiable (" +
                        std::strerror(errno) + ")");
    cleanup.folders.push_back(staging);
    const std::string work = tempFolder(options) + "/" + kWorkPrefix + uuid;
    ::mkdir(work.c_str(), 0700);  // a failure shows as a failed download
    cleanup.folders.push_back(work);

    const std::string zip = work + "/update.zip";
    ReleaseDownload::Options download;
    download.idleSeconds = options.idleSeconds;
    download.maxBytes = options.maxUnpackedBytes;
    if (!ReleaseDownload::fetch(url, zip, download)) return failWith("Téléchargement de la mise à jour impossible.");

    auto actual = sha256(zip);
    if (!actual || *actual != expected) return failWith("Mise à jour rejetée (empreinte invalide).");

    const std::string unpacked = staging + "/x";
    if (::mkdir(unpacked.c_str(), 0700) != 0)
        return failWith("Installation impossible : " + std::string(std::strerror(errno)));
    ArchiveUnpacker::Limits limits;
    limits.maxTotalBytes = options.maxUnpackedBytes;
    if (auto result = ArchiveUnpacker(limits).unpack(zip, unpacked); !result) return failWith(unpackFailure(result));
    std::error_code ignored;
    fs::remove(zip, ignored);  // no longer needed: frees its space before the swap

    // A bundle without the program we would start is no application at all:
    // installing it would leave the user with nothing that runs.
    auto incoming = findBundle(unpacked);
    if (!incoming || !isExecutableFile(*incoming + inBundle)) return failWith("Archive de mise à jour illisible.");

    if (auto reason = BundleSwap::replace(way, target, *incoming, staging + "/old"))
        return failWith("Installation impossible : " + *reason);

    report("Mis à jour en " + v + ", redémarrage…");
    relaunch(options, target + inBundle);  // a failed start leaves the new version for the next launch
    requestQuit(options);
    return true;
}

}  // namespace Updater
