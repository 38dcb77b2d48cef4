#pragma once

#include <string>
#include <string_view>

namespace UnicodeText {

// `text` without the Unicode space separators (category Zs: the ordinary space,
// no-break spaces, the ideographic space…) and tabs at both ends. Line feeds
// and carriage returns are kept. Bytes that are not UTF-8 stop the trimming.
std::string_view trimSpacesAndTabs(std::string_view text);

// `text` without white space and line breaks at both ends: the above, plus
// line feeds, carriage returns, vertical tabs, form feeds, NEL and the Unicode
// line and paragraph separators.
std::string_view trimWhitespaceAndLineBreaks(std::string_view text);

// Whether `bytes` is well-formed UTF-8: what a JSON reply can carry and what
// an assistant's configuration file must be before the agent rewrites it.
bool isUtf8(std::string_view bytes);

// `bytes` as UTF-8 text a person can read: each ill-formed sequence replaced
// by U+FFFD, everything else kept.
std::string readable(std::string_view bytes);

// `text` in the form two texts are compared in when case and spelling
// variants must not matter: Unicode case folding after compatibility
// normalization (NFKC_Casefold), so "É" composed or as E and an accent, "ß"
// and "SS", "Ｐ" and "p" meet. Ill-formed UTF-8 is folded as U+FFFD.
std::string folded(std::string_view text);

}  // namespace UnicodeText
