// checkAndInstall against the stand-in service: every way an update can end,
// with its exact text, and the installed bundle untouched whenever it fails.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "core/version.h"
#include "dev_service.h"
#include "maintenance/bundle_swap.h"
#include "maintenance/updater.h"
#include "temp_home.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using devservice::ReleaseFault;
using devservice::ZipBuilder;

namespace {

constexpr const char* kNew = "9.0.0";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Every path below `root` with its type, mode and content.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        struct stat st {};
        ::lstat(it->path().c_str(), &st);
        std::string value = std::to_string(st.st_mode);
        if (S_ISREG(st.st_mode)) value += ":" + readFile(it->path());
        out[fs::relative(it->path(), root).string()] = value;
    }
    return out;
}

std::string releaseArchive(const std::string& program = "#!/bin/sh\necho new\n") {
    ZipBuilder zip;
    zip.folder("Kestro Agent.app")
        .folder("Kestro Agent.app/bin")
        .file("Kestro Agent.app/bin/kestro-agent", program, 0755)
        .file("Kestro Agent.app/NEW", "9.0.0");
    return zip.finish();
}

class UpdaterInstallTest : public ::testing::Test {
  protected:
    TempHome home;
    devservice::DevService service;
    std::string opt = home.path() + "/opt";
    std::string bundle = opt + "/Kestro Agent.app";
    std::string tmp = home.path() + "/tmp";
    std::vector<std::string> texts;
    std::vector<std::vector<std::string>> relaunched;
    std::vector<std::chrono::milliseconds> quits;
    Updater::InstallOptions options;
    std::map<std::string, std::string> before;
    std::optional<std::string> savedManifestUrl;

    void SetUp() override {
        if (const char* v = ::getenv("KESTRO_AGENT_MANIFEST_URL")) savedManifestUrl = v;
        ::unsetenv("KESTRO_AGENT_MANIFEST_URL");  // the updater asks the service itself
        ASSERT_GT(service.start(), 0);
        fs::create_directories(bundle + "/bin");
        fs::create_directories(tmp);
        std::ofstream(bundle + "/bin/kestro-agent") << "#!/bin/sh\necho old\n";
        fs::permissions(bundle + "/bin/kestro-agent", fs::perms(0755));
        std::ofstream(bundle + "/OLD") << "1.1.4";
        before = snapshot(bundle);
        options.executable = bundle + "/bin/kestro-agent";
        options.tempDir = tmp;
        options.relaunch = [this](const std::vector<std::string>& argv) {
            relaunched.push_back(argv);
            return true;
        };
        options.quit = [this](std::chrono::milliseconds delay) { quits.push_back(delay); };
    }

    void TearDown() override {
        if (savedManifestUrl) ::setenv("KESTRO_AGENT_MANIFEST_URL", savedManifestUrl->c_str(), 1);
    }

    bool install() {
        texts.clear();
        fs::remove(home.configDir() + "/manifest.json");  // each run sees only what the service says now
        return Updater::checkAndInstall(
            service.baseUrl(), [this](const std::string& t) { texts.push_back(t); }, options);
    }

    void announce(const nlohmann::json& latest) { service.setManifest(nlohmann::json{{"latest", latest}}.dump()); }

    // What every failed run must leave: the old bundle as it was, nothing
    // started, and no working folder in either place.
    void expectUntouched(const std::string& context) {
        EXPECT_EQ(snapshot(bundle), before) << context;
        EXPECT_TRUE(relaunched.empty()) << context;
        EXPECT_TRUE(quits.empty()) << context;
        expectNoLeftovers(context);
    }

    void expectNoLeftovers(const std::string& context) {
        for (const auto& folder : {tmp, opt})
            for (const auto& e : fs::directory_iterator(folder))
                EXPECT_EQ(e.path().filename().string(), folder == opt ? "Kestro Agent.app" : "?")
                    << context << ": left " << e.path();
    }

    void expectFailure(const std::string& context, const std::vector<std::string>& expected) {
        EXPECT_FALSE(install()) << context;
        EXPECT_EQ(texts, expected) << context;
        expectUntouched(context);
    }
};

const std::string kStarting = std::string("Mise à jour vers ") + kNew + "…";
const std::string kDownloadFailed = "Téléchargement de la mise à jour impossible.";
const std::string kUnreadable = "Archive de mise à jour illisible.";

