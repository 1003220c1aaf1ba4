#include "ChipSupport.h"

namespace KORVIK {
namespace chips_test {
namespace {

using R = RC1400Model;

class RC1400 : public ::testing::Test {
protected:
    CerrCapture quiet; // commits log every register they write
    MemoryBoard board;
    Recording<RC1400Model> m{&board};
    uint8_t reg(int i) { return m.get_register_chipvalue(unsigned(i)); }
};

TEST_F(RC1400, DefaultCarrierUsesTheBandRemapping)
{
    // FREQ 0x3934CCCD in band 0: bits 23 and 24 exchanged
    EXPECT_NEAR(m.get_rx_carrierfrequency(), 907300000.19, 0.01);
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 907300000.19, 0.01);
    m.set_rx_carrierfrequency(907300000);
    EXPECT_EQ(reg(R::FREQ3_RX), 0x39);
    EXPECT_EQ(reg(R::FREQ3_RX + 3), 0xCD);
}

// Receiver setup worked by hand: 16 MHz crystal, ADCCLK 1 (fADC 8 MHz).
TEST_F(RC1400, FskReceiverSetupByHand)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    // cic = floor(8e6 * 0.3125 / 1e5) = 25; t = 16, D = 32,
    // n = floor(1 / (1/16 + 1/32)) = 10 (the limit is 32 here, not 4)
    EXPECT_EQ(reg(R::CICDECHI_RX), 0x00);
    EXPECT_EQ(reg(R::CICDECHI_RX + 1), 25);
    EXPECT_EQ(reg(R::MODULATION_RX), 0x49); // (n - 1) | 0x40
    // datarate = round(8e6 / 1e4 / 25 / 10 * 2048) = 6554 = 0x199A
    EXPECT_EQ(reg(R::DATARATEHI_RX), 0x19);
    EXPECT_EQ(reg(R::DATARATEHI_RX + 1), 0x9A);
    // TMGGAIN = (10 * 6554 + 16) / 32 = 2048
    EXPECT_EQ(reg(R::TMGGAINHI_RX), 0x08);
    EXPECT_EQ(reg(R::TMGGAINHI_RX + 1), 0x00);
    // FSK gains; (bw - br) / 8 = 11250 Hz covers 10 ppm of 907 MHz: both frequency gains 15
    EXPECT_EQ(reg(R::PHASEGAIN), 0x03);
    EXPECT_EQ(reg(R::FREQGAIN), 0x0F);
    EXPECT_EQ(reg(R::FREQGAIN2), 0x0F);
    EXPECT_EQ(reg(R::AMPLGAIN), 0x06);
    // u = 1e4 / 8e6: attack floor(log2(u)) + 26 = 16, decay floor(log2(0.01 u... 0.1 u)) + 26 = 13
    EXPECT_EQ(reg(R::AGCATTACK), 0x10);
    EXPECT_EQ(reg(R::AGCDECAY), 0x0D);
    EXPECT_EQ(reg(R::AGCTARGET), 0x0E);
    // FSKDMAX = round(256 * 90000 / 10000) = 2304, FSKDMIN = -2304 in two's complement
    EXPECT_EQ(reg(R::FSKDMAXHI), 0x09);
    EXPECT_EQ(reg(R::FSKDMAXHI + 1), 0x00);
    EXPECT_EQ(reg(R::FSKDMINHI), 0xF7);
    EXPECT_EQ(reg(R::FSKDMINHI + 1), 0x00);
    EXPECT_EQ(reg(R::FOURFSK_RX), 0x42); // no 4-FSK
    EXPECT_EQ(reg(R::IFFREQHI), 0x20);   // this chip keeps its IF

