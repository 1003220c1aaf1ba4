// The net board over an in-memory adapter whose far end is the board
// firmware: report exchanges, dispatch, packets, NV sector, status reports.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include <korvik/USBDevice.h>

#include "TestSupport.h"
#include "board/Protocol.h"
#include "model/common/Diagnostics.h"

using namespace KORVIK;
using namespace korvik_emu;
using Bytes = std::vector<uint8_t>;

namespace {

class NetBoard : public testing::Test {
protected:
    void SetUp() override
    {
        auto system = std::make_unique<FakeAdapterSystem>();
        link = system->add("kb0", "Zelvane Inc. RC1200 Evaluation Board",
                           std::make_unique<BoardFirmware>("1234567", TEST_MAC));
        library = std::make_unique<WindowsLibrary>(std::move(system), nullptr);
        events = std::make_unique<RegistryEvents>(*library);
        board = library->find_adapter_board("kb0");
        ASSERT_NE(nullptr, board);
        ref = std::make_unique<BoardRef>(board);
        fw().state_history.clear();
    }

    void TearDown() override
    {
        ref.reset();
        library.reset();
        pump_until([] { return true; }, std::chrono::milliseconds(0));
    }

    BoardFirmware& fw() { return *link->firmware; }

    /// Hands a frame to the adapter and lets the main loop read it.
    void arrive(const Frame& frame)
    {
        link->push(frame);
        pump_until([this] { return link->incoming.empty(); }, std::chrono::milliseconds(500));
    }

    Frame vendor_frame(const Bytes& packet, const uint8_t* source = TEST_MAC)
    {
        return protocol::build_frame(protocol::BROADCAST_MAC, source, protocol::ETHERTYPE_VENDOR, packet.data(),
                                     unsigned(packet.size()));
    }

    /// The board firmware's next status report, read through the adapter.
    USBDeviceStatus next_status()
    {
        USBDeviceStatus got;
        bool seen = false;
        sigc::connection c = board->signal_status.connect([&](const USBDeviceStatus& s) {
            got = s;
            seen = true;
        });
        arrive(fw().status_frame());
        c.disconnect();
        EXPECT_TRUE(seen);
        return got;
    }

    std::shared_ptr<FakeLink> link;
    std::unique_ptr<WindowsLibrary> library;
    std::unique_ptr<RegistryEvents> events;
    WindowsEvUSBBoard* board = nullptr;
    std::unique_ptr<BoardRef> ref;
};

TEST_F(NetBoard, OpensWithTheIdentityOfItsAnswer)
{
    EXPECT_EQ("1234567", board->get_serial());
    EXPECT_EQ("1234567", board->get_display_name());
    EXPECT_EQ(0, memcmp(TEST_MAC, board->get_ethernet_mac(), 6));
    EXPECT_EQ(0, memcmp(TEST_MAC, board->get_adapter_mac(), 6));
    EXPECT_FALSE(board->is_dead());
    EXPECT_TRUE(board->is_net_up());
    EXPECT_EQ(1u, library->get_boards().size());
}

TEST_F(NetBoard, RequestsGoOutAsBroadcastVendorFrames)
{
    board->evusb_set_ethstate(0x30);
    Frame expected = vendor_frame(Bytes{0x00, 0x03, 0x09, 0x21, 0x30}, protocol::BROADCAST_MAC);
    EXPECT_EQ(expected, link->sent.back());
    EXPECT_EQ(0x30, fw().state);
}

TEST_F(NetBoard, RegistersAndSmallReportsRoundTrip)
{
    board->evusb_write(0x1234, 0xAB);
    EXPECT_EQ(0xAB, fw().registers[0x1234]);
    fw().registers[0x1235] = 0xCD;
    EXPECT_EQ(0xCDAB, board->evusb_read16(0x1234));
    board->set_report10(true, true);
    EXPECT_EQ(3, fw().report10);
    EXPECT_EQ(0x5A, board->get_report11());
    board->set_flashaddr(17);
    EXPECT_EQ(17, board->get_flashaddr());
    fw().flash[17] = 0xBEEF;
    EXPECT_EQ(0xBEEF, board->get_flashdata());

    uint8_t block[9] = {1, 2, 3, 4, 5, 6, 7, 3, 5};
    uint8_t addresses[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    board->set_chacc(block, addresses);
    uint8_t b2[9] = {}, a2[12] = {};
    board->get_chacc(b2, a2);
    EXPECT_EQ(0, memcmp(block, b2, 9));
    EXPECT_EQ(0, memcmp(addresses, a2, 12));
}

TEST_F(NetBoard, RegisterReadLogsItsTwoExchangesInOrder)
{
    fw().registers[0x1234] = 0xAB;
    fw().registers[0x1235] = 0xCD;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0xCDAB, board->evusb_read16(0x1234));
    EXPECT_EQ("report_io: reportid 0xf0 dir out dlen 4 out: 00 06 09 f0 34 12 00 00\n"
              "report_io: reportid 0xf0 dir in dlen 5 out: 00 02 01 f0\n"
              "report_io: in: 01 f0 34 12 00 ab cd\n",
              testing::internal::GetCapturedStderr());

    // a status that arrives meanwhile is handled once the read is over,
    // and the request lines come before the replies' (one write each)
    fw().unexpected_replies = 1;
    fw().statuses_before_replies = 1;
    std::vector<std::string> order;
    sigc::connection c = board->signal_status.connect([&](const USBDeviceStatus&) { order.push_back("status"); });
    set_diagnostic_sink([&](const std::string& line) {
        order.push_back(line.rfind("report_io: reportid", 0) == 0 ? "request" : line);
    });
    EXPECT_EQ(0xCDAB, board->evusb_read16(0x1234));
    set_diagnostic_sink(nullptr);
    c.disconnect();
    const std::vector<std::string> expected = {"request", "request", "report_io: in: 01 ef 34 12 00 ab cd",
                                               "report_io: unexpected reportid: received 239 expected 240 direction 1",
                                               "report_io: in: 01 f0 34 12 00 ab cd", "status"};
    ASSERT_GE(order.size(), expected.size());
    EXPECT_EQ(expected, std::vector<std::string>(order.begin(), order.begin() + 6));

    // a read whose request cannot be sent still tells about it, and stops there
    link->fail_send = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0xFFFF, board->evusb_read16(0x0001));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(0u, log.find("WindowsEvUSBBoard::queue_vendor_packet_lowlevel: error sending packet\n")) << log;
    EXPECT_NE(std::string::npos, log.find("report_io: reportid 0xf0 dir out dlen 4 out: 00 06 09 f0 01 00 00 00\n"))
        << log;
    EXPECT_EQ(std::string::npos, log.find("dir in")) << log;
    EXPECT_TRUE(board->is_dead());

