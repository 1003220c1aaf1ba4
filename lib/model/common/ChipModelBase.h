#pragma once

#include "model/GreyfinModel.h"
#include "model/common/ChipMath.h"

namespace KORVIK {

/// Base of the chip models whose parameters live in the registers. It holds
/// the chip's register roles (ChipRegs, filled by the chip constructor) and
/// implements what reads the same on every chip: the single-parameter
/// setters that re-run the combined setups, the receive readers, ranges, IF,
/// power codes, encoding and CRC accessors, commit and autoranging.
class ChipModelBase : public GreyfinModel {
public:
    using GreyfinModel::GreyfinModel;

    void terminate_autoranging(int rx_result, int tx_result) override;
    void commit_registers() override;

    double get_rx_bandwidth() override;
    double get_rx_bitrate() override;
    int get_rx_btr() override;
    int get_rx_btr_preamble() override;
    double get_tx_power() override;
    unsigned get_rx_range() override;
    unsigned get_tx_range() override;
    double get_iffrequency() override;
    int get_agcreference() override;

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

    void set_rx_modulation(int m) override;
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
    void set_crcinit(unsigned init) override;

protected:
    const ChipRegs& regs() const { return chip_regs; }
    /// ADC clock: the crystal scaled by ADCMISC bits 1:0.
    double fadc() const;
    /// FSK oversampling factor n the receiver setup multiplied into TMGGAIN.
    virtual unsigned rx_oversampling() { return 1; }
    /// Receive factor k of the rate reader (n, or more where the chip halves the rate).
    virtual unsigned rx_factor() { return rx_oversampling(); }
    /// Transmit power in dBm per TXRNG code (16 entries).
    virtual const double* power_table() const = 0;
    /// True when the transmit modulation only uses the codes 0, 1, 3, 7, 15.
    virtual bool tx_shaped() const = 0;
    /// Signals of parameters the shared commit does not watch; runs after
    /// the shared ones and before the registers are written.
    virtual void emit_extra_signals() {}
    void set_encoding_bit(uint8_t bit, bool on);
    /// Receiver timing for the current crystal and ADC clock, written to
    /// CICDEC, DATARATE and TMGGAIN; returns it for the modulation code.
    RxTiming apply_rx_timing(double bw, double br, bool fsk, int btr, unsigned cic_max, unsigned n_max);

    /// Register roles of the chip; the chip constructor fills them.
    ChipRegs chip_regs;
};

} // namespace KORVIK
