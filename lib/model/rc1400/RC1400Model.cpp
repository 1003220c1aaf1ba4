#include "model/rc1400/RC1400Model.h"

namespace KORVIK {

namespace {

const double power_dbm[16] = {-40, -7.5, -2, 1.5, 3.5, 5.5, 6.5, 7.5, 8.5, 9.5, 10, 10.5, 11, 11.5, 12, 12.5};

// framing id by FRAMING bits 3:1: 0 Raw, 1 Raw Soft, 2 Raw Preamble Match
const int framing_by_f[8] = {0, 1, 0, 2, 0, 0, 0, 0};

const PatternMatchModel::FramingSetting framing_settings[] = {{0, 0}, {0, 2}, {0, 6}, {2, 0}};

const PatternMatchModel::Profile chip_profile = {
    RC1400Model::FOURFSK_RX, RC1400Model::FOURFSK_TX, MOD_4FSK, power_dbm,
    {650000000, 1, 400000000, 500000000, 0, 800000000, 1000000000}, true,
    512, false, framing_by_f, 3, -1, framing_settings, 4, -1, -1, false,
};

} // namespace

RC1400Model::RC1400Model(ChipBus* board)
    : PatternMatchModel(board, chip_profile)
{
    init_tables(register_rows, bitfield_rows);
    // the transmit copies of the receiver's words carry the transmitter
    chip_regs.fskdev = find_register_group(*this, {"TMGGAINHI", "TMGGAINLO"}, REG_TRANSMIT);
    chip_regs.txrate = find_register_group(*this, {"DATARATEHI", "DATARATELO"}, REG_TRANSMIT);
    chip_regs.txcic = find_register_group(*this, {"CICDECHI", "CICDECLO"}, REG_TRANSMIT);
    fskdmax = find_register_group(*this, {"FSKDMAXHI", "FSKDMAXLO"}, REG_RECEIVE);
    fskdmin = find_register_group(*this, {"FSKDMINHI", "FSKDMINLO"}, REG_RECEIVE);
}

std::list<std::string> RC1400Model::get_supported_framingmodes()
{
    return {"Raw", "Raw Soft", "Raw Preamble Match", "Synchronous Wiremode"};
}

std::list<std::string> RC1400Model::get_supported_crcmodes()
{
    return {};
}

void RC1400Model::rx_code_written(int id)
{
    // 4-FSK: enable, no half speed; anything else must not read back as 4-FSK
    if (id == MOD_4FSK)
        set_bits(*this, FOURFSK_RX, 0x05, 0x01);
    else
        set_bits(*this, FOURFSK_RX, 0x01, 0);
}

void RC1400Model::rx_setup_done(double bw, double br)
{
    int64_t dmax = round_clamped(256 * (bw - br) / br, -32768, 32767);
    // 16-bit two's complement
    write_group(*this, fskdmax, uint32_t(dmax) & 0xFFFF);
    write_group(*this, fskdmin, uint32_t(-dmax) & 0xFFFF);
}

void RC1400Model::write_tx_words(double dev, double br)
{
    double ftx = fadc();
    uint32_t txcic = 0, rate = 0, fskdev = 0;
    if (ftx > 0) {
        txcic = uint32_t(round_clamped(ftx / br * 0.0625, 2, 1023));
        rate = uint32_t(round_clamped(txcic * br / ftx * 16384, 0, 0xFFFF));
        fskdev = crystal_word(dev, xtal_frequency, 15) & 0xFFFF;
    }
    write_group(*this, regs().txcic, txcic);
    write_group(*this, regs().fskdev, fskdev);
    write_group(*this, regs().txrate, rate);
}

unsigned RC1400Model::tx_code(int id)
{
    if (id == MOD_4FSK)
        set_bits(*this, FOURFSK_TX, 0x05, 0x01);
    else if (id >= MOD_FSK)
        set_bits(*this, FOURFSK_TX, 0x05, 0);
    return PatternMatchModel::tx_code(id);
}

void RC1400Model::tx_setup_done()
{
    // deviation update and decay follow the receiver's setting
    set_bits(*this, FOURFSK_TX, 0x7E, get_bits(*this, FOURFSK_RX, 0x7A));
}

double RC1400Model::get_tx_deviation()
{
    return read_group(*this, regs().fskdev) * double(xtal_frequency) / 32768.0;
}

double RC1400Model::get_tx_bitrate()
{
    uint32_t txcic = read_group(*this, regs().txcic);
    if (txcic == 0)
        return 0;
    return read_group(*this, regs().txrate) * fadc() / (16384.0 * txcic);
}

GreyfinModel* create_rc1400_model(ChipBus* board)
{
    return new RC1400Model(board);
}

} // namespace KORVIK
