#include "ChipSupport.h"

namespace KORVIK {
namespace chips_test {
namespace {

using R = RC1300Model;

class RC1300 : public ::testing::Test {
protected:
    CerrCapture quiet;
    MemoryBoard board;
    Recording<RC1300Model> m{&board};
    uint8_t reg(int i) { return m.get_register_chipvalue(unsigned(i)); }
};

// Receiver setup worked by hand: 16 MHz crystal, fADC 8 MHz.
TEST_F(RC1300, FskReceiverSetupByHand)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    EXPECT_EQ(reg(R::CICDECLO), 25);
    EXPECT_EQ(reg(R::MODULATION_RX), 0x49);
    EXPECT_EQ(reg(39), 0x19); // DATARATE 6554
    EXPECT_EQ(reg(40), 0x9A);
    EXPECT_EQ(reg(41), 0x08); // TMGGAIN 2048
    EXPECT_EQ(reg(42), 0x00);
    EXPECT_EQ(reg(44), 0x0F); // FREQGAIN: bits 3:0 to 15, FREQLIM kept
    EXPECT_EQ(reg(45), 0x0F);
    // every receiver setup puts the IF at 1.024 MHz: round(1024000 / 8e6 * 2^16) = 8389
    EXPECT_EQ(reg(21), 0x20);
    EXPECT_EQ(reg(22), 0xC5);
    EXPECT_NEAR(m.get_iffrequency(), 8e6 * 8389 / 65536, 1e-6);

    EXPECT_EQ(m.get_rx_modulation(), MOD_FSK);
    EXPECT_DOUBLE_EQ(m.get_rx_bandwidth(), 100000);
    EXPECT_NEAR(m.get_rx_bitrate(), 8e6 * 2048 / (6554.0 * 10 * 25), 1e-6);
    EXPECT_EQ(m.get_rx_btr(), 0);
    // 6 S(25) + 14 - 80 log10(25), S(25) = ceil(18.52) - 5 = 14
    EXPECT_EQ(m.get_agcreference(), int(std::lround(6.0 * 14 + 14 - 80 * std::log10(25.0))));
}

TEST_F(RC1300, CicDecimationIsSixBits)
{
    m.set_rx(1000, 100, MOD_ASK, false, 0);
    EXPECT_EQ(reg(R::CICDECLO), 63);
    EXPECT_NEAR(m.get_rx_bandwidth(), 8e6 * 0.3125 / 63, 1e-6);
    m.set_rx(1000000, 1000000, MOD_ASK, false, 0); // floor(2.5) below the lower limit 2
    EXPECT_EQ(reg(R::CICDECLO), 2);
}

TEST_F(RC1300, ModulationsStopAtGfsk)
{
    EXPECT_EQ(m.get_supported_modulations().size(), 10u);
    EXPECT_EQ(m.get_supported_modulations().back(), "GFSK");
    EXPECT_FALSE(m.is_modulation_4fsk(MOD_4FSK));
    m.set_rx(30000, 10000, MOD_4FSK, false, 0);
    EXPECT_EQ(m.get_rx_modulation(), MOD_GFSK);
    m.set_tx(5000, 10000, 99, false);
    EXPECT_EQ(reg(R::MODULATION_TX) & 0x60, 0x60);
    EXPECT_EQ(m.get_tx_modulation(), MOD_GFSK);
    m.set_tx(5000, 10000, -5, false);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x00);
}

// Transmitter setup worked by hand.
TEST_F(RC1300, FskTransmitterSetupByHand)
{
    m.set_tx(20000, 10000, MOD_FSK, true);
    // FSKDEV = round(20000 / 16e6 * 2^23) = 10486 = 0x0028F6, TXRATE = round(1e4 / 16e6 * 2^24) likewise
    EXPECT_EQ(field(m, "FSKDEV"), 0x0028F6u);
    EXPECT_EQ(field(m, "TXRATE"), 0x0028F6u);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x40);
    EXPECT_EQ(reg(R::PLLLOOP_TX), 0x05);
    EXPECT_EQ(reg(R::TXPWR), 0x08);
    EXPECT_EQ(m.get_tx_modulation(), MOD_FSK); // not ASK
    EXPECT_NEAR(m.get_tx_bitrate(), 10486 * 16e6 / 16777216, 1e-9);
    EXPECT_NEAR(m.get_tx_deviation(), 10486 * 16e6 / 8388608, 1e-9);
}

