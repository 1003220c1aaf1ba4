#include "model/common/ChipMath.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace KORVIK {

// ---------------------------------------------------------------- safe numbers

double clamp_finite(double v, double lo, double hi)
{
    if (std::isnan(v))
        return lo;
    return std::min(std::max(v, lo), hi);
}

int64_t round_clamped(double v, int64_t lo, int64_t hi)
{
    double r = clamp_finite(std::floor(clamp_finite(v, double(lo), double(hi)) + 0.5), double(lo), double(hi));
    return int64_t(r);
}

// ---------------------------------------------------------------- vocabulary

std::list<std::string> modulation_names(int last_id)
{
    static const char* const names[] = {"ASK", "ASK Coherent", "ASK Shaped", "ASK Shaped Coherent",
                                        "PSK", "PSK Shaped", "OQPSK", "MSK", "FSK", "GFSK", "4-FSK"};
    std::list<std::string> out;
    for (int i = 0; i <= last_id && i < int(sizeof names / sizeof names[0]); ++i)
        out.push_back(names[i]);
    return out;
}

std::list<std::string> crc_mode_names()
{
    return {"CRC-CCITT", "CRC-16", "CRC-32"};
}

std::list<std::string> btr_names()
{
    return {"Normal", "Fast"};
}

// ---------------------------------------------------------------- register groups

uint32_t read_group(const GreyfinModel& m, const RegGroup& g)
{
    uint32_t v = 0;
    for (unsigned i = 0; i < g.n; ++i)
        v = (v << 8) | m.get_register_chipvalue(g.idx[i]);
    return v;
}

void write_group(GreyfinModel& m, const RegGroup& g, uint32_t v)
{
    for (unsigned i = g.n; i-- > 0;) {
        m.set_register_chipvalue(g.idx[i], uint8_t(v & 0xFF));
        v >>= 8;
    }
}

uint8_t group_changemask(const GreyfinModel& m, const RegGroup& g)
{
    uint8_t c = 0;
    for (unsigned i = 0; i < g.n; ++i)
        c |= m.get_register_changemask(g.idx[i]);
    return c;
}

void set_bits(GreyfinModel& m, int reg, uint8_t field, unsigned v)
{
    if (reg >= 0)
        m.frob_register_chipvalue(unsigned(reg), uint8_t(v & field), field);
}

unsigned get_bits(const GreyfinModel& m, int reg, uint8_t field)
{
    return reg >= 0 ? (m.get_register_chipvalue(unsigned(reg)) & field) : 0;
}

unsigned changed_bits(const GreyfinModel& m, int reg, uint8_t field)
{
    return reg >= 0 ? (m.get_register_changemask(unsigned(reg)) & field) : 0;
}

// ---------------------------------------------------------------- receiver

double adc_frequency(unsigned fxtal, unsigned adcclk)
{
    return std::ldexp(double(fxtal), -int(adcclk & 3));
}

void normalise_rx(double& bw, double& br, RxDerive family, bool derive)
{
    bw = clamp_finite(bw, 100, 1000000);
    br = clamp_finite(br, 100, 1000000);
    if (!derive)
        return;
    switch (family) {
    case RxDerive::bitrate: bw = br; break;
    case RxDerive::one_and_half: bw = 1.5 * br; break;
    case RxDerive::fsk: bw = std::max(1.5 * br, bw); break;
    case RxDerive::fourfsk: bw = std::max(2.5 * br, bw); break;
    }
}

bool is_async_wiremode(const GreyfinModel& m, const ChipRegs& r)
{
    return r.ifmode >= 0 && get_bits(m, r.ifmode, 0x0F) == 3;
}

double wiremode_limit(const GreyfinModel& m, const ChipRegs& r, double br)
{
    if (is_async_wiremode(m, r))
        return std::min(br, m.get_xtal_frequency() * 0.03125);
    return br;
}

