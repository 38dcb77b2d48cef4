#include "zip_builder.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace devservice {
namespace {

// All entries carry this time, so the same tree always gives the same bytes.
constexpr time_t kFixedTime = 1700000000;

la_ssize_t collect(archive*, void* user, const void* buffer, size_t length) {
    static_cast<std::string*>(user)->append(static_cast<const char*>(buffer), length);
    return static_cast<la_ssize_t>(length);
}

uint16_t le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8));
}

}  // namespace

ZipBuilder::ZipBuilder() : m_archive(archive_write_new()) {
    archive_write_set_format_zip(m_archive);
    archive_write_set_bytes_in_last_block(m_archive, 1);
    if (archive_write_open(m_archive, &m_bytes, nullptr, &collect, nullptr) != ARCHIVE_OK)
        throw std::runtime_error("zip writer: cannot open");
}

ZipBuilder::~ZipBuilder() {
    if (m_archive) archive_write_free(m_archive);
}

void ZipBuilder::add(const std::string& name, mode_t mode, const std::string& content, const std::string& linkTarget) {
    if (!m_archive) throw std::logic_error("zip writer: already finished");
    archive_entry* entry = archive_entry_new();
    archive_entry_set_pathname(entry, name.c_str());
    archive_entry_set_mode(entry, mode);
    archive_entry_set_mtime(entry, kFixedTime, 0);
    if (S_ISLNK(mode)) archive_entry_set_symlink(entry, linkTarget.c_str());
    if (S_ISREG(mode)) archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
    if (archive_write_header(m_archive, entry) != ARCHIVE_OK) {
        std::string error = archive_error_string(m_archive) ? archive_error_string(m_archive) : "?";
        archive_entry_free(entry);
        throw std::runtime_error("zip writer: " + name + ": " + error);
    }
    if (!content.empty()) archive_write_data(m_archive, content.data(), content.size());
    archive_entry_free(entry);
}

ZipBuilder& ZipBuilder::file(const std::string& name, const std::string& content, mode_t mode) {
    add(name, S_IFREG | (mode & 07777), content, "");
    return *this;
}

ZipBuilder& ZipBuilder::folder(const std::string& name, mode_t mode) {
    add(name.ends_with("/") ? name : name + "/", S_IFDIR | (mode & 07777), "", "");
    return *this;
}

ZipBuilder& ZipBuilder::symlink(const std::string& name, const std::string& target) {
    add(name, S_IFLNK | 0777, "", target);
    return *this;
}

ZipBuilder& ZipBuilder::special(const std::string& name, mode_t typeAndMode) {
    add(name, S_IFREG | 0644, "", "");
    m_patches += name + '\0' + std::to_string(typeAndMode) + '\0';
    return *this;
}

ZipBuilder& ZipBuilder::tree(const std::string& root, const std::string& prefix) {
    std::vector<fs::path> paths;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        paths.push_back(it->path());
    std::sort(paths.begin(), paths.end());
    if (!prefix.empty()) folder(prefix, 0755);
    for (const auto& p : paths) {
        std::string name = prefix + (prefix.empty() ? "" : "/") + fs::relative(p, root).string();
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) throw std::runtime_error("zip writer: cannot read " + p.string());
        if (S_ISLNK(st.st_mode)) {
            symlink(name, fs::read_symlink(p).string());
        } else if (S_ISDIR(st.st_mode)) {
            folder(name, st.st_mode & 07777);
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(p, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            file(name, bytes.str(), st.st_mode & 07777);
        }
    }
    return *this;
}

std::string ZipBuilder::finish() {
    if (m_archive) {
        archive_write_close(m_archive);
        archive_write_free(m_archive);
        m_archive = nullptr;
        // Rewrite the recorded type of `special` entries: the high half of
        // "external attributes" (offset 38) of their central directory record.
        const std::string& patches = m_patches;
        for (size_t at = 0; at < patches.size();) {
            std::string name = patches.c_str() + at;
            at += name.size() + 1;
            uint32_t mode = static_cast<uint32_t>(std::stoul(patches.c_str() + at));
            at += std::strlen(patches.c_str() + at) + 1;
            for (size_t pos = m_bytes.find("PK\x01\x02"); pos != std::string::npos; pos = m_bytes.find("PK\x01\x02", pos + 4)) {
                if (pos + 46 > m_bytes.size()) break;
                uint16_t nameLength = le16(m_bytes, pos + 28);
                if (m_bytes.compare(pos + 46, nameLength, name) != 0) continue;
                for (int i = 0; i < 2; ++i) m_bytes[pos + 40 + i] = static_cast<char>((mode >> (8 * i)) & 0xff);
            }
        }
    }
    return m_bytes;
}

}  // namespace devservice
