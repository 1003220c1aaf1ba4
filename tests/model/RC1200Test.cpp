// RC1200 tables and parameter computation on an in-memory board.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

#include "ModelSupport.h"
#include "model/common/ChipMath.h"

using namespace KORVIK;
using namespace KORVIK::model_test;
namespace R = KORVIK::RC1200;

namespace {

const double inf = std::numeric_limits<double>::infinity();
const double nan_ = std::numeric_limits<double>::quiet_NaN();

class RC1200 : public ::testing::Test {
protected:
    RC1200() : model(&board) {}

    unsigned field(const char* name)
    {
        for (unsigned i = 0; i < model.get_bitfields(); ++i)
            if (model.get_bitfield_name(i) == name)
                return model.get_bitfield_chipvalue(i);
        ADD_FAILURE() << "no bitfield " << name;
        return 0;
    }
    unsigned reg(unsigned i) { return model.get_register_chipvalue(i); }
    void commit()
    {
        CerrCapture quiet;
        model.commit_registers();
    }

    MemoryBoard board;
    RecordingRC1200 model;
};

uint32_t swap23_24(uint32_t v)
{
    uint32_t a = (v >> 23) & 1, b = (v >> 24) & 1;
    return (v & ~(3u << 23)) | (a << 24) | (b << 23);
}

// ---------------------------------------------------------------- tables

TEST_F(RC1200, TablesHoldDefaultsAndSharedRegisters)
{
    ASSERT_EQ(model.get_registers(), 53u);
    ASSERT_EQ(model.get_bitfields(), 57u);
    for (unsigned i = 0; i < model.get_registers(); ++i) {
        EXPECT_EQ(model.get_register_chipvalue(i), model.get_register_defaultvalue(i)) << i;
        EXPECT_EQ(model.get_register_nvvalue(i), model.get_register_defaultvalue(i)) << i;
        bool shared = (i >= 2 && i <= 3) || (i >= 12 && i <= 19) || (i >= 25 && i <= 28);
        EXPECT_EQ(model.is_register_shared(i), shared) << i;
    }
    EXPECT_EQ(model.get_register_name(R::TMGGAINLO), "TMGGAINLO");
    EXPECT_EQ(model.get_register_operatingaddr(R::PLLLOOP_TX), 0x8D);
    EXPECT_EQ(model.get_register_chipaddr(R::PLLLOOP_TX), 0x2C);
    EXPECT_EQ(model.get_register_mask(R::FRAMING), 0x7E);
    EXPECT_EQ(model.get_register_defaultvalue(R::PLLVCOI), 0x04);
    EXPECT_EQ(model.get_bitfield_name(56), "VCOI");
    EXPECT_EQ(model.get_bitfield_description(56), "");
    EXPECT_EQ(model.get_bitfield_tooltip(56), "");
    EXPECT_EQ(model.get_bitfield_tooltip(10), "Suppress unneeded abort / ?ag / data indications");
    EXPECT_EQ(model.get_bitfield_tooltip(24), "Charge Pump Current is PLLCPI * 10A");

    CerrCapture err;
    RC1200Model fresh(nullptr);
    EXPECT_EQ(err.text(), "") << "receive and transmit copies must not warn";
}

TEST_F(RC1200, BitfieldWidthsAndDefaultCarrier)
{
    const std::pair<const char*, unsigned> widths[] = {
        {"CRCINIT", 32}, {"FREQ (Rx)", 32}, {"FREQ (Tx)", 32}, {"FSKDEV", 24}, {"TXRATE", 24},
        {"IFFREQ", 16},  {"DATARATE", 16},  {"TMGGAIN", 16},   {"CICDEC", 10}, {"BANDSEL (Tx)", 2}};
    for (auto& w : widths) {
        unsigned i = 0;
        while (i < model.get_bitfields() && model.get_bitfield_name(i) != w.first)
            ++i;
        EXPECT_EQ(model.get_bitfield_bitlength(i), w.second) << w.first;
    }
    EXPECT_EQ(field("FREQ (Rx)"), 0x3934CCCDu);
    EXPECT_NEAR(model.get_rx_carrierfrequency(), 907300000.19, 0.01);
    EXPECT_NEAR(model.get_tx_carrierfrequency(), 907300000.19, 0.01);

    model.set_bitfield_chipvalue(47, 0x3FF); // CICDEC
    EXPECT_EQ(reg(R::CICDECLO), 0xFF);
    EXPECT_EQ(reg(R::CICDECHI), 0x03);
    EXPECT_EQ(model.get_chip_name(), "RC1200");
    EXPECT_EQ(model.get_chipflags(), 3u);
    EXPECT_EQ(model.get_supported_modulations().size(), 10u);
    EXPECT_EQ(*std::next(model.get_supported_framingmodes().begin()), "HDLC FEC");
    EXPECT_EQ(model.get_supported_crcmodes().back(), "CRC-32");
    EXPECT_EQ(model.get_supported_rx_btr_settings().back(), "Fast");
    EXPECT_FALSE(model.is_modulation_4fsk(MOD_4FSK));
}

// ---------------------------------------------------------------- receiver

TEST_F(RC1200, ReceiverWorkedExample)
{
    model.set_rx(100000, 10000, MOD_FSK, true, 0);
    EXPECT_EQ(field("CICDEC"), 25u);
    EXPECT_EQ(reg(R::MODULATION_RX) & 0x0F, 11);
    EXPECT_EQ(field("DATARATE"), 16384u);
    EXPECT_EQ(field("TMGGAIN"), 2048u);
    EXPECT_EQ(model.get_rx_btr(), 0) << "a Normal setup must read back as Normal";
    EXPECT_EQ(model.get_rx_btr_preamble(), 400);
    EXPECT_EQ(model.get_rx_modulation(), MOD_FSK);
    EXPECT_DOUBLE_EQ(model.get_rx_bandwidth(), 100000);
    EXPECT_DOUBLE_EQ(model.get_rx_bitrate(), 10000);
    // filter margin 11250 Hz covers 10 ppm at 907 MHz: both frequency gains open
    EXPECT_EQ(reg(R::FREQGAIN) & 0x0F, 15);
    EXPECT_EQ(reg(R::FREQGAIN2) & 0x0F, 15);
    EXPECT_EQ(reg(R::PHASEGAIN) & 0x0F, 3);
    EXPECT_EQ(reg(R::AGCTARGET), 0x0E);
    EXPECT_EQ(reg(R::FEC) & 0x30, 0x10);
    EXPECT_EQ(model.get_txkeyup_length(), 2u + 96u);
    EXPECT_EQ(model.get_agcreference(), -14);
}

TEST_F(RC1200, TimingRecoveryReadsBackForEveryOversampling)
{
    struct Case { double bw, br; int btr; unsigned n; };
    const Case cases[] = {
        {1e6, 1e6, 0, 1},     {3600, 2400, 0, 2}, {200000, 100000, 0, 3}, {1500, 1000, 0, 4},
        {1e6, 1e6, 1, 1},     {3600, 2400, 1, 2}, {1500, 1000, 1, 3},     {200000, 50000, 1, 4},
    };
    for (int modulation : {MOD_FSK, MOD_GFSK}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << c.bw << " " << c.br << " btr " << c.btr << " mod " << modulation);
            model.set_rx(c.bw, c.br, modulation, false, c.btr);
            unsigned code = reg(R::MODULATION_RX) & 0x0F;
            EXPECT_EQ((code & 3) + 1, c.n);
            EXPECT_EQ(code & 0x0C, modulation == MOD_GFSK ? 12u : 8u);
            EXPECT_EQ(model.get_rx_btr(), c.btr);
            EXPECT_NEAR(model.get_rx_bitrate(), c.br, c.br * 0.01);
            EXPECT_EQ(model.get_rx_modulation(), modulation);
        }
    }
}

