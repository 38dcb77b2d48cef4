#include "maintenance/archive_unpacker.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>

namespace {

using Outcome = ArchiveUnpacker::Outcome;
using Result = ArchiveUnpacker::Result;

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

Result fail(Outcome outcome, std::string reason, int error = 0) { return {outcome, std::move(reason), error}; }

std::string joined(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    return out;
}

// Only zip: the release is a zip, and every other format the library knows
// is attack surface we do not need.
Reader newReader() {
    Reader reader(archive_read_new());
    if (reader) archive_read_support_format_zip(reader.get());
    return reader;
}

struct Entry {
    std::vector<std::string> parts;  // empty for the archive's own root ("./")
    bool isLink = false;
    std::string linkTarget;
};

class Survey {
public:
    explicit Survey(const ArchiveUnpacker::Limits& limits) : m_limits(limits) {}

    // Reads every header of an opened archive, refusing what may not be written.
    Result read(archive* a) {
        for (;;) {
            archive_entry* entry = nullptr;
            int rc = archive_read_next_header(a, &entry);
            if (rc == ARCHIVE_EOF) break;
            if (rc < ARCHIVE_WARN) return fail(Outcome::unreadable, errorOf(a));
            if (Result r = add(entry); !r) return r;
            // Skipping reads the data in a streamed archive, so damage in it
            // shows up here rather than halfway through the extraction.
            if (archive_read_data_skip(a) < ARCHIVE_WARN) return fail(Outcome::unreadable, errorOf(a));
        }
        if (m_entries.empty()) return fail(Outcome::unreadable, "empty archive");
        return checkLinks();
    }

    const std::vector<Entry>& entries() const { return m_entries; }

    static std::string errorOf(archive* a) {
        const char* text = archive_error_string(a);
        return text ? text : "archive error";
    }

private:
    Result add(archive_entry* entry) {
        if (++m_count > m_limits.maxEntries) return fail(Outcome::refused, "too many entries");
        const char* name = archive_entry_pathname(entry);
        if (!name) return fail(Outcome::refused, "entry without a name");
        if (archive_entry_is_encrypted(entry)) return fail(Outcome::unreadable, "encrypted entry");
        Entry e;
        if (!ArchiveUnpacker::splitEntryPath(name, e.parts)) return fail(Outcome::refused, std::string("path leaves the folder: ") + name);
        if (archive_entry_hardlink(entry)) return fail(Outcome::refused, std::string("hard link: ") + name);
        switch (archive_entry_filetype(entry)) {
            case AE_IFREG:
            case AE_IFDIR:
                break;
            case AE_IFLNK: {
                const char* target = archive_entry_symlink(entry);
                if (!target || !*target) return fail(Outcome::refused, std::string("link without a target: ") + name);
                e.isLink = true;
                e.linkTarget = target;
                break;
            }
            default:
                return fail(Outcome::refused, std::string("device, FIFO or socket: ") + name);
        }
        if (e.parts.empty() && archive_entry_filetype(entry) != AE_IFDIR)
            return fail(Outcome::refused, std::string("entry names the folder itself: ") + name);
        if (archive_entry_size_is_set(entry)) {
            int64_t size = archive_entry_size(entry);
            if (size < 0) return fail(Outcome::unreadable, std::string("negative size: ") + name);
            m_bytes += static_cast<uint64_t>(size);
            if (m_bytes > m_limits.maxTotalBytes) return fail(Outcome::refused, "unpacked size over the limit");
        }
        if (e.isLink) m_links.insert(joined(e.parts, e.parts.size()));
        m_entries.push_back(std::move(e));
        return {};
    }

    // With every link known, an entry may not sit below a link (it would be
    // written wherever the link points), and a link may only point inside
    // the folder. Climbing with ".." after passing through another link is
    // refused too: the kernel climbs from where that link leads, which the
    // names alone cannot tell.
    Result checkLinks() const {
        for (const Entry& e : m_entries) {
            for (size_t n = 1; n < e.parts.size(); ++n)
                if (m_links.count(joined(e.parts, n)))
                    return fail(Outcome::refused, "entry below a link: " + joined(e.parts, e.parts.size()));
            if (e.isLink && !linkStaysInside(e))
                return fail(Outcome::refused, "link leaves the folder: " + joined(e.parts, e.parts.size()) + " -> " + e.linkTarget);
        }
        return {};
    }

    bool linkStaysInside(const Entry& link) const {
        if (link.linkTarget.front() == '/') return false;
        std::vector<std::string> walk(link.parts.begin(), link.parts.end() - 1);
        bool throughLink = false;
        size_t start = 0;
        const std::string& target = link.linkTarget;
        while (start <= target.size()) {
            size_t slash = target.find('/', start);
            if (slash == std::string::npos) slash = target.size();
            std::string part = target.substr(start, slash - start);
            start = slash + 1;
            if (part.empty() || part == ".") continue;
            if (part == "..") {
                if (walk.empty() || throughLink) return false;
                walk.pop_back();
                continue;
            }
            walk.push_back(part);
            if (m_links.count(joined(walk, walk.size()))) throughLink = true;
        }
        return true;
    }

