// Callback rules of the flat interface that need a board's own signals:
// receive kinds sharing one place, argument conversion, closing and
// replacing from inside a callback, and errors inside callbacks.

#include <gtest/gtest.h>

#include <glib.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "api/flat/FlatCommon.h"
#include "board/EvUSBBoard.h"
#include "board/SimBoard.h"
#include "model/GreyfinModel.h"

namespace {

struct Record {
    int plain = 0;
    int v2 = 0;
    int rssi = 0;
    int offset = 0;
    unsigned length = 0;
    std::vector<std::string> serials;
};

void on_plain(const unsigned char*, unsigned length, const unsigned char*, void* user)
{
    auto* r = static_cast<Record*>(user);
    ++r->plain;
    r->length = length;
}

void on_v2(const unsigned char*, unsigned length, const unsigned char*, int rssi, int offset, void* user)
{
    auto* r = static_cast<Record*>(user);
    ++r->v2;
    r->length = length;
    r->rssi = rssi;
    r->offset = offset;
}

std::string next_serial()
{
    static int n = 0;
    return "77" + std::to_string(10000 + n++);
}

class FlatCallbacks : public ::testing::Test {
protected:
    void SetUp() override
    {
        serial = next_serial();
        dev = libkorvik_open_simulation(serial.c_str(), "cb", "RC1200", "020000000001");
        ASSERT_NE(dev, nullptr);
        board = dev->device.get_board();
    }
    void TearDown() override
    {
        libkorvik_close(dev);
        libkorvik_periodic();
    }
    void receive(int16_t rssi = -5, int32_t offset = 1234)
    {
        const uint8_t data[3] = {1, 2, 3};
        const uint8_t mac[6] = {0, 1, 2, 3, 4, 5};
        board->signal_receive.emit(data, 3, mac, rssi, offset);
    }

