#pragma once

// The NV sector of a direct SPI board kept in a file on the host: the raw
// 512 bytes and nothing else.

#include <cstdint>
#include <string>

namespace KORVIK {
namespace nvfile {

enum { SIZE = 512 };

/// "korvik_" + serial + ".nvr" in the user data directory. Characters of the
/// serial that could leave that directory are replaced by '_'.
std::string path_for_serial(const std::string& serial);

/// Fills `sector` from the file: at most SIZE bytes are read and the bytes not
/// read are 0xFF, so a missing or short file reads as erased flash and an
/// oversized one as its first SIZE bytes. Anything but a regular file (a
/// FIFO, a device, a directory) is not read and gives an erased sector.
/// Never blocks, never throws.
void read(const std::string& path, uint8_t sector[SIZE]);

/// Replaces the file with `sector` atomically (temporary file written whole
/// and synced, then renamed), so a crash or a full disk leaves the old
/// contents and no temporary file. Creates the directory when needed. False
/// on failure; never throws.
bool write(const std::string& path, const uint8_t sector[SIZE]);

} // namespace nvfile
} // namespace KORVIK
