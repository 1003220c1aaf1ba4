#include "Units.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace korvik_cli {

namespace {

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The multiplier that the unit text stands for; throws when it is not a
// spelling of `unit`.
double suffix_factor(const std::string& suffix, Unit unit)
{
    if (suffix.empty())
        return 1.0;
    if (unit == Unit::dBm || unit == Unit::ppm) {
        if (lower(suffix) == lower(unit_name(unit)))
            return 1.0;
        throw ValueError("unit");
    }
    if (unit == Unit::None)
        throw ValueError("unit");

    double factor = 1.0;
    std::string rest = suffix;
    // "µ" is two bytes in UTF-8
    if (rest.rfind("\xC2\xB5", 0) == 0)
        rest = "u" + rest.substr(2);
    const char p = rest[0];
    const std::string after = rest.substr(1);
    auto is_base = [&](const std::string& s) {
        const std::string l = lower(s);
        switch (unit) {
        case Unit::Hz:
            return l == "hz";
        case Unit::BitRate:
            return l == "bit/s" || l == "bps" || l == "b/s" || l == "baud";
        case Unit::Seconds:
            return l == "s";
        default:
            return false;
        }
    };
    if (is_base(rest))
        return 1.0;
    if (after.empty() || is_base(after)) {
        switch (p) {
        case 'G':
            factor = 1e9;
            break;
        case 'M':
            factor = 1e6;
            break;
        case 'k':
        case 'K':
            factor = 1e3;
            break;
        case 'm':
            // a lower-case m on a frequency or bitrate is almost always meant as mega
            if (unit != Unit::Seconds)
                throw ValueError("milli");
            factor = 1e-3;
            break;
        case 'u':
            if (unit != Unit::Seconds)
                throw ValueError("unit");
            factor = 1e-6;
            break;
        default:
            throw ValueError("unit");
        }
        return factor;
    }
    throw ValueError("unit");
}

std::string trim(const std::string& s)
{
    const size_t b = s.find_first_not_of(" \t");
    const size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// A decimal number (sign, digits, point, exponent; no "inf" or "nan") at the
// start of `t`; `used` is set to its length. Throws ValueError without one.
double plain_number(const std::string& t, size_t& used)
{
    size_t i = t.size() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
    size_t digits = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            ++i, ++digits;
    }
    if (!digits)
        throw ValueError("number");
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        size_t j = i + 1;
        if (j < t.size() && (t[j] == '+' || t[j] == '-'))
            ++j;
        if (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j]))) {
            while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j])))
                ++j;
            i = j;
        }
    }
    used = i;
    return std::strtod(t.substr(0, i).c_str(), nullptr);
}

} // namespace

const char* unit_name(Unit unit)
{
    switch (unit) {
    case Unit::Hz:
        return "Hz";
    case Unit::BitRate:
        return "bit/s";
    case Unit::Seconds:
        return "s";
    case Unit::dBm:
        return "dBm";
    case Unit::ppm:
        return "ppm";
    case Unit::None:
        break;
    }
    return "";
}

const char* unit_examples(Unit unit)
{
    switch (unit) {
    case Unit::Hz:
        return "a frequency such as 868.3MHz, 100kHz or 868300000";
    case Unit::BitRate:
        return "a bitrate such as 9k6, 9.6kbit/s, 38400bps or 9600";
    case Unit::Seconds:
        return "a time such as 2ms, 500us or 0.002";
    case Unit::dBm:
        return "a power such as 10dBm or -5";
    case Unit::ppm:
        return "a tolerance such as 25ppm or 25";
    case Unit::None:
        break;
    }
    return "a plain number";
}

double parse_quantity(const std::string& text, Unit unit)
{
    const std::string t = trim(text);
    try {
        // 9k6: the prefix letter stands where the decimal point would be
        size_t i = t[0] == '+' || t[0] == '-' ? 1 : 0;
        const size_t int_start = i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            ++i;
        if (unit != Unit::None && unit != Unit::dBm && unit != Unit::ppm && i > int_start && i + 1 < t.size() &&
            std::strchr("kKMG", t[i]) && std::isdigit(static_cast<unsigned char>(t[i + 1]))) {
            size_t j = i + 1;
            while (j < t.size() && std::isdigit(static_cast<unsigned char>(t[j])))
                ++j;
            const double number = std::strtod((t.substr(0, i) + "." + t.substr(i + 1, j - i - 1)).c_str(), nullptr);
            return number * suffix_factor(t.substr(i, 1) + trim(t.substr(j)), unit);
        }
        size_t used = 0;
        const double number = plain_number(t, used);
        const double value = number * suffix_factor(trim(t.substr(used)), unit);
        if (std::isfinite(value))
            return value;
    } catch (const ValueError& e) {
        if (std::string(e.what()) == "milli")
            throw ValueError("'" + text + "': a lower-case m means milli; write M for mega (e.g. 868.3MHz)");
    }
    throw ValueError("'" + text + "' is not " + unit_examples(unit));
}

