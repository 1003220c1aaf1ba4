// NV sector bytes (pure functions) and the board's flash read, write and
// verify through the simulated flash.
#include <cstring>
#include <random>
#include <stdexcept>

#include <gtest/gtest.h>

#include "BoardFixtures.h"
#include "board/NvSector.h"

using namespace KORVIK;
using testing_support::FakeModel;
using testing_support::RecordingBoard;

namespace {

std::vector<uint8_t> bytes(const uint8_t* p, size_t n)
{
    return std::vector<uint8_t>(p, p + n);
}

NvContents sample_contents()
{
    NvContents c;
    c.serial = "12345";
    const uint8_t mac[6] = {0x00, 0x12, 0x34, 0x0A, 0x0B, 0xFE};
    const uint8_t radio[6] = {0x00, 0x12, 0x34, 0x0A, 0x0B, 0xFF};
    std::memcpy(c.ethernet_mac, mac, 6);
    std::memcpy(c.radio_ethernet_mac, radio, 6);
    c.defaults.has_model = true;
    c.defaults.xtal_frequency = 16000000;
    c.defaults.xtal_tolerance = 2.5;
    c.defaults.area = {0x00, 0x11, 0x01, 0x22, 0xFF};
    c.defaults.chacc.preamble = 33;
    c.defaults.chacc.addr2[5] = 0x42;
    return c;
}

} // namespace

TEST(NvSectorBytes, FirstLayoutRoundTrip)
{
    uint8_t s[NV_SECTOR_BYTES];
    build_nvsector_first(sample_contents(), s);

    // serial descriptor: 5 digits padded with '0' to 7 UTF-16 characters
    EXPECT_EQ(bytes(s, 16), (std::vector<uint8_t>{0x10, 3, '1', 0, '2', 0, '3', 0, '4', 0, '5', 0, '0', 0, '0', 0}));
    EXPECT_EQ(bytes(s + 0x10, 6), (std::vector<uint8_t>{0x1A, 3, '0', 0, '0', 0}));
    EXPECT_EQ(bytes(s + 0x26, 6), (std::vector<uint8_t>{'F', 0, 'E', 0, 0xFF, 0xFF}));
    EXPECT_EQ(bytes(s + 0x38, 8), (std::vector<uint8_t>{0x00, 0x24, 0xF4, 0x00, 0x80, 0x02, 0x00, 0x00}));
    EXPECT_EQ(s[0x40 + 6], 33);
    EXPECT_EQ(s[0x49 + 11], 0x42);
    EXPECT_EQ(bytes(s + 0x55, 6), (std::vector<uint8_t>{0x00, 0x11, 0x01, 0x22, 0xFF, 0xFF}));
    for (unsigned i : {0x2Au, 0x2Fu, 0x36u, 0x37u, 0x1D4u, 0x1D5u, 0x1FFu})
        EXPECT_EQ(s[i], 0xFF) << i;

    NvContents back = parse_nvsector_first(s);
    EXPECT_TRUE(back.has_serial);
    EXPECT_EQ(back.serial, "1234500");
    EXPECT_TRUE(back.has_ethernet_mac);
    EXPECT_EQ(bytes(back.ethernet_mac, 6), bytes(sample_contents().ethernet_mac, 6));
    EXPECT_EQ(bytes(back.radio_ethernet_mac, 6), bytes(sample_contents().radio_ethernet_mac, 6));
    EXPECT_EQ(back.defaults.xtal_frequency, 16000000u);
    EXPECT_EQ(back.defaults.xtal_tolerance, 2.5);
    EXPECT_EQ(back.defaults.chacc.preamble, 33);
    EXPECT_EQ(back.defaults.area.size(), size_t(NV_AREA_BYTES));
}

TEST(NvSectorBytes, SerialRules)
{
    uint8_t s[NV_SECTOR_BYTES];
    std::memset(s, 0xFF, sizeof s);
    std::string serial = "unchanged";
    EXPECT_FALSE(nv_get_serial(s, serial));
    EXPECT_EQ(serial, "unchanged");

    nv_put_serial(s, "12AB34");
    EXPECT_TRUE(nv_get_serial(s, serial));
    EXPECT_EQ(serial, "12340"); // letters are lost, the padding digit stays
    nv_put_serial(s, "123456789");
    EXPECT_TRUE(nv_get_serial(s, serial));
    EXPECT_EQ(serial, "1234567");
}

