#pragma once

// When a received packet reached the host, for listeners that run later
// than that (a busy program pumps the library late).

#include <cstdint>

#include <korvik/Export.h>

namespace KORVIK {

/// Inside a receive notification (USBDevice::notify_receive_packet): when
/// the packet reached the host from its board, in microseconds of the
/// monotonic clock (CLOCK_MONOTONIC, std::chrono::steady_clock). That is the
/// kernel's time stamp of the frame for a connected board and the end of
/// the packet's air time for a simulated board on the virtual air; where the
/// source gives no time, and outside a notification, it is the time of the
/// call.
KORVIK_API int64_t get_packet_arrival_time();

} // namespace KORVIK
