#include "model/common/PatternMatchModel.h"

#include <algorithm>
#include <cmath>

namespace KORVIK {

PatternMatchModel::PatternMatchModel(ChipBus* board, const Profile& p)
    : ChipModelBase(board), profile(p)
{
}

std::list<std::string> PatternMatchModel::get_supported_modulations()
{
    static const char* const names[] = {"ASK", "ASK Coherent", "ASK Shaped", "ASK Shaped Coherent", "PSK",
                                        "PSK Shaped", "OQPSK", "MSK", "FSK", "GFSK", "4-FSK"};
    return std::list<std::string>(names, names + profile.max_modulation + 1);
}

// ---------------------------------------------------------------- codes

bool PatternMatchModel::is_fsk_code(unsigned v)
{
    return (v & 0x40) || (v & 0x78) == 8;
}

unsigned PatternMatchModel::oversampling(unsigned v)
{
    if (v & 0x40)
        return (v & 0x1F) + 1;
    if ((v & 0x78) == 8)
        return (v & 3) + 1;
    return 1;
}

int PatternMatchModel::decode_modulation(unsigned v, bool fourfsk)
{
    v &= 0x7F;
    if (fourfsk && is_fsk_code(v))
        return MOD_4FSK;
    if ((v & 0x60) == 0x40 || (v & 0x7C) == 8)
        return MOD_FSK;
    if ((v & 0x60) == 0x60 || (v & 0x7C) == 12)
        return MOD_GFSK;
    return int(v);
}

unsigned PatternMatchModel::tx_pll_loop(int id, double br, unsigned fxtal)
{
    if (id < MOD_OQPSK || br <= 0.005 * fxtal)
        return 5;
    if (br <= 0.01 * fxtal)
        return 9;
    if (br <= 0.015 * fxtal)
        return 13;
    return 17;
}

int PatternMatchModel::clamp_modulation(int m) const
{
    return std::min(std::max(m, 0), profile.max_modulation);
}

unsigned PatternMatchModel::rx_factor()
{
    unsigned k = code_oversampling(modulation_rx_code());
    if (is_fsk_code(modulation_rx_code()) && get_bits(*this, profile.fourfsk_rx, 0x04))
        k *= 2; // FSK half speed
    return k;
}

int PatternMatchModel::get_rx_modulation()
{
    return decode_modulation(modulation_rx_code(), get_bits(*this, profile.fourfsk_rx, 0x01));
}

int PatternMatchModel::get_tx_modulation()
{
    return decode_modulation(modulation_tx_code(), get_bits(*this, profile.fourfsk_tx, 0x01));
}

bool PatternMatchModel::is_modulation_4fsk(int m)
{
    return profile.max_modulation >= MOD_4FSK && m == MOD_4FSK;
}

// ---------------------------------------------------------------- receiver

namespace {

RxDerive derive_family(int id)
{
    if (id >= MOD_4FSK)
        return RxDerive::fourfsk;
    if (id >= MOD_FSK)
        return RxDerive::fsk;
    if (id >= MOD_OQPSK)
        return RxDerive::one_and_half;
    return RxDerive::bitrate;
}

} // namespace

void PatternMatchModel::set_rx(double bandwidth, double bitrate, int modulation, bool derive, int btr)
{
    const ChipRegs& r = regs();
    int id = clamp_modulation(modulation);
    double bw = bandwidth, br = bitrate;
    bool fsk = id >= MOD_FSK;
    RxTiming t = begin_rx_setup(bw, br, derive_family(id), derive, fsk, btr, profile.rx_cic_max, 32);

    unsigned code = unsigned(id);
    if (fsk)
        code = (t.n - 1) | (id == MOD_GFSK ? 0x60 : 0x40);
    // the whole 7-bit field: no bit of the previous code may survive
    set_bits(*this, r.modulation_rx, 0x7F, code);
    rx_code_written(id);

    LoopFamily family = LoopFamily::ask;
    if (fsk) {
        family = LoopFamily::fsk;
        // an FSK transmitter follows the receiver's oversampling
        unsigned tx = modulation_tx_code();
        if (r.modulation_tx >= 0 && is_fsk_code(tx)) {
            unsigned gfsk = (tx & 0x60) == 0x60 || (tx & 0x7C) == 12;
            set_bits(*this, r.modulation_tx, 0x7F, (gfsk ? 0x60 : 0x40) | ((t.n - 1) & 0x1F));
        }
    } else if (id >= MOD_PSK) {
        family = LoopFamily::psk;
    }
    apply_rx_loop_and_agc(*this, r, family, btr, bw, br, get_rx_carrierfrequency());
    rx_setup_done(bw, br);
}

void PatternMatchModel::rx_code_written(int) {}

void PatternMatchModel::rx_setup_done(double, double) {}

double PatternMatchModel::convert_frequencyoffset(int offset)
{
    return get_rx_bitrate() * rx_factor() * std::ldexp(1.0, -16) * offset;
}

unsigned PatternMatchModel::get_txkeyup_length()
{
    int m = get_rx_modulation();
    // by modulation family, as on RC1200: MSK and GFSK lock like FSK, OQPSK like PSK
    return txkeyup_length(*this, regs(), is_modulation_fsk(m) || is_modulation_4fsk(m), is_modulation_psk(m),
                          get_enc_scrambler(), keyup_factor());
}

// ---------------------------------------------------------------- transmitter

void PatternMatchModel::set_tx(double deviation, double bitrate, int modulation, bool derive)
{
    const ChipRegs& r = regs();
    int id = clamp_modulation(modulation);
    double dev = deviation, br = bitrate;
    begin_tx_setup(dev, br, derive_family(id), derive);
    set_bits(*this, r.modulation_tx, 0x7F, tx_code(id));
    if (profile.tx_pll_loop_by_rate)
        set_bits(*this, r.pllloop_tx, 0x1F, tx_pll_loop(id, br, xtal_frequency));
    reshape_tx_power();
    tx_setup_done();
}

unsigned PatternMatchModel::tx_code(int id)
{
    if (id < MOD_FSK)
        return unsigned(id);
    unsigned c = id == MOD_GFSK ? 0x60 : 0x40;
    // the transmitter keeps the receiver's oversampling
    if (regs().modulation_rx >= 0)
        c |= tx_oversampling_bits(modulation_rx_code());
    return c;
}

unsigned PatternMatchModel::tx_oversampling_bits(unsigned rx)
{
    if (rx & 0x40)
        return rx & 0x1F;
    if ((rx & 0x78) == 8)
        return rx & 0x03;
    return 0;
}

// ---------------------------------------------------------------- framing

int PatternMatchModel::get_framingmode()
{
    unsigned ifmode = get_bits(*this, regs().ifmode, 0x0F);
    if (ifmode == 2)
        return profile.sync_wire_id;
    if (ifmode == 3 && profile.async_wire_id >= 0)
        return profile.async_wire_id;
    int id = profile.framing_by_f[framing_f() >> 1];
    if (id == FRAMING_BY_FEC)
        return get_bits(*this, regs().fec, 0x01) ? profile.hdlc_fec_id : profile.hdlc_id;
    return id;
}

bool PatternMatchModel::is_framingmode_rawpreamblematch()
{
    return !is_framingmode_wiremode() && framing_f() == 6;
}

bool PatternMatchModel::is_framingmode_hdlc()
{
    if (is_framingmode_wiremode())
        return false;
    int id = profile.framing_by_f[framing_f() >> 1];
    return id == FRAMING_BY_FEC || (profile.hdlc_id >= 0 && id == profile.hdlc_id);
}

bool PatternMatchModel::is_framingmode_hdlc_fec()
{
    return profile.hdlc_fec_id >= 0 && is_framingmode_hdlc() && get_bits(*this, regs().fec, 0x01);
}

void PatternMatchModel::set_framingmode(int id)
{
    const ChipRegs& r = regs();
    const FramingSetting& s =
        id >= 0 && unsigned(id) < profile.framing_count ? profile.framing_settings[id] : profile.framing_settings[0];
    if (r.fec >= 0) {
        bool fec = profile.hdlc_fec_id >= 0 && id == profile.hdlc_fec_id;
        set_bits(*this, r.fec, 0x01, fec ? 1 : 0);
        if (fec)
            set_bits(*this, r.encoding, 0x0F, 0);
    }
    set_bits(*this, r.ifmode, 0x0F, s.ifmode);
    set_bits(*this, r.framing, 0x0E, s.f);
    rerun_setups();
}

unsigned PatternMatchModel::get_postamble_length()
{
    return postamble_bits(48, 56);
}

// ---------------------------------------------------------------- CRC

void PatternMatchModel::set_crcmode(int mode)
{
    if (profile.has_crc)
        ChipModelBase::set_crcmode(mode);
}

// ---------------------------------------------------------------- preamble match

unsigned PatternMatchModel::get_preamble_length()
{
    return 4 * matchlen() + 4;
}

unsigned PatternMatchModel::get_preamble()
{
    // the pattern is held left-aligned in CRCINIT3..CRCINIT0
    return unsigned(uint64_t(get_crcinit()) >> (32 - get_preamble_length()));
}

void PatternMatchModel::set_preamble(unsigned preamble)
{
    set_crcinit(unsigned((uint64_t(preamble) << (32 - get_preamble_length())) & 0xFFFFFFFFu));
}

void PatternMatchModel::set_preamble_length(unsigned length)
{
    // whole nibbles, rounded up so that a pattern of `length` bits fits
    unsigned nibbles = std::min(std::max((length + 3) / 4, 1u), 8u);
    if (length > 32)
        nibbles = 8;
    set_bits(*this, regs().framing, 0x70, (nibbles - 1) << 4);
}

// ---------------------------------------------------------------- commit

void PatternMatchModel::emit_extra_signals()
{
    const ChipRegs& r = regs();
    if (group_changemask(*this, r.crcinit) || changed_bits(*this, r.framing, 0x70))
        signal_changed_preamble.emit();
    if (changed_bits(*this, r.framing, 0x70))
        signal_changed_preamble_length.emit();
}

} // namespace KORVIK
