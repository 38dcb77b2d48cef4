// The file layer under the local tools, on real temporary folders.
#include "tools/local.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "core/tool_error.h"
#include "temp_home.h"
#include "thrown.h"
#include "tools/file_extensions.h"

namespace fs = std::filesystem;

namespace {

// A folder under the temporary home, filled by the test.
struct Folder {
    std::string path;
    explicit Folder(const TempHome& home, const std::string& name = "dossier") : path(home.path() + "/" + name) {
        fs::create_directories(path);
    }
    std::string file(const std::string& name, const std::string& content = "") const {
        std::string p = path + "/" + name;
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }
};

std::vector<std::string> names(const std::vector<LocalFile>& files) {
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(f.name);
    return out;
}


TEST(LocalExpand, PathsAsAssistantsWriteThem) {
    TempHome home;
    const std::string h = home.path();
    struct Case {
        std::string in, out;
    } cases[] = {
        {"  file:///Users/me/Desktop/SEQ07/  ", "/Users/me/Desktop/SEQ07"},
        {"file:///tmp/My%20Folder", "/tmp/My%20Folder"},
        {"~", h},
        {"~/", h},
        {"~/a//b/./c/", h + "/a/b/c"},
        {"~/Desktop", h + "/Desktop"},
        {"file://~/Desktop", h + "/Desktop"},
        {"\t\n ~/x \r\n", h + "/x"},
        {"\u00a0\u2003/tmp/a\u3000\u2028", "/tmp/a"},  // no-break, em and ideographic spaces, line separator
        {"/a/b/../c", "/a/c"},
        {"/a/../../..", "/"},
        {"/..", "/"},
        {"//", "/"},
        {"/", "/"},
        {"/a/.", "/a"},
        {"/./a/./", "/a"},
        {"a/../b", "a/../b"},  // relative paths stay relative
        {"../x/", "../x"},
        {"./a", "a"},
        {"./", "."},
        {"a b/ c ", "a b/ c"},
        {"/tmp/Séquence 07/", "/tmp/Séquence 07"},
        {"FILE:///tmp", "FILE:/tmp"},  // only the lower-case prefix is a file URL
        {"~other/x", h + "other/x"},   // no lookup of other users' homes
        {"/a/~", "/a/~"},
        {"", ""},
        {"   ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Local::expand(c.in), c.out) << "[" << c.in << "]";
}

TEST(LocalStat, RegularFilesOnlyWithTheExpandedPathInErrors) {
    TempHome home;
    Folder dir(home);
    dir.file("Plan_03.Final.JPG", "12345");
    LocalFile f = Local::stat(" ~/dossier/Plan_03.Final.JPG ");
    EXPECT_EQ(f.name, "Plan_03.Final.JPG");
    EXPECT_EQ(f.path, dir.path + "/Plan_03.Final.JPG");
    EXPECT_EQ(f.ext, "jpg");
    EXPECT_EQ(f.size, 5);

    ToolError missing = thrown([&] { Local::stat("~/dossier//absent.png/"); });
    EXPECT_EQ(missing.code, "file_not_found");
    EXPECT_EQ(missing.message, "Fichier introuvable : " + dir.path + "/absent.png");
    EXPECT_EQ(thrown([&] { Local::stat(""); }).message, "Fichier introuvable : ");

    ToolError folder = thrown([&] { Local::stat("~/dossier/"); });
    EXPECT_EQ(folder.code, "not_a_file");
    EXPECT_EQ(folder.message, "Pas un fichier : " + dir.path);

    // Reading a pipe would block the server for ever.
    ASSERT_EQ(::mkfifo((dir.path + "/pipe.mp4").c_str(), 0600), 0);
    EXPECT_EQ(thrown([&] { Local::stat(dir.path + "/pipe.mp4"); }).code, "not_a_file");

    // An embedded NUL must not name the file before it.
    EXPECT_EQ(thrown([&] { Local::stat(dir.path + "/Plan_03.Final.JPG" + std::string(1, '\0') + "x"); }).code,
              "file_not_found");
}

TEST(LocalStat, LinksAreFollowed) {
    TempHome home;
    Folder dir(home);
    dir.file("target.png", std::string(1000, 'x'));
    fs::create_symlink(dir.path + "/target.png", dir.path + "/link.png");
    fs::create_symlink(dir.path + "/nowhere.png", dir.path + "/dangling.png");
    fs::create_symlink(dir.path, dir.path + "/folder-link.png");
    LocalFile f = Local::stat(dir.path + "/link.png");
    EXPECT_EQ(f.name, "link.png");
    EXPECT_EQ(f.size, 1000) << "the size of what gets sent, not of the link";
    EXPECT_EQ(thrown([&] { Local::stat(dir.path + "/dangling.png"); }).code, "file_not_found");
    EXPECT_EQ(thrown([&] { Local::stat(dir.path + "/folder-link.png"); }).code, "not_a_file");
}

TEST(LocalList, FiltersHiddenFilesSubFoldersAndExtensionsInBrowserOrder) {
    TempHome home;
    Folder dir(home);
    dir.file("plan_10.jpg");
    dir.file("plan_2.JPG", "ab");
    dir.file(".hidden.jpg");
    dir.file("notes.txt");
    dir.file("jpg");  // no extension at all
    dir.file(".jpg");
    fs::create_directories(dir.path + "/x.jpg");
    dir.file("x.jpg/inside.jpg");  // never entered

    auto [d, files] = Local::list("file://" + dir.path + "/", {"jpg"});
    EXPECT_EQ(d, dir.path);
    ASSERT_EQ(names(files), (std::vector<std::string>{"plan_2.JPG", "plan_10.jpg"}));
    EXPECT_EQ(files[0].ext, "jpg");
    EXPECT_EQ(files[0].path, dir.path + "/plan_2.JPG");
    EXPECT_EQ(files[0].size, 2);
    EXPECT_LE(files[0].modified, std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()));

    EXPECT_TRUE(Local::list(dir.path, {"png"}).second.empty()) << "no match is not an error";
    EXPECT_TRUE(Local::list(dir.path, {}).second.empty());
}

TEST(LocalList, OrderIgnoresCaseAndComparesDigitRunsByValue) {
    TempHome home;
    Folder dir(home);
    for (const char* n :
         {"b.png", "Plan_3.png", "plan_3.PNG", "plan_20.png", "A.png", "plan_100.png", "plan_3a.png", "plan_1.png",
          "éa.png", "ea.png", "Z.png", "shot_99999999999999999999999.png", "shot_100000000000000000000000.png"})
        dir.file(n);
    auto got = names(Local::list(dir.path, {"png"}).second);
    ASSERT_EQ(got.size(), 13u);
    auto pos = [&](const std::string& n) { return std::find(got.begin(), got.end(), n) - got.begin(); };
    EXPECT_LT(pos("A.png"), pos("b.png"));
    EXPECT_LT(pos("b.png"), pos("ea.png"));
    EXPECT_LT(pos("ea.png"), pos("éa.png")) << "accents count after the letter";
    EXPECT_LT(pos("éa.png"), pos("plan_1.png"));
    EXPECT_LT(pos("plan_1.png"), pos("Plan_3.png"));
    EXPECT_EQ(std::abs(pos("Plan_3.png") - pos("plan_3.PNG")), 1) << "names equal but for case sit together";
    EXPECT_LT(pos("plan_3.PNG"), pos("plan_3a.png"));
    EXPECT_LT(pos("plan_3a.png"), pos("plan_20.png"));
    EXPECT_LT(pos("plan_20.png"), pos("plan_100.png"));
    EXPECT_LT(pos("shot_99999999999999999999999.png"), pos("shot_100000000000000000000000.png"))
        << "digit runs too long for any integer still compare by value";
    EXPECT_EQ(got.back(), "Z.png");
}

TEST(LocalList, NamesEqualButForCaseKeepTheDirectoryOrder) {
    TempHome home;
    Folder dir(home);
    for (const char* n : {"plan_3.png", "PLAN_3.png", "Plan_3.PNG", "plan_3.Png", "pLaN_3.pNg", "a.png", "z.png"})
        dir.file(n);
    std::vector<std::string> listingOrder;
    for (const auto& entry : fs::directory_iterator(dir.path)) {
        std::string n = entry.path().filename().string();
        if (n != "a.png" && n != "z.png") listingOrder.push_back(n);
    }
    auto got = names(Local::list(dir.path, {"png"}).second);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got.front(), "a.png");
    EXPECT_EQ(got.back(), "z.png");
    EXPECT_EQ(std::vector<std::string>(got.begin() + 1, got.end() - 1), listingOrder) << "a stable sort";
}

TEST(LocalList, LinksAreFollowedAndDanglingOnesSkipped) {
    TempHome home;
    Folder dir(home);
    Folder elsewhere(home, "ailleurs");
    elsewhere.file("real.mp4", std::string(300, 'v'));
    fs::create_directories(elsewhere.path + "/sub.mp4");
    fs::create_symlink(elsewhere.path + "/real.mp4", dir.path + "/link.mp4");
    fs::create_symlink(elsewhere.path + "/sub.mp4", dir.path + "/folder.mp4");
    fs::create_symlink(elsewhere.path + "/gone.mp4", dir.path + "/dangling.mp4");
    fs::create_symlink("loop.mp4", dir.path + "/loop.mp4");
    ASSERT_EQ(::mkfifo((dir.path + "/pipe.mp4").c_str(), 0600), 0);

    auto files = Local::list(dir.path, {"mp4"}).second;
    ASSERT_EQ(names(files), (std::vector<std::string>{"link.mp4"}));
    EXPECT_EQ(files[0].path, dir.path + "/link.mp4");
    EXPECT_EQ(files[0].size, 300);

    // A link to a folder is a folder to list.
    fs::create_symlink(elsewhere.path, dir.path + "/ailleurs-link");
    EXPECT_EQ(names(Local::list(dir.path + "/ailleurs-link", {"mp4"}).second), (std::vector<std::string>{"real.mp4"}));
}

TEST(LocalList, MissingFoldersFilesAndOddPathsAreNotFound) {
    TempHome home;
    Folder dir(home);
    dir.file("a.jpg");
    ToolError empty = thrown([] { Local::list("", {"jpg"}); });
    EXPECT_EQ(empty.code, "dir_not_found");
    EXPECT_EQ(empty.message, "Dossier introuvable : ");
    EXPECT_EQ(thrown([&] { Local::list("~/absent/", {"jpg"}); }).message,
              "Dossier introuvable : " + home.path() + "/absent");
    EXPECT_EQ(thrown([&] { Local::list(dir.path + "/a.jpg", {"jpg"}); }).code, "dir_not_found");
    EXPECT_EQ(thrown([&] { Local::list(dir.path + std::string(1, '\0'), {"jpg"}); }).code, "dir_not_found");
    fs::create_symlink(dir.path + "/gone", dir.path + "/dangling");
    EXPECT_EQ(thrown([&] { Local::list(dir.path + "/dangling", {"jpg"}); }).code, "dir_not_found");
}

// Runs `check` where permissions bind: in this process, or, when the tests
// run as root, in a child that has given up root for "nobody".
bool whereAccessIsChecked(const std::function<bool()>& check) {
    if (::geteuid() != 0) return check();
    pid_t pid = ::fork();
    if (pid == 0) {
        bool ok = ::setgid(65534) == 0 && ::setuid(65534) == 0 && check();
        ::_exit(ok ? 0 : 1);
    }
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(LocalList, UnreadableFoldersListNothing) {
    TempHome home;
    ::chmod(home.path().c_str(), 0755);
    Folder closed(home, "ferme");
    closed.file("a.jpg");
    Folder noSearch(home, "sans-acces");
    noSearch.file("b.jpg");
    ::chmod(closed.path.c_str(), 0);
    ::chmod(noSearch.path.c_str(), 0444);  // names readable, entries not reachable
    bool ok = whereAccessIsChecked([&] {
        auto closedFiles = Local::list(closed.path, {"jpg"});
        auto noSearchFiles = Local::list(noSearch.path, {"jpg"});
        bool statRefused = false;
        try {
            Local::stat(noSearch.path + "/b.jpg");
        } catch (const ToolError& e) {
            statRefused = e.code == "file_not_found";
        }
        return closedFiles.first == closed.path && closedFiles.second.empty() && noSearchFiles.second.empty() &&
               statRefused;
    });
    ::chmod(closed.path.c_str(), 0755);
    ::chmod(noSearch.path.c_str(), 0755);
    EXPECT_TRUE(ok) << "an unreadable folder lists nothing, and is no crash";
}

TEST(LocalList, NonAsciiNamesAreKeptAsTheyAre) {
    TempHome home;
    Folder dir(home, "Séquence 07 — nuit");
    const std::string composed = "\u00e9t\u00e9.png";      // été, precomposed
    const std::string decomposed = "e\u0301te\u0301.png";  // été, combining accents
    for (const std::string& n : {composed, decomposed, std::string("🎬 plan 4.PNG"), std::string("プラン12.png"),
                                 std::string("plan\u200b5.png")})
        dir.file(n);
    dir.file("bad\xff\xfe.png");  // not UTF-8: cannot be named in a reply, so not listed
    auto [d, files] = Local::list("~/Séquence 07 — nuit", {"png"});
    EXPECT_EQ(d, dir.path);
    std::set<std::string> got;
    for (const auto& f : files) {
        got.insert(f.name);
        EXPECT_EQ(f.path, dir.path + "/" + f.name);
    }
    EXPECT_EQ(got, (std::set<std::string>{composed, decomposed, "🎬 plan 4.PNG", "プラン12.png", "plan\u200b5.png"}));
}

TEST(LocalList, ExtensionsAreLowerCasedBeyondAscii) {
    TempHome home;
    Folder dir(home);
    dir.file("a.M\u212AV");  // KELVIN SIGN lower-cases to k
    dir.file("b.mkv.txt");
    auto files = Local::list(dir.path, {"mkv"}).second;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].ext, "mkv");
}

