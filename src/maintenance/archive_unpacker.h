#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Unpacks a release archive (zip) into a folder, and refuses a hostile one
// before writing a single byte:
//
//   pass 1  read every entry header: path, type, link target, size
//           -> refuse absolute paths, "..", hard links, devices, FIFOs,
//              sockets, links leaving the folder, entries reached through a
//              link, too many entries, too many bytes announced
//   pass 2  extract, counting the bytes really written against the same bound
//
// Permission bits are kept (the executable stays executable) but set-uid,
// set-gid and sticky bits never are.
class ArchiveUnpacker {
public:
    struct Limits {
        uint64_t maxTotalBytes = uint64_t(4) << 30;  // 4 GiB unpacked
        size_t maxEntries = 100000;
    };

    enum class Outcome {
        ok,
        unreadable,   // not a zip archive, damaged, encrypted
        refused,      // readable, but holds an entry that must not be written
        writeFailed,  // the disk refused (full, quota, permissions)
    };

    struct Result {
        Outcome outcome = Outcome::ok;
        std::string reason;  // for logs and tests, empty when ok
        int error = 0;       // errno of a write failure
        explicit operator bool() const { return outcome == Outcome::ok; }
    };

    ArchiveUnpacker();
    explicit ArchiveUnpacker(Limits limits);

    // Pass 1 only, on an archive held in memory: the pure entry point for
    // fuzzing, touching no file.
    Result check(const void* data, size_t size) const;

    // Pass 1 only, on a file.
    Result checkFile(const std::string& archivePath) const;

    // Both passes: `destination` must be an existing folder; nothing is
    // written into it unless the whole archive passed the check. After a
    // failed extraction the folder holds a partial tree the caller removes.
    Result unpack(const std::string& archivePath, const std::string& destination) const;

    // The components of an entry path, "." and empty ones dropped; nothing
    // when the path is absolute or climbs with "..".
    static bool splitEntryPath(std::string_view path, std::vector<std::string>& components);

private:
    Limits m_limits;
};
