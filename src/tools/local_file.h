#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// One file of the user's computer as the local tools see it.
struct LocalFile {
    std::string name;  // last path component as on disk, extension included
    std::string path;  // full, expanded path
    std::string ext;   // extension without its dot, lower-cased; empty when there is none
    int64_t size = 0;  // bytes
    // Whole seconds: a file may carry any date, far beyond what a nanosecond
    // clock can hold.
    std::chrono::sys_seconds modified{};
};