namespace {
constexpr double MAX_DURATION_SECONDS = 366 * 86400.0;
}

double parse_duration(const std::string& text, double plain_seconds)
{
    static const struct {
        const char* suffix;
        double seconds;
    } units[] = {{"us", 1e-6}, {"ms", 1e-3}, {"s", 1}, {"min", 60}, {"m", 60}, {"h", 3600}};
    const std::string t = trim(text);
    try {
        size_t used = 0;
        const double number = plain_number(t, used);
        const std::string suffix = trim(t.substr(used));
        double factor = suffix.empty() ? plain_seconds : 0;
        for (const auto& u : units)
            if (suffix == u.suffix)
                factor = u.seconds;
        if (factor > 0 && number >= 0 && std::isfinite(number * factor)) {
            // clocks overflow far beyond this; no run of the tool waits that long
            if (number * factor > MAX_DURATION_SECONDS)
                throw ValueError("'" + text + "' is longer than the longest duration, 366 days");
            return number * factor;
        }
    } catch (const ValueError& e) {
        if (std::string(e.what()).find("longest duration") != std::string::npos)
            throw;
    }
    throw ValueError("'" + text + "' is not a duration such as 500us, 5ms, 2s, 2m or 1h (a plain number is in " +
                     (plain_seconds == 1 ? "seconds)" : "milliseconds)"));
}

std::string format_quantity(double si, Unit unit, int digits)
{
    if (std::isnan(si))
        return "-";
    double scale = 1.0;
    std::string name = unit_name(unit);
    const double a = std::fabs(si);
    switch (unit) {
    case Unit::Hz:
    case Unit::BitRate: {
        const std::string base = unit == Unit::Hz ? "Hz" : "bit/s";
        if (a >= 1e9) {
            scale = 1e9;
            name = "G" + base;
        } else if (a >= 1e6) {
            scale = 1e6;
            name = "M" + base;
        } else if (a >= 1e3) {
            scale = 1e3;
            name = "k" + base;
        }
        break;
    }
    case Unit::Seconds:
        if (a != 0 && a < 1e-3) {
            scale = 1e-6;
            name = "us";
        } else if (a != 0 && a < 1) {
            scale = 1e-3;
            name = "ms";
        }
        break;
    default:
        break;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, si / scale);
    return name.empty() ? std::string(buf) : std::string(buf) + " " + name;
}

unsigned long parse_unsigned(const std::string& text, unsigned long max)
{
    const std::string t = trim(text);
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const std::string digits = hex ? t.substr(2) : t;
    const bool ok = !digits.empty() && std::all_of(digits.begin(), digits.end(), [hex](char c) {
        return hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c));
    });
    if (!ok)
        throw ValueError("'" + text + "' is not a whole number (decimal, or hexadecimal with 0x)");
    errno = 0;
    const unsigned long v = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
    if (errno != 0 || v > max)
        throw ValueError("'" + text + "' is larger than " + std::to_string(max));
    return v;
}

bool parse_bool(const std::string& text)
{
    const std::string l = lower(text);
    if (l == "on" || l == "true" || l == "yes" || l == "1")
        return true;
    if (l == "off" || l == "false" || l == "no" || l == "0")
        return false;
    throw ValueError("'" + text + "' is not on/off, true/false, yes/no or 1/0");
}

std::string parse_hex_data(const std::string& text)
{
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-' || c == '\t')
            continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            throw ValueError("'" + text + "' holds '" + std::string(1, c) + "', which is not a hexadecimal digit");
        digits += c;
    }
    if (digits.size() % 2)
        throw ValueError("'" + text + "' has an odd number of hexadecimal digits");
    std::string bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes += char(std::stoul(digits.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string hex_string(const unsigned char* data, unsigned int length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

} // namespace korvik_cli
