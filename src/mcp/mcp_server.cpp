#include "mcp/mcp_server.h"

#include <istream>
#include <ostream>

#include "config/config_store.h"
#include "core/unicode_text.h"
#include "core/version.h"
#include "platform/computer_words.h"

namespace {

constexpr const char* kBuiltInInstructions =
    "Kestro : storyboards (séquences → plans → images versionnées) et page Assets (CARTES personnage, décor, "
    "accessoire…). Ce serveur tourne sur l'ordinateur de l'utilisateur : il PEUT lire ses dossiers et envoyer ses "
    "fichiers. « Mets-le dans les Assets » = créer une CARTE (upload_file_to_assets avec un nom parlant + kind, ou "
    "upload_folder_to_assets) ; renommer = update_asset_card. Sur un plan : upload_file_to_plan / "
    "fill_sequence_from_folder. Médiathèque (fichier brut) : upload_file_to_media, seulement si demandé. Méthode : "
    "list_workspaces → list_sequences / list_plans / list_asset_cards → list_local_files → envoi. Récapitule et "
    "demande confirmation avant plus de 10 envois.";

constexpr const char* kNotConnectedSuffix =
    " ⚠️ Non connecté : ouvre l'app Kestro Agent (barre de menus) et clique « Se connecter ».";

Json emptyListResult(const char* key) { return Json{{key, Json::array()}}; }

}  // namespace

MCPServer::MCPServer(AgentConfig config, std::istream& in, std::ostream& out, std::ostream& err)
    : service(std::move(config)),
      progress([this](const Json& message) { send(message); }),
      m_in(in),
      m_out(out),
      m_err(err),
      m_config(ConfigStore::file()),
      m_countedInput(dynamic_cast<const DescriptorInput*>(in.rdbuf())) {}

int MCPServer::run() {
    const AgentConfig& cfg = service.cfg;
    manifest = Manifest::load(cfg.baseUrl, 3);
    log(std::string("démarré v") + kAppVersion + " — " + cfg.baseUrl + " — token " +
        (cfg.isLoggedIn() ? "présent" : "ABSENT") + " — manifeste " + (manifest ? "serveur" : "intégré"));
    std::string line;
    while (!m_outputClosed && std::getline(m_in, line)) {
        handleLine(line);
        // A held reply must be out before a read that may block: the line
        // that made us hold it may have needed no answer (a notification,
        // blank text), so nothing else would flush it.
        if (!inputWaiting()) m_out.flush();
    }
    m_out.flush();
    return 0;
}

void MCPServer::handleLine(std::string_view raw) {
    std::string_view line = UnicodeText::trimSpacesAndTabs(raw);
    if (line.empty()) return;
    auto value = JSON::decode(line);
    if (!value) {
        send(rpcError(nullptr, -32700, "JSON invalide"));
        return;
    }
    if (value->is_object()) {
        handle(*value);
        return;
    }
    // A batch is answered message by message, each reply on its own line; a
    // batch holding anything but objects is not a batch we can answer at all.
    for (const auto& element : *value)
        if (!element.is_object()) return;
    for (const auto& element : *value) handle(element);
}

// A login or a logout in the tray application counts from the very next
// message; an unchanged file is not parsed again. A message that was already
// in our input when the file was last looked at was sent before that look,
// which stands for it: only bytes read since can follow a change.
void MCPServer::reloadConfig() {
    if (m_countedInput) {
        size_t reads = m_countedInput->reads();
        if (reads == m_readsAtConfigLook) return;
        m_readsAtConfigLook = reads;
    }
    if (auto fresh = m_config.changed()) service.update(std::move(*fresh));
}

void MCPServer::handle(const Json& message) {
    reloadConfig();
    // Answers that take no time may share one write while more requests
    // already wait in our input: the next flush comes a few microseconds
    // later. Anything that may wait on the service or the disk first sends
    // what is held, and its own reply (and progress) at once.
    auto methodOf = message.find("method");
    bool quick =
        methodOf == message.end() || !methodOf->is_string() || (*methodOf != "tools/call" && *methodOf != "tools/list");
    if (!quick) m_out.flush();
    m_holdReplies = quick && inputWaiting();
    dispatch(message);
    m_holdReplies = false;
}

bool MCPServer::inputWaiting() const { return m_in.rdbuf() && m_in.rdbuf()->in_avail() > 0; }

