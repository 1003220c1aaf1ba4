// The static operations on the process-wide registry, and the forwarding of
// every instance operation to the board or its chip model.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <korvik/USBDevice.h>

#include "api/Library.h"
#include "board/ParamTable.h"
#include "board/SimBoard.h"
#include "model/GreyfinModel.h"

using KORVIK::EvUSBBoard;
using KORVIK::GreyfinModel;
using KORVIK::Library;
using KORVIK::SimBoard;
using KORVIK::USBDevice;

namespace {

using Handle = std::unique_ptr<USBDevice>;

std::string sim_number_after(const std::string& interface, int step)
{
    return "sim" + std::to_string(std::stoi(interface.substr(3)) + step);
}

// Makes the board behind the handle leave the registry.
void unplug(USBDevice& device)
{
    device.get_board()->leave_registry();
}

// ---- static operations on the process-wide registry ----

TEST(Facade, OneArgumentSlotsReceiveTheSerial)
{
    std::vector<std::string> connected, disconnected;
    auto c1 = USBDevice::notify_device_connect(
        sigc::slot<void(const std::string&)>([&](const std::string& s) { connected.push_back(s); }));
    auto c2 = USBDevice::notify_device_disconnect(
        sigc::slot<void(const std::string&)>([&](const std::string& s) { disconnected.push_back(s); }));
    connected.clear(); // drop the replay of boards left by other tests

    Handle device(USBDevice::open_simulation("one-arg-serial", "One", "RC1200", "0012340A0B0C"));
    ASSERT_TRUE(device);
    EXPECT_EQ(connected, std::vector<std::string>{"one-arg-serial"});
    unplug(*device);
    EXPECT_EQ(disconnected, std::vector<std::string>{"one-arg-serial"});
    c1.disconnect();
    c2.disconnect();
}

TEST(Facade, ConnectSubscriptionSeesEveryBoardOnceBeforeOrAfterArrival)
{
    Handle a(USBDevice::open_simulation("replay-a", "A", "RC1200", "0012340A0B0C"));
    Handle b(USBDevice::open_simulation("replay-b", "B", "RC1200", "0012340A0B0C"));
    std::vector<std::pair<std::string, std::string>> calls;
    auto connection = USBDevice::notify_device_connect(sigc::slot<void(const std::string&, const std::string&)>(
        [&](const std::string& i, const std::string& s) { calls.emplace_back(i, s); }));
    int seen_a = 0, seen_b = 0;
    for (const auto& call : calls) {
        seen_a += call == std::make_pair(a->get_interface(), std::string("replay-a"));
        seen_b += call == std::make_pair(b->get_interface(), std::string("replay-b"));
    }
    EXPECT_EQ(seen_a, 1);
    EXPECT_EQ(seen_b, 1);
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_LT(calls[i - 1].first, calls[i].first);

    calls.clear();
    Handle c(USBDevice::open_simulation("replay-c", "C", "RC1200", "0012340A0B0C"));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].second, "replay-c");
    connection.disconnect();
    unplug(*a);
    unplug(*b);
    unplug(*c);
}

TEST(Facade, SimulationNumbersAreNeverReused)
{
    Handle first(USBDevice::open_simulation("num-1", "First", "RC1200", "0012340A0B0C"));
    ASSERT_TRUE(first);
    const std::string iface = first->get_interface();
    ASSERT_EQ(iface.compare(0, 3, "sim"), 0);
    EXPECT_EQ(first->get_boardflags() & 1u, 1u);

    // an existing serial opens the existing board; the other arguments are ignored
    Handle again(USBDevice::open_simulation("num-1", "Other", "RC1400", "FFFFFFFFFFFF"));
    EXPECT_EQ(again->get_board(), first->get_board());
    EXPECT_EQ(again->get_display_name(), "First");

    unplug(*first);
    Handle second(USBDevice::open_simulation("num-2", "Second", "RC1200", "0012340A0B0C"));
    EXPECT_EQ(second->get_interface(), sim_number_after(iface, 1));

    // a rejected chip name uses up its number and registers nothing
    const size_t before = Library::instance()->get_boards().size();
    try {
        Handle bad(USBDevice::open_simulation("num-bad", "Bad", "XY1200", "0012340A0B0C"));
        ADD_FAILURE() << "XY1200 was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "invalid Chip Model Name: XY1200");
    }
    EXPECT_EQ(Library::instance()->get_boards().size(), before);
    EXPECT_EQ(USBDevice::open("num-bad"), nullptr);
    Handle third(USBDevice::open_simulation("num-3", "Third", "RC1200", "0012340A0B0C"));
    EXPECT_EQ(third->get_interface(), sim_number_after(iface, 3));
    unplug(*second);
    unplug(*third);
}

TEST(Facade, SimulationSkipsAnInterfaceNameInUse)
{
    Handle first(USBDevice::open_simulation("taken-1", "First", "RC1200", "0012340A0B0C"));
    ASSERT_TRUE(first);
    Library* library = Library::instance();
    const std::string taken = sim_number_after(first->get_interface(), 1);
    library->add_board(new SimBoard("taken-adapter", taken, "Adapter", "RC1200", "0012340A0B0C", library));

    Handle second(USBDevice::open_simulation("taken-2", "Second", "RC1200", "0012340A0B0C"));
    EXPECT_EQ(second->get_interface(), sim_number_after(first->get_interface(), 2));
    Handle again(USBDevice::open("taken-2"));
    ASSERT_TRUE(again) << "the new board is registered";
    EXPECT_EQ(again->get_board(), second->get_board());

    Handle adapter(USBDevice::open_iface(taken));
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->get_serial(), "taken-adapter");
    unplug(*first);
    unplug(*second);
    unplug(*adapter);
}

