// The discovery scan over in-memory adapters.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include <sys/eventfd.h>
#include <unistd.h>

#include "TestSupport.h"

using namespace KORVIK;
using namespace korvik_emu;

namespace {

std::unique_ptr<BoardFirmware> firmware(const std::string& serial, uint8_t last = 0x10)
{
    uint8_t mac[6] = {0x02, 0x12, 0x34, 0x0A, 0x0B, last};
    return std::make_unique<BoardFirmware>(serial, mac);
}

struct Scan {
    std::unique_ptr<WindowsLibrary> library;
    std::string log;
};

Scan run_scan(std::unique_ptr<FakeAdapterSystem> system, unsigned ident_timeout_ms = WindowsLibrary::IDENT_TIMEOUT_MS)
{
    Scan s;
    testing::internal::CaptureStderr();
    s.library = std::make_unique<WindowsLibrary>(std::move(system), nullptr, ident_timeout_ms);
    s.log = testing::internal::GetCapturedStderr();
    return s;
}

TEST(Discovery, AdaptersWithoutAMakerAreNeverOpened)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto plain = system->add("eth0", "Intel Corporation RC1200 lookalike", firmware("1111111"));
    auto empty = system->add("lo", "", nullptr);
    Scan s = run_scan(std::move(system));
    EXPECT_EQ(0u, plain->opens);
    EXPECT_EQ(0u, empty->opens);
    EXPECT_TRUE(s.library->get_boards().empty());
    EXPECT_EQ(std::string::npos, s.log.find("eth0 ("));
}

TEST(Discovery, AnswerOnTheThirdReadIsAccepted)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto fw = firmware("7654321");
    fw->ident_junk_frames = 2;
    system->add("kb0", "Zelvane Inc. RC1200 board", std::move(fw));
    Scan s = run_scan(std::move(system));
    ASSERT_EQ(1u, s.library->get_boards().size());
    EXPECT_EQ("7654321", s.library->get_boards().begin()->second->get_serial());
    EXPECT_NE(std::string::npos, s.log.find("kb0 (Zelvane Inc. RC1200 board)"));
    EXPECT_NE(std::string::npos, s.log.find("USB serial number is: 7654321"));
    EXPECT_NE(std::string::npos, s.log.find("Dispname 7654321"));
}

// A link busy with other frames (a board streaming status reports) is
// asked again, unlike a silent one, and its board opens once it answers.
TEST(Discovery, AnswerAfterTenOtherFramesIsNotSeenButAskedForAgain)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto fw = firmware("7654321");
    BoardFirmware* chatty = fw.get();
    fw->ident_junk_frames = 10;
    auto link = system->add("kb0", "Corvane AG RC1200", std::move(fw));
    Scan s = run_scan(std::move(system));
    EXPECT_TRUE(s.library->get_boards().empty());
    EXPECT_FALSE(link->open); // closed again
    EXPECT_NE(std::string::npos, s.log.find("kb0: no identification answer among 10 frames; trying again in 250 ms"))
        << s.log;
    chatty->ident_junk_frames = 0;
    EXPECT_TRUE(pump_until([&] { return s.library->find_adapter_board("kb0") != nullptr; },
                           std::chrono::milliseconds(3000)));
}

TEST(Discovery, SilentAdaptersShareOneDeadlineAndAreNotAskedAgain)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto first = system->add("kb0", "Zelvane Inc. RC1200", nullptr);
    auto second = system->add("kb1", "Zelvane Inc. RC1200", nullptr);
    system->add("kb2", "Zelvane Inc. RC1400", firmware("4545454"));
    auto start = std::chrono::steady_clock::now();
    Scan s = run_scan(std::move(system), 600);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(600));
    EXPECT_LT(took, std::chrono::milliseconds(1100)); // not one deadline per adapter
    ASSERT_EQ(1u, s.library->get_boards().size());
    EXPECT_FALSE(first->open);
    EXPECT_FALSE(second->open);
    EXPECT_NE(std::string::npos, s.log.find("kb1: no identification answer within 600 ms")) << s.log;
    EXPECT_TRUE(s.library->is_held_back("kb0"));
}

