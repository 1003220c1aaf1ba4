// Transport figures inside a private network namespace:
//  - floor: raw AF_PACKET request/reply between the two ends of a veth pair
//  - evusb_read16 through the library against the emulator
//  - the same register read from a raw socket against the same emulator
//  - time to open one board (scan, identification, NV sector, registers)
//  - time for the first scan to find and open 8, 16 and 32 boards
//  - CPU used by an idle main loop with one open board
//  - the register read once more with the diagnostic lines going to a file
//    and to a terminal (a pseudo-terminal whose reader, like a terminal
//    program, runs unpinned), in turn with /dev/null, RUNS runs of each
// The library's diagnostic lines go to /dev/null while measuring otherwise.
// Usage: bench_transport [ROUNDS] [RUNS]; KORVIK_BENCH_STDERR_FILE names the
// file (default /tmp/korvik-bench-stderr.log).

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/resource.h>
#include <unistd.h>
#include <stdlib.h>

#include "VethEmulator.h"
#include "board/MainLoop.h"
#include "transport/WindowsEvUSBBoard.h"
#include "transport/WindowsLibrary.h"

using clock_type = std::chrono::steady_clock;

namespace {

void sh(const std::string& c)
{
    if (std::system(c.c_str()) != 0) {
        std::fprintf(stderr, "failed: %s\n", c.c_str());
        std::exit(1);
    }
}

void add_pair(const std::string& name, const std::string& alias)
{
    sh("ip link add name " + name + " type veth peer name " + name + "p");
    sh("ip link set " + name + "p up");
    if (!alias.empty())
        sh("ip link set " + name + " alias '" + alias + "'");
    sh("ip link set " + name + " up");
}

int packet_socket(const std::string& name, int& index)
{
    index = int(if_nametoindex(name.c_str()));
    int fd = socket(AF_PACKET, SOCK_RAW, htons(0x0900));
    struct sockaddr_ll a = {};
    a.sll_family = AF_PACKET;
    a.sll_protocol = htons(0x0900);
    a.sll_ifindex = index;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("packet socket");
        std::exit(1);
    }
    return fd;
}

double median_us(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double floor_round_trip(int rounds)
{
    add_pair("bf0", "");
    int ia, ib;
    int a = packet_socket("bf0", ia);
    int b = packet_socket("bf0p", ib);
    std::atomic<bool> stop{false};
    std::thread echo([&] {
        uint8_t buf[2048];
        while (!stop) {
            struct pollfd p = {b, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            ssize_t n = recv(b, buf, sizeof buf, 0);
            if (n > 0)
                send(b, buf, size_t(n), 0);
        }
    });
    uint8_t frame[60] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x00,
                         0x00, 0x02, 0x01, 0xE2};
    uint8_t buf[2048];
    std::vector<double> t;
    for (int i = 0; i < rounds; ++i) {
        auto start = clock_type::now();
        send(a, frame, 18, 0);
        struct pollfd p = {a, POLLIN, 0};
        poll(&p, 1, 1000);
        recv(a, buf, sizeof buf, 0);
        t.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - start).count());
    }
    stop = true;
    echo.join();
    close(a);
    close(b);
    sh("ip link del bf0");
    return median_us(t);
}

// What any register read must do, without the library: the two request
// frames (sent together) to an emulator of its own, then wait for and read
// the reply. The plain floor above is one frame each way with a bare echo.
class RawRegisterRead {
public:
    RawRegisterRead() : emu(make_pair_and_emulator())
    {
        int index;
        fd = packet_socket("bp0", index);
        for (int i = 0; i < 2; ++i) {
            messages[i].msg_hdr.msg_iov = &parts[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
    }
    ~RawRegisterRead()
    {
        close(fd);
        emu->stop();
        emu.reset();
        sh("ip link del bp0");
    }

    double once(uint16_t address)
    {
        set[18] = uint8_t(address);
        set[19] = uint8_t(address >> 8);
        auto start = clock_type::now();
        sendmmsg(fd, messages, 2, 0);
        for (;;) {
            struct pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 1000) <= 0)
                break;
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n >= 18 && buf[17] == 0xF0)
                break;
        }
        return std::chrono::duration<double, std::micro>(clock_type::now() - start).count();
    }