    const ArchiveUnpacker::Limits& m_limits;
    std::vector<Entry> m_entries;
    std::set<std::string> m_links;
    size_t m_count = 0;
    uint64_t m_bytes = 0;
};

Result surveyWith(const ArchiveUnpacker::Limits& limits, const std::function<int(archive*)>& open,
                  std::vector<Entry>* entries = nullptr) {
    Reader reader = newReader();
    if (!reader) return fail(Outcome::unreadable, "out of memory");
    if (open(reader.get()) != ARCHIVE_OK) return fail(Outcome::unreadable, Survey::errorOf(reader.get()));
    Survey survey(limits);
    Result result = survey.read(reader.get());
    if (result && entries) *entries = survey.entries();
    return result;
}

int openFile(archive* a, const std::string& path) { return archive_read_open_filename(a, path.c_str(), 65536); }

// Copies one entry's data, counting it against what is left of the bound
// (a zip may announce less than it holds).
Result copyData(archive* in, archive* out, uint64_t& left) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        int rc = archive_read_data_block(in, &block, &size, &offset);
        if (rc == ARCHIVE_EOF) return {};
        if (rc < ARCHIVE_WARN) return fail(Outcome::unreadable, Survey::errorOf(in));
        if (size > left) return fail(Outcome::refused, "unpacked size over the limit");
        left -= size;
        if (archive_write_data_block(out, block, size, offset) < ARCHIVE_WARN)
            return fail(Outcome::writeFailed, Survey::errorOf(out), archive_errno(out));
    }
}

}  // namespace

ArchiveUnpacker::ArchiveUnpacker() = default;
ArchiveUnpacker::ArchiveUnpacker(Limits limits) : m_limits(limits) {}

bool ArchiveUnpacker::splitEntryPath(std::string_view path, std::vector<std::string>& components) {
    components.clear();
    if (path.empty() || path.front() == '/') return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string_view::npos) slash = path.size();
        std::string_view part = path.substr(start, slash - start);
        start = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return false;
        components.emplace_back(part);
    }
    return true;
}

ArchiveUnpacker::Result ArchiveUnpacker::check(const void* data, size_t size) const {
    return surveyWith(m_limits, [&](archive* a) { return archive_read_open_memory(a, data, size); });
}

ArchiveUnpacker::Result ArchiveUnpacker::checkFile(const std::string& archivePath) const {
    return surveyWith(m_limits, [&](archive* a) { return openFile(a, archivePath); });
}

ArchiveUnpacker::Result ArchiveUnpacker::unpack(const std::string& archivePath, const std::string& destination) const {
    std::vector<Entry> entries;
    if (Result r = surveyWith(m_limits, [&](archive* a) { return openFile(a, archivePath); }, &entries); !r) return r;

    Reader reader = newReader();
    Writer writer(archive_write_disk_new());
    if (!reader || !writer) return fail(Outcome::writeFailed, "out of memory", ENOMEM);
    // The survey already refused all of this; the library's own guards stay
    // on in case the two readings of the archive ever disagree. (Names are
    // made absolute below, under a destination free of links, so the guard
    // against absolute names cannot be one of them.)
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    std::error_code ec;
    const std::string root = std::filesystem::canonical(destination, ec).string();
    if (ec) return fail(Outcome::writeFailed, "destination: " + ec.message(), ec.value());
    if (openFile(reader.get(), archivePath) != ARCHIVE_OK) return fail(Outcome::unreadable, Survey::errorOf(reader.get()));

    uint64_t left = m_limits.maxTotalBytes;
    for (size_t index = 0;; ++index) {
        archive_entry* entry = nullptr;
        int rc = archive_read_next_header(reader.get(), &entry);
        if (rc == ARCHIVE_EOF) break;
        if (rc < ARCHIVE_WARN) return fail(Outcome::unreadable, Survey::errorOf(reader.get()));
        std::vector<std::string> parts;
        // The second reading must list what the first one checked.
        if (index >= entries.size() || !splitEntryPath(archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "/", parts) ||
            parts != entries[index].parts)
            return fail(Outcome::refused, "archive changed between readings");
        if (parts.empty()) continue;  // the root folder itself
        archive_entry_set_pathname(entry, (root + "/" + joined(parts, parts.size())).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            return fail(Outcome::writeFailed, Survey::errorOf(writer.get()), archive_errno(writer.get()));
        if (archive_entry_filetype(entry) == AE_IFREG)
            if (Result r = copyData(reader.get(), writer.get(), left); !r) return r;
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            return fail(Outcome::writeFailed, Survey::errorOf(writer.get()), archive_errno(writer.get()));
    }
    // Closing applies the folders' own permissions, deferred so a read-only
    // folder could still receive its files.
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return fail(Outcome::writeFailed, Survey::errorOf(writer.get()), archive_errno(writer.get()));
    return {};
}
