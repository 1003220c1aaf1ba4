#pragma once

#include <string>
#include <utility>
#include <vector>

#include "board/SimBoard.h"
#include "model/GreyfinModel.h"
#include "support/InertModel.h"

namespace KORVIK {
namespace testing_support {

/// A chip model with sixteen plain registers and adjustable answers.
class FakeModel : public InertModel<> {
public:
    explicit FakeModel(EvUSBBoard* board) : InertModel(board)
    {
        for (unsigned i = 0; i < 16; ++i)
            registers.emplace_back("R" + std::to_string(i), uint16_t(i), uint16_t(i), uint8_t(0x10 + i), 0xFF,
                                   REG_RECEIVE | REG_TRANSMIT);
    }

    std::vector<std::pair<int, int>> terminations;
    double tx_bitrate = 9600;
    bool hdlc = true;

    void terminate_autoranging(int a, int b) override { terminations.emplace_back(a, b); }
    double get_tx_bitrate() override { return tx_bitrate; }
    bool is_framingmode_hdlc() override { return hdlc; }
    void set_framingmode(int) override { signal_changed_framingmode.emit(); }
    std::string get_chip_name() override { return "FAKE"; }
    unsigned get_chipflags() override { return CHIP_RECEIVE | CHIP_TRANSMIT; }

};

/// A simulated board that records what the host sends and can misbehave.
class RecordingBoard : public SimBoard {
public:
    explicit RecordingBoard(const std::string& mac = "0012340A0B0C", bool* destroyed = nullptr)
        : SimBoard("12345", "sim-test", "Test board", mac, nullptr), destroyed(destroyed)
    {
    }
    ~RecordingBoard() override
    {
        if (destroyed)
            *destroyed = true;
    }

    FakeModel* attach_model()
    {
        auto* m = new FakeModel(this);
        set_model(m);
        return m;
    }

    void evusb_set_ethstate(uint8_t state) override
    {
        states.push_back(state);
        SimBoard::evusb_set_ethstate(state);
    }
    void set_chacc(const uint8_t block[9], const uint8_t addresses[12]) override
    {
        ++chacc_sends;
        SimBoard::set_chacc(block, addresses);
    }
    void set_flashdata(uint16_t w) override
    {
        // a worn flash cell: one word never takes the written value
        if (corrupt_word >= 0 && get_flashaddr() == corrupt_word)
            w ^= 0x0100;
        SimBoard::set_flashdata(w);
    }

    /// The reprogramming timeout has passed.
    void expire_reprogram_timer() { status.expire_reprogram_timer(); }
    bool reprogram_timer_running() const { return status.reprogram_timer_running(); }
    uint16_t flash_word(unsigned w) const { return flash[w]; }
    void set_flash_word(unsigned w, uint16_t v) { flash[w] = v; }
    const ChannelAccessParams& chacc_on_board() const { return chacc_sent; }

    using EvUSBBoard::build_nvsector;
    using EvUSBBoard::parse_nvsector;

    std::vector<uint8_t> states;
    unsigned chacc_sends = 0;
    int corrupt_word = -1;
    bool* destroyed;
};

} // namespace testing_support
} // namespace KORVIK
