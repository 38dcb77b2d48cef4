#include "core/unicode_text.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
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

std::string folded(std::string_view text) {
    // ASCII, most file names, folds to lower case; ICU is for the rest.
    bool ascii = true;
    for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    std::string out;
    if (ascii) {
        out.assign(text);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    if (text.size() > size_t(INT32_MAX)) return out;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* caseFold = icu::Normalizer2::getNFKCCasefoldInstance(status);
    icu::UnicodeString source = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), int32_t(text.size())));
    if (U_FAILURE(status)) {
        source.foldCase().toUTF8String(out);  // the data is built into ICU; still, plain folding beats nothing
        return out;
    }
    caseFold->normalize(source, status).toUTF8String(out);
    return out;
}

}  // namespace UnicodeText
