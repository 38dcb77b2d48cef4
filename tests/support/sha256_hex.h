#pragma once

#include <string>

// The SHA-256 digest of `bytes` as 64 lower-case hexadecimal digits, to compare
// with what the stand-in service says it received.
std::string sha256Hex(const std::string& bytes);