TEST(Discovery, LongestChipNameInTheDescriptionWins)
{
    // the table holds RC1200, RC1400, RC1100 and RC1300; "RC1300" and
    // "RC1100" are equally long, the later one in the table wins
    auto system = std::make_unique<FakeAdapterSystem>();
    system->add("kb0", "Zelvane Inc. RC1100/RC1300 board", firmware("1000001"));
    Scan s = run_scan(std::move(system));
    ASSERT_EQ(1u, s.library->get_boards().size());
    EvUSBBoard* b = s.library->get_boards().begin()->second;
    if (b->get_model()) {
        EXPECT_EQ("RC1300", b->get_model()->get_chip_name());
    }
}

TEST(Discovery, DescriptionWithoutChipListsEverySupportedChip)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto link = system->add("kb0", "Zelvane Inc. mystery board", firmware("1000001"));
    Scan s = run_scan(std::move(system));
    EXPECT_TRUE(s.library->get_boards().empty());
    EXPECT_FALSE(link->open);
    EXPECT_NE(std::string::npos, s.log.find("Description: Zelvane Inc. mystery board"));
    EXPECT_NE(std::string::npos, s.log.find("No matching chip found: RC1200 RC1400 RC1100 RC1300")) << s.log;
}

TEST(Discovery, SecondScanSkipsRegisteredAdaptersAndKnownSerials)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    FakeAdapterSystem* sys = system.get();
    auto first = system->add("kb0", "Zelvane Inc. RC1200", firmware("2222222"));
    Scan s = run_scan(std::move(system));
    ASSERT_EQ(1u, s.library->get_boards().size());
    EXPECT_EQ(1u, first->opens);

    // the same board seen through a second adapter
    auto second = sys->add("kb1", "Zelvane Inc. RC1200", firmware("2222222", 0x20));
    testing::internal::CaptureStderr();
    s.library->scan();
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("already registered, skipping..."));
    EXPECT_NE(std::string::npos, log.find("Dispname 2222222 already found"));
    EXPECT_EQ(1u, first->opens);
    EXPECT_FALSE(second->open);
    EXPECT_EQ(1u, s.library->get_boards().size());
}

TEST(Discovery, FailuresStayWithTheirAdapter)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    system->infos.push_back({"gone0", "Zelvane Inc. RC1200"}); // listed, cannot be opened
    auto broken = system->add("kb0", "Zelvane Inc. RC1200", firmware("3333333"));
    broken->fail_send = true;
    system->add("kb1", "Zelvane Inc. RC1400", firmware("4444444"));
    Scan s = run_scan(std::move(system));
    EXPECT_NE(std::string::npos, s.log.find("pcap_open: unable to open adapter gone0: no such adapter"));
    EXPECT_NE(std::string::npos, s.log.find("pcap_sendpacket: error sending a packet"));
    EXPECT_FALSE(broken->open);
    ASSERT_EQ(1u, s.library->get_boards().size());
    EXPECT_EQ("kb1", s.library->get_boards().begin()->first);
}

TEST(Discovery, EnumerationFailureIsReported)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    system->fail_list = true;
    Scan s = run_scan(std::move(system));
    EXPECT_NE(std::string::npos, s.log.find("pcap_findalldevs: no adapters for you"));
}

TEST(Discovery, BoardFailingWhileOpeningHidesNoOther)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto fw = firmware("5555555");
    fw->dropped_replies = 1000; // answers the identification, then nothing
    system->add("kb0", "Zelvane Inc. RC1200", std::move(fw));
    system->add("kb1", "Zelvane Inc. RC1200", firmware("5555556", 0x20));
    Scan s = run_scan(std::move(system));
    ASSERT_EQ(1u, s.library->get_boards().size());
    EXPECT_NE(nullptr, s.library->find_adapter_board("kb1"));
    EXPECT_NE(std::string::npos, s.log.find("kb0: cannot open the board: EvUSBBoard::load_nv flash address error"))
        << s.log;
    EXPECT_TRUE(s.library->is_held_back("kb0"));
}