TEST_F(RC1200, BitrateRederivesAskBandwidthButBandwidthIsKept)
{
    model.set_rx(50000, 10000, MOD_ASK, false, 0);
    EXPECT_DOUBLE_EQ(model.get_rx_bandwidth(), 50000);
    model.set_rx_bitrate(20000);
    EXPECT_DOUBLE_EQ(model.get_rx_bandwidth(), 20000);
    model.set_rx_bandwidth(50000);
    EXPECT_DOUBLE_EQ(model.get_rx_bandwidth(), 50000);
    EXPECT_NEAR(model.get_rx_bitrate(), 20000, 200);
    EXPECT_EQ(reg(R::PHASEGAIN) & 0x0F, 0);

    model.set_rx_modulation(MOD_PSK);
    EXPECT_EQ(model.get_rx_modulation(), MOD_PSK);
    EXPECT_EQ(reg(R::FEC) & 0x30, 0x30);
    model.set_rx_btr(1);
    EXPECT_EQ(model.get_rx_btr(), 1);
    EXPECT_EQ(model.get_rx_btr_preamble(), 100);
}

TEST_F(RC1200, FskReceiverSharesOversamplingWithTransmitter)
{
    model.set_tx(20000, 10000, MOD_FSK, true);
    model.set_rx(100000, 10000, MOD_FSK, true, 0); // n = 4
    EXPECT_EQ(reg(R::MODULATION_TX) & 0x0F, 11);
    model.set_tx(20000, 10000, MOD_GFSK, true);
    EXPECT_EQ(reg(R::MODULATION_TX) & 0x0F, 15);
    EXPECT_EQ(model.get_tx_modulation(), MOD_GFSK);
}

