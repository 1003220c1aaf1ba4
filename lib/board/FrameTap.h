#pragma once

// Where frames to and from boards are shown to a capture. The transport's
// capture file sets the tap; boards and adapters call tap_frame() for every
// frame they send or receive, which costs one atomic load while no capture
// runs.

#include <cstdint>
#include <string>

namespace KORVIK {

/// Receives one frame (header included) of the board on `interface`.
using FrameTapFunction = void (*)(const std::string& interface, const uint8_t* frame, unsigned len);

/// Installs the tap (null removes it).
void set_frame_tap(FrameTapFunction tap);
bool is_frame_tap_set();
/// Hands the frame to the tap, if there is one.
void tap_frame(const std::string& interface, const uint8_t* frame, unsigned len);

} // namespace KORVIK
