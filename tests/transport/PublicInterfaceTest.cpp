// A user of the public interface against emulated boards on veth pairs:
// only KORVIK::USBDevice (and, once, the flat functions) and a poll loop on
// the library's handles, the way a program with its own event loop drives it.
//
// These tests use the process-wide library, which lives until the process
// ends and reacts to every interface that appears. Run them in a namespace
// of their own (CTest runs them apart from the other namespace tests).

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <poll.h>

#include <korvik/USBDevice.h>
#include <korvik/korvik.h>

#include "NamespaceGuard.h"
#include "EmulatedAir.h"
#include "VethEmulator.h"

using namespace KORVIK;
using korvik_emu::BoardFirmware;
using korvik_emu::Frame;
using korvik_emu::VethEmulator;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;
using IfaceSlot = sigc::slot<void(const std::string&, const std::string&)>;
using SerialSlot = sigc::slot<void(const std::string&)>;
using ReceiveSlot = sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>;
using PacketSlot = sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>;

namespace {

const char* const RC1200_ALIAS = "Zelvane Inc. RC1200 Evaluation Board";

/// Waits on the library's poll handles and dispatches, like an application
/// main loop, until pred() holds or the time is up.
bool run_loop_until(const std::function<bool()>& pred, milliseconds limit)
{
    auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        USBDevice::periodic();
        if (pred())
            return true;
        auto now = std::chrono::steady_clock::now();
        if (now > end)
            return false;
        std::vector<void*> handles;
        int timeout = USBDevice::get_poll_handles(handles);
        std::vector<struct pollfd> fds;
        for (void* h : handles)
            fds.push_back({int(reinterpret_cast<intptr_t>(h)), POLLIN, 0});
        int left = int(std::chrono::duration_cast<milliseconds>(end - now).count()) + 1;
        int wait = timeout < 0 ? left : std::min(timeout, left);
        poll(fds.data(), fds.size(), std::min(wait, 50));
    }
}

struct Arrival {
    std::string interface;
    std::string serial;
};

class PublicInterface : public testing::Test {
protected:
    void SetUp() override
    {
        assert_private_test_namespace();
    }

    void TearDown() override
    {
        // slots of a test body may refer to its locals, which are gone now
        for (sigc::connection& c : connections)
            c.disconnect();
        handles.clear();
        for (const std::string& n : pairs)
            (void)!std::system(("ip link del " + n + " 2>/dev/null").c_str());
        // the next test starts with an empty registry
        if (!pairs.empty()) {
            EXPECT_TRUE(run_loop_until([&] { return registered().empty(); }, milliseconds(5000)));
        }
        emulators.clear();
    }

    static void sh(const std::string& command)
    {
        ASSERT_EQ(0, std::system(command.c_str())) << command;
    }

    /// Plugs a board in: a veth pair "kpN"/"kpNp" with the emulator on the
    /// far end; `before_up` prepares its firmware before the near end shows
    /// up with its alias.
    std::string plug(const std::string& alias, const std::string& serial,
                     const std::function<void(BoardFirmware&)>& before_up = nullptr)
    {
        static int counter = 0;
        std::string name = "kp" + std::to_string(counter++);
        sh("ip link add name " + name + " type veth peer name " + name + "p");
        pairs.push_back(name);
        sh("ip link set " + name + "p up");
        uint8_t mac[6];
        EXPECT_TRUE(korvik_emu::read_interface_mac(name, mac));
        emulators[name] = std::make_unique<VethEmulator>(name + "p", serial, mac);
        if (before_up)
            emulators[name]->with_firmware(before_up);
        sh("ip link set " + name + " alias '" + alias + "'");
        sh("ip link set " + name + " up");
        return name;
    }

    void unplug(const std::string& name)
    {
        sh("ip link del " + name);
        pairs.erase(std::remove(pairs.begin(), pairs.end(), name), pairs.end());
    }

    /// Follows arrivals and departures from here on (the first call may
    /// start the library and replay the boards present).
    void watch()
    {
        connections.push_back(USBDevice::notify_device_connect(
            IfaceSlot([this](const std::string& i, const std::string& s) { arrivals.push_back({i, s}); })));
        connections.push_back(USBDevice::notify_device_disconnect(
            IfaceSlot([this](const std::string& i, const std::string& s) { departures.push_back({i, s}); })));
    }

