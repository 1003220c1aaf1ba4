// Register and bitfield store, NV area encodings, board access and the
// vocabulary computations of the base model.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <tuple>

#include "ModelSupport.h"
#include "support/InertModel.h"

using namespace KORVIK;
using namespace KORVIK::model_test;

namespace {

/// A model with hand-made tables and settable vocabulary answers.
template <class Base>
class TableModel : public testing_support::InertModel<Base> {
public:
    explicit TableModel(EvUSBBoard* board) : testing_support::InertModel<Base>(board) {}

    void add_register(const char* name, uint16_t chipaddr, uint16_t opaddr, uint8_t def, uint8_t mask, uint32_t flags)
    {
        this->registers.emplace_back(name, chipaddr, opaddr, def, mask, flags);
    }
    void add_bitfield(const char* name, std::vector<BitfieldSegment> segments)
    {
        Bitfield b;
        b.name = name;
        b.description = std::string(name) + " description";
        b.tooltip = std::string(name) + " tooltip";
        b.segments = std::move(segments);
        this->bitfields.push_back(b);
    }
    void mark() { this->mark_shared_registers(); }

    bool inv = false, diff = false, scram = false, manch = false;
    int crcmode = 0;
    double rx_bitrate = 0, tx_bitrate = 0;
    bool hdlc = false;