TEST_F(RC1300, TransmitCodeTakesTheReceiverOversampling)
{
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    m.set_tx_modulation(MOD_FSK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x49);
    m.set_tx_modulation(MOD_GFSK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x69);
    m.set_tx_modulation(MOD_PSK_SHAPED);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x05);
    // an older 4-bit receive FSK code: its bits 1:0 carry the factor
    m.set_register_chipvalue(R::MODULATION_RX, 0x0A);
    EXPECT_EQ(m.get_rx_modulation(), MOD_FSK);
    m.set_tx_modulation(MOD_FSK);
    EXPECT_EQ(reg(R::MODULATION_TX), 0x42);
    m.set_register_chipvalue(R::MODULATION_RX, 0x0E);
    EXPECT_EQ(m.get_rx_modulation(), MOD_GFSK);
}

TEST_F(RC1300, TransmitPllLoopFollowsTheBitrate)
{
    struct { int mod; double br; uint8_t loop; } cases[] = {
        {MOD_FSK, 50000, 5}, {MOD_FSK, 80000, 5}, {MOD_FSK, 80001, 9}, {MOD_FSK, 160000, 9},
        {MOD_FSK, 200000, 13}, {MOD_FSK, 240000, 13}, {MOD_FSK, 300000, 17}, {MOD_ASK, 300000, 5},
        {MOD_PSK_SHAPED, 1000000, 5}, {MOD_OQPSK, 300000, 17}, {MOD_MSK, 100000, 9},
    };
    for (auto& c : cases) {
        m.set_tx(0, c.br, c.mod, false);
        EXPECT_EQ(reg(R::PLLLOOP_TX), c.loop) << c.mod << " " << c.br;
    }
    // the band bit above the loop bits stays
    m.set_tx_carrierfrequency(433920000);
    m.set_tx(0, 300000, MOD_FSK, false);
    EXPECT_EQ(reg(R::PLLLOOP_TX), 0x20 | 17);
}

TEST_F(RC1300, VcoRangePresetsAcrossTheTable)
{
    struct { double vco; unsigned range; } cases[] = {
        {0, 15}, {772e6, 15}, {787e6, 15}, {787.5e6, 14}, {798e6, 14}, {900e6, 7}, {906e6, 7},
        {906.1e6, 6}, {1043e6, 1}, {1044e6, 0}, {1071e6, 0}, {1100e6, 0}, {NaN, 15},
    };
    for (auto& c : cases)
        EXPECT_EQ(RC1300Model::vco_range(c.vco), c.range) << c.vco;
}

TEST_F(RC1300, CarrierBandsWithoutRemapping)
{
    // low band: VCO at twice the carrier, 867.84 MHz -> range 9
    m.set_rx_carrierfrequency(433920000);
    EXPECT_EQ(field(m, "BANDSEL (Rx)"), 1u);
    EXPECT_EQ(field(m, "FREQ (Rx)"), 0x1B1EB853u);
    EXPECT_EQ(field(m, "VCOR (Rx)"), 9u);
    EXPECT_EQ(reg(R::PLLVCOI), 0x01);
    EXPECT_NEAR(m.get_rx_carrierfrequency(), 433920000, 2);

    m.set_tx_carrierfrequency(915000000);
    EXPECT_EQ(field(m, "BANDSEL (Tx)"), 0u);
    EXPECT_EQ(field(m, "VCOR (Tx)"), 6u);
    EXPECT_EQ(field(m, "FREQ (Tx)"), 0x39300001u);
    EXPECT_EQ(field(m, "VCOR (Rx)"), 9u); // the other copy is left alone

    struct { double request, expect; unsigned band; } cases[] = {
        {300e6, 386e6, 1}, {600e6, 535.5e6, 1}, {653749999, 535.5e6, 1}, {653750000, 772e6, 0},
        {2e9, 1071e6, 0}, {-Inf, 386e6, 1}, {Inf, 1071e6, 0}, {NaN, 386e6, 1},
    };
    for (auto& c : cases) {
        m.set_rx_carrierfrequency(c.request);
        EXPECT_NEAR(m.get_rx_carrierfrequency(), c.expect, 2) << c.request;
        EXPECT_EQ(field(m, "BANDSEL (Rx)"), c.band) << c.request;
    }
}

