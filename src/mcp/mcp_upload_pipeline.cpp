#include <sys/stat.h>

#include <chrono>

#include "core/http.h"
#include "core/tool_error.h"
#include "mcp/mcp_server.h"

// Sending one file: slot, transfer, finalization. The transfer carries no
// token: the slot's address is itself the authorisation, and it may point at
// storage that is not the service's own host.

namespace {

using Clock = std::chrono::steady_clock;

// Progress must only grow, and a flood of notifications would cost the
// assistant more than the transfer tells it: four a second at most. The
// completed transfer is reported only where nothing else will report it.
MCPServer::ByteProgress throttled(std::function<void(uint64_t, uint64_t)> report, bool reportCompletion) {
    return [report = std::move(report), reportCompletion, last = Clock::time_point(), lastSent = uint64_t(0)](
               uint64_t sent, uint64_t total) mutable {
        bool finished = total > 0 && sent >= total;
        if (sent <= lastSent || (finished && !reportCompletion)) return;
        if (!finished && Clock::now() - last < std::chrono::milliseconds(250)) return;
        last = Clock::now();
        lastSent = sent;
        report(sent, total);
    };
}

std::string lastComponent(const std::string& path) {
    auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Why the transfer was refused: the reply's own words when it has any.
std::string refusalReason(const HTTPResult& reply) {
    if (auto body = reply.json()) {
        for (const char* key : {"message", "error"}) {
            auto it = body->find(key);
            if (it != body->end() && it->is_string()) return it->get<std::string>();
        }
    }
    return "HTTP " + std::to_string(reply.status);
}

}  // namespace

Json MCPServer::uploadFile(const std::string& path, std::optional<int64_t> workspaceId,
                           std::optional<int64_t> planId, const Json& finalize, const ByteProgress& onBytes) {
    Json slotRequest{{"filename", lastComponent(path)}};
    if (workspaceId) slotRequest["workspace_id"] = *workspaceId;
    if (planId) slotRequest["plan_id"] = *planId;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) slotRequest["size"] = static_cast<int64_t>(st.st_size);

    Json slot = remoteData("request_upload", slotRequest);
    auto url = slot.find("upload_url");
    auto id = slot.find("upload_id");
    if (url == slot.end() || !url->is_string() || id == slot.end() || !id->is_number_integer())
        throw ToolError("upload_request_failed", "request_upload n'a pas renvoyé d'URL de dépôt.");

    HTTPResult put = HTTP::request("PUT", url->get<std::string>(), {{"Content-Type", "application/octet-stream"}},
                                   std::nullopt, path, onBytes);
    if (put.status != 200) throw ToolError("upload_put_failed", "Envoi du fichier refusé : " + refusalReason(put));

    Json done = finalize.is_object() ? finalize : Json::object();
    done["upload_id"] = *id;
    return remoteData("finalize_upload", done);
}

void MCPServer::reportProgress(double progress, std::optional<double> total, const std::string& message) {
    if (!m_progressToken) return;
    Json params{{"progressToken", *m_progressToken}, {"progress", progress}, {"message", message}};
    if (total) params["total"] = *total;
    send(Json{{"jsonrpc", "2.0"}, {"method", "notifications/progress"}, {"params", std::move(params)}});
}

MCPServer::ByteProgress MCPServer::throttledByteProgress(const std::string& fileName) {
    if (!m_progressToken) return {};
    return throttled([this, fileName](uint64_t sent, uint64_t total) {
        reportProgress(static_cast<double>(sent), total > 0 ? std::optional<double>(double(total)) : std::nullopt,
                       fileName);
    }, true);
}

MCPServer::ByteProgress MCPServer::throttledBatchProgress(const std::string& fileName, size_t filesDone,
                                                          size_t fileCount) {
    if (!m_progressToken) return {};
    return throttled([this, fileName, filesDone, fileCount](uint64_t sent, uint64_t total) {
        if (total == 0) return;
        double fraction = static_cast<double>(sent) / static_cast<double>(total);
        reportProgress(static_cast<double>(filesDone) + fraction, static_cast<double>(fileCount), fileName);
    }, false);
}
