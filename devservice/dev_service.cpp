#include "dev_service.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "oauth_service.h"
#include "service_state.h"

namespace devservice {
namespace {

std::string lowerCase(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string hex(const unsigned char* bytes, unsigned int length) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

Json rpcResult(const Json& id, Json result) { return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}}; }

Json rpcError(const Json& id, int code, const std::string& message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

// A member read as text whatever the caller sent: a mistyped member reads as
// empty rather than throwing out of the request handler.
std::string textOf(const Json& object, const char* key) {
    auto it = object.find(key);
    return (it != object.end() && it->is_string()) ? it->get<std::string>() : std::string();
}

template <typename Item>
std::vector<Item> inWorkspace(const std::vector<Item>& items, int64_t workspaceId) {
    std::vector<Item> out;
    for (const auto& item : items)
        if (item.workspaceId == workspaceId) out.push_back(item);
    return out;
}

Json textContent(const std::string& text) { return Json::array({Json{{"type", "text"}, {"text", text}}}); }

}  // namespace

struct DevService::Impl {
    mutable std::mutex mutex;
    ServiceState state;
    std::vector<std::string> tokens{"dev-token"};
    std::vector<Fault> faults;
    std::vector<RecordedRequest> requests;
    std::optional<std::pair<std::string, int>> manifest;
    bool keepUploadBytes = true;
    ReleaseShelf releases;
    std::string uploadDir;

    OAuthService oauth;
    httplib::Server server;
    std::thread thread;
    std::thread stopper;  // a "service dies" fault stops the server from outside its own handler
    // Set by a "service dies" fault before its answer goes out. The stopper
    // thread may run late, and until it has, a request on a kept-alive or
    // already accepted connection would find the dead service still serving.
    bool dead = false;
    int port = 0;

    // The first fault that matches, consumed; nothing when none applies.
    std::optional<Fault> takeFault(const std::string& path, const std::string& tool) {
        std::lock_guard lock(mutex);
        for (auto& f : faults) {
            if (!path.starts_with(f.pathPrefix)) continue;
            if (!f.tool.empty() && f.tool != tool) continue;
            if (f.remaining == 0) continue;
            if (f.skip > 0) {
                --f.skip;
                continue;
            }
            if (f.remaining > 0) --f.remaining;
            return f;
        }
        return std::nullopt;
    }

    void record(const httplib::Request& req, std::string body, std::string tool = "", Json args = nullptr) {
        RecordedRequest r{req.method, req.path, {}, std::move(body), std::move(tool), std::move(args)};
        for (const auto& [name, value] : req.headers) r.headers[lowerCase(name)] = value;
        std::lock_guard lock(mutex);
        requests.push_back(std::move(r));
    }

    bool authorised(const httplib::Request& req) {
        std::string header = req.get_header_value("Authorization");
        std::lock_guard lock(mutex);
        for (const auto& t : tokens)
            if (header == "Bearer " + t) return true;
        return false;
    }

    // Promises a body and ends the connection before sending it.
    static void dropConnection(httplib::Response& res) {
        res.set_content_provider(4096, "application/json", [](size_t, size_t, httplib::DataSink& sink) {
            sink.write("{\"jsonrpc\":\"2.", 14);
            return false;
        });
    }

    // Applies the parts of a fault that replace the whole HTTP answer. True
    // when the answer is settled.
    bool applyHttpFault(const Fault& f, httplib::Response& res) {
        if (f.delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(f.delayMs));
        if (f.stopService) {
            std::lock_guard lock(mutex);
            dead = true;
            if (!stopper.joinable()) stopper = std::thread([this] { server.stop(); });
        }
        if (f.dropConnection) {
            dropConnection(res);
            return true;
        }
        if (f.status != 0) {
            res.status = f.status;
            res.set_content(f.body, f.contentType.c_str());
            return true;
        }
        return false;
    }