TEST_F(UpdaterInstallTest, AnnouncementMissingOrIncomplete) {
    expectFailure("no manifest", {"Impossible de vérifier les mises à jour."});
    service.setManifest("{}");
    expectFailure("no latest", {"Impossible de vérifier les mises à jour."});
    announce({{"zip_url", "http://127.0.0.1:1/x.zip"}});
    expectFailure("no version", {"Impossible de vérifier les mises à jour."});
    announce({{"version", 9}});
    expectFailure("version not a string", {"Impossible de vérifier les mises à jour."});

    const std::string upToDate = std::string("À jour (v") + kAppVersion + ").";
    announce({{"version", kAppVersion}, {"zip_url", service.baseUrl() + "/x.zip"}, {"sha256", std::string(64, 'a')}});
    expectFailure("same version", {upToDate});
    announce({{"version", "1.1.3"}, {"zip_url", service.baseUrl() + "/x.zip"}, {"sha256", std::string(64, 'a')}});
    expectFailure("older version", {upToDate});
    announce({{"version", "1.2-beta"}});
    expectFailure("beta reads as 1.0", {upToDate});

    const std::string incomplete = std::string("Mise à jour ") + kNew + " incomplète côté serveur.";
    const std::string digest(64, 'a');
    const nlohmann::json bad[] = {
        {{"version", kNew}, {"sha256", digest}},
        {{"version", kNew}, {"zip_url", 42}, {"sha256", digest}},
        {{"version", kNew}, {"zip_url", "not a url"}, {"sha256", digest}},
        {{"version", kNew}, {"zip_url", "file:///etc/passwd"}, {"sha256", digest}},
        {{"version", kNew}, {"zip_url", service.baseUrl() + "/x.zip"}},
        {{"version", kNew}, {"zip_url", service.baseUrl() + "/x.zip"}, {"sha256", 7}},
        {{"version", kNew}, {"zip_url", service.baseUrl() + "/x.zip"}, {"sha256", "abc"}},
    };
    for (const auto& latest : bad) {
        announce(latest);
        expectFailure(latest.dump(), {incomplete});
    }
    EXPECT_EQ(service.releases().downloads(), 0u);
}

TEST_F(UpdaterInstallTest, DownloadFailures) {
    service.releases().publish(kNew, releaseArchive());
    service.releases().setFault(ReleaseFault::notFound);
    expectFailure("404", {kStarting, kDownloadFailed});
    service.releases().setFault(ReleaseFault::cutConnection);
    expectFailure("cut connection", {kStarting, kDownloadFailed});
    // Silence longer than the idle limit ends the download.
    options.idleSeconds = 1;
    service.releases().setFault(ReleaseFault::stall, 3000);
    expectFailure("idle", {kStarting, kDownloadFailed});
    // The service goes away after the announcement.
    service.releases().setFault(ReleaseFault::none);
    announce(*service.releases().latest("http://127.0.0.1:1"));
    service.releases().withdraw();
    expectFailure("unreachable", {kStarting, kDownloadFailed});
}

TEST_F(UpdaterInstallTest, RejectedArchives) {
    service.releases().publish(kNew, releaseArchive());
    service.releases().setFault(ReleaseFault::wrongDigest);
    expectFailure("digest one digit off", {kStarting, "Mise à jour rejetée (empreinte invalide)."});
    service.releases().setFault(ReleaseFault::garbageArchive);
    expectFailure("garbage", {kStarting, kUnreadable});
    service.releases().setFault(ReleaseFault::noBundle);
    expectFailure("no .app inside", {kStarting, kUnreadable});
    service.releases().setFault(ReleaseFault::none);

    ZipBuilder hostile;
    hostile.folder("Kestro Agent.app")
        .file("Kestro Agent.app/bin/kestro-agent", "x", 0755)
        .symlink("Kestro Agent.app/key", "../../.ssh/id_ed25519");
    service.releases().publish(kNew, hostile.finish());
    expectFailure("link leaving the folder", {kStarting, kUnreadable});

    ZipBuilder noProgram;
    noProgram.folder("Kestro Agent.app").file("Kestro Agent.app/README", "no program here");
    service.releases().publish(kNew, noProgram.finish());
    expectFailure("bundle without its program", {kStarting, kUnreadable});

    ZipBuilder fileNamedApp;
    fileNamedApp.file("Kestro Agent.app", "a file, not a bundle");
    service.releases().publish(kNew, fileNamedApp.finish());
    expectFailure("a file named .app", {kStarting, kUnreadable});
}

