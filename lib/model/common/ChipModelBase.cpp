#include "model/common/ChipModelBase.h"

namespace KORVIK {

double ChipModelBase::fadc() const
{
    return adc_frequency(xtal_frequency, get_bits(*this, regs().adcmisc, 0x03));
}

// ---------------------------------------------------------------- receive readers

double ChipModelBase::get_rx_bandwidth()
{
    return rx_bandwidth(fadc(), read_group(*this, regs().cicdec) & 0x3FF);
}

double ChipModelBase::get_rx_bitrate()
{
    return rx_bitrate(fadc(), read_group(*this, regs().datarate), rx_factor(),
                      read_group(*this, regs().cicdec) & 0x3FF);
}

int ChipModelBase::get_rx_btr()
{
    return rx_btr_fast(read_group(*this, regs().tmggain), read_group(*this, regs().datarate), rx_oversampling())
        ? 1 : 0;
}

int ChipModelBase::get_rx_btr_preamble()
{
    return get_rx_btr() ? 100 : 400;
}

double ChipModelBase::get_iffrequency()
{
    return fadc() * read_group(*this, regs().iffreq) / 65536.0;
}

void ChipModelBase::set_iffrequency(double hz)
{
    double f = fadc();
    uint32_t v = 0;
    if (f > 0)
        v = uint32_t(round_clamped(hz / f * 65536.0, 0, 0xFFFF));
    write_group(*this, regs().iffreq, v);
}

RxTiming ChipModelBase::apply_rx_timing(double bw, double br, bool fsk, int btr, unsigned cic_max, unsigned n_max)
{
    RxTimingInput in;
    in.fxtal = xtal_frequency;
    in.adcclk = get_bits(*this, regs().adcmisc, 0x03);
    in.bw = bw;
    in.br = br;
    in.fsk = fsk;
    in.btr = btr;
    in.cic_max = cic_max;
    in.n_max = n_max;
    RxTiming t = compute_rx_timing(in);
    write_rx_timing(*this, regs(), t);
    return t;
}

int ChipModelBase::get_agcreference()
{
    return agc_reference(read_group(*this, regs().cicdec) & 0x3FF);
}

// ---------------------------------------------------------------- single-parameter setters

// A new modulation or bitrate derives the bandwidth (deviation) again; a new
// bandwidth, deviation or btr keeps the others as they are.

void ChipModelBase::set_rx_modulation(int m)
{
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), m, true, get_rx_btr());
}

void ChipModelBase::set_rx_bandwidth(double hz)
{
    set_rx(hz, get_rx_bitrate(), get_rx_modulation(), false, get_rx_btr());
}

void ChipModelBase::set_rx_bitrate(double bps)
{
    set_rx(get_rx_bandwidth(), bps, get_rx_modulation(), true, get_rx_btr());
}

void ChipModelBase::set_rx_btr(int btr)
{
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), get_rx_modulation(), false, btr);
}

void ChipModelBase::set_tx_modulation(int m)
{
    set_tx(get_tx_deviation(), get_tx_bitrate(), m, true);
}

void ChipModelBase::set_tx_deviation(double hz)
{
    set_tx(hz, get_tx_bitrate(), get_tx_modulation(), false);
}

void ChipModelBase::set_tx_bitrate(double bps)
{
    set_tx(get_tx_deviation(), bps, get_tx_modulation(), true);
}

// ---------------------------------------------------------------- power and ranges

double ChipModelBase::get_tx_power()
{
    return power_table()[power_index(get_bits(*this, regs().txpwr, 0x0F), tx_shaped())];
}

void ChipModelBase::set_tx_power(double dbm)
{
    set_bits(*this, regs().txpwr, 0x0F, select_power_code(power_table(), dbm, tx_shaped()));
}

void ChipModelBase::step_tx_power(int steps)
{
    set_bits(*this, regs().txpwr, 0x0F, step_power_code(get_bits(*this, regs().txpwr, 0x0F), steps, tx_shaped()));
}

unsigned ChipModelBase::get_rx_range()
{
    return get_bits(*this, regs().pllranging_rx, 0x0F);
}

unsigned ChipModelBase::get_tx_range()
{
    return get_bits(*this, regs().pllranging_tx, 0x0F);
}

void ChipModelBase::set_rx_range(unsigned r)
{
    set_bits(*this, regs().pllranging_rx, 0x0F, r & 15);
    commit_registers();
}

void ChipModelBase::set_tx_range(unsigned r)
{
    set_bits(*this, regs().pllranging_tx, 0x0F, r & 15);
    commit_registers();
}

// ---------------------------------------------------------------- encoding and CRC

bool ChipModelBase::get_enc_invert()
{
    return get_bits(*this, regs().encoding, 0x01);
}

bool ChipModelBase::get_enc_diff()
{
    return get_bits(*this, regs().encoding, 0x02);
}

bool ChipModelBase::get_enc_scrambler()
{
    return get_bits(*this, regs().encoding, 0x04);
}

bool ChipModelBase::get_enc_manchester()
{
    return get_bits(*this, regs().encoding, 0x08);
}

void ChipModelBase::set_encoding_bit(uint8_t bit, bool on)
{
    set_bits(*this, regs().encoding, bit, on ? bit : 0);
}

int ChipModelBase::get_crcmode()
{
    return int(get_bits(*this, regs().framing, 0x30) >> 4);
}

unsigned ChipModelBase::get_crcinit()
{
    return read_group(*this, regs().crcinit);
}

void ChipModelBase::set_crcinit(unsigned init)
{
    write_group(*this, regs().crcinit, init);
}

// ---------------------------------------------------------------- commit

void ChipModelBase::commit_registers()
{
    commit_chip(*this, regs(), [this] { emit_extra_signals(); });
}

void ChipModelBase::terminate_autoranging(int rx_result, int tx_result)
{
    finish_autoranging(*this, regs(), rx_result, tx_result);
}

} // namespace KORVIK