TEST(LocalTables, KindsAndTypeFilters) {
    std::set<std::string> seen;
    for (const auto* table : {&kImageExts, &kVideoExts, &kAudioExts, &kDocExts})
        for (const auto& e : *table) EXPECT_TRUE(seen.insert(e).second) << e << " in two kind tables";
    EXPECT_EQ(seen.size(), 29u);
    EXPECT_EQ(Local::exts(std::nullopt), Local::exts("all"));
    EXPECT_EQ(Local::exts("all").size(), 29u);
    EXPECT_EQ(Local::exts("all").front(), "jpg");
    EXPECT_EQ(Local::exts("all").back(), "ai");
    EXPECT_EQ(Local::exts("image"), kImageExts);
    EXPECT_EQ(Local::exts("video"), kVideoExts);
    EXPECT_EQ(Local::exts("audio"), kAudioExts);
    EXPECT_EQ(Local::exts("document"), kDocExts);
    for (const char* word : {"Image", "images", "", " video", "bogus"}) EXPECT_EQ(Local::exts(word).size(), 29u);

    EXPECT_EQ(Local::kind("jpg"), "image");
    EXPECT_EQ(Local::kind("m4v"), "video");
    EXPECT_EQ(Local::kind("flac"), "audio");
    EXPECT_EQ(Local::kind("psd"), "document");
    EXPECT_EQ(Local::kind("JPG"), std::nullopt) << "callers lower-case first";
    EXPECT_EQ(Local::kind(".jpg"), std::nullopt);
    EXPECT_EQ(Local::kind("heic"), std::nullopt);
    for (const auto& e : kPlanExts) EXPECT_TRUE(Local::kind(e) == "image" || Local::kind(e) == "video") << e;
    for (const auto& e : kCardImageExts) EXPECT_EQ(Local::kind(e), "image") << e;
}