RxTiming compute_rx_timing(const RxTimingInput& in)
{
    RxTiming t;
    if (in.fxtal == 0 || !(in.bw >= 1) || !(in.br >= 1))
        return t;

    double fadc = adc_frequency(in.fxtal, in.adcclk);
    unsigned d = in.btr ? 8 : 32;
    double k = in.btr == 0 ? 0.3125 : 15.0 / 56.0;
    double cic = std::floor(fadc * k / in.bw);
    cic = std::min(cic, 1023.0);
    cic = std::min(cic, double(std::max(1u, in.cic_max)));
    double lower = (in.adcclk & 3) == 0 ? 4 : 2;
    if (!(cic >= lower))
        cic = lower;
    t.cicdec = unsigned(cic);

    unsigned n = 1;
    if (in.fsk) {
        double tt = fadc / (2 * in.br * cic);
        if (tt > d)
            d = unsigned(clamp_finite(std::ceil(tt), 1, 1e9));
        double nn = std::floor(1.0 / (1.0 / tt + 1.0 / d));
        n = unsigned(clamp_finite(nn, 1, std::max(1u, in.n_max)));
    }
    t.n = n;

    unsigned datarate = unsigned(round_clamped(fadc / in.br / cic / n * 2048, 0, 0xFFFF));
    t.tmggain = unsigned((uint64_t(n) * datarate + d / 2) / d);
    t.datarate = std::max(datarate, (t.tmggain & 0xFFFF) + 0x1000);
    return t;
}

void write_rx_timing(GreyfinModel& m, const ChipRegs& r, const RxTiming& t)
{
    write_group(m, r.cicdec, t.cicdec);
    write_group(m, r.datarate, t.datarate);
    write_group(m, r.tmggain, t.tmggain);
}

uint8_t agc_code(double factor, double u)
{
    double x = factor * u;
    if (!(x > 0))
        return 0;
    return uint8_t(clamp_finite(std::floor(std::log2(x)) + 26, 0, 31));
}

void apply_rx_loop_and_agc(GreyfinModel& m, const ChipRegs& r, LoopFamily family, int btr,
                           double bw, double br, double carrier_hz)
{
    double attack = 1.0, decay = 0.1;
    switch (family) {
    case LoopFamily::ask:
        set_bits(m, r.phasegain, 0x0F, 0);
        set_bits(m, r.freqgain, 0x0F, 6);
        set_bits(m, r.freqgain2, 0x0F, 6);
        set_bits(m, r.amplgain, 0x0F, 6);
        attack = 0.1;
        decay = 0.01;
        break;
    case LoopFamily::psk:
        set_bits(m, r.phasegain, 0x0F, 3);
        set_bits(m, r.freqgain, 0x0F, 6);
        set_bits(m, r.freqgain2, 0x0F, 6);
        set_bits(m, r.amplgain, 0x0F, 6);
        break;
    case LoopFamily::fsk:
        set_bits(m, r.phasegain, 0x0F, 3);
        set_bits(m, r.freqgain, 0x0F, btr == 0 ? 3 : 2);
        set_bits(m, r.freqgain2, 0x0F, 6);
        set_bits(m, r.amplgain, 0x0F, 6);
        // a filter wide enough for the crystal error lets the loops pull fully
        if ((bw - br) / 8 >= m.get_xtal_tolerance() * 1e-6 * carrier_hz) {
            set_bits(m, r.freqgain, 0x0F, 15);
            set_bits(m, r.freqgain2, 0x0F, 15);
        }
        break;
    }

    unsigned fxtal = m.get_xtal_frequency();
    uint8_t a = 0, dcy = 0;
    if (fxtal) {
        double u = br / adc_frequency(fxtal, get_bits(m, r.adcmisc, 0x03));
        a = agc_code(attack, u);
        dcy = agc_code(decay, u);
    }
    set_bits(m, r.agcattack, 0x1F, a);
    set_bits(m, r.agcdecay, 0x1F, dcy);
    if (r.agctarget >= 0)
        m.set_register_chipvalue(unsigned(r.agctarget), 0x0E);
}

double rx_bandwidth(double fadc, unsigned cicdec)
{
    return cicdec ? fadc * 0.3125 / cicdec : 0.0;
}

double rx_bitrate(double fadc, unsigned datarate, unsigned k, unsigned cicdec)
{
    double div = double(datarate) * k * cicdec;
    return div > 0 ? fadc * 2048 / div : 0.0;
}

bool rx_btr_fast(unsigned tmggain, unsigned datarate, unsigned n)
{
    return uint64_t(tmggain) * 64 > uint64_t(datarate) * 5 * std::max(1u, n);
}