private:
    static std::unique_ptr<korvik_emu::VethEmulator> make_pair_and_emulator()
    {
        add_pair("bp0", "");
        uint8_t mac[6];
        korvik_emu::read_interface_mac("bp0", mac);
        return std::make_unique<korvik_emu::VethEmulator>("bp0p", "7654321", mac);
    }

    std::unique_ptr<korvik_emu::VethEmulator> emu;
    int fd = -1;
    uint8_t set[22] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                       0xFF, 0x09, 0x00, 0x00, 0x06, 0x09, 0xF0, 0x00, 0x00, 0x00, 0x00};
    uint8_t get[18] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                       0xFF, 0xFF, 0xFF, 0x09, 0x00, 0x00, 0x02, 0x01, 0xF0};
    struct iovec parts[2] = {{set, sizeof set}, {get, sizeof get}};
    struct mmsghdr messages[2] = {};
    uint8_t buf[2048];
};

// The library's first scan with `count` emulated boards plugged in: the
// time until every one is found and opened, and how many were.
double scan_figure(int count, int& opened)
{
    std::vector<std::unique_ptr<korvik_emu::VethEmulator>> emulators;
    for (int i = 0; i < count; ++i) {
        const std::string name = "bs" + std::to_string(i);
        add_pair(name, "Zelvane Inc. RC1200 Evaluation Board");
        uint8_t mac[6];
        korvik_emu::read_interface_mac(name, mac);
        char serial[12]; // room for any int, though serials have 7 digits
        std::snprintf(serial, sizeof serial, "%07d", 3000000 + i);
        emulators.push_back(std::make_unique<korvik_emu::VethEmulator>(name + "p", serial, mac));
    }
    auto start = clock_type::now();
    auto* library = new KORVIK::WindowsLibrary();
    double ms = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
    opened = int(library->get_boards().size());
    delete library;
    emulators.clear();
    for (int i = 0; i < count; ++i)
        sh("ip link del bs" + std::to_string(i));
    return ms;
}

/// A pseudo-terminal whose reader keeps it drained, as a terminal program would.
class Terminal {
public:
    explicit Terminal(const cpu_set_t& cpus)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            std::perror("posix_openpt");
            std::exit(1);
        }
        slave = open(ptsname(master), O_WRONLY | O_NOCTTY);
        reader = std::thread([this, cpus] {
            sched_setaffinity(0, sizeof cpus, &cpus);
            char buf[4096];
            while (read(master, buf, sizeof buf) > 0) {
            }
        });
    }
    ~Terminal()
    {
        close(slave);
        // the reader sees end of file once the last slave descriptor is gone
        reader.join();
        close(master);
    }
    int get_fd() const { return slave; }

private:
    int master = -1;
    int slave = -1;
    std::thread reader;
};

double ratio_of_medians(const std::vector<double>& a, const std::vector<double>& b)
{
    return median_us(a) / median_us(b);
}

std::string median_and_range(std::vector<double> v, const char* format)
{
    std::sort(v.begin(), v.end());
    char b[160];
    std::snprintf(b, sizeof b, format, v[v.size() / 2], v.front(), v.back());
    return b;
}

