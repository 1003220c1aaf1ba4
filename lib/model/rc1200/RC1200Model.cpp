#include "model/rc1200/RC1200Model.h"

#include <cmath>

namespace KORVIK {

using namespace RC1200;

namespace {

ChipRegs make_regs()
{
    ChipRegs r;
    r.ifmode = IFMODE;
    r.modulation_rx = MODULATION_RX;
    r.modulation_tx = MODULATION_TX;
    r.modulation_bits = 0x0F;
    r.encoding = ENCODING;
    r.framing = FRAMING;
    r.fec = FEC;
    r.crcinit = {4, {CRCINIT3, CRCINIT2, CRCINIT1, CRCINIT0}};
    r.freq_rx = {4, {FREQ3_RX, FREQ2_RX, FREQ1_RX, FREQ0_RX}};
    r.freq_tx = {4, {FREQ3_TX, FREQ2_TX, FREQ1_TX, FREQ0_TX}};
    r.pllloop_rx = PLLLOOP_RX;
    r.pllloop_tx = PLLLOOP_TX;
    r.pllranging_rx = PLLRANGING_RX;
    r.pllranging_tx = PLLRANGING_TX;
    r.fskdev = {3, {FSKDEV2, FSKDEV1, FSKDEV0}};
    r.txrate = {3, {TXRATEHI, TXRATEMID, TXRATELO}};
    r.iffreq = {2, {IFFREQHI, IFFREQLO}};
    r.txpwr = TXPWR;
    r.adcmisc = ADCMISC;
    r.agctarget = AGCTARGET;
    r.agcattack = AGCATTACK;
    r.agcdecay = AGCDECAY;
    r.cicdec = {2, {CICDECHI, CICDECLO}};
    r.datarate = {2, {DATARATEHI, DATARATELO}};
    r.tmggain = {2, {TMGGAINHI, TMGGAINLO}};
    r.phasegain = PHASEGAIN;
    r.freqgain = FREQGAIN;
    r.freqgain2 = FREQGAIN2;
    r.amplgain = AMPLGAIN;
    return r;
}

// Both sub-GHz bands; the band table's 2.4 GHz entry needs BANDSEL bit 6,
// which PLLLOOP's mask does not allow on this chip.
const CarrierBands carrier_bands = {650000000.0, 1, 400000000.0, 500000000.0, 0, 800000000.0, 1000000000.0};

/// Register code of a modulation id: ids up to 8 as they are, GFSK (and
/// anything above) as 12.
unsigned modulation_code(int modulation)
{
    if (modulation <= 0)
        return 0;
    if (modulation >= MOD_GFSK)
        return 12;
    return unsigned(modulation);
}

RxDerive derive_family(unsigned code)
{
    if (code <= 5)
        return RxDerive::bitrate;
    if (code <= 7)
        return RxDerive::one_and_half;
    return RxDerive::fsk;
}

int modulation_id(unsigned v)
{
    v &= 0x0F;
    if ((v >> 2) == 2)
        return MOD_FSK;
    if ((v >> 2) == 3)
        return MOD_GFSK;
    return int(v);
}

} // namespace

const ChipRegs& RC1200Model::regs()
{
    static const ChipRegs r = make_regs();
    return r;
}

const double RC1200Model::power_table[16] = {-50, -14, -8, -4, -1, 0.5, 2, 3, 4, 5, 6, 7, 8, 8.5, 9, 10};

RC1200Model::RC1200Model(EvUSBBoard* board_) : GreyfinModel(board_)
{
    build_chip_tables(registers, bitfields, rc1200_register_rows, rc1200_bitfield_rows);
    mark_shared_registers();
}

GreyfinModel* create_rc1200_model(EvUSBBoard* board)
{
    return new RC1200Model(board);
}

// ---------------------------------------------------------------- lists

std::list<std::string> RC1200Model::get_supported_rx_btr_settings()
{
    return btr_names();
}

std::list<std::string> RC1200Model::get_supported_modulations()
{
    return modulation_names(MOD_GFSK);
}

std::list<std::string> RC1200Model::get_supported_framingmodes()
{
    return {"HDLC", "HDLC FEC", "Raw", "Raw Soft", "802.15.4 (900M)", "802.15.4 (2G4)",
            "Synchronous Wiremode", "Asynchronous Wiremode"};
}

std::list<std::string> RC1200Model::get_supported_crcmodes()
{
    return crc_mode_names();
}

// ---------------------------------------------------------------- helpers

double RC1200Model::fadc() const
{
    return adc_frequency(xtal_frequency, get_bits(*this, ADCMISC, 0x03));
}

unsigned RC1200Model::rx_oversampling() const
{
    unsigned v = get_bits(*this, MODULATION_RX, 0x0F);
    return v < 8 ? 1 : (v & 3) + 1;
}

bool RC1200Model::tx_shaped() const
{
    unsigned v = get_bits(*this, MODULATION_TX, 0x0F);
    return v == 2 || v == 3 || v == 5;
}

// ---------------------------------------------------------------- receiver

void RC1200Model::set_rx(double bandwidth, double bitrate, int modulation, bool derive_bandwidth, int btr)
{
    const ChipRegs& r = regs();
    unsigned c = modulation_code(modulation);
    double bw = bandwidth, br = bitrate;
    normalise_rx(bw, br, derive_family(c), derive_bandwidth);
    br = wiremode_limit(*this, r, br);

    RxTimingInput in;
    in.fxtal = xtal_frequency;
    in.adcclk = get_bits(*this, ADCMISC, 0x03);
    in.bw = bw;
    in.br = br;
    in.fsk = (c & 0xF8) == 8;
    in.btr = btr;
    in.cic_max = 512;
    in.n_max = 4;
    RxTiming t = compute_rx_timing(in);
    if (in.fsk && xtal_frequency)
        c = (t.n - 1) | (c == 12 ? 12 : 8);
    write_rx_timing(*this, r, t);
    set_bits(*this, MODULATION_RX, 0x0F, c);

    LoopFamily family = c <= 3 ? LoopFamily::ask : c <= 7 ? LoopFamily::psk : LoopFamily::fsk;
    if (family == LoopFamily::fsk) {
        // the transmitter shares the FSK oversampling bits of the receiver
        unsigned tx = get_bits(*this, MODULATION_TX, 0x0F);
        if (tx > 7)
            set_bits(*this, MODULATION_TX, 0x0F, (c & 3) | (tx & 0x0C));
    }
    apply_rx_loop_and_agc(*this, r, family, btr, bw, br, get_rx_carrierfrequency());
    set_bits(*this, FEC, 0x30, (c >= 4 && c <= 7) ? 0x30 : 0x10);
}

void RC1200Model::set_rx_modulation(int m)
{
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), m, true, get_rx_btr());
}

