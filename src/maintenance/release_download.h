#pragma once

#include <cstdint>
#include <string>

// Streams a release archive to a file. A release may be hundreds of
// megabytes on a slow line, so the only time limit is on silence: the
// transfer fails when nothing arrives for `idleSeconds`, however long it runs.
namespace ReleaseDownload {

struct Options {
    long idleSeconds = 60;
    uint64_t maxBytes = uint64_t(4) << 30;  // a bigger body is not a release of ours
};

// Writes the body to `destination` (created or truncated) and returns true
// only when the final answer, after redirects, was status 200 and arrived
// whole. On false, `destination` may hold a partial body.
bool fetch(const std::string& url, const std::string& destination, const Options& options);

}  // namespace ReleaseDownload