// ---------------------------------------------------------------- carrier

TEST_F(RC1200, CarrierBandZeroExchangesBits23And24)
{
    for (double f : {868e6, 915e6, 902.5e6, 999.9e6, 800e6}) {
        model.set_rx_carrierfrequency(f);
        uint32_t v = uint32_t(std::floor(f / 16e6 * 16777216.0 + 0.5)) | 1;
        EXPECT_EQ(field("FREQ (Rx)"), swap23_24(v)) << f;
        EXPECT_EQ(field("BANDSEL (Rx)"), 0u);
        EXPECT_NEAR(model.get_rx_carrierfrequency(), f, 2.0) << f;
    }
    model.set_tx_carrierfrequency(915e6);
    EXPECT_NEAR(model.get_tx_carrierfrequency(), 915e6, 2.0);
    EXPECT_NEAR(model.get_rx_carrierfrequency(), 800e6, 2.0) << "copies are independent";
}

TEST_F(RC1200, CarrierBandOneGroupCodes)
{
    model.set_rx_carrierfrequency(433.92e6);
    EXPECT_EQ(field("BANDSEL (Rx)"), 1u);
    EXPECT_EQ(field("FREQ (Rx)"), 0x1ADEB853u); // group 4 stored as code 011
    EXPECT_NEAR(model.get_rx_carrierfrequency(), 433.92e6, 2.0);

    // group 6 has no code: the low half moves to the bottom of group 7
    model.set_rx_carrierfrequency(410e6);
    EXPECT_EQ(field("FREQ (Rx)"), 0x19C00000u);
    EXPECT_DOUBLE_EQ(model.get_rx_carrierfrequency(), 412e6);

    const double step = 16e6 / 16777216.0;
    for (double f = 400e6; f <= 500e6; f += 0.73e6) {
        model.set_tx_carrierfrequency(f);
        uint32_t v = uint32_t(std::floor(f / step + 0.5)) | 1;
        unsigned g = (v >> 22) & 7;
        double back = model.get_tx_carrierfrequency();
        if (g != 1 && g != 6) {
            EXPECT_NEAR(back, f, 2.0) << f;
        } else {
            unsigned gb = (uint32_t(std::lround(back / step)) >> 22) & 7;
            EXPECT_TRUE(gb == g - 1 || gb == g + 1) << f;
            EXPECT_LT(std::fabs(back - f), 4194304 * step) << f;
        }
    }
}

