#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "core/tool_args.h"
#include "core/unicode_text.h"
#include "tools/batch_run.h"
#include "tools/file_extensions.h"
#include "tools/local.h"
#include "tools/local_tool_args.h"
#include "tools/local_tool_handlers.h"
#include "tools/tool_context.h"

// One asset card per image of a folder, optionally gathered in a card folder
// found by name or created. A refused image is recorded and the others still
// go; a card the service already held at the same place is reported apart, so
// the assistant does not send it again for another episode of a series.
namespace LocalTools {
namespace {

// A call sends every image in one blocking exchange each; beyond this the
// assistant is asked to split the folder rather than wait for minutes.
constexpr size_t kMaxImages = 100;

const std::string kNote =
    "Cartes créées sur la page Assets : ne renvoie pas les fichiers. Vérifie avec list_asset_cards ; renomme avec "
    "update_asset_card si besoin.";
const std::string kAlreadyExistingNote =
    " carte(s) existaient déjà au même endroit (série à assets partagés : communes à tous les épisodes) : aucune "
    "copie créée, ne répète pas l'envoi pour un autre épisode.";

struct CardOptions {
    int64_t workspaceId = 0;
    std::string namePrefix;
    std::string promptPrefix;
    std::optional<std::string> kind;
    std::optional<int64_t> folderId;
};

std::vector<LocalFile> imagesOf(const Json& args, std::vector<std::string>& notUtf8) {
    auto [folder, files] = Local::list(LocalToolArgs::path(args, "directory"), kCardImageExts, &notUtf8);
    if (files.empty()) throw ToolError("empty", "Aucune image dans " + folder + ".");
    if (files.size() > kMaxImages)
        throw ToolError("too_many", std::to_string(files.size()) + " images : 100 max par appel, découpe le dossier.");
    return std::move(files);
}

// Folder names are typed by people: "personnages" finds "Personnages", and
// accented capitals fold too ("DÉCORS" finds "décors").
bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
    return icu::UnicodeString::fromUTF8(a).caseCompare(icu::UnicodeString::fromUTF8(b), U_FOLD_CASE_DEFAULT) == 0;
}

std::optional<int64_t> integerAt(const Json& object, const char* key) {
    auto it = object.find(key);
    return it == object.end() ? std::nullopt : integralNumber(*it);
}

// The first folder card of that name, in the service's order.
const Json* existingFolderCard(const Json& listing, const std::string& name) {
    auto cards = listing.find("cards");
    if (cards == listing.end() || !cards->is_array()) return nullptr;
    for (const Json& card : *cards) {
        if (!card.is_object()) continue;
        auto isFolder = card.find("is_folder");
        if (isFolder == card.end() || *isFolder != true) continue;
        auto cardName = card.find("name");
        std::string text = (cardName != card.end() && cardName->is_string()) ? cardName->get<std::string>() : "";
        if (sameNameIgnoringCase(text, name)) return &card;
    }
    return nullptr;
}

// The card folder's id: found by name, else created. No usable name (absent,
// blank) or a reply without an integer id means the cards go without a folder.
std::optional<int64_t> cardFolderId(const Json& args, const CardOptions& options, ServiceSession& service) {
    auto folderName = strArg(args, "folder_name");
    if (!folderName) return std::nullopt;
    std::string name(UnicodeText::trimSpacesAndTabs(*folderName));
    if (name.empty()) return std::nullopt;

    Json listing = service.remoteData("list_asset_cards", Json{{"workspace_id", options.workspaceId}});
    if (const Json* card = existingFolderCard(listing, name)) return integerAt(*card, "card_id");

    Json request{{"workspace_id", options.workspaceId}, {"name", name}};
    LocalToolArgs::setIfPresent(request, "kind", options.kind);
    return integerAt(service.remoteData("create_asset_card_folder", request), "folder_id");
}

std::string prefixed(const std::string& prefix, const std::string& stem) {
    return prefix.empty() ? stem : prefix + " " + stem;
}

Json cardFinalize(const LocalFile& file, const CardOptions& options) {
    std::string stem = Local::stemAsPrompt(file.name);
    Json finalize = LocalToolArgs::finalizeObject("card");
    finalize["name"] = prefixed(options.namePrefix, stem);
    LocalToolArgs::setIfPresent(finalize, "folder_id", options.folderId);
    LocalToolArgs::setIfPresent(finalize, "kind", options.kind);
    if (!options.promptPrefix.empty()) finalize["prompt"] = prefixed(options.promptPrefix, stem);
    return finalize;
}

struct CardLists {
    Json done = Json::array();
    Json alreadyExisting = Json::array();
    Json failed = Json::array();
    Json skipped = Json::array();
};

// True when the service took the image, as a new card or as one it already held.
bool sendCard(const LocalFile& file, const CardOptions& options, ServiceSession& service, CardLists& lists,
              const ProgressSink::ByteProgress& onBytes) {
    Json reply;
    try {
        reply = service.uploadFile(file.path, options.workspaceId, std::nullopt, cardFinalize(file, options), onBytes);
    } catch (const ToolError& error) {
        Json entry{{"file", file.name}};
        LocalToolArgs::recordFailure(entry, error);
        lists.failed.push_back(std::move(entry));
        return false;
    }
    Json entry{{"file", file.name},
               {"card_id", LocalToolArgs::copied(reply, "card_id")},
               {"name", LocalToolArgs::copied(reply, "name")}};
    bool existed = LocalToolArgs::copied(reply, "already_exists") == true;
    (existed ? lists.alreadyExisting : lists.done).push_back(std::move(entry));
    return true;
}

std::string closingNote(const CardLists& lists) {
    if (lists.alreadyExisting.empty()) return kNote;
    return kNote + " " + std::to_string(lists.alreadyExisting.size()) + kAlreadyExistingNote;
}

Json summary(const CardOptions& options, CardLists lists) {
    std::string note = closingNote(lists);
    Json out{{"workspace_id", options.workspaceId},
             {"cards_created", lists.done.size()},
             {"cards_already_existing", lists.alreadyExisting.size()},
             {"card_folder_id", options.folderId ? Json(*options.folderId) : Json(nullptr)},
             {"failed", lists.failed.size()},
             {"done", std::move(lists.done)},
             {"already_existing", std::move(lists.alreadyExisting)},
             {"failed_files", std::move(lists.failed)},
             {"next", std::move(note)}};
    // Only a folder holding such names has this list, so every other reply
    // keeps the shape assistants already know.
    if (!lists.skipped.empty()) out["skipped_files"] = std::move(lists.skipped);
    return out;
}

}  // namespace

Json uploadFolderToAssets(const Json& args, ToolContext& context) {
    ServiceSession& service = context.service;
    CardOptions options;
    options.workspaceId = LocalToolArgs::requiredId(args, "workspace_id");
    std::vector<std::string> notUtf8;
    std::vector<LocalFile> images = imagesOf(args, notUtf8);
    options.namePrefix = strArg(args, "name_prefix").value_or("");
    options.promptPrefix = strArg(args, "prompt_prefix").value_or("");
    options.kind = LocalToolArgs::optionalText(args, "kind");
    options.folderId = cardFolderId(args, options, service);

    CardLists lists;
    for (const auto& name : notUtf8) lists.skipped.push_back(LocalToolArgs::skippedNotUtf8(name));
    BatchRun run(context.progress, images.size());
    for (const LocalFile& file : images)
        run.handle(file.name, [&](const ProgressSink::ByteProgress& onBytes) {
            return sendCard(file, options, service, lists, onBytes);
        });
    return summary(options, std::move(lists));
}

}  // namespace LocalTools
