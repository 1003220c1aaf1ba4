// A 15-point sweep of 1000 packets per point (32 data bytes, path loss
// 60..130 dB in 5 dB steps, two RC1200 boards at their defaults) on the
// virtual air in simulated time, against the air time the same packets take
// in real time (the air's clock, which advances by exactly that much).
// Floor, measured in the same run and interleaved: the same 15000 packets
// sent and delivered through the library alone (send_packet, periodic()
// when the air's bounded backlog refuses one and until the air is quiet),
// without the sweep's matching and counting.
// Target: real air time / sweep wall time of at least 20.
// Usage: bench_sweep_fast_air [RUNS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <vector>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "core/Sweep.h"

using KORVIK::USBDevice;

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::unique_ptr<USBDevice> board(const char* serial)
{
    std::unique_ptr<USBDevice> d(USBDevice::open_simulation(serial, serial, "RC1200", "0012340A0B0C"));
    d->load_chipdefaults();
    return d;
}

struct Figures {
    double wall, air;
};

Figures sweep(USBDevice& tx, USBDevice& rx)
{
    Sweep::Settings s;
    s.variable = SweepVariable::PATH_LOSS;
    s.start = 60;
    s.stop = 130;
    s.step = 5;
    s.count = 1000;
    s.length = 32;
    const double air0 = KORVIK::get_virtual_air_time();
    const double t0 = now();
    Sweep run(tx, rx, s);
    while (run.poll() >= 0)
        USBDevice::periodic();
    const double wall = now() - t0;
    if (run.points().size() != 15 || !run.error().empty()) {
        std::fprintf(stderr, "sweep failed: %zu points, %s\n", run.points().size(), run.error().c_str());
        std::exit(1);
    }
    return {wall, KORVIK::get_virtual_air_time() - air0};
}

double floor_run(USBDevice& tx)
{
    std::vector<unsigned char> p(34, 0x5A);
    const double t0 = now();
    for (unsigned point = 0; point < 15; ++point) {
        USBDevice::set_virtual_air_path_loss(tx.get_interface(), "BS-RX", 60 + 5 * point);
        for (unsigned i = 0; i < 1000;) {
            // the air refuses more than about a second of waiting air time,
            // as a board's full transmit buffer does: pump it and send again
            try {
                tx.send_packet(p.data(), unsigned(p.size()), nullptr);
                ++i;
            } catch (const std::runtime_error&) {
                USBDevice::periodic();
            }
        }
        while (KORVIK::get_virtual_air_in_flight() > 0)
            USBDevice::periodic();
    }
    return now() - t0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    USBDevice::set_virtual_air(true);
    KORVIK::set_virtual_air_fast(true);
    USBDevice::set_virtual_air_seed(1);
    auto tx = board("BS-TX");
    auto rx = board("BS-RX");

    std::vector<double> walls, airs, ratios, floors;
    for (int r = 0; r < runs; ++r) {
        const Figures f = sweep(*tx, *rx);
        const double fl = floor_run(*tx);
        walls.push_back(f.wall);
        airs.push_back(f.air);
        ratios.push_back(f.air / f.wall);
        floors.push_back(fl);
        std::printf("run %d: sweep %.3f s, real air time %.3f s, ratio %.1f; floor %.3f s\n", r + 1, f.wall, f.air,
                    f.air / f.wall, fl);
    }
    auto range = [](const std::vector<double>& v) {
        return std::make_pair(*std::min_element(v.begin(), v.end()), *std::max_element(v.begin(), v.end()));
    };
    const auto rr = range(ratios), wr = range(walls), fr = range(floors);
    std::printf("%d runs: sweep wall median %.3f s (%.3f..%.3f); floor median %.3f s (%.3f..%.3f)\n", runs,
                median(walls), wr.first, wr.second, median(floors), fr.first, fr.second);
    std::printf("real air time %.3f s; speed-up median %.1fx (%.1f..%.1f), target >= 20x: %s\n", median(airs),
                median(ratios), rr.first, rr.second, rr.first >= 20 ? "ok" : "MISSED");
    return 0;
}
