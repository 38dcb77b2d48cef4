#include "core/http.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>

#include "core/curl_handle.h"
#include "core/version.h"

namespace HTTP {
namespace {

using Clock = std::chrono::steady_clock;

std::mutex gLimitsMutex;
Limits gLimits;

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void eraseIgnoringCase(Headers& headers, const std::string& name) {
    for (auto it = headers.begin(); it != headers.end();)
        it = equalsIgnoringCase(it->first, name) ? headers.erase(it) : std::next(it);
}

// RFC 9110 token: what a method or a header name may be made of. Anything else
// (a space, a colon, a line break) would let a value rewrite the request.
bool isToken(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text) {
        if (std::isalnum(c)) continue;
        if (std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) == std::string_view::npos) return false;
    }
    return true;
}

bool isSafeHeaderValue(const std::string& value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos;
}

// Where a URL leads, as far as trusting it with credentials goes.
struct Origin {
    std::string scheme, host, port;
    bool operator==(const Origin&) const = default;
};

// The origin of an absolute http(s) URL with a host; nothing for anything else.
std::optional<Origin> originOf(const std::string& url) {
    if (url.empty()) return std::nullopt;
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return std::nullopt;
    auto part = [&](CURLUPart which, unsigned int flags) -> std::optional<std::string> {
        char* text = nullptr;
        if (curl_url_get(parsed.get(), which, &text, flags) != CURLUE_OK || !text) return std::nullopt;
        std::string out = text;
        curl_free(text);
        return out;
    };
    auto scheme = part(CURLUPART_SCHEME, 0);
    auto host = part(CURLUPART_HOST, 0);
    auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || host->empty() || !port) return std::nullopt;
    std::string s = lowered(*scheme);
    if (s != "http" && s != "https") return std::nullopt;
    return Origin{s, lowered(*host), *port};
}

// The file sent as a request body, read piece by piece as the transport asks.
// Exactly the size found at the start is sent: a file that shrinks meanwhile
// aborts the transfer rather than leaving the server waiting for bytes.
struct BodySource {
    int fd = -1;
    curl_off_t size = 0;
    curl_off_t offset = 0;
    bool failed = false;

    ~BodySource() {
        if (fd >= 0) ::close(fd);
    }

    bool open(const std::string& path) {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        size = static_cast<curl_off_t>(st.st_size);
        return true;
    }

    static size_t read(char* buffer, size_t size, size_t count, void* user) {
        auto* self = static_cast<BodySource*>(user);
        size_t wanted = std::min<size_t>(size * count, static_cast<size_t>(self->size - self->offset));
        if (wanted == 0) return 0;
        for (;;) {
            ssize_t n = ::pread(self->fd, buffer, wanted, self->offset);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                self->failed = true;
                return CURL_READFUNC_ABORT;
            }
            self->offset += n;
            return static_cast<size_t>(n);
        }
    }

    // A connection found dead on reuse makes the transport start the body again.
    static int seek(void* user, curl_off_t offset, int origin) {
        auto* self = static_cast<BodySource*>(user);
        curl_off_t target = origin == SEEK_SET ? offset : origin == SEEK_CUR ? self->offset + offset : -1;
        if (target < 0 || target > self->size) return CURL_SEEKFUNC_CANTSEEK;
        self->offset = target;
        return CURL_SEEKFUNC_OK;
    }
};

struct Sink {
    std::string data;
    size_t maxBytes = 0;

    static size_t write(char* ptr, size_t size, size_t count, void* user) {
        auto* self = static_cast<Sink*>(user);
        size_t length = size * count;
        if (length > self->maxBytes - std::min(self->maxBytes, self->data.size())) return 0;  // aborts
        self->data.append(ptr, length);
        return length;
    }
};

struct ProgressRelay {
    const Progress* callback = nullptr;
    curl_off_t lastSent = -1, lastTotal = -1;