double thread_cpu_seconds()
{
    struct rusage u;
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    const char* flag = std::getenv("KORVIK_BENCH_NETNS");
    if (!flag || std::string(flag) != "1") {
        std::fprintf(stderr, "run through bench/transport/run_bench.sh (private network namespace)\n");
        return 2;
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    // The round trips run on one processor, emulators included (threads
    // inherit it). Spread over a virtual machine's processors, a wake-up on
    // an idle one costs 50 us or more at the hypervisor's whim and drowns
    // what is measured; the scans below run on all processors again.
    cpu_set_t all_cpus, one_cpu;
    sched_getaffinity(0, sizeof all_cpus, &all_cpus);
    CPU_ZERO(&one_cpu);
    CPU_SET(sched_getcpu(), &one_cpu);
    sched_setaffinity(0, sizeof one_cpu, &one_cpu);

    double floor = floor_round_trip(rounds);
    RawRegisterRead raw;

    add_pair("bl0", "Zelvane Inc. RC1200 Evaluation Board");
    uint8_t mac[6];
    korvik_emu::read_interface_mac("bl0", mac);
    korvik_emu::VethEmulator emu("bl0p", "1234567", mac);

    // silence the per-exchange diagnostic lines while measuring
    int saved = dup(2);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);

    auto start = clock_type::now();
    auto* library = new KORVIK::WindowsLibrary();
    double open_ms = std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
    KORVIK::WindowsEvUSBBoard* board = library->find_adapter_board("bl0");

    std::vector<double> t, t_raw, t_get, t_set;
    if (board) {
        for (int i = 0; i < rounds; ++i) {
            auto s = clock_type::now();
            board->get_report11();
            t_get.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - s).count());
            s = clock_type::now();
            board->evusb_write(uint16_t(i), uint8_t(i));
            t_set.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - s).count());
        }
        for (int i = 0; i < 50; ++i) {
            board->evusb_read16(uint16_t(i));
            raw.once(uint16_t(i));
        }
        // interleaved, so that both see the same machine: on a shared
        // virtual machine the round trip drifts by 10x within a second
        for (int i = 0; i < rounds; ++i) {
            t_raw.push_back(raw.once(uint16_t(i)));
            auto s = clock_type::now();
            board->evusb_read16(uint16_t(i));
            t.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - s).count());
        }
    }

    // where the diagnostic lines go: run after run, the three in turn
    const char* log_path = std::getenv("KORVIK_BENCH_STDERR_FILE");
    if (!log_path)
        log_path = "/tmp/korvik-bench-stderr.log";
    int log_file = open(log_path, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    Terminal terminal(all_cpus);
    struct Sink {
        const char* name;
        int fd;
        std::vector<double> ratios, medians;
    } sinks[3] = {{"/dev/null", null, {}, {}}, {"a file", log_file, {}, {}}, {"a terminal", terminal.get_fd(), {}, {}}};
    std::vector<double> floor_medians;
    const int per_run = std::max(50, rounds / 4);
    for (int run = 0; board && run < runs; ++run) {
        for (Sink& sink : sinks) {
            dup2(sink.fd, 2);
            std::vector<double> lib, rawt;
            for (int i = 0; i < per_run; ++i) {
                rawt.push_back(raw.once(uint16_t(i)));
                auto s = clock_type::now();
                board->evusb_read16(uint16_t(i));
                lib.push_back(std::chrono::duration<double, std::micro>(clock_type::now() - s).count());
            }
            sink.ratios.push_back(ratio_of_medians(lib, rawt));
            sink.medians.push_back(median_us(lib));
            floor_medians.push_back(median_us(rawt));
        }
    }
    dup2(null, 2);

    // idle: one open board, no status reports, a blocking main loop for 2 s
    auto context = KORVIK::main_context();
    bool done = false;
    context->signal_timeout().connect_once([&] { done = true; }, 2000);
    unsigned iterations = 0;
    double cpu0 = thread_cpu_seconds();
    auto idle_start = clock_type::now();
    context->acquire();
    while (!done) {
        context->iteration(true);
        ++iterations;
    }
    context->release();
    double idle_wall = std::chrono::duration<double>(clock_type::now() - idle_start).count();
    double idle_cpu = thread_cpu_seconds() - cpu0;

    delete library;
    library = nullptr;
    emu.stop();
    // a board that no longer answers would hold every scan to its deadline
    sh("ip link del bl0");
    sched_setaffinity(0, sizeof all_cpus, &all_cpus);
    const int counts[] = {8, 16, 32};
    double scan_ms[3];
    int scan_opened[3];
    for (int i = 0; i < 3; ++i)
        scan_ms[i] = scan_figure(counts[i], scan_opened[i]);

    dup2(saved, 2);
    if (!board) {
        std::fprintf(stderr, "no board opened\n");
        return 1;
    }
    double read16 = median_us(t);
    double read_floor = median_us(t_raw);
    std::vector<double> ratios;
    for (size_t i = 0; i < t.size(); ++i)
        ratios.push_back(t[i] / t_raw[i]);
    std::printf("floor: raw AF_PACKET round trip median %.1f us (%d rounds)\n", floor, rounds);
    std::printf("evusb_read16 through the library: median %.1f us = %.2f x floor\n", read16, read16 / floor);
    std::printf("  single exchanges: one get %.1f us, one set %.1f us\n", median_us(t_get),
                median_us(t_set));
    std::printf("register read floor: raw set + get frames against the emulator, median %.1f us;"
                " evusb_read16 = %.2f x that (median of the paired ratios %.2f)\n", read_floor,
                read16 / read_floor, median_us(ratios));
    std::printf("open one board (scan, identification, NV sector, registers): %.1f ms\n", open_ms);
    std::printf("idle main loop with one open board: %.3f ms CPU in %.2f s, %u wake-ups\n", idle_cpu * 1000,
                idle_wall, iterations);
    for (int i = 0; i < 3; ++i)
        std::printf("first scan with %d emulated boards: %d found and opened in %.1f ms\n", counts[i],
                    scan_opened[i], scan_ms[i]);
    std::printf("register read floor over the runs below: %s (pinned to one processor)\n",
                median_and_range(floor_medians, "median %.1f us (range %.1f-%.1f)").c_str());
    for (const Sink& sink : sinks)
        std::printf("evusb_read16, diagnostic lines to %s, %d runs of %d interleaved reads: %s, ratio to the raw "
                    "read %s\n",
                    sink.name, runs, per_run, median_and_range(sink.medians, "median %.1f us (range %.1f-%.1f)").c_str(),
                    median_and_range(sink.ratios, "median %.3f (range %.3f-%.3f)").c_str());
    return 0;
}
