// The real path: libpcap adapters, netlink hot-plug and the board emulator
// on veth pairs. Runs only inside the private network namespace that
// run_ns_tests.sh creates; every interface touched here was made here.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <korvik/USBDevice.h>

#include "TestSupport.h"
#include "transport/BoardLock.h"
#include "transport/NetlinkHotplug.h"
#include "transport/PcapAdapter.h"
#include "NamespaceGuard.h"
#include "VethEmulator.h"

using namespace KORVIK;
using namespace korvik_emu;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace {

const char* const RC1200_ALIAS = "Zelvane Inc. RC1200 Evaluation Board";

class Namespace : public testing::Test {
protected:
    void SetUp() override
    {
        assert_private_test_namespace();
    }

    void TearDown() override
    {
        emulators.clear();
        library.reset();
        for (const std::string& n : pairs)
            (void)!std::system(("ip link del " + n + " 2>/dev/null").c_str());
        pump_until([] { return true; }, milliseconds(0));
    }

    static void sh(const std::string& command)
    {
        ASSERT_EQ(0, std::system(command.c_str())) << command;
    }

    /// A veth pair "kbN"/"kbNp", both ends up; the near end carries the alias.
    std::string add_pair(const std::string& alias)
    {
        static int counter = 0;
        std::string name = "kb" + std::to_string(counter++);
        sh("ip link add name " + name + " type veth peer name " + name + "p");
        pairs.push_back(name);
        sh("ip link set " + name + "p up");
        if (!alias.empty())
            sh("ip link set " + name + " alias '" + alias + "'");
        sh("ip link set " + name + " up");
        return name;
    }

    /// A board on the far end of the pair, speaking with the near end's MAC.
    VethEmulator& add_board(const std::string& name, const std::string& serial)
    {
        uint8_t mac[6];
        EXPECT_TRUE(read_interface_mac(name, mac));
        emulators.push_back(std::make_unique<VethEmulator>(name + "p", serial, mac));
        return *emulators.back();
    }

    void open_library()
    {
        library = std::make_unique<WindowsLibrary>();
        events = std::make_unique<RegistryEvents>(*library);
    }

    std::vector<std::string> pairs;
    std::vector<std::unique_ptr<VethEmulator>> emulators;
    std::unique_ptr<WindowsLibrary> library;
    std::unique_ptr<RegistryEvents> events;
};

TEST_F(Namespace, BoardOnAVethIsIdentifiedAndOpened)
{
    std::string name = add_pair(RC1200_ALIAS);
    VethEmulator& emu = add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    EXPECT_EQ("1234567", board->get_serial());
    uint8_t mac[6];
    ASSERT_TRUE(read_interface_mac(name, mac));
    EXPECT_EQ(0, memcmp(mac, board->get_ethernet_mac(), 6));
    EXPECT_FALSE(board->is_dead());
    if (board->get_model()) {
        EXPECT_EQ("RC1200", board->get_model()->get_chip_name());
    }

    board->evusb_write(0x0102, 0x5C);
    emu.with_firmware([](BoardFirmware& f) { f.registers[0x0103] = 0xA7; });
    EXPECT_EQ(0xA75C, board->evusb_read16(0x0102));

    // a second scan opens nothing new
    testing::internal::CaptureStderr();
    library->scan();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("already registered, skipping..."));
    EXPECT_EQ(1u, library->get_boards().size());
}

TEST_F(Namespace, AdaptersWithoutAMakerAreLeftAlone)
{
    std::string name = add_pair("Generic RC1200 adapter");
    VethEmulator& emu = add_board(name, "1234567");
    open_library();
    EXPECT_TRUE(library->get_boards().empty());
    unsigned requests = 1;
    emu.with_firmware([&](BoardFirmware& f) { requests = f.vendor_requests; });
    EXPECT_EQ(0u, requests);
}

TEST_F(Namespace, AnswerOnTheThirdFrameIsAccepted)
{
    std::string name = add_pair("Corvane AG RC1400 receiver");
    VethEmulator& emu = add_board(name, "7000007");
    emu.with_firmware([](BoardFirmware& f) { f.ident_junk_frames = 2; });
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    EXPECT_EQ("7000007", board->get_serial());
}

