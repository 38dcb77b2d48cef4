#include "maintenance/release_download.h"

#include <chrono>
#include <cstdio>

#include "core/curl_handle.h"
#include "core/version.h"

namespace ReleaseDownload {
namespace {

using Clock = std::chrono::steady_clock;

struct Sink {
    std::FILE* file;
    Clock::duration idle;
    Clock::time_point lastByte = Clock::now();

    static size_t write(char* ptr, size_t size, size_t count, void* user) {
        auto* self = static_cast<Sink*>(user);
        self->lastByte = Clock::now();
        return std::fwrite(ptr, 1, size * count, self->file);  // a short count aborts
    }

    // Called about once a second even when nothing arrives. The low-speed
    // limit alone judges a moving average, so a stall right after a burst
    // would go unnoticed for several seconds more than the limit says.
    static int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        auto* self = static_cast<Sink*>(user);
        return Clock::now() - self->lastByte > self->idle ? 1 : 0;
    }
};

}  // namespace

bool fetch(const std::string& url, const std::string& destination, const Options& options) {
    std::FILE* file = std::fopen(destination.c_str(), "wbe");
    if (!file) return false;
    long idle = options.idleSeconds > 0 ? options.idleSeconds : 1;
    Sink sink{file, std::chrono::seconds(idle)};
    CurlHandle handle;
    CURL* curl = handle.get();
    bool ok = false;
    if (curl) {
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);  // releases often sit behind a redirect; no credentials go
        curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 10L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        // Silence, not duration: below one byte a second for `idle` seconds.
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, idle);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, idle);
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
        curl_easy_setopt(curl, CURLOPT_USERAGENT, (std::string("kestro-agent/") + kAppVersion).c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Sink::write);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Sink::progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &sink);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        if (curl_easy_perform(curl) == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            ok = status == 200;
        }
    }
    // A failed flush (disk full) is a failed download, not a short archive.
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

}  // namespace ReleaseDownload
