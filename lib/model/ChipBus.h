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
    /// Reads `count` registers in order, as evusb_read16 would one by one. A
    /// link with a round trip per request asks for several at once.
    virtual void evusb_read16_many(const uint16_t* addresses, unsigned count, uint16_t* values)
    {
        for (unsigned i = 0; i < count; ++i)
            values[i] = evusb_read16(addresses[i]);
    }
    /// Writes `count` registers in order, as evusb_write would one by one.
    virtual void evusb_write_many(const uint16_t* addresses, const uint8_t* values, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i)
            evusb_write(addresses[i], values[i]);
    }
    virtual void evusb_set_ethstate(uint8_t state) = 0;
    virtual int evusb_get_ethstate() = 0;
    /// Requests chip reprogramming jobs: bit 0 job 1, bit 1 job 2.
    virtual void start_reprogramming(unsigned mask) = 0;

protected:
    // models never own their bus
    ~ChipBus() = default;
};

} // namespace KORVIK