void RC1200Model::set_rx_bandwidth(double hz)
{
    set_rx(hz, get_rx_bitrate(), get_rx_modulation(), false, get_rx_btr());
}

void RC1200Model::set_rx_bitrate(double bps)
{
    set_rx(get_rx_bandwidth(), bps, get_rx_modulation(), true, get_rx_btr());
}

void RC1200Model::set_rx_btr(int btr)
{
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), get_rx_modulation(), false, btr);
}

int RC1200Model::get_rx_modulation()
{
    return modulation_id(get_bits(*this, MODULATION_RX, 0x0F));
}

double RC1200Model::get_rx_bandwidth()
{
    return rx_bandwidth(fadc(), read_group(*this, regs().cicdec) & 0x3FF);
}

double RC1200Model::get_rx_bitrate()
{
    return rx_bitrate(fadc(), read_group(*this, regs().datarate), rx_oversampling(),
                      read_group(*this, regs().cicdec) & 0x3FF);
}

int RC1200Model::get_rx_btr()
{
    return rx_btr_fast(read_group(*this, regs().tmggain), read_group(*this, regs().datarate), rx_oversampling())
               ? 1
               : 0;
}

int RC1200Model::get_rx_btr_preamble()
{
    return get_rx_btr() == 1 ? 100 : 400;
}

double RC1200Model::convert_frequencyoffset(int offset)
{
    return get_rx_bitrate() * std::ldexp(1.0, -16) * offset;
}

double RC1200Model::get_iffrequency()
{
    return fadc() * read_group(*this, regs().iffreq) / 65536.0;
}

void RC1200Model::set_iffrequency(double hz)
{
    uint32_t v = 0;
    if (xtal_frequency)
        v = uint32_t(round_clamped(hz / fadc() * 65536.0, 0, 0xFFFF));
    write_group(*this, regs().iffreq, v);
}

int RC1200Model::get_agcreference()
{
    return agc_reference(read_group(*this, regs().cicdec) & 0x3FF);
}

unsigned RC1200Model::get_rx_range()
{
    return get_bits(*this, PLLRANGING_RX, 0x0F);
}

unsigned RC1200Model::get_tx_range()
{
    return get_bits(*this, PLLRANGING_TX, 0x0F);
}

void RC1200Model::set_rx_range(unsigned r)
{
    set_bits(*this, PLLRANGING_RX, 0x0F, r & 15);
    commit_registers();
}