unsigned cic_shift(unsigned n)
{
    static const std::array<uint8_t, 1024> table = [] {
        std::array<uint8_t, 1024> s{};
        for (unsigned i = 1; i < s.size(); ++i) {
            double v = std::ceil(4 * std::log2(double(i)) - 0.057) - 5;
            s[i] = uint8_t(v > 0 ? v : 0);
        }
        return s;
    }();
    return table[std::min<unsigned>(n, 1023)];
}

int agc_reference(unsigned cicdec)
{
    // no decimation, no meaningful reference: avoid log10(0)
    if (cicdec == 0)
        return 0;
    double v = 6.0 * cic_shift(cicdec) + 14 - 80 * std::log10(double(cicdec));
    return int(std::lround(v));
}

unsigned txkeyup_length(const GreyfinModel& m, const ChipRegs& r, bool fsk_family, bool psk,
                        bool scrambler, unsigned k)
{
    int64_t s = scrambler ? 0 : -17;
    int64_t len;
    if (fsk_family) {
        unsigned fg = get_bits(m, r.freqgain, 0x0F);
        unsigned fg2 = get_bits(m, r.freqgain2, 0x0F);
        if (fg == 15 && fg2 == 15)
            len = s + 19;
        else
            len = s + 19 + (75 * (int64_t(1) << fg) + 3) / 4;
    } else if (psk) {
        len = s + 185;
    } else {
        len = s + 51;
    }
    uint32_t tmg = read_group(m, r.tmggain);
    if (tmg)
        len += int64_t(uint64_t(read_group(m, r.datarate)) * (scrambler ? 4 : 3) * k / tmg);
    return unsigned(std::max<int64_t>(len, 0));
}

// ---------------------------------------------------------------- transmitter

void normalise_tx(double& dev, double& br, RxDerive family, bool derive)
{
    dev = clamp_finite(dev, 0, 1000000);
    br = clamp_finite(br, 100, 1000000);
    if (!derive)
        return;
    switch (family) {
    case RxDerive::bitrate: dev = 0; break;
    case RxDerive::one_and_half: dev = 0.5 * br; break;
    case RxDerive::fsk:
    case RxDerive::fourfsk: dev = std::max(0.5 * br, dev); break;
    }
}

uint32_t crystal_word(double value, unsigned fxtal, int bits)
{
    if (fxtal == 0)
        return 0;
    return uint32_t(round_clamped(value / fxtal * std::ldexp(1.0, bits), 0, 0xFFFFFF));
}

// ---------------------------------------------------------------- power

namespace {

unsigned bit_length(unsigned v)
{
    unsigned b = 0;
    while (v) {
        ++b;
        v >>= 1;
    }
    return b;
}

} // namespace

unsigned power_index(unsigned txrng, bool shaped)
{
    txrng &= 15;
    if (!shaped || txrng == 0)
        return txrng;
    return (1u << bit_length(txrng)) - 1;
}

unsigned select_power_code(const double table[16], double dbm, bool shaped)
{
    double lo = *std::min_element(table, table + 16);
    double hi = *std::max_element(table, table + 16);
    // NaN picks the weakest setting; infinities the ends of the table
    dbm = clamp_finite(dbm, lo, hi);
    unsigned best = 0;
    double err = std::fabs(dbm - table[0]);
    auto consider = [&](unsigned code) {
        double e = std::fabs(dbm - table[code]);
        if (e <= err) {
            err = e;
            best = code;
        }
    };
    if (shaped) {
        for (unsigned code : {15u, 7u, 3u, 1u})
            consider(code);
    } else {
        for (unsigned code = 1; code < 16; ++code)
            consider(code);
    }
    return best;
}

unsigned step_power_code(unsigned txrng, int n, bool shaped)
{
    txrng &= 15;
    if (!shaped)
        return unsigned(std::min<int64_t>(std::max<int64_t>(int64_t(txrng) + n, 0), 15));
    unsigned v = txrng;
    // four doublings or halvings already reach an end of the code range
    int64_t steps = std::min<int64_t>(n < 0 ? -int64_t(n) : int64_t(n), 8);
    for (int64_t i = 0; i < steps; ++i)
        v = n > 0 ? 2 * v + 1 : v >> 1;
    if (v == 0)
        return 0;
    return (1u << std::min(bit_length(v), 4u)) - 1;
}

// ---------------------------------------------------------------- carrier