TEST_F(RC1200, CarrierIsClampedIntoItsBand)
{
    const std::pair<double, double> cases[] = {
        {300e6, 400e6}, {600e6, 500e6}, {650e6, 800e6}, {1.2e9, 1e9}, {2.45e9, 1e9},
        {nan_, 400e6},  {inf, 1e9},     {-inf, 400e6},  {-5.0, 400e6}};
    for (auto& c : cases) {
        model.set_rx_carrierfrequency(c.first);
        EXPECT_NEAR(model.get_rx_carrierfrequency(), c.second, 2.0) << c.first;
        EXPECT_EQ(field("BANDSEL (Rx)"), c.second < 650e6 ? 1u : 0u) << c.first;
    }
}

// ---------------------------------------------------------------- transmitter and power

TEST_F(RC1200, TransmitterWords)
{
    model.set_tx(20000, 38400, MOD_FSK, false);
    EXPECT_EQ(field("FSKDEV"), unsigned(std::floor(20000 / 16e6 * 8388608 + 0.5)));
    EXPECT_EQ(field("TXRATE"), unsigned(std::floor(38400 / 16e6 * 16777216 + 0.5)));
    EXPECT_NEAR(model.get_tx_deviation(), 20000, 1);
    EXPECT_NEAR(model.get_tx_bitrate(), 38400, 1);
    model.set_tx_modulation(MOD_ASK);
    EXPECT_EQ(model.get_tx_deviation(), 0.0);
    model.set_tx_modulation(MOD_MSK);
    EXPECT_NEAR(model.get_tx_deviation(), 19200, 1);
    model.set_tx_bitrate(2e6);
    EXPECT_NEAR(model.get_tx_bitrate(), 1e6, 1);
    EXPECT_NEAR(model.get_tx_deviation(), 500000, 1) << "MSK derives the deviation from the rate";
    model.set_tx_deviation(1000);
    EXPECT_NEAR(model.get_tx_deviation(), 1000, 1);
}

TEST_F(RC1200, PowerSelectionAndStepping)
{
    model.set_tx(0, 10000, MOD_ASK, true); // the chip's default modulation is shaped
    model.set_tx_power(9.9);
    EXPECT_EQ(field("TXRNG"), 15u);
    EXPECT_EQ(model.get_tx_power(), 10.0);
    model.set_tx_power(8.25); // tie between 8 and 8.5 goes to the later code
    EXPECT_EQ(field("TXRNG"), 13u);
    model.step_tx_power(5);
    EXPECT_EQ(field("TXRNG"), 15u);
    model.step_tx_power(-3);
    EXPECT_EQ(field("TXRNG"), 12u);
    model.step_tx_power(INT_MIN);
    EXPECT_EQ(field("TXRNG"), 0u);

    // shaped modulation re-normalises the code and uses only 0, 1, 3, 7, 15
    model.set_bitfield_chipvalue(32, 5);
    model.set_tx(0, 10000, MOD_ASK_SHAPED, true);
    EXPECT_EQ(field("TXRNG"), 7u);
    model.set_tx_power(4);
    EXPECT_EQ(field("TXRNG"), 7u);
    EXPECT_EQ(model.get_tx_power(), 3.0);
    model.set_bitfield_chipvalue(32, 3);
    model.step_tx_power(1);
    EXPECT_EQ(field("TXRNG"), 7u);
    model.set_bitfield_chipvalue(32, 1);
    model.step_tx_power(-1);
    EXPECT_EQ(field("TXRNG"), 0u);
    model.step_tx_power(INT_MAX);
    EXPECT_EQ(field("TXRNG"), 15u);
    model.set_bitfield_chipvalue(32, 4); // a raw code reads as its shaped index
    EXPECT_EQ(model.get_tx_power(), 3.0);
    model.set_bitfield_chipvalue(32, 8);
    EXPECT_EQ(model.get_tx_power(), 10.0);

    model.set_tx_power(-inf);
    EXPECT_EQ(field("TXRNG"), 0u);
    model.set_tx_power(inf);
    EXPECT_EQ(field("TXRNG"), 15u);
    model.set_tx_power(nan_);
    EXPECT_EQ(field("TXRNG"), 0u) << "an undefined request picks the weakest setting";
}