    static int count(const std::vector<Arrival>& list, const std::string& interface)
    {
        return int(std::count_if(list.begin(), list.end(), [&](const Arrival& a) { return a.interface == interface; }));
    }

    bool wait_arrival(const std::string& name)
    {
        return run_loop_until([&] { return count(arrivals, name) > 0; }, milliseconds(8000));
    }

    /// Interfaces in the registry, by replaying it into a throw-away slot.
    std::vector<std::string> registered()
    {
        std::vector<std::string> names;
        sigc::connection c = USBDevice::notify_device_connect(
            IfaceSlot([&](const std::string& i, const std::string&) { names.push_back(i); }));
        c.disconnect();
        return names;
    }

    /// Plugs an RC1200 board and opens it by interface name.
    USBDevice* plug_and_open(const std::string& serial, std::string* name_out = nullptr)
    {
        watch();
        std::string name = plug(RC1200_ALIAS, serial);
        if (!wait_arrival(name))
            return nullptr;
        handles.emplace_back(USBDevice::open_iface(name));
        if (name_out)
            *name_out = name;
        return handles.back().get();
    }

    /// Lets the board report its status every 10 ms and waits until the jobs
    /// requested while it opened have run and it is running normally.
    bool run_board(USBDevice* dev, const std::string& name)
    {
        emulators[name]->set_status_interval(milliseconds(10));
        int progstate = -1;
        sigc::connection c = dev->notify_status([&](const USBDeviceStatus& s) { progstate = s.progstate; });
        bool ok = run_loop_until([&] { return progstate == 0x10; }, milliseconds(5000));
        c.disconnect();
        emulators[name]->with_firmware([](BoardFirmware& f) { f.state_history.clear(); });
        return ok;
    }

    /// State bytes the board received since run_board, repeats folded.
    Bytes history(const std::string& name)
    {
        Bytes h;
        emulators[name]->with_firmware([&](BoardFirmware& f) { h = f.state_history; });
        h.erase(std::unique(h.begin(), h.end()), h.end());
        return h;
    }

    std::vector<std::string> pairs;
    std::map<std::string, std::unique_ptr<VethEmulator>> emulators;
    std::vector<std::unique_ptr<USBDevice>> handles;
    std::vector<sigc::connection> connections;
    std::vector<Arrival> arrivals;
    std::vector<Arrival> departures;
};

TEST_F(PublicInterface, BoardsArriveWithoutARescanAndLeaveOnUnplug)
{
    // present before the first subscription: replayed (or, when the library
    // is already up, found by hot-plug)
    std::string a = plug(RC1200_ALIAS, "3100001");
    watch();
    ASSERT_TRUE(wait_arrival(a));

    // a later subscriber sees the registered board before subscribing returns
    std::vector<Arrival> replayed;
    std::vector<std::string> serials;
    connections.push_back(USBDevice::notify_device_connect(
        IfaceSlot([&](const std::string& i, const std::string& s) { replayed.push_back({i, s}); })));
    connections.push_back(
        USBDevice::notify_device_connect(SerialSlot([&](const std::string& s) { serials.push_back(s); })));
    ASSERT_EQ(1u, replayed.size());
    EXPECT_EQ(a, replayed[0].interface);
    EXPECT_EQ("3100001", replayed[0].serial);
    EXPECT_EQ(std::vector<std::string>{"3100001"}, serials);

    // plugged in while the loop runs: no rescan asked for
    std::string b = plug("Corvane AG RC1400 receiver", "3100002");
    ASSERT_TRUE(wait_arrival(b));
    run_loop_until([] { return false; }, milliseconds(400));
    EXPECT_EQ(1, count(arrivals, a));
    EXPECT_EQ(1, count(arrivals, b));
    EXPECT_EQ(2u, serials.size());

    std::unique_ptr<USBDevice> by_iface(USBDevice::open_iface(a));
    std::unique_ptr<USBDevice> by_serial(USBDevice::open("3100002"));
    ASSERT_TRUE(by_iface && by_serial);
    EXPECT_EQ("3100001", by_iface->get_serial());
    EXPECT_EQ("RC1200", by_iface->get_chip_name());
    EXPECT_EQ(b, by_serial->get_interface());
    EXPECT_EQ("RC1400", by_serial->get_chip_name());
    uint8_t mac[6];
    ASSERT_TRUE(korvik_emu::read_interface_mac(a, mac));
    EXPECT_EQ(0, memcmp(mac, by_iface->get_ethernet_mac(), 6));
    EXPECT_EQ(nullptr, USBDevice::open("9999999"));
    EXPECT_EQ(nullptr, USBDevice::open_iface("kpnone"));

    std::vector<std::string> gone_serials;
    connections.push_back(
        USBDevice::notify_device_disconnect(SerialSlot([&](const std::string& s) { gone_serials.push_back(s); })));
    unplug(a);
    ASSERT_TRUE(run_loop_until([&] { return count(departures, a) > 0; }, milliseconds(5000)));
    EXPECT_TRUE(by_iface->is_dead());
    EXPECT_FALSE(by_serial->is_dead());
    EXPECT_EQ("3100001", by_iface->get_serial()); // a dead handle still answers
    run_loop_until([] { return false; }, milliseconds(400));
    EXPECT_EQ(1, count(departures, a));
    EXPECT_EQ(0, count(departures, b));
    EXPECT_EQ(std::vector<std::string>{"3100001"}, gone_serials);
    EXPECT_EQ(nullptr, USBDevice::open_iface(a));
    EXPECT_EQ(std::vector<std::string>{b}, registered());
}