    void handleMcp(const httplib::Request& req, httplib::Response& res) {
        auto body = Json::parse(req.body, nullptr, false);
        std::string tool;
        Json args = Json::object();
        if (body.is_object() && textOf(body, "method") == "tools/call" && body.contains("params") &&
            body["params"].is_object()) {
            tool = textOf(body["params"], "name");
            if (body["params"].contains("arguments")) args = body["params"]["arguments"];
        }
        record(req, req.body, tool, args);
        auto fault = takeFault(req.path, tool);
        if (fault && applyHttpFault(*fault, res)) return;
        if (!authorised(req)) {
            res.status = 401;
            res.set_content(R"({"error":"invalid_token","message":"Token invalide ou révoqué."})", "application/json");
            return;
        }
        if (!body.is_object()) {
            res.status = 400;
            res.set_content(rpcError(nullptr, -32700, "Parse error").dump(), "application/json");
            return;
        }
        Json id = body.contains("id") ? body["id"] : Json(nullptr);
        if (fault && fault->rpcError) {
            res.set_content(Json{{"jsonrpc", "2.0"}, {"id", id}, {"error", *fault->rpcError}}.dump(),
                            "application/json");
            return;
        }
        res.set_content(answerRpc(body, id, tool, args, fault).dump(), "application/json");
    }

    static Json withFractions(const Json& value) {
        if (value.is_number_integer()) return Json(value.get<double>());
        if (!value.is_structured()) return value;
        Json out = value;
        for (auto& member : out) member = withFractions(member);
        return out;
    }

    Json answerRpc(const Json& body, const Json& id, const std::string& tool, const Json& args,
                   const std::optional<Fault>& fault) {
        std::string method = textOf(body, "method");
        if (method == "tools/list") return rpcResult(id, {{"tools", ServiceState::toolDefinitions()}});
        if (method != "tools/call") return rpcError(id, -32601, "Method not found: " + method);
        if (fault && fault->toolIsError) return rpcResult(id, {{"content", textContent(fault->body)}, {"isError", true}});
        try {
            Json data;
            {
                std::lock_guard lock(mutex);
                data = state.call(tool, args.is_object() ? args : Json::object());
            }
            if (fault && fault->wholeNumbersAsFractions) data = withFractions(data);
            Json result{{"content", textContent(data.dump())}, {"isError", false}};
            if (!(fault && fault->textContent)) result["structuredContent"] = data;
            return rpcResult(id, result);
        } catch (const ToolRefusal& e) {
            return rpcResult(id, {{"content", textContent(e.what())}, {"isError", true}});
        } catch (const std::invalid_argument& e) {
            return rpcError(id, -32602, e.what());
        }
    }

    void handleUpload(const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& reader) {
        int64_t id = std::stoll(req.matches[1]);
        auto fault = takeFault(req.path, "");
        std::string path = uploadDir + "/" + std::to_string(id);
        bool keep;
        {
            std::lock_guard lock(mutex);
            keep = keepUploadBytes && !uploadDir.empty();
        }
        std::ofstream file;
        if (keep) file.open(path, std::ios::binary | std::ios::trunc);
        EVP_MD_CTX* sha = EVP_MD_CTX_new();
        EVP_DigestInit_ex(sha, EVP_sha256(), nullptr);
        uint64_t bytes = 0;
        bool complete = reader([&](const char* data, size_t length) {
            EVP_DigestUpdate(sha, data, length);
            if (keep) file.write(data, static_cast<std::streamsize>(length));
            bytes += length;
            return true;
        });
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digestLength = 0;
        EVP_DigestFinal_ex(sha, digest, &digestLength);
        EVP_MD_CTX_free(sha);
        record(req, "");
        if (fault && applyHttpFault(*fault, res)) return;

        std::lock_guard lock(mutex);
        Upload* upload = state.findUpload(id);
        if (!upload) {
            res.status = 404;
            res.set_content(R"({"message":"Emplacement de dépôt inconnu."})", "application/json");
            return;
        }
        auto declared = upload->request.find("size");
        if (!complete || (declared != upload->request.end() && declared->is_number_integer() &&
                          declared->get<uint64_t>() != bytes)) {
            res.status = 400;
            res.set_content(R"({"message":"Taille reçue différente de la taille annoncée."})", "application/json");
            return;
        }
        upload->received = true;
        upload->bytes = bytes;
        upload->sha256 = hex(digest, digestLength);
        upload->storedPath = keep ? path : "";
        res.set_content(Json{{"ok", true}, {"bytes", bytes}}.dump(), "application/json");
    }