    // and the next exchange does not repeat it
    testing::internal::CaptureStderr();
    board->evusb_write(2, 3);
    log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string::npos, log.find("00 06 09 f0 01 00")) << log;
}

TEST_F(NetBoard, RegisterReadWhoseGetCannotBeSentFailsAfterItsRequest)
{
    link->sends_until_failure = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0xFFFF, board->evusb_read16(0x0102));
    std::string log = testing::internal::GetCapturedStderr();
    // the lines come as the frames went: request sent, get failed, get line
    size_t set = log.find("report_io: reportid 0xf0 dir out dlen 4 out: 00 06 09 f0 02 01 00 00\n");
    size_t error = log.find("WindowsEvUSBBoard::queue_vendor_packet_lowlevel: error sending packet\n");
    size_t get = log.find("report_io: reportid 0xf0 dir in dlen 5 out: 00 02 01 f0\n");
    ASSERT_NE(std::string::npos, set) << log;
    ASSERT_NE(std::string::npos, error) << log;
    ASSERT_NE(std::string::npos, get) << log;
    EXPECT_LT(set, error);
    EXPECT_LT(error, get);
    EXPECT_EQ(std::string::npos, log.find("report_io: in:")) << log;
    EXPECT_EQ(0x0102, fw().read_address); // the read request did reach the board
    EXPECT_TRUE(board->is_dead());
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(NetBoard, WrongAndShortRepliesAreSkipped)
{
    fw().flash[0] = 0x1122;
    board->set_flashaddr(0);
    fw().unexpected_replies = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0x1122, board->get_flashdata());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("report_io: unexpected reportid: received 225 expected 226 direction 1"))
        << log;

    fw().short_replies = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0x1122, board->get_flashdata());
    log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("report_io: short packet size 3 expected 4")) << log;
    EXPECT_EQ(0u, board->get_reply_queue_size());
    EXPECT_FALSE(board->is_dead());
}