void RC1200Model::set_tx_range(unsigned r)
{
    set_bits(*this, PLLRANGING_TX, 0x0F, r & 15);
    commit_registers();
}

// ---------------------------------------------------------------- transmitter

void RC1200Model::set_tx(double deviation, double bitrate, int modulation, bool derive_deviation)
{
    const ChipRegs& r = regs();
    unsigned c = modulation_code(modulation);
    double dev = deviation, br = bitrate;
    normalise_tx(dev, br, derive_family(c), derive_deviation);
    br = wiremode_limit(*this, r, br);

    write_group(*this, r.fskdev, crystal_word(dev, xtal_frequency, 23));
    write_group(*this, r.txrate, crystal_word(br, xtal_frequency, 24));

    unsigned rx = get_bits(*this, MODULATION_RX, 0x0F);
    if (c > 7 && rx > 7)
        c = (c & 12) | (rx & 3);
    set_bits(*this, MODULATION_TX, 0x0F, c);
    set_bits(*this, TXPWR, 0x0F, power_index(get_bits(*this, TXPWR, 0x0F), tx_shaped()));
}

void RC1200Model::set_tx_modulation(int m)
{
    set_tx(get_tx_deviation(), get_tx_bitrate(), m, true);
}

void RC1200Model::set_tx_deviation(double hz)
{
    set_tx(hz, get_tx_bitrate(), get_tx_modulation(), false);
}

void RC1200Model::set_tx_bitrate(double bps)
{
    set_tx(get_tx_deviation(), bps, get_tx_modulation(), true);
}

int RC1200Model::get_tx_modulation()
{
    return modulation_id(get_bits(*this, MODULATION_TX, 0x0F));
}

double RC1200Model::get_tx_deviation()
{
    return read_group(*this, regs().fskdev) * double(xtal_frequency) / 8388608.0;
}

double RC1200Model::get_tx_bitrate()
{
    return read_group(*this, regs().txrate) * double(xtal_frequency) / 16777216.0;
}

double RC1200Model::get_tx_power()
{
    return power_table[power_index(get_bits(*this, TXPWR, 0x0F), tx_shaped())];
}

void RC1200Model::set_tx_power(double dbm)
{
    set_bits(*this, TXPWR, 0x0F, select_power_code(power_table, dbm, tx_shaped()));
}

void RC1200Model::step_tx_power(int steps)
{
    set_bits(*this, TXPWR, 0x0F, step_power_code(get_bits(*this, TXPWR, 0x0F), steps, tx_shaped()));
}

// ---------------------------------------------------------------- carrier

void RC1200Model::set_carrier(const RegGroup& freq, int pllloop, double hz)
{
    unsigned band = select_band(carrier_bands, hz);
    set_bits(*this, pllloop, 0x60, band << 5);
    uint32_t w = 0;
    if (xtal_frequency)
        w = remap_carrier_word(carrier_word(hz, xtal_frequency), band);
    write_group(*this, freq, w);
}

double RC1200Model::get_carrier(const RegGroup& freq, int pllloop) const
{
    unsigned band = get_bits(*this, pllloop, 0x60) >> 5;
    return unmap_carrier_word(read_group(*this, freq), band) * double(xtal_frequency) / 16777216.0;
}

void RC1200Model::set_rx_carrierfrequency(double hz)
{
    set_carrier(regs().freq_rx, PLLLOOP_RX, hz);
}

void RC1200Model::set_tx_carrierfrequency(double hz)
{
    set_carrier(regs().freq_tx, PLLLOOP_TX, hz);
}

double RC1200Model::get_rx_carrierfrequency()
{
    return get_carrier(regs().freq_rx, PLLLOOP_RX);
}

double RC1200Model::get_tx_carrierfrequency()
{
    return get_carrier(regs().freq_tx, PLLLOOP_TX);
}

// ---------------------------------------------------------------- framing, CRC, encoding

int RC1200Model::get_framingmode()
{
    unsigned ifmode = get_bits(*this, IFMODE, 0x0F);
    if (ifmode == 2)
        return 6;
    if (ifmode == 3)
        return 7;
    switch (get_bits(*this, FRAMING, 0x0E)) {
    case 0: return 2;
    case 2: return 3;
    case 12: return 4;
    case 14: return 5;
    default: return int(get_bits(*this, FEC, 0x01));
    }
}

bool RC1200Model::is_framingmode_wiremode()
{
    return get_bits(*this, IFMODE, 0x0E) == 2;
}

bool RC1200Model::is_framingmode_raw()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0E) == 0;
}

bool RC1200Model::is_framingmode_rawsoft()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0E) == 2;
}

