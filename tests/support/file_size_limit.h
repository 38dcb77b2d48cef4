#pragma once

#include <sys/resource.h>

#include <functional>
#include <string>

// Runs `work` in a forked child whose files cannot grow beyond `bytes`
// (RLIMIT_FSIZE, with SIGXFSZ ignored so an over-long write fails with EFBIG
// as on a full disk instead of killing the child). What `work` returns comes
// back as `report`. The child never returns into the test: it ends with
// _exit, so nothing of the parent's state runs twice.
struct LimitedRun {
    bool exited = false;  // ended normally (not by a signal, not timed out)
    int status = -1;      // its exit status when it did
    std::string report;
};

LimitedRun runWithFileSizeLimit(rlim_t bytes, const std::function<std::string()>& work);