TEST_F(RC1300, PowerTableAndShapedCodes)
{
    m.set_tx_modulation(MOD_FSK);
    m.set_tx_power(9.7778);
    EXPECT_EQ(reg(R::TXPWR), 8);
    EXPECT_DOUBLE_EQ(m.get_tx_power(), 9.7778);
    m.set_tx_power(-100);
    EXPECT_EQ(reg(R::TXPWR), 0);
    m.set_tx_power(Inf);
    EXPECT_EQ(reg(R::TXPWR), 15);
    m.set_tx_power(NaN);
    EXPECT_EQ(reg(R::TXPWR), 0);

    m.set_tx_modulation(MOD_ASK_SHAPED);
    m.set_tx_power(9); // 8.8093 (code 7) is nearer than 13.3054 (code 15)
    EXPECT_EQ(reg(R::TXPWR), 7);
    m.step_tx_power(1);
    EXPECT_EQ(reg(R::TXPWR), 15);
    m.step_tx_power(-2);
    EXPECT_EQ(reg(R::TXPWR), 3);
}

TEST_F(RC1300, FramingIdsOfThisChip)
{
    EXPECT_EQ(m.get_supported_framingmodes().size(), 6u);
    EXPECT_EQ(m.get_supported_crcmodes(), (std::list<std::string>{"CRC-CCITT", "CRC-16", "CRC-32"}));
    EXPECT_EQ(m.get_framingmode(), 1); // FRAMING 0: Raw

    struct { int id; unsigned f; unsigned ifmode; } cases[] = {
        {0, 2, 0}, {1, 0, 0}, {2, 1, 0}, {3, 3, 0}, {4, 6, 0}, {5, 7, 0}, {6, 2, 2}, {7, 2, 3},
    };
    for (auto& c : cases) {
        m.set_framingmode(c.id);
        EXPECT_EQ(field(m, "FRMMODE"), c.f) << c.id;
        EXPECT_EQ(field(m, "IFMODE"), c.ifmode) << c.id;
        EXPECT_EQ(m.get_framingmode(), c.id);
    }
    m.set_framingmode(3);
    EXPECT_TRUE(m.is_framingmode_rawpreamblematch());
    EXPECT_EQ(m.get_postamble_length(), 48u);
    m.set_framingmode(0);
    EXPECT_TRUE(m.is_framingmode_hdlc());
    EXPECT_FALSE(m.is_framingmode_hdlc_fec());
    EXPECT_TRUE(m.is_framingmode_crcsupported());
    EXPECT_EQ(m.get_postamble_length(), 56u);
    m.set_framingmode(4);
    EXPECT_TRUE(m.is_framingmode_zigbee());
    EXPECT_FALSE(m.is_framingmode_crcsupported());

    m.set_crcmode(3);
    EXPECT_EQ(m.get_crcmode(), 2);
    EXPECT_TRUE(m.is_crcmode_crc32());
    m.set_crcmode(1);
    EXPECT_TRUE(m.is_crcmode_crc16());
    EXPECT_FALSE(m.is_crcmode_dnp());
}

TEST_F(RC1300, AsynchronousWireModeLimitsTheBitrates)
{
    m.set_tx_bitrate(1000000);
    m.set_rx_bitrate(1000000);
    m.set_framingmode(7);
    EXPECT_LE(m.get_tx_bitrate(), 500000 + 1);
    EXPECT_LE(m.get_rx_bitrate(), 500000 * 1.01);
    EXPECT_TRUE(m.is_framingmode_wiremode());
    EXPECT_FALSE(m.is_framingmode_hdlc());
}

