// The unpacker against hostile archives, each made here with the same
// library's writer: nothing may be written when any entry is refused.
#include "maintenance/archive_unpacker.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "temp_home.h"
#include "zip_builder.h"

namespace fs = std::filesystem;
using devservice::ZipBuilder;
using Outcome = ArchiveUnpacker::Outcome;

namespace {

class ArchiveUnpackerTest : public ::testing::Test {
protected:
    TempHome home;
    std::string out = home.path() + "/out";

    void SetUp() override { fs::create_directories(out); }

    ArchiveUnpacker::Result unpack(const std::string& zip, ArchiveUnpacker::Limits limits = ArchiveUnpacker::Limits()) {
        std::string path = home.write("archive.zip", zip);
        return ArchiveUnpacker(limits).unpack(path, out);
    }

    bool outIsEmpty() const { return fs::is_empty(out); }

    static mode_t modeOf(const std::string& path) {
        struct stat st {};
        ::lstat(path.c_str(), &st);
        return st.st_mode;
    }
};

TEST_F(ArchiveUnpackerTest, UnpacksABundleWithItsModesAndInnerLinks) {
    ZipBuilder zip;
    zip.folder("App.app")
        .folder("App.app/bin")
        .file("App.app/bin/tool", "#!/bin/sh\n", 0755)
        .file("App.app/readme", "hello", 0640)
        .folder("App.app/share", 0700)
        .symlink("App.app/share/tool", "../bin/tool")
        .symlink("App.app/current", "bin")
        .file("./App.app/dotted", "x");
    auto result = unpack(zip.finish());
    ASSERT_TRUE(result) << result.reason;
    EXPECT_EQ(modeOf(out + "/App.app/bin/tool") & 07777, 0755u);
    EXPECT_EQ(modeOf(out + "/App.app/readme") & 07777, 0640u);
    EXPECT_EQ(modeOf(out + "/App.app/share") & 07777, 0700u);
    EXPECT_TRUE(S_ISLNK(modeOf(out + "/App.app/share/tool")));
    EXPECT_EQ(fs::read_symlink(out + "/App.app/share/tool"), "../bin/tool");
    std::ifstream in(out + "/App.app/readme");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text, "hello");
    EXPECT_TRUE(fs::exists(out + "/App.app/dotted"));
}

TEST_F(ArchiveUnpackerTest, NeverKeepsSetUidSetGidOrSticky) {
    ZipBuilder zip;
    zip.folder("App.app", 01777).file("App.app/su", "x", 06755).file("App.app/sg", "x", 02711);
    ASSERT_TRUE(unpack(zip.finish()));
    EXPECT_EQ(modeOf(out + "/App.app/su") & 07777, 0755u);
    EXPECT_EQ(modeOf(out + "/App.app/sg") & 07777, 0711u);
    EXPECT_EQ(modeOf(out + "/App.app") & 07000, 0u);
}

// Each archive starts with a harmless file, so a refusal that came only when
// the bad entry is reached would leave that file behind.
TEST_F(ArchiveUnpackerTest, RefusesEveryHostileEntryBeforeWritingAnything) {
    struct Case {
        const char* what;
        std::function<void(ZipBuilder&)> add;
    };
    const Case cases[] = {
        {"absolute path", [](ZipBuilder& z) { z.file("/tmp/kestro-evil", "x"); }},
        {"dot-dot at the start", [](ZipBuilder& z) { z.file("../evil", "x"); }},
        {"dot-dot inside", [](ZipBuilder& z) { z.file("App.app/../../evil", "x"); }},
        {"dot-dot folder", [](ZipBuilder& z) { z.folder("App.app/.."); }},
        {"absolute link", [](ZipBuilder& z) { z.symlink("App.app/passwd", "/etc/passwd"); }},
        {"link climbing out", [](ZipBuilder& z) { z.symlink("App.app/up", "../../.."); }},
        {"link climbing just out", [](ZipBuilder& z) { z.symlink("App.app/up", "../.."); }},
        {"file through a link", [](ZipBuilder& z) { z.symlink("App.app/l", "bin").file("App.app/l/x", "x"); }},
        {"link through a link",
         [](ZipBuilder& z) { z.symlink("App.app/here", ".").symlink("App.app/esc", "here/../.."); }},
        {"link relying on a later link",
         [](ZipBuilder& z) { z.symlink("App.app/esc", "b/c/../../..").symlink("App.app/b", "."); }},
        {"character device", [](ZipBuilder& z) { z.special("App.app/tty", S_IFCHR | 0666); }},
        {"block device", [](ZipBuilder& z) { z.special("App.app/disk", S_IFBLK | 0666); }},
        {"socket", [](ZipBuilder& z) { z.special("App.app/sock", S_IFSOCK | 0644); }},
    };
    for (const auto& c : cases) {
        fs::remove_all(out);
        fs::create_directories(out);
        ZipBuilder zip;
        zip.folder("App.app").file("App.app/first", "harmless");
        c.add(zip);
        auto result = unpack(zip.finish());
        EXPECT_EQ(result.outcome, Outcome::refused) << c.what << ": " << result.reason;
        EXPECT_TRUE(outIsEmpty()) << c.what;
    }
    EXPECT_FALSE(fs::exists("/tmp/kestro-evil"));
    EXPECT_FALSE(fs::exists(home.path() + "/evil"));
}

