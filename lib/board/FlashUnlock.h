#pragma once

#include <cstdint>

namespace KORVIK {

/// What a flash control byte does to the board's flash unlock machine.
struct FlashStep {
    uint8_t state; ///< new state: 0 locked, 1 first key seen, 2 unlocked
    bool erase;    ///< the sector is to be erased now
    bool relock;   ///< an unlocked machine was locked again (end of a write)
};

/// Unlock machine of the board firmware: 0xF0 then 0xAA unlock (any byte but
/// 0xAA keeps the first stage waiting), 0x93 erases, 0x35 is accepted while
/// unlocked, anything else locks again.
inline FlashStep flash_unlock_step(uint8_t state, uint8_t value)
{
    switch (state) {
    case 0:
        return {uint8_t(value == 0xF0 ? 1 : 0), false, false};
    case 1:
        return {uint8_t(value == 0xAA ? 2 : 1), false, false};
    default:
        if (value == 0x93)
            return {2, true, false};
        if (value == 0x35)
            return {2, false, false};
        return {0, false, true};
    }
}

} // namespace KORVIK