TEST_F(PublicInterface, AirParameterIsWrittenToTheBoardAndReprogrammed)
{
    std::string name;
    USBDevice* dev = plug_and_open("3100003", &name);
    ASSERT_NE(nullptr, dev);
    ASSERT_TRUE(run_board(dev, name));
    std::vector<std::pair<int, int>> results;
    connections.push_back(dev->notify_terminate_autoranging([&](int a, int b) { results.push_back({a, b}); }));
    int frequency_signals = 0;
    connections.push_back(dev->notify_changed_tx_carrierfrequency([&] { ++frequency_signals; }));

    const unsigned n = dev->get_registers();
    ASSERT_GT(n, 0u);
    std::vector<unsigned> before(n);
    for (unsigned i = 0; i < n; ++i)
        before[i] = dev->get_register_chipvalue(i);
    const double target = 868.3e6;
    dev->set_tx_carrierfrequency(target);
    dev->commit_registers();
    EXPECT_LT(std::fabs(dev->get_tx_carrierfrequency() - target), 1000.0);
    EXPECT_GE(frequency_signals, 1);

    // every register the change touched went out by its operating address
    std::vector<unsigned> changed;
    for (unsigned i = 0; i < n; ++i)
        if (dev->get_register_chipvalue(i) != before[i])
            changed.push_back(i);
    ASSERT_FALSE(changed.empty());
    auto on_board = [&](unsigned i) {
        uint8_t v = 0;
        emulators[name]->with_firmware([&](BoardFirmware& f) { v = f.registers[dev->get_register_operatingaddr(i)]; });
        return v;
    };
    // writes are not answered: give the board a moment to take them in
    run_loop_until([&] {
        return std::all_of(changed.begin(), changed.end(),
                           [&](unsigned i) { return on_board(i) == dev->get_register_chipvalue(i); });
    }, milliseconds(2000));
    bool transmit_frequency = false;
    for (unsigned i : changed) {
        EXPECT_EQ(dev->get_register_chipvalue(i), on_board(i))
            << dev->get_register_name(i) << " at 0x" << std::hex << dev->get_register_operatingaddr(i);
        if (dev->get_register_name(i).compare(0, 4, "FREQ") == 0 && dev->is_register_transmit(i))
            transmit_frequency = true;
    }
    EXPECT_TRUE(transmit_frequency);

    // the transmit calibration job runs on the board and reports back
    ASSERT_TRUE(run_loop_until([&] { return !results.empty(); }, milliseconds(5000)));
    Bytes h = history(name);
    ASSERT_FALSE(h.empty());
    EXPECT_EQ(0x05, h[0]);
    EXPECT_EQ(h.end(), std::find(h.begin(), h.end(), 0x04)) << "the receiver was not changed";
    EXPECT_EQ(0, results[0].second);
    ASSERT_TRUE(run_loop_until([&] { return history(name).back() == 0x10; }, milliseconds(3000)));
    EXPECT_FALSE(dev->is_dead());
}

