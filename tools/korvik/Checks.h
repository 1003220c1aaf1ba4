#pragma once

// Bounds for numeric options: CLI11's own checks print their limits with
// 300 digits and let NaN through; these name a range people can read and
// refuse NaN and infinities, so that no option value can overflow a count,
// an allocation or a deadline.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <CLI/Validators.hpp>

namespace korvik_cli {

inline std::string short_number(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

/// A number from lo to hi (both included); `what` names it in the message.
inline CLI::Validator within(double lo, double hi, const std::string& what = "a number")
{
    const std::string range = short_number(lo) + " to " + short_number(hi);
    return CLI::Validator(
        [lo, hi, what, range](std::string& text) -> std::string {
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (text.empty() || end == text.c_str() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
                return "'" + text + "' is not " + what + " from " + range;
            return std::string();
        },
        "NUMBER in " + range);
}

} // namespace korvik_cli
