#include <memory>
#include <set>

#include "ChipSupport.h"

namespace KORVIK {
namespace chips_test {
namespace {

struct ChipCase {
    ModelFactory factory;
    const char* name;
    unsigned chipflags;
    unsigned registers;
    unsigned bitfields;
};

const ChipCase chip_cases[] = {
    {create_rc1400_model, "RC1400", 1, 56, 61},
    {create_rc1300_model, "RC1300", 3, 50, 54},
    {create_rc1100_model, "RC1100", 2, 35, 29},
};

class ChipTables : public ::testing::TestWithParam<ChipCase> {
protected:
    std::unique_ptr<GreyfinModel> make()
    {
        CerrCapture cerr;
        std::unique_ptr<GreyfinModel> m(GetParam().factory(nullptr));
        construction_output = cerr.text();
        return m;
    }
    std::string construction_output;
};

TEST_P(ChipTables, CountsNamesAndDefaults)
{
    auto m = make();
    EXPECT_EQ(m->get_chip_name(), GetParam().name);
    EXPECT_EQ(m->get_chipflags(), GetParam().chipflags);
    ASSERT_EQ(m->get_registers(), GetParam().registers);
    ASSERT_EQ(m->get_bitfields(), GetParam().bitfields);
    // receive/transmit copies are flagged consistently: no warning
    EXPECT_EQ(construction_output, "");

    std::set<uint16_t> addresses;
    for (unsigned i = 0; i < m->get_registers(); ++i) {
        EXPECT_NE(m->get_register_name(i), "??") << i;
        EXPECT_EQ(m->get_register_chipvalue(i), m->get_register_defaultvalue(i)) << i;
        EXPECT_EQ(m->get_register_nvvalue(i), m->get_register_defaultvalue(i)) << i;
        EXPECT_TRUE(addresses.insert(m->get_register_operatingaddr(i)).second)
            << "operating address used twice: " << m->get_register_name(i);
        // copies of one chip register live at operating addresses 0x80 and above
        if (m->is_register_shared(i)) {
            EXPECT_GE(m->get_register_operatingaddr(i), 0x80) << m->get_register_name(i);
        }
    }
    for (unsigned i = 0; i < m->get_bitfields(); ++i) {
        EXPECT_GT(m->get_bitfield_bitlength(i), 0u) << m->get_bitfield_name(i);
        EXPECT_EQ(m->get_bitfield_changemask(i), 0u);
    }
}

TEST_P(ChipTables, ReceiveAndTransmitCopiesAreShared)
{
    auto m = make();
    for (unsigned i = 0; i < m->get_registers(); ++i) {
        std::string n = m->get_register_name(i);
        if (n == "FREQ3" || n == "FREQ0" || n == "PLLLOOP" || n == "PLLRANGING") {
            EXPECT_TRUE(m->is_register_shared(i)) << n;
        }
        if (n == "XTALOSC" || n == "IFMODE" || n == "FRAMING" || n == "TXPWR") {
            EXPECT_FALSE(m->is_register_shared(i)) << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllChips, ChipTables, ::testing::ValuesIn(chip_cases),
                         [](const ::testing::TestParamInfo<ChipCase>& p) { return std::string(p.param.name); });

struct RegisterSpot {
    unsigned index;
    const char* name;
    uint16_t chipaddr;
    uint16_t operatingaddr;
    uint8_t defaultvalue;
    uint8_t mask;
    bool receive, transmit, shared;
};

void check_spots(GreyfinModel& m, std::initializer_list<RegisterSpot> spots)
{
    for (const RegisterSpot& s : spots) {
        SCOPED_TRACE(s.index);
        EXPECT_EQ(m.get_register_name(s.index), s.name);
        EXPECT_EQ(m.get_register_chipaddr(s.index), s.chipaddr);
        EXPECT_EQ(m.get_register_operatingaddr(s.index), s.operatingaddr);
        EXPECT_EQ(m.get_register_defaultvalue(s.index), s.defaultvalue);
        EXPECT_EQ(m.get_register_mask(s.index), s.mask);
        EXPECT_EQ(m.is_register_receive(s.index), s.receive);
        EXPECT_EQ(m.is_register_transmit(s.index), s.transmit);
        EXPECT_EQ(m.is_register_shared(s.index), s.shared);
    }
}

void check_bitlengths(GreyfinModel& m, std::initializer_list<std::pair<const char*, unsigned>> lengths)
{
    for (auto& l : lengths) {
        unsigned i = bitfield(m, l.first);
        ASSERT_LT(i, m.get_bitfields()) << l.first;
        EXPECT_EQ(m.get_bitfield_bitlength(i), l.second) << l.first;
    }
}

TEST(RC1400Table, SpotRows)
{
    RC1400Model m(nullptr);
    check_spots(m, {
        {2, "MODULATION", 0x10, 0x85, 0x02, 0x7F, true, false, true},
        {3, "MODULATION", 0x10, 0x92, 0x02, 0x7F, false, true, true},
        {4, "ENCODING", 0x11, 0x11, 0x02, 0x1F, true, true, false},
        {23, "PLLRANGING", 0x2D, 0x93, 0x08, 0x0F, false, true, true},
        {33, "CICDECLO", 0x3F, 0x88, 0x04, 0xFF, true, false, true},
        {39, "CICDECLO", 0x3F, 0x95, 0x04, 0xFF, false, true, true},
        {43, "TMGGAINLO", 0x43, 0x99, 0xD5, 0xFF, false, true, true},
        {45, "FREQGAIN", 0x45, 0x45, 0x0A, 0x8F, true, false, false},
        {49, "FOURFSK", 0x50, 0x9A, 0x42, 0x7F, true, false, true},
        {50, "FOURFSK", 0x50, 0x9B, 0x42, 0x7F, false, true, true},
        {54, "FSKDMINLO", 0x55, 0x55, 0x00, 0xFF, true, false, false},
        {55, "PLLVCOI", 0x72, 0x72, 0x04, 0x3F, true, true, false},
    });
    check_bitlengths(m, {{"CRCINIT", 32}, {"FREQ (Rx)", 32}, {"FREQ (Tx)", 32}, {"FSKDEV", 16}, {"TXRATE", 16},
                         {"TXCICDEC", 10}, {"CICDEC", 10}, {"FSKDMIN", 16}, {"FSKDMAX", 16}, {"MATCHLEN", 3},
                         {"MODULATION (Rx)", 7}, {"DEVDECAY (Rx)", 4}, {"ENC NOSYNC", 1}});
    // the transmit deviation lives in the transmit copy of TMGGAIN
    m.set_bitfield_chipvalue(bitfield(m, "FSKDEV"), 0x1234);
    EXPECT_EQ(m.get_register_chipvalue(42), 0x12);
    EXPECT_EQ(m.get_register_chipvalue(43), 0x34);
    EXPECT_EQ(m.get_register_chipvalue(37), 0xD5); // receive copy untouched
    EXPECT_EQ(m.get_bitfield_tooltip(bitfield(m, "MATCHLEN")), "Pattern Match Length in Nibbles");
    EXPECT_EQ(m.get_bitfield_description(bitfield(m, "CRCINIT")), "Pattern Match Values");
    EXPECT_EQ(m.get_bitfield_tooltip(bitfield(m, "VCOI")), "");
    // MATCHLEN and HSUPP overlap in bit 6
    m.set_bitfield_chipvalue(bitfield(m, "MATCHLEN"), 7);
    EXPECT_EQ(field(m, "HSUPP"), 1u);
}

TEST(RC1300Table, SpotRows)
{
    RC1300Model m(nullptr);
    check_spots(m, {
        {2, "MODULATION", 0x10, 0x85, 0x02, 0x7F, true, false, true},
        {3, "MODULATION", 0x10, 0x8C, 0x02, 0x7F, false, true, true},
        {23, "PLLLOOP", 0x2C, 0x86, 0x05, 0x3F, true, false, true},
        {24, "PLLLOOP", 0x2C, 0x8D, 0x05, 0x3F, false, true, true},
        {38, "CICDECLO", 0x3F, 0x3F, 0x04, 0x3F, true, false, false},
        {46, "AMPLGAIN", 0x47, 0x47, 0x06, 0x3F, true, false, false},
        {49, "REF", 0x7C, 0x7C, 0x23, 0x3F, true, true, false},
    });
    check_bitlengths(m, {{"CRCINIT", 32}, {"FSKDEV", 24}, {"TXRATE", 24}, {"IFFREQ", 16}, {"CICDEC", 6},
                         {"DATARATE", 16}, {"REFI", 3}, {"REFV", 3}, {"FREQLIM", 1}});
    EXPECT_EQ(field(m, "REFV"), 4u);
    EXPECT_EQ(field(m, "REFI"), 3u);
    // CICDEC is 6 bits: the mask keeps bits 7:6 at their default
    m.set_bitfield_chipvalue(bitfield(m, "CICDEC"), 0xFF);
    EXPECT_EQ(m.get_register_chipvalue(38), 0x3F);
}

TEST(RC1100Table, SpotRows)
{
    RC1100Model m(nullptr);
    check_spots(m, {
        {0, "XTALOSC", 0x03, 0x03, 0x02, 0x0F, true, true, false},
        {2, "MODULATION", 0x10, 0x10, 0x02, 0x7F, false, true, false},
        {9, "FEC", 0x18, 0x18, 0x00, 0xFF, true, true, false},
        {17, "FREQ0", 0x23, 0x89, 0xCD, 0xFF, false, true, true},
        {21, "PLLLOOP", 0x2C, 0x8A, 0x1D, 0x3F, true, false, true},
        {24, "PLLRANGING", 0x2D, 0x85, 0x08, 0x0F, false, true, true},
        {31, "XTALCAP", 0x4F, 0x4F, 0x3F, 0x3F, true, true, false},
        {32, "FOURFSK", 0x50, 0x50, 0x00, 0x01, false, true, false},
        {33, "XTALOSCCFG", 0x51, 0x51, 0x00, 0x03, true, true, false},
    });
    check_bitlengths(m, {{"CRCINIT", 32}, {"FSKDEV", 24}, {"TXRATE", 24}, {"MODULATION (Tx)", 7},
                         {"FOURFSKENA (Tx)", 1}, {"XTALCAP", 6}});
    // the chip has no receiver registers at all
    EXPECT_EQ(bitfield(m, "CICDEC"), m.get_bitfields());
    EXPECT_EQ(bitfield(m, "MODULATION (Rx)"), m.get_bitfields());
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
