#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "service/progress_sink.h"

// One batch tool call going through its files one at a time: it tells an
// assistant that asked for progress how far the batch is after each file, and
// keeps the names of the files the service accepted so that an error ending
// the call midway still says what was already sent.
//
//   for each file ─► handle(name, step) ─► step sends (or skips) the file,
//                        │                 its bytes reported as a fraction
//                        │  true: accepted ─► remembered
//                        ▼
//                    progress (files handled, total, name)
//
//   an error escaping step ─► rethrown, with the accepted names appended
class BatchRun {
  public:
    BatchRun(ProgressSink& progress, size_t total);

    // Runs the handling of one file; `step` answers whether the service
    // accepted the file, and hands the progress it is given to the upload so
    // that a long transfer keeps the assistant informed. A ToolError or standard error escaping it ends the
    // whole call: with nothing sent yet it passes unchanged, otherwise its
    // message gains the names already sent, since those stay on the service
    // and sending them again would duplicate them.
    using Step = std::function<bool(const ProgressSink::ByteProgress& onBytes)>;
    void handle(const std::string& fileName, const Step& step);

  private:
    std::string alreadySentNote() const;

    ProgressSink& m_progress;
    size_t m_total;
    size_t m_handled = 0;
    std::vector<std::string> m_sent;
};