unsigned select_band(const CarrierBands& bands, double& f)
{
    if (std::isnan(f) || f < bands.split) {
        f = clamp_finite(f, bands.low_min, bands.low_max);
        return bands.low_band;
    }
    f = clamp_finite(f, bands.high_min, bands.high_max);
    return bands.high_band;
}

uint32_t carrier_word(double f, unsigned fxtal)
{
    if (fxtal == 0)
        return 0;
    return uint32_t(round_clamped(f / fxtal * 16777216.0, 0, 0xFFFFFFFFLL)) | 1u;
}

namespace {

uint32_t swap_bits_23_24(uint32_t v)
{
    uint32_t b23 = (v >> 23) & 1, b24 = (v >> 24) & 1;
    return (v & ~((1u << 23) | (1u << 24))) | (b23 << 24) | (b24 << 23);
}

} // namespace

uint32_t remap_carrier_word(uint32_t v, unsigned band)
{
    if (band == 0)
        return swap_bits_23_24(v);
    if (band != 1)
        return v;
    unsigned g = (v >> 22) & 7;
    if (g == 1 || g == 6) {
        // groups 1 and 6 have no code: move to the nearest edge of a neighbour
        if ((v & 0x3FFFFF) <= 0x1FFFFF) {
            v |= 0x3FFFFF;
            g -= 1;
        } else {
            v &= 0xFFC00000u;
            g += 1;
        }
    }
    static const uint8_t code[8] = {0, 0, 2, 4, 3, 6, 0, 7};
    return (v & ~(7u << 22)) | (uint32_t(code[g]) << 22);
}

uint32_t unmap_carrier_word(uint32_t w, unsigned band)
{
    if (band == 0)
        return swap_bits_23_24(w);
    if (band != 1)
        return w;
    return (w & 0xFF800000u) + ((w >> 22) & 1) * (1u << 23) + (w & 0x3FFFFF) - ((w >> 24) & 1) * (1u << 22);
}

// ---------------------------------------------------------------- crystal

unsigned clamp_xtal_frequency(unsigned hz)
{
    if (hz == 0xFFFFFFFFu)
        return 16000000;
    return std::min(std::max(hz, 3900000u), 32100000u);
}

void reapply_crystal(GreyfinModel& m, unsigned hz, const std::function<void(unsigned)>& chip_hook)
{
    double rxf = m.get_rx_carrierfrequency();
    double txf = m.get_tx_carrierfrequency();
    double bw = m.get_rx_bandwidth();
    double dev = m.get_tx_deviation();
    double rxbr = m.get_rx_bitrate();
    double txbr = m.get_tx_bitrate();
    double iff = m.get_iffrequency();

    unsigned f = clamp_xtal_frequency(hz);
    m.GreyfinModel::set_xtal_frequency(f);
    if (chip_hook)
        chip_hook(f);

    m.set_rx_carrierfrequency(rxf);
    m.set_tx_carrierfrequency(txf);
    m.set_rx_bandwidth(bw);
    m.set_tx_deviation(dev);
    m.set_rx_bitrate(rxbr);
    m.set_tx_bitrate(txbr);
    m.set_iffrequency(iff);

    m.signal_changed_rx_carrierfrequency.emit();
    m.signal_changed_tx_carrierfrequency.emit();
    m.signal_changed_rx_bandwidth.emit();
    m.signal_changed_tx_deviation.emit();
    m.signal_changed_rx_bitrate.emit();
    m.signal_changed_tx_bitrate.emit();
    m.signal_changed_tx_power.emit();
    m.signal_changed_iffrequency.emit();
}

// ---------------------------------------------------------------- commit

unsigned reprogramming_flags(const GreyfinModel& m, const ChipRegs& r)
{
    unsigned flags = 0;
    if (group_changemask(m, r.freq_rx) || changed_bits(m, r.modulation_rx, r.modulation_bits) ||
        changed_bits(m, r.pllloop_rx, 0xFF))
        flags |= 1;
    if (group_changemask(m, r.freq_tx) || changed_bits(m, r.modulation_tx, r.modulation_bits) ||
        changed_bits(m, r.pllloop_tx, 0xFF))
        flags |= 2;
    for (unsigned i = 0; i < m.get_registers(); ++i)
        if (m.get_register_operatingaddr(i) >= 0x80 && m.get_register_changemask(i)) {
            flags |= 4;
            break;
        }
    return flags;
}

