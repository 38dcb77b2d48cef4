#include "tools/local.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/regex.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <numeric>
#include <string_view>

#include "core/tool_error.h"
#include "core/unicode_text.h"
#include "platform/platform_paths.h"
#include "tools/file_extensions.h"

namespace Local {
namespace {

// Purely textual: ".." is resolved against the components before it, not
// against the disk, so the result never depends on where links point.
std::string standardized(const std::string& path) {
    if (path.empty()) return path;
    const bool absolute = path[0] == '/';
    std::vector<std::string_view> parts;
    std::string_view rest = path;
    while (!rest.empty()) {
        size_t slash = rest.find('/');
        std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == ".." && absolute) {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i) out += '/';
        out += parts[i];
    }
    if (out.empty()) out = ".";  // "./" and the like: still the working folder
    return out;
}

bool isAscii(std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::string lowered(const std::string& s) {
    if (isAscii(s)) {
        std::string out = s;
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    std::string out;
    icu::UnicodeString::fromUTF8(s).toLower(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}

// A path the C library can be handed: an embedded NUL would silently name
// another file.
bool usablePath(const std::string& p) { return !p.empty() && p.find('\0') == std::string::npos; }

LocalFile fileFrom(std::string name, std::string path, std::string ext, const struct stat& st) {
    return LocalFile{.name = std::move(name),
                     .path = std::move(path),
                     .ext = std::move(ext),
                     .size = static_cast<int64_t>(st.st_size),
                     .modified = std::chrono::sys_seconds(std::chrono::seconds(st.st_mtim.tv_sec))};
}

std::string joined(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string stemOf(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return name;
    return name.substr(0, dot);
}

// File-browser order: case ignored, accents kept, digit runs by value. The
// POSIX locale's tailoring would order by case, so it falls back to the root
// collation.
std::unique_ptr<icu::Collator> makeCollator() {
    icu::Locale locale = icu::Locale::getDefault();
    if (locale.isBogus() || std::strcmp(locale.getName(), "en_US_POSIX") == 0) locale = icu::Locale::getRoot();
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) collator.reset();
    }
    if (!collator) return nullptr;
    collator->setStrength(icu::Collator::SECONDARY);
    collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
    if (U_FAILURE(status)) return nullptr;
    return collator;
}

const icu::Collator* sharedCollator() {
    static const std::unique_ptr<icu::Collator> collator = makeCollator();
    return collator.get();
}

std::string sortKey(const icu::Collator& collator, const std::string& name) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(name);
    std::string key(64, '\0');
    int32_t needed =
        collator.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), static_cast<int32_t>(key.size()));
    if (needed > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<size_t>(needed));
        needed = collator.getSortKey(text, reinterpret_cast<uint8_t*>(key.data()), needed);
    }
    key.resize(static_cast<size_t>(std::max(needed, 0)));
    return key;
}

void sortForBrowser(std::vector<LocalFile>& files) {
    // A private copy: the shared collator is only ever cloned, never used, so
    // concurrent listings cannot disturb each other.
    std::unique_ptr<icu::Collator> collator;
    if (const icu::Collator* shared = sharedCollator()) collator.reset(shared->clone());
    std::vector<std::string> keys;
    keys.reserve(files.size());
    for (const auto& f : files) keys.push_back(collator ? sortKey(*collator, f.name) : f.name);
    std::vector<size_t> order(files.size());
    std::iota(order.begin(), order.end(), size_t{0});
    // Sort keys compare as unsigned bytes, which std::string does.
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    std::vector<LocalFile> sorted;
    sorted.reserve(files.size());
    for (size_t i : order) sorted.push_back(std::move(files[i]));
    files = std::move(sorted);
}

// Compiled once; a pattern hands out independent matchers, so it may be
// shared between threads.
std::unique_ptr<icu::RegexPattern> compile(const char* pattern, uint32_t flags) {
    UErrorCode status = U_ZERO_ERROR;
    UParseError parseError;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(icu::UnicodeString::fromUTF8(pattern), flags, parseError, status));
    if (U_FAILURE(status)) return nullptr;
    return compiled;
}

struct PlanPatterns {
    std::unique_ptr<icu::RegexPattern> byOrder[3];
};

const PlanPatterns& planPatterns() {
    static const PlanPatterns patterns{{
        compile(R"(plan[_\s-]*(\d{1,3}))", UREGEX_CASE_INSENSITIVE),
        compile(R"(\bP(\d{1,3})\b)", UREGEX_CASE_INSENSITIVE),
        compile(R"((\d{1,3}))", UREGEX_CASE_INSENSITIVE),
    }};
    return patterns;
}

const icu::RegexPattern* separatorRuns() {
    static const std::unique_ptr<icu::RegexPattern> pattern = compile("[_-]+", 0);
    return pattern.get();
}

// Only ASCII digits read as a number; any other decimal digit that \d
// matches leaves the group unreadable.
std::optional<int> asciiNumber(const icu::UnicodeString& digits) {
    if (digits.isEmpty()) return std::nullopt;
    int value = 0;
    for (int32_t i = 0; i < digits.length(); ++i) {
        char16_t c = digits.charAt(i);
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

}  // namespace

std::string expand(const std::string& path) {
    std::string text(UnicodeText::trimWhitespaceAndLineBreaks(path));
    if (text.rfind("file://", 0) == 0) text.erase(0, 7);
    if (!text.empty() && text[0] == '~') text = PlatformPaths::home() + text.substr(1);
    return standardized(text);
}

std::string lastPathComponent(const std::string& path) {
    if (path == "/") return path;
    std::string_view p = path;
    while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
    size_t slash = p.rfind('/');
    return std::string(slash == std::string_view::npos ? p : p.substr(slash + 1));
}

std::string pathExtension(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || name.find('/', dot) != std::string::npos) return "";
    return lowered(name.substr(dot + 1));
}

