#pragma once

#include <QString>

// Bytes as text: two upper-case hexadecimal digits per byte, joined by the
// separator ("40:00:12:34:56:00" for a MAC with ":", bare digits with "").
QString format_hex_bytes(const unsigned char* bytes, unsigned int count, const QString& separator);

// Reads up to `count` bytes from MAC-style text into `buffer`, which is first
// filled with 0xFF. Accepts ":"-separated groups or one run of bare digits.
// Returns the number of bytes converted; conversion stops at the first group
// that is not hexadecimal.
unsigned int parse_hex_bytes(const QString& text, unsigned char* buffer, unsigned int count);
