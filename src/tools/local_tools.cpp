#include "tools/local_tools.h"

#include <algorithm>

#include "core/tool_error.h"
#include "platform/computer_words.h"
#include "tools/local_tool_handlers.h"

namespace LocalTools {
namespace {

// The asset-card natures, told the same way wherever a tool takes a "kind".
constexpr const char* kKindDescription =
    "personnage, decor, accessoire, costume, animal, autre (page Assets) ; reference = page Références";

using ComputerWords::here;

Json property(const char* type, const std::string& description) {
    return Json{{"type", type}, {"description", description}};
}

// Assistants read these texts as they stand: every character, the typographic
// ones included (« », —, …, →), is part of how the tools behave. Those that
// name the computer are written in their macOS words and told in this
// desktop's, since assistants repeat them to the user.
std::vector<ToolDef> buildDefs() {
    return {
        ToolDef{
            .name = "list_local_files",
            .title = here("Voir les fichiers d'un dossier du Mac"),
            .description =
                "Liste les images, vidéos, sons et documents d'un dossier de CET ordinateur (chemin absolu ou "
                "~/...). Pour chaque fichier : nom, chemin, taille, et le numéro de plan deviné d'après le nom "
                "(plan_03.jpg → 3). Appelle-le avant un envoi pour vérifier ce qui va partir.",
            .schema = schema(
                {
                    {"directory", str("Dossier à lister, ex. ~/Desktop/SEQ07")},
                    {"type", str("Filtrer : image, video, audio, document, ou all (défaut)")},
                    // A long folder comes a page at a time, so that no
                    // assistant cuts the result; callers that omit these get
                    // the first page.
                    {"name_contains",
                     str("Ne garder que les fichiers dont le nom contient ce texte, majuscules et minuscules "
                         "confondues, ex. plan_01, optionnel")},
                    {"offset", integer("Nombre de fichiers à sauter, pour la page suivante : la valeur next_offset du "
                                       "résultat précédent (défaut 0)")},
                    {"limit", integer("Nombre maximal de fichiers à rendre, de 1 à 1000 (défaut 200)")},
                },
                {"directory"}),
            .readOnly = true,
        },
        ToolDef{
            .name = "upload_file_to_plan",
            .title = here("Envoyer un fichier du Mac sur un plan"),
            .description =
                "Envoie une image (jpg/png/webp) ou une vidéo (mp4/mov/webm) de CET ordinateur comme nouvelle "
                "version active d'un plan du storyboard. `prompt` = le prompt qui a généré l'image (enregistré "
                "et gravé dans le fichier).",
            .schema = schema(
                {
                    {"path", str(here("Chemin du fichier sur le Mac"))},
                    {"plan_id", integer("Identifiant du plan (voir list_plans)")},
                    {"prompt", str("Prompt de génération, optionnel")},
                },
                {"path", "plan_id"}),
            .readOnly = false,
        },
        ToolDef{
            .name = "upload_file_to_assets",
            .title = here("Créer une carte Assets depuis un fichier du Mac"),
            .description =
                "Crée une CARTE sur la page « Assets » (personnage, décor, accessoire…) avec une image de CET "
                "ordinateur comme couverture — c'est ce que veut l'utilisateur quand il dit « mets-le dans les "
                "Assets ». Donne un `name` parlant (ex. « César — portrait »), pas le nom de fichier brut, et "
                "la nature `kind` : personnage, decor, accessoire, costume, animal, autre (page Assets) ; « "
                "reference » place la carte sur la page Références, jamais pour « les Assets ». Avec "
                "`card_id`, remplace l'image d'une carte existante (nouvelle version).",
            .schema = schema(
                {
                    {"path", str(here("Chemin de l'image sur le Mac (jpg, png, webp)"))},
                    {"workspace_id", integer("Identifiant du workspace")},
                    {"name", str("Nom de la carte")},
                    {"kind", str(kKindDescription)},
                    {"description", str("Description, optionnel")},
                    {"prompt", str("Prompt de génération, optionnel")},
                    {"card_id", integer("Carte existante à mettre à jour, optionnel")},
                },
                {"path", "workspace_id"}),
            .readOnly = false,
        },
        ToolDef{
            .name = "upload_folder_to_assets",
            .title = here("Créer des cartes Assets depuis un dossier du Mac"),
            .description =
                "Crée UNE CARTE par image d'un dossier de CET ordinateur sur la page « Assets ». Nom de chaque "
                "carte = `name_prefix` + nom du fichier nettoyé (ou renomme ensuite avec update_asset_card). "
                "`kind` s'applique à toutes. 100 images max. Récapitule et demande confirmation avant si plus "
                "de 10 fichiers.",
            .schema = schema(
                {
                    {"directory", str(here("Dossier sur le Mac"))},
                    {"workspace_id", integer("Identifiant du workspace")},
                    {"kind", str(kKindDescription)},
                    {"name_prefix", str("Préfixe des noms de cartes, optionnel (ex. « Forum — »)")},
                    {"prompt_prefix", str("Préfixe de prompt, optionnel")},
                    {"folder_name", str("Dossier de cartes où les ranger, optionnel")},
                },
                {"directory", "workspace_id"}),
            .readOnly = false,
        },
        ToolDef{
            .name = "upload_file_to_media",
            .title = here("Envoyer un fichier du Mac dans la Médiathèque"),
            .description =
                "Envoie un fichier de CET ordinateur (image, vidéo, son, document) dans la MÉDIATHÈQUE d'un "
                "workspace (page « Media » : fichier brut, sans carte). À n'utiliser que si l'utilisateur "
                "parle de la Médiathèque / page Media, ou pour une vidéo, un son, un document. Pour une image, "
                "`prompt` (description courte) est recommandé.",
            .schema = schema(
                {
                    {"path", str(here("Chemin du fichier sur le Mac"))},
                    {"workspace_id", integer("Identifiant du workspace")},
                    {"prompt", str("Description / prompt")},
                    {"folder_id", integer("Dossier de la Médiathèque, optionnel")},
                    {"display_title", str("Titre affiché, optionnel")},
                },
                {"path", "workspace_id"}),
            .readOnly = false,
        },
        ToolDef{
            .name = "fill_sequence_from_folder",
            .title = here("Remplir les plans d'une séquence depuis un dossier du Mac"),
            .description = "Pose les images/vidéos d'un dossier de CET ordinateur sur les plans d'une séquence, en "
                           "appariant chaque fichier au plan par le NUMÉRO trouvé dans son nom (plan_03.jpg, "
                           "03_forum.png, P3.jpg → plan 3). Les plans manquants sont ignorés (ou créés si "
                           "`create_missing_plans` est vrai, avec le nom de fichier comme texte). Appelle d'abord "
                           "list_local_files pour vérifier l'appariement, et récapitule avant d'envoyer si plus de 10 "
                           "fichiers.",
            .schema = schema(
                {
                    {"directory", str(here("Dossier sur le Mac"))},
                    {"sequence_id", integer("Identifiant de la séquence (voir list_sequences)")},
                    {"workspace_id", integer("Workspace de la séquence (recommandé)")},
                    {"create_missing_plans",
                     boolean("Créer les plans dont le numéro n'existe pas encore (défaut faux)")},
                    {"prompt_prefix", str("Préfixe de prompt pour chaque image, optionnel")},
                },
                {"directory", "sequence_id"}),
            .readOnly = false,
        },
    };
}

using Handler = Json (*)(const Json& args, ToolContext& context);

struct Route {
    const char* name;
    Handler handler;
};

// In catalogue order; the first exact match runs.
// clang-format off
constexpr Route kRoutes[] = {
    {"list_local_files", listLocalFiles},
    {"upload_file_to_plan", uploadFileToPlan},
    {"upload_file_to_assets", uploadFileToAssets},
    {"upload_folder_to_assets", uploadFolderToAssets},
    {"upload_file_to_media", uploadFileToMedia},
    {"fill_sequence_from_folder", fillSequenceFromFolder},
};
// clang-format on

}  // namespace

Json schema(Json properties, const std::vector<std::string>& required) {
    return Json{{"type", "object"},
                {"properties", std::move(properties)},
                {"required", required},
                {"additionalProperties", false}};
}

Json str(const std::string& description) { return property("string", description); }
Json integer(const std::string& description) { return property("integer", description); }
Json boolean(const std::string& description) { return property("boolean", description); }

const std::vector<ToolDef>& defs() {
    static const std::vector<ToolDef> table = buildDefs();
    return table;
}

const std::set<std::string>& names() {
    static const std::set<std::string> set = [] {
        std::set<std::string> out;
        for (const auto& def : defs()) out.insert(def.name);
        return out;
    }();
    return set;
}

Json run(const std::string& name, const Json& args, ToolContext& context) {
    for (const auto& route : kRoutes)
        if (name == route.name) return route.handler(args, context);
    throw ToolError("unknown_tool", "Outil inconnu : " + name);
}

}  // namespace LocalTools
