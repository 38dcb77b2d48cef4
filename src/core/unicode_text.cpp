#include "core/unicode_text.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <cstdint>

namespace UnicodeText {
namespace {

bool isSpaceOrTab(UChar32 c) { return c == '\t' || (c >= 0 && u_charType(c) == U_SPACE_SEPARATOR); }

bool isSpaceOrLineBreak(UChar32 c) {
    if (c == 0x09 || (c >= 0x0A && c <= 0x0D) || c == 0x85) return true;
    if (c < 0) return false;
    int8_t type = u_charType(c);
    return type == U_SPACE_SEPARATOR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

template <typename IsTrimmed>
std::string_view trimmed(std::string_view text, IsTrimmed isTrimmed) {
    if (text.size() > INT32_MAX) return text;  // beyond ICU's offsets; such a line is never valid JSON anyway
    const auto* s = reinterpret_cast<const uint8_t*>(text.data());
    int32_t length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(s, next, length, c);
        if (!isTrimmed(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t prev = end;
        UChar32 c;
        U8_PREV(s, start, prev, c);
        if (!isTrimmed(c)) break;
        end = prev;
    }
    return text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start));
}

}  // namespace

std::string_view trimSpacesAndTabs(std::string_view text) { return trimmed(text, isSpaceOrTab); }

std::string_view trimWhitespaceAndLineBreaks(std::string_view text) { return trimmed(text, isSpaceOrLineBreak); }

bool isUtf8(std::string_view bytes) {
    // ICU walks with 32-bit offsets; nothing that large is ever checked here.
    if (bytes.size() > size_t(INT32_MAX)) return false;
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int32_t length = static_cast<int32_t>(bytes.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string readable(std::string_view bytes) {
    if (bytes.size() > size_t(INT32_MAX)) return "\uFFFD";
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int32_t length = static_cast<int32_t>(bytes.size());
    std::string out;
    out.reserve(bytes.size() + 8);
    for (int32_t i = 0; i < length;) {
        int32_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0)
            out += "\uFFFD";
        else
            out.append(bytes.data() + start, static_cast<size_t>(i - start));
    }
    return out;
}

}  // namespace UnicodeText
