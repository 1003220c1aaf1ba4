#pragma once

#include "model/common/ChipTables.h"
#include "model/common/PatternMatchModel.h"

namespace KORVIK {

/// Transmit-only chip with 4-FSK. It keeps receive copies of the frequency
/// and PLL registers for the board's firmware but has no receiver setup: the
/// receive operations do nothing and the receive readers give fixed answers.
class RC1100Model : public PatternMatchModel {
public:
    /// Register indexes of the table.
    enum Reg : int {
        MODULATION = 2, ENCODING = 3, FRAMING = 4, FEC = 9, PLLLOOP_TX = 22, TXPWR = 26, FOURFSK = 32,
    };

    explicit RC1100Model(ChipBus* board);

    std::string get_chip_name() override { return "RC1100"; }
    unsigned get_chipflags() override { return CHIP_TRANSMIT; }
    std::list<std::string> get_supported_rx_btr_settings() override;
    std::list<std::string> get_supported_framingmodes() override;
    std::list<std::string> get_supported_crcmodes() override;

    int get_rx_modulation() override;
    double get_rx_bandwidth() override;
    double get_rx_bitrate() override;
    int get_rx_btr() override;
    int get_rx_btr_preamble() override;
    double get_rx_maxfrequencyoffset() override;
    double convert_frequencyoffset(int offset) override;
    double get_iffrequency() override;
    int get_agcreference() override;
    unsigned get_txkeyup_length() override;

    void set_rx(double bandwidth, double bitrate, int modulation, bool derive, int btr) override;
    void set_rx_modulation(int m) override;
    void set_rx_bandwidth(double hz) override;
    void set_rx_bitrate(double bps) override;
    void set_rx_btr(int btr) override;
    void set_iffrequency(double hz) override;

protected:
    unsigned tx_code(int id) override;

    /// The chip's tables, one row per register and per bitfield (RC1100Tables.cpp).
    static const RegisterRow register_rows[35];
    static const BitfieldRow bitfield_rows[29];
};

GreyfinModel* create_rc1100_model(ChipBus* board);

} // namespace KORVIK