    std::string serial;
    korvik_device* dev = nullptr;
    KORVIK::EvUSBBoard* board = nullptr;
};

TEST_F(FlatCallbacks, ReceiveKindsShareOnePlace)
{
    Record r;
    libkorvik_set_callback_receive_packet(dev, on_plain, &r);
    receive();
    EXPECT_EQ(r.plain, 1);
    EXPECT_EQ(r.length, 3u);

    libkorvik_set_callback_receive_packet_v2(dev, on_v2, &r);
    receive(-300, -77);
    EXPECT_EQ(r.plain, 1);
    EXPECT_EQ(r.v2, 1);
    EXPECT_EQ(r.rssi, -300); // sign-extended, not 65236
    EXPECT_EQ(r.offset, -77);

    libkorvik_set_callback_receive_packet(dev, on_plain, &r);
    receive();
    EXPECT_EQ(r.plain, 2);
    EXPECT_EQ(r.v2, 1);

    libkorvik_set_callback_receive_packet_v2(dev, nullptr, nullptr);
    receive();
    EXPECT_EQ(r.plain, 2);
    EXPECT_EQ(r.v2, 1);
}

TEST_F(FlatCallbacks, ArgumentsAreConvertedAndUserPointerComesLast)
{
    static korvik_status seen;
    static void* seen_user;
    int marker = 0;
    libkorvik_set_callback_status(dev, [](const korvik_status* s, void* user) {
        seen = *s;
        seen_user = user;
    }, &marker);
    KORVIK::USBDeviceStatus s;
    s.time_sec = 100;
    s.time_usec = 200;
    s.ticks = 0xBEEF;
    s.value3 = 7;
    s.progstate = 3;
    s.aux3 = 9;
    s.flag0 = true;
    s.flag7 = true;
    board->signal_status.emit(s);
    EXPECT_EQ(seen_user, &marker);
    EXPECT_EQ(seen.time_sec, 100);
    EXPECT_EQ(seen.time_usec, 200);
    EXPECT_EQ(seen.ticks, 0xBEEF);
    EXPECT_EQ(seen.value3, 7);
    EXPECT_EQ(seen.progstate, 3);
    EXPECT_EQ(seen.aux3, 9);
    EXPECT_EQ(seen.flag0, 1);
    EXPECT_EQ(seen.flag1, 0);
    EXPECT_EQ(seen.flag7, 1);

    static unsigned reg[3];
    libkorvik_set_callback_changed_register(dev, [](unsigned i, unsigned a, unsigned b, void*) {
        reg[0] = i;
        reg[1] = a;
        reg[2] = b;
    }, nullptr);
    ASSERT_NE(board->get_model(), nullptr);
    board->get_model()->signal_changed_register.emit(5, 0xF0, 0x0F);
    EXPECT_EQ(reg[0], 5u);
    EXPECT_EQ(reg[1], 0xF0u); // zero-extended
    EXPECT_EQ(reg[2], 0x0Fu);

    static int ranges[2];
    libkorvik_set_callback_terminate_autoranging(dev, [](int rx, int tx, void*) {
        ranges[0] = rx;
        ranges[1] = tx;
    }, nullptr);
    board->get_model()->signal_terminate_autoranging.emit(-1, 4);
    EXPECT_EQ(ranges[0], -1);
    EXPECT_EQ(ranges[1], 4);
}

TEST_F(FlatCallbacks, ClosingInsideACallbackKeepsTheBoardUntilTheEmissionEnds)
{
    // the handle holds the last reference once the board has left
    board->leave_registry();
    int later_slot_calls = 0;
    static korvik_device* target;
    target = dev;
    libkorvik_set_callback_receive_packet(dev, [](const unsigned char*, unsigned, const unsigned char*, void*) {
        libkorvik_close(target);
    }, nullptr);
    board->signal_receive.connect([&](const uint8_t*, unsigned, const uint8_t*, int16_t, int32_t) {
        ++later_slot_calls;
    });
    receive();
    EXPECT_EQ(later_slot_calls, 1);
    EXPECT_EQ(libkorvik_is_dead(dev), 1); // closed handles answer with error values
    libkorvik_set_callback_receive_packet(dev, on_plain, nullptr); // ignored
    testing::internal::CaptureStderr();
    libkorvik_periodic(); // releases handle and board
    std::string released = testing::internal::GetCapturedStderr();
    EXPECT_NE(released.find("USBDevice::~USBDevice end"), std::string::npos);
    EXPECT_NE(released.find("EvUSBBoard::~EvUSBBoard"), std::string::npos);
    dev = nullptr;
}

TEST_F(FlatCallbacks, ErrorsInsideACallbackStayThere)
{
    libkorvik_set_callback_changed_nv_serial(dev, [](void*) { throw std::runtime_error("boom"); }, nullptr);
    int after = 0;
    sigc::connection watch = board->signal_changed_nv_serial.connect([&] { ++after; });
    testing::internal::CaptureStderr();
    board->set_nv_serial("1234567");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("exception: boom\n"), std::string::npos);
    EXPECT_EQ(after, 1);
    watch.disconnect();
}

TEST_F(FlatCallbacks, ConnectCallbackReplacedDuringItsReplay)
{
    static Record first, second;
    first = Record();
    second = Record();
    libkorvik_set_callback_device_connect([](const char* s, void*) {
        first.serials.push_back(s);
        libkorvik_set_callback_device_connect([](const char* s2, void*) { second.serials.push_back(s2); },
                                              nullptr);
    }, nullptr);
    ASSERT_GE(first.serials.size(), 1u);
    size_t replayed = first.serials.size();

    std::string other = next_serial();
    korvik_device* d2 = libkorvik_open_simulation(other.c_str(), "x", "RC1100", "020000000002");
    ASSERT_NE(d2, nullptr);
    EXPECT_EQ(first.serials.size(), replayed); // only the later setting stays connected
    ASSERT_FALSE(second.serials.empty());
    EXPECT_EQ(second.serials.back(), other);
    libkorvik_set_callback_device_connect(nullptr, nullptr);
    libkorvik_close(d2);
}

