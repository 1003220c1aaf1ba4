#include "model/common/ChipModelBase.h"

namespace KORVIK {

double ChipModelBase::fadc() const
{
    return adc_frequency(xtal_frequency, get_bits(*this, regs().adcmisc, 0x03));
}

std::list<std::string> ChipModelBase::get_supported_rx_btr_settings()
{
    return btr_names();
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

RxTiming ChipModelBase::begin_rx_setup(double& bw, double& br, RxDerive family, bool derive, bool fsk, int btr,
                                       unsigned cic_max, unsigned n_max)
{
    normalise_rx(bw, br, family, derive);
    br = wiremode_limit(*this, regs(), br);

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

void ChipModelBase::rerun_setups()
{
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), get_rx_modulation(), false, get_rx_btr());
    set_tx(get_tx_deviation(), get_tx_bitrate(), get_tx_modulation(), false);
}

// ---------------------------------------------------------------- transmitter

void ChipModelBase::begin_tx_setup(double& dev, double& br, RxDerive family, bool derive)
{
    normalise_tx(dev, br, family, derive);
    br = wiremode_limit(*this, regs(), br);
    write_tx_words(dev, br);
}

void ChipModelBase::write_tx_words(double dev, double br)
{
    write_group(*this, regs().fskdev, crystal_word(dev, xtal_frequency, 23));
    write_group(*this, regs().txrate, crystal_word(br, xtal_frequency, 24));
}

bool ChipModelBase::tx_shaped() const
{
    unsigned v = get_bits(*this, regs().modulation_tx, regs().modulation_bits);
    return v == 2 || v == 3 || v == 5;
}

void ChipModelBase::reshape_tx_power()
{
    set_bits(*this, regs().txpwr, 0x0F, power_index(get_bits(*this, regs().txpwr, 0x0F), tx_shaped()));
}

double ChipModelBase::get_tx_deviation()
{
    return read_group(*this, regs().fskdev) * double(xtal_frequency) / 8388608.0;
}

double ChipModelBase::get_tx_bitrate()
{
    return read_group(*this, regs().txrate) * double(xtal_frequency) / 16777216.0;
}

// ---------------------------------------------------------------- carrier and crystal

void ChipModelBase::set_carrier(bool tx, double hz)
{
    const ChipRegs& r = regs();
    double f = hz;
    unsigned band = select_band(carrier_bands(), f);
    set_bits(*this, tx ? r.pllloop_tx : r.pllloop_rx, 0x60, band << 5);
    uint32_t w = carrier_word(f, xtal_frequency);
    if (remap_carrier() && xtal_frequency)
        w = remap_carrier_word(w, band);
    write_group(*this, tx ? r.freq_tx : r.freq_rx, w);
    carrier_written(tx, f, band);
}

double ChipModelBase::get_carrier(bool tx)
{
    const ChipRegs& r = regs();
    uint32_t w = read_group(*this, tx ? r.freq_tx : r.freq_rx);
    if (remap_carrier())
        w = unmap_carrier_word(w, get_bits(*this, tx ? r.pllloop_tx : r.pllloop_rx, 0x60) >> 5);
    return w * double(xtal_frequency) / 16777216.0;
}

void ChipModelBase::carrier_written(bool, double, unsigned) {}

void ChipModelBase::set_rx_carrierfrequency(double hz)
{
    set_carrier(false, hz);
}

void ChipModelBase::set_tx_carrierfrequency(double hz)
{
    set_carrier(true, hz);
}

double ChipModelBase::get_rx_carrierfrequency()
{
    return get_carrier(false);
}

double ChipModelBase::get_tx_carrierfrequency()
{
    return get_carrier(true);
}

void ChipModelBase::set_xtal_frequency(unsigned hz)
{
    int adcmisc = regs().adcmisc;
    reapply_crystal(*this, hz, [this, adcmisc](unsigned f) {
        // above 11 MHz the ADC runs at half the crystal
        if (adcmisc >= 0)
            set_register_chipvalue(unsigned(adcmisc), f > 11000000 ? 1 : 0);
    });
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

// ---------------------------------------------------------------- framing

bool ChipModelBase::is_framingmode_wiremode()
{
    return get_bits(*this, regs().ifmode, 0x0E) == 2;
}

bool ChipModelBase::is_framingmode_raw()
{
    return !is_framingmode_wiremode() && framing_f() == 0;
}

bool ChipModelBase::is_framingmode_rawsoft()
{
    return !is_framingmode_wiremode() && framing_f() == 2;
}

bool ChipModelBase::is_framingmode_zigbee_900()
{
    return !is_framingmode_wiremode() && framing_f() == 12;
}

bool ChipModelBase::is_framingmode_zigbee_2g4()
{
    return !is_framingmode_wiremode() && framing_f() == 14;
}

unsigned ChipModelBase::postamble_bits(unsigned matched, unsigned hdlc)
{
    if (is_framingmode_rawpreamblematch() || is_framingmode_zigbee())
        return matched;
    if (is_framingmode_hdlc())
        return hdlc;
    return 0;
}

// ---------------------------------------------------------------- encoding and CRC

bool ChipModelBase::get_enc_invert()
{
    return get_bits(*this, regs().encoding, ENC_INVERT);
}

bool ChipModelBase::get_enc_diff()
{
    return get_bits(*this, regs().encoding, ENC_DIFF);
}

bool ChipModelBase::get_enc_scrambler()
{
    return get_bits(*this, regs().encoding, ENC_SCRAMBLER);
}

bool ChipModelBase::get_enc_manchester()
{
    return get_bits(*this, regs().encoding, ENC_MANCHESTER);
}

void ChipModelBase::set_encoding_bit(uint8_t bit, bool on)
{
    set_bits(*this, regs().encoding, bit, on ? bit : 0);
}

void ChipModelBase::set_enc_invert(bool on)
{
    set_encoding_bit(ENC_INVERT, on);
}

void ChipModelBase::set_enc_diff(bool on)
{
    set_encoding_bit(ENC_DIFF, on);
}

void ChipModelBase::set_enc_scrambler(bool on)
{
    set_encoding_bit(ENC_SCRAMBLER, on);
}

void ChipModelBase::set_enc_manchester(bool on)
{
    set_encoding_bit(ENC_MANCHESTER, on);
}

int ChipModelBase::get_crcmode()
{
    return int(get_bits(*this, regs().framing, 0x30) >> 4);
}

void ChipModelBase::set_crcmode(int mode)
{
    // code 3 is no CRC mode of its own: it selects CRC-32
    unsigned m = unsigned(mode) & 3;
    set_bits(*this, regs().framing, 0x30, (m == 3 ? 2 : m) << 4);
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