    EXPECT_EQ(m.get_rx_modulation(), MOD_FSK);
    EXPECT_DOUBLE_EQ(m.get_rx_bandwidth(), 100000);
    EXPECT_NEAR(m.get_rx_bitrate(), 8e6 * 2048 / (6554.0 * 10 * 25), 1e-6);
    // with n = 10 in TMGGAIN the read-back must still say "Normal"
    EXPECT_EQ(m.get_rx_btr(), 0);
    EXPECT_EQ(m.get_rx_btr_preamble(), 400);
    // keyup: scrambler off (-17), both gains 15 (+19), 6554 * 3 * 10 / 2048 = 96
    EXPECT_EQ(m.get_txkeyup_length(), 98u);
}

TEST_F(RC1400, BtrReadsBackWhatWasGiven)
{
    for (int btr : {0, 1}) {
        for (double bw : {15000.0, 20000.0, 30000.0}) {
            m.set_rx(bw, 10000, MOD_FSK, false, btr);
            EXPECT_EQ(m.get_rx_btr(), btr) << bw;
            m.set_rx(bw, 10000, MOD_ASK, false, btr);
            EXPECT_EQ(m.get_rx_btr(), btr) << bw;
        }
    }
    // fast: cic = floor(8e6 * 15/56 / 15000) = 142, t = 2.8, D = 8, n = 2
    m.set_rx(15000, 10000, MOD_FSK, false, 1);
    EXPECT_EQ(reg(R::MODULATION_RX), 0x41);
    EXPECT_EQ(reg(R::CICDECHI_RX + 1), 142);
    EXPECT_EQ(m.get_rx_btr_preamble(), 100);
}

TEST_F(RC1400, FourFskReceiveCodeAndBackToFsk)
{
    m.set_rx(100000, 10000, MOD_4FSK, true, 0);
    EXPECT_EQ(reg(R::MODULATION_RX), 0x49); // the FSK family code
    EXPECT_EQ(reg(R::FOURFSK_RX), 0x43);    // enabled, no half speed
    EXPECT_EQ(m.get_rx_modulation(), MOD_4FSK);
    EXPECT_TRUE(m.is_modulation_4fsk(MOD_4FSK));

    m.set_bitfield_chipvalue(bitfield(m, "FSKHALFSPEED (Rx)"), 1);
    m.set_rx_modulation(MOD_4FSK);
    EXPECT_EQ(reg(R::FOURFSK_RX), 0x43); // half speed cleared again

    m.set_rx_modulation(MOD_FSK);
    EXPECT_EQ(m.get_rx_modulation(), MOD_FSK);
    m.set_rx_modulation(MOD_4FSK);
    m.set_rx_modulation(MOD_GFSK);
    EXPECT_EQ(m.get_rx_modulation(), MOD_GFSK);
    EXPECT_EQ(reg(R::MODULATION_RX) & 0x60, 0x60);
    EXPECT_EQ(reg(R::FOURFSK_RX) & 1, 0);
}

TEST_F(RC1400, FourFskDerivesTwoAndAHalfBitrates)
{
    // bw = max(2.5 * 40000, 1000) = 100000 -> cic 25
    m.set_rx(1000, 40000, MOD_4FSK, true, 0);
    EXPECT_EQ(reg(R::CICDECHI_RX + 1), 25);
    // FSKDMAX = round(256 * 60000 / 40000) = 384
    EXPECT_EQ(reg(R::FSKDMAXHI), 0x01);
    EXPECT_EQ(reg(R::FSKDMAXHI + 1), 0x80);
    EXPECT_EQ(reg(R::FSKDMINHI), 0xFE);
    EXPECT_EQ(reg(R::FSKDMINHI + 1), 0x80);
}

TEST_F(RC1400, HalfSpeedDoublesTheOversamplingFactor)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    double full = m.get_rx_bitrate();
    m.set_bitfield_chipvalue(bitfield(m, "FSKHALFSPEED (Rx)"), 1);
    EXPECT_NEAR(m.get_rx_bitrate(), full / 2, 1e-9);
    EXPECT_NEAR(m.convert_frequencyoffset(1000), full / 2 * 20 * 1000 / 65536.0, 1e-6);
}

TEST_F(RC1400, CicDecimationLimitedTo512)
{
    m.set_rx(1000, 100, MOD_ASK, false, 0); // floor(2.5e6 / 1000) = 2500
    EXPECT_EQ(reg(R::CICDECHI_RX), 0x02);
    EXPECT_EQ(reg(R::CICDECHI_RX + 1), 0x00);
    EXPECT_EQ(m.get_agcreference(), int(std::lround(6.0 * 31 + 14 - 80 * std::log10(512.0))));
}

