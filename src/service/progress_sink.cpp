#include "service/progress_sink.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// Progress must only grow, and a flood of notifications would cost the
// assistant more than the transfer tells it: four a second at most. The
// completed transfer is reported only where nothing else will report it.
ProgressSink::ByteProgress throttled(std::function<void(uint64_t, uint64_t)> report, bool reportCompletion) {
    return [report = std::move(report), reportCompletion, last = Clock::time_point(), lastSent = uint64_t(0)](
               uint64_t sent, uint64_t total) mutable {
        bool finished = total > 0 && sent >= total;
        if (sent <= lastSent || (finished && !reportCompletion)) return;
        if (!finished && Clock::now() - last < std::chrono::milliseconds(250)) return;
        last = Clock::now();
        lastSent = sent;
        report(sent, total);
    };
}

}  // namespace

ProgressSink::ProgressSink(Writer writer) : m_writer(std::move(writer)) {}

void ProgressSink::report(double progress, std::optional<double> total, const std::string& message) {
    if (!m_token || !m_writer) return;
    Json params{{"progressToken", *m_token}, {"progress", progress}, {"message", message}};
    if (total) params["total"] = *total;
    m_writer(Json{{"jsonrpc", "2.0"}, {"method", "notifications/progress"}, {"params", std::move(params)}});
}

ProgressSink::ByteProgress ProgressSink::throttledBytes(const std::string& fileName) {
    if (!m_token) return {};
    return throttled(
        [this, fileName](uint64_t sent, uint64_t total) {
            report(static_cast<double>(sent), total > 0 ? std::optional<double>(double(total)) : std::nullopt,
                   fileName);
        },
        true);
}

ProgressSink::ByteProgress ProgressSink::throttledBatch(const std::string& fileName, size_t filesDone,
                                                        size_t fileCount) {
    if (!m_token) return {};
    return throttled(
        [this, fileName, filesDone, fileCount](uint64_t sent, uint64_t total) {
            if (total == 0) return;
            double fraction = static_cast<double>(sent) / static_cast<double>(total);
            report(static_cast<double>(filesDone) + fraction, static_cast<double>(fileCount), fileName);
        },
        false);
}
