#pragma once

#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>

#include "platform/desktop_system.h"

// How the agent's texts name the user's computer. They were written for the
// Mac ("les fichiers du Mac", "Ouvrir au démarrage du Mac"): assistants repeat
// those words to the user, and the panel's install advice names a folder that
// only exists there. Each text is written once, in its macOS wording, where it
// is used; this table gives the words of the desktop it runs on. macOS keeps
// every text unchanged.
namespace ComputerWords {

struct Wording {
    std::string_view macOS;
    std::string_view linuxDesktop;
};

// A whole sentence comes before any phrase it holds; a phrase is replaced
// wherever it stands as whole words.
inline constexpr Wording kWordings[] = {
    {"Ouvrir au démarrage du Mac", "Ouvrir à l'ouverture de session"},
    // The install folder is "/opt/" here (platform_paths.h), and the user
    // installs the application there rather than moving it.
    {"Déplace l'app dans Applications avant de configurer : les assistants la lancent par son chemin.",
     "Installe l'app dans /opt avant de configurer : les assistants la lancent par son chemin."},
    {"Installe l'app dans Applications pour les mises à jour automatiques.",
     "Installe l'app dans /opt pour les mises à jour automatiques."},
    {"sur ce Mac", "sur cet ordinateur"},
    {"sur le Mac", "sur l'ordinateur"},
    {"du Mac", "de l'ordinateur"},
};

// The name of a computer that gives none (the service's client and token
// labels); a word on its own, so it is not among the phrases.
inline constexpr Wording kUnnamedComputer{"Mac", "Linux"};

constexpr std::string_view on(DesktopSystem system, const Wording& wording) {
    return system == DesktopSystem::macOS ? wording.macOS : wording.linuxDesktop;
}

namespace detail {

constexpr bool isWordByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Calls `append` with the pieces of `macText` in `system`'s words.
template <typename Append>
constexpr void reword(DesktopSystem system, std::string_view macText, Append&& append) {
    // An index, not a pointer: GCC's null-pointer sanitizer makes a
    // dereferenced pointer into the table no longer a constant expression.
    constexpr std::size_t none = std::size(kWordings);
    std::size_t copied = 0, at = 0;
    while (at < macText.size()) {
        std::size_t found = none;
        if (at == 0 || !isWordByte(macText[at - 1])) {
            for (std::size_t i = 0; i < none && found == none; ++i) {
                std::string_view mac = kWordings[i].macOS;
                std::size_t end = at + mac.size();
                if (macText.substr(at, mac.size()) == mac && (end == macText.size() || !isWordByte(macText[end])))
                    found = i;
            }
        }
        if (found == none) {
            ++at;
            continue;
        }
        append(macText.substr(copied, at - copied));
        append(on(system, kWordings[found]));
        at += kWordings[found].macOS.size();
        copied = at;
    }
    append(macText.substr(copied));
}

}  // namespace detail

// `macText` in `system`'s words.
std::string on(DesktopSystem system, std::string_view macText);

// `macText` in the words of the desktop this program is built for.
inline std::string here(std::string_view macText) { return on(kCurrentDesktop, macText); }

// A text reworded while compiling, for the tables of constant C strings; the
// room left covers the longest rewording, and a text that outgrows it does
// not compile.
template <std::size_t N>
struct FixedText {
    char chars[N + 32] = {};

    consteval FixedText(const char (&macText)[N]) {  // NOLINT: built from a literal on purpose
        std::size_t size = 0;
        detail::reword(kCurrentDesktop, std::string_view(macText, N - 1), [&](std::string_view piece) {
            for (char c : piece) chars[size++] = c;
        });
    }
};

// The C string of `macText` in this desktop's words, kept for the program's
// life: PanelText::kTagline = ComputerWords::kHere<"Tes fichiers du Mac…">.
template <FixedText macText>
inline constexpr const char* kHere = macText.chars;

}  // namespace ComputerWords
