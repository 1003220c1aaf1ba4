#include <climits>
#include <memory>

#include "ChipSupport.h"

namespace KORVIK {
namespace chips_test {
namespace {

// Behaviour the three pattern-match chips share.
template <class Model>
class PatternMatch : public ::testing::Test {
protected:
    CerrCapture quiet;
    MemoryBoard board;
    Recording<Model> m{&board};
};

using Chips = ::testing::Types<RC1400Model, RC1300Model, RC1100Model>;
TYPED_TEST_SUITE(PatternMatch, Chips);

TYPED_TEST(PatternMatch, PreambleLengthRoundsUpToWholeNibbles)
{
    struct { unsigned request, bits; } cases[] = {
        {0, 4}, {1, 4}, {3, 4}, {4, 4}, {5, 8}, {6, 8}, {7, 8}, {8, 8}, {9, 12},
        {31, 32}, {32, 32}, {33, 32}, {1000, 32}, {UINT_MAX, 32},
    };
    for (auto& c : cases) {
        this->m.set_preamble_length(c.request);
        EXPECT_EQ(this->m.get_preamble_length(), c.bits) << c.request;
        EXPECT_EQ(field(this->m, "FRMMODE"), 0u) << "the length must not touch the framing";
    }
}

TYPED_TEST(PatternMatch, PreamblePatternIsHeldLeftAligned)
{
    auto& m = this->m;
    m.set_preamble_length(16);
    m.set_preamble(0xABCD);
    EXPECT_EQ(m.get_crcinit(), 0xABCD0000u);
    EXPECT_EQ(field(m, "CRCINIT") >> 24, 0xABu); // CRCINIT3 holds the first bits
    EXPECT_EQ(m.get_preamble(), 0xABCDu);

    m.set_preamble_length(32);
    m.set_preamble(0x12345678);
    EXPECT_EQ(m.get_crcinit(), 0x12345678u);
    EXPECT_EQ(m.get_preamble(), 0x12345678u);

    m.set_preamble_length(4);
    m.set_preamble(0x1F); // only the low nibble fits
    EXPECT_EQ(m.get_crcinit(), 0xF0000000u);
    EXPECT_EQ(m.get_preamble(), 0xFu);

    // a longer pattern window shows the bits that follow
    m.set_preamble_length(8);
    EXPECT_EQ(m.get_preamble(), 0xF0u);
}

TYPED_TEST(PatternMatch, RawPreambleMatchFramingIsReported)
{
    auto& m = this->m;
    std::list<std::string> names = m.get_supported_framingmodes();
    int id = 0;
    for (const std::string& n : names) {
        if (n == "Raw Preamble Match")
            break;
        ++id;
    }
    ASSERT_LT(id, int(names.size()));
    m.set_framingmode(id);
    EXPECT_EQ(m.get_framingmode(), id);
    EXPECT_TRUE(m.is_framingmode_rawpreamblematch());
    EXPECT_FALSE(m.is_framingmode_raw());
    EXPECT_FALSE(m.is_framingmode_hdlc());
    EXPECT_EQ(m.get_postamble_length(), 48u);
    // the preamble length counts in the transmit head
    m.set_preamble_length(32);
    USBDeviceCurrents c = m.get_currents();
    EXPECT_DOUBLE_EQ(c.values[8], (m.get_txkeyup_length() + 32) * c.values[6]);
    EXPECT_DOUBLE_EQ(c.values[9], 48 * c.values[6]);
}

TYPED_TEST(PatternMatch, RangesAreFourBitsAndCommitted)
{
    auto& m = this->m;
    m.set_rx_range(UINT_MAX);
    m.set_tx_range(0x13);
    EXPECT_EQ(m.get_rx_range(), 15u);
    EXPECT_EQ(m.get_tx_range(), 3u);
    for (unsigned i = 0; i < m.get_registers(); ++i)
        EXPECT_EQ(m.get_register_changemask(i), 0) << "set_*_range commits";
}

// Every setter clamps; nothing may reach a double-to-integer conversion out
// of range (the suite runs under UBSan).
TYPED_TEST(PatternMatch, BadInputIsClamped)
{
    auto& m = this->m;
    const double bad[] = {NaN, Inf, -Inf, 1e300, -1e300, -1, 0};
    for (double v : bad) {
        SCOPED_TRACE(v);
        m.set_rx(v, v, INT_MAX, true, INT_MIN);
        m.set_rx(v, v, INT_MIN, false, INT_MAX);
        m.set_tx(v, v, INT_MAX, true);
        m.set_tx(v, v, INT_MIN, false);
        m.set_rx_modulation(INT_MIN);
        m.set_tx_modulation(INT_MAX);
        m.set_rx_carrierfrequency(v);
        m.set_tx_carrierfrequency(v);
        m.set_rx_bandwidth(v);
        m.set_tx_deviation(v);
        m.set_rx_bitrate(v);
        m.set_tx_bitrate(v);
        m.set_rx_btr(INT_MIN);
        m.set_tx_power(v);
        m.step_tx_power(INT_MIN);
        m.step_tx_power(INT_MAX);
        m.set_iffrequency(v);
        m.set_framingmode(INT_MIN);
        m.set_framingmode(INT_MAX);
        m.set_crcmode(INT_MIN);
        m.set_preamble(UINT_MAX);
        m.set_preamble_length(UINT_MAX);
        m.set_xtal_tolerance(v);
        m.set_xtal_frequency(0);

        EXPECT_TRUE(std::isfinite(m.get_rx_carrierfrequency()));
        EXPECT_TRUE(std::isfinite(m.get_tx_carrierfrequency()));
        EXPECT_GE(m.get_tx_bitrate(), 0);
        EXPECT_LE(m.get_tx_bitrate(), 1.01e6);
        EXPECT_GE(m.get_tx_deviation(), 0);
        EXPECT_LE(m.get_tx_deviation(), 1.01e6);
        EXPECT_TRUE(std::isfinite(m.get_rx_bitrate()));
        EXPECT_TRUE(std::isfinite(m.get_rx_bandwidth()));
        EXPECT_TRUE(std::isfinite(m.get_iffrequency()));
        EXPECT_TRUE(std::isfinite(m.get_tx_power()));
        EXPECT_GE(m.get_tx_modulation(), 0);
        EXPECT_LE(m.get_tx_modulation(), MOD_4FSK);
        m.get_currents();
        m.get_txkeyup_length();
        m.get_agcreference();
        m.convert_frequencyoffset(INT_MIN);
    }
    EXPECT_EQ(m.get_xtal_frequency(), 3900000u);
}

TYPED_TEST(PatternMatch, LowBitrateAndHugeBandwidthStayInRange)
{
    auto& m = this->m;
    m.set_xtal_frequency(32100000);
    for (int mod = 0; mod <= MOD_4FSK; ++mod) {
        for (int btr : {0, 1}) {
            m.set_rx(1000000, 100, mod, false, btr);
            m.set_rx(100, 1000000, mod, false, btr);
            m.set_tx(1000000, 100, mod, false);
            m.set_tx(0, 1000000, mod, false);
            EXPECT_TRUE(std::isfinite(m.get_rx_bitrate()));
            EXPECT_NEAR(m.get_tx_bitrate(), 1000000, 1000000 * 0.01) << mod;
        }
    }
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