TEST_F(RC1300, Currents)
{
    USBDeviceCurrents c = m.get_currents();
    EXPECT_DOUBLE_EQ(c.values[0], 0.0000005);
    EXPECT_DOUBLE_EQ(c.values[1], 8 / 12000.0 + 0.00015);
    EXPECT_DOUBLE_EQ(c.values[2], 0.011);
    EXPECT_DOUBLE_EQ(c.values[3], 0.019); // REF 0x23: REFI 3
    // default transmit code 2 is shaped: TXRNG 8 counts as 15
    EXPECT_DOUBLE_EQ(c.values[4], 0.048287);
    EXPECT_DOUBLE_EQ(c.values[7], 0.00005);
    EXPECT_GT(c.values[5], 0);
    EXPECT_GT(c.values[6], 0);
    EXPECT_DOUBLE_EQ(c.values[8], m.get_txkeyup_length() * c.values[6]);

    m.set_register_chipvalue(R::REF, 0x24);
    m.set_register_chipvalue(R::XTALOSC, 0);
    m.set_register_chipvalue(R::PLLLOOP_TX, 0x25);
    m.set_tx_modulation(MOD_FSK);
    m.set_register_chipvalue(R::TXPWR, 2);
    c = m.get_currents();
    EXPECT_DOUBLE_EQ(c.values[1], 0.0002);
    EXPECT_DOUBLE_EQ(c.values[2], 0.012);
    EXPECT_DOUBLE_EQ(c.values[3], 0.017);
    EXPECT_DOUBLE_EQ(c.values[4], 0.017657);
}

TEST_F(RC1300, CommitSignalsAndReprogrammingFlags)
{
    SignalLog log(m);
    m.set_rx(100000, 10000, MOD_FSK, true, 0);
    m.commit_registers();
    EXPECT_EQ(log.names,
              (std::vector<std::string>{"rx_modulation", "iffrequency", "rx_bandwidth", "rx_bitrate", "rx_btr"}));
    ASSERT_EQ(m.reprogramming.size(), 1u);
    EXPECT_EQ(m.reprogramming[0], 5u); // MODULATION (Rx) at 0x85
    EXPECT_EQ(board.regs[0x85], 0x49);
    EXPECT_EQ(board.regs[0x3F], 25);

    log.names.clear();
    m.reprogramming.clear();
    m.set_tx(20000, 10000, MOD_FSK, true);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_modulation", "tx_deviation", "tx_bitrate"}));
    ASSERT_EQ(m.reprogramming.size(), 1u);
    EXPECT_EQ(m.reprogramming[0], 6u);

    log.names.clear();
    m.reprogramming.clear();
    m.set_tx_power(0);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_power"}));
    EXPECT_TRUE(m.reprogramming.empty());

    // HDLC to synchronous wire mode changes IFMODE only
    m.set_framingmode(0);
    m.commit_registers();
    log.names.clear();
    m.set_framingmode(6);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"framingmode"}));

    log.names.clear();
    m.set_tx_carrierfrequency(868000000);
    m.commit_registers();
    EXPECT_EQ(log.names, (std::vector<std::string>{"tx_carrierfrequency"}));
    EXPECT_EQ(m.reprogramming.back(), 6u);
}