TEST_F(PublicInterface, BoardDefaultsSurviveStoreLoadAndReplug)
{
    std::string name;
    USBDevice* dev = plug_and_open("3100004", &name);
    ASSERT_NE(nullptr, dev);
    const uint8_t radio[6] = {0x02, 0x00, 0x00, 0x12, 0x34, 0x56};
    const double stored_frequency = 869.5e6;
    dev->set_nv_serial("4242");
    dev->set_nv_radio_ethmac(radio);
    dev->set_chacc_slottime(0.03);
    dev->set_tx_carrierfrequency(stored_frequency);
    dev->commit_registers();
    testing::internal::CaptureStderr();
    dev->store_boarddefaults();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string::npos, log.find("compare error")) << log.substr(0, 2000);
    EXPECT_FALSE(dev->is_dead());

    // the sector went to the board's flash
    uint16_t flash[256];
    emulators[name]->with_firmware([&](BoardFirmware& f) { std::memcpy(flash, f.flash, sizeof flash); });
    EXPECT_EQ(0x0310, flash[0]);
    EXPECT_EQ('4', flash[1]);
    EXPECT_EQ('2', flash[2]);

    // current values wander off; loading the defaults brings the stored ones back
    dev->set_chacc_slottime(0.08);
    dev->set_tx_carrierfrequency(866.1e6);
    dev->commit_registers();
    ASSERT_GT(std::fabs(dev->get_tx_carrierfrequency() - stored_frequency), 1e6);
    dev->load_boarddefaults();
    EXPECT_NEAR(0.03, dev->get_chacc_slottime(), 1e-9);
    EXPECT_LT(std::fabs(dev->get_tx_carrierfrequency() - stored_frequency), 1000.0);

    // plugged in again (same flash), the board comes up with the stored sector
    handles.clear();
    unplug(name);
    ASSERT_TRUE(run_loop_until([&] { return count(departures, name) > 0; }, milliseconds(5000)));
    std::string again = plug(RC1200_ALIAS, "3100004",
                             [&](BoardFirmware& f) { std::memcpy(f.flash, flash, sizeof flash); });
    ASSERT_TRUE(wait_arrival(again));
    std::unique_ptr<USBDevice> reopened(USBDevice::open("3100004"));
    ASSERT_NE(nullptr, reopened);
    EXPECT_EQ(again, reopened->get_interface());
    EXPECT_EQ("4242000", reopened->get_nv_serial());
    EXPECT_EQ(0, memcmp(radio, reopened->get_nv_radio_ethernet_mac(), 6));
    reopened->load_boarddefaults();
    EXPECT_NEAR(0.03, reopened->get_chacc_slottime(), 1e-9);
    EXPECT_LT(std::fabs(reopened->get_tx_carrierfrequency() - stored_frequency), 1000.0);
}

