#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "core/http_result.h"
#include "core/json.h"

// The blocking HTTP client every exchange with the service goes through. A
// call returns once the whole answer is in (or once there is no hope of one);
// it never throws, every outcome is an HTTPResult.
//
// Connections are kept between calls (one long-lived transfer handle per
// thread), so a tool call to a service already reached costs one round trip.
// Redirects are followed, but the "Authorization" header only ever goes to the
// scheme, host and port the caller named: a bearer token is not handed to
// whatever host a redirect points at.
namespace HTTP {

using Headers = std::map<std::string, std::string>;

// Reports the request body's progress during a transfer: bytes sent so far and
// the body's total size (0 while unknown). Called on the calling thread.
using Progress = std::function<void(std::uint64_t sent, std::uint64_t total)>;

struct Limits {
    long idleSeconds = 60;     // no byte moving either way for this long ends the exchange
    long totalSeconds = 3600;  // one exchange, redirects included, never lasts longer
    std::size_t maxResponseBytes = std::size_t(256) << 20;  // a larger body counts as no answer
    int maxRedirects = 16;
};

Limits limits();
// Process-wide; lets tests provoke the idle limit without waiting a minute.
void setLimits(const Limits& limits);

// Sends `method` to `url` with `headers`. With `bodyFile`, the file's bytes are
// the body, read from disk as they are sent (`body` is then ignored); else
// `body` when given. An invalid URL, a method or header that cannot be sent
// as it stands, or an unreadable `bodyFile` give status 0 without any traffic.
HTTPResult request(const std::string& method, const std::string& url, const Headers& headers = {},
                   const std::optional<std::string>& body = std::nullopt,
                   const std::optional<std::string>& bodyFile = std::nullopt, const Progress& onProgress = {});

// POSTs `body` as compact JSON, slashes written "\/"; "Content-Type" and
// "Accept" are "application/json" whatever `headers` says.
HTTPResult postJSON(const std::string& url, const Json& body, const Headers& headers = {});

// POSTs `form` URL-encoded: keys as they are, values with every byte outside
// letters, digits and "-._~" percent-encoded; "Accept" is "application/json".
HTTPResult postForm(const std::string& url, const std::map<std::string, std::string>& form,
                    const Headers& headers = {});

}  // namespace HTTP
