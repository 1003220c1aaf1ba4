#pragma once

// What a program holds of the host's boards: the ones another program
// holds, letting go of the ones it does not use, and stored defaults that a
// store left half-written.

#include <map>
#include <string>

#include <korvik/Export.h>

namespace KORVIK {

class USBDevice;

/// Boards that another program holds, by interface name, with who holds
/// them ("in use by PID 123 (korvik)"). They are looked at again every
/// second and arrive (device connect) once they are let go.
KORVIK_API std::map<std::string, std::string> get_busy_boards();

/// Lets go of every real board that no handle holds, so that other programs
/// can open them (a rescan finds them again).
KORVIK_API void release_unopened_boards();

/// True when the board's stored defaults are a store that did not finish
/// (the board stopped answering half-way): they were not taken at open, and
/// store_boarddefaults() writes them whole again.
KORVIK_API bool is_nv_interrupted(const USBDevice& device);

} // namespace KORVIK