TEST_F(UpdaterInstallTest, DiskFullWhileUnpacking) {
    // 8 MiB of zeros pack into a few kilobytes: the download fits under the
    // limit, the unpacked file does not.
    ZipBuilder zip;
    zip.folder("Kestro Agent.app")
        .file("Kestro Agent.app/bin/kestro-agent", "x", 0755)
        .file("Kestro Agent.app/data", std::string(8 << 20, '\0'));
    service.releases().publish(kNew, zip.finish());
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ::setrlimit(RLIMIT_FSIZE, &small);
    bool ok = install();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_EQ(texts, (std::vector<std::string>{kStarting, "Installation impossible : espace disque insuffisant"}));
    expectUntouched("disk full");
}

TEST_F(UpdaterInstallTest, NotReplaceableIsSaidBeforeDownloading) {
    service.releases().publish(kNew, releaseArchive());
    if (::geteuid() != 0) {
        ::chmod(opt.c_str(), 0555);
        EXPECT_FALSE(install());
        ::chmod(opt.c_str(), 0755);
        ASSERT_EQ(texts.size(), 2u);
        EXPECT_EQ(texts[0], kStarting);
        EXPECT_TRUE(texts[1].starts_with("Installation impossible : ")) << texts[1];
        EXPECT_NE(texts[1].find(opt), std::string::npos) << texts[1];
        expectUntouched("read-only folder");
    }
    // A program outside any bundle: replacing "its folder" would replace
    // whatever holds it.
    options.executable = home.path() + "/build/kestro-agent";
    options.bundle.clear();
    fs::create_directories(home.path() + "/build");
    std::ofstream(options.executable) << "x";
    EXPECT_FALSE(install());
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_TRUE(texts[1].starts_with("Installation impossible : ")) << texts[1];
    EXPECT_EQ(service.releases().downloads(), 0u);
    expectUntouched("not in a bundle");
}

TEST_F(UpdaterInstallTest, InstallsRelaunchesAndAsksToQuit) {
    service.releases().publish(kNew, releaseArchive());
    service.releases().setUpperCaseDigest(true);  // the digest is compared without regard to case
    ASSERT_TRUE(install());
    EXPECT_EQ(texts, (std::vector<std::string>{kStarting, std::string("Mis à jour en ") + kNew + ", redémarrage…"}));
    EXPECT_EQ(readFile(bundle + "/bin/kestro-agent"), "#!/bin/sh\necho new\n");
    EXPECT_EQ(fs::status(bundle + "/bin/kestro-agent").permissions() & fs::perms::owner_exec, fs::perms::owner_exec);
    EXPECT_TRUE(fs::exists(bundle + "/NEW"));
    EXPECT_FALSE(fs::exists(bundle + "/OLD"));
    EXPECT_EQ(relaunched, (std::vector<std::vector<std::string>>{{bundle + "/bin/kestro-agent", "--after-update"}}));
    EXPECT_EQ(quits, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(300)}));
    expectNoLeftovers("after success");
}

// A bundle in a folder that is not ours (root's /opt) gets its contents
// swapped instead; seen from outside, the result is the same.
TEST_F(UpdaterInstallTest, InstallsIntoTheBundleItselfWhenOnlyItIsOurs) {
    service.releases().publish(kNew, releaseArchive());
    options.replaceContents = true;
    ASSERT_TRUE(install()) << (texts.empty() ? "" : texts.back());
    EXPECT_EQ(readFile(bundle + "/bin/kestro-agent"), "#!/bin/sh\necho new\n");
    EXPECT_TRUE(fs::exists(bundle + "/NEW"));
    EXPECT_FALSE(fs::exists(bundle + "/OLD"));
    EXPECT_EQ(relaunched, (std::vector<std::vector<std::string>>{{bundle + "/bin/kestro-agent", "--after-update"}}));
    expectNoLeftovers("after success");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(bundle)) ++entries;
    EXPECT_EQ(entries, 2u);  // bin and NEW: no working folder left inside
}