// ---------------------------------------------------------------- crystal

TEST_F(RC1200, CrystalIsClampedAndSelectsTheAdcClock)
{
    model.set_xtal_frequency(1000000);
    EXPECT_EQ(model.get_xtal_frequency(), 3900000u);
    EXPECT_EQ(reg(R::ADCMISC), 0);
    model.set_xtal_frequency(40000000);
    EXPECT_EQ(model.get_xtal_frequency(), 32100000u);
    EXPECT_EQ(reg(R::ADCMISC), 1);
    model.set_xtal_frequency(0xFFFFFFFFu);
    EXPECT_EQ(model.get_xtal_frequency(), 16000000u);
}

TEST_F(RC1200, CrystalChangeKeepsParametersAndSignalsInOrder)
{
    model.set_rx_carrierfrequency(868e6);
    model.set_tx_carrierfrequency(869.5e6);
    model.set_rx(100000, 10000, MOD_FSK, true, 0);
    model.set_tx(20000, 10000, MOD_FSK, false);
    model.set_iffrequency(200000);
    commit();

    SignalLog log(model);
    model.set_xtal_frequency(26000000);
    std::vector<std::string> expect = {"xtal_frequency", "rx_carrierfrequency", "tx_carrierfrequency",
                                       "rx_bandwidth",   "tx_deviation",        "rx_bitrate",
                                       "tx_bitrate",     "tx_power",            "iffrequency"};
    EXPECT_EQ(log.names, expect);
    EXPECT_NEAR(model.get_rx_carrierfrequency(), 868e6, 4.0);
    EXPECT_NEAR(model.get_tx_carrierfrequency(), 869.5e6, 4.0);
    EXPECT_NEAR(model.get_tx_deviation(), 20000, 5);
    EXPECT_NEAR(model.get_tx_bitrate(), 10000, 5);
    EXPECT_NEAR(model.get_rx_bitrate(), 10000, 200);
    EXPECT_NEAR(model.get_iffrequency(), 200000, 300);
    EXPECT_NE(model.get_register_changemask(R::FREQ0_RX) | model.get_register_changemask(R::FREQ1_RX) |
                  model.get_register_changemask(R::FREQ2_RX) | model.get_register_changemask(R::FREQ3_RX),
              0)
        << "the frequency word follows the new crystal";
}

class ZeroCrystal : public RC1200Model {
public:
    ZeroCrystal() : RC1200Model(nullptr) { xtal_frequency = 0; }
};

TEST(RC1200ZeroCrystal, RatesAndWordsAreZero)
{
    ZeroCrystal m;
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    m.set_tx(20000, 10000, MOD_FSK, true);
    m.set_rx_carrierfrequency(868e6);
    m.set_iffrequency(100000);
    EXPECT_EQ(m.get_register_chipvalue(R::CICDECLO), 4);
    EXPECT_EQ(m.get_register_chipvalue(R::DATARATEHI), 0);
    EXPECT_EQ(m.get_register_chipvalue(R::DATARATELO), 0);
    EXPECT_EQ(m.get_register_chipvalue(R::TMGGAINLO), 0);
    EXPECT_EQ(m.get_register_chipvalue(R::FREQ0_RX), 0);
    EXPECT_EQ(m.get_register_chipvalue(R::AGCATTACK) & 0x1F, 0);
    EXPECT_EQ(m.get_rx_bitrate(), 0.0);
    EXPECT_EQ(m.get_tx_bitrate(), 0.0);
    EXPECT_EQ(m.get_iffrequency(), 0.0);
}