TEST(NvSectorBytes, MacTextStopsAtFirstBadPair)
{
    uint8_t s[NV_SECTOR_BYTES];
    std::memset(s, 0xFF, sizeof s);
    uint8_t mac[6] = {1, 1, 1, 1, 1, 1};
    EXPECT_FALSE(nv_get_mac_text(s, 0x10, mac));
    EXPECT_EQ(mac[0], 1);

    const uint8_t good[6] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02};
    nv_put_mac_text(s, 0x10, good);
    s[0x10 + 2 + 4 * 2 + 2] = 'x'; // second digit of byte 2
    ASSERT_TRUE(nv_get_mac_text(s, 0x10, mac));
    EXPECT_EQ(bytes(mac, 6), (std::vector<uint8_t>{0xDE, 0xAD, 0x0B, 0xFF, 0xFF, 0xFF}));
    s[0x10 + 2] = 'g';
    ASSERT_TRUE(nv_get_mac_text(s, 0x10, mac));
    EXPECT_EQ(bytes(mac, 6), (std::vector<uint8_t>{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(NvSectorBytes, ToleranceFixedPoint)
{
    EXPECT_EQ(nv_encode_tolerance(2.5), 0x280);
    EXPECT_EQ(nv_encode_tolerance(-2.5), -0x280);
    EXPECT_EQ(nv_encode_tolerance(1e12), INT32_MAX);
    EXPECT_EQ(nv_encode_tolerance(-1e12), INT32_MIN);
    EXPECT_EQ(nv_encode_tolerance(NAN), 0);
    EXPECT_EQ(nv_decode_tolerance(-0x280), -2.5);
}

// ---- through the board and its flash ----

TEST(BoardNv, StoreThenReadBack)
{
    RecordingBoard board;
    FakeModel* model = board.attach_model();
    board.read_boardnv(); // erased flash: identity stays as constructed
    EXPECT_EQ(board.get_nv_serial(), "12345");
    model->set_xtal_tolerance(2.5);
    model->set_register_chipvalue(3, 0x77);
    board.set_nv_serial("12345");
    board.store_boarddefaults();

    // tolerance 2.5 ppm lands as 80 02 00 00 at 0x3C (words 0x1E, 0x1F)
    EXPECT_EQ(board.flash_word(0x1E), 0x0280);
    EXPECT_EQ(board.flash_word(0x1F), 0x0000);
    EXPECT_EQ(model->get_register_nvvalue(3), 0x77);
    EXPECT_EQ(model->get_xtal_tolerance(), 2.5);

    model->set_xtal_tolerance(7);
    board.set_nv_serial("999");
    board.read_boardnv();
    EXPECT_EQ(board.get_nv_serial(), "1234500");
    EXPECT_EQ(model->get_xtal_tolerance(), 2.5);
    EXPECT_EQ(bytes(board.get_nv_ethernet_mac(), 6), bytes(board.get_ethernet_mac(), 6));
}

TEST(BoardNv, StoreHandsTheStoredToleranceBack)
{
    // 2.3 ppm has no exact 8-fraction-bit form: the model holds what flash holds
    RecordingBoard board;
    FakeModel* model = board.attach_model();
    model->set_xtal_tolerance(2.3);
    model->set_register_chipvalue(3, 0x55);
    board.store_boarddefaults();
    EXPECT_EQ(model->get_xtal_tolerance(), 2.296875);
    // registers stay as they were: nothing is re-derived on store
    EXPECT_EQ(model->get_register_chipvalue(3), 0x55);
}

TEST(BoardNv, StoreThenLoadRestoresChannelAccess)
{
    RecordingBoard board;
    const uint8_t a2[6] = {1, 2, 3, 4, 5, 6};
    board.set_chacc_preamble(20);
    board.set_chacc_addr2(a2);
    board.store_boarddefaults();

    const uint8_t other[6] = {9, 9, 9, 9, 9, 9};
    board.set_chacc_preamble(50);
    board.set_chacc_addr2(other);
    board.load_boarddefaults();
    EXPECT_EQ(board.get_chacc_preamble(), 20u);
    uint8_t out[6];
    board.get_chacc_addr2(out);
    EXPECT_EQ(bytes(out, 6), bytes(a2, 6));
}

TEST(BoardNv, VerifyMismatchThrows)
{
    RecordingBoard board;
    board.set_chacc_preamble(20);
    board.corrupt_word = 5;
    ::testing::internal::CaptureStderr();
    try {
        board.store_boarddefaults();
        ADD_FAILURE() << "a sector that differs after writing must not pass as stored";
    } catch (const std::runtime_error& e) {
        std::string what = e.what();
        EXPECT_NE(what.find("store_boarddefaults"), std::string::npos) << what;
        EXPECT_NE(what.find(" 1 "), std::string::npos) << what;
    }
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("write_nvsector: compare error: address 11 write 0 read 1"), std::string::npos) << log;
    // the defaults were not taken from a bad sector
    EXPECT_EQ(board.get_nv_chacc_params().preamble, 0x0C);
}

namespace {

class StuckFlashBoard : public RecordingBoard {
public:
    int get_flashctl() override { return locked ? 0 : RecordingBoard::get_flashctl(); }
    int get_flashaddr() override { return RecordingBoard::get_flashaddr() == 7 ? 8 : RecordingBoard::get_flashaddr(); }
    bool locked = true;
};

} // namespace

TEST(BoardNv, FlashProtocolErrorsThrow)
{
    StuckFlashBoard board;
    uint8_t buffer[EvUSBBoard::NV_SECTOR_SIZE];
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_THROW(
        {
            try {
                board.write_nvsector(buffer);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "EvUSBBoard::write_nvsector: cannot enable flash write operations");
                throw;
            }
        },
        std::runtime_error);
    board.locked = false;
    EXPECT_THROW(board.write_nvsector(buffer), std::runtime_error);
    EXPECT_THROW(
        {
            try {
                board.load_nv(buffer);
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "EvUSBBoard::load_nv flash address error");
                throw;
            }
        },
        std::runtime_error);
}

