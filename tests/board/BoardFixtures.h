#pragma once

#include <string>
#include <utility>
#include <vector>

#include "board/SimBoard.h"
#include "model/GreyfinModel.h"

namespace KORVIK {
namespace testing_support {

/// A chip model with sixteen plain registers and adjustable answers.
class FakeModel : public GreyfinModel {
public:
    explicit FakeModel(EvUSBBoard* board) : GreyfinModel(board)
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

    // nothing else matters to the board
    void idle_hook(unsigned) override {}
    int get_rx_modulation() override { return 0; }
    int get_tx_modulation() override { return 0; }
    double get_rx_carrierfrequency() override { return 0; }
    double get_tx_carrierfrequency() override { return 0; }
    double get_rx_bandwidth() override { return 0; }
    double get_tx_deviation() override { return 0; }
    double get_rx_bitrate() override { return 0; }
    double get_tx_power() override { return 0; }
    unsigned get_rx_range() override { return 0; }
    unsigned get_tx_range() override { return 0; }
    double get_rx_maxfrequencyoffset() override { return 0; }
    double convert_frequencyoffset(int) override { return 0; }
    double get_iffrequency() override { return 0; }
    int get_agcreference() override { return 0; }
    int get_framingmode() override { return 0; }
    bool is_framingmode_raw() override { return false; }
    bool is_framingmode_rawsoft() override { return false; }
    bool is_framingmode_rawpreamblematch() override { return false; }
    bool is_framingmode_zigbee_900() override { return false; }
    bool is_framingmode_zigbee_2g4() override { return false; }
    bool is_framingmode_wiremode() override { return false; }
    bool is_framingmode_crcsupported() override { return false; }
    bool get_enc_invert() override { return false; }
    bool get_enc_diff() override { return false; }
    bool get_enc_scrambler() override { return false; }
    bool get_enc_manchester() override { return false; }
    int get_crcmode() override { return 0; }
    unsigned get_crcinit() override { return 0; }
    bool is_crcmode_ccitt() override { return false; }
    bool is_crcmode_crc16() override { return false; }
    bool is_crcmode_dnp() override { return false; }
    bool is_crcmode_crc32() override { return false; }
    unsigned get_txkeyup_length() override { return 0; }
    unsigned get_preamble() override { return 0; }
    unsigned get_preamble_length() override { return 0; }
    unsigned get_postamble_length() override { return 0; }
    void set_rx_modulation(int) override {}
    void set_tx_modulation(int) override {}
    void set_rx_carrierfrequency(double) override {}
    void set_tx_carrierfrequency(double) override {}
    void set_rx_bandwidth(double) override {}
    void set_tx_deviation(double) override {}
    void set_rx_bitrate(double) override {}
    void set_tx_bitrate(double) override {}
    void set_tx_power(double) override {}
    void step_tx_power(int) override {}
    void set_rx_range(unsigned) override {}
    void set_tx_range(unsigned) override {}
    void set_iffrequency(double) override {}
    void set_enc_invert(bool) override {}
    void set_enc_diff(bool) override {}
    void set_enc_scrambler(bool) override {}
    void set_enc_manchester(bool) override {}
    void set_crcmode(int) override {}
    void set_crcinit(unsigned) override {}
    void set_preamble(unsigned) override {}
    void set_preamble_length(unsigned) override {}
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
    void expire_reprogram_timer() { reprogram_timer.disconnect(); }
    bool reprogram_timer_running() const { return reprogram_timer.connected(); }
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