TEST_F(FlatCallbacks, StringResultsAreOwnedCopies)
{
    char* a = libkorvik_get_serial(dev);
    char* b = libkorvik_get_serial(dev);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(std::string(a), serial);
    free(a);
    free(b);

    char** list = libkorvik_get_supported_chips();
    ASSERT_NE(list, nullptr);
    std::vector<std::string> names;
    for (char** p = list; *p; ++p)
        names.emplace_back(*p);
    libkorvik_free_stringlist(list);
    EXPECT_EQ(names, (std::vector<std::string>{"RC1200", "RC1400", "RC1100", "RC1300"}));
}

// A simulated board whose packets go somewhere: records each destination.
class SendingBoard : public KORVIK::SimBoard {
public:
    SendingBoard() : SimBoard("4242", "send-test", "sender", "020000000010", nullptr) {}
    int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* mac) override
    {
        sent.emplace_back(data, data + len);
        destinations.emplace_back(mac, mac + 6);
        return 0;
    }
    std::vector<std::vector<uint8_t>> sent;
    std::vector<std::vector<uint8_t>> destinations;
};

TEST(FlatPackets, NullDestinationMeansTheNvRadioMac)
{
    auto* board = new SendingBoard;
    auto* dev = new korvik_device(board); // the handle holds the only reference
    const unsigned char data[3] = {7, 8, 9};
    const unsigned char to[6] = {1, 2, 3, 4, 5, 6};
    const std::vector<uint8_t> nv_radio(board->get_nv_radio_ethernet_mac(), board->get_nv_radio_ethernet_mac() + 6);

    libkorvik_send_packet(dev, data, 3, nullptr);
    libkorvik_send_bpq_packet(dev, data, 3, nullptr);
    libkorvik_send_packet(dev, data, 3, to);
    libkorvik_send_packet(dev, nullptr, 3, to); // no data for a length: nothing

    ASSERT_EQ(board->destinations.size(), 3u);
    EXPECT_EQ(board->destinations[0], nv_radio);
    EXPECT_EQ(board->destinations[1], nv_radio);
    EXPECT_EQ(board->destinations[2], std::vector<uint8_t>(to, to + 6));
    EXPECT_EQ(board->sent[1], (std::vector<uint8_t>{8, 0, 7, 8, 9}));
    EXPECT_EQ(libkorvik_get_tx_pkt_count(dev), 3u);
    libkorvik_close(dev);
}

TEST(FlatPackets, VirtualAirCarriesPacketsBetweenSimulatedBoards)
{
    // two boards with the chip defaults hear each other
    korvik_device* a = libkorvik_open_simulation(next_serial().c_str(), "air a", "RC1200", "020000000101");
    korvik_device* b = libkorvik_open_simulation(next_serial().c_str(), "air b", "RC1200", "020000000201");
    ASSERT_TRUE(a && b);
    libkorvik_load_chipdefaults(a);
    libkorvik_load_chipdefaults(b);
    Record r;
    libkorvik_set_callback_receive_packet_v2(b, on_v2, &r);
    const unsigned char data[4] = {1, 2, 3, 4};

    libkorvik_send_packet(a, data, 4, nullptr); // air off: "no packet io", nothing counted
    EXPECT_EQ(libkorvik_get_tx_pkt_count(a), 0u);
    libkorvik_set_virtual_air(1);
    EXPECT_EQ(libkorvik_is_virtual_air(), 1);
    libkorvik_set_virtual_air_pair_path_loss(nullptr, "sim0", 50); // ignored
    libkorvik_send_packet(a, data, 4, nullptr);
    EXPECT_EQ(libkorvik_get_tx_pkt_count(a), 1u);
    for (int i = 0; i < 2000 && r.v2 == 0; ++i) {
        libkorvik_periodic();
        g_usleep(1000);
    }
    libkorvik_set_virtual_air(0);
    EXPECT_EQ(r.v2, 1);
    EXPECT_EQ(r.length, 4u);
    EXPECT_NEAR(r.rssi, libkorvik_get_tx_power(a) - 60, 9);
    EXPECT_EQ(libkorvik_get_rx_pkt_count(b), 1u);
    libkorvik_close(a);
    libkorvik_close(b);
}

} // namespace
