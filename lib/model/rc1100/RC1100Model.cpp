#include "model/rc1100/RC1100Model.h"

#include <climits>

namespace KORVIK {

namespace {

const double power_dbm[16] = {-40, -7.5, -2, 1.5, 3.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10, 10.5, 11, 11.5, 12, 12.5};

// framing id by FRAMING bits 3:1: 2 Raw, 3 Raw Soft, 4 Raw Preamble Match,
// 5/6 802.15.4, the rest HDLC or HDLC FEC by FEC bit 0
const int framing_by_f[8] = {2, 3, PatternMatchModel::FRAMING_BY_FEC, 4, PatternMatchModel::FRAMING_BY_FEC,
                             PatternMatchModel::FRAMING_BY_FEC, 5, 6};

const PatternMatchModel::FramingSetting framing_settings[] = {
    {0, 4}, {0, 4}, {0, 0}, {0, 2}, {0, 6}, {0, 12}, {0, 14}, {2, 4},
};

const PatternMatchModel::Profile chip_profile = {
    NO_REG, RC1100Model::FOURFSK, MOD_4FSK, power_dbm,
    {650000000, 1, 400000000, 500000000, 0, 800000000, 1000000000}, false,
    63, true, framing_by_f, 7, -1, framing_settings, 8, 0, 1, true,
};

} // namespace

RC1100Model::RC1100Model(ChipBus* board)
    : PatternMatchModel(board, chip_profile)
{
    init_tables(register_rows, bitfield_rows);
}

std::list<std::string> RC1100Model::get_supported_rx_btr_settings()
{
    return {};
}

std::list<std::string> RC1100Model::get_supported_framingmodes()
{
    return {"HDLC", "HDLC FEC", "Raw", "Raw Soft", "Raw Preamble Match", "802.15.4 (900M)", "802.15.4 (2G4)",
            "Synchronous Wiremode"};
}

std::list<std::string> RC1100Model::get_supported_crcmodes()
{
    return {"CRC-CCITT", "CRC-16", "CRC-32"};
}

// No receiver: fixed answers, and the receive setters do nothing.
int RC1100Model::get_rx_modulation() { return MOD_ASK; }
double RC1100Model::get_rx_bandwidth() { return 150000; }
double RC1100Model::get_rx_bitrate() { return 100000; }
int RC1100Model::get_rx_btr() { return 0; }
int RC1100Model::get_rx_btr_preamble() { return 400; }
double RC1100Model::get_rx_maxfrequencyoffset() { return 0; }
double RC1100Model::convert_frequencyoffset(int) { return 0; }
double RC1100Model::get_iffrequency() { return 1000000; }
int RC1100Model::get_agcreference() { return INT_MIN; }
unsigned RC1100Model::get_txkeyup_length() { return 100; }
void RC1100Model::set_rx(double, double, int, bool, int) {}
void RC1100Model::set_rx_modulation(int) {}
void RC1100Model::set_rx_bandwidth(double) {}
void RC1100Model::set_rx_bitrate(double) {}
void RC1100Model::set_rx_btr(int) {}
void RC1100Model::set_iffrequency(double) {}

unsigned RC1100Model::tx_code(int id)
{
    // FOURFSK bit 0 tells 4-FSK from FSK; other modulations leave it alone
    if (id == MOD_FSK || id == MOD_4FSK) {
        set_bits(*this, FOURFSK, 0x01, id == MOD_4FSK ? 1 : 0);
        return 0x40;
    }
    if (id == MOD_GFSK) {
        set_bits(*this, FOURFSK, 0x01, 0);
        return 0x60;
    }
    return unsigned(id);
}

GreyfinModel* create_rc1100_model(ChipBus* board)
{
    return new RC1100Model(board);
}

} // namespace KORVIK
