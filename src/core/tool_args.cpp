#include "core/tool_args.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

const Json* member(const Json& args, const std::string& key) {
    if (!args.is_object()) return nullptr;
    auto it = args.find(key);
    return it == args.end() ? nullptr : &*it;
}

// A double converts to int64 only strictly inside the range; 2^63 itself does not fit.
std::optional<int64_t> truncated(double d) {
    if (!std::isfinite(d)) return std::nullopt;
    double t = std::trunc(d);
    if (t < -9223372036854775808.0 || t >= 9223372036854775808.0) return std::nullopt;
    return static_cast<int64_t>(t);
}

std::optional<int64_t> parseSignedDigits(const std::string& s) {
    size_t start = (!s.empty() && (s[0] == '+' || s[0] == '-')) ? 1 : 0;
    if (start == s.size()) return std::nullopt;
    for (size_t i = start; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return std::nullopt;
    // from_chars accepts a leading '-' but not '+'.
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    int64_t value = 0;
    auto [end, ec] = std::from_chars(first, s.data() + s.size(), value);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<int64_t> integralNumber(const Json& v) {
    if (v.is_number_integer() && !v.is_number_unsigned()) return v.get<int64_t>();
    if (v.is_number_unsigned()) {
        uint64_t u = v.get<uint64_t>();
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (v.is_number_float()) {
        double d = v.get<double>();
        if (std::trunc(d) != d) return std::nullopt;
        return truncated(d);
    }
    return std::nullopt;
}

std::optional<int64_t> intArg(const Json& args, const std::string& key) {
    const Json* v = member(args, key);
    if (!v) return std::nullopt;
    if (v->is_number_float()) return truncated(v->get<double>());
    if (v->is_number()) return integralNumber(*v);
    if (v->is_string()) return parseSignedDigits(v->get<std::string>());
    return std::nullopt;
}

std::optional<std::string> strArg(const Json& args, const std::string& key) {
    const Json* v = member(args, key);
    if (!v) return std::nullopt;
    if (v->is_string()) return v->get<std::string>();
    if (v->is_number()) {
        if (auto n = integralNumber(*v)) return std::to_string(*n);
    }
    return std::nullopt;
}

bool boolArg(const Json& args, const std::string& key) {
    const Json* v = member(args, key);
    if (!v) return false;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_string()) {
        std::string lower = v->get<std::string>();
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower == "1" || lower == "true" || lower == "oui" || lower == "yes";
    }
    if (v->is_number()) {
        if (auto n = integralNumber(*v)) return *n != 0;
    }
    return false;
}
