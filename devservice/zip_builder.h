#pragma once

#include <sys/types.h>

#include <string>

struct archive;

namespace devservice {

// Builds a zip archive in memory with the same library that unpacks it, so
// release archives and hostile ones are made alike. Entries keep the exact
// names, modes and link targets given, including ones no sane packer writes.
class ZipBuilder {
public:
    ZipBuilder();
    ~ZipBuilder();
    ZipBuilder(const ZipBuilder&) = delete;
    ZipBuilder& operator=(const ZipBuilder&) = delete;

    ZipBuilder& file(const std::string& name, const std::string& content, mode_t mode = 0644);
    ZipBuilder& folder(const std::string& name, mode_t mode = 0755);
    ZipBuilder& symlink(const std::string& name, const std::string& target);
    // An entry of another file type (a device, a FIFO): zip writers refuse
    // them, so it is written as an empty file whose recorded type is then
    // changed in the central directory, as a crafted archive would hold it.
    ZipBuilder& special(const std::string& name, mode_t typeAndMode);

    // Every file and folder under `root`, named `prefix` + their path below
    // it, modes kept, links kept as links, in name order (a reproducible
    // archive: fixed times, no owners).
    ZipBuilder& tree(const std::string& root, const std::string& prefix);

    // The finished archive; the builder takes no more entries afterwards.
    std::string finish();

private:
    void add(const std::string& name, mode_t mode, const std::string& content, const std::string& linkTarget);

    archive* m_archive = nullptr;
    std::string m_bytes;
    std::string m_patches;  // "name\0mode\0" records of `special` entries
};

}  // namespace devservice