// ---------------------------------------------------------------- commit

TEST_F(RC1200, CommitSignalsInOrderAndRequestsReprogramming)
{
    SignalLog log(model);
    model.set_crcmode(1);
    model.set_enc_invert(true);
    model.set_tx_bitrate(19200); // default ASK Shaped: the deviation is derived to 0
    model.set_tx_power(0);       // shaped: 3 dBm, code 7
    model.set_rx_carrierfrequency(868e6);
    commit();
    EXPECT_EQ(model.get_tx_power(), 3.0);
    std::vector<std::string> expect = {"rx_carrierfrequency", "tx_deviation", "tx_bitrate",
                                       "tx_power",            "enc_invert",   "crcmode"};
    EXPECT_EQ(log.names, expect);
    ASSERT_EQ(model.reprogramming.size(), 1u);
    EXPECT_EQ(model.reprogramming[0], 1u | 4u);
    EXPECT_EQ(board.get_pending_reprogram(), 1u);
    EXPECT_EQ(board.regs[0x84], reg(R::FREQ0_RX)) << "written under the operating address";

    log.names.clear();
    board.writes.clear();
    commit();
    EXPECT_TRUE(log.names.empty());
    EXPECT_TRUE(board.writes.empty());
    EXPECT_EQ(model.reprogramming.size(), 1u);

    model.set_tx_carrierfrequency(870e6);
    commit();
    EXPECT_EQ(model.reprogramming.back(), 2u | 4u);
    model.set_bitfield_chipvalue(26, 2); // FLT (Tx): PLL loop of the transmit copy
    commit();
    EXPECT_EQ(model.reprogramming.back(), 2u | 4u);
    model.set_bitfield_chipvalue(29, 3); // VCOR (Rx): shadow register only
    commit();
    EXPECT_EQ(model.reprogramming.back(), 4u);
    model.set_crcinit(0x12345678);
    commit();
    EXPECT_EQ(model.reprogramming.size(), 4u) << "no reprogramming for registers below 0x80";
    EXPECT_EQ(log.names.back(), "crcinit");
}

TEST_F(RC1200, CommitReceiverSignals)
{
    SignalLog log(model);
    model.set_rx(100000, 10000, MOD_FSK, true, 0);
    commit();
    std::vector<std::string> expect = {"rx_modulation", "rx_bandwidth", "rx_bitrate", "rx_btr"};
    EXPECT_EQ(log.names, expect);
    EXPECT_EQ(model.reprogramming.back(), 1u | 4u);

    log.names.clear();
    model.set_bitfield_chipvalue(35, 2); // ADCCLK
    model.set_iffrequency(123456);
    commit();
    expect = {"rx_bandwidth", "rx_bitrate", "iffrequency"};
    EXPECT_EQ(log.names, expect);

    log.names.clear();
    model.set_bitfield_chipvalue(48, 20000); // DATARATE alone
    commit();
    expect = {"rx_bitrate", "rx_btr"};
    EXPECT_EQ(log.names, expect);
}

TEST_F(RC1200, WireModeSwitchSignalsFramingMode)
{
    model.set_framingmode(0);
    commit();
    SignalLog log(model);
    model.set_framingmode(6); // HDLC to synchronous wire mode: only IFMODE changes
    EXPECT_EQ(model.get_framingmode(), 6);
    commit();
    EXPECT_NE(std::find(log.names.begin(), log.names.end(), "framingmode"), log.names.end());
    log.names.clear();
    model.set_framingmode(7);
    commit();
    EXPECT_NE(std::find(log.names.begin(), log.names.end(), "framingmode"), log.names.end());
    log.names.clear();
    model.set_framingmode(0);
    commit();
    EXPECT_NE(std::find(log.names.begin(), log.names.end(), "framingmode"), log.names.end());
}

