// Captures of board traffic and their replay: a session with an emulated
// board written through the capture, read back, and replayed as a board
// that answers as the live one did; hostile capture files.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include "TestSupport.h"
#include "board/FrameTap.h"
#include "board/Protocol.h"
#include "board/ReplayBoard.h"
#include "model/ChipModels.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"
#include "transport/Capture.h"

using namespace KORVIK;
using namespace korvik_emu;
using Bytes = std::vector<uint8_t>;

namespace {

std::string temp_path(const std::string& name)
{
    return testing::TempDir() + "korvik_capture_" + std::to_string(getpid()) + "_" + name;
}

/// Diagnostic lines written while it lives.
struct DiagLines {
    DiagLines()
    {
        set_diagnostic_sink([this](const std::string& line) { lines.push_back(line); });
    }
    ~DiagLines() { set_diagnostic_sink(nullptr); }
    bool any(const std::string& part) const
    {
        for (const std::string& l : lines)
            if (l.find(part) != std::string::npos)
                return true;
        return false;
    }
    std::vector<std::string> lines;
};

std::vector<std::pair<std::string, std::set<uint16_t>>> chip_addresses()
{
    std::vector<std::pair<std::string, std::set<uint16_t>>> chips;
    for (const ChipModelEntry& chip : chip_models()) {
        std::unique_ptr<GreyfinModel> model(chip.model_factory(nullptr));
        std::set<uint16_t> a;
        for (unsigned i = 0; i < model->get_registers(); ++i)
            a.insert(model->get_register_operatingaddr(i));
        chips.emplace_back(chip.name, a);
    }
    return chips;
}

/// Writes frames as a pcap file of the given link type.
void write_pcap(const std::string& path, const std::vector<Bytes>& frames, int link = DLT_EN10MB)
{
    pcap_t* dead = pcap_open_dead(link, 65535);
    pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(nullptr, d);
    unsigned n = 0;
    for (const Bytes& f : frames) {
        struct pcap_pkthdr h;
        std::memset(&h, 0, sizeof h);
        h.ts.tv_sec = 1000 + n++;
        h.caplen = h.len = unsigned(f.size());
        pcap_dump(reinterpret_cast<u_char*>(d), &h, f.data());
    }
    pcap_dump_close(d);
    pcap_close(dead);
}

std::vector<Bytes> read_pcap(const std::string& path, std::vector<double>* times = nullptr)
{
    char err[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline_with_tstamp_precision(path.c_str(), PCAP_TSTAMP_PRECISION_NANO, err);
    EXPECT_NE(nullptr, p) << err;
    std::vector<Bytes> frames;
    if (!p)
        return frames;
    EXPECT_EQ(DLT_EN10MB, pcap_datalink(p));
    struct pcap_pkthdr* h;
    const u_char* data;
    while (pcap_next_ex(p, &h, &data) == 1) {
        frames.emplace_back(data, data + h->caplen);
        if (times)
            times->push_back(h->ts.tv_sec + h->ts.tv_usec / 1e9);
    }
    pcap_close(p);
    return frames;
}

class CaptureSession : public testing::Test {
protected:
    void SetUp() override
    {
        file = temp_path("session.pcap");
        std::string error;
        // before discovery: the identification belongs in the capture
        ASSERT_TRUE(start_capture(file, CaptureOptions(), error)) << error;
        auto system = std::make_unique<FakeAdapterSystem>();
        link = system->add("kb0", "Zelvane Inc. RC1200 Evaluation Board",
                           std::make_unique<BoardFirmware>("1234567", TEST_MAC));
        library = std::make_unique<WindowsLibrary>(std::move(system), nullptr);
        board = library->find_adapter_board("kb0");
        ASSERT_NE(nullptr, board);
        ref = std::make_unique<BoardRef>(board);
    }

    void TearDown() override
    {
        stop_capture();
        replay_ref.reset();
        ref.reset();
        library.reset();
        pump_until([] { return true; }, std::chrono::milliseconds(0));
        std::remove(file.c_str());
    }

    void arrive(const Frame& frame)
    {
        link->push(frame);
        pump_until([this] { return link->incoming.empty(); }, std::chrono::milliseconds(500));
    }

    /// open, set, store, status reports and received packets
    void run_session()
    {
        GreyfinModel* model = board->get_model();
        ASSERT_NE(nullptr, model);
        model->set_tx_carrierfrequency(868.3e6);
        model->set_tx_power(3);
        model->commit_registers();
        board->set_nv_serial("7654321");
        board->store_boarddefaults();
        for (int i = 0; i < 3; ++i)
            arrive(link->firmware->status_frame());
        arrive(link->firmware->radio_record_frame(-10, -60, {0x11, 0x22, 0x33}));
        arrive(link->firmware->radio_record_frame(25, -91, {0x44}));
        stop_capture();
    }

    ReplayBoard* replay(const Recording& r, const std::string& chip)
    {
        auto* b = new ReplayBoard(library.get(), r, chip, "sim90", "replay");
        replay_ref = std::make_unique<BoardRef>(b);
        return b;
    }

    std::string file;
    std::shared_ptr<FakeLink> link;
    std::unique_ptr<WindowsLibrary> library;
    WindowsEvUSBBoard* board = nullptr;
    std::unique_ptr<BoardRef> ref;
    std::unique_ptr<BoardRef> replay_ref;
};

} // namespace

TEST_F(CaptureSession, EveryFrameBothWaysWithRisingTimes)
{
    run_session();
    std::vector<double> times;
    const std::vector<Bytes> frames = read_pcap(file, &times);
    unsigned to_board = 0, from_board = 0, radio = 0, ident = 0;
    for (const Bytes& f : frames) {
        protocol::FrameView v;
        ASSERT_TRUE(protocol::parse_frame(f.data(), unsigned(f.size()), v));
        if (v.ethertype == protocol::ETHERTYPE_RADIO)
            ++radio;
        else if (protocol::is_broadcast(v.source))
            ++to_board;
        else
            ++from_board;
        std::string serial;
        uint8_t mac[6];
        ident += protocol::parse_ident_answer(f.data(), unsigned(f.size()), serial, mac) ? 1 : 0;
    }
    EXPECT_EQ(link->sent.size(), to_board);
    EXPECT_EQ(1u, ident);
    EXPECT_EQ(2u, radio);
    EXPECT_GT(from_board, 256u); // the NV sector alone answers 512 gets
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_GT(times.front(), 1.5e9); // wall clock, with nanoseconds
}

TEST_F(CaptureSession, ReplayAnswersAsTheLiveBoard)
{
    run_session();
    RecordingBuilder builder;
    std::string error;
    ASSERT_TRUE(read_capture_file(file, builder, error)) << error;
    const Recording& r = builder.get();
    EXPECT_EQ("1234567", r.serial);
    EXPECT_EQ(1u, r.board_macs.size());
    EXPECT_EQ(0, std::memcmp(r.mac, TEST_MAC, 6));
    EXPECT_EQ(3u, r.statuses.size());
    ASSERT_EQ(2u, r.packets.size());
    EXPECT_EQ("RC1200", infer_chip(r.read_addresses, chip_addresses()));

    ReplayBoard* b = replay(r, "RC1200");
    GreyfinModel* live = board->get_model();
    GreyfinModel* replayed = b->get_model();
    ASSERT_EQ(live->get_registers(), replayed->get_registers());
    for (unsigned i = 0; i < live->get_registers(); ++i) {
        EXPECT_EQ(live->get_register_chipvalue(i), replayed->get_register_chipvalue(i)) << live->get_register_name(i);
        EXPECT_EQ(live->get_register_nvvalue(i), replayed->get_register_nvvalue(i)) << live->get_register_name(i);
    }
    EXPECT_EQ(board->get_nv_serial(), b->get_nv_serial());
    EXPECT_EQ("7654321", b->get_nv_serial());
    EXPECT_EQ(0, std::memcmp(board->get_nv_ethernet_mac(), b->get_nv_ethernet_mac(), 6));
    EXPECT_EQ(0, std::memcmp(board->get_nv_radio_ethernet_mac(), b->get_nv_radio_ethernet_mac(), 6));
    EXPECT_DOUBLE_EQ(live->get_tx_carrierfrequency(), replayed->get_tx_carrierfrequency());
    EXPECT_EQ(board->get_serial(), b->get_serial());

    // status reports and packets come again, in order, on the recorded clock
    std::vector<uint16_t> ticks;
    std::vector<std::pair<int16_t, int32_t>> heard;
    std::vector<Bytes> data;
    b->signal_status.connect([&](const USBDeviceStatus& s) { ticks.push_back(s.ticks); });
    b->signal_receive.connect([&](const uint8_t* d, unsigned n, const uint8_t*, int16_t rssi, int32_t fo) {
        heard.emplace_back(rssi, fo);
        data.emplace_back(d, d + n);
    });
    ASSERT_TRUE(pump_until([&] { return b->get_pending_events() == 0; }, std::chrono::seconds(5)));
    ASSERT_EQ(3u, ticks.size());
    for (size_t i = 0; i < ticks.size(); ++i)
        EXPECT_EQ(r.statuses[i].status.ticks, ticks[i]);
    ASSERT_EQ(2u, heard.size());
    EXPECT_EQ(std::make_pair(int16_t(-60), int32_t(-10)), heard[0]);
    EXPECT_EQ(std::make_pair(int16_t(-91), int32_t(25)), heard[1]);
    EXPECT_EQ((Bytes{0x08, 0x00, 0x11, 0x22, 0x33}), data[0]);
    EXPECT_EQ(2u, b->get_rx_pkt_count());
}

TEST_F(CaptureSession, ReplayTakesWritesAndAnswersTheUnrecordedWithDefaults)
{
    run_session();
    RecordingBuilder builder;
    std::string error;
    ASSERT_TRUE(read_capture_file(file, builder, error)) << error;
    ReplayBoard* b = replay(builder.get(), "RC1200");
    DiagLines diag_lines;
    b->evusb_write(0x0ABC, 0x5A);
    EXPECT_EQ(0x5A, b->evusb_read16(0x0ABC) & 0xFF);
    // never recorded, outside the chip's table: zero, and a line saying so
    EXPECT_EQ(0, b->evusb_read16(0x0F00) & 0xFF);
    EXPECT_TRUE(diag_lines.any("register 0xf00 was never recorded"));
    // a write through the model reaches the replayed registers
    GreyfinModel* model = b->get_model();
    model->set_tx_power(-2);
    model->commit_registers();
    const double power = model->get_tx_power();
    EXPECT_NE(3, power);
    b->load_chipoperating();
    EXPECT_EQ(power, model->get_tx_power());
    EXPECT_FALSE(b->is_dead());
}

TEST_F(CaptureSession, BoardFilterHoldsFramesUntilTheSerialAnswers)
{
    // a second board's frames stay out; the first board's discovery is in
    stop_capture();
    CaptureOptions options;
    options.board = "2222222";
    std::string error;
    ASSERT_TRUE(start_capture(file, options, error)) << error;
    auto system = std::make_unique<FakeAdapterSystem>();
    system->add("kx0", "Zelvane Inc. RC1200 Evaluation Board", std::make_unique<BoardFirmware>("1111111", TEST_MAC));
    const uint8_t other_mac[6] = {0x02, 0, 0, 0, 0, 0x22};
    system->add("kx1", "Zelvane Inc. RC1300 Evaluation Board", std::make_unique<BoardFirmware>("2222222", other_mac));
    WindowsLibrary two(std::move(system), nullptr);
    ASSERT_NE(nullptr, two.find_adapter_board("kx1"));
    stop_capture();
    RecordingBuilder builder;
    ASSERT_TRUE(read_capture_file(file, builder, error)) << error;
    EXPECT_EQ("2222222", builder.get().serial);
    EXPECT_EQ(1u, builder.get().board_macs.size());
    EXPECT_EQ("RC1300", infer_chip(builder.get().read_addresses, chip_addresses()));
}

TEST(CaptureFile, OneFilePerInterfaceAndAppending)
{
    const std::string pattern = temp_path("%i.pcap");
    std::string error;
    const Bytes frame = protocol::build_frame(protocol::BROADCAST_MAC, TEST_MAC, protocol::ETHERTYPE_NET,
                                              reinterpret_cast<const uint8_t*>("abcdef"), 6);
    CaptureOptions options;
    options.append = true;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(start_capture(pattern, options, error)) << error;
        tap_frame("ka", frame.data(), unsigned(frame.size()));
        tap_frame("kb", frame.data(), unsigned(frame.size()));
        tap_frame("kb", frame.data(), unsigned(frame.size()));
        EXPECT_EQ(3u, get_captured_frames());
        stop_capture();
    }
    tap_frame("ka", frame.data(), unsigned(frame.size())); // no capture: nowhere
    EXPECT_EQ(2u, read_pcap(temp_path("ka.pcap")).size());
    EXPECT_EQ(4u, read_pcap(temp_path("kb.pcap")).size());
    EXPECT_EQ(frame, read_pcap(temp_path("ka.pcap")).front());
    std::remove(temp_path("ka.pcap").c_str());
    std::remove(temp_path("kb.pcap").c_str());
    EXPECT_FALSE(start_capture("/nonexistent-dir/x.pcap", CaptureOptions(), error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent-dir/x.pcap")) << error;
    EXPECT_FALSE(is_capturing());
}

TEST(CaptureFile, HostileFilesAreRefusedOrSkippedWithAMessage)
{
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        bool accepted;
        const char* message; // in the error, or in a diagnostic line when accepted
    };
    const Bytes status = protocol::build_frame(protocol::BROADCAST_MAC, TEST_MAC, protocol::ETHERTYPE_VENDOR,
                                               Bytes(18, 0).data(), 18);
    auto text = [](const std::string& content) {
        return [content](const std::string& path) { std::ofstream(path, std::ios::binary) << content; };
    };
    const Case cases[] = {
        {"empty", text(""), false, "not a capture file"},
        {"text", text("this is not a capture at all, just words\n"), false, "not a capture file"},
        {"truncated header", [&](const std::string& p) {
             write_pcap(p, {status});
             truncate(p.c_str(), 12);
         }, false, "not a capture file"},
        {"wrong link type", [&](const std::string& p) { write_pcap(p, {status}, DLT_RAW); }, false, "link type"},
        {"huge", [](const std::string& p) {
             int fd = ::open(p.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
             ASSERT_EQ(0, ftruncate(fd, off_t(MAX_CAPTURE_BYTES + 1)));
             ::close(fd);
         }, false, "more than a replay reads"},
        {"truncated record", [&](const std::string& p) {
             write_pcap(p, {status, status});
             std::ifstream in(p, std::ios::binary | std::ios::ate);
             truncate(p.c_str(), off_t(in.tellg()) - 5);
         }, true, "reading stopped after 1 frames"},
        {"every length", [](const std::string& p) {
             std::vector<Bytes> frames;
             for (unsigned n = 0; n <= 1600; ++n) {
                 Bytes f(n);
                 for (unsigned i = 0; i < n; ++i)
                     f[i] = uint8_t(i * 37 + n);
                 // half of them claim to be vendor frames of a board
                 if (n >= 14 && n % 2)
                     f[12] = 0x09, f[13] = 0x00;
                 frames.push_back(f);
             }
             write_pcap(p, frames);
         }, true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = temp_path("hostile");
        c.make(path);
        DiagLines lines;
        RecordingBuilder builder;
        std::string error;
        const bool ok = read_capture_file(path, builder, error);
        EXPECT_EQ(c.accepted, ok) << error;
        if (!c.accepted) {
            EXPECT_NE(std::string::npos, error.find(c.message)) << error;
        } else if (*c.message) {
            EXPECT_TRUE(lines.any(c.message));
        }
        std::remove(path.c_str());
    }
    std::string error;
    RecordingBuilder builder;
    EXPECT_FALSE(read_capture_file(testing::TempDir(), builder, error));
    EXPECT_NE(std::string::npos, error.find("not a regular file"));
}
