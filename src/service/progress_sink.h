#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/http.h"
#include "core/json.h"

// Progress of the tool call under way, for an assistant that asked for it
// with "_meta.progressToken": each report becomes one
// "notifications/progress" message handed to the writer the server gives.
// Without a token nothing is reported, so a call without one still gets
// exactly one line in reply.
class ProgressSink {
  public:
    using Writer = std::function<void(const Json& message)>;
    // Bytes sent so far and the body's total (0 while unknown).
    using ByteProgress = HTTP::Progress;

    explicit ProgressSink(Writer writer = {});

    // The token of the call that starts; valid until `endCall`.
    void beginCall(std::optional<Json> token) { m_token = std::move(token); }
    void endCall() { m_token.reset(); }
    bool wanted() const { return m_token.has_value(); }

    void report(double progress, std::optional<double> total, const std::string& message);

    // A ByteProgress that reports the bytes sent as progress of the current
    // call, a few times a second at most (and once at the end); empty when the
    // call carries no progress token.
    ByteProgress throttledBytes(const std::string& fileName);

    // The same during one file of a batch: progress counts files, so the
    // file's bytes show as the fraction between `filesDone` and the next
    // whole number, which the batch itself reports once the file is handled.
    ByteProgress throttledBatch(const std::string& fileName, size_t filesDone, size_t fileCount);

  private:
    Writer m_writer;
    std::optional<Json> m_token;
};
