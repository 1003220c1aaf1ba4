// Virtual air figures, measured the way a program drives the library (poll
// on its handles, periodic() when one fires):
//  1. CPU time the library spends per packet from send_packet to the
//     receive signal, 32-byte packets at 1 Mbit/s: the time inside
//     send_packet, get_poll_handles and periodic(); the wait for the air time
//     is the program's poll. Target: under a tenth of the air time of such a
//     packet. The whole process's CPU time per packet (with the program's
//     poll and its wake-ups) is printed beside it.
//  2. CPU time with the air on, two boards and nothing sent. Target: 0.
// Usage: bench_virtual_air [PACKETS] [IDLE_SECONDS]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

#include <poll.h>

#include <korvik/USBDevice.h>

using KORVIK::USBDevice;

namespace {

double cpu_seconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

double thread_cpu()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + t.tv_nsec * 1e-9;
}

/// CPU time spent inside library calls.
double in_library = 0;

/// One wait on the library's handles (at most `limit_ms`), then periodic().
/// Returns true when the wait ended before the limit.
bool wait_and_dispatch(int limit_ms)
{
    std::vector<void*> handles;
    double t = thread_cpu();
    int timeout = USBDevice::get_poll_handles(handles);
    in_library += thread_cpu() - t;
    std::vector<pollfd> fds;
    for (void* h : handles)
        fds.push_back({int(reinterpret_cast<intptr_t>(h)), POLLIN, 0});
    int wait = timeout < 0 ? limit_ms : std::min(timeout, limit_ms);
    int n = poll(fds.data(), fds.size(), wait);
    t = thread_cpu();
    USBDevice::periodic();
    in_library += thread_cpu() - t;
    return n > 0 || wait < limit_ms;
}

std::unique_ptr<USBDevice> board(const char* serial)
{
    std::unique_ptr<USBDevice> d(USBDevice::open_simulation(serial, serial, "RC1200", "0012340A0B0C"));
    d->load_chipdefaults();
    d->set_tx_carrierfrequency(868.3e6);
    d->set_rx_carrierfrequency(868.3e6);
    d->set_tx(0, 1e6, 8);
    d->set_rx(0, 1e6, 8, 0);
    d->commit_registers();
    return d;
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned packets = argc > 1 ? unsigned(std::atoi(argv[1])) : 20000;
    const double idle_seconds = argc > 2 ? std::atof(argv[2]) : 3.0;

    USBDevice::set_virtual_air(true);
    auto tx = board("BENCH-TX");
    auto rx = board("BENCH-RX");
    unsigned received = 0;
    rx->notify_receive_packet(
        sigc::slot<void(const unsigned char*, unsigned, const unsigned char*, short, int)>(
            [&](const unsigned char*, unsigned, const unsigned char*, short, int) { ++received; }));

    std::vector<unsigned char> packet(32, 0x5A);
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = cpu_seconds();
    in_library = 0;
    for (unsigned i = 0; i < packets; ++i) {
        packet[0] = uint8_t(i);
        const double t = thread_cpu();
        tx->send_packet(packet.data(), unsigned(packet.size()), nullptr);
        in_library += thread_cpu() - t;
        const unsigned want = i + 1;
        while (received < want)
            wait_and_dispatch(100);
    }
    const double cpu = cpu_seconds() - cpu0;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    KORVIK::USBDeviceCurrents tc = tx->get_currents();
    const double bit = tc.values[6];
    const double air_data = 32 * 8 * bit;
    const double air_full = tc.values[8] + air_data + tc.values[9];
    const double per_packet = in_library / packets;
    std::printf("packets %u received %u wall %.3f s\n", packets, received, wall);
    std::printf("library CPU per packet (send to delivery): %.2f us; whole process: %.2f us\n", per_packet * 1e6,
                cpu / packets * 1e6);
    std::printf("air time of 32 bytes at 1 Mbit/s: %.1f us data only, %.1f us with head and tail\n", air_data * 1e6,
                air_full * 1e6);
    std::printf("ratio to the data air time: %.4f (target < 0.1) %s\n", per_packet / air_data,
                per_packet / air_data < 0.1 ? "ok" : "MISSED");

    // idle: the air is on, nothing is sent
    unsigned wakeups = 0;
    const double idle_cpu0 = cpu_seconds();
    const auto idle_end = std::chrono::steady_clock::now() + std::chrono::duration<double>(idle_seconds);
    while (std::chrono::steady_clock::now() < idle_end) {
        const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(idle_end -
                                                                                   std::chrono::steady_clock::now())
                                 .count()) + 1;
        if (wait_and_dispatch(left))
            ++wakeups;
    }
    const double idle_cpu = cpu_seconds() - idle_cpu0;
    std::printf("idle with the air on for %.1f s: CPU %.3f ms, %u wake-ups (target 0)\n", idle_seconds,
                idle_cpu * 1e3, wakeups);
    return 0;
}
