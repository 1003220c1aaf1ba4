#include <climits>

#include "ChipSupport.h"

namespace KORVIK {
namespace chips_test {
namespace {

using R = RC1100Model;

class RC1100 : public ::testing::Test {
protected:
    CerrCapture quiet;
    MemoryBoard board;
    Recording<RC1100Model> m{&board};
    uint8_t reg(int i) { return m.get_register_chipvalue(unsigned(i)); }
};

TEST_F(RC1100, ReceiveOperationsAreInert)
{
    std::vector<uint8_t> before = chip_values(m);
    m.set_rx(500000, 100000, MOD_FSK, true, 1);
    m.set_rx_modulation(MOD_4FSK);
    m.set_rx_bandwidth(300000);
    m.set_rx_bitrate(20000);
    m.set_rx_btr(1);
    m.set_iffrequency(2000000);
    m.set_rx(NaN, Inf, INT_MAX, true, INT_MIN);
    EXPECT_EQ(chip_values(m), before);

    EXPECT_EQ(m.get_rx_modulation(), 0);
    EXPECT_EQ(m.get_rx_bandwidth(), 150000);
    EXPECT_EQ(m.get_rx_bitrate(), 100000);
    EXPECT_EQ(m.get_iffrequency(), 1000000);
    EXPECT_EQ(m.get_agcreference(), INT_MIN);
    EXPECT_EQ(m.get_rx_btr(), 0);
    EXPECT_EQ(m.get_rx_btr_preamble(), 400);
    EXPECT_EQ(m.get_rx_maxfrequencyoffset(), 0);
    EXPECT_EQ(m.convert_frequencyoffset(12345), 0);
    EXPECT_TRUE(m.get_supported_rx_btr_settings().empty());
    EXPECT_EQ(m.get_txkeyup_length(), 100u);
    EXPECT_EQ(m.get_supported_modulations().size(), 11u);
}

// Transmitter setup worked by hand: 16 MHz crystal.
TEST_F(RC1100, FourFskTransmitterSetupByHand)
{
    m.set_tx(20000, 10000, MOD_4FSK, true);
    // FSKDEV = round(20000 / 16e6 * 2^23) = 0x0028F6, TXRATE = round(1e4 / 16e6 * 2^24) = 0x0028F6
    EXPECT_EQ(field(m, "FSKDEV"), 0x0028F6u);
    EXPECT_EQ(field(m, "TXRATE"), 0x0028F6u);
    EXPECT_EQ(reg(R::MODULATION), 0x40);
    EXPECT_EQ(reg(R::FOURFSK), 0x01);
    EXPECT_EQ(reg(R::PLLLOOP_TX), 0x05); // 0x1D with bits 4:0 = 5
    EXPECT_EQ(reg(R::TXPWR), 0x08);
    EXPECT_EQ(m.get_tx_modulation(), MOD_4FSK);

    m.set_tx_modulation(MOD_FSK);
    EXPECT_EQ(reg(R::FOURFSK), 0x00);
    EXPECT_EQ(m.get_tx_modulation(), MOD_FSK);
    m.set_tx_modulation(MOD_GFSK);
    EXPECT_EQ(reg(R::MODULATION), 0x60);
    EXPECT_EQ(m.get_tx_modulation(), MOD_GFSK);
    m.set_tx_modulation(MOD_4FSK);
    m.set_tx_modulation(MOD_MSK);
    EXPECT_EQ(reg(R::MODULATION), 0x07);
    EXPECT_EQ(m.get_tx_modulation(), MOD_MSK); // FOURFSK left set, but MSK is no FSK code

    // 4-FSK derives dev = max(0.5 br, dev): 50000 Hz -> round(26214.4)
    m.set_tx(0, 100000, MOD_4FSK, true);
    EXPECT_EQ(field(m, "FSKDEV"), 26214u);
    EXPECT_EQ(reg(R::PLLLOOP_TX), 0x09);
}

TEST_F(RC1100, CarrierWordsWithoutRemapping)
{
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 0x3934CCCD * 16e6 / 16777216, 1e-3);
    m.set_tx_carrierfrequency(868000000);
    EXPECT_EQ(field(m, "FREQ (Tx)"), 0x36400001u);
    EXPECT_EQ(field(m, "BANDSEL (Tx)"), 0u);
    m.set_rx_carrierfrequency(433920000);
    EXPECT_EQ(field(m, "FREQ (Rx)"), 0x1B1EB853u);
    EXPECT_EQ(field(m, "BANDSEL (Rx)"), 1u);
    m.set_tx_carrierfrequency(2.45e9);
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 1e9, 2);
    m.set_tx_carrierfrequency(100e6);
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 400e6, 2);
}

