#pragma once

#include <string>

#include "board/EvUSBBoard.h"
#include "model/GreyfinModel.h"

namespace KORVIK {
namespace testing_support {

/// A chip model that answers every chip operation with 0, false or nothing;
/// test models derive from it and override only what they are about.
template <class Base = GreyfinModel>
class InertModel : public Base {
public:
    explicit InertModel(EvUSBBoard* board) : Base(board) {}

    void idle_hook(unsigned) override {}
    void terminate_autoranging(int, int) override {}
    std::string get_chip_name() override { return std::string(); }
    unsigned get_chipflags() override { return 0; }
    int get_rx_modulation() override { return 0; }
    int get_tx_modulation() override { return 0; }
    double get_rx_carrierfrequency() override { return 0; }
    double get_tx_carrierfrequency() override { return 0; }
    double get_rx_bandwidth() override { return 0; }
    double get_tx_deviation() override { return 0; }
    double get_rx_bitrate() override { return 0; }
    double get_tx_bitrate() override { return 0; }
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
    bool is_framingmode_hdlc() override { return false; }
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
    void set_framingmode(int) override {}
    void set_enc_invert(bool) override {}
    void set_enc_diff(bool) override {}
    void set_enc_scrambler(bool) override {}
    void set_enc_manchester(bool) override {}
    void set_crcmode(int) override {}
    void set_crcinit(unsigned) override {}
    void set_preamble(unsigned) override {}
    void set_preamble_length(unsigned) override {}
};

} // namespace testing_support
} // namespace KORVIK