TEST(Facade, HandleKeepsRemovedBoardAlive)
{
    Handle device(USBDevice::open_simulation("keep-alive", "Kept", "RC1200", "00123456789A"));
    ASSERT_TRUE(device);
    const std::string iface = device->get_interface();
    EXPECT_FALSE(device->is_dead());
    Handle by_iface(USBDevice::open_iface(iface));
    ASSERT_TRUE(by_iface);
    EXPECT_EQ(by_iface->get_board(), device->get_board());
    by_iface.reset();

    std::vector<std::string> gone;
    auto connection = USBDevice::notify_device_disconnect(
        sigc::slot<void(const std::string&, const std::string&)>(
            [&](const std::string& i, const std::string&) { gone.push_back(i); }));
    unplug(*device);
    connection.disconnect();
    EXPECT_EQ(gone, std::vector<std::string>{iface});
    EXPECT_TRUE(device->is_dead());
    EXPECT_EQ(USBDevice::open("keep-alive"), nullptr);
    EXPECT_EQ(USBDevice::open_iface(iface), nullptr);
    // still answers from its own state
    EXPECT_EQ(device->get_serial(), "keep-alive");
    EXPECT_EQ(device->get_interface(), iface);
    EXPECT_EQ(device->get_radio_ethernet_mac()[5], 0x9B);
    EXPECT_EQ(device->get_board()->get_refcount(), 1);
}

TEST(Facade, OpenBySharedSerialPicksFirstInterface)
{
    Library* library = Library::instance();
    ASSERT_NE(library, nullptr);
    library->add_board(new SimBoard("shared-serial", "zz-shared-b", "B", "RC1200", "0012340A0B0C", library));
    library->add_board(new SimBoard("shared-serial", "zz-shared-a", "A", "RC1200", "0012340A0B0C", library));
    Handle device(USBDevice::open("shared-serial"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->get_interface(), "zz-shared-a");
    Handle other(USBDevice::open_iface("zz-shared-b"));
    ASSERT_TRUE(other);
    // open_simulation with the shared serial creates nothing new
    Handle sim(USBDevice::open_simulation("shared-serial", "S", "RC1200", "0012340A0B0C"));
    EXPECT_EQ(sim->get_interface(), "zz-shared-a");
    unplug(*device);
    unplug(*other);
    EXPECT_EQ(USBDevice::open("no-such-serial"), nullptr);
    EXPECT_EQ(USBDevice::open_iface("no-such-interface"), nullptr);
}

TEST(Facade, EvChipNameGivesRcModel)
{
    Handle device(USBDevice::open_simulation("ev-name", "EV", "EV1200", "0012340A0B0C"));
    ASSERT_TRUE(device);
    EXPECT_EQ(device->get_chip_name(), "RC1200");
    EXPECT_GT(device->get_registers(), 0u);
    unplug(*device);
}

TEST(Facade, HandleLinesSurroundTheReference)
{
    EvUSBBoard* board = new SimBoard("lines", "ln0", "Lines", "RC1200", "0012340A0B0C", nullptr);
    testing::internal::CaptureStderr();
    auto* device = new USBDevice(board);
    delete device;
    const std::string text = testing::internal::GetCapturedStderr();
    const size_t start = text.find("USBDevice::USBDevice start\n");
    const size_t reference = text.find("EvUSBBoard::reference: 1");
    const size_t end = text.find("USBDevice::USBDevice end\n");
    const size_t release_start = text.find("USBDevice::~USBDevice start\n");
    const size_t unreference = text.find("EvUSBBoard::unreference: 0");
    const size_t release_end = text.find("USBDevice::~USBDevice end\n");
    ASSERT_NE(release_end, std::string::npos) << text;
    EXPECT_LT(start, reference);
    EXPECT_LT(reference, end);
    EXPECT_LT(end, release_start);
    EXPECT_LT(release_start, unreference);
    EXPECT_LT(unreference, release_end);
}

// ---- a board without chip model ----

class NoModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        EvUSBBoard* board = new SimBoard("nomodel", "nm0", "No model", "RC1200", "0012340A0B0C", nullptr);
        board->set_model(nullptr);
        device = std::make_unique<USBDevice>(board);
    }
    Handle device;
};

TEST_F(NoModel, ModelFamiliesAnswerNeutralDefaults)
{
    USBDevice& d = *device;
    EXPECT_EQ(d.get_agcreference(), -2147483647 - 1);
    EXPECT_EQ(d.get_txkeyup(), 85);
    EXPECT_EQ(d.get_chip_name(), "");
    EXPECT_EQ(d.get_chipflags(), 0u);
    EXPECT_EQ(d.get_xtal_frequency(), 0u);
    EXPECT_EQ(d.get_xtal_tolerance(), 0.0);
    EXPECT_TRUE(d.get_supported_modulations().empty());
    EXPECT_TRUE(d.get_supported_rx_btr_settings().empty());
    EXPECT_TRUE(d.get_supported_framingmodes().empty());
    EXPECT_TRUE(d.get_supported_crcmodes().empty());
    EXPECT_EQ(d.get_supported_encodingmodes(), 0u);
    auto currents = d.get_currents();
    for (double v : currents.values)
        EXPECT_TRUE(std::isnan(v));
    EXPECT_EQ(d.get_rx_carrierfrequency(), 0.0);
    EXPECT_EQ(d.get_tx_bitrate(), 0.0);
    EXPECT_EQ(d.convert_frequencyoffset(1000), 0.0);
    EXPECT_EQ(d.get_crcinit(), 0u);
    EXPECT_FALSE(d.is_framingmode_hdlc());
    EXPECT_FALSE(d.is_modulation_fsk(8));
    EXPECT_EQ(d.get_registers(), 0u);
    EXPECT_EQ(d.get_register_chipvalue(0), 0);
    EXPECT_EQ(d.get_register_name(0), "");
    EXPECT_EQ(d.get_bitfields(), 0u);
    EXPECT_EQ(d.get_bitfield_name(0), "");
    EXPECT_EQ(d.debug_register_dump(), "");

    // setters and commits are ignored, nothing throws
    d.set_tx_carrierfrequency(868e6);
    d.set_rx(100000, 10000, 8, 0);
    d.set_register_chipvalue(0, 1);
    d.set_bitfield_chipvalue(0, 1);
    d.commit_registers();
    d.commit_all_registers();
    EXPECT_EQ(d.get_tx_carrierfrequency(), 0.0);

    sigc::connection c = d.notify_changed_tx_power([] {});
    EXPECT_FALSE(c.connected());
    EXPECT_FALSE(d.notify_changed_register([](unsigned, unsigned char, unsigned char) {}).connected());
    EXPECT_FALSE(d.notify_terminate_autoranging([](int, int) {}).connected());
}

