#pragma once

#include "model/GreyfinModel.h"
#include "model/common/ChipMath.h"
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
/// the current chip values.
class RC1200Model : public GreyfinModel {
public:
    explicit RC1200Model(EvUSBBoard* board);

    /// Where this chip keeps the quantities of the shared arithmetic.
    static const ChipRegs& regs();
    /// Transmit power in dBm per TXRNG code.
    static const double power_table[16];

    void idle_hook(unsigned) override {}
    void terminate_autoranging(int rx_result, int tx_result) override;
    void commit_registers() override;

    std::string get_chip_name() override { return "RC1200"; }
    unsigned get_chipflags() override { return CHIP_RECEIVE | CHIP_TRANSMIT; }

    std::list<std::string> get_supported_rx_btr_settings() override;
    std::list<std::string> get_supported_modulations() override;
    std::list<std::string> get_supported_framingmodes() override;
    std::list<std::string> get_supported_crcmodes() override;

    int get_rx_modulation() override;
    int get_tx_modulation() override;

    double get_rx_carrierfrequency() override;
    double get_tx_carrierfrequency() override;
    double get_rx_bandwidth() override;
    double get_tx_deviation() override;
    double get_rx_bitrate() override;
    double get_tx_bitrate() override;
    int get_rx_btr() override;
    int get_rx_btr_preamble() override;
    double get_tx_power() override;
    unsigned get_rx_range() override;
    unsigned get_tx_range() override;
    double get_rx_maxfrequencyoffset() override { return 32768; }
    double convert_frequencyoffset(int offset) override;
    double get_iffrequency() override;
    int get_agcreference() override;

    int get_framingmode() override;
    bool is_framingmode_raw() override;
    bool is_framingmode_rawsoft() override;
    bool is_framingmode_rawpreamblematch() override { return false; }
    bool is_framingmode_hdlc() override;
    bool is_framingmode_hdlc_fec() override;
    bool is_framingmode_zigbee() override;
    bool is_framingmode_zigbee_900() override;
    bool is_framingmode_zigbee_2g4() override;
    bool is_framingmode_wiremode() override;
    bool is_framingmode_crcsupported() override { return is_framingmode_hdlc(); }

    bool get_enc_invert() override;
    bool get_enc_diff() override;
    bool get_enc_scrambler() override;
    bool get_enc_manchester() override;
    int get_crcmode() override;
    unsigned get_crcinit() override;
    bool is_crcmode_ccitt() override { return get_crcmode() == 0; }
    bool is_crcmode_crc16() override { return get_crcmode() == 1; }
    bool is_crcmode_dnp() override { return false; }
    bool is_crcmode_crc32() override { return get_crcmode() == 2; }

    unsigned get_txkeyup_length() override;
    unsigned get_preamble() override { return 0; }
    unsigned get_preamble_length() override { return 0; }
    unsigned get_postamble_length() override;

    void set_xtal_frequency(unsigned hz) override;
    void set_rx(double bandwidth, double bitrate, int modulation, bool derive_bandwidth, int btr) override;
    void set_tx(double deviation, double bitrate, int modulation, bool derive_deviation) override;

    void set_rx_modulation(int m) override;
    void set_tx_modulation(int m) override;
    void set_rx_carrierfrequency(double hz) override;
    void set_tx_carrierfrequency(double hz) override;
    void set_rx_bandwidth(double hz) override;
    void set_tx_deviation(double hz) override;
    void set_rx_bitrate(double bps) override;
    void set_tx_bitrate(double bps) override;
    void set_rx_btr(int btr) override;
    void set_tx_power(double dbm) override;
    void step_tx_power(int steps) override;
    void set_rx_range(unsigned r) override;
    void set_tx_range(unsigned r) override;
    void set_iffrequency(double hz) override;
    void set_framingmode(int f) override;
    void set_enc_invert(bool on) override;
    void set_enc_diff(bool on) override;
    void set_enc_scrambler(bool on) override;
    void set_enc_manchester(bool on) override;
    void set_crcmode(int mode) override;
    void set_crcinit(unsigned init) override;
    void set_preamble(unsigned) override {}
    void set_preamble_length(unsigned) override {}

private:
    double fadc() const;
    /// FSK oversampling factor held in MODULATION (Rx).
    unsigned rx_oversampling() const;
    bool tx_shaped() const;
    void set_carrier(const RegGroup& freq, int pllloop, double hz);
    double get_carrier(const RegGroup& freq, int pllloop) const;
    void set_encoding_bit(uint8_t bit, bool on);
};

/// Factory of the chip table.
GreyfinModel* create_rc1200_model(EvUSBBoard* board);

} // namespace KORVIK
