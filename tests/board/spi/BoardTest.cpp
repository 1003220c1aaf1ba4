// A direct SPI board whose chip is an in-memory register file: the whole
// path from board operations through the worker's firmware and back, the
// NV file across board lifetimes, timeouts and stopping.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include <glib/gstdio.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include "DataDir.h"
#include "api/Library.h"
#include "board/DirectSPIBoard.h"
#include "board/MainLoop.h"
#include "board/NvFile.h"
#include "board/Protocol.h"
#include "board/RC1300SPIBoard.h"

// after the board headers: it defines BLOCK_SIZE
#include <sys/mount.h>

using namespace KORVIK;

namespace {

class MemorySPIBoard : public DirectSPIBoard {
public:
    explicit MemorySPIBoard(const std::string& serial, Library* library = nullptr,
                            const std::string& interface = "spi0", const std::string& chip = "RC1200")
        : DirectSPIBoard(library, serial, interface, "memory board", chip, "020000000010", nullptr)
    {
    }
    ~MemorySPIBoard() override { stop_worker(); }

    std::atomic<bool> end_run{false};
    std::atomic<int> state_delay_ms{0};
    std::atomic<int> transmitted{0};

protected:
    void spi_transmit(const uint8_t* payload, unsigned len) override
    {
        ++transmitted;
        // loop the packet back as if the chip had received it
        auto record = protocol::build_radio_record(-12, -40, payload, len);
        queue_radio_record(record.data(), unsigned(record.size()));
    }
    void spi_write_register(uint16_t a, uint8_t v) override { regs[a & 0xFFF] = v; }
    uint16_t spi_read_register(uint16_t a) override
    {
        return uint16_t(regs[a & 0xFFF] << 8 | regs[(a ^ 1) & 0xFFF]);
    }
    void spi_set_state(uint8_t s) override { state = s; }
    uint8_t spi_get_state() override
    {
        // a hung adapter
        std::this_thread::sleep_for(std::chrono::milliseconds(state_delay_ms.load()));
        return state;
    }
    void run() override
    {
        while (!end_run) {
            wait_for_work();
            process_outgoing();
        }
    }

private:
    uint8_t regs[0x1000] = {};
    uint8_t state = 0;
};

std::unique_ptr<MemorySPIBoard> started(const std::string& serial)
{
    std::unique_ptr<MemorySPIBoard> b(new MemorySPIBoard(serial));
    b->start();
    return b;
}

std::vector<uint8_t> file_bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

/// Pumps the library context until `done` or two seconds have passed.
template <typename F>
bool pump_until(F done)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        main_context_dispatch_pending();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(DirectSPIBoard, RegistersGoThroughTheWorker)
{
    auto b = started("5000001");
    EXPECT_FALSE(b->is_dead());
    EXPECT_TRUE(b->is_net_up());
    b->evusb_write(0x010, 0x34);
    b->evusb_write(0x011, 0x12);
    EXPECT_EQ(b->evusb_read16(0x010), 0x1234);
    EXPECT_EQ(b->evusb_read16(0x011), 0x3412);

    b->evusb_set_ethstate(0x20);
    EXPECT_EQ(b->evusb_get_ethstate(), 0x20);
    EXPECT_EQ(b->get_report11(), 0);

    // the register read echoes the address in its first two bytes
    uint8_t address[4] = {0x34, 0x02, 0, 0};
    ASSERT_EQ(b->report_io(0xF0, false, 4, address), 0);
    uint8_t reply[5] = {};
    ASSERT_EQ(b->report_io(0xF0, true, 5, reply), 0);
    EXPECT_EQ(reply[0], 0x34);
    EXPECT_EQ(reply[1], 0x02);
}

TEST(DirectSPIBoard, ChannelAccessBlockIsKeptByTheFirmware)
{
    auto b = started("5000002");
    uint8_t block[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    uint8_t addresses[12] = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xB0, 0xB1, 0xB2, 0xB3, 0xB4, 0xB5};
    b->set_chacc(block, addresses);
    uint8_t block_back[9] = {}, addresses_back[12] = {};
    b->get_chacc(block_back, addresses_back);
    EXPECT_EQ(0, memcmp(block, block_back, 9));
    EXPECT_EQ(0, memcmp(addresses, addresses_back, 12));
}

TEST(DirectSPIBoard, NvSectorSurvivesInTheFile)
{
    const std::string serial = "5000003";
    const std::string path = nvfile::path_for_serial(serial);
    g_remove(path.c_str()); // left by an earlier repetition
    ASSERT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS));
    {
        auto b = started(serial);
        // first run: erased sector, so nothing was read and no file written
        EXPECT_FALSE(g_file_test(path.c_str(), G_FILE_TEST_EXISTS));
        b->set_nv_serial("7654321");
        const uint8_t mac[6] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55};
        b->set_nv_ethmac(mac);
        b->store_boarddefaults();
        // the write sequence ends with flash control 0x00, which saves the file
        EXPECT_EQ(file_bytes(path).size(), 512u);
    }
    auto stored = file_bytes(path);
    ASSERT_EQ(stored.size(), 512u);

    auto again = started(serial);
    EXPECT_EQ(again->get_nv_serial(), "7654321");
    EXPECT_EQ(again->get_nv_ethernet_mac()[5], 0x55);
    uint8_t sector[512];
    again->load_nv(sector);
    EXPECT_EQ(std::vector<uint8_t>(sector, sector + 512), stored);
}