TEST_F(PublicInterface, PacketsBothWaysAndContinuousWave)
{
    std::string name;
    USBDevice* dev = plug_and_open("3100005", &name);
    ASSERT_NE(nullptr, dev);
    ASSERT_TRUE(run_board(dev, name));
    VethEmulator& emu = *emulators[name];

    int cw_signals = 0;
    connections.push_back(dev->notify_changed_transmit_cw([&] { ++cw_signals; }));
    dev->set_transmit_cw(true);
    EXPECT_TRUE(dev->is_transmit_cw());
    EXPECT_EQ(1, cw_signals);
    ASSERT_TRUE(run_loop_until([&] { return !history(name).empty(); }, milliseconds(3000)));
    EXPECT_EQ(0x30, history(name)[0]);
    dev->set_transmit_cw(false);
    EXPECT_FALSE(dev->is_transmit_cw());
    EXPECT_EQ(2, cw_signals);
    run_loop_until([&] { return history(name).size() >= 2; }, milliseconds(3000));
    EXPECT_EQ((Bytes{0x30, 0x10}), history(name));

    // a radio receive record from the board
    struct Received {
        Bytes data;
        Bytes source;
        int rssi;
        int offset;
    };
    std::vector<Received> received;
    std::vector<Bytes> received_short;
    int counter_signals = 0;
    connections.push_back(dev->notify_receive_packet(
        ReceiveSlot([&](const unsigned char* d, unsigned n, const unsigned char* src, short rssi, int offset) {
            received.push_back({Bytes(d, d + n), Bytes(src, src + 6), rssi, offset});
        })));
    connections.push_back(dev->notify_receive_packet(
        PacketSlot([&](const unsigned char* d, unsigned n, const unsigned char*) { received_short.emplace_back(d, d + n); })));
    connections.push_back(dev->notify_changed_packetcounters([&] { ++counter_signals; }));
    Frame frame;
    emu.with_firmware([&](BoardFirmware& f) { frame = f.radio_record_frame(-10, -60, {0xAA, 0xBB, 0xCC}); });
    emu.send(frame);
    ASSERT_TRUE(run_loop_until([&] { return !received.empty(); }, milliseconds(3000)));
    EXPECT_EQ((Bytes{0x08, 0x00, 0xAA, 0xBB, 0xCC}), received[0].data);
    EXPECT_EQ(-60, received[0].rssi);
    EXPECT_EQ(-10, received[0].offset);
    EXPECT_EQ(Bytes(dev->get_ethernet_mac(), dev->get_ethernet_mac() + 6), received[0].source);
    ASSERT_EQ(1u, received_short.size());
    EXPECT_EQ(received[0].data, received_short[0]);
    EXPECT_EQ(1u, dev->get_rx_pkt_count());
    EXPECT_GE(counter_signals, 1);

    // a plain network packet carries no signal strength
    emu.with_firmware([&](BoardFirmware& f) { frame = f.net_frame({1, 2, 3, 4}); });
    emu.send(frame);
    ASSERT_TRUE(run_loop_until([&] { return received.size() == 2; }, milliseconds(3000)));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), received[1].data);
    EXPECT_EQ(-32768, received[1].rssi);
    EXPECT_EQ(0, received[1].offset);

    // a packet to the board
    std::vector<Bytes> transmitted;
    connections.push_back(dev->notify_transmit_packet(
        [&](const unsigned char* d, unsigned n, const unsigned char*) { transmitted.emplace_back(d, d + n); }));
    const uint8_t destination[6] = {0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};
    const Bytes payload = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    dev->send_packet(payload.data(), unsigned(payload.size()), destination);
    EXPECT_EQ(1u, dev->get_tx_pkt_count());
    ASSERT_EQ(1u, transmitted.size());
    EXPECT_EQ(payload, transmitted[0]);
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        emu.with_firmware([&](BoardFirmware& f) {
            seen = !f.net_packets.empty();
            if (seen) {
                EXPECT_EQ(payload, f.net_packets[0]);
                EXPECT_EQ(Bytes(destination, destination + 6), f.net_destinations[0]);
            }
        });
        std::this_thread::sleep_for(milliseconds(10));
    }
    EXPECT_TRUE(seen);

    // too large for one frame: refused whole, counted nowhere, board stays
    Bytes huge(4000, 0x55);
    EXPECT_THROW(dev->send_packet(huge.data(), unsigned(huge.size()), destination), std::runtime_error);
    EXPECT_EQ(1u, dev->get_tx_pkt_count());
    EXPECT_EQ(1u, transmitted.size());
    EXPECT_FALSE(dev->is_dead());
}

