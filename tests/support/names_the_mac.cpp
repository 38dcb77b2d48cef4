#include "names_the_mac.h"

namespace {

bool isLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool holdsWord(std::string_view text, std::string_view word) {
    for (size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        size_t end = at + word.size();
        bool startsWord = at == 0 || !isLetterOrDigit(text[at - 1]);
        bool endsWord = end == text.size() || !isLetterOrDigit(text[end]);
        if (startsWord && endsWord) return true;
    }
    return false;
}

}  // namespace

bool namesTheMac(std::string_view text) { return holdsWord(text, "Mac") || holdsWord(text, "Applications"); }