    static int relay(void* user, curl_off_t, curl_off_t, curl_off_t upTotal, curl_off_t upNow) {
        auto* self = static_cast<ProgressRelay*>(user);
        if (upNow == self->lastSent && upTotal == self->lastTotal) return 0;
        self->lastSent = upNow;
        self->lastTotal = upTotal;
        // Nothing may be thrown through the transport's C frames.
        try {
            (*self->callback)(static_cast<std::uint64_t>(upNow), static_cast<std::uint64_t>(upTotal));
        } catch (...) {
        }
        return 0;
    }
};

// One request as it goes out, possibly after redirects have reshaped it.
struct Hop {
    std::string method;
    std::string url;
    Headers headers;
    const std::string* body = nullptr;
    const std::string* bodyFile = nullptr;
};

struct HopOutcome {
    bool answered = false;
    HTTPResult result;
    std::string redirectUrl;  // empty when the answer names none
};

HopOutcome perform(CURL* curl, const Hop& hop, const Limits& limits, Clock::time_point deadline,
                   const Progress& onProgress) {
    HopOutcome outcome;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return outcome;

    CurlHeaderList headerList;
    bool callerSetExpect = false;
    for (const auto& [name, value] : hop.headers) {
        // "Name;" is how the transport is told to send a header whose value is empty.
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        if (!headerList.append(line.c_str())) return outcome;
        if (equalsIgnoringCase(name, "Expect")) callerSetExpect = true;
    }
    // A waiting "100 Continue" handshake would cost a round trip per upload.
    if (!callerSetExpect && !headerList.append("Expect:")) return outcome;

    BodySource source;
    if (hop.bodyFile && !source.open(*hop.bodyFile)) return outcome;

    Sink sink;
    sink.maxBytes = limits.maxResponseBytes;
    ProgressRelay relay{&onProgress};

    CurlHandle::resetOptions(curl);  // options only: live connections stay for the next call
    curl_easy_setopt(curl, CURLOPT_URL, hop.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);  // redirects are ours, to guard the token
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, limits.idleSeconds);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, limits.idleSeconds);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(left));
    // No compressed encodings are asked for: the replies are small JSON, which
    // a server may spend more time compressing than the transfer would take.
    curl_easy_setopt(curl, CURLOPT_USERAGENT, (std::string("kestro-agent/") + kAppVersion).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headerList.get());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Sink::write);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
    if (onProgress) {
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &ProgressRelay::relay);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &relay);
    }

    const std::string& method = hop.method;
    if (hop.bodyFile) {
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, &BodySource::read);
        curl_easy_setopt(curl, CURLOPT_READDATA, &source);
        curl_easy_setopt(curl, CURLOPT_SEEKFUNCTION, &BodySource::seek);
        curl_easy_setopt(curl, CURLOPT_SEEKDATA, &source);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, source.size);
        if (method != "PUT") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (hop.body || method == "POST" || method == "PUT" || method == "PATCH") {
        static const std::string kNoBody;
        const std::string& body = hop.body ? *hop.body : kNoBody;
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.data());
        if (method != "POST") curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    } else if (method == "HEAD") {
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }

    CURLcode code = curl_easy_perform(curl);
    // Whatever came before a failure (a cut connection, a time-out, a body
    // over the limit) is not an answer a caller could trust.
    if (code != CURLE_OK || source.failed) return outcome;
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status <= 0) return outcome;
    char* location = nullptr;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_URL, &location);
    outcome.answered = true;
    outcome.result.status = static_cast<int>(status);
    outcome.result.data = std::move(sink.data);
    if (location) outcome.redirectUrl = location;
    return outcome;
}

bool isRedirect(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The handle of this thread, kept for its connections. A request made while
// it is busy (from a progress callback) gets a handle of its own.
struct ThreadHandle {
    CurlHandle handle;
    bool busy = false;
};
thread_local ThreadHandle tHandle;

std::string escapeSlashes(const std::string& text) {
    // A slash can only occur inside a string literal of JSON text, so every
    // one of them can be written "\/".
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '/') out += '\\';
        out += c;
    }
    return out;
}