// Transmitter setup worked by hand: fTX = fADC = 8 MHz.
TEST_F(RC1400, FskTransmitterSetupByHand)
{
    m.set_tx(20000, 10000, MOD_FSK, true);
    // txcic = round(8e6 / 1e4 * 0.0625) = 50
    EXPECT_EQ(reg(R::CICDECHI_TX), 0);
    EXPECT_EQ(reg(R::CICDECHI_TX + 1), 50);
    // TXRATE = round(50 * 1e4 / 8e6 * 2^14) = 1024
    EXPECT_EQ(reg(R::DATARATEHI_TX), 0x04);
    EXPECT_EQ(reg(R::DATARATEHI_TX + 1), 0x00);
    // FSKDEV = round(20000 / 16e6 * 2^15) = 41
    EXPECT_EQ(reg(R::TMGGAINHI_TX), 0x00);
    EXPECT_EQ(reg(R::TMGGAINHI_TX + 1), 41);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x40);
    EXPECT_EQ(reg(R::FOURFSK_TX), 0x42);
    EXPECT_EQ(reg(R::TXPWR), 0x08);
    // the receive words stay as they were
    EXPECT_EQ(reg(R::TMGGAINHI_RX + 1), 0xD5);

    // an FSK transmitter must not read back as ASK
    EXPECT_EQ(m.get_tx_modulation(), MOD_FSK);
    EXPECT_DOUBLE_EQ(m.get_tx_bitrate(), 10000);
    EXPECT_NEAR(m.get_tx_deviation(), 41 * 16e6 / 32768, 1e-9);
}

TEST_F(RC1400, TransmitterFollowsReceiverOversamplingAndFourFsk)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0); // receive code 0x49
    m.set_bitfield_chipvalue(bitfield(m, "DEVUPDATE (Rx)"), 1);
    m.set_tx(20000, 10000, MOD_4FSK, true);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x49);
    // enabled, and deviation update copied from the receiver
    EXPECT_EQ(reg(R::FOURFSK_TX), 0x43);
    EXPECT_EQ(m.get_tx_modulation(), MOD_4FSK);
    m.set_tx_modulation(MOD_GFSK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x69);
    EXPECT_EQ(m.get_tx_modulation(), MOD_GFSK);
    // a new code replaces the whole field: bit 6 must not survive into ASK or PSK
    m.set_tx_modulation(MOD_ASK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x00);
    m.set_tx_modulation(MOD_PSK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x04);
    EXPECT_EQ(m.get_tx_modulation(), MOD_PSK);
    // and a new receive setup follows with the transmit FSK code too
    m.set_tx_modulation(MOD_FSK);
    m.set_rx(15000, 10000, MOD_FSK, false, 1);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x41);
}

TEST_F(RC1400, FskOversamplingCodesAreNotShapedForPower)
{
    // receive n = 3 gives code 0x42, whose low bits look like ASK Shaped
    m.set_rx(25000, 10000, MOD_FSK, false, 0);
    ASSERT_EQ(reg(R::MODULATION_RX), 0x42);
    m.set_tx(5000, 10000, MOD_FSK, false);
    ASSERT_EQ(reg(R::MODULATION_TX), 0x42);
    m.set_tx_power(11.5);
    EXPECT_EQ(reg(R::TXPWR), 13); // not limited to the shaped codes
    EXPECT_DOUBLE_EQ(m.get_tx_power(), 11.5);
}