TEST_F(PublicInterface, PacketsTravelBetweenEmulatedBoards)
{
    std::string name_a, name_b;
    USBDevice* a = plug_and_open("3100011", &name_a);
    USBDevice* b = plug_and_open("3100012", &name_b);
    ASSERT_TRUE(a && b);
    korvik_emu::EmulatedAir air({-71, 12, 0.0, 1});
    // off the air before it goes, also when an assertion ends the test early
    struct OffTheAir {
        std::vector<VethEmulator*> boards;
        ~OffTheAir()
        {
            for (VethEmulator* b : boards)
                b->set_air(nullptr);
        }
    } off{{emulators[name_a].get(), emulators[name_b].get()}};
    for (VethEmulator* b : off.boards)
        b->set_air(&air);

    struct Received {
        Bytes data;
        int rssi;
        int offset;
    };
    std::vector<Received> at_b, at_a;
    connections.push_back(b->notify_receive_packet(
        ReceiveSlot([&](const unsigned char* d, unsigned n, const unsigned char*, short rssi, int offset) {
            at_b.push_back({Bytes(d, d + n), rssi, offset});
        })));
    connections.push_back(a->notify_receive_packet(
        ReceiveSlot([&](const unsigned char* d, unsigned n, const unsigned char*, short rssi, int offset) {
            at_a.push_back({Bytes(d, d + n), rssi, offset});
        })));

    // a BPQ frame arrives as the same frame; one of 68 data bytes (70 in all)
    // gets a padding byte on its way to the board, which stays there
    for (unsigned len : {3u, 68u}) {
        Bytes data(len);
        for (unsigned i = 0; i < len; ++i)
            data[i] = uint8_t(i * 7 + 1);
        at_b.clear();
        a->send_bpq_packet(data.data(), len, nullptr);
        ASSERT_TRUE(run_loop_until([&] { return !at_b.empty(); }, milliseconds(3000))) << len;
        Bytes frame = {uint8_t(len + 5), 0};
        frame.insert(frame.end(), data.begin(), data.end());
        EXPECT_EQ(frame, at_b[0].data);
        EXPECT_EQ(-71, at_b[0].rssi);
        EXPECT_EQ(12, at_b[0].offset);
    }
    EXPECT_TRUE(at_a.empty()); // the sender does not hear itself

    // a lossy air: what arrives is what the air counted, near the loss set
    air.set({-90, -3, 0.3, 7});
    at_b.clear();
    const unsigned n = 300;
    for (unsigned i = 0; i < n; ++i) {
        const uint8_t seq[2] = {uint8_t(i), uint8_t(i >> 8)};
        a->send_bpq_packet(seq, 2, nullptr);
        // one at a time, as a packet test sends: a burst could overrun the sockets
        ASSERT_TRUE(run_loop_until([&] { return at_b.size() + air.lost() > i; }, milliseconds(3000))) << i;
    }
    run_loop_until([] { return false; }, milliseconds(100));
    EXPECT_EQ(at_b.size(), air.delivered() - 2);
    EXPECT_NEAR(double(air.lost()) / n, 0.3, 4 * std::sqrt(0.3 * 0.7 / n));
    for (const Received& r : at_b)
        EXPECT_EQ(-90, r.rssi);
}

struct FlatEvents {
    std::vector<std::string> connected;
    std::vector<std::string> disconnected;
};

void KORVIK_CALLBACK flat_connect(const char* iface, const char*, void* user)
{
    static_cast<FlatEvents*>(user)->connected.push_back(iface);
}

void KORVIK_CALLBACK flat_disconnect(const char* iface, const char*, void* user)
{
    static_cast<FlatEvents*>(user)->disconnected.push_back(iface);
}

TEST_F(PublicInterface, FlatInterfaceFollowsABoardInAndOut)
{
    FlatEvents events;
    libkorvik_set_callback_device_iface_connect(flat_connect, &events);
    libkorvik_set_callback_device_iface_disconnect(flat_disconnect, &events);
    std::string name = plug(RC1200_ALIAS, "3100006");
    auto pump = [](const std::function<bool()>& pred) {
        for (int i = 0; i < 400; ++i) {
            libkorvik_periodic();
            if (pred())
                return true;
            std::this_thread::sleep_for(milliseconds(20));
        }
        return false;
    };
    ASSERT_TRUE(pump([&] { return std::count(events.connected.begin(), events.connected.end(), name) > 0; }));
    korvik_device* dev = libkorvik_open_iface(name.c_str());
    ASSERT_NE(nullptr, dev);
    char* serial = libkorvik_get_serial(dev);
    ASSERT_NE(nullptr, serial);
    EXPECT_STREQ("3100006", serial);
    free(serial);
    EXPECT_EQ(0, libkorvik_is_dead(dev));
    libkorvik_set_register_chipvalue(dev, 0, 0x05);
    libkorvik_commit_registers(dev);
    unsigned address = libkorvik_get_register_operatingaddr(dev, 0);
    uint8_t on_board = 0;
    pump([&] {
        emulators[name]->with_firmware([&](BoardFirmware& f) { on_board = f.registers[address]; });
        return on_board == 0x05;
    });
    EXPECT_EQ(libkorvik_get_register_chipvalue(dev, 0), on_board);

    unplug(name);
    EXPECT_TRUE(pump([&] { return !events.disconnected.empty(); }));
    EXPECT_EQ(std::vector<std::string>{name}, events.disconnected);
    EXPECT_EQ(1, libkorvik_is_dead(dev));
    libkorvik_close(dev);
    libkorvik_set_callback_device_iface_connect(nullptr, nullptr);
    libkorvik_set_callback_device_iface_disconnect(nullptr, nullptr);
}

} // namespace
