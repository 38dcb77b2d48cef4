#include "platform/computer_words.h"

namespace ComputerWords {

std::string on(DesktopSystem system, std::string_view macText) {
    std::string text;
    text.reserve(macText.size());
    detail::reword(system, macText, [&](std::string_view piece) { text += piece; });
    return text;
}

}  // namespace ComputerWords
