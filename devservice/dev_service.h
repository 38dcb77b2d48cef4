#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "release_shelf.h"

// A local stand-in of the Kestro service: the same HTTP contract the agent
// relies on, served over real sockets on 127.0.0.1, with realistic state and a
// control API to script failures. Tests start it in-process on an ephemeral
// port; the demo runs it as `kestro-devservice`.
//
//   POST /mcp                        JSON-RPC tools/list and tools/call, bearer token checked (401 otherwise)
//   PUT  /upload/<slot>              the bytes of a requested upload, streamed to disk (size and SHA-256 kept)
//   GET  /api/v1/agent_manifest.php  the manifest (with the offered release as "latest")
//   GET  /releases/<file>            the offered release archive (release_shelf.h)
//   /oauth/… and /api/v1/pat_mint.php the login (see OAuthService)
namespace devservice {

class OAuthService;

using Json = nlohmann::json;

// A scripted failure for requests whose path starts with `pathPrefix` (and,
// for /mcp, optionally only for one tool name).
struct Fault {
    std::string pathPrefix = "/mcp";
    std::string tool;             // for /mcp "tools/call": only this tool ("" = any request on the path)
    int status = 0;               // answer with this status instead of the normal reply (0 = keep the normal one)
    std::string body;             // the body sent with `status` (garbage, HTML, a JSON array…)
    std::string contentType = "application/json";
    std::optional<Json> rpcError; // answer the JSON-RPC call with this "error" object
    bool textContent = false;     // give the tool's data as JSON text content instead of "structuredContent"
    bool toolIsError = false;     // the tool result carries "isError": true with `body` as its text
    int delayMs = 0;              // wait this long before answering
    bool dropConnection = false;  // close the connection in the middle of the reply (a truncated body)
    bool stopService = false;     // stop listening after this request, as a service that died
    int remaining = -1;           // applies to this many matching requests (-1 = until cleared)
    int skip = 0;                 // let this many matching requests through first
};

// One request as the service received it (upload bodies are not kept here).
struct RecordedRequest {
    std::string method;
    std::string path;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
    std::string tool;  // for /mcp "tools/call": the tool's name
    Json arguments;    // for /mcp "tools/call": its arguments
};

struct Upload {
    int64_t id = 0;
    Json request;             // the arguments of request_upload
    bool received = false;    // the PUT arrived complete
    uint64_t bytes = 0;
    std::string sha256;       // lower-case hex digest of the received bytes
    std::string storedPath;   // where the bytes were written
    std::optional<Json> finalize;  // the arguments of finalize_upload, once called
};

struct PlanVersion {
    std::string label;  // "V1", "V2"…
    std::string url;
    int64_t uploadId = 0;
    std::string prompt;
};
struct Plan {
    int64_t id = 0;
    int64_t sequenceId = 0;
    int64_t number = 0;
    std::string text;
    std::vector<PlanVersion> versions;
};
struct Sequence {
    int64_t id = 0;
    int64_t workspaceId = 0;
    std::string name;
};
struct Workspace {
    int64_t id = 0;
    std::string name;
};
struct Card {
    int64_t id = 0;
    int64_t workspaceId = 0;
    std::string name;
    std::string kind;
    std::string description;
    std::string prompt;
    bool isFolder = false;
    std::optional<int64_t> folderId;
    std::vector<PlanVersion> versions;  // the card's pictures
};
struct MediaItem {
    int64_t id = 0;
    int64_t workspaceId = 0;
    std::string filename;
    std::string prompt;
    std::string displayTitle;
    std::optional<int64_t> folderId;
    int64_t uploadId = 0;
};

class DevService {
public:
    // Seeded with two workspaces, a few sequences with plans, and some cards.
    // Accepts the bearer token "dev-token" until told otherwise.
    DevService();
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // Listens on 127.0.0.1; port 0 picks a free one. Returns the port.
    int start(int port = 0);
    void stop();
    std::string baseUrl() const;  // "http://127.0.0.1:<port>"

    // Tokens accepted as "Authorization: Bearer <token>".
    void setTokens(std::vector<std::string> tokens);

    // The manifest document served (raw bytes, so tests can serve garbage) and
    // its status; 404 when none is set.
    void setManifest(std::string body, int status = 200);

    // Whether received upload bytes are written to disk (their size and
    // SHA-256 are always kept). Off for benchmarks of huge files.
    void setKeepUploadBytes(bool keep);

    // The release offered for self-update; a published one replaces the
    // manifest's "latest" (a manifest of "{}" is served when none is set).
    ReleaseShelf& releases();

    void addFault(Fault fault);
    void clearFaults();

    // What was received, in order.
    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> toolCalls(const std::string& tool = "") const;
    size_t count(const std::string& method, const std::string& path) const;
    void clearRequests();

    // State, as the service now holds it (copies, safe from any thread).
    std::vector<Workspace> workspaces() const;
    std::vector<Sequence> sequences() const;
    std::vector<Plan> plans(int64_t sequenceId) const;
    std::vector<Card> cards(int64_t workspaceId) const;
    std::vector<MediaItem> media(int64_t workspaceId) const;
    std::vector<Upload> uploads() const;

    // Test set-up helpers; each returns the new id.
    int64_t addWorkspace(const std::string& name);
    int64_t addSequence(int64_t workspaceId, const std::string& name);
    int64_t addPlan(int64_t sequenceId, int64_t number, const std::string& text = "");
    int64_t addCard(int64_t workspaceId, const std::string& name, bool isFolder = false,
                    std::optional<int64_t> folderId = std::nullopt);

    // The login side: its controls and what it issued.
    OAuthService& oauth();

    // A readable summary of the state (for the demo).
    std::string describe() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

}  // namespace devservice