TEST_F(Namespace, SeveralBoardsOnSeveralPairs)
{
    std::string a = add_pair(RC1200_ALIAS);
    std::string b = add_pair("Zelvane Inc. RC1100 transmitter");
    add_board(a, "1000001");
    add_board(b, "1000002");
    open_library();
    ASSERT_EQ(2u, library->get_boards().size());
    EXPECT_EQ("1000001", library->find_adapter_board(a)->get_serial());
    EXPECT_EQ("1000002", library->find_adapter_board(b)->get_serial());
}

TEST_F(Namespace, WrongAndShortRepliesAreSkipped)
{
    std::string name = add_pair(RC1200_ALIAS);
    VethEmulator& emu = add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    emu.with_firmware([](BoardFirmware& f) {
        f.unexpected_replies = 1;
        f.short_replies = 1;
        f.report11 = 0x77;
    });
    testing::internal::CaptureStderr();
    EXPECT_EQ(0x77, board->get_report11());
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("report_io: unexpected reportid: received 16 expected 17 direction 1"));
    EXPECT_NE(std::string::npos, log.find("report_io: short packet size 2 expected 3"));
    EXPECT_FALSE(board->is_dead());
}

TEST_F(Namespace, NvSectorIsWrittenAndReadBackThroughFrames)
{
    std::string name = add_pair(RC1200_ALIAS);
    add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    const uint8_t radio[6] = {0x02, 0x00, 0x00, 0xAB, 0xCD, 0xEF};
    board->set_nv_serial("4711");
    board->set_nv_radio_ethmac(radio);
    board->set_chacc_slottime(0.05);
    testing::internal::CaptureStderr();
    board->store_boarddefaults();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::string::npos, log.find("compare error")) << log.substr(0, 2000);

    // a fresh library opens the board again and reads the sector
    library.reset();
    open_library();
    board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    EXPECT_EQ("4711000", board->get_nv_serial());
    EXPECT_EQ(0, memcmp(radio, board->get_nv_radio_ethernet_mac(), 6));
    EXPECT_EQ(50, board->get_nv_chacc_params().slottime);
    EXPECT_TRUE(board->get_rx_radio_records());
}

TEST_F(Namespace, TimeoutTakesTheBoardOutOnce)
{
    std::string name = add_pair(RC1200_ALIAS);
    VethEmulator& emu = add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    USBDevice handle(board), second(board);
    EXPECT_FALSE(handle.is_dead());
    // a handle that closes must not bring up the process-wide library (a
    // scan of every adapter, and a second registry beside this one)
    delete new USBDevice(board);
    EXPECT_EQ(nullptr, Library::existing_instance());
    emu.with_firmware([](BoardFirmware& f) { f.silent = true; });
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(-1, board->evusb_get_ethstate());
    EXPECT_GE(std::chrono::steady_clock::now() - start, milliseconds(4000));
    EXPECT_TRUE(handle.is_dead());
    EXPECT_TRUE(second.is_dead());
    EXPECT_EQ(1, events->disconnects);
    EXPECT_EQ(0xFFFF, board->evusb_read16(0));
    EXPECT_EQ(1, events->disconnects);
    EXPECT_TRUE(library->get_boards().empty());
}

