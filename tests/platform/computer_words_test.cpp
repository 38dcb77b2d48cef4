#include "platform/computer_words.h"

#include <gtest/gtest.h>

#include "platform/host_label.h"

namespace {

using ComputerWords::on;

// Every text the agent has that names the computer, in its macOS words, with
// what a Linux desktop shows instead.
const std::pair<const char*, const char*> kTexts[] = {
    {"Kestro Agent (fichiers du Mac)", "Kestro Agent (fichiers de l'ordinateur)"},
    {"Voir les fichiers d'un dossier du Mac", "Voir les fichiers d'un dossier de l'ordinateur"},
    {"Envoyer un fichier du Mac sur un plan", "Envoyer un fichier de l'ordinateur sur un plan"},
    {"Créer une carte Assets depuis un fichier du Mac", "Créer une carte Assets depuis un fichier de l'ordinateur"},
    {"Créer des cartes Assets depuis un dossier du Mac", "Créer des cartes Assets depuis un dossier de l'ordinateur"},
    {"Envoyer un fichier du Mac dans la Médiathèque", "Envoyer un fichier de l'ordinateur dans la Médiathèque"},
    {"Remplir les plans d'une séquence depuis un dossier du Mac",
     "Remplir les plans d'une séquence depuis un dossier de l'ordinateur"},
    {"Chemin du fichier sur le Mac", "Chemin du fichier sur l'ordinateur"},
    {"Chemin de l'image sur le Mac (jpg, png, webp)", "Chemin de l'image sur l'ordinateur (jpg, png, webp)"},
    {"Dossier sur le Mac", "Dossier sur l'ordinateur"},
    {"Tes fichiers du Mac, dans Kestro, par ton assistant IA.",
     "Tes fichiers de l'ordinateur, dans Kestro, par ton assistant IA."},
    {"Non détecté sur ce Mac", "Non détecté sur cet ordinateur"},
    {"Aucun assistant détecté sur ce Mac.", "Aucun assistant détecté sur cet ordinateur."},
    {"Ouvrir au démarrage du Mac", "Ouvrir à l'ouverture de session"},
    {"Déplace l'app dans Applications avant de configurer : les assistants la lancent par son chemin.",
     "Installe l'app dans /opt avant de configurer : les assistants la lancent par son chemin."},
    {"Installe l'app dans Applications pour les mises à jour automatiques.",
     "Installe l'app dans /opt pour les mises à jour automatiques."},
};

TEST(ComputerWords, MacTextsStayAsTheyAreOnMacOSAndNameTheComputerOnLinux) {
    for (auto [mac, linux_] : kTexts) {
        EXPECT_EQ(on(DesktopSystem::macOS, mac), mac);
        EXPECT_EQ(on(DesktopSystem::linuxDesktop, mac), linux_);
    }
    EXPECT_EQ(on(DesktopSystem::macOS, ComputerWords::kUnnamedComputer), "Mac");
    EXPECT_EQ(on(DesktopSystem::linuxDesktop, ComputerWords::kUnnamedComputer), "Linux");
    EXPECT_EQ(HostLabel::kFallback, "Linux");
}

TEST(ComputerWords, OtherTextsAndWordsThatOnlyBeginLikeTheMacAreKept) {
    for (const char* kept : {
             "",
             "Ce serveur tourne sur l'ordinateur de l'utilisateur : il PEUT lire ses dossiers",
             "Liste les images d'un dossier de CET ordinateur (chemin absolu ou ~/...).",
             "Fichier du Machiniste.png",
             "Perdu Mac",
             "Installe l'app dans Applications",
             "sur le Mac2",
             "du Macé",
             "sur le MacBook",
             "Relance Claude après configuration",
         })
        EXPECT_EQ(on(DesktopSystem::linuxDesktop, kept), kept);
    // Each occurrence, at either end of the text and beside punctuation.
    EXPECT_EQ(on(DesktopSystem::linuxDesktop, "du Mac, puis sur le Mac et sur ce Mac"),
              "de l'ordinateur, puis sur l'ordinateur et sur cet ordinateur");
}

TEST(ComputerWords, ConstantTextsAreRewordedWhileCompiling) {
    constexpr const char* tagline = ComputerWords::kHere<"Tes fichiers du Mac, dans Kestro, par ton assistant IA.">;
    EXPECT_STREQ(tagline, "Tes fichiers de l'ordinateur, dans Kestro, par ton assistant IA.");
    EXPECT_STREQ(ComputerWords::kHere<"Ouvrir au démarrage du Mac">, "Ouvrir à l'ouverture de session");
    EXPECT_STREQ(ComputerWords::kHere<"Rechercher une mise à jour">, "Rechercher une mise à jour");
}

}  // namespace
