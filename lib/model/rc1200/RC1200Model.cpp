#include "model/rc1200/RC1200Model.h"

#include <cmath>

namespace KORVIK {

using namespace RC1200;

namespace {

const double power_dbm[16] = {-50, -14, -8, -4, -1, 0.5, 2, 3, 4, 5, 6, 7, 8, 8.5, 9, 10};

// Both sub-GHz bands; the band table's 2.4 GHz entry needs BANDSEL bit 6,
// which PLLLOOP's mask does not allow on this chip.
const CarrierBands bands = {650000000.0, 1, 400000000.0, 500000000.0, 0, 800000000.0, 1000000000.0};

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

RC1200Model::RC1200Model(ChipBus* board_) : ChipModelBase(board_)
{
    build_chip_tables(registers, bitfields, rc1200_register_rows, rc1200_bitfield_rows);
    mark_shared_registers();
    chip_regs = find_chip_regs(*this, rc1200_register_rows, 0x0F);
}

GreyfinModel* create_rc1200_model(ChipBus* board)
{
    return new RC1200Model(board);
}

// ---------------------------------------------------------------- lists

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

unsigned RC1200Model::rx_oversampling()
{
    unsigned v = get_bits(*this, MODULATION_RX, 0x0F);
    return v < 8 ? 1 : (v & 3) + 1;
}

// ---------------------------------------------------------------- receiver

void RC1200Model::set_rx(double bandwidth, double bitrate, int modulation, bool derive_bandwidth, int btr)
{
    unsigned c = modulation_code(modulation);
    double bw = bandwidth, br = bitrate;
    bool fsk = (c & 0xF8) == 8;
    RxTiming t = begin_rx_setup(bw, br, derive_family(c), derive_bandwidth, fsk, btr, 512, 4);
    if (fsk && xtal_frequency)
        c = (t.n - 1) | (c == 12 ? 12 : 8);
    set_bits(*this, MODULATION_RX, 0x0F, c);

    LoopFamily family = c <= 3 ? LoopFamily::ask : c <= 7 ? LoopFamily::psk : LoopFamily::fsk;
    if (family == LoopFamily::fsk) {
        // the transmitter shares the FSK oversampling bits of the receiver
        unsigned tx = get_bits(*this, MODULATION_TX, 0x0F);
        if (tx > 7)
            set_bits(*this, MODULATION_TX, 0x0F, (c & 3) | (tx & 0x0C));
    }
    apply_rx_loop_and_agc(*this, regs(), family, btr, bw, br, get_rx_carrierfrequency());
    set_bits(*this, FEC, 0x30, (c >= 4 && c <= 7) ? 0x30 : 0x10);
}

int RC1200Model::get_rx_modulation()
{
    return modulation_id(get_bits(*this, MODULATION_RX, 0x0F));
}

double RC1200Model::convert_frequencyoffset(int offset)
{
    return get_rx_bitrate() * std::ldexp(1.0, -16) * offset;
}

// ---------------------------------------------------------------- transmitter

void RC1200Model::set_tx(double deviation, double bitrate, int modulation, bool derive_deviation)
{
    unsigned c = modulation_code(modulation);
    double dev = deviation, br = bitrate;
    begin_tx_setup(dev, br, derive_family(c), derive_deviation);

    unsigned rx = get_bits(*this, MODULATION_RX, 0x0F);
    if (c > 7 && rx > 7)
        c = (c & 12) | (rx & 3);
    set_bits(*this, MODULATION_TX, 0x0F, c);
    reshape_tx_power();
}

int RC1200Model::get_tx_modulation()
{
    return modulation_id(get_bits(*this, MODULATION_TX, 0x0F));
}

// ---------------------------------------------------------------- framing, CRC, encoding

int RC1200Model::get_framingmode()
{
    unsigned ifmode = get_bits(*this, IFMODE, 0x0F);
    if (ifmode == 2)
        return 6;
    if (ifmode == 3)
        return 7;
    switch (framing_f()) {
    case 0: return 2;
    case 2: return 3;
    case 12: return 4;
    case 14: return 5;
    default: return int(get_bits(*this, FEC, 0x01));
    }
}

bool RC1200Model::is_framingmode_hdlc()
{
    return !is_framingmode_wiremode() && framing_f() == 4;
}

bool RC1200Model::is_framingmode_hdlc_fec()
{
    return is_framingmode_hdlc() && get_bits(*this, FEC, 0x01);
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
    rerun_setups();
}

void RC1200Model::set_encoding_bit(uint8_t bit, bool on)
{
    // the FEC coder runs on unencoded data
    if (is_framingmode_hdlc_fec())
        return;
    ChipModelBase::set_encoding_bit(bit, on);
}

unsigned RC1200Model::get_postamble_length()
{
    return postamble_bits(32, 40);
}

unsigned RC1200Model::get_txkeyup_length()
{
    int m = get_rx_modulation();
    return txkeyup_length(*this, regs(), is_modulation_fsk(m) || is_modulation_4fsk(m), is_modulation_psk(m),
                          get_enc_scrambler(), rx_oversampling());
}

const double* RC1200Model::power_table() const
{
    return power_dbm;
}

const CarrierBands& RC1200Model::carrier_bands() const
{
    return bands;
}

} // namespace KORVIK