TEST(LocalNames, PlanNumberGuesses) {
    struct Case {
        std::string name;
        std::optional<int> number;
    } cases[] = {
        {"plan_03.jpg", 3},
        {"03_forum.png", 3},
        {"P3.jpg", 3},
        {"p12_intro.mov", 12},  // "_" is a word character: not the whole word P12
        {"Plan 7 - nuit.png", 7},
        {"PLAN-12.jpg", 12},
        {"plan007.jpg", 7},
        {"plan_003.jpg", 3},
        {"seq2_plan4.jpg", 4},
        {"v2_plan_05.jpg", 5},
        {"seq2 P4.jpg", 4},
        {"shot1234.jpg", 123},
        {"2024_forum.png", 202},
        {"plan_99999999999999999999999999.jpg", 999},
        {"plan_03.final.jpg", 3},
        {"plan 1\t\u00a02.jpg", 1},
        {"plan\u20035.png", 5},  // \s takes any Unicode space
        {"forum.jpg", std::nullopt},
        {"plan.jpg", std::nullopt},
        {"shot.mp4", std::nullopt},  // the extension is not part of the name's number
        {".hidden", std::nullopt},
        {"", std::nullopt},
        {"plan_\u0663.jpg", std::nullopt},  // an Arabic-Indic digit is matched but is no ASCII number
        {"\u0663 plan_4.jpg", 4},
        {"🎬 plan 4.PNG", 4},
        {"プラン12.png", 12},
        {"bad\xff\xfe\x37.png", 7},  // not UTF-8, then the digit 7
    };
    for (const auto& c : cases) EXPECT_EQ(Local::planNumber(c.name), c.number) << c.name;
}