TEST(BoardNv, AnyFlashContentIsSafe)
{
    RecordingBoard board;
    board.attach_model();
    std::mt19937 rng(1234);
    ::testing::internal::CaptureStderr();
    for (int round = 0; round < 200; ++round) {
        for (unsigned w = 0; w < EvUSBBoard::NV_WORDS; ++w)
            board.set_flash_word(w, uint16_t(rng()));
        // half of the sectors carry valid descriptor headers around random text
        if (round % 2) {
            board.set_flash_word(0, 0x0310);
            board.set_flash_word(8, 0x031A);
        }
        board.read_boardnv();
        EXPECT_LE(board.get_nv_serial().size(), 7u);
        for (char c : board.get_nv_serial())
            EXPECT_TRUE(c >= '0' && c <= '9');
        board.load_boarddefaults();
        uint8_t out[6];
        board.get_match_address(out, 6);
    }
    ::testing::internal::GetCapturedStderr();
}

TEST(NvSectorBytes, InterruptedStoreIsTheMissingIdentityWordOnly)
{
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned, uint8_t>> bytes; // set over an erased sector
        bool interrupted;
    } cases[] = {
        {"erased (never stored)", {}, false},
        {"identity word and data", {{0, 0x10}, {1, 0x03}, {200, 0x42}}, false},
        {"identity word alone", {{0, 0x10}, {1, 0x03}}, false},
        {"data without identity word", {{200, 0x42}}, true},
        {"only the last byte", {{511, 0x00}}, true},
        {"half an identity word", {{0, 0x10}, {300, 1}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t sector[NV_SECTOR_BYTES];
        std::memset(sector, 0xFF, sizeof sector);
        for (const auto& b : c.bytes)
            sector[b.first] = b.second;
        EXPECT_EQ(c.interrupted, nv_sector_interrupted(sector));
    }
}
