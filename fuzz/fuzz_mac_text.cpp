// Feeds arbitrary text to the program's MAC text parser: it must stay within
// the buffer, leave every byte it did not convert at 0xFF, and whatever it
// reads as a whole MAC must survive formatting and parsing again.
// Input: one byte giving the byte count (0 to 8), then the text as UTF-8.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <QString>

#include "core/HexBytes.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_mac_text: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const unsigned count = data[0] % 9;
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    // guard bytes on both sides catch writes past the count
    unsigned char buffer[8 + 2];
    std::memset(buffer, 0xA5, sizeof buffer);
    const unsigned converted = parse_hex_bytes(text, buffer + 1, count);
    require(buffer[0] == 0xA5 && buffer[count + 1] == 0xA5, "parser wrote outside the buffer");
    require(converted <= count, "more bytes converted than asked for");
    for (unsigned i = converted; i < count; ++i)
        require(buffer[1 + i] == 0xFF, "a byte not converted is not 0xFF");

    for (const char* separator : {":", ""}) {
        const QString formatted = format_hex_bytes(buffer + 1, converted, QString::fromLatin1(separator));
        unsigned char again[8];
        const unsigned n = parse_hex_bytes(formatted, again, converted);
        require(n == converted && std::memcmp(again, buffer + 1, n) == 0, "formatted bytes parse differently");
    }
    return 0;
}
