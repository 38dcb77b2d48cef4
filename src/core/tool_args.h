#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/json.h"

// Lenient readers of tool arguments: assistants send numbers as strings and
// booleans as words, so a wrong type reads as "absent" rather than failing.
// The calling tool decides whether a missing argument is an error.

// Integral numbers; fractional numbers truncated toward zero; strings of an
// optional sign and ASCII digits that fit 64 bits. Anything else is absent.
std::optional<int64_t> intArg(const Json& args, const std::string& key);

// Strings unchanged (not trimmed); integral numbers as decimal text.
std::optional<std::string> strArg(const Json& args, const std::string& key);

// A number that is integral whatever its spelling (42 and 42.0 alike) and fits
// 64 bits; nothing for fractions, other numbers and non-numbers. The reader of
// ids and counts in the service's replies too, since JSON does not tell 42
// from 42.0.
std::optional<int64_t> integralNumber(const Json& value);

// Booleans; the words "1", "true", "oui", "yes" in any case; non-zero integers.
// Everything else, a missing key included, is false.
bool boolArg(const Json& args, const std::string& key);
