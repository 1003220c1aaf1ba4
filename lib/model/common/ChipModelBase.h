#pragma once

#include "model/GreyfinModel.h"
#include "model/common/ChipMath.h"

namespace KORVIK {

/// Base of the chip models whose parameters live in the registers. It holds
/// the chip's register roles (ChipRegs, filled by the chip constructor) and
/// implements what reads the same on every chip: the single-parameter
/// setters that re-run the combined setups, the receive readers, ranges, IF,
/// carrier words, power codes, encoding and CRC accessors, the framing
/// predicates that read FRAMING alone, crystal changes, commit and
/// autoranging.
class ChipModelBase : public GreyfinModel {
public:
    using GreyfinModel::GreyfinModel;

    void idle_hook(unsigned) override {}
    void terminate_autoranging(int rx_result, int tx_result) override;
    void commit_registers() override;

    std::list<std::string> get_supported_rx_btr_settings() override;

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
    double get_iffrequency() override;
    int get_agcreference() override;

    bool is_framingmode_raw() override;
    bool is_framingmode_rawsoft() override;
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

    void set_xtal_frequency(unsigned hz) override;
    void set_rx_modulation(int m) override;
    void set_rx_carrierfrequency(double hz) override;
    void set_tx_carrierfrequency(double hz) override;
    void set_rx_bandwidth(double hz) override;
    void set_rx_bitrate(double bps) override;
    void set_rx_btr(int btr) override;
    void set_tx_modulation(int m) override;
    void set_tx_deviation(double hz) override;
    void set_tx_bitrate(double bps) override;
    void set_tx_power(double dbm) override;
    void step_tx_power(int steps) override;
    void set_rx_range(unsigned r) override;
    void set_tx_range(unsigned r) override;
    void set_iffrequency(double hz) override;
    void set_enc_invert(bool on) override;
    void set_enc_diff(bool on) override;
    void set_enc_scrambler(bool on) override;
    void set_enc_manchester(bool on) override;
    void set_crcmode(int mode) override;
    void set_crcinit(unsigned init) override;

protected:
    const ChipRegs& regs() const { return chip_regs; }
    /// ADC clock: the crystal scaled by ADCMISC bits 1:0.
    double fadc() const;
    /// FRAMING bits 3:1 in place (even, 0..14).
    unsigned framing_f() const { return get_bits(*this, regs().framing, 0x0E); }
    /// FSK oversampling factor n the receiver setup multiplied into TMGGAIN.
    virtual unsigned rx_oversampling() { return 1; }
    /// Receive factor k of the rate reader (n, or more where the chip halves the rate).
    virtual unsigned rx_factor() { return rx_oversampling(); }
    /// Transmit power in dBm per TXRNG code (16 entries).
    virtual const double* power_table() const = 0;
    /// True when the transmit modulation only uses the codes 0, 1, 3, 7, 15:
    /// MODULATION (Tx) is 2, 3 or 5 (an FSK code with those low bits is not shaped).
    bool tx_shaped() const;
    /// The chip's two carrier bands.
    virtual const CarrierBands& carrier_bands() const = 0;
    /// True where the carrier word's bits are remapped by band.
    virtual bool remap_carrier() const { return true; }
    /// After a carrier word is written (VCO presets on RC1300).
    virtual void carrier_written(bool tx, double f, unsigned band);
    /// Signals of parameters the shared commit does not watch; runs after
    /// the shared ones and before the registers are written.
    virtual void emit_extra_signals() {}
    /// Sets one ENCODING bit; chips that hold the encoding in some framing override it.
    virtual void set_encoding_bit(uint8_t bit, bool on);

    /// First steps of a receiver setup: bandwidth and bitrate clamped (and
    /// the bandwidth derived), the wire-mode rate limit, then the timing for
    /// the current crystal and ADC clock written to CICDEC, DATARATE and
    /// TMGGAIN. Returns the timing for the modulation code.
    RxTiming begin_rx_setup(double& bw, double& br, RxDerive family, bool derive, bool fsk, int btr,
                            unsigned cic_max, unsigned n_max);
    /// Writes the transmit deviation and rate words.
    virtual void write_tx_words(double dev, double br);
    /// First steps of a transmitter setup: deviation and bitrate clamped (and
    /// the deviation derived), the wire-mode rate limit, then the words written.
    void begin_tx_setup(double& dev, double& br, RxDerive family, bool derive);
    /// Last step of a transmitter setup: a shaped modulation only uses some
    /// power codes, so TXPWR moves to the one its power index names.
    void reshape_tx_power();
    /// Postamble in bits: `matched` after a preamble-match or 802.15.4
    /// frame, `hdlc` after HDLC, none after the others.
    unsigned postamble_bits(unsigned matched, unsigned hdlc);
    /// Runs both setups again with the current parameters; a framing change
    /// needs it because wire mode limits the bitrate.
    void rerun_setups();

    void set_carrier(bool tx, double hz);
    double get_carrier(bool tx);

    /// Register roles of the chip; the chip constructor fills them.
    ChipRegs chip_regs;
};

} // namespace KORVIK
