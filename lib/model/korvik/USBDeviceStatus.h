#pragma once

#include <cstdint>

#include <korvik/Export.h>

namespace KORVIK {

/// One status report of a board, as handed to status listeners.
/// The default constructor zeroes every field and stores the current host
/// wall-clock time in time_sec/time_usec.
struct KORVIK_API USBDeviceStatus {
    USBDeviceStatus();

    int32_t time_sec;   ///< host time of arrival (or clock estimate), seconds
    int32_t time_usec;  ///< microseconds of the same time
    uint16_t ticks;     ///< board tick counter
    uint16_t value1, value2, value3;  ///< passed through uninterpreted
    uint8_t progstate;  ///< reprogramming and autoranging state code
    uint8_t progdetail; ///< second state byte
    uint8_t aux1, aux2, aux3;         ///< passed through uninterpreted
    bool flag2, flag3, flag0, flag1, flag4, flag5, flag6, flag7; ///< bits of the flag byte
};

/// Ten values derived from the air settings; NaN means "no value".
struct KORVIK_API USBDeviceCurrents {
    USBDeviceCurrents();
    double values[10];
};

} // namespace KORVIK