TEST_F(NetBoard, RepliesToOtherRequestsAreNeverTaken)
{
    for (unsigned a = 0; a < 0x200; ++a)
        fw().registers[a] = uint8_t(a * 7 + 1);
    const std::vector<uint8_t> before = fw().registers;
    const Bytes stray = {0x00, 0x07, 0x01, 0xF0, 0x33, 0x01, 0x00, 0xEE, 0xEE};
    const Bytes long_reply = {0x00, 0x08, 0x01, 0xF0, 0x00, 0x00, 0x00, 0xEE, 0xEE, 0xEE};
    struct Case {
        const char* name;
        std::function<void()> inject;
        const char* logged;
    };
    const Case cases[] = {
        {"duplicate left behind", [&] { fw().duplicate_replies = 1; }, "report_io: stale reply dropped"},
        {"stray in the queue", [&] { arrive(vendor_frame(stray)); }, "report_io: stale reply dropped"},
        {"answer for another address", [&] { fw().misaddressed_replies = 1; },
         "report_io: reply does not echo the request"},
        {"stray not read yet", [&] { link->push(vendor_frame(long_reply)); }, "report_io: stale reply dropped"},
    };
    for (const Case& c : cases) {
        testing::internal::CaptureStderr();
        c.inject();
        for (uint16_t a = 0x100; a < 0x108; ++a)
            EXPECT_EQ(before[a] | before[a + 1] << 8, board->evusb_read16(a)) << c.name << " " << a;
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(std::string::npos, log.find(c.logged)) << c.name << log;
    }
    // a whole load with its commit leaves the chip as a clean load does
    testing::internal::CaptureStderr();
    board->load_chipoperating();
    const std::vector<uint8_t> clean = fw().registers;
    fw().duplicate_replies = 3;
    fw().misaddressed_replies = 3;
    board->load_chipoperating();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(clean, fw().registers);
    EXPECT_FALSE(board->is_dead());
}

