#include "model/rc1300/RC1300Model.h"

#include <algorithm>
#include <cmath>

namespace KORVIK {

namespace {

// one table per value of PLLLOOP (Tx) bit 5; both hold the same values
const double power_dbm[16] = {-47.1649, -6.9852, -1.1539, 2.2093, 4.4093, 6.2093, 7.6093, 8.8093,
                              9.7778, 10.6093, 11.2731, 11.8731, 12.2731, 12.6731, 12.9731, 13.3054};
const double power_ma[16] = {11.87, 14.783, 17.657, 20.51, 23.303, 26.087, 28.81, 31.477,
                             33.887, 36.33, 38.627, 40.77, 42.767, 44.693, 46.527, 48.287};

// framing id by FRAMING bits 3:1: 0 HDLC, 1 Raw, 2 Raw Soft, 3 Raw Preamble Match, 4/5 802.15.4
const int framing_by_f[8] = {1, 2, 0, 3, 0, 0, 4, 5};

const PatternMatchModel::FramingSetting framing_settings[] = {
    {0, 4}, {0, 0}, {0, 2}, {0, 6}, {0, 12}, {0, 14}, {2, 4}, {3, 4},
};

const PatternMatchModel::Profile chip_profile = {
    NO_REG, NO_REG, MOD_GFSK, power_dbm,
    {653750000, 1, 386000000, 535500000, 0, 772000000, 1071000000}, false,
    63, true, framing_by_f, 6, 7, framing_settings, 8, 0, -1, true,
};

// lower VCO frequency edges of the ranges, MHz, ascending
const unsigned vco_edges_mhz[17] = {772, 787, 798, 810, 823, 838, 853, 870, 888,
                                    906, 926, 948, 970, 993, 1018, 1043, 1071};

} // namespace

RC1300Model::RC1300Model(ChipBus* board)
    : PatternMatchModel(board, chip_profile)
{
    init_tables(register_rows, bitfield_rows);
}

std::list<std::string> RC1300Model::get_supported_framingmodes()
{
    return {"HDLC", "Raw", "Raw Soft", "Raw Preamble Match", "802.15.4 (900M)", "802.15.4 (2G4)"};
}

std::list<std::string> RC1300Model::get_supported_crcmodes()
{
    return {"CRC-CCITT", "CRC-16", "CRC-32"};
}

unsigned RC1300Model::vco_range(double vco_hz)
{
    double m = std::ceil(clamp_finite(vco_hz, 0, 1e10) / 1000000.0);
    int i = int(std::lower_bound(vco_edges_mhz, vco_edges_mhz + 17, m) - vco_edges_mhz);
    return unsigned(std::min(std::max(16 - i, 0), 15));
}

void RC1300Model::carrier_written(bool tx, double f, unsigned band)
{
    // the low band runs the VCO at twice the carrier
    double vco = band == 1 ? 2 * f : f;
    set_bits(*this, tx ? PLLRANGING_TX : PLLRANGING_RX, 0x0F, vco_range(vco));
    set_bits(*this, PLLVCOI, 0x07, 1);
}

int RC1300Model::get_rx_btr()
{
    uint64_t tmggain = read_group(*this, regs().tmggain);
    uint64_t datarate = read_group(*this, regs().datarate);
    return tmggain * 20 > datarate * rx_factor() ? 1 : 0;
}

unsigned RC1300Model::code_oversampling(unsigned v)
{
    if (v & 0x40)
        return (v & 0x1F) + 1;
    if ((v & 0x7C) == 8)
        return (v & 3) + 1;
    return 1;
}

unsigned RC1300Model::tx_oversampling_bits(unsigned rx)
{
    if (rx & 0x40)
        return rx & 0x1F;
    if ((rx & 0x7C) == 8)
        return rx & 0x03;
    return 0;
}

void RC1300Model::rx_setup_done(double, double)
{
    set_iffrequency(1024000);
}

USBDeviceCurrents RC1300Model::get_currents()
{
    USBDeviceCurrents c = PatternMatchModel::get_currents();
    c.values[0] = 0.0000005;
    c.values[1] = std::max(0.0002, get_bits(*this, XTALOSC, 0x0F) / 12000.0 + 0.00015);
    c.values[2] = get_bits(*this, PLLLOOP_TX, 0x20) ? 0.012 : 0.011;
    c.values[3] = get_bits(*this, REF, 0x07) < 4 ? 0.019 : 0.017;
    c.values[4] = 0.001 * power_ma[power_index(get_bits(*this, TXPWR, 0x0F), tx_shaped())];
    c.values[7] = 0.00005;
    return c;
}

GreyfinModel* create_rc1300_model(ChipBus* board)
{
    return new RC1300Model(board);
}

} // namespace KORVIK