TEST_F(RC1200, AutorangingEndReportsVcoRanges)
{
    board.regs[0x80] = 0x05;
    board.regs[0x87] = 0x0B;
    std::vector<std::pair<int, int>> results;
    model.signal_terminate_autoranging.connect([&](int a, int b) { results.emplace_back(a, b); });
    {
        CerrCapture quiet;
        model.terminate_autoranging(0, -2);
    }
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], std::make_pair(5, -2));
    EXPECT_EQ(model.get_rx_range(), 5u);
    EXPECT_EQ(model.get_tx_range(), 11u);
    EXPECT_EQ(model.get_register_changemask(R::PLLRANGING_TX), 0);

    model.set_rx_range(0x17);
    EXPECT_EQ(board.regs[0x80], 0x07) << "a range change is committed at once";
}

// ---------------------------------------------------------------- framing, CRC, encoding

TEST_F(RC1200, FramingModesRoundTrip)
{
    for (int id = 0; id < 8; ++id) {
        model.set_framingmode(id);
        EXPECT_EQ(model.get_framingmode(), id);
        EXPECT_EQ(model.is_framingmode_wiremode(), id >= 6) << id;
        EXPECT_EQ(model.is_framingmode_hdlc(), id <= 1) << id;
        EXPECT_EQ(model.is_framingmode_hdlc_fec(), id == 1) << id;
        EXPECT_EQ(model.is_framingmode_raw(), id == 2) << id;
        EXPECT_EQ(model.is_framingmode_rawsoft(), id == 3) << id;
        EXPECT_EQ(model.is_framingmode_zigbee(), id == 4 || id == 5) << id;
        EXPECT_EQ(model.is_framingmode_zigbee_2g4(), id == 5) << id;
        EXPECT_EQ(model.get_postamble_length(), id <= 1 ? 40u : (id == 4 || id == 5) ? 32u : 0u) << id;
    }
    model.set_framingmode(INT_MIN);
    EXPECT_EQ(model.get_framingmode(), 0);
}

TEST_F(RC1200, FecFramingFreezesEncoding)
{
    model.set_enc_scrambler(true);
    model.set_framingmode(1);
    EXPECT_EQ(reg(R::ENCODING) & 0x0F, 0);
    EXPECT_EQ(reg(R::FEC) & 0x0F, 0x0B);
    EXPECT_EQ(reg(R::FECSYNC), 0x20);
    model.set_enc_invert(true);
    model.set_enc_manchester(true);
    EXPECT_EQ(reg(R::ENCODING) & 0x0F, 0);

    model.set_framingmode(0);
    model.set_enc_invert(true);
    model.set_enc_diff(true);
    model.set_enc_manchester(true);
    EXPECT_TRUE(model.get_enc_invert() && model.get_enc_diff() && model.get_enc_manchester());
    EXPECT_FALSE(model.get_enc_scrambler());
    model.set_enc_diff(false);
    EXPECT_FALSE(model.get_enc_diff());
}

TEST_F(RC1200, CrcModeAndInit)
{
    model.set_crcmode(3);
    EXPECT_EQ(model.get_crcmode(), 2);
    EXPECT_TRUE(model.is_crcmode_crc32());
    model.set_crcmode(1);
    EXPECT_TRUE(model.is_crcmode_crc16());
    model.set_crcmode(INT_MIN);
    EXPECT_EQ(model.get_crcmode(), 0);
    model.set_crcinit(0xA1B2C3D4);
    EXPECT_EQ(model.get_crcinit(), 0xA1B2C3D4u);
    EXPECT_EQ(reg(R::CRCINIT3), 0xA1);
    EXPECT_EQ(reg(R::FRAMING) & 0x0E, 0) << "CRC mode leaves the framing bits alone";
}