LocalFile stat(const std::string& path) {
    std::string p = expand(path);
    // One stat call answers existence, kind and attributes together, so a
    // file that vanishes half-way is simply not found.
    struct stat st;
    if (!usablePath(p) || ::stat(p.c_str(), &st) != 0) throw ToolError("file_not_found", "Fichier introuvable : " + p);
    // Folders, and pipes or devices whose reading would block or never end.
    if (!S_ISREG(st.st_mode)) throw ToolError("not_a_file", "Pas un fichier : " + p);
    std::string name = lastPathComponent(p);
    std::string ext = pathExtension(name);
    return fileFrom(std::move(name), p, std::move(ext), st);
}

std::pair<std::string, std::vector<LocalFile>> list(const std::string& folder, const std::vector<std::string>& exts,
                                                    std::vector<std::string>* notUtf8) {
    std::string d = expand(folder);
    struct stat st;
    if (!usablePath(d) || ::stat(d.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw ToolError("dir_not_found", "Dossier introuvable : " + d);

    std::vector<LocalFile> files;
    DIR* dir = ::opendir(d.c_str());
    if (!dir) return {d, files};  // unreadable: nothing to show, not an error
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        // The extension is checked first: most entries of a big folder are
        // then skipped without touching their inode.
        std::string ext = pathExtension(name);
        if (std::find(exts.begin(), exts.end(), ext) == exts.end()) continue;
        // Links are followed; a dangling one, or an entry removed since the
        // directory was read, is not there.
        struct stat entrySt;
        if (::fstatat(dirFd, name.c_str(), &entrySt, 0) != 0 || !S_ISREG(entrySt.st_mode)) continue;
        // A name that is not UTF-8 could not travel in the JSON reply.
        if (!UnicodeText::isUtf8(name)) {
            if (notUtf8) notUtf8->push_back(UnicodeText::readable(name));
            continue;
        }
        std::string full = joined(d, name);
        files.push_back(fileFrom(std::move(name), std::move(full), std::move(ext), entrySt));
    }
    ::closedir(dir);
    if (notUtf8) std::sort(notUtf8->begin(), notUtf8->end());
    sortForBrowser(files);
    return {d, files};
}

std::optional<std::string> kind(const std::string& ext) {
    auto in = [&](const std::vector<std::string>& table) {
        return std::find(table.begin(), table.end(), ext) != table.end();
    };
    if (in(kImageExts)) return "image";
    if (in(kVideoExts)) return "video";
    if (in(kAudioExts)) return "audio";
    if (in(kDocExts)) return "document";
    return std::nullopt;
}

const std::vector<std::string>& exts(const std::optional<std::string>& type) {
    static const std::vector<std::string> all = [] {
        std::vector<std::string> joinedTables;
        for (const auto* table : {&kImageExts, &kVideoExts, &kAudioExts, &kDocExts})
            joinedTables.insert(joinedTables.end(), table->begin(), table->end());
        return joinedTables;
    }();
    if (type == "image") return kImageExts;
    if (type == "video") return kVideoExts;
    if (type == "audio") return kAudioExts;
    if (type == "document") return kDocExts;
    return all;
}

std::optional<int> planNumber(const std::string& name) {
    std::string stem = stemOf(name);
    // Every pattern needs a digit; most names of a big folder have an ASCII
    // digit or none at all, and the latter need no regex work.
    if (isAscii(stem) && std::none_of(stem.begin(), stem.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    // One matcher per pattern and thread, pointed at each new name, and the
    // name's text kept beside them so that no matcher ever holds freed text:
    // the patterns are shared, a matcher is not.
    thread_local struct {
        icu::UnicodeString text;
        std::unique_ptr<icu::RegexMatcher> byOrder[3];
    } mine;
    mine.text = icu::UnicodeString::fromUTF8(stem);
    for (size_t i = 0; i < 3; ++i) {
        const auto& pattern = planPatterns().byOrder[i];
        if (!pattern) continue;
        UErrorCode status = U_ZERO_ERROR;
        if (!mine.byOrder[i]) {
            mine.byOrder[i].reset(pattern->matcher(status));
            if (U_FAILURE(status)) {
                mine.byOrder[i].reset();
                continue;
            }
        }
        icu::RegexMatcher* matcher = mine.byOrder[i].get();
        matcher->reset(mine.text);
        if (!matcher->find(status) || U_FAILURE(status)) continue;
        icu::UnicodeString group = matcher->group(1, status);
        if (U_FAILURE(status)) continue;
        if (auto number = asciiNumber(group)) return number;
    }
    return std::nullopt;
}

std::string stemAsPrompt(const std::string& name) {
    std::string stem = stemOf(name);
    const icu::RegexPattern* pattern = separatorRuns();
    if (!pattern) return stem;
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(stem);
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
    if (U_FAILURE(status)) return stem;
    icu::UnicodeString replaced = matcher->replaceAll(u" ", status);
    if (U_FAILURE(status)) return stem;
    std::string out;
    replaced.toUTF8String(out);
    return out;
}

std::string iso(std::chrono::sys_seconds date) {
    std::time_t t = static_cast<std::time_t>(date.time_since_epoch().count());
    std::tm tm{};
    if (!::gmtime_r(&t, &tm)) return "";
    // Four-digit years at least, as ISO 8601 wants (strftime's %Y would not pad).
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02dT%02d:%02d:%02dZ",
                          static_cast<long long>(tm.tm_year) + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                          tm.tm_sec);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace Local