TEST(DirectSPIBoard, FlashDataWithoutUnlockIsIgnoredAndFileUntouched)
{
    const std::string serial = "5000004";
    const std::string path = nvfile::path_for_serial(serial);
    {
        auto b = started(serial);
        b->set_nv_serial("1111111");
        b->store_boarddefaults();
    }
    GStatBuf before;
    ASSERT_EQ(g_stat(path.c_str(), &before), 0);
    auto stored = file_bytes(path);
    {
        auto b = started(serial);
        b->set_flashctl(0x00);
        b->set_flashaddr(0);
        int word = b->get_flashdata();
        b->set_flashdata(uint16_t(~word));
        EXPECT_EQ(b->get_flashdata(), word);
        b->set_flashctl(0x00);
    }
    GStatBuf after;
    ASSERT_EQ(g_stat(path.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino); // a rewrite would have replaced the file
    EXPECT_EQ(file_bytes(path), stored);
}

TEST(DirectSPIBoard, NetworkPacketsReachTheChipAndReceivedOnesComeBack)
{
    auto b = started("5000005");
    std::vector<std::vector<uint8_t>> received;
    std::vector<int> rssi;
    b->signal_receive.connect([&](const uint8_t* data, unsigned len, const uint8_t*, int16_t r, int32_t) {
        received.emplace_back(data, data + len);
        rssi.push_back(r);
    });
    const uint8_t payload[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    b->send_bpq_packet(payload, sizeof payload, nullptr);
    ASSERT_TRUE(pump_until([&] { return !received.empty(); }));
    EXPECT_EQ(b->transmitted.load(), 1);
    ASSERT_EQ(received[0].size(), 6u); // length word, then the payload
    EXPECT_EQ(std::vector<uint8_t>(received[0].begin() + 2, received[0].end()),
              std::vector<uint8_t>(payload, payload + 4));
    EXPECT_EQ(rssi[0], -40);
    EXPECT_EQ(b->get_rx_pkt_count(), 1u);
}

TEST(DirectSPIBoard, UnansweredReportTimesOutAndTheBoardLeaves)
{
    Library library;
    auto* b = new MemorySPIBoard("5000006", &library, "spi6");
    b->start();
    library.add_board(b);
    b->reference(); // keep it to look at after it left
    b->state_delay_ms = EvUSBNetBoard::REPORT_TIMEOUT_MS + 300;

    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b->evusb_get_ethstate(), -1);
    auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(EvUSBNetBoard::REPORT_TIMEOUT_MS));
    EXPECT_TRUE(b->is_dead());
    EXPECT_EQ(library.find_interface("spi6"), library.end());
    // a dead board fails at once instead of waiting again
    t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(b->evusb_get_ethstate(), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(500));
    b->unreference();
}

TEST(DirectSPIBoard, WorkerThatEndsMakesTheBoardLeaveAtTheNextDispatch)
{
    Library library;
    auto* b = new MemorySPIBoard("5000007", &library, "spi7");
    b->start();
    library.add_board(b);
    b->reference();
    b->end_run = true;
    b->evusb_write(0x20, 1); // wakes the worker, which then returns from run
    EXPECT_TRUE(pump_until([&] { return b->is_dead(); }));
    EXPECT_EQ(library.find_interface("spi7"), library.end());
    b->unreference();
}

