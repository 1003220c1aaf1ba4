#pragma once

#include "model/common/ChipModelBase.h"
#include "model/common/ChipTables.h"

namespace KORVIK {

enum : unsigned { RC1200_REGISTER_COUNT = 53, RC1200_BITFIELD_COUNT = 57 };

/// Register indexes of the RC1200 table (RC1200Tables.cpp).
namespace RC1200 {
enum Reg : uint8_t {
    XTALOSC = 0, IFMODE, MODULATION_RX, MODULATION_TX, ENCODING, FRAMING,
    CRCINIT3, CRCINIT2, CRCINIT1, CRCINIT0, FEC, FECSYNC,
    FREQ3_RX, FREQ2_RX, FREQ1_RX, FREQ0_RX, FREQ3_TX, FREQ2_TX, FREQ1_TX, FREQ0_TX,
    FSKDEV2, FSKDEV1, FSKDEV0, IFFREQHI, IFFREQLO,
    PLLLOOP_RX, PLLLOOP_TX, PLLRANGING_RX, PLLRANGING_TX, PLLRNGCLK,
    TXPWR, TXRATEHI, TXRATEMID, TXRATELO, MODMISC,
    ADCMISC, AGCTARGET, AGCATTACK, AGCDECAY, AGCCOUNTER,
    CICDECHI, CICDECLO, DATARATEHI, DATARATELO, TMGGAINHI, TMGGAINLO,
    PHASEGAIN, FREQGAIN, FREQGAIN2, AMPLGAIN, PLLRNGMISC, RXMISC, PLLVCOI,
};
} // namespace RC1200

extern const RegisterRow rc1200_register_rows[RC1200_REGISTER_COUNT];
extern const BitfieldRow rc1200_bitfield_rows[RC1200_BITFIELD_COUNT];

/// Transceiver model: every parameter lives in the registers, getters decode
/// the current chip values. Its modulation codes are 4 bits wide.
class RC1200Model : public ChipModelBase {
public:
    explicit RC1200Model(ChipBus* board);

    std::string get_chip_name() override { return "RC1200"; }
    unsigned get_chipflags() override { return CHIP_RECEIVE | CHIP_TRANSMIT; }

    std::list<std::string> get_supported_modulations() override;
    std::list<std::string> get_supported_framingmodes() override;
    std::list<std::string> get_supported_crcmodes() override;

    int get_rx_modulation() override;
    int get_tx_modulation() override;
    double convert_frequencyoffset(int offset) override;

    int get_framingmode() override;
    bool is_framingmode_rawpreamblematch() override { return false; }
    bool is_framingmode_hdlc() override;
    bool is_framingmode_hdlc_fec() override;

    unsigned get_txkeyup_length() override;
    unsigned get_preamble() override { return 0; }
    unsigned get_preamble_length() override { return 0; }
    unsigned get_postamble_length() override;

    void set_rx(double bandwidth, double bitrate, int modulation, bool derive_bandwidth, int btr) override;
    void set_tx(double deviation, double bitrate, int modulation, bool derive_deviation) override;
    void set_framingmode(int f) override;
    void set_preamble(unsigned) override {}
    void set_preamble_length(unsigned) override {}

protected:
    /// FSK oversampling factor held in MODULATION (Rx).
    unsigned rx_oversampling() override;
    const double* power_table() const override;
    const CarrierBands& carrier_bands() const override;
    /// HDLC FEC keeps the encoding off.
    void set_encoding_bit(uint8_t bit, bool on) override;
};

/// Factory of the chip table.
GreyfinModel* create_rc1200_model(ChipBus* board);

} // namespace KORVIK