TEST_F(RC1400, CarrierBandsRemappingAndClamps)
{
    // band 1, group 6 has no code: the word moves to the nearest neighbouring edge
    m.set_rx_carrierfrequency(473000000);
    EXPECT_EQ(field(m, "BANDSEL (Rx)"), 1u);
    EXPECT_NEAR(m.get_rx_carrierfrequency(), 0x1D7FFFFF * 16e6 / 16777216.0, 1e-3);
    m.set_rx_carrierfrequency(475000000);
    EXPECT_NEAR(m.get_rx_carrierfrequency(), 476000000, 1e-3);

    // 433.92 MHz: v = 0x1B1EB853, group 4 stored as code 011
    m.set_tx_carrierfrequency(433920000);
    EXPECT_EQ(field(m, "FREQ (Tx)"), 0x1ADEB853u);
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 433920000, 2); // one step is 0.95 Hz

    struct { double request, expect; unsigned band; } cases[] = {
        {300e6, 400e6, 1}, {600e6, 500e6, 1}, {700e6, 800e6, 0}, {868e6, 868e6, 0},
        {1200e6, 1000e6, 0}, {2.45e9, 1000e6, 0}, {NaN, 400e6, 1}, {Inf, 1000e6, 0}, {-Inf, 400e6, 1},
    };
    for (auto& c : cases) {
        m.set_rx_carrierfrequency(c.request);
        EXPECT_NEAR(m.get_rx_carrierfrequency(), c.expect, 2) << c.request;
        EXPECT_EQ(field(m, "BANDSEL (Rx)"), c.band) << c.request;
    }
}

TEST_F(RC1400, FramingIdsOfThisChip)
{
    EXPECT_EQ(m.get_supported_framingmodes(),
              (std::list<std::string>{"Raw", "Raw Soft", "Raw Preamble Match", "Synchronous Wiremode"}));
    EXPECT_TRUE(m.get_supported_crcmodes().empty());
    EXPECT_EQ(m.get_supported_modulations().size(), 11u);

    m.set_framingmode(2);
    EXPECT_EQ(field(m, "FRMMODE"), 3u);
    EXPECT_EQ(m.get_framingmode(), 2);
    EXPECT_TRUE(m.is_framingmode_rawpreamblematch());
    EXPECT_FALSE(m.is_framingmode_raw());
    EXPECT_EQ(m.get_postamble_length(), 48u);

    m.set_framingmode(1);
    EXPECT_EQ(m.get_framingmode(), 1);
    EXPECT_TRUE(m.is_framingmode_rawsoft());
    EXPECT_EQ(m.get_postamble_length(), 0u);

    m.set_framingmode(3);
    EXPECT_EQ(field(m, "IFMODE"), 2u);
    EXPECT_EQ(field(m, "FRMMODE"), 0u);
    EXPECT_EQ(m.get_framingmode(), 3);
    EXPECT_TRUE(m.is_framingmode_wiremode());
    EXPECT_FALSE(m.is_framingmode_raw());

    for (int id : {0, 42, -7}) {
        m.set_framingmode(id);
        EXPECT_EQ(m.get_framingmode(), 0) << id;
        EXPECT_TRUE(m.is_framingmode_raw());
        EXPECT_FALSE(m.is_framingmode_crcsupported());
    }
}

TEST_F(RC1400, CrcModeLeavesThePatternLengthAlone)
{
    m.set_preamble_length(16);
    m.set_crcmode(2);
    EXPECT_EQ(m.get_preamble_length(), 16u);
}

TEST_F(RC1400, CommitSignalsAndReprogrammingFlags)
{
    SignalLog log(m);
    PreambleLog plog(m);
    m.commit_registers();
    EXPECT_TRUE(log.names.empty());
    EXPECT_TRUE(m.reprogramming.empty());

    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"rx_modulation", "rx_bandwidth", "rx_bitrate", "rx_btr"}));
    // MODULATION (Rx), CICDEC, DATARATE, TMGGAIN at 0x80 and above
    ASSERT_EQ(m.reprogramming.size(), 1u);
    EXPECT_EQ(m.reprogramming[0], 5u);
    EXPECT_EQ(board.regs[0x85], 0x49);
    EXPECT_EQ(board.regs[0x88], 25);

    // only FOURFSK changes: the modulation still reads differently
    log.names.clear();
    m.set_rx_modulation(MOD_4FSK);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"rx_modulation"}));
    EXPECT_EQ(board.regs[0x9A], 0x43);

    log.names.clear();
    m.reprogramming.clear();
    m.set_tx(20000, 10000, MOD_FSK, true);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_modulation", "tx_deviation", "tx_bitrate"}));
    ASSERT_EQ(m.reprogramming.size(), 1u);
    EXPECT_EQ(m.reprogramming[0], 6u);
    EXPECT_EQ(board.regs[0x95], 50);

    log.names.clear();
    m.set_framingmode(3); // wire mode: IFMODE and FRAMING
    m.set_preamble_length(8);
    m.set_preamble(0xA5);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"framingmode", "crcmode", "crcinit"}));
    EXPECT_EQ(plog.names, (std::vector<std::string>{"preamble", "preamble_length"}));
    EXPECT_EQ(board.regs[0x14], 0xA5);
}