TEST_F(UpdaterInstallTest, ASlowButSteadyDownloadStillArrives) {
    // Eight pieces 400 ms apart: longer in total than the idle limit, never
    // silent for that long.
    options.idleSeconds = 1;
    service.releases().publish(kNew, releaseArchive(std::string(64 << 10, '#')));
    service.releases().setFault(ReleaseFault::trickle, 400);
    ASSERT_TRUE(install()) << (texts.empty() ? "" : texts.back());
    EXPECT_TRUE(fs::exists(bundle + "/NEW"));
}

TEST(BundleSwap, AFailedMoveInPutsTheOldBundleBack) {
    TempHome home;
    std::string target = home.path() + "/App.app", incoming = home.path() + "/new/App.app",
                aside = home.path() + "/aside";
    fs::create_directories(target);
    fs::create_directories(incoming);
    std::ofstream(target + "/old") << "old";
    int calls = 0;
    auto failSecond = [&](const std::string& from, const std::string& to) {
        if (++calls == 2) {
            errno = EIO;
            return -1;
        }
        return ::rename(from.c_str(), to.c_str());
    };
    auto reason = BundleSwap::replace(BundleSwap::Way::wholeFolder, target, incoming, aside, failSecond);
    ASSERT_TRUE(reason);
    EXPECT_NE(reason->find(strerror(EIO)), std::string::npos) << *reason;
    EXPECT_TRUE(fs::exists(target + "/old"));
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_TRUE(fs::exists(incoming));

    // Moving aside failing changes nothing at all.
    calls = 1;
    EXPECT_TRUE(BundleSwap::replace(BundleSwap::Way::wholeFolder, target, incoming, aside, failSecond));
    EXPECT_TRUE(fs::exists(target + "/old"));

    EXPECT_FALSE(BundleSwap::replace(BundleSwap::Way::wholeFolder, target, incoming, aside));
    EXPECT_FALSE(fs::exists(target + "/old"));
    EXPECT_FALSE(fs::exists(aside));
    EXPECT_FALSE(fs::exists(incoming));
}

}  // namespace

namespace {

// The contents way fails at every possible rename in turn; each time the
// bundle must come out exactly as it was.
TEST(BundleSwap, ContentsSwapFailingAtAnyStepLeavesTheOldBundle) {
    TempHome home;
    const std::string target = home.path() + "/App.app", work = target + "/.work", incoming = work + "/x/App.app",
                      aside = work + "/old";
    auto makeBundles = [&] {
        fs::remove_all(target);
        fs::create_directories(target + "/bin");
        fs::create_directories(incoming + "/bin");
        std::ofstream(target + "/bin/tool") << "old";
        std::ofstream(target + "/OLD") << "old";
        std::ofstream(incoming + "/bin/tool") << "new";
        std::ofstream(incoming + "/NEW") << "new";
    };
    // Two old entries out, two new ones in: four renames in a full swap.
    for (int failAt = 1; failAt <= 4; ++failAt) {
        makeBundles();
        int calls = 0;
        auto failing = [&](const std::string& from, const std::string& to) {
            if (++calls == failAt) {
                errno = ENOSPC;
                return -1;
            }
            return ::rename(from.c_str(), to.c_str());
        };
        ASSERT_TRUE(BundleSwap::replace(BundleSwap::Way::contents, target, incoming, aside, failing)) << failAt;
        EXPECT_EQ(readFile(target + "/bin/tool"), "old") << failAt;
        EXPECT_TRUE(fs::exists(target + "/OLD")) << failAt;
        EXPECT_FALSE(fs::exists(target + "/NEW")) << failAt;
        EXPECT_TRUE(fs::exists(work)) << failAt;  // the working folder is the caller's to remove
        EXPECT_FALSE(fs::exists(aside)) << failAt;
    }
    makeBundles();
    EXPECT_FALSE(BundleSwap::replace(BundleSwap::Way::contents, target, incoming, aside));
    EXPECT_EQ(readFile(target + "/bin/tool"), "new");
    EXPECT_TRUE(fs::exists(target + "/NEW"));
    EXPECT_FALSE(fs::exists(target + "/OLD"));
    EXPECT_FALSE(fs::exists(aside));
}

}  // namespace