TEST(DirectSPIBoard, StopsAndJoinsWithWorkPending)
{
    for (int round = 0; round < 20; ++round) {
        auto b = started("5000008");
        // queued sets are not waited for; the board goes while they are in flight
        for (int i = 0; i < 50; ++i)
            b->evusb_write(uint16_t(i), uint8_t(i));
        if (round % 2)
            b->leave_registry();
        b.reset();
    }
    // the board's dispatcher may have been emitted after it went
    main_context_dispatch_pending();
}

TEST(DirectSPIBoard, FailedStartLeavesNoWorkerBehind)
{
    EXPECT_THROW(MemorySPIBoard("5000009", nullptr, "spi9", "XY99"), std::runtime_error);

    // a worker that ends at once answers nothing: start fails fast and cleanly
    MemorySPIBoard b("5000009");
    b.end_run = true;
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_THROW(b.start(), std::runtime_error);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_TRUE(b.is_dead());
}

TEST(DirectSPIBoard, FifoAtTheNvPathReadsErasedWithoutHanging)
{
    const std::string serial = "5000011";
    const std::string path = nvfile::path_for_serial(serial);
    g_remove(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    auto t0 = std::chrono::steady_clock::now();
    {
        auto b = started(serial);
        uint8_t sector[512];
        b->load_nv(sector);
        EXPECT_EQ(std::vector<uint8_t>(sector, sector + 512), std::vector<uint8_t>(512, 0xFF));
    }
    std::string log = testing::internal::GetCapturedStderr();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
    EXPECT_NE(log.find("nvfile::read: " + path + " is not a regular file"), std::string::npos) << log;
    g_remove(path.c_str());
}

// A full disk while the file is replaced: the old file must survive whole
// and the store must not pass as done. Needs a tiny file system of its own,
// mounted in a mount namespace private to this test process.
TEST(DirectSPIBoard, FullDiskKeepsTheOldFileAndFailsTheStore)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root for a private mount namespace";
    ASSERT_EQ(unshare(CLONE_NEWNS), 0);
    ASSERT_EQ(mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
    const std::string dir = test_data_dir();
    ASSERT_EQ(mount("tmpfs", dir.c_str(), "tmpfs", 0, "size=16k,mode=0700"), 0);
    const std::string serial = "5000012";
    const std::string path = nvfile::path_for_serial(serial);
    {
        auto b = started(serial);
        b->set_nv_serial("1111111");
        b->store_boarddefaults();
        const auto old = file_bytes(path);
        ASSERT_EQ(old.size(), 512u);

        {
            std::ofstream filler(dir + "/filler", std::ios::binary);
            const std::vector<char> page(4096, 'x');
            for (int i = 0; i < 16 && filler; ++i)
                filler.write(page.data(), std::streamsize(page.size())).flush();
        }
        b->set_nv_serial("2222222");
        testing::internal::CaptureStderr();
        EXPECT_THROW(b->store_boarddefaults(), std::runtime_error);
        b.reset(); // the worker tries once more as it ends
        std::string log = testing::internal::GetCapturedStderr();
        EXPECT_NE(log.find("nvfile::write: " + path), std::string::npos) << log;
        EXPECT_EQ(file_bytes(path), old);
    }
    GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
    int entries = 0;
    while (d && g_dir_read_name(d))
        ++entries;
    g_dir_close(d);
    EXPECT_EQ(entries, 2); // the file and the filler: no temporary left
    EXPECT_EQ(umount2(dir.c_str(), MNT_DETACH), 0);
}

TEST(RC1300SPIBoard, ChipTableCreatesAPlaceholderBoard)
{
    // the adapter of platforms without direct SPI
    const ChipTableEntry* row = nullptr;
    for (const auto& entry : chip_table())
        if (std::string(entry.name) == "RC1300")
            row = &entry;
    ASSERT_NE(row, nullptr);
    ASSERT_NE(row->spi_board_factory, nullptr);
    std::unique_ptr<EvUSBBoard> b(
        row->spi_board_factory(nullptr, "5000010", "spi10", "RC1300 on SPI", "020000000011", new WindowsDirectSPI));
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->is_dead());
    b->evusb_write(0x10, 0x55);
    EXPECT_EQ(b->evusb_read16(0x10), 0);
    EXPECT_EQ(b->evusb_get_ethstate(), 0);
    const uint8_t payload[3] = {1, 2, 3};
    b->send_bpq_packet(payload, sizeof payload, nullptr);
}

} // namespace