void MCPServer::dispatch(const Json& message) {
    auto idIt = message.find("id");
    bool hasId = idIt != message.end() && !idIt->is_null();
    Json id = hasId ? *idIt : Json(nullptr);

    auto methodIt = message.find("method");
    if (methodIt == message.end() || !methodIt->is_string()) {
        if (hasId) send(rpcError(id, -32600, "Requête invalide"));
        return;
    }
    const std::string method = methodIt->get<std::string>();
    auto paramsIt = message.find("params");
    Json params = (paramsIt != message.end() && paramsIt->is_object()) ? *paramsIt : Json::object();

    if (method == "initialize") {
        send(result(id, Json{{"protocolVersion", kProtocolVersion},
                             {"capabilities", {{"tools", {{"listChanged", false}}}}},
                             {"serverInfo",
                              {{"name", "kestro-agent"},
                               {"title", ComputerWords::here("Kestro Agent (fichiers du Mac)")},
                               {"version", kAppVersion}}},
                             {"instructions", instructions()}}));
    } else if (method == "ping") {
        send(result(id, Json::object()));
    } else if (method == "tools/list") {
        Json tools = localToolDefs();
        for (auto& tool : service.remoteTools()) tools.push_back(std::move(tool));
        send(result(id, Json{{"tools", std::move(tools)}}));
    } else if (method == "tools/call") {
        writeLine(replyLine(id, runTool(params)));
    } else if (method == "resources/list") {
        send(result(id, emptyListResult("resources")));
    } else if (method == "resources/templates/list") {
        send(result(id, emptyListResult("resourceTemplates")));
    } else if (method == "prompts/list") {
        send(result(id, emptyListResult("prompts")));
    } else if (hasId) {
        send(rpcError(id, -32601, "Méthode inconnue : " + method));
    }
}

namespace {

std::string lineOf(const Json& message) {
    std::string line = JSON::encode(message, false);
    // A text that is not UTF-8 (a file name, a home folder in another
    // encoding) must not turn the reply into a bare "null" the assistant
    // cannot match to its request: such bytes go out as U+FFFD instead.
    if (line == "null") line = message.dump(-1, ' ', false, Json::error_handler_t::replace);
    return line;
}

}  // namespace

void MCPServer::send(const Json& message) {
    if (!m_outputClosed) writeLine(lineOf(message));
}

void MCPServer::writeLine(std::string line) {
    if (m_outputClosed) return;
    line += '\n';
    m_out.write(line.data(), static_cast<std::streamsize>(line.size()));
    if (!m_holdReplies) m_out.flush();
    // The assistant closed its end: nobody will read another reply, so the
    // loop stops instead of working for no one.
    if (!m_out) m_outputClosed = true;
}

Json MCPServer::result(const Json& id, Json value) {
    return Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(value)}};
}

Json MCPServer::rpcError(const Json& id, int code, const std::string& message) {
    return Json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

MCPServer::ToolReply MCPServer::toolReply(Json value, bool isError) {
    std::string text = value.is_string() ? value.get<std::string>() : JSON::encode(value, true);
    bool structured = !isError && value.is_object();
    // A value that cannot be written strictly (a name that is not UTF-8) stays
    // a value, for the replacing fallback of the line writer.
    bool written = text != "null";
    ToolReply reply{Json::object(), structured && written ? JSON::withoutLayout(text) : std::string()};
    // Built from moved parts: an initializer list would copy a text of megabytes.
    Json item = Json::object();
    item["text"] = std::move(text);
    item["type"] = "text";
    reply.result["content"] = Json::array();
    reply.result["content"].push_back(std::move(item));
    reply.result["isError"] = isError;
    if (structured && !written) reply.result["structuredContent"] = std::move(value);
    return reply;
}

Json MCPServer::ToolReply::value() && {
    if (!structured.empty()) result["structuredContent"] = *JSON::decode(structured);
    return std::move(result);
}

std::string MCPServer::replyLine(const Json& id, ToolReply reply) {
    std::string line = lineOf(result(id, std::move(reply.result)));
    if (reply.structured.empty()) return line;
    // Keys are written in sorted order: "structuredContent" follows "content"
    // and "isError" inside "result", which follows "id" and "jsonrpc", so it
    // goes just before the last two closing braces.
    line.reserve(line.size() + reply.structured.size() + 24);
    line.insert(line.size() - 2, ",\"structuredContent\":");
    line.insert(line.size() - 2, reply.structured);
    return line;
}

std::string MCPServer::instructions() const {
    std::string text = kBuiltInInstructions;
    if (manifest && manifest->instructions && !manifest->instructions->empty()) text = *manifest->instructions;
    if (!service.cfg.isLoggedIn()) text += kNotConnectedSuffix;
    return text;
}

void MCPServer::log(const std::string& text) {
    std::string line = "[kestro-agent] " + text + "\n";
    m_err.write(line.data(), static_cast<std::streamsize>(line.size()));
    m_err.flush();
}