TEST_F(RC1200, AsynchronousWireModeLimitsBitrates)
{
    model.set_tx(0, 1e6, MOD_ASK, true);
    model.set_framingmode(7);
    EXPECT_NEAR(model.get_tx_bitrate(), 500000, 1);
    model.set_rx_bitrate(1e6);
    EXPECT_LT(model.get_rx_bitrate(), 520000);
}

// ---------------------------------------------------------------- bad input

TEST_F(RC1200, EverySetterClampsNonFiniteInput)
{
    for (double bad : {nan_, inf, -inf, 1e300, -1e300}) {
        SCOPED_TRACE(bad);
        model.set_rx(bad, bad, MOD_FSK, true, 0);
        model.set_rx(bad, bad, MOD_ASK, false, 1);
        model.set_tx(bad, bad, MOD_FSK, true);
        model.set_tx(bad, bad, MOD_GFSK, false);
        model.set_rx_bandwidth(bad);
        model.set_rx_bitrate(bad);
        model.set_tx_deviation(bad);
        model.set_tx_bitrate(bad);
        model.set_rx_carrierfrequency(bad);
        model.set_tx_carrierfrequency(bad);
        model.set_tx_power(bad);
        model.set_iffrequency(bad);
        model.set_xtal_tolerance(bad);
        for (double v : {model.get_rx_bandwidth(), model.get_rx_bitrate(), model.get_tx_deviation(),
                         model.get_tx_bitrate(), model.get_rx_carrierfrequency(), model.get_tx_carrierfrequency(),
                         model.get_tx_power(), model.get_iffrequency(), model.get_xtal_tolerance()})
            EXPECT_TRUE(std::isfinite(v));
        EXPECT_GE(model.get_rx_carrierfrequency(), 399e6);
        EXPECT_LE(model.get_rx_carrierfrequency(), 1e9 + 2);
        EXPECT_LE(model.get_tx_deviation(), 1e6 + 1);
    }
    model.set_rx_modulation(INT_MAX);
    EXPECT_EQ(model.get_rx_modulation(), MOD_GFSK);
    model.set_rx_modulation(INT_MIN);
    EXPECT_EQ(model.get_rx_modulation(), MOD_ASK);
    model.set_tx_modulation(INT_MAX);
    EXPECT_EQ(model.get_tx_modulation(), MOD_GFSK);
    model.set_rx_btr(INT_MIN);
    EXPECT_EQ(model.get_rx_btr(), 1);
    model.set_xtal_frequency(0);
    EXPECT_EQ(model.get_xtal_frequency(), 3900000u);
    model.set_iffrequency(-1e6);
    EXPECT_EQ(model.get_iffrequency(), 0.0);
    model.set_iffrequency(1e12);
    EXPECT_EQ(field("IFFREQ"), 0xFFFFu);
}

TEST(ChipMath, CicShiftTableAndRounding)
{
    EXPECT_EQ(cic_shift(0), 0u);
    EXPECT_EQ(cic_shift(1), 0u);
    EXPECT_EQ(cic_shift(4), 3u);
    EXPECT_EQ(cic_shift(64), 19u);
    EXPECT_EQ(cic_shift(65), 20u);
    EXPECT_EQ(cic_shift(1023), 35u);
    EXPECT_EQ(agc_reference(0), 0);
    EXPECT_EQ(round_clamped(nan_, -3, 7), -3);
    EXPECT_EQ(round_clamped(inf, -3, 7), 7);
    EXPECT_EQ(round_clamped(2.5, -3, 7), 3);
    EXPECT_EQ(carrier_word(1e12, 3900000), 0xFFFFFFFFu);
    for (uint32_t w : {0x00000001u, 0x01800001u, 0x19C00000u, 0x1ADEB853u})
        EXPECT_EQ(remap_carrier_word(unmap_carrier_word(w, 1), 1), w);
}

} // namespace