    void handleManifest(const httplib::Request& req, httplib::Response& res) {
        record(req, "");
        auto fault = takeFault(req.path, "");
        if (fault && applyHttpFault(*fault, res)) return;
        std::lock_guard lock(mutex);
        if (auto latest = releases.latest(state.baseUrl)) {
            auto document = Json::parse(manifest ? manifest->first : "{}", nullptr, false);
            if (document.is_object()) {
                document["latest"] = *latest;
                res.status = manifest ? manifest->second : 200;
                res.set_content(document.dump(), "application/json");
                return;
            }
        }
        if (!manifest) {
            res.status = 404;
            res.set_content(R"({"error":"not_found"})", "application/json");
            return;
        }
        res.status = manifest->second;
        res.set_content(manifest->first, "application/json");
    }
};

DevService::DevService() : m(std::make_unique<Impl>()) {
    std::string templ = (std::filesystem::temp_directory_path() / "kestro-devservice-XXXXXX").string();
    std::vector<char> name(templ.begin(), templ.end());
    name.push_back('\0');
    if (::mkdtemp(name.data())) m->uploadDir = name.data();
    // Stopping waits for the connections a client keeps alive to time out;
    // a short wait lets a test stop the service and bring it back quickly.
    m->server.set_keep_alive_timeout(1);

    m->server.set_pre_routing_handler([this](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(m->mutex);
        if (!m->dead) return httplib::Server::HandlerResponse::Unhandled;
        Impl::dropConnection(res);
        return httplib::Server::HandlerResponse::Handled;
    });
    m->server.Post("/mcp", [this](const httplib::Request& req, httplib::Response& res) { m->handleMcp(req, res); });
    m->server.Put(R"(/upload/(\d+))", [this](const httplib::Request& req, httplib::Response& res,
                                             const httplib::ContentReader& reader) {
        m->handleUpload(req, res, reader);
    });
    m->server.Get("/api/v1/agent_manifest.php",
                  [this](const httplib::Request& req, httplib::Response& res) { m->handleManifest(req, res); });
    m->oauth.install(m->server, {
        .takeFault = [this](const std::string& path) { return m->takeFault(path, ""); },
        .applyFault = [this](const Fault& f, httplib::Response& res) { return m->applyHttpFault(f, res); },
        .record = [this](const httplib::Request& req, const std::string& body) { m->record(req, body); },
        .acceptToken = [this](const std::string& token) {
            std::lock_guard lock(m->mutex);
            m->tokens.push_back(token);
        },
        .baseUrl = [this] { return baseUrl(); },
    });
    m->releases.mount(m->server);
}

DevService::~DevService() {
    stop();
    std::error_code ec;
    if (!m->uploadDir.empty()) std::filesystem::remove_all(m->uploadDir, ec);
}

int DevService::start(int port) {
    if (m->thread.joinable()) return m->port;
    if (port == 0) {
        m->port = m->server.bind_to_any_port("127.0.0.1");
    } else {
        m->port = m->server.bind_to_port("127.0.0.1", port) ? port : -1;
    }
    if (m->port <= 0) return -1;
    {
        std::lock_guard lock(m->mutex);
        m->dead = false;
        m->state.baseUrl = baseUrl();
    }
    m->thread = std::thread([this] { m->server.listen_after_bind(); });
    for (int i = 0; i < 500 && !m->server.is_running(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return m->port;
}

void DevService::stop() {
    m->server.stop();
    if (m->thread.joinable()) m->thread.join();
    // The listen thread has ended, so no handler can start another stopper.
    if (m->stopper.joinable()) m->stopper.join();
}

std::string DevService::baseUrl() const { return "http://127.0.0.1:" + std::to_string(m->port); }

void DevService::setTokens(std::vector<std::string> tokens) {
    std::lock_guard lock(m->mutex);
    m->tokens = std::move(tokens);
}

void DevService::setManifest(std::string body, int status) {
    std::lock_guard lock(m->mutex);
    m->manifest = std::make_pair(std::move(body), status);
}

void DevService::setKeepUploadBytes(bool keep) {
    std::lock_guard lock(m->mutex);
    m->keepUploadBytes = keep;
}

ReleaseShelf& DevService::releases() { return m->releases; }

void DevService::addFault(Fault fault) {
    std::lock_guard lock(m->mutex);
    m->faults.push_back(std::move(fault));
}

void DevService::clearFaults() {
    std::lock_guard lock(m->mutex);
    m->faults.clear();
}

std::vector<RecordedRequest> DevService::requests() const {
    std::lock_guard lock(m->mutex);
    return m->requests;
}

std::vector<RecordedRequest> DevService::toolCalls(const std::string& tool) const {
    std::lock_guard lock(m->mutex);
    std::vector<RecordedRequest> out;
    for (const auto& r : m->requests)
        if (!r.tool.empty() && (tool.empty() || r.tool == tool)) out.push_back(r);
    return out;
}

size_t DevService::count(const std::string& method, const std::string& path) const {
    std::lock_guard lock(m->mutex);
    size_t n = 0;
    for (const auto& r : m->requests)
        if (r.method == method && r.path == path) ++n;
    return n;
}

void DevService::clearRequests() {
    std::lock_guard lock(m->mutex);
    m->requests.clear();
}

std::vector<Workspace> DevService::workspaces() const {
    std::lock_guard lock(m->mutex);
    return m->state.workspaces;
}

std::vector<Sequence> DevService::sequences() const {
    std::lock_guard lock(m->mutex);
    return m->state.sequences;
}

std::vector<Plan> DevService::plans(int64_t sequenceId) const {
    std::lock_guard lock(m->mutex);
    std::vector<Plan> out;
    for (const Plan* p : m->state.plansOf(sequenceId)) out.push_back(*p);
    return out;
}

std::vector<Card> DevService::cards(int64_t workspaceId) const {
    std::lock_guard lock(m->mutex);
    return inWorkspace(m->state.cards, workspaceId);
}

std::vector<MediaItem> DevService::media(int64_t workspaceId) const {
    std::lock_guard lock(m->mutex);
    return inWorkspace(m->state.media, workspaceId);
}

std::vector<Upload> DevService::uploads() const {
    std::lock_guard lock(m->mutex);
    return m->state.uploads;
}

int64_t DevService::addWorkspace(const std::string& name) {
    std::lock_guard lock(m->mutex);
    return m->state.addWorkspace(name);
}

int64_t DevService::addSequence(int64_t workspaceId, const std::string& name) {
    std::lock_guard lock(m->mutex);
    return m->state.addSequence(workspaceId, name);
}

int64_t DevService::addPlan(int64_t sequenceId, int64_t number, const std::string& text) {
    std::lock_guard lock(m->mutex);
    return m->state.addPlan(sequenceId, number, text);
}

int64_t DevService::addCard(int64_t workspaceId, const std::string& name, bool isFolder,
                            std::optional<int64_t> folderId) {
    std::lock_guard lock(m->mutex);
    return m->state.addCard(workspaceId, name, isFolder, folderId);
}

OAuthService& DevService::oauth() { return m->oauth; }

std::string DevService::describe() const {
    std::lock_guard lock(m->mutex);
    const ServiceState& s = m->state;
    std::ostringstream out;
    for (const auto& w : s.workspaces) {
        out << "workspace " << w.id << " « " << w.name << " »\n";
        for (const auto& q : s.sequences) {
            if (q.workspaceId != w.id) continue;
            out << "  sequence " << q.id << " « " << q.name << " »\n";
            for (const Plan* p : s.plansOf(q.id)) {
                out << "    plan " << p->number << " (id " << p->id << ") « " << p->text << " »";
                for (const auto& v : p->versions) out << " " << v.label;
                out << "\n";
            }
        }
        for (const auto& c : s.cards) {
            if (c.workspaceId != w.id) continue;
            out << "  " << (c.isFolder ? "card folder " : "card ") << c.id << " « " << c.name << " »";
            if (!c.kind.empty()) out << " kind " << c.kind;
            if (c.folderId) out << " in folder " << *c.folderId;
            if (!c.versions.empty()) out << " pictures " << c.versions.size();
            out << "\n";
        }
        for (const auto& i : s.media)
            if (i.workspaceId == w.id) out << "  media " << i.id << " « " << i.filename << " »\n";
    }
    for (const auto& u : s.uploads)
        out << "upload " << u.id << " " << u.request.value("filename", "") << ": " << u.bytes << " bytes, sha256 "
            << (u.sha256.empty() ? "-" : u.sha256) << (u.finalize ? ", finalized" : ", not finalized") << "\n";
    return out.str();
}

}  // namespace devservice