TEST_F(NoModel, BoardFamiliesStillReachTheBoard)
{
    USBDevice& d = *device;
    EXPECT_EQ(d.get_serial(), "nomodel");
    EXPECT_EQ(d.get_boardflags(), 1u);
    EXPECT_FALSE(d.is_net_up());
    int changes = 0;
    d.notify_changed_chacc_slottime([&] { ++changes; });
    d.set_chacc_slottime(0.0305);
    EXPECT_EQ(changes, 1);
    EXPECT_NEAR(d.get_chacc_slottime(), 0.030, 1e-12);
    // 12 bytes of preamble at the fallback 100 bit/s
    EXPECT_NEAR(d.get_chacc_preamble_sec(), 0.96, 1e-12);
    const unsigned char data[3] = {1, 2, 3};
    EXPECT_THROW(d.send_packet(data, 3, nullptr), std::runtime_error);
    EXPECT_EQ(d.get_tx_pkt_count(), 0u);
}

// ---- forwarding to the chip model: every operation reaches its own ----

class FakeModel : public GreyfinModel {
public:
    explicit FakeModel(EvUSBBoard* board) : GreyfinModel(board)
    {
        registers.emplace_back("FIRST", 0x010, 0x110, 0xA5, 0xF0, KORVIK::REG_RECEIVE);
        registers.emplace_back("SECOND", 0x020, 0x120, 0x5A, 0x0F, KORVIK::REG_TRANSMIT | KORVIK::REG_SHARED);
        bitfields.push_back({"FIELD", "a field", "tip", {{1, 2, 3}}});
    }

    std::vector<std::string> calls;
    unsigned predicate_bits = 0; // predicate n answers bit n

    template <typename T> void record(const char* name, T value)
    {
        std::ostringstream text;
        text << name << ' ' << value;
        calls.push_back(text.str());
    }
    bool bit(unsigned n) const { return (predicate_bits >> n) & 1u; }
    // getters note their name apart from the calls, so that a caller can
    // tell which one answered
    std::vector<std::string> reads;
    template <typename T> T seen(const char* name, T value)
    {
        reads.push_back(name);
        return value;
    }

    void idle_hook(unsigned) override {}
    void terminate_autoranging(int, int) override {}
    std::string get_chip_name() override { return "FAKE"; }
    unsigned get_chipflags() override { return seen("get_chipflags", 3); }
    std::list<std::string> get_supported_modulations() override { return {"M"}; }
    std::list<std::string> get_supported_framingmodes() override { return {"F1", "F2"}; }
    std::list<std::string> get_supported_crcmodes() override { return {"C1", "C2", "C3"}; }
    std::list<std::string> get_supported_rx_btr_settings() override { return {"B1", "B2", "B3", "B4"}; }
    unsigned get_supported_encodingmodes() override { return seen("get_supported_encodingmodes", 13); }
    int get_rx_modulation() override { return seen("get_rx_modulation", 1001); }
    int get_tx_modulation() override { return seen("get_tx_modulation", 1002); }
    double get_rx_carrierfrequency() override { return seen("get_rx_carrierfrequency", 1003); }
    double get_tx_carrierfrequency() override { return seen("get_tx_carrierfrequency", 1004); }
    double get_rx_bandwidth() override { return seen("get_rx_bandwidth", 1005); }
    double get_tx_deviation() override { return seen("get_tx_deviation", 1006); }
    double get_rx_bitrate() override { return seen("get_rx_bitrate", 1007); }
    double get_tx_bitrate() override { return seen("get_tx_bitrate", 1008); }
    int get_rx_btr() override { return seen("get_rx_btr", 1009); }
    int get_rx_btr_preamble() override { return seen("get_rx_btr_preamble", 1010); }
    double get_tx_power() override { return seen("get_tx_power", 1011); }
    unsigned get_rx_range() override { return seen("get_rx_range", 1012); }
    unsigned get_tx_range() override { return seen("get_tx_range", 1013); }
    double get_rx_maxfrequencyoffset() override { return seen("get_rx_maxfrequencyoffset", 1014); }
    double convert_frequencyoffset(int offset) override { return 2.0 * offset; }
    double get_iffrequency() override { return seen("get_iffrequency", 1015); }
    int get_agcreference() override { return seen("get_agcreference", 1016); }
    int get_framingmode() override { return seen("get_framingmode", 1017); }
    int get_crcmode() override { return seen("get_crcmode", 1018); }
    unsigned get_crcinit() override { return seen("get_crcinit", 1019); }
    unsigned get_crclength() override { return seen("get_crclength", 1020); }
    uint8_t get_txkeyup() override { return seen("get_txkeyup", 121); }
    unsigned get_txkeyup_length() override { return seen("get_txkeyup_length", 1022); }
    unsigned get_preamble() override { return seen("get_preamble", 1023); }
    unsigned get_preamble_length() override { return seen("get_preamble_length", 1024); }
    unsigned get_postamble_length() override { return seen("get_postamble_length", 1025); }

