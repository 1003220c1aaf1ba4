// A blocking scan opens the boards that answered side by side: a slow board,
// a silent adapter and a board plugged in meanwhile leave the others alone.
// Real path (libpcap, netlink, veth pairs) inside run_ns_tests.sh's namespace.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

#include "NamespaceGuard.h"
#include "TestSupport.h"
#include "VethEmulator.h"
#include "transport/NetlinkHotplug.h"
#include "transport/PcapAdapter.h"

using namespace KORVIK;
using namespace korvik_emu;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

namespace {

const char* const ALIAS = "Zelvane Inc. RC1200 Evaluation Board";

class ParallelScan : public testing::Test {
protected:
    void SetUp() override { assert_private_test_namespace(); }

    void TearDown() override
    {
        emulators.clear();
        library.reset();
        for (const std::string& n : pairs)
            (void)!std::system(("ip link del " + n + " 2>/dev/null").c_str());
        pump_until([] { return true; }, milliseconds(0));
    }

    /// A veth pair "psN"/"psNp" with a board (unless the serial is empty) on
    /// the far end; the near end carries the maker's alias.
    std::string add_board(const std::string& serial, unsigned answer_delay_us = 0)
    {
        const std::string name = "ps" + std::to_string(pairs.size());
        const std::string cmd = "ip link add name " + name + " type veth peer name " + name + "p && ip link set " +
                                name + "p up && ip link set " + name + " alias '" + ALIAS + "' && ip link set " +
                                name + " up";
        EXPECT_EQ(0, std::system(cmd.c_str())) << cmd;
        pairs.push_back(name);
        if (!serial.empty()) {
            uint8_t mac[6];
            EXPECT_TRUE(read_interface_mac(name, mac));
            emulators.push_back(std::make_unique<VethEmulator>(name + "p", serial, mac));
            emulators.back()->with_firmware([&](BoardFirmware& f) {
                f.answer_delay_us = answer_delay_us;
                // something of its own in every board's registers, read back while it opens
                f.registers[0x0100] = uint8_t(pairs.size());
            });
        }
        return name;
    }

    /// A library on the (so far empty) namespace; each board's arrival is timed from `start`.
    void open_library(std::unique_ptr<HotplugSource> hotplug, unsigned ident_timeout_ms)
    {
        library = std::make_unique<WindowsLibrary>(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()),
                                                   std::move(hotplug), ident_timeout_ms);
        library->signal_device_connect.connect([this](const std::string& interface, const std::string&) {
            arrivals[interface] = Clock::now() - start;
        });
    }

    std::vector<std::string> pairs;
    std::vector<std::unique_ptr<VethEmulator>> emulators;
    std::unique_ptr<WindowsLibrary> library;
    Clock::time_point start;
    std::map<std::string, Clock::duration> arrivals;
};

TEST_F(ParallelScan, SlowAndSilentBoardsHoldNoOtherBack)
{
    open_library(nullptr, 3000);
    ASSERT_TRUE(library->get_boards().empty());
    std::vector<std::string> fast;
    for (int i = 0; i < 6; ++i)
        fast.push_back(add_board(std::to_string(5100000 + i)));
    // each answer a millisecond late: some hundreds of milliseconds to open
    const std::string slow = add_board("5100010", 1000);
    const std::string silent = add_board("");

    testing::internal::CaptureStderr();
    start = Clock::now();
    library->scan();
    const Clock::duration took = Clock::now() - start;
    const std::string log = testing::internal::GetCapturedStderr();

    EXPECT_EQ(7u, library->get_boards().size()) << log;
    EXPECT_TRUE(library->is_held_back(silent));
    EXPECT_NE(std::string::npos, log.find(silent + ": no identification answer within 3000 ms"));
    // the scan ends with the silent adapter's deadline, not later
    EXPECT_GE(took, milliseconds(3000));
    EXPECT_LT(took, milliseconds(6000));
    ASSERT_TRUE(arrivals.count(slow));
    for (size_t i = 0; i < fast.size(); ++i) {
        SCOPED_TRACE(fast[i]);
        WindowsEvUSBBoard* board = library->find_adapter_board(fast[i]);
        ASSERT_NE(nullptr, board);
        EXPECT_EQ(std::to_string(5100000 + i), board->get_serial());
        EXPECT_FALSE(board->is_dead());
        // registered as soon as it was open, ahead of the slow board
        ASSERT_TRUE(arrivals.count(fast[i]));
        EXPECT_LT(arrivals[fast[i]], arrivals[slow]);
        // its own registers, not a neighbour's
        EXPECT_EQ(i + 1, board->evusb_read16(0x0100) & 0xFF);
    }
    WindowsEvUSBBoard* board = library->find_adapter_board(slow);
    ASSERT_NE(nullptr, board);
    EXPECT_EQ("5100010", board->get_serial());
    EXPECT_EQ(fast.size() + 1, board->evusb_read16(0x0100) & 0xFF);
}

TEST_F(ParallelScan, BoardPluggedInDuringTheScanIsFoundAfterIt)
{
    std::vector<std::string> first;
    // slow enough that the first scan is still under way when the next one comes
    for (int i = 0; i < 4; ++i)
        first.push_back(add_board(std::to_string(5200000 + i), 300));
    std::string late;
    std::thread plug([&] {
        std::this_thread::sleep_for(milliseconds(20));
        late = add_board("5200009");
    });
    testing::internal::CaptureStderr();
    // the first scan runs in the constructor
    open_library(std::unique_ptr<HotplugSource>(new NetlinkHotplug()), 2000);
    plug.join();
    library->set_rescan_delay_ms(50);
    for (const std::string& name : first)
        EXPECT_NE(nullptr, library->find_adapter_board(name)) << name;
    EXPECT_TRUE(pump_until([&] { return library->find_adapter_board(late) != nullptr; }, milliseconds(5000)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(5u, library->get_boards().size()) << log;
    ASSERT_NE(nullptr, library->find_adapter_board(late));
    EXPECT_EQ("5200009", library->find_adapter_board(late)->get_serial());
    EXPECT_EQ(std::string::npos, log.find("cannot open the board")) << log;
}

} // namespace
