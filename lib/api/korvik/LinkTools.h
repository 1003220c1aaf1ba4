#pragma once

// The link check between two boards and the virtual air's simulated time,
// beside the device class (KORVIK::USBDevice).

#include <string>

#include <korvik/Export.h>
#include <korvik/LinkCheck.h>

namespace KORVIK {

class USBDevice;

/// Whether `rx` hears `tx`: every delivery rule of the virtual air with its
/// margin, the link budget and a verdict, each failing rule with what to
/// change. Two simulated boards on the virtual air are judged with the
/// crystal errors the air gives them, so the verdict is what the air does
/// with a packet that the budget carries; other boards with the worst case
/// of both crystal tolerances. Touches neither board.
KORVIK_API LinkCheck check_link(const USBDevice& tx, const USBDevice& rx,
                                const LinkCheckOptions& options = LinkCheckOptions());

/// Simulated time on the virtual air: packets arrive as fast as the loop is
/// pumped instead of after their air time, in the same order and with the
/// same seeded RSSI values and losses. Off (real time) at start;
/// KORVIK_VIRTUAL_AIR=fast turns on the air in this mode. Switching drops
/// the packets still in the air.
KORVIK_API void set_virtual_air_fast(bool on);
KORVIK_API bool is_virtual_air_fast();
/// Deliveries still in the air (0: every packet sent so far has arrived or was lost).
KORVIK_API unsigned get_virtual_air_in_flight();
/// The air's clock in seconds (monotonic; simulated time in fast mode).
KORVIK_API double get_virtual_air_time();
/// Path loss in dB the virtual air uses between two interfaces.
KORVIK_API double get_virtual_air_path_loss(const std::string& interface_a, const std::string& interface_b);

} // namespace KORVIK