// The zip reader itself turns a FIFO record into a plain file; whichever
// layer stops it, no FIFO may come out.
TEST_F(ArchiveUnpackerTest, NeverCreatesAFifo) {
    ZipBuilder zip;
    zip.folder("App.app").special("App.app/fifo", S_IFIFO | 0644);
    auto result = unpack(zip.finish());
    EXPECT_FALSE(S_ISFIFO(modeOf(out + "/App.app/fifo"))) << result.reason;
}

TEST_F(ArchiveUnpackerTest, BoundsEntryCountAndUnpackedSize) {
    ZipBuilder many;
    for (int i = 0; i < 20; ++i) many.file("f" + std::to_string(i), "x");
    std::string manyZip = many.finish();
    auto refused = unpack(manyZip, {.maxTotalBytes = 1 << 20, .maxEntries = 19});
    EXPECT_EQ(refused.outcome, Outcome::refused);
    EXPECT_TRUE(outIsEmpty());
    EXPECT_TRUE(unpack(manyZip, {.maxTotalBytes = 1 << 20, .maxEntries = 20}));

    // A compressible bomb: 3 MiB that pack into a few kilobytes.
    fs::remove_all(out);
    fs::create_directories(out);
    ZipBuilder bomb;
    bomb.file("a", std::string(3 << 20, 'a'));
    std::string bombZip = bomb.finish();
    EXPECT_LT(bombZip.size(), size_t(64 << 10));
    auto tooBig = unpack(bombZip, {.maxTotalBytes = 2 << 20, .maxEntries = 10});
    EXPECT_EQ(tooBig.outcome, Outcome::refused);
    EXPECT_TRUE(outIsEmpty());
}

TEST_F(ArchiveUnpackerTest, GarbageAndTruncatedArchivesAreUnreadable) {
    EXPECT_EQ(unpack("this is not a zip archive at all").outcome, Outcome::unreadable);
    EXPECT_EQ(unpack("").outcome, Outcome::unreadable);
    ZipBuilder zip;
    zip.folder("App.app").file("App.app/data", std::string(100000, 'z'));
    std::string whole = zip.finish();
    EXPECT_EQ(unpack(whole.substr(0, whole.size() / 2)).outcome, Outcome::unreadable);
    EXPECT_TRUE(outIsEmpty());
    // The in-memory check agrees with the file one.
    ArchiveUnpacker unpacker;
    EXPECT_TRUE(unpacker.check(whole.data(), whole.size()));
    EXPECT_EQ(unpacker.check("PK\x03\x04junk", 8).outcome, Outcome::unreadable);
}

TEST_F(ArchiveUnpackerTest, AFullDiskIsAWriteFailureNotAnUnreadableArchive) {
    ZipBuilder zip;
    zip.folder("App.app").file("App.app/big", std::string(4 << 20, 'b'));
    std::string path = home.write("archive.zip", zip.finish());
    // A file-size limit stands in for a full disk: writes past it fail.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 1 << 20;
    ::setrlimit(RLIMIT_FSIZE, &small);
    auto result = ArchiveUnpacker().unpack(path, out);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result.outcome, Outcome::writeFailed) << result.reason;
    EXPECT_EQ(result.error, EFBIG);
}

TEST(ArchiveUnpackerPaths, SplitsDropsDotsAndRefusesClimbing) {
    std::vector<std::string> parts;
    EXPECT_TRUE(ArchiveUnpacker::splitEntryPath("a//./b/", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(ArchiveUnpacker::splitEntryPath("./", parts));
    EXPECT_TRUE(parts.empty());
    EXPECT_TRUE(ArchiveUnpacker::splitEntryPath("a/..b/c..", parts));  // names that merely contain dots
    EXPECT_FALSE(ArchiveUnpacker::splitEntryPath("/a", parts));
    EXPECT_FALSE(ArchiveUnpacker::splitEntryPath("a/../b", parts));
    EXPECT_FALSE(ArchiveUnpacker::splitEntryPath("..", parts));
    EXPECT_FALSE(ArchiveUnpacker::splitEntryPath("", parts));
}

}  // namespace
