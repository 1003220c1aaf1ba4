#pragma once

#include <cstdint>
#include <string>

#include "board/EvUSBBoard.h"

namespace KORVIK {

/// A board without hardware: chip registers, NV flash (with the real unlock
/// protocol), state byte and channel-access block live in memory. Nothing is
/// kept: every simulated board starts erased and zeroed. Packets travel
/// between simulated boards only while the virtual air is on (VirtualAir).
class SimBoard : public EvUSBBoard {
public:
    enum { REGISTER_SPACE = 0x1000 };

    /// Creates the chip model for `chip` (throws std::runtime_error for an
    /// unknown chip name); reads neither NV nor chip values.
    SimBoard(const std::string& serial, const std::string& interface, const std::string& display_name,
             const std::string& chip, const std::string& mac, BoardRegistry* registry);
    /// A simulated board without chip model.
    SimBoard(const std::string& serial, const std::string& interface, const std::string& display_name,
             const std::string& mac, BoardRegistry* registry);
    ~SimBoard() override;

    unsigned get_boardflags() override;
    /// Puts the packet on the virtual air; without it, or on a chip that
    /// cannot transmit, throws "no packet io" as there is no transport.
    int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac) override;
    void leave_registry() override;
    bool is_dead() override;
    bool is_net_up() override;
    int get_report11() override;
    void set_report10(bool a, bool b) override;
    void evusb_write(uint16_t address, uint8_t value) override;
    uint16_t evusb_read16(uint16_t address) override;
    void set_flashctl(uint8_t v) override;
    int get_flashctl() override;
    void set_flashaddr(uint8_t a) override;
    int get_flashaddr() override;
    void set_flashdata(uint16_t w) override;
    int get_flashdata() override;
    void evusb_set_ethstate(uint8_t state) override;
    int evusb_get_ethstate() override;
    void set_chacc(const uint8_t block[9], const uint8_t addresses[12]) override;
    void get_chacc(uint8_t block[9], uint8_t addresses[12]) override;

    /// A packet heard on the virtual air: counted and signalled like a
    /// radio receive record of a real board.
    void receive_from_air(const uint8_t* data, unsigned len, const uint8_t* source_mac, int16_t rssi,
                          int32_t frequency_offset);
    /// A status report of what the receiver hears now (see VirtualAir).
    void report_channel(int16_t rssi, bool carrier, uint16_t ticks);

protected:
    bool dead = false;
    uint8_t ethstate = 0;
    uint8_t flash_address = 0;
    uint8_t flash_state = 0;
    uint16_t flash[NV_WORDS];
    uint8_t registers[REGISTER_SPACE];
    ChannelAccessParams chacc_sent;
};

} // namespace KORVIK
