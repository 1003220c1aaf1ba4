// Virtual air figures, measured the way a program drives the library (poll
// on its handles, periodic() when one fires):
//  1. CPU time the library spends per packet from send_packet to the
//     receive signal, 32-byte packets at 1 Mbit/s: the time inside
//     send_packet, get_poll_handles and periodic(); the wait for the air time
//     is the program's poll. Target: under a tenth of the air time of such a
//     packet. The whole process's CPU time per packet (with the program's
//     poll and its wake-ups) is printed beside it. With LISTENERS (32) more
//     boards on the air, each on a channel of its own 4 MHz from the next,
//     the first of them on the transmitter's: target under 0.05 of the air
//     time. ROUNDS (5) rounds of PACKETS / ROUNDS packets each give the
//     median and the range.
//  2. CPU time with the air on and nothing sent. Target: 0.
// Usage: bench_virtual_air [PACKETS] [IDLE_SECONDS] [LISTENERS] [ROUNDS]

#include <algorithm>
#include <chrono>
#include <string>
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

/// CPU time spent inside library calls, and how many calls were timed.
double in_library = 0;
unsigned timed_calls = 0;

/// What timing one call costs by itself (the thread's CPU clock is a system
/// call): the median of empty measurements, subtracted from the figures.
double timing_cost()
{
    std::vector<double> v;
    for (int i = 0; i < 2001; ++i) {
        const double t = thread_cpu();
        v.push_back(thread_cpu() - t);
    }
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

/// One wait on the library's handles (at most `limit_ms`), then periodic().
/// Returns true when the wait ended before the limit.
bool wait_and_dispatch(int limit_ms)
{
    std::vector<void*> handles;
    double t = thread_cpu();
    int timeout = USBDevice::get_poll_handles(handles);
    in_library += thread_cpu() - t;
    ++timed_calls;
    std::vector<pollfd> fds;
    for (void* h : handles)
        fds.push_back({int(reinterpret_cast<intptr_t>(h)), POLLIN, 0});
    int wait = timeout < 0 ? limit_ms : std::min(timeout, limit_ms);
    int n = poll(fds.data(), fds.size(), wait);
    t = thread_cpu();
    USBDevice::periodic();
    in_library += thread_cpu() - t;
    ++timed_calls;
    return n > 0 || wait < limit_ms;
}

std::unique_ptr<USBDevice> board(const std::string& serial, double carrier = 868.3e6)
{
    std::unique_ptr<USBDevice> d(USBDevice::open_simulation(serial, serial, "RC1200", "0012340A0B0C"));
    d->load_chipdefaults();
    d->set_tx_carrierfrequency(carrier);
    d->set_rx_carrierfrequency(carrier);
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
    const unsigned listeners = argc > 3 ? unsigned(std::atoi(argv[3])) : 32;
    const unsigned rounds = argc > 4 ? std::max(1u, unsigned(std::atoi(argv[4]))) : 5;

    USBDevice::set_virtual_air(true);
    auto tx = board("BENCH-TX");
    std::vector<std::unique_ptr<USBDevice>> others;
    std::vector<unsigned> heard(listeners, 0);
    for (unsigned i = 0; i < listeners; ++i) {
        others.push_back(board("BENCH-RX" + std::to_string(i), 868.3e6 - 64e6 + 4e6 * ((i + 16) % 32)));
        unsigned* count = &heard[i];
        others.back()->notify_receive_packet(
            sigc::slot<void(const unsigned char*, unsigned, const unsigned char*, short, int)>(
                [count](const unsigned char*, unsigned, const unsigned char*, short, int) { ++*count; }));
    }
    // the listener on the transmitter's channel
    unsigned& received = heard.empty() ? heard.emplace_back(0) : heard[0];
    if (listeners == 0) {
        others.push_back(board("BENCH-RX"));
        others.back()->notify_receive_packet(
            sigc::slot<void(const unsigned char*, unsigned, const unsigned char*, short, int)>(
                [&received](const unsigned char*, unsigned, const unsigned char*, short, int) { ++received; }));
    }

    std::vector<unsigned char> packet(32, 0x5A);
    KORVIK::USBDeviceCurrents tc = tx->get_currents();
    const double bit = tc.values[6];
    const double air_data = 32 * 8 * bit;
    const double air_full = tc.values[8] + air_data + tc.values[9];
    std::vector<double> ratios, per_packet_us, process_us;
    const unsigned per_round = std::max(1u, packets / rounds);
    const auto t0 = std::chrono::steady_clock::now();
    std::vector<double> timing;
    for (unsigned r = 0; r < rounds; ++r) {
        const double overhead = timing_cost();
        timing.push_back(overhead * 1e6);
        const double cpu0 = cpu_seconds();
        in_library = 0;
        timed_calls = 0;
        for (unsigned i = 0; i < per_round; ++i) {
            packet[0] = uint8_t(i);
            const double t = thread_cpu();
            tx->send_packet(packet.data(), unsigned(packet.size()), nullptr);
            in_library += thread_cpu() - t;
            ++timed_calls;
            const unsigned want = received + 1;
            while (received < want)
                wait_and_dispatch(100);
        }
        in_library -= overhead * timed_calls;
        per_packet_us.push_back(in_library / per_round * 1e6);
        process_us.push_back((cpu_seconds() - cpu0) / per_round * 1e6);
        ratios.push_back(in_library / per_round / air_data);
    }
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    unsigned elsewhere = 0;
    for (unsigned i = 1; i < heard.size(); ++i)
        elsewhere += heard[i];
    auto summary = [](std::vector<double> v, const char* format) {
        std::sort(v.begin(), v.end());
        char b[160];
        std::snprintf(b, sizeof b, format, v[v.size() / 2], v.front(), v.back());
        return std::string(b);
    };
    std::printf("packets %u in %u rounds, received %u on the channel, %u on the other %u channels, wall %.3f s\n",
                per_round * rounds, rounds, received, elsewhere, listeners ? listeners - 1 : 0, wall);
    std::printf("timing one call costs %s, subtracted below\n",
                summary(timing, "median %.2f us (range %.2f-%.2f)").c_str());
    std::printf("library CPU per packet (send to delivery): %s; whole process: %s\n",
                summary(per_packet_us, "median %.2f us (range %.2f-%.2f)").c_str(),
                summary(process_us, "median %.2f us (range %.2f-%.2f)").c_str());
    std::printf("air time of 32 bytes at 1 Mbit/s: %.1f us data only, %.1f us with head and tail\n", air_data * 1e6,
                air_full * 1e6);
    const double target = listeners > 2 ? 0.05 : 0.1;
    std::vector<double> sorted = ratios;
    std::sort(sorted.begin(), sorted.end());
    std::printf("ratio to the data air time with %u listeners: %s (target < %.2f) %s\n", listeners ? listeners : 1,
                summary(ratios, "median %.4f (range %.4f-%.4f)").c_str(), target,
                sorted[sorted.size() / 2] < target ? "ok" : "MISSED");

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