TEST_F(RC1100, PowerSelectionAtTies)
{
    m.set_tx_modulation(MOD_FSK);
    struct { double dbm; uint8_t code; } plain[] = {
        {2.5, 4}, {10.25, 11}, {-23.75, 1}, {-40, 0}, {12.5, 15}, {100, 15}, {-1e300, 0},
    };
    for (auto& c : plain) {
        m.set_tx_power(c.dbm);
        EXPECT_EQ(reg(R::TXPWR), c.code) << c.dbm;
    }
    m.set_tx_modulation(MOD_ASK_SHAPED);
    struct { double dbm; uint8_t code; } shaped[] = {{10, 7}, {4.5, 3}, {-23.75, 1}, {12, 15}};
    for (auto& c : shaped) {
        m.set_tx_power(c.dbm);
        EXPECT_EQ(reg(R::TXPWR), c.code) << c.dbm;
    }
    EXPECT_DOUBLE_EQ(m.get_tx_power(), 12.5);

    m.set_tx_power(1.5);
    m.step_tx_power(1);
    EXPECT_EQ(reg(R::TXPWR), 7);
    m.set_tx_power(-7.5);
    m.step_tx_power(-1);
    EXPECT_EQ(reg(R::TXPWR), 0);
    m.step_tx_power(INT_MAX);
    EXPECT_EQ(reg(R::TXPWR), 15);
    m.step_tx_power(INT_MIN);
    EXPECT_EQ(reg(R::TXPWR), 0);

    m.set_tx_modulation(MOD_FSK);
    m.set_tx_power(12.5);
    m.step_tx_power(1);
    EXPECT_EQ(reg(R::TXPWR), 15);
    m.step_tx_power(INT_MIN);
    EXPECT_EQ(reg(R::TXPWR), 0);
}

TEST_F(RC1100, FramingIdsOfThisChip)
{
    EXPECT_EQ(m.get_supported_framingmodes().size(), 8u);
    struct { int id; unsigned f; unsigned ifmode; unsigned fec; } cases[] = {
        {0, 2, 0, 0}, {1, 2, 0, 1}, {2, 0, 0, 0}, {3, 1, 0, 0}, {4, 3, 0, 0}, {5, 6, 0, 0}, {6, 7, 0, 0},
        {7, 2, 2, 0},
    };
    for (auto& c : cases) {
        m.set_framingmode(c.id);
        EXPECT_EQ(field(m, "FRMMODE"), c.f) << c.id;
        EXPECT_EQ(field(m, "IFMODE"), c.ifmode) << c.id;
        EXPECT_EQ(reg(R::FEC), c.fec) << c.id;
        EXPECT_EQ(m.get_framingmode(), c.id);
    }
    m.set_framingmode(4);
    EXPECT_TRUE(m.is_framingmode_rawpreamblematch());
    m.set_framingmode(77);
    EXPECT_EQ(m.get_framingmode(), 0);
    EXPECT_FALSE(m.is_framingmode_hdlc_fec());
    m.set_framingmode(1);
    EXPECT_TRUE(m.is_framingmode_hdlc());
    EXPECT_TRUE(m.is_framingmode_hdlc_fec());
    EXPECT_TRUE(m.is_framingmode_crcsupported());
    EXPECT_EQ(m.get_postamble_length(), 56u);
    m.set_framingmode(7);
    EXPECT_FALSE(m.is_framingmode_hdlc());
    EXPECT_TRUE(m.is_framingmode_wiremode());
}

