#pragma once

// The link check between two boards: the delivery rules of the virtual air
// (board/AirLink.h) evaluated on the boards' settings, each with its margin
// and, where it fails, what to change; then the link budget.

#include <korvik/LinkCheck.h>

namespace KORVIK {

class EvUSBBoard;

/// Checks whether rx hears tx. Two simulated boards are judged with the
/// crystal errors the virtual air gives them, so the answer is the air's;
/// any other pair with the worst case of both crystal tolerances.
LinkCheck check_link(EvUSBBoard& tx, EvUSBBoard& rx, const LinkCheckOptions& options);

} // namespace KORVIK
