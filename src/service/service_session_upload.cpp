#include <sys/stat.h>

#include "core/http.h"
#include "core/tool_args.h"
#include "core/tool_error.h"
#include "service/service_session.h"

// Sending one file: slot, transfer, finalization. The transfer carries no
// token: the slot's address is itself the authorisation, and it may point at
// storage that is not the service's own host.

namespace {

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

Json ServiceSession::uploadFile(const std::string& path, std::optional<int64_t> workspaceId,
                                std::optional<int64_t> planId, const Json& finalize,
                                const ProgressSink::ByteProgress& onBytes) {
    Json slotRequest{{"filename", lastComponent(path)}};
    if (workspaceId) slotRequest["workspace_id"] = *workspaceId;
    if (planId) slotRequest["plan_id"] = *planId;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) slotRequest["size"] = static_cast<int64_t>(st.st_size);

    Json slot = remoteData("request_upload", slotRequest);
    auto url = slot.find("upload_url");
    auto idIt = slot.find("upload_id");
    std::optional<int64_t> id = idIt == slot.end() ? std::nullopt : integralNumber(*idIt);
    if (url == slot.end() || !url->is_string() || !id)
        throw ToolError("upload_request_failed", "request_upload n'a pas renvoyé d'URL de dépôt.");

    HTTPResult put = HTTP::request("PUT", url->get<std::string>(), {{"Content-Type", "application/octet-stream"}},
                                   std::nullopt, path, onBytes);
    if (put.status != 200) throw ToolError("upload_put_failed", "Envoi du fichier refusé : " + refusalReason(put));

    Json done = finalize.is_object() ? finalize : Json::object();
    done["upload_id"] = *id;
    return remoteData("finalize_upload", done);
}