    bool is_modulation_shaped(int m) override { return m == 100 && bit(0); }
    bool is_modulation_ask(int m) override { return m == 100 && bit(1); }
    bool is_modulation_psk(int m) override { return m == 100 && bit(2); }
    bool is_modulation_fsk(int m) override { return m == 100 && bit(3); }
    bool is_modulation_4fsk(int m) override { return m == 100 && bit(4); }
    bool is_framingmode_raw() override { return bit(5); }
    bool is_framingmode_rawsoft() override { return bit(6); }
    bool is_framingmode_rawpreamblematch() override { return bit(7); }
    bool is_framingmode_hdlc() override { return bit(8); }
    bool is_framingmode_hdlc_fec() override { return bit(9); }
    bool is_framingmode_zigbee() override { return bit(10); }
    bool is_framingmode_zigbee_900() override { return bit(11); }
    bool is_framingmode_zigbee_2g4() override { return bit(12); }
    bool is_framingmode_wiremode() override { return bit(13); }
    bool is_framingmode_crcsupported() override { return bit(14); }
    bool get_enc_invert() override { return seen("get_enc_invert", bit(15)); }
    bool get_enc_diff() override { return seen("get_enc_diff", bit(16)); }
    bool get_enc_scrambler() override { return seen("get_enc_scrambler", bit(17)); }
    bool get_enc_manchester() override { return seen("get_enc_manchester", bit(18)); }
    bool is_crcmode_ccitt() override { return bit(19); }
    bool is_crcmode_crc16() override { return bit(20); }
    bool is_crcmode_dnp() override { return bit(21); }
    bool is_crcmode_crc32() override { return bit(22); }

    void set_xtal_frequency(unsigned v) override { record("set_xtal_frequency", v); }
    void set_xtal_tolerance(double v) override { record("set_xtal_tolerance", v); }
    void set_rx(double bw, double br, int mod, bool derive, int btr) override
    {
        std::ostringstream text;
        text << "set_rx " << bw << ' ' << br << ' ' << mod << ' ' << derive << ' ' << btr;
        calls.push_back(text.str());
    }
    void set_tx(double dev, double br, int mod, bool derive) override
    {
        std::ostringstream text;
        text << "set_tx " << dev << ' ' << br << ' ' << mod << ' ' << derive;
        calls.push_back(text.str());
    }
    void set_rx_modulation(int v) override { record("set_rx_modulation", v); }
    void set_tx_modulation(int v) override { record("set_tx_modulation", v); }
    void set_rx_carrierfrequency(double v) override { record("set_rx_carrierfrequency", v); }
    void set_tx_carrierfrequency(double v) override { record("set_tx_carrierfrequency", v); }
    void set_rx_bandwidth(double v) override { record("set_rx_bandwidth", v); }
    void set_tx_deviation(double v) override { record("set_tx_deviation", v); }
    void set_rx_bitrate(double v) override { record("set_rx_bitrate", v); }
    void set_tx_bitrate(double v) override { record("set_tx_bitrate", v); }
    void set_rx_btr(int v) override { record("set_rx_btr", v); }
    void set_tx_power(double v) override { record("set_tx_power", v); }
    void step_tx_power(int v) override { record("step_tx_power", v); }
    void set_rx_range(unsigned v) override { record("set_rx_range", v); }
    void set_tx_range(unsigned v) override { record("set_tx_range", v); }
    void set_iffrequency(double v) override { record("set_iffrequency", v); }
    void set_framingmode(int v) override { record("set_framingmode", v); }
    void set_enc_invert(bool v) override { record("set_enc_invert", v); }
    void set_enc_diff(bool v) override { record("set_enc_diff", v); }
    void set_enc_scrambler(bool v) override { record("set_enc_scrambler", v); }
    void set_enc_manchester(bool v) override { record("set_enc_manchester", v); }
    void set_crcmode(int v) override { record("set_crcmode", v); }
    void set_crcinit(unsigned v) override { record("set_crcinit", v); }
    void set_preamble(unsigned v) override { record("set_preamble", v); }
    void set_preamble_length(unsigned v) override { record("set_preamble_length", v); }
    void commit_registers() override { calls.push_back("commit_registers"); }
    void commit_all_registers() override { calls.push_back("commit_all_registers"); }
};

class Forwarding : public ::testing::Test {
protected:
    void SetUp() override
    {
        EvUSBBoard* board = new SimBoard("fwd", "fw0", "Forwarding", "RC1200", "0012340A0B0C", nullptr);
        model = new FakeModel(board);
        board->set_model(model);
        device = std::make_unique<USBDevice>(board);
    }
    FakeModel* model = nullptr;
    Handle device;
};

