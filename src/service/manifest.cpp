#include "service/manifest.h"

#include <algorithm>
#include <cstdlib>

#include "config/config_store.h"
#include "core/atomic_file.h"
#include "core/curl_handle.h"
#include "core/version.h"

namespace {

// Far above any real manifest (a text and a few tool entries); a larger answer
// is treated as a failed fetch rather than filling memory.
constexpr size_t kMaxManifestBytes = size_t(4) << 20;

struct Body {
    std::string bytes;

    static size_t write(char* ptr, size_t size, size_t count, void* user) {
        auto* self = static_cast<Body*>(user);
        size_t length = size * count;
        if (length > kMaxManifestBytes - std::min(kMaxManifestBytes, self->bytes.size())) return 0;  // aborts
        self->bytes.append(ptr, length);
        return length;
    }
};

// The body of a 200 answer, or nothing. The whole exchange, name resolution
// included, is bounded by the transfer's own time-out, so nothing is left
// running once this returns and no late answer can reach the caller.
std::optional<std::string> fetch(const std::string& url, double timeoutSeconds) {
    if (url.empty()) return std::nullopt;
    CurlHandle handle;  // a handle of its own: a short-lived exchange with its own limits
    CURL* curl = handle.get();
    if (!curl) return std::nullopt;
    // A nonsensical wait (negative, not a number) still gets a bounded one.
    double seconds = timeoutSeconds > 0 ? std::min(timeoutSeconds, 3600.0) : 0.001;
    long timeoutMs = std::max(1L, static_cast<long>(seconds * 1000));
    Body body;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);  // no credentials are sent, so any host may answer
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, (std::string("kestro-agent/") + kAppVersion).c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Body::write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK) return std::nullopt;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) return std::nullopt;
    return std::move(body.bytes);
}

}  // namespace

std::string Manifest::cacheFile() { return ConfigStore::dir() + "/manifest.json"; }

std::optional<Manifest> Manifest::load(const std::string& baseUrl, double timeoutSeconds) {
    const char* override = std::getenv("KESTRO_AGENT_MANIFEST_URL");
    std::string url = override ? std::string(override) : baseUrl + "/api/v1/agent_manifest.php";
    if (auto bytes = fetch(url, timeoutSeconds)) {
        if (auto manifest = parse(*bytes)) {
            // The cache is a convenience: failing to write it changes nothing
            // about the manifest just received.
            AtomicFile::makeDirs(ConfigStore::dir(), 0700);
            AtomicFile::write(cacheFile(), *bytes, 0644);
            return manifest;
        }
    }
    auto cached = AtomicFile::read(cacheFile());
    if (!cached) return std::nullopt;
    return parse(*cached);
}

std::optional<Manifest> Manifest::parse(std::string_view bytes) {
    auto document = JSON::decode(bytes);
    if (!document || !document->is_object()) return std::nullopt;
    Manifest manifest;
    auto instructions = document->find("instructions");
    if (instructions != document->end() && instructions->is_string())
        manifest.instructions = instructions->get<std::string>();
    auto tools = document->find("tools");
    if (tools != document->end() && tools->is_array() &&
        std::all_of(tools->begin(), tools->end(), [](const Json& entry) { return entry.is_object(); })) {
        for (const auto& entry : *tools) {
            auto name = entry.find("name");
            if (name != entry.end() && name->is_string()) manifest.tools[name->get<std::string>()] = entry;
        }
    }
    auto latest = document->find("latest");
    if (latest != document->end() && latest->is_object()) manifest.latest = *latest;
    return manifest;
}