void commit_chip(GreyfinModel& m, const ChipRegs& r, const std::function<void()>& extra_signals)
{
    // a 4-FSK switch may touch FOURFSK alone: still a modulation change, in its place
    bool rx_modulation = changed_bits(m, r.modulation_rx, r.modulation_bits) || changed_bits(m, r.fourfsk_rx, 0x01);
    if (rx_modulation)
        m.signal_changed_rx_modulation.emit();
    if (changed_bits(m, r.modulation_tx, r.modulation_bits) || changed_bits(m, r.fourfsk_tx, 0x01))
        m.signal_changed_tx_modulation.emit();
    if (group_changemask(m, r.freq_rx))
        m.signal_changed_rx_carrierfrequency.emit();
    if (group_changemask(m, r.freq_tx))
        m.signal_changed_tx_carrierfrequency.emit();
    if (group_changemask(m, r.fskdev))
        m.signal_changed_tx_deviation.emit();
    if (group_changemask(m, r.txrate) || group_changemask(m, r.txcic))
        m.signal_changed_tx_bitrate.emit();

    bool datarate_changed = group_changemask(m, r.datarate) != 0;
    if (changed_bits(m, r.adcmisc, 0x03)) {
        m.signal_changed_rx_bandwidth.emit();
        m.signal_changed_rx_bitrate.emit();
        m.signal_changed_iffrequency.emit();
    } else {
        if (group_changemask(m, r.iffreq))
            m.signal_changed_iffrequency.emit();
        if (group_changemask(m, r.cicdec)) {
            m.signal_changed_rx_bandwidth.emit();
            m.signal_changed_rx_bitrate.emit();
        } else if (datarate_changed || changed_bits(m, r.modulation_rx, r.modulation_bits) ||
                   changed_bits(m, r.fourfsk_rx, 0x04)) {
            m.signal_changed_rx_bitrate.emit();
        }
    }
    if (datarate_changed || group_changemask(m, r.tmggain))
        m.signal_changed_rx_btr.emit();
    if (changed_bits(m, r.txpwr, 0x0F))
        m.signal_changed_tx_power.emit();
    // switching HDLC and wire mode changes only IFMODE
    if (changed_bits(m, r.fec, 0x01) || changed_bits(m, r.framing, 0x0E) || changed_bits(m, r.ifmode, 0x0F))
        m.signal_changed_framingmode.emit();
    if (changed_bits(m, r.encoding, 0x01))
        m.signal_changed_enc_invert.emit();
    if (changed_bits(m, r.encoding, 0x02))
        m.signal_changed_enc_diff.emit();
    if (changed_bits(m, r.encoding, 0x04))
        m.signal_changed_enc_scrambler.emit();
    if (changed_bits(m, r.encoding, 0x08))
        m.signal_changed_enc_manchester.emit();
    if (changed_bits(m, r.framing, 0x30))
        m.signal_changed_crcmode.emit();
    if (group_changemask(m, r.crcinit))
        m.signal_changed_crcinit.emit();
    if (extra_signals)
        extra_signals();

    unsigned flags = reprogramming_flags(m, r);
    m.GreyfinModel::commit_registers();
    if (flags)
        m.start_chip_reprogramming(flags);
}

void finish_autoranging(GreyfinModel& m, const ChipRegs& r, int rx_result, int tx_result)
{
    if (r.pllranging_rx >= 0)
        m.set_register_chipvalue(unsigned(r.pllranging_rx),
                                 uint8_t(m.evusb_read16(m.get_register_operatingaddr(unsigned(r.pllranging_rx)))));
    if (r.pllranging_tx >= 0)
        m.set_register_chipvalue(unsigned(r.pllranging_tx),
                                 uint8_t(m.evusb_read16(m.get_register_operatingaddr(unsigned(r.pllranging_tx)))));
    m.commit_registers();
    if (rx_result >= 0)
        rx_result = int(get_bits(m, r.pllranging_rx, 0x0F));
    if (tx_result >= 0)
        tx_result = int(get_bits(m, r.pllranging_tx, 0x0F));
    m.signal_terminate_autoranging.emit(rx_result, tx_result);
}

} // namespace KORVIK