TEST_F(Forwarding, ValueGettersReachTheirOwnModelOperation)
{
    struct Row { const char* name; std::function<double(USBDevice&)> get; double expected; };
    const std::vector<Row> rows = {
        {"get_rx_modulation", [](USBDevice& d) { return d.get_rx_modulation(); }, 1001},
        {"get_tx_modulation", [](USBDevice& d) { return d.get_tx_modulation(); }, 1002},
        {"get_rx_carrierfrequency", [](USBDevice& d) { return d.get_rx_carrierfrequency(); }, 1003},
        {"get_tx_carrierfrequency", [](USBDevice& d) { return d.get_tx_carrierfrequency(); }, 1004},
        {"get_rx_bandwidth", [](USBDevice& d) { return d.get_rx_bandwidth(); }, 1005},
        {"get_tx_deviation", [](USBDevice& d) { return d.get_tx_deviation(); }, 1006},
        {"get_rx_bitrate", [](USBDevice& d) { return d.get_rx_bitrate(); }, 1007},
        {"get_tx_bitrate", [](USBDevice& d) { return d.get_tx_bitrate(); }, 1008},
        {"get_rx_btr", [](USBDevice& d) { return d.get_rx_btr(); }, 1009},
        {"get_rx_btr_preamble", [](USBDevice& d) { return d.get_rx_btr_preamble(); }, 1010},
        {"get_tx_power", [](USBDevice& d) { return d.get_tx_power(); }, 1011},
        {"get_rx_range", [](USBDevice& d) { return d.get_rx_range(); }, 1012},
        {"get_tx_range", [](USBDevice& d) { return d.get_tx_range(); }, 1013},
        {"get_rx_maxfrequencyoffset", [](USBDevice& d) { return d.get_rx_maxfrequencyoffset(); }, 1014},
        {"convert_frequencyoffset", [](USBDevice& d) { return d.convert_frequencyoffset(-7); }, -14},
        {"get_iffrequency", [](USBDevice& d) { return d.get_iffrequency(); }, 1015},
        {"get_agcreference", [](USBDevice& d) { return d.get_agcreference(); }, 1016},
        {"get_framingmode", [](USBDevice& d) { return d.get_framingmode(); }, 1017},
        {"get_crcmode", [](USBDevice& d) { return d.get_crcmode(); }, 1018},
        {"get_crcinit", [](USBDevice& d) { return d.get_crcinit(); }, 1019},
        {"get_crclength", [](USBDevice& d) { return d.get_crclength(); }, 1020},
        {"get_txkeyup", [](USBDevice& d) { return d.get_txkeyup(); }, 121},
        {"get_txkeyup_length", [](USBDevice& d) { return d.get_txkeyup_length(); }, 1022},
        {"get_preamble", [](USBDevice& d) { return d.get_preamble(); }, 1023},
        {"get_preamble_length", [](USBDevice& d) { return d.get_preamble_length(); }, 1024},
        {"get_postamble_length", [](USBDevice& d) { return d.get_postamble_length(); }, 1025},
        {"get_chipflags", [](USBDevice& d) { return d.get_chipflags(); }, 3},
        {"get_supported_encodingmodes", [](USBDevice& d) { return d.get_supported_encodingmodes(); }, 13},
        {"get_supported_modulations", [](USBDevice& d) { return d.get_supported_modulations().size(); }, 1},
        {"get_supported_framingmodes", [](USBDevice& d) { return d.get_supported_framingmodes().size(); }, 2},
        {"get_supported_crcmodes", [](USBDevice& d) { return d.get_supported_crcmodes().size(); }, 3},
        {"get_supported_rx_btr_settings", [](USBDevice& d) { return d.get_supported_rx_btr_settings().size(); }, 4},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.get(*device), row.expected) << row.name;
    EXPECT_EQ(device->get_chip_name(), "FAKE");
}

TEST_F(Forwarding, PredicatesReachTheirOwnModelOperation)
{
    using Predicate = std::function<bool(USBDevice&)>;
    // row n is answered by bit n of the fake
    const std::vector<std::pair<const char*, Predicate>> rows = {
        {"is_modulation_shaped", [](USBDevice& d) { return d.is_modulation_shaped(100); }},
        {"is_modulation_ask", [](USBDevice& d) { return d.is_modulation_ask(100); }},
        {"is_modulation_psk", [](USBDevice& d) { return d.is_modulation_psk(100); }},
        {"is_modulation_fsk", [](USBDevice& d) { return d.is_modulation_fsk(100); }},
        {"is_modulation_4fsk", [](USBDevice& d) { return d.is_modulation_4fsk(100); }},
        {"is_framingmode_raw", [](USBDevice& d) { return d.is_framingmode_raw(); }},
        {"is_framingmode_rawsoft", [](USBDevice& d) { return d.is_framingmode_rawsoft(); }},
        {"is_framingmode_rawpreamblematch", [](USBDevice& d) { return d.is_framingmode_rawpreamblematch(); }},
        {"is_framingmode_hdlc", [](USBDevice& d) { return d.is_framingmode_hdlc(); }},
        {"is_framingmode_hdlc_fec", [](USBDevice& d) { return d.is_framingmode_hdlc_fec(); }},
        {"is_framingmode_zigbee", [](USBDevice& d) { return d.is_framingmode_zigbee(); }},
        {"is_framingmode_zigbee_900", [](USBDevice& d) { return d.is_framingmode_zigbee_900(); }},
        {"is_framingmode_zigbee_2g4", [](USBDevice& d) { return d.is_framingmode_zigbee_2g4(); }},
        {"is_framingmode_wiremode", [](USBDevice& d) { return d.is_framingmode_wiremode(); }},
        {"is_framingmode_crcsupported", [](USBDevice& d) { return d.is_framingmode_crcsupported(); }},
        {"get_enc_invert", [](USBDevice& d) { return d.get_enc_invert(); }},
        {"get_enc_diff", [](USBDevice& d) { return d.get_enc_diff(); }},
        {"get_enc_scrambler", [](USBDevice& d) { return d.get_enc_scrambler(); }},
        {"get_enc_manchester", [](USBDevice& d) { return d.get_enc_manchester(); }},
        {"is_crcmode_ccitt", [](USBDevice& d) { return d.is_crcmode_ccitt(); }},
        {"is_crcmode_crc16", [](USBDevice& d) { return d.is_crcmode_crc16(); }},
        {"is_crcmode_dnp", [](USBDevice& d) { return d.is_crcmode_dnp(); }},
        {"is_crcmode_crc32", [](USBDevice& d) { return d.is_crcmode_crc32(); }},
    };
    for (size_t n = 0; n < rows.size(); ++n) {
        model->predicate_bits = 1u << n;
        for (size_t m = 0; m < rows.size(); ++m)
            EXPECT_EQ(rows[m].second(*device), m == n) << rows[m].first << " with bit " << n;
    }
    model->predicate_bits = ~0u;
    EXPECT_FALSE(device->is_modulation_fsk(99)) << "the modulation argument is passed on";
}

