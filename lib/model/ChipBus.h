#pragma once

#include <cstdint>

namespace KORVIK {

/// What a chip model needs of the board it sits on: chip register access over
/// the board's link and the request to reprogram the chip after a commit. The
/// board family implements it; the model knows no board beyond this.
class ChipBus {
public:
    virtual void evusb_write(uint16_t address, uint8_t value) = 0;
    virtual uint16_t evusb_read16(uint16_t address) = 0;
    virtual void evusb_set_ethstate(uint8_t state) = 0;
    virtual int evusb_get_ethstate() = 0;
    /// Requests chip reprogramming jobs: bit 0 job 1, bit 1 job 2.
    virtual void start_reprogramming(unsigned mask) = 0;

protected:
    // models never own their bus
    ~ChipBus() = default;
};

} // namespace KORVIK