TEST_F(RC1100, EncodingUnderHdlcFec)
{
    m.set_enc_invert(true);
    m.set_enc_manchester(true);
    m.set_bitfield_chipvalue(bitfield(m, "ENC NOSYNC"), 1);
    m.set_framingmode(1); // HDLC FEC clears bits 3:0
    EXPECT_EQ(reg(R::ENCODING), 0x10);
    // and this chip still lets every option be set under FEC
    m.set_enc_scrambler(true);
    m.set_enc_diff(true);
    EXPECT_TRUE(m.get_enc_scrambler());
    EXPECT_TRUE(m.get_enc_diff());
    EXPECT_FALSE(m.get_enc_invert());
    m.set_enc_invert(true);
    m.set_enc_manchester(true);
    EXPECT_EQ(reg(R::ENCODING), 0x1F);
    m.set_enc_diff(false);
    EXPECT_EQ(reg(R::ENCODING), 0x1D);
    EXPECT_TRUE(m.is_framingmode_hdlc_fec());
}

TEST_F(RC1100, CommitSignalsAndReprogrammingFlags)
{
    SignalLog log(m);
    m.set_tx_carrierfrequency(868000000);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_carrierfrequency"}));
    ASSERT_EQ(m.reprogramming.size(), 1u);
    EXPECT_EQ(m.reprogramming[0], 6u);
    EXPECT_EQ(board.regs[0x86], 0x36); // FREQ3 (Tx)

    log.names.clear();
    m.set_rx_carrierfrequency(868000000);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"rx_carrierfrequency"}));
    EXPECT_EQ(m.reprogramming.back(), 5u);

    m.set_tx(20000, 10000, MOD_FSK, true);
    m.commit_registers();
    log.names.clear();
    m.reprogramming.clear();
    // FSK to 4-FSK changes only FOURFSK
    m.set_tx_modulation(MOD_4FSK);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_modulation"}));
    EXPECT_EQ(board.regs[0x50], 0x01);

    log.names.clear();
    m.set_framingmode(1); // HDLC FEC also clears the default differential encoding
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"framingmode", "enc_diff"}));
    log.names.clear();
    m.set_framingmode(7); // HDLC FEC to wire mode: FEC and IFMODE change
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"framingmode"}));
}

TEST_F(RC1100, CrystalClampsAndReappliesTheTransmitter)
{
    m.set_tx(20000, 10000, MOD_FSK, true);
    m.set_tx_carrierfrequency(868000000);
    m.set_xtal_frequency(1000000);
    EXPECT_EQ(m.get_xtal_frequency(), 3900000u);
    EXPECT_NEAR(m.get_tx_bitrate(), 10000, 1);
    EXPECT_NEAR(m.get_tx_deviation(), 20000, 1);
    EXPECT_NEAR(m.get_tx_carrierfrequency(), 868000000, 2);
    m.set_xtal_frequency(40000000);
    EXPECT_EQ(m.get_xtal_frequency(), 32100000u);
    EXPECT_NEAR(m.get_tx_bitrate(), 10000, 2);
}


// The 4-FSK bit is part of the transmit modulation: its signal comes first.
TEST_F(RC1100, FourFskBitSignalsBeforeCrcInit)
{
    SignalLog log(m);
    m.set_register_chipvalue(R::MODULATION, 0x40);
    m.commit_registers();
    log.names.clear();
    m.frob_register_chipvalue(R::FOURFSK, 0x01, 0);
    m.set_crcinit(0x01020304);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_modulation", "crcinit"}));
    EXPECT_EQ(m.get_tx_modulation(), MOD_4FSK);
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
