#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/json.h"

// What the service publishes to adjust the agent without a new release: the
// instructions given to assistants, the presentation of the local tools and
// the newest agent release.
//
// The last good copy is kept in "manifest.json" beside the configuration, so
// a server started offline still behaves as the service last asked.
struct Manifest {
    std::optional<std::string> instructions;
    std::map<std::string, Json> tools;  // local tool name -> its whole manifest entry
    std::optional<Json> latest;         // newest release: "version", "zip_url", "sha256"

    // Fetches the manifest from $KESTRO_AGENT_MANIFEST_URL when that variable
    // is set (an empty value means: ask nobody), else from `baseUrl` +
    // "/api/v1/agent_manifest.php", waiting at most `timeoutSeconds`. A parsable
    // 200 answer replaces the cache and is returned; any failure falls back to
    // the cache. Nothing when neither gives a manifest. Never throws.
    static std::optional<Manifest> load(const std::string& baseUrl, double timeoutSeconds = 4);

    // The manifest a document describes; nothing unless it is a JSON object.
    // Members of the wrong type are left out, never an error.
    static std::optional<Manifest> parse(std::string_view bytes);

    static std::string cacheFile();
};
