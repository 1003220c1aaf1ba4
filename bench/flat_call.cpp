// Cost of one flat call (guard, null check, forwarding) against the class
// call it wraps, on a simulated RC1200 board. Prints ns per call and the ratio.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include <korvik/USBDevice.h>
#include <korvik/korvik.h>

namespace {

template <typename F>
double ns_per_call(long n, F&& f)
{
    double sink = 0;
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i)
        sink += f();
    auto end = std::chrono::steady_clock::now();
    // keep the loop from being optimised away
    if (sink == 42.0)
        std::puts("");
    return std::chrono::duration<double, std::nano>(end - start).count() / double(n);
}

} // namespace

int main(int argc, char** argv)
{
    long n = argc > 1 ? std::atol(argv[1]) : 2000000;
    std::unique_ptr<KORVIK::USBDevice> device(
        KORVIK::USBDevice::open_simulation("9900001", "bench", "RC1200", "020000000001"));
    korvik_device* handle = libkorvik_open("9900001");
    if (!device || !handle) {
        std::fprintf(stderr, "cannot open a simulated board\n");
        return 1;
    }
    device->set_rx_carrierfrequency(868.3e6);
    device->commit_registers();

    // warm up, then take the best of three rounds each
    ns_per_call(n / 10, [&] { return device->get_rx_carrierfrequency(); });
    double cls = 1e9, flat = 1e9;
    for (int round = 0; round < 3; ++round) {
        double c = ns_per_call(n, [&] { return device->get_rx_carrierfrequency(); });
        double f = ns_per_call(n, [&] { return libkorvik_get_rx_carrierfrequency(handle); });
        cls = c < cls ? c : cls;
        flat = f < flat ? f : flat;
    }
    std::printf("class call get_rx_carrierfrequency:           %8.2f ns\n", cls);
    std::printf("flat call libkorvik_get_rx_carrierfrequency:  %8.2f ns\n", flat);
    std::printf("ratio flat/class: %.3f (%s 1.5)\n", flat / cls, flat / cls < 1.5 ? "below" : "NOT below");
    libkorvik_close(handle);
    return 0;
}