// A reply lost in a window of the stored sector costs the window only: the
// sector is read again word by word and the board opens at once.
TEST(Discovery, ReplyLostInAnNvWindowIsReadAgainWordByWord)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto fw = firmware("5555556");
    fw->dropped_replies = 1;
    auto link = system->add("kb0", "Zelvane Inc. RC1200", std::move(fw));
    Scan s = run_scan(std::move(system));
    EXPECT_NE(nullptr, s.library->find_adapter_board("kb0"));
    EXPECT_NE(std::string::npos, s.log.find("reading the sector word by word")) << s.log;
    EXPECT_EQ(1u, link->opens);
}

// A reply lost while a board opens costs that try only: the board is asked
// again after a pause (not only once its link changes) and then opens.
TEST(Discovery, BoardWhoseReplyWasLostOpensOnALaterTry)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto fw = firmware("5555557");
    // the gets of the first NV window (8 words, two each), then the first
    // of the word-by-word reading
    fw->dropped_replies = 2 * 8 + 1;
    auto link = system->add("kb0", "Zelvane Inc. RC1200", std::move(fw));
    Scan s = run_scan(std::move(system));
    EXPECT_TRUE(s.library->get_boards().empty());
    EXPECT_TRUE(s.library->is_held_back("kb0"));
    EXPECT_NE(std::string::npos, s.log.find("kb0: cannot open the board")) << s.log;
    EXPECT_NE(std::string::npos, s.log.find("trying again in 250 ms")) << s.log;
    EXPECT_TRUE(pump_until([&] { return s.library->find_adapter_board("kb0") != nullptr; },
                           std::chrono::milliseconds(3000)));
    EXPECT_FALSE(s.library->is_held_back("kb0"));
    EXPECT_EQ(2u, link->opens);
}

TEST(Discovery, ManyBoardsOpenSideBySideEachOnce)
{
    // more boards than the scan opens at a time, one that fails while it
    // opens and two with one serial among them
    auto system = std::make_unique<FakeAdapterSystem>();
    std::vector<std::shared_ptr<FakeLink>> links;
    for (unsigned i = 0; i < 2 * WindowsLibrary::MAX_PARALLEL_OPENS + 3; ++i) {
        char name[8], serial[8];
        std::snprintf(name, sizeof name, "kb%02u", i);
        std::snprintf(serial, sizeof serial, "%07u", i == 7 ? 6100006 : 6100000 + i);
        links.push_back(system->add(name, "Zelvane Inc. RC1200", firmware(serial, uint8_t(i))));
    }
    links[3]->sends_until_failure = 1; // the identification only
    Scan s = run_scan(std::move(system));
    const size_t boards = links.size() - 2;
    ASSERT_EQ(boards, s.library->get_boards().size()) << s.log;
    EXPECT_TRUE(s.library->is_held_back("kb03"));
    EXPECT_FALSE(links[3]->open);
    // one of the twins, and only one
    EXPECT_NE(s.library->find_adapter_board("kb06") != nullptr, s.library->find_adapter_board("kb07") != nullptr);
    for (const auto& entry : s.library->get_boards()) {
        const unsigned i = unsigned(std::stoul(entry.first.substr(2)));
        EXPECT_EQ(i == 7 ? "6100006" : std::to_string(6100000 + i), entry.second->get_serial());
        EXPECT_FALSE(entry.second->is_dead());
    }
    size_t added = 0;
    for (size_t p = s.log.find("Adding board serial "); p != std::string::npos; p = s.log.find("Adding board ", p + 1))
        ++added;
    EXPECT_EQ(boards, added);
}