TEST(LocalNames, StemAsPrompt) {
    struct Case {
        std::string name, prompt;
    } cases[] = {
        {"forum--nuit_01.png", "forum nuit 01"},
        {"_forum-nuit_.png", " forum nuit "},
        {"César_—_portrait.jpg", "César — portrait"},
        {"Plan 7 - nuit.final.png", "Plan 7   nuit.final"},
        {"a_-_b", "a b"},
        {"sans extension", "sans extension"},
        {".hidden", ".hidden"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(Local::stemAsPrompt(c.name), c.prompt) << c.name;
}

TEST(LocalNames, IsoDatesInUtcWithWholeSeconds) {
    using namespace std::chrono;
    EXPECT_EQ(Local::iso(sys_seconds{}), "1970-01-01T00:00:00Z");
    EXPECT_EQ(Local::iso(sys_days{2026y / 12 / 8} + 12h + 2min + 7s), "2026-12-08T12:02:07Z");
    EXPECT_EQ(Local::iso(sys_seconds{-1s}), "1969-12-31T23:59:59Z");
    EXPECT_EQ(Local::iso(sys_seconds{sys_days{999y / 1 / 2}}), "0999-01-02T00:00:00Z");
    EXPECT_EQ(Local::iso(sys_seconds{sys_days{3000y / 1 / 1}}), "3000-01-01T00:00:00Z")
        << "beyond a nanosecond clock's range";
}

TEST(LocalList, FilesDatedFarInTheFutureKeepTheirDate) {
    TempHome home;
    Folder dir(home);
    std::string p = dir.file("futur.png");
    timespec times[2] = {{13569465600, 0}, {13569465600, 0}};  // 2400-01-01
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
    auto files = Local::list(dir.path, {"png"}).second;
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(Local::iso(files[0].modified), "2400-01-01T00:00:00Z");
}

}  // namespace
