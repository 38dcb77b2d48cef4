// The update archive unpacker on arbitrary archives, unpacked for real into a
// folder deep inside a private sandbox: whatever the archive holds, nothing is
// ever written outside that folder, no link inside it leads out, no set-uid
// bit survives, and an archive the check refuses leaves the folder empty.
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "finding.h"
#include "maintenance/archive_unpacker.h"

namespace fs = std::filesystem;

namespace {

// sandbox/in.zip and sandbox/a/b/dest: a path that climbs out of dest by up
// to two levels still lands in the sandbox, where it is seen.
struct Sandbox {
    fs::path root, archive, dest;
    Sandbox() {
        std::string templ = (fs::temp_directory_path() / "kestro-fuzz-unpack-XXXXXX").string();
        std::vector<char> name(templ.begin(), templ.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) throw std::runtime_error("no sandbox");
        root = name.data();
        archive = root / "in.zip";
        dest = root / "a" / "b" / "dest";
    }
    ~Sandbox() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
};

Sandbox& sandbox() {
    static Sandbox box;
    return box;
}

bool inside(const fs::path& path, const fs::path& folder) {
    auto rel = path.lexically_normal().lexically_relative(folder);
    return !rel.empty() && *rel.begin() != "..";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Sandbox& box = sandbox();
    std::error_code ec;
    fs::remove_all(box.root / "a", ec);
    fs::create_directories(box.dest);
    std::ofstream(box.archive, std::ios::binary).write(reinterpret_cast<const char*>(data), std::streamsize(size));

    ArchiveUnpacker unpacker(ArchiveUnpacker::Limits{.maxTotalBytes = 8 << 20, .maxEntries = 2000});
    bool passes = static_cast<bool>(unpacker.check(data, size));
    ArchiveUnpacker::Result result = unpacker.unpack(box.archive.string(), box.dest.string());
    FUZZ_CHECK(passes || !result, "unpacked an archive the check refuses");

    // Nothing beside the folder, at any level of the sandbox.
    for (const auto& entry : fs::directory_iterator(box.root)) FUZZ_CHECK(entry.path() == box.archive || entry.path() == box.root / "a", "a file written outside the folder");
    for (const auto& entry : fs::directory_iterator(box.root / "a")) FUZZ_CHECK(entry.path() == box.root / "a" / "b", "a file written outside the folder");
    for (const auto& entry : fs::directory_iterator(box.root / "a" / "b")) FUZZ_CHECK(entry.path() == box.dest, "a file written outside the folder");

    if (!passes) FUZZ_CHECK(fs::is_empty(box.dest), "a refused archive wrote into the folder");
    for (auto it = fs::recursive_directory_iterator(box.dest, fs::directory_options::none, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) break;
        struct stat st {};
        FUZZ_CHECK(::lstat(it->path().c_str(), &st) == 0, "an entry that vanished");
        FUZZ_CHECK((st.st_mode & (S_ISUID | S_ISGID | S_ISVTX)) == 0, "a set-uid, set-gid or sticky bit kept");
        if (S_ISLNK(st.st_mode)) {
            fs::path target = fs::read_symlink(it->path(), ec);
            fs::path resolved = target.is_absolute() ? target : it->path().parent_path() / target;
            FUZZ_CHECK(inside(resolved, box.dest), "a link that leads out of the folder");
        }
        FUZZ_CHECK(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode), "a device, FIFO or socket");
    }
    return 0;
}
