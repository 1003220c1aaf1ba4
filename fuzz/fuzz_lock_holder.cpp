// Feeds arbitrary lock-file text to the reader that names a board's holder.
// Whatever the file holds (another user may write it), the reader stays
// inside it, gives a positive process id or nothing, and a command of at
// most 64 printable ASCII characters, which the text written by a holder
// gives back unchanged.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "transport/BoardLock.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_lock_holder: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // an exact copy, so that reading past the end is caught
    std::string text(reinterpret_cast<const char*>(data), size);
    KORVIK::LockHolder holder;
    if (!KORVIK::parse_lock_holder(text.data(), text.size(), holder)) {
        require(holder.pid == 0 && holder.command.empty(), "a refused text changed the holder");
        return 0;
    }
    require(holder.pid > 0 && holder.pid < 1000000000, "process id out of range");
    require(holder.command.size() <= 64, "command too long");
    for (char c : holder.command)
        require(c >= 0x20 && c < 0x7F, "a control or non-ASCII byte in the command");
    const std::string said = KORVIK::describe_lock_holder(holder);
    for (char c : said)
        require(c >= 0x20 && c < 0x7F, "a control or non-ASCII byte in the message");

    const std::string again = KORVIK::lock_file_text(holder.pid, holder.command);
    KORVIK::LockHolder back;
    require(KORVIK::parse_lock_holder(again.data(), again.size(), back), "a written text is refused");
    require(back.pid == holder.pid && back.command == holder.command, "a written text reads back otherwise");
    return 0;
}
