#pragma once

#include "model/common/ChipTables.h"
#include "model/common/PatternMatchModel.h"

namespace KORVIK {

/// Transceiver close to the RC1200: 7-bit modulation codes, a 6-bit CIC
/// decimation, its own carrier bands with VCO range presets, and the
/// supply currents it reports.
class RC1300Model : public PatternMatchModel {
public:
    /// Register indexes of the table.
    enum Reg : int {
        XTALOSC = 0, IFMODE = 1, MODULATION_RX = 2, MODULATION_TX = 3, FRAMING = 5,
        PLLLOOP_RX = 23, PLLLOOP_TX = 24, PLLRANGING_RX = 25, PLLRANGING_TX = 26, TXPWR = 28,
        CICDECLO = 38, PLLVCOI = 48, REF = 49,
    };

    explicit RC1300Model(ChipBus* board);

    std::string get_chip_name() override { return "RC1300"; }
    unsigned get_chipflags() override { return CHIP_RECEIVE | CHIP_TRANSMIT; }
    std::list<std::string> get_supported_framingmodes() override;
    std::list<std::string> get_supported_crcmodes() override;
    USBDeviceCurrents get_currents() override;
    /// Fast when TMGGAIN x 20 exceeds DATARATE x k (this chip's threshold).
    int get_rx_btr() override;

    /// VCO range preset for a VCO frequency: 15 at the bottom of the range
    /// down to 0 at the top.
    static unsigned vco_range(double vco_hz);

protected:
    void rx_setup_done(double bw, double br) override;
    void carrier_written(bool tx, double f, unsigned band) override;
    /// Of the 4-bit FSK codes only 8 to 11 carry an oversampling factor here;
    /// the key-up time still reads it from 8 to 15.
    unsigned code_oversampling(unsigned v) override;
    unsigned tx_oversampling_bits(unsigned rx) override;
    unsigned keyup_factor() override { return oversampling(modulation_rx_code()); }

    /// The chip's tables, one row per register and per bitfield (RC1300Tables.cpp).
    static const RegisterRow register_rows[50];
    static const BitfieldRow bitfield_rows[54];
};

GreyfinModel* create_rc1300_model(ChipBus* board);

} // namespace KORVIK