TEST_F(RC1400, AutorangingReadsBothRangesBack)
{
    board.regs[0x80] = 0x05;
    board.regs[0x93] = 0x0B;
    std::vector<std::pair<int, int>> results;
    m.signal_terminate_autoranging.connect([&](int a, int b) { results.emplace_back(a, b); });
    m.terminate_autoranging(0, -2);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0], std::make_pair(5, -2));
    EXPECT_EQ(m.get_rx_range(), 5u);
    EXPECT_EQ(m.get_tx_range(), 11u);
}

TEST_F(RC1400, CrystalChangeReappliesAndSelectsTheAdcClock)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    m.set_rx_carrierfrequency(868000000);
    m.commit_registers();
    SignalLog log(m);
    m.set_xtal_frequency(8000000);
    EXPECT_EQ(m.get_xtal_frequency(), 8000000u);
    EXPECT_EQ(field(m, "ADCCLK"), 0u); // 8 MHz: the ADC runs at the crystal
    EXPECT_NEAR(m.get_rx_carrierfrequency(), 868000000, 2);
    EXPECT_NEAR(m.get_rx_bitrate(), 10000, 10);
    EXPECT_EQ(log.names, (std::vector<std::string>{"xtal_frequency", "rx_carrierfrequency", "tx_carrierfrequency",
                                                   "rx_bandwidth", "tx_deviation", "rx_bitrate", "tx_bitrate",
                                                   "tx_power", "iffrequency"}));
    m.set_xtal_frequency(0xFFFFFFFFu);
    EXPECT_EQ(m.get_xtal_frequency(), 16000000u);
    EXPECT_EQ(field(m, "ADCCLK"), 1u);
}


// FOURFSK bits belong to the modulation and the receive rate: their signals
// come in the place of those parameters, before framing, encoding and CRC ones.
TEST_F(RC1400, FourFskBitsSignalInTheirPlace)
{
    SignalLog log(m);
    m.frob_register_chipvalue(R::FOURFSK_RX, 0x01, 0);
    m.frob_register_chipvalue(R::FOURFSK_TX, 0x01, 0);
    m.frob_register_chipvalue(4, 0x01, 0); // ENC INV
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"rx_modulation", "tx_modulation", "enc_invert"}));

    log.names.clear();
    m.set_register_chipvalue(R::MODULATION_RX, 0x43);
    m.commit_registers();
    log.names.clear();
    m.frob_register_chipvalue(R::FOURFSK_RX, 0x04, 0); // half speed halves the rate
    m.set_crcinit(0x12345678);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"rx_bitrate", "crcinit"}));
}


// A 4-bit FSK code written by hand (8 to 15) holds the factor less one in bits 4:0.
TEST_F(RC1400, HandWrittenFourBitFskCodeReadsBitsFourToZero)
{
    m.set_register_chipvalue(R::MODULATION_RX, 0x09);
    m.set_register_chipvalue(33, 25); // CICDECLO (Rx)
    m.set_register_chipvalue(34, 0x03); // DATARATE (Rx) 1000
    m.set_register_chipvalue(35, 0xE8);
    EXPECT_EQ(m.get_rx_modulation(), MOD_FSK);
    EXPECT_NEAR(m.get_rx_bitrate(), 8e6 * 2048 / (1000.0 * 10 * 25), 1e-9);
    EXPECT_NEAR(m.convert_frequencyoffset(100), m.get_rx_bitrate() * 10 * 100 / 65536.0, 1e-9);
    m.set_tx(5000, 10000, MOD_FSK, false);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x49);
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