TEST_F(Forwarding, SettersReachTheirOwnModelOperation)
{
    USBDevice& d = *device;
    d.set_xtal_frequency(16000001);
    d.set_xtal_tolerance(2.5);
    d.set_rx(25000, 9600, 8, 1);
    d.set_tx(5000, 4800, 9);
    d.set_rx_modulation(3);
    d.set_tx_modulation(4);
    d.set_rx_carrierfrequency(1.5);
    d.set_tx_carrierfrequency(2.5);
    d.set_rx_bandwidth(3.5);
    d.set_tx_deviation(4.5);
    d.set_rx_bitrate(5.5);
    d.set_tx_bitrate(6.5);
    d.set_rx_btr(1);
    d.set_tx_power(-3.5);
    d.step_tx_power(-2);
    d.set_rx_range(11);
    d.set_tx_range(12);
    d.set_iffrequency(7.5);
    d.set_framingmode(13);
    d.set_enc_invert(true);
    d.set_enc_diff(false);
    d.set_enc_scrambler(true);
    d.set_enc_manchester(false);
    d.set_crcmode(2);
    d.set_crcinit(0xFFFF);
    d.set_preamble(0xAA);
    d.set_preamble_length(32);
    d.commit_registers();
    d.commit_all_registers();
    const std::vector<std::string> expected = {
        "set_xtal_frequency 16000001", "set_xtal_tolerance 2.5",
        "set_rx 25000 9600 8 1 1", "set_tx 5000 4800 9 1", // the derive flag is always set
        "set_rx_modulation 3", "set_tx_modulation 4",
        "set_rx_carrierfrequency 1.5", "set_tx_carrierfrequency 2.5",
        "set_rx_bandwidth 3.5", "set_tx_deviation 4.5",
        "set_rx_bitrate 5.5", "set_tx_bitrate 6.5", "set_rx_btr 1",
        "set_tx_power -3.5", "step_tx_power -2", "set_rx_range 11", "set_tx_range 12",
        "set_iffrequency 7.5", "set_framingmode 13",
        "set_enc_invert 1", "set_enc_diff 0", "set_enc_scrambler 1", "set_enc_manchester 0",
        "set_crcmode 2", "set_crcinit 65535", "set_preamble 170", "set_preamble_length 32",
        "commit_registers", "commit_all_registers",
    };
    EXPECT_EQ(model->calls, expected);
}

// The parameter table's named access on the chip model, against the fake:
// every row of the receiver, transmitter, chip or host reads through the
// model getter of its own name and writes through the setter of its own
// name. A row the fake cannot answer must be named here with the reason, so
// that a new row cannot go unchecked.
TEST_F(Forwarding, EveryModelRowOfTheTableReachesItsOwnOperation)
{
    const std::set<std::string> beyond_the_fake = {
        "preamble", "preamble_length", // only the pattern-matching chips have them
        "enc_diff",                    // the fake's encodings (13) leave it out
    };
    // the crystal data every model keeps itself: no operation of a chip to reach
    const std::set<std::string> kept_by_every_model = {"xtal_frequency", "xtal_tolerance"};
    std::set<std::string> checked;
    for (const KORVIK::ParamInfo& p : USBDevice::get_param_table()) {
        if (p.scope == KORVIK::ParamScope::board)
            continue;
        SCOPED_TRACE(p.name);
        if (!device->has_param(p.name)) {
            EXPECT_TRUE(beyond_the_fake.count(p.name)) << "the fake model does not answer it";
            continue;
        }
        checked.insert(p.name);
        model->reads.clear();
        const double value = device->get_param(p.name).number;
        const std::string getter = std::string("get_") + p.name;
        if (kept_by_every_model.count(p.name))
            EXPECT_EQ(value, p.name == std::string("xtal_frequency") ? double(model->get_xtal_frequency())
                                                                     : model->get_xtal_tolerance());
        else
            EXPECT_NE(std::find(model->reads.begin(), model->reads.end(), getter), model->reads.end())
                << "read through " << ::testing::PrintToString(model->reads);
        const KORVIK::ParamRow* row = KORVIK::find_param_row(p.name);
        ASSERT_TRUE(row);
        EXPECT_EQ(p.writable, bool(row->set));
        if (!row->set)
            continue;
        model->calls.clear();
        KORVIK::ParamValue v;
        v.number = 1;
        row->set(*device->get_board(), v);
        ASSERT_EQ(model->calls.size(), 1u) << ::testing::PrintToString(model->calls);
        EXPECT_EQ(model->calls[0].rfind(std::string("set_") + p.name + " ", 0), 0u) << model->calls[0];
    }
    EXPECT_GT(checked.size(), 20u);
}

