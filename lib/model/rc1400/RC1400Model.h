#pragma once

#include "model/common/ChipTables.h"
#include "model/common/PatternMatchModel.h"

namespace KORVIK {

/// Receiver chip with 4-FSK and preamble match. Its transmitter has no rate
/// and deviation registers of its own: the transmit copies of CICDEC,
/// DATARATE and TMGGAIN carry them and the board swaps them in to transmit.
class RC1400Model : public PatternMatchModel {
public:
    /// Register indexes of the table.
    enum Reg : int {
        XTALOSC = 0, IFMODE = 1, MODULATION_RX = 2, MODULATION_TX = 3, ENCODING = 4, FRAMING = 5,
        CRCINIT3 = 6, FREQ3_RX = 10, FREQ3_TX = 14, IFFREQHI = 18, PLLLOOP_RX = 20, PLLLOOP_TX = 21,
        PLLRANGING_RX = 22, PLLRANGING_TX = 23, TXPWR = 25, ADCMISC = 27, AGCTARGET = 28, AGCATTACK = 29,
        AGCDECAY = 30, CICDECHI_RX = 32, DATARATEHI_RX = 34, TMGGAINHI_RX = 36, CICDECHI_TX = 38,
        DATARATEHI_TX = 40, TMGGAINHI_TX = 42, PHASEGAIN = 44, FREQGAIN = 45, FREQGAIN2 = 46, AMPLGAIN = 47,
        FOURFSK_RX = 49, FOURFSK_TX = 50, FSKDMAXHI = 51, FSKDMINHI = 53,
    };

    explicit RC1400Model(ChipBus* board);

    std::string get_chip_name() override { return "RC1400"; }
    unsigned get_chipflags() override { return CHIP_RECEIVE; }
    std::list<std::string> get_supported_framingmodes() override;
    std::list<std::string> get_supported_crcmodes() override;

    double get_tx_deviation() override;
    double get_tx_bitrate() override;

protected:
    void rx_code_written(int id) override;
    void rx_setup_done(double bw, double br) override;
    void write_tx_words(double dev, double br) override;
    unsigned tx_code(int id) override;
    void tx_setup_done() override;
    /// Every FSK code holds its factor less one in bits 4:0 on this chip,
    /// the 4-bit codes 8 to 15 included.
    unsigned code_oversampling(unsigned v) override { return is_fsk_code(v) ? (v & 0x1F) + 1 : 1; }
    unsigned tx_oversampling_bits(unsigned rx) override { return is_fsk_code(rx) ? rx & 0x1F : 0; }

    RegGroup fskdmax;
    RegGroup fskdmin;

    /// The chip's tables, one row per register and per bitfield (RC1400Tables.cpp).
    static const RegisterRow register_rows[56];
    static const BitfieldRow bitfield_rows[61];
};

GreyfinModel* create_rc1400_model(ChipBus* board);

} // namespace KORVIK
