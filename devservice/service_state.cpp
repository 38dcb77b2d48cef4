#include "service_state.h"

#include <algorithm>
#include <cctype>

namespace devservice {
namespace {

std::optional<int64_t> integer(const Json& args, const char* key) {
    auto it = args.find(key);
    if (it == args.end()) return std::nullopt;
    if (it->is_number_integer()) return it->get<int64_t>();
    return std::nullopt;
}

int64_t requiredInteger(const Json& args, const char* key) {
    auto value = integer(args, key);
    if (!value) throw ToolRefusal(std::string(key) + " requis (entier).");
    return *value;
}

std::string text(const Json& args, const char* key) {
    auto it = args.find(key);
    return (it != args.end() && it->is_string()) ? it->get<std::string>() : std::string();
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

Json tool(const char* name, const char* description, Json properties, Json required) {
    return Json{{"name", name},
                {"description", description},
                {"inputSchema", {{"type", "object"}, {"properties", std::move(properties)}, {"required", required}}}};
}

const Json kInteger = {{"type", "integer"}};
const Json kString = {{"type", "string"}};

}  // namespace

ServiceState::ServiceState() {
    int64_t film = addWorkspace("Court métrage « La Forêt »");
    int64_t opening = addSequence(film, "Séquence 1 — Ouverture");
    addPlan(opening, 1, "Plan large sur la forêt");
    addPlan(opening, 2, "La cabane au loin");
    addPlan(opening, 3, "Entrée du personnage");
    addSequence(film, "Séquence 2 — La nuit");
    int64_t folder = addCard(film, "Personnages", true, std::nullopt);
    addCard(film, "Lina", false, folder);
    addCard(film, "La cabane", false, std::nullopt);
    int64_t series = addWorkspace("Série « Les Voisins »");
    addSequence(series, "Épisode 1 — Générique");
}

Json ServiceState::toolDefinitions() {
    return Json::array({
        tool("list_workspaces", "Liste les workspaces de l'utilisateur.", Json::object(), Json::array()),
        tool("list_sequences", "Liste les séquences d'un workspace.", {{"workspace_id", kInteger}},
             {"workspace_id"}),
        tool("list_plans", "Liste les plans d'une séquence.", {{"workspace_id", kInteger}, {"sequence_id", kInteger}},
             {"workspace_id", "sequence_id"}),
        tool("create_plan", "Crée un plan à la fin d'une séquence.", {{"sequence_id", kInteger}, {"text", kString}},
             {"sequence_id"}),
        tool("list_asset_cards", "Liste les cartes de la page Assets.", {{"workspace_id", kInteger}},
             {"workspace_id"}),
        tool("create_asset_card_folder", "Crée un dossier de cartes.",
             {{"workspace_id", kInteger}, {"name", kString}, {"kind", kString}}, {"workspace_id", "name"}),
        tool("update_asset_card", "Renomme ou décrit une carte.",
             {{"card_id", kInteger}, {"name", kString}, {"kind", kString}, {"description", kString}}, {"card_id"}),
        tool("request_upload", "Réserve un emplacement de dépôt.",
             {{"filename", kString}, {"workspace_id", kInteger}, {"plan_id", kInteger}, {"size", kInteger}},
             {"filename"}),
        tool("finalize_upload", "Rattache un fichier déposé à sa destination.",
             {{"upload_id", kInteger}, {"target", kString}}, {"upload_id", "target"}),
    });
}

Json ServiceState::call(const std::string& name, const Json& args) {
    if (name == "list_workspaces") return listWorkspaces();
    if (name == "list_sequences") return listSequences(args);
    if (name == "list_plans") return listPlans(args);
    if (name == "create_plan") return createPlan(args);
    if (name == "list_asset_cards") return listAssetCards(args);
    if (name == "create_asset_card_folder") return createAssetCardFolder(args);
    if (name == "update_asset_card") return updateAssetCard(args);
    if (name == "request_upload") return requestUpload(args);
    if (name == "finalize_upload") return finalizeUpload(args);
    throw std::invalid_argument("Unknown tool: " + name);
}

int64_t ServiceState::addWorkspace(const std::string& name) {
    workspaces.push_back({++m_nextId, name});
    return m_nextId;
}

int64_t ServiceState::addSequence(int64_t workspaceId, const std::string& name) {
    sequences.push_back({++m_nextId, workspaceId, name});
    return m_nextId;
}

int64_t ServiceState::addPlan(int64_t sequenceId, int64_t number, const std::string& planText) {
    plans.push_back({++m_nextId, sequenceId, number, planText, {}});
    return m_nextId;
}

int64_t ServiceState::addCard(int64_t workspaceId, const std::string& name, bool isFolder,
                              std::optional<int64_t> folderId) {
    Card c;
    c.id = ++m_nextId;
    c.workspaceId = workspaceId;
    c.name = name;
    c.isFolder = isFolder;
    c.folderId = folderId;
    cards.push_back(std::move(c));
    return m_nextId;
}

const Workspace& ServiceState::workspace(const Json& args, const char* key) {
    int64_t id = requiredInteger(args, key);
    for (const auto& w : workspaces)
        if (w.id == id) return w;
    throw ToolRefusal("Workspace " + std::to_string(id) + " introuvable.");
}

Sequence& ServiceState::sequence(int64_t id) {
    for (auto& s : sequences)
        if (s.id == id) return s;
    throw ToolRefusal("Séquence " + std::to_string(id) + " introuvable.");
}

Plan* ServiceState::plan(int64_t id) {
    for (auto& p : plans)
        if (p.id == id) return &p;
    return nullptr;
}

Card* ServiceState::card(int64_t id) {
    for (auto& c : cards)
        if (c.id == id) return &c;
    return nullptr;
}

std::vector<const Plan*> ServiceState::plansOf(int64_t sequenceId) const {
    std::vector<const Plan*> out;
    for (const auto& p : plans)
        if (p.sequenceId == sequenceId) out.push_back(&p);
    std::stable_sort(out.begin(), out.end(), [](const Plan* a, const Plan* b) { return a->number < b->number; });
    return out;
}

Upload* ServiceState::findUpload(int64_t id) {
    for (auto& u : uploads)
        if (u.id == id) return &u;
    return nullptr;
}

std::string ServiceState::fileUrl(const Upload& upload) const {
    return baseUrl + "/files/" + std::to_string(upload.id) + "/" + text(upload.request, "filename");
}

Json ServiceState::listWorkspaces() {
    Json list = Json::array();
    for (const auto& w : workspaces) list.push_back({{"id", w.id}, {"name", w.name}});
    return {{"workspaces", list}};
}

Json ServiceState::listSequences(const Json& args) {
    const Workspace& w = workspace(args);
    Json list = Json::array();
    for (const auto& s : sequences)
        if (s.workspaceId == w.id) list.push_back({{"id", s.id}, {"name", s.name}, {"workspace_id", w.id}});
    return {{"sequences", list}};
}

Json ServiceState::listPlans(const Json& args) {
    const Workspace& w = workspace(args);
    Sequence& s = sequence(requiredInteger(args, "sequence_id"));
    if (s.workspaceId != w.id) throw ToolRefusal("Cette séquence n'appartient pas à ce workspace.");
    Json list = Json::array();
    for (const Plan* p : plansOf(s.id))
        list.push_back({{"id", p->id}, {"plan_number", p->number}, {"text", p->text},
                        {"versions", p->versions.size()}});
    return {{"plans", list}};
}

// A new plan always goes after the last one, whatever number the caller hoped for.
Json ServiceState::createPlan(const Json& args) {
    Sequence& s = sequence(requiredInteger(args, "sequence_id"));
    int64_t last = 0;
    for (const auto& p : plans)
        if (p.sequenceId == s.id) last = std::max(last, p.number);
    std::string planText = text(args, "text");
    int64_t id = addPlan(s.id, last + 1, planText);
    return {{"plan_id", id}, {"plan_number", last + 1}, {"text", planText}};
}

Json ServiceState::listAssetCards(const Json& args) {
    const Workspace& w = workspace(args);
    Json list = Json::array();
    for (const auto& c : cards) {
        if (c.workspaceId != w.id) continue;
        Json entry{{"card_id", c.id}, {"name", c.name}, {"is_folder", c.isFolder}, {"kind", c.kind}};
        entry["folder_id"] = c.folderId ? Json(*c.folderId) : Json(nullptr);
        list.push_back(std::move(entry));
    }
    return {{"cards", list}};
}

Json ServiceState::createAssetCardFolder(const Json& args) {
    const Workspace& w = workspace(args);
    std::string name = text(args, "name");
    if (name.empty()) throw ToolRefusal("name requis.");
    int64_t id = addCard(w.id, name, true, std::nullopt);
    card(id)->kind = text(args, "kind");
    return {{"folder_id", id}, {"name", name}};
}

Json ServiceState::updateAssetCard(const Json& args) {
    Card* c = card(requiredInteger(args, "card_id"));
    if (!c) throw ToolRefusal("Carte introuvable.");
    if (auto v = text(args, "name"); !v.empty()) c->name = v;
    if (auto v = text(args, "kind"); !v.empty()) c->kind = v;
    if (args.contains("description")) c->description = text(args, "description");
    return {{"card_id", c->id}, {"name", c->name}, {"kind", c->kind}, {"description", c->description}};
}

Json ServiceState::requestUpload(const Json& args) {
    if (text(args, "filename").empty()) throw ToolRefusal("filename requis.");
    if (args.contains("workspace_id")) workspace(args);
    if (args.contains("plan_id") && !plan(requiredInteger(args, "plan_id"))) throw ToolRefusal("Plan introuvable.");
    Upload u;
    u.id = ++m_nextId;
    u.request = args;
    uploads.push_back(u);
    return {{"upload_url", baseUrl + "/upload/" + std::to_string(u.id)}, {"upload_id", u.id}};
}

Json ServiceState::finalizeUpload(const Json& args) {
    Upload* u = findUpload(requiredInteger(args, "upload_id"));
    if (!u) throw ToolRefusal("Dépôt inconnu.");
    if (!u->received) throw ToolRefusal("Le fichier n'a pas été reçu.");
    if (u->finalize) throw ToolRefusal("Dépôt déjà finalisé.");
    std::string target = text(args, "target");
    Json reply;
    if (target == "plan") reply = finalizeToPlan(*u, args);
    else if (target == "card") reply = finalizeToCard(*u, args);
    else if (target == "media") reply = finalizeToMedia(*u, args);
    else throw ToolRefusal("target inconnue : " + target);
    u->finalize = args;
    return reply;
}

Json ServiceState::finalizeToPlan(const Upload& upload, const Json& args) {
    Plan* p = plan(requiredInteger(args, "plan_id"));
    if (!p) throw ToolRefusal("Plan introuvable.");
    std::string label = "V" + std::to_string(p->versions.size() + 1);
    p->versions.push_back({label, fileUrl(upload), upload.id, text(args, "prompt")});
    return {{"plan_id", p->id}, {"plan_number", p->number}, {"version_label", label}, {"url", fileUrl(upload)}};
}

// A series shares its assets between episodes: a card of the same name in the
// same place is not copied again, and the caller is told so.
Json ServiceState::finalizeToCard(const Upload& upload, const Json& args) {
    auto workspaceId = integer(upload.request, "workspace_id");
    if (!workspaceId) throw ToolRefusal("workspace_id requis pour une carte.");
    auto folderId = integer(args, "folder_id");
    Card* target = nullptr;
    if (auto cardId = integer(args, "card_id")) {
        target = card(*cardId);
        if (!target || target->workspaceId != *workspaceId) throw ToolRefusal("Carte introuvable.");
    } else {
        std::string name = text(args, "name");
        if (name.empty()) throw ToolRefusal("name requis.");
        for (auto& c : cards) {
            if (c.workspaceId == *workspaceId && !c.isFolder && c.folderId == folderId && lower(c.name) == lower(name))
                return {{"card_id", c.id}, {"name", c.name}, {"already_exists", true}};
        }
        target = card(addCard(*workspaceId, name, false, folderId));
    }
    if (auto v = text(args, "kind"); !v.empty()) target->kind = v;
    if (auto v = text(args, "description"); !v.empty()) target->description = v;
    if (auto v = text(args, "prompt"); !v.empty()) target->prompt = v;
    std::string label = "V" + std::to_string(target->versions.size() + 1);
    target->versions.push_back({label, fileUrl(upload), upload.id, text(args, "prompt")});
    return {{"card_id", target->id}, {"name", target->name}, {"already_exists", false}, {"version_label", label},
            {"url", fileUrl(upload)}};
}

Json ServiceState::finalizeToMedia(const Upload& upload, const Json& args) {
    auto workspaceId = integer(upload.request, "workspace_id");
    if (!workspaceId) throw ToolRefusal("workspace_id requis pour la médiathèque.");
    MediaItem item;
    item.id = ++m_nextId;
    item.workspaceId = *workspaceId;
    item.filename = text(upload.request, "filename");
    item.prompt = text(args, "prompt");
    item.displayTitle = text(args, "display_title");
    item.folderId = integer(args, "folder_id");
    item.uploadId = upload.id;
    media.push_back(item);
    return {{"media_id", item.id}, {"filename", item.filename}, {"url", fileUrl(upload)}};
}

}  // namespace devservice