TEST_F(Forwarding, RegisterAndBitfieldTablesAndTheirBounds)
{
    USBDevice& d = *device;
    ASSERT_EQ(d.get_registers(), 2u);
    EXPECT_EQ(d.get_register_name(1), "SECOND");
    EXPECT_EQ(d.get_register_chipaddr(1), 0x020);
    EXPECT_EQ(d.get_register_operatingaddr(1), 0x120);
    EXPECT_EQ(d.get_register_mask(0), 0xF0);
    EXPECT_EQ(d.get_register_defaultvalue(0), 0xA5);
    EXPECT_TRUE(d.is_register_receive(0));
    EXPECT_FALSE(d.is_register_transmit(0));
    EXPECT_TRUE(d.is_register_transmit(1));
    EXPECT_TRUE(d.is_register_shared(1));

    d.set_register_chipvalue(1, 0x03);
    // bits outside the mask keep the default
    EXPECT_EQ(d.get_register_chipvalue(1), 0x53);
    d.frob_register_chipvalue(1, 0xFF, 0x00);
    EXPECT_EQ(d.get_register_chipvalue(1), 0x5C);

    // one past the end reads neutral values and writes nothing
    const unsigned end = d.get_registers();
    EXPECT_EQ(d.get_register_chipvalue(end), 0);
    EXPECT_EQ(d.get_register_chipaddr(end), 0);
    EXPECT_EQ(d.get_register_name(end), "");
    EXPECT_FALSE(d.is_register_shared(end));
    const unsigned char first = d.get_register_chipvalue(0);
    d.set_register_chipvalue(end, 0x55);
    d.frob_register_chipvalue(end, 0x55, 0xFF);
    EXPECT_EQ(d.get_register_chipvalue(0), first);
    EXPECT_EQ(d.get_register_chipvalue(1), 0x5C);

    ASSERT_EQ(d.get_bitfields(), 1u);
    EXPECT_EQ(d.get_bitfield_name(0), "FIELD");
    EXPECT_EQ(d.get_bitfield_description(0), "a field");
    EXPECT_EQ(d.get_bitfield_tooltip(0), "tip");
    EXPECT_EQ(d.get_bitfield_bitlength(0), 3u);
    EXPECT_EQ(d.get_bitfield_name(1), "");
    EXPECT_EQ(d.get_bitfield_chipvalue(1), 0u);
}

TEST_F(Forwarding, ModelNotificationsConnectToTheirOwnSignal)
{
    using Notify = sigc::connection (USBDevice::*)(const sigc::slot<void()>&);
    struct Row { Notify notify; sigc::signal<void()>& signal; const char* name; };
    FakeModel& m = *model;
    const std::vector<Row> rows = {
        {&USBDevice::notify_changed_xtal_frequency, m.signal_changed_xtal_frequency, "xtal_frequency"},
        {&USBDevice::notify_changed_xtal_tolerance, m.signal_changed_xtal_tolerance, "xtal_tolerance"},
        {&USBDevice::notify_changed_rx_modulation, m.signal_changed_rx_modulation, "rx_modulation"},
        {&USBDevice::notify_changed_tx_modulation, m.signal_changed_tx_modulation, "tx_modulation"},
        {&USBDevice::notify_changed_rx_carrierfrequency, m.signal_changed_rx_carrierfrequency, "rx_carrierfrequency"},
        {&USBDevice::notify_changed_tx_carrierfrequency, m.signal_changed_tx_carrierfrequency, "tx_carrierfrequency"},
        {&USBDevice::notify_changed_rx_bandwidth, m.signal_changed_rx_bandwidth, "rx_bandwidth"},
        {&USBDevice::notify_changed_tx_deviation, m.signal_changed_tx_deviation, "tx_deviation"},
        {&USBDevice::notify_changed_rx_bitrate, m.signal_changed_rx_bitrate, "rx_bitrate"},
        {&USBDevice::notify_changed_tx_bitrate, m.signal_changed_tx_bitrate, "tx_bitrate"},
        {&USBDevice::notify_changed_rx_btr, m.signal_changed_rx_btr, "rx_btr"},
        {&USBDevice::notify_changed_tx_power, m.signal_changed_tx_power, "tx_power"},
        {&USBDevice::notify_changed_iffrequency, m.signal_changed_iffrequency, "iffrequency"},
        {&USBDevice::notify_changed_framingmode, m.signal_changed_framingmode, "framingmode"},
        {&USBDevice::notify_changed_enc_invert, m.signal_changed_enc_invert, "enc_invert"},
        {&USBDevice::notify_changed_enc_diff, m.signal_changed_enc_diff, "enc_diff"},
        {&USBDevice::notify_changed_enc_scrambler, m.signal_changed_enc_scrambler, "enc_scrambler"},
        {&USBDevice::notify_changed_enc_manchester, m.signal_changed_enc_manchester, "enc_manchester"},
        {&USBDevice::notify_changed_crcmode, m.signal_changed_crcmode, "crcmode"},
        {&USBDevice::notify_changed_crcinit, m.signal_changed_crcinit, "crcinit"},
        {&USBDevice::notify_changed_preamble, m.signal_changed_preamble, "preamble"},
        {&USBDevice::notify_changed_preamble_length, m.signal_changed_preamble_length, "preamble_length"},
    };
    std::vector<int> counts(rows.size(), 0);
    for (size_t n = 0; n < rows.size(); ++n)
        (device.get()->*rows[n].notify)([&counts, n] { ++counts[n]; });
    for (size_t n = 0; n < rows.size(); ++n) {
        rows[n].signal.emit();
        for (size_t k = 0; k < rows.size(); ++k)
            EXPECT_EQ(counts[k], k <= n ? 1 : 0) << rows[n].name << " fired, watching " << rows[k].name;
    }

    std::pair<int, int> autorange;
    device->notify_terminate_autoranging([&](int a, int b) { autorange = {a, b}; });
    m.signal_terminate_autoranging.emit(-1, 2);
    EXPECT_EQ(autorange, std::make_pair(-1, 2));
    std::pair<unsigned, unsigned> bitfield;
    device->notify_changed_bitfield([&](unsigned i, unsigned v) { bitfield = {i, v}; });
    m.signal_changed_bitfield.emit(4, 5);
    EXPECT_EQ(bitfield, std::make_pair(4u, 5u));
}

