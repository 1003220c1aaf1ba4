// Discovery with many boards, inside a private network namespace:
//  - floor: a raw AF_PACKET program that opens the boards one after the
//    other with the frames the library sends for a board (identification,
//    the NV sector in windows of 8 words with one sendmmsg per window, the
//    register reads as set + get pairs, the register writes, the other
//    gets), each board's socket opened before the clock starts;
//  - the library's first scan (a new WindowsLibrary) with the same boards,
//    until every board is open, capture sockets included;
//  - memory per open board: growth of the resident set over the first scan
//    with the most boards, divided by the boards.
// The emulated boards run in a child process (korvik-board-emu), so that
// the resident set is the library's alone. Floor and library alternate,
// RUNS times for each count; nothing is pinned.
// Usage: run_bench.sh BUILD_DIR discovery [COUNTS] [RUNS]   (COUNTS: 16,64)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "VethEmulator.h"
#include "board/Protocol.h"
#include "transport/NetlinkHotplug.h"
#include "transport/PcapAdapter.h"
#include "transport/WindowsEvUSBBoard.h"
#include "transport/WindowsLibrary.h"

using clock_type = std::chrono::steady_clock;
namespace proto = KORVIK::protocol;

namespace {

const char* const ALIAS = "Zelvane Inc. RC1200 Evaluation Board";

void sh(const std::string& c)
{
    if (std::system(c.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", c.c_str());
        std::exit(1);
    }
}

void add_pair(const std::string& name)
{
    sh("ip link add name " + name + " type veth peer name " + name + "p && ip link set " + name +
       "p up && ip link set " + name + " alias '" + ALIAS + "' && ip link set " + name + " up");
}

double ms_since(clock_type::time_point t)
{
    return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

/// CPU time (user and system) of a process so far, from /proc.
double cpu_ms(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    FILE* f = std::fopen(path, "r");
    if (!f)
        return 0;
    char text[1024] = "";
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = 0;
    // fields 14 and 15 after the command name, which may hold blanks
    const char* p = std::strrchr(text, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return 0;
    return double(utime + stime) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

long resident_kb()
{
    long pages = 0, resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/// What the library sends to open one board, counted by the emulator.
struct OpenProfile {
    unsigned registers = 0;   ///< register reads (a set and a get each)
    unsigned writes = 0;      ///< sets besides the NV addresses and the read requests
    unsigned other_gets = 0;  ///< gets besides the identification, the NV sector and the reads
};

OpenProfile profile_one_board()
{
    add_pair("bq0");
    uint8_t mac[6];
    korvik_emu::read_interface_mac("bq0", mac);
    OpenProfile p;
    {
        korvik_emu::VethEmulator emu("bq0p", "1000000", mac);
        KORVIK::WindowsLibrary library(std::unique_ptr<KORVIK::AdapterSystem>(new KORVIK::PcapAdapterSystem()),
                                       nullptr);
        KORVIK::WindowsEvUSBBoard* board = library.find_adapter_board("bq0");
        if (!board || !board->get_model()) {
            std::fprintf(stderr, "the profiling board did not open\n");
            std::exit(1);
        }
        p.registers = board->get_model()->get_registers();
        unsigned requests = 0, gets = 0;
        emu.with_firmware([&](korvik_emu::BoardFirmware& f) {
            requests = f.vendor_requests;
            gets = f.get_requests;
        });
        const unsigned sets = requests - gets;
        p.writes = sets - KORVIK::EvUSBBoard::NV_WORDS - p.registers;
        p.other_gets = gets - 1 - 2 * KORVIK::EvUSBBoard::NV_WORDS - p.registers;
    }
    sh("ip link del bq0");
    return p;
}

/// One board opened by hand: a packet socket on its adapter.
class RawBoard {
public:
    explicit RawBoard(const std::string& name)
    {
        fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(proto::ETHERTYPE_VENDOR));
        struct sockaddr_ll a = {};
        a.sll_family = AF_PACKET;
        a.sll_protocol = htons(proto::ETHERTYPE_VENDOR);
        a.sll_ifindex = int(if_nametoindex(name.c_str()));
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::perror("packet socket");
            std::exit(1);
        }
        int ignore = 1;
        setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    }
    ~RawBoard() { close(fd); }

    void send_all(const std::vector<std::vector<uint8_t>>& frames)
    {
        std::vector<mmsghdr> m(frames.size());
        std::vector<iovec> v(frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            v[i] = {const_cast<uint8_t*>(frames[i].data()), frames[i].size()};
            m[i] = {};
            m[i].msg_hdr.msg_iov = &v[i];
            m[i].msg_hdr.msg_iovlen = 1;
        }
        if (sendmmsg(fd, m.data(), unsigned(m.size()), 0) != int(m.size()))
            std::perror("sendmmsg");
    }
    void send(const std::vector<uint8_t>& frame) { ::send(fd, frame.data(), frame.size(), 0); }
    /// Waits for n vendor frames; false on a timeout.
    bool receive(unsigned n)
    {
        while (n) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                return false;
            if (recv(fd, buffer, sizeof buffer, 0) >= 18)
                --n;
        }
        return true;
    }

private:
    int fd = -1;
    uint8_t buffer[2048];
};

std::vector<uint8_t> vendor_frame(const std::vector<uint8_t>& packet)
{
    return proto::build_frame(proto::BROADCAST_MAC, proto::BROADCAST_MAC, proto::ETHERTYPE_VENDOR, packet.data(),
                              unsigned(packet.size()));
}

/// The frames of one board's opening, one board after the other.
double floor_run(const std::vector<std::string>& names, const OpenProfile& p)
{
    std::vector<std::unique_ptr<RawBoard>> boards;
    for (const std::string& n : names)
        boards.push_back(std::make_unique<RawBoard>(n));
    std::vector<uint8_t> ident = proto::build_ident_request();
    const uint8_t read_request[4] = {0, 0, 0, 0};
    const std::vector<std::vector<uint8_t>> read = {
        vendor_frame(proto::build_set_report(proto::REPORT_REGISTER, read_request, 4)),
        vendor_frame(proto::build_get_report(proto::REPORT_REGISTER))};
    const uint8_t write_request[4] = {0, 0, 1, 0};
    const std::vector<uint8_t> write = vendor_frame(proto::build_set_report(proto::REPORT_REGISTER, write_request, 4));
    const std::vector<uint8_t> get = vendor_frame(proto::build_get_report(proto::REPORT_CHACC));
    std::vector<std::vector<std::vector<uint8_t>>> windows;
    for (unsigned first = 0; first < KORVIK::EvUSBBoard::NV_WORDS; first += 8) {
        std::vector<std::vector<uint8_t>> w;
        for (unsigned a = first; a < first + 8; ++a) {
            const uint8_t address = uint8_t(a);
            w.push_back(vendor_frame(proto::build_set_report(proto::REPORT_FLASHADDR, &address, 1)));
            w.push_back(vendor_frame(proto::build_get_report(proto::REPORT_FLASHADDR)));
            w.push_back(vendor_frame(proto::build_get_report(proto::REPORT_FLASHDATA)));
        }
        windows.push_back(w);
    }
    bool ok = true;
    auto start = clock_type::now();
    for (auto& b : boards) {
        b->send(ident);
        ok &= b->receive(1);
        for (const auto& w : windows) {
            b->send_all(w);
            ok &= b->receive(16);
        }
        for (unsigned r = 0; r < p.registers; ++r) {
            b->send_all(read);
            ok &= b->receive(1);
        }
        for (unsigned w = 0; w < p.writes; ++w)
            b->send(write);
        for (unsigned g = 0; g < p.other_gets; ++g) {
            b->send(get);
            ok &= b->receive(1);
        }
    }
    double ms = ms_since(start);
    if (!ok)
        std::fprintf(stdout, "  (floor: some replies did not come)\n");
    return ms;
}

struct Figures {
    std::vector<double> v;
    void add(double x) { v.push_back(x); }
    std::string text(const char* unit) const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        char b[128];
        std::snprintf(b, sizeof b, "median %.1f%s (range %.1f-%.1f)", s[s.size() / 2], unit, s.front(), s.back());
        return b;
    }
    double median() const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
};

} // namespace

int main(int argc, char** argv)
{
    const char* flag = std::getenv("KORVIK_BENCH_NETNS");
    if (!flag || std::string(flag) != "1") {
        std::fprintf(stderr, "run through bench/transport/run_bench.sh BUILD_DIR discovery\n");
        return 2;
    }
    std::vector<int> counts;
    {
        std::stringstream in(argc > 1 ? argv[1] : "16,64");
        for (std::string c; std::getline(in, c, ',');)
            counts.push_back(std::atoi(c.c_str()));
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::string emulator = argv[0];
    emulator = emulator.substr(0, emulator.rfind('/') + 1) + "../../tests/transport/korvik-board-emu";

    // the library's diagnostic lines stay out of the figures
    int saved = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);

    const OpenProfile profile = profile_one_board();
    std::printf("one board's opening: identification, %u NV windows, %u register reads, %u writes, %u other gets\n",
                KORVIK::EvUSBBoard::NV_WORDS / 8, profile.registers, profile.writes, profile.other_gets);
    const int most = *std::max_element(counts.begin(), counts.end());
    bool memory_taken = false;
    for (int count : counts) {
        std::vector<std::string> names;
        std::vector<std::string> args = {emulator};
        for (int i = 0; i < count; ++i) {
            names.push_back("bd" + std::to_string(i));
            add_pair(names.back());
            args.push_back(names.back() + "p");
            char serial[12]; // room for any int, though serials have 7 digits
            std::snprintf(serial, sizeof serial, "%07d", 4000000 + i);
            args.push_back(serial);
        }
        pid_t child = fork();
        if (child == 0) {
            std::vector<char*> a;
            for (std::string& s : args)
                a.push_back(&s[0]);
            a.push_back(nullptr);
            execv(a[0], a.data());
            _exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        floor_run(names, profile); // warm-up: every emulator has answered once

        Figures floor, library, ratio, library_cpu, emulator_cpu, floor_cpu;
        int opened_min = count;
        for (int r = 0; r < runs; ++r) {
            const double floor_before = cpu_ms(getpid());
            const double f = floor_run(names, profile);
            floor_cpu.add(cpu_ms(getpid()) - floor_before);
            const long before = resident_kb();
            const double own_before = cpu_ms(getpid()), emu_before = cpu_ms(child);
            auto start = clock_type::now();
            auto* lib = new KORVIK::WindowsLibrary();
            const double l = ms_since(start);
            library_cpu.add(cpu_ms(getpid()) - own_before);
            emulator_cpu.add(cpu_ms(child) - emu_before);
            if (count == most && !memory_taken) {
                memory_taken = true;
                const long grown = resident_kb() - before;
                std::printf("memory: resident set grew by %ld kB over the first scan of %d boards: %.0f kB per open "
                            "board (%zu open)\n",
                            grown, count, double(grown) / double(lib->get_boards().size()),
                            lib->get_boards().size());
            }
            opened_min = std::min(opened_min, int(lib->get_boards().size()));
            delete lib;
            floor.add(f);
            library.add(l);
            ratio.add(l / f);
        }
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        for (const std::string& n : names)
            sh("ip link del " + n);
        std::printf("%d boards, %d runs: floor (sequential raw) %s; library scan %s; ratio %s; "
                    "fewest opened %d\n",
                    count, runs, floor.text(" ms").c_str(), library.text(" ms").c_str(), ratio.text("x").c_str(),
                    opened_min);
        // where a scan's time goes: two processors give at most twice the
        // scan's time (the kernel's share of frame handling is in both)
        std::printf("  CPU over a scan: library %s, emulator %s; over a floor run: the raw program %s "
                    "(clock ticks of %ld Hz)\n",
                    library_cpu.text(" ms").c_str(), emulator_cpu.text(" ms").c_str(), floor_cpu.text(" ms").c_str(),
                    sysconf(_SC_CLK_TCK));
        std::fflush(stdout);
    }
    dup2(saved, 2);
    return 0;
}