/// Hot-plug news from a test.
class FakeHotplug : public HotplugSource {
public:
    FakeHotplug() : fd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~FakeHotplug() override { close(fd); }
    int get_fd() const override { return fd; }
    bool read_changes(std::vector<std::string>& out) override
    {
        uint64_t v;
        (void)!read(fd, &v, sizeof v);
        ++reads;
        out.insert(out.end(), removed.begin(), removed.end());
        removed.clear();
        bool c = changed;
        changed = false;
        return c;
    }
    bool take_changed_links(std::vector<std::string>& names) override
    {
        names.insert(names.end(), links.begin(), links.end());
        links.clear();
        return true;
    }
    void notify(bool c, std::vector<std::string> gone = {}, std::vector<std::string> changed_links = {})
    {
        changed = changed || c;
        removed.insert(removed.end(), gone.begin(), gone.end());
        links.insert(links.end(), changed_links.begin(), changed_links.end());
        uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    }
    int fd;
    bool changed = false;
    std::vector<std::string> removed;
    std::vector<std::string> links;
    int reads = 0;
};

TEST(Hotplug, BurstOfChangesGivesOneRescanThatFindsTheNewBoard)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    FakeAdapterSystem* sys = system.get();
    auto hotplug = std::make_unique<FakeHotplug>();
    FakeHotplug* hp = hotplug.get();
    WindowsLibrary library(std::move(system), std::move(hotplug));
    library.set_rescan_delay_ms(50);
    RegistryEvents events(library);
    auto link = sys->add("kb0", "Zelvane Inc. RC1200", firmware("6666666"));

    for (int i = 0; i < 5; ++i) {
        hp->notify(true);
        pump_until([] { return false; }, std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(library.is_rescan_pending());
    EXPECT_EQ(0, events.connects);
    EXPECT_TRUE(pump_until([&] { return events.connects == 1; }, std::chrono::milliseconds(2000)));
    EXPECT_FALSE(library.is_rescan_pending());
    EXPECT_EQ(1u, link->opens);

    // news that cannot reveal a board schedules nothing
    hp->notify(false);
    pump_until([&] { return hp->reads >= 7; }, std::chrono::milliseconds(500));
    EXPECT_FALSE(library.is_rescan_pending());
}

// A program that let its unopened boards go must not take them back on
// the hot-plug news its own closing makes (the other program waiting for
// one would find it locked again); an explicit scan and a replug do.
TEST(Hotplug, BoardsLetGoOfComeBackOnlyWhenAskedFor)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    FakeAdapterSystem* sys = system.get();
    auto mine = system->add("kb0", "Zelvane Inc. RC1200", firmware("8000001"));
    auto other = system->add("kb1", "Zelvane Inc. RC1200", firmware("8000002", 0x11));
    auto hotplug = std::make_unique<FakeHotplug>();
    FakeHotplug* hp = hotplug.get();
    WindowsLibrary library(std::move(system), std::move(hotplug));
    library.set_rescan_delay_ms(20);
    ASSERT_EQ(2u, library.get_boards().size());
    BoardRef opened(library.find_adapter_board("kb0"));

    EXPECT_EQ(std::list<std::string>{"kb1"}, library.release_unopened_boards());
    EXPECT_FALSE(other->open);
    EXPECT_TRUE(mine->open);
    hp->notify(true, {}, {"kb1"}); // the link's flags changed as its capture closed
    auto late = sys->add("kb2", "Zelvane Inc. RC1200", firmware("8000003", 0x12));
    EXPECT_TRUE(pump_until([&] { return library.find_adapter_board("kb2") != nullptr; },
                           std::chrono::milliseconds(2000)));
    EXPECT_EQ(nullptr, library.find_adapter_board("kb1"));
    EXPECT_EQ(1u, other->opens);

    library.scan();
    EXPECT_NE(nullptr, library.find_adapter_board("kb1"));
    EXPECT_FALSE(library.is_released("kb1"));

    // unplugged and plugged again: a board that may be another one
    EXPECT_EQ(2u, library.release_unopened_boards().size());
    EXPECT_TRUE(library.is_released("kb2"));
    hp->notify(true, {"kb2"});
    EXPECT_TRUE(pump_until([&] { return library.find_adapter_board("kb2") != nullptr; },
                           std::chrono::milliseconds(2000)));
    EXPECT_EQ(2u, late->opens);
}