TEST_F(Namespace, DeletingTheVethRemovesTheOpenBoard)
{
    std::string name = add_pair(RC1200_ALIAS);
    add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    USBDevice handle(board);
    sh("ip link del " + name);
    EXPECT_TRUE(pump_until([&] { return events->disconnects == 1; }, milliseconds(3000)));
    EXPECT_EQ(name, events->last_interface);
    EXPECT_TRUE(handle.is_dead());
    EXPECT_TRUE(library->get_boards().empty());
    pump_until([] { return false; }, milliseconds(300));
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(Namespace, InterfaceGoingDownFailsTheNextExchangeWithoutSpinning)
{
    std::string name = add_pair(RC1200_ALIAS);
    add_board(name, "1234567");
    open_library();
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    USBDevice handle(board);
    sh("ip link set " + name + " down");
    auto cpu_seconds = [] {
        struct rusage u;
        getrusage(RUSAGE_THREAD, &u);
        return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    double before = cpu_seconds();
    pump_until([] { return false; }, milliseconds(1000));
    double cpu = cpu_seconds() - before;
    EXPECT_LT(cpu, 0.3); // the watch must not fire over and over
    EXPECT_EQ(0, events->disconnects); // down is not gone
    board->evusb_write(1, 1);
    EXPECT_TRUE(handle.is_dead());
    EXPECT_EQ(1, events->disconnects);
}

TEST_F(Namespace, NewVethWithABoardAppearsWithoutARescan)
{
    open_library();
    EXPECT_TRUE(library->get_boards().empty());
    std::string name = "kbhot";
    sh("ip link add name " + name + " type veth peer name " + name + "p");
    pairs.push_back(name);
    sh("ip link set " + name + "p up");
    add_board(name, "2468024");
    sh("ip link set " + name + " alias '" + RC1200_ALIAS + "'");
    sh("ip link set " + name + " up");
    EXPECT_TRUE(pump_until([&] { return events->connects == 1; }, milliseconds(5000)));
    WindowsEvUSBBoard* board = library->find_adapter_board(name);
    ASSERT_NE(nullptr, board);
    EXPECT_EQ("2468024", board->get_serial());
    // its own opening (promiscuous mode) does not set off more scans
    pump_until([] { return false; }, milliseconds(500));
    EXPECT_FALSE(library->is_rescan_pending());
    EXPECT_EQ(1, events->connects);
}

// ThreadSanitizer cannot follow a child that starts threads after a fork
// from a threaded parent (the emulators run threads); these cases run in
// the other builds.
#if defined(__SANITIZE_THREAD__)
#define SKIP_FORKING_TEST() GTEST_SKIP() << "forks a threaded process"
#else
#define SKIP_FORKING_TEST() (void)0
#endif

/// Runs f in a child process whose diagnostic lines are collected; f's
/// result is the exit status.
std::pair<int, std::string> in_child(const std::function<int()>& f)
{
    int out[2];
    if (pipe(out) != 0)
        return {-1, ""};
    pid_t child = fork();
    if (child == 0) {
        dup2(out[1], 2);
        _exit(f());
    }
    close(out[1]);
    std::string log;
    char buf[4096];
    for (ssize_t n; (n = read(out[0], buf, sizeof buf)) > 0;)
        log.append(buf, size_t(n));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, log};
}

TEST_F(Namespace, MissingPermissionIsSaidClearly)
{
    SKIP_FORKING_TEST();
    std::string name = add_pair(RC1200_ALIAS);
    auto child = in_child([] {
        // a user without the capabilities for raw frames
        struct __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        struct __user_cap_data_struct data[2] = {};
        syscall(SYS_capget, &header, data);
        for (int cap : {CAP_NET_RAW, CAP_NET_ADMIN}) {
            data[cap / 32].effective &= ~(1u << (cap % 32));
            data[cap / 32].permitted &= ~(1u << (cap % 32));
        }
        if (syscall(SYS_capset, &header, data) != 0)
            return 100;
        WindowsLibrary library;
        return int(library.get_boards().size());
    });
    EXPECT_EQ(0, child.first); // no board, and no crash
    EXPECT_NE(std::string::npos, child.second.find("pcap_open: unable to open adapter " + name + ": ")) << child.second;
    EXPECT_NE(std::string::npos, child.second.find("setcap cap_net_raw,cap_net_admin+eip")) << child.second;
}

TEST_F(Namespace, SecondProcessLeavesABoardInUseAlone)
{
    SKIP_FORKING_TEST();
    std::string name = add_pair(RC1200_ALIAS);
    VethEmulator& emu = add_board(name, "1357913");
    open_library();
    ASSERT_NE(nullptr, library->find_adapter_board(name));
    unsigned requests = 0;
    emu.with_firmware([&](BoardFirmware& f) { requests = f.vendor_requests; });

    auto boards_seen = [] {
        WindowsLibrary other(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()), nullptr, 1000);
        return int(other.get_boards().size());
    };
    auto second = in_child(boards_seen);
    EXPECT_EQ(0, second.first);
    EXPECT_NE(std::string::npos,
              second.second.find("board " + name + " is in use by PID " + std::to_string(getpid()) + " ("))
        << second.second;
    unsigned after = 0;
    emu.with_firmware([&](BoardFirmware& f) { after = f.vendor_requests; });
    EXPECT_EQ(requests, after); // not even asked who it is

    library.reset(); // closing the board frees it
    EXPECT_EQ(1, in_child(boards_seen).first);
}

