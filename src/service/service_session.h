#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "config/agent_config.h"
#include "core/json.h"
#include "service/progress_sink.h"

// The agent's session with the Kestro service: the account it acts for, the
// service's own tools reached through its MCP endpoint with the agent token,
// and the sending of local files. Shared by the protocol server (which
// forwards calls) and the local tools (which need service data and uploads),
// so neither has to know the other. Every failure is a ToolError whose
// message tells the user what to do; nothing is retried, a refused token
// needs a new login anyway.
class ServiceSession {
  public:
    explicit ServiceSession(AgentConfig config = {});

    // Takes the configuration as it now stands; another account or another
    // service forgets the remote tool list.
    void update(AgentConfig fresh);

    // The bearer headers; throws "not_logged_in" without a token.
    std::map<std::string, std::string> authHeaders() const;

    // The service's tools/list, kept once the service has answered; empty
    // (and not kept) when logged out or when the exchange failed.
    Json remoteTools();

    // A forwarded call whose JSON-RPC "result" comes back untouched.
    Json remoteCallRaw(const std::string& name, const Json& args);

    // The data of a service tool for the local tools: its structured content,
    // else its text decoded as an object, else an empty object.
    Json remoteData(const std::string& name, const Json& args);

    // Sends one local file to the service: an upload slot from request_upload,
    // the bytes PUT to its address straight from disk, then finalize_upload
    // with `finalize` (given the slot's "upload_id"). Returns finalize_upload's
    // data. `onBytes` hears of the bytes sent during the PUT.
    Json uploadFile(const std::string& path, std::optional<int64_t> workspaceId, std::optional<int64_t> planId,
                    const Json& finalize, const ProgressSink::ByteProgress& onBytes = {});

    AgentConfig cfg;
    std::optional<Json> remoteToolsCache;
};
