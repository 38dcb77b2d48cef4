#include "clients/toml_line_scanner.h"

#include <cstdint>

#include "core/unicode_text.h"

namespace {

enum class Mode { normal, multiBasic, multiLiteral };

bool isBare(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

void skipBlanks(std::string_view s, size_t& i) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
}

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// A basic string key from just after its opening quote; false on a bad escape
// or a missing closing quote.
bool readBasicKey(std::string_view s, size_t& i, std::string& out) {
    while (i < s.size()) {
        char c = s[i++];
        if (c == '"') return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i >= s.size()) return false;
        char e = s[i++];
        switch (e) {
            case 'b':
                out += '\b';
                break;
            case 't':
                out += '\t';
                break;
            case 'n':
                out += '\n';
                break;
            case 'f':
                out += '\f';
                break;
            case 'r':
                out += '\r';
                break;
            case 'e':
                out += '\x1b';
                break;
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case 'u':
            case 'U': {
                size_t digits = e == 'u' ? 4 : 8;
                if (i + digits > s.size()) return false;
                uint32_t cp = 0;
                for (size_t k = 0; k < digits; ++k) {
                    char h = s[i++];
                    cp <<= 4;
                    if (h >= '0' && h <= '9')
                        cp |= static_cast<uint32_t>(h - '0');
                    else if (h >= 'a' && h <= 'f')
                        cp |= static_cast<uint32_t>(h - 'a' + 10);
                    else if (h >= 'A' && h <= 'F')
                        cp |= static_cast<uint32_t>(h - 'A' + 10);
                    else
                        return false;
                }
                if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
                appendUtf8(out, cp);
                break;
            }
            default:
                return false;
        }
    }
    return false;
}

// A dotted key starting at `i` (blanks allowed around the dots); `i` ends
// just after it.
std::optional<std::vector<std::string>> readKey(std::string_view s, size_t& i) {
    std::vector<std::string> path;
    for (;;) {
        skipBlanks(s, i);
        if (i >= s.size()) return std::nullopt;
        std::string part;
        if (s[i] == '"') {
            ++i;
            if (!readBasicKey(s, i, part)) return std::nullopt;
        } else if (s[i] == '\'') {
            size_t end = s.find('\'', i + 1);
            if (end == std::string_view::npos) return std::nullopt;
            part = std::string(s.substr(i + 1, end - i - 1));
            i = end + 1;
        } else {
            size_t start = i;
            while (i < s.size() && isBare(s[i])) ++i;
            if (i == start) return std::nullopt;
            part = std::string(s.substr(start, i - start));
        }
        path.push_back(std::move(part));
        skipBlanks(s, i);
        if (i < s.size() && s[i] == '.') {
            ++i;
            continue;
        }
        return path;
    }
}

// "[a.b]" or "[[a.b]]", blanks anywhere TOML allows them, an optional
// comment after it.
std::optional<std::vector<std::string>> readHeader(std::string_view s) {
    size_t i = 0;
    bool array = s.starts_with("[[");
    i = array ? 2 : 1;
    auto path = readKey(s, i);
    if (!path) return std::nullopt;
    if (!s.substr(i).starts_with(array ? "]]" : "]")) return std::nullopt;
    i += array ? 2 : 1;
    skipBlanks(s, i);
    if (i < s.size() && s[i] != '#') return std::nullopt;
    return path;
}

// Follows strings, comments and brackets through one line of a value, from
// `i`, carrying what is still open to the next line.
void scanValue(std::string_view s, size_t i, Mode& mode, int& depth) {
    while (i < s.size()) {
        if (mode == Mode::multiBasic || mode == Mode::multiLiteral) {
            char quote = mode == Mode::multiBasic ? '"' : '\'';
            if (mode == Mode::multiBasic && s[i] == '\\') {
                i += 2;
                continue;
            }
            if (s.substr(i).starts_with(std::string(3, quote))) {
                i += 3;
                // Up to two quotes of the content may stand right before the closing three.
                for (int extra = 0; extra < 2 && i < s.size() && s[i] == quote; ++extra) ++i;
                mode = Mode::normal;
                continue;
            }
            ++i;
            continue;
        }
        char c = s[i];
        if (c == '#') return;
        if (c == '"' || c == '\'') {
            if (s.substr(i).starts_with(std::string(3, c))) {
                mode = c == '"' ? Mode::multiBasic : Mode::multiLiteral;
                i += 3;
                continue;
            }
            size_t j = i + 1;
            while (j < s.size() && s[j] != c) j += (c == '"' && s[j] == '\\') ? 2 : 1;
            i = j + 1;
            continue;
        }
        if (c == '[' || c == '{')
            ++depth;
        else if ((c == ']' || c == '}') && depth > 0)
            --depth;
        ++i;
    }
}

std::string_view withoutFinalCr(std::string_view s) {
    if (s.ends_with('\r')) s.remove_suffix(1);
    return UnicodeText::trimSpacesAndTabs(s);
}

}  // namespace

TomlLineScanner::TomlLineScanner(std::string_view text) {
    Mode mode = Mode::normal;
    int depth = 0;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string_view raw = text.substr(start, end == std::string_view::npos ? text.size() - start : end - start);
        Line line;
        line.text = raw;
        // A byte order mark, which some editors write, does not hide the first header.
        std::string_view content = raw;
        if (start == 0 && content.starts_with("\xEF\xBB\xBF")) content.remove_prefix(3);
        line.trimmed = UnicodeText::trimSpacesAndTabs(content);
        std::string_view bare = withoutFinalCr(line.trimmed);
        if (mode != Mode::normal || depth > 0) {
            line.kind = Kind::continuation;
            scanValue(content, 0, mode, depth);
        } else if (bare.empty() || bare[0] == '#') {
            line.kind = Kind::other;
        } else if (bare[0] == '[') {
            line.kind = Kind::header;
            line.path = readHeader(bare);
        } else {
            line.kind = Kind::statement;
            size_t i = 0;
            auto key = readKey(content, i);
            if (key && i < content.size() && content[i] == '=') {
                line.path = std::move(key);
                scanValue(content, i + 1, mode, depth);
            } else {
                scanValue(content, 0, mode, depth);
            }
        }
        m_lines.push_back(line);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    m_endsOpen = mode != Mode::normal || depth > 0;
}

bool TomlLineScanner::isHeaderOf(const Line& line, const std::string& dotted, const std::vector<std::string>& path) {
    if (line.kind != Kind::header) return false;
    if (line.trimmed.size() == dotted.size() + 2 && line.trimmed.front() == '[' && line.trimmed.back() == ']' &&
        line.trimmed.substr(1, dotted.size()) == dotted)
        return true;
    return line.path && *line.path == path;
}
