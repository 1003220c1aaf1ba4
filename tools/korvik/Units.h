#pragma once

// Physical values on the command line: read with or without units, shown in
// a unit that fits their size. The library itself speaks plain SI.

#include <stdexcept>
#include <string>

namespace korvik_cli {

enum class Unit { None, Hz, BitRate, Seconds, dBm, ppm };

/// A value that does not parse; the text says what is accepted.
class ValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Reads "868.3MHz", "868.3 MHz", "9k6", "9.6kbit/s", "10dBm", "25ppm", "2ms"
/// or a plain SI number; returns the value in the unit's SI base.
double parse_quantity(const std::string& text, Unit unit);

/// Reads a duration with a unit (500us, 5ms, 2s, 2m or 2min, 1h) or a plain
/// number, counted in `plain_seconds` (1e-3 for milliseconds); returns seconds.
double parse_duration(const std::string& text, double plain_seconds);

/// The value (SI) in a unit that suits its size, e.g. "868.3 MHz", with at
/// most `digits` significant digits.
std::string format_quantity(double si, Unit unit, int digits = 10);

/// SI base unit name, "" for None.
const char* unit_name(Unit unit);

/// What a value of this unit looks like, for messages.
const char* unit_examples(Unit unit);

/// Reads a whole number, decimal or with 0x in hexadecimal, at most `max`.
unsigned long parse_unsigned(const std::string& text, unsigned long max);

/// Reads on/off, true/false, yes/no, 1/0.
bool parse_bool(const std::string& text);

/// Bytes as hexadecimal digits; blanks, ":" and "-" between bytes are allowed.
std::string parse_hex_data(const std::string& text);

/// Lower-case hexadecimal digits of the bytes.
std::string hex_string(const unsigned char* data, unsigned int length);

} // namespace korvik_cli
