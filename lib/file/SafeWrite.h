#pragma once

// The one way korvik's programs and library write a file the user named.
// A regular file (or a name that does not exist yet) is written whole to a
// temporary file beside it, synced, and only then renamed over it, so that a
// full disk or a crash leaves the old contents; a device, a FIFO or "-"
// (standard output) is written to directly and is never replaced.

#include <cstddef>
#include <string>

namespace korvik_file {

/// Writes `size` bytes to `path`; returns an empty text on success, otherwise
/// what failed ("<path>: <step>: <reason>") with nothing replaced. `mode` is
/// the permission of a new file (less the umask); an existing regular file
/// keeps its own.
std::string write_file(const std::string& path, const void* data, std::size_t size, unsigned mode = 0666);

inline std::string write_file(const std::string& path, const std::string& text, unsigned mode = 0666)
{
    return write_file(path, text.data(), text.size(), mode);
}

/// Opens a file to read without blocking on it and only when it is a regular
/// file (a FIFO would hang the opener, a device would never end); returns the
/// descriptor, or -1 with `error` set to the reason.
int open_regular_for_reading(const std::string& path, std::string& error);

/// Reads the whole regular file; false with `error` set when it cannot.
bool read_file(const std::string& path, std::string& contents, std::string& error);

} // namespace korvik_file