std::string percentEncoded(const std::string& value) {
    static const char* kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (unsigned char c : value) {
        bool allowed = (c < 0x80 && std::isalnum(c)) || c == '-' || c == '.' || c == '_' || c == '~';
        if (allowed) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

}  // namespace

Limits limits() {
    std::lock_guard lock(gLimitsMutex);
    return gLimits;
}

void setLimits(const Limits& limits) {
    std::lock_guard lock(gLimitsMutex);
    gLimits = limits;
}

HTTPResult request(const std::string& method, const std::string& url, const Headers& headers,
                   const std::optional<std::string>& body, const std::optional<std::string>& bodyFile,
                   const Progress& onProgress) {
    const Limits current = limits();
    auto origin = originOf(url);
    if (!origin) return {};
    Hop hop{method.empty() ? "GET" : method, url, headers, body ? &*body : nullptr, bodyFile ? &*bodyFile : nullptr};
    if (!isToken(hop.method)) return {};
    for (const auto& [name, value] : headers)
        if (!isToken(name) || !isSafeHeaderValue(value)) return {};
    if (hop.bodyFile) hop.body = nullptr;

    ThreadHandle* shared = tHandle.busy ? nullptr : &tHandle;
    std::unique_ptr<CurlHandle> own;
    if (!shared) own = std::make_unique<CurlHandle>();
    CURL* curl = shared ? shared->handle.get() : own->get();
    if (!curl) return {};
    if (shared) shared->busy = true;
    struct Release {
        ThreadHandle* handle;
        ~Release() {
            if (handle) handle->busy = false;
        }
    } release{shared};

    const auto deadline = Clock::now() + std::chrono::seconds(current.totalSeconds);
    for (int redirects = 0;; ++redirects) {
        HopOutcome outcome = perform(curl, hop, current, deadline, onProgress);
        if (!outcome.answered) return {};
        if (!isRedirect(outcome.result.status) || outcome.redirectUrl.empty()) return std::move(outcome.result);
        // Endless redirects are a failure to answer, not an answer.
        if (redirects >= current.maxRedirects) return {};
        auto next = originOf(outcome.redirectUrl);
        if (!next) return {};

        int status = outcome.result.status;
        bool becomesGet = (status == 303 && hop.method != "HEAD") ||
                          ((status == 301 || status == 302) && hop.method == "POST");
        if (becomesGet) {
            hop.method = "GET";
            hop.body = nullptr;
            hop.bodyFile = nullptr;
            eraseIgnoringCase(hop.headers, "Content-Type");
            eraseIgnoringCase(hop.headers, "Content-Length");
        }
        hop.url = outcome.redirectUrl;
        // Credentials go only to the scheme, host and port the caller sent
        // them to; a hop anywhere else goes without them.
        eraseIgnoringCase(hop.headers, "Authorization");
        if (*next == *origin) {
            for (const auto& [name, value] : headers)
                if (equalsIgnoringCase(name, "Authorization")) hop.headers[name] = value;
        }
    }
}

HTTPResult postJSON(const std::string& url, const Json& body, const Headers& headers) {
    Headers all = headers;
    eraseIgnoringCase(all, "Content-Type");
    eraseIgnoringCase(all, "Accept");
    all["Content-Type"] = "application/json";
    all["Accept"] = "application/json";
    std::string text = body.is_object() ? JSON::encode(body) : std::string("null");
    text = text == "null" ? std::string() : escapeSlashes(text);
    return request("POST", url, all, text);
}

HTTPResult postForm(const std::string& url, const std::map<std::string, std::string>& form, const Headers& headers) {
    Headers all = headers;
    eraseIgnoringCase(all, "Content-Type");
    eraseIgnoringCase(all, "Accept");
    all["Content-Type"] = "application/x-www-form-urlencoded";
    all["Accept"] = "application/json";
    std::string text;
    for (const auto& [key, value] : form) {
        if (!text.empty()) text += '&';
        text += key;
        text += '=';
        text += percentEncoded(value);
    }
    return request("POST", url, all, text);
}

}  // namespace HTTP