// Fast timing recovery reads from TMGGAIN x 20 against DATARATE x k on this chip.
TEST_F(RC1300, BtrThresholdOnHandSetTiming)
{
    struct Case {
        uint8_t modulation;
        unsigned tmggain, datarate;
        int btr;
    } cases[] = {
        {0x00, 60, 1000, 1},   // 1200 > 1000
        {0x00, 50, 1000, 0},   // 1000 is not above 1000
        {0x43, 201, 1000, 1},  // k = 4: 4020 > 4000
        {0x43, 200, 1000, 0},
        {0x09, 101, 1000, 1},  // FSK code 9, k = 2: 2020 > 2000
        {0x09, 100, 1000, 0},
    };
    for (const Case& c : cases) {
        m.set_register_chipvalue(R::MODULATION_RX, c.modulation);
        m.set_register_chipvalue(39, uint8_t(c.datarate >> 8));
        m.set_register_chipvalue(40, uint8_t(c.datarate));
        m.set_register_chipvalue(41, uint8_t(c.tmggain >> 8));
        m.set_register_chipvalue(42, uint8_t(c.tmggain));
        EXPECT_EQ(m.get_rx_btr(), c.btr) << c.tmggain << "/" << c.datarate;
        EXPECT_EQ(m.get_rx_btr_preamble(), c.btr ? 100 : 400);
    }
    // setups still read back as they were made
    for (int btr : {0, 1}) {
        for (int mod : {MOD_ASK, MOD_PSK, MOD_FSK, MOD_GFSK}) {
            m.set_rx(30000, 10000, mod, false, btr);
            EXPECT_EQ(m.get_rx_btr(), btr) << mod;
        }
    }
}

// Key-up time: MSK and GFSK count as FSK, OQPSK and shaped PSK as PSK.
TEST_F(RC1300, KeyupLengthByModulationClass)
{
    // defaults: scrambler off (s = -17), FREQGAIN = FREQGAIN2 = 10,
    // TMGGAIN 213, DATARATE 6827: timing term floor(6827 * 3 / 213) = 96
    const unsigned fsk = unsigned(-17 + 19 + (75 * 1024 + 3) / 4 + 96);
    const unsigned psk = unsigned(-17 + 185 + 96);
    const unsigned other = unsigned(-17 + 51 + 96);
    struct Case {
        uint8_t modulation;
        unsigned length;
    } cases[] = {
        {0x00, other}, {0x02, other}, {0x04, psk}, {0x05, psk}, {0x06, psk},
        {0x07, fsk},   {0x40, fsk},   {0x60, fsk},
    };
    for (const Case& c : cases) {
        m.set_register_chipvalue(R::MODULATION_RX, c.modulation);
        EXPECT_EQ(m.get_txkeyup_length(), c.length) << int(c.modulation);
    }
}


// Of the hand-written 4-bit codes only FSK 8 to 11 carry a factor for rate,
// timing recovery and transmit code; GFSK 12 to 15 count once, except in the key-up time.
TEST_F(RC1300, HandWrittenFourBitCodes)
{
    m.set_register_chipvalue(R::CICDECLO, 25);
    m.set_register_chipvalue(39, 0x03); // DATARATE 1000
    m.set_register_chipvalue(40, 0xE8);
    m.set_register_chipvalue(41, 0x00); // TMGGAIN 60
    m.set_register_chipvalue(42, 60);
    struct Case {
        uint8_t code;
        unsigned k, keyup_k;
        uint8_t tx_fsk;
    } cases[] = {
        {0x09, 2, 2, 0x41},
        {0x0B, 4, 4, 0x43},
        {0x0D, 1, 2, 0x40},
        {0x45, 6, 6, 0x45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.code));
        m.set_register_chipvalue(R::MODULATION_RX, c.code);
        EXPECT_NEAR(m.get_rx_bitrate(), 8e6 * 2048 / (1000.0 * c.k * 25), 1e-9);
        EXPECT_EQ(m.get_rx_btr(), 60 * 20 > 1000 * c.k ? 1 : 0);
        EXPECT_NEAR(m.convert_frequencyoffset(100), m.get_rx_bitrate() * c.k * 100 / 65536.0, 1e-9);
        // FREQGAIN 10, scrambler off
        EXPECT_EQ(m.get_txkeyup_length(), unsigned(-17 + 19 + (75 * 1024 + 3) / 4 + 1000 * 3 * c.keyup_k / 60));
        m.set_tx(5000, 10000, MOD_FSK, false);
        EXPECT_EQ(reg(R::MODULATION_TX), c.tx_fsk);
    }
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
