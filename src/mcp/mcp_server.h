#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>

#include "config/agent_config.h"
#include "core/json.h"
#include "mcp/manifest.h"

// The stdio MCP server an assistant starts with --mcp.
//
//   stdin line ─► trim ─► JSON.decode ─► handle (one per object, batches split)
//                                          │ reload config.json
//                                          │ dispatch on "method"
//                                          ▼
//   stdout ◄──── send: one compact JSON line per answered message
//
// Single-threaded: a message, blocking HTTP exchanges included, is handled
// completely before the next line is read, so replies leave in request order.
class MCPServer {
public:
    MCPServer(AgentConfig cfg, std::istream& in, std::ostream& out, std::ostream& err);

    // Serves until the end of input or until the assistant stops reading our
    // output; returns the process exit status (0).
    int run();

    // One request or notification; writes at most one reply.
    void handle(const Json& message);

    // Writes one protocol message as a single line. Also used for progress
    // notifications during long tool calls.
    void send(const Json& message);

    static Json result(const Json& id, Json value);
    static Json rpcError(const Json& id, int code, const std::string& message);
    static Json toolText(Json value, bool isError = false);

    std::string instructions() const;
    void log(const std::string& text);

    // The tool catalogue: local tools (with the manifest's overrides), then the
    // service's own tools.
    Json localToolDefs() const;
    Json remoteTools();
    Json callTool(const Json& params);

    // The service proxy: the bearer headers, a forwarded call whose JSON-RPC
    // "result" comes back untouched, and the data of a service tool for the
    // local tools. All throw ToolError.
    std::map<std::string, std::string> authHeaders() const;
    Json remoteCallRaw(const std::string& name, const Json& args);
    Json remoteData(const std::string& name, const Json& args);

    // Sends one local file to the service: an upload slot from request_upload,
    // the bytes PUT to its address straight from disk, then finalize_upload
    // with `finalize` (given the slot's "upload_id"). Returns finalize_upload's
    // data; throws ToolError. `onBytes` hears of the bytes sent during the PUT.
    using ByteProgress = std::function<void(uint64_t sent, uint64_t total)>;
    Json uploadFile(const std::string& path, std::optional<int64_t> workspaceId, std::optional<int64_t> planId,
                    const Json& finalize, const ByteProgress& onBytes = {});

    // Progress of the tool call under way, for an assistant that asked for it
    // with "_meta.progressToken": writes one "notifications/progress" message.
    // Does nothing when the call carries no token, so a call without one still
    // gets exactly one line in reply.
    void reportProgress(double progress, std::optional<double> total, const std::string& message);
    bool wantsProgress() const { return m_progressToken.has_value(); }

    // A ByteProgress that reports the bytes sent as progress of the current
    // call, a few times a second at most (and once at the end); empty when the
    // call carries no progress token.
    ByteProgress throttledByteProgress(const std::string& fileName);

    // The same during one file of a batch: progress counts files, so the
    // file's bytes show as the fraction between `filesDone` and the next
    // whole number, which the batch itself reports once the file is handled.
    ByteProgress throttledBatchProgress(const std::string& fileName, size_t filesDone, size_t fileCount);

    AgentConfig cfg;
    std::optional<Json> remoteToolsCache;
    std::optional<Manifest> manifest;

private:
    void handleLine(std::string_view line);
    void reloadConfig();

    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_outputClosed = false;
    std::optional<Json> m_progressToken;  // of the tools/call being handled
};