// The lock as the fault review attacked it: another runtime directory, a
// link planted at the lock's name, a forked worker outliving its parent, a
// holder whose name carries escape sequences.
TEST_F(Namespace, BoardLockHoldsAgainstEnvironmentLinksAndForks)
{
    SKIP_FORKING_TEST();
    std::string name = add_pair(RC1200_ALIAS);
    VethEmulator& emu = add_board(name, "1357915");
    auto requests = [&] {
        unsigned n = 0;
        emu.with_firmware([&](BoardFirmware& f) { n = f.vendor_requests; });
        return n;
    };
    auto boards_seen = [] {
        WindowsLibrary other(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()), nullptr, 1000);
        return int(other.get_boards().size());
    };

    // a holder named with an escape sequence, in another runtime directory
    int ready[2];
    ASSERT_EQ(0, pipe(ready));
    const pid_t holder = fork();
    if (holder == 0) {
        prctl(PR_SET_NAME, "evil\033[31m", 0, 0, 0);
        setenv("XDG_RUNTIME_DIR", "/nonexistent", 1);
        WindowsLibrary mine(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()), nullptr, 1000);
        (void)!write(ready[1], mine.get_boards().size() == 1 ? "1" : "0", 1);
        pause();
        _exit(0);
    }
    close(ready[1]); // a holder that dies reads as end of file, not a hang
    char got = 0;
    ASSERT_EQ(1, read(ready[0], &got, 1));
    ASSERT_EQ('1', got);
    const unsigned before = requests();
    auto second = in_child([&] {
        unsetenv("XDG_RUNTIME_DIR");
        return boards_seen();
    });
    EXPECT_EQ(0, second.first);
    const std::string said = "is in use by PID " + std::to_string(holder) + " (evil[31m)";
    EXPECT_NE(std::string::npos, second.second.find(said)) << second.second;
    EXPECT_EQ(std::string::npos, second.second.find('\033')) << second.second;
    EXPECT_EQ(before, requests());
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);

    // a forked worker does not keep its parent's lock
    auto parent = in_child([&] {
        WindowsLibrary mine(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()), nullptr, 1000);
        if (mine.get_boards().size() != 1)
            return 1;
        if (fork() == 0) {
            close(2);
            sleep(5);
            _exit(0);
        }
        _exit(0); // the worker lives on
    });
    EXPECT_EQ(0, parent.first) << parent.second;
    EXPECT_EQ(1, in_child(boards_seen).first);

    // a link planted at the lock's name keeps the board closed, untouched
    const std::string lock = board_lock_directory() + "/" + board_lock_name(name);
    ::unlink(lock.c_str());
    ASSERT_EQ(0, symlink("/tmp/elsewhere", lock.c_str()));
    const unsigned untouched = requests();
    auto planted = in_child(boards_seen);
    EXPECT_EQ(0, planted.first);
    EXPECT_NE(std::string::npos, planted.second.find("cannot take the lock " + lock)) << planted.second;
    EXPECT_EQ(untouched, requests());
    ::unlink(lock.c_str());
}

TEST_F(Namespace, SilentAndFailingBoardsHideNoOtherAndNeverBlockARescan)
{
    std::string silent = add_pair(RC1200_ALIAS); // nobody on the far end
    std::string faulty = add_pair(RC1200_ALIAS);
    add_board(faulty, "6000001").with_firmware([](BoardFirmware& f) { f.dropped_replies = 1u << 30; });
    std::string healthy = add_pair(RC1200_ALIAS);
    add_board(healthy, "6000002");
    testing::internal::CaptureStderr();
    library = std::make_unique<WindowsLibrary>(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()),
                                               std::unique_ptr<HotplugSource>(new NetlinkHotplug()), 1500);
    library->set_rescan_delay_ms(50);
    events = std::make_unique<RegistryEvents>(*library);
    EXPECT_NE(nullptr, library->find_adapter_board(healthy));
    EXPECT_EQ(1u, library->get_boards().size());

    // what a caller's periodic() does, timed call by call, until the rescan is over
    // (the limit is generous: a loaded sanitizer build is slow, and what
    // counts is that no single call blocks)
    auto settle = [&](const std::function<bool()>& done) {
        auto longest = std::chrono::steady_clock::duration::zero();
        const bool settled = pump_until(
            [&] {
                auto t0 = std::chrono::steady_clock::now();
                main_context_dispatch_pending();
                longest = std::max(longest, std::chrono::steady_clock::now() - t0);
                return done() && !library->is_rescan_pending() && library->get_identifying_count() == 0;
            },
            milliseconds(20000));
        EXPECT_TRUE(settled) << "done " << done() << ", rescan pending " << library->is_rescan_pending()
                             << ", identifying " << library->get_identifying_names() << "\n"
                             << testing::internal::GetCapturedStderr();
        if (!settled)
            testing::internal::CaptureStderr();
        return longest;
    };
    // a new board: the silent and the failing adapters are not asked again
    std::string late = add_pair(RC1200_ALIAS);
    add_board(late, "6000003");
    EXPECT_LT(settle([&] { return library->find_adapter_board(late) != nullptr; }), milliseconds(500));

    // two adapters with one serial: the second comes in when the first goes
    std::string first = add_pair(RC1200_ALIAS);
    add_board(first, "6000004");
    settle([&] { return library->find_adapter_board(first) != nullptr; });
    std::string twin = add_pair(RC1200_ALIAS);
    add_board(twin, "6000004");
    pump_until([] { return false; }, milliseconds(300)); // the news of the new link
    settle([] { return true; });
    EXPECT_EQ(nullptr, library->find_adapter_board(twin));
    sh("ip link del " + first);
    EXPECT_LT(settle([&] { return library->find_adapter_board(twin) != nullptr; }), milliseconds(500));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find(silent + ": no identification answer within 1500 ms")) << log;
    EXPECT_NE(std::string::npos, log.find(faulty + ": cannot open the board: ")) << log;
    EXPECT_NE(std::string::npos, log.find("Dispname 6000004 already found")) << log;
    EXPECT_EQ(3u, library->get_boards().size());
}