TEST_F(NetBoard, TimeoutMakesTheBoardLeaveOnce)
{
    fw().dropped_replies = 1;
    auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    EXPECT_EQ(-1, board->get_report11());
    std::string log = testing::internal::GetCapturedStderr();
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(4000));
    EXPECT_LT(waited, std::chrono::milliseconds(6000));
    // the request's line is not held back by the wait
    EXPECT_LT(log.find("dir in"), log.find("report_io: timeout")) << log;
    EXPECT_TRUE(board->is_dead());
    EXPECT_EQ(1, events->disconnects);
    EXPECT_TRUE(library->get_boards().empty());
    EXPECT_FALSE(link->open);

    // a dead board fails at once and does not leave again
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(0xFFFF, board->evusb_read16(0));
    EXPECT_EQ(-1, board->get_flashctl());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(NetBoard, SendAndReadFailuresMakeTheBoardLeave)
{
    link->fail_send = true;
    board->evusb_write(1, 2);
    EXPECT_TRUE(board->is_dead());
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(NetBoard, ReadErrorInTheWatchMakesTheBoardLeave)
{
    link->fail_read = true;
    link->push(fw().status_frame());
    EXPECT_TRUE(pump_until([this] { return board->is_dead(); }, std::chrono::milliseconds(1000)));
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(NetBoard, DispatchFiltersFrames)
{
    int statuses = 0;
    board->signal_status.connect([&](const USBDeviceStatus&) { ++statuses; });
    Bytes reply = {0x00, 0x03, 0x01, 0x10, 0x42};
    const uint8_t stranger[6] = {0x02, 0, 0, 0, 0, 0x99};

    arrive(vendor_frame(reply, stranger)); // not the adapter's MAC
    EXPECT_EQ(0u, board->get_reply_queue_size());
    Frame unicast = vendor_frame(reply);
    unicast[0] = 0x02; // not broadcast
    arrive(unicast);
    EXPECT_EQ(0u, board->get_reply_queue_size());
    Frame other = vendor_frame(reply);
    other[13] = 0x02; // ethertype 0x0902
    arrive(other);
    EXPECT_EQ(0u, board->get_reply_queue_size());
    board->handle_frame(other.data(), 13); // shorter than a header
    arrive(vendor_frame(reply));
    EXPECT_EQ(1u, board->get_reply_queue_size());

    Bytes status(18, 0);
    status[1] = 15;
    status[2] = 0x01;
    status[3] = 0x01;
    arrive(vendor_frame(status));
    EXPECT_EQ(0, statuses);
    status[1] = 16;
    arrive(vendor_frame(status));
    EXPECT_EQ(1, statuses);
    EXPECT_EQ(1u, board->get_reply_queue_size()); // status reports never queue

    // a stale reply is taken and discarded by the next exchange
    EXPECT_EQ(0x5A, board->get_report11());
}

TEST_F(NetBoard, ReplyQueueIsBounded)
{
    Bytes reply = {0x00, 0x03, 0x01, 0x11, 0x42};
    for (int i = 0; i < 1000; ++i)
        link->push(vendor_frame(reply));
    pump_until([this] { return link->incoming.empty(); }, std::chrono::milliseconds(2000));
    EXPECT_LE(board->get_reply_queue_size(), 256u);
    EXPECT_GT(board->get_reply_queue_size(), 0u);
}

TEST_F(NetBoard, ReceivedPacketsReachListeners)
{
    Bytes got;
    int16_t rssi = 0;
    int32_t offset = 1;
    Bytes source;
    board->signal_receive.connect([&](const uint8_t* d, unsigned n, const uint8_t* src, int16_t r, int32_t f) {
        got.assign(d, d + n);
        source.assign(src, src + 6);
        rssi = r;
        offset = f;
    });
    arrive(fw().radio_record_frame(-10, -60, Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_EQ((Bytes{0x08, 0x00, 0xAA, 0xBB, 0xCC}), got);
    EXPECT_EQ(-60, rssi);
    EXPECT_EQ(-10, offset);
    EXPECT_EQ(Bytes(TEST_MAC, TEST_MAC + 6), source);
    EXPECT_EQ(1u, board->get_rx_pkt_count());

    arrive(fw().net_frame(Bytes{1, 2, 3}));
    EXPECT_EQ((Bytes{1, 2, 3}), got);
    EXPECT_EQ(-32768, rssi);
    EXPECT_EQ(0, offset);
    EXPECT_EQ(2u, board->get_rx_pkt_count());

    // a record of 4 bytes carries nothing
    Bytes four = {1, 0, 0, 0};
    arrive(protocol::build_frame(protocol::BROADCAST_MAC, TEST_MAC, protocol::ETHERTYPE_RADIO, four.data(), 4));
    EXPECT_EQ(2u, board->get_rx_pkt_count());
}

TEST_F(NetBoard, SentPacketsArePaddedAndAddressed)
{
    int transmitted = 0;
    board->signal_transmit.connect([&](const uint8_t*, unsigned, const uint8_t*) { ++transmitted; });
    Bytes six = {1, 2, 3, 4, 5, 6};
    board->send_packet(six.data(), 6, nullptr);
    ASSERT_EQ(1u, fw().net_packets.size());
    EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 0}), fw().net_packets[0]);
    EXPECT_EQ(Bytes(board->get_nv_radio_ethernet_mac(), board->get_nv_radio_ethernet_mac() + 6),
              fw().net_destinations[0]);
    const Frame& frame = link->sent.back();
    EXPECT_EQ(0, memcmp(frame.data() + 6, TEST_MAC, 6)); // from the adapter's MAC
    EXPECT_EQ(1u, board->get_tx_pkt_count());
    EXPECT_EQ(1, transmitted);

    const uint8_t to[6] = {0x02, 1, 2, 3, 4, 5};
    Bytes three = {7, 8, 9};
    board->send_bpq_packet(three.data(), 3, to);
    EXPECT_EQ((Bytes{0x08, 0x00, 7, 8, 9}), fw().net_packets[1]);
    EXPECT_EQ(Bytes(to, to + 6), fw().net_destinations[1]);
}

TEST_F(NetBoard, OversizedPacketsAreRefusedWholeAndTheBoardStays)
{
    Bytes full(1500, 0x55);
    board->send_packet(full.data(), 1500, nullptr);
    EXPECT_EQ(1500u, fw().net_packets.back().size());

    Bytes big(1501, 0x55);
    size_t before = link->sent.size();
    try {
        board->send_packet(big.data(), 1501, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("send_net_packet failed", e.what());
    }
    EXPECT_EQ(before, link->sent.size());
    EXPECT_EQ(1u, board->get_tx_pkt_count());
    EXPECT_FALSE(board->is_dead());

    // the adapter's MTU bounds frames too
    link->mtu = 100;
    Bytes hundred(101, 1);
    EXPECT_THROW(board->send_packet(hundred.data(), 101, nullptr), std::runtime_error);
    EXPECT_FALSE(board->is_dead());
}

TEST_F(NetBoard, NvSectorUsesTheNetLayout)
{
    const uint8_t eth[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    const uint8_t radio[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
    board->set_nv_serial("12345");
    board->set_nv_ethmac(eth);
    board->set_nv_radio_ethmac(radio);
    board->set_chacc_preamble(0x21);
    board->store_boarddefaults();

    auto byte = [this](unsigned i) { return uint8_t(fw().flash[i / 2] >> (i % 2 * 8)); };
    EXPECT_EQ(0x10, byte(0));
    EXPECT_EQ(0x03, byte(1));
    EXPECT_EQ('1', byte(2));
    EXPECT_EQ(0, byte(3));
    EXPECT_EQ('0', byte(14)); // padded with '0'
    for (unsigned i = 0; i < 6; ++i) {
        EXPECT_EQ(eth[i], byte(0x10 + i));
        EXPECT_EQ(0xFF, byte(0x16 + i));
        EXPECT_EQ(radio[i], byte(0x1C + i));
    }
    EXPECT_EQ(0x09, byte(0x22));
    EXPECT_EQ(0x01, byte(0x23));
    EXPECT_EQ(0x21, byte(0x2C + 6));
    EXPECT_EQ(0xFF, byte(0x1C1));
    EXPECT_EQ(0xFF, byte(511));
    EXPECT_FALSE(fw().flash_write_enabled); // locked again

    // radio records switched off in the sector; other values read back
    fw().flash[0x22 / 2] = 0xFF08;
    board->set_nv_serial("x");
    board->set_nv_ethmac(radio);
    board->read_boardnv();
    EXPECT_EQ("1234500", board->get_nv_serial());
    EXPECT_EQ(0, memcmp(eth, board->get_nv_ethernet_mac(), 6));
    EXPECT_EQ(0, memcmp(radio, board->get_nv_radio_ethernet_mac(), 6));
    EXPECT_FALSE(board->get_rx_radio_records());
    EXPECT_EQ(0x21, board->get_nv_chacc_params().preamble);
}

TEST_F(NetBoard, NvWindowsAndRegisterReadsLeaveInOneBatchEach)
{
    for (unsigned w = 0; w < 256; ++w)
        fw().flash[w] = uint16_t(0xFF00 | w);
    fw().flash[0x10 / 2] = 0x2302; // an Ethernet MAC of 02:23:...
    link->batches.clear();
    const size_t sent_before = link->sent.size();
    board->read_boardnv();
    EXPECT_EQ(0x02, board->get_nv_ethernet_mac()[0]);
    EXPECT_EQ(0x23, board->get_nv_ethernet_mac()[1]);
    // 32 windows of 8 words, three requests a word
    EXPECT_EQ(std::vector<unsigned>(32, 24), link->batches);
    EXPECT_EQ(768u, link->sent.size() - sent_before);

    link->batches.clear();
    board->evusb_read16(0x0102);
    EXPECT_EQ(std::vector<unsigned>{2}, link->batches);
}

TEST_F(NetBoard, RegisterWindowsReadEveryValueWhateverTheLinkDoes)
{
    // addresses apart, so that a reply for a neighbour cannot pass as one's own
    std::vector<uint16_t> addresses;
    for (uint16_t i = 0; i < 30; ++i)
        addresses.push_back(uint16_t(0x0140 + 3 * i));
    for (unsigned a = 0x100; a < 0x200; ++a)
        fw().registers[a] = uint8_t(a * 5 + 3);
    struct Case {
        const char* name;
        std::function<void()> inject;
        std::vector<unsigned> batches; ///< empty: not checked
    };
    const Case cases[] = {
        {"clean link", [] {}, {24, 24, 12}},
        {"reply lost", [&] { fw().dropped_replies = 1; }, {}},
        {"reply doubled", [&] { fw().duplicate_replies = 1; }, {}},
        {"answer for another address first", [&] { fw().misaddressed_replies = 1; }, {}},
        {"reply of another report first", [&] { fw().unexpected_replies = 1; }, {}},
        {"short reply first", [&] { fw().short_replies = 1; }, {}},
        {"status report first", [&] { fw().statuses_before_replies = 2; }, {}},
    };
    for (const Case& c : cases) {
        c.inject();
        link->batches.clear();
        std::vector<uint16_t> values(addresses.size(), 0);
        testing::internal::CaptureStderr();
        board->evusb_read16_many(addresses.data(), unsigned(addresses.size()), values.data());
        testing::internal::GetCapturedStderr();
        for (size_t i = 0; i < addresses.size(); ++i)
            EXPECT_EQ(fw().registers[addresses[i]] | fw().registers[addresses[i] + 1] << 8, values[i])
                << c.name << " " << i;
        if (!c.batches.empty()) {
            EXPECT_EQ(c.batches, link->batches) << c.name;
        }
        EXPECT_FALSE(board->is_dead()) << c.name;
        EXPECT_EQ(0, events->disconnects) << c.name;
    }
}

TEST_F(NetBoard, RegisterWritesLeaveTogetherAndAFailedOneEndsTheBoardOnce)
{
    // the opening: the sector's windows, the register windows (12 reads of
    // a set and a get each), then the write-back, which nobody watches, in
    // one batch
    const unsigned reads = board->get_model()->get_registers();
    std::vector<unsigned> expected(32, 24);
    for (unsigned left = reads; left > 0; left -= std::min(left, 12u))
        expected.push_back(2 * std::min(left, 12u));
    ASSERT_EQ(expected.size() + 1, link->batches.size());
    EXPECT_EQ(expected, std::vector<unsigned>(link->batches.begin(), link->batches.end() - 1));
    EXPECT_GT(link->batches.back(), 1u);

    const uint16_t addresses[5] = {0x10, 0x11, 0x20, 0x10, 0x30};
    const uint8_t values[5] = {1, 2, 3, 4, 5};
    link->batches.clear();
    board->evusb_write_many(addresses, values, 5);
    EXPECT_EQ(std::vector<unsigned>{5}, link->batches);
    // in order: the second write to 0x10 is the one that stays
    EXPECT_EQ(4, fw().registers[0x10]);
    EXPECT_EQ(2, fw().registers[0x11]);
    EXPECT_EQ(3, fw().registers[0x20]);
    EXPECT_EQ(5, fw().registers[0x30]);
    EXPECT_FALSE(board->is_dead());

    link->sends_until_failure = 0;
    testing::internal::CaptureStderr();
    board->evusb_write_many(addresses, values, 5);
    testing::internal::GetCapturedStderr();
    EXPECT_TRUE(board->is_dead());
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(NetBoard, SendFailingInsideAnNvWindowEndsTheReadOnce)
{
    link->sends_until_failure = 30; // the 7th request of the second window
    testing::internal::CaptureStderr();
    EXPECT_THROW(board->read_boardnv(), std::runtime_error);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(board->is_dead());
    EXPECT_EQ(1, events->disconnects);
    const std::string error = "queue_vendor_packet_lowlevel: error sending packet";
    const size_t first = log.find(error);
    ASSERT_NE(std::string::npos, first) << log;
    EXPECT_EQ(std::string::npos, log.find(error, first + 1)) << log;
    // the failed request is logged after the six that went out before it
    EXPECT_NE(std::string::npos, log.find("report_io: reportid 0xe1 dir out dlen 1 out: 00 03 09 e1 0a\n"));
    EXPECT_EQ(std::string::npos, log.find("out: 00 03 09 e1 0b\n")) << log;
}

TEST_F(NetBoard, FailureInsideDispatchWithTheLastReferenceDefersDeletion)
{
    // only the registry holds the board; a status report makes it send the
    // state byte, which fails, so it leaves and loses its last reference
    // while its own frame handler is still running
    ref.reset();
    link->fail_send = true;
    link->push(fw().status_frame());
    EXPECT_TRUE(pump_until([this] { return library->get_boards().empty(); }, std::chrono::milliseconds(1000)));
    EXPECT_EQ(1, events->disconnects);
    EXPECT_FALSE(link->open); // adapter closed, board deleted
}

class StatusThroughFrames : public NetBoard {
protected:
    void SetUp() override
    {
        NetBoard::SetUp();
        // opening may have requested jobs (the model commits); let them run
        for (int i = 0; i < 40 && (board->get_pending_reprogram() || board->get_reprogram_state()); ++i)
            next_status();
        next_status();
        ASSERT_EQ(0u, board->get_pending_reprogram());
        ASSERT_EQ(0, board->get_reprogram_state());
        fw().state_history.clear();
    }
};

// Two statuses arrive together as a job ends; the second one is read during
// the exchanges that handling the first starts, yet listeners get them in order.
TEST_F(StatusThroughFrames, StatusesReachListenersInArrivalOrder)
{
    std::vector<uint16_t> ticks;
    board->signal_status.connect([&](const USBDeviceStatus& s) { ticks.push_back(s.ticks); });
    board->start_reprogramming(3);
    for (int i = 0; i < 20 && (board->get_pending_reprogram() || board->get_reprogram_state() || i == 0); ++i) {
        link->push(fw().status_frame());
        link->push(fw().status_frame());
        pump_until([this] { return link->incoming.empty(); }, std::chrono::milliseconds(500));
    }
    ASSERT_EQ(0u, board->get_pending_reprogram());
    ASSERT_GE(ticks.size(), 4u);
    for (size_t i = 1; i < ticks.size(); ++i)
        EXPECT_LT(ticks[i - 1], ticks[i]) << "status " << i;
}

TEST_F(StatusThroughFrames, TickWrapIsLoggedOnce)
{
    fw().ticks = 0xFFF0 - 0x20;
    fw().ticks_per_status = 0x20;
    testing::internal::CaptureStderr();
    EXPECT_EQ(0xFFF0, next_status().ticks);
    EXPECT_EQ(0x0010, next_status().ticks);
    next_status();
    std::string log = testing::internal::GetCapturedStderr();
    size_t first = log.find("RLS Estimator 1234567: frequency ");
    ASSERT_NE(std::string::npos, first) << log;
    EXPECT_NE(std::string::npos, log.find(" jiff 65552", first));
    EXPECT_EQ(std::string::npos, log.find("RLS Estimator", first + 1));
}

TEST_F(NetBoard, FirstStatusKeepsArrivalTimeLaterOnesAreEstimates)
{
    fw().ticks_per_status = 1000;
    gint64 before = g_get_real_time();
    USBDeviceStatus first = next_status();
    gint64 at = gint64(first.time_sec) * 1000000 + first.time_usec;
    EXPECT_GE(at, before - 1000);
    EXPECT_LE(at, g_get_real_time());
    for (int i = 0; i < 5; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        USBDeviceStatus s = next_status();
        gint64 t = gint64(s.time_sec) * 1000000 + s.time_usec;
        // an estimate on the same clock, close to the arrival
        EXPECT_LT(std::llabs(t - g_get_real_time()), 250000);
    }
}

TEST_F(StatusThroughFrames, JobsOneThenTwoThenRunning)
{
    board->start_reprogramming(1);
    board->start_reprogramming(2);
    fw().job_length = 2;
    for (int i = 0; i < 20 && fw().state_history.size() < 5; ++i)
        next_status();
    EXPECT_EQ((Bytes{0x04, 0x00, 0x05, 0x00, 0x10}), fw().state_history);
    EXPECT_EQ(0, board->get_reprogram_state());
    EXPECT_EQ(0u, board->get_pending_reprogram());
}

TEST_F(StatusThroughFrames, FailedJobIsReported)
{
    fw().job_outcome[0] = 2;
    board->start_reprogramming(1);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 10 && fw().state_history.size() < 3; ++i)
        next_status();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("Chip reprogramming failed"));
    EXPECT_EQ((Bytes{0x04, 0x00, 0x10}), fw().state_history);
}

TEST_F(StatusThroughFrames, JobThatNeverEndsTimesOut)
{
    fw().job_outcome[0] = 0;
    board->start_reprogramming(1);
    next_status(); // starts job 1
    next_status(); // in progress, within the time
    EXPECT_EQ((Bytes{0x04}), fw().state_history);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    testing::internal::CaptureStderr();
    next_status();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("Chip reprogramming timed out"));
    EXPECT_EQ((Bytes{0x04, 0x00}), fw().state_history);
}

TEST_F(StatusThroughFrames, ContinuousWaveWaitsForTheRunningJob)
{
    board->set_transmit_cw(true); // idle: at once
    EXPECT_EQ((Bytes{0x30}), fw().state_history);
    board->set_transmit_cw(false);
    fw().state_history.clear();

    // the board reports code 0 again after a stop
    board->evusb_set_ethstate(0x00);
    fw().state_history.clear();
    board->start_reprogramming(1);
    next_status(); // starts the job
    int cw = 0;
    board->signal_changed_transmit_cw.connect([&] { ++cw; });
    board->set_transmit_cw(true);
    EXPECT_EQ(1, cw);
    EXPECT_EQ((Bytes{0x04}), fw().state_history); // nothing sent while the job runs
    for (int i = 0; i < 10 && fw().state_history.size() < 3; ++i)
        next_status();
    EXPECT_EQ((Bytes{0x04, 0x00, 0x30}), fw().state_history);
}

// The board is unplugged and the program closes its last handle inside one
// of the board's own slots; the operation that emitted must finish on a live
// board (AddressSanitizer reports any use after the free).
TEST_F(NetBoard, LastHandleClosedInsideItsOwnSlotOutlivesTheEmission)
{
    using Closer = sigc::slot<void()>;
    using Connect = std::function<sigc::connection(USBDevice&, const Closer&)>;
    using Trigger = std::function<void(USBDevice*, const bool& closed)>;
    const Trigger load_defaults = [](USBDevice* d, const bool&) { d->load_chipdefaults(); };
    const Trigger status = [this](USBDevice*, const bool&) { arrive(fw().status_frame()); };
    const struct {
        const char* kind;
        Connect connect;
        Trigger trigger;
    } cases[] = {
        {"board change", [](USBDevice& d, const Closer& c) { return d.notify_changed_chacc_addr1(c); }, load_defaults},
        {"chip change", [](USBDevice& d, const Closer& c) { return d.notify_changed_rx_bitrate(c); }, load_defaults},
        {"register",
         [](USBDevice& d, const Closer& c) {
             return d.notify_changed_register(sigc::hide(sigc::hide(sigc::hide(c))));
         },
         load_defaults},
        {"bitfield",
         [](USBDevice& d, const Closer& c) { return d.notify_changed_bitfield(sigc::hide(sigc::hide(c))); },
         load_defaults},
        {"status", [](USBDevice& d, const Closer& c) { return d.notify_status(sigc::hide(c)); }, status},
        {"receive",
         [](USBDevice& d, const Closer& c) {
             return d.notify_receive_packet(sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>(
                 sigc::hide(sigc::hide(sigc::hide(c)))));
         },
         [this](USBDevice*, const bool&) { arrive(fw().net_frame(Bytes{1, 2, 3})); }},
        {"receive with rssi",
         [](USBDevice& d, const Closer& c) {
             return d.notify_receive_packet(
                 sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>(
                     [c](const unsigned char*, unsigned int, const unsigned char*, short, int) { c(); }));
         },
         [this](USBDevice*, const bool&) { arrive(fw().radio_record_frame(-10, -60, Bytes{0xAA})); }},
        {"transmit",
         [](USBDevice& d, const Closer& c) {
             return d.notify_transmit_packet(sigc::hide(sigc::hide(sigc::hide(c))));
         },
         [](USBDevice* d, const bool&) {
             const unsigned char data[3] = {1, 2, 3};
             d->send_packet(data, 3, nullptr);
         }},
        {"autoranging",
         [](USBDevice& d, const Closer& c) { return d.notify_terminate_autoranging(sigc::hide(sigc::hide(c))); },
         [this](USBDevice* d, const bool& closed) {
             // a framing change starts both reprogramming jobs; statuses run them
             d->set_framingmode(d->get_framingmode() == 0 ? 1 : 0);
             for (int i = 0; i < 20 && !closed; ++i)
                 arrive(fw().status_frame());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        SetUp();
        USBDevice* device = new USBDevice(board);
        ref.reset();
        EvUSBBoard* unplugged = board;
        bool closed = false;
        c.connect(*device, Closer([&] {
            if (closed)
                return;
            closed = true;
            unplugged->leave_registry();
            delete device;
        }));
        c.trigger(device, closed);
        EXPECT_TRUE(closed);
        if (!closed)
            delete device;
        library.reset();
    }
}

} // namespace

// A status that arrives while an exchange waits for its reply, and whose
// handling reads registers (a job ends), must not cost that exchange its reply.
TEST_F(StatusThroughFrames, StatusHandledDuringAnExchangeLeavesItsReply)
{
    board->start_reprogramming(3);
    for (int i = 0; i < 20 && (board->get_pending_reprogram() || board->get_reprogram_state() || i == 0); ++i) {
        fw().statuses_before_replies = 1;
        ASSERT_EQ(0x5A, board->get_report11()) << "exchange " << i;
    }
    EXPECT_EQ(0u, board->get_pending_reprogram());
    EXPECT_FALSE(board->is_dead());
}

// A board unplugged half-way through storing its defaults: the store fails,
// and the sector it left is recognised as interrupted when the board comes
// back, instead of being taken as the board's serial, crystal and registers.
TEST_F(NetBoard, InterruptedStoreIsDetectedAtTheNextOpen)
{
    for (unsigned words_written : {1u, 200u}) {
        SCOPED_TRACE(words_written);
        for (uint16_t& w : fw().flash)
            w = 0xFFFF;
        board->store_boarddefaults();
        const uint16_t identity = fw().flash[0];
        ASSERT_EQ(0x0310, identity);
        EXPECT_FALSE(board->is_nv_interrupted());

        BoardFirmware again = fw();
        again.flash_writes_before_silence = words_written;
        auto system = std::make_unique<FakeAdapterSystem>();
        auto second = system->add("kb1", "Zelvane Inc. RC1200 Evaluation Board",
                                  std::make_unique<BoardFirmware>(again));
        WindowsLibrary other(std::move(system), nullptr);
        WindowsEvUSBBoard* replugged = other.find_adapter_board("kb1");
        ASSERT_NE(nullptr, replugged);
        BoardRef hold(replugged);
        EXPECT_THROW(replugged->store_boarddefaults(), std::runtime_error);

        // the same flash on a board that answers again
        BoardFirmware back = *second->firmware;
        back.silent = false;
        back.flash_writes_before_silence = 0;
        auto system2 = std::make_unique<FakeAdapterSystem>();
        system2->add("kb2", "Zelvane Inc. RC1200 Evaluation Board", std::make_unique<BoardFirmware>(back));
        std::vector<std::string> lines;
        set_diagnostic_sink([&](const std::string& line) { lines.push_back(line); });
        WindowsLibrary third(std::move(system2), nullptr);
        set_diagnostic_sink(nullptr);
        WindowsEvUSBBoard* reopened = third.find_adapter_board("kb2");
        ASSERT_NE(nullptr, reopened);
        BoardRef hold2(reopened);
        // every word but the identity word was written at least once: only
        // the identity word tells the store did not finish
        EXPECT_TRUE(reopened->is_nv_interrupted());
        EXPECT_EQ("1234567", reopened->get_nv_serial());
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.find("interrupted store") != std::string::npos;
        }));
        // a store that finishes makes the sector whole again
        reopened->store_boarddefaults();
        EXPECT_FALSE(reopened->is_nv_interrupted());
    }
}

// A status frame that the link delivers twice reaches listeners once; the
// next report (its ticks moved on) comes through as usual.
TEST_F(StatusThroughFrames, DuplicatedStatusFramesReachListenersOnce)
{
    std::vector<uint16_t> ticks;
    board->signal_status.connect([&](const USBDeviceStatus& s) { ticks.push_back(s.ticks); });
    for (int i = 0; i < 3; ++i) {
        const Frame status = fw().status_frame();
        link->push(status);
        link->push(status);
        pump_until([this] { return link->incoming.empty(); }, std::chrono::milliseconds(500));
    }
    ASSERT_EQ(3u, ticks.size());
    EXPECT_LT(ticks[0], ticks[1]);
    EXPECT_LT(ticks[1], ticks[2]);
}
