// Identity, channel-access conversions and rules, loads, packets and
// reference counting of the board core, on a simulated board.
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "BoardFixtures.h"

using namespace KORVIK;
using testing_support::FakeModel;
using testing_support::RecordingBoard;

namespace {

std::vector<uint8_t> mac_of(const uint8_t* p)
{
    return std::vector<uint8_t>(p, p + 6);
}

struct SignalCounter {
    unsigned count = 0;
    sigc::slot<void()> slot() { return [this] { ++count; }; }
};

} // namespace

TEST(BoardIdentity, MacStringParsing)
{
    struct Case {
        const char* text;
        std::vector<uint8_t> mac, radio;
    } cases[] = {
        {"0012340A0BFF", {0x00, 0x12, 0x34, 0x0A, 0x0B, 0xFF}, {0x00, 0x12, 0x34, 0x0A, 0x0B, 0xFF}},
        {"00123456789A", {0x00, 0x12, 0x34, 0x56, 0x78, 0x9A}, {0x00, 0x12, 0x34, 0x56, 0x78, 0x9B}},
        {"00123456789a", {0x00, 0x12, 0x34, 0x56, 0x78, 0x9A}, {0x00, 0x12, 0x34, 0x56, 0x78, 0x9B}},
        {"0012340A0BF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"0012340A0BFG", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"00:12:34:0A:", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        RecordingBoard b(c.text);
        EXPECT_EQ(mac_of(b.get_ethernet_mac()), c.mac) << c.text;
        EXPECT_EQ(mac_of(b.get_radio_ethernet_mac()), c.radio) << c.text;
        EXPECT_EQ(mac_of(b.get_nv_radio_ethernet_mac()), c.radio) << c.text;
        // the first match address defaults to the radio MAC
        EXPECT_EQ(mac_of(b.get_chacc_params().addr1), c.radio) << c.text;
        EXPECT_EQ(mac_of(b.get_nv_chacc_params().addr1), c.radio) << c.text;
    }
}

class ChannelAccess : public ::testing::Test {
protected:
    RecordingBoard board;
};

TEST_F(ChannelAccess, ConversionsAndClamps)
{
    board.set_chacc_ppersistence(2.0);
    EXPECT_EQ(board.get_chacc_params().ppersistence, 255);
    board.set_chacc_ppersistence(-1);
    EXPECT_EQ(board.get_chacc_params().ppersistence, 0);
    board.set_chacc_ppersistence(0.5);
    EXPECT_EQ(board.get_chacc_params().ppersistence, 127);
    EXPECT_DOUBLE_EQ(board.get_chacc_ppersistence(), 127 / 255.0);

    board.set_chacc_slottime(0.0305);
    EXPECT_EQ(board.get_chacc_params().slottime, 30);
    EXPECT_DOUBLE_EQ(board.get_chacc_slottime(), 0.030);
    board.set_chacc_slottime(1.0);
    EXPECT_EQ(board.get_chacc_params().slottime, 255);

    board.set_chacc_rssithreshold(-130);
    EXPECT_EQ(board.get_chacc_rssithreshold(), -120);
    board.set_chacc_rssithreshold(3);
    EXPECT_EQ(board.get_chacc_rssithreshold(), 0);
    board.set_chacc_rssithreshold(-90.9); // toward zero
    EXPECT_EQ(board.get_chacc_rssithreshold(), -90);

    board.set_chacc_bgndthreshold(100);
    EXPECT_EQ(board.get_chacc_bgndthreshold(), 63);
    board.set_chacc_bgndthreshold(-5);
    EXPECT_EQ(board.get_chacc_bgndthreshold(), -1);

    board.set_chacc_channelaccessmode(1);
    EXPECT_EQ(board.get_chacc_channelaccessmode(), 1);
    board.set_chacc_channelaccessmode(7);
    EXPECT_EQ(board.get_chacc_channelaccessmode(), 1);
    board.set_chacc_channelaccessmode(-3);
    EXPECT_EQ(board.get_chacc_channelaccessmode(), 0);

    // every change reached the board as a whole block
    uint8_t sent[9], ours[9];
    board.chacc_on_board().get_block(sent);
    board.get_chacc_params().get_block(ours);
    EXPECT_EQ(0, std::memcmp(sent, ours, 9));
}

TEST_F(ChannelAccess, NonFiniteValuesAreSafe)
{
    const double inf = std::numeric_limits<double>::infinity();
    board.set_chacc_ppersistence(inf);
    EXPECT_EQ(board.get_chacc_params().ppersistence, 255);
    board.set_chacc_slottime(-inf);
    EXPECT_EQ(board.get_chacc_params().slottime, 0);
    board.set_chacc_rssithreshold(-inf);
    EXPECT_EQ(board.get_chacc_rssithreshold(), -120);
    board.set_chacc_bgndthreshold(inf);
    EXPECT_EQ(board.get_chacc_bgndthreshold(), 63);
    board.set_chacc_slottime(1e300);
    EXPECT_EQ(board.get_chacc_params().slottime, 255);

    // NaN carries no value: nothing changes, nothing is sent
    unsigned sends = board.chacc_sends;
    ChannelAccessParams before = board.get_chacc_params();
    board.set_chacc_ppersistence(NAN);
    board.set_chacc_slottime(NAN);
    board.set_chacc_rssithreshold(NAN);
    board.set_chacc_bgndthreshold(NAN);
    EXPECT_EQ(board.chacc_sends, sends);
    EXPECT_EQ(board.get_chacc_params().ppersistence, before.ppersistence);
    EXPECT_EQ(board.get_chacc_params().slottime, before.slottime);
    EXPECT_EQ(board.get_chacc_params().rssithreshold, before.rssithreshold);
}

TEST_F(ChannelAccess, UnchangedValueSendsAndEmitsNothing)
{
    SignalCounter changed;
    board.signal_changed_chacc_ppersistence.connect(changed.slot());
    board.signal_changed_chacc_addr2.connect(changed.slot());
    board.set_chacc_ppersistence(0x28 / 255.0 + 1e-9); // the factory byte
    board.set_chacc_slottime(0.1);
    board.set_chacc_rssithreshold(-80);
    board.set_chacc_preamble(0x0C);
    board.set_chacc_addrlength(6);
    const uint8_t ff[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    board.set_chacc_addr2(ff);
    board.set_chacc_addr2(nullptr);
    EXPECT_EQ(board.chacc_sends, 0u);
    EXPECT_EQ(changed.count, 0u);

    board.set_chacc_ppersistence(1.0);
    EXPECT_EQ(board.chacc_sends, 1u);
    EXPECT_EQ(changed.count, 1u);
}

TEST_F(ChannelAccess, AddressLengthAndMatchRules)
{
    board.set_chacc_addrlength(9);
    EXPECT_EQ(board.get_chacc_addrlength(), 6u);

    board.set_chacc_addrmatch1(true);
    board.set_chacc_addrmatch2(true);
    EXPECT_TRUE(board.get_chacc_addrmatch1());
    EXPECT_TRUE(board.get_chacc_addrmatch2());

    SignalCounter length, match1, match2;
    board.signal_changed_chacc_addrlength.connect(length.slot());
    board.signal_changed_chacc_addrmatch1.connect(match1.slot());
    board.signal_changed_chacc_addrmatch2.connect(match2.slot());
    board.set_chacc_addrlength(0);
    EXPECT_EQ(length.count + match1.count + match2.count, 3u);
    EXPECT_FALSE(board.get_chacc_addrmatch1());
    EXPECT_FALSE(board.get_chacc_addrmatch2());
    EXPECT_EQ(board.chacc_on_board().addrmatchflags, 0);
    EXPECT_EQ(board.chacc_on_board().addrlength, 0);

    // no matching on an empty address
    board.set_chacc_addrmatch1(true);
    EXPECT_FALSE(board.get_chacc_addrmatch1());
    EXPECT_EQ(match1.count, 1u);
}

TEST_F(ChannelAccess, MatchAddress)
{
    const uint8_t a1[6] = {1, 2, 3, 4, 5, 6}, a2[6] = {9, 8, 7, 6, 5, 4};
    board.set_chacc_addr1(a1);
    board.set_chacc_addr2(a2);
    uint8_t out[6] = {};
    EXPECT_EQ(board.get_match_address(out, 6), 0u);

    board.set_chacc_addrlength(4);
    board.set_chacc_addrmatch2(true);
    EXPECT_EQ(board.get_match_address(out, 6), 4u);
    EXPECT_EQ(0, std::memcmp(out, a2, 4));
    board.set_chacc_addrmatch1(true); // the first address wins
    uint8_t small[2] = {};
    EXPECT_EQ(board.get_match_address(small, 2), 4u);
    EXPECT_EQ(small[0], 1);
    EXPECT_EQ(small[1], 2);

    FakeModel* model = board.attach_model();
    EXPECT_EQ(board.get_match_address(out, 6), 4u);
    model->hdlc = false;
    EXPECT_EQ(board.get_match_address(out, 6), 0u);
}

TEST_F(ChannelAccess, OversizedLengthFromBoardIsCapped)
{
    // the board's own answer is not trusted to hold at most 6
    uint8_t block[9], addresses[12];
    board.get_chacc_params().get_block(block);
    board.get_chacc_params().get_addresses(addresses);
    block[7] = 1;
    block[8] = 200;
    board.set_chacc(block, addresses);
    board.load_chipoperating();
    EXPECT_EQ(board.get_chacc_addrlength(), 200u);
    uint8_t out[6];
    EXPECT_EQ(board.get_match_address(out, 255), 6u);
}

TEST_F(ChannelAccess, PreambleDuration)
{
    EXPECT_DOUBLE_EQ(board.get_chacc_preamble_sec(), 0.96);
    FakeModel* model = board.attach_model();
    EXPECT_DOUBLE_EQ(board.get_chacc_preamble_sec(), 0.01);
    model->tx_bitrate = 50;
    EXPECT_DOUBLE_EQ(board.get_chacc_preamble_sec(), 0.96);
    model->tx_bitrate = NAN;
    EXPECT_DOUBLE_EQ(board.get_chacc_preamble_sec(), 0.96);
}

TEST_F(ChannelAccess, LoadsTakeTheirSource)
{
    SignalCounter all;
    for (auto* s : {&board.signal_changed_chacc_channelaccessmode, &board.signal_changed_chacc_ppersistence,
                    &board.signal_changed_chacc_slottime, &board.signal_changed_chacc_rssithreshold,
                    &board.signal_changed_chacc_bgndthreshold, &board.signal_changed_chacc_preamble,
                    &board.signal_changed_chacc_addrmatch1, &board.signal_changed_chacc_addrmatch2,
                    &board.signal_changed_chacc_addrlength, &board.signal_changed_chacc_addr1,
                    &board.signal_changed_chacc_addr2})
        s->connect(all.slot());

    board.set_chacc_preamble(40);
    board.set_nv_serial("777");
    const uint8_t mac[6] = {2, 2, 2, 2, 2, 2};
    board.set_nv_ethmac(mac);
    all.count = 0;
    unsigned sends = board.chacc_sends;

    board.load_chipdefaults();
    EXPECT_EQ(all.count, 11u);
    EXPECT_EQ(board.chacc_sends, sends);
    EXPECT_EQ(board.get_chacc_preamble(), 0x0Cu);
    EXPECT_EQ(mac_of(board.get_chacc_params().addr1), std::vector<uint8_t>(6, 0xFF));
    EXPECT_EQ(board.get_nv_serial(), "12345");
    EXPECT_EQ(mac_of(board.get_nv_ethernet_mac()), mac_of(board.get_ethernet_mac()));

    // the board still holds preamble 40: loading the operating values reads it
    board.load_chipoperating();
    EXPECT_EQ(board.get_chacc_preamble(), 40u);

    board.load_boarddefaults();
    EXPECT_EQ(board.get_chacc_preamble(), 0x0Cu);
    EXPECT_EQ(mac_of(board.get_chacc_params().addr1), mac_of(board.get_radio_ethernet_mac()));
}

TEST(BoardPackets, SimulatedBoardCannotSend)
{
    RecordingBoard board;
    SignalCounter counters;
    board.signal_changed_packetcounters.connect(counters.slot());
    const uint8_t data[3] = {1, 2, 3};
    try {
        board.send_packet(data, 3, nullptr);
        FAIL() << "sending on a simulated board must fail";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no packet io");
    }
    EXPECT_THROW(board.send_bpq_packet(data, 3, nullptr), std::runtime_error);
    EXPECT_EQ(board.get_tx_pkt_count(), 0u);
    EXPECT_EQ(counters.count, 0u);
}

namespace {

/// Accepts every packet and keeps the last one.
class LoopBoard : public RecordingBoard {
public:
    int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* mac) override
    {
        last.assign(data, data + len);
        last_mac.assign(mac, mac + 6);
        return fail ? -1 : 0;
    }
    std::vector<uint8_t> last, last_mac;
    bool fail = false;
};

} // namespace

TEST(BoardPackets, SendCountsAndFramesBpq)
{
    LoopBoard board;
    std::vector<uint8_t> transmitted;
    board.signal_transmit.connect(
        [&](const uint8_t* d, unsigned n, const uint8_t*) { transmitted.assign(d, d + n); });
    const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    board.send_bpq_packet(data, 3, nullptr);
    EXPECT_EQ(board.last, (std::vector<uint8_t>{0x08, 0x00, 0xAA, 0xBB, 0xCC}));
    EXPECT_EQ(board.last_mac, mac_of(board.get_nv_radio_ethernet_mac()));
    EXPECT_EQ(transmitted, board.last);
    EXPECT_EQ(board.get_tx_pkt_count(), 1u);

    board.fail = true;
    try {
        board.send_packet(data, 3, nullptr);
        FAIL() << "a failed queue must throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "send_net_packet failed");
    }
    EXPECT_EQ(board.get_tx_pkt_count(), 1u);

    board.reset_packetcounters();
    EXPECT_EQ(board.get_tx_pkt_count(), 0u);
}

TEST(BoardReferences, LastUnreferenceDeletes)
{
    bool destroyed = false;
    auto* board = new RecordingBoard("0012340A0B0C", &destroyed);
    board->reference();
    board->reference();
    board->unreference();
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(board->get_refcount(), 1);
    ::testing::internal::CaptureStderr();
    board->unreference();
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(destroyed);
    EXPECT_NE(log.find("EvUSBBoard::unreference: 0 0x"), std::string::npos) << log;
    EXPECT_LT(log.find("unreference: 0"), log.find("~EvUSBBoard start")) << log;
}

TEST(BoardModel, FramingChangeRequestsBothJobsAndReplacingDropsOldModel)
{
    RecordingBoard board;
    FakeModel* model = board.attach_model();
    EXPECT_EQ(board.get_chipflags(), unsigned(CHIP_RECEIVE | CHIP_TRANSMIT));
    model->set_framingmode(1);
    EXPECT_EQ(board.get_pending_reprogram(), 3u);

    board.set_model(model); // the same model again must not free it
    EXPECT_EQ(board.get_model(), model);
    board.set_model(nullptr);
    EXPECT_EQ(board.get_chipflags(), 0u);
}