TEST(Hotplug, AdapterThatWentAwayTakesItsBoardOut)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    auto link = system->add("kb0", "Zelvane Inc. RC1200", firmware("7777777"));
    auto hotplug = std::make_unique<FakeHotplug>();
    FakeHotplug* hp = hotplug.get();
    WindowsLibrary library(std::move(system), std::move(hotplug));
    RegistryEvents events(library);
    ASSERT_EQ(1u, library.get_boards().size());
    WindowsEvUSBBoard* board = library.find_adapter_board("kb0");
    BoardRef ref(board);

    hp->notify(false, {"eth9", "kb0"});
    EXPECT_TRUE(pump_until([&] { return events.disconnects == 1; }, std::chrono::milliseconds(1000)));
    EXPECT_TRUE(board->is_dead());
    EXPECT_FALSE(link->open);
    EXPECT_TRUE(library.get_boards().empty());
}

TEST(Hotplug, RescanNeverWaitsForSilentAdaptersAndAsksThemOnlyAfterTheirLinkChanged)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    FakeAdapterSystem* sys = system.get();
    auto hotplug = std::make_unique<FakeHotplug>();
    FakeHotplug* hp = hotplug.get();
    WindowsLibrary library(std::move(system), std::move(hotplug), 1000);
    library.set_rescan_delay_ms(1);
    RegistryEvents events(library);
    auto silent = sys->add("kb0", "Zelvane Inc. RC1200", nullptr);
    sys->add("kb1", "Zelvane Inc. RC1400", firmware("1212121"));

    // what a caller's periodic() does, timed call by call
    auto settle = [&] {
        auto longest = std::chrono::steady_clock::duration::zero();
        pump_until(
            [&] {
                auto t0 = std::chrono::steady_clock::now();
                main_context_dispatch_pending();
                longest = std::max(longest, std::chrono::steady_clock::now() - t0);
                return !library.is_rescan_pending() && library.get_identifying_count() == 0;
            },
            std::chrono::milliseconds(3000));
        return longest;
    };
    testing::internal::CaptureStderr();
    hp->notify(true, {}, {"kb0", "kb1"});
    EXPECT_LT(settle(), std::chrono::milliseconds(300));
    EXPECT_EQ(1, events.connects);
    EXPECT_TRUE(library.is_held_back("kb0"));
    EXPECT_FALSE(silent->open);

    hp->notify(true, {}, {"eth7"}); // news about another link
    settle();
    EXPECT_EQ(1u, silent->opens);
    hp->notify(true, {}, {"kb0"}); // its own link came up again
    settle();
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(2u, silent->opens);
}

TEST(Hotplug, ScanExceptionStaysInsideTheHandler)
{
    auto system = std::make_unique<FakeAdapterSystem>();
    FakeAdapterSystem* sys = system.get();
    auto hotplug = std::make_unique<FakeHotplug>();
    FakeHotplug* hp = hotplug.get();
    WindowsLibrary library(std::move(system), std::move(hotplug));
    library.set_rescan_delay_ms(1);
    auto fw = firmware("8888888");
    fw->dropped_replies = 2 * 8 + 1; // the NV window, then its word-by-word reading
    sys->add("kb0", "Zelvane Inc. RC1200", std::move(fw));
    hp->notify(true);
    testing::internal::CaptureStderr();
    // would terminate the test program if it reached the main loop
    pump_until([&] { return hp->reads > 0 && !library.is_rescan_pending() && library.get_identifying_count() == 0; },
               std::chrono::milliseconds(8000));
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(std::string::npos, log.find("kb0: cannot open the board: ")) << log;
    EXPECT_TRUE(library.get_boards().empty());
}

} // namespace