TEST_F(Forwarding, BoardNotificationsConnectToTheirOwnSignal)
{
    EvUSBBoard& b = *device->get_board();
    using Notify = sigc::connection (USBDevice::*)(const sigc::slot<void()>&);
    struct Row { Notify notify; sigc::signal<void()>& signal; const char* name; };
    const std::vector<Row> rows = {
        {&USBDevice::notify_changed_nv_ethmac, b.signal_changed_nv_ethmac, "nv_ethmac"},
        {&USBDevice::notify_changed_nv_radio_ethmac, b.signal_changed_nv_radio_ethmac, "nv_radio_ethmac"},
        {&USBDevice::notify_changed_nv_serial, b.signal_changed_nv_serial, "nv_serial"},
        {&USBDevice::notify_changed_chacc_channelaccessmode, b.signal_changed_chacc_channelaccessmode, "mode"},
        {&USBDevice::notify_changed_chacc_ppersistence, b.signal_changed_chacc_ppersistence, "ppersistence"},
        {&USBDevice::notify_changed_chacc_slottime, b.signal_changed_chacc_slottime, "slottime"},
        {&USBDevice::notify_changed_chacc_rssithreshold, b.signal_changed_chacc_rssithreshold, "rssithreshold"},
        {&USBDevice::notify_changed_chacc_bgndthreshold, b.signal_changed_chacc_bgndthreshold, "bgndthreshold"},
        {&USBDevice::notify_changed_chacc_preamble, b.signal_changed_chacc_preamble, "preamble"},
        {&USBDevice::notify_changed_chacc_addrmatch1, b.signal_changed_chacc_addrmatch1, "addrmatch1"},
        {&USBDevice::notify_changed_chacc_addrmatch2, b.signal_changed_chacc_addrmatch2, "addrmatch2"},
        {&USBDevice::notify_changed_chacc_addrlength, b.signal_changed_chacc_addrlength, "addrlength"},
        {&USBDevice::notify_changed_chacc_addr1, b.signal_changed_chacc_addr1, "addr1"},
        {&USBDevice::notify_changed_chacc_addr2, b.signal_changed_chacc_addr2, "addr2"},
        {&USBDevice::notify_changed_transmit_cw, b.signal_changed_transmit_cw, "transmit_cw"},
        {&USBDevice::notify_changed_packetcounters, b.signal_changed_packetcounters, "packetcounters"},
    };
    std::vector<int> counts(rows.size(), 0);
    for (size_t n = 0; n < rows.size(); ++n)
        (device.get()->*rows[n].notify)([&counts, n] { ++counts[n]; });
    for (size_t n = 0; n < rows.size(); ++n) {
        rows[n].signal.emit();
        for (size_t k = 0; k < rows.size(); ++k)
            EXPECT_EQ(counts[k], k <= n ? 1 : 0) << rows[n].name << " fired, watching " << rows[k].name;
    }

    // the short receive form drops rssi and frequency offset
    const unsigned char data[2] = {7, 8};
    const unsigned char source[6] = {1, 2, 3, 4, 5, 6};
    unsigned short_len = 0;
    int long_rssi = 0, long_offset = 0;
    device->notify_receive_packet(
        sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>(
            [&](const unsigned char* d, unsigned int len, const unsigned char* src) {
                short_len = len;
                EXPECT_EQ(d, data);
                EXPECT_EQ(src, source);
            }));
    device->notify_receive_packet(
        sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>(
            [&](const unsigned char*, unsigned int, const unsigned char*, short rssi, int offset) {
                long_rssi = rssi;
                long_offset = offset;
            }));
    int transmitted = 0;
    device->notify_transmit_packet([&](const unsigned char*, unsigned int, const unsigned char*) { ++transmitted; });
    b.signal_receive.emit(data, 2, source, -70, 1234);
    EXPECT_EQ(short_len, 2u);
    EXPECT_EQ(long_rssi, -70);
    EXPECT_EQ(long_offset, 1234);
    EXPECT_EQ(transmitted, 0);

    int statuses = 0;
    device->notify_status([&](const KORVIK::USBDeviceStatus& s) { statuses += s.ticks; });
    KORVIK::USBDeviceStatus status;
    status.ticks = 3;
    b.signal_status.emit(status);
    EXPECT_EQ(statuses, 3);
}

} // namespace

// A new board as the program sets it up: chip defaults, committed, stored.
// Stored must then mean stored: every chip value equals its NV value and
// nothing waits for the next commit; both MAC spellings name the same board.
TEST(Facade, StoredChipDefaultsMatchTheChipAndEitherMacSpelling)
{
    for (const std::string& chip : USBDevice::get_supported_chips()) {
        for (const char* mac : {"4000123456AB", "40:00:12:34:56:AB"}) {
            Handle d(USBDevice::open_simulation("stored-" + chip + "-" + std::to_string(std::string(mac).size()), "S",
                                                chip, mac));
            d->load_chipdefaults();
            d->commit_registers();
            d->store_boarddefaults();
            const unsigned char want[6] = {0x40, 0x00, 0x12, 0x34, 0x56, 0xAB};
            EXPECT_EQ(0, std::memcmp(d->get_nv_ethernet_mac(), want, 6)) << chip << " " << mac;
            for (unsigned r = 0; r < d->get_registers(); ++r) {
                EXPECT_EQ(d->get_register_chipvalue(r), d->get_register_nvvalue(r)) << chip << " " << d->get_register_name(r);
                EXPECT_EQ(d->get_register_changemask(r), 0) << chip << " " << d->get_register_name(r);
            }
        }
    }
}