    std::string get_chip_name() override { return "TEST"; }
    unsigned get_chipflags() override { return 3; }
    double get_rx_bitrate() override { return rx_bitrate; }
    double get_tx_bitrate() override { return tx_bitrate; }
    bool is_framingmode_raw() override { return !hdlc; }
    bool is_framingmode_hdlc() override { return hdlc; }
    bool is_framingmode_crcsupported() override { return hdlc; }
    bool get_enc_invert() override { return inv; }
    bool get_enc_diff() override { return diff; }
    bool get_enc_scrambler() override { return scram; }
    bool get_enc_manchester() override { return manch; }
    int get_crcmode() override { return crcmode; }
    bool is_crcmode_ccitt() override { return crcmode == 0; }
    bool is_crcmode_crc16() override { return crcmode == 1; }
    bool is_crcmode_crc32() override { return crcmode == 2; }
    unsigned get_txkeyup_length() override { return 10; }
    unsigned get_postamble_length() override { return 4; }
};

using StoreModel = TableModel<GreyfinModel>;
using Addr12Model = TableModel<GreyfinModelAddr12>;

class Store : public ::testing::Test {
protected:
    Store() : model(&board)
    {
        model.add_register("A", 0x10, 0x10, 0x5A, 0xF0, REG_RECEIVE | REG_TRANSMIT);  // 0
        model.add_register("B", 0x11, 0x11, 0x00, 0xFF, REG_RECEIVE | REG_TRANSMIT);  // 1
        model.add_register("C", 0x12, 0x85, 0x00, 0xFF, REG_RECEIVE);                 // 2
        model.add_register("D", 0x13, 0x13, 0x03, 0x00, REG_RECEIVE | REG_TRANSMIT);  // 3, fixed
        model.add_register("E", 0x14, 0x14, 0x81, 0x7E, REG_TRANSMIT);                // 4
        // 32 bits over four registers, with odd positions and widths
        model.add_bitfield("WIDE", {{1, 0, 8}, {2, 0, 8}, {4, 1, 6}, {0, 4, 4}});     // 26 bits
        model.add_bitfield("NIBBLE", {{0, 4, 4}});
        model.add_bitfield("FIXED", {{3, 0, 2}});
        model.mark();
    }
    MemoryBoard board;
    StoreModel model;
};

TEST_F(Store, MaskKeepsDefaultBitsInEveryWrite)
{
    model.set_register_chipvalue(0, 0x0F); // low nibble outside the mask
    EXPECT_EQ(model.get_register_chipvalue(0), 0x0A);
    model.set_register_chipvalue(3, 0xFF);
    EXPECT_EQ(model.get_register_chipvalue(3), 0x03);
    EXPECT_EQ(model.get_register_changemask(3), 0);
    model.set_register_nvvalue(4, 0x00);
    EXPECT_EQ(model.get_register_nvvalue(4), 0x81);
    model.set_bitfield_chipvalue(2, 0);
    EXPECT_EQ(model.get_bitfield_chipvalue(2), 3u);

    CerrCapture quiet;
    model.commit_registers();
    for (auto& w : board.writes)
        EXPECT_NE(w.first, 0x13) << "a register with mask 0 was written";
}

TEST_F(Store, FrobClearsThenToggles)
{
    model.set_register_chipvalue(1, 0x3C);
    model.frob_register_chipvalue(1, 0, 0);
    EXPECT_EQ(model.get_register_chipvalue(1), 0x3C);
    model.frob_register_chipvalue(1, 0xFF, 0);
    EXPECT_EQ(model.get_register_chipvalue(1), 0xC3);
    model.frob_register_chipvalue(1, 0x05, 0x0F);
    EXPECT_EQ(model.get_register_chipvalue(1), 0xC5);
    model.frob_register_chipvalue(0, 0xFF, 0); // only the masked high nibble flips
    EXPECT_EQ(model.get_register_chipvalue(0), 0xAA);
}

TEST_F(Store, BitfieldOverFourRegistersRoundTrips)
{
    EXPECT_EQ(model.get_bitfield_bitlength(0), 26u);
    for (unsigned v : {0x0u, 0x3FFFFFFu, 0x2A5A5A5u, 0x1234567u, 0x0000001u, 0x2000000u}) {
        model.set_bitfield_chipvalue(0, v);
        EXPECT_EQ(model.get_bitfield_chipvalue(0), v);
    }
    // bits outside the field's segments stay as they were
    model.set_bitfield_chipvalue(0, 0);
    EXPECT_EQ(model.get_register_chipvalue(4), 0x81);
    EXPECT_EQ(model.get_register_chipvalue(0) & 0x0F, 0x0A);
    // bits above the field are dropped
    model.set_bitfield_chipvalue(0, 0xFFFFFFFFu);
    EXPECT_EQ(model.get_bitfield_chipvalue(0), 0x3FFFFFFu);
    EXPECT_EQ(model.get_bitfield_defaultvalue(0), (0x5u << 22) | (0x00u << 16) | 0u);
}

TEST_F(Store, CommitWritesChangesOnceAndSignalsThem)
{
    std::vector<std::tuple<unsigned, unsigned, unsigned>> regsig;
    std::vector<std::pair<unsigned, unsigned>> bfsig;
    model.signal_changed_register.connect(
        [&](unsigned i, uint8_t a, uint8_t v) { regsig.emplace_back(i, a, v); });
    model.signal_changed_bitfield.connect([&](unsigned i, unsigned v) { bfsig.emplace_back(i, v); });

    model.set_register_chipvalue(2, 0x42);
    model.set_register_chipvalue(0, 0x70);
    EXPECT_EQ(model.get_bitfield_changemask(1), 0x5u ^ 0x7u);
    {
        CerrCapture err;
        model.commit_registers();
        EXPECT_EQ(err.text(), "A: value 0x7a\nC: value 0x42\n");
    }
    ASSERT_EQ(board.writes.size(), 2u);
    EXPECT_EQ(board.writes[0], std::make_pair(uint16_t(0x10), uint8_t(0x7A)));
    EXPECT_EQ(board.writes[1], std::make_pair(uint16_t(0x85), uint8_t(0x42)));
    ASSERT_EQ(regsig.size(), 2u);
    EXPECT_EQ(regsig[1], std::make_tuple(2u, 0x85u, 0x42u));
    ASSERT_EQ(bfsig.size(), 2u); // WIDE and NIBBLE, in index order
    EXPECT_EQ(bfsig[0].first, 0u);
    EXPECT_EQ(bfsig[1], std::make_pair(1u, 7u));
    EXPECT_EQ(model.get_register_changemask(0), 0);

    board.writes.clear();
    regsig.clear();
    bfsig.clear();
    {
        CerrCapture err;
        model.commit_registers();
        EXPECT_EQ(err.text(), "");
    }
    EXPECT_TRUE(board.writes.empty());
    EXPECT_TRUE(regsig.empty());
    EXPECT_TRUE(bfsig.empty());

    CerrCapture err;
    model.commit_all_registers();
    EXPECT_EQ(board.writes.size(), 5u);
    EXPECT_TRUE(regsig.empty()) << "nothing changed, so no register signal";
}

TEST_F(Store, LoadsFromDefaultsNvAndChip)
{
    std::vector<uint8_t> nv = {0x10, 0xFF, 0x11, 0x22, 0x85, 0x33, 0x13, 0x77, 0xFF};
    model.set_nvarea(nv);
    EXPECT_EQ(model.get_register_nvvalue(0), 0xFA);
    EXPECT_EQ(model.get_register_nvvalue(3), 0x03);
    model.load_boarddefaults();
    EXPECT_EQ(model.get_register_chipvalue(1), 0x22);
    EXPECT_EQ(model.get_register_chipvalue(2), 0x33);
    model.load_chipdefaults();
    EXPECT_EQ(model.get_register_chipvalue(1), 0x00);

    board.regs[0x85] = 0x99;
    board.regs[0x10] = 0x0F;
    model.load_chipoperating();
    EXPECT_EQ(model.get_register_chipvalue(2), 0x99) << "only the low byte of the 16-bit read counts";
    EXPECT_EQ(model.get_register_chipvalue(0), 0x0A);
}

TEST_F(Store, BaseNvAreaEncoding)
{
    model.set_register_chipvalue(1, 0x12);
    std::vector<uint8_t> expect = {0x10, 0x5A, 0x11, 0x12, 0x85, 0x00, 0x13, 0x03, 0x14, 0x81, 0xFF};
    EXPECT_EQ(model.get_nvarea(), expect);

    StoreModel copy(nullptr);
    for (unsigned i = 0; i < model.get_registers(); ++i)
        copy.add_register("X", 0, model.get_register_operatingaddr(i), model.get_register_defaultvalue(i),
                          model.get_register_mask(i), 0);
    copy.set_nvarea(model.get_nvarea());
    EXPECT_EQ(copy.get_register_nvvalue(1), 0x12);
}

TEST_F(Store, BaseNvAreaIgnoresShortEndAndUnknownAddresses)
{
    model.set_nvarea({});
    model.set_nvarea({0xFF, 0x11, 0x22});
    EXPECT_EQ(model.get_register_nvvalue(1), 0x00);
    model.set_nvarea({0x11, 0x44, 0x14}); // odd trailing address byte
    EXPECT_EQ(model.get_register_nvvalue(1), 0x44);
    EXPECT_EQ(model.get_register_nvvalue(4), 0x81);

    CerrCapture err;
    model.set_nvarea({0x3A, 0x01, 0x11, 0x55});
    EXPECT_EQ(err.text(), "GreyfinModel::set_nvarea: register 0x3a not found\n");
    EXPECT_EQ(model.get_register_nvvalue(1), 0x55);
}

TEST(Addr12, ThreeHundredConsecutiveRegistersSplitIntoTwoRuns)
{
    Addr12Model m(nullptr);
    for (unsigned i = 0; i < 300; ++i)
        m.add_register("R", uint16_t(i), uint16_t(0x100 + i), uint8_t(i), 0xFF, 0);
    std::vector<uint8_t> nv = m.get_nvarea();
    ASSERT_EQ(nv.size(), 1 + 2 + 255 + 1 + 2 + 45 + 1u);
    EXPECT_EQ(nv[0], 0);    // 255 - 255
    EXPECT_EQ(nv[1], 0x71); // two-byte address 0x100
    EXPECT_EQ(nv[2], 0x00);
    EXPECT_EQ(nv[3], 0x00);
    size_t second = 3 + 255;
    EXPECT_EQ(nv[second], 255 - 45);
    EXPECT_EQ(nv[second + 1], 0x71); // 0x100 + 255 = 0x1FF
    EXPECT_EQ(nv[second + 2], 0xFF);
    EXPECT_EQ(nv.back(), 0xFF);

    Addr12Model copy(nullptr);
    for (unsigned i = 0; i < 300; ++i)
        copy.add_register("R", uint16_t(i), uint16_t(0x100 + i), 0, 0xFF, 0);
    copy.set_nvarea(nv);
    for (unsigned i = 0; i < 300; ++i)
        ASSERT_EQ(copy.get_register_nvvalue(i), uint8_t(i)) << i;
}

TEST(Addr12, AddressFormsAndOrderByAddress)
{
    Addr12Model m(nullptr);
    m.add_register("HI", 0, 0x8005, 0x11, 0xFF, 0);
    m.add_register("LOW", 0, 0x0020, 0x22, 0xFF, 0);
    m.add_register("MID", 0, 0x0070, 0x33, 0xFF, 0);
    m.add_register("LOW2", 0, 0x0021, 0x44, 0xFF, 0);
    std::vector<uint8_t> expect = {253, 0x20, 0x22, 0x44, 254, 0x70, 0x70, 0x33, 254, 0x85, 0x11, 0xFF};
    EXPECT_EQ(m.get_nvarea(), expect);

    m.set_nvarea({254, 0x85, 0x99, 253, 0x20, 0x01, 0x02, 0xFF, 254, 0x70, 0x70, 0x55});
    EXPECT_EQ(m.get_register_nvvalue(0), 0x99);
    EXPECT_EQ(m.get_register_nvvalue(1), 0x01);
    EXPECT_EQ(m.get_register_nvvalue(3), 0x02);
    EXPECT_EQ(m.get_register_nvvalue(2), 0x33) << "data after the end marker is ignored";

    CerrCapture err;
    m.set_nvarea({254, 0x30, 0x01, 252, 0x70}); // unknown address, then a truncated run
    EXPECT_EQ(err.text(), "GreyfinModel::set_nvarea: register 0x30 not found\n");
}

TEST(NvArea, RandomBytesNeverReadOutOfBounds)
{
    std::mt19937 rng(1234);
    StoreModel base(nullptr);
    Addr12Model addr12(nullptr);
    for (unsigned i = 0; i < 40; ++i) {
        base.add_register("R", 0, uint16_t(i * 3), 0, 0xFF, 0);
        addr12.add_register("R", 0, uint16_t(i * 37), 0, 0xFF, 0);
    }
    CerrCapture quiet;
    for (int round = 0; round < 600; ++round) {
        std::vector<uint8_t> bytes(rng() % 600);
        for (auto& b : bytes)
            b = uint8_t(rng() % (round % 2 ? 256 : 4) + (round % 3 ? 0 : 250));
        base.set_nvarea(bytes);
        addr12.set_nvarea(bytes);
    }
    SUCCEED();
}

TEST_F(Store, SharedFlagsAndFlagErrors)
{
    StoreModel m(nullptr);
    m.add_register("RX", 0x20, 0x81, 0, 0xFF, REG_RECEIVE);
    m.add_register("ALONE", 0x21, 0x21, 0, 0xFF, REG_RECEIVE);
    m.add_register("TX", 0x20, 0x88, 0, 0xFF, REG_TRANSMIT);
    m.add_register("RX2", 0x30, 0x82, 0, 0xFF, REG_RECEIVE);
    m.add_register("RX3", 0x30, 0x83, 0, 0xFF, REG_RECEIVE);
    CerrCapture err;
    m.mark();
    EXPECT_EQ(err.text(), "Register RX3 shared, but flag error\n");
    EXPECT_TRUE(m.is_register_shared(0));
    EXPECT_TRUE(m.is_register_shared(2));
    EXPECT_FALSE(m.is_register_shared(1));
    EXPECT_TRUE(m.is_register_receive(1));
    EXPECT_TRUE(m.is_register_shared(3) && m.is_register_shared(4));
}

TEST_F(Store, OutOfRangeIndexIsNeutral)
{
    const unsigned bad = 1000;
    EXPECT_EQ(model.get_register_name(bad), "");
    EXPECT_EQ(model.get_register_chipvalue(bad), 0);
    EXPECT_EQ(model.get_register_changemask(bad), 0);
    EXPECT_FALSE(model.is_register_shared(bad));
    model.set_register_chipvalue(bad, 1);
    model.frob_register_chipvalue(bad, 1, 1);
    model.set_register_nvvalue(bad, 1);
    EXPECT_EQ(model.get_bitfield_name(bad), "");
    EXPECT_EQ(model.get_bitfield_tooltip(bad), "");
    EXPECT_EQ(model.get_bitfield_bitlength(bad), 0u);
    EXPECT_EQ(model.get_bitfield_chipvalue(bad), 0u);
    model.set_bitfield_chipvalue(bad, 1);
}

TEST_F(Store, BoardAccessWithoutBoardThrowsNamedErrors)
{
    StoreModel m(nullptr);
    m.add_register("A", 1, 1, 0, 0xFF, 3);
    auto message = [](auto f) {
        try {
            f();
        } catch (const std::runtime_error& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message([&] { m.evusb_write(1, 1); }), "GreyfinModel::evusb_write");
    EXPECT_EQ(message([&] { m.evusb_read16(1); }), "GreyfinModel::evusb_read16");
    EXPECT_EQ(message([&] { m.evusb_set_ethstate(1); }), "GreyfinModel::evusb_set_ethstate");
    EXPECT_EQ(message([&] { m.evusb_get_ethstate(); }), "GreyfinModel::evusb_get_ethstate");
    m.set_register_chipvalue(0, 5);
    EXPECT_EQ(message([&] { m.commit_registers(); }), "GreyfinModel::evusb_write");
    m.start_chip_reprogramming(3); // no board: nothing happens

    model.evusb_set_ethstate(7);
    EXPECT_EQ(model.evusb_get_ethstate(), 7);
}

TEST_F(Store, RegisterDumpLayout)
{
    board.regs[0x00] = 0x01;
    board.regs[0x9F] = 0xFE;
    std::string dump = model.debug_register_dump();
    EXPECT_EQ(dump.substr(0, 22), "Register Dump\n000: 01 ");
    EXPECT_NE(dump.find("\n010: 00"), std::string::npos);
    EXPECT_EQ(dump.substr(dump.size() - 4), " FE\n");
    EXPECT_EQ(dump.size(), 14 + 10 * 4 + 160 * 3 + 9 + 1);
}

TEST(Vocabulary, ModulationPredicates)
{
    StoreModel m(nullptr);
    EXPECT_TRUE(m.is_modulation_fsk(MOD_MSK));
    EXPECT_TRUE(m.is_modulation_psk(MOD_OQPSK));
    EXPECT_FALSE(m.is_modulation_psk(MOD_MSK));
    EXPECT_TRUE(m.is_modulation_ask(MOD_ASK_SHAPED_COHERENT));
    EXPECT_FALSE(m.is_modulation_fsk(MOD_4FSK));
    EXPECT_FALSE(m.is_modulation_ask(MOD_4FSK));
    for (int s : {2, 3, 5, 9})
        EXPECT_TRUE(m.is_modulation_shaped(s));
    for (int s : {0, 1, 4, 6, 7, 8, 10})
        EXPECT_FALSE(m.is_modulation_shaped(s));
}

TEST(Vocabulary, KeyupByteFollowsEncoding)
{
    StoreModel m(nullptr);
    EXPECT_EQ(m.get_txkeyup(), 0x55);
    m.scram = true;
    EXPECT_EQ(m.get_txkeyup(), 0x55);
    m.scram = false;
    m.diff = true;
    EXPECT_EQ(m.get_txkeyup(), 0xFF);
    m.inv = true;
    EXPECT_EQ(m.get_txkeyup(), 0x00);
    m.manch = true;
    EXPECT_EQ(m.get_txkeyup(), 0xFF);
}

TEST(Vocabulary, CrcLengthAndCurrents)
{
    StoreModel m(nullptr);
    EXPECT_EQ(m.get_crclength(), 2u);
    m.crcmode = 2;
    EXPECT_EQ(m.get_crclength(), 4u);
    m.crcmode = 5;
    EXPECT_EQ(m.get_crclength(), 0u);

    m.rx_bitrate = 1000;
    USBDeviceCurrents c = m.get_currents();
    EXPECT_DOUBLE_EQ(c.values[5], 0.001);
    EXPECT_TRUE(std::isnan(c.values[6]));
    EXPECT_TRUE(std::isnan(c.values[8]));
    EXPECT_TRUE(std::isnan(c.values[9]));
    EXPECT_TRUE(std::isnan(c.values[0]));

    m.crcmode = 2;
    m.hdlc = true;
    m.tx_bitrate = 100;
    c = m.get_currents();
    EXPECT_DOUBLE_EQ(c.values[8], (10 + 8) * 0.01);
    EXPECT_DOUBLE_EQ(c.values[9], (4 + 8 + 4) * 0.01);
}

TEST(Vocabulary, BaseTolerancesAndCrystalSignal)
{
    StoreModel m(nullptr);
    int xtal = 0, tol = 0;
    m.signal_changed_xtal_frequency.connect([&] { ++xtal; });
    m.signal_changed_xtal_tolerance.connect([&] { ++tol; });
    m.set_xtal_frequency(16000000);
    EXPECT_EQ(xtal, 0);
    m.set_xtal_frequency(12000000);
    EXPECT_EQ(xtal, 1);
    m.set_xtal_tolerance(NAN);
    EXPECT_EQ(m.get_xtal_tolerance(), 0.0);
    m.set_xtal_tolerance(INFINITY);
    EXPECT_EQ(m.get_xtal_tolerance(), 1000000.0);
    EXPECT_EQ(tol, 2);
}

} // namespace
