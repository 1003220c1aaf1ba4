#pragma once

// What a board puts on the air and what it listens for, read from its chip
// model and channel-access settings: the inputs of the delivery rules
// (board/AirLink.h). Shared by the virtual air and the link check.

#include "board/AirLink.h"

namespace KORVIK {

class EvUSBBoard;
class GreyfinModel;

namespace air {

Family family_of(GreyfinModel& model, int modulation);
Framing framing_of(GreyfinModel& model);

/// The board's transmission with its crystal off by xtal_error_ppm (0 for the nominal carrier).
Emission emission_of(EvUSBBoard& board, double xtal_error_ppm);
/// The board's receiver with its crystal off by xtal_error_ppm.
Reception reception_of(EvUSBBoard& board, double xtal_error_ppm);

} // namespace air
} // namespace KORVIK