bool RC1200Model::is_framingmode_hdlc()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0E) == 4;
}

bool RC1200Model::is_framingmode_hdlc_fec()
{
    return is_framingmode_hdlc() && get_bits(*this, FEC, 0x01);
}

bool RC1200Model::is_framingmode_zigbee()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0C) == 0x0C;
}

bool RC1200Model::is_framingmode_zigbee_900()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0E) == 12;
}

bool RC1200Model::is_framingmode_zigbee_2g4()
{
    return !is_framingmode_wiremode() && get_bits(*this, FRAMING, 0x0E) == 14;
}

void RC1200Model::set_framingmode(int id)
{
    set_bits(*this, FEC, 0x01, id == 1 ? 1 : 0);
    unsigned ifmode = 0, f = 4;
    switch (id) {
    case 6: ifmode = 2; break;
    case 7: ifmode = 3; break;
    case 1:
        set_bits(*this, FEC, 0x0E, 0x0A);
        set_register_chipvalue(FECSYNC, 0x20);
        set_bits(*this, ENCODING, 0x0F, 0);
        break;
    case 2: f = 0; break;
    case 3: f = 2; break;
    case 4: f = 12; break;
    case 5: f = 14; break;
    default: break;
    }
    set_bits(*this, IFMODE, 0x0F, ifmode);
    set_bits(*this, FRAMING, 0x0E, f);
    // wire mode limits the bitrates
    set_rx(get_rx_bandwidth(), get_rx_bitrate(), get_rx_modulation(), false, get_rx_btr());
    set_tx(get_tx_deviation(), get_tx_bitrate(), get_tx_modulation(), false);
}

int RC1200Model::get_crcmode()
{
    return int(get_bits(*this, FRAMING, 0x30) >> 4);
}

void RC1200Model::set_crcmode(int mode)
{
    unsigned m = unsigned(mode) & 3;
    if (m == 3)
        m = 2;
    set_bits(*this, FRAMING, 0x30, m << 4);
}

unsigned RC1200Model::get_crcinit()
{
    return read_group(*this, regs().crcinit);
}

void RC1200Model::set_crcinit(unsigned init)
{
    write_group(*this, regs().crcinit, init);
}

bool RC1200Model::get_enc_invert()
{
    return get_bits(*this, ENCODING, ENC_INVERT);
}

bool RC1200Model::get_enc_diff()
{
    return get_bits(*this, ENCODING, ENC_DIFF);
}

bool RC1200Model::get_enc_scrambler()
{
    return get_bits(*this, ENCODING, ENC_SCRAMBLER);
}

bool RC1200Model::get_enc_manchester()
{
    return get_bits(*this, ENCODING, ENC_MANCHESTER);
}

void RC1200Model::set_encoding_bit(uint8_t bit, bool on)
{
    // the FEC coder runs on unencoded data
    if (is_framingmode_hdlc_fec())
        return;
    set_bits(*this, ENCODING, bit, on ? bit : 0);
}

void RC1200Model::set_enc_invert(bool on)
{
    set_encoding_bit(ENC_INVERT, on);
}

void RC1200Model::set_enc_diff(bool on)
{
    set_encoding_bit(ENC_DIFF, on);
}

void RC1200Model::set_enc_scrambler(bool on)
{
    set_encoding_bit(ENC_SCRAMBLER, on);
}

void RC1200Model::set_enc_manchester(bool on)
{
    set_encoding_bit(ENC_MANCHESTER, on);
}

unsigned RC1200Model::get_postamble_length()
{
    if (is_framingmode_rawpreamblematch() || is_framingmode_zigbee())
        return 32;
    if (is_framingmode_hdlc())
        return 40;
    return 0;
}

unsigned RC1200Model::get_txkeyup_length()
{
    int m = get_rx_modulation();
    return txkeyup_length(*this, regs(), is_modulation_fsk(m) || is_modulation_4fsk(m), is_modulation_psk(m),
                          get_enc_scrambler(), rx_oversampling());
}

// ---------------------------------------------------------------- crystal, commit, autoranging

void RC1200Model::set_xtal_frequency(unsigned hz)
{
    reapply_crystal(*this, hz, [this](unsigned f) {
        // above 11 MHz the ADC runs at half the crystal frequency
        set_register_chipvalue(ADCMISC, f > 11000000 ? 1 : 0);
    });
}

void RC1200Model::commit_registers()
{
    commit_chip(*this, regs());
}

void RC1200Model::terminate_autoranging(int rx_result, int tx_result)
{
    finish_autoranging(*this, regs(), rx_result, tx_result);
}

} // namespace KORVIK