// A faulty link (replies lost, late or doubled) costs an opening board a try,
// never its place: each board opens on a later try, no reply is taken for
// another, and what is written reads back.
TEST_F(Namespace, BoardsOpenThroughALossyReorderingLink)
{
    struct Case {
        const char* what;
        LinkFaults faults;
    };
    // rates as a fault review measured them
    const Case cases[] = {
        {"reordered", {0, 0.2, 0, 0, 11}},
        {"lost", {0.0005, 0, 0, 0, 12}},
        {"doubled", {0, 0, 0.05, 0, 13}},
        {"all three", {0.0005, 0.2, 0.05, 0, 14}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> names;
        for (unsigned i = 0; i < 4; ++i) {
            names.push_back(add_pair(RC1200_ALIAS));
            LinkFaults f = c.faults;
            f.seed = f.seed * 10 + i;
            add_board(names.back(), "70000" + std::to_string(10 * (&c - cases) + i)).set_link_faults(f);
        }
        testing::internal::CaptureStderr();
        library = std::make_unique<WindowsLibrary>(std::unique_ptr<AdapterSystem>(new PcapAdapterSystem()),
                                                   std::unique_ptr<HotplugSource>(new NetlinkHotplug()), 1500);
        events = std::make_unique<RegistryEvents>(*library);
        EXPECT_TRUE(pump_until(
            [&] {
                for (const std::string& n : names)
                    if (!library->find_adapter_board(n))
                        return false;
                return true;
            },
            milliseconds(30000)));
        const std::string log = testing::internal::GetCapturedStderr();
        for (const std::string& n : names)
            ASSERT_NE(nullptr, library->find_adapter_board(n))
                << n << "\n" << log.substr(log.size() > 4000 ? log.size() - 4000 : 0);
        library.reset();
        events.reset();
        emulators.clear();
        for (const std::string& n : names)
            sh("ip link del " + n);
        pairs.clear();
    }
}

class NamespaceStatus : public Namespace {
protected:
    void SetUp() override
    {
        Namespace::SetUp();
        name = add_pair(RC1200_ALIAS);
        emu = &add_board(name, "1357913");
        open_library();
        board = library->find_adapter_board(name);
        ASSERT_NE(nullptr, board);
        board->signal_status.connect([this](const USBDeviceStatus& s) { statuses.push_back(s); });
        emu->set_status_interval(milliseconds(10));
        // jobs requested while opening run first, until the board runs
        ASSERT_TRUE(pump_until([this] {
            return !statuses.empty() && statuses.back().progstate == 0x10 && !board->get_pending_reprogram() &&
                   !board->get_reprogram_state();
        }, milliseconds(3000)));
        emu->with_firmware([](BoardFirmware& f) { f.state_history.clear(); });
    }

    /// State bytes the board received, repeats folded: status reports race
    /// with the state byte (a code 1 still under way when the stop went out
    /// makes the host stop the board once more), so a value may come twice.
    Bytes history()
    {
        Bytes h;
        emu->with_firmware([&](BoardFirmware& f) { h = f.state_history; });
        h.erase(std::unique(h.begin(), h.end()), h.end());
        return h;
    }

    bool wait_history(size_t n)
    {
        return pump_until([&] { return history().size() >= n; }, milliseconds(3000));
    }

    std::string name;
    VethEmulator* emu = nullptr;
    WindowsEvUSBBoard* board = nullptr;
    std::vector<USBDeviceStatus> statuses;
};

TEST_F(NamespaceStatus, StatusTimesAreEstimatesAcrossATickWrap)
{
    emu->with_firmware([](BoardFirmware& f) {
        f.ticks = 0xF000;
        f.ticks_per_status = 0x400;
    });
    statuses.clear();
    testing::internal::CaptureStderr();
    pump_until([this] { return statuses.size() >= 30; }, milliseconds(3000));
    std::string log = testing::internal::GetCapturedStderr();
    ASSERT_GE(statuses.size(), 30u);
    EXPECT_NE(std::string::npos, log.find("RLS Estimator 1357913: frequency "));
    gint64 now = g_get_real_time();
    gint64 previous = 0;
    for (const USBDeviceStatus& s : statuses) {
        gint64 t = gint64(s.time_sec) * 1000000 + s.time_usec;
        EXPECT_LT(std::llabs(now - t), 2000000);
        EXPECT_GE(t, previous - 100000); // no step back beyond jitter
        previous = t;
    }
}

TEST_F(NamespaceStatus, ReprogrammingJobsRunInOrder)
{
    board->start_reprogramming(1);
    board->start_reprogramming(2);
    ASSERT_TRUE(wait_history(5));
    EXPECT_EQ((Bytes{0x04, 0x00, 0x05, 0x00, 0x10}), history());
}

TEST_F(NamespaceStatus, ContinuousWaveSwitching)
{
    board->set_transmit_cw(true);
    ASSERT_TRUE(wait_history(1));
    EXPECT_EQ((Bytes{0x30}), history());
    // a job is pending: switching sends nothing, the mode follows the job
    board->start_reprogramming(1);
    board->set_transmit_cw(false);
    board->set_transmit_cw(true);
    ASSERT_TRUE(wait_history(4));
    EXPECT_EQ((Bytes{0x30, 0x04, 0x00, 0x30}), history());
}

TEST_F(NamespaceStatus, ReceivedRadioPacketsAndSentPackets)
{
    Bytes got;
    board->signal_receive.connect([&](const uint8_t* d, unsigned n, const uint8_t*, int16_t, int32_t) {
        got.assign(d, d + n);
    });
    Bytes payload(100, 0x3C);
    Frame f;
    emu->with_firmware([&](BoardFirmware& fw) { f = fw.radio_record_frame(5, -70, payload); });
    emu->send(f);
    ASSERT_TRUE(pump_until([&] { return !got.empty(); }, milliseconds(2000)));
    EXPECT_EQ(102u, got.size());
    EXPECT_EQ(105, got[0]);

    // longer than the capture length: dropped, not delivered cut
    got.clear();
    Bytes long_payload(600, 0x11);
    emu->with_firmware([&](BoardFirmware& fw) { f = fw.radio_record_frame(0, -50, long_payload); });
    emu->send(f);
    emu->with_firmware([&](BoardFirmware& fw) { f = fw.radio_record_frame(0, -50, payload); });
    emu->send(f);
    ASSERT_TRUE(pump_until([&] { return !got.empty(); }, milliseconds(2000)));
    EXPECT_EQ(102u, got.size());
    EXPECT_EQ(2u, board->get_rx_pkt_count());

    Bytes data = {1, 2, 3};
    board->send_bpq_packet(data.data(), 3, nullptr);
    bool seen = false;
    for (int i = 0; i < 100 && !seen; ++i) {
        emu->with_firmware([&](BoardFirmware& fw) { seen = !fw.net_packets.empty(); });
        std::this_thread::sleep_for(milliseconds(10));
    }
    ASSERT_TRUE(seen);
    emu->with_firmware([&](BoardFirmware& fw) { EXPECT_EQ((Bytes{8, 0, 1, 2, 3}), fw.net_packets[0]); });
}

} // namespace
