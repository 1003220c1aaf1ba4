#pragma once

#include <string>

#include "board/EvUSBBoard.h"

namespace KORVIK {

/// A private copy of a board's settings to compute on: the chip model's
/// registers and crystal, channel access and the identity to store. It has
/// no hardware, is in no registry and not on the virtual air, and nothing it
/// does reaches a board; answers such as "what would this request give" are
/// worked out here so that the real board stays untouched.
class ScratchBoard : public EvUSBBoard {
public:
    explicit ScratchBoard(const std::string& chip);

    /// Takes over every setting of `board` (its chip must be this one's);
    /// with `only`, of the registers just those marked there (one bit per
    /// register, as GreyfinModel::record_reads marks them).
    void copy_settings(const EvUSBBoard& board, const uint64_t* only = nullptr);

    int queue_net_packet(const uint8_t*, unsigned, const uint8_t*) override { return -1; }
    int get_report11() override { return 0; }
    void set_report10(bool, bool) override {}
    void evusb_write(uint16_t, uint8_t) override {}
    uint16_t evusb_read16(uint16_t) override { return 0; }
    void set_flashctl(uint8_t) override {}
    int get_flashctl() override { return 0; }
    void set_flashaddr(uint8_t) override {}
    int get_flashaddr() override { return 0; }
    void set_flashdata(uint16_t) override {}
    int get_flashdata() override { return 0; }
    void evusb_set_ethstate(uint8_t) override {}
    int evusb_get_ethstate() override { return 0; }
    void set_chacc(const uint8_t[9], const uint8_t[12]) override {}
    void get_chacc(uint8_t block[9], uint8_t addresses[12]) override;
};

} // namespace KORVIK
