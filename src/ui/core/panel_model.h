#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/agent_config.h"
#include "platform/computer_words.h"

class AgentState;
struct ClientApp;

// What the panel shows, decided from the state alone, with no toolkit: every
// text, which elements are present and which controls are enabled. The view
// only draws a PanelModel, so the rules live here and are tested as tables.
struct PanelModel {
    // The state values the panel reads, copied once per rendering.
    struct Input {
        struct Client {
            std::string key;
            std::string name;
            std::string hint;
            bool installed = false;
        };
        AgentConfig cfg;
        bool busy = false;
        std::string status;
        std::string manualLoginAddress;
        std::string error;
        std::map<std::string, bool> configured;
        std::string notice;
        std::string updateStatus;
        std::optional<std::string> availableVersion;
        bool updating = false;
        bool loginItem = false;
        std::vector<Client> clients;  // catalogue order
        bool inApplications = false;  // the executable runs from the install folder

        static Input from(const AgentState& state);
    };

    enum class Mark { configured, installed, absent };  // checkmark.circle.fill, circle, circle.dashed

    struct ClientRow {
        std::string key;
        std::string name;
        Mark mark = Mark::absent;
        std::string statusLine;
        bool showButton = false;  // offered for every row once logged in
        std::string buttonLabel;  // "Refaire" or "Configurer"
    };

    // Update banner.
    bool showBanner = false;
    std::string bannerTitle;
    std::string bannerDetail;
    std::string bannerButton;
    bool bannerButtonEnabled = false;

    // Account.
    bool loggedIn = false;
    std::string userName;  // "Connecté" for an empty name
    std::string userEmail;
    std::string avatarName;  // the name the avatar takes its initial from ("" gives an empty circle)
    std::string loginLabel;
    bool loginEnabled = false;
    bool showCancel = false;
    std::string statusLine;  // shown when not empty, logged out only
    // No browser could be opened: the address to open by hand, shown with
    // kNoBrowser and a button that copies it. Empty: none shown.
    std::string manualLoginAddress;

    // Assistants.
    bool showConfigureAll = false;
    std::vector<ClientRow> rows;
    std::string notice;       // shown in green when not empty
    std::string clientsNote;  // the example request, or the invitation to log in first

    // Between the sections and the footer.
    std::string error;  // shown in red when not empty
    bool showLocationWarning = false;

    // Footer.
    bool loginItemChecked = false;
    std::string updateStatus;  // shown when not empty
    std::string versionLabel;

    static PanelModel from(const Input& in);

    // The service's connections page for `baseUrl`.
    static std::string connectionsUrl(const std::string& baseUrl);
};

// The fixed texts of the panel, each used exactly as it stands; those that
// name the computer in their macOS words are shown in this desktop's.
namespace PanelText {
inline constexpr const char* kTitle = "Kestro Agent";
inline constexpr const char* kTagline = ComputerWords::kHere<"Tes fichiers du Mac, dans Kestro, par ton assistant IA.">;
inline constexpr const char* kAccount = "COMPTE";
inline constexpr const char* kAssistants = "ASSISTANTS";
inline constexpr const char* kInvitation =
    "Connecte ton compte Kestro : l'application s'ouvre dans le navigateur, tu autorises, c'est tout.";
inline constexpr const char* kLogin = "Se connecter à Kestro";
inline constexpr const char* kLoggingIn = "Connexion en cours…";
inline constexpr const char* kCancel = "Annuler";
inline constexpr const char* kNoBrowser =
    "Le navigateur ne s'est pas ouvert. Ouvre cette adresse dans ton navigateur pour te connecter :";
inline constexpr const char* kCopyAddress = "Copier l'adresse";
inline constexpr const char* kLogout = "Se déconnecter";
inline constexpr const char* kConnected = "Connecté";
inline constexpr const char* kConfigureAll = "Tout configurer";
inline constexpr const char* kConfigure = "Configurer";
inline constexpr const char* kRedo = "Refaire";
inline constexpr const char* kConfiguredPrefix = "Configuré · ";
inline constexpr const char* kNotConfigured = "Non configuré";
inline constexpr const char* kNotDetected = ComputerWords::kHere<"Non détecté sur ce Mac">;
inline constexpr const char* kExample =
    "Dans l'assistant, demande par exemple : « Regarde ~/Desktop/SEQ07 et remplis la séquence 7 de l'épisode 3 "
    "avec ces images ».";
inline constexpr const char* kLoginFirst = "Connecte-toi d'abord : les assistants seront configurés automatiquement.";
inline constexpr const char* kLocationWarning = ComputerWords::kHere<
    "Déplace l'app dans Applications avant de configurer : les assistants la lancent par son chemin.">;
inline constexpr const char* kBannerIdle = "Installée en quelques secondes, l'app redémarre seule.";
inline constexpr const char* kBannerInstalling = "Installation…";
inline constexpr const char* kUpdate = "Mettre à jour";
inline constexpr const char* kUpdateBusy = "…";
inline constexpr const char* kStartAtLogin = ComputerWords::kHere<"Ouvrir au démarrage du Mac">;
inline constexpr const char* kCheckUpdates = "Rechercher une mise à jour";
inline constexpr const char* kConnections = "Connexions & apps";
inline constexpr const char* kQuit = "Quitter";
}  // namespace PanelText
